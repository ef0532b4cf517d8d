// A plain matcher that follows the matching rules literally, without shortcuts: recursive
// depth-first search over the automaton in edge order, with only the two mends decided for the
// project:
// - a path never enters a (state, position) pair that it already holds (empty-loop guard);
// - a capture takes its positions from the winning path only (registrations are taken back when
//   the path that made them fails), so a capture the winning path did not pass stays empty.
// It has no memory of failed pairs, so it can take exponential time; a step budget stops it.
// Used by the tests and the fuzz target to check the fast matcher.
#ifndef KEYTWINE_TESTS_SCRIPT_PATTERN_REFERENCE_MATCHER_H
#define KEYTWINE_TESTS_SCRIPT_PATTERN_REFERENCE_MATCHER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "script/pattern/pattern.h"

namespace keytwine::testing {

// One assigned capture: the target pointer (first % of its token) and the text.
using CaptureList = std::vector<std::pair<const char*, std::string>>;

struct ReferenceResult {
  int matched = 0;       // 1 or 0; -1 when the step budget ran out
  CaptureList captures;  // in slot order, as MatchPattern step 8 assigns them
};

ReferenceResult ReferenceMatch(const CompiledPattern* pattern, const char* text,
                               int64_t stepBudget = INT64_MAX);

// The independent class matcher of the reference.
bool ReferenceMatchClass(const char* classText, const char* at);

// A CaptureSink that records what MatchPattern assigns.
struct RecordingSink {
  CaptureList captures;
  CaptureSink sink{this, &RecordingSink::Assign};

  RecordingSink() = default;
  RecordingSink(const RecordingSink&) = delete;
  RecordingSink& operator=(const RecordingSink&) = delete;

  static void Assign(void* context, const char* target, const char* text, size_t length) {
    static_cast<RecordingSink*>(context)->captures.emplace_back(target, std::string(text, length));
  }
};

}  // namespace keytwine::testing

#endif  // KEYTWINE_TESTS_SCRIPT_PATTERN_REFERENCE_MATCHER_H
