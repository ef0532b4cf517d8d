// Internal to the executor, the operators and the calls: per-thread execution state, the
// retirement of replaced element lists, locking of shared data, and small Value helpers.
//
// Aliases. A stack entry for a variable, a by-reference parameter, an element of `arg` and a
// queued post-increment all hold the ValueData of a Value they do not own. Such a Value dies
// when its frame is left or when a whole-list assignment replaces the list it is in. Frames are
// left only when nothing of theirs can be referred to any more (list literals copy their
// entries first), and replaced lists are "retired" rather than freed: they stay alive until the
// thread reaches a statement boundary at which no alias can exist. An activation that holds
// aliases (on its stack, in hand, or queued on its frames) counts itself in `holders` while a
// nested walk runs; the nested walk releases retired lists only when that count is 0.
#ifndef KEYTWINE_SCRIPT_RUNTIME_EXECUTOR_INTERNAL_H
#define KEYTWINE_SCRIPT_RUNTIME_EXECUTOR_INTERNAL_H

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "script/front/tokens.h"
#include "script/port/port.h"
#include "script/runtime/engine.h"
#include "script/runtime/execute.h"
#include "script/runtime/report_texts.h"

namespace keytwine::exec {

// --- Per-thread state ----------------------------------------------------------------------

// What the names of a node found the last time, in the frame they were looked up from; valid
// while the thread's lookup epoch is the one recorded (see ForgetLookups). A variable node keeps
// its own variable (count 1); a statement that the executor runs in one step keeps those of all
// its names under its first node (null for an operand that is a number).
inline constexpr int32_t kMaxLookupNames = 3;
struct LookupEntry {
  const SyntaxNode* node;
  const Frame* frame;
  uint64_t epoch;
  int32_t count;
  Value* variables[kMaxLookupNames];
};
inline constexpr uint32_t kLookupEntryBits = 6;

// Trivially destructible on purpose: a thread_local with a destructor makes the MinGW runtime
// register thread-exit clean-up that can deadlock the process at exit. A script thread frees what
// it retired itself when it ends (ReleaseThreadRetired).
struct ThreadState {
  // Changes whenever a lookup made before could now find another variable or a freed one; always
  // to a value it never had (lookupEpochs counts them), except when a script call returns.
  uint64_t lookupEpoch = 1;
  uint64_t lookupEpochs = 1;
  LookupEntry lookups[1U << kLookupEntryBits] = {};
  int32_t executeDepth = 0;  // Execute calls in progress
  int32_t callDepth = 0;     // script function calls in progress
  int32_t holders = 0;       // enclosing activations that hold aliases
  uintptr_t stackBase = 0;   // frame address of the outermost Execute
  Value* retired = nullptr;  // replaced unshared element lists, waiting for a safe point
};
static_assert(std::is_trivially_destructible_v<ThreadState>);
// Constant-initialised, so that other files reach it without a call to an initialisation wrapper.
extern thread_local constinit ThreadState threadState;
inline ThreadState& State() {
  return threadState;
}

// True when one more walk or call would pass the stack budget (calls check kMaxCallDepth too).
inline bool StackExhausted(const ThreadState& state) {
  const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  // The stack grows downwards on every supported platform.
  return state.stackBase > here && state.stackBase - here > kExecutorStackBudget;
}
inline bool StackExhausted() {
  return StackExhausted(State());
}

// Lookups of variables through the frames are remembered per thread, by node and frame. The
// answer of a node in a frame can change only when a local is declared somewhere (it may hide the
// one found), when a frame that has locals is left (what was found may be freed, and the frame's
// address may be reused), or when a walk starts from outside the executor (a new call, a new
// thread, a new chain whose nodes may reuse freed addresses): each of those forgets every answer.
// Globals are not remembered. Within a loop none of these happens, so its names are found once.
inline void ForgetLookups() {
  ThreadState& state = State();
  state.lookupEpoch = ++state.lookupEpochs;
}

// What a script call does cannot change what the caller's names find: the called function's
// frames are not in the caller's chains (a call frame has no parent) and the caller's frames
// outlive the call. So when a call returns, the lookups the caller made before it hold again
// (those made during the call had other epochs and never hold again). Declared before the call's
// frame, so that it restores after the frame is left.
class CallLookups {
 public:
  CallLookups() : state_(State()), epoch_(state_.lookupEpoch) {}
  ~CallLookups() { state_.lookupEpoch = epoch_; }
  CallLookups(const CallLookups&) = delete;
  CallLookups& operator=(const CallLookups&) = delete;

