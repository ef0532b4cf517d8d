// The key decisions' effects on Windows: keybd_event with the scan-code marker, the system's key
// state, the screen metrics, a launch request to the main window and the IME toggle.
#ifndef KEYTWINE_HOST_PLATFORM_WIN32_KEY_EFFECTS_H
#define KEYTWINE_HOST_PLATFORM_WIN32_KEY_EFFECTS_H

#include <cstdint>

#include "host/key_effects.h"
#include "host/map_table.h"

namespace keytwine {

class Win32KeyEffects final : public KeyEffects {
 public:
  explicit Win32KeyEffects(const HostSettings& settings) : settings_(settings) {}

  bool IsPortrait() override;
  void SendKey(uint8_t vk, bool up) override;
  void ReleaseHeldModifiers() override;
  bool IsKeyDown(uint8_t vk) override;
  void PostLaunch(uint32_t index) override;
  void ToggleIMEMode() override;
  void WriteLog(const char16_t* line) override;

 private:
  bool DebugMode() const { return settings_.debugMode.load(std::memory_order_relaxed) != 0; }

  const HostSettings& settings_;
};

}  // namespace keytwine

#endif  // KEYTWINE_HOST_PLATFORM_WIN32_KEY_EFFECTS_H
