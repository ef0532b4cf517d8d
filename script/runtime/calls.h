// Function calls: resolution of a call name to a script function, the argmatch dispatcher, a
// native of the host's table or a function exported by a #library module; binding of parameters
// and of `arg`; and the native calling convention (NativeFunction, engine.h).
#ifndef KEYTWINE_SCRIPT_RUNTIME_CALLS_H
#define KEYTWINE_SCRIPT_RUNTIME_CALLS_H

#include <cstdint>

#include "script/runtime/engine.h"

namespace keytwine {

struct SyntaxNode;

// Prefix of every native entry point's name.
inline constexpr const char kNativePrefix[] = "_sfunc_";

// Calls name as written at the call node (call may be null: nothing is cached) with the argument
// chain (source order; the caller keeps owning it). Resolution order: the script prefix
// ("script.name"; "all." only before "?"), the node's cached target, the argmatch dispatcher "?",
// the selected script's functions, the host's native table, the engine head's libraries. Returns
// the call's value, owned by the caller, or FailedValue() after a report.
Value* CallFunction(Frame* frame, SyntaxNode* call, const char* name, Value* arguments);

// One argument of a call that binds plain parameters: its data, and the Value whose element list
// it brings (null when it brings none, as a number).
struct PlainArgument {
  const ValueData* data;
  const Value* value;
};
// Most arguments a call binds from an array of PlainArgument.
inline constexpr int32_t kMaxPlainArguments = 8;

// The script function that call's cache names, when its parameters are plain
// (FunctionEntry::plainParameters), count arguments bind them all, and its body does not see
// `arg`; null otherwise (also before the first call of the node has resolved it).
FunctionEntry* PlainCallTarget(SyntaxNode* call, int32_t count);
// Calls entry, a function of frame's script that PlainCallTarget gave, with as many arguments as
// it has parameters (surplus ones are not needed: a call ignores them). The arguments are read,
// not kept. Returns what CallFunction would.
Value* CallPlain(Frame* frame, FunctionEntry* entry, const PlainArgument* arguments);

// Runs script's argmatch handlers whose pattern matches the text of the first argument, each in a
// frame of its own. Returns how many ran, or -1 when one failed or the runtime is stopping. An
// exit in a handler ends the dispatch and sets *stopFlag (when given). A handler whose parameters
// cannot be bound ends the dispatch too; its report gets an "at" line in caller (when given).
int32_t ArgmatchDispatch(Script* script, Value* arguments, int32_t* stopFlag,
                         Frame* caller = nullptr);

// Sets `arg` in frame: integer 0 whose element list holds one alias per argument, in order, so
// that arg[0] is the first argument and writes through. False after a report.
bool BindArg(Frame* frame, Value* arguments);

// Calls a native entry point by the native calling convention: a new result Value (integer 0)
// and a terminated 256-byte message buffer; status 0 or more gives the result,
// kNativeTooFewArguments reports "Too few arguments" (at name), kNativeFailed "Function error"
// with the native's message, any other negative status fails silently (FailedValue()).
Value* CallNative(Frame* frame, NativeFunction entry, const char* name, Value* arguments);

// The start of a script thread for a call written "&name(...)". The engine's life cycle installs
// it; the hook copies what it needs (the arguments are the caller's and freed after the call)
// and returns the new thread's id, or -1 (after reporting "Alloc failed" when memory ran out).
using ThreadStartHook = int32_t (*)(Frame* frame, SyntaxNode* call, const char* name,
                                    Value* arguments);
void SetThreadStartHook(ThreadStartHook hook);
// Calls the installed hook; -1 when none is installed.
int32_t StartScriptThread(Frame* frame, SyntaxNode* call, const char* name, Value* arguments);

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_RUNTIME_CALLS_H
