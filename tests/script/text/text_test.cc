// Tests of the text and character-set utilities. Double-byte cases run under code
// page 932 (Shift-JIS). Texts that end awkwardly are copied into heap blocks of exactly their
// size, so that a read past the NUL shows up under AddressSanitizer.
#include "script/text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

namespace keytwine {
namespace {

class TextTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port::SetCodePage(port::kCodePageUtf8));
    port::FailAllocationAfter(0);
  }
  void TearDown() override {
    port::SetCodePage(port::kCodePageUtf8);
    port::FailAllocationAfter(0);
  }
};

// Code page 932 for the whole test; back to 65001 afterwards.
class ShiftJisTest : public TextTest {
 protected:
  void SetUp() override {
    TextTest::SetUp();
    ASSERT_TRUE(port::SetCodePage(port::kCodePageShiftJis));
  }
};

// A heap copy of text holding exactly its bytes and the NUL.
std::unique_ptr<char[]> Exact(const std::string& text) {
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::memcpy(copy.get(), text.c_str(), text.size() + 1);
  return copy;
}

std::string Unescaped(const std::string& text) {
  auto copy = Exact(text);
  EXPECT_EQ(UnescapeInPlace(copy.get()), 1);
  return copy.get();
}

// Offset of the answer of FindMatchingBracket, -1 for null.
long Bracket(const std::string& text) {
  auto copy = Exact(text);
  const char* end = FindMatchingBracket(copy.get());
  return end == nullptr ? -1 : end - copy.get();
}

long StringEnd(const std::string& text) {
  auto copy = Exact(text);
  return FindStringEnd(copy.get()) - copy.get();
}

// --- Characters ----------------------------------------------------------------------------

TEST_F(TextTest, CharacterLengthInUtf8) {
  EXPECT_EQ(CharacterLength(""), 0);
  EXPECT_EQ(CharacterLength("a"), 1);
  EXPECT_EQ(CharacterLength("\x93\xFA"), 1);  // no lead bytes in UTF-8
}

TEST_F(ShiftJisTest, CharacterLength) {
  EXPECT_EQ(CharacterLength("\x93\xFA"), 2);
  EXPECT_EQ(CharacterLength("\x93"), 1);  // lead byte right before the NUL
  EXPECT_EQ(CharacterLength("\xB1x"), 1);
}

// --- Code-page conversions -----------------------------------------------------------------

TEST_F(TextTest, ToWideAndToMultiByteInUtf8) {
  Owned<char16_t> wide = ToWide("a\xE6\x97\xA5");  // a日
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::u16string(wide.get()), u"a日");
  Owned<char> back = ToMultiByte(wide.get());
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back.get(), "a\xE6\x97\xA5");
}

TEST_F(ShiftJisTest, ToWideAndToMultiByte) {
  Owned<char16_t> wide = ToWide("\x93\xFA\x96\x7B\x8C\xEA.ns");
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::u16string(wide.get()), u"日本語.ns");
  Owned<char> back = ToMultiByte(u"表示");
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back.get(), "\x95\x5C\x8E\xA6");
}

TEST_F(TextTest, ConversionsOfNullAndEmpty) {
  EXPECT_EQ(ToWide(nullptr), nullptr);
  EXPECT_EQ(ToMultiByte(nullptr), nullptr);
  Owned<char16_t> wide = ToWide("");
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide.get()[0], 0);
  Owned<char> text = ToMultiByte(u"");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(), "");
}

TEST_F(TextTest, ConversionsWhenMemoryRunsOut) {
  port::FailAllocationAfter(1);
  EXPECT_EQ(ToWide("abc"), nullptr);
  port::FailAllocationAfter(1);
  EXPECT_EQ(ToMultiByte(u"abc"), nullptr);
}

// --- Engine string helpers -----------------------------------------------------------------

TEST_F(TextTest, Duplicate) {
  Owned<char> copy = Duplicate("abc");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy.get(), "abc");
  EXPECT_EQ(Duplicate(nullptr), nullptr);
  Owned<char> empty = Duplicate("");
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty.get(), "");
}

TEST_F(TextTest, DuplicateNKeepsAtMostNMinusOneBytes) {
  EXPECT_STREQ(DuplicateN("abcdef", 4).get(), "abc");
  EXPECT_STREQ(DuplicateN("abcdef", 7).get(), "abcdef");
  EXPECT_STREQ(DuplicateN("abcdef", 100).get(), "abcdef");
  EXPECT_STREQ(DuplicateN("abcdef", 1).get(), "");
  EXPECT_STREQ(DuplicateN("abcdef", 0).get(), "");  // terminated even with n 0
  EXPECT_STREQ(DuplicateN("abcdef", -3).get(), "");
  EXPECT_STREQ(DuplicateN(nullptr, 5).get(), "");
}

