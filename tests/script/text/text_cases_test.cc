// Text cases: the byte-string routines on the texts of cases/*.cases (the notation is described
// at the top of each file). Every text is handed over in a heap block of exactly its size, so
// that a read past its NUL shows up under AddressSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "script/port/port.h"
#include "script/text/text.h"
#include "tests/script/text/case_lines.h"
#include "tests/support/case_file.h"

namespace keytwine::testing {
namespace {

using Words = std::vector<std::string>;

// A heap copy holding exactly the bytes and the NUL; the word "(null)" gives null.
struct Exact {
  explicit Exact(const std::string& word) {
    if (word == "(null)") return;
    const std::string bytes = DecodeBytes(word);
    block.reset(new char[bytes.size() + 1]);
    std::copy(bytes.c_str(), bytes.c_str() + bytes.size() + 1, block.get());
  }
  char* get() const { return block.get(); }
  std::unique_ptr<char[]> block;
};

std::string Shown(const char* text) {
  return text != nullptr ? EncodeBytes(text) : "(null)";
}

std::string Offset(const char* found, const Exact& text) {
  return found != nullptr ? std::to_string(found - text.get()) : "none";
}

std::string Units(const char16_t* wide) {
  if (wide == nullptr) return "(null)";
  std::string units;
  char unit[6];
  for (; *wide != 0; ++wide) {
    std::snprintf(unit, sizeof unit, " %04X", static_cast<unsigned>(*wide));
    units += unit;
  }
  return units.empty() ? "<>" : units.substr(1);
}

// The new string a routine gives, once it has been seen to give null when its first allocation
// fails.
template <typename Allocating>
auto Checked(Allocating allocating) {
  port::FailAllocationAfter(1);
  EXPECT_EQ(allocating(), nullptr);
  port::FailAllocationAfter(0);
  return allocating();
}

std::u16string WideOf(const Words& units) {
  std::u16string wide;
  for (const std::string& unit : units) {
    if (unit != "<>") wide += static_cast<char16_t>(std::stoul(unit, nullptr, 16));
  }
  return wide;
}

std::string CopyN(const Exact& source, int32_t n) {
  const size_t size = n > 0 ? static_cast<size_t>(n) : 0;
  const std::unique_ptr<char[]> destination(new char[size]);
  std::fill_n(destination.get(), size, '#');
  const char* end = keytwine::CopyN(destination.get(), source.get(), n);
  return std::to_string(end - destination.get()) + ' ' +
         EncodeBytes(std::string(destination.get(), size));
}

std::string Compare(const Words& w) {
  const Exact a(w[0]), b(w[1]);
  if (w.size() < 3) return std::to_string(CompareNoCase(a.get(), b.get()));
  const size_t n = std::stoul(w[2]);
  return std::to_string(CompareN(a.get(), b.get(), n)) + ' ' +
         std::to_string(CompareNoCaseN(a.get(), b.get(), n));
}

const std::vector<std::string> kRoutines = {
    "character-length",  "to-wide",   "to-multibyte", "copy-n",     "compare", "lower",
    "int-to-text",       "parse-hex", "parse-octal",  "string-end", "bracket", "unescape",
    "double-backslashes"};

// What a routine answers for the words of one line.
std::string Answer(const std::string& routine, const Words& w) {
  const Exact text(w[0]);
  char* t = text.get();
  if (routine == "character-length") return std::to_string(CharacterLength(t));
  if (routine == "to-wide") return Units(Checked([&] { return ToWide(t); }).get());
  if (routine == "to-multibyte") {
    const std::u16string wide = t != nullptr ? WideOf(w) : u"";
    const char16_t* units = t != nullptr ? wide.c_str() : nullptr;
    return Shown(Checked([&] { return ToMultiByte(units); }).get());
  }
  if (routine == "copy-n") return CopyN(text, std::stoi(w[1]));
  if (routine == "compare") return Compare(w);
  if (routine == "int-to-text")
    return Shown(Checked([&] { return IntToText(std::stoi(w[0])); }).get());
  if (routine == "parse-hex") return std::to_string(ParseHex(t));
  if (routine == "parse-octal") return std::to_string(ParseOctal(t));
  if (routine == "string-end") return Offset(FindStringEnd(t), text);
  if (routine == "bracket") return Offset(FindMatchingBracket(t), text);
  if (routine == "double-backslashes")
    return Shown(Checked([&] { return DoubleBackslashes(t); }).get());
  if (routine == "lower") LowerInPlace(t);
  if (routine == "unescape" && UnescapeInPlace(t) == 0) return "0";
  return Shown(t);
}

class TextCases : public ::testing::TestWithParam<std::string> {};

TEST_P(TextCases, GiveTheirAnswers) {
  CaseFile file(GetParam());
  for (const TestCase& testCase : file.Cases()) {
    const CaseSection* codePage = testCase.Find("codepage");
    ASSERT_TRUE(port::SetCodePage(codePage ? std::stoul(codePage->argument) : 65001));
    for (const CaseSection& section : testCase.sections) {
      if (std::find(kRoutines.begin(), kRoutines.end(), section.name) == kRoutines.end()) continue;
      file.Expect(testCase, section.name, AnswerLines(section.text, [&](const std::string& line) {
                    std::istringstream in(line);
                    Words words;
                    for (std::string word; in >> word;) words.push_back(word);
                    return Answer(section.name, words);
                  }));
    }
    port::SetCodePage(65001);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, TextCases,
                         ::testing::ValuesIn(CaseFile::FilesIn("tests/script/text/cases",
                                                               ".cases")),
                         [](const auto& info) { return CaseFileLabel(info.param); });

}  // namespace
}  // namespace keytwine::testing
