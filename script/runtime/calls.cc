// Function calls: name resolution with the call-node cache, script functions with their
// parameter binding and `arg`, the argmatch dispatcher, and the native calling convention.
//
// The cache of a T_CALL node is shared by every script thread that runs the node. It is published
// with release/acquire ordering: the target is stored before the kind, and a reader that sees a
// kind also sees its target. Threads that resolve the same node at once store the same values.
#include <atomic>
#include <cstring>

#include "script/front/syntax.h"
#include "script/front/tokens.h"
#include "script/pattern/pattern.h"
#include "script/runtime/calls.h"
#include "script/runtime/error.h"
#include "script/runtime/execute.h"
#include "script/runtime/executor_internal.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

constexpr const char kArgName[] = "arg";
constexpr const char kAllPrefix[] = "all.";
constexpr size_t kAllPrefixLength = 4;
constexpr const char kDispatchName[] = "?";

std::atomic<ThreadStartHook> threadStartHook{nullptr};

// Brackets a call in the ActiveCount, so that the shutdown handshake sees it.
class ActiveCall {
 public:
  ActiveCall() { AddActive(1); }
  ~ActiveCall() { AddActive(-1); }
  ActiveCall(const ActiveCall&) = delete;
  ActiveCall& operator=(const ActiveCall&) = delete;
};

// --- The call-node cache ---------------------------------------------------------------------

struct Cached {
  int32_t kind = kCallTargetNone;
  void* target = nullptr;
};

Cached LoadCache(SyntaxNode* call) {
  Cached cached;
  if (call == nullptr) return cached;
  cached.kind = std::atomic_ref<int32_t>(call->callTargetKind).load(std::memory_order_acquire);
  if (cached.kind != kCallTargetNone) {
    cached.target = std::atomic_ref<void*>(call->callTarget).load(std::memory_order_relaxed);
  }
  return cached;
}

void StoreCache(SyntaxNode* call, int32_t kind, void* target) {
  if (call == nullptr) return;
  std::atomic_ref<void*>(call->callTarget).store(target, std::memory_order_relaxed);
  std::atomic_ref<int32_t>(call->callTargetKind).store(kind, std::memory_order_release);
}

void* NativeAsPointer(NativeFunction entry) {
  return reinterpret_cast<void*>(entry);  // a code pointer kept in the node's data word
}
NativeFunction PointerAsNative(void* pointer) {
  return reinterpret_cast<NativeFunction>(pointer);
}

// --- Names -----------------------------------------------------------------------------------

struct CallName {
  Script* script = nullptr;        // the selected script
  const char* function = nullptr;  // the name without its prefix
  bool all = false;                // written with "all."
};

// "script.name" selects a loaded script, "all." keeps the frame's own; false after a report.
bool SplitCallName(Frame* frame, const char* name, CallName* out) {
  out->script = frame->script;
  out->function = name;
  const char* dot = std::strchr(name, '.');
  if (dot == nullptr) return true;
  if (std::strncmp(name, kAllPrefix, kAllPrefixLength) == 0) {
    out->function = name + kAllPrefixLength;
    out->all = true;
    return true;
  }
  out->script = FindScript(frame->script, name, static_cast<size_t>(dot - name));
  if (out->script == nullptr) {
    ReportError(frame, kScriptNotFound, name);
    return false;
  }
  out->function = dot + 1;
  return true;
}

FunctionEntry* FindFunction(Script* script, const char* name) {
  if (script == nullptr) return nullptr;
  const NameHash hash = ComputeNameHash(name);
  for (FunctionEntry* entry = script->functions; entry != nullptr; entry = entry->next) {
    if (entry->hash == hash && entry->name != nullptr && std::strcmp(entry->name, name) == 0) {
      return entry;
    }
  }
  return nullptr;
}

// "_sfunc_" + name in the host's table, then in the engine head's libraries in load order.
// Sets *failed after reporting "Alloc failed".
NativeFunction FindExternal(Frame* frame, const char* name, bool* failed) {
  Owned<char> full = Concat(kNativePrefix, name);
  if (full == nullptr) {
    ReportError(frame, kAllocFailed, frame->position);
    *failed = true;
    return nullptr;
  }
  if (NativeFunction entry = FindNative(full.get())) return entry;
  Script* head = frame->script != nullptr ? frame->script->engine : nullptr;
  for (LibraryEntry* library = head != nullptr ? head->libraries : nullptr; library != nullptr;
       library = library->next) {
    if (library->module == nullptr) continue;  // a module that failed to load offers nothing
    if (void* symbol = port::FindSymbol(library->module, full.get())) {
      return PointerAsNative(symbol);
    }
  }
  return nullptr;
}

