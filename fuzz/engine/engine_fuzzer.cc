// Parses arbitrary bytes as a script and runs what parses, next to a fixed library script whose
// functions, argmatch handlers and (shared) globals the input can reach by name. The first byte
// picks the code page (bit 0: the double-byte code page 932, else UTF-8), #option(explicit)
// (bit 1) and whether "&" calls run at once in place of starting a thread (bit 2); the rest is
// the script text.
//
// Every run must end without a crash, a leak, undefined behaviour or a hang: a step budget ends
// endless loops, and a memory budget makes engine allocations fail once the process holds too
// much (so a[16000000] or a string doubled in a loop ends with "Alloc failed" instead of
// exhausting memory). The budgets and the input size are small so that a run takes well under a
// millisecond on average: every list element is an allocation, and a pattern matched against a
// long string costs states x length steps.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/support/memory_budget.h"
#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/port/port.h"
#include "script/runtime/calls.h"
#include "script/runtime/engine.h"
#include "script/runtime/error.h"
#include "script/runtime/execute.h"
#include "script/text/text.h"

namespace {

using namespace keytwine;

constexpr size_t kMaxInputBytes = 1024;
constexpr int32_t kStepBudget = 2000;
constexpr int64_t kMemoryBudget = int64_t{256} << 10;

std::atomic<int32_t> stepsLeft{0};

bool TakeStep() {
  return !fuzz::OverMemoryBudget() && stepsLeft.fetch_sub(1, std::memory_order_relaxed) > 0;
}

// The natives walk their arguments the way the host's do, and cover every return code.
int32_t Consume(Frame* /*frame*/, Value* first, Value* /*result*/, char* /*message*/) {
  size_t total = 0;
  for (const Value* argument = first; argument != nullptr; argument = argument->next) {
    NumberText number;
    total += std::string(ToText(argument->data, number)).size();
  }
  return static_cast<int32_t>(total & 1);
}
int32_t Fail(Frame* /*frame*/, Value* /*first*/, Value* /*result*/, char* message) {
  for (size_t i = 0; i < kNativeMessageSize; ++i) message[i] = 'm';  // not terminated
  return -1;
}
int32_t Need(Frame* /*frame*/, Value* first, Value* result, char* /*message*/) {
  if (first == nullptr) return -2;
  result->data->integer = ToInteger(first->data);
  return 0;
}
int32_t Quiet(Frame* /*frame*/, Value* /*first*/, Value* /*result*/, char* /*message*/) {
  return -9;
}
int32_t Poke(Frame* /*frame*/, Value* first, Value* result, char* /*message*/) {
  if (first != nullptr) SetTextData(first->data, Duplicate("poked"));
  SetTextData(result->data, Duplicate("r"));
  return 0;
}

NativeEntry natives[] = {
    {kErrorNativeName, 0, &Consume}, {"_sfunc_print", 0, &Consume}, {"_sfunc_fail", 0, &Fail},
    {"_sfunc_need", 0, &Need},       {"_sfunc_quiet", 0, &Quiet},   {"_sfunc_poke", 0, &Poke},
};

// "&f(...)" runs f at once on a frame of its own, with copied arguments, as a thread would.
int32_t RunNow(Frame* frame, SyntaxNode* call, const char* name, Value* arguments) {
  Value* copy = nullptr;
  if (!CopyValueChain(arguments, &copy)) return 0;
  Frame thread{};
  thread.script = frame->script;
  FreeValue(CallFunction(&thread, call, name, copy));
  FreeValueChain(copy);
  LeaveFrame(&thread);
  return 1;
}

constexpr const char kLibrarySource[] = R"(
list = {1, "two", {3}}; count = 0; text = "t";
function get(i = 0) { return list[i]; }
function grow(&l, n) { while (n-- > 0) l[n] = n; return l[""]; }
function bump() { count++; return ++count; }
argmatch key("^k%k%", v) { text = text + k; return v; }
argmatch any(".*") { count = count + 1; }
argmatch stop("^x") { exit 1; }
)";

Script* LoadScript(Script* engine, const char* name, const std::string& text) {
  Script* script = AppendScript(engine);
  if (script == nullptr) return nullptr;
  script->name = Duplicate(name).release();
  script->source = Duplicate(text.c_str()).release();
  if (script->name == nullptr || script->source == nullptr) return nullptr;
  Frame load{};
  load.functionName = script->name;
  load.script = script;
  script->topLevel = ParseScript(&load, script->source, 0);
  LeaveFrame(&load);
  return script;
}

// Runs a top level; with promote its variables become the script's (shared) globals.
void RunTopLevel(Script* script, bool promote) {
  if (script == nullptr || script->topLevel == nullptr) return;
  Frame frame{};
  frame.functionName = script->name;
  frame.script = script;
  int32_t breakCounter = 0;
  stepsLeft.store(kStepBudget, std::memory_order_relaxed);
  Execute(&frame, script->topLevel, nullptr, nullptr, &breakCounter);
  if (promote) {
    MarkShared(frame.locals);
    script->globals = frame.locals;
    frame.locals = nullptr;
  }
  LeaveFrame(&frame);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInputBytes) return 0;
  static const bool installed = [] {
    InstallNativeTable(natives, static_cast<int32_t>(sizeof natives / sizeof natives[0]));
    SetStepHook(&TakeStep);
    return true;
  }();
  (void)installed;
  const uint8_t options = data[0];
  port::SetCodePage((options & 1) != 0 ? port::kCodePageShiftJis : port::kCodePageUtf8);
  SetThreadStartHook((options & 4) != 0 ? &RunNow : nullptr);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  fuzz::StartMemoryBudget(kMemoryBudget);
  Script* engine = NewEngine((options & 2) != 0 ? 1 : 0);
  if (engine != nullptr) {
    RunTopLevel(LoadScript(engine, "lib", kLibrarySource), /*promote=*/true);
    RunTopLevel(LoadScript(engine, "fuzz", text), /*promote=*/false);
    FreeScriptChain(engine, &ReleaseChain);
  }
  ReleaseRetiredLists();
  fuzz::EndMemoryBudget();
  if (ActiveCount() != 0) __builtin_trap();  // every call bracket must be closed
  return 0;
}
