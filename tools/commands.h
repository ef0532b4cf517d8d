// The work of the tool's commands check, sim and replay, apart from their argument parsing: the
// command-line tool calls them with its standard streams, the browser playground with text
// buffers. Exit statuses are those `keytwine --help` describes.
#ifndef KEYTWINE_TOOLS_COMMANDS_H
#define KEYTWINE_TOOLS_COMMANDS_H

#include <ostream>
#include <string>

#include "host/configuration.h"
#include "host/map_table.h"

namespace keytwine {

inline constexpr int kErrorsReportedStatus = 1;
inline constexpr int kCannotLoadStatus = 2;

// Where a command writes: its results, and its reports (texts given to error() included).
struct CommandOutput {
  std::ostream& out;
  std::ostream& errors;
};

// Runs the configuration script at path the way the remapper runs Keytwine.ns: its folder is the
// script's directory and its name the script's file name. False when it could not be loaded.
// Without a record each text given to error() is written, a line each, to the errors stream of
// the command that runs; with one, nothing is written: the texts are recorded there.
bool RunConfigurationFile(const std::string& path, ConfigurationRecord* record = nullptr);

// Texts given to error() during the last configuration run of a command below.
int ReportedErrorCount();

// Replays the trace file at tracePath ("-": standard input) through the decisions with the
// table and settings.
int ReplayTraceFile(const std::string& tracePath, const MapTable& table,
                    const HostSettings& settings, bool echo, CommandOutput output);

// check: runs the configuration and prints its settings and table.
int CheckConfiguration(const std::string& configPath, CommandOutput output);

// sim: runs the configuration, then replays the trace through the table it left.
int SimulateTrace(const std::string& configPath, const std::string& tracePath, bool echo,
                  CommandOutput output);

// replay: reads a table in check's output form, then replays the trace through it.
int ReplayTable(const std::string& tablePath, const std::string& tracePath, bool echo,
                CommandOutput output);

}  // namespace keytwine

#endif  // KEYTWINE_TOOLS_COMMANDS_H
