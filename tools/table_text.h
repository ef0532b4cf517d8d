// The text form of the settings and the mapping table, as `keytwine check` prints it:
//
//   useImeToggle=1
//   holdDuration=500
//   debugMode=0
//   0 swap orientation=0 modifier=0 hold=0 vk=0x41 scan=0x1e keys=0x42,0x0,0x43,0x0
//   1 exec orientation=0 modifier=1 hold=1 vk=0x70 scan=0x3b path="\Windows\calc.exe" parameters=""
//
// An entry of a type other than swap and exec shows its type number in place of the word.
// `keytwine replay` reads the same form back.
#ifndef KEYTWINE_TOOLS_TABLE_TEXT_H
#define KEYTWINE_TOOLS_TABLE_TEXT_H

#include <iosfwd>
#include <string>

#include "host/map_table.h"

namespace keytwine {

// The whole text, settings first; PrintTable writes it in one piece.
std::string TableText(const HostSettings& settings, const MapTable& table);
void PrintTable(std::ostream& out, const HostSettings& settings, const MapTable& table);

// Reads settings and entries into the given table and settings. On a malformed line returns
// false and describes it in `error` ("LINE: what").
bool ReadTableText(std::istream& in, MapTable& table, HostSettings& settings, std::string& error);

}  // namespace keytwine

#endif  // KEYTWINE_TOOLS_TABLE_TEXT_H
