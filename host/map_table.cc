#include "host/map_table.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace keytwine {
namespace {

constexpr size_t kSlotBytes = sizeof(MapBlock*);  // NOLINT(bugprone-sizeof-expression)

}  // namespace

MapTable::MapTable(AllocateFn allocate) : allocate_(allocate ? allocate : &std::malloc) {
  std::fill(std::begin(firstWithKey_), std::end(firstWithKey_), kNoMapEntry);
  std::fill(std::begin(lastWithKey_), std::end(lastWithKey_), kNoMapEntry);
}

MapTable::~MapTable() {
  for (uint32_t b = 0; b < blockCount_; ++b) std::free(directory_[b]);
  std::free(static_cast<void*>(directory_));
}

bool MapTable::ResizeDirectory(uint32_t slots) {
  auto* directory = static_cast<MapBlock**>(allocate_(size_t{slots} * kSlotBytes));
  if (directory == nullptr) return false;
  if (blockCount_ > 0) std::memcpy(directory, directory_, size_t{blockCount_} * kSlotBytes);
  std::free(static_cast<void*>(directory_));
  directory_ = directory;
  directorySlots_ = slots;
  return true;
}

bool MapTable::AddBlock() {
  if (blockCount_ == directorySlots_) {
    const uint32_t slots = directorySlots_ + (directorySlots_ > 0 ? directorySlots_ : 1);
    if (slots < directorySlots_ || slots > SIZE_MAX / kSlotBytes) return false;
    if (!ResizeDirectory(slots)) return false;
  }
  auto* block = static_cast<MapBlock*>(allocate_(sizeof(MapBlock)));
  if (block == nullptr) return false;
  directory_[blockCount_++] = block;
  return true;
}

bool MapTable::Append(const MapEntry& entry) {
  std::lock_guard<std::mutex> guard(lock_);
  if (count_ == UINT32_MAX - 1) return false;  // kNoMapEntry is no index
  if (count_ == Capacity() && !AddBlock()) return false;
  MapBlock& block = BlockOf(count_);
  std::memcpy(&block.records[Slot(count_)], &entry, sizeof(MapEntry));
  block.nextWithKey[Slot(count_)] = kNoMapEntry;
  uint32_t& last = lastWithKey_[entry.vkCode];
  if (last == kNoMapEntry) {
    firstWithKey_[entry.vkCode] = count_;
  } else {
    BlockOf(last).nextWithKey[Slot(last)] = count_;
  }
  last = count_;
  ++count_;
  return true;
}

bool MapTable::Compact() {
  std::lock_guard<std::mutex> guard(lock_);
  if (blockCount_ == directorySlots_) return true;
  if (blockCount_ > 0) return ResizeDirectory(blockCount_);
  std::free(static_cast<void*>(directory_));
  directory_ = nullptr;
  directorySlots_ = 0;
  return true;
}

void HostSettings::StoreDefaults() {
  useImeToggle.store(1, std::memory_order_relaxed);
  holdDuration.store(500, std::memory_order_relaxed);
  debugMode.store(0, std::memory_order_relaxed);
}

namespace {

// Set on the main thread when the debug window is created; read by WriteLog on any thread.
std::atomic<LogSink*> g_logSink{nullptr};
LogSink g_logSinkSlot;

}  // namespace

MapTable& TheMapTable() {
  static MapTable table;
  return table;
}

HostSettings& TheHostSettings() {
  static HostSettings settings;
  return settings;
}

void SetLogSink(LogSink sink) {
  if (sink.write == nullptr) {
    g_logSink.store(nullptr, std::memory_order_release);
    return;
  }
  g_logSinkSlot = sink;
  g_logSink.store(&g_logSinkSlot, std::memory_order_release);
}

void WriteLog(const char16_t* line) {
  if (TheHostSettings().debugMode.load(std::memory_order_relaxed) == 0) return;
  const LogSink* sink = g_logSink.load(std::memory_order_acquire);
  if (sink != nullptr) sink->write(sink->context, line);
}

int32_t AddMapInfo(const MapEntry& entry) {
  if (!TheMapTable().Append(entry)) return -1;
  WriteLog(u"AddMapInfo()");
  return 0;
}

}  // namespace keytwine
