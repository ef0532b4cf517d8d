// A memory budget for the script fuzz targets: once the process holds more than the budget
// above what it held at StartMemoryBudget, every engine allocation fails (so a huge list or a
// huge pattern ends with "Alloc failed" instead of slowing the fuzzer down or exhausting memory).
// Built on the sanitizer's malloc hooks, which see every allocation of the process.
#ifndef KEYTWINE_FUZZ_SUPPORT_MEMORY_BUDGET_H
#define KEYTWINE_FUZZ_SUPPORT_MEMORY_BUDGET_H

#include <sanitizer/allocator_interface.h>

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>

#include "script/port/port.h"

namespace keytwine::fuzz {

inline constexpr int64_t kNoMemoryLimit = INT64_MAX;

// Bytes allocated minus bytes freed since the hooks were installed (blocks from before make it
// go below 0 when they are freed: only differences count).
inline std::atomic<int64_t> liveBytes{0};
inline std::atomic<int64_t> memoryLimit{kNoMemoryLimit};
inline std::atomic<bool> overMemoryBudget{false};

inline void OnMalloc(const volatile void* /*block*/, size_t size) {
  const auto bytes = static_cast<int64_t>(size);
  const int64_t live = liveBytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  if (live > memoryLimit.load(std::memory_order_relaxed)) {
    overMemoryBudget.store(true, std::memory_order_relaxed);
    port::FailAllocationAfter(1);  // the next engine allocation fails
  }
}

inline void OnFree(const volatile void* block) {
  const size_t bytes = __sanitizer_get_allocated_size(const_cast<const void*>(block));
  liveBytes.fetch_sub(static_cast<int64_t>(bytes), std::memory_order_relaxed);
}

inline void StartMemoryBudget(int64_t bytes) {
  static const bool installed = __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree);
  (void)installed;
  overMemoryBudget.store(false, std::memory_order_relaxed);
  memoryLimit.store(liveBytes.load(std::memory_order_relaxed) + bytes, std::memory_order_relaxed);
}

inline void EndMemoryBudget() {
  memoryLimit.store(kNoMemoryLimit, std::memory_order_relaxed);
  port::FailAllocationAfter(0);
}

inline bool OverMemoryBudget() {
  return overMemoryBudget.load(std::memory_order_relaxed);
}

}  // namespace keytwine::fuzz

#endif  // KEYTWINE_FUZZ_SUPPORT_MEMORY_BUDGET_H
