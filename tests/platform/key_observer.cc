// The driver's own keyboard hook, key injection and the probe that tells when the program's
// hook is live.
#include <windows.h>
// windows.h first: imm.h needs its types.
#include <imm.h>

#include <cstdio>
#include <mutex>

#include "tests/platform/driver_support.h"

namespace keytwine::wintest {

// --- Keys seen at the end of the hook chain ----------------------------------------------------

std::string Describe(const std::vector<SeenKey>& keys) {
  std::string text;
  char item[48];
  for (const SeenKey& key : keys) {
    std::snprintf(item, sizeof item, "%s0x%x %s 0x%x", text.empty() ? "" : ", ", key.vk,
                  key.up ? "up" : "down", key.scan);
    text += item;
  }
  return text.empty() ? "(nothing)" : text;
}

namespace {

std::mutex g_seenLock;
std::vector<SeenKey> g_seen;
HHOOK g_observerHook = nullptr;
HWND g_observerWindow = nullptr;
HANDLE g_observerThread = nullptr;
DWORD g_observerThreadId = 0;
HANDLE g_observerReady = nullptr;

LRESULT CALLBACK ObserverHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
  if (nCode == HC_ACTION) {
    const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    const bool up = wParam == WM_KEYUP || wParam == WM_SYSKEYUP;
    std::lock_guard<std::mutex> guard(g_seenLock);
    g_seen.push_back({info->vkCode, info->scanCode, up});
  }
  return CallNextHookEx(g_observerHook, nCode, wParam, lParam);
}

constexpr UINT kSetImeMessage = WM_APP + 1;
constexpr UINT kReadImeMessage = WM_APP + 2;
constexpr LRESULT kOpenBit = 0x10000;

LRESULT CALLBACK ObserverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kSetImeMessage && message != kReadImeMessage) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  const HIMC context = ImmGetContext(window);
  if (context == nullptr) return -1;
  DWORD conversion = 0, sentence = 0;
  ImmGetConversionStatus(context, &conversion, &sentence);
  LRESULT result = 0;
  if (message == kSetImeMessage) {
    ImmSetOpenStatus(context, wParam != 0 ? TRUE : FALSE);
    ImmSetConversionStatus(context, static_cast<DWORD>(lParam), sentence);
  } else {
    result = (ImmGetOpenStatus(context) != FALSE ? kOpenBit : 0) | (conversion & 0xFFFF);
  }
  ImmReleaseContext(window, context);
  return result;
}

DWORD WINAPI ObserverThread(void*) {
  const HINSTANCE module = GetModuleHandleW(nullptr);
  g_observerHook = SetWindowsHookExW(WH_KEYBOARD_LL, ObserverHookProc, module, 0);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ObserverWindowProc;
  windowClass.hInstance = module;
  windowClass.lpszClassName = L"KeytwineTestObserver";
  RegisterClassW(&windowClass);
  g_observerWindow = CreateWindowExW(0, L"KeytwineTestObserver", L"Keytwine test observer",
                                     WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100, nullptr,
                                     nullptr, module, nullptr);
  SetEvent(g_observerReady);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (g_observerWindow != nullptr) DestroyWindow(g_observerWindow);
  UnhookWindowsHookEx(g_observerHook);
  return 0;
}

}  // namespace

bool KeyObserver::Start() {
  g_observerReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_observerThread = CreateThread(nullptr, 0, ObserverThread, nullptr, 0, &g_observerThreadId);
  if (g_observerThread == nullptr) return false;
  WaitForSingleObject(g_observerReady, 5000);
  return g_observerHook != nullptr;
}

void KeyObserver::Stop() {
  if (g_observerThread == nullptr) return;
  PostThreadMessageW(g_observerThreadId, WM_QUIT, 0, 0);
  WaitForSingleObject(g_observerThread, 5000);
  CloseHandle(g_observerThread);
  g_observerThread = nullptr;
}

void KeyObserver::Clear() {
  std::lock_guard<std::mutex> guard(g_seenLock);
  g_seen.clear();
}

std::vector<SeenKey> KeyObserver::Seen() const {
  std::lock_guard<std::mutex> guard(g_seenLock);
  return g_seen;
}

std::vector<SeenKey> KeyObserver::WaitFor(size_t count, DWORD timeoutMs) const {
  const DWORD start = GetTickCount();
  while (Seen().size() < count && GetTickCount() - start < timeoutMs) Sleep(20);
  Sleep(250);
  return Seen();
}

HWND KeyObserver::Window() const {
  return g_observerWindow;
}

bool KeyObserver::SetIme(bool open, DWORD conversion) const {
  return SendMessageW(g_observerWindow, kSetImeMessage, open ? 1 : 0, conversion) != -1;
}

bool KeyObserver::ReadIme(bool& open, DWORD& conversion) const {
  const LRESULT status = SendMessageW(g_observerWindow, kReadImeMessage, 0, 0);
  if (status == -1) return false;
  open = (status & kOpenBit) != 0;
  conversion = static_cast<DWORD>(status & 0xFFFF);
  return true;
}

// --- Key injection -----------------------------------------------------------------------------

void SendPhysicalKey(uint8_t vk, uint8_t scan, bool up, DWORD time) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = scan;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  input.ki.time = time;
  SendInput(1, &input, sizeof input);
  Sleep(kKeyGapMs);
}

void TapPhysicalKey(uint8_t vk, uint8_t scan) {
  SendPhysicalKey(vk, scan, false);
  SendPhysicalKey(vk, scan, true);
}

// --- Readiness --------------------------------------------------------------------------------

bool ProbeHooked(KeyObserver& observer) {
  observer.Clear();
  TapPhysicalKey(kProbeVk, kProbeScan);
  const std::vector<SeenKey> seen = observer.WaitFor(2, 1000);
  for (const SeenKey& key : seen) {
    if (key.vk == kProbeVk && !key.up) return key.scan == 0xFF;
  }
  return false;
}

HookTiming WaitUntilHooked(KeyObserver& observer, DWORD since, DWORD timeoutMs) {
  HookTiming timing;
  const DWORD start = GetTickCount();
  do {
    const DWORD probeTime = GetTickCount();
    if (ProbeHooked(observer)) {
      timing.hookedMs = static_cast<long>(probeTime - since);
      return timing;
    }
    timing.lastUnhookedMs = static_cast<long>(probeTime - since);
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return timing;
}

}  // namespace keytwine::wintest
