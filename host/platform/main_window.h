// The main window: invisible in normal mode; in debug mode visible and filled by the debug log
// list box. It installs the keyboard hook on creation and starts the programs of Exec mappings.
#ifndef KEYTWINE_HOST_PLATFORM_MAIN_WINDOW_H
#define KEYTWINE_HOST_PLATFORM_MAIN_WINDOW_H

#include <windows.h>

namespace keytwine {

// Registers the "KeytwineWndClass" window class. False when registration fails.
bool RegisterMainWindowClass(HINSTANCE instance);

// Creates the main window (the hook is installed while it is created) and stores its handle.
HWND CreateMainWindow(HINSTANCE instance);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Opens a program or document with its parameters; a failure shows nothing.
void LaunchProgram(const wchar_t* path, const wchar_t* parameters);

}  // namespace keytwine

#endif  // KEYTWINE_HOST_PLATFORM_MAIN_WINDOW_H
