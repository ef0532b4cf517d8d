// What a script case cannot show: the step budget, the stop flag and the thread-start hook,
// values built in C++ past the engine's bounds, report formatting no script produces, and the
// command-line tool running out of address space.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "script/front/parser.h"
#include "script/front/tokens.h"
#include "script/pattern/pattern.h"
#include "script/runtime/calls.h"
#include "script/runtime/error.h"
#include "script/runtime/execute.h"
#include "script/runtime/lifecycle.h"
#include "script/text/text.h"

namespace keytwine::testing {
namespace {

std::vector<std::string> lines;  // what print and error received, in order

std::string TextOf(const Value* value) {
  NumberText number;
  return ToText(value->data, number);
}

int32_t NativePrint(Frame*, Value* first, Value*, char*) {
  std::string line;
  for (const Value* argument = first; argument != nullptr; argument = argument->next) {
    if (argument != first) line += ' ';
    line += TextOf(argument);
  }
  lines.push_back(line);
  return 0;
}

int32_t NativeStop(Frame*, Value*, Value*, char*) {
  SetStopFlag(1);
  return 0;
}

NativeEntry natives[] = {{"_sfunc_print", 0, &NativePrint},
                         {"_sfunc_error", 0, &NativePrint},
                         {"_sfunc_stop", 0, &NativeStop}};

Script* Load(Script* engine, const char* source) {
  Script* script = AppendScript(engine);
  script->name = Duplicate("s").release();
  script->source = Duplicate(source).release();
  Frame frame{};
  frame.script = script;
  script->topLevel = ParseScript(&frame, script->source, 0);
  return script;
}

// Runs source as the only script of an engine; returns what it printed and reported.
std::vector<std::string> RunScript(const char* source) {
  Script* engine = NewEngine(0);
  Load(engine, source);
  RunAllScripts(engine);
  FreeScriptChain(engine, &ReleaseChain);
  return std::exchange(lines, {});
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallNativeTable(natives, 3); }
  void TearDown() override {
    SetStopFlag(0);
    SetStepHook(nullptr);
    SetThreadStartHook(nullptr);
    port::SetCodePage(port::kCodePageUtf8);
    FreeScriptChain(engine_, &ReleaseChain);
    ReleaseRetiredLists();
    InstallNativeTable(nullptr, 0);
    EXPECT_EQ(ActiveCount(), 0);
    lines.clear();
  }

  // A frame in function f of a new script of the engine.
  Frame FrameIn(const char* source) {
    Frame frame{};
    frame.script = Load(engine_, source);
    frame.functionName = "f";
    return frame;
  }

