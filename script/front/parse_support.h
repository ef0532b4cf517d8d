// Internal to the front end: the parse functions that the statement parser borrows from the
// expression parser, and the helpers both share.
//
// Every parse function takes the LexerState, whose current token is the first token of the
// construct, and the tail of the chain being built (a node whose next is still null). It appends
// its nodes after the tail and returns the new tail (the old one when the construct is empty), or
// null after an error has been reported. On return the current token is the first one after the
// construct. Nodes already linked are released by the entry point of the parse; a node made but
// not yet linked is released by the function that made it.
#ifndef KEYTWINE_SCRIPT_FRONT_PARSE_SUPPORT_H
#define KEYTWINE_SCRIPT_FRONT_PARSE_SUPPORT_H

#include <cstdint>

#include "script/front/lexer.h"
#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/runtime/report_texts.h"

namespace keytwine {

// Elements separated by ',' (call arguments, list literals, expression statements, for clauses).
SyntaxNode* ParseElementList(LexerState& state, SyntaxNode* tail);
// One assignment-level expression, followed by T_POSTFIX_DONE when it holds a postfix ++/--.
SyntaxNode* ParseElement(LexerState& state, SyntaxNode* tail);
// The top of the precedence chain.
SyntaxNode* ParseAssignment(LexerState& state, SyntaxNode* tail);
// A primary with any number of [...] indexes (declared items, references).
SyntaxNode* ParseIndexLevel(LexerState& state, SyntaxNode* tail);

// Records message at the current token as the parse's error (RecordFailure, lexer.h); the entry
// point reports it once the parse is abandoned. Returns null.
SyntaxNode* ParseError(LexerState& state, const char* message);
// True when the current token is of kind; otherwise reports "Sentence error" and gives false.
bool Expect(LexerState& state, int32_t kind);
// A new node of kind at the current token; reports "Alloc failed" and returns null when memory
// runs out.
SyntaxNode* MakeNode(LexerState& state, int32_t kind);
// MakeNode, linked after tail; the new tail.
SyntaxNode* AppendNode(LexerState& state, SyntaxNode* tail, int32_t kind);
// A node of kind whose text is the current token's text lowered ('A'-'Z' only).
SyntaxNode* MakeNameNode(LexerState& state, int32_t kind);
// Links node (and whatever follows it) after tail; the last node of what was linked.
SyntaxNode* LinkAfter(SyntaxNode* tail, SyntaxNode* node);

// Counts one level of nesting for as long as it lives. Every recursion of the parser passes
// through one, so the recursion depth is bounded by kMaxNesting.
class NestingGuard {
 public:
  explicit NestingGuard(LexerState& state) : state_(state) { ++state_.nesting; }
  ~NestingGuard() { --state_.nesting; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  bool TooDeep() const { return state_.nesting > kMaxNesting; }

 private:
  LexerState& state_;
};

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_FRONT_PARSE_SUPPORT_H
