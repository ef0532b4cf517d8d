// Error reporting: the report line, traceback lines, line counting, positions outside the
// source, delivery to the host's error native and the bound of the report text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/script/runtime/runtime_test_support.h"

namespace keytwine::testing {
namespace {

class Reporting : public RuntimeTest {
 protected:
  // The one report produced for a position at offset in source.
  std::string ReportAt(const char* source, size_t offset) {
    const char* text = SetSource(source);
    Frame frame = TopFrame();
    ReportError(&frame, "Sentence error", text + offset);
    const std::vector<std::string> reports = TakeReports();
    EXPECT_EQ(reports.size(), 1U);
    return reports.empty() ? std::string() : reports[0];
  }
};

TEST_F(Reporting, FirstLineNamesMessageScriptFunctionLineAndText) {
  const char* source = SetSource("a = 1;\nb = 2;\nc = 1 / 0;\nf();\n");
  Frame call{};
  call.functionName = "f";
  call.script = main_;
  ReportError(&call, "Divide by ZERO", source + 14);
  Frame top = TopFrame();
  ReportError(&top, nullptr, source + 25, 1);
  EXPECT_EQ(TakeReports(),
            (std::vector<std::string>{"### Error: Divide by ZERO : Keytwine.f:(3) : c = 1 / 0;",
                                      "        at Keytwine.Keytwine:(4) : f();"}));
}

TEST_F(Reporting, LinesAreCountedByLineFeeds) {
  EXPECT_EQ(ReportAt("first;\nsecond;", 0),
            "### Error: Sentence error : Keytwine.Keytwine:(1) : first;");
  EXPECT_EQ(ReportAt("first;\nsecond;", 3),
            "### Error: Sentence error : Keytwine.Keytwine:(1) : first;");
  // After the last LF of a source without a final LF: the last line.
  EXPECT_EQ(ReportAt("first;\nsecond;", 10),
            "### Error: Sentence error : Keytwine.Keytwine:(2) : second;");
  // CR LF line ends: the CR is not part of the shown text.
  EXPECT_EQ(ReportAt("a;\r\nb;\r\nc;", 8),
            "### Error: Sentence error : Keytwine.Keytwine:(3) : c;");
  // The terminating NUL still belongs to the source.
  EXPECT_EQ(ReportAt("a;\nb;", 5), "### Error: Sentence error : Keytwine.Keytwine:(2) : b;");
}

TEST_F(Reporting, LeadingBlanksOfTheLineAreNotShown) {
  EXPECT_EQ(ReportAt("x;\n \t  y = 1;  \nz;", 9),
            "### Error: Sentence error : Keytwine.Keytwine:(2) : y = 1;  ");
}

TEST_F(Reporting, AnEmptyLineShowsTheNextNonBlankLine) {
  EXPECT_EQ(ReportAt("x;\n\n   \n  next;", 3),
            "### Error: Sentence error : Keytwine.Keytwine:(2) : next;");
  EXPECT_EQ(ReportAt("x;\n\n", 3), "### Error: Sentence error : Keytwine.Keytwine:(2) : ");
}

TEST_F(Reporting, APositionOutsideTheSourceIsShownAsItIs) {
  SetSource("abc;");
  Frame frame = TopFrame();
  const char name[] = "missing.f";
  ReportError(&frame, "Function not Found", name);
  main_->source[0] = 0;  // a source that ends before the position
  ReportError(&frame, "Script not Found", main_->source + 2);
  port::Free(main_->source);
  main_->source = nullptr;  // no source at all
  ReportError(&frame, "Function error", "native text");
  EXPECT_EQ(TakeReports(), (std::vector<std::string>{
                               "### Error: Function not Found : Keytwine.Keytwine : missing.f",
                               "### Error: Script not Found : Keytwine.Keytwine : c;",
                               "### Error: Function error : Keytwine.Keytwine : native text"}));
}

TEST_F(Reporting, WithoutAPositionOnlyTheScriptAndFunctionAreNamed) {
  Frame frame = TopFrame();
  ReportError(&frame, "Alloc failed", nullptr);
  Frame thread{};  // a thread frame has no name
  thread.script = main_;
  ReportError(&thread, "Alloc failed", nullptr);
  Frame loader{};  // the engine head has no name either
  loader.script = engine_;
  loader.functionName = "load";
  ReportError(&loader, "File open error", nullptr);
  EXPECT_EQ(TakeReports(), (std::vector<std::string>{"### Error: Alloc failed : Keytwine.Keytwine",
                                                     "### Error: Alloc failed : Keytwine",
                                                     "### Error: File open error : load"}));
}

TEST_F(Reporting, BlocksReportForTheirOutermostFrame) {
  const char* source = SetSource("f() {\n  { bad; }\n}\n");
  Frame call{};
  call.functionName = "f";
  call.script = main_;
  Frame block{};
  block.script = main_;
  block.parent = &call;
  Frame inner{};
  inner.script = main_;
  inner.parent = &block;
  ReportError(&inner, "Sentence error", source + 10);
  EXPECT_EQ(TakeReports(),
            std::vector<std::string>{"### Error: Sentence error : Keytwine.f:(2) : { bad; }"});
  EXPECT_EQ(Errors().lastFrame, &call);  // the native receives the outermost frame
}

TEST_F(Reporting, NamedMessagesJoinNameAndSuffix) {
  Frame frame = TopFrame();
  ReportNamedError(&frame, "count", " :Variable is not defined", nullptr);
  EXPECT_EQ(TakeReports(), std::vector<std::string>{
                               "### Error: count :Variable is not defined : Keytwine.Keytwine"});
}

TEST_F(Reporting, NothingIsReportedWithoutAFrameOrWhileStopping) {
  ReportError(nullptr, "Sentence error", nullptr);
  Frame frame = TopFrame();
  SetStopFlag(1);
  ReportError(&frame, "Sentence error", nullptr);
  ReportNamedError(&frame, "a", " :Declaration overlaps", nullptr);
  SetStopFlag(0);
  EXPECT_TRUE(TakeReports().empty());
}

TEST_F(Reporting, WithoutTheErrorNativeNothingIsDelivered) {
  static NativeEntry others[] = {{"_sfunc_swap", 0, RecordError}};
  InstallNativeTable(others, 1);
  Frame frame = TopFrame();
  ReportError(&frame, "Sentence error", nullptr);
  InstallNativeTable(nullptr, 0);
  ReportError(&frame, "Sentence error", nullptr);
  EXPECT_TRUE(TakeReports().empty());
}

TEST_F(Reporting, TheNativeTableIsSearchedByHashAndExactName) {
  EXPECT_EQ(FindNative("_sfunc_error"), &RecordError);
  EXPECT_EQ(FindNative("_sfunc_swap"), &Unused);
  EXPECT_EQ(FindNative("_SFUNC_ERROR"), nullptr);
  EXPECT_EQ(FindNative("_sfunc_"), nullptr);
  EXPECT_EQ(FindNative(nullptr), nullptr);
  EXPECT_EQ(HostTable()[1].hash, ComputeNameHash("_sfunc_error"));
}

TEST_F(Reporting, AReportNeedsNoMemory) {
  Frame frame = TopFrame();
  port::FailAllocationAfter(1);
  ReportError(&frame, "Alloc failed", nullptr);
  port::FailAllocationAfter(0);
  EXPECT_EQ(TakeReports().size(), 1U);
}

TEST_F(Reporting, ALongReportIsCutAndTerminated) {
  const std::string longLine(5000, 'x');
  const char* source = SetSource(longLine.c_str());
  Frame frame = TopFrame();
  ReportError(&frame, "Sentence error", source + 10);
  const std::vector<std::string> reports = TakeReports();
  ASSERT_EQ(reports.size(), 1U);
  EXPECT_EQ(reports[0].size(), kReportCapacity - 1);
  EXPECT_EQ(reports[0].rfind("### Error: Sentence error : Keytwine.Keytwine:(1) : xxx", 0), 0U);
}

TEST_F(Reporting, ACutNeverSplitsADoubleByteCharacter) {
  if (!port::SetCodePage(port::kCodePageShiftJis)) GTEST_SKIP() << "no code page 932";
  // "a" then double-byte characters (lead 0x82) across the cut, in the message itself.
  std::string message = "a";
  for (int i = 0; i < 600; ++i) message += "\x82\xA0";
  char out[8];
  Frame frame = TopFrame();
  // "### Error: " is 11 bytes; with 8 bytes of room only 7 fit, all single-byte.
  EXPECT_EQ(FormatReport(&frame, message.c_str(), nullptr, 0, out, sizeof out), 7U);
  EXPECT_STREQ(out, "### Err");
  char room[16];  // 11 + "a" + one pair = 14 bytes; the next pair would need 16 with the NUL
  EXPECT_EQ(FormatReport(&frame, message.c_str(), nullptr, 0, room, sizeof room), 14U);
  EXPECT_EQ(std::string(room), "### Error: a\x82\xA0");
  ReportError(&frame, message.c_str(), nullptr);
  port::SetCodePage(port::kCodePageUtf8);
  const std::vector<std::string> reports = TakeReports();
  ASSERT_EQ(reports.size(), 1U);
  // 12 bytes of prefix, then whole pairs only.
  EXPECT_EQ((reports[0].size() - 12) % 2, 0U);
  EXPECT_LT(reports[0].size(), kReportCapacity);
}

TEST_F(Reporting, FormatWritesNothingIntoNoRoom) {
  Frame frame = TopFrame();
  char out[1] = {'z'};
  EXPECT_EQ(FormatReport(&frame, "m", nullptr, 0, out, 1), 0U);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(FormatReport(nullptr, "m", nullptr, 0, out, 0), 0U);
}

TEST_F(Reporting, ScriptThreadsReportThroughTheSamePath) {
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this] {
      Frame frame = TopFrame();
      for (int i = 0; i < 50; ++i) ReportError(&frame, "Function not Found", "g");
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::vector<std::string> reports = TakeReports();
  EXPECT_EQ(reports.size(), 200U);
  for (const std::string& report : reports) {
    EXPECT_EQ(report, "### Error: Function not Found : Keytwine.Keytwine : g");
  }
}

}  // namespace
}  // namespace keytwine::testing
