// KeytwineWinTests.exe: end-to-end tests of the Windows program, run under wine with a virtual X
// server by scripts/test-windows.sh (or on Windows). One smoke test per effect of the program:
// it is started from a fresh folder with its Keytwine.ns, typed on with real scan codes, and its
// windows are read; which key events get which effect is tested on Linux by key transcripts.
// Then the check cases run through keytwine-cli.exe. The programs are beside the driver.
//
//   KeytwineWinTests.exe [GROUP...]   only the named groups (keys launch second errors debug
//                                     check); all of them without arguments.
// Prints one line per check, then "N passed, N failed"; exit status 1 on any failure.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "tests/platform/driver_support.h"

namespace keytwine::wintest {
namespace {

// --- The driver's own hook, called after the program's: what gets through ----------------------

std::mutex g_seenLock;
std::string g_seen;  // "0x41 down 0x1e, 0x42 up 0xff, "; scan code 0xFF marks what was injected
size_t g_seenCount = 0;
HHOOK g_hook = nullptr;

std::string Event(uint32_t vk, bool up, uint32_t scan) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%x %s 0x%x, ", vk, up ? "up" : "down", scan);
  return text;
}

LRESULT CALLBACK ObserverHook(int code, WPARAM message, LPARAM lParam) {
  const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
  if (code == HC_ACTION) {
    const std::lock_guard<std::mutex> guard(g_seenLock);
    g_seen += Event(info->vkCode, message == WM_KEYUP || message == WM_SYSKEYUP, info->scanCode);
    ++g_seenCount;
  }
  return CallNextHookEx(g_hook, code, message, lParam);
}

// A low-level hook is called through the message loop of the thread that installed it. It is
// installed before any program under test starts, so it is called last.
DWORD WINAPI ObserverThread(void* ready) {
  g_hook = SetWindowsHookExW(WH_KEYBOARD_LL, ObserverHook, GetModuleHandleW(nullptr), 0);
  SetEvent(ready);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

// Runs `act` and returns what got through meanwhile: once `count` events came, or after 3 s,
// and a little later, so that unexpected extra events show up too.
template <typename Act>
std::string SeenAfter(size_t count, Act act) {
  const auto seen = [](bool clear) {
    const std::lock_guard<std::mutex> guard(g_seenLock);
    std::pair<std::string, size_t> result{g_seen, g_seenCount};
    if (clear) {
      g_seen.clear();
      g_seenCount = 0;
    }
    return result;
  };
  seen(true);
  act();
  for (int waited = 0; seen(false).second < count && waited < 3000; waited += 20) Sleep(20);
  Sleep(250);
  return seen(false).first;
}

struct Key {
  uint8_t vk;
  uint8_t scan;
};

constexpr Key kA{0x41, 0x1E}, kB{0x42, 0x30}, kC{0x43, 0x2E}, kD{0x44, 0x20}, kG{0x47, 0x22};
constexpr Key kH{0x48, 0x23}, kCtrl{0x11, 0x1D}, kF13{0x7C, 0x64};
// The IME key pair: Right Windows then F7, both with scan code 0x11.
constexpr Key kImePrefix{0x5C, 0x11}, kImeToggle{0x76, 0x11};

// One key event with a real scan code; `time` 0 lets the system stamp it. A short gap follows,
// so that what the program injects is processed before the next event.
void SendKey(Key key, bool up, DWORD time = 0) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki = {key.vk, key.scan, static_cast<DWORD>(up ? KEYEVENTF_KEYUP : 0), time, 0};
  SendInput(1, &input, sizeof input);
  Sleep(60);
}

void Tap(Key key) {
  SendKey(key, false);
  SendKey(key, true);
}

// What the program sends for a replacement key: its key-down and key-up, injected.
std::string Sent(Key key) {
  return Event(key.vk, false, 0xFF) + Event(key.vk, true, 0xFF);
}

// Taps the unmapped F13 until the program's hook re-sends its key-down (scan code 0xFF).
bool WaitUntilHooked(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  do {
    if (SeenAfter(2, [] { Tap(kF13); }).rfind(Event(kF13.vk, false, 0xFF), 0) == 0) return true;
  } while (GetTickCount() - start < timeoutMs);
  return false;
}

// --- The program under test ----------------------------------------------------------------------

struct Env {
  Results results;
  std::wstring suiteFolder;  // the driver's, with the programs beside it
};

// Checks that exactly `expected` gets through while `act` runs.
template <typename Act>
bool ExpectKeys(Env& env, const std::string& name, const std::string& expected, Act act) {
  const std::string seen = SeenAfter(std::count(expected.begin(), expected.end(), ','), act);
  return Check(env.results, seen == expected, name, "saw " + seen + "expected " + expected);
}

// The program in a folder of its own.
struct Instance {
  explicit Instance(const wchar_t* name) : folder(name) {}
  TestFolder folder;
  Program program;  // after the folder: ended before the folder is removed
};

// Copies the program and `extra` (a file of the suite's folder) into the instance's folder,
// writes `script` beside them as Keytwine.ns (none when null) and starts the program.
bool Start(const Env& env, Instance& instance, const char* script, const wchar_t* arguments = L"",
           const wchar_t* extra = L"Keytwine.exe") {
  const std::wstring& folder = instance.folder.Path();
  for (const wchar_t* file : {L"Keytwine.exe", extra}) {
    if (!CopyFileW((env.suiteFolder + file).c_str(), (folder + file).c_str(), FALSE)) return false;
  }
  return (script == nullptr || instance.folder.Write(L"Keytwine.ns", script)) &&
         instance.program.Start(folder + L"Keytwine.exe", arguments, folder);
}

bool EndsWithCode0(Program& program) {
  DWORD code = 1;
  return program.WaitExit(5000, code) && code == 0;
}

// Waits for the program's message box and closes it with `button`: "CAPTION: MESSAGE".
std::wstring CloseMessageBox(const Program& program, int button = IDOK) {
  for (int tries = 0; tries < 200; ++tries) {
    HWND box = nullptr;
    DWORD owner = 0;
    while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
      GetWindowThreadProcessId(box, &owner);
      if (owner != program.Id() || !IsWindowVisible(box)) continue;
      Sleep(200);  // let the box finish its set-up
      wchar_t caption[256] = {}, text[2048] = {};
      GetWindowTextW(box, caption, 256);
      // A message box shows its text in the static control with this identifier.
      GetDlgItemTextW(box, 0xFFFF, text, 2048);
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
      return std::wstring(caption) + L": " + text;
    }
    Sleep(50);
  }
  return L"(no message box)";
}

