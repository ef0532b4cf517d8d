// The fast matcher against the reference matcher on many generated patterns and texts: same
// match result and the same text for every capture.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "script/pattern/pattern.h"
#include "script/port/port.h"
#include "tests/script/pattern/pattern_test_util.h"
#include "tests/script/pattern/reference_matcher.h"

namespace keytwine {
namespace {

using testing::RecordingSink;
using testing::ReferenceMatch;

class PatternGenerator {
 public:
  PatternGenerator(uint32_t seed, std::vector<std::string> literals)
      : rng_(seed), literals_(std::move(literals)) {}

  // A well-formed pattern of the dialect.
  std::string Pattern() {
    captures_ = 0;
    return Alternation(3);
  }

  // Any string over the dialect's special characters: malformed patterns too.
  std::string Noise() {
    static const char kBytes[] = "ab().*+?|{}[]^$%\\,-1dxw2";
    std::string s;
    const int n = Pick(12);
    for (int i = 0; i < n; ++i) s += kBytes[Pick(sizeof kBytes - 1)];
    return s;
  }

  std::string Text(const std::vector<std::string>& units, int maxLength) {
    std::string s;
    const int n = Pick(maxLength + 1);
    for (int i = 0; i < n; ++i)
      s += units[static_cast<size_t>(Pick(static_cast<int>(units.size())))];
    return s;
  }

  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

 private:
  std::string Alternation(int depth) {
    std::string s = Sequence(depth);
    while (Pick(4) == 0) {
      s += '|';
      s += Sequence(depth);
    }
    return s;
  }

  std::string Sequence(int depth) {
    std::string s;
    const int n = Pick(4);
    for (int i = 0; i < n; ++i) s += QuantifiedAtom(depth);
    return s;
  }

  std::string QuantifiedAtom(int depth) {
    std::string s = Atom(depth);
    switch (Pick(14)) {
      case 0:
        return s + "*";
      case 1:
        return s + "*?";
      case 2:
        return s + "+";
      case 3:
        return s + "+?";
      case 4:
        return s + "?";
      case 5:
        return s + "??";
      case 6:
        return s + "{" + std::to_string(Pick(3)) + "}";
      case 7:
        return s + "{" + std::to_string(Pick(2)) + "," + std::to_string(Pick(3)) + "}";
      case 8:
        return s + "{" + std::to_string(Pick(2)) + ",}" + (Pick(2) ? "?" : "");
      case 9:
        return s + "%c" + std::to_string(captures_++) + "%";
      default:
        return s;
    }
  }

  std::string Atom(int depth) {
    switch (Pick(depth > 0 ? 16 : 13)) {
      case 0:
        return ".";
      case 1:
        return "[ab]";
      case 2:
        return "[^a]";
      case 3:
        return "\\d";
      case 4:
        return "^";
      case 5:
        return "$";
      case 6:
        return "\\w";
      case 7:
        return "%%";
      case 8:
      case 9:
      case 10:
      case 11:
      case 12:
        return literals_[static_cast<size_t>(Pick(static_cast<int>(literals_.size())))];
      default: {
        std::string group(1, '(');
        group += Alternation(depth - 1);
        group += ')';
        return group;
      }
    }
  }

