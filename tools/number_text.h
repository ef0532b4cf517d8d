// Words and number words of the tools' text formats: words are split at white space, numbers
// are decimal, or hexadecimal after "0x".
#ifndef KEYTWINE_TOOLS_NUMBER_TEXT_H
#define KEYTWINE_TOOLS_NUMBER_TEXT_H

#include <cstdint>
#include <string_view>

namespace keytwine {

// The words of a line, split at white space as a stream in the C locale splits them.
class Words {
 public:
  explicit Words(std::string_view line) : rest_(line) {}

  // The next word; false at the end of the line.
  bool Next(std::string_view& word);
  // True when no word is left.
  bool AtEnd();
  // What follows the last word taken.
  std::string_view Rest() const { return rest_; }

 private:
  std::string_view rest_;
};

// Parses a whole word as an unsigned 32-bit number; false when it is not one or does not fit.
bool ParseNumber(std::string_view word, uint32_t& value);

// Parses a whole word as a signed 32-bit number (an optional "-" before either form).
bool ParseSignedNumber(std::string_view word, int32_t& value);

}  // namespace keytwine

#endif  // KEYTWINE_TOOLS_NUMBER_TEXT_H
