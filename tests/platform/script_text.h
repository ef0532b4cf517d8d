// The configuration scripts the tests write: calls of swap and exec in the script language.
#ifndef KEYTWINE_TESTS_PLATFORM_SCRIPT_TEXT_H
#define KEYTWINE_TESTS_PLATFORM_SCRIPT_TEXT_H

#include <cstdint>
#include <string>

namespace keytwine::wintest {

// A physical key: virtual-key code and scan code.
struct Key {
  uint8_t vk;
  uint8_t scan;
};

// `text` as a string literal of the script language, in UTF-8: quoted, with backslashes and
// quotes escaped and percent signs doubled, so that the script sees exactly `text`.
std::string ScriptString(const std::wstring& text);

// One line "swap(orientation, modifier, hold, vk, scan, replacement);".
std::string SwapCall(Key key, uint8_t replacement, int modifier = 0, int hold = 0,
                     int orientation = 0);

// One line "exec(0, 0, 0, vk, scan, path);", or with parameters as the seventh argument.
std::string ExecCall(Key key, const std::wstring& path);
std::string ExecCall(Key key, const std::wstring& path, const std::wstring& parameters);

}  // namespace keytwine::wintest

#endif  // KEYTWINE_TESTS_PLATFORM_SCRIPT_TEXT_H
