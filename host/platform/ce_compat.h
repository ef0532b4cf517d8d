// The few places where the device (Windows CE) and desktop Windows differ. Everything else in
// the program uses the wide-character calls that both have.
#ifndef KEYTWINE_HOST_PLATFORM_CE_COMPAT_H
#define KEYTWINE_HOST_PLATFORM_CE_COMPAT_H

#include <windows.h>
// windows.h first: imm.h needs its types.
#include <imm.h>

#include "host/platform/command_line.h"

namespace keytwine {

// The command line as the entry point receives it: wide on the device, narrow on the desktop
// (where the program reads its arguments with GetCommandLineW instead).
#ifdef _WIN32_WCE
using EntryCommandLine = LPWSTR;
#else
using EntryCommandLine = LPSTR;
#endif

// The program's arguments. The device's GetCommandLineW holds only them; the desktop's starts
// with the program's path, which is skipped.
inline const wchar_t* ProgramArguments() {
#ifdef _WIN32_WCE
  return GetCommandLineW();
#else
  return SkipProgramPath(GetCommandLineW());
#endif
}

// Whether the low-level keyboard hook gets the physical Ctrl and Shift keys by side (0xA2/0xA3,
// 0xA0/0xA1), as on desktop Windows, rather than as 0x11 and 0x10, as on the device.
#ifdef _WIN32_WCE
inline constexpr bool kHookSeesModifierSides = false;
#else
inline constexpr bool kHookSeesModifierSides = true;
#endif

// The module handle given with the low-level keyboard hook: none on the device; desktop
// Windows refuses a system-wide hook without one on some versions.
inline HINSTANCE HookModule() {
#ifdef _WIN32_WCE
  return nullptr;
#else
  return GetModuleHandleW(nullptr);
#endif
}

// The input method that the IME toggle acts on. The device's input method manager takes a null
// context as "the active one"; on the desktop a null context does nothing, so the toggle acts
// on the foreground window's input method: through its default IME window, which reaches windows
// of other processes, or else through its input context, which serves the program's own windows.
class ActiveInputMethod {
 public:
#ifdef _WIN32_WCE
  bool IsOpen() {
    return ImmGetOpenStatus(nullptr) != FALSE;
  }
  void SetOpen(bool open) {
    ImmSetOpenStatus(nullptr, open ? TRUE : FALSE);
  }
  void SetConversionFrom(DWORD (*newMode)(DWORD oldMode)) {
    DWORD conversion = 0, sentence = 0;
    ImmGetConversionStatus(nullptr, &conversion, &sentence);
    ImmSetConversionStatus(nullptr, newMode(conversion), sentence);
  }
#else
  ActiveInputMethod() : window_(GetForegroundWindow()) {
    if (window_ == nullptr) return;
    imeWindow_ = ImmGetDefaultIMEWnd(window_);
    if (imeWindow_ == nullptr) context_ = ImmGetContext(window_);
  }
  ~ActiveInputMethod() {
    if (context_ != nullptr) ImmReleaseContext(window_, context_);
  }
  ActiveInputMethod(const ActiveInputMethod&) = delete;
  ActiveInputMethod& operator=(const ActiveInputMethod&) = delete;

  bool IsOpen() {
    if (context_ != nullptr) return ImmGetOpenStatus(context_) != FALSE;
    return Control(kGetOpenStatus, 0) != 0;
  }
  void SetOpen(bool open) {
    if (context_ != nullptr) {
      ImmSetOpenStatus(context_, open ? TRUE : FALSE);
    } else {
      Control(kSetOpenStatus, open ? 1 : 0);
    }
  }
  // The IME window's request carries no sentence mode, so that stays as it is either way.
  void SetConversionFrom(DWORD (*newMode)(DWORD oldMode)) {
    if (context_ != nullptr) {
      DWORD conversion = 0, sentence = 0;
      ImmGetConversionStatus(context_, &conversion, &sentence);
      ImmSetConversionStatus(context_, newMode(conversion), sentence);
    } else {
      Control(kSetConversionMode, newMode(static_cast<DWORD>(Control(kGetConversionMode, 0))));
    }
  }

 private:
  // WM_IME_CONTROL requests.
  static constexpr WPARAM kGetConversionMode = 0x0001;
  static constexpr WPARAM kSetConversionMode = 0x0002;
  static constexpr WPARAM kGetOpenStatus = 0x0005;
  static constexpr WPARAM kSetOpenStatus = 0x0006;
  // The toggle runs inside the keyboard hook: never wait long for another program.
  static constexpr UINT kTimeoutMs = 200;

  DWORD_PTR Control(WPARAM request, LPARAM value) {
    DWORD_PTR result = 0;
    if (imeWindow_ == nullptr) return 0;
    SendMessageTimeoutW(imeWindow_, WM_IME_CONTROL, request, value, SMTO_BLOCK | SMTO_ABORTIFHUNG,
                        kTimeoutMs, &result);
    return result;
  }

  HWND window_ = nullptr;
  HWND imeWindow_ = nullptr;
  HIMC context_ = nullptr;
#endif
};

}  // namespace keytwine

#endif  // KEYTWINE_HOST_PLATFORM_CE_COMPAT_H
