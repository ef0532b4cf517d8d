// Values: making, freeing, copying and assigning them, and converting their data between integer
// and string.
#include <cstddef>
#include <cstring>
#include <utility>

#include "script/runtime/engine.h"
#include "script/runtime/error.h"
#include "script/runtime/executor_internal.h"
#include "script/text/text.h"

#if defined(__SANITIZE_ADDRESS__)  // GCC
#define KEYTWINE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)  // clang
#if __has_feature(address_sanitizer)
#define KEYTWINE_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(KEYTWINE_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#define KEYTWINE_POOL_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define KEYTWINE_POOL_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define KEYTWINE_POOL_POISON(address, size) ((void)(address), (void)(size))
#define KEYTWINE_POOL_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace keytwine {

namespace {

// A Value made by NewValue and the ValueData it starts with, in one block: one allocation per
// value instead of two. The data may later be replaced by data of another block (a by-reference
// parameter); the inline data is then unused until the block is freed.
struct ValueBlock {
  Value value;
  ValueData data;
};
static_assert(offsetof(ValueBlock, value) == 0);

ValueData* InlineData(Value* value) {
  return &reinterpret_cast<ValueBlock*>(value)->data;
}

template <typename T>
T* NewZeroed() {
  return static_cast<T*>(port::AllocZero(sizeof(T)));
}

// --- Temporaries ---------------------------------------------------------------------------

// The blocks of one thread's evaluation-stack entries, taken from one allocation made when the
// thread's outermost walk begins. Trivially destructible (see ThreadState).
// A pool entry has room for a short name as well: parameters are named on every call.
struct PoolBlock {
  ValueBlock block;
  char name[24];
};
static_assert(offsetof(PoolBlock, block) == 0);

struct TemporaryPool {
  PoolBlock* blocks = nullptr;  // kPoolBlocks of them; null when there is no pool
  Value* free = nullptr;        // chain of free blocks through next
  int32_t inUse = 0;
  bool open = false;  // hands out blocks; a closed pool is released once its last block returns
};
static_assert(std::is_trivially_destructible_v<TemporaryPool>);

// Enough for the deepest walks of ordinary scripts; deeper recursion takes NewValue.
constexpr int32_t kPoolBlocks = 512;

TemporaryPool& Pool() {
  thread_local TemporaryPool pool;
  return pool;
}

// A free block is poisoned for the address sanitizer except its next link, so that a stale
// reference to a freed temporary is caught as the heap would catch it.
void PoisonFreeBlock(Value* value) {
  KEYTWINE_POOL_POISON(value, offsetof(Value, next));
  KEYTWINE_POOL_POISON(&reinterpret_cast<ValueBlock*>(value)->data,
                       sizeof(PoolBlock) - offsetof(ValueBlock, data));
}
void UnpoisonBlock(Value* value) {
  KEYTWINE_POOL_UNPOISON(value, sizeof(PoolBlock));
}

bool InPool(const TemporaryPool& pool, const Value* value) {
  const auto* block = reinterpret_cast<const PoolBlock*>(value);
  return pool.blocks != nullptr && block >= pool.blocks && block < pool.blocks + kPoolBlocks;
}

// The name room of a pool entry.
char* PoolName(Value* value) {
  return reinterpret_cast<PoolBlock*>(value)->name;
}
// Whether value's name is held in its own pool entry rather than allocated.
bool HasPoolName(const Value* value) {
  return value->name != nullptr && InPool(Pool(), value) &&
         value->name == PoolName(const_cast<Value*>(value));
}

void ReleasePool(TemporaryPool& pool) {
  KEYTWINE_POOL_UNPOISON(pool.blocks, sizeof(PoolBlock) * kPoolBlocks);
  port::Free(pool.blocks);
  pool = TemporaryPool{};
}

// Gives the record of value back: to the pool it came from, or to the heap.
void FreeRecord(Value* value) {
  TemporaryPool& pool = Pool();
  if (!InPool(pool, value)) {
    exec::ForgetListHead(value);
    port::Free(value);
    return;
  }
  value->next = pool.free;
  pool.free = value;
  PoisonFreeBlock(value);
  if (--pool.inUse == 0 && !pool.open) ReleasePool(pool);
}

// Frees every Value of a work chain. A Value that owns an element list has that list spliced in
// front of the rest of the chain, so nested lists are released without recursion and without
// memory of their own.
void FreeWorkChain(Value* work) {
  while (work != nullptr) {
    Value* value = work;
    work = value->next;
    ValueData* data = value->data;
    if (data != nullptr && data->owner == value) {
      if (value->elements != nullptr) {
        Value* last = value->elements;
        while (last->next != nullptr) last = last->next;
        last->next = work;
        work = value->elements;
      }
      if (data->type == kTypeString) port::Free(data->text);
      if (data != InlineData(value)) port::Free(data);  // as FreeDataOf, without the call
    }
    if (value->name != nullptr && !HasPoolName(value)) port::Free(value->name);
    FreeRecord(value);
  }
}

// Copies one chain of lists at nesting level depth (1 for the outermost chain).
bool CopyChainAt(const Value* source, Value** copy, int32_t depth) {
  *copy = nullptr;
  if (source == nullptr) return true;
  if (depth > kMaxListDepth) return false;
  Value** slot = copy;
  for (; source != nullptr; source = source->next) {
    Value* value = NewValue();
    if (value == nullptr) break;
    *slot = value;
    slot = &value->next;
    if (source->name != nullptr) {
      value->name = Duplicate(source->name).release();
      if (value->name == nullptr) break;
      value->hash = source->hash;
    }
    if (source->data != nullptr) {
      if (source->data->type == kTypeString) {
        Owned<char> text = Duplicate(source->data->text != nullptr ? source->data->text : "");
        if (text == nullptr) break;
        SetTextData(value->data, std::move(text));
      } else {
        value->data->integer = source->data->integer;
      }
    }
    if (!CopyChainAt(source->elements, &value->elements, depth + 1)) break;
  }
  if (source == nullptr) return true;
  FreeValueChain(*copy);
  *copy = nullptr;
  return false;
}

}  // namespace

