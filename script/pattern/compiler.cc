// Pattern compiler: tokenizer, recursive-descent grammar, parse tree and the
// automaton builder.
//
// Design notes:
// - Tree nodes come from an arena owned by the parse state and are all released when compilation
//   ends, so an abandoned compilation (memory, limits) frees everything at once.
// - Only the grammar recurses, once per nesting level of `(` groups, and that depth is bounded by
//   kPatternMaxGroupDepth. Copying, measuring, dumping and building the tree (whose Concat chains
//   are as deep as a sequence is long) use explicit stacks in engine memory.
// - A count's digits saturate at kPatternCountCap; kPatternMaxNodes bounds the nodes that
//   counted repetition can create, and kPatternMaxStates the size of the automaton.
#include <cstring>

#include "script/pattern/pattern.h"
#include "script/pattern/pattern_internal.h"

namespace keytwine {
namespace {

using pattern_internal::ClassContains;
using pattern_internal::kAnyCharClass;
using pattern_internal::SetByte;
using pattern_internal::TextBuilder;
using pattern_internal::WorkArray;

// Token kinds, in the order of the tokenizer's table.
enum TokenKind : int32_t {
  kTokenLiteral = 0,
  kTokenGroupOpen = 1,
  kTokenGroupClose = 2,
  kTokenLazyStar = 3,
  kTokenLazyPlus = 4,
  kTokenLazyOptional = 5,
  kTokenLazyCountClose = 6,
  kTokenStar = 7,
  kTokenPlus = 8,
  kTokenOptional = 9,
  kTokenCountOpen = 10,
  kTokenCountClose = 11,
  kTokenAnyChar = 12,
  kTokenClassOpen = 13,
  kTokenClass = 14,
  kTokenLineStart = 15,
  kTokenLineEnd = 16,
  kTokenAlternation = 17,
  kTokenEscape = 18,
  kTokenCapture = 19,
  kTokenEnd = 20,
};

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

// Predefined class texts.
constexpr char kWordClass[] = "0-9a-zA-Z_";
constexpr char kNotWordClass[] = "^0-9a-zA-Z_";
constexpr char kDigitClass[] = "0-9";
constexpr char kNotDigitClass[] = "^0-9";
constexpr char kSpaceClass[] = "\t\r\n ";
constexpr char kNotSpaceClass[] = "^\t\r\n ";

// One node of the parse tree. Concat and Alternative use both children, the stars `left` only.
struct PatternNode {
  int32_t kind;
  char literal[2];  // Literal: the character's bytes; LineStart, LineEnd: the anchor character
  char* classText;  // Class: owned copy of the class text (moved to the edge when built)
  const char* startTarget;  // CaptureMark: the captureName of a start mark
  const char* endTarget;    // CaptureMark: the captureName of an end mark
  PatternNode* left;
  PatternNode* right;
};

constexpr int32_t kChunkNodes = 128;

struct NodeChunk {
  NodeChunk* next;
  int32_t used;
  PatternNode nodes[kChunkNodes];
};

struct CopyItem {
  const PatternNode* from;
  PatternNode** to;
};

// The compiler's working state for one pattern, plus the arena,
// the limits' counters and a reusable stack for tree copies.
struct PatternParseState {
  PatternNode* root = nullptr;
  int32_t token = kTokenLiteral;
  char char1 = 0;
  char char2 = 0;
  const char* position = nullptr;
  char classText[256] = {};
  int32_t countMin = 0;
  int32_t countMax = 0;
  const char* captureName = nullptr;

  int32_t depth = 0;
  int32_t nodesCreated = 0;
  bool failed = false;
  NodeChunk* chunks = nullptr;
  WorkArray<CopyItem> copyStack;

