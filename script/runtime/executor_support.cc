// Per-thread execution state, retired element lists, locking of shared data and the small Value
// helpers that the executor, the operators and the calls share.
#include <cstring>
#include <utility>

#include "script/runtime/error.h"
#include "script/runtime/executor_internal.h"
#include "script/text/text.h"

namespace keytwine {
namespace exec {
namespace {

// Retired lists of shared (script-global) data: other script threads may still hold aliases into
// them, so they wait for ReleaseRetiredLists.
struct SharedRetired {
  port::Lock lock;
  Value* lists = nullptr;
};

SharedRetired& SharedRetiredLists() {
  static SharedRetired retired;
  return retired;
}

// Links list in front of *chain.
void Prepend(Value* list, Value** chain) {
  Value* last = list;
  while (last->next != nullptr) last = last->next;
  last->next = *chain;
  *chain = list;
}

port::Lock* LockOf(const Frame* frame) {
  if (frame == nullptr || frame->script == nullptr || frame->script->engine == nullptr) {
    return nullptr;
  }
  return &frame->script->engine->variableLock;
}

}  // namespace

thread_local constinit ThreadState threadState;

bool HoldsAliases(const Value* chain) {
  for (; chain != nullptr; chain = chain->next) {
    if (IsAlias(chain)) return true;
  }
  return false;
}

Value* NewInteger(int32_t integer) {
  Value* value = NewTemporary();
  if (value != nullptr) value->data->integer = integer;
  return value;
}

Value* NewText(port::Owned<char> text) {
  Value* value = NewTemporary();
  if (value != nullptr) SetTextData(value->data, std::move(text));
  return value;
}

Value* CopyEntry(Frame* frame, const Value* entry) {
  ValuePtr copy(NewValue());
  if (copy == nullptr) return nullptr;
  if (entry->name != nullptr) {
    copy->name = Duplicate(entry->name).release();
    if (copy->name == nullptr) return nullptr;
    copy->hash = entry->hash;
  }
  if (entry->data != nullptr) {
    SharedLock lock(frame, IsShared(entry));
    if (entry->data->type == kTypeString) {
      Owned<char> text = Duplicate(entry->data->text != nullptr ? entry->data->text : "");
      if (text == nullptr) return nullptr;
      SetTextData(copy->data, std::move(text));
    } else {
      copy->data->integer = entry->data->integer;
    }
    if (!CopyValueChain(ListOf(entry), &copy->elements)) return nullptr;
  }
  copy->wholeList = entry->wholeList;
  return copy.release();
}

// --- Shared data ---------------------------------------------------------------------------

void SharedLock::Enter(const Frame* frame) {
  lock_ = LockOf(frame);
  if (lock_ != nullptr) lock_->Enter();
}

void SharedLock::Leave() {
  lock_->Leave();
}

bool TruthOf(const Frame* frame, const Value* value) {
  SharedLock lock(frame, IsShared(value));
  return IsTrue(value->data);
}

int32_t IntegerOf(const Frame* frame, const Value* value) {
  SharedLock lock(frame, IsShared(value));
  return ToInteger(value->data);
}

port::Owned<char> TextOf(const Frame* frame, const Value* value) {
  SharedLock lock(frame, IsShared(value));
  return ToNewText(value->data);
}

int32_t AddToAnyData(const Frame* frame, ValueData* data, int32_t delta) {
  SharedLock lock(frame, data->shared != 0);
  const uint32_t sum = static_cast<uint32_t>(ToInteger(data)) + static_cast<uint32_t>(delta);
  const auto result = static_cast<int32_t>(sum);
  SetIntegerData(data, result);
  return result;
}

bool CopyListChain(const Frame* frame, const Value* value, Value** copy) {
  SharedLock lock(frame, IsShared(value));
  return CopyValueChain(ListOf(value), copy);
}

bool ReplaceList(Frame* frame, Value* target, const Value* source) {
  Value* holder = ListHolder(target);
  const bool shared = IsShared(target);
  Value* old = nullptr;
  bool copied = false;
  {
    // One lock covers reading a shared source and swapping a shared target's list.
    SharedLock lock(frame, shared || IsShared(source));
    Value* copy = nullptr;
    copied = CopyValueChain(ListOf(source), &copy);
    if (copied) {
      // Elements of global data are global data: later element creation and assignment in them
      // must take the lock too.
      if (shared) MarkShared(copy);
      old = holder->elements;
      holder->elements = copy;
      target->elements = copy;
    }
  }
  if (!copied) {
    ReportError(frame, kAllocFailed, frame != nullptr ? frame->position : nullptr);
    return false;
  }
  RetireList(old, shared);
  return true;
}

void RetireList(Value* list, bool shared) {
  if (list == nullptr) return;
  if (shared) {
    SharedRetired& retired = SharedRetiredLists();
    port::LockGuard guard(retired.lock);
    Prepend(list, &retired.lists);
    return;
  }
  Prepend(list, &State().retired);
}

void ReleaseThreadRetired() {
  ThreadState& state = State();
  Value* retired = state.retired;
  state.retired = nullptr;
  FreeValueChain(retired);
}

void ApplyQueued(Frame* frame) {
  Value* increments = frame->pendingIncrements;
  Value* decrements = frame->pendingDecrements;
  frame->pendingIncrements = nullptr;
  frame->pendingDecrements = nullptr;
  // Most recent first: each list is kept with its newest entry at the head.
  for (Value* alias = increments; alias != nullptr; alias = alias->next) {
    AddToData(frame, alias->data, 1);
  }
  for (Value* alias = decrements; alias != nullptr; alias = alias->next) {
    AddToData(frame, alias->data, -1);
  }
  FreeValueChain(increments);
  FreeValueChain(decrements);
}

}  // namespace exec

void ReleaseRetiredLists() {
  exec::ReleaseThreadRetired();
  exec::SharedRetired& retired = exec::SharedRetiredLists();
  Value* lists = nullptr;
  {
    port::LockGuard guard(retired.lock);
    lists = retired.lists;
    retired.lists = nullptr;
  }
  FreeValueChain(lists);
}

}  // namespace keytwine
