#include "tests/script/pattern/reference_matcher.h"

namespace keytwine::testing {
namespace {

using Bytes = const unsigned char*;

bool TwoByte(Bytes at) {
  return port::IsDBCSLeadByte(at[0]) && at[1] != 0;
}

bool LineEnd(const char* at) {
  return *at == '\r' || *at == '\n';
}

// The class rules written out again, apart from the matcher's tables.
bool InClass(Bytes s, Bytes c) {
  const bool negated = *s == '^';
  bool matched = false;
  for (s += negated ? 1 : 0; *s != 0 && !matched;) {
    if (TwoByte(s) && s[2] == '-' && TwoByte(s + 3)) {
      matched = TwoByte(c) && c[0] >= s[0] && c[0] <= s[3] && c[1] >= s[1] && c[1] <= s[4];
      s += 5;
    } else if (TwoByte(s)) {
      matched = TwoByte(c) && c[0] == s[0] && c[1] == s[1];
      s += 2;
    } else if (s[1] == '-' && s[2] != 0) {
      matched = c[0] >= s[0] && c[0] <= s[2];
      s += 3;
    } else if (s[0] == '\\' && s[1] != 0) {
      char expansion[12];
      s = reinterpret_cast<Bytes>(ExpandEscape(reinterpret_cast<const char*>(s), expansion, true));
      matched = InClass(reinterpret_cast<Bytes>(expansion), c);
    } else {
      matched = c[0] == *s++;
    }
  }
  return matched != negated;
}

struct Slot {
  const char *target, *start, *end;
};

struct Search {
  const CompiledPattern* p;
  std::vector<Slot> slots;  // stateCount / 4 is enough for every capture
  std::vector<std::pair<int32_t, const char*>> path;
  int64_t budget;

  // The slot of a capture target: the first that holds it or is free.
  Slot* Find(const char* target) {
    for (Slot& slot : slots) {
      if (slot.target == nullptr) slot.target = target;
      if (slot.target == target) return &slot;
    }
    return nullptr;
  }

  bool OnPath(int32_t state, const char* at) const {
    for (auto it = path.rbegin(); it != path.rend() && it->second == at; ++it)
      if (it->first == state) return true;
    return false;
  }

  bool Step(int32_t state, const char* at) {
    if (--budget < 0) return false;
    if (state == p->finalState) return !p->lineEndAnchored || *at == 0 || LineEnd(at);
    const auto bytes = reinterpret_cast<Bytes>(at);
    for (int32_t e = p->states[state]; e >= 0 && budget >= 0; e = p->edges[e].next) {
      const PatternEdge& edge = p->edges[e];
      const char* next = at;
      if (edge.consumes == 0) {
        if (*at == 0 || (p->lineEndAnchored && LineEnd(at))) continue;
        const auto literal = reinterpret_cast<Bytes>(edge.literal);
        if (edge.kind == kPatternClass
                ? !InClass(reinterpret_cast<Bytes>(edge.classText), bytes)
                : bytes[0] != literal[0] || (TwoByte(bytes) && bytes[1] != literal[1]))
          continue;
        next = at + (TwoByte(bytes) ? 2 : 1);
      }
      if (OnPath(edge.target, next)) continue;  // no empty cycles
      const bool start = edge.startTarget != nullptr;
      Slot* slot = edge.kind == kPatternCaptureMark
                       ? Find(start ? edge.startTarget : edge.endTarget)
                       : nullptr;
      const Slot saved = slot != nullptr ? *slot : Slot{};
      if (slot != nullptr) (start ? slot->start : slot->end) = at;
      path.emplace_back(edge.target, next);
      const bool found = Step(edge.target, next);
      path.pop_back();
      if (found) return true;
      if (slot != nullptr) *slot = saved;  // only the winning path's positions count
    }
    return false;
  }
};

}  // namespace

ReferenceResult ReferenceMatch(const CompiledPattern* pattern, const char* text,
                               int64_t stepBudget) {
  if (pattern == nullptr) return {};
  Search s{pattern, std::vector<Slot>(pattern->stateCount / 4), {}, stepBudget};
  // The slots go to the start marks in the order of the states and of their edge lists.
  for (int32_t state = 0; state < pattern->stateCount; ++state) {
    for (int32_t e = pattern->states[state]; e >= 0; e = pattern->edges[e].next) {
      const PatternEdge& edge = pattern->edges[e];
      if (edge.kind == kPatternCaptureMark && edge.startTarget != nullptr) s.Find(edge.startTarget);
    }
  }
  ReferenceResult result;
  for (const char* at = text; *at != '\0' && result.matched == 0;) {
    s.path.assign(1, {pattern->startState, at});
    result.matched = s.Step(pattern->startState, at) ? 1 : 0;
    if (s.budget < 0) return {-1, {}};
    while (pattern->lineStartAnchored && *at != '\0' && !LineEnd(at)) ++at;
    while (pattern->lineStartAnchored && LineEnd(at)) ++at;
    at += pattern->lineStartAnchored ? 0 : 1;
  }
  for (const Slot& slot : s.slots) {
    if (slot.target == nullptr) break;
    const bool whole = result.matched != 0 && slot.start != nullptr && slot.end != nullptr;
    result.captures.emplace_back(slot.target, whole ? std::string(slot.start, slot.end) : "");
  }
  return result;
}

ReferenceResult FastMatch(const CompiledPattern* pattern, const std::string& text) {
  ReferenceResult result;
  const CaptureSink sink{
      &result.captures, [](void* captures, const char* target, const char* at, size_t length) {
        static_cast<CaptureList*>(captures)->emplace_back(target, std::string(at, length));
      }};
  result.matched = MatchPattern(&sink, pattern, text.c_str());
  return result;
}

}  // namespace keytwine::testing
