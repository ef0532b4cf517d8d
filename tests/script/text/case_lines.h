// What the pattern and text case files share: answer lines and the notation of byte strings.
//
// A section of answer lines holds "QUESTION => ANSWER" lines; the driver computes the answer of
// each question. Blank lines and lines that begin with '#' are kept as they are.
//
// A byte string is written as one word (no blank inside it): every byte from 0x21 to 0x7E stands
// for itself, except '<', which opens a group:
//   <82A0>     bytes in hexadecimal, two digits each (<20> is a space, <3C> a '<')
//   <>         the empty string
//   <300*ab>   the bytes after '*' (up to '>') repeated 300 times
#ifndef KEYTWINE_TESTS_SCRIPT_TEXT_CASE_LINES_H
#define KEYTWINE_TESTS_SCRIPT_TEXT_CASE_LINES_H

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>

#include "script/port/port.h"

namespace keytwine::testing {

inline std::string DecodeBytes(const std::string& word) {
  std::string bytes;
  for (size_t i = 0; i < word.size(); ++i) {
    const size_t close = word.find('>', i);
    if (word[i] != '<' || close == std::string::npos) {
      bytes += word[i];
      continue;
    }
    const std::string group = word.substr(i + 1, close - i - 1);
    const size_t star = group.find('*');
    if (star != std::string::npos) {
      for (long n = std::strtol(group.c_str(), nullptr, 10); n > 0; --n)
        bytes += group.substr(star + 1);
    } else {
      for (size_t h = 0; h + 1 < group.size(); h += 2)
        bytes += static_cast<char>(std::strtol(group.substr(h, 2).c_str(), nullptr, 16));
    }
    i = close;
  }
  return bytes;
}

// The word for some bytes: a two-byte character of the code page, and every byte that cannot
// stand for itself, in hex; a run of 16 or more equal bytes as a repetition.
inline std::string EncodeBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string word;
  bool inHex = false;
  bool secondByte = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const bool hex = secondByte || c <= 0x20 || c >= 0x7F || c == '<' ||
                     (port::IsDBCSLeadByte(c) && i + 1 < bytes.size());
    secondByte = !secondByte && hex && port::IsDBCSLeadByte(c) && i + 1 < bytes.size();
    size_t run = 1;
    while (!hex && c != '>' && i + run < bytes.size() && bytes[i + run] == bytes[i]) ++run;
    if (inHex && !hex) word += '>';
    if (run >= 16) {
      word += '<' + std::to_string(run) + '*' + bytes[i] + '>';
      i += run - 1;
    } else if (!hex) {
      word += bytes[i];
    } else {
      word += inHex ? "" : "<";
      word += {kDigits[c >> 4], kDigits[c & 15]};
    }
    inHex = hex;
  }
  if (inHex) word += '>';
  return word.empty() ? "<>" : word;
}

// The section with the answer of each question line recomputed.
inline std::string AnswerLines(const std::string& section,
                               const std::function<std::string(const std::string&)>& answer) {
  std::istringstream lines(section);
  std::string actual;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') {
      actual += line + '\n';
      continue;
    }
    const std::string question = line.substr(0, line.find(" =>"));
    actual += question + " => " + answer(question) + '\n';
  }
  return actual;
}

}  // namespace keytwine::testing

#endif  // KEYTWINE_TESTS_SCRIPT_TEXT_CASE_LINES_H
