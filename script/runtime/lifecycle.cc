#include "script/runtime/lifecycle.h"

#include <atomic>

#include "script/front/loader.h"
#include "script/front/syntax.h"
#include "script/runtime/calls.h"
#include "script/runtime/error.h"
#include "script/runtime/execute.h"
#include "script/runtime/executor_internal.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

// What a new script thread needs; it owns its copies and frees them.
struct ThreadStart {
  Script* script;
  char* name;        // the called name without "&"
  Value* arguments;  // a deep copy: arguments pass by value, even to "&" parameters
  SyntaxNode* call;
};

void FreeThreadStart(ThreadStart* start) {
  port::Free(start->name);
  FreeValueChain(start->arguments);
  port::Free(start);
}

void ScriptThreadEntry(void* argument) {
  auto* start = static_cast<ThreadStart*>(argument);
  {
    Frame frame{};
    frame.script = start->script;
    FrameGuard guard(frame);
    FreeValue(CallFunction(&frame, start->call, start->name, start->arguments));
  }
  FreeThreadStart(start);
  exec::ReleaseThreadRetired();
  AddScriptThreads(-1);
  // The thread counted as active from its creation; after this it touches nothing of the engine.
  AddActive(-1);
}

// Starts a script thread for "&name(arguments)". The thread is counted as active before it is
// created, so that WaitForScripts cannot miss it while it has not begun its call yet. -1 when
// it cannot be started, after reporting "Alloc failed" when memory ran out.
int32_t StartThreadForCall(Frame* frame, SyntaxNode* call, const char* name, Value* arguments) {
  auto* start = static_cast<ThreadStart*>(port::AllocZero(sizeof(ThreadStart)));
  if (start != nullptr) {
    start->script = frame->script;
    start->call = call;
    start->name = Duplicate(name).release();
  }
  if (start == nullptr || start->name == nullptr || !CopyValueChain(arguments, &start->arguments)) {
    if (start != nullptr) FreeThreadStart(start);
    ReportError(frame, kAllocFailed, frame->position);
    return -1;
  }
  AddActive(1);
  AddScriptThreads(1);
  uint32_t id = 0;
  if (port::StartThread(&ScriptThreadEntry, start, &id) == 0) {
    AddScriptThreads(-1);
    AddActive(-1);
    FreeThreadStart(start);
    return -1;
  }
  return static_cast<int32_t>(id);
}

}  // namespace

void InitializeRuntime(NativeEntry* natives, int32_t count) {
  InstallNativeTable(natives, count);
  InstallLoader();
  SetThreadStartHook(&StartThreadForCall);
}

void ShutdownRuntime() {
  SetThreadStartHook(nullptr);
  InstallNativeTable(nullptr, 0);
}

void RunAllScripts(Script* engine) {
  AddActive(1);
  int32_t breakCounter = 0;  // one counter serves every script of the run
  for (Script* script = engine; script != nullptr; script = script->next) {
    Frame frame{};
    frame.functionName = script->name;
    frame.script = script;
    FrameGuard guard(frame);
    if (Execute(&frame, script->topLevel, nullptr, nullptr, &breakCounter) == ExecResult::Failed) {
      break;
    }
    // The top level's variables become the script's globals, reachable from script threads.
    // Published with a release store: a thread of an earlier script may look them up meanwhile.
    MarkShared(frame.locals);
    std::atomic_ref<Value*>(script->globals).store(frame.locals, std::memory_order_release);
    frame.locals = nullptr;
    exec::ForgetLookups();
  }
  AddActive(-1);
}

void WaitForScripts() {
  SetStopFlag(1);
  port::YieldThread();
  while (ActiveCount() > 0) port::YieldThread();
  port::JoinThreads();  // their exit paths too: the process may end right after this
  SetStopFlag(0);
  ReleaseRetiredLists();
}

void DestroyEngine(Script* engine) {
  ReleaseRetiredLists();
  FreeScriptChain(engine, &ReleaseChain);
}

}  // namespace keytwine
