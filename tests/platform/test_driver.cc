// KeytwineWinTests.exe: end-to-end tests of the Windows program, run under wine with a virtual X
// server by scripts/test-windows.sh (or on Windows). The program is started from fresh folders
// with a Keytwine.ns, typed on with real scan codes, and its windows are read: one smoke check
// per effect, as which key events get which effect is tested on Linux by key transcripts. The
// programs are beside the driver. (The check cases run through keytwine-cli.exe from
// scripts/test-windows.sh.) Prints one line per check, then "N passed, N failed"; exit status 1
// on any failure.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace keytwine::wintest {
namespace {

namespace fs = std::filesystem;

int g_passed = 0, g_failed = 0;

// Prints "PASS name" or "FAIL name: detail", counts it and returns `ok`.
bool Check(bool ok, const std::string& name, const std::string& detail) {
  ++(ok ? g_passed : g_failed);
  std::printf(ok ? "PASS %s\n" : "FAIL %s: %s\n", name.c_str(), detail.c_str());
  std::fflush(stdout);
  return ok;
}

size_t Count(const std::string& text, char c) {
  return std::count(text.begin(), text.end(), c);
}

// A path given at build time; under wine a Linux path is on drive Z:.
fs::path BuiltPath(const std::string& path) {
  return fs::path(path[0] == '/' ? "Z:" + path : path).make_preferred();
}

// The texts read back from windows and paths here are ASCII.
std::string Narrow(const std::wstring& text) {
  return {text.begin(), text.end()};
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

bool WriteBytes(const fs::path& path, const std::string& bytes) {
  return static_cast<bool>(std::ofstream(path, std::ios::binary) << bytes);
}

fs::path g_scratch;  // removed at the end, with the folders made in it

fs::path NewFolder(const std::string& name) {
  static int made = 0;
  const fs::path path = g_scratch / (name + std::to_string(++made));
  return fs::create_directories(path) ? path : fs::path();
}

// The main window of the process, or null.
HWND FindMainWindow(DWORD processId) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, L"KeytwineWndClass", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == processId) return window;
  }
  return nullptr;
}

// A started process, ended when the object goes away: by closing its main window, so that it
// removes its hook, and terminated only when that fails (under wine, a process that ends with a
// low-level hook installed breaks the hook chain for every hook installed after it).
struct Program {
  // Starts `exe` in `folder`.
  bool Start(const fs::path& exe, const std::wstring& arguments, const fs::path& folder) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + exe.wstring() + L"\" " + arguments;
    return CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &info) != FALSE;
  }
  // The exit code once the process ended within 5 s, or -1.
  int64_t ExitCode() const {
    DWORD code = 0;
    const bool ended = WaitForSingleObject(info.hProcess, 5000) == WAIT_OBJECT_0;
    return ended && GetExitCodeProcess(info.hProcess, &code) ? code : -1;
  }
  ~Program() {
    if (info.hProcess == nullptr) return;
    const HWND window = FindMainWindow(info.dwProcessId);
    if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(info.hProcess, window != nullptr ? 5000 : 0) != WAIT_OBJECT_0) {
      TerminateProcess(info.hProcess, 99);
      WaitForSingleObject(info.hProcess, 5000);
    }
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  PROCESS_INFORMATION info{};
};

// --- The driver's own hook, called after the program's: what gets through ----------------------

std::mutex g_seenLock;
std::string g_seen;  // "0x41 down 0x1e, 0x42 up 0xff, "; scan code 0xFF marks what was injected
std::atomic<HHOOK> g_hook = nullptr;

std::string Event(uint32_t vk, bool up, uint32_t scan = 0xFF) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%x %s 0x%x, ", vk, up ? "up" : "down", scan);
  return text;
}

LRESULT CALLBACK ObserverHook(int code, WPARAM message, LPARAM lParam) {
  const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
  if (code == HC_ACTION) {
    const std::lock_guard<std::mutex> guard(g_seenLock);
    g_seen += Event(info->vkCode, message == WM_KEYUP || message == WM_SYSKEYUP, info->scanCode);
  }
  return CallNextHookEx(g_hook, code, message, lParam);
}

