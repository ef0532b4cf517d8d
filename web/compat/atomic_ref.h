// std::atomic_ref for emscripten's C++ library, which lacks it before version 14: the load, store
// and compare-exchange the engine uses, on the compiler's atomic built-ins. The wasm build includes
// this header in every file (see web/CMakeLists.txt); elsewhere the library's own atomic_ref is
// used.
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
  // On failure the order loses its release part, as the standard's single-order form does.
  bool compare_exchange_strong(T& expected, T desired,
                               memory_order order = memory_order_seq_cst) const {
    const memory_order failure = order == memory_order_acq_rel   ? memory_order_acquire
                                 : order == memory_order_release ? memory_order_relaxed
                                                                 : order;
    return __atomic_compare_exchange_n(object_, &expected, desired, false, static_cast<int>(order),
                                       static_cast<int>(failure));
  }

 private:
  T* object_;
};

}  // namespace std
#endif
#endif

#endif  // KEYTWINE_WEB_COMPAT_ATOMIC_REF_H
