// A debug log line built in a fixed buffer of 256 UTF-16 units on the stack: no allocation, no
// locale, no printf. Text that does not fit is cut; the line is always terminated.
#ifndef KEYTWINE_HOST_LOG_LINE_H
#define KEYTWINE_HOST_LOG_LINE_H

#include <cstddef>
#include <cstdint>

namespace keytwine {

class LogLine {
 public:
  static constexpr size_t kCapacity = 256;

  // Appends ASCII text.
  LogLine& Text(const char* text) {
    while (*text != '\0') Put(static_cast<char16_t>(static_cast<unsigned char>(*text++)));
    return *this;
  }

  // Appends "0x" and the value in lower-case hexadecimal without leading zeros.
  LogLine& Hex(uint32_t value) {
    Text("0x");
    int shift = 28;
    while (shift > 0 && ((value >> shift) & 0xF) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) Put(u"0123456789abcdef"[(value >> shift) & 0xF]);
    return *this;
  }

  const char16_t* Get() const { return buffer_; }

 private:
  void Put(char16_t unit) {
    if (length_ + 1 < kCapacity) {
      buffer_[length_++] = unit;
      buffer_[length_] = 0;
    }
  }

  char16_t buffer_[kCapacity] = {0};
  size_t length_ = 0;
};

}  // namespace keytwine

#endif  // KEYTWINE_HOST_LOG_LINE_H