TEST_F(TextTest, Concat) {
  EXPECT_STREQ(Concat("ab", "cd").get(), "abcd");
  EXPECT_STREQ(Concat("", "cd").get(), "cd");
  EXPECT_STREQ(Concat("ab", nullptr).get(), "ab");
  EXPECT_STREQ(Concat(nullptr, nullptr).get(), "");
}

TEST_F(TextTest, HelpersWhenMemoryRunsOut) {
  port::FailAllocationAfter(1);
  EXPECT_EQ(Duplicate("abc"), nullptr);
  port::FailAllocationAfter(1);
  EXPECT_EQ(DuplicateN("abc", 2), nullptr);
  port::FailAllocationAfter(1);
  EXPECT_EQ(Concat("a", "b"), nullptr);
  port::FailAllocationAfter(1);
  EXPECT_EQ(IntToText(5), nullptr);
  port::FailAllocationAfter(1);
  EXPECT_EQ(DoubleBackslashes("a\\b"), nullptr);
}

// --- Copying -------------------------------------------------------------------------------

TEST_F(TextTest, CopyEnd) {
  char buffer[8] = "#######";
  char* end = CopyEnd(buffer, "abc");
  EXPECT_EQ(end, buffer + 3);
  EXPECT_STREQ(buffer, "abc");
  end = CopyEnd(end, "de");  // appending
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_EQ(end, buffer + 5);
  end = CopyEnd(buffer, nullptr);
  EXPECT_EQ(end, buffer);
  EXPECT_STREQ(buffer, "");
}

TEST_F(TextTest, CopyN) {
  char buffer[8] = "#######";
  EXPECT_EQ(CopyN(buffer, "abcdef", 4), buffer + 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], '#');  // nothing beyond n bytes

  std::memcpy(buffer, "#######", 8);
  EXPECT_EQ(CopyN(buffer, "abcdef", 1), buffer);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(buffer[1], '#');

  std::memcpy(buffer, "#######", 8);
  EXPECT_EQ(CopyN(buffer, "ab", 8), buffer + 2);
  EXPECT_STREQ(buffer, "ab");

  std::memcpy(buffer, "#######", 8);
  EXPECT_EQ(CopyN(buffer, nullptr, 8), buffer);
  EXPECT_STREQ(buffer, "");
}

TEST_F(TextTest, CopyNBelowOneWritesNothing) {
  char buffer[4] = "###";
  EXPECT_EQ(CopyN(buffer, "abc", 0), buffer);
  EXPECT_STREQ(buffer, "###");
  EXPECT_EQ(CopyN(buffer, "abc", -1), buffer);
  EXPECT_EQ(CopyN(buffer, nullptr, 0), buffer);
  EXPECT_EQ(CopyN(buffer, "abc", INT32_MIN), buffer);
  EXPECT_STREQ(buffer, "###");
  // A destination of no byte at all.
  std::unique_ptr<char[]> none(new char[0]);
  CopyN(none.get(), "abc", 0);
}

// --- Comparison ----------------------------------------------------------------------------

TEST_F(TextTest, CompareN) {
  EXPECT_EQ(CompareN("abc", "abd", 2), 0);
  EXPECT_EQ(CompareN("abc", "abd", 3), 'c' - 'd');
  EXPECT_EQ(CompareN("abc", "xyz", 0), 0);
  EXPECT_EQ(CompareN("ab", "ab", 10), 0);  // both end, equal, before n
  EXPECT_EQ(CompareN("ab", "abc", 5), -'c');
  EXPECT_EQ(CompareN("abc", "ab", 5), 'c');
  EXPECT_EQ(CompareN("A", "a", 1), 'A' - 'a');
  // Signed bytes: 0x80 is -128.
  EXPECT_EQ(CompareN("\x80", "a", 1), -128 - 'a');
  EXPECT_EQ(CompareN("\xFF", "\x01", 1), -1 - 1);
  EXPECT_EQ(CompareN(nullptr, "", 3), 0);
}

