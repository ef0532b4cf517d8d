// The host natives called as the engine calls them, for what no script can do: call a native
// with no argument chain at all.
#include "host/natives.h"

#include <gtest/gtest.h>

#include "host/map_table.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

TEST(HostNatives, RefuseACallWithoutArgumentsBeforeTouchingAnything) {
  HostSettings& settings = TheHostSettings();
  settings.useImeToggle = 7;
  settings.holdDuration = 7;
  settings.debugMode = 7;
  const uint32_t entries = TheMapTable().Count();
  const NativeEntry* natives = HostNativeTable();
  for (int i = 0; i < kHostNativeCount; ++i) {
    ValuePtr result(NewValue());
    char message[kNativeMessageSize] = {0};
    EXPECT_EQ(natives[i].entry(nullptr, nullptr, result.get(), message), -2) << natives[i].name;
  }
  EXPECT_EQ(TheMapTable().Count(), entries);
  EXPECT_EQ(settings.useImeToggle + settings.holdDuration + settings.debugMode, 21u);
  settings.StoreDefaults();
}

}  // namespace
}  // namespace keytwine
