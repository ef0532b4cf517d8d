#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/port/port.h"
#include "script/text/text.h"
#include "tests/script/front/front_harness.h"

namespace keytwine::testing {
namespace {

using FrontStatements = FrontTest;

std::vector<std::string> One(const std::string& line) {
  return {line};
}

TEST_F(FrontStatements, AnEmptyScriptIsAnEmptyChain) {
  EXPECT_EQ(Parse(""), "");
  EXPECT_EQ(chain_, nullptr);
  EXPECT_EQ(Parse(" \r\n\t// only a comment\n/* and another"), "");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(FrontStatements, ExpressionStatementsEndWithSemicolonsExceptBeforeTheEnd) {
  EXPECT_EQ(Parse("a = 1; b\n"), Lines(R"(
T_VARIABLE "a"
T_NUMBER 1
T_ASSIGN
T_SEMICOLON
T_VARIABLE "b"
)"));
  EXPECT_EQ(Parse(";;"), "T_SEMICOLON\nT_SEMICOLON\n");
  EXPECT_EQ(Parse("x = 1\ny = 2"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "y = 2")));
  EXPECT_EQ(Parse("x = 1\n)"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, ")")));
}

TEST_F(FrontStatements, DeclarationsDeclareEveryItemAndItsBracketNames) {
  EXPECT_EQ(Parse("var a = 1, b;"), Lines(R"(
T_DECLARE "a"
T_NUMBER 1
T_ASSIGN
T_COMMA
T_DECLARE "b"
T_SEMICOLON
)"));
  // Names inside an item's brackets are declarations too; the value after '=' is not.
  EXPECT_EQ(Parse("var A[n] = b, \"%x%\""), Lines(R"(
T_DECLARE "a"
T_DECLARE "n"
T_INDEX
T_VARIABLE "b"
T_ASSIGN
T_COMMA
T_PATTERN "%x%"
)"));
  EXPECT_EQ(Parse("var c = d++;"), Lines(R"(
T_DECLARE "c"
T_VARIABLE "d"
T_POSTINC
T_ASSIGN
T_POSTFIX_DONE
T_SEMICOLON
)"));
}

TEST_F(FrontStatements, BlocksAreMarkedSoTheirLeftoversAreDiscarded) {
  EXPECT_EQ(Parse("if (a) { b = 1 } return;"), Lines(R"(
T_VARIABLE "a"
T_TEST
T_JUMP -> @1
T_LBRACE block
  T_VARIABLE "b"
  T_NUMBER 1
  T_ASSIGN
T_JUMP -> @2
@1 T_ELSE
@2 T_IF_END
T_RETURN
T_SEMICOLON
)"));
  // A list literal keeps its values.
  EXPECT_EQ(Parse("x = {b = 1}"), Lines(R"(
T_VARIABLE "x"
T_LBRACE
  T_VARIABLE "b"
  T_NUMBER 1
  T_ASSIGN
T_ASSIGN
)"));
  EXPECT_EQ(Parse("{}{;}"), "T_LBRACE block\nT_LBRACE block\n  T_SEMICOLON\n");
}

TEST_F(FrontStatements, IfWithAndWithoutElse) {
  const std::string both = Lines(R"(
T_VARIABLE "a"
T_TEST
T_JUMP -> @1
T_VARIABLE "b"
T_NUMBER 1
T_ASSIGN
T_SEMICOLON
T_JUMP -> @2
@1 T_ELSE
T_VARIABLE "c"
T_NUMBER 2
T_ASSIGN
T_SEMICOLON
@2 T_IF_END
)");
  EXPECT_EQ(Parse("if (a) b = 1; else c = 2;"), both);
  EXPECT_EQ(Parse("IF (a) b = 1; ELSE c = 2;"), both);
  // Without else the markers are still there, and the first jump targets T_ELSE.
  EXPECT_EQ(Parse("if (x)"), Lines(R"(
T_VARIABLE "x"
T_TEST
T_JUMP -> @1
T_JUMP -> @2
@1 T_ELSE
@2 T_IF_END
)"));
  EXPECT_EQ(Parse("if (a) b = 1\nelse c = 2"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "else c = 2")));
}

TEST_F(FrontStatements, ElseIfChainsNestTheInnerIfBeforeTheOuterEnd) {
  EXPECT_EQ(Parse("if (a) x; else if (b) y; else z;"), Lines(R"(
T_VARIABLE "a"
T_TEST
T_JUMP -> @1
T_VARIABLE "x"
T_SEMICOLON
T_JUMP -> @4
@1 T_ELSE
T_VARIABLE "b"
T_TEST
T_JUMP -> @2
T_VARIABLE "y"
T_SEMICOLON
T_JUMP -> @3
@2 T_ELSE
T_VARIABLE "z"
T_SEMICOLON
@3 T_IF_END
@4 T_IF_END
)"));
}

TEST_F(FrontStatements, ConditionsMustBeParenthesisedAndNotEmpty) {
  EXPECT_EQ(Parse("if () x;"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 1, "if () x;")));
  EXPECT_EQ(Parse("while\nx;"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "x;")));
  EXPECT_EQ(Parse("switch (a, b) {}"), "FAILED");
  EXPECT_EQ(Parse("if (a++) b;"), Lines(R"(
T_VARIABLE "a"
T_POSTINC
T_POSTFIX_DONE
T_TEST
T_JUMP -> @1
T_VARIABLE "b"
T_SEMICOLON
T_JUMP -> @2
@1 T_ELSE
@2 T_IF_END
)"));
}

TEST_F(FrontStatements, WhileLoop) {
  EXPECT_EQ(Parse("while (c) c--;"), Lines(R"(
@1 T_LOOP_HEAD
T_VARIABLE "c"
T_LOOP_BODY
  T_VARIABLE "c"
  T_POSTDEC
  T_POSTFIX_DONE
  T_SEMICOLON
T_JUMP -> @2
T_JUMP -> @1
@2 T_LOOP_END
)"));
}

TEST_F(FrontStatements, DoLoopNeedsNoFinalSemicolonAtTheEnd) {
  const std::string loop = Lines(R"(
@1 T_LOOP_HEAD
T_LOOP_BODY
  T_VARIABLE "x"
  T_POSTINC
  T_POSTFIX_DONE
  T_SEMICOLON
T_DO_COND
T_VARIABLE "x"
T_NUMBER 3
T_LT
T_TEST
T_JUMP -> @2
T_JUMP -> @1
@2 T_LOOP_END
)");
  EXPECT_EQ(Parse("do x++; while (x < 3)"), loop);
  // The ';' after the condition is an empty statement of its own.
  EXPECT_EQ(Parse("do x++; while (x < 3);"), loop + "T_SEMICOLON\n");
  EXPECT_EQ(Parse("do x; y"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 1, "do x; y")));
  EXPECT_EQ(Parse("do x; while (a)\ny"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "y")));
}

TEST_F(FrontStatements, ForLoopRunsItsStepAfterTheBody) {
  EXPECT_EQ(Parse("for (i = 0; i < 3; i++) x = i;"), Lines(R"(
T_VARIABLE "i"
T_NUMBER 0
T_ASSIGN
T_SEMICOLON
@1 T_LOOP_HEAD
T_VARIABLE "i"
T_NUMBER 3
T_LT
T_LOOP_BODY
  T_VARIABLE "x"
  T_VARIABLE "i"
  T_ASSIGN
  T_SEMICOLON
T_JUMP -> @2
T_VARIABLE "i"
T_POSTINC
T_POSTFIX_DONE
T_SEMICOLON
T_JUMP -> @1
@2 T_LOOP_END
)"));
  // Empty clauses hold no nodes.
  EXPECT_EQ(Parse("for (;;) { break; }"), Lines(R"(
T_SEMICOLON
@1 T_LOOP_HEAD
T_LOOP_BODY
  T_LBRACE block
    T_BREAK
    T_SEMICOLON
T_JUMP -> @2
T_SEMICOLON
T_JUMP -> @1
@2 T_LOOP_END
)"));
  EXPECT_EQ(Parse("for (a) x;"), "FAILED");
  EXPECT_EQ(Parse("for (;; a\n;) x;"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, ";) x;")));
  // A failing body releases the step chain not yet linked (checked by the leak detector).
  EXPECT_EQ(Parse("for (;; a++, b) { x y }"), "FAILED");
}

TEST_F(FrontStatements, SwitchBodyAndLabels) {
  EXPECT_EQ(Parse("switch (v) { case 1: x; break; default: y }"), Lines(R"(
T_VARIABLE "v"
T_SWITCH
  T_CASE
  T_NUMBER 1
  T_COLON
  T_VARIABLE "x"
  T_SEMICOLON
  T_BREAK
  T_SEMICOLON
  T_DEFAULT
  T_COLON
  T_VARIABLE "y"
)"));
  // Labels stand wherever a statement may.
  EXPECT_EQ(Parse("case \"a\": default:"), Lines(R"(
T_CASE
T_STRING "a"
T_COLON
T_DEFAULT
T_COLON
)"));
  EXPECT_EQ(Parse("case 1;"), "FAILED");
  EXPECT_EQ(Parse("switch (a) x;"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 1, "switch (a) x;")));
}

TEST_F(FrontStatements, JumpStatementsComeAfterTheirOptionalValue) {
  EXPECT_EQ(Parse("return a + 1; resume; break 2; continue x++; exit"), Lines(R"(
T_VARIABLE "a"
T_NUMBER 1
T_ADD
T_RETURN
T_SEMICOLON
T_RETURN
T_SEMICOLON
T_NUMBER 2
T_BREAK
T_SEMICOLON
T_VARIABLE "x"
T_POSTINC
T_POSTFIX_DONE
T_CONTINUE
T_SEMICOLON
T_EXIT
)"));
  EXPECT_EQ(Parse("return 1\n2"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "2")));
}

TEST_F(FrontStatements, TokensThatStartNoStatement) {
  for (const char* text : {"else x;", "}", ")", "]", ":", "x; * 2"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Parse(text), "FAILED");
    EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 1, text)));
  }
  // A block that reaches the end of the text: the bracket check counts the '}' in the comment.
  EXPECT_EQ(Parse("{ /* } */"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 1, "{ /* } */")));
  EXPECT_EQ(Parse("{ x = 1"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Parenthesis error", 1, "{ x = 1")));
}

TEST_F(FrontStatements, FunctionDefinitionsAreSkippedAndListed) {
  EXPECT_EQ(Parse("function f(a, b = 1) { return a + b; }"), Lines(R"(
T_JUMP -> @1
T_FUNCTION
T_DECLARE "a"
T_COMMA
T_DECLARE "b"
T_NUMBER 1
T_ASSIGN
T_CALL "f"
  T_VARIABLE "a"
  T_VARIABLE "b"
  T_ADD
  T_RETURN
  T_SEMICOLON
@1 T_FUNCTION_END
)"));
  ASSERT_NE(script_.functions, nullptr);
  EXPECT_STREQ(script_.functions->name, "f");
  EXPECT_EQ(script_.functions->hash, ComputeNameHash("f"));
  EXPECT_EQ(script_.functions->definition, chain_->next);
  EXPECT_EQ(script_.functions->definition->kind, T_FUNCTION);
  // Entries follow the order of definition; a second definition of a name is kept too. An operand
  // may follow the closing '}'.
  EXPECT_NE(Parse("function Later() {}\nfunction f() {} function later() {} -1"), "FAILED");
  EXPECT_EQ(FunctionNames(), "later f later");
}

TEST_F(FrontStatements, ArgmatchTakesAPatternAsItsFirstParameter) {
  EXPECT_EQ(Parse("argmatch f(\"p%x%\", y) { }"), Lines(R"(
T_JUMP -> @1
T_ARGMATCH
T_PATTERN "p%x%"
T_COMMA
T_DECLARE "y"
T_CALL "f"
@1 T_FUNCTION_END
)"));
  EXPECT_NE(chain_->next->next->pattern, nullptr);
  EXPECT_EQ(script_.functions->definition->kind, T_ARGMATCH);
  EXPECT_EQ(Parse("argmatch f(\nx) { }"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Argument format error", 2, "x) { }")));
}

TEST_F(FrontStatements, DefinitionsOnlyAtTheTopLevel) {
  EXPECT_EQ(Parse("{\nfunction f() { }\n}"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "function f() { }")));
  EXPECT_EQ(Parse("function f() {\nfunction g() { }\n}"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "function g() { }")));
  EXPECT_EQ(Parse("if (a)\nargmatch f(\"x\") { }"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "argmatch f(\"x\") { }")));
  // A definition parsed below a starting depth of 0 is never at the top level.
  SyntaxNode* chain = ParseScript(&frame_, "function f() {}", 1);
  EXPECT_EQ(chain, nullptr);
  ReleaseChain(chain);
}

TEST_F(FrontStatements, WithoutAContextNothingIsReportedAndNoDefinitionIsAccepted) {
  SyntaxNode* chain = ParseScript(nullptr, "x = 1;", 0);
  EXPECT_EQ(DumpChain(chain), "T_VARIABLE \"x\"\nT_NUMBER 1\nT_ASSIGN\nT_SEMICOLON\n");
  ReleaseChain(chain);
  EXPECT_EQ(ParseScript(nullptr, "function f() {}", 0), nullptr);
  EXPECT_EQ(ParseScript(nullptr, "#import(a)", 0), nullptr);
  EXPECT_EQ(ParseScript(nullptr, "x = (1", 0), nullptr);
  EXPECT_EQ(ParseScript(&frame_, nullptr, 0), nullptr);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(FrontStatements, MalformedDefinitions) {
  for (const char* text : {"function (a) {}", "function f {}", "function f() x", "function f(a b)",
                           "function f(a;) {}"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Parse(text), "FAILED");
    EXPECT_EQ(Errors().size(), 1u);
    EXPECT_EQ(script_.functions, nullptr);
  }
}

TEST_F(FrontStatements, AFailedParseEmptiesTheFunctionList) {
  EXPECT_EQ(Parse("function f() {}\nargmatch g(\"p\") {}\nx = )"), "FAILED");
  EXPECT_EQ(script_.functions, nullptr);
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 3, "x = )")));
}

TEST_F(FrontStatements, BlocksInsideFailuresAreReleased) {
  // The child chains built before the failure hang from their nodes and go with the chain.
  EXPECT_EQ(Parse("while (a) { if (b) { x = {1, {2}}; y z } }"), "FAILED");
  EXPECT_EQ(Parse("switch (a) { case 1: f(1, \"p\" = 2) ) }"), "FAILED");
  EXPECT_EQ(Parse("function f(\"p\" = 1) { g(); ) }"), "FAILED");
}

// A fake of the loader's directive handler: takes the text up to the first ')' as the directive,
// records it with the script and directory it was given, and goes on after the ')'. A directive
// "#fail(...)" is reported the way the loader reports its errors, and fails the parse.
std::vector<std::string>& SeenDirectives() {
  static std::vector<std::string> seen;
  return seen;
}

const char* FakeDirective(Script* script, const char* directory, const char* position) {
  const char* close = std::strchr(position, ')');
  if (close == nullptr) return nullptr;
  std::string directive(position, close + 1);
  SeenDirectives().push_back(std::string(script->name) + " " + directory + " " + directive);
  if (directive.find("fail") != std::string::npos) {
    Frame frame{};
    frame.script = script;
    ReportError(&frame, "Sentence error", position);
    return nullptr;
  }
  return close + 1;
}

TEST_F(FrontStatements, DirectivesGoToTheHandlerAndMakeNoNode) {
  SeenDirectives().clear();
  SetDirectiveHandler(&FakeDirective);
  EXPECT_EQ(Parse("#import(\"a.ns\")\nx = 1; { # option(explicit) }\n#library(b.dll) -y"), Lines(R"(
T_VARIABLE "x"
T_NUMBER 1
T_ASSIGN
T_SEMICOLON
T_LBRACE block
T_VARIABLE "y"
T_MINUS
)"));
  EXPECT_EQ(SeenDirectives(),
            (std::vector<std::string>{"test dir\\ import(\"a.ns\")", "test dir\\  option(explicit)",
                                      "test dir\\ library(b.dll)"}));
  EXPECT_EQ(Parse("x;\n#fail(here)\ny;"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "#fail(here)")));
}

TEST_F(FrontStatements, DirectiveWithoutAHandlerIsASentenceError) {
  EXPECT_EQ(Parse("x;\n#import(a)"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "#import(a)")));
}

// Statement nesting is bounded like expression nesting; each statement level counts one.
std::string Repeat(const std::string& piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

TEST_F(FrontStatements, NestedStatementsAreBounded) {
  EXPECT_NE(Parse(Repeat("{", kMaxNesting) + Repeat("}", kMaxNesting)), "FAILED");
  EXPECT_EQ(Parse(Repeat("{", kMaxNesting) + "\n{}" + Repeat("}", kMaxNesting)), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "{}" + Repeat("}", kMaxNesting))));
  // if (a) if (a) ... x; : the innermost x; is one level below the last if.
  EXPECT_NE(Parse(Repeat("if (a) ", kMaxNesting - 1) + "x;"), "FAILED");
  EXPECT_EQ(Parse(Repeat("if (a) ", kMaxNesting - 1) + "\nwhile (a) x;"), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", 2, "while (a) x;")));
  // Statement and expression levels add up.
  EXPECT_EQ(Parse(Repeat("{", kMaxNesting / 2) + "x = " + Repeat("(", kMaxNesting / 2) + "a" +
                  Repeat(")", kMaxNesting / 2) + Repeat("}", kMaxNesting / 2)),
            "FAILED");
}

TEST_F(FrontStatements, ElseIfChainsAreBounded) {
  // Each link counts one level, and its then-part one more.
  const std::string link = "else if (a) x;\n";
  EXPECT_NE(Parse("if (a) x;\n" + Repeat(link, kMaxNesting - 2)), "FAILED");
  EXPECT_EQ(Parse("if (a) x;\n" + Repeat(link, kMaxNesting - 1)), "FAILED");
  EXPECT_EQ(Errors(), One(ErrorLine("Sentence error", kMaxNesting, "else if (a) x;")));
}

TEST_F(FrontStatements, LongAndDeepInputsCostNoStack) {
  EXPECT_NE(Parse(Repeat("a;\n", 200000)), "FAILED");
  EXPECT_EQ(Parse(Repeat("{", 50000) + Repeat("}", 50000)), "FAILED");
  EXPECT_EQ(Parse(Repeat("if (a) ", 50000) + "x;"), "FAILED");
  EXPECT_EQ(Parse("if (a) x;" + Repeat("else if (a) x;", 50000)), "FAILED");
}

// Every allocation of a parse may fail: the parse then reports "Alloc failed" once, releases what
// it built (the leak detector checks that) and empties the function list. A pattern that cannot
// be compiled is the one failure that does not stop the parse.
TEST_F(FrontStatements, EveryAllocationFailureIsReportedAndCleanedUp) {
  const std::string text =
      "var a = 1, b[2];\n"
      "function f(x, y = 2) { return x + y; }\n"
      "argmatch g(\"p%c%\", z) { exit; }\n"
      "if (a) { b = {1, \"s\"}; } else if (b) a++; else --a;\n"
      "while (a < 3) a++;\n"
      "do { continue; } while (0);\n"
      "for (i = 0; i < 2; i++) { break 1; }\n"
      "switch (a) { case 1: f(a, b[]); default: }\n"
      "\"x%y%\" = \"xy\";\n";
  const std::string baseline = Parse(text);
  ASSERT_NE(baseline, "FAILED");
  ReleaseChain(chain_);
  chain_ = nullptr;
  ReleaseFunctionList(script_.functions);
  script_.functions = nullptr;
  const uint64_t before = port::AllocationCount();
  SyntaxNode* chain = ParseScript(&frame_, script_.source, 0);
  const uint64_t allocations = port::AllocationCount() - before;
  ReleaseChain(chain);
  ReleaseFunctionList(script_.functions);
  script_.functions = nullptr;
  ASSERT_GT(allocations, 50u);

  int failures = 0;
  for (uint64_t n = 1; n <= allocations; ++n) {
    SCOPED_TRACE(n);
    port::FailAllocationAfter(n);
    const std::string dump = Parse(text);
    port::FailAllocationAfter(0);
    if (dump == "FAILED") {
      ++failures;
      ASSERT_EQ(Errors().size(), 1u);
      EXPECT_EQ(Errors()[0].rfind("### Error: Alloc failed : test:(", 0), 0u) << Errors()[0];
      EXPECT_EQ(script_.functions, nullptr);
    } else {
      std::string compiled = dump;
      for (size_t at; (at = compiled.find(" (no pattern)")) != std::string::npos;) {
        compiled.erase(at, std::strlen(" (no pattern)"));
      }
      EXPECT_EQ(compiled, baseline);
      EXPECT_NE(dump, baseline);
    }
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace keytwine::testing
