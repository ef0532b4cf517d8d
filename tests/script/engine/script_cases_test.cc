// Script cases: each case is a script (and the files it imports), run as the remapper runs its
// configuration, and everything it printed and reported, in order.
//
// Natives: print(a, ...) and error(a) print one line; fail() fails with a message that fills the
// whole message buffer, fail(x) without a report; poke(&x, ...) writes 99 through its first
// argument and gives the number of arguments (too few arguments without one).
#include <gtest/gtest.h>

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
  const std::lock_guard<std::mutex> guard(outputLock);
  output += line + '\n';
}

// A value as print shows it: a list as {a,b,name:c}, nested lists alike, else its text.
std::string Show(const Value* value) {
  const Value* holder = value->data->owner != nullptr ? value->data->owner : value;
  if (value->wholeList == 0 && holder->elements == nullptr) {
    NumberText number;
    return ToText(value->data, number);
  }
  std::string text = "{";
  for (const Value* element = holder->elements; element != nullptr; element = element->next) {
    if (element != holder->elements) text += ',';
    if (element->name != nullptr) text += std::string(element->name) + ':';
    text += Show(element);
  }
  return text + '}';
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

int32_t NativeFail(Frame*, Value* first, Value*, char* message) {
  if (first != nullptr) return -7;  // a failure without a report
  for (size_t i = 0; i < kNativeMessageSize; ++i) message[i] = static_cast<char>('a' + i % 26);
  return -1;
}

int32_t NativePoke(Frame*, Value* first, Value* result, char*) {
  if (first == nullptr) return -2;  // too few arguments
  SetIntegerData(first->data, 99);
  for (const Value* argument = first; argument != nullptr; argument = argument->next) {
    ++result->data->integer;
  }
  return 0;
}

NativeEntry natives[] = {{"_sfunc_error", 0, &NativePrint},
                         {"_sfunc_print", 0, &NativePrint},
                         {"_sfunc_fail", 0, &NativeFail},
                         {"_sfunc_poke", 0, &NativePoke}};

// The bytes that a hex section spells: pairs of hex digits separated by blanks; on each line the
// first word that is not such a pair starts a comment.
std::string FromHex(const std::string& text) {
  std::string bytes;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    for (std::string word; words >> word && word.size() == 2 &&
                           word.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;) {
      bytes += static_cast<char>(std::stoi(word, nullptr, 16));
    }
  }
  return bytes;
}

// Writes the case's files into a folder of their own: the input as test.ns, each "file NAME"
// section as NAME (with "@LIBRARY@" standing for the test extension library), each "file-hex
// NAME" section as the bytes its hex digits spell (a "file-hex test.ns" replaces the input).
std::filesystem::path WriteFiles(const TestCase& testCase, size_t number) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("keytwine-cases-" + std::to_string(getpid())) /
                                       std::to_string(number);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  for (const CaseSection& section : testCase.sections) {
    const bool hex = section.name == "file-hex";
    if (!hex && section.name != "file" && section.name != "input") continue;
    std::string text = hex ? FromHex(section.text) : section.text;
    for (size_t at; (at = text.find("@LIBRARY@")) != std::string::npos;) {
      text.replace(at, 9, KEYTWINE_TEST_LIBRARY);
    }
    const std::string name = section.name == "input" ? "test.ns" : section.argument;
    std::ofstream(folder / name, std::ios::binary) << text;
  }
  return folder;
}

// Runs test.ns in `folder` through a whole engine life cycle; returns what it printed.
std::string RunScript(const std::filesystem::path& folder, const TestCase& testCase) {
  const CaseSection* codePage = testCase.Find("codepage");
  output.clear();
  port::SetCodePage(codePage != nullptr ? std::stoul(codePage->argument) : 65001);
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

class ScriptCases : public ::testing::TestWithParam<std::string> {};

// Each case prints what it expects; then each of its allocations fails in turn (unless it says
// no-sweep): the run must neither crash nor leak nor leave a script thread behind, and it gives
// either the same output or reports "Alloc failed".
TEST_P(ScriptCases, PrintWhatTheyExpectAndSurviveEveryAllocationFailure) {
  CaseFile file(GetParam());
  for (size_t i = 0; i < file.Cases().size(); ++i) {
    const TestCase& testCase = file.Cases()[i];
    const std::filesystem::path folder = WriteFiles(testCase, i);
    const uint64_t before = port::AllocationCount();
    const std::string clean = RunScript(folder, testCase);
    const uint64_t total = port::AllocationCount() - before;
    file.Expect(testCase, "out", clean);
    EXPECT_EQ(ActiveCount(), 0) << testCase.title;
    const bool sweep = testCase.Find("no-sweep") == nullptr && !CaseFile::Updating();
    for (uint64_t n = 1; sweep && n <= total + 1; ++n) {
      port::FailAllocationAfter(n);
      const std::string printed = RunScript(folder, testCase);
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