// --- Parameters ------------------------------------------------------------------------------

// The T_CALL node that names the function and holds its body: the node before the definition's
// T_FUNCTION_END. A default value may hold calls of its own, so the kind alone does not tell it.
SyntaxNode* DefinitionCall(SyntaxNode* definition) {
  for (SyntaxNode* node = definition; node != nullptr && node->next != nullptr; node = node->next) {
    if (node->next->kind == T_FUNCTION_END) return node->kind == T_CALL ? node : nullptr;
  }
  return nullptr;
}

// Tracks the calls inside a default value, whose commas separate their arguments, not the
// parameters.
void CountCallNesting(const SyntaxNode* node, int32_t* nesting) {
  if (node->kind == T_CALL_BEGIN) ++*nesting;
  if (node->kind == T_CALL && *nesting > 0) --*nesting;
}

// The first node of the parameter after the one at node; callNode when there is none.
SyntaxNode* NextParameter(SyntaxNode* node, SyntaxNode* callNode) {
  int32_t nesting = 0;
  for (node = node->next; node != nullptr && node != callNode; node = node->next) {
    if (node->kind == T_COMMA && nesting == 0) return node->next;
    CountCallNesting(node, &nesting);
  }
  return callNode;
}

// Declares the parameters from node on and runs their default assignments; every one of them
// must have a default.
SyntaxNode* BindDefaults(Frame* frame, SyntaxNode* node, SyntaxNode* callNode) {
  frame->declareNames = 1;
  const ExecResult result = ExecuteUntil(frame, node, callNode);
  frame->declareNames = 0;
  if (result == ExecResult::Failed) return nullptr;
  bool hasDefault = false;
  int32_t nesting = 0;
  for (; node != nullptr; node = node->next) {
    const bool closes = node == callNode || (node->kind == T_COMMA && nesting == 0);
    if (closes) {
      if (!hasDefault) {
        ReportError(frame, kArgumentError, node->position);
        return nullptr;
      }
      if (node == callNode) return callNode;
      hasDefault = false;
      continue;
    }
    if (node->kind == T_ASSIGN && nesting == 0) hasDefault = true;
    CountCallNesting(node, &nesting);
  }
  ReportError(frame, kSentenceError, frame->position);
  return nullptr;
}

// A pattern parameter binds its captures from the argument's text as locals of the call.
bool BindPattern(Frame* frame, const SyntaxNode* node, const Value* argument) {
  Owned<char> text = exec::TextOf(frame, argument);
  if (text == nullptr) {
    ReportError(frame, kAllocFailed, node->position);
    return false;
  }
  frame->declareNames = 1;
  const int32_t matched = MatchAndAssign(frame, node->pattern, text.get());
  frame->declareNames = 0;
  return matched >= 0;
}

// "&name" shares the argument's data (and so its list); a plain name gets copies.
bool BindDeclared(Frame* frame, const SyntaxNode* node, const Value* argument) {
  Value* local = exec::DeclareParameter(frame, node->text, node->nameHash, node->position);
  if (local == nullptr) return false;
  if (node->text[0] == '&') {
    FreeDataOf(local);  // its own integer 0, never shared
    local->data = argument->data;
    local->elements = exec::ListHeadOf(frame, argument);
    return true;
  }
  if (!AssignData(frame, local->data, argument->data)) return false;
  if (!exec::CopyListOf(frame, argument, &local->elements)) {
    ReportError(frame, kAllocFailed, node->position);
    return false;
  }
  return true;
}

// Binds arguments to the parameters from node up to callNode. Returns callNode, or null after a
// report. Surplus arguments are ignored.
SyntaxNode* BindParameters(Frame* frame, SyntaxNode* node, SyntaxNode* callNode,
                           const Value* argument) {
  if (callNode == nullptr) {
    ReportError(frame, kSentenceError, frame->position);
    return nullptr;
  }
  while (node != nullptr && node != callNode) {
    if (argument == nullptr) return BindDefaults(frame, node, callNode);
    bool bound = false;
    if (node->kind == T_PATTERN) {
      bound = BindPattern(frame, node, argument);
    } else if (node->kind == T_DECLARE && node->text != nullptr) {
      bound = BindDeclared(frame, node, argument);
    } else {
      ReportError(frame, kSentenceError, node->position);
    }
    if (!bound) return nullptr;
    argument = argument->next;
    node = NextParameter(node, callNode);
  }
  return callNode;
}

