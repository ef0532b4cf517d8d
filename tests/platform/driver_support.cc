#include "tests/platform/driver_support.h"

#include <cstdio>

namespace keytwine::wintest {

bool Check(Results& results, bool ok, const std::string& name, const std::string& detail) {
  ++(ok ? results.passed : results.failed);
  std::printf(ok ? "PASS %s\n" : "FAIL %s: %s\n", name.c_str(), detail.c_str());
  std::fflush(stdout);
  return ok;
}

void Skip(const std::string& name, const std::string& reason) {
  std::printf("SKIP %s: %s\n", name.c_str(), reason.c_str());
  std::fflush(stdout);
}

std::string Narrow(const std::wstring& text) {
  const int length = static_cast<int>(text.size());
  std::string out(
      WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), static_cast<int>(out.size()),
                      nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& utf8) {
  const int length = static_cast<int>(utf8.size());
  std::wstring out(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, out.data(), static_cast<int>(out.size()));
  return out;
}

std::string ReadBytes(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, nullptr) &&
         got > 0) {
    bytes.append(buffer, got);
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return bytes;
}

TestFolder::TestFolder(const std::wstring& name) {
  static int made = 0;
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"keytwine-tests\\";
  CreateDirectoryW(path_.c_str(), nullptr);
  path_ += name + L"-" + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++made) + L"\\";
  CreateDirectoryW(path_.c_str(), nullptr);
}

TestFolder::~TestFolder() {
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((path_ + L"*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    DeleteFileW((path_ + found.cFileName).c_str());
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  RemoveDirectoryW(path_.c_str());
}

bool TestFolder::Write(const std::wstring& name, const std::string& bytes) const {
  const HANDLE file = CreateFileW((path_ + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool ok =
      file != INVALID_HANDLE_VALUE &&
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok;
}

HWND FindMainWindow(DWORD processId) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, L"KeytwineWndClass", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == processId) return window;
  }
  return nullptr;
}

bool Program::Start(const std::wstring& exe, const std::wstring& arguments,
                    const std::wstring& folder, HANDLE output, HANDLE error) {
  std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = output != nullptr ? STARTF_USESTDHANDLES : 0;
  startup.hStdOutput = output;
  startup.hStdError = error;
  return CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr,
                        output != nullptr ? CREATE_NO_WINDOW : 0, nullptr, folder.c_str(), &startup,
                        &info_) != FALSE;
}

bool Program::WaitExit(DWORD timeoutMs, DWORD& code) {
  return info_.hProcess != nullptr &&
         WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0 &&
         GetExitCodeProcess(info_.hProcess, &code);
}

bool Program::Running() const {
  return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

Program::~Program() {
  if (info_.hProcess == nullptr) return;
  const HWND window = FindMainWindow(info_.dwProcessId);
  if (Running() && window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
  DWORD code = 0;
  if (!WaitExit(window != nullptr ? 5000 : 0, code)) {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hProcess);
  CloseHandle(info_.hThread);
}

}  // namespace keytwine::wintest
