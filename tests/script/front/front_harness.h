// Test harness of the front end: a script record named "test" to parse into, an error sink that
// records every report the engine delivers, and helpers that give a parse's chain dump.
#ifndef KEYTWINE_TESTS_SCRIPT_FRONT_FRONT_HARNESS_H
#define KEYTWINE_TESTS_SCRIPT_FRONT_FRONT_HARNESS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/runtime/engine.h"
#include "script/runtime/error.h"

namespace keytwine::testing {

// Reports delivered to the error native while a FrontTest runs.
inline std::vector<std::string>& RecordedErrors() {
  static std::vector<std::string> errors;
  return errors;
}

inline int32_t RecordError(Frame* /*frame*/, Value* first, Value* /*result*/, char* /*message*/) {
  if (first != nullptr && first->data != nullptr && first->data->type == kTypeString) {
    RecordedErrors().emplace_back(first->data->text);
  }
  return 0;
}

// A parse of one text into a script named "test", with the reports it caused.
class FrontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordedErrors().clear();
    natives_[0] = {kErrorNativeName, 0, &RecordError};
    InstallNativeTable(natives_, 1);
    script_.name = name_;
    script_.directory = directory_;
    script_.engine = &script_;
    frame_.script = &script_;
  }

  void TearDown() override {
    ReleaseChain(chain_);
    ReleaseFunctionList(script_.functions);
    InstallNativeTable(nullptr, 0);
    SetDirectiveHandler(nullptr);
  }

  // Parses text as a whole script; the chain stays alive until the next parse or the end of the
  // test. Returns the chain dump, or "FAILED" when the parse returned null after a report.
  std::string Parse(const std::string& text) {
    ReleaseChain(chain_);
    chain_ = nullptr;
    ReleaseFunctionList(script_.functions);
    script_.functions = nullptr;
    RecordedErrors().clear();
    source_ = text;
    script_.source = source_.data();
    chain_ = ParseScript(&frame_, script_.source, 0);
    if (chain_ == nullptr && !RecordedErrors().empty()) return "FAILED";
    return DumpChain(chain_);
  }

  // The dump of text parsed as one variable reference, or "FAILED" (reported or not).
  std::string Reference(const std::string& text) {
    RecordedErrors().clear();
    source_ = text;
    script_.source = source_.data();
    SyntaxNode* chain = ParseReference(&frame_, script_.source);
    std::string dump = chain != nullptr ? DumpChain(chain) : "FAILED";
    ReleaseChain(chain);
    return dump;
  }

  const std::vector<std::string>& Errors() const { return RecordedErrors(); }

  // Names of the script's function entries in list order, joined by spaces.
  std::string FunctionNames() const {
    std::string names;
    for (const FunctionEntry* entry = script_.functions; entry != nullptr; entry = entry->next) {
      if (!names.empty()) names += ' ';
      names += entry->name;
    }
    return names;
  }

  SyntaxNode* chain_ = nullptr;
  Script script_{};
  Frame frame_{};
  std::string source_;
  char name_[5] = "test";
  char directory_[5] = "dir\\";
  NativeEntry natives_[1]{};
};

// The error line that a report at a token on line `line` of the test script gives.
inline std::string ErrorLine(const std::string& message, int line, const std::string& text) {
  return "### Error: " + message + " : test:(" + std::to_string(line) + ") : " + text;
}

// The parts joined (appending avoids a false -Wrestrict of g++ 12 on "literal" + string).
template <typename... Parts>
std::string Cat(const Parts&... parts) {
  std::string out;
  ((out += parts), ...);
  return out;
}

// Strips the first character (the newline after R"( ) so that dumps can be written as raw
// strings that start on their own line.
inline std::string Lines(const char* text) {
  return std::string(text).substr(1);
}

}  // namespace keytwine::testing

#endif  // KEYTWINE_TESTS_SCRIPT_FRONT_FRONT_HARNESS_H
