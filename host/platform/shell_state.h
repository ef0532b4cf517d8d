// The process-wide handles of the Windows program. All are used on the main thread only: the
// keyboard hook runs there too, between messages.
#ifndef KEYTWINE_HOST_PLATFORM_SHELL_STATE_H
#define KEYTWINE_HOST_PLATFORM_SHELL_STATE_H

#include <windows.h>

namespace keytwine {

// The window class and the main window's title, also what a second start looks for.
inline constexpr const wchar_t* kMainWindowClass = L"KeytwineWndClass";
// Held by the running instance for the life of its process.
inline constexpr const wchar_t* kInstanceMutexName = L"KeytwineMutex";

struct ShellHandles {
  // Target of launch requests and owner of launched programs.
  HWND mainWindow = nullptr;
  // The debug log; exists only when debug mode was on at window creation.
  HWND logListBox = nullptr;
  // The keyboard hook, for CallNextHookEx and for removing it.
  HHOOK hook = nullptr;
};

ShellHandles& TheShell();

}  // namespace keytwine

#endif  // KEYTWINE_HOST_PLATFORM_SHELL_STATE_H
