// The executor: walks a chain of nodes in postfix order with a private evaluation stack and acts
// on each node by its kind through a table of actions. Blocks, loop bodies, switch bodies, case
// labels, references in strings and function bodies run in nested walks.
//
// The stack is a chain of Values through their next links, top first. An entry either owns its
// ValueData (a temporary) or aliases a variable's (a variable reference, an index result, a
// declaration); the argument marker of a call has no data at all and is never an operand.
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

std::atomic<StepHook> stepHook{nullptr};

// Loop bodies that one walk runs itself; loops nested deeper get walks of their own.
constexpr int32_t kWalkLoops = 8;

// One walk of a chain.
struct Walk {
  Frame* frame;
  Value* returnTarget;
  int32_t* breakCounter;
  bool naming;  // an out-list is wanted: references and assignments name their entries
  // A step hook, asked before every node (the older short paths, which pass over nodes, are off
  // while there is one).
  StepHook hook = nullptr;
  // No stop node and no named entries: a shaped statement may run in one step, and a loop body in
  // this walk (a step hook is then asked once for the step, as for one node).
  bool plain = false;
  const SyntaxNode* stopAt = nullptr;
  Value* top = nullptr;        // the evaluation stack, top first
  SyntaxNode* next = nullptr;  // where the walk goes on after the current node
  // The variable of `name = ...` kept aside until its '=' (assignTo): no stack entry for it.
  // entriesBelow is the stack under where its entry would have been.
  Value* assigned = nullptr;
  const SyntaxNode* assignTo = nullptr;
  const Value* entriesBelow = nullptr;
  ExecResult result = ExecResult::Normal;
  // Loops whose bodies run in this walk rather than in walks of their own, innermost last.
  SyntaxNode* loops[kWalkLoops];
  int32_t loopDepth = 0;

  Walk(Frame* f, Value* target, int32_t* counter, bool withNames)
      : frame(f), returnTarget(target), breakCounter(counter), naming(withNames) {}
  ~Walk() {
    if (top != nullptr) FreeValueChain(top);
  }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;
};

// An action returns true to go on with walk.next, false to end the walk with walk.result.
using Action = bool (*)(Walk& walk, SyntaxNode* node);

// --- Stack and outcome helpers ----------------------------------------------------------------

ExecResult Run(Frame* frame, SyntaxNode* first, SyntaxNode* stopAt, Value* returnTarget,
               Value** outList, int32_t* breakCounter);

// The walk of a block, loop body or switch body of the walk that runs it.
ExecResult Nested(Frame* frame, SyntaxNode* first, Value* returnTarget, Value** outList,
                  int32_t* breakCounter) {
  return Run(frame, first, nullptr, returnTarget, outList, breakCounter);
}

void Push(Walk& walk, Value* value) {
  value->next = walk.top;
  walk.top = value;
}

Value* Pop(Walk& walk) {
  Value* value = walk.top;
  walk.top = value->next;
  value->next = nullptr;
  return value;
}

// The top entry is a value (not the argument marker).
bool HasOperand(const Walk& walk) {
  return walk.top != nullptr && walk.top->data != nullptr;
}
bool HasTwoOperands(const Walk& walk) {
  const Value* top = walk.top;
  return top != nullptr && top->data != nullptr && top->next != nullptr &&
         top->next->data != nullptr;
}

bool End(Walk& walk, ExecResult result) {
  walk.result = result;
  return false;
}
bool Fail(Walk& walk) {
  return End(walk, ExecResult::Failed);
}
bool Report(Walk& walk, const char* message) {
  ReportError(walk.frame, message, walk.frame->position);
  return Fail(walk);
}

// Pushes value, or reports "Alloc failed" when it could not be made.
bool PushMade(Walk& walk, Value* value) {
  if (value == nullptr) return Report(walk, kAllocFailed);
  Push(walk, value);
  return true;
}

// The entries of an out-list leave the outermost walk: they move out of the pool. False (the chain
// freed) when memory runs out.
bool MoveOutOfPool(Value** chain) {
  for (Value** slot = chain; *slot != nullptr; slot = &(*slot)->next) {
    Value* moved = exec::MoveToHeap(*slot);
    if (moved == nullptr) {
      FreeValueChain(*chain);
      *chain = nullptr;
      return false;
    }
    *slot = moved;
  }
  return true;
}

// Whether this walk holds aliases that a nested walk must not see released.
bool Holding(const Walk& walk) {
  return (walk.top != nullptr && exec::HoldsAliases(walk.top)) || exec::HasPending(walk.frame);
}

// A statement boundary: retired lists are released when no activation can refer into them.
void SafePoint(const Walk& walk) {
  exec::ThreadState& state = exec::State();
  if (state.retired != nullptr && state.holders == 0 && !Holding(walk)) {
    exec::ReleaseThreadRetired();
  }
}

// Carries a non-Normal result of a nested walk outward.
bool Propagate(Walk& walk, ExecResult result) {
  return result == ExecResult::Normal ? true : End(walk, result);
}

// A new frame for a block inside walk's frame.
Frame BlockFrame(const Walk& walk) {
  Frame block{};
  block.position = walk.frame->position;
  block.script = walk.frame->script;
  block.parent = walk.frame;
  return block;
}

// --- Actions ---------------------------------------------------------------------------------

bool ActNothing(Walk& /*walk*/, SyntaxNode* /*node*/) {
  return true;
}

// The end of a statement completes every postfix operator in it, also one whose element was
// left without a T_POSTFIX_DONE of its own (the parser marks only the innermost element list).
bool ActSemicolon(Walk& walk, SyntaxNode* /*node*/) {
  if (walk.top != nullptr) {
    FreeValueChain(walk.top);
    walk.top = nullptr;
  }
  exec::ApplyPending(walk.frame);
  SafePoint(walk);
  return true;
}

// An empty list item or argument counts as integer 0.
bool ActComma(Walk& walk, SyntaxNode* node) {
  if (walk.top == nullptr && !PushMade(walk, exec::NewInteger(0))) return false;
  if (node->next != nullptr && node->next->kind == T_COMMA) {
    return PushMade(walk, exec::NewInteger(0));
  }
  return true;
}

// List literal entries become temporaries that own their data: an alias could outlive the
// variable it names (a name first seen inside the literal dies with the literal's block frame).
bool DetachEntries(Frame* frame, Value** entries) {
  for (Value** slot = entries; *slot != nullptr; slot = &(*slot)->next) {
    Value* entry = *slot;
    entry->pattern = nullptr;
    if (!exec::IsAlias(entry)) {
      Value* moved = exec::MoveToHeap(entry);  // the entry becomes an element of the list
      if (moved == nullptr) return false;
      *slot = moved;
      continue;
    }
    Value* copy = exec::CopyEntry(frame, entry);
    if (copy == nullptr) return false;
    copy->next = entry->next;
    *slot = copy;
    FreeValue(entry);
  }
  return true;
}

