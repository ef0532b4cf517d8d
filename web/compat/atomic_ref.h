// std::atomic_ref for emscripten's C++ library, which lacks it before version 14: the load and
// store the engine uses, on the compiler's atomic built-ins. The wasm build includes this header
// in every file (see web/CMakeLists.txt); elsewhere the library's own atomic_ref is used.
#ifndef KEYTWINE_WEB_COMPAT_ATOMIC_REF_H
#define KEYTWINE_WEB_COMPAT_ATOMIC_REF_H

#ifdef __cplusplus
#include <atomic>

#if !defined(__cpp_lib_atomic_ref)
namespace std {

template <typename T>
class atomic_ref {
 public:
  explicit atomic_ref(T& object) : object_(&object) {}
  T load(memory_order order = memory_order_seq_cst) const {
    return __atomic_load_n(object_, static_cast<int>(order));
  }
  void store(T value, memory_order order = memory_order_seq_cst) const {
    __atomic_store_n(object_, value, static_cast<int>(order));
  }

 private:
  T* object_;
};

}  // namespace std
#endif
#endif

#endif  // KEYTWINE_WEB_COMPAT_ATOMIC_REF_H
