// Pattern compiler: tokens, trees, automaton shapes, decisions and limits.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "script/pattern/pattern.h"
#include "script/port/port.h"
#include "tests/script/pattern/pattern_test_util.h"

namespace keytwine {
namespace {

using testing::Automaton;
using testing::Matches;
using testing::Tree;

// --- Tokens and trees ------------------------------------------------------------------------

TEST(PatternTree, LazyStarIsOneToken) {
  EXPECT_EQ(Tree("a*?"), "Lazy(Lit(a))");
  EXPECT_EQ(Tree("a+?"), "Cat(Lit(a),Lazy(Lit(a)))");
  EXPECT_EQ(Tree("a??"), "Alt(Lit(a),Empty)");
  EXPECT_EQ(Tree("a?"), "Alt(Empty,Lit(a))");
}

TEST(PatternTree, QuantifierForms) {
  EXPECT_EQ(Tree("a*"), "Star(Lit(a))");
  EXPECT_EQ(Tree("a+"), "Cat(Lit(a),Star(Lit(a)))");
  // A second postfix is a new quantified atom with a null atom.
  EXPECT_EQ(Tree("a**"), "Cat(Star(Lit(a)),Star(-))");
  EXPECT_EQ(Tree("*a"), "Cat(Star(-),Lit(a))");
  EXPECT_EQ(Tree("+"), "Cat(-,Star(-))");
}

TEST(PatternTree, AlternativesPreferTheLeftmostAsRightChild) {
  EXPECT_EQ(Tree("a|b"), "Alt(Lit(b),Lit(a))");
  EXPECT_EQ(Tree("a|b|c"), "Alt(Lit(c),Alt(Lit(b),Lit(a)))");
  EXPECT_EQ(Tree("|a"), "Alt(Lit(a),Empty)");
  EXPECT_EQ(Tree("a|"), "Alt(Empty,Lit(a))");
  EXPECT_EQ(Tree(""), "Empty");
}

TEST(PatternTree, SequencesAreLeftDeepConcats) {
  EXPECT_EQ(Tree("abc"), "Cat(Cat(Lit(a),Lit(b)),Lit(c))");
}

TEST(PatternTree, GroupIsAlwaysAConcat) {
  EXPECT_EQ(Tree("(a)"), "Cat(Open,Cat(Lit(a),Close))");
  EXPECT_EQ(Tree("()"), "Cat(Open,Cat(Empty,Close))");
  // A missing ) is tolerated; a ) without a group ends the pattern.
  EXPECT_EQ(Tree("(a"), "Cat(Open,Cat(Lit(a),Close))");
  EXPECT_EQ(Tree("a)b"), "Lit(a)");
}

TEST(PatternTree, CountedRepetition) {
  EXPECT_EQ(Tree("x{3}"), "Cat(Lit(x),Cat(Lit(x),Cat(Lit(x),Empty)))");
  EXPECT_EQ(Tree("x{2,4}"),
            "Cat(Lit(x),Cat(Lit(x),Cat(Cat(Empty,Alt(Empty,Lit(x))),Alt(Empty,Lit(x)))))");
  EXPECT_EQ(Tree("x{2,}"), "Cat(Lit(x),Cat(Lit(x),Star(Lit(x))))");
  EXPECT_EQ(Tree("x{2,3}?"), "Cat(Lit(x),Cat(Lit(x),Cat(Empty,Alt(Lit(x),Empty))))");
  EXPECT_EQ(Tree("x{0,1}?"), "Alt(Cat(Empty,Alt(Lit(x),Empty)),Empty)");
  // x{0}, x{,}, x{0,0} are all x*.
  EXPECT_EQ(Tree("x{0}"), "Alt(Empty,Star(Lit(x)))");
  EXPECT_EQ(Tree("x{,}"), "Alt(Empty,Star(Lit(x)))");
  EXPECT_EQ(Tree("x{0,0}"), "Alt(Empty,Star(Lit(x)))");
  EXPECT_EQ(Tree("x{0}?"), "Alt(Lazy(Lit(x)),Empty)");
  // A maximum below the minimum counts as the minimum; other bytes inside are skipped.
  EXPECT_EQ(Tree("x{3,1}"), Tree("x{3}"));
  EXPECT_EQ(Tree("x{1 ,2}"), Tree("x{1,2}"));
  EXPECT_EQ(Tree("x{a1b}"), Tree("x{1}"));
  // A maximum of 0 means no upper bound.
  EXPECT_EQ(Tree("x{2,0}"), Tree("x{2,}"));
  // An unterminated count ends the pattern.
  EXPECT_EQ(Tree("ab{2"), "Cat(Lit(a),Lit(b))");
}

TEST(PatternTree, StrayCountCloseReusesTheLastCounts) {
  // As designed: `}` outside a count is a CountClose postfix with the counts of the last count
  // (zero at first, which gives x*).
  EXPECT_EQ(Tree("a}"), "Alt(Empty,Star(Lit(a)))");
  EXPECT_EQ(Tree("a{2}b}"), "Cat(Cat(Lit(a),Cat(Lit(a),Empty)),Cat(Lit(b),Cat(Lit(b),Empty)))");
}

TEST(PatternTree, Classes) {
  EXPECT_EQ(Tree("."), "Class(\\x01-\\xFF)");
  EXPECT_EQ(Tree("[]a]"), "Class(\\x5Da)");
  EXPECT_EQ(Tree("[^]a]"), "Class(^\\x5Da)");
  EXPECT_EQ(Tree("[a\\-z]"), "Class(a-z)");
  EXPECT_EQ(Tree("[a-]"), "Class(a-)");
  EXPECT_EQ(Tree("[-a]"), "Class(-a)");
  // The seven kept escapes stay as two bytes; the others are expanded.
  EXPECT_EQ(Tree("[\\d\\s\\w\\D\\S\\W\\\\]"), "Class(\\d\\s\\w\\D\\S\\W\\\\)");
  EXPECT_EQ(Tree("[\\n\\x41\\.]"), "Class(\\x0AA.)");
  // An unterminated bracket ends the pattern.
  EXPECT_EQ(Tree("a[bc"), "Lit(a)");
  EXPECT_EQ(Tree("a[b\\"), "Lit(a)");
}

TEST(PatternTree, Escapes) {
  EXPECT_EQ(Tree("\\d"), "Class(0-9)");
  EXPECT_EQ(Tree("\\D"), "Class(^0-9)");
  EXPECT_EQ(Tree("\\s"), "Class(\\x09\\x0D\\x0A\\x20)");
  EXPECT_EQ(Tree("\\S"), "Class(^\\x09\\x0D\\x0A\\x20)");
  EXPECT_EQ(Tree("\\w"), "Class(0-9a-zA-Z_)");
  EXPECT_EQ(Tree("\\W"), "Class(^0-9a-zA-Z_)");
  EXPECT_EQ(Tree("\\n"), "Lit(\\x0A)");
  EXPECT_EQ(Tree("\\R"), "Lit(\\x0D)");
  EXPECT_EQ(Tree("\\t"), "Lit(\\x09)");
  EXPECT_EQ(Tree("\\x41"), "Lit(A)");
  EXPECT_EQ(Tree("\\x414"), "Cat(Lit(A),Lit(4))");
  EXPECT_EQ(Tree("\\xZ"), "Cat(Class(),Lit(Z))");
  EXPECT_EQ(Tree("\\x00"), "Class()");
  EXPECT_EQ(Tree("\\.\\[\\%\\b\\0"), "Cat(Cat(Cat(Cat(Lit(.),Lit([)),Lit(%)),Lit(b)),Lit(0))");
}

TEST(PatternTree, Anchors) {
  EXPECT_EQ(Tree("^a$"), "Cat(Cat(^,Lit(a)),$)");
}

TEST(PatternTree, NamedCaptures) {
  // A group is captured itself.
  EXPECT_EQ(Tree("(ab)%v%"), "Cat(Cat(Cap<(v),Cat(Open,Cat(Cat(Lit(a),Lit(b)),Close))),Cap>(v))");
  // Otherwise the atom stays in front and the capture takes a lazy star of any character, or a
  // greedy one when the capture token ends the pattern.
  EXPECT_EQ(Tree("%a%-"), "Cat(Cat(Cat(Cap<(a),Lazy(Class(\\x01-\\xFF))),Cap>(a)),Lit(-))");
  EXPECT_EQ(Tree("x%a%"), "Cat(Lit(x),Cat(Cat(Cap<(a),Star(Class(\\x01-\\xFF))),Cap>(a)))");
  // `%%` is a literal percent sign; an unterminated capture ends the pattern.
  EXPECT_EQ(Tree("50%%"), "Cat(Cat(Lit(5),Lit(0)),Lit(%))");
  EXPECT_EQ(Tree("a%b"), "Lit(a)");
}

// --- Decisions of the implementer --------------------------------------------------------------

TEST(PatternDecisions, LoneTrailingBackslashIsLiteral) {
  EXPECT_EQ(Tree("a\\"), "Cat(Lit(a),Lit(\\))");
  EXPECT_EQ(Tree("\\"), "Lit(\\)");
  EXPECT_TRUE(Matches("a\\", "xa\\y"));
}

TEST(PatternDecisions, StrayCloseBracketIsLiteral) {
  EXPECT_EQ(Tree("]"), "Lit(])");
  EXPECT_EQ(Tree("[ab]]"), "Cat(Class(ab),Lit(]))");
  EXPECT_TRUE(Matches("a]", "xa]"));
  EXPECT_FALSE(Matches("a]", "xa"));
}

TEST(PatternDecisions, HexEscapeAtTheEndEndsThePattern) {
  EXPECT_EQ(Tree("ab\\x"), "Cat(Lit(a),Lit(b))");
  EXPECT_EQ(Tree("ab\\X"), "Cat(Lit(a),Lit(b))");
}

// Concatenation by appending (GCC 12 warns falsely about `"[" + std::string(...)`).
std::string Join(std::initializer_list<std::string> parts) {
  std::string joined;
  for (const std::string& part : parts) joined += part;
  return joined;
}

TEST(PatternDecisions, LongClassKeepsItsFirst255Bytes) {
  std::string body;
  for (int i = 0; i < 300; ++i) body += static_cast<char>('a' + i % 26);
  EXPECT_EQ(Tree(Join({"[", body, "]x"})), Join({"Cat(Class(", body.substr(0, 255), "),Lit(x))"}));
  // A kept escape pair is not split: 254 bytes, then \d does not fit whole.
  const std::string a254(254, 'a');
  const std::string a253(253, 'a');
  EXPECT_EQ(Tree(Join({"[", a254, "\\d]"})), Join({"Class(", a254, ")"}));
  EXPECT_EQ(Tree(Join({"[", a253, "\\d]"})), Join({"Class(", a253, "\\d)"}));
  // Nor is a two-byte character.
  testing::CodePageScope shiftJis(port::kCodePageShiftJis);
  EXPECT_EQ(Tree(Join({"[", a254, "\x82\xA0]"})), Join({"Class(", a254, ")"}));
  EXPECT_EQ(Tree(Join({"[", a253, "\x82\xA0]"})), Join({"Class(", a253, "\\x82\\xA0)"}));
}

TEST(PatternDecisions, HugeCountsCompileToNull) {
  EXPECT_EQ(CompilePattern("a{999999999}"), nullptr);
  EXPECT_EQ(CompilePattern("a{99999999999999999999}"), nullptr);
  EXPECT_EQ(CompilePattern("a{1,999999999}"), nullptr);
  EXPECT_EQ(CompilePattern("((a{100}){100}){100}"), nullptr);
  EXPECT_EQ(CompilePattern("(a{1000}){1000}"), nullptr);
  // Still within the limits.
  CompiledPattern* p = CompilePattern("a{5000}");
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(MatchPattern(nullptr, p, std::string(5000, 'a').c_str()));
  EXPECT_FALSE(MatchPattern(nullptr, p, std::string(4999, 'a').c_str()));
  FreePattern(p);
}

TEST(PatternDecisions, StateBudget) {
  // a{n}: n Concat states plus start and final.
  CompiledPattern* p = CompilePattern("a{9998}");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->stateCount, kPatternMaxStates);
  FreePattern(p);
  EXPECT_EQ(CompilePattern("a{9999}"), nullptr);
}

TEST(PatternDecisions, NestingDepthIsBounded) {
  auto nested = [](int depth) {
    return std::string(static_cast<size_t>(depth), '(') + "a" +
           std::string(static_cast<size_t>(depth), ')');
  };
  CompiledPattern* p = CompilePattern(nested(kPatternMaxGroupDepth).c_str());
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(MatchPattern(nullptr, p, "xay"));
  FreePattern(p);
  EXPECT_EQ(CompilePattern(nested(kPatternMaxGroupDepth + 1).c_str()), nullptr);
  // Unclosed groups count too.
  EXPECT_EQ(CompilePattern(std::string(100000, '(').c_str()), nullptr);
  // Matching a null pattern fails.
  EXPECT_FALSE(MatchPattern(nullptr, nullptr, "a"));
}

TEST(PatternDecisions, LongPatternsNeedNoDeepRecursion) {
  // A long sequence is a Concat chain as deep as the pattern is long; copying (the + below),
  // building and dumping it must not recurse.
  const std::string longText(4000, 'a');
  const std::string longGroup = "(" + longText + ")+";
  CompiledPattern* p = CompilePattern(longGroup.c_str());
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(MatchPattern(nullptr, p, (longText + longText).c_str()));
  EXPECT_NE(DumpPattern(p), nullptr);
  FreePattern(p);
  EXPECT_NE(DumpPatternTree(longGroup.c_str()), nullptr);
  // Far past the limits, compilation stops early and yields null.
  const std::string huge(1000000, 'a');
  EXPECT_EQ(CompilePattern(huge.c_str()), nullptr);
  EXPECT_EQ(CompilePattern(std::string(1000000, '*').c_str()), nullptr);
  EXPECT_EQ(CompilePattern((std::string(1000000, '|')).c_str()), nullptr);
}

TEST(PatternDecisions, BackslashBeforeTwoByteCharacterEscapesTheWholeCharacter) {
  testing::CodePageScope shiftJis(port::kCodePageShiftJis);
  // 0x95 0x5C is one character whose second byte is a backslash.
  // (The dump writes the printable second byte as itself.)
  EXPECT_EQ(Tree("\\\x95\x5C"), "Lit(\\x95\\)");
  EXPECT_EQ(Tree("[\\\x95\x5C]"), "Class(\\x95\\)");
  EXPECT_EQ(Tree("\\\x95\x5C"
                 "a"),
            "Cat(Lit(\\x95\\),Lit(a))");
}

// --- Automaton shapes ----------------------------------------------------------------------

TEST(PatternAutomaton, EmptyPatternIsOneEmptyMove) {
  EXPECT_EQ(Automaton(""), "states=2 start=0 final=1 ^=0 $=0\n0: e->1\n1:\n");
}

TEST(PatternAutomaton, GreedyStarTriesTheBodyFirst) {
  EXPECT_EQ(Automaton("a*"),
            "states=4 start=0 final=1 ^=0 $=0\n"
            "0: *->2\n1:\n2: 'a'->3 *->1\n3: *->2\n");
}

TEST(PatternAutomaton, LazyStarTriesTheExitFirst) {
  EXPECT_EQ(Automaton("a*?"),
            "states=4 start=0 final=1 ^=0 $=0\n"
            "0: *?->2\n1:\n2: *?->1 'a'->3\n3: *?->2\n");
}

TEST(PatternAutomaton, NewEdgesGoToTheHeadOfTheList) {
  // Left alternative b is built first, so a (built later) is tried first.
  EXPECT_EQ(Automaton("a|b"), "states=2 start=0 final=1 ^=0 $=0\n0: 'a'->1 'b'->1\n1:\n");
  EXPECT_EQ(Automaton("a?"), "states=2 start=0 final=1 ^=0 $=0\n0: 'a'->1 e->1\n1:\n");
  EXPECT_EQ(Automaton("a??"), "states=2 start=0 final=1 ^=0 $=0\n0: e->1 'a'->1\n1:\n");
}

TEST(PatternAutomaton, ConcatNumbersStatesInPreorder) {
  EXPECT_EQ(Automaton("(ab)%v%"),
            "states=7 start=0 final=1 ^=0 $=0\n"
            "0: <v->3\n1:\n2: v>->1\n3: (->4\n4: 'a'->6\n5: )->2\n6: 'b'->5\n");
  EXPECT_EQ(Automaton("%a%-%b%"),
            "states=12 start=0 final=1 ^=0 $=0\n"
            "0: <a->4\n1:\n2: '-'->7\n3: a>->2\n4: *?->5\n5: *?->3 [\\x01-\\xFF]->6\n"
            "6: *?->5\n7: <b->9\n8: b>->1\n9: *->10\n10: [\\x01-\\xFF]->11 *->8\n11: *->10\n");
}

TEST(PatternAutomaton, AnchorsOnlyAtTheEnds) {
  EXPECT_EQ(Automaton("^a|b"), "states=3 start=0 final=1 ^=1 $=0\n0: ^->2 'b'->1\n1:\n2: 'a'->1\n");
  EXPECT_EQ(Automaton("a$"), "states=3 start=0 final=1 ^=0 $=1\n0: 'a'->2\n1:\n2: $->1\n");
  // Elsewhere an anchor builds nothing: the path is dead.
  EXPECT_EQ(Automaton("a^b"), "states=4 start=0 final=1 ^=0 $=0\n0: 'a'->3\n1:\n2: 'b'->1\n3:\n");
  EXPECT_EQ(Automaton("(^a)"),
            "states=5 start=0 final=1 ^=0 $=0\n0: (->2\n1:\n2:\n3: )->1\n4: 'a'->3\n");
}

TEST(PatternAutomaton, CaptureSlotsFollowStateOrder) {
  const char* text = "%a%-%b%";
  CompiledPattern* p = CompilePattern(text);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(p->captureCount, 2);
  EXPECT_EQ(p->captureTargets[0], text);
  EXPECT_EQ(p->captureTargets[1], text + 4);
  FreePattern(p);
  // Copies made by a count share their targets: one slot.
  const char* counted = "((x)%c%){3}";
  p = CompilePattern(counted);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->captureCount, 1);
  FreePattern(p);
}