  PatternParseState() = default;
  PatternParseState(const PatternParseState&) = delete;
  PatternParseState& operator=(const PatternParseState&) = delete;
  ~PatternParseState() {
    while (chunks != nullptr) {
      NodeChunk* next = chunks->next;
      for (int32_t i = 0; i < chunks->used; ++i) port::Free(chunks->nodes[i].classText);
      port::Free(chunks);
      chunks = next;
    }
  }
};

bool IsLead(char c) {
  return port::IsDBCSLeadByte(static_cast<uint8_t>(c));
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

// Parses the whole text into ps->root; false on failure (memory or limits).
bool ParsePattern(PatternParseState* ps, const char* text) {
  ps->position = text;
  NextPatternToken(ps);
  ps->root = ParseAlternation(ps);
  return !ps->failed;
}

// --- Automaton -----------------------------------------------------------------------------

struct BuildItem {
  PatternNode* node;
  int32_t from;
  int32_t to;
  int32_t lazyTail;  // 1: make the two closing edges of a LazyStar with states from, from + 1
};

class AutomatonBuilder {
 public:
  explicit AutomatonBuilder(CompiledPattern* pattern) : pattern_(pattern) {}

  int32_t AddEdge(int32_t from, int32_t to, int32_t kind) {
    const int32_t index = pattern_->edgeCount++;
    PatternEdge& edge = pattern_->edges[index];
    std::memset(static_cast<void*>(&edge), 0, sizeof edge);
    edge.kind = kind;
    edge.consumes = -1;
    edge.target = to;
    edge.slot = -1;
    edge.next = pattern_->states[from];
    pattern_->states[from] = index;
    return index;
  }

  bool Build(PatternNode* root) {
    if (!stack_.Push({root, 0, 1, 0})) return false;
    while (!stack_.Empty()) {
      const BuildItem item = stack_.Pop();
      if (item.lazyTail != 0) {
        AddEdge(item.from + 1, item.from, kPatternLazyStar);
        AddEdge(item.from, item.to, kPatternLazyStar);
        continue;
      }
      PatternNode* node = item.node;
      if (node == nullptr) continue;
      const int32_t from = item.from;
      const int32_t to = item.to;
      switch (node->kind) {
        case kPatternLiteral: {
          PatternEdge& edge = pattern_->edges[AddEdge(from, to, kPatternLiteral)];
          edge.consumes = 0;
          edge.literal[0] = node->literal[0];
          edge.literal[1] = node->literal[1];
          break;
        }
        case kPatternClass: {
          PatternEdge& edge = pattern_->edges[AddEdge(from, to, kPatternClass)];
          edge.consumes = 0;
          edge.classText = node->classText;  // the edge takes the text over
          node->classText = nullptr;
          break;
        }
        case kPatternEmpty:
        case kPatternGroupOpen:
        case kPatternGroupClose:
          AddEdge(from, to, node->kind);
          break;
        case kPatternCaptureMark: {
          PatternEdge& edge = pattern_->edges[AddEdge(from, to, kPatternCaptureMark)];
          edge.startTarget = node->startTarget;
          edge.endTarget = node->endTarget;
          break;
        }
        case kPatternLineStart:
          if (from == pattern_->startState) {
            pattern_->lineStartAnchored = 1;
            AddEdge(from, to, kPatternLineStart);
          }
          break;
        case kPatternLineEnd:
          if (to == pattern_->finalState) {
            pattern_->lineEndAnchored = 1;
            AddEdge(from, to, kPatternLineEnd);
          }
          break;
        case kPatternConcat: {
          const int32_t s = nextState_++;
          if (!stack_.Push({node->right, s, to, 0}) || !stack_.Push({node->left, from, s, 0})) {
            return false;
          }
          break;
        }
        case kPatternAlternative:
          if (!stack_.Push({node->right, from, to, 0}) || !stack_.Push({node->left, from, to, 0})) {
            return false;
          }
          break;
        case kPatternGreedyStar: {
          const int32_t s = nextState_;
          nextState_ += 2;
          AddEdge(from, s, kPatternGreedyStar);
          AddEdge(s + 1, s, kPatternGreedyStar);
          AddEdge(s, to, kPatternGreedyStar);
          if (!stack_.Push({node->left, s, s + 1, 0})) return false;
          break;
        }
        case kPatternLazyStar: {
          const int32_t s = nextState_;
          nextState_ += 2;
          AddEdge(from, s, kPatternLazyStar);
          if (!stack_.Push({nullptr, s, to, 1}) || !stack_.Push({node->left, s, s + 1, 0})) {
            return false;
          }
          break;
        }
        default:
          break;
      }
    }
    return true;
  }

  int32_t StatesUsed() const { return nextState_; }

 private:
  CompiledPattern* pattern_;
  WorkArray<BuildItem> stack_;
  int32_t nextState_ = 2;
};

// Counts the states and (an upper bound of) the edges of a tree.
bool MeasureTree(const PatternNode* root, int64_t* states, int64_t* edges) {
  *states = 2;
  *edges = 0;
  WorkArray<const PatternNode*> stack;
  if (root != nullptr && !stack.Push(root)) return false;
  while (!stack.Empty()) {
    const PatternNode* node = stack.Pop();
    switch (node->kind) {
      case kPatternConcat:
        *states += 1;
        break;
      case kPatternAlternative:
        break;
      case kPatternGreedyStar:
      case kPatternLazyStar:
        *states += 2;
        *edges += 3;
        break;
      default:
        *edges += 1;
        break;
    }
    if ((node->left != nullptr && !stack.Push(node->left)) ||
        (node->right != nullptr && !stack.Push(node->right))) {
      return false;
    }
  }
  return true;
}

// Tables a Class edge's class when the class reads the same in every code page: when no item of
// its text begins with a byte from 0x80 up (nor escapes one). Then every item is a one-byte item,
// which compares the first byte of a character, so the answer depends on the first byte alone,
// for one-byte and two-byte characters. Other classes are asked at match time.
void TableClass(PatternEdge* edge, int32_t* classNeedsLeadBytes) {
  const auto* text = reinterpret_cast<const unsigned char*>(edge->classText);
  const unsigned char* p = text;
  if (*p == '^') ++p;
  while (*p != 0) {
    if (*p >= 0x80 || (p[0] == '\\' && p[1] >= 0x80)) {
      *classNeedsLeadBytes = 1;
      return;
    }
    if (p[1] == '-' && p[2] != 0) {
      p += 3;
    } else if (p[0] == '\\' && p[1] != 0) {
      char expansion[12];
      p = reinterpret_cast<const unsigned char*>(
          ExpandEscape(reinterpret_cast<const char*>(p), expansion, true));
    } else {
      ++p;
    }
  }
  for (unsigned byte = 1; byte < 256; ++byte) {
    if (ClassContains(text, byte, 0, [](unsigned) { return false; })) {
      SetByte(edge->classBits, byte);
    }
  }
  edge->hasClassBits = 1;
}

// The first bytes of a match: the consuming edges reachable from the start state by empty moves
// say which bytes the first character can begin with. None when the final state is reachable
// by empty moves alone.
bool FindFirstBytes(CompiledPattern* pattern) {
  auto* seen = static_cast<uint8_t*>(port::AllocZero(static_cast<size_t>(pattern->stateCount)));
  WorkArray<int32_t> pending;
  if (seen == nullptr || !pending.Push(pattern->startState)) {
    port::Free(seen);
    return false;
  }
  seen[pattern->startState] = 1;
  uint32_t bytes[8] = {};
  bool ok = true;
  bool empty = false;
  while (!pending.Empty() && ok && !empty) {
    const int32_t state = pending.Pop();
    for (int32_t e = pattern->states[state]; e >= 0; e = pattern->edges[e].next) {
      const PatternEdge& edge = pattern->edges[e];
      if (edge.consumes == 0) {
        if (edge.kind == kPatternLiteral) {
          SetByte(bytes, static_cast<unsigned char>(edge.literal[0]));
        } else if (edge.hasClassBits != 0) {
          for (int i = 0; i < 8; ++i) bytes[i] |= edge.classBits[i];
        } else {
          for (int i = 0; i < 8; ++i) bytes[i] = 0xFFFFFFFFu;
        }
      } else if (edge.target == pattern->finalState) {
        empty = true;
      } else if (seen[edge.target] == 0) {
        seen[edge.target] = 1;
        if (!pending.Push(edge.target)) ok = false;
      }
    }
  }
  port::Free(seen);
  if (ok && !empty) {
    pattern->hasFirstBytes = 1;
    std::memcpy(pattern->firstBytes, bytes, sizeof bytes);
  }
  return ok;
}

// Slot order of the captures, the slot of every CaptureMark edge, and the memo rows.
bool FinishPattern(CompiledPattern* pattern) {
  const int32_t stateCount = pattern->stateCount;
  int32_t marks = 0;
  for (int32_t i = 0; i < pattern->edgeCount; ++i) {
    PatternEdge& edge = pattern->edges[i];
    if (edge.kind == kPatternCaptureMark) ++marks;
    if (edge.kind == kPatternClass) TableClass(&edge, &pattern->classNeedsLeadBytes);
  }
  if (!FindFirstBytes(pattern)) return false;
  pattern->captureTargets =
      static_cast<const char**>(port::Alloc(sizeof(const char*) * (marks > 0 ? marks : 1)));
  if (pattern->captureTargets == nullptr) return false;
  auto slotOf = [pattern](const char* target) {
    for (int32_t i = 0; i < pattern->captureCount; ++i) {
      if (pattern->captureTargets[i] == target) return i;
    }
    pattern->captureTargets[pattern->captureCount] = target;
    return pattern->captureCount++;
  };
  for (int32_t state = 0; state < stateCount; ++state) {
    for (int32_t e = pattern->states[state]; e >= 0; e = pattern->edges[e].next) {
      PatternEdge& edge = pattern->edges[e];
      if (edge.kind == kPatternCaptureMark && edge.startTarget != nullptr) {
        edge.slot = slotOf(edge.startTarget);
      }
    }
  }
  for (int32_t i = 0; i < pattern->edgeCount; ++i) {
    PatternEdge& edge = pattern->edges[i];
    if (edge.kind == kPatternCaptureMark && edge.startTarget == nullptr && edge.endTarget) {
      edge.slot = slotOf(edge.endTarget);
    }
  }

  // A state entered by two or more edges may be reached by several paths at one position, so
  // its failures are remembered. In a text with two-byte characters a consuming edge may reach
  // its target at one position from two positions, so those targets are remembered too.
  // Per state: bits 0-1 count the edges that enter it (saturating at 2), bit 2 tells that a
  // consuming edge enters it.
  auto* entry = static_cast<uint8_t*>(port::AllocZero(static_cast<size_t>(stateCount)));
  if (entry == nullptr) return false;
  for (int32_t i = 0; i < pattern->edgeCount; ++i) {
    const PatternEdge& edge = pattern->edges[i];
    uint8_t& flags = entry[edge.target];
    if ((flags & 3) < 2) ++flags;
    if (edge.consumes == 0) flags |= 4;
  }
  bool ok = true;
  for (int variant = 0; variant < 2 && ok; ++variant) {
    auto* index = static_cast<int32_t*>(port::Alloc(sizeof(int32_t) * stateCount));
    pattern->memoIndex[variant] = index;
    if (index == nullptr) {
      ok = false;
      break;
    }
    int32_t count = 0;
    for (int32_t state = 0; state < stateCount; ++state) {
      const bool remember = (entry[state] & 3) >= 2 || (variant == 1 && (entry[state] & 4) != 0);
      index[state] =
          remember && state != pattern->finalState && state != pattern->startState ? count++ : -1;
    }
    pattern->memoCount[variant] = count;
  }
  port::Free(entry);
  return ok;
}

CompiledPattern* BuildAutomaton(PatternNode* root) {
  int64_t stateCount = 0;
  int64_t edgeBound = 0;
  if (!MeasureTree(root, &stateCount, &edgeBound)) return nullptr;
  if (stateCount > kPatternMaxStates) return nullptr;
  auto* pattern = static_cast<CompiledPattern*>(port::AllocZero(sizeof(CompiledPattern)));
  if (pattern == nullptr) return nullptr;
  pattern->startState = 0;
  pattern->finalState = 1;
  pattern->stateCount = static_cast<int32_t>(stateCount);
  pattern->states = static_cast<int32_t*>(port::Alloc(sizeof(int32_t) * stateCount));
  pattern->edges = static_cast<PatternEdge*>(
      port::Alloc(sizeof(PatternEdge) * static_cast<size_t>(edgeBound > 0 ? edgeBound : 1)));
  if (pattern->states == nullptr || pattern->edges == nullptr) {
    FreePattern(pattern);
    return nullptr;
  }
  for (int64_t i = 0; i < stateCount; ++i) pattern->states[i] = -1;
  AutomatonBuilder builder(pattern);
  if (!builder.Build(root) || !FinishPattern(pattern)) {
    FreePattern(pattern);
    return nullptr;
  }
  return pattern;
}

// --- Dumps ---------------------------------------------------------------------------------

void AppendCaptureName(TextBuilder* out, const char* target) {
  size_t length = 0;
  const char* name = CaptureTargetName(target, &length);
  for (size_t i = 0; i < length; ++i) out->AppendByte(static_cast<unsigned char>(name[i]), "");
}

void AppendClassText(TextBuilder* out, const char* classText) {
  for (const char* p = classText; *p != '\0'; ++p) {
    out->AppendByte(static_cast<unsigned char>(*p), "[]");
  }
}

void AppendLiteral(TextBuilder* out, const char* bytes, const char* quote) {
  out->AppendByte(static_cast<unsigned char>(bytes[0]), quote);
  if (bytes[1] != '\0') out->AppendByte(static_cast<unsigned char>(bytes[1]), quote);
}

struct DumpItem {
  const PatternNode* node;
  const char* text;  // when set, this item only writes the text
};

port::Owned<char> DumpTree(const PatternNode* root) {
  TextBuilder out;
  WorkArray<DumpItem> stack;
  if (!stack.Push({root, nullptr})) return nullptr;
  while (!stack.Empty()) {
    const DumpItem item = stack.Pop();
    if (item.text != nullptr) {
      out.Append(item.text);
      continue;
    }
    const PatternNode* node = item.node;
    if (node == nullptr) {
      out.Append("-");
      continue;
    }
    bool ok = true;
    switch (node->kind) {
      case kPatternLiteral:
        out.Append("Lit(");
        AppendLiteral(&out, node->literal, "()");
        out.Append(")");
        break;
      case kPatternClass:
        out.Append("Class(");
        AppendClassText(&out, node->classText);
        out.Append(")");
        break;
      case kPatternLineStart:
        out.Append("^");
        break;
      case kPatternLineEnd:
        out.Append("$");
        break;
      case kPatternEmpty:
        out.Append("Empty");
        break;
      case kPatternGroupOpen:
        out.Append("Open");
        break;
      case kPatternGroupClose:
        out.Append("Close");
        break;
      case kPatternCaptureMark:
        out.Append(node->startTarget != nullptr ? "Cap<(" : "Cap>(");
        AppendCaptureName(&out, node->startTarget != nullptr ? node->startTarget : node->endTarget);
        out.Append(")");
        break;
      case kPatternGreedyStar:
      case kPatternLazyStar:
        out.Append(node->kind == kPatternGreedyStar ? "Star(" : "Lazy(");
        ok = stack.Push({nullptr, ")"}) && stack.Push({node->left, nullptr});
        break;
      case kPatternConcat:
      case kPatternAlternative:
        out.Append(node->kind == kPatternConcat ? "Cat(" : "Alt(");
        ok = stack.Push({nullptr, ")"}) && stack.Push({node->right, nullptr}) &&
             stack.Push({nullptr, ","}) && stack.Push({node->left, nullptr});
        break;
      default:
        out.Append("?");
        break;
    }
    if (!ok) return nullptr;
  }
  return out.Take();
}

const char* EdgeLabel(int32_t kind) {
  switch (kind) {
    case kPatternEmpty:
      return "e";
    case kPatternGroupOpen:
      return "(";
    case kPatternGroupClose:
      return ")";
    case kPatternLineStart:
      return "^";
    case kPatternLineEnd:
      return "$";
    case kPatternGreedyStar:
      return "*";
    case kPatternLazyStar:
      return "*?";
    default:
      return "?";
  }
}

}  // namespace

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

CompiledPattern* CompilePattern(const char* text) {
  if (text == nullptr) return nullptr;
  PatternParseState ps;
  if (!ParsePattern(&ps, text)) return nullptr;
  return BuildAutomaton(ps.root);
}

void FreePattern(CompiledPattern* pattern) {
  if (pattern == nullptr) return;
  if (pattern->edges != nullptr) {
    for (int32_t i = 0; i < pattern->edgeCount; ++i) port::Free(pattern->edges[i].classText);
  }
  port::Free(pattern->edges);
  port::Free(pattern->states);
  port::Free(static_cast<void*>(pattern->captureTargets));
  port::Free(pattern->memoIndex[0]);
  port::Free(pattern->memoIndex[1]);
  port::Free(pattern);
}

const char* CaptureTargetName(const char* target, size_t* length) {
  const char* name = target + 1;
  const char* end = name;
  while (*end != '\0' && *end != '%') end += IsTwoByte(end) ? 2 : 1;
  *length = static_cast<size_t>(end - name);
  return name;
}

port::Owned<char> DumpPatternTree(const char* text) {
  if (text == nullptr) return nullptr;
  PatternParseState ps;
  if (!ParsePattern(&ps, text)) return nullptr;
  int64_t states = 0;
  int64_t edges = 0;
  if (!MeasureTree(ps.root, &states, &edges) || states > kPatternMaxStates) return nullptr;
  return DumpTree(ps.root);
}

port::Owned<char> DumpPattern(const CompiledPattern* pattern) {
  if (pattern == nullptr) return nullptr;
  TextBuilder out;
  out.Append("states=");
  out.AppendNumber(pattern->stateCount);
  out.Append(" start=");
  out.AppendNumber(pattern->startState);
  out.Append(" final=");
  out.AppendNumber(pattern->finalState);
  out.Append(" ^=");
  out.AppendNumber(pattern->lineStartAnchored);
  out.Append(" $=");
  out.AppendNumber(pattern->lineEndAnchored);
  out.Append("\n");
  for (int32_t state = 0; state < pattern->stateCount; ++state) {
    out.AppendNumber(state);
    out.Append(":");
    for (int32_t e = pattern->states[state]; e >= 0; e = pattern->edges[e].next) {
      const PatternEdge& edge = pattern->edges[e];
      out.Append(" ");
      switch (edge.kind) {
        case kPatternLiteral:
          out.Append("'");
          AppendLiteral(&out, edge.literal, "'");
          out.Append("'");
          break;
        case kPatternClass:
          out.Append("[");
          AppendClassText(&out, edge.classText);
          out.Append("]");
          break;
        case kPatternCaptureMark:
          if (edge.startTarget != nullptr) {
            out.Append("<");
            AppendCaptureName(&out, edge.startTarget);
          } else {
            AppendCaptureName(&out, edge.endTarget);
            out.Append(">");
          }
          break;
        default:
          out.Append(EdgeLabel(edge.kind));
          break;
      }
      out.Append("->");
      out.AppendNumber(edge.target);
    }
    out.Append("\n");
  }
  return out.Take();
}

}  // namespace keytwine
