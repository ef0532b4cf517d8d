// The fast pattern matcher against the reference matcher on generated patterns and texts, and
// on several threads at once. The pattern cases are run with the text cases (text_cases_test.cc).
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <sstream>
#include <thread>

#include "tests/script/pattern/reference_matcher.h"

namespace keytwine::testing {
namespace {

TEST(PatternThreads, ShareOneCompiledPattern) {
  CompiledPattern* pattern = CompilePattern("(\\w+)%w%@(\\w+)%d%\\.com|(a|a)*b");
  const std::string texts[] = {"mail joe@example.com now", std::string(2000, 'a'), "x@y.com"};
  const ReferenceResult expected[] = {FastMatch(pattern, texts[0]), FastMatch(pattern, texts[1]),
                                      FastMatch(pattern, texts[2])};
  EXPECT_EQ(expected[0].captures[1].second, "example");
  EXPECT_EQ(MatchPattern(nullptr, pattern, nullptr), 0);  // a null text is the empty text
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = t; i < t + 50; ++i) {
        const ReferenceResult got = FastMatch(pattern, texts[i % 3]);
        failures +=
            got.matched != expected[i % 3].matched || got.captures != expected[i % 3].captures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  FreePattern(pattern);
}

// Patterns of up to 11 tokens, texts of up to maxText units.
struct Setting {
  const char* name;
  uint32_t seed, codePage;
  const char* tokens;  // separated by blanks, with "_" for a blank
  const char* units;
  int patterns, textsPerPattern, maxText;
};

#define SYNTAX ". [ab] [^a] \\d ^ $ \\w %% ( ( ( ) ) | * *? + +? ? ?? {2} {0,2} {1,}? } %x% %y% "
const Setting kSettings[] = {
    {"SmallAlphabet", 12345, 65001, SYNTAX "a b a b ab 1", "a b a b 1 \n _", 4000, 12, 9},
    {"LongerTexts", 2024, 65001, SYNTAX "a a b (a|ab) (a*)", "a a a b 1 \n", 1500, 4, 40},
    {"MalformedPatterns", 777, 65001, "a b ( ) . * + ? | { } [ ] ^ $ % \\ , - 1 d x w 2",
     "a b 1 \n ( % \\ x d", 6000, 6, 8},
    // Two-byte characters (one with a backslash as its second byte) and lone lead bytes.
    {"DoubleByteText", 4242, 932, SYNTAX "a \x82\xA0 \x95\x5C [\x82\xA0-\x82\xA2] \\\\ \x82",
     "a \x82\xA0 \x82\xA1 \x95\x5C \\ \x82 b", 2500, 10, 7},
    {"EmptyLoopsAndNestedStars", 99, 65001, SYNTAX "a a () (|a) (a*) (a|) b", "a a b", 3000, 8, 8},
};
#undef SYNTAX

std::string Generate(std::mt19937& random, const char* list, int most) {
  std::vector<std::string> words;
  std::istringstream in(list);
  for (std::string word; in >> word;) words.push_back(word == "_" ? " " : word);
  std::string text;
  for (auto n = random() % (most + 1); n > 0; --n) text += words[random() % words.size()];
  return text;
}

class PatternDifferential : public ::testing::TestWithParam<Setting> {};

TEST_P(PatternDifferential, AgreesWithTheReferenceMatcher) {
  const Setting& setting = GetParam();
  ASSERT_TRUE(port::SetCodePage(setting.codePage));
  std::mt19937 random(setting.seed);
  int compared = 0, matched = 0, captured = 0;
  for (int i = 0; i < setting.patterns; ++i) {
    const std::string pattern = Generate(random, setting.tokens, 11);
    CompiledPattern* compiled = CompilePattern(pattern.c_str());
    ASSERT_NE(compiled, nullptr) << pattern;
    for (int j = 0; j < setting.textsPerPattern; ++j) {
      const std::string text = Generate(random, setting.units, setting.maxText);
      const ReferenceResult reference = ReferenceMatch(compiled, text.c_str(), 200000);
      if (reference.matched < 0) continue;  // too slow for the reference
      const ReferenceResult answer = FastMatch(compiled, text);
      ASSERT_EQ(answer.matched, reference.matched) << "[" << pattern << "] [" << text << "]";
      ASSERT_EQ(answer.captures, reference.captures) << "[" << pattern << "] [" << text << "]";
      ASSERT_EQ(MatchPattern(nullptr, compiled, text.c_str()), answer.matched) << pattern;
      ++compared;
      matched += answer.matched;
      for (const auto& capture : answer.captures) captured += capture.second.empty() ? 0 : 1;
    }
    FreePattern(compiled);
  }
  port::SetCodePage(65001);
  // The generator must give both answers and captured texts, and few cases the reference skips.
  EXPECT_GT(compared, setting.patterns * setting.textsPerPattern * 9 / 10);
  EXPECT_GT(matched, compared / 20);
  EXPECT_LT(matched, compared * 19 / 20);
  EXPECT_GT(captured, 50);
}

INSTANTIATE_TEST_SUITE_P(Settings, PatternDifferential, ::testing::ValuesIn(kSettings),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace keytwine::testing