// BindParameters for count plain parameters from node (see FunctionEntry::plainParameters):
// each becomes a local holding a copy of its argument, in order.
bool BindPlain(Frame* frame, const SyntaxNode* node, int32_t count,
               const PlainArgument* arguments) {
  Value** slot = &frame->locals;
  while (*slot != nullptr) slot = &(*slot)->next;
  for (int32_t i = 0; i < count; ++i) {
    if (i > 0) node = node->next->next;
    Value* local = exec::NewNamedTemporary(node->text, node->nameHash);
    if (local == nullptr) {
      ReportError(frame, kAllocFailed, node->position);
      return false;
    }
    *slot = local;
    slot = &local->next;
    exec::ForgetLookups();
    const ValueData* data = arguments[i].data;
    if (!IsSharedData(data) && data->type == kTypeInteger) {
      local->data->integer = data->integer;  // a fresh local: nothing to free, copy or lock
    } else if (!AssignData(frame, local->data, data)) {
      return false;
    }
    const Value* value = arguments[i].value;
    if (value != nullptr && !exec::CopyListOf(frame, value, &local->elements)) {
      ReportError(frame, kAllocFailed, node->position);
      return false;
    }
  }
  return true;
}

// The chain's first count arguments as an array; false when it has fewer or count is too large.
bool PlainArguments(const Value* argument, int32_t count, PlainArgument* out) {
  if (count > kMaxPlainArguments) return false;
  for (int32_t i = 0; i < count; ++i, argument = argument->next) {
    if (argument == nullptr) return false;
    out[i] = {argument->data, argument};
  }
  return true;
}

// --- Script functions and the dispatcher ----------------------------------------------------

Value* NewResult(Frame* frame, int32_t integer) {
  Value* value = exec::NewInteger(integer);
  if (value == nullptr) {
    ReportError(frame, kAllocFailed, frame->position);
    return FailedValue();
  }
  return value;
}

// A call past the depth limit is reported in the called function's frame, at its definition:
// the caller's traceback line then names the call.
// direct, when given, holds the arguments that bind entry's plain parameters (arguments is then
// unused: entry's body does not see arg).
Value* RunScriptFunction(Frame* caller, Script* script, FunctionEntry* entry, Value* arguments,
                         const PlainArgument* direct = nullptr) {
  exec::CallLookups lookups;
  Frame frame{};
  frame.functionName = entry->name;
  frame.script = script;
  FrameGuard leave(frame);
  SyntaxNode* definition = entry->definition;
  frame.position = definition != nullptr ? definition->position : nullptr;
  exec::CallLevel level;
  if (level.TooDeep()) {
    ReportError(&frame, kCallDepthExceeded, frame.position);
    return FailedValue();
  }
  SyntaxNode* callNode = nullptr;
  PlainArgument chained[kMaxPlainArguments];
  if (direct == nullptr && definition != nullptr && entry->call != nullptr &&
      entry->plainParameters >= 0 && PlainArguments(arguments, entry->plainParameters, chained)) {
    direct = chained;
  }
  if (direct != nullptr && definition != nullptr) {
    if (BindPlain(&frame, definition->next, entry->plainParameters, direct)) {
      callNode = entry->call;
    }
  } else if (definition != nullptr) {
    callNode = BindParameters(&frame, definition->next, DefinitionCall(definition), arguments);
  }
  // A binding that failed has been reported; the call itself does not fail, but the report gets
  // an "at" line that names the call.
  if (callNode == nullptr && definition != nullptr)
    ReportError(caller, nullptr, caller->position, 1);
  if (callNode == nullptr || callNode->child == nullptr) return NewResult(caller, 0);
  if (callNode->number != 0 && !BindArg(&frame, arguments)) return FailedValue();
  ValuePtr result(exec::NewTemporary());
  if (result == nullptr) {
    ReportError(&frame, kAllocFailed, frame.position);
    return FailedValue();
  }
  int32_t breakCounter = 0;
  const ExecResult outcome = Execute(&frame, callNode->child, result.get(), nullptr, &breakCounter);
  if (outcome == ExecResult::Failed) return FailedValue();
  return result.release();
}

