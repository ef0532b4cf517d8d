// Check cases: configurations run through the keytwine binary, its whole output compared. The
// format is described at the top of cases/check.cases.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/case_file.h"

namespace keytwine::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << Replaced(text, "@LIBRARY@", KEYTWINE_EXTENSION);
}

struct ToolRun {
  std::string out, err;
  int status;
};

// Runs `keytwine ARGS` in `folder`; the outputs go beside the folder unless `output` names a
// file for standard output (which is then not read back).
ToolRun RunTool(const fs::path& folder, const std::string& args,
                const std::string& input = "/dev/null", const std::string& output = "") {
  const std::string out = output.empty() ? folder.string() + ".out" : output;
  const std::string err = folder.string() + ".err";
  const std::string command = "cd '" + folder.string() + "' && '" KEYTWINE_BINARY "' " + args +
                              " <'" + input + "' >'" + out + "' 2>'" + err + "'";
  const int raw = std::system(command.c_str());
  return {output.empty() ? ReadAll(out) : "", ReadAll(err), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
}

ToolRun RunCase(const TestCase& testCase, const fs::path& folder) {
  fs::remove_all(folder);
  fs::create_directories(folder);
  WriteFile(folder / "Keytwine.ns", testCase.Input());
  for (const CaseSection& section : testCase.sections) {
    if (section.name == "file") WriteFile(folder / section.argument, section.text);
  }
  const CaseSection* args = testCase.Find("args");
  const CaseSection* trace = testCase.Find("trace");
  std::string command = trace != nullptr ? "sim --echo " : "check ";
  if (args != nullptr) command += args->argument + " ";
  command += "'" + (folder / "Keytwine.ns").string() + "'";
  if (trace != nullptr) {
    WriteFile(folder / "Keytwine.trace", trace->text);
    command += " '" + (folder / "Keytwine.trace").string() + "'";
  }
  return RunTool(folder, command);
}

fs::path ScratchFolder(const std::string& name) {
  return fs::temp_directory_path() / ("keytwine-check-" + std::to_string(getpid())) / name;
}

class CheckCases : public ::testing::TestWithParam<std::string> {};

TEST_P(CheckCases, PrintWhatTheyExpect) {
  CaseFile file(GetParam());
  for (size_t i = 0; i < file.Cases().size(); ++i) {
    const TestCase& testCase = file.Cases()[i];
    const fs::path folder = ScratchFolder(std::to_string(i));
    const ToolRun run = RunCase(testCase, folder);
    file.Expect(testCase, "out", run.out);
    file.Expect(testCase, "err", Replaced(run.err, folder.string(), "@DIR@"));
    file.Expect(testCase, "status", run.status == 0 ? "" : std::to_string(run.status) + "\n");
  }
  fs::remove_all(ScratchFolder(""));
}

INSTANTIATE_TEST_SUITE_P(Files, CheckCases,
                         ::testing::ValuesIn(CaseFile::FilesIn("tests/tools/cases", ".cases")),
                         [](const auto& info) { return CaseFileLabel(info.param); });

// What a case cannot say: the other commands, and check and sim without their files.
TEST(CommandLine, HelpAndArgumentErrors) {
  const fs::path folder = ScratchFolder("arguments");
  fs::create_directories(folder);
  const ToolRun help = RunTool(folder, "--help");
  EXPECT_EQ(help.status, 0);
  for (const char* usage : {"check [--codepage CP] FILE", "sim [--codepage CP] [--echo] CONFIG",
                            "replay [--echo] TABLE TRACE"}) {
    EXPECT_NE(help.out.find(usage), std::string::npos) << usage;
  }
  for (const char* wrong : {"", "frobnicate", "check", "check a b", "check --codepage 1234 x.ns",
                            "sim only-config", "replay onlyone", "replay --loud t -"}) {
    const ToolRun run = RunTool(folder, wrong);
    EXPECT_EQ(run.status, 64) << wrong;
    EXPECT_EQ(run.err.rfind("keytwine: ", 0), 0u) << wrong;
  }
  EXPECT_EQ(RunTool(folder, "replay /nonexistent/table -").status, 2);
  const ToolRun missing = RunTool(folder, "check nowhere/Keytwine.ns");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "### Error: File open error : Keytwine : nowhere/Keytwine.ns\n");
  EXPECT_FALSE(fs::exists(folder / "nowhere/Keytwine.ns"));
  EXPECT_EQ(RunTool(folder, "sim nowhere/Keytwine.ns -").status, 2);
}

TEST(CommandLine, ReplayReadsTheTableFileAndTheTraceFromStandardInput) {
  const fs::path folder = ScratchFolder("replay");
  fs::create_directories(folder);
  std::ofstream(folder / "t.table") << "0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e "
                                       "keys=0x42,0x0,0x0,0x0\n";
  std::ofstream(folder / "bad.table") << "holdDuration=500\n0 swap orientation=0 modifer=0\n";
  std::ofstream(folder / "t.trace") << "down 0x41 0x1e 1\n";
  const ToolRun run = RunTool(folder, "replay --echo t.table -", (folder / "t.trace").string());
  EXPECT_EQ(run.out, "> down 0x41 0x1e 1\nsend 0x42 down\n=> swallow\n");
  EXPECT_EQ(run.status, 0);
  const ToolRun bad = RunTool(folder, "replay bad.table t.trace");
  EXPECT_EQ(
      bad.err,
      "keytwine: bad.table:2: not a setting or table entry: 0 swap orientation=0 modifer=0\n");
  EXPECT_EQ(bad.status, 2);
  fs::remove_all(ScratchFolder(""));
}

TEST(CommandLine, AnOutputThatCannotBeWrittenGivesItsOwnStatus) {
  const fs::path folder = ScratchFolder("full");
  fs::create_directories(folder);
  std::ofstream(folder / "Keytwine.ns") << "swap(0, 0, 0, 0x41, 0x1e, 0x42);\n";
  std::ofstream(folder / "t.table") << "debugMode=0\n";
  std::ofstream(folder / "t.trace") << "down 0x41 0x1e 1\n";
  for (const char* command :
       {"check Keytwine.ns", "sim Keytwine.ns t.trace", "replay t.table t.trace", "--help"}) {
    const ToolRun run = RunTool(folder, command, "/dev/null", "/dev/full");
    EXPECT_EQ(run.status, 74) << command;
    EXPECT_EQ(run.err, "keytwine: cannot write standard output\n") << command;
  }
}

}  // namespace
}  // namespace keytwine::testing
