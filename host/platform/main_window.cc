#include "host/platform/main_window.h"

#include <shellapi.h>

#include <cstdint>

#include "host/map_table.h"
#include "host/platform/keyboard_hook.h"
#include "host/platform/shell_state.h"
#include "host/platform/wide_text.h"

namespace keytwine {
namespace {

// WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_SORT.
constexpr DWORD kLogListBoxStyle = 0x50A00003;

bool DebugMode() {
  return TheHostSettings().debugMode.load(std::memory_order_relaxed) != 0;
}

void AddLogLine(void* /*context*/, const char16_t* line) {
  SendMessageW(TheShell().logListBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(AsWide(line)));
}

void CreateLogListBox(HWND window, const CREATESTRUCTW& creation) {
  RECT client{};
  GetClientRect(window, &client);
  TheShell().logListBox =
      CreateWindowExW(0, L"LISTBOX", L"", kLogListBoxStyle, 0, 0, client.right - client.left,
                      client.bottom - client.top, window, nullptr, creation.hInstance, nullptr);
  SetLogSink({&AddLogLine, nullptr});
  WriteLog(u"Hook()");
}

void OnCreate(HWND window, const CREATESTRUCTW& creation) {
  // Stored now rather than when creation returns: the hook may post launch requests as soon as
  // it is installed below.
  TheShell().mainWindow = window;
  if (DebugMode()) CreateLogListBox(window, creation);
  Hook();
}

void OnSize(HWND window, WPARAM kind) {
  if (!DebugMode()) return;
  if (kind == SIZE_MINIMIZED) PostMessageW(window, WM_CLOSE, 0, 0);
  RECT client{};
  GetClientRect(window, &client);
  SetWindowPos(TheShell().logListBox, nullptr, 0, 0, client.right - client.left,
               client.bottom - client.top, SWP_NOMOVE);
}

// Any program can post WM_USER to this window: only an index of an Exec entry starts anything.
void OnLaunchRequest(WPARAM index) {
  if (index > UINT32_MAX) return;
  const MapEntry* entry = TheMapTable().Find(static_cast<uint32_t>(index));
  if (entry == nullptr || entry->type != Exec) return;
  LaunchProgram(AsWide(entry->path), AsWide(entry->parameters));
}

}  // namespace

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSW windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWndProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = kMainWindowClass;
  return RegisterClassW(&windowClass) != 0;
}

HWND CreateMainWindow(HINSTANCE instance) {
  HWND window = nullptr;
  if (DebugMode()) {
    window = CreateWindowExW(0, kMainWindowClass, kMainWindowClass, WS_VISIBLE, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                             instance, nullptr);
  } else {
    // Style 0 and no size: the window stays invisible.
    window = CreateWindowExW(0, kMainWindowClass, kMainWindowClass, 0, 0, 0, 0, 0, nullptr, nullptr,
                             instance, nullptr);
  }
  TheShell().mainWindow = window;
  return window;
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(window, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
      return 0;
    case WM_DESTROY:
      Unhook();
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      OnSize(window, wParam);
      return 0;
    case WM_USER:
      OnLaunchRequest(wParam);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void LaunchProgram(const wchar_t* path, const wchar_t* parameters) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.hwnd = TheShell().mainWindow;
  info.lpVerb = L"Open";
  info.lpFile = path;
  info.lpParameters = parameters;
  info.lpDirectory = nullptr;
  info.nShow = SW_SHOWNORMAL;
  info.hInstApp = GetModuleHandleW(nullptr);
  ShellExecuteExW(&info);
}

}  // namespace keytwine
