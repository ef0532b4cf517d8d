// An extension library for the library cases: natives exported by the naming contract ("_sfunc_"
// and the lower-case script name) with the native calling convention.
#include <cstdint>

#include "script/runtime/engine.h"

using keytwine::Frame;
using keytwine::Value;

// libtwice(n): 2 n; too few arguments without one.
extern "C" __attribute__((visibility("default"))) int32_t _sfunc_libtwice(Frame*, Value* first,
                                                                          Value* result, char*) {
  if (first == nullptr) return -2;
  result->data->integer = first->data->integer * 2;
  return 0;
}

// poke(x): also in the host's table, which is asked first; this one gives 1000.
extern "C" __attribute__((visibility("default"))) int32_t _sfunc_poke(Frame*, Value*, Value* result,
                                                                      char*) {
  result->data->integer = 1000;
  return 0;
}
