// Data-driven test cases: plain text files of cases, each an input and the text it must give.
//
//   Lines before the first case describe the file.
//   === TITLE
//   input lines
//   --- SECTION [ARGUMENT]
//   section lines
//
// A case runs from its "===" line to the next one. The lines before its first "---" line are its
// input; each "---" line opens a named section (extra files, options, expected results). Blank
// lines at the end of a section are not part of it. A driver computes the actual text of each
// expected section and hands it to Expect(); with KEYTWINE_UPDATE_CASES=1 in the environment the
// file is rewritten with the actual texts instead, for review with git diff.
#ifndef KEYTWINE_TESTS_SUPPORT_CASE_FILE_H
#define KEYTWINE_TESTS_SUPPORT_CASE_FILE_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "script/port/port.h"

namespace keytwine::testing {

struct CaseSection {
  std::string name;
  std::string argument;
  std::string text;      // the section's lines, each ended by '\n'
  size_t firstLine = 0;  // index of the first body line in the file
  size_t endLine = 0;    // one past the last body line (trailing blank lines excluded)
};

struct TestCase {
  std::string title;
  size_t line = 0;                    // 1-based line of the "===" line
  std::vector<CaseSection> sections;  // sections[0] is the input, named "input"
  const std::string& Input() const { return sections[0].text; }
  // The named section, or null.
  const CaseSection* Find(const std::string& name) const;
};

class CaseFile {
 public:
  // Reads a case file; a file that cannot be read or holds no case fails the current test.
  explicit CaseFile(const std::string& path);
  // Rewrites the file when updating and some expectation changed.
  ~CaseFile();
  CaseFile(const CaseFile&) = delete;
  CaseFile& operator=(const CaseFile&) = delete;

  const std::string& Path() const { return path_; }
  std::vector<TestCase>& Cases() { return cases_; }

  // Compares `actual` with the case's section `name` (a missing section counts as empty) and
  // reports a difference as a test failure naming the file, line and title. When updating, it
  // records `actual` as the section's new text instead.
  void Expect(const TestCase& testCase, const std::string& name, const std::string& actual);

  // Every file in `folder` (relative to the source tree) whose name ends with `suffix`, sorted.
  static std::vector<std::string> FilesIn(const std::string& folder, const std::string& suffix);
  static bool Updating();

 private:
  struct Replacement {
    size_t caseIndex;
    std::string name;
    std::string text;
  };
  std::string path_;
  std::vector<std::string> lines_;
  std::vector<TestCase> cases_;
  std::vector<Replacement> replacements_;
};

// The file name without its folder and suffix: the name a parameterised test shows.
std::string CaseFileLabel(const std::string& path);

// An empty folder `name` in this process's scratch folder, which is removed when the process
// ends.
std::filesystem::path ScratchFolder(const std::string& name);

// The code page that a "codepage N" section names; 65001 (UTF-8) without one.
uint32_t CodePageOf(const TestCase& testCase);

// Writes the case's input as `inputName` and then each "file NAME" or "file-hex NAME" section as
// NAME into `folder`, making the folders on the way; `text` gives what a section's file holds
// (by default its text).
void WriteCaseFiles(const TestCase& testCase, const std::filesystem::path& folder,
                    const std::string& inputName,
                    const std::function<std::string(const CaseSection&)>& text = nullptr);

// Runs `run` once, then again with each allocation of that run failing in turn, and once more
// (failing none); `check(result, n)` sees each result, n = 0 the first, and returns false to stop.
template <typename Run, typename Check>
void EachAllocationFailing(const Run& run, const Check& check) {
  const uint64_t before = port::AllocationCount();
  auto result = run();
  const uint64_t count = port::AllocationCount() - before;
  for (uint64_t n = 1; check(result, n - 1) && n <= count + 1; ++n) {
    port::FailAllocationAfter(n);
    result = run();
    port::FailAllocationAfter(0);
  }
}

// text with every `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to);

}  // namespace keytwine::testing

#endif  // KEYTWINE_TESTS_SUPPORT_CASE_FILE_H
