// Internal to the pattern library: helpers shared by the compiler, the matcher and the dumps.
#ifndef KEYTWINE_SCRIPT_PATTERN_PATTERN_INTERNAL_H
#define KEYTWINE_SCRIPT_PATTERN_PATTERN_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "script/pattern/pattern.h"
#include "script/port/port.h"

namespace keytwine::pattern_internal {

// The any-character class text: the range 1 to 255.
inline constexpr char kAnyCharClass[] = {'\x01', '-', '\xFF', '\0'};

// Membership in the class text `cls` for the character whose bytes are `first` and `second`
// (0 for a one-byte character); isLead(byte) tells lead bytes.
template <typename LeadFn>
bool ClassContains(const unsigned char* cls, unsigned first, unsigned second, LeadFn isLead) {
  bool negated = false;
  if (*cls == '^') {
    negated = true;
    ++cls;
  }
  bool hit = false;
  while (*cls != '\0' && !hit) {
    const unsigned b = cls[0];
    if (isLead(b) && cls[1] != '\0') {
      if (cls[2] == '-' && isLead(cls[3]) && cls[4] != '\0') {
        hit = first >= b && first <= cls[3] && second >= cls[1] && second <= cls[4];
        cls += 5;
      } else {
        hit = first == b && second == cls[1];
        cls += 2;
      }
    } else if (cls[1] == '-' && cls[2] != '\0') {
      hit = first >= b && first <= cls[2];
      cls += 3;
    } else if (b == '\\' && cls[1] != '\0') {
      char expansion[12];
      const char* next = ExpandEscape(reinterpret_cast<const char*>(cls), expansion, true);
      hit = ClassContains(reinterpret_cast<const unsigned char*>(expansion), first, second, isLead);
      cls = reinterpret_cast<const unsigned char*>(next);
    } else {
      hit = first == b;
      ++cls;
    }
  }
  return hit != negated;
}

inline bool HasByte(const uint32_t* bits, unsigned byte) {
  return (bits[byte >> 5] >> (byte & 31) & 1) != 0;
}
inline void SetByte(uint32_t* bits, unsigned byte) {
  bits[byte >> 5] |= uint32_t{1} << (byte & 31);
}

// A growable array in engine memory. Push returns false when memory runs out; the array keeps
// what it had.
template <typename T>
class WorkArray {
 public:
  WorkArray() = default;
  WorkArray(const WorkArray&) = delete;
  WorkArray& operator=(const WorkArray&) = delete;
  ~WorkArray() { port::Free(items_); }

  bool Push(const T& item) {
    if (size_ == capacity_ && !Grow()) return false;
    items_[size_++] = item;
    return true;
  }
  T Pop() { return items_[--size_]; }
  bool Empty() const { return size_ == 0; }
  size_t Size() const { return size_; }
  void Clear() { size_ = 0; }

 private:
  bool Grow() {
    const size_t capacity = capacity_ == 0 ? 64 : capacity_ * 2;
    T* items =
        static_cast<T*>(port::Alloc(capacity * sizeof(T)));  // NOLINT(bugprone-sizeof-expression)
    if (items == nullptr) return false;
    if (size_ != 0) {
      std::memcpy(static_cast<void*>(items), items_,
                  size_ * sizeof(T));  // NOLINT(bugprone-sizeof-expression)
    }
    port::Free(items_);
    items_ = items;
    capacity_ = capacity;
    return true;
  }

  T* items_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Builds a NUL-terminated text in engine memory; after a failed append it stays failed.
class TextBuilder {
 public:
  TextBuilder() = default;
  TextBuilder(const TextBuilder&) = delete;
  TextBuilder& operator=(const TextBuilder&) = delete;
  ~TextBuilder() { port::Free(text_); }

  void Append(const char* bytes, size_t length) {
    if (failed_) return;
    if (length_ + length + 1 > capacity_) {
      size_t capacity = capacity_ == 0 ? 256 : capacity_;
      while (length_ + length + 1 > capacity) capacity *= 2;
      char* text = static_cast<char*>(port::Alloc(capacity));
      if (text == nullptr) {
        failed_ = true;
        return;
      }
      if (length_ != 0) std::memcpy(text, text_, length_);
      port::Free(text_);
      text_ = text;
      capacity_ = capacity;
    }
    std::memcpy(text_ + length_, bytes, length);
    length_ += length;
    text_[length_] = '\0';
  }
  void Append(const char* text) { Append(text, std::strlen(text)); }
  // One byte, written as itself when printable (0x21 to 0x7E, except those in `quote`) and as
  // \xHH otherwise.
  void AppendByte(unsigned char byte, const char* quote) {
    if (byte >= 0x21 && byte <= 0x7E && (quote == nullptr || std::strchr(quote, byte) == nullptr)) {
      const char c = static_cast<char>(byte);
      Append(&c, 1);
      return;
    }
    static const char kHex[] = "0123456789ABCDEF";
    const char escaped[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    Append(escaped, 4);
  }
  void AppendNumber(int64_t value) {
    char digits[24];
    int n = 0;
    const bool negative = value < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
      digits[n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (negative) Append("-", 1);
    while (n > 0) Append(&digits[--n], 1);
  }

  // The text built so far (an empty text when nothing was appended), or null after a failure.
  port::Owned<char> Take() {
    if (failed_) return nullptr;
    if (text_ == nullptr) Append("", 0);
    if (failed_) return nullptr;
    char* text = text_;
    text_ = nullptr;
    length_ = capacity_ = 0;
    return port::Owned<char>(text);
  }

 private:
  char* text_ = nullptr;
  size_t length_ = 0;
  size_t capacity_ = 0;
  bool failed_ = false;
};

}  // namespace keytwine::pattern_internal

#endif  // KEYTWINE_SCRIPT_PATTERN_PATTERN_INTERNAL_H
