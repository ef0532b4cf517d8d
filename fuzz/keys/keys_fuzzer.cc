// libFuzzer target for the key path: a mapping table and a sequence of key events go through the
// key decisions on a simulated device, or, as text, through the table reader and the trace
// replay.
//
// Binary input (first byte without bit 3):
//   byte 0   bit 0 debug mode, bit 1 IME toggle off, bit 2 portrait at start, bit 4 time stamps
//            start just before they wrap, bit 5 Ctrl and Shift come by side (desktop Windows)
//   byte 1   hold duration in units of 10 ms
//   byte 2   number of entries (low 3 bits), then 7 bytes per entry:
//            [orientation 2 bits | modifier 3 bits | hold 1 bit | type 2 bits] vk scan k1 k2 k3 k4
//   then 3 bytes per event: [kind 2 bits | flip orientation | nCode 1 | other message kind]
//            key time-step. A key byte below 0x80 picks a key of the pool (the entries' keys,
//            the modifiers and the side codes of Ctrl and Shift, the IME pair, a plain key, an
//            injected key); from 0x80 it is the virtual key (byte - 0x80). Each event comes
//            10 ms x time-step after the one before.
// After the events every key still held is released.
//
// Checked for every sequence:
// - a decision allocates nothing, and leaves the table and the settings as they were;
// - a call with nCode other than 0 and an injected event pass and change nothing;
// - launches name Exec entries of the table, at most one per event; the IME toggles only on
//   F7 (scan 0x11) right after Right Windows (scan 0x11), in landscape, with the toggle on;
// - every key the decisions hold down is on their list of keys sent down, once;
// - every key the decisions send down is released by the end: by the decisions themselves, or
//   by the physical key-up they pass.
//
// Text input (first byte with bit 3): a table text, a NUL byte and a trace text. A table that
// reads without error must print to a text that reads back to the same table; the trace replay
// must answer 0 or the malformed-trace status and print only the lines it documents.
#include <sanitizer/allocator_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "host/key_decisions.h"
#include "host/map_table.h"
#include "tools/table_text.h"
#include "tools/trace_replay.h"

namespace {

using namespace keytwine;

constexpr size_t kMaxInputBytes = 1024;
constexpr uint8_t kTextModeBit = 0x08;
constexpr uint32_t kMaxEntries = 7;
constexpr size_t kEntryBytes = 7;
constexpr size_t kEventBytes = 3;
constexpr uint32_t kOtherMessageKind = 0x102;

// --- Allocation counting -------------------------------------------------------------------

thread_local bool countingAllocations = false;
thread_local uint64_t allocations = 0;

void CountMalloc(const volatile void* /*block*/, size_t /*size*/) {
  if (countingAllocations) ++allocations;
}
void IgnoreFree(const volatile void* /*block*/) {}

// --- The simulated device --------------------------------------------------------------------

struct PhysicalKey {
  uint32_t vk;
  uint32_t scan;
};

// KeyEffects that allocate nothing: the system's key state, and what the decisions did to it.
class Device final : public KeyEffects {
 public:
  bool portrait = false;
  bool held[256] = {};       // as the system reports
  bool sentDown[256] = {};   // sent down by the decisions and not released since
  uint32_t launchCount = 0;  // of the event being decided
  uint32_t lastLaunch = 0;
  uint32_t toggleCount = 0;
  uint32_t effectCount = 0;

