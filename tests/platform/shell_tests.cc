// The program around the remapper: the start-up delay, a second start, debug mode (switched on
// by the script).
#include <algorithm>

#include "tests/platform/test_cases.h"

namespace keytwine::wintest {
namespace {

constexpr Key kA{0x41, 0x1E}, kB{0x42, 0x30};

// Starts with `arguments` and reports when the hook became live.
HookTiming StartAndTime(Env& env, Instance& instance, const std::wstring& arguments,
                        bool quotePath) {
  if (!instance.folder.CopyIn(SuiteFile(env, kProgramName), kProgramName) ||
      !instance.folder.Write(kScriptName, "")) {
    return {};
  }
  const DWORD start = GetTickCount();
  if (!instance.program.Start(instance.folder.Path() + kProgramName, arguments, quotePath)) {
    return {};
  }
  return WaitUntilHooked(env.observer, start, 15000);
}

std::string TimingText(const HookTiming& timing) {
  return "last unhooked probe at " + std::to_string(timing.lastUnhookedMs) + " ms, hooked at " +
         std::to_string(timing.hookedMs) + " ms";
}

void TestDelay(Env& env, const wchar_t* arguments, bool quotePath, long delayMs) {
  Instance instance(L"delay");
  const HookTiming timing = StartAndTime(env, instance, arguments, quotePath);
  // Unhooked probes until close to the delay (the probe cycle is about 0.4 s), none after it.
  const bool ok = timing.hookedMs >= delayMs && timing.lastUnhookedMs >= delayMs - 600;
  env.results.Check(ok,
                    "start-up delay \"" + Narrow(arguments) + "\"" +
                        (quotePath ? "" : " (program path not quoted)") + " waits " +
                        std::to_string(delayMs) + " ms before hooking",
                    TimingText(timing) + DescribeDialog(instance.program.Id()));
}

// A start that should not wait: hooked well before `notBeforeMs`, which a wrong reading of the
// argument would have waited.
void TestNoDelay(Env& env, const wchar_t* arguments, long notBeforeMs, const std::string& name) {
  Instance instance(L"nodelay");
  const HookTiming timing = StartAndTime(env, instance, arguments, true);
  env.results.Check(timing.hookedMs >= 0 && timing.hookedMs < notBeforeMs, name,
                    TimingText(timing) + DescribeDialog(instance.program.Id()));
}

bool AnswerQuitPrompt(Env& env, Program& second, int answer, const std::string& name) {
  const HWND prompt = WaitForDialog(second.Id(), 10000);
  if (!env.results.Check(prompt != nullptr, name + ": the quit prompt appears", "no message box")) {
    return false;
  }
  const std::wstring caption = WindowText(prompt);
  const std::wstring text = DialogMessage(prompt);
  env.results.Check(caption == L"Keytwine" && text == L"Are you sure you want to quit Keytwine?",
                    name + ": the prompt's caption and text",
                    "caption \"" + Narrow(caption) + "\", text \"" + Narrow(text) + "\"");
  PressDialogButton(prompt, answer);
  DWORD code = 1;
  return env.results.Check(second.WaitExit(5000, &code) && code == 0,
                           name + ": the second start ends with exit code 0",
                           "still running or exit code " + std::to_string(code));
}

void TestSecondStart(Env& env) {
  Instance first(L"first");
  if (!env.results.Check(StartHooked(env, first, ""), "first instance starts",
                         "hook not live within 15 s")) {
    return;
  }
  const HWND window = FindMainWindow(first.program.Id());
  env.results.Check(
      window != nullptr && !IsWindowVisible(window) && FindLogListBox(window) == nullptr,
      "normal mode: the main window exists, invisible, without a log list box",
      window == nullptr ? "no main window" : "visible or with a list box");

  // The second start comes from a folder without a script: it must not run the configuration.
  Instance second(L"second");
  if (!StartInstance(env, second, nullptr)) return;
  AnswerQuitPrompt(env, second.program, IDNO, "second start answered No");
  env.results.Check(first.program.Running() && ProbeHooked(env.observer),
                    "answered No, the first instance keeps running with its hook",
                    "the first instance ended or lost its hook");

  Instance third(L"third");
  if (!StartInstance(env, third, nullptr)) return;
  AnswerQuitPrompt(env, third.program, IDYES, "second start answered Yes");
  DWORD code = 1;
  env.results.Check(first.program.WaitExit(5000, &code) && code == 0,
                    "answered Yes, the first instance ends with exit code 0",
                    "still running or exit code " + std::to_string(code));

  // The instance that ended so removed its hook: a later program's hook chain still works.
  Instance later(L"later");
  env.results.Check(StartHooked(env, later, ""),
                    "after a quit by a second start, the next instance hooks and passes keys on",
                    "the probe key never came back re-sent");
}

bool WaitForLogLine(HWND listBox, const std::wstring& line, std::vector<std::wstring>& lines) {
  const DWORD start = GetTickCount();
  do {
    if (ReadListBox(listBox, lines) && std::find(lines.begin(), lines.end(), line) != lines.end()) {
      return true;
    }
    Sleep(100);
  } while (GetTickCount() - start < 5000);
  return false;
}

bool IsSortedAsListBox(const std::vector<std::wstring>& lines) {
  for (size_t i = 1; i < lines.size(); ++i) {
    if (CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, lines[i - 1].c_str(), -1,
                       lines[i].c_str(), -1) == CSTR_GREATER_THAN) {
      return false;
    }
  }
  return true;
}

std::string JoinLines(const std::vector<std::wstring>& lines) {
  std::string text;
  for (const std::wstring& line : lines) text += (text.empty() ? "" : " | ") + Narrow(line);
  return text;
}

void TestDebugLog(Env& env, HWND listBox) {
  std::vector<std::wstring> lines;
  env.results.Check(WaitForLogLine(listBox, L"Hook()", lines) && lines.size() == 1,
                    "debug mode: the log starts with the line Hook()", JoinLines(lines));
  TapPhysicalKey(kA.vk, kA.scan);
  // Injected events carry LLKHF_INJECTED (0x10); key-ups also LLKHF_UP (0x80).
  std::vector<std::wstring> expected = {L"Hook()",
                                        L"WM_KEYDOWN: 0x41, 0x1e, 0x10",
                                        L"Swap()",
                                        L"keybd_event: 0x42, 0xff, 0x0, 0x0",
                                        L"lResult: TRUE",
                                        L"---------",
                                        L"WM_KEYUP: 0x41, 0x1e, 0x90",
                                        L"keybd_event: 0x42, 0xff, 0x2, 0x0",
                                        L"lResult: TRUE",
                                        L"---------"};
  Sleep(500);
  ReadListBox(listBox, lines);
  std::vector<std::wstring> sortedLines = lines;
  std::sort(sortedLines.begin(), sortedLines.end());
  std::sort(expected.begin(), expected.end());
  env.results.Check(sortedLines == expected, "debug mode: the log holds every decision's lines",
                    JoinLines(lines));
  env.results.Check(IsSortedAsListBox(lines), "debug mode: the log list box keeps its lines sorted",
                    JoinLines(lines));
}

// With the program's own window in front, the IME pair toggles that window's input method.
void TestDebugImeToggle(Env& env, HWND window, HWND listBox) {
  SetForegroundWindow(window);
  Sleep(200);
  PressImePair();
  PressImePair();
  Sleep(300);
  std::vector<std::wstring> lines;
  ReadListBox(listBox, lines);
  const auto toggles = std::count(lines.begin(), lines.end(), std::wstring(L"ToggleIMEMode()"));
  env.results.Check(IsWindow(window) && toggles == 2,
                    "debug mode: each IME pair logs ToggleIMEMode() once",
                    std::to_string(toggles) + " lines");
}

// The main window can be found as soon as it exists; its creation goes on with the list box,
// and the window is shown at its end. Returns the list box (null when there is none).
HWND WaitUntilShown(HWND window) {
  const DWORD start = GetTickCount();
  while (!(IsWindowVisible(window) && FindLogListBox(window) != nullptr) &&
         GetTickCount() - start < 5000) {
    Sleep(50);
  }
  return FindLogListBox(window);
}

void TestDebugWindow(Env& env, Instance& instance, HWND window) {
  const HWND listBox = WaitUntilShown(window);
  if (!env.results.Check(IsWindowVisible(window) && listBox != nullptr,
                         "debug mode: the main window is visible with a log list box",
                         listBox == nullptr ? "no list box" : "window invisible")) {
    return;
  }
  TestDebugLog(env, listBox);
  TestDebugImeToggle(env, window, listBox);
  SetWindowPos(window, nullptr, 0, 0, 420, 330, SWP_NOMOVE | SWP_NOZORDER);
  Sleep(500);
  RECT client{}, list{};
  GetClientRect(window, &client);
  GetWindowRect(listBox, &list);
  // Without LBS_NOINTEGRALHEIGHT the list box rounds its height down to whole lines.
  const long itemHeight = static_cast<long>(SendMessageW(listBox, LB_GETITEMHEIGHT, 0, 0));
  const long shortBy = client.bottom - (list.bottom - list.top);
  env.results.Check(list.right - list.left == client.right && shortBy >= 0 && shortBy < itemHeight,
                    "debug mode: resizing the window resizes the list box to its client area",
                    "client " + std::to_string(client.right) + "x" + std::to_string(client.bottom) +
                        ", list box " + std::to_string(list.right - list.left) + "x" +
                        std::to_string(list.bottom - list.top));
  PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  DWORD code = 1;
  env.results.Check(instance.program.WaitExit(5000, &code) && code == 0,
                    "debug mode: minimising the window ends the program with exit code 0",
                    "still running or exit code " + std::to_string(code));
}

}  // namespace

void RunStartupDelayTests(Env& env) {
  TestDelay(env, L"2500", true, 2500);
  TestDelay(env, L"1500", false, 1500);
  TestNoDelay(env, L"", 6000, "no argument: no start-up delay");
  TestNoDelay(env, L"x9000", 6000, "an argument that begins with a letter gives no delay");
  TestNoDelay(env, L"-9000", 6000, "a negative delay counts as 0");
}

void RunSecondStartTests(Env& env) {
  TestSecondStart(env);
}

void RunDebugModeTests(Env& env) {
  Instance instance(L"debug");
  const std::string script = "debugmode(1);\n" + SwapCall(kA, kB.vk);
  if (!StartInstance(env, instance, script.c_str())) return;
  const HWND window = WaitForMainWindow(instance.program.Id(), 10000);
  if (!env.results.Check(window != nullptr, "debug mode: the main window appears",
                         "no main window within 10 s")) {
    return;
  }
  TestDebugWindow(env, instance, window);
}

}  // namespace keytwine::wintest
