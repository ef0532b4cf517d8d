// Errors of the configuration run, shown in message boxes titled "Error".
#include "tests/platform/test_cases.h"

namespace keytwine::wintest {
namespace {

// Closes the error box of the process and returns its message ("" when none appeared).
std::wstring CloseErrorBox(Env& env, Program& program, const std::string& name) {
  const HWND box = WaitForDialog(program.Id(), 10000);
  if (!env.results.Check(box != nullptr, name + ": an error box appears", "no message box")) {
    return L"";
  }
  const std::wstring caption = WindowText(box);
  env.results.Check(caption == L"Error", name + ": the box is titled Error",
                    "caption \"" + Narrow(caption) + "\"");
  const std::wstring text = DialogMessage(box);
  PressDialogButton(box, IDOK);
  return text;
}

void TestMissingConfiguration(Env& env) {
  Instance instance(L"missing");
  if (!StartInstance(env, instance, nullptr)) return;
  const HWND boxShown = WaitForDialog(instance.program.Id(), 10000);
  const bool windowWhileShown = FindMainWindow(instance.program.Id()) != nullptr;
  const std::wstring text = CloseErrorBox(env, instance.program, "missing configuration");
  env.results.Check(text.rfind(L"### Error: File open error", 0) == 0,
                    "missing configuration: the box reports the file open error",
                    "text \"" + Narrow(text) + "\"");
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

// The error text is cut to the box's buffer of 1,024 units at a character boundary: the table
// line puts a surrogate pair across the cut, so the box shows 1,022 units.
void TestLongErrorText(Env& env) {
  const std::string prefix = "1: not a setting or table entry: ";  // the reader's message
  const std::string line =
      std::string(1022 - prefix.size(), 'x') + "\xF0\x9F\x98\x80" + std::string(100, 'y') + "\n";
  Instance instance(L"long-error");
  if (!StartInstance(env, instance, line.c_str())) return;
  const std::wstring text = CloseErrorBox(env, instance.program, "long error text");
  const bool cut = text.size() == 1022 && text.rfind(Widen(prefix), 0) == 0 && text.back() == L'x';
  env.results.Check(cut, "long error text: cut at 1,023 units without splitting a surrogate pair",
                    std::to_string(text.size()) + " units");
  // Like a script error, a bad table line does not stop the program.
  env.results.Check(WaitUntilHooked(env.observer, GetTickCount(), 15000).hookedMs >= 0,
                    "after an error in the configuration the program runs on",
                    "hook not live within 15 s");
}

}  // namespace

void RunErrorTests(Env& env) {
  TestMissingConfiguration(env);
  TestLongErrorText(env);
}

}  // namespace keytwine::wintest
