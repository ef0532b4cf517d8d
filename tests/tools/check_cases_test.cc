// The keytwine binary end to end: the cases ("--- command VERB" runs `keytwine VERB` in place of
// check), then what a case cannot say: the other commands, missing files, an unwritable output.
//
// scripts/test-windows.sh runs the cases through keytwine-cli.exe under wine: KEYTWINE_TOOL is
// then the command that runs the tool, and KEYTWINE_TOOL_CODEPAGE the code page in which it
// reads script text (the system's); a case that names another one with --codepage is skipped.
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

struct ToolRun {
  std::string out, err;
  int status;
};

// Runs `keytwine ARGS` in `folder` with standard input from `input`; standard output goes to
// `output` when one is named (and is then not read back).
ToolRun RunTool(const fs::path& folder, const std::string& args,
                const std::string& input = "/dev/null", const std::string& output = "") {
  const std::string out = output.empty() ? folder.string() + ".out" : output;
  const std::string err = folder.string() + ".err";
  const char* tool = std::getenv("KEYTWINE_TOOL");
  const std::string command = "cd '" + folder.string() + "' && " +
                              (tool != nullptr ? tool : "'" KEYTWINE_BINARY "'") + " " + args +
                              " <'" + input + "' >'" + out + "' 2>'" + err + "'";
  const int raw = std::system(command.c_str());
  ToolRun run{output.empty() ? ReadAll(out) : "", ReadAll(err),
              WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
  if (tool != nullptr) std::erase(run.out, '\r'), std::erase(run.err, '\r');  // Windows line ends
  return run;
}

struct CheckCases : ::testing::TestWithParam<std::string> {};

TEST_P(CheckCases, PrintWhatTheyExpect) {
  CaseFile file(GetParam());
  for (size_t i = 0; i < file.Cases().size(); ++i) {
    const TestCase& testCase = file.Cases()[i];
    const fs::path folder = ScratchFolder("check-" + std::to_string(i));
    WriteCaseFiles(testCase, folder, "Keytwine.ns");
    const CaseSection *args = testCase.Find("args"), *trace = testCase.Find("trace");
    const char* codePage = std::getenv("KEYTWINE_TOOL_CODEPAGE");
    const bool shiftJis = args != nullptr && args->argument.find("--codepage 932") == 0;
    if (codePage != nullptr && std::string(codePage) != (shiftJis ? "932" : "65001")) continue;
    if (trace != nullptr) std::ofstream(folder / "Keytwine.trace") << trace->text;
    const CaseSection* command = testCase.Find("command");
    const std::string verb = command ? command->argument : trace ? "sim --echo" : "check";
    const ToolRun run = RunTool(folder, verb + " " + (args ? args->argument + " " : "") +
                                            "Keytwine.ns" + (trace ? " Keytwine.trace" : ""));
    file.Expect(testCase, "out", run.out);
    file.Expect(testCase, "err", run.err);
    file.Expect(testCase, "status", run.status == 0 ? "" : std::to_string(run.status) + "\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CheckCases,
                         ::testing::ValuesIn(CaseFile::FilesIn("tests/tools/cases", ".cases")),
                         [](const auto& info) { return CaseFileLabel(info.param); });

TEST(CommandLine, StatusAndReportOfEachCommand) {
  const fs::path folder = ScratchFolder("commands");
  std::ofstream(folder / "Keytwine.ns") << "swap(0, 0, 0, 0x41, 0x1e, 0x42);\n";
  std::ofstream(folder / "t.table") << "0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e "
                                       "keys=0x42,0x0,0x0,0x0\n";
  std::ofstream(folder / "bad.table") << "holdDuration=500\n0 swap orientation=0 modifer=0\n";
  std::ofstream(folder / "t.trace") << "down 0x41 0x1e 1\n";
  std::ofstream(folder / "bad.trace") << "up 0x141 0x1e 2\n";
  for (const char* usage :
       {"", "frobnicate", "check", "check a b", "sim Keytwine.ns", "check --codepage 1234 x.ns",
        "replay t.table", "replay --loud t -", "lint", "lint --echo Keytwine.ns"}) {
    EXPECT_EQ(RunTool(folder, usage).status, 64) << usage;
  }
  EXPECT_EQ(RunTool(folder, "--help").status, 0);
  EXPECT_EQ(RunTool(folder, "sim Keytwine.ns nowhere").status, 2);
  EXPECT_EQ(RunTool(folder, "replay nowhere -").status, 2);
  EXPECT_EQ(RunTool(folder, "sim Keytwine.ns bad.trace").status, 65);
  EXPECT_EQ(RunTool(folder, "check nowhere/Keytwine.ns").err,
            "### Error: File open error : Keytwine : nowhere/Keytwine.ns\n");
  const ToolRun lint = RunTool(folder, "lint nowhere/Keytwine.ns");
  EXPECT_EQ(lint.status, 2);
  EXPECT_EQ(lint.out,
            "nowhere/Keytwine.ns:1: error: File open error : Keytwine : nowhere/Keytwine.ns\n");
  EXPECT_EQ(
      RunTool(folder, "replay bad.table -").err,
      "keytwine: bad.table:2: not a setting or table entry: 0 swap orientation=0 modifer=0\n");
  EXPECT_EQ(RunTool(folder, "replay --echo t.table -", (folder / "t.trace").string()).out,
            "> down 0x41 0x1e 1\nsend 0x42 down\n=> swallow\n");
  for (const char* args : {"check Keytwine.ns", "replay t.table t.trace", "--help"}) {
    const ToolRun full = RunTool(folder, args, "/dev/null", "/dev/full");
    EXPECT_EQ(full.status, 74) << args;
    EXPECT_EQ(full.err, "keytwine: cannot write standard output\n") << args;
  }
}

}  // namespace
}  // namespace keytwine::testing
