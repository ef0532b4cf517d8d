// The Windows program's platform-free helpers, tested natively: reading the start-up delay from
// the command line, and fitting error texts into the message box's buffer.
#include <gtest/gtest.h>

#include <string>

#include "host/platform/command_line.h"
#include "host/platform/error_text.h"

namespace keytwine {
namespace {

TEST(CommandLine, SkipsTheProgramPathQuotedOrNot) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\tools\\Keytwine.exe  250", L"250"},
      {L"Keytwine.exe\t250", L"250"},
      {L"\"C:\\Program Files\\Keytwine.exe\" 250", L"250"},
      {L"\"C:\\Program Files\\Keytwine.exe\"250", L"250"},
      {L"Keytwine.exe", L""},
      {L"\"C:\\a b\\Keytwine.exe\"", L""},
      {L"\"C:\\unterminated 250", L""},
      {L"", L""}};
  for (const auto& [commandLine, arguments] : cases) {
    EXPECT_EQ(std::wstring(SkipProgramPath(commandLine)), arguments) << commandLine;
  }
  EXPECT_EQ(SkipProgramPath<wchar_t>(nullptr), nullptr);
}

TEST(CommandLine, ANegativeDelayCountsAsNone) {
  EXPECT_EQ(StartupDelayFromNumber(250), 250u);
  EXPECT_EQ(StartupDelayFromNumber(0), 0u);
  EXPECT_EQ(StartupDelayFromNumber(-1), 0u);
}

// What CopyCutText leaves in a buffer of `capacity` units; the count it returns must match.
std::u16string CutTo(const char16_t* text, size_t capacity) {
  std::u16string buffer(capacity + 1, u'?');
  const size_t copied = CopyCutText(text, buffer.data(), capacity);
  EXPECT_EQ(buffer[copied], 0);
  return buffer.substr(0, copied);
}

TEST(CopyCutText, CutsAtCharacterBoundariesAndTerminates) {
  EXPECT_EQ(CutTo(u"abc", 8), u"abc");
  EXPECT_EQ(CutTo(u"abcdef", 4), u"abc");
  // U+1F600 is the pair D83D DE00: never split, whole when it fits.
  EXPECT_EQ(CutTo(u"ab\U0001F600c", 4), u"ab");
  EXPECT_EQ(CutTo(u"ab\U0001F600c", 5), u"ab\U0001F600");
  // A lone high surrogate that was not cut stays.
  const char16_t lone[] = {u'a', 0xD83D, u'b', 0};
  EXPECT_EQ(CutTo(lone, 3), std::u16string(lone, 2));
  EXPECT_EQ(CutTo(nullptr, 2), u"");
  EXPECT_EQ(CutTo(std::u16string(2000, u'x').c_str(), kErrorTextCapacity),
            std::u16string(1023, u'x'));
  char16_t untouched = u'x';
  EXPECT_EQ(CopyCutText(u"abc", &untouched, 0), 0u);
  EXPECT_EQ(untouched, u'x');
}

}  // namespace
}  // namespace keytwine
