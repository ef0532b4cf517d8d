// The operators of the script language on integers, strings and lists.
//
// Integer arithmetic is 32-bit two's complement with wrap-around, computed in unsigned arithmetic
// so that no operation is undefined: INT_MIN / -1 is INT_MIN and INT_MIN % -1 is 0. A shift
// takes its count from the low 8 bits of the right operand; counts of 32 to 255 shift every bit
// out (0), so a negative count gives 0 and a count of 256 shifts by 0. `>>` is a logical shift.
//
// A binary operation on shared (script-global) data holds the VariableLock while it reads its
// operands, so another script thread cannot free a string while it is read. Errors are reported
// after the lock is released: the host's error native may block until the user answers it.
#include <cstring>
#include <utility>

#include "script/front/tokens.h"
#include "script/pattern/pattern.h"
#include "script/runtime/error.h"
#include "script/runtime/execute.h"
#include "script/runtime/executor_internal.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

// How far list comparison follows nested list literals; deeper pairs compare unequal.
constexpr int32_t kMaxCompareDepth = kMaxListDepth;

// The outcome of an operation computed under the lock: a value, or the error to report. A
// notice is reported as well but fails nothing.
struct Outcome {
  Value* value = nullptr;
  const char* error = nullptr;
  const char* notice = nullptr;
};

Outcome Integer(int32_t integer) {
  Outcome outcome;
  outcome.value = exec::NewInteger(integer);
  if (outcome.value == nullptr) outcome.error = kAllocFailed;
  return outcome;
}

Outcome Error(const char* message) {
  Outcome outcome;
  outcome.error = message;
  return outcome;
}

int32_t Wrap(uint32_t bits) {
  return static_cast<int32_t>(bits);
}
uint32_t Bits(int32_t integer) {
  return static_cast<uint32_t>(integer);
}

// --- Integers ------------------------------------------------------------------------------

int32_t ShiftLeft(int32_t value, int32_t count) {
  const uint32_t bits = Bits(count) & 255U;
  return bits < 32 ? Wrap(Bits(value) << bits) : 0;
}

int32_t ShiftRight(int32_t value, int32_t count) {
  const uint32_t bits = Bits(count) & 255U;
  return bits < 32 ? Wrap(Bits(value) >> bits) : 0;
}

// The integer code makes of l and r in *result; false for a division by zero or an operator that
// integers do not have (error tells which).
bool IntegerResult(int32_t l, int32_t r, int32_t code, int32_t* result, const char** error) {
  const auto done = [result](int32_t value) {
    *result = value;
    return true;
  };
  const auto fail = [error](const char* message) {
    *error = message;
    return false;
  };
  switch (code) {
    case T_AND:
      return done(l != 0 && r != 0 ? 1 : 0);
    case T_OR:
      return done(l != 0 || r != 0 ? 1 : 0);
    case T_LT:
      return done(l < r ? 1 : 0);
    case T_LE:
      return done(l <= r ? 1 : 0);
    case T_GT:
      return done(l > r ? 1 : 0);
    case T_GE:
      return done(l >= r ? 1 : 0);
    case T_EQ:
    case T_MATCH:
      return done(l == r ? 1 : 0);
    case T_NE:
      return done(l != r ? 1 : 0);
    case T_BITAND:
      return done(l & r);
    case T_BITOR:
      return done(l | r);
    case T_BITXOR:
      return done(l ^ r);
    case T_SHL:
      return done(ShiftLeft(l, r));
    case T_SHR:
      return done(ShiftRight(l, r));
    case T_ADD:
      return done(Wrap(Bits(l) + Bits(r)));
    case T_SUB:
      return done(Wrap(Bits(l) - Bits(r)));
    case T_MUL:
      return done(Wrap(Bits(l) * Bits(r)));
    case T_DIV:
      if (r == 0) return fail(kDivideByZero);
      return done(r == -1 ? Wrap(0U - Bits(l)) : l / r);
    case T_MOD:
      if (r == 0) return fail(kDivideByZero);
      return done(r == -1 ? 0 : l % r);
    default:
      return fail(kIllegalOperator);
  }
}

Outcome IntegerOperation(int32_t l, int32_t r, int32_t code) {
  int32_t result = 0;
  const char* error = nullptr;
  return IntegerResult(l, r, code, &result, &error) ? Integer(result) : Error(error);
}

// --- Strings -------------------------------------------------------------------------------