  Script* engine_ = NewEngine(0);
};

std::atomic<int32_t> stepsLeft{0};

TEST_F(EngineTest, TheStepBudgetAndTheStopFlagEndScriptsWithoutAReport) {
  stepsLeft = 1000;
  SetStepHook([] { return stepsLeft.fetch_sub(1) > 0; });
  EXPECT_TRUE(RunScript("i = 0; while (1) { i++; } print(i);").empty());
  SetStepHook(nullptr);
  EXPECT_EQ(RunScript("function f() { i = 0; while (1) { if (++i == 3) { print(i); stop(); } } }\n"
                      "f(); print(\"not reached\");"),
            std::vector<std::string>{"3"});
  EXPECT_TRUE(RunScript("print(1);").empty());  // the flag is still set
  Frame frame = FrameIn("");
  ReportError(&frame, "Sentence error", nullptr);
  ReportNamedError(&frame, "a", " :Declaration overlaps", nullptr);
  EXPECT_TRUE(lines.empty());
}

// Mutual recursion reports the bound once and then every level it unwinds through; a direct one,
// even through string references nested in blocks and loops, only the call that started it.
TEST_F(EngineTest, RecursionReportsEveryLevelOfTheCallDepth) {
  const std::vector<std::string> reports =
      RunScript("function f() { g(); }\nfunction g() { f(); }\nf();");
  ASSERT_EQ(reports.size(), static_cast<size_t>(kMaxCallDepth + 2));
  EXPECT_EQ(reports[0], "### Error: Call depth exceeded : s.f:(1) : function f() { g(); }");
  EXPECT_EQ(reports[1], "        at s.g:(2) : function g() { f(); }");
  EXPECT_EQ(reports[2], "        at s.f:(1) : function f() { g(); }");
  EXPECT_EQ(reports.back(), "        at s.s:(3) : f();");
  const std::vector<std::string> nested =
      RunScript("function f(n) { while (1) { if (n) { { { x = \"%f(n + 1)%\"; } } } } }\nf(1);");
  ASSERT_EQ(nested.size(), 2U);
  EXPECT_EQ(nested.front().rfind("### Error: Call depth exceeded : s.f", 0), 0U);
  EXPECT_EQ(nested.back(), "        at s.s:(2) : f(1);");
}

// Line 1 allocates x (record, data, name), its stack alias and the literal (record, data); the
// next allocation is the argument marker of the call on line 2.
TEST_F(EngineTest, AnAllocationFailureIsReportedAtTheStatementThatFailed) {
  Script* script = Load(engine_, "x = 1;\nprint(x);");
  port::FailAllocationAfter(3 + 1 + 2 + 1);
  RunAllScripts(script);
  port::FailAllocationAfter(0);
  EXPECT_EQ(lines, std::vector<std::string>{"### Error: Alloc failed : s.s:(2) : print(x);"});
}

std::string threadStarted;

TEST_F(EngineTest, ThreadStartsGoThroughTheHook) {
  SetThreadStartHook([](Frame*, SyntaxNode*, const char* name, Value* arguments) -> int32_t {
    threadStarted = name;
    for (const Value* argument = arguments; argument != nullptr; argument = argument->next) {
      threadStarted += ' ' + TextOf(argument);
    }
    return 42;
  });
  EXPECT_EQ(RunScript(R"(x = "a"; print(&worker(x, 2));)"), std::vector<std::string>{"42"});
  EXPECT_EQ(threadStarted, "worker a 2");
  SetThreadStartHook(nullptr);
  EXPECT_EQ(RunScript("print(&worker(1));"), std::vector<std::string>{"-1"});
}

// Only a pattern literal carries a compiled pattern into =~; a computed text takes its
// backslashes literally.
TEST_F(EngineTest, MatchUsesTheCompiledPatternOfAPatternLiteral) {
  ValuePtr subject(NewValue());
  ValuePtr right(NewValue());
  SetTextData(subject->data, Duplicate("5"));
  SetTextData(right->data, Duplicate("\\d"));
  ValuePtr computed(BinaryOperation(nullptr, subject.get(), right.get(), T_MATCH));
  right->pattern = CompilePattern("\\d");
  ValuePtr compiled(BinaryOperation(nullptr, subject.get(), right.get(), T_MATCH));
  FreePattern(right->pattern);
  EXPECT_EQ(TextOf(computed.get()) + TextOf(compiled.get()), "01");
}

// A chain of `levels` whole lists, each the only element of the one above.
Value* NestedLists(int levels) {
  Value* root = NewValue();
  root->wholeList = 1;
  for (Value* level = root; --levels > 0; level = level->elements) {
    level->elements = NewValue();
    level->elements->wholeList = 1;
  }
  return root;
}

TEST_F(EngineTest, ListsNestedPastTheBoundAreNeitherComparedNorCopiedNorShared) {
  for (const int levels : {kMaxListDepth, kMaxListDepth + 1}) {
    ValuePtr a(NestedLists(levels));
    ValuePtr b(NestedLists(levels));
    ValuePtr equal(BinaryOperation(nullptr, a.get(), b.get(), T_EQ));
    EXPECT_EQ(TextOf(equal.get()), levels == kMaxListDepth ? "1" : "0") << levels;
  }
  ValuePtr root(NestedLists(kMaxListDepth + 1));
  Value* copy = FailedValue();
  EXPECT_FALSE(CopyValueChain(root.get(), &copy));
  EXPECT_EQ(copy, nullptr);
  EXPECT_TRUE(CopyValueChain(root->elements, &copy));
  FreeValueChain(copy);
  Value* deepest = root.get();
  while (deepest->elements != nullptr) deepest = deepest->elements;
  EXPECT_FALSE(MarkShared(root.get()));
  EXPECT_EQ(deepest->data->shared, 0);
  EXPECT_TRUE(MarkShared(root->elements));
  EXPECT_EQ(deepest->data->shared, 1);
}

// A recursive release would exhaust the stack long before these sizes.
TEST_F(EngineTest, LongAndDeeplyNestedListsAreFreedWithoutRecursion) {
  ValueChainPtr chain(NestedLists(200000));
  for (Value* level = chain.get(); level != nullptr; level = level->elements) {
    level->next = NewValue();  // a sibling at every level
  }
  for (int i = 0; i < 200000; ++i) {
    Value* first = NewValue();
    first->next = chain.release();
    chain.reset(first);
  }
}

// A report shows the line of its position, or else the position's text; it is cut to its
// capacity without splitting a double-byte character; a host without the error native hears none.
TEST_F(EngineTest, ReportsShowTheLineOrTextOfTheirPositionWithinTheirCapacity) {
  const std::string longLine(5000, 'x');
  const std::pair<const char*, size_t> positions[] = {
      {"a;\nb;", 5}, {"x;\n\n   \n  next;", 3}, {longLine.c_str(), 10}};  // 5: at the NUL
  for (const auto& [source, offset] : positions) {
    Frame frame = FrameIn(source);
    ReportError(&frame, "Sentence error", frame.script->source + offset);
  }
  Frame frame = FrameIn("abc;");
  ReportError(&frame, "Function not Found", "missing.f");
  frame.script->source[0] = 0;  // a source that ends before the position
  ReportError(&frame, "Script not Found", frame.script->source + 2);
  ASSERT_TRUE(port::SetCodePage(port::kCodePageShiftJis));
  std::string message = "a";
  for (int i = 0; i < 600; ++i) message += "\x82\xA0";
  ReportError(&frame, message.c_str(), nullptr);
  ASSERT_EQ(lines.size(), 6U);
  EXPECT_EQ(
      std::vector<std::string>(lines.begin(), lines.begin() + 5),
      (std::vector<std::string>{
          "### Error: Sentence error : s.f:(2) : b;", "### Error: Sentence error : s.f:(2) : next;",
          "### Error: Sentence error : s.f:(1) : " + std::string(kReportCapacity - 39, 'x'),
          "### Error: Function not Found : s.f : missing.f",
          "### Error: Script not Found : s.f : c;"}));
  EXPECT_EQ(lines[5].size(), kReportCapacity - 2);  // 12 bytes, then whole pairs only
  char room[16];  // "### Error: a" and one pair take 14 bytes; the next pair needs 16 and a NUL
  EXPECT_EQ(FormatReport(&frame, message.c_str(), nullptr, 0, room, sizeof room), 14U);
  EXPECT_STREQ(room, "### Error: a\x82\xA0");
  EXPECT_EQ(FormatReport(&frame, "m", nullptr, 0, room, 1), 0U);
  EXPECT_EQ(room[0], 0);
  frame.functionName = nullptr;
  ReportError(&frame, "Function not Found", "missing.f");
  EXPECT_EQ(lines.back(), "### Error: Function not Found : s : missing.f");
  InstallNativeTable(natives, 1);
  ReportError(&frame, "Sentence error", nullptr);
  EXPECT_EQ(lines.size(), 7U);
}

// Counting a list reads only its elements' next fields, so the elements of this list overlap,
// one pointer apart: element i's next field is the slot that element i + kNext starts at.
TEST_F(EngineTest, JoiningListsPastTheElementLimitIsReportedWithoutCopying) {
  constexpr size_t kNext = offsetof(Value, next) / sizeof(Value*);
  const size_t count = static_cast<size_t>(kMaxListElements / 2) + 1;  // twice is one too many
  std::vector<Value*> slots(count + kNext);
  for (size_t i = 0; i + 1 < count; ++i) slots[i + kNext] = reinterpret_cast<Value*>(&slots[i + 1]);
  ValuePtr list(NewValue());
  list->elements = reinterpret_cast<Value*>(slots.data());
  list->wholeList = 1;
  Frame frame = FrameIn("a + a");
  frame.position = frame.script->source;
  const uint64_t before = port::AllocationCount();
  EXPECT_EQ(BinaryOperation(&frame, list.get(), list.get(), T_ADD), nullptr);
  EXPECT_EQ(port::AllocationCount(), before);
  list->elements = nullptr;
  EXPECT_EQ(lines, std::vector<std::string>{"### Error: List too long : s.f:(1) : a + a"});
}

// A configuration too large for the memory at hand must report and fail (not crash) wherever
// memory runs out: in reading, parsing or running it, and in delivering the report itself.
TEST(OutOfMemory, TheToolReportsAndFailsWhereverMemoryRunsOut) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve more address space than the limits below";
#endif
  const std::string big =
      std::filesystem::temp_directory_path() / ("keytwine-big-" + std::to_string(getpid()));
  const std::string make = "yes 'swap(0, 0, 0, 0x41, 0x1e, 0x42);' | head -n 45000 >" + big + ".ns";
  ASSERT_EQ(std::system(make.c_str()), 0);
  for (const int kilobytes : {16384, 32768, 49152, 65536, 81920}) {
    const std::string run =
        "(ulimit -v " + std::to_string(kilobytes) + "; exec '" KEYTWINE_TOOL "' check " + big +
        ".ns >/dev/null 2>" + big +
        ".err); s=$?; [ $s -gt 0 ] && [ $s -lt 128 ] && grep -q 'Alloc failed' " + big + ".err";
    EXPECT_EQ(std::system(run.c_str()), 0) << kilobytes << " KB";
  }
  std::filesystem::remove(big + ".ns");
  std::filesystem::remove(big + ".err");
}

}  // namespace
}  // namespace keytwine::testing
