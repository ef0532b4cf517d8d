// Error reporting: formats one report line (message, script and function, line number and line
// text) and hands it to the host's error native.
#include <cstring>
#include <functional>
#include <utility>

#include "script/runtime/engine.h"
#include "script/runtime/error.h"
#include "script/text/text.h"

namespace keytwine {

namespace {

bool IsLineEnd(char c) {
  return c == 0 || c == '\r' || c == '\n';
}
bool IsBlank(char c) {
  return c == '\r' || c == '\n' || c == '\t' || c == ' ';
}

// Bytes of the character at p: a lead byte followed by a byte that ends nothing (not NUL, CR or
// LF) makes a two-byte character.
size_t CharacterBytes(const char* p) {
  if (port::IsDBCSLeadByte(static_cast<uint8_t>(p[0])) && !IsLineEnd(p[1])) return 2;
  return 1;
}

// Appends text to a fixed buffer, keeping it terminated and cutting only between characters.
class ReportText {
 public:
  ReportText(char* out, size_t size) : out_(out), size_(size) {
    if (size_ > 0) out_[0] = 0;
  }

  // Appends text up to its NUL, or up to a CR or LF as well when stopAtLineEnd is set. Once a
  // text has been cut, nothing more is appended.
  void Append(const char* text, bool stopAtLineEnd = false) {
    if (text == nullptr || full_) return;
    while (*text != 0 && !(stopAtLineEnd && IsLineEnd(*text))) {
      const size_t bytes = CharacterBytes(text);
      if (length_ + bytes + 1 > size_) {
        full_ = true;
        return;
      }
      std::memcpy(out_ + length_, text, bytes);
      length_ += bytes;
      out_[length_] = 0;
      text += bytes;
    }
  }

  void AppendNumber(int32_t value) {
    NumberText number;
    Append(FormatInteger(value, number));
  }

  size_t length() const { return length_; }

 private:
  char* out_;
  size_t size_;
  size_t length_ = 0;
  bool full_ = false;
};

const Frame* Outermost(const Frame* frame) {
  while (frame->parent != nullptr) frame = frame->parent;
  return frame;
}

// True when position points into source, its terminating NUL included. Compared as addresses:
// the position may belong to another object altogether.
bool IsInside(const char* position, const char* source) {
  const std::less_equal<const char*> notAfter;
  return notAfter(source, position) && notAfter(position, source + std::strlen(source));
}

// ":(" + line + ") : " + the line's text from its first non-blank byte.
void AppendSourceLine(ReportText& text, const char* source, const char* position) {
  int32_t line = 1;
  const char* lineStart = source;
  for (const char* p = source; p != position; ++p) {
    if (*p == '\n') {
      ++line;
      lineStart = p;
    }
  }
  while (IsBlank(*lineStart)) ++lineStart;
  text.Append(":(");
  text.AppendNumber(line);
  text.Append(") : ");
  text.Append(lineStart, /*stopAtLineEnd=*/true);
}

}  // namespace

size_t FormatReport(const Frame* frame, const char* message, const char* position,
                    int32_t continuation, char* out, size_t outSize) {
  ReportText text(out, outSize);
  if (frame == nullptr || outSize == 0) return 0;
  const Frame* outer = Outermost(frame);
  const Script* script = outer->script;
  const char* scriptName = script != nullptr ? script->name : nullptr;
  if (continuation != 0) {
    text.Append("        at ");
  } else {
    text.Append("### Error: ");
    text.Append(message);
    text.Append(" : ");
  }
  text.Append(scriptName);
  if (scriptName != nullptr && outer->functionName != nullptr) text.Append(".");
  text.Append(outer->functionName);
  if (position != nullptr) {
    const char* source = script != nullptr ? script->source : nullptr;
    if (source != nullptr && IsInside(position, source)) {
      AppendSourceLine(text, source, position);
    } else {
      text.Append(" : ");
      text.Append(position);
    }
  }
  return text.length();
}

void ReportError(Frame* frame, const char* message, const char* position, int32_t continuation) {
  if (frame == nullptr || IsStopping()) return;
  // A report must get through when memory has run out (it is often the report of exactly that),
  // so neither the text nor the records handed to the native are allocated.
  char text[kReportCapacity];
  FormatReport(frame, message, position, continuation, text, sizeof text);
  const NativeFunction deliver = FindNative(kErrorNativeName);
  if (deliver == nullptr) return;
  Value argument{};
  ValueData argumentData{};
  argumentData.text = text;
  argumentData.type = kTypeString;
  argumentData.owner = &argument;
  argument.data = &argumentData;
  Value result{};
  ValueData resultData{};
  resultData.owner = &result;
  result.data = &resultData;
  char reply[kNativeMessageSize] = {};
  Frame* outer = frame;
  while (outer->parent != nullptr) outer = outer->parent;
  deliver(outer, &argument, &result, reply);  // the native's status is not used
  // Whatever the native left in its result is dropped.
  if (resultData.type == kTypeString) port::Free(resultData.text);
  FreeValueChain(result.elements);
}

void ReportNamedError(Frame* frame, const char* name, const char* suffix, const char* position) {
  if (frame == nullptr || IsStopping()) return;
  char message[kReportCapacity];
  ReportText text(message, sizeof message);
  text.Append(name);
  text.Append(suffix);
  ReportError(frame, message, position);
}

}  // namespace keytwine
