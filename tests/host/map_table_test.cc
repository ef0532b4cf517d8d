// The mapping table where a case cannot reach it: growth and compaction, allocation failure,
// concurrent appends, and the debug log sink.
#include "host/map_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

namespace keytwine {
namespace {

MapEntry EntryFor(uint8_t vk, uint32_t hold = 0) {
  MapEntry e{};
  e.vkCode = vk;
  e.hold = hold;
  return e;
}

int g_allowedAllocations = 0;
void* LimitedAllocate(size_t bytes) {
  if (g_allowedAllocations == 0) return nullptr;
  --g_allowedAllocations;
  return std::malloc(bytes);
}

TEST(MapTable, GrowsByDoublingCompactsToTheCountAndSurvivesFailedGrowth) {
  g_allowedAllocations = 4;
  MapTable table(&LimitedAllocate);
  std::vector<uint32_t> capacities;
  for (uint8_t vk = 1; vk <= 5; ++vk) {
    EXPECT_TRUE(table.Append(EntryFor(vk)));
    capacities.push_back(table.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<uint32_t>{1, 2, 4, 4, 8}));
  EXPECT_FALSE(table.Compact());  // no block for exactly 5 records: the old one stays
  EXPECT_EQ(table.Capacity(), 8u);
  g_allowedAllocations = 1;
  EXPECT_TRUE(table.Compact());
  EXPECT_EQ(table.Capacity(), 5u);
  EXPECT_FALSE(table.Append(EntryFor(6)));  // no block to grow into: unchanged
  EXPECT_EQ(table.Count(), 5u);
  EXPECT_EQ(table.Capacity(), 5u);
  g_allowedAllocations = 1;
  EXPECT_TRUE(table.Append(EntryFor(6)));  // grows from the count again
  EXPECT_EQ(table.Capacity(), 10u);
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(table.At(i).vkCode, i + 1);
  EXPECT_EQ(table.Find(6), nullptr);
}

TEST(MapTable, ConcurrentAppendsLoseNothingAndKeepEachThreadsOrder) {
  constexpr int kThreads = 4, kEach = 2000;
  MapTable table;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&table, t] {
      for (int i = 0; i < kEach; ++i) table.Append(EntryFor(static_cast<uint8_t>(t), i));
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(table.Count(), static_cast<uint32_t>(kThreads * kEach));
  std::vector<uint32_t> next(kThreads, 0);
  for (uint32_t i = 0; i < table.Count(); ++i) {
    const MapEntry& e = table.At(i);
    ASSERT_LT(e.vkCode, kThreads);
    EXPECT_EQ(e.hold, next[e.vkCode]++);
  }
}

std::vector<std::u16string> g_logged;
void Collect(void*, const char16_t* line) {
  g_logged.emplace_back(line);
}

TEST(WriteLog, NeedsDebugModeAndASink) {
  HostSettings& settings = TheHostSettings();
  settings.debugMode = 1;
  WriteLog(u"no sink yet");
  SetLogSink({&Collect, nullptr});
  WriteLog(u"one");
  settings.debugMode = 0;
  WriteLog(u"two");
  settings.debugMode = 2;
  EXPECT_EQ(AddMapInfo(EntryFor(0x41)), 0);
  EXPECT_EQ(g_logged, (std::vector<std::u16string>{u"one", u"AddMapInfo()"}));
  EXPECT_EQ(TheMapTable().At(TheMapTable().Count() - 1).vkCode, 0x41);
  SetLogSink({});
  settings.StoreDefaults();
}

}  // namespace
}  // namespace keytwine