// `text` as a string literal of the script language: quoted, backslashes and quotes escaped,
// percent signs doubled.
std::string ScriptString(const std::wstring& text) {
  std::string literal = "\"";
  for (const char c : Narrow(text)) {
    if (c == '\\' || c == '"') literal += '\\';
    literal += c == '%' ? "%%" : std::string(1, c);
  }
  return literal + "\"";
}

// --- The smoke tests -----------------------------------------------------------------------------

void TestKeys(Env& env) {
  constexpr const char* kScript =
      "swap(0, 0, 0, 0x41, 0x1e, 0x42);  // tap A: B\n"
      "swap(0, 0, 1, 0x43, 0x2e, 0x44);  // hold C: D\n"
      "swap(0, 1, 0, 0x47, 0x22, 0x48);  // Ctrl+G: H\n"
      "swap(1, 0, 0, 0x4a, 0x24, 0x4b);  // J in portrait: K\n"
      "swap(2, 0, 0, 0x4a, 0x24, 0x4c);  // J in landscape: L\n";
  Instance instance(L"keys");
  const DWORD start = GetTickCount();
  const bool hooked = Start(env, instance, kScript, L"1000") && WaitUntilHooked(15000);
  const DWORD elapsed = GetTickCount() - start;
  if (!Check(env.results, hooked && elapsed >= 1000,
             "start-up delay: started with 1000, the program hooks no sooner",
             hooked ? "hooked after " + std::to_string(elapsed) + " ms" : "no hook in 15 s")) {
    return;
  }
  ExpectKeys(env, "swap: a tap on A sends B, A itself is swallowed", Sent(kB), [] { Tap(kA); });
  // The hold is timed by the events' own time stamps, as auto-repeat sends them.
  ExpectKeys(env, "hold: C held to 500 ms sends D once", Sent(kD), [t0 = GetTickCount()] {
    for (const DWORD at : {t0, t0 + 300, t0 + 500}) SendKey(kC, false, at);
    SendKey(kC, true, t0 + 600);
  });
  ExpectKeys(env, "Ctrl combination: Ctrl+G sends H, neither Ctrl event gets through", Sent(kH),
             [] {
               SendKey(kCtrl, false);
               Tap(kG);
               SendKey(kCtrl, true);
             });
  const bool portrait = GetSystemMetrics(SM_CXFULLSCREEN) < GetSystemMetrics(SM_CYFULLSCREEN);
  ExpectKeys(env, "orientation: J sends what the screen's orientation says",
             Sent(portrait ? Key{0x4B, 0x25} : Key{0x4C, 0x26}), [] {
               Tap(Key{0x4A, 0x24});
             });
}

