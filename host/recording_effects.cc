#include "host/recording_effects.h"

#include <cstdio>

namespace keytwine {

void RecordingEffects::SendKey(uint8_t vk, bool up) {
  LogKeybdEvent(*this, DebugMode(), vk, up);
  effects_.push_back({RecordedEffect::Send, vk, up, {}});
  device_.held[vk] = !up;
}

void RecordingEffects::ReleaseHeldModifiers() {
  if (recordRelease_) effects_.push_back({RecordedEffect::ReleaseModifiers, 0, false, {}});
  ReleaseHeldModifiersVia(*this);
}

void RecordingEffects::PostLaunch(uint32_t index) {
  effects_.push_back({RecordedEffect::Launch, index, false, {}});
}

void RecordingEffects::ToggleIMEMode() {
  WriteLog(u"ToggleIMEMode()");
  if (!device_.imeOpen) {
    device_.imeOpen = true;
    device_.imeConversion = ConversionModeOnOpen(device_.imeConversion);
    effects_.push_back({RecordedEffect::ImeOpen, device_.imeConversion, false, {}});
  } else {
    device_.imeOpen = false;
    effects_.push_back({RecordedEffect::ImeClose, 0, false, {}});
  }
}

void RecordingEffects::WriteLog(const char16_t* line) {
  if (DebugMode()) effects_.push_back({RecordedEffect::Log, 0, false, line});
}

std::string DescribeEffect(const RecordedEffect& effect) {
  char text[64];
  switch (effect.kind) {
    case RecordedEffect::Log:
      return "log " + ToUtf8(effect.line);
    case RecordedEffect::Send:
      std::snprintf(text, sizeof text, "send 0x%x %s", effect.value, effect.up ? "up" : "down");
      return text;
    case RecordedEffect::ReleaseModifiers:
      return "release";
    case RecordedEffect::Launch:
      std::snprintf(text, sizeof text, "launch %u", effect.value);
      return text;
    case RecordedEffect::ImeOpen:
      std::snprintf(text, sizeof text, "ime open 0x%x", effect.value);
      return text;
    case RecordedEffect::ImeClose:
      return "ime close";
  }
  return "?";
}

}  // namespace keytwine
