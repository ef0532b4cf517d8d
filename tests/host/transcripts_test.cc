// Key transcripts: a mapping table, and what `keytwine replay --echo` prints for a trace of key
// events. The trace is the transcript's "> " lines; the format is described at the top of each
// file in cases/.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/case_file.h"
#include "tools/table_text.h"
#include "tools/trace_replay.h"

namespace keytwine::testing {
namespace {

std::string TraceOf(const std::string& transcript) {
  std::istringstream lines(transcript);
  std::string trace;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("> ", 0) == 0) trace += line.substr(2) + "\n";
  }
  return trace;
}

// A malformed line ends its trace; the lines after it are replayed as a new trace.
std::string Transcript(const TestCase& testCase) {
  std::istringstream tableText(testCase.Input());
  MapTable table;
  HostSettings settings;
  std::string error;
  if (!ReadTableText(tableText, table, settings, error)) return "table:" + error + "\n";
  const CaseSection* expected = testCase.Find("out");
  std::istringstream trace(TraceOf(expected != nullptr ? expected->text : ""));
  std::ostringstream out;
  while (trace.peek() != EOF && ReplayTrace(trace, "trace", table, settings, out, out, true) != 0) {
  }
  return out.str();
}

class Transcripts : public ::testing::TestWithParam<std::string> {};

TEST_P(Transcripts, ReplayAsExpected) {
  CaseFile file(GetParam());
  for (const TestCase& testCase : file.Cases()) file.Expect(testCase, "out", Transcript(testCase));
}

INSTANTIATE_TEST_SUITE_P(Files, Transcripts,
                         ::testing::ValuesIn(CaseFile::FilesIn("tests/host/cases", ".cases")),
                         [](const auto& info) { return CaseFileLabel(info.param); });

}  // namespace
}  // namespace keytwine::testing
