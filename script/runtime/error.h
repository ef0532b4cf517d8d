// Error reporting: every error of the script engine, in loading, parsing and running alike,
// becomes one line of text that is delivered to the host's error native ("_sfunc_error" in the
// native table handed over by InstallNativeTable, engine.h). Reporting stops nothing by itself:
// the caller returns its failure value and the failure travels outward.
#ifndef KEYTWINE_SCRIPT_RUNTIME_ERROR_H
#define KEYTWINE_SCRIPT_RUNTIME_ERROR_H

#include <cstddef>
#include <cstdint>

#include "script/runtime/engine.h"
#include "script/runtime/report_texts.h"

namespace keytwine {

// Longest report text, terminating NUL included; longer reports are cut at a character boundary.
inline constexpr size_t kReportCapacity = 1024;
// Name of the host native that receives every report.
inline constexpr const char kErrorNativeName[] = "_sfunc_error";

// Reports one line for frame (null: nothing is reported; nothing either while the runtime is
// stopping).
//   continuation 0: "### Error: " + message + " : " + where
//   continuation 1: "        at " + where          (message ignored)
// where = script name, "." when both are present, the function name of the outermost frame;
// then for a position inside the script's source ":(" + line + ") : " + the line's text without
// leading blanks, or for any other position " : " + the position's text.
void ReportError(Frame* frame, const char* message, const char* position, int32_t continuation = 0);

// Reports name + suffix as the message, e.g. ("x", " :Declaration overlaps").
void ReportNamedError(Frame* frame, const char* name, const char* suffix, const char* position);

// The text ReportError would deliver, written into out (always terminated, cut at a character
// boundary). Returns the length written. Exposed so the formatting can be checked on its own.
size_t FormatReport(const Frame* frame, const char* message, const char* position,
                    int32_t continuation, char* out, size_t outSize);

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_RUNTIME_ERROR_H
