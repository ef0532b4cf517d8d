#include "tools/lint.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "host/map_table.h"
#include "script/front/loader.h"
#include "script/front/syntax.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

struct Finding {
  SourcePlace place;
  std::string text;
  const char* rule;  // null for an error
};

// A script file that the run loaded: its folder and name as the engine keeps them, and the name
// of the file itself.
struct LoadedFile {
  std::string directory;
  std::string fileName;
};

struct LintState {
  std::vector<LoadedFile> files;  // the configuration file first, then the imports found
  std::vector<Finding> findings;
};

// The directive handler has no context of its own; lint runs one configuration at a time.
LintState* g_lint = nullptr;

void Warn(const SourcePlace& place, const char* rule, std::string text) {
  g_lint->findings.push_back({place, std::move(text), rule});
}

// Codes as the script would write them: hexadecimal, negative ones in decimal.
std::string CodeText(int32_t value) {
  if (value < 0) return std::to_string(value);
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (auto bits = static_cast<uint32_t>(value); text.empty() || bits != 0; bits >>= 4) {
    text.insert(text.begin(), kDigits[bits & 15]);
  }
  return "0x" + text;
}

// The place of a position in a script's text; line 0 when it lies outside.
SourcePlace PlaceIn(const Script* script, const char* position) {
  SourcePlace place;
  if (script->directory != nullptr) place.directory = script->directory;
  if (script->name != nullptr) place.script = script->name;
  const char* source = script->source;
  const std::less_equal<const char*> notAfter;
  if (source == nullptr || position == nullptr || !notAfter(source, position) ||
      !notAfter(position, source + std::strlen(source))) {
    return place;
  }
  place.line = 1 + static_cast<int32_t>(std::count(source, position, '\n'));
  return place;
}

// --- #import -------------------------------------------------------------------------------

bool IsSeparator(char c) {
  return c == '\\' || (c == '/' && port::PathSeparator() == u'/');
}

// The argument of the directive between open and close as the loader reads it: leading blanks
// skipped, a quoted argument cut at its closing quote.
std::string DirectiveArgument(const char* open, const char* close) {
  const char* start = open + 1;
  while (start < close && std::strchr(" \t\r\n", *start) != nullptr) ++start;
  if (*start != '"') return std::string(start, close);
  const char* end = std::min(FindStringEnd(start), close);
  return std::string(start + 1, end);
}

struct ImportSearch {
  std::string folder;
};

void NoteImportedFile(const char16_t* name, void* context) {
  const port::Owned<char> fileName = ToMultiByte(name);
  if (fileName == nullptr) return;
  const auto* search = static_cast<const ImportSearch*>(context);
  g_lint->files.push_back({search->folder, fileName.get()});
}

// Looks for the files an #import loads, as the loader does, to know each file's own name and
// whether the import found anything.
void CheckImport(Script* script, const char* directory, const char* position) {
  const char* word = position;
  while (*word == ' ' || *word == '\t') ++word;
  const char* open = std::strchr(position, '(');
  const char* close = FindMatchingBracket(open);
  if (CompareNoCaseN(word, "import", 6) != 0 || close == nullptr) return;
  const std::string pattern =
      std::string(directory != nullptr ? directory : "") + DirectiveArgument(open, close);
  ImportSearch search;
  for (size_t i = 0; i < pattern.size(); i += static_cast<size_t>(CharacterLength(&pattern[i]))) {
    if (IsSeparator(pattern[i])) search.folder = pattern.substr(0, i + 1);
  }
  const port::Owned<char16_t> widePattern = ToWide(pattern.c_str());
  if (widePattern == nullptr) return;
  if (port::FindFiles(widePattern.get(), &NoteImportedFile, &search) <= 0) {
    Warn(PlaceIn(script, position), "import-nothing",
         "#import matches no file: " + pattern + " (check the name and the folder)");
  }
}

// Before the loader runs, so that the files are listed in the order they are loaded.
const char* LintDirective(Script* script, const char* directory, const char* position) {
  CheckImport(script, directory, position);
  return RunDirective(script, directory, position);
}

// --- Patterns and =~ -----------------------------------------------------------------------

bool IsRepetitionEnd(char c) {
  return c == '*' || c == '+' || c == '?' || c == '}';
}