// The test marker appends its parameters as a line to launched.txt beside itself.
void TestLaunch(Env& env) {
  Instance instance(L"launch");
  const std::string marker = ScriptString(instance.folder.Path() + L"TestMarker.exe");
  const std::string script = "exec(0, 0, 0, 0x41, 0x1e, " + marker + ", \"hello world\");\n" +
                             "exec(0, 0, 0, 0x42, 0x30, " + marker + ");\n" +
                             "swap(0, 0, 0, 0x43, 0x2e, 0x44);\n";
  if (!Check(env.results,
             Start(env, instance, script.c_str(), L"", L"TestMarker.exe") && WaitUntilHooked(15000),
             "launch: the program starts with Exec entries", "no hook in 15 s")) {
    return;
  }
  const std::wstring launched = instance.folder.Path() + L"launched.txt";
  const auto waitForLines = [&](int lines) {
    std::string text;
    for (int tries = 0; tries < 100 && std::count(text.begin(), text.end(), '\n') < lines;
         ++tries) {
      Sleep(100);
      text = ReadBytes(launched);
    }
    return text;
  };
  Tap(kA);
  std::string text = waitForLines(1);
  Check(env.results, text == "hello world\n",
        "launch: an Exec key starts its program with its parameters", "\"" + text + "\"");
  // Any process can post a launch request (WM_USER with an entry's index) to the main window.
  const HWND window = FindMainWindow(instance.program.Id());
  for (const WPARAM index : {WPARAM{2}, WPARAM{3}, WPARAM{1} << 32, WPARAM{1}}) {
    PostMessageW(window, WM_USER, index, 0);
  }
  waitForLines(2);
  Sleep(500);
  text = ReadBytes(launched);
  Check(env.results, text == "hello world\n\n",
        "launch: a request for entry 1 starts its program without parameters; requests for a "
        "Swap entry, beyond the table or cut to entry 0 start nothing",
        "\"" + text + "\"");
}

