// TestMarker.exe, started by Exec mappings in the launch test: appends its parameters (the
// command line after its own path) as one line to launched.txt in its current folder, which it
// has from the program that started it.
#include <windows.h>

#include <cstdio>

#include "host/platform/command_line.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  FILE* launched = _wfopen(L"launched.txt", L"ab");
  std::fprintf(launched, "%ls\n", keytwine::SkipProgramPath(GetCommandLineW()));
  return std::fclose(launched);
}