// A block statement discards what it leaves; a list literal makes a list of it.
bool ActBrace(Walk& walk, SyntaxNode* node) {
  Frame block = BlockFrame(walk);
  FrameGuard leave(block);
  exec::HoldGuard hold(Holding(walk));
  if (node->number != 0) {  // a block statement
    return Propagate(walk,
                     Nested(&block, node->child, walk.returnTarget, nullptr, walk.breakCounter));
  }
  Value* entries = nullptr;
  const ExecResult result =
      Nested(&block, node->child, walk.returnTarget, &entries, walk.breakCounter);
  // Detaching may replace the first entry: the chain is owned from its final head on.
  const bool detached = result == ExecResult::Normal && DetachEntries(walk.frame, &entries);
  ValueChainPtr owned(entries);
  if (result != ExecResult::Normal) return End(walk, result);
  if (!detached) return Report(walk, kAllocFailed);
  Value* list = exec::NewTemporary();
  if (list == nullptr) return Report(walk, kAllocFailed);
  list->elements = owned.release();
  list->wholeList = 1;
  Push(walk, list);
  return true;
}

// A string temporary whose assignment ends its statement gives its text to the target instead of
// a copy: nothing reads the result (the statement's end discards it).
bool MoveTextOf(Walk& walk, const SyntaxNode* node, ValueData* target, Value* value) {
  ValueData* data = value->data;
  if (data->owner != value || data->type != kTypeString || walk.naming || node->next == nullptr ||
      node->next->kind != T_SEMICOLON || data->text == nullptr) {
    return false;
  }
  char* old = nullptr;
  {
    exec::SharedLock lock(walk.frame, target->shared != 0);
    if (target->type == kTypeString) old = target->text;
    target->text = data->text;
    target->type = kTypeString;
  }
  data->integer = 0;
  data->type = kTypeInteger;
  port::Free(old);
  return true;
}

// target = value: a pattern target binds its captures, a list on either side replaces the
// target's list, otherwise the scalar is assigned. The value is the result.
bool AssignKept(Walk& walk, SyntaxNode* node);

// MoveTextOf, with the usual case (an integer, or an alias) decided inline. The owner is read
// first: the type of an alias's data may be another thread's to change.
inline bool MoveText(Walk& walk, const SyntaxNode* node, ValueData* target, Value* value) {
  return value->data->owner == value && value->data->type == kTypeString &&
         MoveTextOf(walk, node, target, value);
}

bool ActAssign(Walk& walk, SyntaxNode* node) {
  if (node == walk.assignTo) return AssignKept(walk, node);
  if (!HasTwoOperands(walk)) return Report(walk, kSentenceError);
  ValuePtr value(Pop(walk));
  ValuePtr target(Pop(walk));
  if (target->pattern != nullptr) {
    // A copy: the captures may assign to the very variable whose text is matched.
    Owned<char> text = exec::TextOf(walk.frame, value.get());
    if (text == nullptr) return Report(walk, kAllocFailed);
    exec::HoldGuard hold(Holding(walk) || exec::IsAlias(value.get()));
    if (MatchAndAssign(walk.frame, target->pattern, text.get()) < 0) return Fail(walk);
  } else if (value->wholeList != 0 || target->wholeList != 0) {
    if (!exec::ReplaceList(walk.frame, target.get(), value.get())) return Fail(walk);
  } else if (!MoveText(walk, node, target->data, value.get()) &&
             !AssignData(walk.frame, target->data, value->data)) {
    return Fail(walk);
  }
  if (walk.naming && !exec::SetName(value.get(), target->name, target->hash)) {
    return Report(walk, kAllocFailed);
  }
  Push(walk, value.release());
  return true;
}

// ActAssign for a variable kept aside (see KeepsTarget): the parser made sure the value is the
// one entry above where the variable's entry would be. The variable owns its data, so no alias
// of it is needed to keep retired lists alive.
bool AssignKept(Walk& walk, SyntaxNode* node) {
  Value* variable = walk.assigned;
  walk.assigned = nullptr;
  walk.assignTo = nullptr;
  if (!HasOperand(walk) || walk.top->next != walk.entriesBelow) {
    return Report(walk, kSentenceError);  // not reached: the parser checks the shape
  }
  Value* value = walk.top;
  if (value->wholeList != 0) {
    if (!exec::ReplaceList(walk.frame, variable, value)) return Fail(walk);
  } else if (!MoveText(walk, node, variable->data, value) &&
             !AssignData(walk.frame, variable->data, value->data)) {
    return Fail(walk);
  }
  return true;
}

// Whether the walk may pass over node without acting on it.
bool Passable(const Walk& walk, const SyntaxNode* node) {
  return node != nullptr && node != walk.stopAt && node->kind != walk.frame->stopKind;
}

// Whether the postfix operator node on operand can be applied at once rather than queued: its
// T_POSTFIX_DONE comes next and nothing is queued before it, so the queue would hold this one
// change alone and be applied before anything reads the variable. Not while a step hook counts
// nodes (it could end the walk between the two).
bool PostfixNow(const Walk& walk, const SyntaxNode* node, const Value* operand) {
  const SyntaxNode* done = node->next;
  const Frame* frame = walk.frame;
  return (node->kind == T_POSTINC || node->kind == T_POSTDEC) && walk.hook == nullptr &&
         exec::IsAlias(operand) && Passable(walk, done) && done->kind == T_POSTFIX_DONE &&
         frame->pendingIncrements == nullptr && frame->pendingDecrements == nullptr;
}

// The result is the old value, as when the change is queued.
bool ApplyPostfixNow(Walk& walk, const SyntaxNode* node, ValuePtr operand) {
  ValuePtr old(exec::NewTemporary());
  if (old == nullptr) return Report(walk, kAllocFailed);
  if (!AssignData(walk.frame, old->data, operand->data)) return Fail(walk);
  exec::AddToData(walk.frame, operand->data, node->kind == T_POSTINC ? 1 : -1);
  Push(walk, old.release());
  return true;
}

bool ActUnary(Walk& walk, SyntaxNode* node) {
  if (!HasOperand(walk)) return Report(walk, kSentenceError);
  if (PostfixNow(walk, node, walk.top)) return ApplyPostfixNow(walk, node, ValuePtr(Pop(walk)));
  Value* operand = Pop(walk);
  Value* result = UnaryOperation(walk.frame, operand, node->kind);
  if (result != operand) FreeValue(operand);
  if (result == nullptr) return Fail(walk);
  Push(walk, result);
  return true;
}

bool ActPostfixDone(Walk& walk, SyntaxNode* /*node*/) {
  exec::ApplyPending(walk.frame);
  return true;
}

bool IsPlainInteger(const Value* entry);
bool IsUnsharedInteger(const Value* entry);

// The binary operator that follows node when ActBinary's integer path would apply it to the top
// entry and right, with its result in integer; null otherwise. Not while a step hook counts nodes.
const SyntaxNode* OperatorApplied(const Walk& walk, const SyntaxNode* node, int32_t right,
                                  int32_t* integer) {
  const SyntaxNode* op = node->next;
  if (walk.hook != nullptr || op == nullptr || op->kind < T_AND || op->kind > T_MOD ||
      op == walk.stopAt || op->kind == walk.frame->stopKind || !HasOperand(walk) ||
      !IsUnsharedInteger(walk.top) ||
      !exec::IntegerOperands(walk.top->data->integer, right, op->kind, integer)) {
    return nullptr;
  }
  return op;
}

// An operand right of a binary operator is applied at once instead of being pushed: the top
// entry becomes the result and the walk goes on after the operator.
bool ApplyOperator(Walk& walk, const SyntaxNode* op, int32_t integer) {
  Value* left = walk.top;
  if (IsPlainInteger(left)) {
    left->data->integer = integer;
    left->pattern = nullptr;
  } else {
    Value* result = exec::NewInteger(integer);
    if (result == nullptr) return Report(walk, kAllocFailed);
    FreeValue(Pop(walk));
    Push(walk, result);
  }
  walk.frame->position = op->position;
  walk.next = op->next;
  return true;
}

