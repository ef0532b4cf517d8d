#include <gtest/gtest.h>

#include <string>

#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "tests/script/front/front_harness.h"

namespace keytwine::testing {
namespace {

class FrontExpressions : public FrontTest {
 protected:
  // The chain of text parsed as a script, one node per item, joined by ", "; child chains show
  // as "{...}" after their owner.
  std::string Flat(const std::string& text) {
    std::string dump = Parse(text);
    if (dump == "FAILED") return dump;
    std::string out;
    int depth = 0;
    size_t start = 0;
    while (start < dump.size()) {
      const size_t end = dump.find('\n', start);
      std::string line = dump.substr(start, end - start);
      start = end + 1;
      const size_t indent = line.find_first_not_of(' ') / 2;
      line = line.substr(indent * 2);
      for (; depth > static_cast<int>(indent); --depth) out += "}";
      if (depth < static_cast<int>(indent)) {
        out += "{";
        ++depth;
      } else if (!out.empty()) {
        out += ", ";
      }
      out += line;
    }
    for (; depth > 0; --depth) out += "}";
    return out;
  }
};

TEST_F(FrontExpressions, BinaryLevelsBindFromTheLoosestToTheTightest) {
  EXPECT_EQ(Flat("a || b && c"), R"(T_VARIABLE "a", T_VARIABLE "b", T_VARIABLE "c", T_AND, T_OR)");
  // Equality binds tighter than the bitwise operators.
  EXPECT_EQ(Flat("a & b == c"),
            R"(T_VARIABLE "a", T_VARIABLE "b", T_VARIABLE "c", T_EQ, T_BITAND)");
  EXPECT_EQ(Flat("1 << 2 + 3"), "T_NUMBER 1, T_NUMBER 2, T_NUMBER 3, T_ADD, T_SHL");
  EXPECT_EQ(Flat("a = b || c && d | e ^ f & g == h < i << j + k * l"),
            R"(T_VARIABLE "a", T_VARIABLE "b", T_VARIABLE "c", T_VARIABLE "d", T_VARIABLE "e", )"
            R"(T_VARIABLE "f", T_VARIABLE "g", T_VARIABLE "h", T_VARIABLE "i", T_VARIABLE "j", )"
            R"(T_VARIABLE "k", T_VARIABLE "l", T_MUL, T_ADD, T_SHL, T_LT, T_EQ, T_BITAND, )"
            R"(T_BITXOR, T_BITOR, T_AND, T_OR, T_ASSIGN)");
  EXPECT_EQ(Flat("a * b + c << d < e == f & g ^ h | i && j || k"),
            R"(T_VARIABLE "a", T_VARIABLE "b", T_MUL, T_VARIABLE "c", T_ADD, T_VARIABLE "d", )"
            R"(T_SHL, T_VARIABLE "e", T_LT, T_VARIABLE "f", T_EQ, T_VARIABLE "g", T_BITAND, )"
            R"(T_VARIABLE "h", T_BITXOR, T_VARIABLE "i", T_BITOR, T_VARIABLE "j", T_AND, )"
            R"(T_VARIABLE "k", T_OR)");
}

TEST_F(FrontExpressions, OperatorsOfOneLevelShareItAndAssociateLeftAssignmentRight) {
  EXPECT_EQ(Flat("a - b - c"), R"(T_VARIABLE "a", T_VARIABLE "b", T_SUB, T_VARIABLE "c", T_SUB)");
  EXPECT_EQ(
      Flat("a / b % c * d"),
      R"(T_VARIABLE "a", T_VARIABLE "b", T_DIV, T_VARIABLE "c", T_MOD, T_VARIABLE "d", T_MUL)");
  EXPECT_EQ(Flat("a >> b <= c >= d > e"),
            R"(T_VARIABLE "a", T_VARIABLE "b", T_SHR, T_VARIABLE "c", T_LE, T_VARIABLE "d", T_GE, )"
            R"(T_VARIABLE "e", T_GT)");
  EXPECT_EQ(
      Flat("a =~ b != c == d"),
      R"(T_VARIABLE "a", T_VARIABLE "b", T_MATCH, T_VARIABLE "c", T_NE, T_VARIABLE "d", T_EQ)");
  EXPECT_EQ(Flat("x = y = 1"), R"(T_VARIABLE "x", T_VARIABLE "y", T_NUMBER 1, T_ASSIGN, T_ASSIGN)");
  // The left side of '=' is any expression; the parser does not check it.
  EXPECT_EQ(Flat("a + b = c"),
            R"(T_VARIABLE "a", T_VARIABLE "b", T_ADD, T_VARIABLE "c", T_ASSIGN)");
}

TEST_F(FrontExpressions, PrefixOperatorsNestToTheRight) {
  EXPECT_EQ(Flat("-a * b"), R"(T_VARIABLE "a", T_MINUS, T_VARIABLE "b", T_MUL)");
  EXPECT_EQ(Flat("!!a"), R"(T_VARIABLE "a", T_NOT, T_NOT)");
  EXPECT_EQ(Flat("~-+a"), R"(T_VARIABLE "a", T_PLUS, T_MINUS, T_BITNOT)");
  EXPECT_EQ(Flat("++a - --b"), R"(T_VARIABLE "a", T_PREINC, T_VARIABLE "b", T_PREDEC, T_SUB)");
  EXPECT_EQ(Flat("a - -b"), R"(T_VARIABLE "a", T_VARIABLE "b", T_MINUS, T_SUB)");
  EXPECT_EQ(Flat("-a[1]"), R"(T_VARIABLE "a", T_NUMBER 1, T_INDEX, T_MINUS)");
}

TEST_F(FrontExpressions, PostfixDoneFollowsEveryElementHoldingAPostfixOperator) {
  EXPECT_EQ(Flat("-a++"), R"(T_VARIABLE "a", T_POSTINC, T_MINUS, T_POSTFIX_DONE)");
  EXPECT_EQ(Flat("f(a++, b)"),
            R"(T_CALL_BEGIN, T_VARIABLE "a", T_POSTINC, T_POSTFIX_DONE, T_COMMA, T_VARIABLE "b", )"
            R"(T_CALL "f")");
  EXPECT_EQ(Flat("x = (a--) + b"),
            R"(T_VARIABLE "x", T_VARIABLE "a", T_POSTDEC, T_VARIABLE "b", T_ADD, T_ASSIGN, )"
            R"(T_POSTFIX_DONE)");
  EXPECT_EQ(Flat("a[i++] = 1, b"),
            R"(T_VARIABLE "a", T_VARIABLE "i", T_POSTINC, T_INDEX, T_NUMBER 1, T_ASSIGN, )"
            R"(T_POSTFIX_DONE, T_COMMA, T_VARIABLE "b")");
  EXPECT_EQ(Flat("x = {a++, b}"),
            R"(T_VARIABLE "x", T_LBRACE{T_VARIABLE "a", T_POSTINC, T_POSTFIX_DONE, T_COMMA, )"
            R"(T_VARIABLE "b"}, T_ASSIGN)");
  // One T_POSTFIX_DONE per element, however many postfix operators it holds.
  EXPECT_EQ(Flat("a++ + b--"),
            R"(T_VARIABLE "a", T_POSTINC, T_VARIABLE "b", T_POSTDEC, T_ADD, T_POSTFIX_DONE)");
  EXPECT_EQ(Flat("a++[0]"), R"(T_VARIABLE "a", T_POSTINC, T_NUMBER 0, T_INDEX, T_POSTFIX_DONE)");
  // A postfix operator before a nested list belongs to the outer element, not to the list's
  // last element.
  EXPECT_EQ(Flat("x = a++ + f(1)"),
            R"(T_VARIABLE "x", T_VARIABLE "a", T_POSTINC, T_CALL_BEGIN, T_NUMBER 1, T_CALL "f", )"
            R"(T_ADD, T_ASSIGN, T_POSTFIX_DONE)");
  EXPECT_EQ(Flat("a++ + {1, 2}"),
            R"(T_VARIABLE "a", T_POSTINC, T_LBRACE{T_NUMBER 1, T_COMMA, T_NUMBER 2}, T_ADD, )"
            R"(T_POSTFIX_DONE)");
}

TEST_F(FrontExpressions, EmptyOperandsContributeNoNodes) {
  EXPECT_EQ(Flat("a + ;"), R"(T_VARIABLE "a", T_ADD, T_SEMICOLON)");
  EXPECT_EQ(Flat("f(,)"), R"(T_CALL_BEGIN, T_COMMA, T_CALL "f")");
  EXPECT_EQ(Flat("f()"), R"(T_CALL_BEGIN, T_CALL "f")");
  EXPECT_EQ(Flat("x = ()"), R"(T_VARIABLE "x", T_ASSIGN)");
  EXPECT_EQ(Flat("x = {}"), R"(T_VARIABLE "x", T_LBRACE, T_ASSIGN)");
  EXPECT_EQ(Flat("x = {, 1}"), R"(T_VARIABLE "x", T_LBRACE{T_COMMA, T_NUMBER 1}, T_ASSIGN)");
  EXPECT_EQ(Flat(", ;"), "T_COMMA, T_SEMICOLON");
}

TEST_F(FrontExpressions, IndexesChainAndAnEmptyIndexIsAnEmptyString) {
  EXPECT_EQ(Flat("a[i]"), R"(T_VARIABLE "a", T_VARIABLE "i", T_INDEX)");
  EXPECT_EQ(Flat("a[]"), R"(T_VARIABLE "a", T_STRING "", T_INDEX)");
  EXPECT_EQ(Flat("a[1][b[2]]"),
            R"(T_VARIABLE "a", T_NUMBER 1, T_INDEX, T_VARIABLE "b", T_NUMBER 2, T_INDEX, T_INDEX)");
  EXPECT_EQ(Flat("f(x)[\"k\"]"),
            R"(T_CALL_BEGIN, T_VARIABLE "x", T_CALL "f", T_STRING "k", T_INDEX)");
  EXPECT_EQ(Flat("a[x = 1]"), R"(T_VARIABLE "a", T_VARIABLE "x", T_NUMBER 1, T_ASSIGN, T_INDEX)");
}

TEST_F(FrontExpressions, NumbersAreThirtyTwoBitIntegers) {
  EXPECT_EQ(Flat("0x1F, 017, 09, 1.9, .5, 0, 0x, 0.5"),
            "T_NUMBER 31, T_COMMA, T_NUMBER 15, T_COMMA, T_NUMBER 0, T_COMMA, T_NUMBER 1, "
            "T_COMMA, T_NUMBER 0, T_COMMA, T_NUMBER 0, T_COMMA, T_NUMBER 0, T_COMMA, T_NUMBER 0");
  // Literals past 32 bits wrap around, as hexadecimal ones do.
  EXPECT_EQ(Flat("2147483648, 4294967297, 0xFFFFFFFF, 0x100000002"),
            "T_NUMBER -2147483648, T_COMMA, T_NUMBER 1, T_COMMA, T_NUMBER -1, T_COMMA, T_NUMBER 2");
}

TEST_F(FrontExpressions, StringsBecomePatternsBeforeAssignment) {
  EXPECT_EQ(Flat("x = \"a+\" = y"),
            R"(T_VARIABLE "x", T_PATTERN "a+", T_VARIABLE "y", T_ASSIGN, T_ASSIGN)");
  ASSERT_NE(chain_, nullptr);
  ASSERT_EQ(chain_->next->kind, T_PATTERN);
  EXPECT_NE(chain_->next->pattern, nullptr);
  // Elsewhere a string stays a string, also on the right of =~.
  EXPECT_EQ(Flat("x =~ \"a+\" == \"b\\\\\""),
            R"(T_VARIABLE "x", T_STRING "a+", T_MATCH, T_STRING "b\\\\", T_EQ)");
  EXPECT_EQ(chain_->next->pattern, nullptr);
  EXPECT_EQ(Flat("\"%a%-%b%\" = \"1-2\""), R"(T_PATTERN "%a%-%b%", T_STRING "1-2", T_ASSIGN)");
}

TEST_F(FrontExpressions, NamesAndCallNamesAreLowered) {
  EXPECT_EQ(
      Flat("F(X) + f(x)"),
      R"(T_CALL_BEGIN, T_VARIABLE "x", T_CALL "f", T_CALL_BEGIN, T_VARIABLE "x", T_CALL "f", )"
      R"(T_ADD)");
  EXPECT_EQ(Flat("&Worker(1), Lib.Func(), &Ref"),
            R"(T_CALL_BEGIN, T_NUMBER 1, T_CALL "&worker", T_COMMA, T_CALL_BEGIN, )"
            R"(T_CALL "lib.func", T_COMMA, T_VARIABLE "&ref")");
  // String text is kept as written.
  EXPECT_EQ(Flat("\"MiXeD\""), R"(T_STRING "MiXeD")");
}

TEST_F(FrontExpressions, CallsNestAndTakeElementLists) {
  EXPECT_EQ(Flat("f(g(1), h(), {2})"),
            R"(T_CALL_BEGIN, T_CALL_BEGIN, T_NUMBER 1, T_CALL "g", T_COMMA, T_CALL_BEGIN, )"
            R"(T_CALL "h", T_COMMA, T_LBRACE{T_NUMBER 2}, T_CALL "f")");
  EXPECT_EQ(Flat("x = {{1}, {}}"),
            R"(T_VARIABLE "x", T_LBRACE{T_LBRACE{T_NUMBER 1}, T_COMMA, T_LBRACE}, T_ASSIGN)");
  EXPECT_EQ(Flat("(a + b) * c"), R"(T_VARIABLE "a", T_VARIABLE "b", T_ADD, T_VARIABLE "c", T_MUL)");
}

TEST_F(FrontExpressions, MissingClosersAreSentenceErrors) {
  EXPECT_EQ(Parse("x = (a,\n b)"), "FAILED");
  EXPECT_EQ(Errors(), std::vector<std::string>{ErrorLine("Sentence error", 1, "x = (a,")});
  EXPECT_EQ(Parse("x = (a\n] )"), "FAILED");
  EXPECT_EQ(Errors(), std::vector<std::string>{ErrorLine("Sentence error", 2, "] )")});
  EXPECT_EQ(Parse("x = {1\n]}"), "FAILED");
  EXPECT_EQ(Errors(), std::vector<std::string>{ErrorLine("Sentence error", 2, "]}")});
  EXPECT_EQ(Parse("a[1\n)]"), "FAILED");
  EXPECT_EQ(Errors(), std::vector<std::string>{ErrorLine("Sentence error", 2, ")]")});
  EXPECT_EQ(Parse("f(1\n] )"), "FAILED");
  EXPECT_EQ(Errors(), std::vector<std::string>{ErrorLine("Sentence error", 2, "] )")});
}

TEST_F(FrontExpressions, ReferenceIsANameWithIndexesOrAnotherPrimary) {
  EXPECT_EQ(Reference("a[1]"), "T_VARIABLE \"a\"\nT_NUMBER 1\nT_INDEX\n");
  EXPECT_EQ(Reference("Map[\"K\"][2]"),
            "T_VARIABLE \"map\"\nT_STRING \"K\"\nT_INDEX\nT_NUMBER 2\nT_INDEX\n");
  EXPECT_EQ(Reference("f(1)"), "T_CALL_BEGIN\nT_NUMBER 1\nT_CALL \"f\"\n");
  EXPECT_EQ(Reference("&x"), "T_VARIABLE \"&x\"\n");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(FrontExpressions, ReferenceFailsOnTrailingTextReportingOnlyScanErrors) {
  EXPECT_EQ(Reference("a b"), "FAILED");
  EXPECT_EQ(Errors(), std::vector<std::string>{ErrorLine("Sentence error", 1, "a b")});
  EXPECT_EQ(Reference("a)"), "FAILED");
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Reference("x = 1"), "FAILED");
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Reference("a["), "FAILED");
  EXPECT_EQ(Errors(), std::vector<std::string>{ErrorLine("Parenthesis error", 1, "a[")});
  EXPECT_EQ(Reference(""), "FAILED");
  EXPECT_EQ(ParseReference(&frame_, nullptr), nullptr);
}

TEST_F(FrontExpressions, NamesAreDeclarationsWhileTheRuntimeBindsParameters) {
  frame_.declareNames = 1;
  EXPECT_EQ(Reference("a[b]"), "T_DECLARE \"a\"\nT_DECLARE \"b\"\nT_INDEX\n");
  frame_.declareNames = 0;
  EXPECT_EQ(Reference("a[b]"), "T_VARIABLE \"a\"\nT_VARIABLE \"b\"\nT_INDEX\n");
}

// Nesting deeper than the limit fails at the token that passes it instead of exhausting the
// stack; the statement around the expression counts one level.
class FrontExpressionNesting : public FrontExpressions {
 protected:
  static std::string Repeat(const std::string& piece, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += piece;
    return out;
  }
  void ExpectLimit(const std::string& before, const std::string& open, const std::string& inner,
                   const std::string& close, int deepestAccepted) {
    SCOPED_TRACE(open);
    const std::string accepted =
        before + Repeat(open, deepestAccepted) + inner + Repeat(close, deepestAccepted);
    EXPECT_NE(Parse(accepted), "FAILED");
    EXPECT_TRUE(Errors().empty());
    // The failing token stands alone on the line after the last accepted one.
    const std::string refused = before + Repeat(open, deepestAccepted) + "\n" + open + inner +
                                close + Repeat(close, deepestAccepted);
    EXPECT_EQ(Parse(refused), "FAILED");
    EXPECT_EQ(Errors(),
              std::vector<std::string>{ErrorLine(
                  "Sentence error", 2, open + inner + close + Repeat(close, deepestAccepted))});
  }
};

TEST_F(FrontExpressionNesting, ParenthesesBracesBracketsCallsAndPrefixesAreBounded) {
  ExpectLimit("x = ", "(", "a", ")", kMaxNesting - 1);
  ExpectLimit("x = ", "{", "a", "}", kMaxNesting - 1);
  ExpectLimit("x = a", "[a", "", "]", kMaxNesting - 1);
  ExpectLimit("x = ", "f(", "", ")", kMaxNesting - 1);
  ExpectLimit("x = ", "!", "a", "", kMaxNesting - 1);
  ExpectLimit("x = ", "- ", "a", "", kMaxNesting - 1);
}

TEST_F(FrontExpressionNesting, FarTooDeepInputFailsWithoutExhaustingTheStack) {
  EXPECT_EQ(Parse(Cat("x = ", Repeat("(", 100000), "a", Repeat(")", 100000))), "FAILED");
  EXPECT_EQ(Parse(Cat("a", Repeat("++[0]", 100000))), "FAILED");
  EXPECT_EQ(Errors().size(), 1u);
}

TEST_F(FrontExpressionNesting, LongFlatExpressionsCostNoDepth) {
  // Operators of one level, assignments and indexes are parsed in loops, not by recursion.
  EXPECT_NE(Parse(Cat("x = a", Repeat(" + a", 100000))), "FAILED");
  EXPECT_NE(Parse(Cat("a", Repeat(" = a", 100000))), "FAILED");
  EXPECT_NE(Parse(Cat("a", Repeat("[1]", 100000))), "FAILED");
  EXPECT_NE(Parse("f(" + Repeat("a, ", 100000) + "a)"), "FAILED");
  EXPECT_TRUE(Errors().empty());
}

}  // namespace
}  // namespace keytwine::testing
