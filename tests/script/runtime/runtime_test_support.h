// Test support for the runtime records: an engine with loaded scripts, and an error native that
// records every delivered report.
#ifndef KEYTWINE_TESTS_SCRIPT_RUNTIME_RUNTIME_TEST_SUPPORT_H
#define KEYTWINE_TESTS_SCRIPT_RUNTIME_RUNTIME_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "script/port/port.h"
#include "script/runtime/engine.h"
#include "script/runtime/error.h"
#include "script/text/text.h"

namespace keytwine::testing {

// Every text delivered to "_sfunc_error", and the frame it was delivered with.
struct ErrorLog {
  std::mutex mutex;
  std::vector<std::string> reports;
  const Frame* lastFrame = nullptr;
};

inline ErrorLog& Errors() {
  static ErrorLog log;
  return log;
}

inline int32_t RecordError(Frame* frame, Value* first, Value* /*result*/, char* /*message*/) {
  ErrorLog& log = Errors();
  std::lock_guard<std::mutex> guard(log.mutex);
  log.lastFrame = frame;
  if (first == nullptr || first->data == nullptr || first->data->type != kTypeString) {
    log.reports.emplace_back("<not a string argument>");
  } else {
    log.reports.emplace_back(first->data->text);
  }
  return 0;
}

inline int32_t Unused(Frame*, Value*, Value*, char*) {
  return 0;
}

// A host table in which only the error row does anything.
inline NativeEntry* HostTable() {
  static NativeEntry table[] = {
      {"_sfunc_swap", 0, Unused},
      {"_sfunc_error", 0, RecordError},
      {"_sfunc_debugmode", 0, Unused},
  };
  return table;
}

inline std::vector<std::string> TakeReports() {
  ErrorLog& log = Errors();
  std::lock_guard<std::mutex> guard(log.mutex);
  std::vector<std::string> taken;
  taken.swap(log.reports);
  return taken;
}

inline char* EngineString(const char* text) {
  return Duplicate(text).release();
}

// An engine head with two loaded scripts, "Keytwine" and "Extra", and the recording error native
// installed. Frames made with TopFrame() run in the first script.
class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port::FailAllocationAfter(0);
    InstallNativeTable(HostTable(), 3);
    TakeReports();
    engine_ = NewEngine(0);
    ASSERT_NE(engine_, nullptr);
    main_ = AddScript("Keytwine", "x = 1;\n");
    extra_ = AddScript("Extra", "");
  }

  void TearDown() override {
    port::FailAllocationAfter(0);
    SetStopFlag(0);
    FreeScriptChain(engine_, nullptr);
    InstallNativeTable(nullptr, 0);
  }

  Script* AddScript(const char* name, const char* source) {
    Script* script = AppendScript(engine_);
    EXPECT_NE(script, nullptr);
    script->name = EngineString(name);
    script->source = EngineString(source);
    return script;
  }

  // Replaces the main script's source text (so positions can point into it).
  const char* SetSource(const char* source) {
    port::Free(main_->source);
    main_->source = EngineString(source);
    return main_->source;
  }

  Frame TopFrame() {
    Frame frame{};
    frame.functionName = main_->name;
    frame.script = main_;
    return frame;
  }

  Script* engine_ = nullptr;
  Script* main_ = nullptr;
  Script* extra_ = nullptr;
};

// ValueData views for passing indexes and sources.
inline ValueData IntegerData(int32_t value) {
  ValueData data{};
  data.integer = value;
  data.type = kTypeInteger;
  return data;
}

inline ValueData TextData(const char* text) {
  ValueData data{};
  data.text = const_cast<char*>(text);
  data.type = kTypeString;
  return data;
}

inline std::string TextOf(const Value* value) {
  NumberText number;
  return ToText(value->data, number);
}

}  // namespace keytwine::testing

#endif  // KEYTWINE_TESTS_SCRIPT_RUNTIME_RUNTIME_TEST_SUPPORT_H
