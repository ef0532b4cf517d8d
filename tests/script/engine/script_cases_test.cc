// Script cases: each case is a script (and the files it imports), run as the remapper runs its
// configuration, and everything it printed and reported, in order. Then what a case cannot show:
// the step budget, the stop flag and the thread-start hook, values built in C++ past the engine's
// bounds, report formatting no script produces, and the command-line tool out of address space.
//
// Natives: print(a, ...) and error(a) print one line; fail() fails with a message that fills the
// whole message buffer, fail(x) without a report; poke(&x, ...) writes 99 through its first
// argument and gives the number of arguments (too few arguments without one); stop() sets the
// stop flag.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>

#include "script/front/loader.h"
#include "script/front/parser.h"
#include "script/front/tokens.h"
#include "script/pattern/pattern.h"
#include "script/port/port.h"
#include "script/runtime/calls.h"
#include "script/runtime/engine.h"
#include "script/runtime/error.h"
#include "script/runtime/execute.h"
#include "script/runtime/lifecycle.h"
#include "script/text/text.h"
#include "tests/support/case_file.h"

namespace keytwine::testing {
namespace {

std::mutex outputLock;
std::string output;

void Emit(const std::string& line) {
  const std::lock_guard<std::mutex> guard(outputLock);
  output += line + '\n';
}

// A value as print shows it: a list as {a,b,name:c}, nested lists alike, else its text.
std::string Show(const Value* value) {
  const Value* holder = value->data->owner != nullptr ? value->data->owner : value;
  if (value->wholeList == 0 && holder->elements == nullptr) {
    NumberText number;
    return ToText(value->data, number);
  }
  std::string text = "{";
  for (const Value* element = holder->elements; element != nullptr; element = element->next) {
    if (element != holder->elements) text += ',';
    if (element->name != nullptr) text += std::string(element->name) + ':';
    text += Show(element);
  }
  return text + '}';
}

int32_t NativePrint(Frame*, Value* first, Value*, char*) {
  std::string line;
  for (const Value* argument = first; argument != nullptr; argument = argument->next) {
    if (argument != first) line += ' ';
    line += Show(argument);
  }
  Emit(line);
  return 0;
}

int32_t NativeFail(Frame*, Value* first, Value*, char* message) {
  if (first != nullptr) return -7;  // a failure without a report
  for (size_t i = 0; i < kNativeMessageSize; ++i) message[i] = static_cast<char>('a' + i % 26);
  return -1;
}

int32_t NativePoke(Frame*, Value* first, Value* result, char*) {
  if (first == nullptr) return -2;  // too few arguments
  SetIntegerData(first->data, 99);
  for (const Value* a = first; a != nullptr; a = a->next) ++result->data->integer;
  return 0;
}

NativeEntry natives[] = {{"_sfunc_error", 0, &NativePrint},
                         {"_sfunc_print", 0, &NativePrint},
                         {"_sfunc_fail", 0, &NativeFail},
                         {"_sfunc_poke", 0, &NativePoke},
                         {"_sfunc_stop", 0, [](Frame*, Value*, Value*, char*) {
                            SetStopFlag(1);
                            return 0;
                          }}};

// The bytes that a hex section spells: pairs of hex digits separated by blanks; on each line the
// first word that is not such a pair starts a comment.
std::string FromHex(const std::string& text) {
  std::string bytes;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (word.size() != 2 || word.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      words.ignore(text.size(), '\n');  // a comment to the end of the line
    } else {
      bytes += static_cast<char>(std::stoi(word, nullptr, 16));
    }
  }
  return bytes;
}

// Runs test.ns in `folder` through a whole engine life cycle; returns what it printed.
std::string RunScript(const std::filesystem::path& folder, const TestCase& testCase) {
  output.clear();
  port::SetCodePage(CodePageOf(testCase));
  SetStopFlag(0);
  InitializeRuntime(natives, static_cast<int32_t>(std::size(natives)));
  Script* engine = NewEngine(0);
  if (engine != nullptr) {
    const std::string directory = folder.string() + "/";
    if (LoadScriptFile(engine, directory.c_str(), "test.ns") == 0) Emit("[not loaded]");
    RunAllScripts(engine);
    WaitForScripts();
    DestroyEngine(engine);
  } else {
    Emit("### Error: Alloc failed");  // as the configuration run reports it
  }
  ShutdownRuntime();
  port::SetCodePage(65001);
  return output;
}

class ScriptCases : public ::testing::TestWithParam<std::string> {};

// Each case prints what it expects; then each of its allocations fails in turn (unless it says
// no-sweep): the run must neither crash nor leak nor leave a script thread behind, and it gives
// either the same output or reports "Alloc failed".
TEST_P(ScriptCases, PrintWhatTheyExpectAndSurviveEveryAllocationFailure) {
  CaseFile file(GetParam());
  for (size_t i = 0; i < file.Cases().size(); ++i) {
    const TestCase& testCase = file.Cases()[i];
    // "@LIBRARY@" stands for the test extension library; a "file-hex test.ns" replaces the input.
    const std::filesystem::path folder = ScratchFolder("script-" + std::to_string(i));
    WriteCaseFiles(testCase, folder, "test.ns", [](const CaseSection& section) {
      const std::string text = section.name == "file-hex" ? FromHex(section.text) : section.text;
      return Replaced(text, "@LIBRARY@", KEYTWINE_TEST_LIBRARY);
    });
    const bool sweep = testCase.Find("no-sweep") == nullptr && !CaseFile::Updating();
    std::string clean;
    EachAllocationFailing(
        [&] { return RunScript(folder, testCase); },
        [&](const std::string& printed, uint64_t n) {
          EXPECT_EQ(ActiveCount(), 0) << testCase.title << ", allocation " << n;
          if (n == 0) file.Expect(testCase, "out", clean = printed);
          if (n == 0 || printed == clean || printed.find("Alloc failed") != std::string::npos)
            return sweep;
          ADD_FAILURE_AT(file.Path().c_str(), static_cast<int>(testCase.line))
              << testCase.title << ": allocation " << n << " failed silently:\n"
              << printed;
          return false;
        });
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ScriptCases,
                         ::testing::ValuesIn(CaseFile::FilesIn("tests/script/engine/cases",
                                                               ".cases")),
                         [](const auto& info) { return CaseFileLabel(info.param); });

int32_t stepsLeft = 0;
std::string threadStarted;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallNativeTable(natives, static_cast<int32_t>(std::size(natives)));
    output.clear();
  }
  void TearDown() override {
    SetStopFlag(0);
    SetStepHook(nullptr);
    SetThreadStartHook(nullptr);
    port::SetCodePage(port::kCodePageUtf8);
    FreeScriptChain(engine_, &ReleaseChain);
    ReleaseRetiredLists();
    InstallNativeTable(nullptr, 0);
    EXPECT_EQ(ActiveCount(), 0);
  }

