// Failure paths, aliases into replaced lists, shared data under concurrent script threads, and
// the stop and step-budget mechanisms.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "script/runtime/executor_internal.h"
#include "tests/script/engine/engine_harness.h"

namespace keytwine::testing {
namespace {

using RobustnessTest = EngineTest;

// Scripts that between them reach every action, the operators, string building, captures,
// calls with defaults and references, arg, argmatch and natives.
const char* const kWalkedScripts[] = {
    R"(function f(a, b = {1, 2}, &c) { c = a + b[1]; return {a, b[""], "%a%-%c%"}; }
x = 1; l = f(3, , x); print(l, x, l[2]);
s = "p" + x; s = s + s; "%p1%-%p2%" = "ab-cd"; print(p1, p2, s =~ "p.", s =~ "^(p1)+$");)",
    R"(argmatch h("%k%=%v%", w) { print(k, v, w, arg[0], arg[""]); }
for (i = 0; i < 3; i++) { switch (i) { case 1: continue; default: m[i] = i; } }
print(?("a=b", 2), m[""], {1, {2}} == {1, {2}}, {1} + {2}, need(4));
y = {z}; y = {y[""], 1}; y = y[""]; print(y, "%y[0][0]%%%", -y[1] << 3, !y[5]);)",
    R"(function g(n) { if (n) return g(n - 1) + 1; return 0; }
t = 0; do { t = t + g(3); } while (t < 8); print(t++, ++t, t);
h["k"] = "v"; h[1] = {2}; q = h; q = h[""]; print(q, "%h[\"k\"]%" + 1);)",
};

TEST_F(RobustnessTest, EveryAllocationFailureIsSurvivedWithoutLeaks) {
  for (const char* source : kWalkedScripts) {
    Script* script = Load("test", source);
    ASSERT_NE(script, nullptr) << source;
    const uint64_t before = port::AllocationCount();
    ASSERT_EQ(RunTop(script), ExecResult::Normal) << source;
    const uint64_t total = port::AllocationCount() - before;
    const std::string clean = Joined(Take().printed);
    EXPECT_EQ(Errors(), "") << source;
    for (uint64_t n = 1; n <= total + 1; ++n) {
      port::FailAllocationAfter(n);
      const ExecResult result = RunTop(script);
      port::FailAllocationAfter(0);
      ReleaseRetiredLists();
      const std::string printed = Joined(Take().printed);
      EXPECT_EQ(ActiveCount(), 0) << source << " failing allocation " << n;
      if (n > total) {
        EXPECT_EQ(result, ExecResult::Normal) << source;
        EXPECT_EQ(printed, clean) << source;
      }
    }
    Errors();
  }
}

TEST_F(RobustnessTest, AnAllocationFailureIsReportedAtTheNode) {
  Script* script = Load("test", "x = 1;\nprint(x);");
  ASSERT_NE(script, nullptr);
  // Line 1 allocates x (record, data, name), its stack alias and the literal (record, data);
  // the next allocation is the argument marker of the call on line 2.
  const uint64_t firstLine = 3 + 1 + 2;
  const uint64_t before = port::AllocationCount();
  ASSERT_EQ(RunTop(script), ExecResult::Normal);
  ASSERT_GT(port::AllocationCount() - before, firstLine);
  Take();
  port::FailAllocationAfter(firstLine + 1);
  EXPECT_EQ(RunTop(script), ExecResult::Failed);
  port::FailAllocationAfter(0);
  EXPECT_EQ(Errors(), ErrorAt("Alloc failed", "test.test", 2, "print(x);"));
}

int32_t CountRetired(Frame* /*frame*/, Value* /*first*/, Value* result, char* /*message*/) {
  result->data->integer = CountList(exec::State().retired);
  return 0;
}

TEST_F(RobustnessTest, AliasesIntoReplacedListsStayValid) {
  EXPECT_EQ(Run(R"(a = {1, 2}; x = a[0] + (a = {5})[0]; print(x, a[""]);)"), "6 {5}");
  EXPECT_EQ(
      Run(R"(function f(&p, &q) { p = {}; q = 1; return q; } a = {1, 2}; print(f(a[""], a[0]), a[""]);)"),
      "1 {}");
  EXPECT_EQ(Run(R"(a = {1}; b = a[0]++ + (a = {7})[""][0]; print(a[0], b);)"), "7 8");
  EXPECT_EQ(Run(R"(a = {{1}}; print(a[0][0], "%(a = {})%", a[""]);)"), "1 0 {}");
  EXPECT_EQ(
      Run(R"(a = {1}; function f() { arg[0] = {}; return arg[0][0]; } print(f(a[0]), a[""]);)"),
      "0 {{0}}");
  EXPECT_EQ(Errors(), "");
}

