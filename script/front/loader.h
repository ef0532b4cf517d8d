// Loading script files into an engine, and the three directives a script may contain:
// #import(pattern) loads further scripts, #library(file) loads an extension module, and
// #option(explicit) makes undeclared names errors in the script that holds it.
#ifndef KEYTWINE_SCRIPT_FRONT_LOADER_H
#define KEYTWINE_SCRIPT_FRONT_LOADER_H

#include <cstdint>

#include "script/runtime/engine.h"

namespace keytwine {

// Longest directory or path text, in bytes, that loading accepts (paths are built in buffers of
// 256 bytes); a longer one is a "File open error".
inline constexpr size_t kMaxPathBytes = 255;

// Loads, registers and parses one script file: directory (a separator is appended unless it ends
// in one; empty means the current folder) and fileName. A script with the same name (the file
// name up to its first '.') and directory, letter case aside, counts as loaded already. Returns
// 1 when the file is loaded (also when it is empty or fails to parse), 0 after reporting why it
// could not be read ("File open error", "Alloc failed").
int32_t LoadScriptFile(Script* engine, const char* directory, const char* fileName);

// Carries out the directive after the '#' at position in script's text (the statement parser's
// directive handler). Returns the byte after its ')' or null after a reported error.
const char* RunDirective(Script* script, const char* directory, const char* position);

// #import: loads every file (not folder) matching directory + argument, wildcards '*' and '?'
// allowed in the last part. Returns 1 when the search found anything, else 0; nothing is
// reported when the joined pattern is 256 bytes or longer (the directive reports such a pattern
// as a "File open error" before it gets here). Running out of memory is reported as the error
// of `reporter` (the importing script; the engine when null).
int32_t ImportFiles(Script* engine, const char* directory, const char* argument,
                    Script* reporter = nullptr);

// #library: appends an entry to the engine's library list and loads the module named by
// argument (the platform's usual search applies). Returns 1, or 0 after "Library load error"
// (the entry stays, without a module) or "Alloc failed".
int32_t LoadScriptLibrary(Script* script, const char* argument);

// Makes RunDirective the statement parser's directive handler.
void InstallLoader();

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_FRONT_LOADER_H
