#include "script/front/script_text.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace keytwine {
namespace {

enum class Encoding { kBytes, kUtf16LittleEndian, kUtf16BigEndian };

constexpr size_t kSniffedCharacters = 4;

uint8_t Byte(const char* bytes, size_t at) {
  return static_cast<uint8_t>(bytes[at]);
}

bool StartsWith(const char* bytes, size_t size, const char* mark, size_t markSize) {
  return size >= markSize && std::memcmp(bytes, mark, markSize) == 0;
}

// Without a mark: UTF-16 when each of the first characters has its NUL byte in the same half.
Encoding SniffUtf16(const char* bytes, size_t size) {
  const size_t characters = size / 2 < kSniffedCharacters ? size / 2 : kSniffedCharacters;
  if (characters == 0) return Encoding::kBytes;
  bool nulSecond = true;
  bool nulFirst = true;
  for (size_t i = 0; i < characters; ++i) {
    const uint8_t first = Byte(bytes, 2 * i);
    const uint8_t second = Byte(bytes, 2 * i + 1);
    nulSecond = nulSecond && first != 0 && second == 0;
    nulFirst = nulFirst && first == 0 && second != 0;
  }
  if (nulSecond) return Encoding::kUtf16LittleEndian;
  if (nulFirst) return Encoding::kUtf16BigEndian;
  return Encoding::kBytes;
}

// The characters of UTF-16 bytes up to the first NUL character, converted to the code page.
ScriptText FromUtf16(const char* bytes, size_t size, bool bigEndian) {
  ScriptText result;
  const size_t units = size / 2;
  port::Owned<char16_t> wide(static_cast<char16_t*>(port::Alloc((units + 1) * sizeof(char16_t))));
  if (wide == nullptr) return result;
  size_t length = 0;
  for (; length < units; ++length) {
    const uint8_t low = Byte(bytes, 2 * length + (bigEndian ? 1 : 0));
    const uint8_t high = Byte(bytes, 2 * length + (bigEndian ? 0 : 1));
    const auto unit = static_cast<char16_t>(low | high << 8);
    if (unit == 0) break;
    wide.get()[length] = unit;
  }
  wide.get()[length] = 0;
  result.cutAtNul = length < units;
  const int needed = port::WideToMultiByte(wide.get(), -1, nullptr, 0);
  const size_t textSize = needed > 0 ? static_cast<size_t>(needed) : 1;
  result.text.reset(static_cast<char*>(port::AllocZero(textSize)));
  if (result.text != nullptr && needed > 0) {
    port::WideToMultiByte(wide.get(), -1, result.text.get(), needed);
  }
  return result;
}

}  // namespace

ScriptText DecodeScriptText(port::Owned<char> bytes, size_t size) {
  const char* data = bytes.get();
  if (StartsWith(data, size, "\xFF\xFE", 2)) return FromUtf16(data + 2, size - 2, false);
  if (StartsWith(data, size, "\xFE\xFF", 2)) return FromUtf16(data + 2, size - 2, true);
  const Encoding sniffed = SniffUtf16(data, size);
  if (sniffed != Encoding::kBytes) {
    return FromUtf16(data, size, sniffed == Encoding::kUtf16BigEndian);
  }
  ScriptText result;
  size_t start = 0;
  if (StartsWith(data, size, "\xEF\xBB\xBF", 3)) {
    start = 3;
    std::memmove(bytes.get(), data + start, size - start + 1);
  }
  result.cutAtNul = std::strlen(bytes.get()) < size - start;
  result.text = std::move(bytes);
  return result;
}

}  // namespace keytwine
