#include "host/platform/error_box.h"

#include <windows.h>

#include "host/platform/error_text.h"
#include "host/platform/wide_text.h"

namespace keytwine {

void ShowErrorBox(const char16_t* text) {
  char16_t shown[kErrorTextCapacity];
  CopyCutText(text, shown, kErrorTextCapacity);
  MessageBoxW(nullptr, AsWide(shown), L"Error", MB_OK | MB_ICONERROR);
}

}  // namespace keytwine
