// Drives the key decisions with synthetic events and renders what they did as text, so that a
// failing test shows the difference line by line.
#ifndef KEYTWINE_TESTS_HOST_DECISION_HARNESS_H
#define KEYTWINE_TESTS_HOST_DECISION_HARNESS_H

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/key_decisions.h"
#include "host/recording_effects.h"

namespace keytwine::testing {

inline MapEntry SwapEntry(uint8_t vk, uint8_t scan, std::initializer_list<uint8_t> keys,
                          int32_t modifier = 0, uint32_t hold = 0, int32_t orientation = 0) {
  MapEntry e;
  std::memset(&e, 0, sizeof e);
  e.type = Swap;
  e.vkCode = vk;
  e.scanCode = scan;
  e.modifier = modifier;
  e.hold = hold;
  e.orientation = orientation;
  int k = 0;
  for (uint8_t key : keys) e.keys[k++] = key;
  return e;
}

inline MapEntry ExecEntry(uint8_t vk, uint8_t scan, const char16_t* path, int32_t modifier = 0,
                          uint32_t hold = 0, int32_t orientation = 0) {
  MapEntry e;
  std::memset(&e, 0, sizeof e);
  e.type = Exec;
  e.vkCode = vk;
  e.scanCode = scan;
  e.modifier = modifier;
  e.hold = hold;
  e.orientation = orientation;
  for (size_t i = 0; path[i] != 0 && i + 1 < kMapTextLength; ++i) e.path[i] = path[i];
  return e;
}

class DecisionHarness {
 public:
  DecisionHarness() : effects_(settings_) {}

  void Add(const MapEntry& e) { table_.Append(e); }
  HostSettings& Settings() { return settings_; }
  HookState& State() { return state_; }
  SimulatedDevice& Device() { return effects_.Device(); }

  // One hook call; returns the effects it produced, one per line, then "=> swallow" or "=> pass".
  std::string Call(int32_t nCode, uint32_t kind, uint32_t vk, uint32_t scan, uint32_t time,
                   uint32_t flags = 0, uint32_t extra = 0) {
    effects_.Clear();
    Remapper r{state_, table_, settings_, effects_};
    Verdict v = KeyboardHookDecide(r, nCode, kind, KeyEvent{vk, scan, flags, time, extra});
    std::string out;
    for (const RecordedEffect& e : effects_.Effects()) out += DescribeEffect(e) + "\n";
    out += v == Verdict::Swallow ? "=> swallow" : "=> pass";
    return out;
  }
  std::string Down(uint32_t vk, uint32_t scan, uint32_t time = 0) {
    return Call(0, kWmKeyDown, vk, scan, time);
  }
  std::string Up(uint32_t vk, uint32_t scan, uint32_t time = 0) {
    return Call(0, kWmKeyUp, vk, scan, time);
  }

 private:
  HostSettings settings_;
  MapTable table_;
  HookState state_{};
  RecordingEffects effects_;
};

}  // namespace keytwine::testing

#endif  // KEYTWINE_TESTS_HOST_DECISION_HARNESS_H
