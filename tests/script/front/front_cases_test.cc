// Front-end cases (cases/*.cases). Sections:
//   tokens, flat, parses, reference, declare: tables of "SNIPPET => RESULT" lines, each RESULT
//     recomputed from its SNIPPET ("\n" in it is a line break, "\xNN" a byte): the lexer's tokens
//     up to "error@OFFSET: MESSAGE" where a scan fails; the chain of the snippet parsed as a script
//     on one line (child chains in braces), then its functions; just "ok"; the chain of the
//     snippet parsed as a variable reference, its names taken as declarations under `declare`.
//     A failed parse gives "error (LINE): MESSAGE".
//   chain, errors, scripts: the input loaded as test.ns beside the "file NAME" sections (or the
//     "load NAME" files): the first script's chain dump, every report (always checked), the
//     scripts and libraries loaded.
//   codepage N; no-sweep: no allocation-failure sweep.
// {N*"TEXT"} stands for N copies of TEXT; results write long runs of one byte alike.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

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
using Texts = std::map<std::string, std::string>;  // section name -> text

std::vector<std::string> reports;

int32_t RecordError(Frame*, Value* first, Value*, char*) {
  if (first != nullptr && first->data != nullptr && first->data->type == kTypeString) {
    reports.emplace_back(first->data->text);
  }
  return 0;
}

NativeEntry natives[] = {{kErrorNativeName, 0, &RecordError}};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string Expanded(std::string text) {
  static const std::regex repeat(R"re(\{(\d+)\*"((?:[^"\\]|\\.)*)"\})re");
  std::string out;
  for (std::smatch match; std::regex_search(text, match, repeat); text = match.suffix()) {
    const std::string piece = Replaced(Replaced(match[2], "\\\"", "\""), "\\n", "\n");
    out += match.prefix();
    for (int i = std::stoi(match[1]); i > 0; --i) out += piece;
  }
  return out + text;
}

std::string Abbreviated(const std::string& text) {
  std::string out;
  for (size_t at = 0, run = 0; at < text.size(); at += run) {
    run = std::min(text.find_first_not_of(text[at], at), text.size()) - at;
    out += run < 16 ? text.substr(at, run)
                    : "{" + std::to_string(run) + "*\"" + text.substr(at, 1) + "\"}";
  }
  return out;
}

std::string SnippetText(const std::string& snippet) {
  std::string text = Replaced(Expanded(snippet), "\\n", "\n");
  for (size_t at = text.find("\\x"); at != std::string::npos; at = text.find("\\x", at + 1))
    text.replace(at, 4, 1, static_cast<char>(std::stoi(text.substr(at + 2, 2), nullptr, 16)));
  return text;
}

// The reports as "MESSAGE", or as "(LINE): MESSAGE" when withLine.
std::string Failure(bool withLine) {
  static const std::regex report(R"(### Error: (.*?) : \w*:?\(?(\d*)\)? : .*)");
  std::string out;
  for (const std::string& text : reports) {
    std::smatch match;
    if (!std::regex_match(text, match, report)) return "unexpected report: " + text;
    out +=
        (out.empty() ? "" : "; ") + (withLine ? "(" + match[2].str() + "): " : "") + match[1].str();
  }
  return out;
}

std::string Tokens(Frame& frame, const char* text) {
  LexerState state = StartLexer(&frame, text, 0);
  std::string out;
  for (size_t i = 0; i <= std::strlen(text); ++i) {
    if (ScanToken(state) == 0)
      return out + "error@" + std::to_string(state.tokenStart - text) + ": " + Failure(false);
    out += TokenName(state.kind);
    if (state.kind == T_NUMBER || state.kind == T_STRING || state.kind == T_VARIABLE ||
        state.kind == T_CALL) {
      out += "(";
      for (const char* p = state.tokenStart; p < state.position; ++p) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(*p));
        out += *p >= 0x20 && *p < 0x7f ? std::string(1, *p) : escaped;
      }
      out += ")";
    }
    if (state.kind == T_END) {
      const char* end = state.position;  // the end repeats without moving
      const bool again = ScanToken(state) == 1 && state.kind == T_END && state.position == end;
      return again ? out : out + " (then moves on)";
    }
    out += ' ';
  }
  return out + "...";
}

