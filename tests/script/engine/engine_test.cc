// What a script case cannot show: shared data under concurrent script threads, the stop flag
// and the step budget, bounds that need values built in C++, the thread-start hook, and report
// formatting for positions and lengths that no script produces.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/front/tokens.h"
#include "script/pattern/pattern.h"
#include "script/runtime/calls.h"
#include "script/runtime/error.h"
#include "script/runtime/execute.h"
#include "script/runtime/lifecycle.h"
#include "script/text/text.h"

namespace keytwine::testing {
namespace {

std::mutex linesLock;
std::vector<std::string> lines;  // what print and error received, in order

std::vector<std::string> TakeLines() {
  std::lock_guard<std::mutex> guard(linesLock);
  std::vector<std::string> taken;
  taken.swap(lines);
  return taken;
}

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
  std::lock_guard<std::mutex> guard(linesLock);
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

Script* Load(Script* engine, const char* name, const char* source) {
  Script* script = AppendScript(engine);
  script->name = Duplicate(name).release();
  script->source = Duplicate(source).release();
  Frame frame{};
  frame.script = script;
  script->topLevel = ParseScript(&frame, script->source, 0);
  return script;
}

// Runs source as the only script of an engine; returns what it printed and reported.
std::vector<std::string> RunScript(const char* source) {
  Script* engine = NewEngine(0);
  Load(engine, "s", source);
  RunAllScripts(engine);
  FreeScriptChain(engine, &ReleaseChain);
  return TakeLines();
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallNativeTable(natives, 3); }
  void TearDown() override {
    SetStopFlag(0);
    SetStepHook(nullptr);
    SetThreadStartHook(nullptr);
    FreeScriptChain(engine_, &ReleaseChain);
    ReleaseRetiredLists();
    InstallNativeTable(nullptr, 0);
    EXPECT_EQ(ActiveCount(), 0);
    TakeLines();
  }

  // The one report for a position at offset in source.
  std::string ReportAt(const char* source, size_t offset) {
    Frame frame{};
    frame.script = Load(engine_, "s", source);
    frame.functionName = frame.script->name;
    ReportError(&frame, "Sentence error", frame.script->source + offset);
    const std::vector<std::string> reports = TakeLines();
    return reports.size() == 1 ? reports[0] : std::to_string(reports.size()) + " reports";
  }

  Script* engine_ = NewEngine(0);
};

// Four threads grow one global list, count in one global, assign and read one global string and
// report errors: nothing is lost or torn, and ASan sees no use of a freed string.
TEST_F(EngineTest, SharedDataSurvivesConcurrentScriptThreads) {
  Load(engine_, "g", R"(list = 0; counter = 0; text = "start";)");
  Script* worker = Load(engine_, "t", R"(function two(a, b) { }
function fill(p) {
  for (i = 0; i < 300; i++) {
    g.list[p + i] = i; g.counter++; ++g.counter; g.text = p + i; copy = g.text;
    if (i % 10 == 0) two(1);
  }
})");
  RunAllScripts(engine_);
  std::vector<std::thread> threads;
  for (const char* prefix : {"a", "b", "c", "d"}) {
    threads.emplace_back([worker, prefix] {
      Frame frame{};
      frame.script = worker;
      FrameGuard leave(frame);
      ValuePtr argument(NewValue());
      SetTextData(argument->data, Duplicate(prefix));
      FreeValue(CallFunction(&frame, nullptr, "fill", argument.get()));
    });
  }
  for (std::thread& thread : threads) thread.join();
  Value* globals = engine_->next->globals;
  Value* list = FindInList(globals, "list");
  EXPECT_EQ(CountList(list->elements), 1200);
  EXPECT_EQ(TextOf(FindInList(list->elements, "c299")), "299");
  EXPECT_EQ(TextOf(FindInList(globals, "counter")), "2400");
  const std::string text = TextOf(FindInList(globals, "text"));
  EXPECT_TRUE(text == "a299" || text == "b299" || text == "c299" || text == "d299") << text;
  const std::vector<std::string> reports = TakeLines();
  // Each failed binding reports once and names its call once; threads may interleave them.
  EXPECT_EQ(std::count(reports.begin(), reports.end(),
                       "### Error: Argument error : t.two:(1) : function two(a, b) { }"),
            120);
  EXPECT_EQ(std::count(reports.begin(), reports.end(),
                       "        at t.fill:(5) : if (i % 10 == 0) two(1);"),
            120);
  EXPECT_EQ(reports.size(), 240U);
}

std::atomic<int32_t> stepsLeft{0};

TEST_F(EngineTest, TheStepBudgetAndTheStopFlagEndScriptsWithoutAReport) {
  stepsLeft = 1000;
  SetStepHook([] { return stepsLeft.fetch_sub(1) > 0; });
  EXPECT_TRUE(RunScript("i = 0; while (1) { i++; } print(i);").empty());
  SetStepHook(nullptr);
  EXPECT_EQ(RunScript("function f() { i = 0; while (1) { if (++i == 3) { print(i); stop(); } } }\n"
                      "f(); print(\"not reached\");"),
            std::vector<std::string>{"3"});
  SetStopFlag(1);
  EXPECT_TRUE(RunScript("print(1);").empty());
  Frame frame{};
  frame.script = Load(engine_, "s", "");
  ReportError(&frame, "Sentence error", nullptr);
  ReportNamedError(&frame, "a", " :Declaration overlaps", nullptr);
  EXPECT_TRUE(TakeLines().empty());
}

// Mutual recursion reports the bound once and every level it unwinds through; so does a
// recursion through string references nested in blocks and loops.
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
  ASSERT_FALSE(nested.empty());
  EXPECT_EQ(nested.front().rfind("### Error: Call depth exceeded : s.f", 0), 0U);
  EXPECT_EQ(nested.back(), "        at s.s:(2) : f(1);");
}

