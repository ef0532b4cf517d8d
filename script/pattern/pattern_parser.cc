// Pattern parser: the tokenizer, the parse tree's nodes and the recursive-descent grammar, plus
// the escape and capture-name readers that the matcher and the runtime share.
#include <cstring>

#include "script/pattern/pattern.h"
#include "script/pattern/pattern_internal.h"
#include "script/pattern/pattern_tree.h"

namespace keytwine {
namespace {

// Predefined class texts.
constexpr char kWordClass[] = "0-9a-zA-Z_";
constexpr char kNotWordClass[] = "^0-9a-zA-Z_";
constexpr char kDigitClass[] = "0-9";
constexpr char kNotDigitClass[] = "^0-9";
constexpr char kSpaceClass[] = "\t\r\n ";
constexpr char kNotSpaceClass[] = "^\t\r\n ";

// No code page has a lead byte below 0x80, so plain ASCII never asks the port.
bool IsLead(char c) {
  const auto byte = static_cast<uint8_t>(c);
  return byte >= 0x80 && port::IsDBCSLeadByte(byte);
}
// A lead byte followed by a byte other than NUL: one two-byte character.
bool IsTwoByte(const char* p) {
  return IsLead(p[0]) && p[1] != '\0';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int32_t AddDigit(int32_t value, int digit) {
  if (value > (kPatternCountCap - digit) / 10) return kPatternCountCap;
  return value * 10 + digit;
}

}  // namespace

namespace pattern_internal {
namespace {

struct TokenEntry {
  char text[3];
  int32_t kind;
};

// Compared as prefixes in this order; the two-byte lazy forms stand before their one-byte forms.
constexpr TokenEntry kTokenTable[] = {
    {"(", kTokenGroupOpen}, {")", kTokenGroupClose},    {"*?", kTokenLazyStar},
    {"+?", kTokenLazyPlus}, {"??", kTokenLazyOptional}, {"}?", kTokenLazyCountClose},
    {"*", kTokenStar},      {"+", kTokenPlus},          {"?", kTokenOptional},
    {"{", kTokenCountOpen}, {"}", kTokenCountClose},    {".", kTokenAnyChar},
    {"[", kTokenClassOpen}, {"]", kTokenClass},         {"^", kTokenLineStart},
    {"$", kTokenLineEnd},   {"|", kTokenAlternation},   {"\\", kTokenEscape},
    {"%", kTokenCapture},
};

// --- Tokenizer -----------------------------------------------------------------------------

// `{`: the position is just after it.
void ReadCount(PatternParseState* ps) {
  int32_t minimum = 0;
  int32_t maximum = 0;
  bool second = false;
  const char* q = ps->position;
  for (;;) {
    const char c = *q;
    if (c == '\0') {
      ps->token = kTokenEnd;
      ps->position = q;
      return;
    }
    if (c == '}') break;
    if (c >= '0' && c <= '9') {
      int32_t& value = second ? maximum : minimum;
      value = AddDigit(value, c - '0');
    } else if (c == ',') {
      second = true;
    } else if (IsTwoByte(q)) {
      ++q;  // skipped as one unit
    }
    ++q;
  }
  ++q;
  if (!second) maximum = minimum;
  ps->countMin = minimum;
  ps->countMax = maximum;
  if (*q == '?') {
    ps->token = kTokenLazyCountClose;
    ++q;
  } else {
    ps->token = kTokenCountClose;
  }
  ps->position = q;
}

// `[`: the position is just after it. The class text keeps its first 255 bytes; a unit (a
// two-byte character, a kept escape pair) that does not fit whole is dropped with all after it.
void ReadClass(PatternParseState* ps) {
  const char* q = ps->position;
  size_t length = 0;
  bool full = false;
  auto append = [&](const char* bytes, size_t n) {
    if (full) return;
    if (length + n > sizeof ps->classText - 1) {
      full = true;
      return;
    }
    std::memcpy(ps->classText + length, bytes, n);
    length += n;
  };
  if (*q == '^') append(q++, 1);
  if (*q == ']') append(q++, 1);
  for (;;) {
    const char c = *q;
    if (c == '\0') {
      ps->token = kTokenEnd;
      ps->position = q;
      return;
    }
    if (c == ']') break;
    if (c == '\\') {
      if (q[1] == '\0') {
        ps->token = kTokenEnd;
        ps->position = q + 1;
        return;
      }
      char expansion[12];
      const char* next = ExpandEscape(q, expansion, false);
      append(expansion, std::strlen(expansion));
      q = next;
    } else if (IsTwoByte(q)) {
      append(q, 2);
      q += 2;
    } else {
      append(q++, 1);
    }
  }
  ps->classText[length] = '\0';
  ps->token = kTokenClass;
  ps->position = q + 1;
}

// `\` at p; the position is just after it.
void ReadEscape(PatternParseState* ps, const char* p) {
  if (p[1] == '\0') {  // decided: a lone trailing backslash is a literal backslash
    ps->token = kTokenLiteral;
    ps->char1 = '\\';
    return;
  }
  if ((p[1] == 'x' || p[1] == 'X') && p[2] == '\0') {  // decided: ends the pattern
    ps->token = kTokenEnd;
    ps->position = p + 2;
    return;
  }
  if (IsTwoByte(p + 1)) {  // decided: escapes the whole two-byte character
    ps->token = kTokenLiteral;
    ps->char1 = p[1];
    ps->char2 = p[2];
    ps->position = p + 3;
    return;
  }
  ps->position = ExpandEscape(p, ps->classText, true);
  if (ps->classText[0] != '\0' && ps->classText[1] == '\0') {
    ps->token = kTokenLiteral;
    ps->char1 = ps->classText[0];
  } else {
    ps->token = kTokenClass;
  }
}

// `%` at p; the position is just after it.
void ReadCapture(PatternParseState* ps, const char* p) {
  if (p[1] == '%') {
    ps->token = kTokenLiteral;
    ps->char1 = '%';
    ps->position = p + 2;
    return;
  }
  const char* q = p + 1;
  while (*q != '\0' && *q != '%') q += IsTwoByte(q) ? 2 : 1;
  if (*q == '\0') {
    ps->token = kTokenEnd;
    ps->position = q;
    return;
  }
  ps->captureName = p;
  ps->position = q + 1;
}

void NextPatternToken(PatternParseState* ps) {
  ps->char1 = 0;
  ps->char2 = 0;
  ps->token = kTokenLiteral;
  const char* p = ps->position;
  if (*p == '\0') {
    ps->token = kTokenEnd;
    return;
  }
  int32_t kind = kTokenLiteral;
  size_t length = 1;
  for (const TokenEntry& entry : kTokenTable) {
    if (p[0] != entry.text[0]) continue;
    if (entry.text[1] != '\0' && p[1] != entry.text[1]) continue;
    kind = entry.kind;
    length = entry.text[1] != '\0' ? 2 : 1;
    break;
  }
  ps->token = kind;
  ps->position = p + length;
  switch (kind) {
    case kTokenLiteral:
      ps->char1 = p[0];
      if (IsTwoByte(p)) {
        ps->char2 = p[1];
        ps->position = p + 2;
      }
      break;
    case kTokenAnyChar:
      ps->token = kTokenClass;
      std::memcpy(ps->classText, kAnyCharClass, sizeof kAnyCharClass);
      break;
    case kTokenLineStart:
    case kTokenLineEnd:
      ps->char1 = p[0];
      break;
    case kTokenCountOpen:
      ReadCount(ps);
      break;
    case kTokenClassOpen:
      ReadClass(ps);
      break;
    case kTokenClass:  // decided: a stray `]` is a literal `]`
      ps->token = kTokenLiteral;
      ps->char1 = ']';
      break;
    case kTokenEscape:
      ReadEscape(ps, p);
      break;
    case kTokenCapture:
      ReadCapture(ps, p);
      break;
    default:
      break;
  }
}

// --- Tree ----------------------------------------------------------------------------------

PatternNode* NewNode(PatternParseState* ps, int32_t kind) {
  if (ps->failed) return nullptr;
  if (ps->nodesCreated >= kPatternMaxNodes) {
    ps->failed = true;
    ps->tooLarge = true;
    return nullptr;
  }
  NodeChunk* chunk = ps->chunks;
  if (chunk == nullptr || chunk->used == kChunkNodes) {
    chunk = static_cast<NodeChunk*>(port::Alloc(sizeof(NodeChunk)));
    if (chunk == nullptr) {
      ps->failed = true;
      return nullptr;
    }
    chunk->next = ps->chunks;
    chunk->used = 0;
    ps->chunks = chunk;
  }
  PatternNode* node = &chunk->nodes[chunk->used++];
  std::memset(static_cast<void*>(node), 0, sizeof *node);
  node->kind = kind;
  ++ps->nodesCreated;
  return node;
}

PatternNode* NewPair(PatternParseState* ps, int32_t kind, PatternNode* left, PatternNode* right) {
  PatternNode* node = NewNode(ps, kind);
  if (node == nullptr) return nullptr;
  node->left = left;
  node->right = right;
  return node;
}

PatternNode* Concat(PatternParseState* ps, PatternNode* left, PatternNode* right) {
  return NewPair(ps, kPatternConcat, left, right);
}
PatternNode* Alternative(PatternParseState* ps, PatternNode* left, PatternNode* right) {
  return NewPair(ps, kPatternAlternative, left, right);
}
PatternNode* Star(PatternParseState* ps, bool lazy, PatternNode* child) {
  return NewPair(ps, lazy ? kPatternLazyStar : kPatternGreedyStar, child, nullptr);
}
PatternNode* Empty(PatternParseState* ps) {
  return NewNode(ps, kPatternEmpty);
}

PatternNode* ClassNode(PatternParseState* ps, const char* classText) {
  PatternNode* node = NewNode(ps, kPatternClass);
  if (node == nullptr) return nullptr;
  const size_t size = std::strlen(classText) + 1;
  node->classText = static_cast<char*>(port::Alloc(size));
  if (node->classText == nullptr) {
    ps->failed = true;
    return nullptr;
  }
  std::memcpy(node->classText, classText, size);
  return node;
}

// C(X): a deep copy; class texts are duplicated, capture targets shared.
PatternNode* Copy(PatternParseState* ps, const PatternNode* source) {
  if (source == nullptr || ps->failed) return nullptr;
  PatternNode* result = nullptr;
  WorkArray<CopyItem>& stack = ps->copyStack;
  stack.Clear();
  if (!stack.Push({source, &result})) {
    ps->failed = true;
    return nullptr;
  }
  while (!stack.Empty()) {
    const CopyItem item = stack.Pop();
    const PatternNode* from = item.from;
    PatternNode* node =
        from->kind == kPatternClass ? ClassNode(ps, from->classText) : NewNode(ps, from->kind);
    if (node == nullptr) return nullptr;
    node->literal[0] = from->literal[0];
    node->literal[1] = from->literal[1];
    node->startTarget = from->startTarget;
    node->endTarget = from->endTarget;
    *item.to = node;
    if ((from->right != nullptr && !stack.Push({from->right, &node->right})) ||
        (from->left != nullptr && !stack.Push({from->left, &node->left}))) {
      ps->failed = true;
      return nullptr;
    }
  }
  return result;
}

// --- Grammar -------------------------------------------------------------------------------

PatternNode* ParseAlternation(PatternParseState* ps);

bool EndsSequence(int32_t token) {
  return token == kTokenAlternation || token == kTokenGroupClose || token == kTokenEnd;
}

PatternNode* ParseAtom(PatternParseState* ps) {
  PatternNode* node = nullptr;
  switch (ps->token) {
    case kTokenLiteral:
      node = NewNode(ps, kPatternLiteral);
      if (node != nullptr) {
        node->literal[0] = ps->char1;
        node->literal[1] = ps->char2;
      }
      break;
    case kTokenClass:
      node = ClassNode(ps, ps->classText);
      break;
    case kTokenLineStart:
    case kTokenLineEnd:
      node = NewNode(ps, ps->token == kTokenLineStart ? kPatternLineStart : kPatternLineEnd);
      if (node != nullptr) node->literal[0] = ps->char1;
      break;
    case kTokenGroupOpen: {
      if (++ps->depth > kPatternMaxGroupDepth) {
        ps->failed = true;
        ps->tooLarge = true;
        return nullptr;
      }
      NextPatternToken(ps);
      PatternNode* inner = ParseAlternation(ps);
      --ps->depth;
      if (ps->failed) return nullptr;
      PatternNode* open = NewNode(ps, kPatternGroupOpen);
      PatternNode* close = NewNode(ps, kPatternGroupClose);
      node = Concat(ps, open, Concat(ps, inner, close));
      break;  // the read below skips the `)` (or the End)
    }
    default:
      return nullptr;  // a null atom; reads nothing
  }
  if (ps->failed) return nullptr;
  NextPatternToken(ps);
  return node;
}

PatternNode* CountedRepetition(PatternParseState* ps, PatternNode* x, bool lazy) {
  const int32_t m = ps->countMin;
  int32_t n = ps->countMax;
  if (n != 0 && n < m) n = m;
  PatternNode* r = n == 0 ? Star(ps, lazy, Copy(ps, x)) : Empty(ps);
  for (int32_t k = n; k > m && !ps->failed; --k) {
    PatternNode* option =
        lazy ? Alternative(ps, Copy(ps, x), Empty(ps)) : Alternative(ps, Empty(ps), Copy(ps, x));
    r = Concat(ps, r, option);
  }
  for (int32_t k = 0; k < m && !ps->failed; ++k) r = Concat(ps, Copy(ps, x), r);
  if (m == 0) r = lazy ? Alternative(ps, r, Empty(ps)) : Alternative(ps, Empty(ps), r);
  return r;  // x itself is left to the arena
}

PatternNode* NamedCapture(PatternParseState* ps, PatternNode* x) {
  const char* target = ps->captureName;
  PatternNode* front = nullptr;
  PatternNode* part = x;
  if (x == nullptr || x->kind != kPatternConcat) {
    front = x;
    const bool last = *ps->position == '\0';
    part = Star(ps, !last, ClassNode(ps, kAnyCharClass));
  }
  PatternNode* start = NewNode(ps, kPatternCaptureMark);
  PatternNode* end = NewNode(ps, kPatternCaptureMark);
  if (ps->failed) return nullptr;
  start->startTarget = target;
  end->endTarget = target;
  PatternNode* result = Concat(ps, Concat(ps, start, part), end);
  if (front != nullptr) result = Concat(ps, front, result);
  return result;
}

PatternNode* ParseQuantifiedAtom(PatternParseState* ps) {
  const char* before = ps->position;
  const int32_t beforeToken = ps->token;
  PatternNode* x = ParseAtom(ps);
  if (ps->failed) return nullptr;
  PatternNode* result = nullptr;
  switch (ps->token) {
    case kTokenStar:
      result = Star(ps, false, x);
      break;
    case kTokenLazyStar:
      result = Star(ps, true, x);
      break;
    case kTokenPlus:
      result = Concat(ps, x, Star(ps, false, Copy(ps, x)));
      break;
    case kTokenLazyPlus:
      result = Concat(ps, x, Star(ps, true, Copy(ps, x)));
      break;
    case kTokenOptional:
      result = Alternative(ps, Empty(ps), x);
      break;
    case kTokenLazyOptional:
      result = Alternative(ps, x, Empty(ps));
      break;
    case kTokenCountClose:
    case kTokenLazyCountClose:
      result = CountedRepetition(ps, x, ps->token == kTokenLazyCountClose);
      break;
    case kTokenCapture:
      result = NamedCapture(ps, x);
      break;
    default:
      // No postfix. Every token is an atom, a postfix or an end of sequence, so something was
      // read; the check only guards the sequence loop against a token that is none of these.
      if (ps->position == before && ps->token == beforeToken && !EndsSequence(ps->token)) {
        NextPatternToken(ps);
      }
      return x;
  }
  if (ps->failed) return nullptr;
  NextPatternToken(ps);
  return result;
}

PatternNode* ParseSequence(PatternParseState* ps) {
  if (EndsSequence(ps->token)) return Empty(ps);
  PatternNode* result = ParseQuantifiedAtom(ps);
  while (!ps->failed && !EndsSequence(ps->token)) {
    PatternNode* next = ParseQuantifiedAtom(ps);
    result = Concat(ps, result, next);
  }
  return ps->failed ? nullptr : result;
}

PatternNode* ParseAlternation(PatternParseState* ps) {
  PatternNode* result = ParseSequence(ps);
  while (!ps->failed && ps->token == kTokenAlternation) {
    NextPatternToken(ps);
    PatternNode* next = ParseSequence(ps);
    result = Alternative(ps, next, result);
  }
  return ps->failed ? nullptr : result;
}

}  // namespace

// Parses the whole text into ps->root; false on failure (memory or limits).
bool ParsePattern(PatternParseState* ps, const char* text) {
  ps->position = text;
  NextPatternToken(ps);
  ps->root = ParseAlternation(ps);
  return !ps->failed;
}

// Every capture token becomes a capture, up to the end of the text or the `)` that ends the
// pattern (one without an open group).
int32_t FindCaptureTargets(const char* text, const char** targets) {
  PatternParseState ps;
  ps.position = text;
  int32_t count = 0;
  int32_t open = 0;
  for (NextPatternToken(&ps); ps.token != kTokenEnd; NextPatternToken(&ps)) {
    if (ps.token == kTokenGroupOpen) ++open;
    if (ps.token == kTokenGroupClose && open-- == 0) break;
    if (ps.token != kTokenCapture) continue;
    if (targets != nullptr) targets[count] = ps.captureName;
    ++count;
  }
  return count;
}

}  // namespace pattern_internal

const char* ExpandEscape(const char* at, char* out, bool expandAll) {
  const char c = at[1];
  out[0] = '\0';
  if (c == '\0') return at + 1;
  if (!expandAll &&
      (c == 'd' || c == 's' || c == 'w' || c == 'D' || c == 'S' || c == 'W' || c == '\\')) {
    out[0] = '\\';
    out[1] = c;
    out[2] = '\0';
    return at + 2;
  }
  const char* text = nullptr;
  switch (c) {
    case 'd':
      text = kDigitClass;
      break;
    case 'D':
      text = kNotDigitClass;
      break;
    case 's':
      text = kSpaceClass;
      break;
    case 'S':
      text = kNotSpaceClass;
      break;
    case 'w':
      text = kWordClass;
      break;
    case 'W':
      text = kNotWordClass;
      break;
    case 'n':
    case 'N':
      text = "\n";
      break;
    case 'r':
    case 'R':
      text = "\r";
      break;
    case 't':
    case 'T':
      text = "\t";
      break;
    case 'x':
    case 'X': {
      const char* p = at + 2;
      int value = 0;
      int digits = 0;
      while (digits < 2 && HexValue(*p) >= 0) {
        value = value * 16 + HexValue(*p);
        ++p;
        ++digits;
      }
      if (digits != 0) {
        out[0] = static_cast<char>(value);  // 0 leaves the text empty
        out[1] = '\0';
      }
      return p;
    }
    default:
      if (IsTwoByte(at + 1)) {
        out[0] = c;
        out[1] = at[2];
        out[2] = '\0';
        return at + 3;
      }
      out[0] = c;
      out[1] = '\0';
      return at + 2;
  }
  std::memcpy(out, text, std::strlen(text) + 1);
  return at + 2;
}

const char* CaptureTargetName(const char* target, size_t* length) {
  const char* name = target + 1;
  const char* end = name;
  while (*end != '\0' && *end != '%') end += IsTwoByte(end) ? 2 : 1;
  *length = static_cast<size_t>(end - name);
  return name;
}

}  // namespace keytwine