// A low-level hook is called through the message loop of the thread that installed it. It is
// installed before any program under test starts, so it is called last.
DWORD WINAPI ObserverThread(void* /*unused*/) {
  g_hook = SetWindowsHookExW(WH_KEYBOARD_LL, ObserverHook, GetModuleHandleW(nullptr), 0);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

struct Key {
  uint8_t vk, scan;
};

constexpr Key kA{0x41, 0x1E}, kB{0x42, 0x30}, kC{0x43, 0x2E}, kD{0x44, 0x20}, kE{0x45, 0x12};
constexpr Key kG{0x47, 0x22}, kH{0x48, 0x23}, kF13{0x7C, 0x64};
// Desktop Windows reports the physical Ctrl and Shift keys by side, as left Ctrl and left Shift.
constexpr Key kLeftCtrl{0xA2, 0x1D}, kLeftShift{0xA0, 0x2A};
// The IME key pair: Right Windows then F7, both with scan code 0x11.
constexpr Key kRWin{0x5C, 0x11}, kF7{0x76, 0x11};

// One key event with a real scan code: the key, whether it goes up, and its time stamp in ms after
// the first event of its sequence (a hold is timed by the events' own time stamps, as
// auto-repeat sends them).
using Step = std::tuple<Key, bool, DWORD>;

std::vector<Step> TapOf(Key key) {
  return {{key, false, 0}, {key, true, 60}};
}

// Types the steps and returns what got through meanwhile: once `count` events came, or after
// 3 s, and a little later, so that unexpected extra events show up too. A short gap follows each
// event, so that what the program injects is processed before the next one.
std::string SeenAfter(size_t count, const std::vector<Step>& steps) {
  const auto seen = [](bool clear) {
    const std::lock_guard<std::mutex> guard(g_seenLock);
    return clear ? std::exchange(g_seen, "") : g_seen;
  };
  seen(true);
  const DWORD start = GetTickCount();
  for (const auto& [key, up, at] : steps) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki = {key.vk, key.scan, static_cast<DWORD>(up ? KEYEVENTF_KEYUP : 0), start + at, 0};
    SendInput(1, &input, sizeof input);
    Sleep(60);
  }
  for (int waited = 0; Count(seen(false), ',') < count && waited < 3000; waited += 20) Sleep(20);
  Sleep(250);
  return seen(false);
}

// Checks that exactly `expected` gets through while the steps are typed.
void ExpectKeys(const std::string& name, const std::vector<Step>& steps,
                const std::string& expected) {
  const std::string seen = SeenAfter(Count(expected, ','), steps);
  Check(seen == expected, name, "saw " + seen + "expected " + expected);
}

// Taps the unmapped F13 until the program's hook re-sends its key-down (scan code 0xFF).
bool WaitUntilHooked(DWORD timeoutMs) {
  for (const DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs;) {
    if (SeenAfter(2, TapOf(kF13)).starts_with(Event(kF13.vk, false))) return true;
  }
  return false;
}

// --- The program under test ----------------------------------------------------------------------

// The program started in a folder of its own, with the test marker and the test extension beside
// it, and `script` as its Keytwine.ns (none when null).
struct Instance {
  Instance(const std::string& name, const char* script, const wchar_t* arguments = L"")
      : folder(NewFolder(name)) {
    std::error_code missing;  // then the program does not start
    for (const char* file : {KEYTWINE_PROGRAM, KEYTWINE_MARKER, KEYTWINE_EXTENSION}) {
      fs::copy_file(BuiltPath(file), folder / BuiltPath(file).filename(), missing);
    }
    if (script != nullptr) WriteBytes(folder / "Keytwine.ns", script);
    program.Start(folder / "Keytwine.exe", arguments, folder);
  }
  fs::path folder;
  Program program;
};

