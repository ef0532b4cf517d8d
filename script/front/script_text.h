// How the bytes of a script file become the text the parser reads. Windows editors save text as
// UTF-16 or put a byte-order mark before UTF-8, and the engine's text is bytes in the code page
// with a NUL at the end, so:
// - a file starting with the UTF-16 mark FF FE (little-endian) or FE FF (big-endian) is UTF-16;
// - so is a file without a mark whose first characters (up to four) each have one NUL byte, in
//   the same half of every character: NUL second is little-endian ("k\0e\0y\0"), NUL first is
//   big-endian. No script in a code page starts that way, since a NUL ends nothing in one;
// - UTF-16 is converted to the code page (a character the code page lacks becomes '?'; an odd
//   byte at the end is dropped);
// - a leading UTF-8 mark EF BB BF is skipped; every other file is taken byte for byte.
// A NUL character left in the text (other than the terminating one) cuts the text there, and the
// loader reports it instead of running what comes before it.
#ifndef KEYTWINE_SCRIPT_FRONT_SCRIPT_TEXT_H
#define KEYTWINE_SCRIPT_FRONT_SCRIPT_TEXT_H

#include <cstddef>

#include "script/port/port.h"

namespace keytwine {

struct ScriptText {
  port::Owned<char> text;  // NUL-terminated; null when memory ran out
  bool cutAtNul = false;   // the file holds a NUL character: text stops at the first one
};

// Decodes size bytes (a block of size + 1 bytes whose last byte is NUL, as ReadWholeFile gives
// it; the block is used in place when the file needs no conversion).
ScriptText DecodeScriptText(port::Owned<char> bytes, size_t size);

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_FRONT_SCRIPT_TEXT_H
