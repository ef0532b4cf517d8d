// The C functions the playground page calls: the check command, and the replay of a trace through
// the table the last check left, which with that check is what the sim command does. The page
// writes the files into the in-memory folder first; outputs stay readable until the next call.
#include <sstream>
#include <string>

#include "host/map_table.h"
#include "tools/commands.h"

namespace {

std::string g_output;
std::string g_errors;

int Keep(const std::ostringstream& out, const std::ostringstream& errors, int status) {
  g_output = out.str();
  g_errors = errors.str();
  return status;
}

}  // namespace

extern "C" {

// Runs the configuration at configPath as `keytwine check` does; returns its exit status.
int keytwine_check(const char* configPath) {
  std::ostringstream out;
  std::ostringstream errors;
  return Keep(out, errors, keytwine::CheckConfiguration(configPath, {out, errors}));
}

// Replays the trace at tracePath as `keytwine sim` does after running the configuration (with
// echo as its --echo); returns the replay's exit status.
int keytwine_replay(const char* tracePath, int echo) {
  std::ostringstream out;
  std::ostringstream errors;
  return Keep(out, errors,
              keytwine::ReplayTraceFile(tracePath, keytwine::TheMapTable(),
                                        keytwine::TheHostSettings(), echo != 0, {out, errors}));
}

// What the last call printed: its standard output and its standard error.
const char* keytwine_output() {
  return g_output.c_str();
}

const char* keytwine_errors() {
  return g_errors.c_str();
}

}  // extern "C"
