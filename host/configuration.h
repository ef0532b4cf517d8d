// The configuration run: the single use the remapper makes of the script engine. It loads the
// configuration script, runs it to completion, ends every script thread, destroys the engine and
// keeps what the script left: the mapping table (compacted) and the settings.
#ifndef KEYTWINE_HOST_CONFIGURATION_H
#define KEYTWINE_HOST_CONFIGURATION_H

#include <cstdint>
#include <string>
#include <vector>

#include "script/front/parser.h"

namespace keytwine {

// The configuration script's name, looked for in the executable's folder.
inline constexpr const char* kConfigurationFileName = "Keytwine.ns";

// Receives every text delivered to the `error` native (each script error report, too). On the
// device it is a message box titled "Error"; the command-line tool prints to standard error.
using ErrorSink = void (*)(const char16_t* text);
void SetErrorSink(ErrorSink sink);

// The folder of an executable: its path cut after the last backslash (which stays); a path
// without a backslash gives the empty text.
std::u16string DirectoryOfModule(const char16_t* modulePath);

// A place in a loaded script: its folder and name as the engine keeps them (the name is the file
// name up to its first '.'), a line counted from 1 (0 when the place is not in its text) and
// that line's text from its first non-blank byte.
struct SourcePlace {
  std::string directory;
  std::string script;
  int32_t line = 0;
  std::string text;
};

// Where a swap or exec call added an entry, with the codes as the script wrote them (the table
// keeps their low 8 bits only).
struct EntryOrigin {
  SourcePlace place;
  int32_t vkCode = 0;
  int32_t scanCode = 0;
  int32_t keys[4] = {};
};

// A text given to error() (each script error report, too) and the place of the call that gave
// it; for a report, the place where the reporting frame stood.
struct ErrorOrigin {
  SourcePlace place;
  std::string text;
};

// What a configuration run records when it is handed one: the origin of every table entry in
// table order and every error text. `directives`, when set, handles the script's directives in
// place of the loader (and calls RunDirective itself); `inspect`, when set, sees the engine after
// every script thread has ended, while the parsed scripts are still there.
struct ConfigurationRecord {
  std::vector<EntryOrigin> entries;
  std::vector<ErrorOrigin> errors;
  DirectiveHandler directives = nullptr;
  void (*inspect)(const Script* engine, void* context) = nullptr;
  void* context = nullptr;
};

// Stores the default settings, runs the script `fileName` from `directory` (ending with a path
// separator, or empty) in a new engine, waits for every script thread, destroys the engine and
// compacts the mapping table. Returns 1 when the file was loaded (also when it is empty), 0 when
// it was not (the error has then been delivered to the error sink). With a record, the run also
// fills it as described there.
int32_t RunConfigurationScript(const char16_t* directory, const char* fileName,
                               ConfigurationRecord* record = nullptr);

}  // namespace keytwine

#endif  // KEYTWINE_HOST_CONFIGURATION_H