bool ActNumber(Walk& walk, SyntaxNode* node) {
  int32_t integer = 0;
  if (const SyntaxNode* op = OperatorApplied(walk, node, node->number, &integer)) {
    return ApplyOperator(walk, op, integer);
  }
  return PushMade(walk, exec::NewInteger(node->number));
}

// The pattern of a string literal without references that is matched against (`x =~ "..."`):
// compiled on its first evaluation as =~ would compile its text each time, and kept in the node
// for every later one (and every script thread). Null when it cannot be kept: =~ compiles then.
CompiledPattern* MatchedLiteralPattern(SyntaxNode* node, const char* text) {
  std::atomic_ref<CompiledPattern*> kept(node->pattern);
  if (CompiledPattern* pattern = kept.load(std::memory_order_acquire)) return pattern;
  if (node->kind != T_STRING || node->next == nullptr || node->next->kind != T_MATCH ||
      std::strchr(node->text, '%') != nullptr) {
    return nullptr;
  }
  Owned<char> doubled = DoubleBackslashes(text);
  if (doubled == nullptr) return nullptr;
  PatternFailure failure = kPatternCompiled;
  CompiledPattern* compiled = CompilePattern(doubled.get(), &failure);
  if (compiled == nullptr) return nullptr;
  CompiledPattern* first = nullptr;
  if (!kept.compare_exchange_strong(first, compiled, std::memory_order_acq_rel)) {
    FreePattern(compiled);  // another thread kept its own
    return first;
  }
  return compiled;
}

bool ActString(Walk& walk, SyntaxNode* node) {
  Owned<char> text;
  {
    exec::HoldGuard hold(Holding(walk));
    text = BuildString(walk.frame, node->text);
  }
  if (text == nullptr) return Fail(walk);
  CompiledPattern* pattern = MatchedLiteralPattern(node, text.get());
  Value* value = exec::NewText(std::move(text));
  if (value == nullptr) return Report(walk, kAllocFailed);
  value->pattern = pattern;
  Push(walk, value);
  return true;
}

bool ActPattern(Walk& walk, SyntaxNode* node) {
  Value* value = exec::NewInteger(0);
  if (value != nullptr) value->pattern = node->pattern;
  return PushMade(walk, value);
}

// Pushes an alias of variable (named when the walk names its entries).
bool PushAlias(Walk& walk, const Value* variable) {
  Value* alias = exec::NewTemporaryAlias(nullptr);
  if (alias == nullptr) return Report(walk, kAllocFailed);
  alias->data = variable->data;
  alias->elements = exec::ListHeadOf(walk.frame, variable);
  Push(walk, alias);
  if (walk.naming && !exec::SetName(alias, variable->name, variable->hash)) {
    return Report(walk, kAllocFailed);
  }
  return true;
}

bool ActDeclare(Walk& walk, SyntaxNode* node) {
  Value* variable = DeclareVariable(walk.frame, node->text, node->position);
  if (variable == nullptr) return Fail(walk);
  return PushAlias(walk, variable);
}

const char* VariableName(const SyntaxNode* node) {
  const char* name = node->text != nullptr ? node->text : "";
  return *name == '&' ? name + 1 : name;
}

// A variable node's variable through the frames innermost first, then the globals. The first
// few locals of the frame itself are looked at before anything else (parameters and the variables
// of a short script are found there at once); then what the node found the last time in this
// frame, while that still holds (see ForgetLookups).
constexpr int32_t kNearLocals = 4;

// The local that node names in frame or the frames around it; null when there is none.
Value* FindLocal(Frame* frame, const SyntaxNode* node) {
  const char* name = VariableName(node);
  const NameHash hash = node->nameHash != 0 ? node->nameHash : ComputeNameHash(name);
  for (Frame* scope = frame; scope != nullptr; scope = scope->parent) {
    if (Value* local = exec::FindNamed(scope->locals, name, hash)) return local;
  }
  return nullptr;
}

// The global that node names (node is no local: see FindLocal).
Value* FindGlobal(Frame* frame, const SyntaxNode* node) {
  const char* name = VariableName(node);
  return exec::LookUpGlobal(frame, name,
                            node->nameHash != 0 ? node->nameHash : ComputeNameHash(name));
}

Value* FindFarVariable(Frame* frame, const SyntaxNode* node) {
  exec::ThreadState& state = exec::State();
  exec::LookupEntry& known = exec::LookupSlot(state, node);
  if (known.node == node && known.frame == frame && known.epoch == state.lookupEpoch &&
      known.count == 1) {
    return known.variables[0];
  }
  if (Value* local = FindLocal(frame, node)) {
    known = {node, frame, state.lookupEpoch, 1, {local, nullptr, nullptr}};
    return local;
  }
  return FindGlobal(frame, node);
}

inline Value* FindVariable(Frame* frame, const SyntaxNode* node) {
  const char* name = node->text;
  if (name != nullptr && *name != '&') {
    const NameHash hash = node->nameHash;
    Value* local = frame->locals;
    for (int32_t i = 0; i < kNearLocals && local != nullptr; ++i, local = local->next) {
      if (local->hash == hash && local->name != nullptr && SameName(local->name, name)) {
        return local;
      }
    }
  }
  return FindFarVariable(frame, node);
}

// A name is looked up through the frames and the globals; an unknown one is declared in the
// current frame, or reported under #option(explicit).
Value* ResolveVariable(Frame* frame, const SyntaxNode* node) {
  if (Value* variable = FindVariable(frame, node)) return variable;
  const char* name = VariableName(node);
  if (frame->script != nullptr && frame->script->optionExplicit != 0) {
    ReportNamedError(frame, name, kVariableNotDefined, node->position);
    return nullptr;
  }
  return DeclareVariable(frame, name, node->position);
}

// The integer value of an unshared integer variable.
bool UnsharedInteger(const Value* variable, int32_t* integer) {
  const ValueData* data = variable->data;
  if (IsSharedData(data) || data->type != kTypeInteger) return false;
  *integer = data->integer;
  return true;
}

bool HasDot(const char* name) {
  for (; *name != 0; ++name) {
    if (*name == '.') return true;
  }
  return false;
}

// The value of operand when it is a number or a known unshared integer variable.
bool IntegerOperand(const Walk& walk, const SyntaxNode* operand, int32_t* integer) {
  if (operand->kind == T_NUMBER) {
    *integer = operand->number;
    return true;
  }
  // A "script.name" that is not found is reported by the lookup: only the walk may do that.
  if (operand->kind != T_VARIABLE || HasDot(VariableName(operand))) return false;
  const Value* variable = FindVariable(walk.frame, operand);
  return variable != nullptr && UnsharedInteger(variable, integer);
}

// The operand after node when node is an integer variable left of a number or of an unshared
// integer variable and a binary operator (`i < 60000`, `s + i`) that ActBinary's integer path
// would apply, with the result in integer; null otherwise (the walk then acts on them as usual).
const SyntaxNode* PairApplied(const Walk& walk, const SyntaxNode* node, int32_t left,
                              int32_t* integer) {
  const SyntaxNode* operand = node->next;
  if (walk.hook != nullptr || !Passable(walk, operand)) return nullptr;
  const SyntaxNode* op = operand->next;
  int32_t right = 0;
  if (!Passable(walk, op) || op->kind < T_AND || op->kind > T_MOD ||
      !IntegerOperand(walk, operand, &right) ||
      !exec::IntegerOperands(left, right, op->kind, integer)) {
    return nullptr;
  }
  return operand;
}

