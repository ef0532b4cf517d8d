// Shared set-up of the end-to-end tests: the programs under test, a started instance in its own
// folder, the table lines the tests write, and the check of the keys that get through.
#ifndef KEYTWINE_TESTS_PLATFORM_TEST_ENV_H
#define KEYTWINE_TESTS_PLATFORM_TEST_ENV_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/platform/driver_support.h"

namespace keytwine::wintest {

struct Env {
  Results& results;
  KeyObserver& observer;
  std::wstring programPath;  // KeytwineTableTest.exe beside the driver
  std::wstring markerPath;   // TestMarker.exe beside the driver
};

inline constexpr const wchar_t* kProgramName = L"KeytwineTableTest.exe";
inline constexpr const wchar_t* kTableName = L"Keytwine.table";

// One instance of the program under test in a folder of its own (ended with the object).
struct Instance {
  explicit Instance(const std::wstring& name) : folder(name) {}
  TestFolder folder;
  Program program;
};

// Copies the program into the instance's folder, writes the table beside it (unless `table` is
// null) and starts it with `arguments`.
bool StartInstance(Env& env, Instance& instance, const char* table,
                   const std::wstring& arguments = L"");

// As StartInstance, then waits until the program's hook is live.
bool StartHooked(Env& env, Instance& instance, const char* table);

// A physical key: virtual-key code and scan code.
struct Key {
  uint8_t vk;
  uint8_t scan;
};

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

// Table lines in the text form the test variant reads.
std::string SwapLine(int index, Key key, uint8_t replacement, int modifier = 0, int hold = 0,
                     int orientation = 0);
std::string ExecLine(int index, Key key, const std::wstring& path, const std::wstring& parameters);

}  // namespace keytwine::wintest

#endif  // KEYTWINE_TESTS_PLATFORM_TEST_ENV_H
