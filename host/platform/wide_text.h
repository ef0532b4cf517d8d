// The host keeps its texts as char16_t; the platform's wide-character calls take wchar_t, which
// is the same 16-bit unit on Windows.
#ifndef KEYTWINE_HOST_PLATFORM_WIDE_TEXT_H
#define KEYTWINE_HOST_PLATFORM_WIDE_TEXT_H

namespace keytwine {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide characters are UTF-16 units on Windows");

inline const wchar_t* AsWide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* AsWide(char16_t* text) {
  return reinterpret_cast<wchar_t*>(text);
}
inline const char16_t* AsChar16(const wchar_t* text) {
  return reinterpret_cast<const char16_t*>(text);
}

}  // namespace keytwine

#endif  // KEYTWINE_HOST_PLATFORM_WIDE_TEXT_H
