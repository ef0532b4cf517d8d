// The runtime data model of the script engine: the record that is both the engine head and each
// loaded script, the execution context of a block or call, the universal value record with its
// shareable payload, and the operations that find, declare, index and convert them.
//
// The records are plain standard-layout data linked by next pointers. Extension libraries loaded
// with #library receive Value records through the native calling convention, so the field order
// and widths of Value and ValueData are part of the engine's binary contract: append nothing to
// them and reorder nothing.
//
// Ownership: a Value owns its ValueData and its element list only when data->owner points back
// to it; every other Value holding the same ValueData is an alias. All records and strings come
// from engine memory (port::Alloc / port::AllocZero) and go back with port::Free.
#ifndef KEYTWINE_SCRIPT_RUNTIME_ENGINE_H
#define KEYTWINE_SCRIPT_RUNTIME_ENGINE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "script/port/port.h"

namespace keytwine {

struct SyntaxNode;       // script/front/syntax.h
struct CompiledPattern;  // script/pattern/
struct Value;
struct Frame;
struct Script;

// The 32-bit hash by which names are compared before their text: h = 2h + (byte as int8_t).
using NameHash = uint32_t;

// Reverses a chain of records linked by their next fields and returns its new first record.
template <typename T>
T* ReverseChain(T* first) {
  T* reversed = nullptr;
  while (first != nullptr) {
    T* next = first->next;
    first->next = reversed;
    reversed = first;
    first = next;
  }
  return reversed;
}

// --- Values --------------------------------------------------------------------------------

enum ValueType : int32_t {
  kTypeInteger = 0,
  kTypeString = 1,
};

// The payload of a Value; several Values may hold the same ValueData (aliases).
struct ValueData {
  union {
    int32_t integer;  // type kTypeInteger
    char* text;       // type kTypeString: owned, NUL-terminated, never null
  };
  int32_t type;    // ValueType
  int32_t shared;  // 1 when reachable from script globals: assignment takes the VariableLock
  Value* owner;    // the Value that owns this data (and its element list)
};

// The universal runtime record: variable, list element, evaluation-stack entry, native argument
// and native result.
struct Value {
  char* name;                // owned; null for temporaries and positional elements
  NameHash hash;             // hash of name, 0 when absent
  ValueData* data;           // null only for the argument marker
  CompiledPattern* pattern;  // not owned: set on the stack entry of a pattern or string literal
  Value* elements;           // first element of the list (arrays and hashes are one structure)
  int32_t wholeList;         // 1 when the entry stands for its element list as a whole
  Value* next;               // next variable, element, stack entry or argument
};

static_assert(std::is_standard_layout_v<ValueData>);
static_assert(std::is_standard_layout_v<Value>);
static_assert(std::is_trivially_copyable_v<Value> && std::is_trivially_copyable_v<ValueData>);

// Longest element list: growing or joining lists past this many elements fails with
// "List too long" instead of exhausting memory (a[2000000000] would otherwise ask for ~100 GB).
inline constexpr int32_t kMaxListElements = 16 * 1024 * 1024;
// Deepest nesting of lists that deep copies and global promotion follow; they recurse once per
// level, and script threads may run on small stacks.
inline constexpr int32_t kMaxListDepth = 256;

// The failure marker that call results use in place of a Value pointer: the address -1, which
// no record can have.
inline Value* FailedValue() {
  return reinterpret_cast<Value*>(~uintptr_t{0});  // NOLINT(performance-no-int-to-ptr)
}
inline bool IsFailedValue(const Value* value) {
  return value == FailedValue();
}

// A zeroed Value with its own zeroed ValueData (integer 0, not shared), both in one block; null
// when memory runs out.
Value* NewValue();
// Frees the data that value owns: a separate block, or nothing when it is the one NewValue made
// with value. The caller has checked that value owns it and freed its string.
void FreeDataOf(Value* value);
// A Value record without data of its own: data and elements are those of variable (an alias).
// Null when memory runs out.
Value* NewAlias(const Value* variable);
// Frees name, and when the Value owns its data, the string payload, the data and the element
// list (nested lists included); then the record. Does not follow next. Accepts null and
// FailedValue(). Iterative: long lists and deep nesting cost no stack.
void FreeValue(Value* value);
// FreeValue for every Value along the next links.
void FreeValueChain(Value* first);
// Deep copy of a chain: names, hashes, payloads (strings duplicated), types and element lists in
// order. The copies own their data, are not shared, and have no pattern and no wholeList.
// Returns false (and stores null, nothing leaked) when memory runs out or lists nest deeper
// than kMaxListDepth. An empty chain copies to null with true.
bool CopyValueChain(const Value* first, Value** copy);

struct ValueDeleter {
  void operator()(Value* value) const { FreeValue(value); }
};
struct ValueChainDeleter {
  void operator()(Value* first) const { FreeValueChain(first); }
};
// Owning pointers for temporaries: one Value, or a whole chain along next.
using ValuePtr = std::unique_ptr<Value, ValueDeleter>;
using ValueChainPtr = std::unique_ptr<Value, ValueChainDeleter>;

// Stores source's payload and type into destination (a string is duplicated), taking the
// VariableLock of frame's engine when destination is shared and frame is given. The element
// list is not touched. On "Alloc failed" (reported through frame when given) returns false and
// leaves destination unchanged.
bool AssignAnyData(Frame* frame, ValueData* destination, const ValueData* source);
// Stores an integer into data, freeing a string it held; no lock (temporaries, locals).
inline void SetIntegerData(ValueData* data, int32_t integer) {
  if (data == nullptr) return;
  if (data->type == kTypeString) port::Free(data->text);
  data->integer = integer;
  data->type = kTypeInteger;
}

// The shared flag of data, read before anything beside it: while it is set another script thread
// may assign the data, and a plain read could be merged with the read of the type next to it.
inline bool IsSharedData(const ValueData* data) {
  return std::atomic_ref<int32_t>(const_cast<int32_t&>(data->shared))
             .load(std::memory_order_acquire) != 0;
}

// AssignAnyData, with the integer that no other script thread can see stored inline: the most
// frequent assignment, with nothing to copy and no lock to take.
inline bool AssignData(Frame* frame, ValueData* destination, const ValueData* source) {
  if (destination != nullptr && source != nullptr && !IsSharedData(destination) &&
      !IsSharedData(source) && source->type == kTypeInteger) {
    SetIntegerData(destination, source->integer);
    return true;
  }
  return AssignAnyData(frame, destination, source);
}
// Stores text (non-null) into data, freeing a string it held; no lock.
void SetTextData(ValueData* data, port::Owned<char> text);

// --- Conversions ---------------------------------------------------------------------------

// Integer form: the payload, or for a string its leading decimal number with an optional sign
// after leading blanks (0 when there is none), wrapped to 32 bits. Null data gives 0.
int32_t ToInteger(const ValueData* data);
// atol-like parse of text with 32-bit wrap-around (no overflow UB). Null gives 0.
int32_t TextToInteger(const char* text);

// Room for the decimal text of any int32_t.
struct NumberText {
  char bytes[12];
};
// String form without allocating: the string itself, or the decimal text of an integer written
// into number. Null data gives "".
const char* ToText(const ValueData* data, NumberText& number);
// String form as a new string; null when memory runs out.
port::Owned<char> ToNewText(const ValueData* data);
// Writes the decimal text of value ("-" then digits for negatives) and returns number.bytes.
const char* FormatInteger(int32_t value, NumberText& number);

// Truth: an integer is true when non-zero; a string when its first byte is non-zero. Null data
// is false.
bool IsTrue(const ValueData* data);

// --- Lists ---------------------------------------------------------------------------------

// Whether two names are the same text: strcmp for the short names of variables and elements,
// without the call.
inline bool SameName(const char* a, const char* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// First Value of the chain named name (hash first, then the text); null when absent.
Value* FindInList(Value* list, const char* name);
Value* FindInList(Value* list, const char* name, NameHash hash);
// Appends a new Value at the end of *head, named by a copy of name (null for an unnamed
// element), its data assigned from source without lock, or integer 0. Null when memory runs out
// (nothing appended).
Value* AppendToList(Value** head, const char* name, const ValueData* source);
// Number of Values along the next links.
int32_t CountList(const Value* list);
// Marks every Value of the chain, and recursively every element, shared (global promotion).
// Lists nested deeper than kMaxListDepth are left as they are; returns false then.
bool MarkShared(Value* list);

// --- Scripts and the engine ----------------------------------------------------------------

// One module loaded by #library; a failed load leaves module null.
struct LibraryEntry {
  port::LibraryHandle module;
  LibraryEntry* next;
};

// One function definition of a script, in definition order.
struct FunctionEntry {
  char* name;              // owned, lowered
  NameHash hash;           // hash of name
  SyntaxNode* definition;  // not owned: the T_FUNCTION / T_ARGMATCH node in the script's chain
  FunctionEntry* next;     // owned
  SyntaxNode* call;        // not owned: the definition's T_CALL (names it, holds the body); null
                           // until its parse completes
  // The number of parameters when each is a plain name (no '&', default or pattern) and no name
  // comes twice; -1 otherwise. A call with as many arguments binds them without a walk.
  int32_t plainParameters;
};

// One record type, used two ways: the engine head (engine == this) and each loaded script.
struct Script {
  char* name;                // owned: file name up to its first "."; null in the engine head
  char* directory;           // owned: folder the file was loaded from
  char* source;              // owned: the whole source text; error reports count lines in it
  int32_t optionExplicit;    // 1 after #option(explicit): undeclared names are errors
  SyntaxNode* topLevel;      // owned: first node of the top-level statement list
  FunctionEntry* functions;  // owned
  Value* globals;            // owned: filled when the top level has run
  LibraryEntry* libraries;   // owned
  Script* engine;            // the engine head; the head points to itself
  Script* next;              // next loaded script; the chain starts at the head
  port::Lock variableLock;   // used in the engine head only
};
using ScriptEngine = Script;

// The engine head: a zeroed Script whose engine is itself, with optionExplicit set and its
// VariableLock ready. Null when memory runs out.
Script* NewEngine(int32_t optionExplicit);
// A new zeroed Script appended at the end of engine's chain, linked to the head, copying the
// head's optionExplicit. Null when memory runs out.
Script* AppendScript(Script* engine);
// The loaded script whose name equals the first length bytes of name without regard to case,
// searching the whole chain from engine's head; null when none.
Script* FindScript(Script* engine, const char* name, size_t length);
// Releases the chain starting at head, last script first: names, source, globals, function
// entries, libraries (last loaded closed first) and the records. The syntax chain belongs to
// the front end: releaseTree (may be null when no script has one) is called on each topLevel.
void FreeScriptChain(Script* head, void (*releaseTree)(SyntaxNode* first));

// --- Frames and variables ------------------------------------------------------------------

// The execution context of a block, call, top level or thread; lives on its runner's stack.
struct Frame {
  const char* functionName;  // not owned; null for blocks; top-level frames carry the script name
  const char* position;      // not owned: where in the source the current node starts
  int32_t declareNames;      // 1 while parameter defaults and pattern parameters are bound
  int32_t stopKind;          // node kind at which the executor stops; 0 none
  Script* script;
  Value* locals;             // owned
  Frame* parent;             // the enclosing frame; null for call, top-level and thread frames
  Value* pendingIncrements;  // owned: aliases waiting for the next T_POSTFIX_DONE
  Value* pendingDecrements;  // owned
};
static_assert(std::is_standard_layout_v<Frame>);

// Frees the pending lists and the locals and clears the locals pointer.
void LeaveFrame(Frame* frame);

// Leaves a frame when the scope that runs it ends.
class FrameGuard {
 public:
  explicit FrameGuard(Frame& frame) : frame_(frame) {}
  ~FrameGuard() { LeaveFrame(&frame_); }
  FrameGuard(const FrameGuard&) = delete;
  FrameGuard& operator=(const FrameGuard&) = delete;

 private:
  Frame& frame_;
};

// Locals of frame and its parents, innermost first, then the globals of the frame's script, or
// for "script.name" of the named script ("Script not Found" reported with the name as position
// when no loaded script has that name). Null when not found.
Value* LookUpVariable(Frame* frame, const char* name);
// The same with the hash of name already known.
Value* LookUpVariable(Frame* frame, const char* name, NameHash hash);
// Declares name (a leading "&" dropped) as integer 0 in frame's own locals; a name already
// there reports name + " :Declaration overlaps" at position and yields null, as does memory
// running out ("Alloc failed").
Value* DeclareVariable(Frame* frame, const char* name, const char* position);
// Assigns data to name when it is found in the frame chain (globals are not consulted), else
// appends it to frame's locals. Null after "Alloc failed".
Value* SetOrDeclare(Frame* frame, const char* name, const ValueData* data);
// The element of base selected by index: a string names an element (created when missing; the
// empty string selects base itself), an integer counts positions from 0 and grows the list with
// integer-0 elements as needed. New elements take base's shared flag. Reports "Index error"
// (negative index), "List too long" (growth past kMaxListElements) or "Alloc failed"; the list
// is then left as it was and the result is null.
Value* ElementOf(Frame* frame, Value* base, const ValueData* index);

// --- Native calling convention and engine-wide state ---------------------------------------

// A native entry point: the calling frame, the first argument (the rest follow its next links;
// null when there is none), the result Value (integer 0 on entry) and a 256-byte message buffer
// whose first byte is 0. Returns a NativeStatus. Library exports are declared extern "C" so that
// their names stay unmangled; the types are plain C types.
using NativeFunction = int32_t (*)(Frame* frame, Value* firstArgument, Value* result,
                                   char* message);
inline constexpr size_t kNativeMessageSize = 256;

// What a native returns. Libraries compiled against earlier versions return the bare numbers, so
// the values never change. Any other negative value fails the call without a report.
enum NativeStatus : int32_t {
  kNativeDone = 0,              // success (so is any positive value)
  kNativeFailed = -1,           // reported as "Function error : " + the text in message
  kNativeTooFewArguments = -2,  // reported as "Too few arguments" with the called name
};

// One row of the host's native table.
struct NativeEntry {
  const char* name;  // "_sfunc_" + the script-visible name
  NameHash hash;     // filled by InstallNativeTable
  NativeFunction entry;
};

// One per process, shared by all engines.
struct RuntimeState {
  NativeEntry* natives = nullptr;  // the host's table, not owned
  int32_t nativeCount = 0;
  port::Lock runtimeLock;  // guards the native table
};
RuntimeState& Runtime();

// The engine-wide counters. Atomic rather than under a lock, and constant-initialised so that
// reading them is a plain load: every walk asks for the stop flag and every call counts itself.
struct RuntimeCounters {
  std::atomic<int32_t> stopFlag{0};  // 1 while stopping
  std::atomic<int32_t> activeCount{0};
  std::atomic<int32_t> scriptThreads{0};  // started and not yet ended
};
inline constinit RuntimeCounters runtimeCounters;

// Hands the host's native table to the runtime and fills its hash column. Called during the
// engine-wide initialisation, before any script runs; a null table removes it.
void InstallNativeTable(NativeEntry* table, int32_t count);
// The native named name in the installed table (hash, then strcmp); null when absent.
NativeFunction FindNative(const char* name);

// StopFlag and ActiveCount, read and changed atomically.
inline bool IsStopping() {
  return runtimeCounters.stopFlag.load(std::memory_order_acquire) != 0;
}
inline void SetStopFlag(int32_t value) {
  runtimeCounters.stopFlag.store(value, std::memory_order_release);
}
inline void AddActive(int32_t n) {
  runtimeCounters.activeCount.fetch_add(n, std::memory_order_acq_rel);
}
inline int32_t ActiveCount() {
  return runtimeCounters.activeCount.load(std::memory_order_acquire);
}
// Script threads started and not yet ended, read and changed atomically.
inline void AddScriptThreads(int32_t n) {
  runtimeCounters.scriptThreads.fetch_add(n, std::memory_order_relaxed);
}
inline int32_t ScriptThreadCount() {
  return runtimeCounters.scriptThreads.load(std::memory_order_relaxed);
}

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_RUNTIME_ENGINE_H
