#include "host/platform/win32_key_effects.h"

#include "host/platform/ce_compat.h"
#include "host/platform/shell_state.h"

namespace keytwine {
namespace {

// Bit of GetAsyncKeyState that says the key is held now.
constexpr SHORT kHeldBit = static_cast<SHORT>(0x8000);

DWORD ConversionModeOnOpenWord(DWORD oldMode) {
  return ConversionModeOnOpen(oldMode);
}

}  // namespace

bool Win32KeyEffects::IsPortrait() {
  // The width is asked first.
  const int width = GetSystemMetrics(SM_CXFULLSCREEN);
  const int height = GetSystemMetrics(SM_CYFULLSCREEN);
  return width < height;
}

void Win32KeyEffects::SendKey(uint8_t vk, bool up) {
  LogKeybdEvent(*this, DebugMode(), vk, up);
  keybd_event(vk, static_cast<BYTE>(kInjectedScanCode), up ? KEYEVENTF_KEYUP : 0, 0);
}

void Win32KeyEffects::ReleaseHeldModifiers() {
  ReleaseHeldModifiersVia(*this);
}

bool Win32KeyEffects::IsKeyDown(uint8_t vk) {
  return (GetAsyncKeyState(vk) & kHeldBit) != 0;
}

void Win32KeyEffects::PostLaunch(uint32_t index) {
  PostMessageW(TheShell().mainWindow, WM_USER, index, 0);
}

void Win32KeyEffects::ToggleIMEMode() {
  WriteLog(u"ToggleIMEMode()");
  ActiveInputMethod ime;
  if (!ime.IsOpen()) {
    ime.SetOpen(true);
    ime.SetConversionFrom(&ConversionModeOnOpenWord);
  } else {
    ime.SetOpen(false);
  }
}

void Win32KeyEffects::WriteLog(const char16_t* line) {
  keytwine::WriteLog(line);
}

}  // namespace keytwine
