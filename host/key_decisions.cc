#include "host/key_decisions.h"

#include <algorithm>

#include "host/log_line.h"

namespace keytwine {
namespace {

constexpr uint32_t kNoEntry = kNoMapEntry;

// The IME key pair: Right Windows then F7, both with scan code 0x11.
constexpr uint32_t kImePrefixVk = kVkRightWindows;
constexpr uint32_t kImeToggleVk = kVkF7;
constexpr uint32_t kImePairScanCode = 0x11;

bool IsDown(uint32_t kind) {
  return kind == kWmKeyDown || kind == kWmSysKeyDown;
}
bool IsUp(uint32_t kind) {
  return kind == kWmKeyUp || kind == kWmSysKeyUp;
}

// The modifier that a side code of Ctrl or Shift stands for; any other key stands for itself.
uint32_t ModifierOfSide(uint32_t vk) {
  for (const SideKey& key : kSideKeys) {
    if (key.vk == vk) return key.modifier;
  }
  return vk;
}

// The place of the modifier that vk stands for in kModifierKeys, or kModifierCount for a key
// that is no modifier.
size_t ModifierIndex(const HookState& s, uint32_t vk) {
  if (s.sideModifiers != 0) vk = ModifierOfSide(vk);
  size_t i = 0;
  while (i < kModifierCount && kModifierKeys[i].vk != vk) ++i;
  return i;
}

// Only for the tracked modifier keys.
bool Held(const HookState& s, uint8_t vk) {
  return s.modifierDown[ModifierIndex(s, vk)] != 0;
}

bool HasModifierCondition(int32_t modifier) {
  return modifier >= kCtrl && modifier <= kF23;
}

bool ModifierConditionHolds(const HookState& s, int32_t condition, uint32_t vk) {
  switch (condition) {
    case kCtrl:
      return Held(s, kVkControl);
    case kShift:
      return Held(s, kVkShift);
    case kCtrlShift:
      return Held(s, kVkControl) && Held(s, kVkShift);
    case kLeftWin:
      return Held(s, kVkLeftWindows);
    case kRightWin:
      return Held(s, kVkRightWindows);
    case kF23:
      return Held(s, kVkF23);
    default: {
      // No modifier may be held, except the event's own key when it is a modifier.
      const size_t own = ModifierIndex(s, vk);
      for (size_t i = 0; i < kModifierCount; ++i) {
        if (s.modifierDown[i] != 0 && i != own) return false;
      }
      return true;
    }
  }
}

bool SameKey(const MapEntry& e, uint32_t vk, uint32_t scan) {
  return e.vkCode == vk && e.scanCode == scan;
}

bool Matches(const MapEntry& e, bool portrait, const HookState& s, const KeyEvent& ev) {
  if (e.orientation == kPortraitOnly && !portrait) return false;
  if (e.orientation == kLandscapeOnly && portrait) return false;
  return SameKey(e, ev.vkCode, ev.scanCode) && ModifierConditionHolds(s, e.modifier, ev.vkCode);
}

// The searches visit only the entries of the key's virtual-key code, in table order.
uint32_t FindMatch(const Remapper& r, bool portrait, const KeyEvent& ev) {
  if (ev.vkCode > 0xFF) return kNoEntry;
  const MapTable& t = r.table;
  for (uint32_t i = t.FirstWithKey(static_cast<uint8_t>(ev.vkCode)); i != kNoEntry;
       i = t.NextWithKey(i)) {
    if (Matches(t.At(i), portrait, r.state, ev)) return i;
  }
  return kNoEntry;
}

// The entry that a key-up of a modifier cancels: one for the last event's key with a modifier
// condition, orientation and flags not tested.
bool FindComboEntry(const Remapper& r) {
  const LastEventRecord& last = r.state.lastEvent;
  if (last.vkCode > 0xFF) return false;
  const MapTable& t = r.table;
  for (uint32_t i = t.FirstWithKey(static_cast<uint8_t>(last.vkCode)); i != kNoEntry;
       i = t.NextWithKey(i)) {
    const MapEntry& e = t.At(i);
    if (SameKey(e, last.vkCode, last.scanCode) && HasModifierCondition(e.modifier)) return true;
  }
  return false;
}

// The tap action of a hold entry at index `from`, which matched the event: the first later tap
// entry for the same key.
uint32_t FindTapEntry(const Remapper& r, uint32_t from, const KeyEvent& ev) {
  const MapTable& t = r.table;
  for (uint32_t i = from; i != kNoEntry; i = t.NextWithKey(i)) {
    const MapEntry& e = t.At(i);
    if (SameKey(e, ev.vkCode, ev.scanCode) && e.hold == 0 && (e.type == Swap || e.type == Exec)) {
      return i;
    }
  }
  return kNoEntry;
}

// --- Keys sent down ------------------------------------------------------------------------

// Forgets the sent keys whose code satisfies `drop`, keeping the order of the others.
template <typename Drop>
void ForgetSentKeys(HookState& s, Drop drop) {
  SentKey* const end = std::remove_if(s.sentDown, s.sentDown + s.sentDownCount,
                                      [drop](const SentKey& key) { return drop(key.vk); });
  s.sentDownCount = static_cast<uint32_t>(end - s.sentDown);
}

void ForgetSentKey(HookState& s, uint32_t vk) {
  ForgetSentKeys(s, [vk](uint32_t key) { return key == vk; });
}

void PressKey(const Remapper& r, uint8_t vk, uint32_t pressedFor) {
  r.effects.SendKey(vk, false);
  HookState& s = r.state;
  ForgetSentKey(s, vk);
  s.sentDown[s.sentDownCount++] = {vk, pressedFor};
}

void ReleaseKey(const Remapper& r, uint8_t vk) {
  r.effects.SendKey(vk, true);
  ForgetSentKey(r.state, vk);
}

// The effects release the five modifier codes only; where the system holds Ctrl and Shift by side,
// those codes are released first, so that neither side stays held.
void ReleaseHeldSideKeys(const Remapper& r) {
  for (const SideKey& key : kSideKeys) {
    if (r.effects.IsKeyDown(key.vk)) r.effects.SendKey(key.vk, true);
    ForgetSentKey(r.state, key.vk);
  }
}

// The system releases every modifier it holds, whoever pressed it.
void ReleaseHeldModifiers(const Remapper& r) {
  if (r.state.sideModifiers != 0) ReleaseHeldSideKeys(r);
  ForgetSentKeys(r.state, [](uint32_t key) {
    return std::any_of(std::begin(kModifierKeys), std::end(kModifierKeys),
                       [key](const ModifierKey& m) { return m.vk == key; });
  });
  r.effects.ReleaseHeldModifiers();
}

// A key-up ends its key's press. A passed key-up releases the key itself in the system; the keys
// pressed for it that are still down are released here, the last pressed first. Normally the
// decision has released them already; not when the key-up matched another entry than the
// key-downs (a modifier or the orientation changed) or a modifier's tap did not act.
void EndPress(const Remapper& r, uint32_t vk, Verdict verdict) {
  HookState& s = r.state;
  if (verdict == Verdict::Pass) ForgetSentKey(s, vk);
  for (uint32_t i = s.sentDownCount; i-- > 0;) {
    const SentKey key = s.sentDown[i];
    if (key.pressedFor != vk) continue;
    const auto sent = static_cast<uint8_t>(key.vk);
    if (r.effects.IsKeyDown(sent)) {
      ReleaseKey(r, sent);
    } else {
      ForgetSentKey(s, sent);
    }
  }
}

// --- Key sequences -------------------------------------------------------------------------

// Each flagged modifier is sent with the code of the key that holds it: on the desktop the system
// then knows the side that is really held.
void SendFlaggedModifiers(const Remapper& r, bool up, uint32_t pressedFor) {
  for (const uint32_t holder : r.state.modifierDown) {
    if (holder == 0) continue;
    const auto vk = static_cast<uint8_t>(holder);
    if (up) {
      ReleaseKey(r, vk);
    } else {
      PressKey(r, vk, pressedFor);
    }
  }
}

void ReplayKey(const Remapper& r, uint32_t vk, bool withRelease) {
  const auto key = static_cast<uint8_t>(vk);
  ReleaseHeldModifiers(r);
  SendFlaggedModifiers(r, false, vk);
  PressKey(r, key, vk);
  if (withRelease) ReleaseKey(r, key);
  SendFlaggedModifiers(r, true, vk);
}

void ReplayDown(const Remapper& r, uint32_t vk) {
  ReplayKey(r, vk, false);
}
void ReplayTap(const Remapper& r, uint32_t vk) {
  ReplayKey(r, vk, true);
}

// The keys are pressed for the entry's key, which is the event's.
void SwapPress(const Remapper& r, const MapEntry& e) {
  ReleaseHeldModifiers(r);
  for (uint8_t key : e.keys) {
    if (key != 0) PressKey(r, key, e.vkCode);
  }
}

void SwapRelease(const Remapper& r, const MapEntry& e) {
  for (int k = 3; k >= 0; --k) {
    if (e.keys[k] != 0) ReleaseKey(r, e.keys[k]);
  }
}

void SwapReleaseHeld(const Remapper& r, const MapEntry& e) {
  for (int k = 3; k >= 0; --k) {
    if (e.keys[k] != 0 && r.effects.IsKeyDown(e.keys[k])) ReleaseKey(r, e.keys[k]);
  }
}

void LaunchOnce(const Remapper& r, uint32_t index) {
  if (r.state.launchPosted == 0) r.effects.PostLaunch(index);
}

// --- Logging -------------------------------------------------------------------------------

bool Debug(const Remapper& r) {
  return r.settings.debugMode.load(std::memory_order_relaxed) != 0;
}

void LogEvent(const Remapper& r, uint32_t kind, const KeyEvent& ev) {
  const char* name = nullptr;
  switch (kind) {
    case kWmKeyDown:
      name = "WM_KEYDOWN: ";
      break;
    case kWmKeyUp:
      name = "WM_KEYUP: ";
      break;
    case kWmSysKeyDown:
      name = "WM_SYSKEYDOWN: ";
      break;
    case kWmSysKeyUp:
      name = "WM_SYSKEYUP: ";
      break;
    default:
      return;
  }
  LogLine line;
  line.Text(name).Hex(ev.vkCode).Text(", ").Hex(ev.scanCode).Text(", ").Hex(ev.flags);
  r.effects.WriteLog(line.Get());
}

// Constant lines are handed over as they are; the effects drop them unless debug mode is on.
void Log(const Remapper& r, const char16_t* line) {
  if (Debug(r)) r.effects.WriteLog(line);
}

// --- Key-down and key-up -------------------------------------------------------------------

void EndHold(HookState& s) {
  s.holdStart = kHoldIdle;
  s.holdFired = 0;
}

Verdict DecideDown(const Remapper& r, bool portrait, uint32_t kind, const KeyEvent& ev) {
  HookState& s = r.state;
  // A modifier's first key-down is only recorded in its flag; an auto-repeat goes on.
  if (IsModifierKey(s, ev.vkCode) &&
      !(s.lastEvent.vkCode == ev.vkCode && s.lastEvent.messageKind == kind)) {
    return Verdict::Swallow;
  }
  const uint32_t i = FindMatch(r, portrait, ev);
  if (i == kNoEntry) {
    ReplayDown(r, ev.vkCode);
    return Verdict::Swallow;
  }
  const MapEntry& e = r.table.At(i);
  if (e.hold != 0) {
    if (s.holdFired != 0) return Verdict::Swallow;
    if (s.holdStart == kHoldIdle) {
      s.holdStart = ev.time;
      return Verdict::Swallow;
    }
    if (ev.time - s.holdStart < r.settings.holdDuration.load(std::memory_order_relaxed)) {
      return Verdict::Swallow;
    }
    Log(r, u"HOLD: YES");
    s.holdFired = 1;
  }
  if (e.type == Swap) {
    Log(r, u"Swap()");
    SwapPress(r, e);
    if (e.hold != 0) SwapRelease(r, e);
  } else if (e.type == Exec && s.launchPosted == 0) {
    Log(r, u"Exec(), 1");
    r.effects.PostLaunch(i);
    s.launchPosted = 1;
  }
  return Verdict::Swallow;
}

// A hold entry released before its hold fired: run the tap entry that follows it, if any.
void ReleaseBeforeHold(const Remapper& r, uint32_t holdIndex, const KeyEvent& ev) {
  HookState& s = r.state;
  const uint32_t j = FindTapEntry(r, holdIndex, ev);
  if (j == kNoEntry) {
    ReplayTap(r, ev.vkCode);
    EndHold(s);
    s.launchPosted = 0;
    return;
  }
  const MapEntry& f = r.table.At(j);
  if (f.type == Swap) {
    Log(r, u"Swap()");
    SwapPress(r, f);
    SwapRelease(r, f);
    EndHold(s);
    return;
  }
  Log(r, u"Exec(), 2");
  LaunchOnce(r, j);
  s.launchPosted = 0;
  EndHold(s);
}

// A tap entry of a modifier key acts only when the key was pressed and released on its own.
void ReleaseModifierTap(const Remapper& r, uint32_t i, uint32_t kind, const KeyEvent& ev) {
  const MapEntry& e = r.table.At(i);
  const LastEventRecord& last = r.state.lastEvent;
  if (kind == last.messageKind || ev.vkCode != last.vkCode) return;
  if (e.type == Swap) {
    SwapPress(r, e);
    SwapRelease(r, e);
  } else if (e.type == Exec) {
    Log(r, u"Exec(), 3");
    LaunchOnce(r, i);
  }
}

void ReleaseTap(const Remapper& r, uint32_t i) {
  const MapEntry& e = r.table.At(i);
  if (e.type == Swap) {
    SwapReleaseHeld(r, e);
  } else if (e.type == Exec) {
    Log(r, u"Exec(), 4");
    Log(r, r.state.launchPosted == 1 ? u"exe:TRUE" : u"exe:FALSE");
    LaunchOnce(r, i);
  }
}

Verdict DecideUp(const Remapper& r, bool portrait, uint32_t kind, const KeyEvent& ev) {
  HookState& s = r.state;
  if (s.comboPending == 1 && IsModifierKey(s, ev.vkCode) && FindComboEntry(r)) {
    Log(r, u"WM_KEYUP has canceled");
    s.comboPending = 0;
    EndHold(s);
    return Verdict::Swallow;
  }
  const uint32_t i = FindMatch(r, portrait, ev);
  if (i == kNoEntry) return Verdict::Pass;
  const MapEntry& e = r.table.At(i);
  if (HasModifierCondition(e.modifier)) s.comboPending = 1;
  if (e.hold != 0) {
    if (s.holdFired != 0) {
      EndHold(s);
      s.launchPosted = 0;
    } else {
      ReleaseBeforeHold(r, i, ev);
    }
    return Verdict::Swallow;
  }
  if (IsModifierKey(s, ev.vkCode)) {
    ReleaseModifierTap(r, i, kind, ev);
  } else {
    ReleaseTap(r, i);
  }
  EndHold(s);
  s.launchPosted = 0;
  return Verdict::Swallow;
}

// The IME key pair in landscape: Right Windows (scan 0x11) is swallowed, and F7 (scan 0x11)
// right after it toggles the IME. Overrides a pass verdict. A swallowed key-up of a key that the
// system holds (because the decisions re-sent its key-down) is sent, so that nothing stays held.
Verdict ApplyImePair(const Remapper& r, bool portrait, uint32_t kind, const KeyEvent& ev,
                     Verdict verdict) {
  if (r.settings.useImeToggle.load(std::memory_order_relaxed) == 0 || portrait) return verdict;
  if (ev.scanCode != kImePairScanCode) return verdict;
  if (ev.vkCode != kImePrefixVk && ev.vkCode != kImeToggleVk) return verdict;
  const uint8_t vk = static_cast<uint8_t>(ev.vkCode);
  if (IsUp(kind) && r.effects.IsKeyDown(vk)) ReleaseKey(r, vk);
  const LastEventRecord& last = r.state.lastEvent;
  if (vk == kImeToggleVk && last.vkCode == kImePrefixVk && last.scanCode == kImePairScanCode) {
    r.effects.ToggleIMEMode();
  }
  return Verdict::Swallow;
}

}  // namespace

bool IsModifierKey(const HookState& state, uint32_t vkCode) {
  return ModifierIndex(state, vkCode) < kModifierCount;
}

Verdict DecideKeyEvent(const Remapper& r, uint32_t kind, const KeyEvent& ev) {
  if (ev.scanCode == kInjectedScanCode) return Verdict::Pass;
  const bool portrait = r.effects.IsPortrait();
  // Either side's key-up ends its modifier, as on the device, where both sides have one code.
  const size_t modifier = ModifierIndex(r.state, ev.vkCode);
  if (modifier < kModifierCount) r.state.modifierDown[modifier] = IsDown(kind) ? ev.vkCode : 0;
  if (Debug(r)) LogEvent(r, kind, ev);

  Verdict verdict = Verdict::Pass;
  if (IsDown(kind)) {
    verdict = DecideDown(r, portrait, kind, ev);
  } else if (IsUp(kind)) {
    verdict = DecideUp(r, portrait, kind, ev);
  }
  verdict = ApplyImePair(r, portrait, kind, ev, verdict);
  if (IsUp(kind)) EndPress(r, ev.vkCode, verdict);

  Log(r, verdict == Verdict::Swallow ? u"lResult: TRUE" : u"lResult: FALSE");
  Log(r, u"---------");
  r.state.lastEvent = {ev.vkCode, ev.scanCode, ev.flags, ev.time, ev.dwExtraInfo, kind};
  return verdict;
}

Verdict KeyboardHookDecide(const Remapper& r, int32_t nCode, uint32_t kind, const KeyEvent& ev) {
  if (nCode != 0) return Verdict::Pass;
  return DecideKeyEvent(r, kind, ev);
}

}  // namespace keytwine