// Waits for a message box with the caption, closes it with `button` and returns its text.
std::string CloseMessageBox(const wchar_t* caption, int button = IDOK) {
  for (int tries = 0; tries < 200; ++tries, Sleep(50)) {
    const HWND box = FindWindowW(L"#32770", caption);
    if (box == nullptr || !IsWindowVisible(box)) continue;
    Sleep(200);  // let the box finish its set-up
    wchar_t text[2048] = {};
    // A message box shows its text in the static control with this identifier.
    GetDlgItemTextW(box, 0xFFFF, text, 2048);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    return Narrow(text);
  }
  return "(no message box)";
}

// --- The smoke tests -----------------------------------------------------------------------------

// One instance walks through an error box, the key effects, launching and second starts. The
// test marker appends its parameters as a line to launched.txt beside itself.
void TestProgram() {
  const DWORD start = GetTickCount();
  Instance instance("program",
                    "#library(\"NoSuchModule.dll\")\n"
                    "#library(\"KeytwineTestExtension.dll\")\n"
                    "exec(0, 0, 0, 0x45, 0x12, \"TestMarker.exe\", \"hello world\");\n"
                    "exec(0, 0, 0, 0x46, 0x21, \"TestMarker.exe\");\n"
                    "swap(0, 0, 0, 0x41, 0x1e, twice(0x21));  // tap A: B\n"
                    "swap(0, 0, 1, 0x43, 0x2e, 0x44);  // hold C: D\n"
                    "swap(0, 1, 0, 0x47, 0x22, 0x48);  // Ctrl+G: H\n",
                    L"1000");
  const std::string shown = CloseMessageBox(L"Error");
  Check(shown == "### Error: Library load error : Keytwine : NoSuchModule.dll",
        "error box: a library that cannot be loaded is reported; the program runs on", shown);
  const bool hooked = WaitUntilHooked(15000);
  const DWORD elapsed = GetTickCount() - start;
  Check(hooked && elapsed >= 1000, "start-up delay: started with 1000, it hooks no sooner",
        hooked ? "hooked after " + std::to_string(elapsed) + " ms" : "no hook in 15 s");
  const std::tuple<const char*, std::vector<Step>, Key> kCases[] = {
      {"swap: a tap on A sends B, from a library's native; A is swallowed", TapOf(kA), kB},
      {"hold: C held to 500 ms sends D once",
       {{kC, false, 0}, {kC, false, 300}, {kC, false, 500}, {kC, true, 600}},
       kD},
      {"Ctrl combination: left Ctrl+G sends H, neither Ctrl event gets through",
       {{kLeftCtrl, false, 0}, {kG, false, 60}, {kG, true, 120}, {kLeftCtrl, true, 180}},
       kH}};
  // The program sends a replacement key's key-down and key-up, injected.
  for (const auto& [name, steps, sent] : kCases) {
    ExpectKeys(name, steps, Event(sent.vk, false) + Event(sent.vk, true));
  }
  ExpectKeys("held-back Shift: left Shift+B, unmapped, sends B inside left Shift's own code",
             {{kLeftShift, false, 0}, {kB, false, 60}, {kB, true, 120}, {kLeftShift, true, 180}},
             Event(kLeftShift.vk, false) + Event(kB.vk, false) + Event(kLeftShift.vk, true) +
                 Event(kB.vk, true, kB.scan) + Event(kLeftShift.vk, true, kLeftShift.scan));

  SeenAfter(0, TapOf(kE));
  // Any process can post a launch request (WM_USER with an entry's index) to the main window.
  const HWND window = FindMainWindow(instance.program.info.dwProcessId);
  for (const WPARAM index : {WPARAM{2}, WPARAM{5}, WPARAM{1} << 32, WPARAM{1}}) {
    PostMessageW(window, WM_USER, index, 0);
  }
  const fs::path launched = instance.folder / "launched.txt";
  for (int tries = 0; tries < 100 && Count(ReadBytes(launched), '\n') < 2; ++tries) Sleep(100);
  Sleep(500);  // for any line that should not come
  // The two programs may append their lines in either order.
  const std::string text = ReadBytes(launched);
  Check(text == "hello world\n\n" || text == "\nhello world\n",
        "launch: an Exec key starts its program with its parameters, a request for entry 1 without;"
        " one for a Swap entry, beyond the table or cut to entry 0 starts nothing",
        "\"" + text + "\"");

  // Later starts come from folders without a script: they must not run a configuration.
  for (const int answer : {IDNO, IDYES}) {
    const Instance later("later", nullptr);
    const std::string asked = CloseMessageBox(L"Keytwine", answer);
    Check(asked == "Are you sure you want to quit Keytwine?" && later.program.ExitCode() == 0 &&
              (answer == IDNO ? WaitUntilHooked(3000) : instance.program.ExitCode() == 0),
          answer == IDNO ? "a second start asks to quit; on No it ends, the first runs on"
                         : "on Yes both the second start and the first end with exit code 0",
          asked);
  }
}