  // A frame in function f of a new script "s" of the engine.
  Frame FrameIn(const char* source) {
    Frame frame{};
    frame.script = AppendScript(engine_);
    frame.script->name = Duplicate("s").release();
    frame.script->source = Duplicate(source).release();
    frame.script->topLevel = ParseScript(&frame, frame.script->source, 0);
    frame.functionName = "f";
    return frame;
  }

  // Runs source as the next script of the engine; returns what it printed and reported.
  std::string Run(const char* source) {
    RunAllScripts(FrameIn(source).script);
    return std::exchange(output, {});
  }

  Script* engine_ = NewEngine(0);
};

// The step budget and the stop flag end scripts without a report; thread starts go through the
// hook, which gives the started thread's number.
TEST_F(EngineTest, TheStepBudgetTheThreadStartHookAndTheStopFlag) {
  stepsLeft = 1000;
  SetStepHook([] { return stepsLeft-- > 0; });
  EXPECT_TRUE(Run("i = 0; while (1) { i++; } print(i);").empty());
  stepsLeft = 1000;  // a loop that repeats without acting on its step and condition nodes
  EXPECT_TRUE(Run("s = 0; for (i = 0; i < 2000000000; i++) s = s + i; print(s);").empty());
  SetStepHook(nullptr);
  SetThreadStartHook([](Frame*, SyntaxNode*, const char* name, Value* arguments) -> int32_t {
    threadStarted = name + (' ' + Show(arguments)) + ' ' + Show(arguments->next);
    return 42;
  });
  EXPECT_EQ(Run(R"(x = "a"; print(&worker(x, 2));)"), "42\n");
  EXPECT_EQ(threadStarted, "worker a 2");
  SetThreadStartHook(nullptr);
  EXPECT_EQ(Run("print(&worker(1));"), "-1\n");
  EXPECT_EQ(Run("function f() { i = 0; while (1) { if (++i == 3) { print(i); stop(); } } }\n"
                "f(); print(\"not reached\");"),
            "3\n");
  EXPECT_TRUE(Run("print(1);").empty());  // the flag is still set
  Frame frame = FrameIn("");
  ReportError(&frame, "Sentence error", nullptr);
  ReportNamedError(&frame, "a", " :Declaration overlaps", nullptr);
  EXPECT_TRUE(output.empty());
}

