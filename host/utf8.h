// UTF-8 and UTF-16 for the host's text at the edges (table listings, trace output, tests).
#ifndef KEYTWINE_HOST_UTF8_H
#define KEYTWINE_HOST_UTF8_H

#include <string>
#include <string_view>

namespace keytwine {

// Unpaired surrogates become U+FFFD. A null text is empty.
std::string ToUtf8(const std::u16string& text);
std::string ToUtf8(const char16_t* text);
void AppendUtf8(std::string& out, std::u16string_view text);

// Malformed sequences become U+FFFD.
std::u16string FromUtf8(std::string_view text);

}  // namespace keytwine

#endif  // KEYTWINE_HOST_UTF8_H