TEST_F(TextTest, CompareNoCase) {
  EXPECT_EQ(CompareNoCase("Hello", "hELLO"), 0);
  EXPECT_EQ(CompareNoCase("a", "B"), 'a' - 'b');
  EXPECT_EQ(CompareNoCase("B", "a"), 'b' - 'a');
  EXPECT_EQ(CompareNoCase("[", "A"), '[' - 'a');  // only A-Z fold
  EXPECT_EQ(CompareNoCase("@", "`"), '@' - '`');
  EXPECT_NE(CompareNoCase("\xC4", "\xE4"), 0);  // bytes from 0x80 up do not fold
  EXPECT_EQ(CompareNoCase("\xC4", "\xE4"), -60 - -28);
  EXPECT_EQ(CompareNoCase("abc", "ab"), 'c');
  EXPECT_EQ(CompareNoCase("", ""), 0);
  EXPECT_EQ(CompareNoCase("Explicit", "explicit"), 0);
}

TEST_F(TextTest, CompareNoCaseN) {
  EXPECT_EQ(CompareNoCaseN("importx", "IMPORT", 6), 0);
  EXPECT_EQ(CompareNoCaseN("impo", "IMPORT", 6), -'r');
  EXPECT_EQ(CompareNoCaseN("Library", "library", 7), 0);
  EXPECT_EQ(CompareNoCaseN("abc", "ABD", 2), 0);
  EXPECT_EQ(CompareNoCaseN("abc", "ABD", 3), 'c' - 'd');
  EXPECT_EQ(CompareNoCaseN("x", "y", 0), 0);
}

TEST_F(TextTest, LowerInPlace) {
  char text[] = "ABC xyz [Z] @`\xC4";
  LowerInPlace(text);
  EXPECT_STREQ(text, "abc xyz [z] @`\xC4");
  LowerInPlace(nullptr);
}

TEST_F(ShiftJisTest, LowerInPlaceChangesSecondBytesToo) {
  char text[] =
      "\x83\x41"
      "B";  // ア (second byte 'A') then B
  LowerInPlace(text);
  EXPECT_STREQ(text,
               "\x83\x61"
               "b");
}

TEST_F(TextTest, ComputeNameHash) {
  EXPECT_EQ(ComputeNameHash(nullptr), 0u);
  EXPECT_EQ(ComputeNameHash(""), 0u);
  EXPECT_EQ(ComputeNameHash("a"), 97u);
  EXPECT_EQ(ComputeNameHash("ab"), 2u * 97u + 98u);
  EXPECT_EQ(ComputeNameHash("\xFF"), 0xFFFFFFFFu);  // signed byte -1
  EXPECT_EQ(ComputeNameHash("a\x80"), 2u * 97u - 128u);
  // Long names wrap in 32 bits.
  std::string name(100, 'z');
  uint32_t expected = 0;
  for (char c : name) expected = expected * 2 + static_cast<uint32_t>(c);
  EXPECT_EQ(ComputeNameHash(name.c_str()), expected);
}

// --- Number text ---------------------------------------------------------------------------

TEST_F(TextTest, IntToText) {
  EXPECT_STREQ(IntToText(0).get(), "0");
  EXPECT_STREQ(IntToText(7).get(), "7");
  EXPECT_STREQ(IntToText(-5).get(), "-5");
  EXPECT_STREQ(IntToText(10).get(), "10");
  EXPECT_STREQ(IntToText(1234567890).get(), "1234567890");
  EXPECT_STREQ(IntToText(INT32_MAX).get(), "2147483647");
  EXPECT_STREQ(IntToText(INT32_MIN).get(), "-2147483648");
  EXPECT_STREQ(IntToText(-1000000000).get(), "-1000000000");
}

