// How native functions read their arguments: as an integer, a multibyte string or a wide string,
// whatever the argument's type. The host's natives use these, and an extension library loaded
// with #library compiles native_args.cc in to read the Value records it is handed.
//
// An argument is a Value of the chain the native receives (argument n + 1 is the next link of
// argument n); an absent argument is null. Every returned string belongs to the caller.
#ifndef KEYTWINE_SCRIPT_TEXT_NATIVE_ARGS_H
#define KEYTWINE_SCRIPT_TEXT_NATIVE_ARGS_H

#include <cstdint>

#include "script/port/port.h"
#include "script/runtime/engine.h"

namespace keytwine {

// The argument as a signed 32-bit integer: an integer's payload, or a string's leading decimal
// number with an optional sign (0 when it has none). 0 for an absent argument or one without data.
int32_t ArgToInt(const Value* argument);

// A new copy of the argument's text in the system code page: a string's text, or an integer's
// decimal form. An absent argument or one without data gives a new empty string. Null only when
// memory runs out.
port::Owned<char> ArgToText(const Value* argument);

// ArgToText converted to UTF-16. An absent argument or one without data gives a new empty wide
// string. Null only when memory runs out.
port::Owned<char16_t> ArgToWide(const Value* argument);

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_TEXT_NATIVE_ARGS_H
