// Statements: control flow, assignment, indexing, lists, post-increments, return and exit.
#include "tests/script/engine/engine_harness.h"

namespace keytwine::testing {
namespace {

using StatementTest = EngineTest;

TEST_F(StatementTest, IfAndElseIfChains) {
  const char* source = R"(
    function pick(x) {
      if (x == 1) print("one"); else if (x == 2) print("two"); else print("other");
      if (x) print("true");
    }
    pick(1); pick(2); pick(0);)";
  EXPECT_EQ(Run(source), "one\ntrue\ntwo\ntrue\nother");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StatementTest, Loops) {
  EXPECT_EQ(Run("i = 0; while (i < 3) { print(i); i++; }"), "0\n1\n2");
  EXPECT_EQ(Run("i = 5; do { print(i); i++; } while (i < 3);"), "5");
  EXPECT_EQ(Run("i = 0; do print(i++); while (i < 2);"), "0\n1");
  EXPECT_EQ(Run("for (i = 0, j = 10; i < 2; i++, j--) print(i, j);"), "0 10\n1 9");
  EXPECT_EQ(Run(R"(s = "abc"; while (s) { print(s); s = ""; })"), "abc");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StatementTest, AnEmptyConditionLoopsUntilBreak) {
  EXPECT_EQ(Run("i = 0; for (;;) { if (++i == 3) break; } print(i);"), "3");
  EXPECT_EQ(Run("i = 0; for (; ; i++) if (i == 4) break; print(i);"), "4");
}

TEST_F(StatementTest, ContinueRunsTheStepPart) {
  EXPECT_EQ(Run("for (i = 0; i < 5; i++) { if (i % 2) continue; print(i); }"), "0\n2\n4");
  EXPECT_EQ(Run("i = 0; while (i < 4) { i++; if (i == 2) continue; print(i); }"), "1\n3\n4");
}

TEST_F(StatementTest, BreakWithACountLeavesThatManyMoreLoops) {
  const char* twoLevels = R"(
    for (i = 0; i < 3; i++) {
      for (j = 0; j < 3; j++) { if (j == 1) break 1; print(i, j); }
      print("inner done");
    }
    print("end", i);)";
  EXPECT_EQ(Run(twoLevels), "0 0\nend 0");
  const char* threeLevels = R"(
    for (a = 0; a < 2; a++) {
      for (b = 0; b < 2; b++) { for (c = 0; c < 2; c++) break 1; print("b loop"); }
      print("a loop", a);
    })";
  EXPECT_EQ(Run(threeLevels), "a loop 0\na loop 1");
  // break 0 and a negative count leave one loop.
  EXPECT_EQ(Run("for (a = 0; a < 2; a++) { for (;;) break -5; print(a); }"), "0\n1");
  EXPECT_EQ(Run("for (a = 0; a < 2; a++) { for (;;) break 0; print(a); }"), "0\n1");
  // A count larger than the loops around it ends the function.
  EXPECT_EQ(Run(R"(function f() { while (1) break 9; print("not here"); } f(); print("after");)"),
            "after");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StatementTest, BreakInASwitchLeavesOnlyTheSwitch) {
  const char* source = R"(
    for (i = 0; i < 2; i++) {
      switch (i) { case 0: print("zero"); break; case 1: print("one"); }
      print("after", i);
    })";
  EXPECT_EQ(Run(source), "zero\nafter 0\none\nafter 1");
  // break 1 in a switch in a loop leaves both.
  EXPECT_EQ(
      Run("for (i = 0; i < 3; i++) { switch (i) { case 1: break 1; } print(i); } print(\"x\");"),
      "0\nx");
}

TEST_F(StatementTest, ContinueInASwitchContinuesTheLoop) {
  EXPECT_EQ(Run("for (i = 0; i < 3; i++) { switch (i) { case 1: continue; } print(i); }"), "0\n2");
}

TEST_F(StatementTest, SwitchFallsThroughTheLabelsAfterTheSelectedOne) {
  EXPECT_EQ(
      Run(R"(switch (2) { case 1: print(1); case 2: print(2); case 3: print(3); default: print("d"); })"),
      "2\n3\nd");
  EXPECT_EQ(Run(R"(switch (9) { case 1: print(1); default: print("d"); case 2: print(2); })"),
            "d\n2");
  EXPECT_EQ(Run(R"(switch (9) { case 1: print(1); } print("none");)"), "none");
  // The integer label is compared in its string form with a string value.
  EXPECT_EQ(Run(R"(switch ("1") { case 1: print("matched"); })"), "matched");
  EXPECT_EQ(Run(R"(switch ({1, 2}) { case {1}: print("a"); case {1, 2}: print("b"); })"), "b");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StatementTest, CaseLabelsAreEvaluatedInOrderUntilOneMatches) {
  const char* source = R"(
    function c(n) { print("case", n); return n; }
    switch (2) { case c(1): print("one"); case c(2): print("two"); case c(3): print("three"); })";
  EXPECT_EQ(Run(source), "case 1\ncase 2\ntwo\nthree");
}

