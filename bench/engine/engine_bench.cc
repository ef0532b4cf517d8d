// Script micro-benchmarks of the executor. Each benchmark parses its script once and runs the
// top level once per iteration; the work of each is done by bench/engine/bench.lua too, and
// compare.sh prints the two side by side. Sums stay inside 32 bits.
//
// No script thread runs here, so loops do not yield the processor (a loop yields once per
// iteration only while script threads run). Names first assigned inside a block are locals of
// that block, so the lists and captures that outlive a loop body are declared.
#include <benchmark/benchmark.h>

#include <string>

#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/port/port.h"
#include "script/runtime/engine.h"
#include "script/runtime/error.h"
#include "script/runtime/execute.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

struct Case {
  const char* name;
  const char* source;
  const char* expected;  // what the script prints
};

constexpr Case kCases[] = {
    {"count_loop", "s = 0; for (i = 0; i < 60000; i++) s = s + i; print(s);", "1799970000"},
    {"fib",
     "function fib(n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); } "
     "print(fib(20));",
     "6765"},
    {"calls",
     "function add(a, b, c) { return a + b + c; } "
     "s = 0; for (i = 0; i < 5000; i++) s = add(s, i, 1); print(s);",
     "12502500"},
    {"string_build", R"(s = ""; for (i = 0; i < 1000; i++) s = s + "<%i%>"; print(s =~ "<999>$");)",
     "1"},
    // The same work at ten times the length: linear lists take ten times as long.
    {"list_fill_lookup",
     R"(var l, h;
for (i = 0; i < 1000; i++) { l[i] = i; h["k" + i] = i; }
t = 0; for (i = 0; i < 1000; i++) t = t + l[i] + h["k" + i]; print(t);)",
     "999000"},
    {"list_fill_lookup_10x",
     R"(var l, h;
for (i = 0; i < 10000; i++) { l[i] = i; h["k" + i] = i; }
t = 0; for (i = 0; i < 10000; i++) t = t + l[i] + h["k" + i]; print(t);)",
     "99990000"},
    {"named_elements",
     R"(var h;
for (i = 0; i < 2000; i++) h["k" + i] = i;
t = 0; for (i = 0; i < 2000; i++) t = t + h["k" + i]; print(t);)",
     "1999000"},
    {"pattern_loop",
     R"(var n = 0, k, v;
for (i = 0; i < 1000; i++) {
  "%k%=%v%" = "key" + i + "=value" + i;
  if (("line " + i) =~ "^line [0-9]+$") n = n + 1;
}
print(n + k + v);)",
     "1000key999value999"},
    {"captures",
     R"(var n = 0, k, v;
for (i = 0; i < 1000; i++) { "%k%:%v%" = "name" + i + ":" + i; n = n + +v; }
print(n + k);)",
     "499500name999"},
};

std::string printed;

int32_t Print(Frame* /*frame*/, Value* first, Value* /*result*/, char* /*message*/) {
  NumberText number;
  printed = first != nullptr ? ToText(first->data, number) : "";
  return 0;
}

int32_t Error(Frame* /*frame*/, Value* first, Value* /*result*/, char* /*message*/) {
  NumberText number;
  printed = std::string("error: ") + (first != nullptr ? ToText(first->data, number) : "");
  return 0;
}

NativeEntry natives[] = {{kErrorNativeName, 0, &Error}, {"_sfunc_print", 0, &Print}};

ExecResult RunTopLevel(Script* script) {
  Frame frame{};
  frame.functionName = script->name;
  frame.script = script;
  int32_t breakCounter = 0;
  const ExecResult result = Execute(&frame, script->topLevel, nullptr, nullptr, &breakCounter);
  LeaveFrame(&frame);
  return result;
}

void RunScript(benchmark::State& state, const Case& c) {
  InstallNativeTable(natives, 2);
  Script* engine = NewEngine(0);
  Script* script = AppendScript(engine);
  script->name = Duplicate("bench").release();
  script->source = Duplicate(c.source).release();
  Frame load{};
  load.script = script;
  script->topLevel = ParseScript(&load, script->source, 0);
  printed.clear();
  if (script->topLevel == nullptr || RunTopLevel(script) != ExecResult::Normal ||
      printed != c.expected) {
    state.SkipWithError(("unexpected output: " + printed).c_str());
  } else {
    while (state.KeepRunning()) benchmark::DoNotOptimize(RunTopLevel(script));
  }
  FreeScriptChain(engine, &ReleaseChain);
  InstallNativeTable(nullptr, 0);
}

const bool registered = [] {
  for (const Case& c : kCases) {
    benchmark::RegisterBenchmark(c.name, [&c](benchmark::State& state) {
      RunScript(state, c);
    })->Unit(benchmark::kMicrosecond);
  }
  return true;
}();

}  // namespace
}  // namespace keytwine

BENCHMARK_MAIN();
