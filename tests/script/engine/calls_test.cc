// Function calls: parameters, arg, argmatch dispatch, natives and libraries, the traceback and
// the depth limit.
#include <string>

#include "script/front/tokens.h"
#include "tests/script/engine/engine_harness.h"

namespace keytwine::testing {
namespace {

using CallTest = EngineTest;

TEST_F(CallTest, MissingArgumentsTakeTheirDefaults) {
  EXPECT_EQ(
      Run(R"(function f(a, b = a + 1, c = "x") { print(a, b, c); } f(1); f(1, 5); f(1, 5, 6, 7);)"),
      "1 2 x\n1 5 x\n1 5 6");
  // A default may call functions, whose arguments are separated by commas of their own.
  EXPECT_EQ(Run("function g(n, m) { return n * m; } function f(a = g(2, 3), b = {4, 5}) "
                "{ print(a, b); } f(); f(1);"),
            "6 {4,5}\n1 {4,5}");
  EXPECT_EQ(Errors(), "");
}

TEST_F(CallTest, AMissingArgumentWithoutDefaultIsAnArgumentError) {
  EXPECT_EQ(Run("function f(a, b) { print(\"ran\"); return 1; }\nx = f(1);\nprint(x);"), "0");
  EXPECT_EQ(Errors(), ErrorAt("Argument error", "test.f", 1,
                              "function f(a, b) { print(\"ran\"); return 1; }"));
  EXPECT_EQ(Run("function f(a = 1, b) { print(a, b); }\nf();"), "");
  EXPECT_EQ(Errors(),
            ErrorAt("Argument error", "test.f", 1, "function f(a = 1, b) { print(a, b); }"));
}

TEST_F(CallTest, ByReferenceParametersWriteThrough) {
  EXPECT_EQ(
      Run("function inc(&v, w) { v = v + 1; w = w + 1; } a = 1; b = 1; inc(a, b); print(a, b);"),
      "2 1");
  EXPECT_EQ(Run(R"(function fill(&l) { l[0] = 7; l["k"] = 8; } fill(t); print(t[""]);)"),
            "{7,k:8}");
  EXPECT_EQ(Run(R"(function fill(l) { l[0] = 7; } t = {1}; fill(t); print(t[""]);)"), "{1}");
  EXPECT_EQ(Run(R"(function reset(&l) { l = {9}; } t = {1, 2}; reset(t); print(t[""]);)"), "{9}");
  EXPECT_EQ(Run("function set(&e) { e = 5; } l = {1, 2}; set(l[1]); print(l);"), "{1,5}");
  // A temporary passed by reference is a value like any other.
  EXPECT_EQ(Run("function set(&e) { e = 5; return e; } print(set(1));"), "5");
  EXPECT_EQ(Errors(), "");
}

TEST_F(CallTest, ArgHoldsEveryArgument) {
  EXPECT_EQ(
      Run(R"(function f() { print(arg[0], arg[1], arg[""]); arg[0] = 5; } x = 1; f(x, "s"); print(x);)"),
      "1 s {1,s}\n5");
  EXPECT_EQ(Run("function f() { print(arg, arg[\"\"]); } f();"), "0 {}");
  EXPECT_EQ(Run("function f(a) { print(a, arg[1]); } f(1, 2);"), "1 2");
  // A parameter called arg gives way to the arguments.
  EXPECT_EQ(Run("function f(&arg) { print(arg[0]); } x = 3; f(x); print(x);"), "3\n3");
  EXPECT_EQ(Errors(), "");
}

TEST_F(CallTest, ArgumentListsWithEmptyItems) {
  EXPECT_EQ(Run("print(,);"), "");
  EXPECT_EQ(Run("print(1, , 3);"), "1 0 3");
  EXPECT_EQ(Run("print(, 2);"), "2");  // an empty first argument passes nothing
}

TEST_F(CallTest, PatternParameters) {
  EXPECT_EQ(Run(R"(function f("%k%=%v%", n) { print(k, v, n); } f("a=b", 3); f("ab", 4);)"),
            "a b 3\n  4");
  EXPECT_EQ(Errors(), "");
}

TEST_F(CallTest, ArgmatchRunsEveryHandlerWhosePatternMatches) {
  const char* source = R"(
    argmatch key("^down %k%", extra) { print("down", k, extra); }
    argmatch key2("^up %k%") { print("up", k); }
    argmatch any(".*") { print("any", arg[0]); }
    n = ?("down a", 7); print(n);
    n = ?("up b"); print(n);
    print(?("x"), ?(12));)";
  EXPECT_EQ(Run(source), "down a 7\nany down a\n2\nup b\nany up b\n2\nany x\nany 12\n1 1");
  EXPECT_EQ(Errors(), "");
}

TEST_F(CallTest, ExitEndsTheDispatchAndReturnEndsTheHandler) {
  EXPECT_EQ(
      Run(R"(argmatch a("x") { print("a"); exit; } argmatch b("x") { print("b"); } print(?("x"));)"),
      "a\n1");
  EXPECT_EQ(
      Run(R"(argmatch a("x") { print("a"); return; } argmatch b("x") { print("b"); } print(?("x"));)"),
      "a\nb\n2");
  // Captures and parameters of one handler are gone in the next.
  EXPECT_EQ(Run(R"(argmatch a("%v%") { } argmatch b("x") { print(v); } print(?("x"));)"), "0\n2");
  EXPECT_EQ(Run(R"(argmatch a("q") { print("a"); } print(?("x"));)"), "0");
}

TEST_F(CallTest, DispatchOverEveryScript) {
  ASSERT_NE(Load("one", R"(argmatch h("x") { print("one"); })"), nullptr);
  ASSERT_NE(Load("two", R"(argmatch h("x") { print("two"); exit; })"), nullptr);
  ASSERT_NE(Load("three", R"(argmatch h("x") { print("three"); })"), nullptr);
  EXPECT_EQ(Run(R"(print(all.?("x")); print(?("x")); print(two.?("x"));)"),
            "one\ntwo\n2\n0\ntwo\n1");
  EXPECT_EQ(Errors(), "");
}

TEST_F(CallTest, DispatchWithoutArgumentsIsReported) {
  EXPECT_EQ(Run("?();"), "");
  EXPECT_EQ(Errors(), ErrorAt("Too few arguments", "test.test", 1, "?();") + "\n" +
                          AtLine("test.test", 1, "?();"));
}

TEST_F(CallTest, AFailingHandlerFailsTheDispatch) {
  const char* source = R"(argmatch h("x") {
  y = 1 / 0;
}
?("x");)";
  EXPECT_EQ(Run(source), "");
  EXPECT_EQ(Errors(), ErrorAt("Divide by ZERO", "test.h", 2, "y = 1 / 0;") + "\n" +
                          AtLine("test.test", 4, "?(\"x\");"));
}

