// The text and pattern cases: each section but "codepage" holds "QUESTIONS => ANSWERS" lines.
// Texts go to the routines in heap blocks of exactly their size, so AddressSanitizer sees a read
// past the NUL. Pattern answers are checked against the reference matcher, without a capture
// sink, and with each allocation failed in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "script/pattern/pattern.h"
#include "script/text/native_args.h"
#include "script/text/text.h"
#include "tests/script/pattern/reference_matcher.h"
#include "tests/support/case_file.h"

namespace keytwine::testing {
namespace {

std::string DecodeBytes(const std::string& word) {
  std::string bytes;
  for (size_t i = 0, close; i < word.size(); ++i) {
    if (word[i] != '<' || (close = word.find('>', i)) == std::string::npos) {
      bytes += word[i];
      continue;
    }
    const std::string group = word.substr(i + 1, close - i - 1);
    const size_t star = group.find('*');
    for (long n = star != std::string::npos ? std::strtol(group.c_str(), nullptr, 10) : 0; n > 0;
         --n)
      bytes += group.substr(star + 1);
    for (size_t h = 0; star == std::string::npos && h + 1 < group.size(); h += 2)
      bytes += static_cast<char>(std::strtol(group.substr(h, 2).c_str(), nullptr, 16));
    i = close;
  }
  return bytes;
}

// The word for some bytes: a two-byte character and every byte that cannot stand for itself in
// hex, a run of 16 or more equal bytes as a repetition.
std::string EncodeBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string word;
  bool inHex = false, secondByte = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const bool lead = port::IsDBCSLeadByte(c) && i + 1 < bytes.size();
    const bool hex = secondByte || c <= 0x20 || c >= 0x7F || c == '<' || lead;
    secondByte = !secondByte && lead;
    size_t run = 1;
    while (!hex && c != '>' && i + run < bytes.size() && bytes[i + run] == bytes[i]) ++run;
    if (inHex && !hex) word += '>';
    if (!inHex && hex) word += '<';
    if (run >= 16) {
      word += '<' + std::to_string(run) + '*' + bytes[i] + '>';
      i += run - 1;
    } else {
      word += hex ? std::string{kDigits[c >> 4], kDigits[c & 15]} : std::string(1, bytes[i]);
    }
    inHex = hex;
  }
  return word.empty() ? "<>" : word + (inHex ? ">" : "");
}

std::string Dump(const CompiledPattern* pattern) {
  const port::Owned<char> dump = DumpPattern(pattern);
  return dump ? dump.get() : "(null)";
}

// "yes" or "no" and the captures as name=text; on "no" only those that are not empty.
std::string Show(const ReferenceResult& outcome) {
  std::string shown = outcome.matched != 0 ? "yes" : "no";
  for (const auto& [target, text] : outcome.captures) {
    size_t length = 0;
    const char* name = CaptureTargetName(target, &length);
    if (outcome.matched != 0 || !text.empty())
      shown += ' ' + std::string(name, length) + '=' + EncodeBytes(text);
  }
  return shown;
}

using Report = std::function<void(const std::string& problem)>;

std::string MatchAnswer(const CompiledPattern* compiled, const std::string& text,
                        const Report& report) {
  const ReferenceResult outcome = FastMatch(compiled, text);
  if (static_cast<int32_t>(outcome.captures.size()) != compiled->captureCount)
    report("not every capture is assigned");
  if (MatchPattern(nullptr, compiled, text.c_str()) != outcome.matched)
    report("another answer without a capture sink");
  const ReferenceResult reference =
      text.size() <= 64 ? ReferenceMatch(compiled, text.c_str(), 1000000) : ReferenceResult{-1, {}};
  if (reference.matched >= 0 &&
      (reference.matched != outcome.matched || reference.captures != outcome.captures))
    report("the reference matcher says " + Show(reference));
  // Out of memory, the matcher may give no decision (-1), and then every capture is empty.
  if (text.size() > 10000) return Show(outcome);
  EachAllocationFailing(
      [&] { return FastMatch(compiled, text); },
      [&](const ReferenceResult& failed, uint64_t n) {
        bool empty = failed.captures.size() == outcome.captures.size();
        for (const auto& capture : failed.captures) empty &= capture.second.empty();
        if (Show(failed) != Show(outcome) && !(failed.matched == -1 && empty))
          report("allocation " + std::to_string(n) + " failed gives " + Show(failed));
        return true;
      });
  return Show(outcome);
}

