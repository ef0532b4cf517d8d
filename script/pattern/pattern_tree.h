// Internal to the pattern compiler: the parse tree and the parse state, shared by the parser,
// the automaton builder and the dumps.
//
// Design notes:
// - Tree nodes come from an arena owned by the parse state and are all released when compilation
//   ends, so an abandoned compilation (memory, limits) frees everything at once.
// - Only the grammar recurses, once per nesting level of `(` groups, and that depth is bounded by
//   kPatternMaxGroupDepth. Copying, measuring, dumping and building the tree (whose Concat chains
//   are as deep as a sequence is long) use explicit stacks in engine memory.
// - A count's digits saturate at kPatternCountCap; kPatternMaxNodes bounds the nodes that
//   counted repetition can create, and kPatternMaxStates the size of the automaton.
#ifndef KEYTWINE_SCRIPT_PATTERN_PATTERN_TREE_H
#define KEYTWINE_SCRIPT_PATTERN_PATTERN_TREE_H

#include <cstdint>

#include "script/pattern/pattern.h"
#include "script/pattern/pattern_internal.h"
#include "script/port/port.h"

namespace keytwine::pattern_internal {

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
  bool tooLarge = false;  // failed at a limit rather than for want of memory
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

// Parses the whole text into ps->root; false on failure (memory or limits).
bool ParsePattern(PatternParseState* ps, const char* text);

// Stores the capture targets of text (the first `%` of each `%name%` that the parse would turn
// into a capture) into targets, when given, in text order; returns how many there are.
int32_t FindCaptureTargets(const char* text, const char** targets);

// Counts the states and (an upper bound of) the edges of a tree.
bool MeasureTree(const PatternNode* root, int64_t* states, int64_t* edges);

}  // namespace keytwine::pattern_internal

#endif  // KEYTWINE_SCRIPT_PATTERN_PATTERN_TREE_H
