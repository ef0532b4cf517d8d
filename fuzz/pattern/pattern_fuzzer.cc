// libFuzzer target: compiles a pattern and matches it against a text, and checks the fast matcher
// against the reference matcher of the tests when the input is small.
//
// Input: one flag byte, then the pattern, a NUL byte and the text (up to the next NUL). Without
// a NUL the pattern is matched against itself. Flag bit 0 selects code page 932 (Shift JIS)
// instead of UTF-8; flag bit 1 repeats the text up to at least 8,192 bytes (long paths, memo
// blocks, stack growth) when the pattern has at most 100 states. (The search costs up to states
// x text length steps; larger products only make the fuzzer slow.)
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "script/pattern/pattern.h"
#include "script/port/port.h"
#include "tests/script/pattern/reference_matcher.h"

namespace {

using keytwine::CompiledPattern;

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t split = input.find('\0');
  const std::string pattern = input.substr(0, split);
  std::string text = split == std::string::npos ? pattern : input.substr(split + 1);
  text = text.substr(0, text.find('\0'));
  if ((flags & 1) != 0) keytwine::port::SetCodePage(keytwine::port::kCodePageShiftJis);

  CompiledPattern* compiled = keytwine::CompilePattern(pattern.c_str());
  if (compiled != nullptr) {
    if ((flags & 2) != 0 && !text.empty() && compiled->stateCount <= 100) {
      const std::string unit = text;
      while (text.size() < 8192) text += unit;
    }
    if (compiled->stateCount > keytwine::kPatternMaxStates) __builtin_trap();
    keytwine::DumpPattern(compiled);
    CheckingSink sink{text.c_str(), text.size(), {}};
    const keytwine::CaptureSink captureSink{&sink, &CheckingSink::Assign};
    const int matched = keytwine::MatchPattern(&captureSink, compiled, text.c_str());
    if (matched != 0 && matched != 1) __builtin_trap();
    if (static_cast<int32_t>(sink.captures.size()) != compiled->captureCount) __builtin_trap();
    if (keytwine::MatchPattern(nullptr, compiled, text.c_str()) != matched) __builtin_trap();
    if (text.size() <= 64 && compiled->stateCount <= 400) {
      const keytwine::testing::ReferenceResult reference =
          keytwine::testing::ReferenceMatch(compiled, text.c_str(), 20000);
      if (reference.matched >= 0 &&
          (reference.matched != matched || reference.captures != sink.captures)) {
        __builtin_trap();
      }
    }
    keytwine::FreePattern(compiled);
  }
  if (pattern.size() <= 4096) keytwine::DumpPatternTree(pattern.c_str());

  if ((flags & 1) != 0) keytwine::port::SetCodePage(keytwine::port::kCodePageUtf8);
  return 0;
}