TEST_F(CallTest, NativesFollowTheCallingConvention) {
  EXPECT_EQ(Run("print(need(21));"), "42");
  EXPECT_EQ(Run("x = 1; n = poke(x, 2); print(x, n);"), "99 2");
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(Run("need();"), "");
  EXPECT_EQ(Errors(), "### Error: Too few arguments : test.test : need\n" +
                          AtLine("test.test", 1, "need();"));
  // The message buffer is terminated at its last byte, whatever the native wrote.
  std::string message;
  for (size_t i = 0; i + 1 < kNativeMessageSize; ++i) message += static_cast<char>('a' + i % 26);
  EXPECT_EQ(Run("fail();"), "");
  EXPECT_EQ(Errors(), "### Error: Function error : test.test : " + message + "\n" +
                          AtLine("test.test", 1, "fail();"));
  EXPECT_EQ(Run("quiet(); print(1);"), "");
  EXPECT_EQ(Errors(), AtLine("test.test", 1, "quiet(); print(1);"));
}

TEST_F(CallTest, ScriptFunctionsShadowNatives) {
  EXPECT_EQ(Run(R"(function need(x) { return "mine"; } print(need(1));)"), "mine");
}

TEST_F(CallTest, LibrariesAreAskedAfterTheHostTable) {
  port::LibraryHandle module = port::OpenLibrary(ToWide(KEYTWINE_TEST_LIBRARY).get());
  ASSERT_NE(module, nullptr);
  auto* failed = static_cast<LibraryEntry*>(port::AllocZero(sizeof(LibraryEntry)));
  auto* loaded = static_cast<LibraryEntry*>(port::AllocZero(sizeof(LibraryEntry)));
  ASSERT_NE(failed, nullptr);
  ASSERT_NE(loaded, nullptr);
  loaded->module = module;
  failed->next = loaded;  // a module that failed to load holds no handle
  engine_->libraries = failed;
  EXPECT_EQ(Run("print(libtwice(4), need(4));"), "8 8");
  EXPECT_EQ(Run("libtwice();"), "");
  EXPECT_EQ(Errors(), "### Error: Too few arguments : test.test : libtwice\n" +
                          AtLine("test.test", 1, "libtwice();"));
  EXPECT_EQ(Run("nosuch(1);"), "");
  EXPECT_EQ(Errors(), "### Error: Function not Found : test.test : nosuch\n" +
                          AtLine("test.test", 1, "nosuch(1);"));
}