  std::mt19937 rng_;
  std::vector<std::string> literals_;
  int captures_ = 0;
};

struct Tally {
  int compared = 0;
  int matched = 0;
  int withCaptures = 0;
  int skipped = 0;
};

void Compare(const std::string& pattern, const std::string& text, Tally* tally) {
  CompiledPattern* compiled = CompilePattern(pattern.c_str());
  ASSERT_NE(compiled, nullptr) << pattern;
  const testing::ReferenceResult reference = ReferenceMatch(compiled, text.c_str(), 200000);
  if (reference.matched < 0) {
    ++tally->skipped;
    FreePattern(compiled);
    return;
  }
  RecordingSink sink;
  const int matched = MatchPattern(&sink.sink, compiled, text.c_str());
  ASSERT_EQ(matched, reference.matched) << "pattern [" << pattern << "] text [" << text << "]";
  ASSERT_EQ(sink.captures, reference.captures)
      << "pattern [" << pattern << "] text [" << text << "]";
  // Matching without a sink gives the same answer.
  ASSERT_EQ(MatchPattern(nullptr, compiled, text.c_str()), matched);
  ++tally->compared;
  tally->matched += matched;
  for (const auto& capture : sink.captures) {
    if (!capture.second.empty()) {
      ++tally->withCaptures;
      break;
    }
  }
  FreePattern(compiled);
}

TEST(PatternDifferential, GeneratedPatternsOverASmallAlphabet) {
  PatternGenerator gen(12345, {"a", "b", "a", "b", "ab", "1"});
  const std::vector<std::string> units = {"a", "b", "a", "b", "1", "\n", " "};
  Tally tally;
  for (int i = 0; i < 4000; ++i) {
    const std::string pattern = gen.Pattern();
    for (int j = 0; j < 12; ++j) {
      Compare(pattern, gen.Text(units, 9), &tally);
      if (HasFatalFailure()) return;
    }
  }
  // The generator must exercise both outcomes and the captures.
  EXPECT_GT(tally.matched, tally.compared / 5);
  EXPECT_LT(tally.matched, tally.compared * 19 / 20);
  EXPECT_GT(tally.withCaptures, 500);
  EXPECT_LT(tally.skipped, tally.compared / 100);
}

TEST(PatternDifferential, LongerTexts) {
  PatternGenerator gen(2024, {"a", "b", "a", "(a|ab)", "(a*)", "1"});
  const std::vector<std::string> units = {"a", "a", "a", "b", "1", "\n"};
  Tally tally;
  for (int i = 0; i < 1500; ++i) {
    const std::string pattern = gen.Pattern();
    for (int j = 0; j < 4; ++j) {
      Compare(pattern, gen.Text(units, 40), &tally);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(tally.matched, tally.compared / 5);
  EXPECT_LT(tally.skipped, tally.compared / 20);
}

TEST(PatternDifferential, MalformedPatterns) {
  PatternGenerator gen(777, {"a"});
  const std::vector<std::string> units = {"a", "b", "1", "\n", "(", "%", "\\", "x", "d"};
  Tally tally;
  for (int i = 0; i < 6000; ++i) {
    const std::string pattern = gen.Noise();
    for (int j = 0; j < 6; ++j) {
      Compare(pattern, gen.Text(units, 8), &tally);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(tally.matched, 0);
}

TEST(PatternDifferential, DoubleByteText) {
  testing::CodePageScope shiftJis(port::kCodePageShiftJis);
  ASSERT_TRUE(shiftJis.ok());
  // Two-byte characters, one of them with a backslash as second byte, and lone lead bytes.
  PatternGenerator gen(4242, {"a", "\x82\xA0", "\x95\x5C", "[\x82\xA0-\x82\xA2]", "\\\\", "\x82"});
  const std::vector<std::string> units = {"a",  "\x82\xA0", "\x82\xA1", "\x95\x5C",
                                          "\\", "\x82",     "b"};
  Tally tally;
  for (int i = 0; i < 2500; ++i) {
    const std::string pattern = gen.Pattern();
    for (int j = 0; j < 10; ++j) {
      Compare(pattern, gen.Text(units, 7), &tally);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(tally.matched, tally.compared / 5);
}

TEST(PatternDifferential, EmptyLoopsAndNestedStars) {
  // Patterns made of nested stars over possibly empty bodies, with captures everywhere.
  PatternGenerator gen(99, {"a", "()", "(|a)", "(a*)", "(a|)", "b"});
  const std::vector<std::string> units = {"a", "a", "b"};
  Tally tally;
  for (int i = 0; i < 3000; ++i) {
    const std::string pattern = gen.Pattern();
    for (int j = 0; j < 8; ++j) {
      Compare(pattern, gen.Text(units, 8), &tally);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(tally.withCaptures, 100);
}

}  // namespace
}  // namespace keytwine
