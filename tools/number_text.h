// Number words of the tools' text formats: decimal, or hexadecimal after "0x".
#ifndef KEYTWINE_TOOLS_NUMBER_TEXT_H
#define KEYTWINE_TOOLS_NUMBER_TEXT_H

#include <cstdint>
#include <string_view>

namespace keytwine {

// Parses a whole word as an unsigned 32-bit number; false when it is not one or does not fit.
bool ParseNumber(std::string_view word, uint32_t& value);

// Parses a whole word as a signed 32-bit number (an optional "-" before either form).
bool ParseSignedNumber(std::string_view word, int32_t& value);

}  // namespace keytwine

#endif  // KEYTWINE_TOOLS_NUMBER_TEXT_H
