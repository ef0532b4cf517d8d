// The program around the remapper: one instance only, the configuration run, the main window
// with the keyboard hook, and the message loop.
#ifndef KEYTWINE_HOST_PLATFORM_APP_SHELL_H
#define KEYTWINE_HOST_PLATFORM_APP_SHELL_H

#include <windows.h>

#include <cstdint>

namespace keytwine {

// Runs the configuration script beside the executable. 1 when it was loaded, else 0 (the error
// has then been shown).
int32_t RunConfiguration();

// Everything WinMain does; returns the program's exit code.
int RunApplication(HINSTANCE instance);

}  // namespace keytwine

#endif  // KEYTWINE_HOST_PLATFORM_APP_SHELL_H
