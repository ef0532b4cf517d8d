// Cost of one key decision over a realistic stream: typing with auto-repeat, Ctrl combinations
// and held keys, for tables of 8 and 128 entries, with debug mode off and on.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "host/key_decisions.h"

namespace keytwine {
namespace {

struct TimedEvent {
  uint32_t kind;
  KeyEvent event;
};

// Does what a device does cheaply: remembers held keys; log lines are only touched.
class BenchEffects final : public KeyEffects {
 public:
  bool IsPortrait() override { return false; }
  void SendKey(uint8_t vk, bool up) override { held_[vk] = !up; }
  void ReleaseHeldModifiers() override { ReleaseHeldModifiersVia(*this); }
  bool IsKeyDown(uint8_t vk) override { return held_[vk]; }
  void PostLaunch(uint32_t index) override { benchmark::DoNotOptimize(index); }
  void ToggleIMEMode() override {}
  void WriteLog(const char16_t* line) override { benchmark::DoNotOptimize(line[0]); }

 private:
  bool held_[256] = {};
};

MapEntry Entry(uint8_t vk, uint8_t scan, int32_t type, int32_t modifier, uint32_t hold) {
  MapEntry e;
  std::memset(&e, 0, sizeof e);
  e.vkCode = vk;
  e.scanCode = scan;
  e.type = type;
  e.modifier = modifier;
  e.hold = hold;
  e.keys[0] = static_cast<uint8_t>(vk + 1);
  return e;
}

// Entries for function keys and letters; the typed letters mostly sit near the end of the
// table, so a search walks most of it, as it does for the many unmapped keys of real typing.
void FillTable(MapTable& table, uint32_t size) {
  table.Append(Entry(0x70, 0x3b, Swap, 0, 1));  // F1 hold
  table.Append(Entry(0x70, 0x3b, Swap, 0, 0));  // F1 tap
  table.Append(Entry(0x43, 0x2e, Swap, kCtrl, 0));
  table.Append(Entry(0x71, 0x3c, Exec, 0, 0));
  for (uint32_t i = table.Count(); i < size; ++i) {
    table.Append(Entry(static_cast<uint8_t>(0x80 + i % 0x60), static_cast<uint8_t>(i), Swap,
                       static_cast<int32_t>(i % 3), 0));
  }
}

std::vector<TimedEvent> Stream() {
  std::vector<TimedEvent> events;
  uint32_t t = 1;
  auto add = [&](uint32_t kind, uint32_t vk, uint32_t scan) {
    events.push_back({kind, KeyEvent{vk, scan, 0, t, 0}});
    t += 33;
  };
  for (uint32_t vk = 0x41; vk <= 0x5A; ++vk) {
    add(kWmKeyDown, vk, vk - 0x30);
    if (vk % 5 == 0) add(kWmKeyDown, vk, vk - 0x30);  // auto-repeat
    add(kWmKeyUp, vk, vk - 0x30);
  }
  add(kWmKeyDown, 0x11, 0x1d);
  add(kWmKeyDown, 0x43, 0x2e);
  add(kWmKeyUp, 0x43, 0x2e);
  add(kWmKeyUp, 0x11, 0x1d);
  for (int k = 0; k < 20; ++k) add(kWmKeyDown, 0x70, 0x3b);
  add(kWmKeyUp, 0x70, 0x3b);
  add(kWmKeyDown, 0x71, 0x3c);
  add(kWmKeyUp, 0x71, 0x3c);
  return events;
}

void BM_Decide(benchmark::State& bench) {
  MapTable table;
  FillTable(table, static_cast<uint32_t>(bench.range(0)));
  HostSettings settings;
  settings.debugMode = static_cast<int32_t>(bench.range(1));
  HookState state{};
  BenchEffects effects;
  const Remapper remapper{state, table, settings, effects};
  const std::vector<TimedEvent> events = Stream();
  for (auto _ : bench) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    for (const TimedEvent& e : events) {
      benchmark::DoNotOptimize(KeyboardHookDecide(remapper, 0, e.kind, e.event));
    }
  }
  bench.SetItemsProcessed(bench.iterations() * static_cast<int64_t>(events.size()));
  bench.counters["ns_per_event"] = benchmark::Counter(
      static_cast<double>(bench.iterations() * static_cast<int64_t>(events.size())),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}
BENCHMARK(BM_Decide)->ArgNames({"entries", "debug"})->ArgsProduct({{8, 128}, {0, 1}});

}  // namespace
}  // namespace keytwine

BENCHMARK_MAIN();
