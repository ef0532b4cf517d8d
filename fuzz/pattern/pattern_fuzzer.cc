// libFuzzer target: compiles a pattern and matches it against a text, and checks the fast matcher
// against the reference matcher of the tests when the input is small.
//
// Input: one flag byte, then the pattern, a NUL byte and the text (up to the next NUL). Without
// a NUL the pattern is matched against itself. Flag bit 0 selects code page 932 (Shift JIS)
// instead of UTF-8; flag bit 1 repeats the text to a long one (long paths, several memo blocks,
// stack growth).
//
// Inputs stay well under a millisecond on average. Compiling costs about a microsecond per
// state, so patterns whose counts could repeat an atom more than kMaxRepeat times are skipped
// (the unit tests cover the compiler's limits); a match costs up to states x text length steps,
// so the text is cut to a work budget, which still lets bit-1 texts run past the inline search
// stack.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "script/pattern/pattern.h"
#include "script/port/port.h"
#include "tests/script/pattern/reference_matcher.h"

namespace {

using keytwine::CompiledPattern;

constexpr size_t kMaxInputBytes = 512;
constexpr uint64_t kMaxRepeat = 100;
constexpr size_t kMatchWork = size_t{1} << 11;      // states x text bytes of one match
constexpr size_t kLongMatchWork = size_t{1} << 13;  // the same for a repeated (bit 1) text
constexpr size_t kLongTextBytes = 8192;
constexpr size_t kDumpMaxStates = 2000;
// The reference search may take exponential time: it runs on small cases with a step budget.
constexpr size_t kReferenceMaxText = 48;
constexpr int32_t kReferenceMaxStates = 200;
constexpr int64_t kReferenceSteps = 4000;

struct CheckingSink {
  const char* text;
  size_t textLength;
  keytwine::testing::CaptureList captures;

  static void Assign(void* context, const char* target, const char* bytes, size_t length) {
    auto* self = static_cast<CheckingSink*>(context);
    // A captured text is a piece of the text, or the empty string.
    if (length != 0 && (bytes < self->text || bytes + length > self->text + self->textLength)) {
      __builtin_trap();
    }
    self->captures.emplace_back(target, std::string(bytes, length));
  }
};

// An upper bound of how often counts repeat an atom: the product of the larger number of every
// count (a `}` outside a count repeats the last one). Escaped braces and braces inside classes
// are counted too, which only makes the bound larger.
uint64_t RepeatBound(const std::string& pattern) {
  uint64_t bound = 1;
  uint64_t last = 1;
  for (size_t i = 0; i < pattern.size() && bound <= kMaxRepeat; ++i) {
    if (pattern[i] == '}') bound *= last;
    if (pattern[i] != '{') continue;
    uint64_t numbers[2] = {0, 0};
    int which = 0;
    for (++i; i < pattern.size() && pattern[i] != '}'; ++i) {
      const char c = pattern[i];
      if (c == ',') which = 1;
      if (c >= '0' && c <= '9' && numbers[which] <= kMaxRepeat) {
        numbers[which] = numbers[which] * 10 + static_cast<uint64_t>(c - '0');
      }
    }
    last = (numbers[0] > numbers[1] ? numbers[0] : numbers[1]) + 1;
    bound *= last;
  }
  return bound;
}

// The text a match runs on: repeated when asked, then cut to the work budget.
std::string TextToMatch(std::string text, bool repeat, int32_t stateCount) {
  const auto states = static_cast<size_t>(stateCount > 0 ? stateCount : 1);
  if (repeat && !text.empty()) {
    const std::string unit = text;
    while (text.size() < kLongTextBytes) text += unit;
  }
  const size_t limit = (repeat ? kLongMatchWork : kMatchWork) / states;
  if (text.size() > limit) text.resize(limit);
  return text;
}

void CheckMatch(const CompiledPattern* compiled, const std::string& text) {
  CheckingSink sink{text.c_str(), text.size(), {}};
  const keytwine::CaptureSink captureSink{&sink, &CheckingSink::Assign};
  const int matched = keytwine::MatchPattern(&captureSink, compiled, text.c_str());
  if (matched != 0 && matched != 1) __builtin_trap();
  if (static_cast<int32_t>(sink.captures.size()) != compiled->captureCount) __builtin_trap();
  if (keytwine::MatchPattern(nullptr, compiled, text.c_str()) != matched) __builtin_trap();
  if (text.size() > kReferenceMaxText || compiled->stateCount > kReferenceMaxStates) return;
  const keytwine::testing::ReferenceResult reference =
      keytwine::testing::ReferenceMatch(compiled, text.c_str(), kReferenceSteps);
  if (reference.matched >= 0 &&
      (reference.matched != matched || reference.captures != sink.captures)) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInputBytes) return 0;
  const uint8_t flags = data[0];
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t split = input.find('\0');
  const std::string pattern = input.substr(0, split);
  if (RepeatBound(pattern) > kMaxRepeat) return 0;
  std::string text = split == std::string::npos ? pattern : input.substr(split + 1);
  text = text.substr(0, text.find('\0'));
  if ((flags & 1) != 0) keytwine::port::SetCodePage(keytwine::port::kCodePageShiftJis);

  CompiledPattern* compiled = keytwine::CompilePattern(pattern.c_str());
  if (compiled != nullptr) {
    if (compiled->stateCount > keytwine::kPatternMaxStates) __builtin_trap();
    if (compiled->stateCount <= static_cast<int32_t>(kDumpMaxStates)) {
      keytwine::DumpPattern(compiled);
    }
    CheckMatch(compiled, TextToMatch(text, (flags & 2) != 0, compiled->stateCount));
    keytwine::FreePattern(compiled);
  }
  keytwine::DumpPatternTree(pattern.c_str());

  if ((flags & 1) != 0) keytwine::port::SetCodePage(keytwine::port::kCodePageUtf8);
  return 0;
}
