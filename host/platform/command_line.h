// The start-up delay on the command line. Free of platform calls, so that it is tested natively.
#ifndef KEYTWINE_HOST_PLATFORM_COMMAND_LINE_H
#define KEYTWINE_HOST_PLATFORM_COMMAND_LINE_H

#include <cstdint>

namespace keytwine {

// Skips the program's path at the start of a desktop command line, quoted ("C:\a b\k.exe") or
// not, and the blanks after it; what remains are the arguments. The device's command line holds
// only the arguments and is not passed through here.
template <typename Char>
const Char* SkipProgramPath(const Char* commandLine) {
  if (commandLine == nullptr) return nullptr;
  const Char* p = commandLine;
  if (*p == Char('"')) {
    ++p;
    while (*p != Char(0) && *p != Char('"')) ++p;
    if (*p == Char('"')) ++p;
  } else {
    while (*p != Char(0) && *p != Char(' ') && *p != Char('\t')) ++p;
  }
  while (*p == Char(' ') || *p == Char('\t')) ++p;
  return p;
}

// The delay in milliseconds for the number read from the command line: a negative number would
// become a wait of weeks as an unsigned count, so it counts as no delay.
inline uint32_t StartupDelayFromNumber(long number) {
  return number < 0 ? 0 : static_cast<uint32_t>(number);
}

}  // namespace keytwine

#endif  // KEYTWINE_HOST_PLATFORM_COMMAND_LINE_H