// Line 1 allocates x (record, data, name), its stack alias and the literal (record, data); the
// next allocation is the argument marker of the call on line 2.
TEST_F(EngineTest, AnAllocationFailureIsReportedAtTheStatementThatFailed) {
  Script* script = Load(engine_, "m", "x = 1;\nprint(x);");
  port::FailAllocationAfter(3 + 1 + 2 + 1);
  RunAllScripts(script);
  port::FailAllocationAfter(0);
  EXPECT_EQ(TakeLines(), std::vector<std::string>{"### Error: Alloc failed : m.m:(2) : print(x);"});
}

std::string threadStarted;

TEST_F(EngineTest, ThreadStartsGoThroughTheHook) {
  SetThreadStartHook([](Frame*, SyntaxNode*, const char* name, Value* arguments) -> int32_t {
    threadStarted = name;
    for (const Value* argument = arguments; argument != nullptr; argument = argument->next) {
      threadStarted += ' ';
      threadStarted += TextOf(argument);
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

TEST_F(EngineTest, AReportShowsTheLineOfItsPositionOrElseThePositionsText) {
  EXPECT_EQ(ReportAt("a;\nb;", 5), "### Error: Sentence error : s.s:(2) : b;");  // at the NUL
  EXPECT_EQ(ReportAt("x;\n\n   \n  next;", 3), "### Error: Sentence error : s.s:(2) : next;");
  Frame frame{};
  frame.script = Load(engine_, "s", "abc;");
  ReportError(&frame, "Function not Found", "missing.f");
  frame.script->source[0] = 0;  // a source that ends before the position
  frame.functionName = "f";
  ReportError(&frame, "Script not Found", frame.script->source + 2);
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{"### Error: Function not Found : s : missing.f",
                                                   "### Error: Script not Found : s.f : c;"}));
  InstallNativeTable(natives, 1);  // a host without the error native hears nothing
  ReportError(&frame, "Sentence error", nullptr);
  EXPECT_TRUE(TakeLines().empty());
}

TEST_F(EngineTest, ALongReportIsCutWithoutSplittingADoubleByteCharacter) {
  const std::string longLine(5000, 'x');
  EXPECT_EQ(ReportAt(longLine.c_str(), 10),
            "### Error: Sentence error : s.s:(1) : " + std::string(kReportCapacity - 39, 'x'));
  ASSERT_TRUE(port::SetCodePage(port::kCodePageShiftJis));
  std::string message = "a";
  for (int i = 0; i < 600; ++i) message += "\x82\xA0";
  Frame frame{};
  frame.script = Load(engine_, "s", "");
  char room[16];  // "### Error: a" and one pair take 14 bytes; the next pair needs 16 and a NUL
  EXPECT_EQ(FormatReport(&frame, message.c_str(), nullptr, 0, room, sizeof room), 14U);
  EXPECT_STREQ(room, "### Error: a\x82\xA0");
  ReportError(&frame, message.c_str(), nullptr);
  port::SetCodePage(port::kCodePageUtf8);
  const std::vector<std::string> reports = TakeLines();
  ASSERT_EQ(reports.size(), 1U);
  EXPECT_EQ(reports[0].size(), kReportCapacity - 2);  // 12 bytes, then whole pairs only
  char none[1] = {'z'};
  EXPECT_EQ(FormatReport(&frame, "m", nullptr, 0, none, 1), 0U);
  EXPECT_EQ(none[0], 0);
}

}  // namespace
}  // namespace keytwine::testing