// The result of a pair that is the whole right side of `name = a op b;` with name kept aside
// (s = s + i;) goes straight into name's data when that is not shared, as AssignData would store
// it: nothing reads the assignment's value before the statement's end discards it. Not while a
// step hook counts nodes.
bool StorePair(Walk& walk, const SyntaxNode* operand, int32_t integer) {
  const SyntaxNode* assign = operand->next->next;
  if (assign == nullptr || assign != walk.assignTo || walk.hook != nullptr ||
      walk.top != walk.entriesBelow || !Passable(walk, assign)) {
    return false;
  }
  SyntaxNode* end = assign->next;
  ValueData* data = walk.assigned->data;
  if (!Passable(walk, end) || end->kind != T_SEMICOLON || IsSharedData(data)) return false;
  SetIntegerData(data, integer);
  walk.assigned = nullptr;
  walk.assignTo = nullptr;
  walk.frame->position = assign->position;
  walk.next = end;
  return true;
}

bool TestWith(Walk& walk, SyntaxNode* node, bool skip);
bool LoopWith(Walk& walk, SyntaxNode* node, bool holds);

// Pushes the result of a pair at once, without an alias of either variable. A condition that a
// T_TEST or T_LOOP_BODY takes next is handed to it without a temporary.
bool ApplyPair(Walk& walk, const SyntaxNode* operand, int32_t integer) {
  if (StorePair(walk, operand, integer)) return true;
  SyntaxNode* taker = operand->next->next;
  if (Passable(walk, taker) && (taker->kind == T_TEST || taker->kind == T_LOOP_BODY)) {
    walk.frame->position = taker->position;
    walk.next = taker->next;
    return taker->kind == T_TEST ? TestWith(walk, taker, integer != 0)
                                 : LoopWith(walk, taker, integer != 0);
  }
  walk.frame->position = operand->position;
  if (!PushMade(walk, exec::NewInteger(integer))) return false;
  walk.frame->position = operand->next->position;
  walk.next = operand->next->next;
  return true;
}

// The postfix operator of `name++;` or `name--;` after node, or null. Nothing reads the old
// value, and with nothing queued before it the change would be applied alone at the
// T_POSTFIX_DONE that follows: it is applied at once, without an alias, a copy or a queue entry.
const SyntaxNode* PostfixStatement(const Walk& walk, const SyntaxNode* node) {
  const SyntaxNode* op = node->next;
  if (op == nullptr || (op->kind != T_POSTINC && op->kind != T_POSTDEC) || walk.hook != nullptr ||
      walk.naming || !Passable(walk, op)) {
    return nullptr;
  }
  const SyntaxNode* done = op->next;
  if (!Passable(walk, done) || done->kind != T_POSTFIX_DONE || !Passable(walk, done->next) ||
      done->next->kind != T_SEMICOLON) {
    return nullptr;
  }
  const Frame* frame = walk.frame;
  return frame->pendingIncrements == nullptr && frame->pendingDecrements == nullptr ? op : nullptr;
}

// Whether the variable of `name = ...` is kept aside for its '=' instead of being pushed: one at
// a time, not when entries are named, and only a variable that owns its data (a by-reference
// parameter's data lives in another frame or list).
bool KeepsTarget(const Walk& walk, const SyntaxNode* node, const Value* variable) {
  return node->target != nullptr && walk.assignTo == nullptr && !walk.naming &&
         variable->data != nullptr && variable->data->owner == variable;
}

// --- Shaped statements ------------------------------------------------------------------------
//
// A statement or condition the parser gave a NodeShape runs in one step when nothing can come
// between its nodes (ShapeRuns) and its values allow: the variables exist and hold integers that
// no other script thread can change. Otherwise nothing has been done yet and the walk acts on
// the nodes one by one. The outcome is what the nodes one by one would give.

bool ShapeRuns(const Walk& walk) {
  const Frame* frame = walk.frame;
  return walk.plain && frame->stopKind == 0 && walk.top == nullptr && walk.assignTo == nullptr &&
         frame->pendingIncrements == nullptr && frame->pendingDecrements == nullptr;
}

// The variables of the names among nodes (a number gives null), remembered together under key:
// a shaped statement finds all its names with one look at what it found the last time. A name
// that is not a local (a global, or one that does not exist) is found anew each time. The answer
// is in found, or where the thread remembers it (valid until its next lookup).
Value* const* FindNames(const Walk& walk, const SyntaxNode* key, const SyntaxNode* const* nodes,
                        int32_t count, Value** found) {
  exec::ThreadState& state = exec::State();
  exec::LookupEntry& known = exec::LookupSlot(state, key);
  if (known.node == key && known.frame == walk.frame && known.epoch == state.lookupEpoch &&
      known.count == count) {
    return known.variables;
  }
  bool allLocal = true;
  for (int32_t i = 0; i < count; ++i) {
    found[i] = nullptr;
    if (nodes[i]->kind == T_NUMBER) continue;
    found[i] = FindLocal(walk.frame, nodes[i]);
    if (found[i] == nullptr) {
      allLocal = false;
      found[i] = FindGlobal(walk.frame, nodes[i]);
    }
  }
  if (allLocal) {
    known = {key, walk.frame, state.lookupEpoch, count, {}};
    for (int32_t i = 0; i < count; ++i) known.variables[i] = found[i];
  }
  return found;
}

// The integer of an operand: a number, or a variable that exists and holds an unshared integer.
[[gnu::always_inline]] inline bool OperandValue(const SyntaxNode* node, const Value* variable,
                                                int32_t* integer) {
  if (node->kind == T_NUMBER) {
    *integer = node->number;
    return true;
  }
  return variable != nullptr && UnsharedInteger(variable, integer);
}

// The statement's ';' as ActSemicolon would act on it: the stack is empty and nothing is queued.
void EndShapedStatement(Walk& walk, SyntaxNode* end) {
  walk.frame->position = end->position;
  walk.next = end->next;
  SafePoint(walk);
}

// name = a op b ;
bool RunStore(Walk& walk, SyntaxNode* node) {
  const SyntaxNode* op = node->next->next->next;
  const SyntaxNode* const nodes[] = {node, node->next, node->next->next};
  Value* found[3];
  Value* const* variables = FindNames(walk, node, nodes, 3, found);
  Value* variable = variables[0];
  int32_t a = 0;
  int32_t b = 0;
  int32_t result = 0;
  if (variable == nullptr || variable->data->owner != variable || IsSharedData(variable->data) ||
      !OperandValue(nodes[1], variables[1], &a) || !OperandValue(nodes[2], variables[2], &b) ||
      !exec::IntegerOperands(a, b, op->kind, &result)) {
    return false;
  }
  SetIntegerData(variable->data, result);
  EndShapedStatement(walk, node->target->next);
  return true;
}

// name++ ; and name-- ;
bool RunStep(Walk& walk, SyntaxNode* node) {
  Value* found = nullptr;
  Value* variable = *FindNames(walk, node, &node, 1, &found);
  if (variable == nullptr) return false;
  const SyntaxNode* op = node->next;
  exec::AddToData(walk.frame, variable->data, op->kind == T_POSTINC ? 1 : -1);
  EndShapedStatement(walk, op->next->next);
  return true;
}

