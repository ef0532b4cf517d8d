// The virtual keys the remapper knows by name, the five modifier keys it tracks, and the left and
// right codes that desktop Windows reports for two of them.
#ifndef KEYTWINE_HOST_VIRTUAL_KEYS_H
#define KEYTWINE_HOST_VIRTUAL_KEYS_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace keytwine {

inline constexpr uint8_t kVkShift = 0x10;
inline constexpr uint8_t kVkControl = 0x11;
inline constexpr uint8_t kVkLeftWindows = 0x5B;
inline constexpr uint8_t kVkRightWindows = 0x5C;
inline constexpr uint8_t kVkF7 = 0x76;
inline constexpr uint8_t kVkF23 = 0x86;

// The tracked modifiers in hold-back order: the order in which the flagged ones are pressed
// around a replayed key (and HookState::modifierDown is indexed). Each one's releaseRank is its
// place in the order in which the held ones are released before keys are sent.
struct ModifierKey {
  uint8_t vk;
  uint8_t releaseRank;
};
inline constexpr ModifierKey kModifierKeys[] = {
    {kVkControl, 0}, {kVkShift, 1}, {kVkLeftWindows, 3}, {kVkRightWindows, 4}, {kVkF23, 2},
};
inline constexpr size_t kModifierCount = std::size(kModifierKeys);

inline constexpr uint8_t kVkLeftShift = 0xA0;
inline constexpr uint8_t kVkRightShift = 0xA1;
inline constexpr uint8_t kVkLeftControl = 0xA2;
inline constexpr uint8_t kVkRightControl = 0xA3;

// A key that stands for a tracked modifier where the system reports Ctrl and Shift by side. In
// the order in which the held ones are released before keys are sent.
struct SideKey {
  uint8_t vk;
  uint8_t modifier;
};
inline constexpr SideKey kSideKeys[] = {
    {kVkLeftControl, kVkControl},
    {kVkRightControl, kVkControl},
    {kVkLeftShift, kVkShift},
    {kVkRightShift, kVkShift},
};

constexpr std::array<uint8_t, kModifierCount> ModifierReleaseOrder() {
  std::array<uint8_t, kModifierCount> order{};
  for (const ModifierKey& m : kModifierKeys) order[m.releaseRank] = m.vk;
  return order;
}

// The modifiers in the order in which ReleaseHeldModifiers releases them.
inline constexpr std::array<uint8_t, kModifierCount> kReleaseOrder = ModifierReleaseOrder();

}  // namespace keytwine

#endif  // KEYTWINE_HOST_VIRTUAL_KEYS_H
