// KeyEffects on a simulated device, recording every effect in order.
//
// Used by the tests and by the replay tool. The simulation acts as the device does: SendKey logs
// its keybd_event line and changes which keys the system reports held, ReleaseHeldModifiers
// releases the held modifiers in the device's order, and ToggleIMEMode opens and closes a
// simulated input method with the device's conversion-mode rules.
#ifndef KEYTWINE_HOST_RECORDING_EFFECTS_H
#define KEYTWINE_HOST_RECORDING_EFFECTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "host/key_effects.h"
#include "host/map_table.h"
#include "host/utf8.h"

namespace keytwine {

struct RecordedEffect {
  enum Kind { Log, Send, ReleaseModifiers, Launch, ImeOpen, ImeClose };
  Kind kind;
  uint32_t value;       // Send: the key; Launch: the index; ImeOpen: the new conversion mode
  bool up;              // Send only
  std::u16string line;  // Log only
};

struct SimulatedDevice {
  bool portrait = false;
  bool held[256] = {};
  bool imeOpen = false;
  uint32_t imeConversion = 0;
  uint32_t imeSentence = 0;
};

class RecordingEffects final : public KeyEffects {
 public:
  explicit RecordingEffects(const HostSettings& settings) : settings_(settings) {
    effects_.reserve(256);
  }

  SimulatedDevice& Device() { return device_; }
  const std::vector<RecordedEffect>& Effects() const { return effects_; }
  // Forgets the recorded effects; the device keeps its state.
  void Clear() { effects_.clear(); }

  // Whether ReleaseHeldModifiers itself is recorded (the tests want it; the replay tool shows
  // only the key events it injects).
  void RecordReleaseMarker(bool on) { recordRelease_ = on; }

  bool IsPortrait() override { return device_.portrait; }
  void SendKey(uint8_t vk, bool up) override;
  void ReleaseHeldModifiers() override;
  bool IsKeyDown(uint8_t vk) override { return device_.held[vk]; }
  void PostLaunch(uint32_t index) override;
  void ToggleIMEMode() override;
  void WriteLog(const char16_t* line) override;

 private:
  bool DebugMode() const { return settings_.debugMode.load(std::memory_order_relaxed) != 0; }

  const HostSettings& settings_;
  SimulatedDevice device_;
  std::vector<RecordedEffect> effects_;
  bool recordRelease_ = true;
};

// One effect as a line of text: "log TEXT", "send 0x41 down", "release", "launch 2",
// "ime open 0x19", "ime close". Log text is written as UTF-8.
std::string DescribeEffect(const RecordedEffect& effect);

}  // namespace keytwine

#endif  // KEYTWINE_HOST_RECORDING_EFFECTS_H
