// Automaton builder: measures the parse tree, lays its nodes out as states and edges, tables
// the classes, finds the first bytes of a match and numbers the capture slots.
#include <cstring>

#include "script/pattern/pattern.h"
#include "script/pattern/pattern_internal.h"
#include "script/pattern/pattern_tree.h"

namespace keytwine {
namespace pattern_internal {

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

}  // namespace pattern_internal

namespace {

using pattern_internal::FindCaptureTargets;
using pattern_internal::MeasureTree;
using pattern_internal::ParsePattern;
using pattern_internal::PatternNode;
using pattern_internal::PatternParseState;
using pattern_internal::SetByte;
using pattern_internal::WorkArray;

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

// The bytes that a class text of one-byte items contains, read as ClassContains reads it with no
// lead bytes: a range, then an escape (its expansion read the same way), then a single byte.
void ClassBytes(const unsigned char* cls, uint32_t* bits) {
  const bool negated = *cls == '^';
  if (negated) ++cls;
  uint32_t items[8] = {};
  while (*cls != 0) {
    if (cls[1] == '-' && cls[2] != 0) {
      for (unsigned byte = cls[0]; byte <= cls[2]; ++byte) SetByte(items, byte);
      cls += 3;
    } else if (cls[0] == '\\' && cls[1] != 0) {
      char expansion[12];
      cls = reinterpret_cast<const unsigned char*>(
          ExpandEscape(reinterpret_cast<const char*>(cls), expansion, true));
      uint32_t escaped[8];
      ClassBytes(reinterpret_cast<const unsigned char*>(expansion), escaped);
      for (int i = 0; i < 8; ++i) items[i] |= escaped[i];
    } else {
      SetByte(items, *cls++);
    }
  }
  for (int i = 0; i < 8; ++i) bits[i] = negated ? ~items[i] : items[i];
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
  ClassBytes(text, edge->classBits);
  edge->classBits[0] &= ~uint32_t{1};  // NUL ends the text: no class holds it
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

// Null when memory runs out or the automaton would pass kPatternMaxStates (*tooLarge set).
CompiledPattern* BuildAutomaton(PatternNode* root, bool* tooLarge) {
  int64_t stateCount = 0;
  int64_t edgeBound = 0;
  if (!MeasureTree(root, &stateCount, &edgeBound)) return nullptr;
  if (stateCount > kPatternMaxStates) {
    *tooLarge = true;
    return nullptr;
  }
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

}  // namespace

CompiledPattern* CompilePattern(const char* text, PatternFailure* failure) {
  if (failure != nullptr) *failure = kPatternCompiled;
  if (text == nullptr) return nullptr;
  PatternParseState ps;
  CompiledPattern* pattern =
      ParsePattern(&ps, text) ? BuildAutomaton(ps.root, &ps.tooLarge) : nullptr;
  if (pattern == nullptr && failure != nullptr) {
    *failure = ps.tooLarge ? kPatternOverLimit : kPatternOutOfMemory;
  }
  return pattern;
}

// The start and the final state without a single edge between them.
CompiledPattern* UnmatchablePattern(const char* text) {
  if (text == nullptr) return nullptr;
  auto* pattern = static_cast<CompiledPattern*>(port::AllocZero(sizeof(CompiledPattern)));
  if (pattern == nullptr) return nullptr;
  pattern->startState = 0;
  pattern->finalState = 1;
  pattern->stateCount = 2;
  const int32_t captures = FindCaptureTargets(text, nullptr);
  pattern->states = static_cast<int32_t*>(port::Alloc(2 * sizeof(int32_t)));
  pattern->memoIndex[0] = static_cast<int32_t*>(port::Alloc(2 * sizeof(int32_t)));
  pattern->memoIndex[1] = static_cast<int32_t*>(port::Alloc(2 * sizeof(int32_t)));
  pattern->captureTargets = static_cast<const char**>(
      port::Alloc(sizeof(const char*) * static_cast<size_t>(captures > 0 ? captures : 1)));
  if (pattern->states == nullptr || pattern->memoIndex[0] == nullptr ||
      pattern->memoIndex[1] == nullptr || pattern->captureTargets == nullptr) {
    FreePattern(pattern);
    return nullptr;
  }
  for (int32_t state = 0; state < 2; ++state) {
    pattern->states[state] = -1;
    pattern->memoIndex[0][state] = -1;
    pattern->memoIndex[1][state] = -1;
  }
  pattern->captureCount = FindCaptureTargets(text, pattern->captureTargets);
  return pattern;
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

}  // namespace keytwine
