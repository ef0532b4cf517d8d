// Pattern cases: the compiler's trees and automata and the matcher's answers, as written in
// cases/*.cases (the notation is described at the top of matching.cases). Besides its expected
// answer, every match line is checked against the reference matcher, without a capture sink, and
// with each allocation of compiling and of matching failed in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "script/pattern/pattern.h"
#include "script/port/port.h"
#include "tests/script/pattern/reference_matcher.h"
#include "tests/script/text/case_lines.h"
#include "tests/support/case_file.h"

namespace keytwine::testing {
namespace {

using Report = std::function<void(const std::string& problem)>;

struct Outcome {
  int matched = 0;
  CaptureList captures;
};

Outcome Match(const CompiledPattern* pattern, const std::string& text) {
  RecordingSink sink;
  const int matched = MatchPattern(&sink.sink, pattern, text.c_str());
  return {matched, sink.captures};
}

std::string Dump(const CompiledPattern* pattern) {
  const port::Owned<char> dump = DumpPattern(pattern);
  return dump ? dump.get() : "(null)";
}

// "yes" or "no" and the captures as name=text; on a failed match only the captures that are not
// empty (there should be none).
std::string Show(const Outcome& outcome) {
  std::string shown = outcome.matched != 0 ? "yes" : "no";
  for (const auto& [target, text] : outcome.captures) {
    if (outcome.matched == 0 && text.empty()) continue;
    size_t length = 0;
    const char* name = CaptureTargetName(target, &length);
    shown += ' ' + std::string(name, length) + '=' + EncodeBytes(text);
  }
  return shown;
}

// Compiling with one allocation failed gives null or the same automaton.
void SweepCompile(const std::string& pattern, const std::string& dump, const Report& report) {
  const uint64_t before = port::AllocationCount();
  FreePattern(CompilePattern(pattern.c_str()));
  const uint64_t count = port::AllocationCount() - before;
  for (uint64_t n = 1; n <= count; ++n) {
    port::FailAllocationAfter(n);
    CompiledPattern* compiled = CompilePattern(pattern.c_str());
    port::FailAllocationAfter(0);
    if (compiled != nullptr && Dump(compiled) != dump) {
      report("allocation " + std::to_string(n) + " failed gives another automaton");
    }
    FreePattern(compiled);
  }
}

// Matching with one allocation failed gives the same answer, or no decision (-1) with empty
// captures, which the runtime reports as "Alloc failed".
void SweepMatch(const CompiledPattern* pattern, const std::string& text, const Outcome& clean,
                const Report& report) {
  const uint64_t before = port::AllocationCount();
  MatchPattern(nullptr, pattern, text.c_str());
  const uint64_t count = port::AllocationCount() - before;
  for (uint64_t n = 1; n <= count; ++n) {
    port::FailAllocationAfter(n);
    const Outcome outcome = Match(pattern, text);
    port::FailAllocationAfter(0);
    const bool empty = std::all_of(outcome.captures.begin(), outcome.captures.end(),
                                   [](const auto& capture) { return capture.second.empty(); });
    if (Show(outcome) != Show(clean) &&
        !(outcome.matched == -1 && empty && outcome.captures.size() == clean.captures.size())) {
      report("allocation " + std::to_string(n) + " failed gives " + Show(outcome));
    }
  }
}

// The answer of one "PATTERN | TEXT" line, after all the checks that need no expected text.
std::string MatchLine(const std::string& line, const Report& report) {
  std::istringstream words(line);
  std::string patternWord, bar, textWord;
  words >> patternWord >> bar >> textWord;
  if (bar != "|" || !(words >> std::ws).eof()) report("not PATTERN | TEXT");
  const std::string pattern = DecodeBytes(patternWord);
  const std::string text = DecodeBytes(textWord);
  CompiledPattern* compiled = CompilePattern(pattern.c_str());
  SweepCompile(pattern, Dump(compiled), report);
  if (compiled == nullptr) return "null";
  if (DumpPatternTree(pattern.c_str()) == nullptr) report("compiles, but has no tree");
  const Outcome outcome = Match(compiled, text);
  if (static_cast<int32_t>(outcome.captures.size()) != compiled->captureCount) {
    report("not every capture is assigned");
  }
  if (MatchPattern(nullptr, compiled, text.c_str()) != outcome.matched) {
    report("another answer without a capture sink");
  }
  const ReferenceResult reference =
      text.size() <= 64 ? ReferenceMatch(compiled, text.c_str(), 1000000) : ReferenceResult{-1, {}};
  if (reference.matched >= 0 &&
      (reference.matched != outcome.matched || reference.captures != outcome.captures)) {
    report("the reference matcher says " + Show({reference.matched, reference.captures}));
  }
  if (text.size() <= 10000) SweepMatch(compiled, text, outcome, report);
  FreePattern(compiled);
  return Show(outcome);
}

std::string TreeLine(const std::string& patternWord) {
  const port::Owned<char> tree = DumpPatternTree(DecodeBytes(patternWord).c_str());
  return tree ? tree.get() : "(null)";
}

// The automaton on one line: its lines joined by " / ".
std::string AutomatonLine(const std::string& patternWord) {
  const std::string pattern = DecodeBytes(patternWord);  // capture names point into it
  CompiledPattern* compiled = CompilePattern(pattern.c_str());
  std::string dump = Dump(compiled);
  FreePattern(compiled);
  for (size_t at = dump.find('\n'); at != std::string::npos; at = dump.find('\n', at))
    dump.replace(at, 1, " / ");
  return dump.substr(0, dump.size() - 3);
}

class PatternCases : public ::testing::TestWithParam<std::string> {};

TEST_P(PatternCases, GiveTheirTreesAutomataAndAnswers) {
  CaseFile file(GetParam());
  for (const TestCase& testCase : file.Cases()) {
    const CaseSection* codePage = testCase.Find("codepage");
    ASSERT_TRUE(port::SetCodePage(codePage ? std::stoul(codePage->argument) : 65001));
    for (const CaseSection& section : testCase.sections) {
      if (section.name == "trees") {
        file.Expect(testCase, "trees", AnswerLines(section.text, TreeLine));
      }
      if (section.name == "automata") {
        file.Expect(testCase, "automata", AnswerLines(section.text, AutomatonLine));
      }
      if (section.name != "matches") continue;
      file.Expect(testCase, "matches", AnswerLines(section.text, [&](const std::string& left) {
                    return MatchLine(left, [&](const std::string& problem) {
                      ADD_FAILURE_AT(file.Path().c_str(), static_cast<int>(testCase.line))
                          << testCase.title << ": " << left << ": " << problem;
                    });
                  }));
    }
    port::SetCodePage(65001);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, PatternCases,
                         ::testing::ValuesIn(CaseFile::FilesIn("tests/script/pattern/cases",
                                                               ".cases")),
                         [](const auto& info) { return CaseFileLabel(info.param); });

TEST(PatternEscapes, KeptEscapesAreCopiedAndTerminated) {
  char out[12];
  std::fill_n(out, sizeof out, 'x');
  const char* text = "\\d+";
  EXPECT_EQ(ExpandEscape(text, out, false), text + 2);
  EXPECT_STREQ(out, "\\d");
  EXPECT_EQ(ExpandEscape(text, out, true), text + 2);
  EXPECT_STREQ(out, "0-9");
}

TEST(PatternThreads, ShareOneCompiledPattern) {
  CompiledPattern* pattern = CompilePattern("(\\w+)%w%@(\\w+)%d%\\.com|(a|a)*b");
  const std::vector<std::string> texts = {"mail joe@example.com now", std::string(2000, 'a'),
                                          "x@y.org", "user@host.com"};
  std::vector<std::string> expected;
  expected.reserve(texts.size());
  for (const std::string& text : texts) expected.push_back(Show(Match(pattern, text)));
  std::vector<int> failures(8, 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&, t] {
      for (size_t round = 0; round < 50; ++round) {
        const size_t i = (t + round) % texts.size();
        if (Show(Match(pattern, texts[i])) != expected[i]) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(8, 0));
  EXPECT_EQ(expected[0], "yes w=joe d=example");
  FreePattern(pattern);
}

}  // namespace
}  // namespace keytwine::testing
