#include "script/front/loader.h"

#include <cstring>
#include <string>
#include <utility>

#include "script/front/parser.h"
#include "script/front/script_text.h"
#include "script/runtime/error.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A byte that ends a folder: the backslash everywhere, and '/' where it is the platform's own.
bool IsSeparator(char c) {
  return c == '\\' || (c == '/' && port::PathSeparator() == u'/');
}

// The directory text: directory with a separator appended unless it already ends in one; an
// empty directory stays empty.
std::string DirectoryText(const char* directory) {
  std::string text = directory != nullptr ? directory : "";
  if (!text.empty() && !IsSeparator(text.back())) {
    text.push_back(static_cast<char>(port::PathSeparator()));
  }
  return text;
}

// Reports an error of loading with a frame whose script is `script` and nothing else set.
void ReportLoadError(Script* script, const char* message, const char* position) {
  Frame frame{};
  frame.script = script;
  ReportError(&frame, message, position);
}

Script* FindLoaded(Script* engine, const char* name, const char* directory) {
  for (Script* s = engine->next; s != nullptr; s = s->next) {
    if (s->name != nullptr && s->directory != nullptr && CompareNoCase(s->name, name) == 0 &&
        CompareNoCase(s->directory, directory) == 0) {
      return s;
    }
  }
  return nullptr;
}

// Reads the file into script->source (script_text.h) and parses it. False after "File open
// error" or "Alloc failed".
bool ReadAndParse(Script* script, const std::string& path) {
  const port::Owned<char16_t> widePath = ToWide(path.c_str());
  size_t size = 0;
  bool outOfMemory = widePath == nullptr;
  port::Owned<char> text =
      widePath != nullptr ? port::ReadWholeFile(widePath.get(), &size, &outOfMemory) : nullptr;
  if (text == nullptr) {
    ReportLoadError(script, outOfMemory ? kAllocFailed : kFileOpenError, path.c_str());
    return false;
  }
  ScriptText decoded = DecodeScriptText(std::move(text), size);
  if (decoded.text == nullptr) {
    ReportLoadError(script, kAllocFailed, path.c_str());
    return false;
  }
  if (decoded.text.get()[0] == 0 && !decoded.cutAtNul) return true;  // empty: no text, no chain
  script->source = decoded.text.release();
  if (decoded.cutAtNul) {
    // Like a syntax error: nothing of the file runs. The report counts lines up to the NUL.
    ReportLoadError(script, kNulInScript, script->source + std::strlen(script->source));
    return true;
  }
  Frame frame{};
  frame.script = script;
  script->topLevel = ParseScript(&frame, script->source, 0);
  return true;
}

// --- Directives ----------------------------------------------------------------------------

struct DirectiveWord {
  const char* word;
  size_t length;
};
constexpr DirectiveWord kImport = {"import", 6};
constexpr DirectiveWord kLibrary = {"library", 7};
constexpr DirectiveWord kOption = {"option", 6};

bool IsWord(const char* at, const DirectiveWord& word) {
  return CompareNoCaseN(at, word.word, word.length) == 0;
}

// The argument between the parentheses: leading blanks skipped, trailing ones kept; a quoted
// argument is cut at its closing quote, with no escape translated.
port::Owned<char> DirectiveArgument(const char* open, const char* close) {
  const char* start = open + 1;
  while (start < close && IsBlank(*start)) ++start;
  port::Owned<char> argument = DuplicateN(start, static_cast<int32_t>(close - start) + 1);
  if (argument == nullptr || argument.get()[0] != '"') return argument;
  char* text = argument.get();
  char* end = const_cast<char*>(FindStringEnd(text));
  const size_t length = static_cast<size_t>(end - text) - 1;
  std::memmove(text, text + 1, length);
  text[length] = 0;
  return argument;
}

LibraryEntry** LastLibraryLink(Script* engine) {
  LibraryEntry** link = &engine->libraries;
  while (*link != nullptr) link = &(*link)->next;
  return link;
}

}  // namespace

