// Reading native arguments whatever their type.
#include "script/text/native_args.h"

#include <gtest/gtest.h>

#include <string>

#include "script/text/text.h"

namespace keytwine {
namespace {

ValuePtr Text(const char* text) {
  ValuePtr v(NewValue());
  SetTextData(v->data, Duplicate(text));
  return v;
}

ValuePtr Int(int32_t value) {
  ValuePtr v(NewValue());
  SetIntegerData(v->data, value);
  return v;
}

TEST(NativeArgs, IntegersFromAnyArgument) {
  EXPECT_EQ(ArgToInt(Text("12abc").get()), 12);
  EXPECT_EQ(ArgToInt(Text("abc").get()), 0);
  EXPECT_EQ(ArgToInt(Text("-40").get()), -40);
  EXPECT_EQ(ArgToInt(Int(-2147483647 - 1).get()), -2147483647 - 1);
  EXPECT_EQ(ArgToInt(nullptr), 0);
  Value marker{};  // an argument without data
  EXPECT_EQ(ArgToInt(&marker), 0);
}

TEST(NativeArgs, TextIsAlwaysANewString) {
  EXPECT_STREQ(ArgToText(Int(-5).get()).get(), "-5");
  EXPECT_STREQ(ArgToText(Text("abc").get()).get(), "abc");
  const port::Owned<char> empty = ArgToText(nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty.get(), "");
  Value marker{};
  EXPECT_STREQ(ArgToText(&marker).get(), "");
}

TEST(NativeArgs, WideText) {
  EXPECT_EQ(std::u16string(ArgToWide(Text("abc").get()).get()), u"abc");
  EXPECT_EQ(std::u16string(ArgToWide(Int(7).get()).get()), u"7");
  EXPECT_EQ(std::u16string(ArgToWide(nullptr).get()), u"");
  EXPECT_EQ(std::u16string(ArgToWide(Text("\xC3\xA9t\xC3\xA9").get()).get()), u"\u00e9t\u00e9");
}

TEST(NativeArgs, WideTextInDoubleByteCodePage) {
  ASSERT_TRUE(port::SetCodePage(port::kCodePageShiftJis));
  // "Nihon" in Shift-JIS: two two-byte characters.
  const std::u16string wide(ArgToWide(Text("\x93\xfa\x96\x7b").get()).get());
  port::SetCodePage(port::kCodePageUtf8);
  EXPECT_EQ(wide, u"\u65e5\u672c");
}

TEST(NativeArgs, OutOfMemoryGivesNullNotACrash) {
  ValuePtr v = Text("abc");
  port::FailAllocationAfter(1);
  const port::Owned<char> text = ArgToText(v.get());  // copy fails, the empty string is tried
  port::FailAllocationAfter(0);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(), "");
}

}  // namespace
}  // namespace keytwine
