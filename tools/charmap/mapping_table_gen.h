// Generator of CharMapper's three mapping tables from the C library's
// character-set converters (iconv: EUC-JP for JIS X 0208 and JIS X 0212,
// SHIFT_JIS for the Unicode-to-Shift-JIS direction), in the file format and
// layouts of linguistics/charmap/mapping_table.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorlane::tools {

// The table values (host order), index by the layouts; 0 = no character.
std::vector<uint16_t> make_jis0208_table();
std::vector<uint16_t> make_jis0212_table();
std::vector<uint16_t> make_sjis_out_table();

// Writes count and values big-endian; false on any write error.
bool write_mapping_table(const std::string& path, const std::vector<uint16_t>& values);

// Writes "jis0208.tbl", "jis0212.tbl", "sjis_out.tbl" and the configuration
// file "charmap.cfg" naming them into dir. False (with a message) on failure.
bool write_mapping_tables(const std::string& dir, std::string* error);

}  // namespace vorlane::tools
