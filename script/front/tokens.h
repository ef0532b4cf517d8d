// Token and syntax-node kinds. One code space serves both: the lexer produces some of the codes as
// tokens, the parser turns most of those into nodes of the same code and adds parser-made kinds
// (T_POSTFIX_DONE, T_PATTERN, T_DECLARE, T_INDEX, T_CALL_BEGIN, T_FUNCTION_END, T_JUMP, T_TEST,
// T_IF_END, T_LOOP_BODY, T_LOOP_HEAD, T_LOOP_END, T_DO_COND). The numbers are fixed: the runtime
// dispatches on them and operator codes double as the runtime's operator codes.
#ifndef KEYTWINE_SCRIPT_FRONT_TOKENS_H
#define KEYTWINE_SCRIPT_FRONT_TOKENS_H

#include <cstdint>

namespace keytwine {

enum TokenKind : int32_t {
  T_END = 1,            // end of text; token only
  T_UNUSED = 2,         // reserved; neither a token nor a node
  T_SEMICOLON = 3,      // ;
  T_COLON = 4,          // :
  T_COMMA = 5,          // ,
  T_LBRACE = 6,         // { block statement or list literal
  T_RBRACE = 7,         // }
  T_LPAREN = 8,         // (
  T_RPAREN = 9,         // )
  T_LBRACKET = 10,      // [
  T_RBRACKET = 11,      // ]
  T_ASSIGN = 12,        // =
  T_AND = 13,           // &&
  T_OR = 14,            // ||
  T_LT = 15,            // <
  T_LE = 16,            // <=
  T_GT = 17,            // >
  T_GE = 18,            // >=
  T_EQ = 19,            // ==
  T_MATCH = 20,         // =~
  T_NE = 21,            // !=
  T_BITAND = 22,        // &
  T_BITOR = 23,         // |
  T_BITXOR = 24,        // ^
  T_SHL = 25,           // <<
  T_SHR = 26,           // >>
  T_ADD = 27,           // + (binary)
  T_SUB = 28,           // - (binary)
  T_MUL = 29,           // *
  T_DIV = 30,           // /
  T_MOD = 31,           // %
  T_NOT = 32,           // !
  T_BITNOT = 33,        // ~
  T_PLUS = 34,          // + (prefix)
  T_MINUS = 35,         // - (prefix)
  T_PREINC = 36,        // ++ (prefix)
  T_PREDEC = 37,        // -- (prefix)
  T_POSTINC = 38,       // ++ (postfix)
  T_POSTDEC = 39,       // -- (postfix)
  T_DIRECTIVE = 40,     // #
  T_POSTFIX_DONE = 41,  // applies pending postfix increments and decrements
  T_NUMBER = 42,        // number literal
  T_STRING = 43,        // string literal
  T_PATTERN = 44,       // pattern literal, compiled at parse time
  T_DECLARE = 45,       // declared name
  T_VARIABLE = 46,      // name
  T_INDEX = 47,         // [...]
  T_FUNCTION = 48,      // function
  T_ARGMATCH = 49,      // argmatch
  T_CALL_BEGIN = 50,    // opens the arguments of a call
  T_CALL = 51,          // name followed by (
  T_FUNCTION_END = 52,  // closes a definition
  T_VAR = 53,           // var
  T_IF = 54,            // if
  T_ELSE = 55,          // else; also the marker at the start of the else part
  T_FOR = 56,           // for
  T_WHILE = 57,         // while
  T_DO = 58,            // do
  T_BREAK = 59,         // break
  T_CONTINUE = 60,      // continue
  T_SWITCH = 61,        // switch
  T_CASE = 62,          // case
  T_DEFAULT = 63,       // default
  T_RETURN = 64,        // return, resume
  T_EXIT = 65,          // exit
  T_JUMP = 66,          // continue after the target marker
  T_TEST = 67,          // skips the next node when the condition holds (or is missing)
  T_IF_END = 68,        // end of an if statement
  T_LOOP_BODY = 69,     // runs the loop body (its child) while the condition holds
  T_LOOP_HEAD = 70,     // loop start, target of the backward jump
  T_LOOP_END = 71,      // loop end, target of the exit jump
  T_DO_COND = 72,       // between the body and the condition of a do loop
};

inline constexpr int32_t kFirstTokenKind = T_END;
inline constexpr int32_t kLastTokenKind = T_DO_COND;

// Names of the kinds, indexed by code; index 0 is no kind.
inline constexpr const char* kTokenNames[kLastTokenKind + 1] = {
    "T_NONE",     "T_END",      "T_UNUSED",     "T_SEMICOLON", "T_COLON",        "T_COMMA",
    "T_LBRACE",   "T_RBRACE",   "T_LPAREN",     "T_RPAREN",    "T_LBRACKET",     "T_RBRACKET",
    "T_ASSIGN",   "T_AND",      "T_OR",         "T_LT",        "T_LE",           "T_GT",
    "T_GE",       "T_EQ",       "T_MATCH",      "T_NE",        "T_BITAND",       "T_BITOR",
    "T_BITXOR",   "T_SHL",      "T_SHR",        "T_ADD",       "T_SUB",          "T_MUL",
    "T_DIV",      "T_MOD",      "T_NOT",        "T_BITNOT",    "T_PLUS",         "T_MINUS",
    "T_PREINC",   "T_PREDEC",   "T_POSTINC",    "T_POSTDEC",   "T_DIRECTIVE",    "T_POSTFIX_DONE",
    "T_NUMBER",   "T_STRING",   "T_PATTERN",    "T_DECLARE",   "T_VARIABLE",     "T_INDEX",
    "T_FUNCTION", "T_ARGMATCH", "T_CALL_BEGIN", "T_CALL",      "T_FUNCTION_END", "T_VAR",
    "T_IF",       "T_ELSE",     "T_FOR",        "T_WHILE",     "T_DO",           "T_BREAK",
    "T_CONTINUE", "T_SWITCH",   "T_CASE",       "T_DEFAULT",   "T_RETURN",       "T_EXIT",
    "T_JUMP",     "T_TEST",     "T_IF_END",     "T_LOOP_BODY", "T_LOOP_HEAD",    "T_LOOP_END",
    "T_DO_COND",
};

// Name of a kind; "T_?" for a code outside the table.
inline const char* TokenName(int32_t kind) {
  if (kind < 0 || kind > kLastTokenKind) return "T_?";
  return kTokenNames[kind];
}

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_FRONT_TOKENS_H
