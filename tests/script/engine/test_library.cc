// An extension library for the executor's tests: natives exported by the naming contract
// ("_sfunc_" + the lower-case script name) with the native calling convention.
#include <cstdint>

#include "script/runtime/engine.h"

#if defined(_WIN32)
#define KEYTWINE_EXPORT extern "C" __declspec(dllexport)
#else
#define KEYTWINE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using keytwine::Frame;
using keytwine::Value;

// libtwice(n): 2 n for an integer argument, -2 without one.
KEYTWINE_EXPORT int32_t _sfunc_libtwice(Frame* /*frame*/, Value* first, Value* result,
                                        char* /*message*/) {
  if (first == nullptr || first->data == nullptr) return -2;
  if (first->data->type != keytwine::kTypeInteger) return -1;
  result->data->integer = first->data->integer * 2;
  return 0;
}

// need(n): also in the host's table, which is asked first; this one answers 1000.
KEYTWINE_EXPORT int32_t _sfunc_need(Frame* /*frame*/, Value* /*first*/, Value* result,
                                    char* /*message*/) {
  result->data->integer = 1000;
  return 0;
}
