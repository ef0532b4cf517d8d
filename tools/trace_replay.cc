#include "tools/trace_replay.h"

#include <istream>
#include <ostream>
#include <string_view>
#include <vector>

#include "host/key_decisions.h"
#include "host/recording_effects.h"
#include "host/utf8.h"
#include "tools/number_text.h"

namespace keytwine {
namespace {

struct Replay {
  const MapTable& table;
  const HostSettings& settings;
  std::ostream& out;
  HookState state{};
  RecordingEffects effects;

  Replay(const MapTable& t, const HostSettings& s, std::ostream& o)
      : table(t), settings(s), out(o), effects(s) {
    effects.RecordReleaseMarker(false);
  }

  void HookCall(int32_t nCode, uint32_t kind, const KeyEvent& event);
  void StartProgram(uint32_t index);
};

bool IsDownKind(uint32_t kind) {
  return kind == kWmKeyDown || kind == kWmSysKeyDown;
}
bool IsUpKind(uint32_t kind) {
  return kind == kWmKeyUp || kind == kWmSysKeyUp;
}

void Replay::HookCall(int32_t nCode, uint32_t kind, const KeyEvent& event) {
  effects.Clear();
  Remapper remapper{state, table, settings, effects};
  const Verdict verdict = KeyboardHookDecide(remapper, nCode, kind, event);
  std::vector<uint32_t> launches;
  for (const RecordedEffect& e : effects.Effects()) {
    out << DescribeEffect(e) << "\n";
    if (e.kind == RecordedEffect::Launch) launches.push_back(e.value);
  }
  out << (verdict == Verdict::Swallow ? "=> swallow" : "=> pass") << "\n";
  // A passed physical event reaches the system, which then reports the key held or released.
  if (verdict == Verdict::Pass && event.vkCode < 256) {
    if (IsDownKind(kind)) effects.Device().held[event.vkCode] = true;
    if (IsUpKind(kind)) effects.Device().held[event.vkCode] = false;
  }
  for (uint32_t index : launches) StartProgram(index);
}

// What the main window does with a launch request: only Exec entries inside the table start.
void Replay::StartProgram(uint32_t index) {
  const MapEntry* entry = table.Find(index);
  if (entry == nullptr || entry->type != Exec) return;
  out << "start \"" << ToUtf8(entry->path) << "\" \"" << ToUtf8(entry->parameters) << "\"\n";
}

bool Numbers(Words& words, uint32_t* values, int required, int total) {
  std::string_view word;
  int n = 0;
  for (; n < total && words.Next(word); ++n) {
    if (!ParseNumber(word, values[n])) return false;
  }
  return n >= required && words.AtEnd();
}

// Key and scan codes are bytes in the events the hook receives.
bool KeyCodes(uint32_t vk, uint32_t scan) {
  return vk <= 0xFF && scan <= 0xFF;
}

bool KindOfWord(std::string_view word, uint32_t& kind) {
  static constexpr struct {
    std::string_view word;
    uint32_t kind;
  } kKinds[] = {
      {"down", kWmKeyDown}, {"up", kWmKeyUp}, {"sysdown", kWmSysKeyDown}, {"sysup", kWmSysKeyUp}};
  for (const auto& k : kKinds) {
    if (word == k.word) {
      kind = k.kind;
      return true;
    }
  }
  return false;
}

// Runs one trace line; false when it is malformed.
bool RunLine(Replay& replay, std::string_view line) {
  Words words(line);
  std::string_view command, word;
  if (!words.Next(command)) return true;
  SimulatedDevice& device = replay.effects.Device();
  uint32_t kind = 0;
  if (command == "portrait" || command == "landscape") {
    device.portrait = command == "portrait";
    return words.AtEnd();
  }
  if (command == "desktop" || command == "device") {
    replay.state.sideModifiers = command == "desktop" ? 1 : 0;
    return words.AtEnd();
  }
  if (command == "keystate") {
    uint32_t vk = 0;
    std::string_view state;
    if (!words.Next(word) || !words.Next(state) || !ParseNumber(word, vk) || vk > 0xFF) {
      return false;
    }
    if (state != "down" && state != "up") return false;
    device.held[vk] = state == "down";
    return words.AtEnd();
  }
  if (command == "ime") {
    uint32_t mode[1] = {device.imeConversion};
    if (!words.Next(word) || (word != "open" && word != "closed")) return false;
    if (!Numbers(words, mode, 0, 1)) return false;
    device.imeOpen = word == "open";
    device.imeConversion = mode[0];
    return true;
  }
  if (KindOfWord(command, kind)) {
    uint32_t v[5] = {0, 0, 0, 0, 0};
    if (!Numbers(words, v, 3, 5) || !KeyCodes(v[0], v[1])) return false;
    replay.HookCall(
        0, kind,
        {.vkCode = v[0], .scanCode = v[1], .flags = v[3], .time = v[2], .dwExtraInfo = v[4]});
    return true;
  }
  if (command == "event") {
    int32_t nCode = 0;
    uint32_t v[6] = {0, 0, 0, 0, 0, 0};
    if (!words.Next(word) || !ParseSignedNumber(word, nCode) || !Numbers(words, v, 4, 6) ||
        !KeyCodes(v[1], v[2])) {
      return false;
    }
    replay.HookCall(
        nCode, v[0],
        {.vkCode = v[1], .scanCode = v[2], .flags = v[4], .time = v[3], .dwExtraInfo = v[5]});
    return true;
  }
  return false;
}

}  // namespace

int ReplayTrace(std::istream& trace, const std::string& traceName, const MapTable& table,
                const HostSettings& settings, std::ostream& out, std::ostream& errors, bool echo) {
  Replay replay(table, settings, out);
  // The main window's creation writes this line before the hook is installed.
  if (settings.debugMode.load() != 0) out << "log Hook()\n";
  std::string line;
  for (int number = 1; std::getline(trace, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string command = line.substr(0, line.find('#'));
    const size_t first = command.find_first_not_of(" \t");
    if (echo && first != std::string::npos) {
      out << "> " << line.substr(first, line.find_last_not_of(" \t") + 1 - first) << "\n";
    }
    if (!RunLine(replay, command)) {
      out.flush();
      errors << traceName << ":" << number << ": malformed trace line: " << command << "\n";
      return kMalformedTraceStatus;
    }
  }
  return 0;
}

}  // namespace keytwine