int32_t LoadScriptFile(Script* engine, const char* directory, const char* fileName) {
  const std::string directoryText = DirectoryText(directory);
  const std::string file = fileName != nullptr ? fileName : "";
  const std::string path = directoryText + file;
  const std::string name = file.substr(0, file.find('.'));
  if (FindLoaded(engine, name.c_str(), directoryText.c_str()) != nullptr) return 1;
  if (directoryText.size() > kMaxPathBytes || path.size() > kMaxPathBytes) {
    ReportLoadError(engine, kFileOpenError, path.c_str());
    return 0;
  }
  Script* script = AppendScript(engine);
  port::Owned<char> nameCopy = Duplicate(name.c_str());
  port::Owned<char> directoryCopy = Duplicate(directoryText.c_str());
  if (script == nullptr || nameCopy == nullptr || directoryCopy == nullptr) {
    ReportLoadError(script != nullptr ? script : engine, kAllocFailed, path.c_str());
    return 0;
  }
  script->name = nameCopy.release();
  script->directory = directoryCopy.release();
  return ReadAndParse(script, path) ? 1 : 0;
}

const char* RunDirective(Script* script, const char* directory, const char* position) {
  const char* word = position;
  while (IsBlank(*word)) ++word;
  const char* open = std::strchr(position, '(');
  if (open == nullptr) {
    ReportLoadError(script, kSentenceError, word);
    return nullptr;
  }
  const char* close = FindMatchingBracket(open);
  if (close == nullptr) {
    ReportLoadError(script, kParenthesisError, word);
    return nullptr;
  }
  const port::Owned<char> argument = DirectiveArgument(open, close);
  if (argument == nullptr) {
    ReportLoadError(script, kAllocFailed, word);
    return nullptr;
  }
  if (IsWord(word, kImport)) {
    const size_t directoryLength = directory != nullptr ? std::strlen(directory) : 0;
    if (directoryLength + std::strlen(argument.get()) > kMaxPathBytes) {
      ReportLoadError(script, kFileOpenError, argument.get());  // no file could have that path
    } else {
      ImportFiles(script->engine, directory, argument.get(), script);
    }
  } else if (IsWord(word, kLibrary)) {
    LoadScriptLibrary(script, argument.get());
  } else if (IsWord(word, kOption)) {
    if (CompareNoCase(argument.get(), "explicit") == 0) script->optionExplicit = 1;
  } else {
    ReportLoadError(script, kSentenceError, word);
    return nullptr;
  }
  return close + 1;
}

namespace {

struct ImportSearch {
  Script* engine;
  const char* searchDirectory;
  Script* reporter;
};

void ImportFound(const char16_t* name, void* context) {
  const auto* search = static_cast<const ImportSearch*>(context);
  const port::Owned<char> fileName = ToMultiByte(name);
  if (fileName == nullptr) {
    ReportLoadError(search->reporter, kAllocFailed, search->searchDirectory);
    return;
  }
  LoadScriptFile(search->engine, search->searchDirectory, fileName.get());
}

}  // namespace

int32_t ImportFiles(Script* engine, const char* directory, const char* argument, Script* reporter) {
  if (reporter == nullptr) reporter = engine;
  const std::string pattern = std::string(directory != nullptr ? directory : "") + argument;
  if (pattern.size() >= kMaxPathBytes + 1) return 0;
  // The search folder: the pattern up to and including its last separator.
  size_t folderLength = 0;
  for (size_t i = 0; i < pattern.size();) {
    const int step = CharacterLength(pattern.c_str() + i);
    if (step == 1 && IsSeparator(pattern[i])) folderLength = i + 1;
    i += static_cast<size_t>(step);
  }
  const std::string folder = pattern.substr(0, folderLength);
  const port::Owned<char16_t> widePattern = ToWide(pattern.c_str());
  if (widePattern == nullptr) {
    ReportLoadError(reporter, kAllocFailed, argument);
    return 0;
  }
  ImportSearch search{engine, folder.c_str(), reporter};
  return port::FindFiles(widePattern.get(), &ImportFound, &search) > 0 ? 1 : 0;
}

int32_t LoadScriptLibrary(Script* script, const char* argument) {
  Script* engine = script->engine;
  auto* entry = static_cast<LibraryEntry*>(port::AllocZero(sizeof(LibraryEntry)));
  if (entry == nullptr) {
    ReportLoadError(script, kAllocFailed, argument);
    return 0;
  }
  *LastLibraryLink(engine) = entry;
  const port::Owned<char16_t> wideName = ToWide(argument);
  if (wideName == nullptr) {
    ReportLoadError(script, kAllocFailed, argument);
    return 0;
  }
  entry->module = port::OpenLibrary(wideName.get());
  if (entry->module == nullptr) {
    ReportLoadError(script, kLibraryLoadError, argument);
    return 0;
  }
  return 1;
}

void InstallLoader() {
  SetDirectiveHandler(&RunDirective);
}

}  // namespace keytwine