TEST_F(StatementTest, AFailingCaseLabelEndsTheSearch) {
  const char* source =
      R"(switch (5) { case 1 / 0: print("a"); case 5: print("b"); default: print("c"); }
print("after");)";
  EXPECT_EQ(Run(source), "after");
  EXPECT_EQ(
      Errors(),
      ErrorAt(
          "Divide by ZERO", "test.test", 1,
          R"(switch (5) { case 1 / 0: print("a"); case 5: print("b"); default: print("c"); })"));
  // A label without a value ends the search too, and no default runs.
  EXPECT_EQ(Run(R"(switch (0) { case : print("a"); default: print("d"); } print("after");)"),
            "after");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StatementTest, PostIncrementsApplyAtTheEndOfTheElement) {
  EXPECT_EQ(Run("x = 5; y = x++ + x; print(x, y);"), "6 10");
  // The result is the old value even when the increment is applied before it is used.
  EXPECT_EQ(Run("a = 5; print(a++, a);"), "5 6");
  EXPECT_EQ(Run("function f(v) { return v; } a = 7; print(f(a++), a);"), "7 8");
  EXPECT_EQ(Run("a = 1; l = {a++, a++, a}; print(l, a);"), "{1,2,a:3} 3");
  EXPECT_EQ(Run("d = 0; d--; d--; print(d);"), "-2");
  // The increment of an element belongs to that element, not to a call or list inside it.
  EXPECT_EQ(Run("function f(v) { return v; } a = 5; x = a++ + f(a); print(x, a);"), "10 6");
  EXPECT_EQ(Run("a = 5; x = a++ + {a}[0]; print(x, a);"), "10 6");
  EXPECT_EQ(Run(R"(s = "x"; t = s++; print(t, s);)"), "x 1");
  // On a temporary a postfix operator changes nothing.
  EXPECT_EQ(Run("print(5++, 5--);"), "5 5");
  // A reference in a string is a complete expression of its own.
  EXPECT_EQ(Run(R"(a = 1; s = "%(a++)%"; print(s, a);)"), "1 2");
  EXPECT_EQ(Run("l[0] = 1; l[0]++; print(l[0]);"), "2");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StatementTest, BlockStatementsDiscardWhatTheyLeave) {
  // Were the block's value left on the stack, the do loop would take it as its condition.
  EXPECT_EQ(Run(R"({ 0 } do { print("body"); } while (0);)"), "body");
  EXPECT_EQ(Run("function f() { { 5 } return; } print(f());"), "0");
  EXPECT_EQ(Run("if (1) { 7 } print(1);"), "1");
}

