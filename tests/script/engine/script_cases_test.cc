// Script cases: each case is a script (and the files it imports), run as the remapper runs its
// configuration, and everything it printed and reported, in order. See tests/README.md.
//
// Natives besides `error`: print(a, ...) prints one line; fail() fails with a message that fills
// the whole message buffer; need(n) gives 2 n (-2 without an argument); quiet() fails without a
// report; poke(&x) writes 99 through its first argument and gives the number of arguments.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include <unistd.h>

#include "script/front/loader.h"
#include "script/port/port.h"
#include "script/runtime/engine.h"
#include "script/runtime/lifecycle.h"
#include "script/text/text.h"
#include "tests/support/case_file.h"

namespace keytwine::testing {
namespace {

std::mutex outputLock;
std::string output;

void Emit(const std::string& line) {
  std::lock_guard<std::mutex> guard(outputLock);
  output += line + '\n';
}

// A value as print shows it: a list as {a,b,name:c}, nested lists alike, else its text.
std::string Show(const Value* value) {
  if (value == nullptr || value->data == nullptr) return "<none>";
  const Value* holder = value->data->owner != nullptr ? value->data->owner : value;
  if (value->wholeList != 0 || holder->elements != nullptr) {
    std::string text = "{";
    for (const Value* element = holder->elements; element != nullptr; element = element->next) {
      if (element != holder->elements) text += ',';
      if (element->name != nullptr) text += std::string(element->name) + ':';
      text += Show(element);
    }
    return text + '}';
  }
  NumberText number;
  return ToText(value->data, number);
}

int32_t NativeError(Frame*, Value* first, Value*, char*) {
  if (first == nullptr) return -2;
  Emit(Show(first));
  return 0;
}

int32_t NativePrint(Frame*, Value* first, Value*, char*) {
  std::string line;
  for (const Value* argument = first; argument != nullptr; argument = argument->next) {
    if (argument != first) line += ' ';
    line += Show(argument);
  }
  Emit(line);
  return 0;
}

int32_t NativeFail(Frame*, Value*, Value*, char* message) {
  for (size_t i = 0; i < kNativeMessageSize; ++i) message[i] = static_cast<char>('a' + i % 26);
  return -1;
}

int32_t NativeNeed(Frame*, Value* first, Value* result, char*) {
  if (first == nullptr) return -2;
  result->data->integer = ToInteger(first->data) * 2;
  return 0;
}

int32_t NativeQuiet(Frame*, Value*, Value*, char*) {
  return -7;
}

int32_t NativePoke(Frame*, Value* first, Value* result, char*) {
  int32_t count = 0;
  for (const Value* argument = first; argument != nullptr; argument = argument->next) ++count;
  if (first != nullptr) SetIntegerData(first->data, 99);
  result->data->integer = count;
  return 0;
}

NativeEntry natives[] = {
    {"_sfunc_error", 0, &NativeError}, {"_sfunc_print", 0, &NativePrint},
    {"_sfunc_fail", 0, &NativeFail},   {"_sfunc_need", 0, &NativeNeed},
    {"_sfunc_quiet", 0, &NativeQuiet}, {"_sfunc_poke", 0, &NativePoke},
};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The bytes that a hex section spells: pairs of hex digits separated by blanks; on each line the
// first word that is not such a pair starts a comment.
std::string FromHex(const std::string& text) {
  std::string bytes;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      if (word.size() != 2 || std::isxdigit(static_cast<unsigned char>(word[0])) == 0 ||
          std::isxdigit(static_cast<unsigned char>(word[1])) == 0) {
        break;
      }
      bytes += static_cast<char>(std::stoi(word, nullptr, 16));
    }
  }
  return bytes;
}