 private:
  ThreadState& state_;
  uint64_t epoch_;
};
inline LookupEntry& LookupSlot(ThreadState& state, const SyntaxNode* node) {
  const auto address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(node) >> 3);
  return state.lookups[(address * 0x9E3779B1U) >> (32 - kLookupEntryBits)];
}

// Counts one script call level for as long as it lives.
class CallLevel {
 public:
  CallLevel() : state_(State()) { ++state_.callDepth; }
  ~CallLevel() { --state_.callDepth; }
  CallLevel(const CallLevel&) = delete;
  CallLevel& operator=(const CallLevel&) = delete;
  bool TooDeep() const { return state_.callDepth > kMaxCallDepth || StackExhausted(); }

 private:
  ThreadState& state_;
};

// Counts the current activation among the holders while a nested walk runs, when it holds.
class HoldGuard {
 public:
  explicit HoldGuard(bool holding) : holding_(holding) {
    if (holding_) ++State().holders;
  }
  ~HoldGuard() {
    if (holding_) --State().holders;
  }
  HoldGuard(const HoldGuard&) = delete;
  HoldGuard& operator=(const HoldGuard&) = delete;

 private:
  bool holding_;
};

// --- Values --------------------------------------------------------------------------------

// An entry that holds a ValueData it does not own. The argument marker (no data) is none.
inline bool IsAlias(const Value* value) {
  return value->data != nullptr && value->data->owner != value;
}
// The Value whose element list belongs to value's data: the owner of the data (value itself for
// a temporary). An alias's own elements field is only a copy made when it was created.
inline Value* ListHolder(const Value* value) {
  if (value->data != nullptr && value->data->owner != nullptr) return value->data->owner;
  return const_cast<Value*>(value);
}
inline Value* ListOf(const Value* value) {
  return ListHolder(value)->elements;
}
inline bool IsShared(const Value* value) {
  return value->data != nullptr && value->data->shared != 0;
}

// FindInList, inline for the lookups of the executor.
inline Value* FindNamed(Value* list, const char* name, NameHash hash) {
  for (Value* value = list; value != nullptr; value = value->next) {
    if (value->hash == hash && value->name != nullptr && SameName(value->name, name)) return value;
  }
  return nullptr;
}

// The part of LookUpVariable after the frames: the globals of frame's script, or of the script
// that "script.name" names (reported when there is none).
Value* LookUpGlobal(Frame* frame, const char* name, NameHash hash);
// LookUpVariable with the frames scanned inline: most names are locals. frame and name non-null.
inline Value* FindVariable(Frame* frame, const char* name, NameHash hash) {
  for (Frame* scope = frame; scope != nullptr; scope = scope->parent) {
    if (Value* local = FindNamed(scope->locals, name, hash)) return local;
  }
  return LookUpGlobal(frame, name, hash);
}

// True when an entry of the chain is an alias.
bool HoldsAliases(const Value* chain);
// True when frame or an enclosing block frame has queued post-increments or decrements.
inline bool HasPending(const Frame* frame) {
  for (; frame != nullptr; frame = frame->parent) {
    if (frame->pendingIncrements != nullptr || frame->pendingDecrements != nullptr) return true;
  }
  return false;
}

// Evaluation-stack entries come from a pool of the thread while a walk runs: no allocation per
// push. The pool opens with the thread's outermost Execute and closes with it; blocks still in
// use then (values handed out of the walk) keep it until they are freed. FreeValue knows the
// pool's blocks. A pool entry must not get into anything that outlives its walk or that another
// thread may free (variables, element lists, retired or pending lists): MoveToHeap first.
void OpenTemporaries();
void CloseTemporaries();
bool TemporariesOpen();
// Whether value is an entry of this thread's pool.
bool IsTemporary(const Value* value);
// A zeroed Value with its own zeroed data, from the pool when it is open and has a block, else
// from NewValue. Null when memory runs out.
Value* NewTemporary();
// Gives value a copy of name (none when name is null) with its hash, in the room of a pool entry
// when it fits there. False when memory runs out (value keeps its name then).
bool SetName(Value* value, const char* name, NameHash hash);
// NewTemporary named by a copy of name (non-null) with its hash; null when memory runs out.
Value* NewNamedTemporary(const char* name, NameHash hash);
// As NewAlias, from the pool.
Value* NewTemporaryAlias(const Value* variable);
// The same value in a heap block of its own (value itself when it is not a pool entry); the pool
// entry is given back. Null when memory runs out (value is then left as it was).
Value* MoveToHeap(Value* value);

// New temporaries; null when memory runs out (nothing reported).
Value* NewInteger(int32_t integer);
// Takes text (non-null).
Value* NewText(port::Owned<char> text);
// A temporary that owns a copy of entry's name, data and list and keeps its wholeList mark; null
// when memory runs out.
Value* CopyEntry(Frame* frame, const Value* entry);