namespace exec {

void OpenTemporaries() {
  TemporaryPool& pool = Pool();
  if (pool.blocks == nullptr) {
    // Without memory for the pool every temporary comes from NewValue, as it would anyway.
    pool.blocks = static_cast<PoolBlock*>(port::Alloc(sizeof(PoolBlock) * kPoolBlocks));
    if (pool.blocks == nullptr) return;
    for (int32_t i = kPoolBlocks - 1; i >= 0; --i) {
      pool.blocks[i].block.value.next = pool.free;
      pool.free = &pool.blocks[i].block.value;
      PoisonFreeBlock(pool.free);
    }
  }
  pool.open = true;
}

bool IsTemporary(const Value* value) {
  return InPool(Pool(), value);
}

bool TemporariesOpen() {
  return Pool().open;
}

void CloseTemporaries() {
  ReleaseListIndexes();
  TemporaryPool& pool = Pool();
  pool.open = false;
  if (pool.blocks != nullptr && pool.inUse == 0) ReleasePool(pool);
}

Value* NewTemporary() {
  TemporaryPool& pool = Pool();
  if (!pool.open || pool.free == nullptr) return NewValue();
  Value* value = pool.free;
  pool.free = value->next;
  ++pool.inUse;
  UnpoisonBlock(value);
  auto* block = reinterpret_cast<ValueBlock*>(value);
  *block = ValueBlock{};
  value->data = &block->data;
  value->data->owner = value;
  return value;
}

Value* NewNamedTemporary(const char* name, NameHash hash) {
  const TemporaryPool& pool = Pool();
  const bool fromPool = pool.open && pool.free != nullptr;  // as NewTemporary decides
  Value* value = NewTemporary();
  if (value == nullptr) return nullptr;
  if (fromPool) {
    char* room = PoolName(value);
    for (size_t i = 0; i < sizeof(PoolBlock::name); ++i) {
      room[i] = name[i];
      if (name[i] == 0) {
        value->name = room;
        value->hash = hash;
        return value;
      }
    }
  }
  if (!SetName(value, name, hash)) {
    FreeValue(value);
    return nullptr;
  }
  return value;
}

Value* NewTemporaryAlias(const Value* variable) {
  Value* alias = NewTemporary();
  if (alias == nullptr) return nullptr;
  alias->data = variable != nullptr ? variable->data : nullptr;
  alias->elements = variable != nullptr ? variable->elements : nullptr;
  return alias;
}

bool SetName(Value* value, const char* name, NameHash hash) {
  const bool inPool = InPool(Pool(), value);
  char* old =
      value->name != nullptr && !(inPool && value->name == PoolName(value)) ? value->name : nullptr;
  char* copy = nullptr;
  if (name != nullptr) {
    if (inPool && name != PoolName(value)) {
      // Into the entry's room when it fits, counted as it is copied (a long name is not read
      // past the room); forward, byte by byte: a name already in the room can only start at or
      // after its start.
      char* room = PoolName(value);
      for (size_t i = 0; i < sizeof(PoolBlock::name); ++i) {
        room[i] = name[i];
        if (name[i] == 0) {
          copy = room;
          break;
        }
      }
    } else if (inPool) {
      copy = PoolName(value);
    }
    if (copy == nullptr) {
      copy = Duplicate(name).release();
      if (copy == nullptr) return false;
    }
  }
  if (old != nullptr) port::Free(old);
  value->name = copy;
  value->hash = copy != nullptr ? hash : 0;
  return true;
}

Value* MoveToHeap(Value* value) {
  if (!InPool(Pool(), value)) return value;
  Value* moved = NewValue();
  if (moved == nullptr) return nullptr;
  if (HasPoolName(value)) {
    char* name = Duplicate(value->name).release();
    if (name == nullptr) {
      FreeValue(moved);
      return nullptr;
    }
    value->name = name;
  }
  ValueData* data = moved->data;
  *moved = *value;
  if (value->data == InlineData(value)) {
    *data = *value->data;
    moved->data = data;
  }
  if (moved->data != nullptr && moved->data->owner == value) moved->data->owner = moved;
  // Name, string and elements now belong to moved: only the record goes back.
  FreeRecord(value);
  return moved;
}

}  // namespace exec

