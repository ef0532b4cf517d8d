// A plain matcher that follows the matching rules literally: a recursive depth-first search over
// the automaton in edge order, with only the two mends decided for the project: a path never
// enters a (state, position) pair that it already holds, and a capture takes its positions from
// the winning path only. It remembers no failed pairs, so a step budget stops it. The tests and
// the fuzz target check the fast matcher against it.
#ifndef KEYTWINE_TESTS_SCRIPT_PATTERN_REFERENCE_MATCHER_H
#define KEYTWINE_TESTS_SCRIPT_PATTERN_REFERENCE_MATCHER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "script/pattern/pattern.h"

namespace keytwine::testing {

// Each assigned capture: its target (first % of its token) and its text, in slot order.
using CaptureList = std::vector<std::pair<const char*, std::string>>;

struct ReferenceResult {
  int matched = 0;  // 1 or 0; -1 when the step budget ran out
  CaptureList captures;
};

ReferenceResult ReferenceMatch(const CompiledPattern* pattern, const char* text,
                               int64_t stepBudget = INT64_MAX);

// What MatchPattern answers and assigns, in the same form.
ReferenceResult FastMatch(const CompiledPattern* pattern, const std::string& text);

}  // namespace keytwine::testing

#endif  // KEYTWINE_TESTS_SCRIPT_PATTERN_REFERENCE_MATCHER_H
