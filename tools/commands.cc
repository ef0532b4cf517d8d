#include "tools/commands.h"

#include <atomic>
#include <fstream>
#include <iostream>
#include <mutex>

#include "host/utf8.h"
#include "script/port/port.h"
#include "script/text/text.h"
#include "tools/table_text.h"
#include "tools/trace_replay.h"

namespace keytwine {
namespace {

// Texts delivered to error(), possibly from several script threads, go to the errors stream of
// the command that runs.
std::mutex g_errorLock;
std::ostream* g_errorStream = &std::cerr;
std::atomic<int> g_errorCount{0};

void PrintError(const char16_t* text) {
  const std::lock_guard<std::mutex> guard(g_errorLock);
  *g_errorStream << ToUtf8(text) << "\n" << std::flush;
  g_errorCount.fetch_add(1);
}

// Runs the configuration with its error texts written to errors.
bool RunReportingTo(const std::string& path, std::ostream& errors) {
  g_errorStream = &errors;
  g_errorCount.store(0);
  const bool loaded = RunConfigurationFile(path);
  g_errorStream = &std::cerr;
  return loaded;
}

}  // namespace

bool RunConfigurationFile(const std::string& path, ConfigurationRecord* record) {
#if defined(_WIN32)
  const size_t slash = path.find_last_of("/\\");
#else
  const size_t slash = path.find_last_of('/');
#endif
  const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::u16string wideFile = FromUtf8(fileName);
  const port::Owned<char> name = ToMultiByte(wideFile.c_str());
  SetErrorSink(record == nullptr ? &PrintError : nullptr);
  const int32_t loaded =
      name != nullptr ? RunConfigurationScript(FromUtf8(directory).c_str(), name.get(), record) : 0;
  SetErrorSink(nullptr);
  return loaded != 0;
}

int ReportedErrorCount() {
  return g_errorCount.load();
}

int ReplayTraceFile(const std::string& tracePath, const MapTable& table,
                    const HostSettings& settings, bool echo, CommandOutput output) {
  if (tracePath == "-") {
    return ReplayTrace(std::cin, "-", table, settings, output.out, output.errors, echo);
  }
  std::ifstream trace(tracePath);
  if (!trace) {
    output.errors << "keytwine: cannot read " << tracePath << "\n";
    return kCannotLoadStatus;
  }
  return ReplayTrace(trace, tracePath, table, settings, output.out, output.errors, echo);
}

int CheckConfiguration(const std::string& configPath, CommandOutput output) {
  if (!RunReportingTo(configPath, output.errors)) return kCannotLoadStatus;
  PrintTable(output.out, TheHostSettings(), TheMapTable());
  return ReportedErrorCount() == 0 ? 0 : kErrorsReportedStatus;
}

int SimulateTrace(const std::string& configPath, const std::string& tracePath, bool echo,
                  CommandOutput output) {
  if (!RunReportingTo(configPath, output.errors)) return kCannotLoadStatus;
  const int status = ReplayTraceFile(tracePath, TheMapTable(), TheHostSettings(), echo, output);
  return status == 0 && ReportedErrorCount() != 0 ? kErrorsReportedStatus : status;
}

int ReplayTable(const std::string& tablePath, const std::string& tracePath, bool echo,
                CommandOutput output) {
  std::ifstream tableFile(tablePath);
  if (!tableFile) {
    output.errors << "keytwine: cannot read " << tablePath << "\n";
    return kCannotLoadStatus;
  }
  MapTable table;
  HostSettings settings;
  std::string error;
  if (!ReadTableText(tableFile, table, settings, error)) {
    output.errors << "keytwine: " << tablePath << ":" << error << "\n";
    return kCannotLoadStatus;
  }
  return ReplayTraceFile(tracePath, table, settings, echo, output);
}

}  // namespace keytwine
