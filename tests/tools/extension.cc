// An extension library for the end-to-end tests, built the way users build one: it compiles the
// argument accessors in and exports natives named "_sfunc_" + the lower-case script name.
#include <cstdio>
#include <cstring>

#include "script/runtime/engine.h"
#include "script/text/native_args.h"

#if defined(_WIN32)
#define EXTENSION_EXPORT extern "C" __declspec(dllexport)
#else
#define EXTENSION_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using keytwine::Frame;
using keytwine::Value;

// twice(n): 2 * n, whatever type n has.
EXTENSION_EXPORT int32_t _sfunc_twice(Frame*, Value* first, Value* result, char*) {
  if (first == nullptr) return -2;
  result->data->integer = 2 * keytwine::ArgToInt(first);
  return 0;
}

// textlength(s): the length of the argument's text.
EXTENSION_EXPORT int32_t _sfunc_textlength(Frame*, Value* first, Value* result, char*) {
  const keytwine::port::Owned<char> text = keytwine::ArgToText(first);
  result->data->integer = text != nullptr ? static_cast<int32_t>(std::strlen(text.get())) : 0;
  return 0;
}

// broken(): fails with a message.
EXTENSION_EXPORT int32_t _sfunc_broken(Frame*, Value*, Value*, char* message) {
  std::snprintf(message, 256, "%s", "the device said no");  // the buffer holds 256 bytes
  return -1;
}