Value* NewValue() {
  auto* block = NewZeroed<ValueBlock>();
  if (block == nullptr) return nullptr;
  Value* value = &block->value;
  value->data = &block->data;
  value->data->owner = value;
  return value;
}

void FreeDataOf(Value* value) {
  // Every Value comes in a ValueBlock (aliases too), so no separate block can sit there.
  if (value->data != InlineData(value)) port::Free(value->data);
}

Value* NewAlias(const Value* variable) {
  auto* block = NewZeroed<ValueBlock>();
  if (block == nullptr) return nullptr;
  Value* alias = &block->value;
  if (variable == nullptr) return alias;
  alias->data = variable->data;
  alias->elements = variable->elements;
  return alias;
}

void FreeValue(Value* value) {
  if (value == nullptr || IsFailedValue(value)) return;
  // Most values freed are stack entries and parameters that own nothing but their record: an
  // integer, an alias or a marker, without a name or with one in the entry's room.
  const ValueData* data = value->data;
  const bool ownsNoData = data == nullptr || (data == InlineData(value) ? data->type != kTypeString
                                                                        : data->owner != value);
  if (ownsNoData && value->elements == nullptr) {
    TemporaryPool& pool = Pool();
    if (InPool(pool, value)) {
      if (value->name == nullptr || value->name == PoolName(value)) {
        value->next = pool.free;
        pool.free = value;
        PoisonFreeBlock(value);
        if (--pool.inUse == 0 && !pool.open) ReleasePool(pool);
        return;
      }
    } else if (value->name == nullptr) {
      exec::ForgetListHead(value);
      port::Free(value);
      return;
    }
  }
  value->next = nullptr;
  FreeWorkChain(value);
}