void TestSecondInstance(Env& env) {
  Instance first(L"first");
  if (!Check(env.results, Start(env, first, "") && WaitUntilHooked(15000),
             "second instance: the first one starts", "no hook in 15 s")) {
    return;
  }
  const HWND window = FindMainWindow(first.program.Id());
  Check(env.results,
        window != nullptr && !IsWindowVisible(window) &&
            FindWindowExW(window, nullptr, L"LISTBOX", nullptr) == nullptr,
        "without debug mode the main window is invisible and has no log", "it is not");
  // Later starts come from folders without a script: they must not run a configuration.
  const std::wstring prompt = L"Keytwine: Are you sure you want to quit Keytwine?";
  Instance second(L"second");
  const std::wstring no = Start(env, second, nullptr) ? CloseMessageBox(second.program, IDNO) : L"";
  Check(env.results,
        no == prompt && EndsWithCode0(second.program) && first.program.Running() &&
            WaitUntilHooked(3000),
        "a second start asks whether to quit; answered No, it ends and the first runs on",
        Narrow(no));
  Instance third(L"third");
  const std::wstring yes = Start(env, third, nullptr) ? CloseMessageBox(third.program, IDYES) : L"";
  Check(env.results, yes == prompt && EndsWithCode0(third.program) && EndsWithCode0(first.program),
        "answered Yes, both the second start and the first instance end with exit code 0",
        Narrow(yes));
  // The first instance removed its hook as it ended: the hook chain still works.
  Instance next(L"next");
  Check(env.results, Start(env, next, "") && WaitUntilHooked(15000),
        "after that quit, the next instance hooks", "no hook in 15 s");
}

void TestErrorBoxes(Env& env) {
  {
    Instance missing(L"missing");
    const std::wstring shown =
        Start(env, missing, nullptr) ? CloseMessageBox(missing.program) : L"";
    const std::wstring script = missing.folder.Path() + L"Keytwine.ns";
    Check(env.results,
          shown == L"Error: ### Error: File open error : Keytwine : " + script &&
              EndsWithCode0(missing.program) &&
              GetFileAttributesW(script.c_str()) == INVALID_FILE_ATTRIBUTES,
          "error box: a missing Keytwine.ns is reported in a box titled Error; the program ends "
          "with exit code 0 and creates no file",
          Narrow(shown));
  }
  // The test extension is found beside the program by the system's module search.
  Instance instance(L"library");
  const char* script =
      "#library(\"NoSuchModule.dll\")\n"
      "#library(\"KeytwineTestExtension.dll\")\n"
      "swap(0, 0, 0, 0x41, 0x1e, twice(0x21));\n";
  const std::wstring shown = Start(env, instance, script, L"", L"KeytwineTestExtension.dll")
                                 ? CloseMessageBox(instance.program)
                                 : L"";
  Check(env.results, shown == L"Error: ### Error: Library load error : Keytwine : NoSuchModule.dll",
        "error box: a library that cannot be loaded is reported", Narrow(shown));
  WaitUntilHooked(15000);
  ExpectKeys(env, "after the box, the program runs with a mapping from a library's native",
             Sent(kB), [] { Tap(kA); });
}

