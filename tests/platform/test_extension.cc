// KeytwineTestExtension.dll: the extension library that the end-to-end tests load with #library.
// It is built as users build one: the argument accessors compiled in, natives exported with C
// linkage as "_sfunc_" followed by the lower-case script name.
#include <cstdint>

#include "script/runtime/engine.h"
#include "script/text/native_args.h"

// twice(n): 2 * n.
extern "C" __declspec(dllexport) int32_t
    _sfunc_twice(keytwine::Frame*, keytwine::Value* first, keytwine::Value* result, char*) {
  if (first == nullptr) return -2;  // "Too few arguments"
  result->data->integer = 2 * keytwine::ArgToInt(first);
  return 0;
}