// The chain on one line: items joined by ", ", child chains in braces after their owner.
std::string Flat(const SyntaxNode* chain) {
  const std::string dump = DumpChain(chain);
  std::string out;
  size_t depth = 0;
  for (size_t start = 0; start < dump.size();) {
    const size_t end = dump.find('\n', start);
    const size_t indent = dump.find_first_not_of(' ', start) - start;
    for (; depth > indent / 2; --depth) out += "}";
    out += depth < indent / 2 ? "{" : out.empty() ? "" : ", ";
    depth = indent / 2;
    out += dump.substr(start + indent, end - start - indent);
    start = end + 1;
  }
  return out + std::string(depth, '}');
}

std::string Functions(const FunctionEntry* first) {
  std::string out;
  for (const FunctionEntry* entry = first; entry != nullptr; entry = entry->next) {
    const int32_t kind = entry->definition != nullptr ? entry->definition->kind : T_END;
    const bool sound =
        entry->hash == ComputeNameHash(entry->name) && (kind == T_FUNCTION || kind == T_ARGMATCH);
    out += (out.empty() ? " [functions: " : " ") + std::string(entry->name) + (sound ? "" : "?");
  }
  return out.empty() ? out : out + "]";
}

// One snippet parsed alone by a script named "test", from a heap copy of exactly its size.
std::string RunSnippet(const std::string& table, const std::string& snippet) {
  const std::string text = SnippetText(snippet);
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
                           : ParseScript(&frame, copy.get(), 0));
  std::string out = chain != nullptr ? Flat(chain.get()) : "(empty)";
  if (!reports.empty()) out = "error " + Failure(true);
  out += Functions(script.functions);
  ReleaseFunctionList(script.functions);
  return table == "parses" && out.rfind("error", 0) != 0 ? "ok" : out;
}

std::string Scripts(const Script* engine, const std::string& folder) {
  std::string out;
  for (const Script* s = engine->next; s != nullptr; s = s->next) {
    if (s->name == nullptr || s->directory == nullptr) continue;  // ran out of memory
    out += std::string(s->name) + " " + Replaced(s->directory, folder, "@DIR@") +
           (s->optionExplicit != 0 ? " explicit" : "") +
           (s->source == nullptr     ? " (no text)"
            : s->topLevel == nullptr ? " (no chain)"
                                     : "") +
           "\n";
  }
  for (const LibraryEntry* entry = engine->libraries; entry != nullptr; entry = entry->next)
    out += entry->module != nullptr ? "library loaded\n" : "library not loaded\n";
  return out;
}

Texts RunLoad(const TestCase& testCase, const fs::path& folder) {
  Texts texts;
  InstallLoader();
  Script* engine = NewEngine(0);
  if (engine == nullptr) reports.emplace_back("(no engine: Alloc failed)");
  for (const CaseSection& section : testCase.sections) {
    if (section.name != "load" && (section.name != "input" || testCase.Find("load") != nullptr))
      continue;
    const std::string file = section.name == "load" ? Expanded(section.argument) : "test.ns";
    std::error_code ignored;
    const bool existed = fs::exists(folder / file, ignored);
    if (engine != nullptr &&
        LoadScriptFile(engine, (folder.string() + "/").c_str(), file.c_str()) == 0)
      reports.emplace_back("(not loaded)");
    if (!existed && fs::exists(folder / file, ignored)) reports.emplace_back("(created)");
  }
  for (const std::string& report : reports)
    texts["errors"] += Replaced(report, folder.string(), "@DIR@") + "\n";
  if (engine == nullptr) return texts;
  if (testCase.Find("chain") != nullptr && engine->next != nullptr)
    texts["chain"] = DumpChain(engine->next->topLevel);
  if (testCase.Find("scripts") != nullptr) texts["scripts"] = Scripts(engine, folder.string());
  FreeScriptChain(engine, &ReleaseChain);
  return texts;
}

// One snippet of a table, or the load of the whole case when it has no table.
struct Unit {
  std::string table;
  std::string snippet;
};

std::vector<Unit> Units(const TestCase& testCase) {
  std::vector<Unit> units;
  for (const CaseSection& section : testCase.sections) {
    if (!std::regex_match(section.name, std::regex("tokens|flat|parses|reference|declare")))
      continue;
    std::istringstream lines(section.text);
    for (std::string line; std::getline(lines, line);)
      units.push_back({section.name, line.substr(0, line.find(" => "))});
  }
  if (units.empty()) units.push_back({"", ""});
  return units;
}

