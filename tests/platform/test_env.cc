#include "tests/platform/test_env.h"

#include <cstdio>

namespace keytwine::wintest {

bool StartInstance(Env& env, Instance& instance, const char* table, const std::wstring& arguments) {
  if (!instance.folder.CopyIn(env.programPath, kProgramName)) return false;
  if (table != nullptr && !instance.folder.Write(kTableName, table)) return false;
  return instance.program.Start(instance.folder.Path() + kProgramName, arguments);
}

bool StartHooked(Env& env, Instance& instance, const char* table) {
  const DWORD start = GetTickCount();
  if (!StartInstance(env, instance, table)) return false;
  return WaitUntilHooked(env.observer, start, 15000).hookedMs >= 0;
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

std::string SwapLine(int index, Key key, uint8_t replacement, int modifier, int hold,
                     int orientation) {
  char line[160];
  std::snprintf(line, sizeof line,
                "%d swap orientation=%d modifier=%d hold=%d vk=0x%x scan=0x%x keys=0x%x,0x0,0x0,"
                "0x0\n",
                index, orientation, modifier, hold, key.vk, key.scan, replacement);
  return line;
}

std::string ExecLine(int index, Key key, const std::wstring& path, const std::wstring& parameters) {
  char head[120];
  std::snprintf(head, sizeof head, "%d exec orientation=0 modifier=0 hold=0 vk=0x%x scan=0x%x",
                index, key.vk, key.scan);
  return std::string(head) + " path=\"" + Narrow(path) + "\" parameters=\"" + Narrow(parameters) +
         "\"\n";
}

}  // namespace keytwine::wintest
