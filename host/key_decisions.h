// The keyboard hook's decisions: for every key event, pass it or swallow it, and on the way
// inject other keys, request program launches, toggle the IME and write debug log lines, all
// through KeyEffects. Free of platform calls; the Windows hook procedure is a thin wrapper.
#ifndef KEYTWINE_HOST_KEY_DECISIONS_H
#define KEYTWINE_HOST_KEY_DECISIONS_H

#include <cstdint>

#include "host/key_effects.h"
#include "host/map_table.h"
#include "host/virtual_keys.h"

namespace keytwine {

// Message kinds of the low-level keyboard hook (its wParam).
inline constexpr uint32_t kWmKeyDown = 0x100;
inline constexpr uint32_t kWmKeyUp = 0x101;
inline constexpr uint32_t kWmSysKeyDown = 0x104;
inline constexpr uint32_t kWmSysKeyUp = 0x105;

// The fields of one key event (KBDLLHOOKSTRUCT) that the decisions use.
struct KeyEvent {
  uint32_t vkCode;
  uint32_t scanCode;
  uint32_t flags;
  uint32_t time;
  uint32_t dwExtraInfo;
};

// The last event that reached the end of a decision, with its message kind.
struct LastEventRecord {
  uint32_t vkCode;
  uint32_t scanCode;
  uint32_t flags;
  uint32_t time;
  uint32_t dwExtraInfo;
  uint32_t messageKind;
};

// The holdStart of no hold under way. A key-down at time stamp 0 therefore starts no hold.
inline constexpr uint32_t kHoldIdle = 0;

// A key that the decisions sent down and have not sent up since, and the physical key it was
// pressed for. That key's key-up releases it, if nothing else has.
struct SentKey {
  uint32_t vk;
  uint32_t pressedFor;
};

// What the hook keeps between events. All zero at start, but for sideModifiers, which the
// platform sets; only the decisions change the rest.
struct HookState {
  // 1 where the system reports the physical Ctrl and Shift keys by side (kSideKeys), as desktop
  // Windows does: those codes then act as Ctrl and Shift. The device reports 0x11 and 0x10.
  uint32_t sideModifiers;
  // The code of the key that holds each modifier, 0 for none; in the order of kModifierKeys.
  uint32_t modifierDown[kModifierCount];
  LastEventRecord lastEvent;
  uint32_t holdStart;  // time stamp of the key-down that started the hold under way
  uint32_t holdFired;  // 1 once the hold under way has acted
  uint32_t launchPosted;
  uint32_t comboPending;
  SentKey sentDown[256];  // in the order they went down, each key at most once
  uint32_t sentDownCount;
};

enum class Verdict { Pass, Swallow };

// Everything one decision reads and acts on.
struct Remapper {
  HookState& state;
  const MapTable& table;
  const HostSettings& settings;
  KeyEffects& effects;
};

// Decides one event with nCode 0. An injected event (scan code 0xFF) passes with no state change.
Verdict DecideKeyEvent(const Remapper& remapper, uint32_t messageKind, const KeyEvent& event);

// The whole hook: a call with nCode other than 0 passes at once, touching nothing; the caller
// answers Pass with the next hook's result and Swallow with 1.
Verdict KeyboardHookDecide(const Remapper& remapper, int32_t nCode, uint32_t messageKind,
                           const KeyEvent& event);

// True for the five keys tracked as modifiers: Ctrl, Shift, Left and Right Windows, F23; with
// state.sideModifiers also for the side codes of Ctrl and Shift.
bool IsModifierKey(const HookState& state, uint32_t vkCode);

}  // namespace keytwine

#endif  // KEYTWINE_HOST_KEY_DECISIONS_H
