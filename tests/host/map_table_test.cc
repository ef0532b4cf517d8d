#include "host/map_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/host/decision_harness.h"

namespace keytwine::testing {
namespace {

std::vector<uint32_t> CapacitiesWhileAppending(MapTable& table, int n) {
  std::vector<uint32_t> seen;
  for (int i = 0; i < n; ++i) {
    EXPECT_TRUE(table.Append(SwapEntry(static_cast<uint8_t>(i + 1), 0, {0x41})));
    seen.push_back(table.Capacity());
  }
  return seen;
}

TEST(MapTable, GrowsByDoublingAndCompactsToTheCount) {
  MapTable table;
  EXPECT_EQ(CapacitiesWhileAppending(table, 5), (std::vector<uint32_t>{1, 2, 4, 4, 8}));
  EXPECT_TRUE(table.Compact());
  EXPECT_EQ(table.Count(), 5u);
  EXPECT_EQ(table.Capacity(), 5u);
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(table.At(i).vkCode, i + 1);
  EXPECT_EQ(table.Find(5), nullptr);
  ASSERT_NE(table.Find(4), nullptr);
  // Appending after compaction grows from the count again.
  EXPECT_TRUE(table.Append(SwapEntry(9, 0, {})));
  EXPECT_EQ(table.Capacity(), 10u);
}

TEST(MapTable, CompactingAnEmptyTableLeavesNothing) {
  MapTable table;
  EXPECT_TRUE(table.Compact());
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_EQ(table.Capacity(), 0u);
  EXPECT_EQ(table.Find(0), nullptr);
}

TEST(MapTable, EntriesAreCopiedWhole) {
  MapTable table;
  MapEntry e = ExecEntry(0x70, 0x3b, u"\\Windows\\calc.exe", 1, 1, 2);
  e.parameters[0] = u'x';
  table.Append(e);
  table.Append(SwapEntry(1, 2, {3, 4, 5, 6}));
  table.Compact();
  const MapEntry& copy = table.At(0);
  EXPECT_EQ(copy.type, Exec);
  EXPECT_EQ(copy.orientation, 2);
  EXPECT_EQ(copy.modifier, 1);
  EXPECT_EQ(copy.hold, 1u);
  EXPECT_EQ(copy.vkCode, 0x70);
  EXPECT_EQ(copy.scanCode, 0x3b);
  EXPECT_EQ(std::u16string(copy.path), u"\\Windows\\calc.exe");
  EXPECT_EQ(std::u16string(copy.parameters), u"x");
  EXPECT_EQ(table.At(1).keys[3], 6);
}

int g_allowedAllocations = 0;
void* LimitedAllocate(size_t bytes) {
  if (g_allowedAllocations == 0) return nullptr;
  --g_allowedAllocations;
  return std::malloc(bytes);
}

TEST(MapTable, FailedGrowthLeavesTheTableUnchanged) {
  g_allowedAllocations = 2;
  MapTable table(&LimitedAllocate);
  EXPECT_TRUE(table.Append(SwapEntry(1, 0, {})));
  EXPECT_TRUE(table.Append(SwapEntry(2, 0, {})));
  EXPECT_FALSE(table.Append(SwapEntry(3, 0, {})));
  EXPECT_EQ(table.Count(), 2u);
  EXPECT_EQ(table.Capacity(), 2u);
  EXPECT_EQ(table.At(1).vkCode, 2);
  g_allowedAllocations = 1;
  EXPECT_TRUE(table.Append(SwapEntry(3, 0, {})));
  EXPECT_EQ(table.Capacity(), 4u);
  // A compaction that cannot get its block keeps the old storage.
  EXPECT_FALSE(table.Compact());
  EXPECT_EQ(table.Capacity(), 4u);
  EXPECT_EQ(table.At(2).vkCode, 3);
}

TEST(MapTable, ConcurrentAppendsLoseNothingAndKeepEachThreadsOrder) {
  constexpr int kThreads = 4, kEach = 2000;
  MapTable table;
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&table, t] {
      for (int i = 0; i < kEach; ++i) {
        MapEntry e = SwapEntry(static_cast<uint8_t>(t), 0, {});
        e.hold = static_cast<uint32_t>(i);
        table.Append(e);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  ASSERT_EQ(table.Count(), static_cast<uint32_t>(kThreads * kEach));
  std::vector<uint32_t> next(kThreads, 0);
  for (uint32_t i = 0; i < table.Count(); ++i) {
    const MapEntry& e = table.At(i);
    ASSERT_LT(e.vkCode, kThreads);
    EXPECT_EQ(e.hold, next[e.vkCode]++);
  }
}

struct CollectedLines {
  std::vector<std::u16string> lines;
  static void Write(void* self, const char16_t* line) {
    static_cast<CollectedLines*>(self)->lines.emplace_back(line);
  }
};

TEST(WriteLog, NeedsDebugModeAndASink) {
  HostSettings& settings = TheHostSettings();
  settings.StoreDefaults();
  SetLogSink({});
  settings.debugMode = 1;
  WriteLog(u"no sink yet");  // must do nothing and not fail

  CollectedLines collected;
  SetLogSink({&CollectedLines::Write, &collected});
  WriteLog(u"one");
  settings.debugMode = 0;
  WriteLog(u"two");
  settings.debugMode = 2;
  EXPECT_EQ(AddMapInfo(SwapEntry(0x41, 0x1e, {0x42})), 0);
  EXPECT_EQ(collected.lines, (std::vector<std::u16string>{u"one", u"AddMapInfo()"}));
  EXPECT_EQ(TheMapTable().At(TheMapTable().Count() - 1).keys[0], 0x42);

  SetLogSink({});
  settings.StoreDefaults();
}

TEST(HostSettings, DefaultsAreImeOnHalfSecondDebugOff) {
  HostSettings settings;
  settings.useImeToggle = 0;
  settings.holdDuration = 1;
  settings.debugMode = 1;
  settings.StoreDefaults();
  EXPECT_EQ(settings.useImeToggle, 1);
  EXPECT_EQ(settings.holdDuration, 500u);
  EXPECT_EQ(settings.debugMode, 0);
}

}  // namespace
}  // namespace keytwine::testing
