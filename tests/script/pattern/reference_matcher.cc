#include "tests/script/pattern/reference_matcher.h"

#include <cstring>

#include "script/port/port.h"

namespace keytwine::testing {
namespace {

bool Lead(unsigned char c) {
  return port::IsDBCSLeadByte(c);
}

struct Slot {
  const char* target = nullptr;
  const char* start = nullptr;
  const char* end = nullptr;
};

struct Context {
  const CompiledPattern* pattern;
  std::vector<Slot> slots;  // slotCount = stateCount / 4
  std::vector<std::pair<int32_t, const char*>> path;
  int64_t budget;
  bool exhausted = false;
};

// Registration of a capture position: the first slot that is free or has target t.
Slot* FindSlot(Context& c, const char* target) {
  for (Slot& slot : c.slots) {
    if (slot.target == nullptr || slot.target == target) {
      if (slot.target == nullptr) slot.target = target;
      return &slot;
    }
  }
  return nullptr;
}

bool OnPath(const Context& c, int32_t state, const char* position) {
  for (auto it = c.path.rbegin(); it != c.path.rend() && it->second == position; ++it) {
    if (it->first == state) return true;
  }
  return false;
}

const char* MatchStep(Context& c, int32_t state, const char* position) {
  if (--c.budget < 0) {
    c.exhausted = true;
    return nullptr;
  }
  const CompiledPattern* p = c.pattern;
  const auto at = reinterpret_cast<const unsigned char*>(position);
  if (state == p->finalState) {
    if (p->lineEndAnchored && !(at[0] == 0 || at[0] == '\r' || at[0] == '\n')) return nullptr;
    return position;
  }
  for (int32_t e = p->states[state]; e >= 0; e = p->edges[e].next) {
    const PatternEdge& edge = p->edges[e];
    const char* next = position;
    if (edge.consumes == 0) {
      if (at[0] == 0) continue;
      if (p->lineEndAnchored && (at[0] == '\r' || at[0] == '\n')) continue;
      const bool twoByte = Lead(at[0]) && at[1] != 0;
      bool ok;
      if (edge.kind == kPatternClass) {
        ok = ReferenceMatchClass(edge.classText, position);
      } else if (twoByte) {
        ok = at[0] == static_cast<unsigned char>(edge.literal[0]) &&
             at[1] == static_cast<unsigned char>(edge.literal[1]);
      } else {
        ok = at[0] == static_cast<unsigned char>(edge.literal[0]);
      }
      if (!ok) continue;
      next = position + (twoByte ? 2 : 1);
    }
    if (OnPath(c, edge.target, next)) continue;  // mend: no empty cycles
    Slot* slot = nullptr;
    Slot saved;
    if (edge.kind == kPatternCaptureMark) {
      const char* target = edge.startTarget != nullptr ? edge.startTarget : edge.endTarget;
      slot = FindSlot(c, target);
      if (slot != nullptr) {
        saved = *slot;
        if (edge.startTarget != nullptr) {
          slot->start = position;
        } else {
          slot->end = position;
        }
      }
    }
    c.path.emplace_back(edge.target, next);
    const char* result = MatchStep(c, edge.target, next);
    c.path.pop_back();
    if (result != nullptr) return result;
    if (slot != nullptr) *slot = saved;  // mend: only the winning path's positions count
    if (c.exhausted) return nullptr;
  }
  return nullptr;
}

}  // namespace

bool ReferenceMatchClass(const char* classText, const char* at) {
  const auto* s = reinterpret_cast<const unsigned char*>(classText);
  const auto* c = reinterpret_cast<const unsigned char*>(at);
  const bool twoByteC = Lead(c[0]) && c[1] != 0;
  bool negated = false;
  if (*s == '^') {
    negated = true;
    ++s;
  }
  bool matched = false;
  while (*s != 0 && !matched) {
    if (Lead(s[0]) && s[1] != 0) {
      if (s[2] == '-' && Lead(s[3]) && s[4] != 0) {
        matched = twoByteC && c[0] >= s[0] && c[0] <= s[3] && c[1] >= s[1] && c[1] <= s[4];
        s += 5;
      } else {
        matched = twoByteC && c[0] == s[0] && c[1] == s[1];
        s += 2;
      }
      continue;
    }
    if (s[1] == '-' && s[2] != 0) {
      matched = c[0] >= s[0] && c[0] <= s[2];
      s += 3;
    } else if (s[0] == '\\' && s[1] != 0) {
      char expansion[12];
      const char* next = ExpandEscape(reinterpret_cast<const char*>(s), expansion, true);
      matched = ReferenceMatchClass(expansion, at);
      s = reinterpret_cast<const unsigned char*>(next);
    } else {
      matched = c[0] == s[0];
      ++s;
    }
  }
  return matched != negated;
}

ReferenceResult ReferenceMatch(const CompiledPattern* pattern, const char* text,
                               int64_t stepBudget) {
  ReferenceResult result;
  if (pattern == nullptr) return result;
  Context c{
      pattern, std::vector<Slot>(static_cast<size_t>(pattern->stateCount / 4)), {}, stepBudget};
  // Step 2: register every start mark in state and list order.
  for (int32_t state = 0; state < pattern->stateCount; ++state) {
    for (int32_t e = pattern->states[state]; e >= 0; e = pattern->edges[e].next) {
      const PatternEdge& edge = pattern->edges[e];
      if (edge.kind == kPatternCaptureMark && edge.startTarget != nullptr) {
        Slot* slot = FindSlot(c, edge.startTarget);
        if (slot != nullptr) slot->start = nullptr;
      }
    }
  }
  bool matched = false;
  if (*text != '\0') {
    const char* position = text;
    while (*position != '\0') {
      c.path.assign(1, {pattern->startState, position});
      if (MatchStep(c, pattern->startState, position) != nullptr) {
        matched = true;
        break;
      }
      if (c.exhausted) {
        result.matched = -1;
        return result;
      }
      if (pattern->lineStartAnchored) {
        while (*position != '\0' && *position != '\r' && *position != '\n') ++position;
        while (*position == '\r' || *position == '\n') ++position;
      } else {
        ++position;
      }
    }
  }
  if (!matched) {
    for (Slot& slot : c.slots) slot.start = nullptr;
  }
  result.matched = matched ? 1 : 0;
  for (const Slot& slot : c.slots) {
    if (slot.target == nullptr) break;
    if (slot.start != nullptr && slot.end != nullptr) {
      result.captures.emplace_back(slot.target, std::string(slot.start, slot.end));
    } else {
      result.captures.emplace_back(slot.target, std::string());
    }
  }
  return result;
}

}  // namespace keytwine::testing
