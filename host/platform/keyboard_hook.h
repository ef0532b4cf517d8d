// The low-level keyboard hook: installing it after the start-up delay, removing it, and the
// hook procedure that hands every key event to the key decisions.
#ifndef KEYTWINE_HOST_PLATFORM_KEYBOARD_HOOK_H
#define KEYTWINE_HOST_PLATFORM_KEYBOARD_HOOK_H

#include <windows.h>

#include <cstdint>

namespace keytwine {

// Returns 1 to swallow the event, else the next hook's result.
LRESULT CALLBACK KeyboardHookProc(int nCode, WPARAM wParam, LPARAM lParam);

// The start-up delay in milliseconds that the command line asks for (0 for none).
uint32_t StartupDelay();

// Waits for the start-up delay, then installs KeyboardHookProc and stores its handle.
void Hook();

// Removes the hook, if one is installed.
void Unhook();

}  // namespace keytwine

#endif  // KEYTWINE_HOST_PLATFORM_KEYBOARD_HOOK_H
