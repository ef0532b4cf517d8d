// Reading native arguments whatever their type.
#include "script/text/native_args.h"

#include <gtest/gtest.h>

#include <string>

#include "script/text/text.h"

namespace keytwine {
namespace {

ValuePtr Text(const char* text) {
  ValuePtr value(NewValue());
  SetTextData(value->data, Duplicate(text));
  return value;
}

ValuePtr Int(int32_t number) {
  ValuePtr value(NewValue());
  SetIntegerData(value->data, number);
  return value;
}

std::u16string Wide(const Value* argument) {
  return ArgToWide(argument).get();
}

TEST(NativeArgs, IntegerTextAndWideTextOfAnyArgument) {
  Value noData{};
  EXPECT_EQ(ArgToInt(Text("-40abc").get()), -40);
  EXPECT_EQ(ArgToInt(Text("abc").get()), 0);
  EXPECT_EQ(ArgToInt(Int(INT32_MIN).get()), INT32_MIN);
  EXPECT_EQ(ArgToInt(nullptr) + ArgToInt(&noData), 0);
  EXPECT_STREQ(ArgToText(Int(-5).get()).get(), "-5");
  EXPECT_STREQ(ArgToText(Text("abc").get()).get(), "abc");
  EXPECT_STREQ(ArgToText(nullptr).get(), "");
  EXPECT_STREQ(ArgToText(&noData).get(), "");
  EXPECT_EQ(Wide(Int(7).get()), u"7");
  EXPECT_EQ(Wide(nullptr), u"");
  EXPECT_EQ(Wide(Text("\xC3\xA9t\xC3\xA9").get()), u"\u00e9t\u00e9");
  ASSERT_TRUE(port::SetCodePage(port::kCodePageShiftJis));
  const std::u16string nihon = Wide(Text("\x93\xfa\x96\x7b").get());
  port::SetCodePage(port::kCodePageUtf8);
  EXPECT_EQ(nihon, u"\u65e5\u672c");
}

TEST(NativeArgs, TextIsNullWhenTheCopyFails) {
  ValuePtr value = Text("abc");
  port::FailAllocationAfter(1);
  const port::Owned<char> text = ArgToText(value.get());
  port::FailAllocationAfter(0);
  EXPECT_EQ(text, nullptr);
}

}  // namespace
}  // namespace keytwine
