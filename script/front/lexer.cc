#include "script/front/lexer.h"

#include <cstring>

#include "script/port/port.h"
#include "script/runtime/error.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

// What the operand-expected flag becomes once a token is taken.
constexpr int32_t kFlagKept = -1;

// One spelling of an operator or punctuation token. A kind of 0 means the spelling is not accepted
// in that state. Two-character spellings come before the one-character spelling they start with,
// so that the first match is the longest.
struct OperatorSpelling {
  char first;
  char second;  // 0 for a one-character spelling
  int32_t whenExpected;
  int32_t whenNotExpected;
};

constexpr OperatorSpelling kOperators[] = {
    {';', 0, T_SEMICOLON, T_SEMICOLON},
    {':', 0, T_COLON, T_COLON},
    {',', 0, T_COMMA, T_COMMA},
    {'{', 0, T_LBRACE, 0},
    {'}', 0, T_RBRACE, T_RBRACE},
    {'(', 0, T_LPAREN, 0},
    {')', 0, T_RPAREN, T_RPAREN},
    {'[', 0, 0, T_LBRACKET},
    {']', 0, T_RBRACKET, T_RBRACKET},
    {'&', '&', 0, T_AND},
    {'&', 0, 0, T_BITAND},
    {'|', '|', 0, T_OR},
    {'|', 0, 0, T_BITOR},
    {'<', '=', 0, T_LE},
    {'<', '<', 0, T_SHL},
    {'<', 0, 0, T_LT},
    {'>', '=', 0, T_GE},
    {'>', '>', 0, T_SHR},
    {'>', 0, 0, T_GT},
    {'=', '=', 0, T_EQ},
    {'=', '~', 0, T_MATCH},
    {'=', 0, 0, T_ASSIGN},
    {'!', '=', 0, T_NE},
    {'!', 0, T_NOT, 0},
    {'^', 0, 0, T_BITXOR},
    {'+', '+', T_PREINC, T_POSTINC},
    {'+', 0, T_PLUS, T_ADD},
    {'-', '-', T_PREDEC, T_POSTDEC},
    {'-', 0, T_MINUS, T_SUB},
    {'*', 0, 0, T_MUL},
    {'/', 0, 0, T_DIV},
    {'%', 0, 0, T_MOD},
    {'~', 0, T_BITNOT, 0},
    {'#', 0, T_DIRECTIVE, T_DIRECTIVE},
};

struct KeywordSpelling {
  const char* word;
  int32_t kind;
};

constexpr KeywordSpelling kKeywords[] = {
    {"var", T_VAR},   {"return", T_RETURN},   {"resume", T_RETURN},     {"exit", T_EXIT},
    {"if", T_IF},     {"else", T_ELSE},       {"for", T_FOR},           {"while", T_WHILE},
    {"do", T_DO},     {"break", T_BREAK},     {"continue", T_CONTINUE}, {"switch", T_SWITCH},
    {"case", T_CASE}, {"default", T_DEFAULT}, {"function", T_FUNCTION}, {"argmatch", T_ARGMATCH},
};

int32_t FlagAfter(int32_t kind) {
  switch (kind) {
    case T_RBRACE:
    case T_RPAREN:
    case T_RBRACKET:
    case T_POSTINC:
    case T_POSTDEC:
    case T_NUMBER:
    case T_STRING:
    case T_VARIABLE:
      return 0;
    case T_NOT:
    case T_BITNOT:
    case T_PLUS:
    case T_MINUS:
    case T_PREINC:
    case T_PREDEC:
    case T_END:
      return kFlagKept;
    default:
      return 1;  // punctuation, binary operators, calls, keywords, '#'
  }
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_' || c == '.' ||
         c == '?';
}

int32_t Fail(LexerState& state, const char* message) {
  ReportError(state.context, message, state.tokenStart);
  return 0;
}

int32_t Take(LexerState& state, int32_t kind, const char* end) {
  state.kind = kind;
  state.position = end;
  const int32_t flag = FlagAfter(kind);
  if (flag != kFlagKept) state.operandExpected = flag;
  return 1;
}

// Steps over blanks and comments. A block comment is searched for its "*/" from the '/' that
// opens it, so "/*/" is a complete comment; an unterminated one runs to the end of the text.
const char* SkipBlanksAndComments(const char* p) {
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (p[0] != '/') return p;
    if (p[1] == '/') {
      while (*p != 0 && *p != '\r' && *p != '\n') ++p;
    } else if (p[1] == '*') {
      const char* end = std::strstr(p, "*/");
      p = end != nullptr ? end + 2 : p + std::strlen(p);
    } else {
      return p;
    }
  }
}

