// Text and character-set utilities.
#include "script/text/text.h"

#include <cstring>

namespace keytwine {

namespace {

// No code page has a lead byte below 0x80, so plain ASCII text never asks the port.
bool IsLead(char c) {
  const auto byte = static_cast<uint8_t>(c);
  return byte >= 0x80 && port::IsDBCSLeadByte(byte);
}

// True when p starts a two-byte character: a lead byte followed by a byte other than NUL.
bool IsTwoByte(const char* p) {
  return p[0] != 0 && IsLead(p[0]) && p[1] != 0;
}

// Differences compare bytes as signed 8-bit numbers.
int Signed(char c) {
  return static_cast<signed char>(c);
}  // NOLINT(bugprone-signed-char-misuse)

int Fold(char c) {
  const int value = Signed(c);
  return value >= 'A' && value <= 'Z' ? value + ('a' - 'A') : value;
}

const char* OrEmpty(const char* text) {
  return text != nullptr ? text : "";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsOctalDigit(char c) {
  return c >= '0' && c <= '7';
}

Owned<char> NewString(size_t bytes) {
  return Owned<char>(static_cast<char*>(port::Alloc(bytes)));
}

}  // namespace

int CharacterLength(const char* p) {
  if (p[0] == 0) return 0;
  return IsTwoByte(p) ? 2 : 1;
}

// --- Code-page conversions -----------------------------------------------------------------

Owned<char> ToMultiByte(const char16_t* wide) {
  if (wide == nullptr) return nullptr;
  int size = port::WideToMultiByte(wide, -1, nullptr, 0);
  if (size < 0) size = 0;
  Owned<char> text = NewString(static_cast<size_t>(size) + 1);
  if (text == nullptr) return nullptr;
  const int written = size > 0 ? port::WideToMultiByte(wide, -1, text.get(), size) : 0;
  text.get()[written > 0 ? written : 0] = 0;
  return text;
}

Owned<char16_t> ToWide(const char* text) {
  if (text == nullptr) return nullptr;
  int size = port::MultiByteToWide(text, -1, nullptr, 0);
  if (size < 0) size = 0;
  Owned<char16_t> wide(
      static_cast<char16_t*>(port::Alloc((static_cast<size_t>(size) + 1) * sizeof(char16_t))));
  if (wide == nullptr) return nullptr;
  const int written = size > 0 ? port::MultiByteToWide(text, -1, wide.get(), size) : 0;
  wide.get()[written > 0 ? written : 0] = 0;
  return wide;
}

// --- Engine string helpers -----------------------------------------------------------------

Owned<char> Duplicate(const char* text) {
  if (text == nullptr) return nullptr;
  const size_t length = std::strlen(text);
  Owned<char> copy = NewString(length + 1);
  if (copy != nullptr) std::memcpy(copy.get(), text, length + 1);
  return copy;
}

Owned<char> DuplicateN(const char* text, int32_t n) {
  Owned<char> copy = NewString(n < 1 ? 1 : static_cast<size_t>(n) + 1);
  if (copy == nullptr) return nullptr;
  if (n < 1) {
    copy.get()[0] = 0;
  } else {
    CopyN(copy.get(), text, n);
  }
  return copy;
}

Owned<char> Concat(const char* a, const char* b) {
  a = OrEmpty(a);
  b = OrEmpty(b);
  const size_t lengthA = std::strlen(a);
  const size_t lengthB = std::strlen(b);
  Owned<char> joined = NewString(lengthA + lengthB + 1);
  if (joined == nullptr) return nullptr;
  std::memcpy(joined.get(), a, lengthA);
  std::memcpy(joined.get() + lengthA, b, lengthB + 1);
  return joined;
}

// --- Copying -------------------------------------------------------------------------------

char* CopyN(char* destination, const char* source, int32_t n) {
  if (n < 1) return destination;  // no room even for the NUL: write nothing
  source = OrEmpty(source);
  for (int32_t i = 1; i < n && *source != 0; ++i) *destination++ = *source++;
  *destination = 0;
  return destination;
}

// --- Comparison ----------------------------------------------------------------------------

int CompareN(const char* a, const char* b, size_t n) {
  a = OrEmpty(a);
  b = OrEmpty(b);
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return Signed(a[i]) - Signed(b[i]);
    if (a[i] == 0) break;
  }
  return 0;
}

int CompareNoCaseN(const char* a, const char* b, size_t n) {
  a = OrEmpty(a);
  b = OrEmpty(b);
  for (size_t i = 0; i < n; ++i) {
    const int x = Fold(a[i]);
    const int y = Fold(b[i]);
    if (x != y) return x - y;
    if (x == 0) break;
  }
  return 0;
}

int CompareNoCase(const char* a, const char* b) {
  return CompareNoCaseN(a, b, SIZE_MAX);
}

void LowerInPlace(char* text) {
  if (text == nullptr) return;
  for (; *text != 0; ++text) {
    if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text + ('a' - 'A'));
  }
}

uint32_t ComputeNameHash(const char* text) {
  uint32_t hash = 0;
  if (text == nullptr) return 0;
  for (; *text != 0; ++text) hash = hash * 2 + static_cast<uint32_t>(Signed(*text));
  return hash;
}

// --- Number text ---------------------------------------------------------------------------

