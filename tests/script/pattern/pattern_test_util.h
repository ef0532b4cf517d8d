// Helpers shared by the pattern tests.
#ifndef KEYTWINE_TESTS_SCRIPT_PATTERN_PATTERN_TEST_UTIL_H
#define KEYTWINE_TESTS_SCRIPT_PATTERN_PATTERN_TEST_UTIL_H

#include <cstdint>
#include <string>

#include "script/pattern/pattern.h"
#include "script/port/port.h"

namespace keytwine::testing {

// The parse tree of a pattern as text, or "(null)".
inline std::string Tree(const std::string& text) {
  port::Owned<char> tree = DumpPatternTree(text.c_str());
  return tree ? std::string(tree.get()) : std::string("(null)");
}

// The automaton of a pattern as text, or "(null)".
inline std::string Automaton(const std::string& text) {
  CompiledPattern* pattern = CompilePattern(text.c_str());
  port::Owned<char> dump = DumpPattern(pattern);
  FreePattern(pattern);
  return dump ? std::string(dump.get()) : std::string("(null)");
}

// Whether the pattern matches the text (no captures).
inline bool Matches(const std::string& pattern, const std::string& text) {
  CompiledPattern* compiled = CompilePattern(pattern.c_str());
  const bool result = MatchPattern(nullptr, compiled, text.c_str()) == 1;
  FreePattern(compiled);
  return result;
}

// Selects a code page for the life of the object and restores UTF-8 afterwards.
class CodePageScope {
 public:
  explicit CodePageScope(uint32_t cp) { ok_ = port::SetCodePage(cp); }
  ~CodePageScope() { port::SetCodePage(port::kCodePageUtf8); }
  CodePageScope(const CodePageScope&) = delete;
  CodePageScope& operator=(const CodePageScope&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

}  // namespace keytwine::testing

#endif  // KEYTWINE_TESTS_SCRIPT_PATTERN_PATTERN_TEST_UTIL_H
