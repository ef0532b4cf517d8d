// The fast matcher against the reference matcher on many generated patterns and texts: the same
// answer, with and without a capture sink, and the same text for every capture.
#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "script/pattern/pattern.h"
#include "script/port/port.h"
#include "tests/script/pattern/reference_matcher.h"

namespace keytwine::testing {
namespace {

using Words = std::vector<std::string>;

struct Setting {
  const char* name;
  uint32_t seed;
  uint32_t codePage;
  bool noise;  // any string of the dialect's special bytes instead of a well-formed pattern
  const char* literals;  // the atoms besides . [ab] [^a] \d ^ $ \w %% and groups, comma-separated
  const char* units;     // what texts are made of, comma-separated
  int patterns;
  int textsPerPattern;
  int maxTextLength;
};

const Setting kSettings[] = {
    {"SmallAlphabet", 12345, 65001, false, "a,b,a,b,ab,1", "a,b,a,b,1,\n, ", 4000, 12, 9},
    {"LongerTexts", 2024, 65001, false, "a,b,a,(a|ab),(a*),1", "a,a,a,b,1,\n", 1500, 4, 40},
    {"MalformedPatterns", 777, 65001, true, "a", "a,b,1,\n,(,%,\\,x,d", 6000, 6, 8},
    // Two-byte characters (one with a backslash as its second byte) and lone lead bytes.
    {"DoubleByteText", 4242, 932, false, "a,\x82\xA0,\x95\x5C,[\x82\xA0-\x82\xA2],\\\\,\x82",
     "a,\x82\xA0,\x82\xA1,\x95\x5C,\\,\x82,b", 2500, 10, 7},
    {"EmptyLoopsAndNestedStars", 99, 65001, false, "a,(),(|a),(a*),(a|),b", "a,a,b", 3000, 8, 8},
};

Words Split(const std::string& list) {
  Words words;
  std::istringstream in(list);
  for (std::string word; std::getline(in, word, ',');) words.push_back(word);
  return words;
}

// Names a setting in the test list.
void PrintTo(const Setting& setting, std::ostream* out) {
  *out << setting.name;
}

class Generator {
 public:
  explicit Generator(const Setting& setting)
      : setting_(setting),
        literals_(Split(setting.literals)),
        units_(Split(setting.units)),
        random_(setting.seed) {}

  std::string Pattern() {
    if (setting_.noise) return Repeat("ab().*+?|{}[]^$%\\,-1dxw2", 11);
    captures_ = 0;
    return Alternation(3);
  }

  std::string Text() {
    std::string text;
    for (int n = Pick(setting_.maxTextLength + 1); n > 0; --n) text += Any(units_);
    return text;
  }

 private:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
  std::string Any(const Words& words) { return words[Pick(static_cast<int>(words.size()))]; }
  std::string Number(int below) { return std::to_string(Pick(below)); }

  std::string Repeat(const std::string& bytes, int most) {
    std::string text;
    for (int n = Pick(most + 1); n > 0; --n) text += bytes[Pick(static_cast<int>(bytes.size()))];
    return text;
  }

  std::string Alternation(int depth) {
    std::string text = Sequence(depth);
    while (Pick(4) == 0) text += '|' + Sequence(depth);
    return text;
  }

  std::string Sequence(int depth) {
    std::string text;
    for (int n = Pick(4); n > 0; --n) text += QuantifiedAtom(depth);
    return text;
  }

  std::string QuantifiedAtom(int depth) {
    static const char* const kPostfixes[] = {"*", "*?", "+", "+?", "?", "??"};
    std::string atom = Atom(depth);
    const int pick = Pick(14);
    if (pick < 6) return atom + kPostfixes[pick];
    if (pick == 6) return atom + "{" + Number(3) + "}";
    if (pick == 7) return atom + "{" + Number(2) + "," + Number(3) + "}";
    if (pick == 8) return atom + "{" + Number(2) + ",}" + (Pick(2) != 0 ? "?" : "");
    if (pick == 9) return atom + "%c" + std::to_string(captures_++) + "%";
    return atom;
  }

  std::string Atom(int depth) {
    static const char* const kAtoms[] = {".", "[ab]", "[^a]", "\\d", "^", "$", "\\w", "%%"};
    const int pick = Pick(depth > 0 ? 16 : 13);
    if (pick < 8) return kAtoms[pick];
    if (pick < 13) return Any(literals_);
    std::string group = "(";
    group += Alternation(depth - 1);
    return group + ')';
  }

  const Setting& setting_;
  Words literals_;
  Words units_;
  std::mt19937 random_;
  int captures_ = 0;
};

class PatternDifferential : public ::testing::TestWithParam<Setting> {
 protected:
  void TearDown() override { port::SetCodePage(port::kCodePageUtf8); }
};

TEST_P(PatternDifferential, AgreesWithTheReferenceMatcher) {
  const Setting& setting = GetParam();
  ASSERT_TRUE(port::SetCodePage(setting.codePage));
  Generator generator(setting);
  int compared = 0, matched = 0, captured = 0;
  for (int i = 0; i < setting.patterns; ++i) {
    const std::string pattern = generator.Pattern();
    CompiledPattern* compiled = CompilePattern(pattern.c_str());
    ASSERT_NE(compiled, nullptr) << pattern;
    for (int j = 0; j < setting.textsPerPattern; ++j) {
      const std::string text = generator.Text();
      const ReferenceResult reference = ReferenceMatch(compiled, text.c_str(), 200000);
      if (reference.matched < 0) continue;  // too slow for the reference
      RecordingSink sink;
      const int answer = MatchPattern(&sink.sink, compiled, text.c_str());
      ASSERT_EQ(answer, reference.matched) << "pattern [" << pattern << "] text [" << text << "]";
      ASSERT_EQ(sink.captures, reference.captures)
          << "pattern [" << pattern << "] text [" << text << "]";
      ASSERT_EQ(MatchPattern(nullptr, compiled, text.c_str()), answer) << pattern;
      ++compared;
      matched += answer;
      for (const auto& capture : sink.captures) captured += capture.second.empty() ? 0 : 1;
    }
    FreePattern(compiled);
  }
  // The generator must give both answers and captured texts, and few cases the reference skips.
  const int total = setting.patterns * setting.textsPerPattern;
  EXPECT_GT(compared, total * 9 / 10);
  EXPECT_GT(matched, compared / 20);
  EXPECT_LT(matched, compared * 19 / 20);
  EXPECT_GT(captured, 50);
}

INSTANTIATE_TEST_SUITE_P(Settings, PatternDifferential, ::testing::ValuesIn(kSettings),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace keytwine::testing
