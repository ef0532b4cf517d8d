#include "host/natives.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>

#include "host/configuration.h"
#include "host/map_table.h"
#include "host/utf8.h"
#include "script/text/native_args.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

constexpr int32_t kTooFewArguments = -2;
constexpr int32_t kNativeError = -1;

std::atomic<ErrorSink> g_errorSink{nullptr};

// The record of the running configuration, if any. Script threads append to it under the lock,
// which also keeps its entries in table order.
ConfigurationRecord* g_record = nullptr;
std::mutex g_recordLock;

const Frame* Outermost(const Frame* frame) {
  while (frame->parent != nullptr) frame = frame->parent;
  return frame;
}

// How far the last PlaceOf counted the lines of a script's text. The calls of a run mostly come
// in text order, so each continues where the last stopped, and a check of a long configuration
// counts each line once. Reset with the record, under g_recordLock like every use.
struct LineCursor {
  const char* source = nullptr;
  const char* end = nullptr;  // of the source text
  const char* at = nullptr;
  const char* lineStart = nullptr;
  int32_t line = 1;
};
LineCursor g_lineCursor;

// Moves the cursor to a position in its text, from the start when the position is before it.
void MoveCursor(LineCursor& c, const char* position) {
  if (!std::less_equal<const char*>()(c.at, position)) c = {c.source, c.end, c.source, c.source, 1};
  for (; c.at != position; ++c.at) {
    if (*c.at == '\n') {
      ++c.line;
      c.lineStart = c.at + 1;
    }
  }
}

// The script and line where the frame stands. The position is compared as an address: it may
// point outside the script's text.
SourcePlace PlaceOf(const Frame* frame) {
  SourcePlace place;
  if (frame == nullptr) return place;
  const Script* script = Outermost(frame)->script;
  if (script == nullptr) return place;
  if (script->directory != nullptr) place.directory = script->directory;
  if (script->name != nullptr) place.script = script->name;
  const char* source = script->source;
  const char* position = frame->position;
  const std::less_equal<const char*> notAfter;
  if (source == nullptr || position == nullptr || !notAfter(source, position)) return place;
  LineCursor& cursor = g_lineCursor;
  if (cursor.source != source) cursor = {source, source + std::strlen(source), source, source, 1};
  if (!notAfter(position, cursor.end)) return place;
  MoveCursor(cursor, position);
  place.line = cursor.line;
  const char* lineStart = cursor.lineStart;
  while (*lineStart == ' ' || *lineStart == '\t') ++lineStart;
  place.text.assign(lineStart, std::strcspn(lineStart, "\r\n"));
  return place;
}

// Walks the argument chain: argument n + 1 is the next link of argument n.
class Arguments {
 public:
  explicit Arguments(Value* first) : next_(first) {}
  // The next argument, or null when the call has no more.
  Value* Take() {
    Value* argument = next_;
    if (next_ != nullptr) next_ = next_->next;
    return argument;
  }

 private:
  Value* next_;
};

// Reads orientation, modifier, hold, vkCode and scanCode (the codes as written into origin);
// false when one is missing.
bool ReadKeyFields(Arguments& args, MapEntry& entry, EntryOrigin& origin) {
  Value* fields[5];
  for (Value*& field : fields) {
    field = args.Take();
    if (field == nullptr) return false;
  }
  entry.orientation = ArgToInt(fields[0]);
  entry.modifier = ArgToInt(fields[1]);
  entry.hold = static_cast<uint32_t>(ArgToInt(fields[2]));
  origin.vkCode = ArgToInt(fields[3]);
  origin.scanCode = ArgToInt(fields[4]);
  entry.vkCode = static_cast<uint8_t>(origin.vkCode);
  entry.scanCode = static_cast<uint8_t>(origin.scanCode);
  return true;
}

bool IsAscii(const char* text) {
  for (; *text != 0; ++text) {
    if (static_cast<unsigned char>(*text) >= 0x80) return false;
  }
  return true;
}

// Copies at most kMapTextLength - 1 units; the field stays terminated.
template <typename Unit>
void CopyText(const Unit* text, char16_t (&field)[kMapTextLength]) {
  size_t n = 0;
  for (; n < kMapTextLength - 1 && text[n] != 0; ++n) field[n] = static_cast<char16_t>(text[n]);
  field[n] = 0;
}

// ASCII, the usual text of paths and parameters, is the same in every code page and is widened
// here: the code page conversion costs more than the rest of an exec call. False when memory ran
// out.
bool ReadText(Value* argument, char16_t (&field)[kMapTextLength]) {
  const port::Owned<char> text = ArgToText(argument);
  if (text == nullptr) return false;
  if (IsAscii(text.get())) {
    CopyText(text.get(), field);
    return true;
  }
  const port::Owned<char16_t> wide = ToWide(text.get());
  if (wide == nullptr) return false;
  CopyText(wide.get(), field);
  return true;
}

// A string argument of ASCII text shorter than kErrorTextCapacity, widened into `out` without
// allocating; false for any other argument.
bool WidenShortAscii(const Value* argument, char16_t (&out)[kErrorTextCapacity]) {
  if (argument->data == nullptr || argument->data->type != kTypeString) return false;
  const char* text = argument->data->text;
  size_t n = 0;
  for (; text[n] != 0; ++n) {
    if (n == kErrorTextCapacity - 1 || static_cast<unsigned char>(text[n]) >= 0x80) return false;
    out[n] = static_cast<char16_t>(text[n]);
  }
  out[n] = 0;
  return true;
}

