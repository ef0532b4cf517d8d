// Element lists: search, append, global promotion and indexing with growth. Arrays and hashes
// are one structure: a chain of Values, positional (unnamed) and named elements alike.
#include <cstring>

#include "script/runtime/engine.h"
#include "script/runtime/error.h"
#include "script/text/text.h"

namespace keytwine {

namespace {

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
  for (Value* element = holder->elements; element != nullptr; element = element->next) {
    if (element->hash == hash && element->name != nullptr &&
        std::strcmp(element->name, name) == 0) {
      return element;
    }
    slot = &element->next;
    ++count;
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
  for (Value* element = holder->elements; element != nullptr; element = element->next) {
    if (count == position) return element;
    slot = &element->next;
    ++count;
  }
  if (position >= kMaxListElements) return ReportTooLong(frame);
  Value* last = nullptr;
  Value* grown = NewPositionalChain(position - count + 1, shared, &last);
  if (grown == nullptr) return ReportAllocFailed(frame);
  *slot = grown;
  return last;
}

}  // namespace

Value* FindInList(Value* list, const char* name, NameHash hash) {
  if (name == nullptr) return nullptr;
  for (Value* value = list; value != nullptr; value = value->next) {
    if (value->hash == hash && value->name != nullptr && std::strcmp(value->name, name) == 0) {
      return value;
    }
  }
  return nullptr;
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
