#include "host/map_table.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace keytwine {

static_assert(sizeof(MapEntry) % alignof(uint32_t) == 0, "the links follow the records");

MapTable::MapTable(AllocateFn allocate) : allocate_(allocate ? allocate : &std::malloc) {
  std::fill(std::begin(firstWithKey_), std::end(firstWithKey_), kNoMapEntry);
  std::fill(std::begin(lastWithKey_), std::end(lastWithKey_), kNoMapEntry);
}

void MapTable::FreeBlock::operator()(MapEntry* block) const {
  std::free(block);
}

MapEntry* MapTable::NewBlock(uint32_t records) const {
  return static_cast<MapEntry*>(allocate_(size_t{records} * (sizeof(MapEntry) + sizeof(uint32_t))));
}

void MapTable::MoveTo(MapEntry* block, uint32_t records) {
  auto* links = reinterpret_cast<uint32_t*>(block + records);
  if (count_ > 0) {
    std::memcpy(block, entries_.get(), size_t{count_} * sizeof(MapEntry));
    std::memcpy(links, nextWithKey_, size_t{count_} * sizeof(uint32_t));
  }
  entries_.reset(block);
  nextWithKey_ = block != nullptr ? links : nullptr;
  capacity_ = records;
}

bool MapTable::Append(const MapEntry& entry) {
  std::lock_guard<std::mutex> guard(lock_);
  if (count_ == capacity_) {
    uint32_t grown = count_ + (count_ > 0 ? count_ : 1);
    if (grown < count_) return false;  // the count no longer doubles in 32 bits
    if (grown > SIZE_MAX / (sizeof(MapEntry) + sizeof(uint32_t))) return false;
    MapEntry* block = NewBlock(grown);
    if (block == nullptr) return false;
    MoveTo(block, grown);
  }
  std::memcpy(entries_.get() + count_, &entry, sizeof(MapEntry));
  nextWithKey_[count_] = kNoMapEntry;
  uint32_t& last = lastWithKey_[entry.vkCode];
  (last == kNoMapEntry ? firstWithKey_[entry.vkCode] : nextWithKey_[last]) = count_;
  last = count_;
  ++count_;
  return true;
}

bool MapTable::Compact() {
  std::lock_guard<std::mutex> guard(lock_);
  if (count_ == capacity_) return true;
  MapEntry* block = nullptr;
  if (count_ > 0) {
    block = NewBlock(count_);
    if (block == nullptr) return false;
  }
  MoveTo(block, count_);
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
