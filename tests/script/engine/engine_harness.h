// Test harness of the executor: an engine head with scripts parsed from text, a host table of
// six natives that record what scripts print and every error report, and helpers that run a
// script's top level the way the engine's life cycle does.
#ifndef KEYTWINE_TESTS_SCRIPT_ENGINE_ENGINE_HARNESS_H
#define KEYTWINE_TESTS_SCRIPT_ENGINE_ENGINE_HARNESS_H

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/port/port.h"
#include "script/runtime/calls.h"
#include "script/runtime/engine.h"
#include "script/runtime/error.h"
#include "script/runtime/execute.h"
#include "script/text/text.h"

namespace keytwine::testing {

// What the natives saw, shared by every thread of a test.
struct Recorder {
  std::mutex mutex;
  std::vector<std::string> printed;
  std::vector<std::string> errors;
};

inline Recorder& Recorded() {
  static Recorder recorder;
  return recorder;
}

// The text of a value as print shows it: a list (an argument standing for its list, or one that
// has elements) as {a,b,name:c} with nested lists alike, else the scalar's string form.
inline std::string Show(const Value* value) {
  if (value == nullptr || value->data == nullptr) return "<none>";
  const Value* holder = value->data->owner != nullptr ? value->data->owner : value;
  if (value->wholeList != 0 || holder->elements != nullptr) {
    std::string text = "{";
    for (const Value* element = holder->elements; element != nullptr; element = element->next) {
      if (element != holder->elements) text += ',';
      if (element->name != nullptr) text += std::string(element->name) + ':';
      text += Show(element);
    }
    return text + '}';
  }
  NumberText number;
  return ToText(value->data, number);
}

inline int32_t NativeError(Frame* /*frame*/, Value* first, Value* /*result*/, char* /*message*/) {
  if (first == nullptr) return -2;
  std::lock_guard<std::mutex> guard(Recorded().mutex);
  Recorded().errors.push_back(Show(first));
  return 0;
}

// print(a, b, ...): one line, the arguments' texts joined by spaces.
inline int32_t NativePrint(Frame* /*frame*/, Value* first, Value* /*result*/, char* /*message*/) {
  std::string line;
  for (const Value* argument = first; argument != nullptr; argument = argument->next) {
    if (argument != first) line += ' ';
    line += Show(argument);
  }
  std::lock_guard<std::mutex> guard(Recorded().mutex);
  Recorded().printed.push_back(line);
  return 0;
}

// fail(): -1 with a message that fills the whole buffer without a terminator.
inline int32_t NativeFail(Frame* /*frame*/, Value* /*first*/, Value* /*result*/, char* message) {
  for (size_t i = 0; i < kNativeMessageSize; ++i) message[i] = static_cast<char>('a' + i % 26);
  return -1;
}

// need(x): -2 without an argument, else the argument's integer times 2.
inline int32_t NativeNeed(Frame* /*frame*/, Value* first, Value* result, char* /*message*/) {
  if (first == nullptr) return -2;
  result->data->integer = ToInteger(first->data) * 2;
  return 0;
}

// quiet(): fails without a report.
inline int32_t NativeQuiet(Frame* /*frame*/, Value* /*first*/, Value* /*result*/,
                           char* /*message*/) {
  return -7;
}

// poke(&x): writes 99 through its first argument; returns the number of arguments.
inline int32_t NativePoke(Frame* /*frame*/, Value* first, Value* result, char* /*message*/) {
  int32_t count = 0;
  for (const Value* argument = first; argument != nullptr; argument = argument->next) ++count;
  if (first != nullptr) SetIntegerData(first->data, 99);
  result->data->integer = count;
  return 0;
}

inline NativeEntry* TestNatives() {
  static NativeEntry table[] = {
      {"_sfunc_error", 0, &NativeError}, {"_sfunc_print", 0, &NativePrint},
      {"_sfunc_fail", 0, &NativeFail},   {"_sfunc_need", 0, &NativeNeed},
      {"_sfunc_quiet", 0, &NativeQuiet}, {"_sfunc_poke", 0, &NativePoke},
  };
  return table;
}
inline constexpr int32_t kTestNativeCount = 6;

inline std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text;
}

// The first line of an error report at a line of a script's top level.
inline std::string ErrorAt(const std::string& message, const std::string& where, int line,
                           const std::string& text) {
  return "### Error: " + message + " : " + where + ":(" + std::to_string(line) + ") : " + text;
}
inline std::string AtLine(const std::string& where, int line, const std::string& text) {
  return "        at " + where + ":(" + std::to_string(line) + ") : " + text;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port::FailAllocationAfter(0);
    SetStopFlag(0);
    InstallNativeTable(TestNatives(), kTestNativeCount);
    Take();
    engine_ = NewEngine(0);
    ASSERT_NE(engine_, nullptr);
  }

  void TearDown() override {
    port::FailAllocationAfter(0);
    SetStopFlag(0);
    SetStepHook(nullptr);
    SetThreadStartHook(nullptr);
    FreeScriptChain(engine_, &ReleaseChain);
    ReleaseRetiredLists();
    InstallNativeTable(nullptr, 0);
    EXPECT_EQ(ActiveCount(), 0);
  }

  // Appends a script called name to the engine and parses source into it. Null when the parse
  // failed (the reports are recorded).
  Script* Load(const std::string& name, const std::string& source) {
    Script* script = AppendScript(engine_);
    EXPECT_NE(script, nullptr);
    script->name = Duplicate(name.c_str()).release();
    script->source = Duplicate(source.c_str()).release();
    Frame load{};
    load.functionName = script->name;
    load.script = script;
    script->topLevel = ParseScript(&load, script->source, 0);
    LeaveFrame(&load);
    if (script->topLevel == nullptr && !Recorded().errors.empty()) return nullptr;
    return script;
  }

  // Runs script's top level in a top-level frame. With promote, the top level's variables become
  // the script's globals (shared), as after a real run; otherwise they are freed.
  ExecResult RunTop(Script* script, bool promote = false) {
    Frame frame{};
    frame.functionName = script->name;
    frame.script = script;
    int32_t breakCounter = 0;
    const ExecResult result = Execute(&frame, script->topLevel, nullptr, nullptr, &breakCounter);
    if (promote) {
      MarkShared(frame.locals);
      FreeValueChain(script->globals);
      script->globals = frame.locals;
      frame.locals = nullptr;
    }
    LeaveFrame(&frame);
    return result;
  }

  // Loads source as the script "test", runs it and returns what it printed, one line per print.
  std::string Run(const std::string& source) {
    Take();
    Script* script = Load("test", source);
    if (script == nullptr) return "<parse failed>";
    last_ = RunTop(script);
    return Joined(Take().printed);
  }

  // Takes the recorded prints and errors.
  struct Taken {
    std::vector<std::string> printed;
    std::vector<std::string> errors;
  };
  Taken Take() {
    std::lock_guard<std::mutex> guard(Recorded().mutex);
    Taken taken;
    taken.printed.swap(Recorded().printed);
    taken.errors.swap(Recorded().errors);
    errors_.insert(errors_.end(), taken.errors.begin(), taken.errors.end());
    return taken;
  }

  // Errors reported since the last call, joined by newlines.
  std::string Errors() {
    Take();
    std::string text = Joined(errors_);
    errors_.clear();
    return text;
  }

  Script* engine_ = nullptr;
  ExecResult last_ = ExecResult::Normal;
  std::vector<std::string> errors_;
};

}  // namespace keytwine::testing

#endif  // KEYTWINE_TESTS_SCRIPT_ENGINE_ENGINE_HARNESS_H
