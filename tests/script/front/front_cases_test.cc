// Front-end cases (cases/*.cases). Table sections hold "SNIPPET => RESULT" lines, each RESULT
// recomputed from its SNIPPET ("\n" in it is a line break, "\xNN" a byte, {N*"TEXT"} N copies;
// several snippets joined by " ||| " give their results joined alike):
//   tokens     the lexer's tokens; a refused one is "error@OFFSET: MESSAGE", and the scan goes
//              on at the next blank
//   flat       the snippet parsed as a script: its chain on one line, a child chain in braces
//              after its owner, then the functions it defines; "nested" parses it below the top
//              level, "parses" says just "ok"
//   reference  the snippet parsed as a variable reference, its names declared under "declare"
//   load       the files named, loaded from a folder holding the case's input as test.ns and its
//              "file NAME" sections ("@MODULE@" in them a library that loads): the reports, the
//              scripts with their chains, the libraries, joined by " | " (long runs of a byte
//              shortened to "C...C")
// A failed parse gives "error MESSAGE : test:(LINE)". "codepage N" sets the code page. Each
// snippet runs again failing each allocation in turn ("no-sweep" skips that): it must give the
// same or report "Alloc failed", and leak nothing (the debug build's leak checker).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "script/front/lexer.h"
#include "script/front/loader.h"
#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/port/port.h"
#include "script/runtime/error.h"
#include "script/text/text.h"
#include "tests/support/case_file.h"

