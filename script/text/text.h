// Byte-string and character-set routines shared by the lexer, parsers, runtime, pattern compiler
// and host. Strings are NUL-terminated bytes in the system code page; a lead byte (per
// port::IsDBCSLeadByte) followed by a byte other than NUL is one two-byte character. Case folding
// changes only 'A' to 'Z'. New strings come from engine memory (port::Alloc) and are null when it
// runs out.
#ifndef KEYTWINE_SCRIPT_TEXT_TEXT_H
#define KEYTWINE_SCRIPT_TEXT_TEXT_H

#include <cstddef>
#include <cstdint>

#include "script/port/port.h"

namespace keytwine {

using port::Owned;

// --- Code-page conversions -----------------------------------------------------------------
Owned<char> ToMultiByte(const char16_t* wide);  // null for a null argument
Owned<char16_t> ToWide(const char* text);       // null for a null argument

// --- Engine string helpers -----------------------------------------------------------------
Owned<char> Duplicate(const char* text);
// A block of n + 1 bytes filled by CopyN(block, text, n): keeps at most n - 1 bytes of text.
Owned<char> DuplicateN(const char* text, int32_t n);
Owned<char> Concat(const char* a, const char* b);

// --- Copying -------------------------------------------------------------------------------
char* CopyEnd(char* destination, const char* source);
// Copies at most n - 1 bytes and terminates; n below 1 or a null source stores "".
char* CopyN(char* destination, const char* source, int32_t n);

// --- Comparison ----------------------------------------------------------------------------
int CompareN(const char* a, const char* b, size_t n);
int CompareNoCase(const char* a, const char* b);
int CompareNoCaseN(const char* a, const char* b, size_t n);
void LowerInPlace(char* text);
uint32_t ComputeNameHash(const char* text);

// --- Number text ---------------------------------------------------------------------------
Owned<char> IntToText(int32_t value);
uint32_t ParseHex(const char* text);
uint32_t ParseOctal(const char* text);

// --- Source scanning -----------------------------------------------------------------------
// `at` points at an opening double quote; returns the closing quote or the terminating NUL.
const char* FindStringEnd(const char* at);
// `at` points at '(', '[' or '{'; returns the matching closer or null.
const char* FindMatchingBracket(const char* at);

// --- Escapes and patterns ------------------------------------------------------------------
int UnescapeInPlace(char* text);
Owned<char> DoubleBackslashes(const char* text);

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_TEXT_TEXT_H
