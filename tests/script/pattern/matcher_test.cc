// Pattern matcher: edge cases, the mends, captures, two-byte text, speed on
// catastrophic patterns, threads and memory failure. Every result is also checked against the
// reference matcher.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "script/pattern/pattern.h"
#include "script/port/port.h"
#include "tests/script/pattern/pattern_test_util.h"
#include "tests/script/pattern/reference_matcher.h"

namespace keytwine {
namespace {

using testing::CaptureList;
using testing::CodePageScope;
using testing::RecordingSink;
using testing::ReferenceMatch;

// (name, text) pairs in assignment order.
using NamedCaptures = std::vector<std::pair<std::string, std::string>>;

struct Outcome {
  int matched;
  NamedCaptures captures;
};

NamedCaptures Named(const CaptureList& list) {
  NamedCaptures named;
  for (const auto& [target, text] : list) {
    size_t length = 0;
    const char* name = CaptureTargetName(target, &length);
    named.emplace_back(std::string(name, length), text);
  }
  return named;
}

// Runs the fast matcher with a recording sink, checks it against the reference, returns it.
Outcome RunBoth(const std::string& pattern, const std::string& text, bool checkReference = true) {
  CompiledPattern* compiled = CompilePattern(pattern.c_str());
  EXPECT_NE(compiled, nullptr) << pattern;
  RecordingSink sink;
  const int matched = MatchPattern(&sink.sink, compiled, text.c_str());
  if (checkReference) {
    const testing::ReferenceResult reference = ReferenceMatch(compiled, text.c_str(), 10000000);
    EXPECT_EQ(reference.matched, matched) << pattern << " on " << text;
    EXPECT_EQ(reference.captures, sink.captures) << pattern << " on " << text;
  }
  Outcome outcome{matched, Named(sink.captures)};
  FreePattern(compiled);
  return outcome;
}

bool M(const std::string& pattern, const std::string& text) {
  return RunBoth(pattern, text).matched;
}

// --- Edge cases -------------------------------------------------------------------------------

TEST(PatternMatch, FindsAnywhere) {
  EXPECT_TRUE(M("abc", "xxabcxx"));
  EXPECT_FALSE(M("abc", "xxabxcx"));
  EXPECT_FALSE(M("abc", "ABC"));  // case-sensitive
}

TEST(PatternMatch, LineStart) {
  EXPECT_FALSE(M("^abc", "xxabc"));
  EXPECT_TRUE(M("^abc", "xx\nabc"));
  EXPECT_TRUE(M("^abc", "xx\r\n\r\nabc"));
  EXPECT_TRUE(M("^abc", "abc"));
  // The flag belongs to the whole pattern.
  EXPECT_TRUE(M("^a|b", "b"));
  EXPECT_FALSE(M("^a|b", "xb"));
  EXPECT_TRUE(M("^a|b", "x\nb"));
}

TEST(PatternMatch, LineEnd) {
  EXPECT_TRUE(M("c$", "abc"));
  EXPECT_TRUE(M("c$", "ab\nc"));
  EXPECT_TRUE(M("c$", "abc\nd"));
  EXPECT_FALSE(M("c$", "abcd"));
  // The end of the text is never a start position.
  EXPECT_FALSE(M("$", "abc"));
  EXPECT_TRUE(M("$", "abc\n"));
  // No class or literal consumes CR or LF in an end-anchored pattern.
  EXPECT_FALSE(M("a.*b$", "a\nb"));
  EXPECT_TRUE(M("a.*b", "a\nb"));
}

TEST(PatternMatch, AnchorsInTheMiddleNeverMatch) {
  EXPECT_FALSE(M("a^b", "a^b"));
  EXPECT_FALSE(M("a^b", "a\nb"));
  EXPECT_FALSE(M("(^a)", "a"));
  EXPECT_FALSE(M("a$b", "a\nb"));
}

TEST(PatternMatch, EmptyTextNeverMatches) {
  EXPECT_FALSE(M("", ""));
  EXPECT_FALSE(M("x*", ""));
  EXPECT_TRUE(M("", "a"));
  EXPECT_TRUE(M("x*", "abc"));
  EXPECT_TRUE(M("x*?", "abc"));
}

TEST(PatternMatch, ClassesAndEscapes) {
  EXPECT_TRUE(M("[]a]", "]"));
  EXPECT_TRUE(M("[]a]", "a"));
  EXPECT_FALSE(M("[^]a]", "]a]"));
  EXPECT_TRUE(M("[^]a]", "]b"));
  EXPECT_TRUE(M("[a\\-z]", "m"));
  EXPECT_FALSE(M("[a\\-z]", "-"));
  EXPECT_TRUE(M("[a-]", "-"));
  EXPECT_TRUE(M("[-a]", "-"));
  EXPECT_TRUE(M("\\x41", "A"));
  EXPECT_TRUE(M("\\x414", "A4"));
  EXPECT_FALSE(M("\\x414", "A5"));
  EXPECT_FALSE(M("\\xZ", "Z"));
  EXPECT_FALSE(M("\\xZ", "xZ"));
  EXPECT_TRUE(M("\\d\\s\\w", "x1 _"));
  EXPECT_TRUE(M("[\\d]+-[\\W]", "12-!"));
  EXPECT_TRUE(M("\\.", "a.b"));
  EXPECT_FALSE(M("\\.", "ab"));
  EXPECT_TRUE(M("50%%", "50%"));
  EXPECT_FALSE(M("50%%", "50"));
  // A hexadecimal escape producing ^ in a class takes that meaning.
  EXPECT_TRUE(M("[\\x5Ea]", "b"));
}

TEST(PatternMatch, Counts) {
  EXPECT_TRUE(M("^x{3}$", "xxx"));
  EXPECT_FALSE(M("^x{3}$", "xx"));
  EXPECT_FALSE(M("^x{3}$", "xxxx"));
  EXPECT_TRUE(M("^x{2,4}$", "xxxx"));
  EXPECT_FALSE(M("^x{2,4}$", "xxxxx"));
  EXPECT_TRUE(M("^x{3,1}$", "xxx"));
  EXPECT_FALSE(M("^x{3,1}$", "x"));
  EXPECT_TRUE(M("^x{0}$", "xxxxx"));
  EXPECT_TRUE(M("^x{1 ,2}$", "xx"));
}

TEST(PatternMatch, NullAtoms) {
  // *, *?, ? and ?? over nothing match the empty string; +, +? and counts above 0 never match.
  EXPECT_TRUE(M("a**", "b"));
  EXPECT_TRUE(M("a*??", "b"));
  EXPECT_FALSE(M("a*+", "a"));  // `+` after `a*` applies to a null atom: Concat(null, ...)
  EXPECT_FALSE(M("+", "abc"));
  EXPECT_FALSE(M("+?", "abc"));
  EXPECT_FALSE(M("{2}", "abc"));
  EXPECT_TRUE(M("*", "abc"));
  EXPECT_TRUE(M("??", "abc"));
  EXPECT_TRUE(M("a|+", "a"));
}

// --- Captures ------------------------------------------------------------------------------

TEST(PatternCapture, SplitAtDash) {
  Outcome o = RunBoth("%a%-%b%", "12-345");
  EXPECT_EQ(o.matched, 1);
  EXPECT_EQ(o.captures, (NamedCaptures{{"a", "12"}, {"b", "345"}}));
  o = RunBoth("%a%-%b%", "abc");
  EXPECT_EQ(o.matched, 0);
  EXPECT_EQ(o.captures, (NamedCaptures{{"a", ""}, {"b", ""}}));
}

TEST(PatternCapture, Group) {
  Outcome o = RunBoth("(\\d+)%n%", "ab12cd");
  EXPECT_EQ(o.matched, 1);
  EXPECT_EQ(o.captures, (NamedCaptures{{"n", "12"}}));
  o = RunBoth("(ab)%v%", "xxabyy");
  EXPECT_EQ(o.captures, (NamedCaptures{{"v", "ab"}}));
  // The star stands between the group and the capture: v captures what follows.
  o = RunBoth("(ab)*%v%", "ababcd");
  EXPECT_EQ(o.matched, 1);
  EXPECT_EQ(o.captures, (NamedCaptures{{"v", "cd"}}));
}

TEST(PatternCapture, LazyUnlessLast) {
  Outcome o = RunBoth("%a%b", "aabab");
  EXPECT_EQ(o.captures, (NamedCaptures{{"a", "aa"}}));
  o = RunBoth("x%a%", "xyz");
  EXPECT_EQ(o.captures, (NamedCaptures{{"a", "yz"}}));
}

TEST(PatternCapture, RepeatedCaptureKeepsTheLastPass) {
  Outcome o = RunBoth("((\\d)%d%)+x", "123x");
  EXPECT_EQ(o.matched, 1);
  EXPECT_EQ(o.captures, (NamedCaptures{{"d", "3"}}));
}

TEST(PatternCapture, TwoTokensOfOneNameAreTwoSlots) {
  Outcome o = RunBoth("(a)%n%(b)%n%", "ab");
  EXPECT_EQ(o.captures, (NamedCaptures{{"n", "a"}, {"n", "b"}}));
}

TEST(PatternCapture, OnlyTheWinningPathCounts) {
  // The left alternative passes n and then fails at x; the right one wins. n stays empty.
  Outcome o = RunBoth("(\\d+)%n%x|(\\w+)%m%y", "12y");
  EXPECT_EQ(o.matched, 1);
  EXPECT_EQ(o.captures, (NamedCaptures{{"n", ""}, {"m", "12"}}));
  // Positions from an earlier start position do not leak either.
  o = RunBoth("(a)%p%z|(b)%q%", "ab");
  EXPECT_EQ(o.captures, (NamedCaptures{{"p", ""}, {"q", "b"}}));
}

TEST(PatternCapture, NoSinkNoAssignment) {
  CompiledPattern* p = CompilePattern("%a%-%b%");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(MatchPattern(nullptr, p, "1-2"), 1);
  FreePattern(p);
}

TEST(PatternCapture, EmptyTextAssignsEmptyStrings) {
  Outcome o = RunBoth("(a)%x%", "");
  EXPECT_EQ(o.matched, 0);
  EXPECT_EQ(o.captures, (NamedCaptures{{"x", ""}}));
}

TEST(PatternCapture, TargetsAreExpressionsInThePatternText) {
  const std::string text = "(\\d+)%a[1]%";
  CompiledPattern* p = CompilePattern(text.c_str());
  ASSERT_NE(p, nullptr);
  RecordingSink sink;
  EXPECT_EQ(MatchPattern(&sink.sink, p, "x42"), 1);
  ASSERT_EQ(sink.captures.size(), 1u);
  EXPECT_EQ(sink.captures[0].first, text.c_str() + 5);
  EXPECT_EQ(Named(sink.captures), (NamedCaptures{{"a[1]", "42"}}));
  FreePattern(p);
}

// --- Preference order ------------------------------------------------------------------------

TEST(PatternOrder, LeftAlternativeFirst) {
  Outcome o = RunBoth("(a|ab)%x%", "ab");
  EXPECT_EQ(o.captures, (NamedCaptures{{"x", "a"}}));
  o = RunBoth("(ab|a)%x%", "ab");
  EXPECT_EQ(o.captures, (NamedCaptures{{"x", "ab"}}));
}

TEST(PatternOrder, GreedyAndLazy) {
  EXPECT_EQ(RunBoth("(a*)%x%", "aaa").captures, (NamedCaptures{{"x", "aaa"}}));
  EXPECT_EQ(RunBoth("(a*?)%x%", "aaa").captures, (NamedCaptures{{"x", ""}}));
  EXPECT_EQ(RunBoth("(a+?)%x%", "aaa").captures, (NamedCaptures{{"x", "a"}}));
  EXPECT_EQ(RunBoth("(a?)%x%", "aaa").captures, (NamedCaptures{{"x", "a"}}));
  EXPECT_EQ(RunBoth("(a?"
                    "?)%x%",
                    "aaa")
                .captures,
            (NamedCaptures{{"x", ""}}));
  EXPECT_EQ(RunBoth("(a{1,3})%x%", "aaaa").captures, (NamedCaptures{{"x", "aaa"}}));
  EXPECT_EQ(RunBoth("(a{1,3}?)%x%", "aaaa").captures, (NamedCaptures{{"x", "a"}}));
  EXPECT_EQ(RunBoth("(.*)%x%,", "a,b,c").captures, (NamedCaptures{{"x", "a,b"}}));
  EXPECT_EQ(RunBoth("(.*?)%x%,", "a,b,c").captures, (NamedCaptures{{"x", "a"}}));
}

// --- Mends: empty loops ---------------------------------------------------------------------

TEST(PatternEmptyLoop, RepeatedEmptyPartsTerminate) {
  EXPECT_TRUE(M("(a*)*", "aaa"));
  EXPECT_TRUE(M("()*", "x"));
  EXPECT_TRUE(M("(|a)*", "aaa"));
  EXPECT_TRUE(M("(a*)*b", "aab"));
  EXPECT_FALSE(M("(a*)*b", "aac"));
  EXPECT_FALSE(M("()*x", "yyy"));
  EXPECT_FALSE(M("(|a)*b", "aaa"));
  EXPECT_TRUE(M("(a*?)*?b", "aab"));
  EXPECT_TRUE(M("((a*)*)*$", "aa"));
  EXPECT_TRUE(M("(a|()|b)*c", "abc"));
  EXPECT_EQ(RunBoth("((a*)%x%)*b", "aab").captures, (NamedCaptures{{"x", "aa"}}));
  EXPECT_EQ(RunBoth("(a|)*%x%", "aab").captures, (NamedCaptures{{"x", "b"}}));
}

// --- Catastrophic patterns -------------------------------------------------------------------

double MillisecondsFor(const char* pattern, const std::string& text, int expected) {
  CompiledPattern* p = CompilePattern(pattern);
  EXPECT_NE(p, nullptr);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MatchPattern(nullptr, p, text.c_str()), expected) << pattern;
  const auto end = std::chrono::steady_clock::now();
  FreePattern(p);
  return std::chrono::duration<double, std::milli>(end - start).count();
}

TEST(PatternSpeed, CatastrophicPatternsAreFast) {
  const std::string as(10000, 'a');
  // Generous bounds: the debug build runs with sanitizers. The release figures are in the
  // benchmark.
  for (const char* pattern : {"(a|a)*b", "(a*)*b", "(a+)+b", "(a|aa)*b", "(a*)*(a*)*b",
                              "(.*a){12}b", "^(a?){30}a{30}$"}) {
    EXPECT_LT(MillisecondsFor(pattern, as, 0), 3000.0) << pattern;
  }
  EXPECT_LT(MillisecondsFor("(a|a)*b", as + "b", 1), 3000.0);
  EXPECT_LT(MillisecondsFor("(x+x+)+y", std::string(5000, 'x'), 0), 3000.0);
}

TEST(PatternSpeed, LongTextsDoNotOverflowTheStack) {
  const std::string text(1000000, 'a');
  EXPECT_LT(MillisecondsFor(".*b", text, 0), 20000.0);
  EXPECT_LT(MillisecondsFor("(a|b)*$", text, 1), 20000.0);
  Outcome o = RunBoth("(.*)%x%", text, false);
  EXPECT_EQ(o.matched, 1);
  ASSERT_EQ(o.captures.size(), 1u);
  EXPECT_EQ(o.captures[0].second.size(), text.size());
}

// --- Two-byte characters -------------------------------------------------------------------

TEST(PatternDoubleByte, CharactersAreUnits) {
  CodePageScope shiftJis(port::kCodePageShiftJis);
  ASSERT_TRUE(shiftJis.ok());
  const std::string kanji = "\x95\x5C";  // second byte is a backslash
  // In a pattern the second byte is not an escape.
  EXPECT_TRUE(M(kanji, "x" + kanji));
  EXPECT_TRUE(M("[" + kanji + "]", kanji));
  EXPECT_TRUE(M("^" + kanji + "+$", kanji + kanji));
  // `.` consumes a whole two-byte character.
  EXPECT_TRUE(M("^.$", kanji));
  EXPECT_FALSE(M("^..$", kanji));
  // Two-byte ranges.
  EXPECT_TRUE(M("^[\x82\xA0-\x82\xF1]+$", "\x82\xA0\x82\xA2\x82\xF1"));
  EXPECT_FALSE(M("^[\x82\xA0-\x82\xF1]+$", "\x82\xA0\x83\x41"));
  Outcome o = RunBoth("(.)%c%" + kanji, "\x82\xA0" + kanji);
  EXPECT_EQ(o.captures, (NamedCaptures{{"c", "\x82\xA0"}}));
}

TEST(PatternDoubleByte, StartPositionsAdvanceByBytes) {
  CodePageScope shiftJis(port::kCodePageShiftJis);
  // A later attempt may begin on the second byte of a two-byte character.
  EXPECT_TRUE(M("\\\\", "\x95\x5C"));
  EXPECT_TRUE(M("^\\\\", "\x95\x5C") == false);
  // A lead byte at the end of the text is a one-byte character.
  EXPECT_TRUE(M("^.$", "\x95"));
  EXPECT_TRUE(M("a\x95$", "a\x95"));
}

TEST(PatternDoubleByte, Utf8HasNoLeadBytes) {
  // Under UTF-8 every byte is a character of its own.
  EXPECT_TRUE(M("^..$", "\xC3\xA9"));
  EXPECT_TRUE(M("^[\xC3\xA9]+$", "\xC3\xA9\xA9"));
}

// --- Threads -------------------------------------------------------------------------------

TEST(PatternThreads, OnePatternManyThreads) {
  const char* text = "(\\w+)%w%@(\\w+)%d%\\.com|(a|a)*b";
  CompiledPattern* p = CompilePattern(text);
  ASSERT_NE(p, nullptr);
  const std::vector<std::string> subjects = {"mail joe@example.com now", std::string(2000, 'a'),
                                             "x@y.org", "user@host.com"};
  std::vector<std::pair<int, CaptureList>> expected;
  for (const std::string& s : subjects) {
    RecordingSink sink;
    const int r = MatchPattern(&sink.sink, p, s.c_str());
    expected.emplace_back(r, sink.captures);
  }
  std::vector<std::thread> threads;
  threads.reserve(8);
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        const size_t i = static_cast<size_t>(t + round) % subjects.size();
        RecordingSink sink;
        const int r = MatchPattern(&sink.sink, p, subjects[i].c_str());
        if (r != expected[i].first || sink.captures != expected[i].second) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int f : failures) EXPECT_EQ(f, 0);
  FreePattern(p);
}

