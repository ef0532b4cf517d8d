// The operations through which the key decisions act on the device.
//
// The decisions call nothing else: the Windows program implements these with keybd_event,
// GetAsyncKeyState, GetSystemMetrics, PostMessageW and the input method manager, and the
// recording implementation simulates a device for tests and for the replay tool.
#ifndef KEYTWINE_HOST_KEY_EFFECTS_H
#define KEYTWINE_HOST_KEY_EFFECTS_H

#include <cstdint>

#include "host/virtual_keys.h"

namespace keytwine {

// Scan code that marks the remapper's own injected key events.
inline constexpr uint32_t kInjectedScanCode = 0xFF;

class KeyEffects {
 public:
  virtual ~KeyEffects() = default;

  // True when the full-screen width is less than its height. Asked once per event.
  virtual bool IsPortrait() = 0;
  // Injects one key event for vk with the scan-code marker 0xFF; the injected event comes back
  // to the hook and passes.
  virtual void SendKey(uint8_t vk, bool up) = 0;
  // Injects a key-up for each of the five modifier keys the system reports held.
  virtual void ReleaseHeldModifiers() = 0;
  // True when the system reports vk as held now.
  virtual bool IsKeyDown(uint8_t vk) = 0;
  // Asks the main window, asynchronously, to start the program of the Exec entry at index.
  virtual void PostLaunch(uint32_t index) = 0;
  // Opens the input method editor if it is closed, closes it if it is open.
  virtual void ToggleIMEMode() = 0;
  // Appends one line to the debug log (nothing unless debug mode is on).
  virtual void WriteLog(const char16_t* line) = 0;
};

// What every implementation shares, so that the device and the simulation act alike.

// keybd_event flag of a key-up.
inline constexpr uint32_t kKeyEventKeyUp = 2;

// IME conversion-mode bits used by the toggle.
inline constexpr uint32_t kImeCmodeNative = 0x01;
inline constexpr uint32_t kImeCmodeFullShape = 0x08;
inline constexpr uint32_t kImeCmodeRoman = 0x10;

// The conversion mode set when the toggle opens a closed IME: native and full shape, plus
// roman when the old mode had it; every other bit is cleared.
inline uint32_t ConversionModeOnOpen(uint32_t oldMode) {
  return kImeCmodeNative | kImeCmodeFullShape | (oldMode & kImeCmodeRoman);
}

// Releases, in kReleaseOrder, each modifier that effects.IsKeyDown reports held.
void ReleaseHeldModifiersVia(KeyEffects& effects);

// Writes the "keybd_event: 0x%x, 0x%x, 0x%x, 0x%x" line of one injected key event (formatted only
// when debug mode is on).
void LogKeybdEvent(KeyEffects& effects, bool debugMode, uint8_t vk, bool up);

}  // namespace keytwine

#endif  // KEYTWINE_HOST_KEY_EFFECTS_H