void WarnCaptureAfterQuantifier(const Script* script, const SyntaxNode* node,
                                const std::string& capture) {
  std::string text = capture;
  text += " after a repetition captures text of its own, not what the repetition matched: put ";
  text += "the repeated part in parentheses, as in (\\d+)";
  text += capture;
  Warn(PlaceIn(script, node->position), "capture-after-quantifier", std::move(text));
}

void CheckCaptureAfterQuantifier(const Script* script, const SyntaxNode* node,
                                 const SyntaxNode* /*previous*/) {
  if (node->kind != T_PATTERN || node->text == nullptr) return;
  const char* text = node->text;
  bool inClass = false;
  bool afterRepetition = false;
  for (size_t i = 0; text[i] != 0; ++i) {
    const char c = text[i];
    const bool repetition = !inClass && IsRepetitionEnd(c);
    if ((c == '\\' && text[i + 1] != 0) || (!inClass && c == '%' && text[i + 1] == '%')) {
      ++i;  // an escaped character, or a percent sign
    } else if (inClass) {
      inClass = c != ']';
    } else if (c == '[') {
      inClass = true;
      if (text[i + 1] == '^') ++i;
      if (text[i + 1] == ']') ++i;
    } else if (c == '%') {
      const char* close = std::strchr(text + i + 1, '%');
      if (close == nullptr) return;
      if (afterRepetition)
        WarnCaptureAfterQuantifier(script, node, std::string(text + i, close + 1));
      i = static_cast<size_t>(close - text);
    }
    afterRepetition = repetition;
  }
}

void CheckMatchEscape(const Script* script, const SyntaxNode* node, const SyntaxNode* previous) {
  if (node->kind != T_MATCH || previous == nullptr || previous->kind != T_STRING ||
      previous->text == nullptr) {
    return;
  }
  for (const char* p = previous->text; (p = std::strchr(p, '\\')) != nullptr; ++p) {
    if (p[1] != 0 && std::strchr("dwsDWS", p[1]) != nullptr) {
      Warn(PlaceIn(script, previous->position), "match-escape",
           std::string("\\") + p[1] + " on the right of =~ is a backslash and a letter, not a " +
               "class: use a bracket class such as [0-9], or a pattern assignment");
      return;
    }
  }
}

using NodeRule = void (*)(const Script* script, const SyntaxNode* node, const SyntaxNode* previous);
constexpr NodeRule kNodeRules[] = {&CheckCaptureAfterQuantifier, &CheckMatchEscape};

void WalkChain(const Script* script, const SyntaxNode* first) {
  const SyntaxNode* previous = nullptr;
  for (const SyntaxNode* node = first; node != nullptr; previous = node, node = node->next) {
    for (NodeRule rule : kNodeRules) rule(script, node, previous);
    if (node->child != nullptr) WalkChain(script, node->child);
  }
}

void InspectScripts(const Script* engine, void* /*context*/) {
  for (const Script* script = engine->next; script != nullptr; script = script->next) {
    WalkChain(script, script->topLevel);
  }
}

// --- Entries -------------------------------------------------------------------------------

struct Entries {
  const MapTable& table;
  const std::vector<EntryOrigin>& origins;
};

int32_t OrientationOf(const MapEntry& e) {
  return e.orientation == kPortraitOnly || e.orientation == kLandscapeOnly ? e.orientation
                                                                           : kAnyOrientation;
}

int32_t ModifierOf(const MapEntry& e) {
  return e.modifier >= kCtrl && e.modifier <= kF23 ? e.modifier : kNoModifier;
}

// True when `wide` matches every key event that `narrow` matches. Ctrl and Shift each allow the
// other to be held as well, so they cover Ctrl+Shift.
bool Covers(const MapEntry& wide, const MapEntry& narrow) {
  if (wide.vkCode != narrow.vkCode || wide.scanCode != narrow.scanCode) return false;
  const int32_t orientation = OrientationOf(wide);
  if (orientation != kAnyOrientation && orientation != OrientationOf(narrow)) return false;
  const int32_t w = ModifierOf(wide);
  const int32_t n = ModifierOf(narrow);
  return w == n || ((w == kCtrl || w == kShift) && n == kCtrlShift);
}

bool IsHold(const MapEntry& e) {
  return e.hold != 0;
}

// True when an earlier entry matches every key event that entry j matches.
bool Hidden(const MapTable& table, uint32_t j) {
  for (uint32_t i = 0; i < j; ++i) {
    if (Covers(table.At(i), table.At(j))) return true;
  }
  return false;
}