// --- Memory --------------------------------------------------------------------------------

TEST(PatternMemory, MatcherSurvivesEveryAllocationFailure) {
  // Big enough to need the heap: many states, a long path and memo blocks.
  std::string pattern = "(a|a)*b|";
  for (int i = 0; i < 20; ++i) pattern += "(a)%c" + std::to_string(i) + "%";
  pattern += "(a*)*%z%c";
  CompiledPattern* p = CompilePattern(pattern.c_str());
  ASSERT_NE(p, nullptr);
  const std::string text = std::string(3000, 'a') + "c";
  RecordingSink full;
  ASSERT_EQ(MatchPattern(&full.sink, p, text.c_str()), 1);
  bool completed = false;
  int failures = 0;
  for (uint64_t n = 1; n < 200 && !completed; ++n) {
    port::FailAllocationAfter(n);
    RecordingSink sink;
    const int r = MatchPattern(&sink.sink, p, text.c_str());
    port::FailAllocationAfter(0);
    // Either the right answer or, when memory ran out, no match with empty captures.
    ASSERT_EQ(sink.captures.size(), full.captures.size());
    if (r == 1) {
      EXPECT_EQ(sink.captures, full.captures);
      completed = true;
    } else {
      ++failures;
      for (const auto& capture : sink.captures) EXPECT_EQ(capture.second, "");
    }
  }
  EXPECT_TRUE(completed);
  // Slot positions, on-path marks, stack growth, memo table and memo block.
  EXPECT_GE(failures, 5);
  FreePattern(p);
}

}  // namespace
}  // namespace keytwine
