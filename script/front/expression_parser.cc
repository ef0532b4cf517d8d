// The expression parser: recursive descent over the precedence levels, building runs of nodes in
// postfix order. From the loosest binding to the tightest:
//
//   1 assignment  =                     right   4 |       7 == =~ !=     10 + -
//   2 logical or  ||                    left    5 ^       8 < <= > >=    11 * / %
//   3 logical and &&                    left    6 &       9 << >>
//   12 unary: prefix ! ~ + - ++ --, postfix ++ --;  13 index: a[i];  14 primary.
//
// Operands may be empty: where an operand cannot begin (';', ',', ')', a keyword, the end), it
// contributes no nodes and the runtime deals with the missing value. Most other malformed input
// is stopped by the lexer, which refuses operands where an operator is expected and the reverse.
#include "script/front/parse_support.h"
#include "script/front/parser.h"
#include "script/pattern/pattern.h"
#include "script/port/port.h"
#include "script/runtime/error.h"
#include "script/text/text.h"

namespace keytwine {

// --- Shared helpers ------------------------------------------------------------------------

SyntaxNode* ParseError(LexerState& state, const char* message) {
  RecordFailure(state, message);
  return nullptr;
}

SyntaxNode* MakeNode(LexerState& state, int32_t kind) {
  SyntaxNode* node = NewNode(kind, state.tokenStart);
  if (node == nullptr) ParseError(state, kAllocFailed);
  return node;
}

bool Expect(LexerState& state, int32_t kind) {
  if (state.kind == kind) return true;
  ParseError(state, kSentenceError);
  return false;
}

SyntaxNode* LinkAfter(SyntaxNode* tail, SyntaxNode* node) {
  tail->next = node;
  while (tail->next != nullptr) tail = tail->next;
  return tail;
}

SyntaxNode* AppendNode(LexerState& state, SyntaxNode* tail, int32_t kind) {
  SyntaxNode* node = MakeNode(state, kind);
  if (node == nullptr) return nullptr;
  tail->next = node;
  return node;
}

SyntaxNode* MakeNameNode(LexerState& state, int32_t kind) {
  ChainPtr node(MakeNode(state, kind));
  if (node == nullptr) return nullptr;
  node->text = DuplicateN(state.tokenStart, TokenLength(state) + 1).release();
  if (node->text == nullptr) return ParseError(state, kAllocFailed);
  LowerInPlace(node->text);
  node->nameHash = ComputeNameHash(node->text[0] == '&' ? node->text + 1 : node->text);
  return node.release();
}

namespace {

constexpr int32_t kLoosestBinaryLevel = 2;

// Precedence level of a binary operator (2 loosest to 11 tightest); 0 for any other kind.
int32_t BinaryLevel(int32_t kind) {
  switch (kind) {
    case T_OR:
      return 2;
    case T_AND:
      return 3;
    case T_BITOR:
      return 4;
    case T_BITXOR:
      return 5;
    case T_BITAND:
      return 6;
    case T_EQ:
    case T_MATCH:
    case T_NE:
      return 7;
    case T_LT:
    case T_LE:
    case T_GT:
    case T_GE:
      return 8;
    case T_SHL:
    case T_SHR:
      return 9;
    case T_ADD:
    case T_SUB:
      return 10;
    case T_MUL:
    case T_DIV:
    case T_MOD:
      return 11;
    default:
      return 0;
  }
}

bool IsPrefixOperator(int32_t kind) {
  return kind >= T_NOT && kind <= T_PREDEC;
}
bool IsPostfixOperator(int32_t kind) {
  return kind == T_POSTINC || kind == T_POSTDEC;
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Value of a number token: "0x..." hexadecimal, "0..." octal, otherwise the leading decimal
// digits. All three wrap around in 32 bits; there are no fractions ("1.9" is 1, ".5" is 0).
int32_t NumberValue(const char* text, const char* end) {
  if (text[0] == '0' && end - text > 1) {
    if (text[1] == 'x' || text[1] == 'X') return static_cast<int32_t>(ParseHex(text + 2));
    return static_cast<int32_t>(ParseOctal(text + 1));
  }
  uint32_t value = 0;
  for (const char* p = text; p < end && IsDigit(*p); ++p) {
    value = value * 10 + static_cast<uint32_t>(*p - '0');
  }
  return static_cast<int32_t>(value);
}

SyntaxNode* ParseNumber(LexerState& state, SyntaxNode* tail) {
  SyntaxNode* node = AppendNode(state, tail, T_NUMBER);
  if (node == nullptr) return nullptr;
  node->number = NumberValue(state.tokenStart, state.position);
  return ScanToken(state) != 0 ? node : nullptr;
}

// A pattern too large to compile is reported here, once, and stands as a pattern that never
// matches: its captures still become "" at each use. False after "Alloc failed".
bool CompilePatternLiteral(LexerState& state, SyntaxNode* node) {
  PatternFailure failure = kPatternCompiled;
  node->kind = T_PATTERN;
  node->pattern = CompilePattern(node->text, &failure);
  if (failure == kPatternOverLimit) {
    ReportError(state.context, kPatternTooLarge, node->position);
    node->pattern = UnmatchablePattern(node->text);
  }
  if (node->pattern != nullptr) return true;
  ParseError(state, kAllocFailed);
  return false;
}

// A string literal keeps the raw bytes between its quotes. It is a pattern literal, compiled now,
// when it is a declared item (an argmatch pattern parameter among them) or stands right before
// '=' (a pattern that binds its captures from the assigned value).
SyntaxNode* ParseString(LexerState& state, SyntaxNode* tail) {
  SyntaxNode* node = AppendNode(state, tail, T_STRING);
  if (node == nullptr) return nullptr;
  node->text = DuplicateN(state.tokenStart + 1, TokenLength(state) - 1).release();
  if (node->text == nullptr) return ParseError(state, kAllocFailed);
  if (ScanToken(state) == 0) return nullptr;
  const bool isPattern = state.declarationMode != 0 || state.kind == T_ASSIGN;
  if (isPattern && !CompilePatternLiteral(state, node)) return nullptr;
  return node;
}

// A name is a declaration while a declaration list is parsed, and while the runtime binds
// parameters or matches an argmatch pattern (so %name% captures parsed then are declared in the
// called function's frame).
SyntaxNode* ParseName(LexerState& state, SyntaxNode* tail) {
  const bool declare =
      state.declarationMode != 0 || (state.context != nullptr && state.context->declareNames != 0);
  SyntaxNode* node = MakeNameNode(state, declare ? T_DECLARE : T_VARIABLE);
  if (node == nullptr) return nullptr;
  tail->next = node;
  return ScanToken(state) != 0 ? node : nullptr;
}

// f(a, b): T_CALL_BEGIN, a, T_COMMA, b, T_CALL named f.
SyntaxNode* ParseCall(LexerState& state, SyntaxNode* tail) {
  NestingGuard guard(state);
  if (guard.TooDeep()) return ParseError(state, kNestingTooDeep);
  tail = AppendNode(state, tail, T_CALL_BEGIN);
  if (tail == nullptr) return nullptr;
  ChainPtr call(MakeNameNode(state, T_CALL));
  if (call == nullptr || ScanToken(state) == 0) return nullptr;
  if (!Expect(state, T_LPAREN) || ScanToken(state) == 0) return nullptr;
  tail = ParseElementList(state, tail);
  if (tail == nullptr || !Expect(state, T_RPAREN) || ScanToken(state) == 0) {
    return nullptr;
  }
  return LinkAfter(tail, call.release());
}

// Parentheses make no node; a comma inside them is an error.
SyntaxNode* ParseParenthesised(LexerState& state, SyntaxNode* tail) {
  NestingGuard guard(state);
  if (guard.TooDeep()) return ParseError(state, kNestingTooDeep);
  if (ScanToken(state) == 0) return nullptr;
  tail = ParseAssignment(state, tail);
  if (tail == nullptr || !Expect(state, T_RPAREN) || ScanToken(state) == 0) {
    return nullptr;
  }
  return tail;
}

// {1, 2}: T_LBRACE whose child chain holds the elements.
SyntaxNode* ParseListLiteral(LexerState& state, SyntaxNode* tail) {
  NestingGuard guard(state);
  if (guard.TooDeep()) return ParseError(state, kNestingTooDeep);
  SyntaxNode* list = AppendNode(state, tail, T_LBRACE);
  if (list == nullptr || ScanToken(state) == 0) return nullptr;
  SyntaxNode anchor{};
  SyntaxNode* last = ParseElementList(state, &anchor);
  list->child = anchor.next;  // released with the chain, also after a failure
  if (last == nullptr || !Expect(state, T_RBRACE) || ScanToken(state) == 0) {
    return nullptr;
  }
  return list;
}

SyntaxNode* ParsePrimary(LexerState& state, SyntaxNode* tail) {
  switch (state.kind) {
    case T_NUMBER:
      return ParseNumber(state, tail);
    case T_STRING:
      return ParseString(state, tail);
    case T_VARIABLE:
      return ParseName(state, tail);
    case T_CALL:
      return ParseCall(state, tail);
    case T_LPAREN:
      return ParseParenthesised(state, tail);
    case T_LBRACE:
      return ParseListLiteral(state, tail);
    default:
      return tail;  // an empty operand; the token is left for the caller
  }
}

// Prefix operators nest to the right: -a++ gives a, T_POSTINC, T_MINUS. A postfix operator is
// appended right after its operand and marks the element as needing a T_POSTFIX_DONE.
SyntaxNode* ParseUnary(LexerState& state, SyntaxNode* tail) {
  tail = ParseIndexLevel(state, tail);
  while (tail != nullptr && (IsPrefixOperator(state.kind) || IsPostfixOperator(state.kind))) {
    NestingGuard guard(state);
    if (guard.TooDeep()) return ParseError(state, kNestingTooDeep);
    ChainPtr op(MakeNode(state, state.kind));
    if (op == nullptr) return nullptr;
    if (IsPrefixOperator(op->kind)) {
      if (ScanToken(state) == 0) return nullptr;
      tail = ParseUnary(state, tail);
      if (tail != nullptr) tail = LinkAfter(tail, op.release());
    } else {
      state.postfixPending = 1;
      tail = LinkAfter(tail, op.release());
      if (ScanToken(state) == 0) return nullptr;
      tail = ParseUnary(state, tail);
    }
  }
  return tail;
}

// Levels 2 to 11 by precedence climbing: the right operand of an operator takes only operators
// that bind tighter, so every level is left-associative and the recursion is at most as deep as
// the number of levels.
SyntaxNode* ParseBinary(LexerState& state, SyntaxNode* tail, int32_t lowestLevel) {
  tail = ParseUnary(state, tail);
  while (tail != nullptr) {
    const int32_t level = BinaryLevel(state.kind);
    if (level == 0 || level < lowestLevel) return tail;
    ChainPtr op(MakeNode(state, state.kind));
    if (op == nullptr || ScanToken(state) == 0) return nullptr;
    tail = ParseBinary(state, tail, level + 1);
    if (tail != nullptr) tail = LinkAfter(tail, op.release());
  }
  return nullptr;
}

}  // namespace

// The stack entries the right side of `name = ...` (the nodes after name up to assign) leaves
// above name's entry, or -1 when that is not known from its nodes alone or when an operator of it
// could reach name's entry (an empty operand: `x = * 2`). Entries above a call's marker cannot
// reach below it.
int32_t RightSideDepth(const SyntaxNode* name, const SyntaxNode* assign) {
  int32_t depth = 0;
  int32_t openCalls = 0;
  int32_t depthAtCall = 0;
  for (const SyntaxNode* node = name->next; node != assign; node = node->next) {
    if (node == nullptr) return -1;
    const int32_t kind = node->kind;
    const bool atBase = openCalls == 0;
    if (kind == T_NUMBER || kind == T_STRING || kind == T_VARIABLE || kind == T_LBRACE) {
      ++depth;
    } else if (kind == T_CALL_BEGIN) {
      if (openCalls++ == 0) depthAtCall = depth;
    } else if (kind == T_CALL) {
      if (atBase) return -1;
      if (--openCalls == 0) depth = depthAtCall + 1;
    } else if (kind == T_COMMA || kind == T_POSTFIX_DONE) {
      if (atBase && kind == T_COMMA) return -1;
    } else if ((kind >= T_ASSIGN && kind <= T_MOD) || kind == T_INDEX) {
      if (atBase && depth-- < 2) return -1;
    } else if (kind >= T_NOT && kind <= T_POSTDEC) {
      if (atBase && depth < 1) return -1;
    } else {
      return -1;
    }
  }
  return openCalls == 0 ? depth : -1;
}

// x = y = 1 gives x, y, 1, T_ASSIGN, T_ASSIGN: the operands in order, then the operators from the
// innermost out. The '=' nodes wait on a list of their own, innermost first, so a long chain of
// assignments costs no stack.
SyntaxNode* ParseAssignment(LexerState& state, SyntaxNode* tail) {
  SyntaxNode* before = tail;
  tail = ParseBinary(state, tail, kLoosestBinaryLevel);
  SyntaxNode* name =
      tail != nullptr && tail == before->next && tail->kind == T_VARIABLE ? tail : nullptr;
  ChainPtr pending;
  while (tail != nullptr && state.kind == T_ASSIGN) {
    SyntaxNode* op = MakeNode(state, T_ASSIGN);
    if (op == nullptr) return nullptr;
    op->next = pending.release();
    pending.reset(op);
    if (ScanToken(state) == 0) return nullptr;
    tail = ParseBinary(state, tail, kLoosestBinaryLevel);
  }
  if (tail == nullptr) return nullptr;
  if (pending == nullptr) return tail;
  SyntaxNode* assign = pending.get();
  tail = LinkAfter(tail, pending.release());
  if (name != nullptr && assign->next == nullptr && RightSideDepth(name, assign) == 1) {
    name->target = assign;
  }
  return tail;
}

// a[i] gives a, i, T_INDEX; a[] gives a, an empty T_STRING, T_INDEX.
SyntaxNode* ParseIndexLevel(LexerState& state, SyntaxNode* tail) {
  tail = ParsePrimary(state, tail);
  while (tail != nullptr && state.kind == T_LBRACKET) {
    NestingGuard guard(state);
    if (guard.TooDeep()) return ParseError(state, kNestingTooDeep);
    ChainPtr index(MakeNode(state, T_INDEX));
    if (index == nullptr || ScanToken(state) == 0) return nullptr;
    if (state.kind == T_RBRACKET) {
      tail = AppendNode(state, tail, T_STRING);
      if (tail == nullptr) return nullptr;
      tail->text = static_cast<char*>(port::AllocZero(1));
      if (tail->text == nullptr) return ParseError(state, kAllocFailed);
    } else {
      tail = ParseAssignment(state, tail);
      if (tail == nullptr || !Expect(state, T_RBRACKET)) return nullptr;
    }
    tail = LinkAfter(tail, index.release());
    if (ScanToken(state) == 0) return nullptr;
    tail = ParsePrimary(state, tail);  // finds nothing: an operator is expected after ']'
  }
  return tail;
}

SyntaxNode* ParseElement(LexerState& state, SyntaxNode* tail) {
  tail = ParseAssignment(state, tail);
  if (tail == nullptr || state.postfixPending == 0) return tail;
  state.postfixPending = 0;
  return AppendNode(state, tail, T_POSTFIX_DONE);
}

SyntaxNode* ParseElementList(LexerState& state, SyntaxNode* tail) {
  // A postfix ++ or -- of the enclosing element, parsed before this list (a++ + f(1)), belongs
  // to that element: its T_POSTFIX_DONE must not land after an element of this list.
  const int32_t outerPending = state.postfixPending;
  state.postfixPending = 0;
  tail = ParseElement(state, tail);
  while (tail != nullptr && state.kind == T_COMMA) {
    tail = AppendNode(state, tail, T_COMMA);
    if (tail == nullptr || ScanToken(state) == 0) return nullptr;
    tail = ParseElement(state, tail);
  }
  state.postfixPending = outerPending;
  return tail;
}

SyntaxNode* ParseReference(Frame* context, const char* text) {
  if (text == nullptr) return nullptr;
  LexerState state = StartLexer(context, text, 1);
  if (ScanToken(state) == 0) {
    ReportFailure(state);
    return nullptr;
  }
  SyntaxNode anchor{};
  SyntaxNode* tail = ParseIndexLevel(state, &anchor);
  if (tail == nullptr || state.kind != T_END) {
    ReleaseChain(anchor.next);
    ReportFailure(state);
    return nullptr;
  }
  return anchor.next;
}

}  // namespace keytwine