// A tap entry after a hold entry of its key (with no other tap entry of the key between) acts
// when that key is released early, whatever the earlier entries; unless the hold entry is hidden.
bool TapOfHold(const MapTable& table, uint32_t j) {
  const MapEntry& tap = table.At(j);
  for (uint32_t i = j; i-- > 0;) {
    const MapEntry& e = table.At(i);
    if (e.vkCode == tap.vkCode && e.scanCode == tap.scanCode) {
      return IsHold(e) && !Hidden(table, i);
    }
  }
  return false;
}

std::string FilePath(const SourcePlace& place);

// "line N" in the same file, else "FILE:N".
std::string LineName(const Entries& t, uint32_t i, uint32_t j) {
  const SourcePlace& place = t.origins[i].place;
  const std::string file = FilePath(place);
  const std::string where = file == FilePath(t.origins[j].place) ? "line " : file + ":";
  return where + std::to_string(place.line);
}

// The first earlier entry that hides entry j, for unreachable and hold-after-tap alike.
void CheckShadowed(const Entries& t, uint32_t j) {
  const MapEntry& later = t.table.At(j);
  for (uint32_t i = 0; i < j; ++i) {
    const MapEntry& earlier = t.table.At(i);
    if (!Covers(earlier, later)) continue;
    if (IsHold(earlier) == IsHold(later)) {
      if (!IsHold(later) && TapOfHold(t.table, j)) return;
      Warn(t.origins[j].place, "unreachable",
           "entry never matches: the entry of " + LineName(t, i, j) +
               " matches the same key first, in every case this one does");
      return;
    }
    if (IsHold(later)) {
      Warn(t.origins[j].place, "hold-after-tap",
           "hold entry never fires: the tap entry of " + LineName(t, i, j) +
               " matches the key first; add the hold entry before the tap entry");
      return;
    }
  }
}

const char* ControlName(char16_t c) {
  switch (c) {
    case u'\t':
      return "a tab (\\t)";
    case u'\n':
      return "a line feed (\\n)";
    case u'\r':
      return "a carriage return (\\r)";
    case u'\b':
      return "a backspace (\\b)";
    default:
      return "a control character";
  }
}

void CheckControlText(const Entries& t, uint32_t j, const char* what, const char16_t* text) {
  for (const char16_t* p = text; *p != 0; ++p) {
    if (*p < 0x20 || *p == 0x7F) {
      Warn(t.origins[j].place, "control-char",
           std::string("exec ") + what + " holds " + ControlName(*p) +
               ": a backslash in a string starts an escape, write \\\\ for each one");
      return;
    }
  }
}

void CheckControlChar(const Entries& t, uint32_t j) {
  const MapEntry& e = t.table.At(j);
  if (e.type != Exec) return;
  CheckControlText(t, j, "path", e.path);
  CheckControlText(t, j, "parameters", e.parameters);
}

// The first reason why entry j cannot act as written, or the empty text.
std::string IgnoredKeyReason(const MapEntry& e, const EntryOrigin& o) {
  if (o.vkCode <= 0 || o.vkCode > 0xFF) {
    return "virtual-key code " + CodeText(o.vkCode) + " is never sent (codes are 0x1 to 0xff)";
  }
  if (o.scanCode < 0 || o.scanCode >= 0xFF) {
    return "scan code " + CodeText(o.scanCode) + " is never matched (codes are 0x0 to 0xfe)";
  }
  if (o.vkCode >= 0xA0 && o.vkCode <= 0xA3 && e.modifier >= kCtrl && e.modifier <= kCtrlShift) {
    return "a system that sends " + CodeText(o.vkCode) +
           " for a left or right Ctrl or Shift never reports Ctrl or Shift held, so modifier "
           "condition " +
           std::to_string(e.modifier) + " never holds";
  }
  if (e.orientation < 0 || e.orientation > kLandscapeOnly) {
    return "orientation " + std::to_string(e.orientation) + " is not 0, 1 or 2 and acts as 0";
  }
  if (e.modifier < 0 || e.modifier > kF23) {
    return "modifier condition " + std::to_string(e.modifier) +
           " is not one of 0 to 6 and acts as 0";
  }
  if (e.type == Swap && o.keys[0] == 0 && o.keys[1] == 0 && o.keys[2] == 0 && o.keys[3] == 0) {
    return "swap sends no key: all four keys are 0, so the key is only swallowed";
  }
  return "";
}