// subject =~ right: the pattern of a pattern literal, or right's text compiled with every
// backslash standing for itself. No frame: =~ never assigns captures. A pattern too large to
// compile is reported and matches nothing.
Outcome Match(const char* subject, const Value* right, const char* patternText) {
  const CompiledPattern* pattern = right->pattern;
  CompiledPattern* compiled = nullptr;
  PatternFailure failure = kPatternCompiled;
  if (pattern == nullptr) {
    Owned<char> doubled = DoubleBackslashes(patternText);
    if (doubled == nullptr) return Error(kAllocFailed);
    compiled = CompilePattern(doubled.get(), &failure);
    pattern = compiled;
  }
  const int32_t matched = pattern != nullptr ? MatchPattern(nullptr, pattern, subject) : 0;
  FreePattern(compiled);
  if (failure == kPatternOutOfMemory || matched < 0) return Error(kAllocFailed);
  Outcome outcome = Integer(matched);
  if (failure == kPatternOverLimit) outcome.notice = kPatternTooLarge;
  return outcome;
}

Outcome StringOperation(const Value* left, const Value* right, int32_t code) {
  NumberText leftNumber;
  NumberText rightNumber;
  const char* l = ToText(left->data, leftNumber);
  const char* r = ToText(right->data, rightNumber);
  switch (code) {
    case T_AND:
      return Integer(IsTrue(left->data) && IsTrue(right->data) ? 1 : 0);
    case T_OR:
      return Integer(IsTrue(left->data) || IsTrue(right->data) ? 1 : 0);
    case T_EQ:
      return Integer(std::strcmp(l, r) == 0 ? 1 : 0);
    case T_NE:
      return Integer(std::strcmp(l, r) != 0 ? 1 : 0);
    case T_MATCH:
      return Match(l, right, r);
    case T_ADD: {
      Owned<char> joined = Concat(l, r);
      if (joined == nullptr) return Error(kAllocFailed);
      Outcome outcome;
      outcome.value = exec::NewText(std::move(joined));
      if (outcome.value == nullptr) outcome.error = kAllocFailed;
      return outcome;
    }
    default:
      return Error(kIllegalToString);
  }
}

// --- Lists ---------------------------------------------------------------------------------

bool ValuesEqual(const Value* a, const Value* b, int32_t depth);

// Element by element, names not compared; equal when every pair is and both end together.
bool ListsEqual(const Value* a, const Value* b, int32_t depth) {
  if (depth > kMaxCompareDepth) return false;
  const Value* x = exec::ListOf(a);
  const Value* y = exec::ListOf(b);
  for (; x != nullptr && y != nullptr; x = x->next, y = y->next) {
    if (!ValuesEqual(x, y, depth + 1)) return false;
  }
  return x == nullptr && y == nullptr;
}

bool ScalarsEqual(const Value* a, const Value* b) {
  if (a->data == nullptr || b->data == nullptr) return a->data == b->data;
  if (a->data->type == kTypeInteger && b->data->type == kTypeInteger) {
    return a->data->integer == b->data->integer;
  }
  NumberText aNumber;
  NumberText bNumber;
  return std::strcmp(ToText(a->data, aNumber), ToText(b->data, bNumber)) == 0;
}

// The binary == on two values: lists when either stands for its list, else integers, else text.
// Elements of compared lists (depth > 1) are equal only when their own lists are too: a copied
// list keeps its nested lists but not the mark that an element stands for its list.
bool ValuesEqual(const Value* a, const Value* b, int32_t depth) {
  if (a->wholeList != 0 || b->wholeList != 0) return ListsEqual(a, b, depth);
  const bool nested = depth > 1 && (exec::ListOf(a) != nullptr || exec::ListOf(b) != nullptr);
  return ScalarsEqual(a, b) && (!nested || ListsEqual(a, b, depth));
}

// left + right: a new list of copies of both element lists, within kMaxListElements.
Outcome JoinLists(const Value* left, const Value* right) {
  const int64_t length = int64_t{CountList(exec::ListOf(left))} + CountList(exec::ListOf(right));
  if (length > kMaxListElements) return Error(kListTooLong);
  Value* first = nullptr;
  Value* second = nullptr;
  if (!CopyValueChain(exec::ListOf(left), &first)) return Error(kAllocFailed);
  if (!CopyValueChain(exec::ListOf(right), &second)) {
    FreeValueChain(first);
    return Error(kAllocFailed);
  }
  Outcome outcome;
  outcome.value = exec::NewTemporary();
  if (outcome.value == nullptr) {
    FreeValueChain(first);
    FreeValueChain(second);
    return Error(kAllocFailed);
  }
  Value** end = &first;
  while (*end != nullptr) end = &(*end)->next;
  *end = second;
  outcome.value->elements = first;
  outcome.value->wholeList = 1;
  return outcome;
}

