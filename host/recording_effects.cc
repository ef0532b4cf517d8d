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
    case RecordedEffect::Log: return "log " + ToUtf8(effect.line);
    case RecordedEffect::Send:
      std::snprintf(text, sizeof text, "send 0x%x %s", effect.value, effect.up ? "up" : "down");
      return text;
    case RecordedEffect::ReleaseModifiers: return "release";
    case RecordedEffect::Launch:
      std::snprintf(text, sizeof text, "launch %u", effect.value);
      return text;
    case RecordedEffect::ImeOpen:
      std::snprintf(text, sizeof text, "ime open 0x%x", effect.value);
      return text;
    case RecordedEffect::ImeClose: return "ime close";
  }
  return "?";
}

std::string ToUtf8(const char16_t* text) {
  std::u16string copy;
  while (text != nullptr && *text != 0) copy.push_back(*text++);
  return ToUtf8(copy);
}

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace keytwine
