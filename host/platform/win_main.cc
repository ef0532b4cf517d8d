// The entry point of Keytwine.exe: everything happens in RunApplication.
#include <windows.h>

#include "host/platform/app_shell.h"
#include "host/platform/ce_compat.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/,
                   keytwine::EntryCommandLine /*commandLine*/, int /*showCommand*/) {
  return keytwine::RunApplication(instance);
}