Outcome ListOperation(const Value* left, const Value* right, int32_t code) {
  switch (code) {
    case T_EQ:
      return Integer(ListsEqual(left, right, 1) ? 1 : 0);
    case T_NE:
      return Integer(ListsEqual(left, right, 1) ? 0 : 1);
    case T_ADD:
      return JoinLists(left, right);
    default:
      return Error(kIllegalToHash);
  }
}

// --- Unary ---------------------------------------------------------------------------------

// A postfix operator changes nothing now: the variable is queued for the frame's next
// T_POSTFIX_DONE, and the result is a temporary holding the old value. (Were the result the
// variable's own entry, it would show the new value once the queue is applied, as in f(a++),
// where the argument list applies it before the call.) On a temporary it does nothing at all.
Value* Postfix(Frame* frame, Value* operand, int32_t code) {
  if (!exec::IsAlias(operand) || frame == nullptr) return operand;
  ValuePtr old(exec::NewTemporary());
  // Queued on the frame, which this thread applies or leaves: a pool entry will do.
  Value* alias = exec::NewTemporaryAlias(operand);
  if (old == nullptr || alias == nullptr) {
    FreeValue(alias);
    ReportError(frame, kAllocFailed, frame->position);
    return nullptr;
  }
  if (!AssignData(frame, old->data, operand->data)) {  // reported
    FreeValue(alias);
    return nullptr;
  }
  Value** queue = code == T_POSTINC ? &frame->pendingIncrements : &frame->pendingDecrements;
  alias->next = *queue;
  *queue = alias;
  return old.release();
}

int32_t PlainUnary(int32_t integer, int32_t code) {
  switch (code) {
    case T_NOT:
      return integer == 0 ? 1 : 0;
    case T_BITNOT:
      return ~integer;
    case T_MINUS:
      return Wrap(0U - Bits(integer));
    default:  // T_PLUS
      return integer;
  }
}

}  // namespace

namespace exec {

bool AnyIntegerOperands(int32_t l, int32_t r, int32_t code, int32_t* result) {
  const char* error = nullptr;
  return IntegerResult(l, r, code, result, &error);
}

}  // namespace exec

Value* UnaryOperation(Frame* frame, Value* operand, int32_t code) {
  const char* position = frame != nullptr ? frame->position : nullptr;
  if (operand == nullptr || operand->data == nullptr) {
    ReportError(frame, kSentenceError, position);
    return nullptr;
  }
  int32_t result = 0;
  switch (code) {
    case T_POSTINC:
    case T_POSTDEC:
      return Postfix(frame, operand, code);
    case T_PREINC:
    case T_PREDEC:
      result = exec::AddToData(frame, operand->data, code == T_PREINC ? 1 : -1);
      break;
    case T_NOT:
    case T_BITNOT:
    case T_PLUS:
    case T_MINUS:
      result = PlainUnary(exec::IntegerOf(frame, operand), code);
      break;
    default:
      ReportError(frame, kIllegalOperator, position);
      return nullptr;
  }
  Value* value = exec::NewInteger(result);
  if (value == nullptr) ReportError(frame, kAllocFailed, position);
  return value;
}

Value* BinaryOperation(Frame* frame, const Value* left, const Value* right, int32_t code) {
  const char* position = frame != nullptr ? frame->position : nullptr;
  if (left == nullptr || right == nullptr || left->data == nullptr || right->data == nullptr) {
    ReportError(frame, kSentenceError, position);
    return nullptr;
  }
  Outcome outcome;
  {
    exec::SharedLock lock(frame, exec::IsShared(left) || exec::IsShared(right));
    if (left->wholeList != 0 || right->wholeList != 0) {
      outcome = ListOperation(left, right, code);
    } else if (left->data->type == kTypeInteger && right->data->type == kTypeInteger) {
      outcome = IntegerOperation(left->data->integer, right->data->integer, code);
    } else {
      outcome = StringOperation(left, right, code);
    }
  }
  if (outcome.notice != nullptr) ReportError(frame, outcome.notice, position);
  if (outcome.error != nullptr) {
    FreeValue(outcome.value);
    ReportError(frame, outcome.error, position);
    return nullptr;
  }
  return outcome.value;
}

}  // namespace keytwine
