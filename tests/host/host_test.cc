// The key transcripts of cases/, then what no case reaches: refused lines, allocation on the key
// path, table growth and concurrent appends, the log sink, natives without their arguments.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>
#include <thread>
#include <vector>

#include "host/key_decisions.h"
#include "host/natives.h"
#include "tests/support/case_file.h"
#include "tools/table_text.h"
#include "tools/trace_replay.h"

// This program's allocator counts every allocation.
std::atomic<long> g_allocations{0};
[[gnu::noinline]] void* operator new(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept {
  std::free(p);
}

namespace keytwine::testing {
namespace {

std::string Transcript(const TestCase& testCase) {
  const CaseSection* expected = testCase.Find("out");
  std::istringstream tableText(testCase.Input()), lines(expected ? expected->text : "");
  MapTable table;
  HostSettings settings;
  std::string error;
  if (!ReadTableText(tableText, table, settings, error)) return "table:" + error + "\n";
  std::stringstream trace, out;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("> ", 0) == 0) trace << line.substr(2) << "\n";
  }
  ReplayTrace(trace, "trace", table, settings, out, out, true);
  return out.str();
}

struct Transcripts : ::testing::TestWithParam<std::string> {};

TEST_P(Transcripts, ReplayAsExpected) {
  CaseFile file(GetParam());
  for (const TestCase& testCase : file.Cases()) file.Expect(testCase, "out", Transcript(testCase));
}

INSTANTIATE_TEST_SUITE_P(Files, Transcripts,
                         ::testing::ValuesIn(CaseFile::FilesIn("tests/host/cases", ".cases")),
                         [](const auto& info) { return CaseFileLabel(info.param); });

TEST(Transcripts, RefuseMalformedTableAndTraceLines) {
  MapTable table;
  HostSettings settings;
  std::string error;
  for (const char* line :
       {"1 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e keys=0x0,0x0,0x0,0x0",
        "0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e keys=0x0,0x0,0x100,0x0",
        "0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e keys=0x0,0x0,0x0",
        "0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e",
        "0 swap orientation=0 modifier=0 hold=0 vk=0x100 scan=0x1e keys=0x0,0x0,0x0,0x0",
        "0 exec orientation=0 modifier=0 hold=0 vk=0x41 scan=0x100 path=\"\" parameters=\"\"",
        "0 exec orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e path=\"a.exe\"",
        "holdDuration=-1", "debugMode=on"}) {
    std::istringstream text(line);
    EXPECT_FALSE(ReadTableText(text, table, settings, error)) << line;
  }
  for (const char* line :
       {"landscape now", "down 0x41", "down 0x41 0x1e 1 0 0 7", "hover 1 2 3",
        "keystate 0x100 down", "keystate 0x41 maybe", "keystate 0x41 up 1", "down 0x1g 1 1",
        "down 4294967296 1 1", "down 0x100 0x1e 1", "up 0x41 0x100 1", "event 1 2 3 4",
        "event x 0x100 0x41 0x1e 1", "event 0 0x100 0x100 0x1e 1", "event 0 0x100 0x41 0x100 1",
        "ime ajar", "ime open 1 2"}) {
    std::istringstream trace(line);
    std::ostringstream out;
    EXPECT_EQ(ReplayTrace(trace, "t", table, settings, out, out, false), 65) << line;
  }
}

// Effects that do what a device does cheaply: remember held keys, count what happens.
struct CountingEffects final : KeyEffects {
  bool IsPortrait() override { return false; }
  void SendKey(uint8_t vk, bool up) override { held[vk] = !up, ++sends; }
  void ReleaseHeldModifiers() override { ReleaseHeldModifiersVia(*this); }
  bool IsKeyDown(uint8_t vk) override { return held[vk]; }
  void PostLaunch(uint32_t) override { ++launches; }
  void ToggleIMEMode() override { ++toggles; }
  void WriteLog(const char16_t* line) override { logged += line[0] != 0; }
  bool held[256] = {};
  long sends = 0, launches = 0, toggles = 0, logged = 0;
};

TEST(NoAllocation, DecisionPathAllocatesNothingWithDebugOffOrOn) {
  MapTable table;
  HostSettings settings;
  std::istringstream text(
      "0 swap orientation=0 modifier=1 hold=0 vk=0x43 scan=0x2e keys=0x44,0x0,0x0,0x0\n"
      "1 exec orientation=0 modifier=0 hold=1 vk=0x70 scan=0x3b path=\"a\" parameters=\"\"\n"
      "2 swap orientation=0 modifier=0 hold=0 vk=0x70 scan=0x3b keys=0x1b,0x46,0x0,0x0\n");
  std::string error;
  ASSERT_TRUE(ReadTableText(text, table, settings, error)) << error;
  HookState state{};
  CountingEffects effects;
  const Remapper r{state, table, settings, effects};
  // Typing with auto-repeat, Ctrl+C, a held F1, the IME pair, another kind, an injected key.
  constexpr uint32_t kDown = kWmKeyDown, kUp = kWmKeyUp,
                     kStream[][4] = {
                         {kDown, 0x41, 0x1e, 2},  {kUp, 0x41, 0x1e, 1},  {kDown, 0x11, 0x1d, 1},
                         {kDown, 0x43, 0x2e, 1},  {kUp, 0x43, 0x2e, 1},  {kUp, 0x11, 0x1d, 1},
                         {kDown, 0x70, 0x3b, 25}, {kUp, 0x70, 0x3b, 1},  {kDown, 0x5C, 0x11, 1},
                         {kDown, 0x76, 0x11, 1},  {kUp, 0x76, 0x11, 1},  {kUp, 0x5C, 0x11, 1},
                         {0x102, 0x41, 0x1e, 1},  {kDown, 0x41, 0xFF, 1}};
  uint32_t time = 1;
  for (int debug = 0; debug <= 1; ++debug) {
    settings.debugMode = debug;
    const long before = g_allocations.load();
    for (int round = 0; round < 200; ++round) {
      for (const auto& [kind, vk, scan, times] : kStream) {
        for (uint32_t n = 0; n < times; ++n, time += 30)
          KeyboardHookDecide(r, 0, kind, {vk, scan, 0, time, 0});
      }
    }
    EXPECT_EQ(g_allocations.load() - before, 0) << "debugMode " << debug;
  }
  // The stream did real work, logged only in debug mode, launched and toggled.
  EXPECT_GT(effects.sends, 3000);
  EXPECT_GT(effects.logged, 8000);
  EXPECT_GT(effects.launches + effects.toggles, 400);
}

int g_allowedAllocations = 0;
void* LimitedAllocate(size_t bytes) {
  return g_allowedAllocations-- > 0 ? std::malloc(bytes) : nullptr;
}

TEST(MapTable, GrowsByBlocksKeepsItsKeyIndexAndSurvivesFailedGrowth) {
  MapTable table(&LimitedAllocate);
  std::vector<uint32_t> seen;  // 10 * capacity + directory slots, plus 1000 when the step failed
  const auto step = [&](int allowed, bool done) {
    seen.push_back(table.Capacity() * 10 + table.DirectorySlots() + (done ? 0 : 1000));
    g_allowedAllocations = allowed;  // for the next step
  };
  const auto append = [&] {  // entries alternate between two keys; hold is the index
    MapEntry entry{};
    entry.hold = table.Count();
    entry.vkCode = static_cast<uint8_t>(1 + table.Count() % 2);
    return table.Append(entry);
  };
  g_allowedAllocations = 2;  // the directory and the first block
  for (int i = 0; i < 8; ++i) step(0, append());
  step(1, append());  // no block and no larger directory: unchanged
  step(1, append());  // a larger directory, no block
  step(0, append());
  for (int i = 0; i < 7; ++i) step(i < 6 ? 0 : 2, append());
  step(0, append());         // a third block in a directory of 4
  step(1, table.Compact());  // no directory of 3: the old one stays
  step(0, table.Compact());
  step(0, table.Compact());  // already compact: nothing to obtain
  EXPECT_EQ(seen, (std::vector<uint32_t>{81,  81,  81,  81,  81,  81,  81,  81,  1081, 1082, 162,
                                         162, 162, 162, 162, 162, 162, 162, 244, 1244, 243,  243}));
  EXPECT_EQ(table.Find(17), nullptr);
  std::vector<uint32_t> visited;  // the holds along the index of keys 1, 2 and 3
  for (uint8_t vk = 1; vk <= 3; ++vk) {
    for (uint32_t i = table.FirstWithKey(vk); i != kNoMapEntry; i = table.NextWithKey(i))
      visited.push_back(table.Find(i)->hold);
  }
  EXPECT_EQ(visited,
            (std::vector<uint32_t>{0, 2, 4, 6, 8, 10, 12, 14, 16, 1, 3, 5, 7, 9, 11, 13, 15}));
}

TEST(MapTable, ConcurrentAppendsLoseNothingAndKeepEachThreadsOrder) {
  constexpr uint32_t kThreads = 4, kEach = 2000;
  MapTable table;
  std::vector<std::thread> threads;
  for (uint8_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&table, t] {
      MapEntry e{};
      for (e.vkCode = t; e.hold < kEach; ++e.hold) table.Append(e);
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(table.Count(), kThreads * kEach);
  std::vector<uint32_t> next(kThreads, 0);
  for (uint32_t i = 0; i < table.Count(); ++i)
    EXPECT_EQ(table.At(i).hold, next[table.At(i).vkCode]++);
}

std::vector<std::u16string> g_logged;

TEST(WriteLog, NeedsDebugModeAndASink) {
  HostSettings& settings = TheHostSettings();
  settings.debugMode = 1;
  WriteLog(u"no sink yet");
  SetLogSink({[](void*, const char16_t* line) { g_logged.emplace_back(line); }, nullptr});
  WriteLog(u"one");
  settings.debugMode = 0;
  WriteLog(u"two");
  settings.debugMode = 2;
  EXPECT_EQ(AddMapInfo(MapEntry{}), 0);
  EXPECT_EQ(g_logged, (std::vector<std::u16string>{u"one", u"AddMapInfo()"}));
  SetLogSink({});
  settings.StoreDefaults();
}

// What no script can do: call a host native without any argument chain.
TEST(HostNatives, RefuseACallWithoutArgumentsBeforeTouchingAnything) {
  HostSettings& settings = TheHostSettings();
  settings.useImeToggle = settings.holdDuration = settings.debugMode = 7;
  const uint32_t entries = TheMapTable().Count();
  for (int i = 0; i < kHostNativeCount; ++i) {
    ValuePtr result(NewValue());
    char message[kNativeMessageSize] = {0};
    EXPECT_EQ(HostNativeTable()[i].entry(nullptr, nullptr, result.get(), message), -2) << i;
  }
  EXPECT_EQ(TheMapTable().Count(), entries);
  EXPECT_EQ(settings.useImeToggle + settings.holdDuration + settings.debugMode, 21u);
  settings.StoreDefaults();
}

}  // namespace
}  // namespace keytwine::testing