namespace keytwine::testing {
namespace {

namespace fs = std::filesystem;

std::string reports;  // "### Error: MESSAGE : SCRIPT:(LINE) : LINE TEXT" lines

NativeEntry natives[] = {{kErrorNativeName, 0, [](Frame*, Value* first, Value*, char*) {
                            reports += std::string(first->data->text) + "\n";
                            return 0;
                          }}};

std::string Expanded(std::string text) {
  static const std::regex repeat(R"re(\{(\d+)\*"([^"]*)"\})re");
  std::string out;
  for (std::smatch match; std::regex_search(text, match, repeat); text = match.suffix()) {
    out += match.prefix();
    for (int i = std::stoi(match[1]); i > 0; --i) out += match[2];
  }
  return out + text;
}

// The first report from its message up to the end of `end`, and no report left.
std::string TakeReport(const char* end) {
  const size_t start = reports.find("### Error: ") + 11;
  std::string report = reports.substr(start, reports.find(end, start) - start);
  reports.clear();
  return report;
}

std::string Tokens(Frame& frame, const char* text) {
  LexerState state = StartLexer(&frame, text, 0);
  std::string out;
  for (const char* end = nullptr; out.size() < 10000;) {
    if (ScanToken(state) == 0) {
      out += "error@" + std::to_string(state.tokenStart - text) + ": " + TakeReport(" : ") + " ";
      state.position = state.tokenStart + std::strcspn(state.tokenStart, " ");
    } else if (state.kind == T_END && state.position == end) {
      return out.substr(0, out.size() - 1);  // the end repeats without moving
    } else {
      out += std::string(TokenName(state.kind)) + " ";
      if (state.kind == T_END) end = state.position;
    }
  }
  return out + "...";
}

// The chain on one line: items joined by ", ", child chains in braces after their owner.
std::string Flat(const SyntaxNode* chain) {
  const std::string dump = DumpChain(chain);
  std::string out;
  size_t depth = 0;
  for (size_t start = 0, end = 0; start < dump.size(); start = end + 1) {
    end = dump.find('\n', start);
    const size_t indent = dump.find_first_not_of(' ', start) - start;
    for (; depth > indent / 2; --depth) out += "}";
    out += depth < indent / 2 ? "{" : out.empty() ? "" : ", ";
    depth = indent / 2;
    out += dump.substr(start + indent, end - start - indent);
  }
  return out + std::string(depth, '}');
}

// One snippet parsed alone by a script named "test", from a heap copy of exactly its size.
std::string RunSnippet(const std::string& table, const std::string& snippet) {
  std::string text = Replaced(Expanded(snippet), "\\n", "\n");
  for (size_t at = text.find("\\x"); at != std::string::npos; at = text.find("\\x", at + 1))
    text.replace(at, 4, 1, static_cast<char>(std::stoi(text.substr(at + 2, 2), nullptr, 16)));
  const std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::memcpy(copy.get(), text.c_str(), text.size() + 1);
  char name[] = "test";
  Script script{};
  script.name = script.directory = name;
  script.source = copy.get();
  script.engine = &script;
  Frame frame{};
  frame.script = &script;
  frame.declareNames = table == "declare" ? 1 : 0;
  if (table == "tokens") return Tokens(frame, copy.get());
  const ChainPtr chain(table == "reference" || table == "declare"
                           ? ParseReference(&frame, copy.get())
                           : ParseScript(&frame, copy.get(), table == "nested" ? 1 : 0));
  std::string out = chain != nullptr ? Flat(chain.get()) : "(empty)";
  if (!reports.empty()) out = "error " + TakeReport(")") + ")";
  if (table == "parses" && out.rfind("error", 0) != 0) out = "ok";
  for (const FunctionEntry* entry = script.functions; entry != nullptr; entry = entry->next) {
    out += (entry == script.functions ? " [functions: " : " ") + std::string(entry->name) +
           (entry->next == nullptr ? "]" : "");
    EXPECT_EQ(entry->hash, ComputeNameHash(entry->name));
    EXPECT_TRUE(entry->definition->kind == T_FUNCTION || entry->definition->kind == T_ARGMATCH);
  }
  ReleaseFunctionList(script.functions);
  return out;
}

// Loads the files named in `snippet` from the case's folder.
std::string RunLoad(const std::string& snippet, const fs::path& folder) {
  Script* engine = NewEngine(0);
  if (engine == nullptr) return "no engine: Alloc failed";
  InstallLoader();
  std::istringstream files(Expanded(snippet));
  for (std::string file; files >> file;) {
    if (LoadScriptFile(engine, (folder.string() + "/").c_str(), file.c_str()) == 0)
      reports += "(not loaded)\n";
  }
  std::string out = reports;
  for (const Script* s = engine->next; s != nullptr; s = s->next) {
    if (s->name == nullptr || s->directory == nullptr) continue;  // ran out of memory
    out += std::string(s->name) + " " + s->directory + (s->optionExplicit != 0 ? " explicit" : "") +
           (s->source == nullptr     ? " (no text)"
            : s->topLevel == nullptr ? " (no chain)"
                                     : ": " + Flat(s->topLevel)) +
           "\n";
  }
  for (const LibraryEntry* entry = engine->libraries; entry != nullptr; entry = entry->next)
    out += entry->module != nullptr ? "library loaded\n" : "library not loaded\n";
  FreeScriptChain(engine, &ReleaseChain);
  SetDirectiveHandler(nullptr);
  out = Replaced(Replaced(out.substr(0, out.size() - 1), folder.string(), "@DIR@"), "\n", " | ");
  return std::regex_replace(out, std::regex("(.)\\1{15,}"), "$1...$1");  // paths made too long
}

// Runs one snippet, then again failing each allocation in turn (unless `sweep` is false): it
// gives the same or reports "Alloc failed".
std::string Checked(const std::string& table, const std::string& snippet, const fs::path& folder,
                    bool sweep) {
  const auto run = [&] {
    reports.clear();
    return table == "load" ? RunLoad(snippet, folder) : RunSnippet(table, snippet);
  };
  std::string clean;
  EachAllocationFailing(run, [&](const std::string& result, uint64_t n) {
    if (n == 0) clean = result;
    if (n > 0 && result.find("Alloc failed") == std::string::npos) {
      EXPECT_EQ(Replaced(result, " (no pattern)", ""), clean)  // a pattern may stay uncompiled
          << snippet << ": allocation " << n;
    }
    return sweep;
  });
  return clean;
}

class FrontCases : public ::testing::TestWithParam<std::string> {};

TEST_P(FrontCases, GiveWhatTheyExpectAndSurviveEveryAllocationFailure) {
  CaseFile file(GetParam());
  InstallNativeTable(natives, 1);
  for (size_t i = 0; i < file.Cases().size(); ++i) {
    const TestCase& testCase = file.Cases()[i];
    port::SetCodePage(CodePageOf(testCase));
    const bool sweep = !CaseFile::Updating() && testCase.Find("no-sweep") == nullptr;
    const fs::path folder = ScratchFolder("front-" + std::to_string(i));
    WriteCaseFiles(testCase, folder, "test.ns", [](const CaseSection& section) {
      return Replaced(Expanded(section.text), "@MODULE@", KEYTWINE_TEST_MODULE);
    });
    for (const CaseSection& section : testCase.sections) {
      if (!std::regex_match(section.name,
                            std::regex("tokens|flat|nested|parses|reference|declare|load")))
        continue;
      std::string actual;
      std::istringstream lines(section.text);
      for (std::string line; std::getline(lines, line);) {
        std::string snippets = line.substr(0, line.find(" => ")) + " ||| ";
        actual += snippets.substr(0, snippets.size() - 5) + " =>";
        for (size_t end = 0; (end = snippets.find(" ||| ")) != std::string::npos;) {
          actual += (actual.back() == '>' ? " " : " ||| ") +
                    Checked(section.name, snippets.substr(0, end), folder, sweep);
          snippets.erase(0, end + 5);
        }
        actual += "\n";
      }
      file.Expect(testCase, section.name, actual);
    }
  }
  port::SetCodePage(port::kCodePageUtf8);
  InstallNativeTable(nullptr, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, FrontCases,
                         ::testing::ValuesIn(CaseFile::FilesIn("tests/script/front/cases",
                                                               ".cases")),
                         [](const auto& info) { return CaseFileLabel(info.param); });

}  // namespace
}  // namespace keytwine::testing
