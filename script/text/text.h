// Byte-string and character-set routines shared by the lexer, parsers, runtime, pattern compiler
// and host. Strings are NUL-terminated bytes in the system code page; a lead byte
// (per port::IsDBCSLeadByte) followed by a byte other than NUL is one two-byte character. Case
// folding changes only 'A' to 'Z'. New strings come from engine memory (port::Alloc, plain) and
// are null when it runs out; free them with port::Free (Owned<> does that).
//
// No routine reads past the terminating NUL, whatever the text: a backslash or a lead byte right
// before the NUL, an unterminated string literal or comment are all safe. Where a routine below
// says nothing about a null argument, a null text is taken as the empty text.
#ifndef KEYTWINE_SCRIPT_TEXT_TEXT_H
#define KEYTWINE_SCRIPT_TEXT_TEXT_H

#include <cstddef>
#include <cstdint>

#include "script/port/port.h"

namespace keytwine {

using port::Owned;

// --- Characters ----------------------------------------------------------------------------
// Length of the character at p: 0 at the NUL, 2 for a lead byte followed by a byte other than
// NUL (a two-byte character), else 1. p must not be null.
int CharacterLength(const char* p);

// --- Code-page conversions -----------------------------------------------------------------
// Both use the system code page and no flags; the size is asked first, a buffer of that size
// plus one unit is allocated and filled. A text that cannot be converted gives an empty string.
Owned<char> ToMultiByte(const char16_t* wide);  // null for a null argument
Owned<char16_t> ToWide(const char* text);       // null for a null argument

// --- Engine string helpers -----------------------------------------------------------------
// A new copy of text; null for a null text (or when memory runs out).
Owned<char> Duplicate(const char* text);
// A block of n + 1 bytes filled by CopyN(block, text, n): keeps at most n - 1 bytes of text, so
// callers pass the wanted length plus one. n below 1 (or a null text) gives a new empty string.
Owned<char> DuplicateN(const char* text, int32_t n);
// A new string holding a followed by b (a null one counts as empty).
Owned<char> Concat(const char* a, const char* b);

// --- Copying -------------------------------------------------------------------------------
// Copies at most n - 1 bytes and terminates; the destination holds n bytes. Returns the pointer to
// the ending NUL. A null source stores "". With n below 1 nothing at all is written (the
// destination may hold no byte) and destination itself is returned.
char* CopyN(char* destination, const char* source, int32_t n);

// --- Comparison ----------------------------------------------------------------------------
// Differences are of the bytes taken as signed 8-bit numbers.
int CompareN(const char* a, const char* b, size_t n);
int CompareNoCase(const char* a, const char* b);
int CompareNoCaseN(const char* a, const char* b, size_t n);
// Folds 'A'-'Z' in every byte, second bytes of two-byte characters included (the parser
// relies on this when it lowers names).
void LowerInPlace(char* text);
// h = 2h + signed byte, from 0, wrapping in 32 bits; null or empty gives 0.
uint32_t ComputeNameHash(const char* text);

// --- Number text ---------------------------------------------------------------------------
// Decimal text of value (INT32_MIN included).
Owned<char> IntToText(int32_t value);
// Leading hexadecimal / octal digits, no prefix, wrapping in 32 bits; no digit gives 0.
uint32_t ParseHex(const char* text);
uint32_t ParseOctal(const char* text);

// --- Source scanning -----------------------------------------------------------------------
// `at` points at an opening double quote; returns the closing quote or the terminating NUL. A
// backslash makes the next byte ordinary, whatever it is; two-byte
// characters are stepped over whole.
const char* FindStringEnd(const char* at);
// `at` points at '(', '[' or '{'; returns the matching closer or null (also for a null `at`, a
// byte that is no opener, or an opener right before the NUL).
const char* FindMatchingBracket(const char* at);

// --- Escapes and patterns ------------------------------------------------------------------
// Replaces the escapes of a string literal in place; 1, or 0 for a null text. An escape whose
// value is the byte 0 (`\0`, `\x`, `\x00`) ends the text there. An unknown escape keeps its
// backslash, and scanning goes on with the byte after that backslash (so a two-byte character
// there is stepped over whole).
int UnescapeInPlace(char* text);
// A new string with every backslash written twice, except a second byte of a two-byte character;
// null for a null text.
Owned<char> DoubleBackslashes(const char* text);

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_TEXT_TEXT_H
