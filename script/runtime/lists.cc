// Element lists: search, append, global promotion and indexing with growth. Arrays and hashes
// are one structure: a chain of Values, positional (unnamed) and named elements alike.
#include <cstring>
#include <type_traits>

#include "script/runtime/engine.h"
#include "script/runtime/error.h"
#include "script/runtime/executor_internal.h"
#include "script/text/text.h"

namespace keytwine {

namespace {

// --- List indexes ----------------------------------------------------------------------------
//
// Indexing walks the element chain, which made filling and reading a list in order quadratic.
// Each thread keeps side indexes of the few lists it indexed last: the elements by position and
// the first element of each name. An index is keyed by the list's first element and extended by
// following the chain from its last indexed element, which stays valid because element lists
// only ever grow at their end; a list is otherwise replaced as a whole (a new first element) or
// freed, and freeing a list frees its first element, which drops the index (ForgetListHead). The
// indexes exist only while the thread's outermost walk runs and are released with it. Without
// memory for an index the chain is walked as before: the result is the same either way.

struct ListIndex {
  const Value* head = nullptr;  // first element of the indexed list; null: unused
  Value* tail = nullptr;        // last element indexed
  int32_t count = 0;            // elements indexed
  Value** positions = nullptr;  // the indexed elements in order
  int32_t positionCapacity = 0;
  Value** names = nullptr;   // open addressing by name hash: the first element of each name
  int32_t nameCapacity = 0;  // a power of two, or 0
  int32_t nameCount = 0;
  uint32_t lastUse = 0;
};

constexpr int32_t kIndexedLists = 4;
// The size of one slot of the position array and the name table: an element pointer.
constexpr size_t kSlotBytes = sizeof(Value*);  // NOLINT(bugprone-sizeof-expression)
// Shorter lists are walked: an index would cost more than it saves.
constexpr int32_t kIndexFrom = 16;

struct ListIndexes {
  ListIndex lists[kIndexedLists];
  uint32_t clock = 0;
};
static_assert(std::is_trivially_destructible_v<ListIndexes>);

ListIndexes& Indexes() {
  thread_local ListIndexes indexes;
  return indexes;
}

void ClearIndex(ListIndex& index) {
  port::Free(index.positions);
  port::Free(index.names);
  index = ListIndex{};
}

// Records element under its name unless an earlier element has it; false when memory runs out.
bool AddName(ListIndex& index, Value* element);

bool GrowNames(ListIndex& index) {
  const int32_t capacity = index.nameCapacity == 0 ? 64 : index.nameCapacity * 2;
  auto* names = static_cast<Value**>(port::AllocZero(kSlotBytes * capacity));
  if (names == nullptr) return false;
  Value** old = index.names;
  const int32_t oldCapacity = index.nameCapacity;
  index.names = names;
  index.nameCapacity = capacity;
  index.nameCount = 0;
  for (int32_t i = 0; i < oldCapacity; ++i) {
    if (old[i] != nullptr) AddName(index, old[i]);
  }
  port::Free(old);
  return true;
}

// The table's own hash of a name. The NameHash of names that differ in a few characters often
// coincides ("k12" and "k20"), which would make the probe sequences long.
uint32_t TableHash(const char* name) {
  uint32_t hash = 2166136261U;  // FNV-1a
  for (; *name != 0; ++name) hash = (hash ^ static_cast<unsigned char>(*name)) * 16777619U;
  return hash;
}

// The slot of name in the table: its first element, or the empty slot where it would go.
Value** NameSlot(const ListIndex& index, const char* name, NameHash hash) {
  const auto mask = static_cast<uint32_t>(index.nameCapacity - 1);
  for (uint32_t i = TableHash(name) & mask;; i = (i + 1) & mask) {
    Value* element = index.names[i];
    if (element == nullptr) return &index.names[i];
    if (element->hash == hash && SameName(element->name, name)) return &index.names[i];
  }
}

bool AddName(ListIndex& index, Value* element) {
  if (element->name == nullptr) return true;
  if ((index.nameCount + 1) * 2 > index.nameCapacity && !GrowNames(index)) return false;
  Value** slot = NameSlot(index, element->name, element->hash);
  if (*slot == nullptr) {
    *slot = element;
    ++index.nameCount;
  }
  return true;
}

bool AddPosition(ListIndex& index, Value* element) {
  if (index.count == index.positionCapacity) {
    const int32_t capacity = index.positionCapacity == 0 ? 64 : index.positionCapacity * 2;
    auto* positions = static_cast<Value**>(port::Alloc(kSlotBytes * capacity));
    if (positions == nullptr) return false;
    if (index.count > 0) std::memcpy(positions, index.positions, kSlotBytes * index.count);
    port::Free(index.positions);
    index.positions = positions;
    index.positionCapacity = capacity;
  }
  index.positions[index.count++] = element;
  return true;
}

// Indexes the elements appended since the index was last brought up to date.
bool Extend(ListIndex& index) {
  for (Value* element = index.tail->next; element != nullptr; element = element->next) {
    if (!AddPosition(index, element) || !AddName(index, element)) return false;
    index.tail = element;
  }
  return true;
}

// The up-to-date index of the list that starts at head, made when it has none; null when the
// list is short or memory runs out (the caller walks the chain then).
ListIndex* IndexOf(Value* head) {
  // A list of pool entries (the elements of arg) is not indexed: pool entries are reused without
  // ForgetListHead, so an index of one could outlive its list.
  if (head == nullptr || !exec::TemporariesOpen() || exec::IsTemporary(head)) return nullptr;
  ListIndexes& indexes = Indexes();
  ListIndex* index = nullptr;
  for (ListIndex& candidate : indexes.lists) {
    if (candidate.head == head) index = &candidate;
  }
  if (index == nullptr) {
    int32_t length = 0;
    for (const Value* element = head; element != nullptr && length < kIndexFrom;
         element = element->next) {
      ++length;
    }
    if (length < kIndexFrom) return nullptr;
    index = &indexes.lists[0];
    for (ListIndex& candidate : indexes.lists) {
      if (candidate.lastUse < index->lastUse) index = &candidate;
    }
    ClearIndex(*index);
    index->head = head;
    index->tail = head;
    if (!AddPosition(*index, head) || !AddName(*index, head)) {
      ClearIndex(*index);
      return nullptr;
    }
  }
  index->lastUse = ++indexes.clock;
  if (!Extend(*index)) {
    ClearIndex(*index);
    return nullptr;
  }
  return index;
}

const char* PositionOf(const Frame* frame) {
  return frame != nullptr ? frame->position : nullptr;
}

// A new integer-0 element, named by a copy of name (null: positional).
Value* NewElement(const char* name, int32_t shared) {
  Value* element = NewValue();
  if (element == nullptr) return nullptr;
  element->data->shared = shared;
  if (name != nullptr) {
    element->name = Duplicate(name).release();
    if (element->name == nullptr) {
      FreeValue(element);
      return nullptr;
    }
    element->hash = ComputeNameHash(name);
  }
  return element;
}

// A chain of count positional elements, or null (nothing left behind) when memory runs out.
Value* NewPositionalChain(int32_t count, int32_t shared, Value** last) {
  Value* first = nullptr;
  Value** slot = &first;
  for (int32_t i = 0; i < count; ++i) {
    Value* element = NewElement(nullptr, shared);
    if (element == nullptr) {
      FreeValueChain(first);
      return nullptr;
    }
    *slot = element;
    *last = element;
    slot = &element->next;
  }
  return first;
}

bool MarkSharedAt(Value* list, int32_t depth) {
  if (list == nullptr) return true;
  if (depth > kMaxListDepth) return false;
  bool complete = true;
  for (Value* value = list; value != nullptr; value = value->next) {
    if (value->data != nullptr) value->data->shared = 1;
    if (!MarkSharedAt(value->elements, depth + 1)) complete = false;
  }
  return complete;
}

Value* ReportAllocFailed(Frame* frame) {
  ReportError(frame, kAllocFailed, PositionOf(frame));
  return nullptr;
}

Value* ReportTooLong(Frame* frame) {
  ReportError(frame, kListTooLong, PositionOf(frame));
  return nullptr;
}

// The element of base named name, appended when missing.
Value* NamedElement(Frame* frame, Value* holder, const char* name, int32_t shared) {
  const NameHash hash = ComputeNameHash(name);
  Value** slot = &holder->elements;
  int32_t count = 0;
  if (ListIndex* index = IndexOf(holder->elements)) {
    Value* element = index->nameCapacity != 0 ? *NameSlot(*index, name, hash) : nullptr;
    if (element != nullptr) return element;
    slot = &index->tail->next;
    count = index->count;
  } else {
    for (Value* element = holder->elements; element != nullptr; element = element->next) {
      if (element->hash == hash && element->name != nullptr && SameName(element->name, name)) {
        return element;
      }
      slot = &element->next;
      ++count;
    }
  }
  if (count >= kMaxListElements) return ReportTooLong(frame);
  Value* element = NewElement(name, shared);
  if (element == nullptr) return ReportAllocFailed(frame);
  *slot = element;
  return element;
}

// The element at position (counted from 0 over named and unnamed elements), growing the list
// with positional integer-0 elements up to it. The new elements are made as one chain and linked
// only when all of them exist, so a failure leaves the list as it was.
Value* PositionalElement(Frame* frame, Value* holder, int32_t position, int32_t shared) {
  if (position < 0) {
    ReportError(frame, kIndexError, PositionOf(frame));
    return nullptr;
  }
  Value** slot = &holder->elements;
  int32_t count = 0;
  if (ListIndex* index = IndexOf(holder->elements)) {
    if (position < index->count) return index->positions[position];
    slot = &index->tail->next;
    count = index->count;
  } else {
    for (Value* element = holder->elements; element != nullptr; element = element->next) {
      if (count == position) return element;
      slot = &element->next;
      ++count;
    }
  }
  if (position >= kMaxListElements) return ReportTooLong(frame);
  Value* last = nullptr;
  Value* grown = NewPositionalChain(position - count + 1, shared, &last);
  if (grown == nullptr) return ReportAllocFailed(frame);
  *slot = grown;
  return last;
}

}  // namespace

namespace exec {

void ForgetListHead(const Value* value) {
  for (ListIndex& index : Indexes().lists) {
    if (index.head == value) ClearIndex(index);
  }
}

void ReleaseListIndexes() {
  for (ListIndex& index : Indexes().lists) ClearIndex(index);
}

}  // namespace exec

Value* FindInList(Value* list, const char* name, NameHash hash) {
  return name != nullptr ? exec::FindNamed(list, name, hash) : nullptr;
}

Value* FindInList(Value* list, const char* name) {
  return FindInList(list, name, ComputeNameHash(name));
}

Value* AppendToList(Value** head, const char* name, const ValueData* source) {
  if (head == nullptr) return nullptr;
  Value* value = NewElement(name, 0);
  if (value == nullptr) return nullptr;
  if (source != nullptr && !AssignData(nullptr, value->data, source)) {
    FreeValue(value);
    return nullptr;
  }
  Value** slot = head;
  while (*slot != nullptr) slot = &(*slot)->next;
  *slot = value;
  return value;
}

int32_t CountList(const Value* list) {
  int32_t count = 0;
  for (; list != nullptr; list = list->next) ++count;
  return count;
}

bool MarkShared(Value* list) {
  return MarkSharedAt(list, 1);
}

Value* ElementOf(Frame* frame, Value* base, const ValueData* index) {
  if (base == nullptr || index == nullptr) {
    ReportError(frame, kSentenceError, PositionOf(frame));
    return nullptr;
  }
  // The list belongs to the owner of base's data: base may be an alias (a stack entry, a
  // by-reference parameter, an element of arg) whose own elements pointer is only a copy.
  Value* holder = base->data != nullptr && base->data->owner != nullptr ? base->data->owner : base;
  const int32_t shared = base->data != nullptr ? base->data->shared : 0;
  Value* element = nullptr;
  if (index->type == kTypeString) {
    const char* name = index->text != nullptr ? index->text : "";
    if (*name == 0) return base;
    element = NamedElement(frame, holder, name, shared);
  } else {
    element = PositionalElement(frame, holder, index->integer, shared);
  }
  base->elements = holder->elements;
  return element;
}

}  // namespace keytwine
