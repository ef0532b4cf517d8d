// String literals with %reference% interpolation, and the evaluation of capture targets that
// string building and the pattern matcher share.
#include <cstring>
#include <utility>

#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/pattern/pattern.h"
#include "script/runtime/error.h"
#include "script/runtime/execute.h"
#include "script/runtime/executor_internal.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

// A string growing in engine memory.
class TextBuffer {
 public:
  TextBuffer() = default;
  ~TextBuffer() { port::Free(bytes_); }
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  bool Append(const char* text, size_t length) {
    if (length_ + length + 1 > capacity_ && !Grow(length_ + length + 1)) return false;
    std::memcpy(bytes_ + length_, text, length);
    length_ += length;
    bytes_[length_] = 0;
    return true;
  }

  // The text built (an empty string when nothing was appended); null when memory runs out.
  Owned<char> Take() {
    if (bytes_ == nullptr && !Grow(1)) return nullptr;
    bytes_[length_] = 0;
    Owned<char> text(bytes_);
    bytes_ = nullptr;
    length_ = capacity_ = 0;
    return text;
  }

 private:
  bool Grow(size_t needed) {
    size_t capacity = capacity_ < 32 ? 32 : capacity_;
    while (capacity < needed) capacity *= 2;
    auto* bytes = static_cast<char*>(port::Alloc(capacity));
    if (bytes == nullptr) return false;
    if (bytes_ != nullptr) std::memcpy(bytes, bytes_, length_ + 1);
    port::Free(bytes_);
    bytes_ = bytes;
    capacity_ = capacity;
    return true;
  }

  char* bytes_ = nullptr;
  size_t length_ = 0;
  size_t capacity_ = 0;
};

// The capture sink of MatchAndAssign: the captured text goes into the variable that the
// capture's target reference designates.
void AssignCapture(void* context, const char* target, const char* text, size_t length) {
  auto* frame = static_cast<Frame*>(context);
  Owned<char> copy = DuplicateN(text, static_cast<int32_t>(length + 1));
  if (copy == nullptr) {
    ReportError(frame, kAllocFailed, target);
    return;
  }
  ValuePtr variable(ResolveCaptureTarget(frame, target));
  if (variable == nullptr) return;
  ValueData data{};
  data.text = copy.get();
  data.type = kTypeString;
  AssignData(frame, variable->data, &data);
}

// Runs a reference chain in frame. Postfix operators inside the reference are applied when it
// ends (a reference is a complete expression), without touching increments that the enclosing
// expression has queued.
ExecResult RunReference(Frame* frame, SyntaxNode* chain, Value** out) {
  Value* increments = frame->pendingIncrements;
  Value* decrements = frame->pendingDecrements;
  frame->pendingIncrements = nullptr;
  frame->pendingDecrements = nullptr;
  const char* position = frame->position;
  const int32_t stopKind = frame->stopKind;
  frame->stopKind = 0;
  const ExecResult result = Execute(frame, chain, nullptr, out, nullptr);
  frame->stopKind = stopKind;
  exec::ApplyPending(frame);
  frame->pendingIncrements = increments;
  frame->pendingDecrements = decrements;
  // The chain's positions point into text that is about to be freed.
  frame->position = position;
  return result;
}

}  // namespace

Value* ResolveCaptureTarget(Frame* frame, const char* target) {
  if (frame == nullptr || target == nullptr) return nullptr;
  size_t length = 0;
  const char* name = CaptureTargetName(target, &length);
  Owned<char> text = DuplicateN(name, static_cast<int32_t>(length + 1));
  if (text == nullptr) {
    ReportError(frame, kAllocFailed, target);
    return nullptr;
  }
  ChainPtr chain(ParseReference(frame, text.get()));
  if (chain == nullptr) {
    ReportError(frame, kSentenceError, target);
    return nullptr;
  }
  Value* out = nullptr;
  const ExecResult result = RunReference(frame, chain.get(), &out);
  ValueChainPtr values(out);
  if (result == ExecResult::Failed) return nullptr;
  // A reference that leaves no value ({} or an empty call result cannot) is reported rather than
  // failing the literal silently.
  if (out == nullptr || out->data == nullptr) {
    ReportError(frame, kSentenceError, target);
    return nullptr;
  }
  Value* first = values.release();
  FreeValueChain(first->next);
  first->next = nullptr;
  first->pattern = nullptr;  // the chain that owned it is released
  return first;
}

int32_t MatchAndAssign(Frame* frame, const CompiledPattern* pattern, const char* text) {
  if (frame == nullptr) return MatchPattern(nullptr, pattern, text);
  const CaptureSink sink{frame, &AssignCapture};
  const int32_t matched = MatchPattern(&sink, pattern, text);
  if (matched < 0) ReportError(frame, kAllocFailed, frame->position);
  return matched;
}

Owned<char> BuildString(Frame* frame, const char* literal) {
  const char* position = frame != nullptr ? frame->position : nullptr;
  Owned<char> copy = Duplicate(literal != nullptr ? literal : "");
  if (copy == nullptr) {
    ReportError(frame, kAllocFailed, position);
    return nullptr;
  }
  UnescapeInPlace(copy.get());
  if (std::strchr(copy.get(), '%') == nullptr) return copy;
  TextBuffer out;
  const char* p = copy.get();
  while (*p != 0) {
    const int bytes = CharacterLength(p);
    if (bytes == 2 || *p != '%') {
      if (!out.Append(p, static_cast<size_t>(bytes))) break;
      p += bytes;
      continue;
    }
    if (p[1] == '%') {  // %% is one percent sign
      if (!out.Append(p, 1)) break;
      p += 2;
      continue;
    }
    // The reference is evaluated once and its text taken at once.
    ValuePtr value(ResolveCaptureTarget(frame, p));
    if (value == nullptr) return nullptr;
    Owned<char> text = exec::TextOf(frame, value.get());
    if (text == nullptr || !out.Append(text.get(), std::strlen(text.get()))) break;
    size_t length = 0;
    CaptureTargetName(p, &length);
    p += 1 + length;
    if (*p == '%') ++p;
  }
  Owned<char> built = *p == 0 ? out.Take() : nullptr;
  if (built == nullptr) ReportError(frame, kAllocFailed, position);
  return built;
}

}  // namespace keytwine