Texts RunUnit(const TestCase& testCase, const Unit& unit, const fs::path& folder) {
  const CaseSection* codePage = testCase.Find("codepage");
  port::SetCodePage(codePage != nullptr ? std::stoul(codePage->argument) : port::kCodePageUtf8);
  InstallNativeTable(natives, 1);
  reports.clear();
  Texts texts;
  if (unit.table.empty()) texts = RunLoad(testCase, folder);
  if (unit.table.empty()) texts["errors"];  // always expected
  if (!unit.table.empty()) texts[unit.table] = RunSnippet(unit.table, unit.snippet);
  SetDirectiveHandler(nullptr);
  InstallNativeTable(nullptr, 0);
  port::SetCodePage(port::kCodePageUtf8);
  return texts;
}

// Writes the input as test.ns and each "file NAME" section as NAME ("@MODULE@" is a library
// that loads) in a folder of the case's own.
fs::path WriteFiles(const TestCase& testCase, size_t number) {
  fs::path folder = fs::temp_directory_path() / ("keytwine-front-" + std::to_string(getpid())) /
                    std::to_string(number);
  fs::remove_all(folder);
  for (const CaseSection& section : testCase.sections) {
    if (section.name != "file" && section.name != "input") continue;
    const fs::path path = folder / (section.name == "input" ? "test.ns" : section.argument);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        << Replaced(Expanded(section.text), "@MODULE@", KEYTWINE_TEST_MODULE);
  }
  return folder;
}

class FrontCases : public ::testing::TestWithParam<std::string> {};

TEST_P(FrontCases, GiveWhatTheyExpect) {
  CaseFile file(GetParam());
  for (size_t i = 0; i < file.Cases().size(); ++i) {
    const TestCase& testCase = file.Cases()[i];
    const fs::path folder = WriteFiles(testCase, i);
    Texts actual;
    for (const Unit& unit : Units(testCase)) {
      for (const auto& [name, text] : RunUnit(testCase, unit, folder)) {
        if (unit.table.empty()) actual[name] = Abbreviated(text);
        if (!unit.table.empty()) actual[name] += unit.snippet + " => " + Abbreviated(text) + "\n";
      }
    }
    for (const auto& [name, text] : actual) file.Expect(testCase, name, text);
    fs::remove_all(folder);
  }
}

// Fails each allocation of each snippet or load in turn: it gives what it gives without the
// failure (a pattern literal may stay uncompiled) or reports "Alloc failed". The debug build's
// leak checker sees that nothing is left behind.
TEST_P(FrontCases, SurviveEveryAllocationFailure) {
  if (CaseFile::Updating()) GTEST_SKIP();
  CaseFile file(GetParam());
  for (size_t i = 0; i < file.Cases().size(); ++i) {
    const TestCase& testCase = file.Cases()[i];
    if (testCase.Find("no-sweep") != nullptr) continue;
    const fs::path folder = WriteFiles(testCase, i);
    for (const Unit& unit : Units(testCase)) {
      const uint64_t before = port::AllocationCount();
      const Texts clean = RunUnit(testCase, unit, folder);
      const uint64_t total = port::AllocationCount() - before;
      for (uint64_t n = 1; n <= total + 1; ++n) {
        port::FailAllocationAfter(n);
        const Texts failed = RunUnit(testCase, unit, folder);
        port::FailAllocationAfter(0);
        for (const auto& [name, text] : failed) {
          if (Replaced(text, " (no pattern)", "") == clean.at(name)) continue;
          if (failed.at(unit.table.empty() ? "errors" : name).find("Alloc failed") !=
              std::string::npos)
            continue;
          ADD_FAILURE_AT(file.Path().c_str(), static_cast<int>(testCase.line))
              << testCase.title << " " << unit.snippet << ": allocation " << n << " of " << total
              << " gave, in " << name << "\n"
              << text;
        }
      }
    }
    fs::remove_all(folder);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, FrontCases,
                         ::testing::ValuesIn(CaseFile::FilesIn("tests/script/front/cases",
                                                               ".cases")),
                         [](const auto& info) { return CaseFileLabel(info.param); });

}  // namespace
}  // namespace keytwine::testing