void CheckIgnoredKey(const Entries& t, uint32_t j) {
  const std::string reason = IgnoredKeyReason(t.table.At(j), t.origins[j]);
  if (!reason.empty()) Warn(t.origins[j].place, "ignored-key", reason);
}

using EntryRule = void (*)(const Entries& t, uint32_t j);
constexpr EntryRule kEntryRules[] = {&CheckShadowed, &CheckControlChar, &CheckIgnoredKey};

// --- Error reports -------------------------------------------------------------------------

constexpr const char* kReportStart = "### Error: ";
constexpr const char* kTracebackStart = "        at ";

// The line a report names as ":(LINE) : ", or 0.
int32_t ReportLine(const std::string& text) {
  const size_t open = text.find(":(");
  if (open == std::string::npos) return 0;
  return static_cast<int32_t>(std::strtol(text.c_str() + open + 2, nullptr, 10));
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// A report without a line takes the line of its first "at" line, where the failed call stands.
void CollectErrors(const std::vector<ErrorOrigin>& errors) {
  Finding* open = nullptr;
  for (const ErrorOrigin& error : errors) {
    if (StartsWith(error.text, kTracebackStart)) {
      if (open != nullptr && open->place.line == 0) open->place.line = ReportLine(error.text);
      open = nullptr;
      continue;
    }
    Finding finding{error.place, error.text, nullptr};
    if (StartsWith(error.text, kReportStart)) {
      finding.text = error.text.substr(std::strlen(kReportStart));
      finding.place.line = ReportLine(error.text);
    }
    g_lint->findings.push_back(finding);
    open = g_lint->findings.back().place.line == 0 ? &g_lint->findings.back() : nullptr;
  }
}

// --- Output --------------------------------------------------------------------------------

bool SameName(const std::string& fileName, const std::string& script) {
  return CompareNoCase(fileName.substr(0, fileName.find('.')).c_str(), script.c_str()) == 0;
}

// The index in g_lint->files of the file that holds the place; the configuration file when no
// loaded file fits (a report of the engine itself).
size_t FileOf(const SourcePlace& place) {
  for (size_t i = 0; i < g_lint->files.size(); ++i) {
    const LoadedFile& file = g_lint->files[i];
    if (CompareNoCase(file.directory.c_str(), place.directory.c_str()) == 0 &&
        SameName(file.fileName, place.script)) {
      return i;
    }
  }
  return 0;
}

// The path of the file that holds the place, with '/' between folders where that is the
// platform's separator (the script may have written '\\').
std::string FilePath(const SourcePlace& place) {
  const LoadedFile& file = g_lint->files[FileOf(place)];
  std::string path = file.directory + file.fileName;
  if (port::PathSeparator() == u'/') std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

void WriteFindings(std::ostream& out) {
  std::vector<std::pair<size_t, const Finding*>> sorted;
  for (const Finding& finding : g_lint->findings)
    sorted.emplace_back(FileOf(finding.place), &finding);
  std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second->place.line < b.second->place.line;
  });
  for (const auto& [file, finding] : sorted) {
    out << FilePath(finding->place) << ":" << std::max(finding->place.line, 1) << ": "
        << (finding->rule != nullptr ? "warning: " : "error: ") << finding->text;
    if (finding->rule != nullptr) out << " [" << finding->rule << "]";
    out << "\n";
  }
}

}  // namespace

int LintConfiguration(const std::string& path, ConfigurationRunner run, std::ostream& out) {
  LintState state;
  const size_t slash = path.find_last_of(port::PathSeparator() == u'/' ? "/" : "/\\");
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  state.files.push_back({path.substr(0, nameStart), path.substr(nameStart)});
  g_lint = &state;
  ConfigurationRecord record;
  record.directives = &LintDirective;
  record.inspect = &InspectScripts;
  const bool loaded = run(path, &record);
  if (loaded) {
    const Entries entries{TheMapTable(), record.entries};
    for (uint32_t j = 0; j < entries.table.Count() && j < record.entries.size(); ++j) {
      for (EntryRule rule : kEntryRules) rule(entries, j);
    }
  }
  CollectErrors(record.errors);
  WriteFindings(out);
  g_lint = nullptr;
  if (!loaded) return 2;
  return state.findings.empty() ? 0 : 1;
}

}  // namespace keytwine