Owned<char> IntToText(int32_t value) {
  char digits[10];  // a 32-bit magnitude has at most 10 digits
  int count = 0;
  int32_t rest = value;
  do {
    const int32_t remainder = rest % 10;  // truncation toward zero: never overflows
    digits[count++] = static_cast<char>('0' + (remainder < 0 ? -remainder : remainder));
    rest /= 10;
  } while (rest != 0);
  Owned<char> text = NewString(12);  // sign, 10 digits, NUL
  if (text == nullptr) return nullptr;
  char* out = text.get();
  if (value < 0) *out++ = '-';
  while (count > 0) *out++ = digits[--count];
  *out = 0;
  return text;
}

uint32_t ParseHex(const char* text) {
  uint32_t value = 0;
  if (text == nullptr) return 0;
  for (int digit; (digit = HexDigit(*text)) >= 0; ++text) {
    value = value * 16u + static_cast<uint32_t>(digit);
  }
  return value;
}

uint32_t ParseOctal(const char* text) {
  uint32_t value = 0;
  if (text == nullptr) return 0;
  for (; IsOctalDigit(*text); ++text) value = value * 8u + static_cast<uint32_t>(*text - '0');
  return value;
}

// --- Source scanning -----------------------------------------------------------------------

const char* FindStringEnd(const char* at) {
  if (at == nullptr) return nullptr;
  if (*at == 0) return at;
  const char* p = at + 1;
  while (*p != 0) {
    if (*p == '"') return p;
    if (*p == '\\') {
      if (p[1] == 0) return p + 1;  // a backslash right before the NUL protects nothing
      p += 2;                       // the byte after a backslash is ordinary, whatever it is
    } else {
      p += CharacterLength(p);
    }
  }
  return p;
}

const char* FindMatchingBracket(const char* at) {
  if (at == nullptr) return nullptr;
  char opener = *at;
  char closer;
  switch (opener) {
    case '(':
      closer = ')';
      break;
    case '[':
      closer = ']';
      break;
    case '{':
      closer = '}';
      break;
    default:
      return nullptr;
  }
  if (at[1] == 0) return nullptr;
  int depth = 1;
  const char* p = at + 1;
  while (*p != 0) {
    if (IsTwoByte(p)) {
      p += 2;
    } else if (*p == '"') {
      p = FindStringEnd(p);
      if (*p == 0) return nullptr;
      ++p;
    } else if (p[0] == '/' && p[1] == '/') {
      // Byte by byte: CR and LF are never second bytes, and a stray lead byte at the end of
      // the comment must not swallow the line break.
      p += 2;
      while (*p != 0 && *p != '\r' && *p != '\n') ++p;
      if (*p == 0) return nullptr;
    } else {
      if (*p == opener) {
        ++depth;
      } else if (*p == closer && --depth == 0) {
        return p;
      }
      ++p;
    }
  }
  return nullptr;
}

// --- Escapes and patterns ------------------------------------------------------------------

int UnescapeInPlace(char* text) {
  if (text == nullptr) return 0;
  const char* read = text;
  char* write = text;
  while (*read != 0) {
    if (IsTwoByte(read)) {
      *write++ = *read++;
      *write++ = *read++;
      continue;
    }
    if (*read != '\\' || read[1] == 0) {
      *write++ = *read++;
      continue;
    }
    const char kind = read[1];
    char replacement;
    switch (kind) {
      case 'n':
        replacement = '\n';
        break;
      case 'r':
        replacement = '\r';
        break;
      case 't':
        replacement = '\t';
        break;
      case 'b':
        replacement = '\b';
        break;
      case '"':
        replacement = '"';
        break;
      case '\\':
        replacement = '\\';
        break;
      case 'x': {
        read += 2;
        unsigned value = 0;
        for (int i = 0; i < 2 && HexDigit(*read) >= 0; ++i, ++read) {
          value = value * 16 + static_cast<unsigned>(HexDigit(*read));
        }
        if (value == 0) {  // the byte 0 ends the text here
          *write = 0;
          return 1;
        }
        *write++ = static_cast<char>(value);
        continue;
      }
      default:
        if (IsOctalDigit(kind)) {
          read += 1;
          unsigned value = 0;
          for (int i = 0; i < 3 && IsOctalDigit(*read); ++i, ++read) {
            value = value * 8 + static_cast<unsigned>(*read - '0');
          }
          value &= 0xFF;
          if (value == 0) {
            *write = 0;
            return 1;
          }
          *write++ = static_cast<char>(value);
          continue;
        }
        // Unknown escape: the backslash stays; the next byte is scanned as usual.
        *write++ = *read++;
        continue;
    }
    *write++ = replacement;
    read += 2;
  }
  *write = 0;
  return 1;
}

Owned<char> DoubleBackslashes(const char* text) {
  if (text == nullptr) return nullptr;
  size_t length = 0;
  for (const char* p = text; *p != 0;) {
    const int step = CharacterLength(p);
    length += (step == 1 && *p == '\\') ? 2 : static_cast<size_t>(step);
    p += step;
  }
  Owned<char> result = NewString(length + 1);
  if (result == nullptr) return nullptr;
  char* out = result.get();
  for (const char* p = text; *p != 0;) {
    if (IsTwoByte(p)) {
      *out++ = *p++;
      *out++ = *p++;
    } else {
      if (*p == '\\') *out++ = '\\';
      *out++ = *p++;
    }
  }
  *out = 0;
  return result;
}

}  // namespace keytwine