int32_t ScanString(LexerState& state) {
  const char* end = FindStringEnd(state.tokenStart);
  if (*end == 0) return Fail(state, kSentenceError);
  return Take(state, T_STRING, end + 1);
}

// "0x" and the hexadecimal digits after it, or the first character and every digit and dot after
// it ("1.2.3" is one token; the parser takes its leading integer).
int32_t ScanNumber(LexerState& state) {
  const char* p = state.tokenStart;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    p += 2;
    while (IsHexDigit(*p)) ++p;
  } else {
    ++p;
    while (IsDigit(*p) || *p == '.') ++p;
  }
  return Take(state, T_NUMBER, p);
}

int32_t KeywordKind(const char* name, size_t length) {
  for (const KeywordSpelling& keyword : kKeywords) {
    if (std::strlen(keyword.word) == length && CompareNoCaseN(name, keyword.word, length) == 0) {
      return keyword.kind;
    }
  }
  return 0;
}

// A name: an optional leading '&', then name characters and two-byte characters. The keywords are
// recognised before the look-ahead for '(' (so "if (" is never a call); the look-ahead passes over
// blanks only.
int32_t ScanName(LexerState& state) {
  const char* p = state.tokenStart;
  if (*p == '&') ++p;
  for (;;) {
    if (IsNameCharacter(*p)) {
      ++p;
    } else if (port::IsDBCSLeadByte(static_cast<uint8_t>(*p))) {
      ++p;
      if (*p != 0) ++p;
    } else {
      break;
    }
  }
  if (p == state.tokenStart) return Fail(state, kSentenceError);
  const int32_t keyword = KeywordKind(state.tokenStart, static_cast<size_t>(p - state.tokenStart));
  if (keyword != 0) return Take(state, keyword, p);
  const char* after = p;
  while (IsBlank(*after)) ++after;
  return Take(state, *after == '(' ? T_CALL : T_VARIABLE, p);
}

int32_t ScanOperator(LexerState& state) {
  const char* p = state.tokenStart;
  // Where an operand is expected, '!' is always the one-character T_NOT: "!=" there gives T_NOT
  // and then fails at the '='.
  const bool twoAllowed = !(p[0] == '!' && state.operandExpected != 0);
  for (const OperatorSpelling& spelling : kOperators) {
    if (spelling.first != p[0]) continue;
    if (spelling.second != 0 && (!twoAllowed || spelling.second != p[1])) continue;
    const int32_t kind =
        state.operandExpected != 0 ? spelling.whenExpected : spelling.whenNotExpected;
    if (kind == 0) return Fail(state, kSentenceError);
    if ((kind == T_LBRACE || kind == T_LPAREN || kind == T_LBRACKET) &&
        FindMatchingBracket(p) == nullptr) {
      return Fail(state, kParenthesisError);
    }
    return Take(state, kind, p + (spelling.second != 0 ? 2 : 1));
  }
  return -1;  // no operator spelling starts here
}

}  // namespace

void RecordFailure(LexerState& state, const char* message) {
  if (state.failure != nullptr) return;
  state.failure = message;
  state.failureAt = state.tokenStart;
}

void ReportFailure(const LexerState& state) {
  if (state.failure != nullptr) ReportError(state.context, state.failure, state.failureAt);
}

LexerState StartLexer(Frame* context, const char* text, int32_t depth) {
  LexerState state{};
  state.context = context;
  state.depth = depth;
  state.tokenStart = text;
  state.position = text;
  state.operandExpected = 1;
  return state;
}

int32_t ScanToken(LexerState& state) {
  const char* p = SkipBlanksAndComments(state.position);
  state.tokenStart = p;
  const char c = *p;
  if (c == 0) return Take(state, T_END, p);  // position stays on the NUL
  const bool expected = state.operandExpected != 0;
  const bool number = IsDigit(c) || (c == '.' && IsDigit(p[1]));
  const bool operand = c == '"' || number || (c == '&' && expected);
  if (!operand) {
    const int32_t result = ScanOperator(state);
    if (result >= 0) return result;
  }
  // A number, a string or a name; none of them may stand where an operator is expected.
  if (!expected) return Fail(state, kSentenceError);
  if (c == '"') return ScanString(state);
  if (number) return ScanNumber(state);
  return ScanName(state);
}

}  // namespace keytwine
