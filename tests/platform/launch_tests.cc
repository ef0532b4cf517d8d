// Exec mappings end to end: a key starts TestMarker.exe through the main window, which appends
// one line per start to a file, and launch requests from elsewhere are checked.
#include <algorithm>

#include "tests/platform/test_cases.h"

namespace keytwine::wintest {
namespace {

constexpr Key kA{0x41, 0x1E}, kB{0x42, 0x30}, kC{0x43, 0x2E};
constexpr const wchar_t* kOutputName = L"launched.txt";
constexpr const wchar_t* kNoArgumentsName = L"marker-noargs.txt";

// Waits until the file holds `lines` lines (or the timeout passed); returns its text.
std::string WaitForLines(const TestFolder& folder, const wchar_t* name, size_t lines,
                         DWORD timeoutMs) {
  std::string text;
  const DWORD start = GetTickCount();
  do {
    if (folder.Read(name, text) &&
        static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) {
      break;
    }
    Sleep(100);
  } while (GetTickCount() - start < timeoutMs);
  return text;
}

void TestLaunchByKey(Env& env, Instance& instance) {
  TapPhysicalKey(kA.vk, kA.scan);
  std::string text = WaitForLines(instance.folder, kOutputName, 1, 10000);
  env.results.Check(text == "hello world\n", "Exec key starts the program with its parameters",
                    "file holds \"" + text + "\"");

  // Held through auto-repeats: one start only.
  SendPhysicalKey(kA.vk, kA.scan, false);
  for (int i = 0; i < 5; ++i) SendPhysicalKey(kA.vk, kA.scan, false);
  SendPhysicalKey(kA.vk, kA.scan, true);
  text = WaitForLines(instance.folder, kOutputName, 3, 3000);
  env.results.Check(text == "hello world\nhello world\n",
                    "Exec key held through auto-repeats starts the program once",
                    "file holds \"" + text + "\"");

  TapPhysicalKey(kB.vk, kB.scan);
  text = WaitForLines(instance.folder, kNoArgumentsName, 1, 10000);
  env.results.Check(text == "no parameters\n",
                    "Exec entry without parameters starts the program without any",
                    "file holds \"" + text + "\"");
}

// Any process can post WM_USER to the main window: only an Exec entry's index starts anything.
void TestLaunchRequests(Env& env, Instance& instance) {
  const HWND window = FindMainWindow(instance.program.Id());
  if (!env.results.Check(window != nullptr, "main window found by class and title",
                         "no KeytwineWndClass window")) {
    return;
  }
  PostMessageW(window, WM_USER, 3, 0);                             // beyond the table
  PostMessageW(window, WM_USER, 2, 0);                             // a Swap entry
  PostMessageW(window, WM_USER, static_cast<WPARAM>(1) << 32, 0);  // 0 when cut to 32 bits
  std::string text = WaitForLines(instance.folder, kOutputName, 3, 2000);
  env.results.Check(
      instance.program.Running() && text == "hello world\nhello world\n",
      "launch requests for other indexes than Exec entries are ignored",
      "running " + std::to_string(instance.program.Running()) + ", file holds \"" + text + "\"");
  PostMessageW(window, WM_USER, 0, 0);
  text = WaitForLines(instance.folder, kOutputName, 3, 10000);
  env.results.Check(text == "hello world\nhello world\nhello world\n",
                    "a launch request with an Exec entry's index starts its program",
                    "file holds \"" + text + "\"");
}

}  // namespace

void RunLaunchTests(Env& env) {
  Instance instance(L"launch");
  if (!CopyFromSuite(env, instance, kMarkerName)) return;
  const std::wstring marker = instance.folder.Path() + kMarkerName;
  const std::wstring output = instance.folder.Path() + kOutputName;
  // Entries 0 and 1 start the marker, entry 2 is a Swap entry.
  const std::string script = ExecCall(kA, marker, L"\"" + output + L"\" hello world") +
                             ExecCall(kB, marker) + SwapCall(kC, 0x44);
  if (!env.results.Check(StartHooked(env, instance, script.c_str()),
                         "program with Exec entries starts", "hook not live within 15 s")) {
    return;
  }
  TestLaunchByKey(env, instance);
  TestLaunchRequests(env, instance);
}

}  // namespace keytwine::wintest
