#include "tools/table_text.h"

#include <charconv>
#include <cstring>
#include <istream>
#include <ostream>
#include <string_view>

#include "host/utf8.h"
#include "tools/number_text.h"

namespace keytwine {
namespace {

// The text is built in one string with to_chars: a stream per number costs more than the rest
// of printing together.
template <typename Number>
void AppendNumber(std::string& out, Number value, int base = 10) {
  char digits[16];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value, base);
  out.append(digits, end.ptr);
}

void AppendHex(std::string& out, uint32_t value) {
  out += "0x";
  AppendNumber(out, value, 16);
}

void AppendCommonFields(std::string& out, const MapEntry& e) {
  out += " orientation=";
  AppendNumber(out, e.orientation);
  out += " modifier=";
  AppendNumber(out, e.modifier);
  out += " hold=";
  AppendNumber(out, static_cast<int32_t>(e.hold));
  out += " vk=";
  AppendHex(out, e.vkCode);
  out += " scan=";
  AppendHex(out, e.scanCode);
}

void AppendSetting(std::string& out, std::string_view name, auto value) {
  out += name;
  out += '=';
  AppendNumber(out, value);
  out += '\n';
}

void AppendEntry(std::string& out, uint32_t index, const MapEntry& e) {
  AppendNumber(out, index);
  out += ' ';
  if (e.type == Exec || e.type == Swap) {
    out += e.type == Exec ? "exec" : "swap";
  } else {
    AppendNumber(out, e.type);  // a type the decisions do not know, read back as its number
  }
  AppendCommonFields(out, e);
  if (e.type == Exec) {
    out += " path=\"";
    AppendUtf8(out, e.path);
    out += "\" parameters=\"";
    AppendUtf8(out, e.parameters);
    out += "\"\n";
    return;
  }
  out += " keys=";
  for (int k = 0; k < 4; ++k) {
    AppendHex(out, e.keys[k]);
    out += k < 3 ? ',' : '\n';
  }
}

// Splits "name=value" and checks the name.
bool Field(std::string_view word, std::string_view name, std::string_view& value) {
  if (word.size() <= name.size() || word.substr(0, name.size()) != name ||
      word[name.size()] != '=') {
    return false;
  }
  value = word.substr(name.size() + 1);
  return true;
}

bool NumberField(Words& words, std::string_view name, uint32_t& value) {
  std::string_view word, text;
  return words.Next(word) && Field(word, name, text) && ParseNumber(text, value);
}

bool SignedField(Words& words, std::string_view name, int32_t& value) {
  std::string_view word, text;
  return words.Next(word) && Field(word, name, text) && ParseSignedNumber(text, value);
}

bool CommonFields(Words& words, MapEntry& e) {
  int32_t hold = 0;
  uint32_t vk = 0, scan = 0;
  if (!SignedField(words, "orientation", e.orientation) ||
      !SignedField(words, "modifier", e.modifier) || !SignedField(words, "hold", hold) ||
      !NumberField(words, "vk", vk) || !NumberField(words, "scan", scan) || vk > 0xFF ||
      scan > 0xFF) {
    return false;
  }
  e.hold = static_cast<uint32_t>(hold);
  e.vkCode = static_cast<uint8_t>(vk);
  e.scanCode = static_cast<uint8_t>(scan);
  return true;
}

bool KeysField(Words& words, MapEntry& e) {
  std::string_view word, list;
  if (!words.Next(word) || !Field(word, "keys", list)) return false;
  for (int k = 0; k < 4; ++k) {
    const size_t comma = list.find(',');
    uint32_t key = 0;
    if ((k < 3) != (comma != std::string_view::npos)) return false;
    if (!ParseNumber(list.substr(0, comma), key) || key > 0xFF) return false;
    e.keys[k] = static_cast<uint8_t>(key);
    if (comma != std::string_view::npos) list.remove_prefix(comma + 1);
  }
  return words.AtEnd();
}

void CopyText(char16_t (&field)[kMapTextLength], std::string_view utf8) {
  const std::u16string text = FromUtf8(utf8);
  const size_t n = text.size() < kMapTextLength - 1 ? text.size() : kMapTextLength - 1;
  for (size_t i = 0; i < n; ++i) field[i] = text[i];
  field[n] = 0;
}

// The texts are written unescaped, so the path ends at the last `" parameters="`.
bool TextFields(std::string_view rest, MapEntry& e) {
  constexpr std::string_view kPath = " path=\"", kParameters = "\" parameters=\"";
  if (rest.substr(0, kPath.size()) != kPath ||
      rest.size() < kPath.size() + kParameters.size() + 1 || rest.back() != '"') {
    return false;
  }
  const size_t split = rest.rfind(kParameters);
  if (split == std::string_view::npos || split < kPath.size() - 1) return false;
  CopyText(e.path, rest.substr(kPath.size(), split - kPath.size()));
  const size_t params = split + kParameters.size();
  CopyText(e.parameters, rest.substr(params, rest.size() - 1 - params));
  return true;
}

bool ReadEntry(const std::string& line, uint32_t expectedIndex, MapEntry& e) {
  std::memset(&e, 0, sizeof e);
  Words words(line);
  std::string_view index, type;
  uint32_t number = 0;
  if (!words.Next(index) || !words.Next(type) || !ParseNumber(index, number) ||
      number != expectedIndex) {
    return false;
  }
  uint32_t otherType = 0;
  if (type == "swap" || ParseNumber(type, otherType)) {
    e.type = type == "swap" ? Swap : static_cast<int32_t>(otherType);
    return CommonFields(words, e) && KeysField(words, e);
  }
  if (type != "exec") return false;
  e.type = Exec;
  return CommonFields(words, e) && TextFields(words.Rest(), e);
}

bool ReadSetting(const std::string& line, HostSettings& settings) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  const std::string name = line.substr(0, eq);
  const std::string_view value = std::string_view(line).substr(eq + 1);
  int32_t number = 0;
  uint32_t duration = 0;
  if (name == "holdDuration" && ParseNumber(value, duration)) {
    settings.holdDuration = duration;
  } else if (name == "useImeToggle" && ParseSignedNumber(value, number)) {
    settings.useImeToggle = number;
  } else if (name == "debugMode" && ParseSignedNumber(value, number)) {
    settings.debugMode = number;
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string TableText(const HostSettings& settings, const MapTable& table) {
  constexpr size_t kTypicalLine = 96;
  std::string text;
  text.reserve((table.Count() + 3) * kTypicalLine);
  AppendSetting(text, "useImeToggle", settings.useImeToggle.load());
  AppendSetting(text, "holdDuration", settings.holdDuration.load());
  AppendSetting(text, "debugMode", settings.debugMode.load());
  for (uint32_t i = 0; i < table.Count(); ++i) AppendEntry(text, i, table.At(i));
  return text;
}

void PrintTable(std::ostream& out, const HostSettings& settings, const MapTable& table) {
  const std::string text = TableText(settings, table);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

bool ReadTableText(std::istream& in, MapTable& table, HostSettings& settings, std::string& error) {
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    bool ok = false;
    if (line[0] >= '0' && line[0] <= '9') {
      MapEntry entry;
      ok = ReadEntry(line, table.Count(), entry) && table.Append(entry);
    } else {
      ok = ReadSetting(line, settings);
    }
    if (!ok) {
      error = std::to_string(number) + ": not a setting or table entry: " + line;
      return false;
    }
  }
  return true;
}

}  // namespace keytwine
