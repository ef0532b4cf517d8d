// Differences between Windows CE and desktop Windows that the Win32 port layer hides. Only
// wide-character ("W") functions are used anywhere, since Windows CE has no "A" functions.
#ifndef KEYTWINE_SCRIPT_PORT_CE_COMPAT_H
#define KEYTWINE_SCRIPT_PORT_CE_COMPAT_H

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace keytwine::port::ce {

// Looks up an exported symbol by its (ASCII) name. Windows CE exports symbols by wide name and
// offers GetProcAddressW; desktop Windows has only the narrow GetProcAddress (no "W" form).
inline FARPROC GetProcAddressCompat(HMODULE module, const char* name) {
#if defined(_WIN32_WCE)
  WCHAR small[128];
  WCHAR* wide = small;
  const int units = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (units <= 0) return nullptr;
  if (units > static_cast<int>(sizeof small / sizeof small[0])) {
    wide = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, static_cast<UINT>(units) * sizeof(WCHAR)));
    if (wide == nullptr) return nullptr;
  }
  FARPROC proc = nullptr;
  if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, units) == units) {
    proc = GetProcAddressW(module, wide);
  }
  if (wide != small) LocalFree(wide);
  return proc;
#else
  return GetProcAddress(module, name);
#endif
}

// Windows CE has no SwitchToThread; Sleep(0) gives up the time slice on both.
inline void YieldTimeSlice() {
  Sleep(0);
}

}  // namespace keytwine::port::ce

#endif  // KEYTWINE_SCRIPT_PORT_CE_COMPAT_H
