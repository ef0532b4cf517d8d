// The configuration run: the single use the remapper makes of the script engine. It loads the
// configuration script, runs it to completion, ends every script thread, destroys the engine and
// keeps what the script left: the mapping table (compacted) and the settings.
#ifndef KEYTWINE_HOST_CONFIGURATION_H
#define KEYTWINE_HOST_CONFIGURATION_H

#include <cstdint>
#include <string>

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

// Stores the default settings, runs the script `fileName` from `directory` (ending with a path
// separator, or empty) in a new engine, waits for every script thread, destroys the engine and
// compacts the mapping table. Returns 1 when the file was loaded (also when it is empty), 0 when
// it was not (the error has then been delivered to the error sink).
int32_t RunConfigurationScript(const char16_t* directory, const char* fileName);

}  // namespace keytwine

#endif  // KEYTWINE_HOST_CONFIGURATION_H
