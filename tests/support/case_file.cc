#include "tests/support/case_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace keytwine::testing {
namespace {

bool StartsWith(const std::string& line, const char* prefix) {
  return line.rfind(prefix, 0) == 0;
}

bool IsBlank(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Closes a section: drops trailing blank lines and gathers its text.
void CloseSection(const std::vector<std::string>& lines, size_t end, CaseSection& section) {
  while (end > section.firstLine && IsBlank(lines[end - 1])) --end;
  section.endLine = end;
  for (size_t i = section.firstLine; i < end; ++i) section.text += lines[i] + '\n';
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

const CaseSection* TestCase::Find(const std::string& name) const {
  for (const CaseSection& section : sections) {
    if (section.name == name) return &section;
  }
  return nullptr;
}

CaseFile::CaseFile(const std::string& path) : path_(path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return;
  }
  std::stringstream whole;
  whole << in.rdbuf();
  lines_ = SplitLines(whole.str());
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string& line = lines_[i];
    const bool opensCase = StartsWith(line, "===");
    const bool opensSection = !cases_.empty() && StartsWith(line, "---");
    if (!opensCase && !opensSection) continue;
    if (!cases_.empty()) CloseSection(lines_, i, cases_.back().sections.back());
    if (opensCase) {
      TestCase testCase;
      testCase.title = Trimmed(line.substr(3));
      testCase.line = i + 1;
      testCase.sections.push_back({"input", "", "", i + 1, 0});
      cases_.push_back(testCase);
      continue;
    }
    const std::string header = Trimmed(line.substr(3));
    const size_t space = header.find(' ');
    CaseSection section;
    section.name = header.substr(0, space);
    section.argument = space == std::string::npos ? "" : Trimmed(header.substr(space));
    section.firstLine = i + 1;
    cases_.back().sections.push_back(section);
  }
  if (!cases_.empty()) CloseSection(lines_, lines_.size(), cases_.back().sections.back());
  if (cases_.empty()) ADD_FAILURE() << path << " holds no case";
}

void CaseFile::Expect(const TestCase& testCase, const std::string& name,
                      const std::string& actual) {
  const CaseSection* section = testCase.Find(name);
  const std::string expected = section != nullptr ? section->text : "";
  if (actual == expected) return;
  if (Updating()) {
    replacements_.push_back({static_cast<size_t>(&testCase - cases_.data()), name, actual});
    return;
  }
  ADD_FAILURE_AT(path_.c_str(), static_cast<int>(testCase.line))
      << "case \"" << testCase.title << "\", section " << name << "\n--- expected\n"
      << expected << "--- actual\n"
      << actual;
}

CaseFile::~CaseFile() {
  if (replacements_.empty()) return;
  // Apply from the bottom of the file up, so that earlier line numbers stay valid; a section
  // that is new goes after the last section of its case.
  const auto position = [this](const Replacement& r) {
    const CaseSection* section = cases_[r.caseIndex].Find(r.name);
    return section != nullptr ? section->firstLine
                              : cases_[r.caseIndex].sections.back().endLine + 1;
  };
  std::sort(replacements_.begin(), replacements_.end(),
            [&](const Replacement& a, const Replacement& b) { return position(a) > position(b); });
  for (const Replacement& replacement : replacements_) {
    const TestCase& testCase = cases_[replacement.caseIndex];
    std::vector<std::string> body = SplitLines(replacement.text);
    const CaseSection* section = testCase.Find(replacement.name);
    if (section != nullptr) {
      lines_.erase(lines_.begin() + static_cast<long>(section->firstLine),
                   lines_.begin() + static_cast<long>(section->endLine));
      lines_.insert(lines_.begin() + static_cast<long>(section->firstLine), body.begin(),
                    body.end());
      continue;
    }
    body.insert(body.begin(), "--- " + replacement.name);
    const size_t at = testCase.sections.back().endLine;
    lines_.insert(lines_.begin() + static_cast<long>(at), body.begin(), body.end());
  }
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  for (const std::string& line : lines_) out << line << '\n';
}

std::vector<std::string> CaseFile::FilesIn(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> files;
  const std::filesystem::path root = std::filesystem::path(KEYTWINE_SOURCE_DIR) / folder;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
    const std::string name = entry.path().string();
    if (name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      files.push_back(name);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool CaseFile::Updating() {
  const char* value = std::getenv("KEYTWINE_UPDATE_CASES");
  return value != nullptr && value[0] == '1';
}

std::filesystem::path ScratchFolder(const std::string& name) {
  // Removes the process's scratch folder at exit.
  static const struct Scratch {
    std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("keytwine-tests-" + std::to_string(getpid()));
    ~Scratch() {
      std::error_code ignored;
      std::filesystem::remove_all(root, ignored);
    }
  } scratch;
  std::filesystem::path folder = scratch.root / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

uint32_t CodePageOf(const TestCase& testCase) {
  const CaseSection* codePage = testCase.Find("codepage");
  return codePage != nullptr ? std::stoul(codePage->argument) : 65001;
}

void WriteCaseFiles(const TestCase& testCase, const std::filesystem::path& folder,
                    const std::string& inputName,
                    const std::function<std::string(const CaseSection&)>& text) {
  for (const CaseSection& section : testCase.sections) {
    const bool input = &section == &testCase.sections[0];
    if (!input && section.name != "file" && section.name != "file-hex") continue;
    const std::filesystem::path path = folder / (input ? inputName : section.argument);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << (text ? text(section) : section.text);
  }
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string CaseFileLabel(const std::string& path) {
  std::string name = std::filesystem::path(path).stem().string();
  for (char& c : name) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
  }
  return name;
}

}  // namespace keytwine::testing