TEST_F(CallTest, PrefixedNamesSelectAScript) {
  ASSERT_NE(Load("other", "function f() { return \"other\"; }"), nullptr);
  EXPECT_EQ(Run(R"(function f() { return "own"; } print(f(), other.f(), all.f(), test.f());)"),
            "own other own own");
  EXPECT_EQ(Run("other.nosuch();"), "");
  EXPECT_EQ(Errors(), "### Error: Function not Found : test.test : other.nosuch\n" +
                          AtLine("test.test", 1, "other.nosuch();"));
}

TEST_F(CallTest, ErrorsInFunctionsCarryATraceback) {
  const char* source = R"(function inner(x) {
  return 1 / x;
}
function outer(x) { return inner(x); }
outer(0);)";
  EXPECT_EQ(Run(source), "");
  EXPECT_EQ(Errors(), ErrorAt("Divide by ZERO", "test.inner", 2, "return 1 / x;") + "\n" +
                          AtLine("test.outer", 4, "function outer(x) { return inner(x); }") + "\n" +
                          AtLine("test.test", 5, "outer(0);"));
}

TEST_F(CallTest, RecursionIsBoundedByTheCallDepth) {
  EXPECT_EQ(Run("function f() { f(); }\nf();\nprint(1);"), "");
  // A direct recursion adds no line of its own.
  EXPECT_EQ(Errors(), ErrorAt(kCallDepthExceeded, "test.f", 1, "function f() { f(); }") + "\n" +
                          AtLine("test.test", 2, "f();"));
  EXPECT_EQ(Run("function f(n) { if (n < 150) return f(n + 1); return n; } print(f(0));"), "150");
  EXPECT_EQ(Errors(), "");
}

TEST_F(CallTest, DeepNestingInEachLevelIsBoundedToo) {
  EXPECT_EQ(Run("function f(n) { while (1) { if (n) { { { x = \"%f(n + 1)%\"; } } } } }\nf(1);"),
            "");
  const std::string errors = Errors();
  EXPECT_EQ(errors.rfind("### Error: Call depth exceeded : test.f", 0), 0U) << errors;
  EXPECT_NE(errors.find(AtLine("test.test", 2, "f(1);")), std::string::npos);
}

TEST_F(CallTest, MutualRecursionReportsEveryLevel) {
  EXPECT_EQ(Run("function f() { g(); }\nfunction g() { f(); }\nf();"), "");
  Take();
  // The report, one line for each of the kMaxCallDepth calls that ran, and the top level's.
  ASSERT_EQ(errors_.size(), static_cast<size_t>(kMaxCallDepth + 2));
  EXPECT_EQ(errors_.front(), ErrorAt(kCallDepthExceeded, "test.f", 1, "function f() { g(); }"));
  EXPECT_EQ(errors_[1], AtLine("test.g", 2, "function g() { f(); }"));
  EXPECT_EQ(errors_[2], AtLine("test.f", 1, "function f() { g(); }"));
  EXPECT_EQ(errors_.back(), AtLine("test.test", 3, "f();"));
  errors_.clear();
}

TEST_F(CallTest, TheCallCacheIsFilledOnFirstResolution) {
  Script* script =
      Load("test", "function f() { return 1; } for (i = 0; i < 2; i++) { x = f(); need(1); }");
  ASSERT_NE(script, nullptr);
  EXPECT_EQ(RunTop(script), ExecResult::Normal);
  int32_t kinds[2] = {};
  int found = 0;
  // The calls are in the loop body's block.
  for (SyntaxNode* node = script->topLevel; node != nullptr; node = node->next) {
    if (node->kind != T_LOOP_BODY) continue;
    for (SyntaxNode* inner = node->child->child; inner != nullptr; inner = inner->next) {
      if (inner->kind == T_CALL && found < 2) kinds[found++] = inner->callTargetKind;
    }
  }
  ASSERT_EQ(found, 2);
  EXPECT_EQ(kinds[0], kCallTargetFunction);
  EXPECT_EQ(kinds[1], kCallTargetNative);
}

struct ThreadStartSeen {
  std::string name;
  std::string arguments;
};
ThreadStartSeen threadStartSeen;

int32_t RecordThreadStart(Frame* /*frame*/, SyntaxNode* /*call*/, const char* name,
                          Value* arguments) {
  threadStartSeen.name = name;
  threadStartSeen.arguments.clear();
  for (const Value* argument = arguments; argument != nullptr; argument = argument->next) {
    threadStartSeen.arguments += Show(argument) + ";";
  }
  return 42;
}

TEST_F(CallTest, ThreadStartsGoThroughTheHook) {
  EXPECT_EQ(Run("print(&worker(1));"), "-1");
  SetThreadStartHook(&RecordThreadStart);
  EXPECT_EQ(Run(R"(x = "a"; print(&worker(x, 2));)"), "42");
  EXPECT_EQ(threadStartSeen.name, "worker");
  EXPECT_EQ(threadStartSeen.arguments, "a;2;");
}

}  // namespace
}  // namespace keytwine::testing
