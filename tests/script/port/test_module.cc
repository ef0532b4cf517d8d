// A module for the port layer's dynamic-library test: one exported C function.
#if defined(_WIN32)
#define KEYTWINE_EXPORT extern "C" __declspec(dllexport)
#else
#define KEYTWINE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

KEYTWINE_EXPORT int keytwine_test_add(int a, int b) {
  return a + b;
}
