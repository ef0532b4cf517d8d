// The program's entry point. Compiled into each executable (the device program and its
// table-driven test variant), which differ only in the configuration run they link.
#include <windows.h>

#include "host/platform/app_shell.h"
#include "host/platform/ce_compat.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/,
                   keytwine::EntryCommandLine /*commandLine*/, int /*showCommand*/) {
  return keytwine::RunApplication(instance);
}