// --- Escapes and class matching ----------------------------------------------------------------

TEST(PatternEscape, ExpandEscape) {
  char out[12];
  const char* text = "\\d";
  EXPECT_EQ(ExpandEscape(text, out, true), text + 2);
  EXPECT_STREQ(out, "0-9");
  EXPECT_EQ(ExpandEscape(text, out, false), text + 2);
  EXPECT_STREQ(out, "\\d");
  text = "\\\\";
  ExpandEscape(text, out, false);
  EXPECT_STREQ(out, "\\\\");
  ExpandEscape(text, out, true);
  EXPECT_STREQ(out, "\\");
  text = "\\x4a1";
  EXPECT_EQ(ExpandEscape(text, out, true), text + 4);
  EXPECT_STREQ(out, "J");
  text = "\\xg";
  EXPECT_EQ(ExpandEscape(text, out, true), text + 2);
  EXPECT_STREQ(out, "");
  text = "\\W";
  ExpandEscape(text, out, true);
  EXPECT_STREQ(out, "^0-9a-zA-Z_");
  EXPECT_EQ(std::strlen(out) + 1, 12u);
  text = "\\";
  EXPECT_EQ(ExpandEscape(text, out, true), text + 1);
  EXPECT_STREQ(out, "");
}

TEST(PatternClass, MatchClass) {
  EXPECT_TRUE(MatchClass("a-z", "q"));
  EXPECT_FALSE(MatchClass("a-z", "Q"));
  EXPECT_TRUE(MatchClass("^a-z", "Q"));
  EXPECT_TRUE(MatchClass("\\d", "7"));
  EXPECT_FALSE(MatchClass("\\D", "7"));
  EXPECT_TRUE(MatchClass("x\\s", " "));
  EXPECT_TRUE(MatchClass("\\\\", "\\"));
  EXPECT_TRUE(MatchClass("a-", "-"));
  EXPECT_FALSE(MatchClass("", "a"));
  EXPECT_TRUE(MatchClass("^", "a"));
  EXPECT_TRUE(MatchClass("\x01-\xFF", "\xFF"));
}

