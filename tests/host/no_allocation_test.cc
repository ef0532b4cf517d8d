// The key-decision path must not allocate: the global allocator of this test program counts
// every allocation, and a long realistic stream of events is decided with debug mode off and on.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "host/key_decisions.h"

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}

namespace keytwine::testing {
namespace {

// Effects that do what a device does cheaply: remember held keys, count what happens.
class CountingEffects final : public KeyEffects {
 public:
  bool IsPortrait() override { return false; }
  void SendKey(uint8_t vk, bool up) override {
    held_[vk] = !up;
    ++sends;
  }
  void ReleaseHeldModifiers() override { ReleaseHeldModifiersVia(*this); }
  bool IsKeyDown(uint8_t vk) override { return held_[vk]; }
  void PostLaunch(uint32_t) override { ++launches; }
  void ToggleIMEMode() override { ++toggles; }
  void WriteLog(const char16_t* line) override { logged += line[0] != 0; }

  long sends = 0, launches = 0, toggles = 0, logged = 0;

 private:
  bool held_[256] = {};
};

void DecideStream(const Remapper& r, int rounds) {
  uint32_t t = 1;
  auto call = [&](uint32_t kind, uint32_t vk, uint32_t scan) {
    KeyboardHookDecide(r, 0, kind,
                       {.vkCode = vk, .scanCode = scan, .flags = 0, .time = t, .dwExtraInfo = 0});
    t += 30;
  };
  for (int i = 0; i < rounds; ++i) {
    for (uint32_t vk = 0x41; vk < 0x5B; ++vk) {  // typing with auto-repeat
      call(kWmKeyDown, vk, vk - 0x30);
      call(kWmKeyDown, vk, vk - 0x30);
      call(kWmKeyUp, vk, vk - 0x30);
    }
    call(kWmKeyDown, 0x11, 0x1d);  // Ctrl+C combo
    call(kWmKeyDown, 0x43, 0x2e);
    call(kWmKeyUp, 0x43, 0x2e);
    call(kWmKeyUp, 0x11, 0x1d);
    for (int k = 0; k < 25; ++k) call(kWmKeyDown, 0x70, 0x3b);  // held F1
    call(kWmKeyUp, 0x70, 0x3b);
    call(kWmKeyDown, 0x5C, 0x11);  // IME pair
    call(kWmKeyDown, 0x76, 0x11);
    call(kWmKeyUp, 0x76, 0x11);
    call(kWmKeyUp, 0x5C, 0x11);
    call(0x102, 0x41, 0x1e);
    call(kWmKeyDown, 0x41, 0xFF);  // injected
  }
}

MapEntry Entry(MapType type, uint8_t vk, uint8_t scan, uint8_t key, int32_t modifier,
               uint32_t hold) {
  MapEntry e{};
  e.type = type;
  e.vkCode = vk;
  e.scanCode = scan;
  e.keys[0] = key;
  e.modifier = modifier;
  e.hold = hold;
  return e;
}

TEST(NoAllocation, DecisionPathAllocatesNothingWithDebugOffOrOn) {
  MapTable table;
  table.Append(Entry(Swap, 0x43, 0x2e, 0x44, kCtrl, 0));
  table.Append(Entry(Exec, 0x70, 0x3b, 0, kNoModifier, 1));
  table.Append(Entry(Swap, 0x70, 0x3b, 0x1B, kNoModifier, 0));
  table.Append(Entry(Swap, 0x45, 0x15, 0x46, kNoModifier, 0));
  HostSettings settings;
  HookState state{};
  CountingEffects effects;
  Remapper r{state, table, settings, effects};

  for (int debug = 0; debug <= 1; ++debug) {
    settings.debugMode = debug;
    long before = g_allocations.load();
    DecideStream(r, 200);
    EXPECT_EQ(g_allocations.load() - before, 0) << "debugMode " << debug;
  }
  // The stream did real work, logged only in debug mode, launched and toggled.
  EXPECT_GT(effects.sends, 10000);
  EXPECT_GT(effects.logged, 10000);
  EXPECT_GT(effects.launches, 0);
  EXPECT_GT(effects.toggles, 0);
}

}  // namespace
}  // namespace keytwine::testing
