#include "tests/platform/driver_support.h"

// windows.h (from driver_support.h) first: tlhelp32.h needs its types.
#include <tlhelp32.h>

#include <cstdio>

namespace keytwine::wintest {

// --- Results ---------------------------------------------------------------------------------

bool Results::Check(bool ok, const std::string& name, const std::string& detail) {
  if (ok) {
    ++passed_;
    std::printf("PASS %s\n", name.c_str());
  } else {
    ++failed_;
    std::printf("FAIL %s: %s\n", name.c_str(), detail.c_str());
  }
  std::fflush(stdout);
  return ok;
}

void Results::Skip(const std::string& name, const std::string& reason) {
  std::printf("SKIP %s: %s\n", name.c_str(), reason.c_str());
  std::fflush(stdout);
}

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void Results::PrintSummary() const {
  std::printf("%d passed, %d failed\n", passed_, failed_);
  std::fflush(stdout);
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), out.data(), size);
  return out;
}

// --- Programs and folders ----------------------------------------------------------------------

bool Program::Start(const std::wstring& exe, const std::wstring& arguments, bool quotePath) {
  Kill();
  std::wstring commandLine = quotePath ? L"\"" + exe + L"\"" : exe;
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  return CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info_) != FALSE;
}

bool Program::WaitExit(DWORD timeoutMs, DWORD* exitCode) {
  if (info_.hProcess == nullptr) return false;
  if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  if (exitCode != nullptr) *exitCode = code;
  return true;
}

bool Program::Running() {
  return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

size_t Program::ThreadCount() const {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  size_t count = 0;
  THREADENTRY32 thread{};
  thread.dwSize = sizeof thread;
  for (BOOL more = Thread32First(snapshot, &thread); more != FALSE;
       more = Thread32Next(snapshot, &thread)) {
    if (thread.th32OwnerProcessID == info_.dwProcessId) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

void Program::End() {
  if (info_.hProcess == nullptr) return;
  if (Running()) {
    if (const HWND window = FindMainWindow(info_.dwProcessId)) {
      PostMessageW(window, WM_CLOSE, 0, 0);
      WaitExit(5000);
    }
  }
  Kill();
}

void Program::Kill() {
  if (info_.hProcess == nullptr) return;
  if (Running()) {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hProcess);
  CloseHandle(info_.hThread);
  info_ = {};
}

TestFolder::TestFolder(const std::wstring& name) {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring root = std::wstring(temp) + L"keytwine-tests\\";
  CreateDirectoryW(root.c_str(), nullptr);
  path_ = root + name + L"-" + std::to_wstring(GetTickCount()) + L"\\";
  CreateDirectoryW(path_.c_str(), nullptr);
}

TestFolder::~TestFolder() {
  for (const std::wstring& file : Files()) DeleteFileW((path_ + file).c_str());
  RemoveDirectoryW(path_.c_str());
}

bool TestFolder::CopyIn(const std::wstring& from, const std::wstring& name) {
  return CopyFileW(from.c_str(), (path_ + name).c_str(), FALSE) != FALSE;
}

bool TestFolder::Write(const std::wstring& name, const std::string& utf8) {
  const HANDLE file = CreateFileW((path_ + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
  return ok != FALSE && written == utf8.size();
}

bool TestFolder::Read(const std::wstring& name, std::string& utf8) const {
  const HANDLE file =
      CreateFileW((path_ + name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  utf8.clear();
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE && got > 0) {
    utf8.append(buffer, got);
  }
  CloseHandle(file);
  return true;
}

std::vector<std::wstring> TestFolder::Files() const {
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((path_ + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") files.push_back(name);
  } while (FindNextFileW(search, &found) != FALSE);
  FindClose(search);
  return files;
}

std::wstring DriverFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full = path;
  return full.substr(0, full.rfind(L'\\') + 1);
}

// --- Windows of the program under test --------------------------------------------------------

namespace {

struct DialogSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<DialogSearch*>(context);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && std::wstring(className) == L"#32770" &&
      IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND WaitForDialog(DWORD processId, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  do {
    DialogSearch search{processId, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) {
      Sleep(200);  // let the box finish its set-up before it is read and pressed
      return search.found;
    }
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

std::wstring WindowText(HWND window) {
  wchar_t text[4096] = {};
  DWORD_PTR length = 0;
  if (SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text),
                          SMTO_ABORTIFHUNG, 2000, &length) == 0) {
    return L"(unreadable)";
  }
  return std::wstring(text, length);
}

std::wstring DialogMessage(HWND dialog) {
  // A message box shows its text in the static control with this identifier.
  constexpr int kMessageTextId = 0xFFFF;
  return WindowText(GetDlgItem(dialog, kMessageTextId));
}

std::string DescribeDialog(DWORD processId) {
  const HWND dialog = WaitForDialog(processId, 0);
  if (dialog == nullptr) return "";
  return "; it shows a message box \"" + Narrow(WindowText(dialog)) + "\": \"" +
         Narrow(DialogMessage(dialog)) + "\"";
}

void PressDialogButton(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

HWND FindMainWindow(DWORD processId) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, L"KeytwineWndClass", L"KeytwineWndClass")) !=
         nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == processId) return window;
  }
  return nullptr;
}

HWND WaitForMainWindow(DWORD processId, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  do {
    if (HWND window = FindMainWindow(processId)) return window;
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

HWND FindLogListBox(HWND mainWindow) {
  return FindWindowExW(mainWindow, nullptr, L"LISTBOX", nullptr);
}

bool ReadListBox(HWND listBox, std::vector<std::wstring>& lines) {
  lines.clear();
  DWORD_PTR count = 0;
  if (SendMessageTimeoutW(listBox, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count) == 0) {
    return false;
  }
  for (DWORD_PTR i = 0; i < count; ++i) {
    wchar_t line[512] = {};
    DWORD_PTR length = 0;
    if (SendMessageTimeoutW(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line),
                            SMTO_ABORTIFHUNG, 2000, &length) == 0) {
      return false;
    }
    lines.emplace_back(line);
  }
  return true;
}

}  // namespace keytwine::wintest
