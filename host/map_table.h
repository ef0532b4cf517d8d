// The key mapping table and the three host settings.
//
// The configuration script fills the table and the settings through the host natives, possibly
// from several script threads; afterwards the keyboard hook and the main window only read them.
// Appends are serialised by a lock; reads take none, because readers run only after the
// configuration run has ended every script thread.
#ifndef KEYTWINE_HOST_MAP_TABLE_H
#define KEYTWINE_HOST_MAP_TABLE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace keytwine {

// Screen orientation condition of an entry; other values behave as kAnyOrientation.
enum Orientation : int32_t { kAnyOrientation = 0, kPortraitOnly = 1, kLandscapeOnly = 2 };

// Modifier condition of an entry; other values behave as kNoModifier.
enum ModifierCondition : int32_t {
  kNoModifier = 0,
  kCtrl = 1,
  kShift = 2,
  kCtrlShift = 3,
  kLeftWin = 4,
  kRightWin = 5,
  kF23 = 6,
};

enum MapType : int32_t { Swap = 0, Exec = 1 };

// Length of the path and parameter fields: 260 characters and the terminating 0.
inline constexpr size_t kMapTextLength = 261;

// One key mapping. A plain record: zero-filled before its fields are set, copied bytewise.
// The text fields hold UTF-16 on every platform and are always terminated, because the filling
// copy writes at most kMapTextLength - 1 units.
struct MapEntry {
  int32_t orientation;
  int32_t modifier;
  uint32_t hold;
  uint8_t vkCode;
  uint8_t scanCode;
  int32_t type;
  uint8_t keys[4];
  char16_t path[kMapTextLength];
  char16_t parameters[kMapTextLength];
};

// No entry: what the key index gives past the last entry of a key.
inline constexpr uint32_t kNoMapEntry = 0xFFFFFFFF;

// Records of the table that are stored together, with their links in the key index.
inline constexpr uint32_t kMapBlockRecords = 8;
struct MapBlock {
  MapEntry records[kMapBlockRecords];
  uint32_t nextWithKey[kMapBlockRecords];
};

// The ordered, growable array of entries. An entry's index is its identity: the hook posts it to
// the main window to launch an Exec entry.
//
// The records are kept in blocks of kMapBlockRecords that never move, so that growing copies
// no record and holds no second copy of the table; a small directory lists the blocks.
//
// The table also keeps an index by virtual-key code, so that the key decisions visit only the
// entries of the event's key: per code the first such entry, and per entry the next one with
// the same code, always in table order. Appending is the only way entries come in, and the
// index is kept as each one does, so it needs no rebuild and reading it allocates nothing.
class MapTable {
 public:
  // Where the table takes its storage from; replaceable so that tests can make growth fail.
  using AllocateFn = void* (*)(size_t bytes);

  explicit MapTable(AllocateFn allocate = nullptr);
  ~MapTable();
  MapTable(const MapTable&) = delete;
  MapTable& operator=(const MapTable&) = delete;

  // Appends a copy of the entry, adding a block when the last one is full (and doubling the
  // directory when it is full). Returns false and leaves the entries unchanged when a block or
  // directory cannot be obtained. Thread-safe.
  bool Append(const MapEntry& entry);

  // Shrinks the directory to exactly the blocks. When the new directory cannot be obtained the
  // table keeps its old one and false is returned; the entries are unchanged either way.
  bool Compact();

  // Read access, for use after the configuration run (no lock).
  uint32_t Count() const { return count_; }
  // The records that the blocks hold.
  uint32_t Capacity() const { return blockCount_ * kMapBlockRecords; }
  uint32_t DirectorySlots() const { return directorySlots_; }
  const MapEntry& At(uint32_t index) const { return BlockOf(index).records[Slot(index)]; }
  // The entry at index, or null when the index is outside the table.
  const MapEntry* Find(uint32_t index) const { return index < count_ ? &At(index) : nullptr; }

  // The first entry for the virtual-key code, or kNoMapEntry.
  uint32_t FirstWithKey(uint8_t vkCode) const { return firstWithKey_[vkCode]; }
  // The next entry after index (an entry of the table) with the same code, or kNoMapEntry.
  uint32_t NextWithKey(uint32_t index) const { return BlockOf(index).nextWithKey[Slot(index)]; }

 private:
  MapBlock& BlockOf(uint32_t index) const { return *directory_[index / kMapBlockRecords]; }
  static uint32_t Slot(uint32_t index) { return index % kMapBlockRecords; }
  // Moves the block pointers into a new directory of `slots`; false when it cannot be obtained.
  bool ResizeDirectory(uint32_t slots);
  bool AddBlock();

  AllocateFn allocate_;
  MapBlock** directory_ = nullptr;
  uint32_t directorySlots_ = 0;
  uint32_t blockCount_ = 0;
  uint32_t firstWithKey_[256];
  uint32_t lastWithKey_[256];
  uint32_t count_ = 0;
  std::mutex lock_;
};

// The three settings. Atomic so that script threads may set them while others log; the key
// decisions read them with relaxed loads, which cost the same as plain reads.
struct HostSettings {
  std::atomic<int32_t> useImeToggle{1};
  std::atomic<uint32_t> holdDuration{500};
  std::atomic<int32_t> debugMode{0};

  // Stores the defaults: the IME toggle on, 500 ms hold, debug mode off.
  void StoreDefaults();
};

// Receives one debug log line (the debug log list box on the device).
struct LogSink {
  void (*write)(void* context, const char16_t* line) = nullptr;
  void* context = nullptr;
};

// The process-wide table and settings.
MapTable& TheMapTable();
HostSettings& TheHostSettings();

// Sets the sink of WriteLog; a sink with a null write function removes it.
void SetLogSink(LogSink sink);

// Hands the line to the log sink when debugMode is non-zero and a sink is set; else nothing.
void WriteLog(const char16_t* line);

// Appends a copy of the entry to the process-wide table and logs "AddMapInfo()". Returns 0, or
// -1 when the table could not grow (the table is then unchanged).
int32_t AddMapInfo(const MapEntry& entry);

}  // namespace keytwine

#endif  // KEYTWINE_HOST_MAP_TABLE_H