  bool IsPortrait() override { return portrait; }
  void SendKey(uint8_t vk, bool up) override {
    ++effectCount;
    held[vk] = !up;
    sentDown[vk] = !up;
  }
  void ReleaseHeldModifiers() override { ReleaseHeldModifiersVia(*this); }
  bool IsKeyDown(uint8_t vk) override { return held[vk]; }
  void PostLaunch(uint32_t index) override {
    ++effectCount;
    ++launchCount;
    lastLaunch = index;
  }
  void ToggleIMEMode() override {
    ++effectCount;
    ++toggleCount;
  }
  void WriteLog(const char16_t* line) override {
    if (line == nullptr) __builtin_trap();
    size_t length = 0;
    while (line[length] != 0) {
      if (++length > 256) __builtin_trap();  // unterminated
    }
  }
};

bool IsDownKind(uint32_t kind) {
  return kind == kWmKeyDown || kind == kWmSysKeyDown;
}
bool IsUpKind(uint32_t kind) {
  return kind == kWmKeyUp || kind == kWmSysKeyUp;
}

// --- Running a sequence ----------------------------------------------------------------------

// A physical key while it is held.
struct Press {
  bool held;
  uint32_t scan;
};

struct Sequence {
  const MapTable& table;
  const HostSettings& settings;
  HookState state{};
  Device device;
  uint32_t time = 1000;
  Press presses[256] = {};  // per virtual key
};

void CheckUnchanged(const HookState& before, const Sequence& s, uint32_t effectsBefore) {
  if (std::memcmp(&before, &s.state, sizeof before) != 0) __builtin_trap();
  if (s.device.effectCount != effectsBefore) __builtin_trap();
}

bool ImePairSwallows(const Sequence& s, const KeyEvent& event) {
  return s.settings.useImeToggle.load() != 0 && !s.device.portrait && event.scanCode == 0x11 &&
         (event.vkCode == 0x5C || event.vkCode == 0x76);
}

void CheckLaunchesAndToggles(const Sequence& s, const KeyEvent& event, const LastEventRecord& last,
                             uint32_t togglesBefore) {
  if (s.device.launchCount > 1) __builtin_trap();
  if (s.device.launchCount == 1) {
    const MapEntry* entry = s.table.Find(s.device.lastLaunch);
    if (entry == nullptr || entry->type != Exec) __builtin_trap();
  }
  const uint32_t toggles = s.device.toggleCount - togglesBefore;
  const bool pair = ImePairSwallows(s, event) && event.vkCode == 0x76 && last.vkCode == 0x5C &&
                    last.scanCode == 0x11;
  if (toggles > (pair ? 1U : 0U)) __builtin_trap();
}

// The decisions list every key they hold down, each once (their list may also name keys that
// the system released behind their back).
void CheckSentKeys(const Sequence& s) {
  if (s.state.sentDownCount > std::size(s.state.sentDown)) __builtin_trap();
  bool listed[256] = {};
  for (uint32_t i = 0; i < s.state.sentDownCount; ++i) {
    const uint32_t vk = s.state.sentDown[i].vk;
    if (vk >= 256 || listed[vk]) __builtin_trap();
    listed[vk] = true;
  }
  for (uint32_t vk = 0; vk < 256; ++vk) {
    if (s.device.sentDown[vk] && !listed[vk]) __builtin_trap();
  }
}

// What the system does with an event the hook passes on.
void AfterDecision(Sequence& s, uint32_t kind, const KeyEvent& event, Verdict verdict) {
  if (event.vkCode >= 256 || verdict != Verdict::Pass) return;
  const uint32_t vk = event.vkCode;
  if (IsDownKind(kind)) s.device.held[vk] = true;
  if (IsUpKind(kind)) {
    s.device.held[vk] = false;
    s.device.sentDown[vk] = false;
  }
}

// Presses as the decisions see them: a call with nCode other than 0 is not theirs to decide.
void TrackPhysicalKey(Sequence& s, int32_t nCode, uint32_t kind, const KeyEvent& event) {
  if (nCode != 0 || event.vkCode >= 256 || event.scanCode == kInjectedScanCode) return;
  Press& press = s.presses[event.vkCode];
  if (IsDownKind(kind)) press = {true, event.scanCode};
  if (IsUpKind(kind)) press.held = false;
}

void Decide(Sequence& s, int32_t nCode, uint32_t kind, const KeyEvent& event) {
  Remapper remapper{s.state, s.table, s.settings, s.device};
  const HookState before = s.state;
  const uint32_t effectsBefore = s.device.effectCount;
  const uint32_t togglesBefore = s.device.toggleCount;
  s.device.launchCount = 0;

  allocations = 0;
  countingAllocations = true;
  const Verdict verdict = KeyboardHookDecide(remapper, nCode, kind, event);
  countingAllocations = false;
  if (allocations != 0) __builtin_trap();

  if (nCode != 0 || event.scanCode == kInjectedScanCode) {
    if (verdict != Verdict::Pass) __builtin_trap();
    CheckUnchanged(before, s, effectsBefore);
  } else {
    CheckLaunchesAndToggles(s, event, before.lastEvent, togglesBefore);
  }
  AfterDecision(s, kind, event, verdict);
  CheckSentKeys(s);
  TrackPhysicalKey(s, nCode, kind, event);
}

// The key pool that a key byte below 0x80 picks from: the entries' keys first.
struct KeyPool {
  PhysicalKey keys[kMaxEntries + 13];
  uint32_t count = 0;
};

KeyPool MakePool(const MapTable& table) {
  static constexpr PhysicalKey kFixedKeys[] = {
      {0x11, 0x1D}, {0x10, 0x2A}, {0x5B, 0x5B},
      {0x5C, 0x5C}, {0x86, 0x6E}, {0x5C, 0x11},
      {0x76, 0x11}, {0x41, 0x1E}, {0x41, kInjectedScanCode},
      {0xA2, 0x1D}, {0xA3, 0x1D}, {0xA0, 0x2A},
      {0xA1, 0x36},
  };
  KeyPool pool;
  for (uint32_t i = 0; i < table.Count(); ++i) {
    pool.keys[pool.count++] = {table.At(i).vkCode, table.At(i).scanCode};
  }
  for (const PhysicalKey& key : kFixedKeys) pool.keys[pool.count++] = key;
  return pool;
}

void RunEvent(Sequence& s, const KeyPool& pool, const uint8_t* bytes) {
  static constexpr uint32_t kKinds[] = {kWmKeyDown, kWmKeyUp, kWmSysKeyDown, kWmSysKeyUp};
  const uint8_t op = bytes[0];
  const uint8_t keyByte = bytes[1];
  s.time += 10U * bytes[2];
  if ((op & 0x04) != 0) s.device.portrait = !s.device.portrait;
  const int32_t nCode = (op & 0x08) != 0 ? 1 : 0;
  const uint32_t kind = (op & 0x10) != 0 ? kOtherMessageKind : kKinds[op & 3];
  const PhysicalKey key =
      keyByte < 0x80 ? pool.keys[keyByte % pool.count] : PhysicalKey{keyByte - 0x80U, 0x20};
  Decide(s, nCode, kind, KeyEvent{key.vk, key.scan, op & 0xE0U, s.time, 0});
}

// Every key the decisions sent down must be up again once every physical key is released.
void CheckReleased(Sequence& s) {
  for (uint32_t vk = 0; vk < 256; ++vk) {
    if (!s.presses[vk].held) continue;
    s.time += 10;
    Decide(s, 0, kWmKeyUp, KeyEvent{vk, s.presses[vk].scan, 0x80, s.time, 0});
  }
  for (const bool down : s.device.sentDown) {
    if (down) __builtin_trap();
  }
}

MapEntry EntryOf(const uint8_t* bytes) {
  MapEntry entry;
  std::memset(&entry, 0, sizeof entry);
  entry.orientation = bytes[0] & 3;
  entry.modifier = (bytes[0] >> 2) & 7;
  entry.hold = (bytes[0] >> 5) & 1;
  entry.type = bytes[0] >> 6;
  entry.vkCode = bytes[1];
  entry.scanCode = bytes[2];
  std::memcpy(entry.keys, bytes + 3, 4);
  return entry;
}

std::string TableBytes(const MapTable& table) {
  std::string bytes;
  for (uint32_t i = 0; i < table.Count(); ++i) {
    bytes.append(reinterpret_cast<const char*>(&table.At(i)), sizeof(MapEntry));
  }
  return bytes;
}

// The index by key code lists, for each code, exactly the entries with that code in table order.
void CheckKeyIndex(const MapTable& table) {
  uint32_t listed = 0;
  for (uint32_t vk = 0; vk < 256; ++vk) {
    uint32_t previous = kNoMapEntry;
    for (uint32_t i = table.FirstWithKey(static_cast<uint8_t>(vk)); i != kNoMapEntry;
         i = table.NextWithKey(i), ++listed) {
      if (i >= table.Count() || table.At(i).vkCode != vk) __builtin_trap();
      if (previous != kNoMapEntry && i <= previous) __builtin_trap();
      previous = i;
    }
  }
  if (listed != table.Count()) __builtin_trap();
}

void RunBinary(const uint8_t* data, size_t size) {
  if (size < 3) return;
  HostSettings settings;
  settings.debugMode = data[0] & 1;
  settings.useImeToggle = (data[0] & 2) != 0 ? 0 : 1;
  settings.holdDuration = 10U * data[1];
  MapTable table;
  const uint32_t entries = data[2] & kMaxEntries;
  size_t at = 3;
  for (uint32_t i = 0; i < entries && at + kEntryBytes <= size; ++i, at += kEntryBytes) {
    if (!table.Append(EntryOf(data + at))) return;
  }
  CheckKeyIndex(table);
  const std::string tableBefore = TableBytes(table);

  Sequence s{.table = table, .settings = settings};
  s.state.sideModifiers = (data[0] >> 5) & 1;
  s.device.portrait = (data[0] & 4) != 0;
  if ((data[0] & 0x10) != 0) s.time = 0xFFFFFF00;
  const KeyPool pool = MakePool(table);
  for (; at + kEventBytes <= size; at += kEventBytes) RunEvent(s, pool, data + at);
  CheckReleased(s);

  if (settings.debugMode.load() != (data[0] & 1) ||
      settings.useImeToggle.load() != ((data[0] & 2) != 0 ? 0 : 1) ||
      settings.holdDuration.load() != 10U * data[1]) {
    __builtin_trap();
  }
  if (TableBytes(table) != tableBefore) __builtin_trap();
}

// --- Text forms ------------------------------------------------------------------------------

std::string PrintedTable(const HostSettings& settings, const MapTable& table) {
  std::ostringstream text;
  PrintTable(text, settings, table);
  return text.str();
}

// A table that was read prints to a text that reads back to the same table.
void CheckRoundTrip(const HostSettings& settings, const MapTable& table) {
  const std::string printed = PrintedTable(settings, table);
  std::istringstream in(printed);
  MapTable again;
  HostSettings againSettings;
  std::string error;
  if (!ReadTableText(in, again, againSettings, error)) __builtin_trap();
  if (PrintedTable(againSettings, again) != printed) __builtin_trap();
}

bool IsDocumentedLine(std::string_view line) {
  static constexpr std::string_view kForms[] = {
      "log ", "send 0x", "launch ", "ime open 0x", "ime close", "=> swallow", "=> pass", "start \"",
  };
  for (const std::string_view form : kForms) {
    if (line.substr(0, form.size()) == form) return true;
  }
  return false;
}

void RunText(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  std::istringstream tableText(input.substr(0, split));
  const std::string trace = split == std::string::npos ? "" : input.substr(split + 1);

  MapTable table;
  HostSettings settings;
  std::string error;
  if (ReadTableText(tableText, table, settings, error)) {
    CheckRoundTrip(settings, table);
  } else if (error.empty() || error[0] < '1' || error[0] > '9') {
    __builtin_trap();
  }

  std::istringstream traceText(trace);
  std::ostringstream out, errors;
  const int status = ReplayTrace(traceText, "trace", table, settings, out, errors);
  if (status != 0 && (status != kMalformedTraceStatus || errors.str().empty())) __builtin_trap();
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) {
    if (!IsDocumentedLine(line)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInputBytes) return 0;
  static const bool installed =
      __sanitizer_install_malloc_and_free_hooks(&CountMalloc, &IgnoreFree) != 0;
  (void)installed;
  if ((data[0] & kTextModeBit) != 0) {
    RunText(data + 1, size - 1);
  } else {
    RunBinary(data, size);
  }
  return 0;
}
