// The three byte tables of conflation, indexed by byte value. Indexing adds
// the conflated and lower-cased forms of every term, and query texts go
// through the same tables (conflate_text), so that "Café" and "cafe" meet.
//
// conflation_map: ISO 8859-1 letters and a few signs folded to plain ASCII;
//   every other byte maps to itself. Its quirks are part of the index and
//   are kept: 0xD7 (multiplication sign) gives 'x', 0xF7 (division sign) '/',
//   0xB8 (cedilla) a blank, 0xDE (Thorn) 'Y', 0xDF (sharp s) 'B'.
// conflation_expansions: the letters that fold into two ASCII letters
//   ("AE", "OE", "UE", "TH", "ss", "ae", "oe", "ue", "th"); null for every
//   other byte. Where it is used it is consulted before conflation_map, so
//   0xDE gives "TH" and 0xDF "ss" there.
// lower_case_map: 'A'-'Z', 0xC0-0xD6 and 0xD8-0xDE to the byte + 0x20;
//   every other byte (0xD7 and the whole of 0xDF-0xFF included) to itself.
#pragma once

namespace vorlane::engine {

extern const unsigned char conflation_map[256];
extern const char* const conflation_expansions[256];
extern const unsigned char lower_case_map[256];

}  // namespace vorlane::engine