// DeclareVariable for a parameter or `arg` of a call frame, whose record comes from the pool: a
// call frame is left by the thread that made it, and its locals never become globals. hash is
// that of name without its '&', or 0 when it is not known yet.
Value* DeclareParameter(Frame* frame, const char* name, NameHash hash, const char* position);

// Drops this thread's side index of the list whose first element value is (being freed).
void ForgetListHead(const Value* value);
// Frees this thread's list indexes (when its outermost walk ends).
void ReleaseListIndexes();

// The integer result of binary operator code on l and r, as BinaryOperation computes it; false
// when it would report an error instead (division by zero, an operator integers do not have).
bool AnyIntegerOperands(int32_t l, int32_t r, int32_t code, int32_t* result);
// The same, with the operators of counting loops inline.
[[gnu::always_inline]] inline bool IntegerOperands(int32_t l, int32_t r, int32_t code,
                                                   int32_t* result) {
  switch (code) {
    case T_LT:
      *result = l < r ? 1 : 0;
      return true;
    case T_ADD:
      *result = static_cast<int32_t>(static_cast<uint32_t>(l) + static_cast<uint32_t>(r));
      return true;
    case T_SUB:
      *result = static_cast<int32_t>(static_cast<uint32_t>(l) - static_cast<uint32_t>(r));
      return true;
    default:
      return AnyIntegerOperands(l, r, code, result);
  }
}

// --- Shared data ---------------------------------------------------------------------------

// Holds the VariableLock of frame's engine while it lives, when shared is true.
class SharedLock {
 public:
  // Inline: most data is not shared, and this is asked on every read of a variable.
  SharedLock(const Frame* frame, bool shared) {
    if (shared) Enter(frame);
  }
  ~SharedLock() {
    if (lock_ != nullptr) Leave();
  }
  SharedLock(const SharedLock&) = delete;
  SharedLock& operator=(const SharedLock&) = delete;

 private:
  void Enter(const Frame* frame);
  void Leave();
  port::Lock* lock_ = nullptr;
};

// Reads of data that another script thread may assign meanwhile, under the lock when shared.
bool TruthOf(const Frame* frame, const Value* value);
int32_t IntegerOf(const Frame* frame, const Value* value);
// A new copy of the string form; null when memory runs out.
port::Owned<char> TextOf(const Frame* frame, const Value* value);

// Adds delta to the integer form of data (wrapping), storing an integer; locked when shared.
int32_t AddToAnyData(const Frame* frame, ValueData* data, int32_t delta);
inline int32_t AddToData(const Frame* frame, ValueData* data, int32_t delta) {
  if (IsSharedData(data) || data->type != kTypeInteger) return AddToAnyData(frame, data, delta);
  data->integer =
      static_cast<int32_t>(static_cast<uint32_t>(data->integer) + static_cast<uint32_t>(delta));
  return data->integer;
}

// The first element of value's list, read under the lock when value is shared: another script
// thread may replace or grow that list meanwhile. What it gives stays alive until this thread's
// next safe point, since a replaced list is retired rather than freed.
inline Value* ListHeadOf(const Frame* frame, const Value* value) {
  SharedLock lock(frame, IsShared(value));
  return ListOf(value);
}

// Deep copy of value's element list (under the lock when shared). False when memory runs out.
bool CopyListChain(const Frame* frame, const Value* value, Value** copy);
inline bool CopyListOf(const Frame* frame, const Value* value, Value** copy) {
  if (value->data != nullptr && !IsSharedData(value->data) && ListOf(value) == nullptr) {
    *copy = nullptr;  // mostly a scalar argument: nothing to copy, no lock to take
    return true;
  }
  return CopyListChain(frame, value, copy);
}

// Whole-list assignment: target's list (that of its data's owner) becomes a copy of source's
// list. The copy is made first, so a source that is the target's own list or holds it works.
// Reports "Alloc failed" and returns false when memory runs out.
bool ReplaceList(Frame* frame, Value* target, const Value* source);

// Hands a replaced element list over for release at a safe point.
void RetireList(Value* list, bool shared);
// Frees this thread's retired lists.
void ReleaseThreadRetired();

// Applies frame's queued post-increments and post-decrements and empties the queues.
void ApplyQueued(Frame* frame);
// As ApplyQueued; inline, since most statements end with nothing queued.
inline void ApplyPending(Frame* frame) {
  if (frame->pendingIncrements != nullptr || frame->pendingDecrements != nullptr) {
    ApplyQueued(frame);
  }
}

}  // namespace keytwine::exec

#endif  // KEYTWINE_SCRIPT_RUNTIME_EXECUTOR_INTERNAL_H
