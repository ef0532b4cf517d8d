// Operators on integers, strings and lists, run from scripts.
#include "script/front/tokens.h"
#include "script/pattern/pattern.h"
#include "tests/script/engine/engine_harness.h"

namespace keytwine::testing {
namespace {

using OperatorTest = EngineTest;

TEST_F(OperatorTest, IntegerArithmeticWrapsIn32Bits) {
  EXPECT_EQ(Run("print(2147483647 + 1, -2147483647 - 2, 65536 * 65536, 0x7fffffff * 2);"),
            "-2147483648 2147483647 0 -2");
  EXPECT_EQ(Run("m = 2147483647; ++m; n = -2147483647 - 1; n--; print(m, n);"),
            "-2147483648 2147483647");
  EXPECT_EQ(Errors(), "");
}

TEST_F(OperatorTest, TheMostNegativeIntegerDividedByMinusOne) {
  EXPECT_EQ(Run("m = -2147483647 - 1; print(m / -1, m % -1, -m, m * -1, m / 1, m % 7);"),
            "-2147483648 0 -2147483648 -2147483648 -2147483648 -2");
  EXPECT_EQ(Errors(), "");
}

TEST_F(OperatorTest, DivisionTruncatesTowardZero) {
  EXPECT_EQ(Run("print(7 / -2, 7 % -2, -7 % 2, -7 / 2, 7 / 2);"), "-3 1 -1 -3 3");
}

TEST_F(OperatorTest, DivisionByZeroIsReportedAndStopsTheScript) {
  EXPECT_EQ(Run("x = 1; print(1);\n  print(x % 0); print(2);"), "1");
  EXPECT_EQ(Errors(), ErrorAt("Divide by ZERO", "test.test", 2, "print(x % 0); print(2);"));
  EXPECT_EQ(last_, ExecResult::Failed);
  Run("print(5 / 0);");
  EXPECT_EQ(Errors(), ErrorAt("Divide by ZERO", "test.test", 1, "print(5 / 0);"));
}

TEST_F(OperatorTest, ShiftCountsTakeTheLowEightBits) {
  EXPECT_EQ(Run("print(1 << 31, 1 << 32, -1 >> 28, 1 << 256, 1 << -1, 8 >> 1, -1 >> 0, "
                "1 << 255, 3 << 257, -8 >> 1);"),
            "-2147483648 0 15 1 0 4 -1 0 6 2147483644");
}

TEST_F(OperatorTest, ComparisonsAndBitwiseOperatorsOnIntegers) {
  EXPECT_EQ(Run("print(-1 < 0, 3 <= 3, 2 > 3, 0 >= 0, 1 == 1, 1 != 1, 5 && 0, 5 || 0, 6 & 3, "
                "6 | 3, 6 ^ 3, 5 =~ 5, 5 =~ 6);"),
            "1 1 0 1 1 0 0 1 2 7 5 1 0");
}

TEST_F(OperatorTest, UnaryOperatorsTakeTheIntegerForm) {
  EXPECT_EQ(Run(R"(s = "12abc"; print(-s, ~0, +s, !s, !"abc", !0, !"0", -"-5");)"),
            "-12 -1 12 0 1 1 1 5");
}

TEST_F(OperatorTest, PrefixIncrementStoresAnInteger) {
  EXPECT_EQ(Run(R"(a = "41"; b = ++a; c = --a; print(a, b, c, a + "");)"), "41 42 41 41");
  EXPECT_EQ(Run("print(++5, --5);"), "6 4");
}

TEST_F(OperatorTest, LogicalOperatorsEvaluateBothSides) {
  EXPECT_EQ(
      Run(R"(function f() { print("f"); return 1; } x = 0 && f(); y = 1 || f(); print(x, y);)"),
      "f\nf\n0 1");
}

TEST_F(OperatorTest, StringOperators) {
  EXPECT_EQ(
      Run(R"(print("ab" + "cd", "a" + 1, 2 + "b", "10" == 10, "abc" != "abd", "x" && 1, "" || 0, "a" == "A");)"),
      "abcd a1 2b 1 1 1 0 0");
  // Truth of a string is its first byte; "0" is true, though its integer form is 0.
  EXPECT_EQ(Run(R"(print("0" && 1, !"0", "abc" && 1, !"abc");)"), "1 1 1 1");
}

TEST_F(OperatorTest, StringsRejectOrderingAndArithmetic) {
  const char* cases[][2] = {
      {R"(print("10" < 9);)", "Illegal operator to string"},
      {R"(print("a" - "b");)", "Illegal operator to string"},
      {R"(print(3 * "b");)", "Illegal operator to string"},
      {R"(print("8" >> 1);)", "Illegal operator to string"},
      {R"(print("8" % 1);)", "Illegal operator to string"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c[0]), "") << c[0];
    EXPECT_EQ(Errors(), ErrorAt(c[1], "test.test", 1, c[0])) << c[0];
  }
}

TEST_F(OperatorTest, MatchOperator) {
  EXPECT_EQ(
      Run(R"(print("abc" =~ "b", "abc" =~ "^b", "x\nbc" =~ "^b", 123 =~ "2", "abc" =~ "a.c");)"),
      "1 0 1 1 1");
  // A computed pattern's backslashes stand for themselves: "\d" is a backslash and a d.
  EXPECT_EQ(Run(R"(p = "\\d"; print("5" =~ p, "x\\dy" =~ p, "5" =~ "[0-9]", "a%%b" =~ "a%%%%b");)"),
            "0 1 1 1");
  // =~ never assigns captures.
  EXPECT_EQ(Run(R"(a = "old"; p = "%%a%%"; print("12" =~ p, a);)"), "1 old");
  EXPECT_EQ(Run(R"(print("" =~ "", "x" =~ "");)"), "0 1");
}

TEST_F(OperatorTest, MatchUsesTheCompiledPatternOfAPatternLiteral) {
  ValuePtr subject(NewValue());
  ValuePtr literal(NewValue());
  ASSERT_NE(subject, nullptr);
  ASSERT_NE(literal, nullptr);
  SetTextData(subject->data, Duplicate("5"));
  SetTextData(literal->data, Duplicate("\\d"));
  // As a computed pattern the text is a backslash and a d; compiled as a literal it is a digit.
  ValuePtr computed(BinaryOperation(nullptr, subject.get(), literal.get(), T_MATCH));
  const char patternText[] = "\\d";
  CompiledPattern* pattern = CompilePattern(patternText);
  ASSERT_NE(pattern, nullptr);
  literal->pattern = pattern;
  ValuePtr compiled(BinaryOperation(nullptr, subject.get(), literal.get(), T_MATCH));
  FreePattern(pattern);
  ASSERT_NE(computed, nullptr);
  ASSERT_NE(compiled, nullptr);
  EXPECT_EQ(computed->data->integer, 0);
  EXPECT_EQ(compiled->data->integer, 1);
}

TEST_F(OperatorTest, ListComparisonAndConcatenation) {
  EXPECT_EQ(Run("print({1, 2} == {1, 2}, {1, 2} == {1, 2, 3}, {1, 2} != {2, 1}, "
                "{1, {2, 3}} == {1, {2, 3}}, {1, {2}} == {1, {3}}, {1, 2} == 1, {} == {});"),
            "1 0 1 1 0 0 1");
  // Element names are not compared; elements compare as integers or else as text.
  EXPECT_EQ(Run(R"(print({x = 1} == {y = 1}, {"1"} == {1}, {"a"} == {"b"});)"), "1 1 0");
  EXPECT_EQ(Run(R"(a = {1, 2}; b = a[] + {3} + 4; print(b, a[""]);)"), "{1,2,3} {1,2}");
  EXPECT_EQ(Errors(), "");
}

TEST_F(OperatorTest, ListsRejectOtherOperators) {
  for (const char* source :
       {"print({1} - {1});", "print({1} < 2);", R"(print({1} =~ "1");)", "print(1 && {1});"}) {
    EXPECT_EQ(Run(source), "") << source;
    EXPECT_EQ(Errors(), ErrorAt("Illegal operator to hash", "test.test", 1, source)) << source;
  }
}

TEST_F(OperatorTest, OperatorCodesOutsideTheSetAreIllegal) {
  Script* script = Load("test", "");
  ASSERT_NE(script, nullptr);
  Frame frame{};
  frame.functionName = script->name;
  frame.script = script;
  ValuePtr one(NewValue());
  ValuePtr text(NewValue());
  ASSERT_NE(one, nullptr);
  ASSERT_NE(text, nullptr);
  SetTextData(text->data, Duplicate("x"));
  EXPECT_EQ(BinaryOperation(&frame, one.get(), one.get(), T_ASSIGN), nullptr);
  EXPECT_EQ(BinaryOperation(&frame, one.get(), text.get(), T_COLON), nullptr);
  EXPECT_EQ(UnaryOperation(&frame, one.get(), T_ADD), nullptr);
  EXPECT_EQ(Errors(),
            "### Error: Illegal operator : test.test\n"
            "### Error: Illegal operator to string : test.test\n"
            "### Error: Illegal operator : test.test");
}

TEST_F(OperatorTest, MissingOperandsAreSentenceErrors) {
  // The parser lets an operand be empty; the executor finds too few entries.
  EXPECT_EQ(Run("x = 1 + ;"), "");
  EXPECT_EQ(Errors(), ErrorAt("Sentence error", "test.test", 1, "x = 1 + ;"));
  EXPECT_EQ(Run("print(1 +);"), "");
  EXPECT_EQ(Errors(), ErrorAt("Sentence error", "test.test", 1, "print(1 +);"));
}

}  // namespace
}  // namespace keytwine::testing
