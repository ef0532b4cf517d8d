// The check cases (tests/tools/cases/*.cases, described at the top of those files) run through
// keytwine-cli.exe, the command-line tool built for Windows: the same configurations must print
// the same texts as on Linux. Line ends and path separators are made Linux-like here.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tests/platform/driver_support.h"

namespace keytwine::wintest {
namespace {

struct Section {
  std::string name;
  std::string argument;
  std::string text;      // its lines, each ended by '\n'
  int pendingBlank = 0;  // blank lines read but not yet known to be inside the text
};

struct Case {
  std::string title;
  size_t line;                    // of its "===" line
  std::vector<Section> sections;  // sections[0] is the input
  const Section* Find(const std::string& name) const {
    const auto found = std::find_if(sections.begin(), sections.end(),
                                    [&](const Section& section) { return section.name == name; });
    return found != sections.end() ? &*found : nullptr;
  }
};

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? ""
                                    : text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

// Blank lines at the end of a section are not part of it.
void AddLine(Section& section, const std::string& line) {
  if (line.find_first_not_of(" \t") == std::string::npos) {
    ++section.pendingBlank;
    return;
  }
  section.text.append(section.pendingBlank, '\n');
  section.pendingBlank = 0;
  section.text += line + '\n';
}

std::vector<Case> ReadCases(const std::string& text) {
  std::vector<Case> cases;
  size_t number = 0;
  for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start);
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string header = Trimmed(line.substr(std::min<size_t>(3, line.size())));
    if (line.rfind("===", 0) == 0) {
      cases.push_back({header, number, {{"input", "", ""}}});
    } else if (!cases.empty() && line.rfind("---", 0) == 0) {
      const size_t space = std::min(header.find(' '), header.size());
      cases.back().sections.push_back({header.substr(0, space), Trimmed(header.substr(space)), ""});
    } else if (!cases.empty()) {
      AddLine(cases.back().sections.back(), line);
    }
  }
  return cases;
}

// The tool's output as on Linux: plain line ends, and the case's folder (`folder`, without its
// last separator) as @DIR@ with '/' for the separators of the path after it.
std::string Normalised(const std::string& text, const std::string& folder) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, folder.size(), folder) == 0) {
      out += "@DIR@";
      for (i += folder.size(); i < text.size() && std::isspace(text[i]) == 0; ++i) {
        out += text[i] == '\\' ? '/' : text[i];
      }
    } else if (text.compare(i, 2, "\r\n") == 0) {
      ++i;
    } else {
      out += text[i++];
    }
  }
  return out;
}

HANDLE CreateOutputFile(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Writes the case's files into `folder` and runs the tool there as the case says; its outputs
// go to a folder of their own. Returns what differs from the expected sections ("" when
// nothing does).
std::string RunCase(const Case& testCase, const TestFolder& folder, const std::wstring& tool) {
  folder.Write(L"Keytwine.ns", testCase.sections[0].text);
  for (const Section& section : testCase.sections) {
    if (section.name == "file") folder.Write(Widen(section.argument), section.text);
  }
  const Section* args = testCase.Find("args");
  const Section* trace = testCase.Find("trace");
  std::wstring arguments = trace != nullptr ? L"sim --echo " : L"check ";
  if (args != nullptr) arguments += Widen(args->argument) + L" ";
  arguments += L"\"" + folder.Path() + L"Keytwine.ns\"";
  if (trace != nullptr && folder.Write(L"Keytwine.trace", trace->text)) {
    arguments += L" \"" + folder.Path() + L"Keytwine.trace\"";
  }
  const TestFolder outputs(L"output");
  const HANDLE out = CreateOutputFile(outputs.Path() + L"out");
  const HANDLE err = CreateOutputFile(outputs.Path() + L"err");
  DWORD status = 0;
  bool ended = false;
  {
    Program program;
    ended =
        program.Start(tool, arguments, folder.Path(), out, err) && program.WaitExit(15000, status);
  }
  CloseHandle(out);
  CloseHandle(err);
  if (!ended) return "keytwine-cli.exe did not end within 15 s";
  const std::string dir = Narrow(folder.Path().substr(0, folder.Path().size() - 1));
  const std::pair<const char*, std::string> actual[] = {
      {"out", Normalised(ReadBytes(outputs.Path() + L"out"), dir)},
      {"err", Normalised(ReadBytes(outputs.Path() + L"err"), dir)},
      {"status", status == 0 ? "" : std::to_string(status) + "\n"}};
  std::string report;
  for (const auto& [name, text] : actual) {
    const Section* section = testCase.Find(name);
    const std::string expected = section != nullptr ? section->text : "";
    if (text != expected) {
      report += std::string("\n--- expected ") + name + "\n" + expected + "--- actual " + name +
                "\n" + text;
    }
  }
  return report;
}

// keytwine-cli.exe reads script text in the system's ANSI code page: a case runs only where that
// is the code page it names with --codepage (UTF-8 when it names none).
bool OfSystemCodePage(const Case& testCase) {
  const Section* args = testCase.Find("args");
  const bool shiftJis =
      args != nullptr && args->argument.find("--codepage 932") != std::string::npos;
  return GetACP() == (shiftJis ? 932U : 65001U);
}

}  // namespace

void RunCheckCases(Results& results, const std::wstring& suiteFolder) {
  // The folder is given at build time; under wine a Linux path is on drive Z:.
  std::wstring folder = Widen(KEYTWINE_CHECK_CASES "/");
  std::replace(folder.begin(), folder.end(), L'/', L'\\');
  if (folder[0] == L'\\') folder = L"Z:" + folder;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((folder + L"*.cases").c_str(), &found);
  std::vector<std::wstring> files;
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    files.emplace_back(found.cFileName);
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  std::sort(files.begin(), files.end());
  int otherCodePage = 0;
  for (const std::wstring& file : files) {
    const std::vector<Case> cases = ReadCases(ReadBytes(folder + file));
    if (cases.empty()) Check(results, false, Narrow(file), "holds no case");
    for (const Case& testCase : cases) {
      const std::string name =
          Narrow(file) + ":" + std::to_string(testCase.line) + ": " + testCase.title;
      if (testCase.Find("linux-only") != nullptr) {
        Skip(name, "a case for Linux only");
      } else if (!OfSystemCodePage(testCase)) {
        ++otherCodePage;
      } else {
        const std::string report =
            RunCase(testCase, TestFolder(L"case"), suiteFolder + L"keytwine-cli.exe");
        Check(results, report.empty(), name, report);
      }
    }
  }
  if (files.empty()) Check(results, false, "check cases", "no .cases file in " + Narrow(folder));
  if (otherCodePage > 0) {
    Skip(std::to_string(otherCodePage) + " check cases",
         "their code page is not the system's (" + std::to_string(GetACP()) + ")");
  }
}

}  // namespace keytwine::wintest