void FreeValueChain(Value* first) {
  if (first == nullptr || IsFailedValue(first)) return;
  if (first->next == nullptr) {
    FreeValue(first);  // mostly a statement's one result: FreeValue's short path
    return;
  }
  FreeWorkChain(first);
}

bool CopyValueChain(const Value* first, Value** copy) {
  return CopyChainAt(first, copy, 1);
}

bool AssignAnyData(Frame* frame, ValueData* destination, const ValueData* source) {
  if (destination == nullptr || source == nullptr) return false;
  if (!IsSharedData(destination) && !IsSharedData(source) && source->type == kTypeInteger) {
    SetIntegerData(destination, source->integer);  // nothing to copy, no other thread to lock out
    return true;
  }
  // The source is read under the lock as well when it is shared: another script thread could
  // otherwise free its string while it is being copied.
  Script* engine = frame != nullptr && frame->script != nullptr ? frame->script->engine : nullptr;
  const bool locked = engine != nullptr && (destination->shared != 0 || source->shared != 0);
  if (locked) engine->variableLock.Enter();
  Owned<char> text;
  if (source->type == kTypeString) {
    text = Duplicate(source->text != nullptr ? source->text : "");
    if (text == nullptr) {
      if (locked) engine->variableLock.Leave();
      ReportError(frame, kAllocFailed, frame != nullptr ? frame->position : nullptr);
      return false;
    }
  }
  char* old = destination->type == kTypeString ? destination->text : nullptr;
  if (text != nullptr) {
    destination->text = text.release();
  } else {
    destination->integer = source->integer;
  }
  destination->type = source->type;
  if (locked) engine->variableLock.Leave();
  if (old != nullptr) port::Free(old);
  return true;
}

void SetTextData(ValueData* data, port::Owned<char> text) {
  if (data == nullptr || text == nullptr) return;
  if (data->type == kTypeString) port::Free(data->text);
  data->text = text.release();
  data->type = kTypeString;
}

// --- Conversions ---------------------------------------------------------------------------

int32_t TextToInteger(const char* text) {
  if (text == nullptr) return 0;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  // Unsigned arithmetic wraps where a signed accumulator would overflow.
  uint32_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10U + static_cast<uint32_t>(*text - '0');
  }
  return static_cast<int32_t>(negative ? 0U - magnitude : magnitude);
}

int32_t ToInteger(const ValueData* data) {
  if (data == nullptr) return 0;
  return data->type == kTypeString ? TextToInteger(data->text) : data->integer;
}

const char* FormatInteger(int32_t value, NumberText& number) {
  char digits[10];
  int count = 0;
  uint32_t magnitude = value < 0 ? 0U - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10U);
    magnitude /= 10U;
  } while (magnitude != 0);
  char* out = number.bytes;
  if (value < 0) *out++ = '-';
  while (count > 0) *out++ = digits[--count];
  *out = 0;
  return number.bytes;
}

const char* ToText(const ValueData* data, NumberText& number) {
  if (data == nullptr) return "";
  if (data->type == kTypeString) return data->text != nullptr ? data->text : "";
  return FormatInteger(data->integer, number);
}

port::Owned<char> ToNewText(const ValueData* data) {
  NumberText number;
  return Duplicate(ToText(data, number));
}

bool IsTrue(const ValueData* data) {
  if (data == nullptr) return false;
  if (data->type == kTypeString) return data->text != nullptr && data->text[0] != 0;
  return data->integer != 0;
}

}  // namespace keytwine
