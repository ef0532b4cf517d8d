// TestMarker.exe, started by the launch tests through Exec mappings. It appends one line to a
// file, so that the tests can count its starts and read its parameters:
//   TestMarker.exe FILE WORD...   appends "WORD..." (the words joined by spaces) to FILE;
//   TestMarker.exe                appends "no parameters" to marker-noargs.txt beside itself.
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include <string>

namespace {

std::wstring FolderOfProgram() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.rfind(L'\\') + 1);
}

void AppendLine(const std::wstring& file, const std::wstring& line) {
  const HANDLE handle = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  char utf8[2048];
  const int length = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                         utf8, sizeof utf8 - 1, nullptr, nullptr);
  utf8[length] = '\n';
  DWORD written = 0;
  WriteFile(handle, utf8, static_cast<DWORD>(length + 1), &written, nullptr);
  CloseHandle(handle);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) return 1;
  if (count < 2) {
    AppendLine(FolderOfProgram() + L"marker-noargs.txt", L"no parameters");
  } else {
    std::wstring line;
    for (int i = 2; i < count; ++i) line += (i > 2 ? L" " : L"") + std::wstring(words[i]);
    AppendLine(words[1], line);
  }
  LocalFree(words);
  return 0;
}