// The integer value of a shaped condition `name op b`; false when its values do not allow it.
bool ConditionValue(const Walk& walk, const SyntaxNode* node, int32_t* result) {
  const SyntaxNode* const nodes[] = {node, node->next};
  Value* found[2];
  Value* const* variables = FindNames(walk, node, nodes, 2, found);
  int32_t a = 0;
  int32_t b = 0;
  return OperandValue(nodes[0], variables[0], &a) && OperandValue(nodes[1], variables[1], &b) &&
         exec::IntegerOperands(a, b, node->next->next->kind, result);
}

// name op b, handed to the T_TEST or T_LOOP_BODY after it. *proceed is the action's outcome.
bool RunCondition(Walk& walk, SyntaxNode* node, bool* proceed) {
  int32_t result = 0;
  if (!ConditionValue(walk, node, &result)) return false;
  SyntaxNode* taker = node->next->next->next;
  walk.frame->position = taker->position;
  walk.next = taker->next;
  *proceed = taker->kind == T_TEST ? TestWith(walk, taker, result != 0)
                                   : LoopWith(walk, taker, result != 0);
  return true;
}

// Runs node's shaped statement in one step when it can; *proceed is then the action's outcome.
bool RunShaped(Walk& walk, SyntaxNode* node, bool* proceed) {
  if (!ShapeRuns(walk)) return false;
  *proceed = true;
  const int32_t shape = node->shape;
  if ((shape & kShapeStore) != 0 && RunStore(walk, node)) return true;
  if ((shape & kShapeStep) != 0 && RunStep(walk, node)) return true;
  return (shape & kShapeCondition) != 0 && RunCondition(walk, node, proceed);
}

bool ActVariable(Walk& walk, SyntaxNode* node) {
  const int32_t shape = node->shape;
  bool proceed = true;
  if ((shape & kShapesRunInOneStep) != 0 && RunShaped(walk, node, &proceed)) return proceed;
  Value* variable = ResolveVariable(walk.frame, node);
  if (variable == nullptr) return Fail(walk);
  if (KeepsTarget(walk, node, variable)) {
    walk.assigned = variable;
    walk.assignTo = node->target;
    walk.entriesBelow = walk.top;
    return true;
  }
  if ((shape & kShapePostfixStatement) != 0) {
    if (const SyntaxNode* op = PostfixStatement(walk, node)) {
      walk.frame->position = op->position;
      exec::AddToData(walk.frame, variable->data, op->kind == T_POSTINC ? 1 : -1);
      walk.next = op->next->next;  // the statement's end
      return true;
    }
  }
  int32_t integer = 0;
  if ((shape & (kShapeBeforeOperator | kShapeBeforePair)) != 0 &&
      UnsharedInteger(variable, &integer)) {
    int32_t result = 0;
    if ((shape & kShapeBeforeOperator) != 0) {
      if (const SyntaxNode* op = OperatorApplied(walk, node, integer, &result)) {
        return ApplyOperator(walk, op, result);
      }
    }
    if ((shape & kShapeBeforePair) != 0) {
      if (const SyntaxNode* operand = PairApplied(walk, node, integer, &result)) {
        return ApplyPair(walk, operand, result);
      }
    }
  }
  return PushAlias(walk, variable);
}

// The element of base selected by index: an alias when base is a variable, a copy when base is
// a temporary. Element creation in shared data takes the VariableLock. Null after a report.
Value* IndexValue(Frame* frame, Value* base, const Value* index) {
  Value* result = nullptr;
  {
    exec::SharedLock lock(frame, exec::IsShared(base));
    Value* element = ElementOf(frame, base, index->data);
    if (element == nullptr) return nullptr;  // reported
    if (exec::IsAlias(base)) {
      result = exec::NewTemporaryAlias(element);
      if (result != nullptr) result->elements = exec::ListOf(element);
    } else {
      result = exec::CopyEntry(frame, element);
      if (result != nullptr) {
        port::Free(result->name);
        result->name = nullptr;
        result->hash = 0;
      }
    }
  }
  if (result == nullptr) ReportError(frame, kAllocFailed, frame->position);
  return result;
}

bool ActIndex(Walk& walk, SyntaxNode* /*node*/) {
  if (!HasTwoOperands(walk)) return Report(walk, kSentenceError);
  ValuePtr index(Pop(walk));
  ValuePtr base(Pop(walk));
  if (exec::IsShared(index.get())) {
    // A copy taken under the lock: another script thread may assign the variable meanwhile.
    ValuePtr copy(exec::NewTemporary());
    if (copy == nullptr) return Report(walk, kAllocFailed);
    if (!AssignData(walk.frame, copy->data, index->data)) return Fail(walk);
    index = std::move(copy);
  }
  const ValueData* key = index->data;
  // Reported here rather than under the lock that element creation takes.
  if (key->type == kTypeInteger && key->integer < 0) return Report(walk, kIndexError);
  const bool whole = key->type == kTypeString && (key->text == nullptr || key->text[0] == 0);
  if (whole && !exec::IsAlias(base.get())) {  // a temporary's whole list is the temporary
    base->wholeList = 1;
    base->pattern = nullptr;
    Push(walk, base.release());
    return true;
  }
  Value* result = IndexValue(walk.frame, base.get(), index.get());
  if (result == nullptr) return Fail(walk);
  result->wholeList = whole ? 1 : 0;
  Push(walk, result);
  return true;
}

void Traceback(Frame* frame, const char* name);

// The arguments of a direct call (kShapeDirectCall), read in place: a variable's own data and
// list, a number or the integer of a pair in numbers. The call node, or null when an operand is
// not a variable that exists or a pair does not give an integer (the call then goes the usual
// way: nothing has been done yet).
SyntaxNode* ReadArguments(const Walk& walk, SyntaxNode* begin, PlainArgument* arguments,
                          ValueData* numbers, int32_t* count) {
  SyntaxNode* at = begin->next;
  for (*count = 0; at->kind != T_CALL; ++*count) {
    if (*count == kMaxPlainArguments) return nullptr;
    PlainArgument& argument = arguments[*count];
    SyntaxNode* next = at->next;
    if (next->kind != T_COMMA && next->kind != T_CALL) {  // a pair: at next op
      int32_t integer = 0;
      if (!ConditionValue(walk, at, &integer)) return nullptr;
      numbers[*count] = ValueData{};
      numbers[*count].integer = integer;
      argument = {&numbers[*count], nullptr};
      next = next->next->next;
    } else if (at->kind == T_NUMBER) {
      numbers[*count] = ValueData{};
      numbers[*count].integer = at->number;
      argument = {&numbers[*count], nullptr};
    } else {
      const Value* variable = FindVariable(walk.frame, at);
      if (variable == nullptr) return nullptr;
      argument = {variable->data, variable};
    }
    at = next->kind == T_COMMA ? next->next : next;
  }
  return at;
}