// The lines of the debug log in the list box's order, each followed by " | ".
std::string ReadLog(HWND log) {
  std::string text;
  const LRESULT count = SendMessageW(log, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t line[512] = {};
    SendMessageW(log, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
    text += Narrow(line) + " | ";
  }
  return text;
}

void TestDebugWindow(Env& env) {
  Instance instance(L"debug");
  Start(env, instance, "debugmode(1);\nswap(0, 0, 0, 0x41, 0x1e, 0x42);\n");
  // The main window is shown once its log list box exists.
  HWND window = nullptr;
  for (int tries = 0; tries < 200 && !IsWindowVisible(window); ++tries) {
    Sleep(50);
    window = FindMainWindow(instance.program.Id());
  }
  const HWND log = FindWindowExW(window, nullptr, L"LISTBOX", nullptr);
  if (!Check(env.results, IsWindowVisible(window) && log != nullptr,
             "debug mode: the main window shows with a log", "no visible window with a log")) {
    return;
  }
  Tap(kA);
  Sleep(500);
  // The list box sorts its lines, ignoring case. Injected events carry LLKHF_INJECTED (0x10),
  // key-ups LLKHF_UP (0x80) too.
  const std::string lines = ReadLog(log);
  Check(env.results,
        lines ==
            "--------- | --------- | Hook() | keybd_event: 0x42, 0xff, 0x0, 0x0 | "
            "keybd_event: 0x42, 0xff, 0x2, 0x0 | lResult: TRUE | lResult: TRUE | Swap() | "
            "WM_KEYDOWN: 0x41, 0x1e, 0x10 | WM_KEYUP: 0x41, 0x1e, 0x90 | ",
        "debug mode: the log shows a tap's decisions, sorted", lines);

  // The IME pair toggles the input method of the window in front: here the program's own.
  SetForegroundWindow(window);
  Sleep(200);
  // F7's key-up is sent too, as the re-sent F7 is down in the system: no key stays held.
  const std::string expected = Event(kImePrefix.vk, false, 0xFF) +
                               Event(kImeToggle.vk, false, 0xFF) +
                               Event(kImePrefix.vk, true, 0xFF) + Event(kImeToggle.vk, true, 0xFF);
  ExpectKeys(env, "IME pair: both keys swallowed, F7 re-sent inside Right Windows and released",
             expected, [] {
               SendKey(kImePrefix, false);
               Tap(kImeToggle);
               SendKey(kImePrefix, true);
             });
  const std::string after = ReadLog(log);
  const size_t toggle = after.find("ToggleIMEMode() | ");
  Check(env.results, toggle != std::string::npos && toggle == after.rfind("ToggleIMEMode() | "),
        "IME pair: the input method is toggled once", after);

  SetWindowPos(window, nullptr, 0, 0, 420, 330, SWP_NOMOVE | SWP_NOZORDER);
  Sleep(500);
  RECT client{}, list{};
  GetClientRect(window, &client);
  GetWindowRect(log, &list);
  // Without LBS_NOINTEGRALHEIGHT the list box rounds its height down to whole lines.
  const long shortBy = client.bottom - (list.bottom - list.top);
  Check(env.results,
        list.right - list.left == client.right && shortBy >= 0 &&
            shortBy < SendMessageW(log, LB_GETITEMHEIGHT, 0, 0),
        "debug mode: resizing the window resizes the log to its client area",
        "client " + std::to_string(client.right) + "x" + std::to_string(client.bottom) + ", log " +
            std::to_string(list.right - list.left) + "x" + std::to_string(list.bottom - list.top));
  PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  Check(env.results, EndsWithCode0(instance.program),
        "debug mode: minimising the window ends the program with exit code 0", "it did not");
}

void TestCheckCases(Env& env) {
  RunCheckCases(env.results, env.suiteFolder);
}

}  // namespace
}  // namespace keytwine::wintest

int main(int argc, char** argv) {
  using namespace keytwine::wintest;
  constexpr std::pair<const char*, void (*)(Env&)> kGroups[] = {
      {"keys", TestKeys},         {"launch", TestLaunch},     {"second", TestSecondInstance},
      {"errors", TestErrorBoxes}, {"debug", TestDebugWindow}, {"check", TestCheckCases}};
  wchar_t driver[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, driver, MAX_PATH);
  Env env{{}, driver};
  env.suiteFolder.erase(env.suiteFolder.rfind(L'\\') + 1);
  const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CreateThread(nullptr, 0, ObserverThread, ready, 0, nullptr);
  WaitForSingleObject(ready, 5000);
  if (Check(env.results, g_hook != nullptr, "the driver's keyboard hook is installed",
            "it is not")) {
    for (const auto& [name, run] : kGroups) {
      if (argc < 2 || std::find_if(argv + 1, argv + argc, [&](const char* arg) {
                        return std::strcmp(arg, name) == 0;
                      }) != argv + argc) {
        run(env);
      }
    }
  }
  std::printf("%d passed, %d failed\n", env.results.passed, env.results.failed);
  return env.results.failed == 0 ? 0 : 1;
}
