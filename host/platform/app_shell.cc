#include "host/platform/app_shell.h"

#include <string>

#include "host/configuration.h"
#include "host/platform/error_box.h"
#include "host/platform/keyboard_hook.h"
#include "host/platform/main_window.h"
#include "host/platform/shell_state.h"
#include "host/platform/wide_text.h"

namespace keytwine {
namespace {

// A second start offers to end the running instance; it never runs the configuration itself.
void OfferToQuitRunningInstance() {
  const int answer = MessageBoxW(nullptr, L"Are you sure you want to quit Keytwine?", L"Keytwine",
                                 MB_YESNO | MB_ICONQUESTION);
  if (answer != IDYES) return;
  const HWND running = FindWindowW(kMainWindowClass, kMainWindowClass);
  if (running != nullptr) PostMessageW(running, WM_QUIT, 0, 0);
}

int RunMessageLoop() {
  MSG message{};
  BOOL result;
  while ((result = GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (result == -1) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int32_t RunConfiguration() {
  // One unit more than the call may fill, so the path is terminated even when it was cut.
  wchar_t modulePath[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
  const std::u16string directory = DirectoryOfModule(AsChar16(modulePath));
  return RunConfigurationScript(directory.c_str(), kConfigurationFileName);
}

int RunApplication(HINSTANCE instance) {
  // Owned for the rest of the process: never released or closed.
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
  if (mutex == nullptr) return 0;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    OfferToQuitRunningInstance();
    return 0;
  }
  if (!RegisterMainWindowClass(instance)) return 0;
  SetErrorSink(&ShowErrorBox);
  if (RunConfiguration() == 0) return 0;
  CreateMainWindow(instance);
  const int exitCode = RunMessageLoop();
  // A WM_QUIT posted by a second start ends the loop without WM_DESTROY: remove the hook here
  // too, rather than leave a system-wide hook to the end of the process.
  Unhook();
  return exitCode;
}

}  // namespace keytwine