TEST_F(RobustnessTest, ReplacedListsAreReleasedAtTheNextSafeStatement) {
  NativeEntry table[] = {{"_sfunc_error", 0, &NativeError},
                         {"_sfunc_print", 0, &NativePrint},
                         {"_sfunc_retired", 0, &CountRetired}};
  InstallNativeTable(table, 3);
  // Nothing refers into the replaced lists at the end of each statement.
  EXPECT_EQ(Run("for (i = 0; i < 50; i++) { a = {1, 2, 3}; } print(retired());"), "0");
  // While a caller's argument aliases the caller's list, replaced lists wait.
  EXPECT_EQ(Run("function f(&p) { for (i = 0; i < 3; i++) p = {i, i}; return retired(); } "
                "l = {1}; n = f(l); print(n > 0, retired(), l);"),
            "1 0 {i:2,i:2}");
  EXPECT_EQ(exec::State().retired, nullptr);
  EXPECT_EQ(Errors(), "");
}

TEST_F(RobustnessTest, SharedListsSurviveConcurrentScriptThreads) {
  Script* globals = Load("g", "list = 0; counter = 0;");
  ASSERT_NE(globals, nullptr);
  ASSERT_EQ(RunTop(globals, /*promote=*/true), ExecResult::Normal);
  Script* worker = Load("t", R"(function fill(p) {
  for (i = 0; i < 300; i++) { g.list[p + i] = i; g.counter++; ++g.counter; need(i); }
})");
  ASSERT_NE(worker, nullptr);
  std::vector<std::thread> threads;
  for (const char* prefix : {"a", "b", "c", "d"}) {
    threads.emplace_back([worker, prefix] {
      Frame frame{};
      frame.script = worker;
      ValuePtr argument(NewValue());
      SetTextData(argument->data, Duplicate(prefix));
      FreeValue(CallFunction(&frame, nullptr, "fill", argument.get()));
      LeaveFrame(&frame);
    });
  }
  for (std::thread& thread : threads) thread.join();
  Value* list = FindInList(globals->globals, "list");
  Value* counter = FindInList(globals->globals, "counter");
  ASSERT_NE(list, nullptr);
  ASSERT_NE(counter, nullptr);
  EXPECT_EQ(CountList(list->elements), 1200);
  EXPECT_EQ(counter->data->integer, 2400);
  EXPECT_EQ(FindInList(list->elements, "c299")->data->integer, 299);
  EXPECT_EQ(Errors(), "");
}

std::atomic<int32_t> stepsLeft{0};

bool CountStep() {
  return stepsLeft.fetch_sub(1) > 0;
}

TEST_F(RobustnessTest, TheStepHookEndsEndlessLoopsWithoutAReport) {
  stepsLeft = 1000;
  SetStepHook(&CountStep);
  EXPECT_EQ(Run("i = 0; while (1) { i++; } print(i);"), "");
  EXPECT_EQ(last_, ExecResult::Failed);
  EXPECT_EQ(Errors(), "");
}

TEST_F(RobustnessTest, AStoppingRuntimeRunsNothing) {
  SetStopFlag(1);
  EXPECT_EQ(Run("print(1);"), "");
  EXPECT_EQ(last_, ExecResult::Failed);
  SetStopFlag(0);
  EXPECT_EQ(Errors(), "");
}

int32_t StopNow(Frame* /*frame*/, Value* /*first*/, Value* /*result*/, char* /*message*/) {
  SetStopFlag(1);
  return 0;
}

TEST_F(RobustnessTest, StoppingUnwindsLoopsAndCalls) {
  NativeEntry table[] = {{"_sfunc_error", 0, &NativeError},
                         {"_sfunc_print", 0, &NativePrint},
                         {"_sfunc_stop", 0, &StopNow}};
  InstallNativeTable(table, 3);
  EXPECT_EQ(Run("function f() { i = 0; while (1) { if (++i == 3) { print(i); stop(); } } } f(); "
                "print(\"not reached\");"),
            "3");
  EXPECT_EQ(last_, ExecResult::Failed);
  SetStopFlag(0);
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(ActiveCount(), 0);
}

}  // namespace
}  // namespace keytwine::testing
