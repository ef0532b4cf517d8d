// Internal to the port layer: the allocation counter and the test switch that makes one chosen
// allocation fail (port::FailAllocationAfter). Shared by the POSIX and Win32 implementations.
//
// Counting is an atomic add, which every allocation of a resident program would pay for
// nothing: it starts only when the process first asks for the count or sets the switch (the
// tests and fuzz targets do); until then an allocation reads one flag and goes on.
#ifndef KEYTWINE_SCRIPT_PORT_ALLOC_SWITCH_H
#define KEYTWINE_SCRIPT_PORT_ALLOC_SWITCH_H

#include <atomic>
#include <cstdint>

namespace keytwine::port::internal {

// Set once for the rest of the process by the first AllocationsCounted or SetFailingAllocation.
inline std::atomic<bool> counting{false};
// Number of allocations asked for since counting started (successful or failed).
inline std::atomic<uint64_t> allocationCount{0};
// Value of allocationCount at which the allocation fails; 0 = switch off.
inline std::atomic<uint64_t> failingAllocation{0};

// Counts one allocation; true when the switch makes it fail. Exactly one allocation fails per
// setting of the switch, whatever the number of threads.
inline bool CountAllocation() {
  if (!counting.load(std::memory_order_relaxed)) return false;
  const uint64_t number = allocationCount.fetch_add(1, std::memory_order_relaxed) + 1;
  uint64_t failing = failingAllocation.load(std::memory_order_acquire);
  if (failing == 0 || number != failing) return false;
  return failingAllocation.compare_exchange_strong(failing, 0, std::memory_order_acq_rel);
}

inline uint64_t AllocationsCounted() {
  counting.store(true, std::memory_order_relaxed);
  return allocationCount.load(std::memory_order_relaxed);
}

inline void SetFailingAllocation(uint64_t n) {
  if (n == 0) {
    failingAllocation.store(0, std::memory_order_release);
    return;
  }
  failingAllocation.store(AllocationsCounted() + n, std::memory_order_release);
}

}  // namespace keytwine::port::internal

#endif  // KEYTWINE_SCRIPT_PORT_ALLOC_SWITCH_H