// The lines of the debug log in the list box's order, each followed by " | ".
std::string ReadLog(HWND log) {
  std::string text;
  for (LRESULT i = 0; i < SendMessageW(log, LB_GETCOUNT, 0, 0); ++i) {
    wchar_t line[512] = {};
    SendMessageW(log, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
    text += Narrow(line) + " | ";
  }
  return text;
}

// Started after the first instance quit: its hook works only if that one removed its own.
void TestDebugWindow() {
  const Instance instance("debug", "debugmode(1);\nswap(0, 0, 0, 0x41, 0x1e, 0x42);\n");
  // The main window is shown once its log list box exists.
  HWND window = nullptr;
  for (int tries = 0; tries < 200 && !IsWindowVisible(window); ++tries, Sleep(50)) {
    window = FindMainWindow(instance.program.info.dwProcessId);
  }
  const HWND log = FindWindowExW(window, nullptr, L"LISTBOX", nullptr);
  SeenAfter(2, TapOf(kA));
  // The list box sorts its lines, ignoring case. Injected events carry LLKHF_INJECTED (0x10),
  // key-ups LLKHF_UP (0x80) too.
  const std::string lines = ReadLog(log);
  Check(IsWindowVisible(window) &&
            lines ==
                "--------- | --------- | Hook() | keybd_event: 0x42, 0xff, 0x0, 0x0 | "
                "keybd_event: 0x42, 0xff, 0x2, 0x0 | lResult: TRUE | lResult: TRUE | Swap() | "
                "WM_KEYDOWN: 0x41, 0x1e, 0x10 | WM_KEYUP: 0x41, 0x1e, 0x90 | ",
        "debug mode: the main window shows a log of a tap's decisions, sorted", lines);

  // The IME pair toggles the input method of the window in front: here the program's own.
  // F7's key-up is sent too, as the re-sent F7 is down in the system: no key stays held.
  SetForegroundWindow(window);
  Sleep(200);
  ExpectKeys(
      "IME pair: both keys swallowed, F7 re-sent inside Right Windows and released",
      {{kRWin, false, 0}, {kF7, false, 60}, {kF7, true, 120}, {kRWin, true, 180}},
      Event(kRWin.vk, false) + Event(kF7.vk, false) + Event(kRWin.vk, true) + Event(kF7.vk, true));
  const std::string after = ReadLog(log);
  const size_t toggle = after.find("ToggleIMEMode() | ");
  Check(toggle != std::string::npos && toggle == after.rfind("ToggleIMEMode() | "),
        "IME pair: the input method is toggled once", after);

  PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  Check(instance.program.ExitCode() == 0, "debug mode: minimising ends it, exit code 0", "no");
}

}  // namespace
}  // namespace keytwine::wintest

int main() {
  using namespace keytwine::wintest;
  g_scratch =
      fs::temp_directory_path() / ("keytwine-tests-" + std::to_string(GetCurrentProcessId()));
  CreateThread(nullptr, 0, ObserverThread, nullptr, 0, nullptr);
  for (int tries = 0; tries < 100 && g_hook == nullptr; ++tries) Sleep(50);
  if (Check(g_hook != nullptr, "the driver's keyboard hook is installed", "it is not")) {
    TestProgram();
    TestDebugWindow();
  }
  std::error_code ignored;
  fs::remove_all(g_scratch, ignored);
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
