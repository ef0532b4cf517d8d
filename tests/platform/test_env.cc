#include "tests/platform/test_env.h"

namespace keytwine::wintest {

std::wstring SuiteFile(const Env& env, const wchar_t* name) {
  return env.suiteFolder + name;
}

bool CopyFromSuite(Env& env, Instance& instance, const wchar_t* name) {
  if (instance.folder.CopyIn(SuiteFile(env, name), name)) return true;
  return env.results.Check(false, "copy " + Narrow(name) + " into the test folder",
                           "it is not in the suite's folder");
}

bool StartInstance(Env& env, Instance& instance, const char* script,
                   const std::wstring& arguments) {
  if (!instance.folder.CopyIn(SuiteFile(env, kProgramName), kProgramName)) return false;
  if (script != nullptr && !instance.folder.Write(kScriptName, script)) return false;
  return instance.program.Start(instance.folder.Path() + kProgramName, arguments);
}

bool StartHooked(Env& env, Instance& instance, const char* script) {
  const DWORD start = GetTickCount();
  if (!StartInstance(env, instance, script)) return false;
  return WaitUntilHooked(env.observer, start, 15000).hookedMs >= 0;
}

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

SeenKey Down(Key key, uint32_t scan) {
  return {key.vk, scan, false};
}
SeenKey Up(Key key, uint32_t scan) {
  return {key.vk, scan, true};
}
SeenKey InjectedDown(Key key) {
  return {key.vk, 0xFF, false};
}
SeenKey InjectedUp(Key key) {
  return {key.vk, 0xFF, true};
}

bool ExpectKeys(Env& env, const std::string& name, const std::vector<SeenKey>& expected,
                const std::function<void()>& act) {
  env.observer.Clear();
  act();
  const std::vector<SeenKey> seen = env.observer.WaitFor(expected.size(), 3000);
  return env.results.Check(seen == expected, name,
                           "saw " + Describe(seen) + "; expected " + Describe(expected));
}

void PressImePair() {
  SendPhysicalKey(kImePrefix.vk, kImePrefix.scan, false);
  SendPhysicalKey(kImeToggle.vk, kImeToggle.scan, false);
  SendPhysicalKey(kImeToggle.vk, kImeToggle.scan, true);
  SendPhysicalKey(kImePrefix.vk, kImePrefix.scan, true);
}

}  // namespace keytwine::wintest
