// The Windows program's platform-free helpers, tested natively: reading the start-up delay from
// the command line, and fitting error texts into the message box's buffer.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "host/platform/command_line.h"
#include "host/platform/error_text.h"

namespace keytwine {
namespace {

TEST(CommandLine, SkipsTheProgramPathQuotedOrNotAndANegativeDelayCountsAsNone) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\tools\\Keytwine.exe \t250", L"250"},
      {L"Keytwine.exe\t 250", L"250"},
      {L"\"C:\\Program Files\\Keytwine.exe\"250", L"250"},
      {L"\"C:\\a b\\Keytwine.exe\"", L""},
      {L"\"C:\\unterminated 250", L""},
      {L"Keytwine.exe", L""}};
  for (const auto& [commandLine, arguments] : cases) {
    EXPECT_EQ(std::wstring(SkipProgramPath(commandLine)), arguments) << commandLine;
  }
  EXPECT_EQ(SkipProgramPath<wchar_t>(nullptr), nullptr);
  EXPECT_EQ(StartupDelayFromNumber(-1), 0u);
}

// A copy never splits a surrogate pair (U+10FFFF is DBFF DFFF, U+1F600 is D83D DE00), keeps a
// lone high surrogate that was not cut, and is always terminated; a buffer of no units is left
// alone.
TEST(CopyCutText, CutsAtCharacterBoundariesAndTerminates) {
  const char16_t lone[] = {u'a', 0xD83D, u'b', 0};
  const std::u16string x2000(2000, u'x');
  const std::tuple<const char16_t*, size_t, std::u16string> cases[] = {
      {u"abc", 8, u"abc"},
      {u"abcdef", 4, u"abc"},
      {u"\U0010FFFF", 2, u""},
      {u"ab\U0001F600c", 5, u"ab\U0001F600"},
      {lone, 3, std::u16string(lone, 2)},
      {nullptr, 2, u""},
      {x2000.c_str(), kErrorTextCapacity, std::u16string(1023, u'x')},
      {u"abc", 0, u""}};
  for (const auto& [text, capacity, kept] : cases) {
    std::u16string buffer(capacity + 2, u'?');  // one more unit shows a count too high
    const size_t copied = CopyCutText(text, buffer.data(), capacity);
    EXPECT_EQ(buffer.substr(0, copied + 1), kept + (capacity > 0 ? u'\0' : u'?')) << capacity;
  }
}

}  // namespace
}  // namespace keytwine