// One handler of a dispatch, its pattern already matched into frame's locals. A binding that
// fails (reported) sets *unbound: it ends the whole dispatch. An empty body runs nothing.
ExecResult RunHandler(Frame* frame, FunctionEntry* entry, SyntaxNode* patternNode, Value* arguments,
                      bool* unbound) {
  exec::CallLevel level;
  if (level.TooDeep()) {
    ReportError(frame, kCallDepthExceeded, patternNode->position);
    return ExecResult::Failed;
  }
  SyntaxNode* node = patternNode->next;
  if (node != nullptr && node->kind == T_COMMA) node = node->next;
  SyntaxNode* callNode =
      BindParameters(frame, node, DefinitionCall(entry->definition), arguments->next);
  if (callNode == nullptr) {
    *unbound = true;
    return ExecResult::Normal;
  }
  if (callNode->child == nullptr) return ExecResult::Normal;
  if (!BindArg(frame, arguments)) return ExecResult::Failed;
  int32_t breakCounter = 0;
  return Execute(frame, callNode->child, nullptr, nullptr, &breakCounter);
}

// The pattern of an argmatch definition (its first parameter), or null.
SyntaxNode* HandlerPattern(const FunctionEntry* entry) {
  const SyntaxNode* definition = entry->definition;
  if (definition == nullptr || definition->kind != T_ARGMATCH) return nullptr;
  SyntaxNode* first = definition->next;
  if (first == nullptr || first->kind != T_PATTERN || first->pattern == nullptr) return nullptr;
  return first;
}

// "?" and "all.?": the count of handlers that ran, as a new integer.
Value* Dispatch(Frame* frame, const CallName& name, Value* arguments) {
  if (arguments == nullptr) {
    ReportError(frame, kTooFewArguments, frame->position);
    return FailedValue();
  }
  ActiveCall active;
  int32_t count = 0;
  if (!name.all) {
    count = ArgmatchDispatch(name.script, arguments, nullptr, frame);
  } else {
    Script* head = frame->script != nullptr ? frame->script->engine : nullptr;
    int32_t stop = 0;
    for (Script* script = head != nullptr ? head->next : nullptr; script != nullptr && stop == 0;
         script = script->next) {
      const int32_t ran = ArgmatchDispatch(script, arguments, &stop, frame);
      if (ran < 0) return FailedValue();
      count += ran;
    }
  }
  if (count < 0) return FailedValue();
  return NewResult(frame, count);
}

Value* CallCached(Frame* frame, const Cached& cached, Script* script, const char* name,
                  Value* arguments) {
  ActiveCall active;
  if (cached.kind == kCallTargetFunction) {
    return RunScriptFunction(frame, script, static_cast<FunctionEntry*>(cached.target), arguments);
  }
  return CallNative(frame, PointerAsNative(cached.target), name, arguments);
}

}  // namespace

// --- Interface -------------------------------------------------------------------------------

Value* CallFunction(Frame* frame, SyntaxNode* call, const char* name, Value* arguments) {
  if (frame == nullptr) return FailedValue();
  if (name == nullptr) name = "";
  const Cached cached = LoadCache(call);
  if (cached.kind != kCallTargetNone && cached.target != nullptr &&
      (call->shape & kShapePlainCall) != 0) {
    return CallCached(frame, cached, frame->script, name, arguments);  // no prefix to look at
  }
  CallName target;
  if (!SplitCallName(frame, name, &target)) return FailedValue();
  if (cached.kind != kCallTargetNone && cached.target != nullptr) {
    return CallCached(frame, cached, target.script, name, arguments);
  }
  if (std::strcmp(target.function, kDispatchName) == 0) return Dispatch(frame, target, arguments);
  if (FunctionEntry* entry = FindFunction(target.script, target.function)) {
    StoreCache(call, kCallTargetFunction, entry);
    ActiveCall active;
    return RunScriptFunction(frame, target.script, entry, arguments);
  }
  bool failed = false;
  if (NativeFunction entry = FindExternal(frame, name, &failed)) {
    StoreCache(call, kCallTargetNative, NativeAsPointer(entry));
    ActiveCall active;
    return CallNative(frame, entry, name, arguments);
  }
  if (!failed) ReportError(frame, kFunctionNotFound, name);
  return FailedValue();
}

FunctionEntry* PlainCallTarget(SyntaxNode* call, int32_t count) {
  const Cached cached = LoadCache(call);
  if (cached.kind != kCallTargetFunction || cached.target == nullptr) return nullptr;
  auto* entry = static_cast<FunctionEntry*>(cached.target);
  const bool plain = entry->definition != nullptr && entry->call != nullptr &&
                     entry->call->number == 0 && entry->plainParameters >= 0 &&
                     entry->plainParameters <= count;
  return plain ? entry : nullptr;
}

Value* CallPlain(Frame* frame, FunctionEntry* entry, const PlainArgument* arguments) {
  ActiveCall active;
  return RunScriptFunction(frame, frame->script, entry, nullptr, arguments);
}