TEST_F(TextTest, ParseHex) {
  EXPECT_EQ(ParseHex("1fz"), 31u);
  EXPECT_EQ(ParseHex("FF"), 255u);
  EXPECT_EQ(ParseHex("aBcD"), 0xABCDu);
  EXPECT_EQ(ParseHex(""), 0u);
  EXPECT_EQ(ParseHex("g1"), 0u);
  EXPECT_EQ(ParseHex("0x10"), 0u);  // no prefix: stops at x
  EXPECT_EQ(ParseHex("FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseHex("100000000"), 0u);  // wraps
  EXPECT_EQ(ParseHex("123456789"), 0x23456789u);
  EXPECT_EQ(ParseHex(nullptr), 0u);
}

TEST_F(TextTest, ParseOctal) {
  EXPECT_EQ(ParseOctal("178"), 15u);
  EXPECT_EQ(ParseOctal("777"), 511u);
  EXPECT_EQ(ParseOctal(""), 0u);
  EXPECT_EQ(ParseOctal("9"), 0u);
  EXPECT_EQ(ParseOctal("37777777777"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseOctal("40000000000"), 0u);  // 2^32 wraps
  EXPECT_EQ(ParseOctal(nullptr), 0u);
}

// --- Source scanning -----------------------------------------------------------------------

TEST_F(TextTest, FindStringEnd) {
  EXPECT_EQ(StringEnd("\"abc\" x"), 4);
  EXPECT_EQ(StringEnd("\"\""), 1);
  EXPECT_EQ(StringEnd("\"a\\\"b\""), 5);    // "a\"b"
  EXPECT_EQ(StringEnd("\"a\\\\\"b\""), 4);  // "a\\" closes after the escaped backslash
  EXPECT_EQ(StringEnd("\"line\nbreak\""), 11);
  EXPECT_EQ(StringEnd("\"abc"), 4);   // unterminated: the NUL
  EXPECT_EQ(StringEnd("\"ab\\"), 4);  // backslash before the NUL: still the NUL
  EXPECT_EQ(StringEnd("\""), 1);
  EXPECT_EQ(StringEnd("\"\x95\"x\""), 2);      // UTF-8: 0x95 is one byte
  EXPECT_EQ(StringEnd("\"\x95\x5C\"x\""), 5);  // UTF-8: 0x5C escapes the quote
}

TEST_F(ShiftJisTest, FindStringEndStepsOverTwoByteCharacters) {
  EXPECT_EQ(StringEnd("\"\x95\x5C\""), 3);  // "表": its 0x5C is no backslash
  EXPECT_EQ(StringEnd("\"\x95\"a\""), 4);   // the pair 95 22 is one character
  EXPECT_EQ(StringEnd("\"a\x95"), 3);       // lead byte before the NUL
  EXPECT_EQ(StringEnd("\"\\\x95\"\""), 3);  // the byte after a backslash is ordinary
}

TEST_F(TextTest, FindMatchingBracketSpecCases) {
  EXPECT_EQ(Bracket("(a\")\"b)"), 6);
  EXPECT_EQ(Bracket("(a // )\n)"), 8);
  EXPECT_EQ(Bracket("([)"), 2);
}

TEST_F(TextTest, FindMatchingBracket) {
  EXPECT_EQ(Bracket("()"), 1);
  EXPECT_EQ(Bracket("((a)b)c)"), 5);
  EXPECT_EQ(Bracket("[a[b]]"), 5);
  EXPECT_EQ(Bracket("{ if (x) { y; } }"), 16);
  EXPECT_EQ(Bracket("{(}"), 2);
  EXPECT_EQ(Bracket("(a // )\r)"), 8);
  EXPECT_EQ(Bracket("(a // \" \n)"), 9);  // a quote in a comment starts no string
  EXPECT_EQ(Bracket("(a / )"), 5);
  EXPECT_EQ(Bracket("(\"\\\")\")"), 6);  // ("\")")
  EXPECT_EQ(Bracket("(/* ) */"), 4);     // block comments are not recognised
}

TEST_F(TextTest, FindMatchingBracketWithoutAnswer) {
  EXPECT_EQ(Bracket("("), -1);  // opener right before the NUL
  EXPECT_EQ(Bracket("(()"), -1);
  EXPECT_EQ(Bracket("x()"), -1);  // no opener
  EXPECT_EQ(Bracket(")"), -1);
  EXPECT_EQ(Bracket(""), -1);
  EXPECT_EQ(Bracket("(\"abc"), -1);  // unterminated string
  EXPECT_EQ(Bracket("(\"abc\\"), -1);
  EXPECT_EQ(Bracket("(a // )"), -1);  // unterminated comment
  EXPECT_EQ(Bracket("(a /"), -1);
  EXPECT_EQ(FindMatchingBracket(nullptr), nullptr);
}

TEST_F(ShiftJisTest, FindMatchingBracketStepsOverTwoByteCharacters) {
  EXPECT_EQ(Bracket("(\x83))"), 3);         // the pair 83 29 is one character
  EXPECT_EQ(Bracket("(\x83"), -1);          // lead byte before the NUL
  EXPECT_EQ(Bracket("(a\x83)"), -1);        // the ')' is a second byte
  EXPECT_EQ(Bracket("(\"\x95\x5C\")"), 5);  // ("表")
  EXPECT_EQ(Bracket("(// \x95\n)"), 6);
  EXPECT_EQ(Bracket("(// \x95"), -1);
}

TEST_F(TextTest, FindMatchingBracketInUtf8TreatsHighBytesSingly) {
  EXPECT_EQ(Bracket("(\x83))"), 2);
}

// --- Escapes -------------------------------------------------------------------------------

TEST_F(TextTest, UnescapeSpecCases) {
  EXPECT_EQ(Unescaped("a\\nb"), "a\nb");
  EXPECT_EQ(Unescaped("\\q"), "\\q");
  EXPECT_EQ(Unescaped("\\x414"), "A4");
}

TEST_F(TextTest, UnescapeSimpleEscapes) {
  EXPECT_EQ(Unescaped("\\n\\r\\t\\b"), "\n\r\t\b");
  EXPECT_EQ(Unescaped("say \\\"hi\\\""), "say \"hi\"");
  EXPECT_EQ(Unescaped("a\\\\b"), "a\\b");
  EXPECT_EQ(Unescaped("\\\\n"), "\\n");  // the produced backslash starts no escape
  EXPECT_EQ(Unescaped("\\\\\\\\"), "\\\\");
  EXPECT_EQ(Unescaped("\\N\\T"), "\\N\\T");  // only lower-case letters
  EXPECT_EQ(Unescaped("\\8\\9"), "\\8\\9");
  EXPECT_EQ(Unescaped("plain"), "plain");
  EXPECT_EQ(Unescaped(""), "");
}

TEST_F(TextTest, UnescapeHex) {
  EXPECT_EQ(Unescaped("\\x41"), "A");
  EXPECT_EQ(Unescaped("\\x4"), std::string("\x04"));
  EXPECT_EQ(Unescaped("\\x4g"), "\x04g");
  EXPECT_EQ(Unescaped("\\xfFz"), "\xFFz");
  EXPECT_EQ(Unescaped("ab\\x"), "ab");    // \x as the last two bytes is removed
  EXPECT_EQ(Unescaped("ab\\xgh"), "ab");  // no digit: the byte 0 ends the text
  EXPECT_EQ(Unescaped("ab\\x00cd"), "ab");
}

TEST_F(TextTest, UnescapeOctal) {
  EXPECT_EQ(Unescaped("\\101"), "A");
  EXPECT_EQ(Unescaped("\\1234"), "S4");  // at most three digits
  EXPECT_EQ(Unescaped("\\7"), "\x07");
  EXPECT_EQ(Unescaped("\\477"), "?");  // 0477 = 319, modulo 256 = 63
  EXPECT_EQ(Unescaped("ab\\0cd"), "ab");
  EXPECT_EQ(Unescaped("ab\\400cd"), "ab");  // 256 modulo 256 = 0
  EXPECT_EQ(Unescaped("\\18"),
            "\x01"
            "8");
}

TEST_F(TextTest, UnescapeBackslashBeforeNul) {
  EXPECT_EQ(Unescaped("ab\\"), "ab\\");
  EXPECT_EQ(Unescaped("\\"), "\\");
  EXPECT_EQ(UnescapeInPlace(nullptr), 0);
}

TEST_F(TextTest, UnescapeInUtf8TakesHighBytesSingly) {
  EXPECT_EQ(Unescaped("\x95\\n"), "\x95\n");
}

TEST_F(ShiftJisTest, UnescapeStepsOverTwoByteCharacters) {
  EXPECT_EQ(Unescaped("\x95\x5Cn"), "\x95\x5Cn");      // 表n: no escape
  EXPECT_EQ(Unescaped("\\\x95\x5Cn"), "\\\x95\x5Cn");  // backslash then 表n
  EXPECT_EQ(Unescaped("\x95\x5C\\n"), "\x95\x5C\n");
  EXPECT_EQ(Unescaped("a\x95"), "a\x95");  // lead byte before the NUL
  EXPECT_EQ(Unescaped("\\\x95"), "\\\x95");
}

TEST_F(TextTest, DoubleBackslashes) {
  Owned<char> doubled = DoubleBackslashes("a\\b");
  ASSERT_NE(doubled, nullptr);
  EXPECT_STREQ(doubled.get(), "a\\\\b");
  EXPECT_EQ(std::strlen(doubled.get()), 4u);  // one byte longer
  EXPECT_STREQ(DoubleBackslashes("\\\\").get(), "\\\\\\\\");
  EXPECT_STREQ(DoubleBackslashes("").get(), "");
  EXPECT_STREQ(DoubleBackslashes("\x95\x5C").get(), "\x95\x5C\x5C");  // UTF-8: no lead bytes
  EXPECT_EQ(DoubleBackslashes(nullptr), nullptr);
}

TEST_F(ShiftJisTest, DoubleBackslashesKeepsSecondBytes) {
  EXPECT_STREQ(DoubleBackslashes("\x95\x5C\\").get(), "\x95\x5C\\\\");
  auto lead = Exact("a\x95");
  EXPECT_STREQ(DoubleBackslashes(lead.get()).get(), "a\x95");
}

}  // namespace
}  // namespace keytwine