TEST(PatternClass, TwoByteItems) {
  testing::CodePageScope shiftJis(port::kCodePageShiftJis);
  // 0x82 0xA0 .. 0x82 0xF1: hiragana; 0x88 0x9F: a kanji.
  EXPECT_TRUE(MatchClass("\x82\xA0-\x82\xF1", "\x82\xA2"));
  EXPECT_FALSE(MatchClass("\x82\xA0-\x82\xF1", "\x83\x41"));
  EXPECT_TRUE(MatchClass("\x88\x9F", "\x88\x9F"));
  EXPECT_FALSE(MatchClass("\x88\x9F", "\x88\xA0"));
  // One-byte items compare the first byte only: any character matches a whole two-byte one.
  EXPECT_TRUE(MatchClass("\x01-\xFF", "\x88\x9F"));
  EXPECT_TRUE(MatchClass("\x88", "\x88\x9F"));
}

// --- Memory --------------------------------------------------------------------------------

TEST(PatternMemory, EveryAllocationFailureYieldsNullOrAWorkingPattern) {
  const char* texts[] = {"(a|b)*%x%c{2,3}[^\\d]+?", "%a%-%b%", "((x)%c%){3}", "a{40}", ""};
  for (const char* text : texts) {
    bool completed = false;
    for (uint64_t n = 1; n < 1000 && !completed; ++n) {
      port::FailAllocationAfter(n);
      CompiledPattern* p = CompilePattern(text);
      port::FailAllocationAfter(0);
      if (p == nullptr) continue;
      // A failure that did not hit the compiler: the pattern must be complete.
      CompiledPattern* reference = CompilePattern(text);
      ASSERT_NE(reference, nullptr);
      auto a = DumpPattern(p);
      auto b = DumpPattern(reference);
      ASSERT_NE(a, nullptr);
      ASSERT_NE(b, nullptr);
      EXPECT_STREQ(a.get(), b.get()) << text << " n=" << n;
      FreePattern(reference);
      FreePattern(p);
      completed = true;
    }
    EXPECT_TRUE(completed) << text;
  }
}

}  // namespace
}  // namespace keytwine