int32_t ArgmatchDispatch(Script* script, Value* arguments, int32_t* stopFlag, Frame* caller) {
  if (script == nullptr || arguments == nullptr) return IsStopping() ? -1 : 0;
  Frame frame{};
  frame.script = script;
  FrameGuard leave(frame);
  int32_t count = 0;
  for (FunctionEntry* entry = script->functions; entry != nullptr; entry = entry->next) {
    SyntaxNode* pattern = HandlerPattern(entry);
    if (pattern == nullptr) continue;
    frame.functionName = nullptr;
    Owned<char> text = exec::TextOf(&frame, arguments);
    if (text == nullptr) {
      ReportError(&frame, kAllocFailed, pattern->position);
      return -1;
    }
    frame.declareNames = 1;
    const int32_t matched = MatchAndAssign(&frame, pattern->pattern, text.get());
    frame.declareNames = 0;
    if (matched < 0) return -1;
    if (matched == 0) {
      LeaveFrame(&frame);
      continue;
    }
    ++count;
    frame.functionName = entry->name;
    bool unbound = false;
    const ExecResult result = RunHandler(&frame, entry, pattern, arguments, &unbound);
    LeaveFrame(&frame);
    if (unbound) {
      if (caller != nullptr) ReportError(caller, nullptr, caller->position, 1);  // names the call
      break;
    }
    if (result == ExecResult::Failed) return -1;
    if (result == ExecResult::Exited) {
      if (stopFlag != nullptr) *stopFlag = 1;
      return IsStopping() ? -1 : count;
    }
  }
  return IsStopping() ? -1 : count;
}

bool BindArg(Frame* frame, Value* arguments) {
  static const NameHash argHash = ComputeNameHash(kArgName);
  Value* arg = FindInList(frame->locals, kArgName, argHash);
  if (arg != nullptr && exec::IsAlias(arg)) {
    // A by-reference parameter named arg: arg gets data of its own rather than overwriting the
    // caller's variable.
    auto* data = static_cast<ValueData*>(port::AllocZero(sizeof(ValueData)));
    if (data == nullptr) {
      ReportError(frame, kAllocFailed, frame->position);
      return false;
    }
    data->owner = arg;
    arg->data = data;
    arg->elements = nullptr;
  }
  if (arg == nullptr) {
    arg = exec::DeclareParameter(frame, kArgName, argHash, frame->position);
    if (arg == nullptr) return false;
  }
  SetIntegerData(arg->data, 0);
  if (arguments == nullptr) return true;
  Value* list = nullptr;
  Value** slot = &list;
  for (const Value* argument = arguments; argument != nullptr; argument = argument->next) {
    Value* element = exec::NewTemporaryAlias(nullptr);  // left with the frame
    if (element == nullptr) {
      FreeValueChain(list);
      ReportError(frame, kAllocFailed, frame->position);
      return false;
    }
    element->data = argument->data;
    element->elements = exec::ListHeadOf(frame, argument);
    *slot = element;
    slot = &element->next;
  }
  exec::RetireList(arg->elements, false);
  arg->elements = list;
  return true;
}

Value* CallNative(Frame* frame, NativeFunction entry, const char* name, Value* arguments) {
  ValuePtr result(exec::NewTemporary());
  if (result == nullptr) {
    ReportError(frame, kAllocFailed, frame->position);
    return FailedValue();
  }
  // A native reads an argument's list through its own elements field.
  for (Value* argument = arguments; argument != nullptr; argument = argument->next) {
    argument->elements = exec::ListHeadOf(frame, argument);
  }
  char message[kNativeMessageSize];
  message[0] = 0;
  const int32_t status = entry(frame, arguments, result.get(), message);
  message[kNativeMessageSize - 1] = 0;  // whatever the native wrote, the text ends here
  if (status >= 0) return result.release();
  if (status == kNativeTooFewArguments) ReportError(frame, kTooFewArguments, name);
  if (status == kNativeFailed) ReportError(frame, kFunctionError, message);
  return FailedValue();
}

void SetThreadStartHook(ThreadStartHook hook) {
  threadStartHook.store(hook, std::memory_order_release);
}

int32_t StartScriptThread(Frame* frame, SyntaxNode* call, const char* name, Value* arguments) {
  const ThreadStartHook hook = threadStartHook.load(std::memory_order_acquire);
  if (hook == nullptr) return -1;
  return hook(frame, call, name, arguments);
}

}  // namespace keytwine
