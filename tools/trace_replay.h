// Replays a trace of key events through the key decisions on a simulated device and prints, for
// every hook call, what the decisions did. The trace format (one command a line, `#` starts a
// comment, numbers in decimal or 0x hex):
//
//   portrait | landscape                       orientation from now on
//   desktop | device                           from now on, Ctrl and Shift come by side (0xA0 to
//                                              0xA3) as on desktop Windows, or as 0x11 and 0x10
//                                              (the start); switch before any modifier is held
//   keystate VK down|up                        what the system reports for VK
//   ime open|closed [MODE]                     the simulated input method
//   down|up|sysdown|sysup VK SCAN TIME [FLAGS [EXTRA]]
//   event NCODE KIND VK SCAN TIME [FLAGS [EXTRA]]
//
// Output per hook call: "log TEXT", "send 0xVK down|up", "launch INDEX", "ime open 0xMODE",
// "ime close" in order; "=> swallow" or "=> pass"; then `start "PATH" "PARAMETERS"` for each
// launch the main window carries out.
#ifndef KEYTWINE_TOOLS_TRACE_REPLAY_H
#define KEYTWINE_TOOLS_TRACE_REPLAY_H

#include <iosfwd>
#include <string>

#include "host/map_table.h"

namespace keytwine {

// Exit status of a trace with a malformed line.
inline constexpr int kMalformedTraceStatus = 65;

// With echo, each trace line that holds a command is written first, after "> " (trimmed, its
// comment kept). Returns 0, or kMalformedTraceStatus after reporting "NAME:LINE: ..." on
// `errors`; `trace` is then positioned after the malformed line.
int ReplayTrace(std::istream& trace, const std::string& traceName, const MapTable& table,
                const HostSettings& settings, std::ostream& out, std::ostream& errors,
                bool echo = false);

}  // namespace keytwine

#endif  // KEYTWINE_TOOLS_TRACE_REPLAY_H
