// What the end-to-end tests of the Windows program need: a results list, the driver's own
// low-level keyboard hook (the last in the chain, so it sees what the program under test lets
// through), key injection with real scan codes, the program's processes and folders, and the
// windows it shows (message boxes, the main window, the debug log).
#ifndef KEYTWINE_TESTS_PLATFORM_DRIVER_SUPPORT_H
#define KEYTWINE_TESTS_PLATFORM_DRIVER_SUPPORT_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace keytwine::wintest {

// --- Results ---------------------------------------------------------------------------------

class Results {
 public:
  // Prints "PASS name" or "FAIL name: detail" and counts it.
  bool Check(bool ok, const std::string& name, const std::string& detail = "");
  // Prints "SKIP name: reason" for a check that cannot be made here; counted neither way.
  void Skip(const std::string& name, const std::string& reason);
  // Prints "N passed, N failed".
  void PrintSummary() const;
  int Failed() const { return failed_; }

 private:
  int passed_ = 0;
  int failed_ = 0;
};

// True when the driver runs under wine rather than on Windows.
bool RunningUnderWine();

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& utf8);

// --- Keys seen at the end of the hook chain ----------------------------------------------------

struct SeenKey {
  uint32_t vk;
  uint32_t scan;
  bool up;
  bool operator==(const SeenKey&) const = default;
};

// "0x41 down 0xff, 0x41 up 0x1e".
std::string Describe(const std::vector<SeenKey>& keys);

// The driver's hook runs on a thread of its own, which also owns a small window (the
// foreground window of the IME test). It is installed before the program under test starts,
// and the most recently installed low-level hook is called first.
class KeyObserver {
 public:
  bool Start();
  void Stop();
  void Clear();
  std::vector<SeenKey> Seen() const;
  // Waits until `count` events were seen or the timeout passed, then a little longer, so that
  // unexpected extra events show up too.
  std::vector<SeenKey> WaitFor(size_t count, DWORD timeoutMs) const;
  HWND Window() const;
  // The input method of that window, set and read on its own thread (an input context can
  // only be changed by its thread). False when the window has no input context.
  bool SetIme(bool open, DWORD conversion) const;
  bool ReadIme(bool& open, DWORD& conversion) const;
};

// --- Key injection -----------------------------------------------------------------------------

// Gap after every injected event, so that the program's own injected keys are processed before
// the next physical event arrives.
inline constexpr DWORD kKeyGapMs = 60;

// One key event with a real scan code; `time` 0 lets the system stamp it.
void SendPhysicalKey(uint8_t vk, uint8_t scan, bool up, DWORD time = 0);
void TapPhysicalKey(uint8_t vk, uint8_t scan);

// --- Programs and folders ----------------------------------------------------------------------

// A started process; ended (terminated) when the object goes away.
class Program {
 public:
  Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() { End(); }

  // Starts `exe` with the command line `"exe" arguments` (or unquoted when asked).
  bool Start(const std::wstring& exe, const std::wstring& arguments, bool quotePath = true);
  DWORD Id() const { return info_.dwProcessId; }
  // True when the process ended within the timeout; its exit code then goes to `exitCode`.
  bool WaitExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
  bool Running();
  // The number of threads the process has now (0 when it cannot be read).
  size_t ThreadCount() const;
  // Ends the program by closing its main window, so that it removes its hook, and terminates
  // it only when that fails. (Under wine a process that ends with a low-level hook installed
  // breaks the hook chain for every hook installed after it.)
  void End();
  void Kill();

 private:
  PROCESS_INFORMATION info_{};
};

// A fresh folder under the temporary folder, removed with its files when the object goes away.
class TestFolder {
 public:
  explicit TestFolder(const std::wstring& name);
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;
  ~TestFolder();

  // With a trailing backslash.
  const std::wstring& Path() const { return path_; }
  bool CopyIn(const std::wstring& from, const std::wstring& name);
  bool Write(const std::wstring& name, const std::string& utf8);
  // The file's text, or false when it does not exist.
  bool Read(const std::wstring& name, std::string& utf8) const;
  std::vector<std::wstring> Files() const;

 private:
  std::wstring path_;
};

// The folder of the driver, where the programs under test are built.
std::wstring DriverFolder();

// --- Windows of the program under test --------------------------------------------------------

// A message box (dialog class "#32770") of the process, or null after the timeout.
HWND WaitForDialog(DWORD processId, DWORD timeoutMs);
std::wstring WindowText(HWND window);
// The message of a message box.
std::wstring DialogMessage(HWND dialog);
// For failure details: the message box the process shows, if any ("" when none).
std::string DescribeDialog(DWORD processId);
// Presses a button of a dialog (IDOK, IDYES, IDNO).
void PressDialogButton(HWND dialog, int id);

// The process's "KeytwineWndClass" window, or null.
HWND FindMainWindow(DWORD processId);
HWND WaitForMainWindow(DWORD processId, DWORD timeoutMs);
// The main window's debug log list box, or null.
HWND FindLogListBox(HWND mainWindow);
// The lines of the list box in their order; false when it could not be read.
bool ReadListBox(HWND listBox, std::vector<std::wstring>& lines);

// --- Readiness --------------------------------------------------------------------------------

// The unmapped key the probes tap: F13, scan code 0x64.
inline constexpr uint8_t kProbeVk = 0x7C;
inline constexpr uint8_t kProbeScan = 0x64;

// Taps the probe key once: true when the program's hook re-sent its key-down (scan code 0xFF).
bool ProbeHooked(KeyObserver& observer);

// When probes found the hook live, in milliseconds from a start time (-1: never).
struct HookTiming {
  long lastUnhookedMs = -1;  // the last probe that passed unchanged
  long hookedMs = -1;        // the first probe that the hook re-sent
};

// Probes until the hook is live or the timeout passed; times are counted from `since` (a
// GetTickCount value).
HookTiming WaitUntilHooked(KeyObserver& observer, DWORD since, DWORD timeoutMs);

}  // namespace keytwine::wintest

#endif  // KEYTWINE_TESTS_PLATFORM_DRIVER_SUPPORT_H
