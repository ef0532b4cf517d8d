// The six native functions through which the configuration script reaches the remapper:
// `swap` and `exec` append a mapping, `setholdduration`, `useimetoggle` and `debugmode` set the
// settings, and `error` shows a text (every script error report arrives through it).
#ifndef KEYTWINE_HOST_NATIVES_H
#define KEYTWINE_HOST_NATIVES_H

#include <cstdint>

#include "script/runtime/engine.h"

namespace keytwine {

struct ConfigurationRecord;

int32_t _sfunc_error(Frame* frame, Value* first, Value* result, char* message);
int32_t _sfunc_swap(Frame* frame, Value* first, Value* result, char* message);
int32_t _sfunc_exec(Frame* frame, Value* first, Value* result, char* message);
int32_t _sfunc_setholdduration(Frame* frame, Value* first, Value* result, char* message);
int32_t _sfunc_useimetoggle(Frame* frame, Value* first, Value* result, char* message);
int32_t _sfunc_debugmode(Frame* frame, Value* first, Value* result, char* message);

// The host's static native table: the six rows in the order error, swap, exec, setholdduration,
// useimetoggle, debugmode. Their hash words are filled by the engine-wide initialisation.
inline constexpr int32_t kHostNativeCount = 6;
NativeEntry* HostNativeTable();

// Longest text `error` shows, in UTF-16 units, with room for the terminating 0.
inline constexpr int32_t kErrorTextCapacity = 1024;

// Hands a text to the error sink as `error` does: cut to kErrorTextCapacity - 1 units without
// splitting a surrogate pair.
void DeliverError(const char16_t* text);

// While a record is set, swap and exec append each entry's origin to it and error appends each
// text with its place. Set it only while no script runs; null stops the recording.
void SetConfigurationRecord(ConfigurationRecord* record);

}  // namespace keytwine

#endif  // KEYTWINE_HOST_NATIVES_H
