#include "tools/number_text.h"

namespace keytwine {

namespace {

// The white space of the C locale.
bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

bool Words::Next(std::string_view& word) {
  size_t start = 0;
  while (start < rest_.size() && IsSpace(rest_[start])) ++start;
  if (start == rest_.size()) return false;
  size_t end = start + 1;
  while (end < rest_.size() && !IsSpace(rest_[end])) ++end;
  word = rest_.substr(start, end - start);
  rest_.remove_prefix(end);
  return true;
}

bool Words::AtEnd() {
  std::string_view word;
  return !Next(word);
}

bool ParseNumber(std::string_view word, uint32_t& value) {
  uint64_t base = 10;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    base = 16;
    word.remove_prefix(2);
  }
  if (word.empty()) return false;
  uint64_t result = 0;
  for (char c : word) {
    uint64_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint64_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<uint64_t>(c - 'a') + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<uint64_t>(c - 'A') + 10;
    } else {
      return false;
    }
    result = result * base + digit;
    if (result > UINT32_MAX) return false;
  }
  value = static_cast<uint32_t>(result);
  return true;
}

bool ParseSignedNumber(std::string_view word, int32_t& value) {
  const bool negative = !word.empty() && word[0] == '-';
  if (negative) word.remove_prefix(1);
  uint32_t magnitude = 0;
  if (!ParseNumber(word, magnitude)) return false;
  if (magnitude > (negative ? 0x80000000u : 0x7FFFFFFFu)) return false;
  value = negative ? static_cast<int32_t>(0u - magnitude) : static_cast<int32_t>(magnitude);
  return true;
}

}  // namespace keytwine
