// Internal to the port layer: the allocation counter and the test switch that makes one chosen
// allocation fail (port::FailAllocationAfter). Shared by the POSIX and Win32 implementations.
#ifndef KEYTWINE_SCRIPT_PORT_ALLOC_SWITCH_H
#define KEYTWINE_SCRIPT_PORT_ALLOC_SWITCH_H

#include <atomic>
#include <cstdint>

namespace keytwine::port::internal {

// Number of allocations asked for so far (successful or failed).
inline std::atomic<uint64_t> allocationCount{0};
// Value of allocationCount at which the allocation fails; 0 = switch off.
inline std::atomic<uint64_t> failingAllocation{0};

// Counts one allocation; true when the switch makes it fail. Exactly one allocation fails per
// setting of the switch, whatever the number of threads.
inline bool CountAllocation() {
  const uint64_t number = allocationCount.fetch_add(1, std::memory_order_relaxed) + 1;
  uint64_t failing = failingAllocation.load(std::memory_order_acquire);
  if (failing == 0 || number != failing) return false;
  return failingAllocation.compare_exchange_strong(failing, 0, std::memory_order_acq_rel);
}

inline void SetFailingAllocation(uint64_t n) {
  if (n == 0) {
    failingAllocation.store(0, std::memory_order_release);
    return;
  }
  failingAllocation.store(allocationCount.load(std::memory_order_relaxed) + n,
                          std::memory_order_release);
}

}  // namespace keytwine::port::internal

#endif  // KEYTWINE_SCRIPT_PORT_ALLOC_SWITCH_H
