// `keytwine check` and `keytwine sim` end to end: configuration files on disk, the whole output
// compared.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/tools/cli_harness.h"

namespace keytwine::testing {
namespace {

constexpr const char* kDefaults = "useImeToggle=1\nholdDuration=500\ndebugMode=0\n";

class Check : public ::testing::Test {
 protected:
  CliResult RunCheck(const std::string& config, const std::string& options = "") {
    const std::string path = cli.Write("cfg/Keytwine.ns", config);
    return cli.Run("check " + options + " '" + path + "'");
  }
  std::string Dir() const { return cli.Path("cfg"); }
  CliHarness cli;
};

TEST_F(Check, EmptyConfigurationKeepsTheDefaults) {
  const CliResult r = RunCheck("");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, kDefaults);
}

TEST_F(Check, PrintsSettingsAndEntriesInScriptOrder) {
  const CliResult r = RunCheck(
      "// a small configuration\n"
      "setholdduration(-1);\n"
      "debugmode(2, 7);  // surplus arguments are ignored\n"
      "useimetoggle(0);\n"
      "swap(0, 0, 0, 0x41, 0x1e, 0x42, 0, 0x143);\n"
      "exec(2, 1, 1, 0x70, 0x3b, \"\\\\Windows\\\\calc.exe\");\n"
      "exec(0, 0, 0, 0x71, 0x3c, \"a \\\"b\\\"\", 42);\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "useImeToggle=0\nholdDuration=4294967295\ndebugMode=2\n"
            "0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e keys=0x42,0x0,0x43,0x0\n"
            "1 exec orientation=2 modifier=1 hold=1 vk=0x70 scan=0x3b path=\"\\Windows\\calc.exe\" "
            "parameters=\"\"\n"
            "2 exec orientation=0 modifier=0 hold=0 vk=0x71 scan=0x3c path=\"a \"b\"\" "
            "parameters=\"42\"\n");
}

TEST_F(Check, MissingFileIsNotCreated) {
  const std::string path = cli.Path("nowhere/Keytwine.ns");
  const CliResult r = cli.Run("check '" + path + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "### Error: File open error : Keytwine : " + path + "\n");
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(Check, TooFewArgumentsStopsTheTopLevelWithATraceback) {
  const CliResult r = RunCheck(
      "swap(0, 0, 0, 0x41, 0x1e, 0x42);\n"
      "  swap(0, 0, 0, 0x43, 0x2e);\n"
      "swap(0, 0, 0, 0x44, 0x20, 0x45);\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "### Error: Too few arguments : Keytwine.Keytwine : swap\n"
            "        at Keytwine.Keytwine:(2) : swap(0, 0, 0, 0x43, 0x2e);\n");
  EXPECT_EQ(r.out, std::string(kDefaults) +
                       "0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e "
                       "keys=0x42,0x0,0x0,0x0\n");
}

TEST_F(Check, SyntaxErrorRunsNothing) {
  const CliResult r = RunCheck("swap(0, 0, 0, 0x41, 0x1e, 0x42);\nx = 1 y = 2;\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "### Error: Sentence error : Keytwine:(2) : x = 1 y = 2;\n");
  EXPECT_EQ(r.out, kDefaults);
}

TEST_F(Check, ImportsRunInLoadOrderOnceEach) {
  cli.Write("cfg/b.ns", "#import(\"a.ns\")\nswap(0, 0, 0, 0x42, 0x30, 0x62);\n");
  cli.Write("cfg/a.ns", "#import(\"b.*\")\nswap(0, 0, 0, 0x41, 0x1e, 0x61);\n");
  cli.Write("cfg/a.txt", "swap(0, 0, 0, 0x5a, 0x2c, 0x7a);\n");  // same script name as a.ns
  const CliResult r = RunCheck(
      "#import(\"*.ns\")  // itself, a.ns and b.ns\n"
      "swap(0, 0, 0, 0x4b, 0x25, 0x6b);\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            std::string(kDefaults) +
                "0 swap orientation=0 modifier=0 hold=0 vk=0x4b scan=0x25 keys=0x6b,0x0,0x0,0x0\n"
                "1 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e keys=0x61,0x0,0x0,0x0\n"
                "2 swap orientation=0 modifier=0 hold=0 vk=0x42 scan=0x30 keys=0x62,0x0,0x0,0x0\n");
}

TEST_F(Check, TopLevelVariablesBecomeGlobalsForLaterScripts) {
  cli.Write("cfg/later.ns",
            "function scanOf(name) { return keytwine.scans[name]; }\n"
            "swap(0, 0, 0, keytwine.vk, scanOf(\"a\"), 0x42);\n");
  const CliResult r = RunCheck(
      "#import(later.ns)\n"
      "var vk = 0x41, scans = {a = 0x1e};\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            std::string(kDefaults) +
                "0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e keys=0x42,0x0,0x0,0x0\n");
}

TEST_F(Check, ExplicitOptionRefusesUndeclaredNames) {
  const CliResult r = RunCheck("#option(Explicit)\nvar a = 1;\nb = a;\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "### Error: b :Variable is not defined : Keytwine.Keytwine:(3) : b = a;\n");
}

TEST_F(Check, LibrariesMissingAndPresent) {
  const CliResult r = RunCheck(
      "#library(\"no-such-module.so\")\n"
      "#library(\"" KEYTWINE_EXTENSION
      "\")\n"
      "swap(0, 0, 0, twice(\"32\"), textlength(\"abcdefghijklmnopqrstuvwxyz0123\"), 0x42);\n"
      "broken();\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "### Error: Library load error : Keytwine : no-such-module.so\n"
            "### Error: Function error : Keytwine.Keytwine : the device said no\n"
            "        at Keytwine.Keytwine:(4) : broken();\n");
  EXPECT_EQ(r.out,
            std::string(kDefaults) +
                "0 swap orientation=0 modifier=0 hold=0 vk=0x40 scan=0x1e keys=0x42,0x0,0x0,0x0\n");
}

TEST_F(Check, EndlessScriptThreadEndsWithTheRun) {
  const CliResult r = RunCheck(
      "function spin(n) { while (1) { n = n + 1; } }\n"
      "id = &spin(0);\n"
      "if (id > 0) swap(0, 0, 0, 0x41, 0x1e, 0x42);\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            std::string(kDefaults) +
                "0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e keys=0x42,0x0,0x0,0x0\n");
}

TEST_F(Check, ShiftJisScriptText) {
  // "Nihon.exe" with the two kanji in Shift-JIS; the table shows the path as UTF-8.
  const CliResult r =
      RunCheck("exec(0, 0, 0, 0x70, 0x3b, \"\x93\xfa\x96\x7b.exe\");\n", "--codepage 932");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, std::string(kDefaults) +
                       "0 exec orientation=0 modifier=0 hold=0 vk=0x70 scan=0x3b "
                       "path=\"\xe6\x97\xa5\xe6\x9c\xac.exe\" parameters=\"\"\n");
}

TEST_F(Check, ArgumentErrors) {
  EXPECT_EQ(cli.Run("check").status, 64);
  EXPECT_EQ(cli.Run("check a b").status, 64);
  EXPECT_EQ(cli.Run("check --codepage 1234 x.ns").status, 64);
  EXPECT_EQ(cli.Run("sim only-config").status, 64);
}

TEST_F(Check, SimRunsTheConfigurationThenTheTrace) {
  const std::string config =
      cli.Write("cfg/Keytwine.ns",
                "debugmode(1);\n"
                "exec(0, 0, 0, 0x71, 0x3c, \"\\\\Windows\\\\calc.exe\", \"/x\");\n");
  const CliResult r = cli.Run("sim '" + config + "' -", "down 0x71 0x3c 10\nup 0x71 0x3c 20\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "log Hook()\n"
            "log WM_KEYDOWN: 0x71, 0x3c, 0x0\nlog Exec(), 1\nlaunch 0\n"
            "log lResult: TRUE\nlog ---------\n=> swallow\n"
            "start \"\\Windows\\calc.exe\" \"/x\"\n"
            "log WM_KEYUP: 0x71, 0x3c, 0x0\nlog Exec(), 4\nlog exe:TRUE\n"
            "log lResult: TRUE\nlog ---------\n=> swallow\n");
  const CliResult missing = cli.Run("sim '" + cli.Path("none.ns") + "' -", "down 1 2 3\n");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "");
}

}  // namespace
}  // namespace keytwine::testing