// A call of a script function whose arguments are read in place (kShapeDirectCall) once the node
// knows its function: no marker, no argument entries. *proceed is then the action's outcome.
bool DirectCall(Walk& walk, SyntaxNode* begin, bool* proceed) {
  if (!walk.plain || walk.frame->stopKind != 0) return false;
  PlainArgument arguments[kMaxPlainArguments];
  ValueData numbers[kMaxPlainArguments];
  int32_t count = 0;
  SyntaxNode* call = ReadArguments(walk, begin, arguments, numbers, &count);
  FunctionEntry* entry = call != nullptr ? PlainCallTarget(call, count) : nullptr;
  if (entry == nullptr) return false;
  if (walk.hook != nullptr && !walk.hook()) {  // one step for the call's nodes
    *proceed = Fail(walk);
    return true;
  }
  walk.frame->position = call->position;
  Value* result = nullptr;
  {
    exec::HoldGuard hold(Holding(walk));
    result = CallPlain(walk.frame, entry, arguments);
  }
  walk.frame->position = call->position;
  if (result == nullptr || IsFailedValue(result)) {
    Traceback(walk.frame, call->text);
    *proceed = Fail(walk);
    return true;
  }
  Push(walk, result);
  walk.next = call->next;
  *proceed = true;
  return true;
}

bool ActCallBegin(Walk& walk, SyntaxNode* node) {
  bool proceed = true;
  if ((node->shape & kShapeDirectCall) != 0 && DirectCall(walk, node, &proceed)) return proceed;
  Value* marker = exec::NewTemporaryAlias(nullptr);  // a Value without data
  return PushMade(walk, marker);
}

// The "at" line of a failed call, unless the call is a direct recursion of the function that
// made it.
void Traceback(Frame* frame, const char* name) {
  const Frame* outer = frame;
  while (outer->parent != nullptr) outer = outer->parent;
  if (outer->functionName == nullptr || std::strcmp(outer->functionName, name) != 0) {
    ReportError(frame, nullptr, frame->position, 1);
  }
}

bool ActCall(Walk& walk, SyntaxNode* node) {
  // The arguments are the entries above the nearest marker, in source order.
  Value* arguments = nullptr;
  while (HasOperand(walk)) {
    Value* argument = Pop(walk);
    argument->next = arguments;
    arguments = argument;
  }
  ValueChainPtr owned(arguments);
  if (walk.top == nullptr) return Report(walk, kSentenceError);
  FreeValue(Pop(walk));
  const char* name = node->text != nullptr ? node->text : "";
  if (*name == '&') {
    int32_t id = 0;
    {
      // The new thread copies the arguments; counted all the same, in case the hook runs the call
      // before it returns.
      exec::HoldGuard hold(Holding(walk) || exec::HoldsAliases(arguments));
      id = StartScriptThread(walk.frame, node, name + 1, arguments);
    }
    return PushMade(walk, exec::NewInteger(id));
  }
  Value* result = nullptr;
  {
    exec::HoldGuard hold(Holding(walk) || exec::HoldsAliases(arguments));
    result = CallFunction(walk.frame, node, name, arguments);
  }
  walk.frame->position = node->position;
  if (result == nullptr || IsFailedValue(result)) {
    Traceback(walk.frame, name);
    return Fail(walk);
  }
  Push(walk, result);
  return true;
}

bool ActBreak(Walk& walk, SyntaxNode* /*node*/) {
  if (walk.breakCounter != nullptr) {
    int32_t count = 0;
    if (HasOperand(walk)) {
      ValuePtr value(Pop(walk));
      count = exec::IntegerOf(walk.frame, value.get());
    }
    *walk.breakCounter = count < 0 ? 0 : count;
  }
  return End(walk, ExecResult::Break);
}

bool ActContinue(Walk& walk, SyntaxNode* /*node*/) {
  return End(walk, ExecResult::Continue);
}

SyntaxNode* ColonAfter(SyntaxNode* node) {
  for (node = node->next; node != nullptr; node = node->next) {
    if (node->kind == T_COLON) return node;
  }
  return nullptr;
}

// A label reached in the flow (fall-through) goes on after its colon.
bool ActLabel(Walk& walk, SyntaxNode* node) {
  SyntaxNode* colon = ColonAfter(node);
  walk.next = colon != nullptr ? colon->next : nullptr;
  return true;
}

// The label that value selects in a switch body: the first case whose label equals it, else the
// first default. A case label that fails or yields nothing ends the search with no label.
SyntaxNode* FindLabel(Frame* frame, SyntaxNode* body, const Value* value) {
  for (SyntaxNode* node = body; node != nullptr; node = node->next) {
    if (node->kind != T_CASE) continue;
    Value* out = nullptr;
    const ExecResult result = ExecuteUntil(frame, node->next, ColonAfter(node), &out);
    ValueChainPtr owned(out);
    if (result == ExecResult::Failed || out == nullptr || out->data == nullptr) return nullptr;
    ValuePtr equal(BinaryOperation(frame, out, value, T_EQ));
    if (equal == nullptr) return nullptr;
    if (equal->data->integer != 0) return node;
  }
  for (SyntaxNode* node = body; node != nullptr; node = node->next) {
    if (node->kind == T_DEFAULT) return node;
  }
  return nullptr;
}

bool ActSwitch(Walk& walk, SyntaxNode* node) {
  if (!HasOperand(walk)) return Report(walk, kSentenceError);
  SyntaxNode* label = nullptr;
  {
    ValuePtr value(Pop(walk));
    exec::HoldGuard hold(Holding(walk) || exec::IsAlias(value.get()));
    label = FindLabel(walk.frame, node->child, value.get());
  }
  walk.frame->position = node->position;
  if (label == nullptr) return true;
  Frame block = BlockFrame(walk);
  FrameGuard leave(block);
  ExecResult result;
  {
    exec::HoldGuard hold(Holding(walk));
    result = Nested(&block, label, walk.returnTarget, nullptr, walk.breakCounter);
  }
  if (result == ExecResult::Break) {
    if (walk.breakCounter != nullptr && *walk.breakCounter > 0) {
      --*walk.breakCounter;
      return End(walk, ExecResult::Break);
    }
    return true;
  }
  return Propagate(walk, result);
}

// return, resume and exit hand the top value to the return target.
bool Transfer(Walk& walk) {
  Value* target = walk.returnTarget;
  if (target == nullptr) return true;
  if (!HasOperand(walk)) {
    SetIntegerData(target->data, 0);
    return true;
  }
  ValuePtr top(Pop(walk));
  if (!AssignData(walk.frame, target->data, top->data)) return false;
  Value* copy = nullptr;
  if (!exec::CopyListOf(walk.frame, top.get(), &copy)) {
    ReportError(walk.frame, kAllocFailed, walk.frame->position);
    return false;
  }
  // The target is the caller's fresh result: nothing aliases it.
  if (target->elements != nullptr) FreeValueChain(target->elements);
  target->elements = copy;
  target->wholeList = top->wholeList;
  return true;
}

bool ActReturn(Walk& walk, SyntaxNode* /*node*/) {
  return Transfer(walk) ? End(walk, ExecResult::Returned) : Fail(walk);
}

bool ActExit(Walk& walk, SyntaxNode* /*node*/) {
  return Transfer(walk) ? End(walk, ExecResult::Exited) : Fail(walk);
}

bool ActJump(Walk& walk, SyntaxNode* node) {
  if (node->target == nullptr) return Report(walk, kSentenceError);
  walk.next = node->target->next;
  return true;
}

// A true or missing condition skips the jump that follows.
bool TestWith(Walk& walk, SyntaxNode* node, bool skip) {
  if (skip) walk.next = node->next != nullptr ? node->next->next : nullptr;
  return true;
}

bool ActTest(Walk& walk, SyntaxNode* node) {
  bool skip = true;
  if (HasOperand(walk)) {
    ValuePtr condition(Pop(walk));
    skip = exec::TruthOf(walk.frame, condition.get());
  }
  return TestWith(walk, node, skip);
}

