// Errors of the configuration run, each shown in a message box titled "Error" with the engine's
// report; after a script error the program starts with the mappings added before it.
#include "tests/platform/test_cases.h"

namespace keytwine::wintest {
namespace {

constexpr Key kA{0x41, 0x1E}, kB{0x42, 0x30}, kC{0x43, 0x2E}, kD{0x44, 0x20};

void TestMissingConfiguration(Env& env) {
  Instance instance(L"missing");
  if (!StartInstance(env, instance, nullptr)) return;
  const HWND boxShown = WaitForDialog(instance.program.Id(), 10000);
  const bool windowWhileShown = FindMainWindow(instance.program.Id()) != nullptr;
  const std::wstring text = CloseErrorBox(env, instance.program, "missing configuration");
  const std::wstring expected =
      L"### Error: File open error : Keytwine : " + instance.folder.Path() + kScriptName;
  env.results.Check(text == expected,
                    "missing configuration: the box reports the file open error with the path",
                    "text \"" + Narrow(text) + "\"; expected \"" + Narrow(expected) + "\"");
  env.results.Check(boxShown != nullptr && !windowWhileShown,
                    "missing configuration: no main window is created", "a main window exists");
  DWORD code = 1;
  env.results.Check(instance.program.WaitExit(5000, &code) && code == 0,
                    "missing configuration: the program ends with exit code 0",
                    "still running or exit code " + std::to_string(code));
  const std::vector<std::wstring> files = instance.folder.Files();
  env.results.Check(files.size() == 1 && files[0] == kProgramName,
                    "missing configuration: no file is created",
                    std::to_string(files.size()) + " files in the folder");
}

// A run-time error ends the top level: the entry before it stays, the one after it is never
// added.
void TestRunTimeError(Env& env) {
  Instance instance(L"runtime-error");
  const std::string script = SwapCall(kA, kB.vk) + "x = 1 / 0;\n" + SwapCall(kC, kD.vk);
  if (!StartInstance(env, instance, script.c_str())) return;
  const std::wstring text = CloseErrorBox(env, instance.program, "script error");
  const std::wstring expected = L"### Error: Divide by ZERO : Keytwine.Keytwine:(2) : x = 1 / 0;";
  env.results.Check(text == expected, "script error: the box shows the engine's report",
                    "text \"" + Narrow(text) + "\"");
  if (!env.results.Check(WaitUntilHooked(env.observer, GetTickCount(), 15000).hookedMs >= 0,
                         "script error: the program starts after the box is closed",
                         "hook not live within 15 s")) {
    return;
  }
  ExpectKeys(env, "script error: the mapping added before the error works",
             {InjectedDown(kB), InjectedUp(kB)}, [] { TapPhysicalKey(kA.vk, kA.scan); });
  ExpectKeys(env, "script error: the statement after the error added nothing",
             {InjectedDown(kC), Up(kC, kC.scan)}, [] { TapPhysicalKey(kC.vk, kC.scan); });
}

// The box shows at most 1,023 units of a text (the native tests cover the cut at a surrogate
// pair, which a script in a single-byte code page cannot produce).
void TestLongErrorText(Env& env) {
  const std::string script = "error(\"" + std::string(1100, 'x') + "\");\n";
  Instance instance(L"long-error");
  if (!StartInstance(env, instance, script.c_str())) return;
  const std::wstring text = CloseErrorBox(env, instance.program, "long error text");
  env.results.Check(text == std::wstring(1023, L'x'), "long error text: cut to 1,023 units",
                    std::to_string(text.size()) + " units");
  env.results.Check(WaitUntilHooked(env.observer, GetTickCount(), 15000).hookedMs >= 0,
                    "after error() the program runs on", "hook not live within 15 s");
}

}  // namespace

void RunErrorTests(Env& env) {
  TestMissingConfiguration(env);
  TestRunTimeError(env);
  TestLongErrorText(env);
}

}  // namespace keytwine::wintest
