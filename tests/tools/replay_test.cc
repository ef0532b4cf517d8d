// `keytwine replay` end to end: table text in, trace in, the whole output compared.
#include <gtest/gtest.h>

#include "tests/tools/cli_harness.h"

namespace keytwine::testing {
namespace {

constexpr const char* kTable =
    "useImeToggle=1\n"
    "holdDuration=500\n"
    "debugMode=0\n"
    "0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e keys=0x42,0x0,0x43,0x0\n"
    "1 exec orientation=0 modifier=1 hold=1 vk=0x70 scan=0x3b path=\"\\Windows\\calc.exe\" "
    "parameters=\"a \"b\" c\"\n";

class ReplayCommand : public ::testing::Test {
 protected:
  CliResult Run(const std::string& trace, const std::string& table = kTable) {
    return cli.Run("replay '" + cli.Write("t.table", table) + "' -", trace);
  }
  CliHarness cli;
};

TEST_F(ReplayCommand, PrintsEffectsVerdictsAndProgramStarts) {
  CliResult r =
      Run("# comment line\n"
          "down 0x41 0x1e 10   # A is swapped\n"
          "up 65 30 20\n"
          "keystate 0x11 down\n"
          "down 0x11 0x1d 30\n"
          "down 0x70 0x3b 40\n"
          "down 0x70 0x3b 540\n"
          "up 0x70 0x3b 600\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "send 0x42 down\nsend 0x43 down\n=> swallow\n"
            "send 0x43 up\nsend 0x42 up\n=> swallow\n"
            "=> swallow\n"
            "=> swallow\n"
            "launch 1\n=> swallow\nstart \"\\Windows\\calc.exe\" \"a \"b\" c\"\n"
            "=> swallow\n");
}

TEST_F(ReplayCommand, PassedEventsChangeHeldKeysAndSwallowedOnesDoNot) {
  CliResult r =
      Run("event 1 0x100 0x11 0x1d 1\n"  // passed (nCode 1): the system now reports Ctrl held
          "down 0x44 0x20 2\n"           // the replay releases the held Ctrl first
          "up 0x11 0x1d 3\n"             // passed: Ctrl no longer held
          "down 0x10 0x2a 4\n"           // swallowed first press: Shift not held
          "down 0x45 0x12 5\n"
          "keystate 0x86 down\n"
          "down 0x46 0x21 6\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "=> pass\n"
            "send 0x11 up\nsend 0x44 down\n=> swallow\n"
            "=> pass\n"
            "=> swallow\n"
            "send 0x10 down\nsend 0x45 down\nsend 0x10 up\n=> swallow\n"
            "send 0x86 up\nsend 0x10 down\nsend 0x46 down\nsend 0x10 up\n=> swallow\n");
}

TEST_F(ReplayCommand, DebugModeLogsFromHookOnward) {
  CliResult r = Run("landscape\nime closed 0x10\ndown 0x5c 0x11 1\ndown 0x76 0x11 2\n",
                    "useImeToggle=1\nholdDuration=500\ndebugMode=1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "log Hook()\n"
            "log WM_KEYDOWN: 0x5c, 0x11, 0x0\nlog lResult: TRUE\nlog ---------\n=> swallow\n"
            "log WM_KEYDOWN: 0x76, 0x11, 0x0\n"
            "log keybd_event: 0x5c, 0xff, 0x0, 0x0\nsend 0x5c down\n"
            "log keybd_event: 0x76, 0xff, 0x0, 0x0\nsend 0x76 down\n"
            "log keybd_event: 0x5c, 0xff, 0x2, 0x0\nsend 0x5c up\n"
            "log ToggleIMEMode()\nime open 0x19\n"
            "log lResult: TRUE\nlog ---------\n=> swallow\n");
}

TEST_F(ReplayCommand, NonZeroCodeAndPortraitLines) {
  CliResult r =
      Run("event -1 0x100 0x41 0x1e 1\nportrait\nevent 0 0x100 0x41 0x1e 2 0x80 0xffffffff\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> pass\nsend 0x42 down\nsend 0x43 down\n=> swallow\n");
}

TEST_F(ReplayCommand, EchoShowsEachHookCallsTraceLine) {
  const std::string table = cli.Write("e.table", kTable);
  const CliResult r = cli.Run("replay --echo '" + table + "' -",
                              "portrait\n  down 0x41 0x1e 10  # A\nup 65 30 20\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "> down 0x41 0x1e 10\nsend 0x42 down\nsend 0x43 down\n=> swallow\n"
            "> up 65 30 20\nsend 0x43 up\nsend 0x42 up\n=> swallow\n");
  EXPECT_EQ(cli.Run("replay --loud '" + table + "' -").status, 64);
}

TEST_F(ReplayCommand, MalformedTraceLineStopsWithItsNumber) {
  for (const char* bad : {"down 0x41\n", "down 0x41 0x1e 1 0 0 7\n", "hover 1 2 3\n",
                          "keystate 300 down\n", "keystate 0x41 maybe\n", "down 0x1g 1 1\n",
                          "down 4294967296 1 1\n", "event 1 2 3 4\n", "portrait now\n"}) {
    CliResult r = Run(std::string("landscape\n") + bad);
    EXPECT_EQ(r.status, 65) << bad;
    EXPECT_EQ(r.err, std::string("-:2: malformed trace line: ") +
                         std::string(bad).substr(0, std::string(bad).size() - 1) + "\n");
  }
}

TEST_F(ReplayCommand, TableTextRoundTripsThroughTheParser) {
  CliResult bad =
      Run("", "0 swap orientation=0 modifier=0 hold=0 vk=0x141 scan=0x1e keys=0x42,0,0,0\n");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find(":1: not a setting or table entry"), std::string::npos);
  CliResult gap =
      Run("", "1 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e keys=0,0,0,0\n");
  EXPECT_EQ(gap.status, 2);
}

TEST(Cli, HelpAndArgumentErrors) {
  CliHarness cli;
  CliResult help = cli.Run("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* usage :
       {"check [--codepage CP] FILE", "sim [--codepage CP] [--echo] CONFIG TRACE",
        "replay [--echo] TABLE TRACE"}) {
    EXPECT_NE(help.out.find(usage), std::string::npos) << usage;
  }
  EXPECT_EQ(cli.Run("").status, 64);
  EXPECT_EQ(cli.Run("frobnicate").status, 64);
  CliResult missing = cli.Run("replay onlyone");
  EXPECT_EQ(missing.status, 64);
  EXPECT_NE(missing.err.find("keytwine: "), std::string::npos);
  EXPECT_EQ(cli.Run("replay /nonexistent/table -").status, 2);
}

}  // namespace
}  // namespace keytwine::testing
