// The entry point of Keytwine.exe: everything happens in RunApplication, but for --version.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "host/platform/app_shell.h"
#include "host/platform/ce_compat.h"
#include "keytwine_version.h"

namespace keytwine {
namespace {

constexpr wchar_t kVersionOption[] = L"--version";

bool AskedForVersion(const wchar_t* arguments) {
  const size_t length = std::wcslen(kVersionOption);
  if (arguments == nullptr || std::wcsncmp(arguments, kVersionOption, length) != 0) return false;
  const wchar_t after = arguments[length];
  return after == L'\0' || after == L' ' || after == L'\t';
}

#ifndef _WIN32_WCE
// The device has no standard handles; on the desktop they are set when the output was redirected.
bool WriteToStandardOutput(const char* text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return false;
  const DWORD length = static_cast<DWORD>(std::strlen(text));
  DWORD written = 0;
  return WriteFile(output, text, length, &written, nullptr) != FALSE && written == length;
}
#endif

// Without a console to print on, the version goes to standard output when it was given one,
// else to a message box. Nothing else starts: no instance check, no configuration, no hook.
void TellVersion() {
#ifndef _WIN32_WCE
  if (WriteToStandardOutput("Keytwine " KEYTWINE_VERSION "\r\n")) return;
#endif
  MessageBoxW(nullptr, L"Keytwine " KEYTWINE_VERSION, L"Keytwine", MB_OK | MB_ICONINFORMATION);
}

}  // namespace
}  // namespace keytwine

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/,
                   keytwine::EntryCommandLine /*commandLine*/, int /*showCommand*/) {
  if (keytwine::AskedForVersion(keytwine::ProgramArguments())) {
    keytwine::TellVersion();
    return 0;
  }
  return keytwine::RunApplication(instance);
}
