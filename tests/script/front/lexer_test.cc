#include "script/front/lexer.h"

#include <gtest/gtest.h>

#include <string>

#include "script/port/port.h"
#include "tests/script/front/front_harness.h"

namespace keytwine::testing {
namespace {

class FrontLexer : public FrontTest {
 protected:
  // The tokens of text as "KIND(text)" (the text only for numbers, strings and names), scanned
  // with nothing but the lexer's own flag handling; a failed scan ends the list with
  // "ERROR@offset" giving where the failing token starts.
  std::string Tokens(const std::string& text) {
    RecordedErrors().clear();
    source_ = text;
    script_.source = source_.data();
    LexerState state = StartLexer(&frame_, script_.source, 0);
    std::string out;
    for (int guard = 0; guard < 100; ++guard) {
      if (!out.empty()) out += ' ';
      if (ScanToken(state) == 0) {
        return Cat(out, "ERROR@", std::to_string(state.tokenStart - script_.source));
      }
      out += TokenName(state.kind);
      if (state.kind == T_NUMBER || state.kind == T_STRING || state.kind == T_VARIABLE ||
          state.kind == T_CALL) {
        out += Cat("(", std::string(state.tokenStart, state.position), ")");
      }
      if (state.kind == T_END) return out;
    }
    return out + "...";
  }
};

TEST_F(FrontLexer, OperandExpectedFlagSeparatesPrefixFromInfixAndPostfix) {
  EXPECT_EQ(Tokens("a - -b"), "T_VARIABLE(a) T_SUB T_MINUS T_VARIABLE(b) T_END");
  EXPECT_EQ(Tokens("a--"), "T_VARIABLE(a) T_POSTDEC T_END");
  EXPECT_EQ(Tokens("--a"), "T_PREDEC T_VARIABLE(a) T_END");
  EXPECT_EQ(Tokens("+a + ++b++"),
            "T_PLUS T_VARIABLE(a) T_ADD T_PREINC T_VARIABLE(b) T_POSTINC T_END");
  EXPECT_EQ(Tokens("!~a != b"), "T_NOT T_BITNOT T_VARIABLE(a) T_NE T_VARIABLE(b) T_END");
  // Longest match, and no compound assignments: "+=" is '+' then a '=' that finds an operand
  // expected.
  EXPECT_EQ(Tokens("a<=b<<c>=d>>e==f=~g&&h||i"),
            "T_VARIABLE(a) T_LE T_VARIABLE(b) T_SHL T_VARIABLE(c) T_GE T_VARIABLE(d) T_SHR "
            "T_VARIABLE(e) T_EQ T_VARIABLE(f) T_MATCH T_VARIABLE(g) T_AND T_VARIABLE(h) T_OR "
            "T_VARIABLE(i) T_END");
  EXPECT_EQ(Tokens("x += 1"), "T_VARIABLE(x) T_ADD ERROR@3");
}

TEST_F(FrontLexer, AmpersandIsAReferencePrefixOnlyWhereAnOperandIsExpected) {
  EXPECT_EQ(Tokens("&f(x) & &y"),
            "T_CALL(&f) T_LPAREN T_VARIABLE(x) T_RPAREN T_BITAND T_VARIABLE(&y) T_END");
  // A lone '&' is a name of its own.
  EXPECT_EQ(Tokens("&"), "T_VARIABLE(&) T_END");
}

TEST_F(FrontLexer, ExclamationWithoutEqualsWhereAnOperatorIsExpectedIsAnError) {
  EXPECT_EQ(Tokens("a !b"), "T_VARIABLE(a) ERROR@2");
  EXPECT_EQ(Errors(), std::vector<std::string>{ErrorLine("Sentence error", 1, "a !b")});
  // Where an operand is expected '!' is always T_NOT, so "!=" there fails at the '='.
  EXPECT_EQ(Tokens("!=a"), "T_NOT ERROR@1");
}

TEST_F(FrontLexer, TokensRefusedInTheCurrentState) {
  EXPECT_EQ(Tokens("x = [1, 2]"), "T_VARIABLE(x) T_ASSIGN ERROR@4");
  EXPECT_EQ(Tokens("a ? b : c"), "T_VARIABLE(a) ERROR@2");  // '?' is a name character
  EXPECT_EQ(Tokens("12abc"), "T_NUMBER(12) ERROR@2");
  EXPECT_EQ(Tokens("a \"s\""), "T_VARIABLE(a) ERROR@2");
  EXPECT_EQ(Tokens("a 1"), "T_VARIABLE(a) ERROR@2");
  EXPECT_EQ(Tokens("1 (b)"), "T_NUMBER(1) ERROR@2");
  EXPECT_EQ(Tokens("a {b}"), "T_VARIABLE(a) ERROR@2");
  EXPECT_EQ(Tokens("* a"), "ERROR@0");
  EXPECT_EQ(Tokens("a ~b"), "T_VARIABLE(a) ERROR@2");
  EXPECT_EQ(Tokens("a if"), "T_VARIABLE(a) ERROR@2");
  EXPECT_EQ(Tokens("@"), "ERROR@0");
  EXPECT_EQ(Tokens("a = $"), "T_VARIABLE(a) T_ASSIGN ERROR@4");
  EXPECT_EQ(Tokens("/ a"), "ERROR@0");
}

TEST_F(FrontLexer, ClosersAndSeparatorsAreAcceptedInEveryState) {
  EXPECT_EQ(Tokens(";:,)]}#"),
            "T_SEMICOLON T_COLON T_COMMA T_RPAREN T_RBRACKET T_RBRACE "
            "T_DIRECTIVE T_END");
  // After a closer an operator is expected; after a separator an operand.
  EXPECT_EQ(Tokens(") - ; -"), "T_RPAREN T_SUB T_SEMICOLON T_MINUS T_END");
}

TEST_F(FrontLexer, EveryOpeningBracketNeedsItsCloserFurtherOn) {
  EXPECT_EQ(Tokens("x = (1"), "T_VARIABLE(x) T_ASSIGN ERROR@4");
  EXPECT_EQ(Errors(), std::vector<std::string>{ErrorLine("Parenthesis error", 1, "x = (1")});
  EXPECT_EQ(Tokens("a[1"), "T_VARIABLE(a) ERROR@1");
  EXPECT_EQ(Tokens("{ a"), "ERROR@0");
  // Block comments are not skipped by the bracket check, so a bracket in one counts.
  EXPECT_EQ(Tokens("f(/* ( */)"), "T_CALL(f) ERROR@1");
  // Strings and line comments are.
  EXPECT_EQ(Tokens("(\")\""), "ERROR@0");
  EXPECT_EQ(Tokens("( // )\n)"), "T_LPAREN T_RPAREN T_END");
  // Only brackets of the same kind count.
  EXPECT_EQ(Tokens("x[(])"), "T_VARIABLE(x) T_LBRACKET T_LPAREN T_RBRACKET T_RPAREN T_END");
}

TEST_F(FrontLexer, StringsKeepTheirRawBytesAndMayCrossLines) {
  EXPECT_EQ(Tokens("\"a\\\"b\""), "T_STRING(\"a\\\"b\") T_END");
  EXPECT_EQ(Tokens("\"line\nbreak\" + \"\""),
            "T_STRING(\"line\nbreak\") T_ADD T_STRING(\"\") T_END");
  EXPECT_EQ(Tokens("x = \"open"), "T_VARIABLE(x) T_ASSIGN ERROR@4");
  EXPECT_EQ(Errors(), std::vector<std::string>{ErrorLine("Sentence error", 1, "x = \"open")});
  EXPECT_EQ(Tokens("\"ends in a backslash\\\""), "ERROR@0");
}

TEST_F(FrontLexer, NumbersTakeDigitsAndDotsOrAHexadecimalPrefix) {
  EXPECT_EQ(Tokens("1.2.3"), "T_NUMBER(1.2.3) T_END");
  EXPECT_EQ(Tokens(".5"), "T_NUMBER(.5) T_END");
  EXPECT_EQ(Tokens("0x1Fg"), "T_NUMBER(0x1F) ERROR@4");
  EXPECT_EQ(Tokens("0X"), "T_NUMBER(0X) T_END");
  EXPECT_EQ(Tokens("0.5x"), "T_NUMBER(0.5) ERROR@3");
  // A dot not followed by a digit starts a name.
  EXPECT_EQ(Tokens(".a"), "T_VARIABLE(.a) T_END");
}

TEST_F(FrontLexer, NamesKeywordsAndCalls) {
  EXPECT_EQ(Tokens("IF While ReTuRn"), "T_IF T_WHILE T_RETURN T_END");
  EXPECT_EQ(Tokens("resume"), "T_RETURN T_END");
  EXPECT_EQ(Tokens("var exit else for do break continue switch case default function argmatch"),
            "T_VAR T_EXIT T_ELSE T_FOR T_DO T_BREAK T_CONTINUE T_SWITCH T_CASE T_DEFAULT "
            "T_FUNCTION T_ARGMATCH T_END");
  // A keyword is recognised before the look-ahead for '('; blanks may stand before the '('.
  EXPECT_EQ(Tokens("if (x)"), "T_IF T_LPAREN T_VARIABLE(x) T_RPAREN T_END");
  EXPECT_EQ(Tokens("f \t\r\n(x)"), "T_CALL(f) T_LPAREN T_VARIABLE(x) T_RPAREN T_END");
  // Only whole names are keywords; a comment before the '(' ends the look-ahead.
  EXPECT_EQ(Tokens("iff ifx"), "T_VARIABLE(iff) ERROR@4");
  EXPECT_EQ(Tokens("f /**/ (x)"), "T_VARIABLE(f) ERROR@7");
  EXPECT_EQ(Tokens("lib.func_2?(x)"), "T_CALL(lib.func_2?) T_LPAREN T_VARIABLE(x) T_RPAREN T_END");
}

TEST_F(FrontLexer, CommentsAreSkippedWhateverTheFlagAndKeepIt) {
  EXPECT_EQ(Tokens("a // - b\n- c"), "T_VARIABLE(a) T_SUB T_VARIABLE(c) T_END");
  // "/*/" is a complete comment: the search for "*/" starts at the '/' that opens it.
  EXPECT_EQ(Tokens("a /* b */ - /*/ - d"), "T_VARIABLE(a) T_SUB T_MINUS T_VARIABLE(d) T_END");
  EXPECT_EQ(Tokens("a /* never closed"), "T_VARIABLE(a) T_END");
  EXPECT_EQ(Tokens("a // to the end"), "T_VARIABLE(a) T_END");
  EXPECT_EQ(Tokens("a / b"), "T_VARIABLE(a) T_DIV T_VARIABLE(b) T_END");
}

TEST_F(FrontLexer, EndOfTextRepeatsWithoutMovingPastTheNul) {
  source_ = "  ";
  LexerState state = StartLexer(&frame_, source_.data(), 0);
  ASSERT_EQ(ScanToken(state), 1);
  EXPECT_EQ(state.kind, T_END);
  EXPECT_EQ(state.position, source_.data() + 2);
  ASSERT_EQ(ScanToken(state), 1);
  EXPECT_EQ(state.kind, T_END);
  EXPECT_EQ(state.position, source_.data() + 2);
  EXPECT_EQ(state.operandExpected, 1);
}

TEST_F(FrontLexer, DoubleByteCharactersAreNameCharactersUnderADoubleByteCodePage) {
  ASSERT_TRUE(port::SetCodePage(port::kCodePageShiftJis));
  // 0x83 0x41 is one character whose second byte is an 'A'; 0x83 before the NUL is taken alone.
  EXPECT_EQ(Tokens("x\x83\x41y(1)"), "T_CALL(x\x83\x41y) T_LPAREN T_NUMBER(1) T_RPAREN T_END");
  EXPECT_EQ(Tokens("a\x83"), "T_VARIABLE(a\x83) T_END");
  // A second byte that is a quote does not end the string.
  EXPECT_EQ(Tokens("\"\x83\"\""), "T_STRING(\"\x83\"\") T_END");
  ASSERT_TRUE(port::SetCodePage(port::kCodePageUtf8));
  // UTF-8 has no lead bytes: a byte above 0x7F is no name character.
  EXPECT_EQ(Tokens("\xc3\xa9"), "ERROR@0");
}

}  // namespace
}  // namespace keytwine::testing