// A tree, an automaton on one line (" / " between its lines), or the answers for each text of a
// "PATTERN | TEXT..." line, separated by "; ".
std::string PatternAnswer(const std::string& kind, const std::string& question,
                          const Report& report) {
  std::istringstream words(question);
  std::string word, bar;
  words >> word >> bar;
  const std::string pattern = DecodeBytes(word);  // capture names point into it
  const port::Owned<char> tree = DumpPatternTree(pattern.c_str());
  if (kind == "trees") return tree ? tree.get() : "(null)";
  CompiledPattern* compiled = CompilePattern(pattern.c_str());
  std::string answers = Dump(compiled);
  for (size_t at; kind == "automata" && (at = answers.find('\n')) != std::string::npos;)
    answers.replace(at, 1, " / ");
  EachAllocationFailing([&] { return CompilePattern(pattern.c_str()); },
                        [&](CompiledPattern* failed, uint64_t n) {
                          if (failed != nullptr && Dump(failed) != Dump(compiled))
                            report("allocation " + std::to_string(n) + " failed: other automaton");
                          FreePattern(failed);
                          return true;
                        });
  if (compiled != nullptr && tree == nullptr) report("compiles, but has no tree");
  if (kind != "automata") answers = compiled != nullptr ? "" : "null; ";
  while (kind != "automata" && compiled != nullptr && words >> word)
    answers += MatchAnswer(compiled, DecodeBytes(word), report) + "; ";
  FreePattern(compiled);
  return answers.substr(0, answers.size() - (kind == "automata" ? 3 : 2));
}

using Words = std::vector<std::string>;

Words Split(const std::string& text, char separator) {
  Words words;
  std::istringstream in(text);
  for (std::string word; std::getline(in, word, separator);) words.push_back(word);
  return words;
}

// A heap copy holding exactly the bytes and the NUL; the word "(null)" gives null.
std::unique_ptr<char[]> Exact(const std::string& word) {
  const std::string bytes = DecodeBytes(word);
  std::unique_ptr<char[]> block(word == "(null)" ? nullptr : new char[bytes.size() + 1]);
  if (block) std::copy_n(bytes.c_str(), bytes.size() + 1, block.get());
  return block;
}

std::string Shown(const char* text) {
  return text != nullptr ? EncodeBytes(text) : "(null)";
}

std::string Units(const char16_t* wide) {
  if (wide == nullptr) return "(null)";
  std::string units;
  char unit[6];
  for (; *wide != 0; ++wide) {
    std::snprintf(unit, sizeof unit, "+%04X", static_cast<unsigned>(*wide));
    units += unit;
  }
  return units.empty() ? "<>" : units.substr(1);
}

// The new string a routine gives, once it has given null with its first allocation failed.
template <typename Allocating>
auto Checked(Allocating allocating) {
  port::FailAllocationAfter(1);
  EXPECT_EQ(allocating(), nullptr);
  port::FailAllocationAfter(0);
  return allocating();
}

// An argument word: #N an integer, (null) no argument, (none) one without data, else a text.
std::string NativeArg(const std::string& word) {
  Value bare{};
  const ValuePtr made(word[0] == '(' ? nullptr : NewValue());
  const Value* value = word == "(none)" ? &bare : made.get();
  if (word[0] == '#') SetIntegerData(made->data, std::stoi(word.substr(1)));
  if (made && word[0] != '#') SetTextData(made->data, Duplicate(DecodeBytes(word).c_str()));
  return std::to_string(ArgToInt(value)) + '/' +
         Shown(Checked([&] { return ArgToText(value); }).get()) + '/' +
         Units(Checked([&] { return ArgToWide(value); }).get());
}

