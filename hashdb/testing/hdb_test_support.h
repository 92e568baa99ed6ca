// Test support for the hash database tests: a whole-table checker and small
// file helpers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hashdb/hdb_table.h"

namespace vorlane::hashdb::testing {

// Walks every bucket chain and big chain of an open table and checks: every
// page well formed, each pair in the bucket its key hashes to, every
// overflow slot in use exactly once with its bit set, every other slot below
// spares[overflow_point] clear, and key_count equal to the pairs found.
// Returns "" when all holds, else what is wrong.
std::string check_table(hdb_handle* handle);

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);

// Views of named strings or literals (never of temporaries).
inline hdb_bytes B(std::string_view s) { return {s.data(), s.size()}; }
inline std::string S(const hdb_bytes& b) { return {static_cast<const char*>(b.data), b.size}; }

}  // namespace vorlane::hashdb::testing
