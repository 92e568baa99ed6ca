// UTF-7 (RFC 2152) to and from wide-string cells.
//
// Character classes (ASCII only): direct = RFC 2152 Set D (letters, digits
// and '(),-./:?); optional = Set D and Set O (!"#$%&*;<=>@[]^_`{|});
// white = both with tab, LF, CR and blank. Base64 runs use the alphabet
// A-Z, a-z, 0-9, '+', '/'.
//
// Like the decoders of wide_codecs.h, each function serves the counting pass
// (out == nullptr) and the filling pass.
#pragma once

#include "linguistics/wstrop/wide_codecs.h"

namespace vorlane::linguistics {

// UTF-7 into cells. Outside a base64 run each byte other than '+' is one
// 16-bit unit of its value; "+-" is '+'; '+' followed by base64 opens a run
// in which every 16 bits give a unit, high bits first. A byte outside the
// alphabet ends a run ('-' is then consumed, any other byte read normally).
// Without kSkipInvalid, a '+' at the end or before a byte that is neither
// '-' nor base64 is utf7_invalid_escape, and a run that ends with more than 6
// bits left over is utf7_odd_octets. The units then go through UnitDecoder
// with the same flags (surrogates need kUcs2DoUtf16); a UTF-7 error takes
// precedence over a unit error.
ConvertResult utf7_to_cells(const unsigned char* src, size_t n, int flags, wcell* out);

// Cells into UTF-7. A cell below 0x80 in the direct set (the direct class
// with kUtf7QuoteOptionals, else the white class) is written as its byte;
// '+' outside a run is "+-"; every other cell goes into a base64 run. A
// direct byte after a run first pads and writes the run's last bits, and
// writes '-' when the byte is a base64 character or '-'; an open run at the
// end is padded and closed with '-'. Returns the byte count.
size_t cells_to_utf7(const wcell* cells, size_t n, int flags, unsigned char* out);

}  // namespace vorlane::linguistics
