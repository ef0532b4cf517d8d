// What the end-to-end driver of the Windows program shares between its smoke tests and its run
// of the check cases: counted results, text conversion, scratch folders and started programs.
#ifndef KEYTWINE_TESTS_PLATFORM_DRIVER_SUPPORT_H
#define KEYTWINE_TESTS_PLATFORM_DRIVER_SUPPORT_H

#include <windows.h>

#include <string>

namespace keytwine::wintest {

struct Results {
  int passed = 0;
  int failed = 0;
};

// Prints "PASS name" or "FAIL name: detail", counts it and returns `ok`.
bool Check(Results& results, bool ok, const std::string& name, const std::string& detail);
// Prints "SKIP name: reason"; counted neither way.
void Skip(const std::string& name, const std::string& reason);

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& utf8);
// The file's bytes ("" when it cannot be read).
std::string ReadBytes(const std::wstring& path);

// A fresh folder under the temporary folder, removed with its files when the object goes away.
class TestFolder {
 public:
  explicit TestFolder(const std::wstring& name);
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;
  ~TestFolder();
  const std::wstring& Path() const { return path_; }  // with a trailing backslash
  bool Write(const std::wstring& name, const std::string& bytes) const;

 private:
  std::wstring path_;
};

// The main window of the process ("KeytwineWndClass"), or null.
HWND FindMainWindow(DWORD processId);

// A started process, ended when the object goes away: by closing its main window, so that it
// removes its hook, and terminated only when that fails (under wine, a process that ends with a
// low-level hook installed breaks the hook chain for every hook installed after it).
class Program {
 public:
  Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program();
  // Starts `exe` in `folder` with the command line `"exe" arguments`; given `output`, it inherits
  // that as its standard output and `error` as its standard error.
  bool Start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
             HANDLE output = nullptr, HANDLE error = nullptr);
  DWORD Id() const { return info_.dwProcessId; }
  // True when the process ended within the timeout; its exit code then goes to `code`.
  bool WaitExit(DWORD timeoutMs, DWORD& code);
  bool Running() const;

 private:
  PROCESS_INFORMATION info_{};
};

// Runs the check cases of the source tree through keytwine-cli.exe in `suiteFolder`.
void RunCheckCases(Results& results, const std::wstring& suiteFolder);

}  // namespace keytwine::wintest

#endif  // KEYTWINE_TESTS_PLATFORM_DRIVER_SUPPORT_H