TEST_F(StatementTest, ListLiteralsKeepTheirEntriesWithNames) {
  EXPECT_EQ(Run(R"(x = 3; l = {x, y = 4, 5}; print(l, l["x"], l["y"], l[2], l[0]);)"),
            "{x:3,y:4,5} 3 4 5 3");
  EXPECT_EQ(Run("l = {1, , 3}; m = {, 2}; print(l, m);"), "{1,0,3} {0,2}");
  EXPECT_EQ(Run("l = {1, {2, 3}}; print(l, l[1][0]);"), "{1,{2,3}} 2");
  // An assignment names its entry after its target, or not at all.
  EXPECT_EQ(Run("y = 2; l = {a[0] = y, b = y}; print(l);"), "{2,b:2}");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StatementTest, AListLiteralOutlivesNamesFirstSeenInIt) {
  EXPECT_EQ(Run("y = {z}; print(y);"), "{z:0}");
  EXPECT_EQ(Run(R"(y = {z = "text", w}; print(y["z"], y);)"), "text {z:text,w:0}");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StatementTest, WholeListAssignment) {
  EXPECT_EQ(Run(R"(a = {1, 2}; a = a[""]; print(a[""]);)"), "{1,2}");
  EXPECT_EQ(Run(R"(a = {1, 2}; a = {a[""], 3}; print(a[""]);)"), "{{1,2},3}");
  EXPECT_EQ(Run(R"(a = {1, 2, 3}; a = {9}; print(a[""]);)"), "{9}");
  EXPECT_EQ(Run(R"(a = {1, 2}; a = {}; print(a[""]);)"), "{}");
  // Assigning a list leaves the target's scalar alone; a scalar assignment leaves the list.
  EXPECT_EQ(Run(R"(b = 3; a = {1}; b = a[""]; print(b + 0, b[0]);)"), "3 1");
  EXPECT_EQ(Run(R"(a = 7; a[0] = 1; b = a; print(b, b[""]);)"), "7 {}");
  // A list target takes the value's list even from a scalar: it is emptied.
  EXPECT_EQ(Run(R"(a = {1}; a[""] = 5; print(a[""], a);)"), "{} 0");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StatementTest, IndexingCreatesElements) {
  EXPECT_EQ(Run(R"(a[2] = 5; print(a[""]); print(a[1]);)"), "{0,0,5}\n0");
  EXPECT_EQ(Run(R"(h["x"] = 1; h[0] = 2; print(h[""], h["0"]);)"), "{x:2,0:0} 0");
  EXPECT_EQ(Run(R"(print({5, 6}[1], "abc"[0], {1, {2, 3}}[1][1]);)"), "6 0 3");
  EXPECT_EQ(Run(R"(a = {1}; b = a; b[0] = 2; print(a[0]);)"), "1");
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(Run("a[-1] = 1;"), "");
  EXPECT_EQ(Errors(), ErrorAt("Index error", "test.test", 1, "a[-1] = 1;"));
}

TEST_F(StatementTest, ReturnResumeAndExit) {
  EXPECT_EQ(Run(R"(function f() { return {1, 2}; } l = f(); print(f(), l[""]);)"), "{1,2} {1,2}");
  EXPECT_EQ(Run("function f() { resume 4; } function g() { exit 5; } print(f(), g());"), "4 5");
  EXPECT_EQ(Run("function f() { for (;;) { { return 6; } } } print(f());"), "6");
  EXPECT_EQ(Run("function f() { } function g() { return; } print(f(), g());"), "0 0");
  EXPECT_EQ(Run("print(1); exit; print(2);"), "1");
  EXPECT_EQ(last_, ExecResult::Exited);
  EXPECT_EQ(Run("print(1); return 3; print(2);"), "1");
  EXPECT_EQ(last_, ExecResult::Returned);
}

TEST_F(StatementTest, DeclarationsAndScopes) {
  EXPECT_EQ(Run("var a = 1; { var a = 2; print(a); } print(a);"), "2\n1");
  EXPECT_EQ(Run("{ b = 1; } print(b);"), "0");  // b was a local of the block
  EXPECT_EQ(Run("var a; var a;"), "");
  EXPECT_EQ(Errors(), "### Error: a :Declaration overlaps : test.test:(1) : var a; var a;");
}

TEST_F(StatementTest, ExplicitOptionReportsUndeclaredNames) {
  Script* script = Load("test", "var a = 1;\nprint(a);\nprint(b);\nprint(2);");
  ASSERT_NE(script, nullptr);
  script->optionExplicit = 1;
  EXPECT_EQ(RunTop(script), ExecResult::Failed);
  EXPECT_EQ(Joined(Take().printed), "1");
  EXPECT_EQ(Errors(), "### Error: b :Variable is not defined : test.test:(3) : print(b);");
  EXPECT_EQ(Run("print(b);"), "0");
}

TEST_F(StatementTest, ScriptQualifiedNames) {
  Script* library = Load("Lib", "x = 5; function get() { return x; }");
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(RunTop(library, /*promote=*/true), ExecResult::Normal);
  EXPECT_EQ(Run("print(lib.x, lib.get(), LIB.GET()); lib.x = 6; print(Lib.get());"), "5 5 5\n6");
  EXPECT_EQ(Errors(), "");
  // An unknown script prefix is reported; the name then becomes a local.
  EXPECT_EQ(Run("nosuch.x = 1; print(nosuch.x);"), "1");
  EXPECT_EQ(Errors(), "### Error: Script not Found : test.test : nosuch.x");
  EXPECT_EQ(Run("nosuch.f();"), "");
  EXPECT_EQ(Errors(), "### Error: Script not Found : test.test : nosuch.f\n" +
                          AtLine("test.test", 1, "nosuch.f();"));
}

}  // namespace
}  // namespace keytwine::testing
