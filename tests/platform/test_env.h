// Shared set-up of the end-to-end tests: the programs under test, a started instance in its own
// folder with its configuration script, its error boxes, and the check of the keys that get
// through.
#ifndef KEYTWINE_TESTS_PLATFORM_TEST_ENV_H
#define KEYTWINE_TESTS_PLATFORM_TEST_ENV_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/platform/driver_support.h"
#include "tests/platform/script_text.h"

namespace keytwine::wintest {

inline constexpr const wchar_t* kProgramName = L"Keytwine.exe";
inline constexpr const wchar_t* kScriptName = L"Keytwine.ns";
inline constexpr const wchar_t* kMarkerName = L"TestMarker.exe";
inline constexpr const wchar_t* kExtensionName = L"KeytwineTestExtension.dll";
inline constexpr const wchar_t* kCliName = L"keytwine-cli.exe";

// The suite's folder (the driver's) holds the programs that the tests copy or start.
struct Env {
  Results& results;
  KeyObserver& observer;
  std::wstring suiteFolder;  // with a trailing backslash
};

// The path of a file in the suite's folder.
std::wstring SuiteFile(const Env& env, const wchar_t* name);

// One instance of the program under test in a folder of its own (ended with the object).
struct Instance {
  explicit Instance(const std::wstring& name) : folder(name) {}
  TestFolder folder;
  Program program;
};

// Copies a file of the suite's folder into the instance's folder; a failure counts as one.
bool CopyFromSuite(Env& env, Instance& instance, const wchar_t* name);

// Copies the program into the instance's folder, writes the configuration script beside it
// (unless `script` is null) and starts it with `arguments`.
bool StartInstance(Env& env, Instance& instance, const char* script,
                   const std::wstring& arguments = L"");

// As StartInstance, then waits until the program's hook is live.
bool StartHooked(Env& env, Instance& instance, const char* script);

// Waits for the program's error box, checks that it is titled "Error", closes it and returns
// its message ("" when none appeared). The checks are named after `name`.
std::wstring CloseErrorBox(Env& env, Program& program, const std::string& name);

SeenKey Down(Key key, uint32_t scan);
SeenKey Up(Key key, uint32_t scan);
// A key event the program injected (scan code 0xFF).
SeenKey InjectedDown(Key key);
SeenKey InjectedUp(Key key);

// Clears what the driver's hook saw, runs `act`, and checks that exactly `expected` got through.
bool ExpectKeys(Env& env, const std::string& name, const std::vector<SeenKey>& expected,
                const std::function<void()>& act);

// The IME key pair: Right Windows then F7, both with scan code 0x11; pressed and released.
inline constexpr Key kImePrefix{0x5C, 0x11}, kImeToggle{0x76, 0x11};
void PressImePair();

}  // namespace keytwine::wintest

#endif  // KEYTWINE_TESTS_PLATFORM_TEST_ENV_H
