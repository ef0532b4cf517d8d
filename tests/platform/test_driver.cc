// KeytwineWinTests.exe: end-to-end tests of the Windows program, run under wine with a virtual
// X server by scripts/test-windows.sh (or on Windows). It starts KeytwineTableTest.exe from
// fresh folders, types on it with real scan codes, reads its windows and message boxes, and
// prints one line per check and then "N passed, N failed". Exit status 1 on any failure.
//
//   KeytwineWinTests.exe [GROUP...]   runs only the named groups (keys launch delay second
//                                     debug errors); all of them without arguments.
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
  const std::wstring folder = DriverFolder();
  Env env{results, observer, folder + kProgramName, folder + L"TestMarker.exe"};
  for (const Group& group : kGroups) {
    if (Selected(group.name, argc, argv)) group.run(env);
  }
  observer.Stop();
  results.PrintSummary();
  return results.Failed() == 0 ? 0 : 1;
}