// The argument's text in UTF-16; null when memory ran out.
port::Owned<char16_t> ReadWide(const Value* argument) {
  const port::Owned<char> text = ArgToText(argument);
  return text != nullptr ? ToWide(text.get()) : nullptr;
}

int32_t Fail(char* message, const char* text) {
  std::strncpy(message, text, kNativeMessageSize - 1);
  message[kNativeMessageSize - 1] = 0;
  return kNativeError;
}

int32_t Append(const MapEntry& entry, EntryOrigin& origin, const Frame* frame, char* message) {
  const std::lock_guard<std::mutex> guard(g_recordLock);
  if (AddMapInfo(entry) != 0) return Fail(message, "Alloc failed");
  if (g_record != nullptr) {
    origin.place = PlaceOf(frame);
    g_record->entries.push_back(origin);
  }
  return 0;
}

MapEntry NewEntry(MapType type) {
  MapEntry entry;
  std::memset(&entry, 0, sizeof entry);
  entry.type = type;
  return entry;
}

void RecordError(const Frame* frame, const char16_t* text) {
  const std::lock_guard<std::mutex> guard(g_recordLock);
  if (g_record != nullptr) g_record->errors.push_back({PlaceOf(frame), ToUtf8(text)});
}

// The three settings share one shape: a required integer stored as it is.
template <typename T>
int32_t SetSetting(Value* first, std::atomic<T>& setting) {
  if (first == nullptr) return kTooFewArguments;
  setting.store(static_cast<T>(ArgToInt(first)), std::memory_order_relaxed);
  return 0;
}

}  // namespace

void DeliverError(const char16_t* text) {
  char16_t shown[kErrorTextCapacity];
  size_t n = 0;
  for (; n < kErrorTextCapacity - 1 && text[n] != 0; ++n) shown[n] = text[n];
  if (n == kErrorTextCapacity - 1 && text[n] != 0 && shown[n - 1] >= 0xD800 &&
      shown[n - 1] <= 0xDBFF) {
    --n;  // a lead surrogate whose partner did not fit
  }
  shown[n] = 0;
  if (ErrorSink sink = g_errorSink.load(std::memory_order_acquire)) sink(shown);
}

namespace {

NativeEntry g_hostNatives[kHostNativeCount] = {
    {"_sfunc_error", 0, &_sfunc_error},
    {"_sfunc_swap", 0, &_sfunc_swap},
    {"_sfunc_exec", 0, &_sfunc_exec},
    {"_sfunc_setholdduration", 0, &_sfunc_setholdduration},
    {"_sfunc_useimetoggle", 0, &_sfunc_useimetoggle},
    {"_sfunc_debugmode", 0, &_sfunc_debugmode},
};

}  // namespace

NativeEntry* HostNativeTable() {
  return g_hostNatives;
}

void SetConfigurationRecord(ConfigurationRecord* record) {
  const std::lock_guard<std::mutex> guard(g_recordLock);
  g_record = record;
  g_lineCursor = {};  // the next run's text may sit where this one's was
}

void SetErrorSink(ErrorSink sink) {
  g_errorSink.store(sink, std::memory_order_release);
}

int32_t _sfunc_swap(Frame* frame, Value* first, Value*, char* message) {
  Arguments args(first);
  MapEntry entry = NewEntry(Swap);
  EntryOrigin origin;
  if (!ReadKeyFields(args, entry, origin)) return kTooFewArguments;
  Value* key1 = args.Take();
  if (key1 == nullptr) return kTooFewArguments;
  origin.keys[0] = ArgToInt(key1);
  // Optional keys: reading stops at the first one missing.
  for (int k = 1; k < 4; ++k) {
    Value* key = args.Take();
    if (key == nullptr) break;
    origin.keys[k] = ArgToInt(key);
  }
  for (int k = 0; k < 4; ++k) entry.keys[k] = static_cast<uint8_t>(origin.keys[k]);
  return Append(entry, origin, frame, message);
}

int32_t _sfunc_exec(Frame* frame, Value* first, Value*, char* message) {
  Arguments args(first);
  MapEntry entry = NewEntry(Exec);
  EntryOrigin origin;
  if (!ReadKeyFields(args, entry, origin)) return kTooFewArguments;
  Value* path = args.Take();
  if (path == nullptr) return kTooFewArguments;
  if (!ReadText(path, entry.path)) return Fail(message, "Alloc failed");
  Value* parameters = args.Take();
  if (parameters != nullptr && !ReadText(parameters, entry.parameters)) {
    return Fail(message, "Alloc failed");
  }
  return Append(entry, origin, frame, message);
}

int32_t _sfunc_setholdduration(Frame*, Value* first, Value*, char*) {
  return SetSetting(first, TheHostSettings().holdDuration);
}

int32_t _sfunc_useimetoggle(Frame*, Value* first, Value*, char*) {
  return SetSetting(first, TheHostSettings().useImeToggle);
}

int32_t _sfunc_debugmode(Frame*, Value* first, Value*, char*) {
  return SetSetting(first, TheHostSettings().debugMode);
}

int32_t _sfunc_error(Frame* frame, Value* first, Value*, char* message) {
  if (first == nullptr) return kTooFewArguments;
  // A report often tells that memory ran out, so a short ASCII text, as reports are, is widened
  // on the stack.
  char16_t shortText[kErrorTextCapacity];
  port::Owned<char16_t> longText;
  const char16_t* text = shortText;
  if (!WidenShortAscii(first, shortText)) {
    longText = ReadWide(first);
    if (longText == nullptr) return Fail(message, "Alloc failed");
    text = longText.get();
  }
  RecordError(frame, text);
  DeliverError(text);
  return 0;
}

}  // namespace keytwine
