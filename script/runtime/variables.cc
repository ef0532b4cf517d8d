// Variables: lookup through the frame chain and the script globals (with script-qualified
// names), declaration, binding of arg, and leaving a frame.
#include <atomic>
#include <cstring>

#include "script/runtime/engine.h"
#include "script/runtime/error.h"
#include "script/runtime/executor_internal.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

// A script's globals appear once its top level has ended, while script threads may be looking.
Value* GlobalsOf(Script* script) {
  return std::atomic_ref<Value*>(script->globals).load(std::memory_order_acquire);
}

}  // namespace

Value* LookUpVariable(Frame* frame, const char* name) {
  if (frame == nullptr || name == nullptr) return nullptr;
  return LookUpVariable(frame, name, ComputeNameHash(name));
}

Value* LookUpVariable(Frame* frame, const char* name, NameHash hash) {
  if (frame == nullptr || name == nullptr) return nullptr;
  for (Frame* scope = frame; scope != nullptr; scope = scope->parent) {
    if (Value* local = exec::FindNamed(scope->locals, name, hash)) return local;
  }
  return exec::LookUpGlobal(frame, name, hash);
}

namespace exec {

Value* LookUpGlobal(Frame* frame, const char* name, NameHash hash) {
  Script* script = frame->script;
  if (script == nullptr) return nullptr;
  // "name.variable" selects the globals of the script called name (no DBCS trail byte is a '.').
  const char* dot = std::strchr(name, '.');
  if (dot == nullptr) return FindInList(GlobalsOf(script), name, hash);
  Script* owner = FindScript(script, name, static_cast<size_t>(dot - name));
  if (owner == nullptr) {
    ReportError(frame, kScriptNotFound, name);
    return nullptr;
  }
  return FindInList(GlobalsOf(owner), dot + 1);
}

}  // namespace exec

Value* DeclareVariable(Frame* frame, const char* name, const char* position) {
  if (frame == nullptr || name == nullptr) return nullptr;
  if (*name == '&') ++name;
  if (FindInList(frame->locals, name) != nullptr) {
    ReportNamedError(frame, name, kDeclarationOverlaps, position);
    return nullptr;
  }
  Value* variable = AppendToList(&frame->locals, name, nullptr);
  if (variable == nullptr) ReportError(frame, kAllocFailed, position);
  exec::ForgetLookups();
  return variable;
}

namespace exec {

Value* DeclareParameter(Frame* frame, const char* name, NameHash hash, const char* position) {
  if (*name == '&') ++name;
  if (hash == 0) hash = ComputeNameHash(name);
  Value** slot = &frame->locals;
  for (; *slot != nullptr; slot = &(*slot)->next) {
    const Value* local = *slot;
    if (local->hash == hash && local->name != nullptr && SameName(local->name, name)) {
      ReportNamedError(frame, name, kDeclarationOverlaps, position);
      return nullptr;
    }
  }
  ValuePtr variable(NewTemporary());
  if (variable == nullptr || !SetName(variable.get(), name, hash)) {
    ReportError(frame, kAllocFailed, position);
    return nullptr;
  }
  *slot = variable.release();
  ForgetLookups();
  return *slot;
}

}  // namespace exec

Value* SetOrDeclare(Frame* frame, const char* name, const ValueData* data) {
  if (frame == nullptr || name == nullptr) return nullptr;
  const NameHash hash = ComputeNameHash(name);
  for (Frame* scope = frame; scope != nullptr; scope = scope->parent) {
    if (Value* local = FindInList(scope->locals, name, hash)) {
      if (data != nullptr && !AssignData(frame, local->data, data)) return nullptr;
      return local;
    }
  }
  Value* variable = AppendToList(&frame->locals, name, data);
  if (variable == nullptr) ReportError(frame, kAllocFailed, frame->position);
  exec::ForgetLookups();
  return variable;
}

void LeaveFrame(Frame* frame) {
  if (frame == nullptr) return;
  FreeValueChain(frame->pendingIncrements);
  frame->pendingIncrements = nullptr;
  FreeValueChain(frame->pendingDecrements);
  frame->pendingDecrements = nullptr;
  if (frame->locals != nullptr) {
    // One by one: mostly parameters that FreeValue gives back on its short path.
    for (Value* local = frame->locals; local != nullptr;) {
      Value* next = local->next;
      FreeValue(local);
      local = next;
    }
    frame->locals = nullptr;
    exec::ForgetLookups();
  }
}

}  // namespace keytwine