// The node after the loop's T_LOOP_END: the target of the exit jump that follows the body node.
SyntaxNode* AfterLoop(SyntaxNode* body) {
  SyntaxNode* exitJump = body->next;
  if (exitJump != nullptr && exitJump->kind == T_JUMP && exitJump->target != nullptr) {
    return exitJump->target->next;
  }
  for (SyntaxNode* node = body->next; node != nullptr; node = node->next) {
    if (node->kind == T_LOOP_END) return node->next;
  }
  return nullptr;
}

// Whether a completed loop iteration gives up the rest of its time slice. Only while a script
// thread runs: then a loop that waits for another thread (`while (test.done == 0) ;`) lets that
// thread run at once, also on a single core, instead of spinning out its whole quantum. Without
// script threads nothing else needs the processor from here: the configuration runs to its end
// (script threads stopped) before the keyboard hook is installed, and the hook is called on the
// shell's own message loop, never beside a script. A yield there would only cost a system call
// per iteration (0.45 us, and a whole time slice when another process is busy on the core).
bool ShouldYield() {
  return ScriptThreadCount() > 0;
}

// After an iteration of loop: a completed one (Normal or Continue) yields the processor when
// ShouldYield says so and goes on after the exit jump (the step part of a for loop, then the jump
// back to the head); a break leaves the loop, or with a count left ends the walk with Break
// (BodyEnded then goes on outward); any other outcome ends the walk with it.
bool LoopEnded(Walk& walk, SyntaxNode* loop, ExecResult result) {
  switch (result) {
    case ExecResult::Normal:
    case ExecResult::Continue:
      if (ShouldYield()) port::YieldThread();
      SafePoint(walk);
      walk.next = loop->next != nullptr ? loop->next->next : nullptr;
      return true;
    case ExecResult::Break:
      if (walk.breakCounter != nullptr && *walk.breakCounter > 0) {
        --*walk.breakCounter;
        return End(walk, ExecResult::Break);
      }
      walk.next = AfterLoop(loop);
      return true;
    default:
      return End(walk, result);
  }
}

// After a completed iteration of a loop whose body the walk runs itself, with walk.next at what
// follows the body: the step statement of a for loop and the jump back to the loop's head, then
// its condition, run in one step when they are shaped (the step may run alone). The body is then
// entered again at once; otherwise the walk goes on from walk.next node by node. False when the
// walk ends (it is stopping).
bool RepeatLoop(Walk& walk, SyntaxNode* loop) {
  if ((loop->shape & kShapeRepeats) == 0 || !ShapeRuns(walk)) return true;
  SyntaxNode* node = walk.next;  // the step, or the jump back (see kShapeRepeats)
  const bool step = (node->shape & kShapeStep) != 0;
  const SyntaxNode* jump = step ? node->next->next->next->next : node;  // after `name ++ done ;`
  const SyntaxNode* condition = jump->target->next;
  // The step's name and the condition's, found together under the loop's node.
  const SyntaxNode* names[] = {node, condition, condition->next};
  Value* found[3];
  const int32_t first = step ? 0 : 1;
  Value* const* variables = FindNames(walk, loop, names + first, 3 - first, found);
  Value* counter = step ? variables[0] : nullptr;
  Value* left = variables[1 - first];
  Value* right = variables[2 - first];
  if (step && counter == nullptr) return true;
  if (walk.hook != nullptr && !walk.hook()) return Fail(walk);  // one step for the lot
  if (step) {  // as RunStep, without another safe point: LoopEnded has just passed one
    const SyntaxNode* op = node->next;
    exec::AddToData(walk.frame, counter->data, op->kind == T_POSTINC ? 1 : -1);
    walk.frame->position = op->next->next->position;
    walk.next = op->next->next->next;
  }
  int32_t a = 0;
  int32_t b = 0;
  int32_t result = 0;
  if (!OperandValue(condition, left, &a) || !OperandValue(condition->next, right, &b) ||
      !exec::IntegerOperands(a, b, condition->next->next->kind, &result)) {
    return true;  // the walk goes on at the jump
  }
  walk.frame->position = loop->position;
  if (result == 0) {
    walk.next = loop->next;  // the exit jump
    return true;
  }
  if (IsStopping()) return Fail(walk);  // as LoopWith would find it
  walk.loops[walk.loopDepth++] = loop;
  walk.next = loop->child;
  return true;
}

// The end of a loop body that the walk runs itself (its chain ended, or an action ended it with
// result): the loop goes on as LoopEnded says, and a Break that leaves it with a count left goes
// on to the loop around it. False when the walk ends (with walk.result).
bool BodyEnded(Walk& walk, ExecResult result) {
  while (walk.loopDepth > 0) {
    SyntaxNode* loop = walk.loops[--walk.loopDepth];
    if (walk.top != nullptr) {  // what an ended body left, as its own walk would free it
      FreeValueChain(walk.top);
      walk.top = nullptr;
    }
    walk.assigned = nullptr;
    walk.assignTo = nullptr;
    walk.result = ExecResult::Normal;
    if (LoopEnded(walk, loop, result)) {
      return (result != ExecResult::Normal && result != ExecResult::Continue) ||
             RepeatLoop(walk, loop);
    }
    if (walk.result != ExecResult::Break) return false;
    result = ExecResult::Break;
  }
  return false;
}

// One loop step: a false condition goes on with the exit jump; otherwise the body runs. A body
// runs in this walk when the walk is plain and has nothing on its stack or queued (so that the
// body starts as in a walk of its own); else in a nested walk.
bool LoopWith(Walk& walk, SyntaxNode* node, bool holds) {
  if (!holds) return true;
  if (walk.plain && walk.loopDepth < kWalkLoops && walk.frame->stopKind == 0 &&
      walk.top == nullptr && walk.assignTo == nullptr && !exec::HasPending(walk.frame)) {
    if (IsStopping()) return Fail(walk);  // as a walk of its own would begin
    walk.loops[walk.loopDepth++] = node;
    walk.next = node->child;
    return true;
  }
  ExecResult result;
  {
    exec::HoldGuard hold(Holding(walk));
    result = Nested(walk.frame, node->child, walk.returnTarget, nullptr, walk.breakCounter);
  }
  return LoopEnded(walk, node, result);
}

bool ActLoopBody(Walk& walk, SyntaxNode* node) {
  bool holds = true;
  if (HasOperand(walk)) {
    ValuePtr condition(Pop(walk));
    holds = exec::TruthOf(walk.frame, condition.get());
  }
  return LoopWith(walk, node, holds);
}

// Every kind the parser does not leave in expression position falls here too.
// Whether entry is a plain integer that nothing else can see: a temporary without name, list or
// pattern role, whose record may take the result of an operation on it.
bool IsPlainInteger(const Value* entry) {
  const ValueData* data = entry->data;
  return data->owner == entry && data->shared == 0 && data->type == kTypeInteger &&
         entry->name == nullptr && entry->elements == nullptr && entry->wholeList == 0;
}

// The shared flag first: the data of a shared entry may be assigned by another thread meanwhile.
bool IsUnsharedInteger(const Value* entry) {
  return entry->data->shared == 0 && entry->wholeList == 0 && entry->data->type == kTypeInteger;
}

