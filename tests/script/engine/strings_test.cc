// String literals with escapes and %reference% interpolation; pattern assignment and the
// evaluation of capture targets.
#include <string>

#include "tests/script/engine/engine_harness.h"

namespace keytwine::testing {
namespace {

using StringTest = EngineTest;

TEST_F(StringTest, EscapesAreReplaced) {
  EXPECT_EQ(Run(R"(print("a\tb", "q\"q", "\x41\101", "back\\slash", "\q");)"),
            "a\tb q\"q AA back\\slash \\q");
  EXPECT_EQ(Run(R"(print("cut\0here" + "!");)"), "cut!");
}

TEST_F(StringTest, ReferencesAreReplacedByTheirText) {
  EXPECT_EQ(Run(R"(x = 42; s = "v%x%"; print(s, "%%", "100%%", "%x%%x%", "%x%%%");)"),
            "v42 % 100% 4242 42%");
  EXPECT_EQ(Run(R"(l = {1, {2, "three"}}; print("%l[1][1]%/%l[0]%");)"), "three/1");
  EXPECT_EQ(Run(R"(function f(n) { return "F" + n; } print("<%f(7)%>");)"), "<F7>");
  EXPECT_EQ(Run(R"(print("[%nope%]");)"), "[0]");  // an unknown name is declared, as elsewhere
  EXPECT_EQ(Run(R"(k = "y"; m["y"] = "why"; print("%m[k]%");)"), "why");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StringTest, EachReferenceIsEvaluatedOnceLeftToRight) {
  EXPECT_EQ(
      Run(R"(function bump(&v) { v = v + 1; return v; } n = 0; print("%bump(n)%-%bump(n)%-%n%", n);)"),
      "1-2-2 2");
  // Each reference's text is taken when it is evaluated.
  EXPECT_EQ(Run(R"(a = 1; print("%a%%(a = 2)%%a%");)"), "122");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StringTest, AReferenceThatDoesNotParseIsReported) {
  EXPECT_EQ(Run(R"(print("%a b%");)"), "");
  EXPECT_EQ(Errors(),
            "### Error: Sentence error : test.test : b\n"
            "### Error: Sentence error : test.test : %a b%");
  EXPECT_EQ(Run(R"(print("50%");)"), "");
  EXPECT_EQ(Errors(), "### Error: Sentence error : test.test : %");
  EXPECT_EQ(Run(R"(print("x%{}%");)"), "x0");  // an empty list literal leaves a value
  EXPECT_EQ(Errors(), "");
}

TEST_F(StringTest, ErrorsInsideAReferenceAreReportedAndFailTheLiteral) {
  EXPECT_EQ(Run(R"(print(1);
x = "%(1 / 0)%"; print(2);)"),
            "1");
  // Positions inside a reference are in its own text, not in the script's source.
  EXPECT_EQ(Errors(), "### Error: Divide by ZERO : test.test : / 0)");
  EXPECT_EQ(Run(R"(x = "%nosuch()%";)"), "");
  EXPECT_EQ(Errors(),
            "### Error: Function not Found : test.test : nosuch\n"
            "        at test.test : nosuch()");
}

TEST_F(StringTest, PatternAssignmentBindsCaptures) {
  EXPECT_EQ(Run(R"("%a%-%b%" = "12-345"; print(a, b);)"), "12 345");
  EXPECT_EQ(Run(R"(a = 1; b = 2; "%a%-%b%" = "abc"; print("[" + a + "]", "[" + b + "]");)"),
            "[] []");
  EXPECT_EQ(Run(R"("(\d+)%n%" = "ab12cd"; print(n);)"), "12");
  EXPECT_EQ(Run(R"("%d%" = 2024; print(d, d == 2024);)"), "2024 1");
  EXPECT_EQ(Run(R"("%l[1]%=%l[0]%" = "key=val"; print(l[""]);)"), "{val,key}");
  // The value is the result of the assignment.
  EXPECT_EQ(Run(R"(x = ("%p%" = "v"); print(x, p);)"), "v v");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StringTest, CapturesMayAssignTheMatchedVariable) {
  EXPECT_EQ(Run(R"(s = "ab-cd"; "%s%-%t%" = s; print(s, t);)"), "ab cd");
  EXPECT_EQ(Errors(), "");
}

TEST_F(StringTest, ACaptureTargetThatDoesNotParseIsSkipped) {
  EXPECT_EQ(Run(R"("%a%-%)%" = "1-2"; print(a);)"), "1");
  EXPECT_EQ(Errors(), "### Error: Sentence error : test.test : %)%");
}

TEST_F(StringTest, ResolveCaptureTargetAliasesTheVariable) {
  Script* script = Load("test", "");
  ASSERT_NE(script, nullptr);
  Frame frame{};
  frame.functionName = script->name;
  frame.script = script;
  FrameGuard leave(frame);
  const char target[] = "%a[2]%rest";
  ValuePtr element(ResolveCaptureTarget(&frame, target));
  ASSERT_NE(element, nullptr);
  ValueData seven{};
  seven.type = kTypeInteger;
  seven.integer = 7;
  ASSERT_TRUE(AssignData(&frame, element->data, &seven));
  Value* a = FindInList(frame.locals, "a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(Show(a), "{0,0,7}");
  EXPECT_EQ(ResolveCaptureTarget(&frame, "%%"), nullptr);
  EXPECT_EQ(Errors(), "### Error: Sentence error : test.test : %%");
}

TEST_F(StringTest, BuildStringKeepsTwoByteCharacters) {
  ASSERT_TRUE(port::SetCodePage(port::kCodePageShiftJis));
  // 0x83 0x25 is one two-byte character whose second byte is '%'.
  EXPECT_EQ(Run("x = 1; print(\"\x83%%x%\");"), "\x83%1");
  ASSERT_TRUE(port::SetCodePage(port::kCodePageUtf8));
  EXPECT_EQ(Errors(), "");
}

}  // namespace
}  // namespace keytwine::testing
