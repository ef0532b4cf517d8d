// The executor: runs a chain of syntax nodes (script/front/syntax.h) in a Frame with a private
// evaluation stack, and the operations it is built from: the unary and binary operators, the
// building of string literals with %reference% interpolation, and the evaluation of capture
// targets that the pattern matcher and string building share.
//
// Every failure is reported once through ReportError where it is detected; the executor then
// returns ExecResult::Failed and every caller passes the failure outward.
#ifndef KEYTWINE_SCRIPT_RUNTIME_EXECUTE_H
#define KEYTWINE_SCRIPT_RUNTIME_EXECUTE_H

#include <cstddef>
#include <cstdint>

#include "script/port/port.h"
#include "script/runtime/engine.h"
#include "script/runtime/report_texts.h"

namespace keytwine {

struct SyntaxNode;
struct CompiledPattern;

// What a walk of a chain ended with.
enum class ExecResult : int32_t {
  Normal = 0,
  Break = 1,
  Continue = 2,
  Failed = -1,    // an error was reported, or the runtime is stopping
  Returned = -2,  // return or resume
  Exited = -3,    // exit
};

// Script function calls one thread may have in progress at once. Each level costs one Execute
// for the body plus the call machinery; measured at about 1.5 KB of stack per level in the
// debug (ASan) build and 0.45 KB in the release build for a plain recursive function, so 200
// levels stay well inside kExecutorStackBudget.
inline constexpr int32_t kMaxCallDepth = 200;
// Stack that one thread's executor may use below its outermost Execute. Whatever the path of the
// recursion (calls, nested blocks, loop bodies, string references, pattern captures), a walk that
// would start deeper fails with kCallDepthExceeded (report_texts.h). Half of a 1 MB thread stack:
// the rest is left for the run-time parser, the pattern matcher and the host's error native below
// the deepest walk.
inline constexpr size_t kExecutorStackBudget = 512 * 1024;

// Runs the chain from first (null: nothing) in frame.
// - returnTarget receives the value of return, resume and exit (data, a copy of the list, and the
//   wholeList mark);
// - with outList, the values left on the stack at the end are handed back there in push order
//   (the caller owns them), and variable references and assignments name their entries;
//   without it they are freed;
// - breakCounter is set by `break n` and counted down by the loops and switches it leaves.
ExecResult Execute(Frame* frame, SyntaxNode* first, Value* returnTarget = nullptr,
                   Value** outList = nullptr, int32_t* breakCounter = nullptr);

// As Execute, but the walk also ends (Normal) when it reaches stopAt, which is not acted on.
ExecResult ExecuteUntil(Frame* frame, SyntaxNode* first, SyntaxNode* stopAt,
                        Value** outList = nullptr);

// --- Operators -----------------------------------------------------------------------------
// Operator codes are the node kinds T_AND..T_MOD (binary) and T_NOT..T_POSTDEC (unary).

// The unary operator code applied to operand: a new temporary, or null after a report. A postfix
// operator on a variable queues the variable on frame's pending list and yields its old value;
// on a temporary it yields the operand itself.
Value* UnaryOperation(Frame* frame, Value* operand, int32_t code);
// The binary operator code applied to left and right: a new temporary, or null after a report.
Value* BinaryOperation(Frame* frame, const Value* left, const Value* right, int32_t code);

// --- Strings and captures ------------------------------------------------------------------

// The text of a string literal: escapes replaced, %% made one %, and each %reference% replaced
// by the string form of its value. Each reference is evaluated exactly once, left to right, and
// its text taken at once, so a later reference that changes an earlier one's variable does not
// change what was built. Null after a report.
port::Owned<char> BuildString(Frame* frame, const char* literal);

// Evaluates the reference between the '%' at target and the next '%' (or the end of the text) in
// frame: a variable with any number of indexes, or another primary. Returns the first value it
// leaves (an alias when it names a variable), owned by the caller; null after a report.
Value* ResolveCaptureTarget(Frame* frame, const char* target);

// MatchPattern with frame's capture assignment: every %name% capture of pattern is evaluated
// with ResolveCaptureTarget and receives its text. Without a frame no capture is assigned.
// Returns 1 or 0, or -1 after reporting "Alloc failed" (the captures are then "").
int32_t MatchAndAssign(Frame* frame, const CompiledPattern* pattern, const char* text);

// --- Run-time housekeeping -----------------------------------------------------------------

// Element lists that a whole-list assignment replaces are not freed at once while an enclosing
// expression, call or string might still refer into them; each thread frees its own at the next
// statement boundary where nothing can. Lists replaced in script-global (shared) data may be
// referred to by other script threads as well; they are kept until this is called, which the
// engine's life cycle does once no script activity is left.
void ReleaseRetiredLists();

// Test support: when set, the hook is asked before every node the executor acts on and before
// every loop iteration it repeats without acting on the loop's nodes; false makes the walk fail
// as if the runtime were stopping (no report). Fuzzing uses it as a step budget.
using StepHook = bool (*)();
void SetStepHook(StepHook hook);

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_RUNTIME_EXECUTE_H
