#include "tests/platform/script_text.h"

#include <cstdio>

#include "tests/platform/driver_support.h"

namespace keytwine::wintest {

std::string ScriptString(const std::wstring& text) {
  std::string literal = "\"";
  for (const char c : Narrow(text)) {
    if (c == '\\' || c == '"') literal += '\\';
    if (c == '%') literal += '%';
    literal += c;
  }
  return literal + "\"";
}

std::string SwapCall(Key key, uint8_t replacement, int modifier, int hold, int orientation) {
  char line[96];
  std::snprintf(line, sizeof line, "swap(%d, %d, %d, 0x%x, 0x%x, 0x%x);\n", orientation, modifier,
                hold, key.vk, key.scan, replacement);
  return line;
}

namespace {

// "exec(0, 0, 0, vk, scan, " without the rest.
std::string ExecHead(Key key) {
  char head[48];
  std::snprintf(head, sizeof head, "exec(0, 0, 0, 0x%x, 0x%x, ", key.vk, key.scan);
  return head;
}

}  // namespace

std::string ExecCall(Key key, const std::wstring& path) {
  return ExecHead(key) + ScriptString(path) + ");\n";
}

std::string ExecCall(Key key, const std::wstring& path, const std::wstring& parameters) {
  return ExecHead(key) + ScriptString(path) + ", " + ScriptString(parameters) + ");\n";
}

}  // namespace keytwine::wintest