// Writes the case's files into a folder of their own: the input as test.ns, each "file NAME"
// section as NAME, each "file-hex NAME" section as the bytes its hex digits spell (a
// "file-hex test.ns" replaces the input). "@LIBRARY@" stands for the test extension library.
std::filesystem::path WriteFiles(const TestCase& testCase, size_t number) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("keytwine-cases-" + std::to_string(getpid())) /
                                       std::to_string(number);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(folder / name, std::ios::binary)
        << Replaced(text, "@LIBRARY@", KEYTWINE_TEST_LIBRARY);
  };
  write("test.ns", testCase.Input());
  for (const CaseSection& section : testCase.sections) {
    if (section.name == "file") write(section.argument, section.text);
    if (section.name == "file-hex") {
      std::ofstream(folder / section.argument, std::ios::binary) << FromHex(section.text);
    }
  }
  return folder;
}

// Runs test.ns in `folder` through a whole engine life cycle; returns what it printed.
std::string RunScript(const std::filesystem::path& folder, uint32_t codePage) {
  output.clear();
  port::SetCodePage(codePage);
  SetStopFlag(0);
  InitializeRuntime(natives, static_cast<int32_t>(std::size(natives)));
  Script* engine = NewEngine(0);
  if (engine != nullptr) {
    const std::string directory = folder.string() + "/";
    if (LoadScriptFile(engine, directory.c_str(), "test.ns") == 0) Emit("[not loaded]");
    RunAllScripts(engine);
    WaitForScripts();
    DestroyEngine(engine);
  } else {
    Emit("### Error: Alloc failed");  // as the configuration run reports it
  }
  ShutdownRuntime();
  port::SetCodePage(65001);
  return output;
}

uint32_t CodePageOf(const TestCase& testCase) {
  const CaseSection* section = testCase.Find("codepage");
  return section != nullptr ? static_cast<uint32_t>(std::stoul(section->argument)) : 65001;
}

class ScriptCases : public ::testing::TestWithParam<std::string> {};

TEST_P(ScriptCases, PrintWhatTheyExpect) {
  CaseFile file(GetParam());
  for (size_t i = 0; i < file.Cases().size(); ++i) {
    const TestCase& testCase = file.Cases()[i];
    const std::filesystem::path folder = WriteFiles(testCase, i);
    file.Expect(testCase, "out", RunScript(folder, CodePageOf(testCase)));
    EXPECT_EQ(ActiveCount(), 0) << testCase.title;
    std::filesystem::remove_all(folder);
  }
}

// Fails each allocation of each case in turn: the run must neither crash nor leak nor leave a
// script thread behind, and it gives either the normal output or reports "Alloc failed".
TEST_P(ScriptCases, SurviveEveryAllocationFailure) {
  if (CaseFile::Updating()) GTEST_SKIP();
  CaseFile file(GetParam());
  for (size_t i = 0; i < file.Cases().size(); ++i) {
    const TestCase& testCase = file.Cases()[i];
    if (testCase.Find("no-sweep") != nullptr) continue;
    const std::filesystem::path folder = WriteFiles(testCase, i);
    const uint32_t codePage = CodePageOf(testCase);
    const uint64_t before = port::AllocationCount();
    const std::string clean = RunScript(folder, codePage);
    const uint64_t total = port::AllocationCount() - before;
    for (uint64_t n = 1; n <= total + 1; ++n) {
      port::FailAllocationAfter(n);
      const std::string printed = RunScript(folder, codePage);
      port::FailAllocationAfter(0);
      ASSERT_EQ(ActiveCount(), 0) << testCase.title << ", allocation " << n;
      if (printed != clean && printed.find("Alloc failed") == std::string::npos) {
        ADD_FAILURE_AT(file.Path().c_str(), static_cast<int>(testCase.line))
            << testCase.title << ": allocation " << n << " of " << total
            << " failed without a report:\n"
            << printed;
        break;
      }
    }
    std::filesystem::remove_all(folder);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ScriptCases,
                         ::testing::ValuesIn(CaseFile::FilesIn("tests/script/engine/cases",
                                                               ".cases")),
                         [](const auto& info) { return CaseFileLabel(info.param); });

}  // namespace
}  // namespace keytwine::testing