// Mutual recursion reports the bound once and then every level it unwinds through. An allocation
// failure is reported at its statement: line 1 allocates the pool of stack entries and x (record
// with data, name); the next allocation is the text of the string literal on line 2.
TEST_F(EngineTest, RecursionAndAllocationFailuresAreReportedWhereTheyHappen) {
  const std::string reports = Run("function f() { g(); }\nfunction g() { f(); }\nf();");
  EXPECT_EQ(std::count(reports.begin(), reports.end(), '\n'), kMaxCallDepth + 2);
  EXPECT_EQ(reports.rfind("### Error: Call depth exceeded : s.f:(1) : function f() { g(); }\n"
                          "        at s.g:(2) : function g() { f(); }\n"
                          "        at s.f:(1) : function f() { g(); }\n",
                          0),
            0U);
  EXPECT_EQ(reports.substr(reports.rfind("        at ")), "        at s.s:(3) : f();\n");
  Script* script = FrameIn("x = 1;\nprint(\"a\" + x);").script;
  port::FailAllocationAfter(1 + 2 + 1);
  RunAllScripts(script);
  port::FailAllocationAfter(0);
  EXPECT_EQ(output, "### Error: Alloc failed : s.s:(2) : print(\"a\" + x);\n");
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

// Lists nested past the bound are neither compared nor copied nor shared; only a pattern literal
// carries a compiled pattern into =~ (a computed text takes its backslashes literally); long and
// deeply nested lists are freed without recursion, which would exhaust the stack at these sizes;
// joining lists past the element limit is reported without copying.
TEST_F(EngineTest, OperationsOnValuesBuiltPastTheBounds) {
  for (const int levels : {kMaxListDepth, kMaxListDepth + 1}) {
    ValuePtr a(NestedLists(levels));
    ValuePtr b(NestedLists(levels));
    ValuePtr equal(BinaryOperation(nullptr, a.get(), b.get(), T_EQ));
    EXPECT_EQ(Show(equal.get()), levels == kMaxListDepth ? "1" : "0") << levels;
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
  ValuePtr subject(NewValue());
  ValuePtr right(NewValue());
  SetTextData(subject->data, Duplicate("5"));
  SetTextData(right->data, Duplicate("\\d"));
  ValuePtr computed(BinaryOperation(nullptr, subject.get(), right.get(), T_MATCH));
  right->pattern = CompilePattern("\\d");
  ValuePtr compiled(BinaryOperation(nullptr, subject.get(), right.get(), T_MATCH));
  FreePattern(right->pattern);
  EXPECT_EQ(Show(computed.get()) + Show(compiled.get()), "01");
  ValueChainPtr chain(NestedLists(200000));
  for (Value* level = chain.get(); level != nullptr; level = level->elements) {
    level->next = NewValue();  // a sibling at every level
  }
  for (int i = 0; i < 200000; ++i) {
    Value* first = NewValue();
    first->next = chain.release();
    chain.reset(first);
  }
  // Counting a list reads only its elements' next fields, so the elements of this list overlap,
  // one pointer apart: element i's next field is the slot that element i + kNext starts at.
  constexpr size_t kNext =
      offsetof(Value, next) / sizeof(Value*);  // NOLINT(bugprone-sizeof-expression)
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
  EXPECT_EQ(output, "### Error: List too long : s.f:(1) : a + a\n");
}

// A report shows the line of its position, or else the position's text; it is cut to its
// capacity without splitting a double-byte character; a host without the error native hears none.
TEST_F(EngineTest, ReportsShowTheLineOrTextOfTheirPositionWithinTheirCapacity) {
  Frame frame = FrameIn("a;\nb;");
  ReportError(&frame, "Sentence error", frame.script->source + 5);  // at the NUL
  const std::string longLine(5000, 'x');
  frame = FrameIn(longLine.c_str());
  ReportError(&frame, "Sentence error", frame.script->source + 10);
  frame = FrameIn("abc;");
  frame.script->source[0] = 0;  // a source that ends before the position
  ReportError(&frame, "Script not Found", frame.script->source + 2);
  EXPECT_EQ(output,
            "### Error: Sentence error : s.f:(2) : b;\n### Error: Sentence error : s.f:(1) : " +
                std::string(kReportCapacity - 39, 'x') +
                "\n### Error: Script not Found : s.f : c;\n");
  output.clear();
  ASSERT_TRUE(port::SetCodePage(port::kCodePageShiftJis));
  std::string message = "a";
  for (int i = 0; i < 600; ++i) message += "\x82\xA0";
  ReportError(&frame, message.c_str(), nullptr);
  EXPECT_EQ(output.size(), kReportCapacity - 1);  // 12 bytes, then whole pairs only, and "\n"
  char room[16];  // "### Error: a" and one pair take 14 bytes; the next pair needs 16 and a NUL
  EXPECT_EQ(FormatReport(&frame, message.c_str(), nullptr, 0, room, sizeof room), 14U);
  EXPECT_STREQ(room, "### Error: a\x82\xA0");
  EXPECT_EQ(FormatReport(&frame, "m", nullptr, 0, room, 1), 0U);
  EXPECT_EQ(room[0], 0);
  InstallNativeTable(natives + 1, 1);  // print only
  ReportError(&frame, "Sentence error", nullptr);
  EXPECT_EQ(output.size(), kReportCapacity - 1);
}

// A configuration too large for the memory at hand must report and fail (not crash) wherever
// memory runs out: in reading, parsing or running it, and in delivering the report itself.
TEST(OutOfMemory, TheToolReportsAndFailsWhereverMemoryRunsOut) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve more address space than the limits below";
#endif
  const char* script =
      "s=0; f=$(mktemp) && yes 'swap(0, 0, 0, 0x41, 0x1e, 0x42);' | head -n 45000 >$f || exit 1\n"
      "for k in 16384 32768 49152 65536 81920; do\n"
      "  (ulimit -v $k; exec '" KEYTWINE_TOOL
      "' check $f >/dev/null 2>$f.err); s=$?\n"
      "  [ $s -gt 0 ] && [ $s -lt 128 ] && grep -q 'Alloc failed' $f.err || echo \"$k KB: $s\"\n"
      "done | grep . && s=1; rm -f $f $f.err; exit $s";
  EXPECT_EQ(std::system(script), 0);
}

}  // namespace
}  // namespace keytwine::testing
