// keytwine: the remapper's command-line tool.
#include <cstring>
#include <iostream>
#include <string>

#include "keytwine_version.h"
#include "script/port/port.h"
#include "tools/commands.h"
#include "tools/lint.h"
#include "tools/number_text.h"

namespace keytwine {
namespace {

constexpr int kUsageStatus = 64;
constexpr int kCannotWriteStatus = 74;

constexpr const char* kHelp =
    "Usage: keytwine COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  check [--codepage CP] FILE\n"
    "                       Runs the configuration script FILE as the remapper does at start.\n"
    "                       Prints every text delivered to error() (script error reports too)\n"
    "                       on standard error, then the settings and the mapping table on\n"
    "                       standard output. Exit status: 0 no error, 1 errors were reported,\n"
    "                       2 FILE could not be loaded.\n"
    "  lint [--codepage CP] FILE\n"
    "                       Runs FILE as check does and prints on standard output what\n"
    "                       looks wrong, one finding a line: 'FILE:LINE: warning: TEXT [rule]'\n"
    "                       or 'FILE:LINE: error: TEXT' for an error report. The rules are\n"
    "                       described in docs/lint.md. Exit status: 0 nothing found, 1 warnings\n"
    "                       or errors, 2 FILE could not be loaded.\n"
    "  sim [--codepage CP] [--echo] CONFIG TRACE\n"
    "                       Runs CONFIG as check does (reports on standard error), then\n"
    "                       replays TRACE ('-' for standard input) as replay does. Exit\n"
    "                       status as replay's, but 1 when the trace was replayed and errors\n"
    "                       were reported.\n"
    "  replay [--echo] TABLE TRACE\n"
    "                       Replays the key events of TRACE ('-' for standard input) through\n"
    "                       the key decisions with the mapping table and settings of TABLE,\n"
    "                       on a simulated device that starts in landscape with no key held\n"
    "                       and the IME closed. Prints every effect of every hook call.\n"
    "  --help               Shows this text.\n"
    "  --version            Shows the version.\n"
    "\n"
    "--codepage CP selects the code page of the script text: 65001 (UTF-8, the default) or\n"
    "932 (Shift-JIS). --echo writes each trace line that holds a command first, after '> '.\n"
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
    "Exit status of replay and sim: 0 done, 2 a file cannot be read, 64 bad arguments,\n"
    "65 malformed trace line (a key or scan code above 0xff included).\n"
    "Every command exits with 74 when standard output cannot be written.\n";

int Usage(const char* problem) {
  std::cerr << "keytwine: " << problem << "\nTry 'keytwine --help'.\n";
  return kUsageStatus;
}

struct Options {
  bool echo = false;
  int next = 2;  // first operand
};

// Reads the options "--codepage CP" and "--echo" after the command; false (with the usage
// reported in *status) when one is malformed.
bool ReadOptions(int argc, char** argv, Options* options, int* status) {
  for (int& next = options->next; next < argc && argv[next][0] == '-' && argv[next][1] != 0;) {
    if (std::strcmp(argv[next], "--echo") == 0) {
      options->echo = true;
      ++next;
      continue;
    }
    uint32_t codePage = 0;
    if (std::strcmp(argv[next], "--codepage") != 0 || next + 1 >= argc ||
        !ParseNumber(argv[next + 1], codePage) ||
        (codePage != port::kCodePageUtf8 && codePage != port::kCodePageShiftJis) ||
        !port::SetCodePage(codePage)) {
      *status = Usage("unknown option, or --codepage without 65001 or 932");
      return false;
    }
    next += 2;
  }
  return true;
}

int Check(int argc, char** argv) {
  Options options;
  int status = 0;
  if (!ReadOptions(argc, argv, &options, &status)) return status;
  if (argc - options.next != 1) return Usage("check takes FILE");
  return CheckConfiguration(argv[options.next], {std::cout, std::cerr});
}

int Lint(int argc, char** argv) {
  Options options;
  int status = 0;
  if (!ReadOptions(argc, argv, &options, &status)) return status;
  if (options.echo || argc - options.next != 1) return Usage("lint takes FILE");
  return LintConfiguration(argv[options.next], &RunConfigurationFile, std::cout);
}

int Sim(int argc, char** argv) {
  Options options;
  int status = 0;
  if (!ReadOptions(argc, argv, &options, &status)) return status;
  if (argc - options.next != 2) return Usage("sim takes CONFIG and TRACE");
  return SimulateTrace(argv[options.next], argv[options.next + 1], options.echo,
                       {std::cout, std::cerr});
}

int RunCommand(int argc, char** argv) {
  if (argc < 2) return Usage("missing command");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kHelp;
    return 0;
  }
  if (command == "--version") {
    std::cout << "keytwine " KEYTWINE_VERSION "\n";
    return 0;
  }
  if (command == "check") return Check(argc, argv);
  if (command == "lint") return Lint(argc, argv);
  if (command == "sim") return Sim(argc, argv);
  if (command == "replay") {
    Options options;
    int status = 0;
    if (!ReadOptions(argc, argv, &options, &status)) return status;
    if (argc - options.next != 2) return Usage("replay takes TABLE and TRACE");
    return ReplayTable(argv[options.next], argv[options.next + 1], options.echo,
                       {std::cout, std::cerr});
  }
  return Usage(("unknown command '" + command + "'").c_str());
}

// A full disk or a closed pipe must not pass for a complete output.
int Main(int argc, char** argv) {
  const int status = RunCommand(argc, argv);
  if (!std::cout.flush()) {
    std::cerr << "keytwine: cannot write standard output\n";
    return kCannotWriteStatus;
  }
  return status;
}

}  // namespace
}  // namespace keytwine

int main(int argc, char** argv) {
  return keytwine::Main(argc, argv);
}
