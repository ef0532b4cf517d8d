// The lexer: cuts NUL-terminated script text into tokens, one at a time, on demand of the parser.
// It keeps no token list: the current token is (kind, tokenStart, position) in the LexerState.
//
// The operand-expected flag shapes the language: the same character gives different tokens, or an
// error, depending on whether an operand or an operator comes next. That is how prefix and postfix
// `++`, unary and binary `+`/`-`, `!` and `!=`, and a `&` reference prefix and the `&` operator are
// told apart, and it rejects most malformed expressions before the parser sees them.
#ifndef KEYTWINE_SCRIPT_FRONT_LEXER_H
#define KEYTWINE_SCRIPT_FRONT_LEXER_H

#include <cstdint>

#include "script/front/tokens.h"
#include "script/runtime/engine.h"

namespace keytwine {

// State of one parse: a whole script, or one variable reference at run time.
struct LexerState {
  Frame* context;           // error reports; its script receives function definitions
  int32_t kind;             // TokenKind of the current token
  int32_t depth;            // statement nesting depth (statement parser)
  const char* tokenStart;   // first byte of the current token; where errors point
  const char* position;     // first byte after the current token; the next scan starts here
  int32_t operandExpected;  // 1 when the next token should begin an operand
  int32_t declarationMode;  // 1 while the declaration-list parser parses one declared item
  int32_t postfixPending;   // 1 after a postfix ++/-- until its element expression is finished
  int32_t nesting;          // current nesting level, bounded by kMaxNesting (parser.h)
  // The first error of the parser proper, reported by its entry point once everything built is
  // released (the report itself may need memory, and the abandoned nodes hold plenty of it).
  // Null message: none yet. The scan reports its own errors at once.
  const char* failure;
  const char* failureAt;
};

// Records message at the current token as the parse's error unless one is recorded already.
void RecordFailure(LexerState& state, const char* message);
// Reports the recorded error, if any, through the state's context.
void ReportFailure(const LexerState& state);

// A fresh state on text: no token yet, an operand expected.
LexerState StartLexer(Frame* context, const char* text, int32_t depth);

// Skips blanks and comments and recognises one token: sets kind, tokenStart and position and,
// as the token asks, operandExpected. Returns 1, or reports "Sentence error", "Parenthesis error"
// through ReportError at the token and returns 0 (the parse is then abandoned).
int32_t ScanToken(LexerState& state);

// Length in bytes of the current token.
inline int32_t TokenLength(const LexerState& state) {
  return static_cast<int32_t>(state.position - state.tokenStart);
}

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_FRONT_LEXER_H
