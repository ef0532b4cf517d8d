// The host natives called directly with argument chains, as the engine calls them.
#include "host/natives.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/configuration.h"
#include "host/map_table.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

// An argument chain built from integers and texts; released with the test.
class Args {
 public:
  Args& Int(int32_t value) {
    Value* v = Append();
    SetIntegerData(v->data, value);
    return *this;
  }
  Args& Text(const std::string& text) {
    Value* v = Append();
    SetTextData(v->data, Duplicate(text.c_str()));
    return *this;
  }
  Value* First() { return chain_.get(); }

 private:
  Value* Append() {
    Value* v = NewValue();
    if (chain_ == nullptr) {
      chain_.reset(v);
    } else {
      Value* last = chain_.get();
      while (last->next != nullptr) last = last->next;
      last->next = v;
    }
    return v;
  }
  ValueChainPtr chain_;
};

int32_t Call(NativeFunction native, Args& args, std::string* message = nullptr) {
  ValuePtr result(NewValue());
  char buffer[kNativeMessageSize] = {0};
  const int32_t status = native(nullptr, args.First(), result.get(), buffer);
  if (message != nullptr) *message = buffer;
  return status;
}

const MapEntry& LastEntry() {
  return TheMapTable().At(TheMapTable().Count() - 1);
}

TEST(HostNatives, TableRowsInOrder) {
  const NativeEntry* table = HostNativeTable();
  const char* names[] = {"_sfunc_error",           "_sfunc_swap",         "_sfunc_exec",
                         "_sfunc_setholdduration", "_sfunc_useimetoggle", "_sfunc_debugmode"};
  for (int i = 0; i < kHostNativeCount; ++i) EXPECT_STREQ(table[i].name, names[i]);
  EXPECT_EQ(table[1].entry, &_sfunc_swap);
}

TEST(HostNatives, SwapNeedsSixArgumentsAndKeepsLow8Bits) {
  const uint32_t before = TheMapTable().Count();
  Args five;
  five.Int(0).Int(0).Int(0).Int(0x41).Int(0x1e);
  EXPECT_EQ(Call(&_sfunc_swap, five), -2);
  EXPECT_EQ(TheMapTable().Count(), before);

  Args seven;
  seven.Int(2).Int(1).Int(1).Int(300).Text("30x").Int(0x142).Text("67");
  EXPECT_EQ(Call(&_sfunc_swap, seven), 0);
  ASSERT_EQ(TheMapTable().Count(), before + 1);
  const MapEntry& e = LastEntry();
  EXPECT_EQ(e.type, Swap);
  EXPECT_EQ(e.orientation, 2);
  EXPECT_EQ(e.modifier, 1);
  EXPECT_EQ(e.hold, 1u);
  EXPECT_EQ(e.vkCode, 44);  // 300 keeps its low 8 bits
  EXPECT_EQ(e.scanCode, 30);
  EXPECT_EQ(e.keys[0], 0x42);
  EXPECT_EQ(e.keys[1], 67);
  EXPECT_EQ(e.keys[2], 0);
  EXPECT_EQ(e.keys[3], 0);
  EXPECT_EQ(e.path[0], 0);
}

TEST(HostNatives, ExecCutsLongPathsAndDefaultsParameters) {
  Args args;
  args.Int(0).Int(0).Int(0).Int(0x70).Int(0x3b).Text(std::string(300, 'p'));
  EXPECT_EQ(Call(&_sfunc_exec, args), 0);
  const MapEntry& e = LastEntry();
  EXPECT_EQ(e.type, Exec);
  EXPECT_EQ(std::u16string(e.path), std::u16string(260, u'p'));
  EXPECT_EQ(e.parameters[0], 0);
  EXPECT_EQ(e.keys[0], 0);

  Args withParameters;
  withParameters.Int(0).Int(0).Int(0).Int(0x71).Int(0x3c).Text("\\Windows\\calc.exe").Int(-5);
  EXPECT_EQ(Call(&_sfunc_exec, withParameters), 0);
  EXPECT_EQ(std::u16string(LastEntry().path), u"\\Windows\\calc.exe");
  EXPECT_EQ(std::u16string(LastEntry().parameters), u"-5");

  const uint32_t before = TheMapTable().Count();
  Args noPath;
  noPath.Int(0).Int(0).Int(0).Int(0x71).Int(0x3c);
  EXPECT_EQ(Call(&_sfunc_exec, noPath), -2);
  EXPECT_EQ(TheMapTable().Count(), before);
}

TEST(HostNatives, SettersStoreIntegersAndNeedTheirArgument) {
  HostSettings& settings = TheHostSettings();
  settings.StoreDefaults();
  Args none;
  EXPECT_EQ(Call(&_sfunc_debugmode, none), -2);
  EXPECT_EQ(Call(&_sfunc_setholdduration, none), -2);
  EXPECT_EQ(Call(&_sfunc_useimetoggle, none), -2);
  EXPECT_EQ(settings.debugMode, 0);

  Args two, zero, duration;
  two.Int(2);
  zero.Text("0");
  duration.Text("750ms").Int(99);  // surplus arguments are ignored
  EXPECT_EQ(Call(&_sfunc_debugmode, two), 0);
  EXPECT_EQ(Call(&_sfunc_useimetoggle, zero), 0);
  EXPECT_EQ(Call(&_sfunc_setholdduration, duration), 0);
  EXPECT_EQ(settings.debugMode, 2);
  EXPECT_EQ(settings.useImeToggle, 0);
  EXPECT_EQ(settings.holdDuration, 750u);
  settings.StoreDefaults();
}

std::vector<std::u16string> g_shown;
void RecordError(const char16_t* text) {
  g_shown.emplace_back(text);
}

TEST(HostNatives, ErrorShowsItsTextCutToTheBox) {
  g_shown.clear();
  SetErrorSink(&RecordError);
  Args none;
  EXPECT_EQ(Call(&_sfunc_error, none), -2);
  Args number, text, longText;
  number.Int(-7);
  text.Text("### Error: Divide by ZERO : a.b:(3) : x = 1 / 0;");
  // 1,022 letters then a character outside the basic plane: its surrogate pair would not fit.
  longText.Text(std::string(1022, 'x') + "\xF0\x9F\x98\x80" + "tail");
  EXPECT_EQ(Call(&_sfunc_error, number), 0);
  EXPECT_EQ(Call(&_sfunc_error, text), 0);
  EXPECT_EQ(Call(&_sfunc_error, longText), 0);
  SetErrorSink(nullptr);
  ASSERT_EQ(g_shown.size(), 3u);
  EXPECT_EQ(g_shown[0], u"-7");
  EXPECT_EQ(g_shown[1], u"### Error: Divide by ZERO : a.b:(3) : x = 1 / 0;");
  EXPECT_EQ(g_shown[2], std::u16string(1022, u'x'));
}

}  // namespace
}  // namespace keytwine