// Integers that no other script thread can change, computed without BinaryOperation; the result
// goes into the record of an operand that is a plain temporary when there is one. False when the
// general path must do it (it also reports what fails).
bool IntegerBinary(Walk& walk, const SyntaxNode* node) {
  Value* right = walk.top;
  Value* left = right->next;
  if (!IsUnsharedInteger(left) || !IsUnsharedInteger(right)) return false;
  int32_t integer = 0;
  if (!exec::IntegerOperands(left->data->integer, right->data->integer, node->kind, &integer)) {
    return false;
  }
  Value* result = IsPlainInteger(right) ? right : IsPlainInteger(left) ? left : nullptr;
  if (result == nullptr && (result = exec::NewInteger(0)) == nullptr) return false;
  Value* second = Pop(walk);
  Value* first = Pop(walk);
  if (first != result) FreeValue(first);
  if (second != result) FreeValue(second);
  result->data->integer = integer;
  result->pattern = nullptr;
  Push(walk, result);
  return true;
}

bool ActBinary(Walk& walk, SyntaxNode* node) {
  if (!HasTwoOperands(walk)) return Report(walk, kSentenceError);
  if (IntegerBinary(walk, node)) return true;
  ValuePtr right(Pop(walk));
  ValuePtr left(Pop(walk));
  Value* result = BinaryOperation(walk.frame, left.get(), right.get(), node->kind);
  if (result == nullptr) return Fail(walk);
  Push(walk, result);
  return true;
}

// --- The action table ------------------------------------------------------------------------

struct ActionTable {
  Action actions[kLastTokenKind + 1];
};

constexpr ActionTable MakeActions() {
  ActionTable table{};
  for (Action& action : table.actions) action = &ActBinary;
  table.actions[T_SEMICOLON] = &ActSemicolon;
  table.actions[T_COMMA] = &ActComma;
  table.actions[T_LBRACE] = &ActBrace;
  table.actions[T_ASSIGN] = &ActAssign;
  for (int32_t kind = T_NOT; kind <= T_POSTDEC; ++kind) table.actions[kind] = &ActUnary;
  table.actions[T_POSTFIX_DONE] = &ActPostfixDone;
  table.actions[T_NUMBER] = &ActNumber;
  table.actions[T_STRING] = &ActString;
  table.actions[T_PATTERN] = &ActPattern;
  table.actions[T_DECLARE] = &ActDeclare;
  table.actions[T_VARIABLE] = &ActVariable;
  table.actions[T_INDEX] = &ActIndex;
  table.actions[T_CALL_BEGIN] = &ActCallBegin;
  table.actions[T_CALL] = &ActCall;
  table.actions[T_ELSE] = &ActNothing;
  table.actions[T_IF_END] = &ActNothing;
  table.actions[T_LOOP_HEAD] = &ActNothing;
  table.actions[T_LOOP_END] = &ActNothing;
  table.actions[T_DO_COND] = &ActNothing;
  table.actions[T_FUNCTION_END] = &ActNothing;
  table.actions[T_BREAK] = &ActBreak;
  table.actions[T_CONTINUE] = &ActContinue;
  table.actions[T_SWITCH] = &ActSwitch;
  table.actions[T_CASE] = &ActLabel;
  table.actions[T_DEFAULT] = &ActLabel;
  table.actions[T_RETURN] = &ActReturn;
  table.actions[T_EXIT] = &ActExit;
  table.actions[T_JUMP] = &ActJump;
  table.actions[T_TEST] = &ActTest;
  table.actions[T_LOOP_BODY] = &ActLoopBody;
  return table;
}

constexpr ActionTable kActions = MakeActions();

Action ActionFor(int32_t kind) {
  if (kind < 0 || kind > kLastTokenKind) return &ActBinary;
  return kActions.actions[kind];
}

// Counts one Execute for as long as it lives; the outermost one of a thread fixes the stack base
// and holds the thread's pool of temporaries open.
class ExecuteLevel {
 public:
  ExecuteLevel() : state_(exec::State()) {
    if (state_.executeDepth == 0) {
      state_.stackBase = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
      exec::OpenTemporaries();
    }
    ++state_.executeDepth;
  }
  ~ExecuteLevel() {
    if (--state_.executeDepth == 0) {
      state_.stackBase = 0;
      exec::CloseTemporaries();
    }
  }
  ExecuteLevel(const ExecuteLevel&) = delete;
  ExecuteLevel& operator=(const ExecuteLevel&) = delete;
  bool Outermost() const { return state_.executeDepth == 1; }

 private:
  exec::ThreadState& state_;
};

ExecResult Run(Frame* frame, SyntaxNode* first, SyntaxNode* stopAt, Value* returnTarget,
               Value** outList, int32_t* breakCounter) {
  if (outList != nullptr) *outList = nullptr;
  if (frame == nullptr || IsStopping()) return ExecResult::Failed;
  ExecuteLevel level;
  if (exec::StackExhausted()) {
    if (frame->position == nullptr && first != nullptr) frame->position = first->position;
    ReportError(frame, kCallDepthExceeded, frame->position);
    return ExecResult::Failed;
  }
  Walk walk(frame, returnTarget, breakCounter, outList != nullptr);
  const StepHook hook = stepHook.load(std::memory_order_relaxed);
  walk.hook = hook;
  walk.stopAt = stopAt;
  walk.plain = stopAt == nullptr && outList == nullptr;
  SyntaxNode* node = first;
  while (true) {
    if (node == nullptr) {
      // The end of the chain, or of a loop body that the walk runs itself.
      if (walk.loopDepth == 0 || !BodyEnded(walk, ExecResult::Normal)) break;
      node = walk.next;
      continue;
    }
    if (node == stopAt || (frame->stopKind != 0 && node->kind == frame->stopKind)) break;
    if (hook != nullptr && !hook()) {
      walk.result = ExecResult::Failed;
      break;
    }
    frame->position = node->position;
    walk.next = node->next;
    if (!ActionFor(node->kind)(walk, node) &&
        (walk.loopDepth == 0 || walk.result == ExecResult::Failed ||
         !BodyEnded(walk, walk.result))) {
      break;
    }
    node = walk.next;
  }
  const ExecResult result = walk.result;
  if (outList != nullptr) {
    *outList = ReverseChain(walk.top);  // handed back in push order
    walk.top = nullptr;
    if (level.Outermost() && !MoveOutOfPool(outList)) {
      ReportError(frame, kAllocFailed, frame->position);
      return ExecResult::Failed;
    }
  } else if (level.Outermost()) {
    // The end of the last statement; then nothing of this thread can refer into retired lists.
    FreeValueChain(walk.top);
    walk.top = nullptr;
    exec::ApplyPending(frame);
    if (exec::State().holders == 0 && !exec::HasPending(frame)) exec::ReleaseThreadRetired();
  }
  return result;
}

}  // namespace

// A walk that starts from outside may be a new call, thread or chain: what the nodes found
// before is forgotten (the walks of blocks, loop bodies and switch bodies are nested: they stay
// in the same activation and keep it).
ExecResult Execute(Frame* frame, SyntaxNode* first, Value* returnTarget, Value** outList,
                   int32_t* breakCounter) {
  exec::ForgetLookups();
  return Run(frame, first, nullptr, returnTarget, outList, breakCounter);
}

ExecResult ExecuteUntil(Frame* frame, SyntaxNode* first, SyntaxNode* stopAt, Value** outList) {
  exec::ForgetLookups();
  return Run(frame, first, stopAt, nullptr, outList, nullptr);
}

void SetStepHook(StepHook hook) {
  stepHook.store(hook, std::memory_order_relaxed);
}

}  // namespace keytwine
