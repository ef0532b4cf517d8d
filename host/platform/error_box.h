// How the Windows program shows errors: every text delivered to the `error` native, the
// engine's error reports included, in a message box titled "Error".
#ifndef KEYTWINE_HOST_PLATFORM_ERROR_BOX_H
#define KEYTWINE_HOST_PLATFORM_ERROR_BOX_H

namespace keytwine {

// Shows the text (cut to the box's buffer at a character boundary) with the error icon and an
// OK button, and returns when the user has closed the box. Any thread may call it.
void ShowErrorBox(const char16_t* text);

}  // namespace keytwine

#endif  // KEYTWINE_HOST_PLATFORM_ERROR_BOX_H
