// The Windows program's platform-free helpers: reading the command line and fitting error texts
// into the message box's buffer.
#include <gtest/gtest.h>

#include <string>

#include "host/platform/command_line.h"
#include "host/platform/error_text.h"

namespace keytwine {
namespace {

std::wstring Arguments(const wchar_t* commandLine) {
  return SkipProgramPath(commandLine);
}

TEST(SkipProgramPath, SkipsAnUnquotedPathAndTheBlanksAfterIt) {
  EXPECT_EQ(Arguments(L"C:\\tools\\Keytwine.exe  250"), L"250");
  EXPECT_EQ(Arguments(L"Keytwine.exe\t250"), L"250");
}

TEST(SkipProgramPath, SkipsAQuotedPathWithBlanks) {
  EXPECT_EQ(Arguments(L"\"C:\\Program Files\\Keytwine.exe\" 250"), L"250");
  EXPECT_EQ(Arguments(L"\"C:\\Program Files\\Keytwine.exe\"250"), L"250");
}

TEST(SkipProgramPath, LeavesNothingWithoutArguments) {
  EXPECT_EQ(Arguments(L"Keytwine.exe"), L"");
  EXPECT_EQ(Arguments(L"\"C:\\a b\\Keytwine.exe\""), L"");
  EXPECT_EQ(Arguments(L"\"C:\\unterminated 250"), L"");
  EXPECT_EQ(Arguments(L""), L"");
  EXPECT_EQ(SkipProgramPath<wchar_t>(nullptr), nullptr);
}

TEST(StartupDelayFromNumber, NegativeCountsAsNoDelay) {
  EXPECT_EQ(StartupDelayFromNumber(250), 250u);
  EXPECT_EQ(StartupDelayFromNumber(0), 0u);
  EXPECT_EQ(StartupDelayFromNumber(-1), 0u);
  EXPECT_EQ(StartupDelayFromNumber(-5000), 0u);
}

TEST(CopyCutText, CopiesAShortTextWhole) {
  char16_t buffer[8];
  EXPECT_EQ(CopyCutText(u"abc", buffer, 8), 3u);
  EXPECT_EQ(std::u16string(buffer), u"abc");
}

TEST(CopyCutText, CutsAndTerminates) {
  char16_t buffer[4];
  EXPECT_EQ(CopyCutText(u"abcdef", buffer, 4), 3u);
  EXPECT_EQ(std::u16string(buffer), u"abc");
}

TEST(CopyCutText, NeverSplitsASurrogatePair) {
  char16_t buffer[4];
  // U+1F600 is the pair D83D DE00; its high half would be the last unit that fits.
  EXPECT_EQ(CopyCutText(u"ab\U0001F600c", buffer, 4), 2u);
  EXPECT_EQ(std::u16string(buffer), u"ab");
  char16_t wider[5];
  EXPECT_EQ(CopyCutText(u"ab\U0001F600c", wider, 5), 4u);
  EXPECT_EQ(std::u16string(wider), u"ab\U0001F600");
}

TEST(CopyCutText, KeepsALoneHighSurrogateThatWasNotCut) {
  const char16_t text[] = {u'a', 0xD83D, u'b', 0};
  char16_t buffer[3];
  EXPECT_EQ(CopyCutText(text, buffer, 3), 2u);
  EXPECT_EQ(buffer[1], 0xD83D);
}

TEST(CopyCutText, NullTextAndEmptyBuffer) {
  char16_t buffer[2] = {u'x', u'x'};
  EXPECT_EQ(CopyCutText(nullptr, buffer, 2), 0u);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(CopyCutText(u"abc", buffer, 0), 0u);
}

TEST(CopyCutText, TheMessageBoxBufferHoldsAtMost1023Units) {
  const std::u16string longText(2000, u'x');
  char16_t buffer[kErrorTextCapacity];
  EXPECT_EQ(CopyCutText(longText.c_str(), buffer, kErrorTextCapacity), 1023u);
  EXPECT_EQ(buffer[1023], 0);
}

}  // namespace
}  // namespace keytwine
