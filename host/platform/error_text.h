// Fitting an error report into the message box's fixed buffer. Free of platform calls, so that
// it is tested natively.
#ifndef KEYTWINE_HOST_PLATFORM_ERROR_TEXT_H
#define KEYTWINE_HOST_PLATFORM_ERROR_TEXT_H

#include <cstddef>

namespace keytwine {

// The error message box shows at most this many UTF-16 units, the terminating 0 included.
inline constexpr size_t kErrorTextCapacity = 1024;

inline bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Copies `text` (null counts as empty) into `buffer` of `capacity` units. A longer text is cut
// at a character boundary: a surrogate pair is never split. The result is always terminated
// (when capacity is non-zero). Returns the number of units copied.
inline size_t CopyCutText(const char16_t* text, char16_t* buffer, size_t capacity) {
  if (capacity == 0) return 0;
  size_t n = 0;
  if (text != nullptr) {
    while (n + 1 < capacity && text[n] != 0) {
      buffer[n] = text[n];
      ++n;
    }
    // The cut fell between the halves of a pair: drop the high half too.
    if (n > 0 && IsHighSurrogate(buffer[n - 1]) && IsLowSurrogate(text[n])) --n;
  }
  buffer[n] = 0;
  return n;
}

}  // namespace keytwine

#endif  // KEYTWINE_HOST_PLATFORM_ERROR_TEXT_H
