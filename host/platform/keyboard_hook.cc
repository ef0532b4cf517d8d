#include "host/platform/keyboard_hook.h"

#include <cstdlib>

#include "host/key_decisions.h"
#include "host/platform/ce_compat.h"
#include "host/platform/shell_state.h"
#include "host/platform/win32_key_effects.h"

namespace keytwine {
namespace {

constexpr HookState InitialHookState() {
  HookState state{};
  state.sideModifiers = kHookSeesModifierSides ? 1 : 0;
  return state;
}

// Constructed before WinMain runs, so that the hook allocates nothing.
HookState g_hookState = InitialHookState();
Win32KeyEffects g_effects(TheHostSettings());

KeyEvent EventOf(const KBDLLHOOKSTRUCT& info) {
  return {static_cast<uint32_t>(info.vkCode), static_cast<uint32_t>(info.scanCode),
          static_cast<uint32_t>(info.flags), static_cast<uint32_t>(info.time),
          static_cast<uint32_t>(info.dwExtraInfo)};
}

}  // namespace

LRESULT CALLBACK KeyboardHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
  const HHOOK hook = TheShell().hook;
  // Only nCode 0 (HC_ACTION) carries an event to decide on.
  if (nCode != 0) return CallNextHookEx(hook, nCode, wParam, lParam);
  const KeyEvent event = EventOf(*reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam));
  const Remapper remapper{g_hookState, TheMapTable(), TheHostSettings(), g_effects};
  if (KeyboardHookDecide(remapper, nCode, static_cast<uint32_t>(wParam), event) ==
      Verdict::Swallow) {
    return 1;
  }
  return CallNextHookEx(hook, 0, wParam, lParam);
}

uint32_t StartupDelay() {
  return StartupDelayFromNumber(_wtol(ProgramArguments()));
}

void Hook() {
  Sleep(StartupDelay());
  TheShell().hook = SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHookProc, HookModule(), 0);
}

void Unhook() {
  ShellHandles& shell = TheShell();
  if (shell.hook != nullptr) {
    UnhookWindowsHookEx(shell.hook);
    shell.hook = nullptr;
  }
}

}  // namespace keytwine
