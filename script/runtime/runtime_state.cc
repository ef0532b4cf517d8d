// The engine-wide state: the host's native table and the RuntimeLock, one per process shared by
// all engines.
#include <cstring>

#include "script/runtime/engine.h"
#include "script/text/text.h"

namespace keytwine {

RuntimeState& Runtime() {
  static RuntimeState state;
  return state;
}

void InstallNativeTable(NativeEntry* table, int32_t count) {
  if (table == nullptr || count < 0) count = 0;
  for (int32_t i = 0; i < count; ++i) table[i].hash = ComputeNameHash(table[i].name);
  RuntimeState& state = Runtime();
  port::LockGuard guard(state.runtimeLock);
  state.natives = count > 0 ? table : nullptr;
  state.nativeCount = count;
}

NativeFunction FindNative(const char* name) {
  if (name == nullptr) return nullptr;
  RuntimeState& state = Runtime();
  NativeEntry* table = nullptr;
  int32_t count = 0;
  {
    port::LockGuard guard(state.runtimeLock);
    table = state.natives;
    count = state.nativeCount;
  }
  const NameHash hash = ComputeNameHash(name);
  for (int32_t i = 0; i < count; ++i) {
    const NativeEntry& row = table[i];
    if (row.hash == hash && row.name != nullptr && std::strcmp(row.name, name) == 0) {
      return row.entry;
    }
  }
  return nullptr;
}

}  // namespace keytwine