// What a routine answers for one question word (several arguments are joined by ",").
std::string Answer(const std::string& routine, const std::string& word) {
  const Words w = Split(word, ',');
  const std::unique_ptr<char[]> text = Exact(w[0]);
  char* t = text.get();
  auto offset = [&](const char* found) {
    return found != nullptr ? std::to_string(found - t) : "none";
  };
  if (routine == "character-length") return std::to_string(CharacterLength(t));
  if (routine == "to-wide") return Units(Checked([&] { return ToWide(t); }).get());
  if (routine == "to-multibyte") {
    std::u16string wide;
    for (const std::string& unit : Split(t != nullptr ? word : "", '+'))
      if (unit != "<>") wide += static_cast<char16_t>(std::stoul(unit, nullptr, 16));
    const char16_t* units = t != nullptr ? wide.c_str() : nullptr;
    return Shown(Checked([&] { return ToMultiByte(units); }).get());
  }
  if (routine == "copy-n") {
    const size_t size = std::max(std::stoi(w[1]), 0);
    const std::unique_ptr<char[]> exact(new char[size]);
    std::fill_n(exact.get(), size, '#');
    const char* end = CopyN(exact.get(), t, std::stoi(w[1]));
    return std::to_string(end - exact.get()) + ',' + EncodeBytes({exact.get(), size});
  }
  if (routine == "compare") {
    const std::unique_ptr<char[]> o = Exact(w[1]);
    if (w.size() < 3) return std::to_string(CompareNoCase(t, o.get()));
    return std::to_string(CompareN(t, o.get(), std::stoul(w[2]))) + '/' +
           std::to_string(CompareNoCaseN(t, o.get(), std::stoul(w[2])));
  }
  if (routine == "int-to-text")
    return Shown(Checked([&] { return IntToText(std::stoi(w[0])); }).get());
  if (routine == "parse-hex") return std::to_string(ParseHex(t));
  if (routine == "parse-octal") return std::to_string(ParseOctal(t));
  if (routine == "string-end") return offset(FindStringEnd(t));
  if (routine == "bracket") return offset(FindMatchingBracket(t));
  if (routine == "double-backslashes")
    return Shown(Checked([&] { return DoubleBackslashes(t); }).get());
  if (routine == "native-arg") return NativeArg(word);
  if (routine == "kept-escape") {
    char out[12];
    std::fill_n(out, 12, 'x');
    const std::string rest = Shown(ExpandEscape(t, out, false));
    return rest + '/' + Shown(out);
  }
  if (routine == "unescape") return UnescapeInPlace(t) != 0 ? Shown(t) : "0";
  if (routine != "lower") ADD_FAILURE() << "no routine " << routine;
  LowerInPlace(t);
  return Shown(t);
}

class TextAndPatternCases : public ::testing::TestWithParam<std::string> {};

// Each answer is what the section's routine gives for the words before " =>"; '#' and blank
// lines are kept.
std::string Answers(const TestCase& testCase, const std::string& kind, const std::string& line) {
  if (kind == "trees" || kind == "automata" || kind == "matches") {
    return PatternAnswer(kind, line, [&](const std::string& problem) {
      ADD_FAILURE() << testCase.line << ": " << testCase.title << ": " << line << ": " << problem;
    });
  }
  std::string answers;
  for (const std::string& word : Split(line, ' ')) answers += Answer(kind, word) + ' ';
  return answers.substr(0, answers.size() - 1);
}

TEST_P(TextAndPatternCases, GiveTheirAnswers) {
  CaseFile file(GetParam());
  for (const TestCase& testCase : file.Cases()) {
    ASSERT_TRUE(port::SetCodePage(CodePageOf(testCase)));
    for (const CaseSection& section : testCase.sections) {
      if (&section == &testCase.sections[0] || section.name == "codepage") continue;
      std::istringstream lines(section.text);
      std::string actual;
      for (std::string line; std::getline(lines, line);) {
        const std::string question = line.substr(0, line.find(" =>"));
        const bool kept = line.empty() || line[0] == '#';
        actual += kept ? line + '\n'
                       : question + " => " + Answers(testCase, section.name, question) + '\n';
      }
      file.Expect(testCase, section.name, actual);
    }
  }
  port::SetCodePage(65001);
}

std::vector<std::string> AllCaseFiles() {
  std::vector<std::string> files = CaseFile::FilesIn("tests/script/text/cases", ".cases");
  for (const std::string& file : CaseFile::FilesIn("tests/script/pattern/cases", ".cases"))
    files.push_back(file);
  return files;
}

INSTANTIATE_TEST_SUITE_P(Files, TextAndPatternCases, ::testing::ValuesIn(AllCaseFiles()),
                         [](const auto& info) { return CaseFileLabel(info.param); });

}  // namespace
}  // namespace keytwine::testing
