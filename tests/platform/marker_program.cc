// TestMarker.exe, started by Exec mappings in the launch test: appends its parameters (the
// command line after its own path) as one line to launched.txt beside itself.
#include <windows.h>

#include <string>

#include "host/platform/command_line.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring file = path;
  file = file.substr(0, file.rfind(L'\\') + 1) + L"launched.txt";
  const std::wstring line = keytwine::SkipProgramPath(GetCommandLineW()) + std::wstring(L"\n");
  const HANDLE handle = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  char utf8[2048];
  const int length = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                         utf8, sizeof utf8, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(handle, utf8, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(handle);
  return 0;
}
