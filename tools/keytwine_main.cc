// keytwine: the remapper's command-line tool.
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "host/map_table.h"
#include "tools/table_text.h"
#include "tools/trace_replay.h"

namespace keytwine {
namespace {

constexpr int kUsageStatus = 64;
constexpr int kCannotLoadStatus = 2;

constexpr const char* kHelp =
    "Usage: keytwine COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  replay TABLE TRACE   Replays the key events of TRACE ('-' for standard input) through\n"
    "                       the key decisions with the mapping table and settings of TABLE,\n"
    "                       on a simulated device that starts in landscape with no key held\n"
    "                       and the IME closed. Prints every effect of every hook call.\n"
    "  --help               Shows this text.\n"
    "\n"
    "TABLE lists settings and entries, one a line:\n"
    "  useImeToggle=1\n"
    "  holdDuration=500\n"
    "  debugMode=0\n"
    "  0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e keys=0x42,0x0,0x0,0x0\n"
    "  1 exec orientation=0 modifier=1 hold=1 vk=0x70 scan=0x3b path=\"calc.exe\" parameters=\"\"\n"
    "\n"
    "TRACE lines ('#' starts a comment; numbers in decimal or 0x hex):\n"
    "  portrait | landscape\n"
    "  keystate VK down|up\n"
    "  ime open|closed [MODE]\n"
    "  down|up|sysdown|sysup VK SCAN TIME [FLAGS [EXTRA]]\n"
    "  event NCODE KIND VK SCAN TIME [FLAGS [EXTRA]]\n"
    "\n"
    "Output per hook call: 'log TEXT' (debug mode only), 'send 0xVK down|up', 'launch INDEX',\n"
    "'ime open 0xMODE', 'ime close'; then '=> swallow' or '=> pass'; then 'start \"PATH\"\n"
    "\"PARAMETERS\"' for each program the main window starts.\n"
    "\n"
    "Exit status: 0 done, 2 a file cannot be read, 64 bad arguments, 65 malformed trace line.\n";

int Usage(const char* problem) {
  std::cerr << "keytwine: " << problem << "\nTry 'keytwine --help'.\n";
  return kUsageStatus;
}

int Replay(const char* tablePath, const char* tracePath) {
  std::ifstream tableFile(tablePath);
  if (!tableFile) {
    std::cerr << "keytwine: cannot read " << tablePath << "\n";
    return kCannotLoadStatus;
  }
  MapTable table;
  HostSettings settings;
  std::string error;
  if (!ReadTableText(tableFile, table, settings, error)) {
    std::cerr << "keytwine: " << tablePath << ":" << error << "\n";
    return kCannotLoadStatus;
  }
  if (std::strcmp(tracePath, "-") == 0) {
    return ReplayTrace(std::cin, "-", table, settings, std::cout, std::cerr);
  }
  std::ifstream trace(tracePath);
  if (!trace) {
    std::cerr << "keytwine: cannot read " << tracePath << "\n";
    return kCannotLoadStatus;
  }
  return ReplayTrace(trace, tracePath, table, settings, std::cout, std::cerr);
}

int Main(int argc, char** argv) {
  if (argc < 2) return Usage("missing command");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kHelp;
    return 0;
  }
  if (command == "replay") {
    if (argc != 4) return Usage("replay takes TABLE and TRACE");
    return Replay(argv[2], argv[3]);
  }
  return Usage(("unknown command '" + command + "'").c_str());
}

}  // namespace
}  // namespace keytwine

int main(int argc, char** argv) {
  return keytwine::Main(argc, argv);
}
