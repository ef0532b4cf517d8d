// KeytwineWinTests.exe: end-to-end tests of the Windows program, run under wine with a virtual
// X server by scripts/test-windows.sh (or on Windows). It starts Keytwine.exe from fresh folders
// with a Keytwine.ns written for each test, types on it with real scan codes, reads its windows
// and message boxes, runs keytwine-cli.exe, and prints one line per check and then
// "N passed, N failed". Exit status 1 on any failure. The programs it starts are beside it.
//
//   KeytwineWinTests.exe [GROUP...]   runs only the named groups (keys launch delay second
//                                     debug errors script check); all of them without arguments.
#include <cstring>

#include "tests/platform/test_cases.h"

namespace {

struct Group {
  const char* name;
  void (*run)(keytwine::wintest::Env& env);
};

constexpr Group kGroups[] = {
    {"keys", keytwine::wintest::RunKeyTests},
    {"launch", keytwine::wintest::RunLaunchTests},
    {"delay", keytwine::wintest::RunStartupDelayTests},
    {"second", keytwine::wintest::RunSecondStartTests},
    {"debug", keytwine::wintest::RunDebugModeTests},
    {"errors", keytwine::wintest::RunErrorTests},
    {"script", keytwine::wintest::RunScriptTests},
    {"check", keytwine::wintest::RunCheckTests},
};

bool Selected(const char* name, int argc, char** argv) {
  if (argc < 2) return true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace keytwine::wintest;
  Results results;
  KeyObserver observer;
  if (!results.Check(observer.Start(), "the driver's keyboard hook is installed",
                     "SetWindowsHookExW failed")) {
    results.PrintSummary();
    return 1;
  }
  Env env{results, observer, DriverFolder()};
  for (const Group& group : kGroups) {
    if (Selected(group.name, argc, argv)) group.run(env);
  }
  observer.Stop();
  results.PrintSummary();
  return results.Failed() == 0 ? 0 : 1;
}
