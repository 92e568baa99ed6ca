// Test-only writer of index database byte images, independent of the
// indexing code: lookups and the handle are tested on files it did not write.
//
// Writes "dir", the parts "tf0".., "ti0".. (sparse: only the records given
// are written), "del", "inf" and optionally "din", little-endian as the
// formats in store/db_files.h give them. Records of one or two postings take
// the compact forms unless full_form_only; a small part_limit makes several
// parts.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "store/db_files.h"

namespace vorlane::testing {

struct image_term {
  uint32_t hash1;
  uint32_t hash2;
  std::vector<uint32_t> postings;  // docid << 7 | score, ascending docids
  uint32_t docf = 0;               // 0: the posting count
};

struct image_options {
  uint32_t ndocs = 0;
  uint32_t posting_limit = kDefaultPostingLimit;
  uint64_t part_limit = kPartLimit;  // a record reaching it starts a new part
  bool full_form_only = false;
  int32_t score_incr = 1;
  bool write_din = false;
  std::map<uint32_t, std::vector<unsigned char>> titles;  // docid -> 448 bytes
};

// Where each record went.
struct image_record {
  uint32_t hash1, hash2;
  uint32_t part;
  uint32_t offset;
  uint32_t size;
  bool has_entry;
};

// Writes the image of terms (sorted here by hash pair) into dir, which is
// created when missing. Returns the records in file order.
std::vector<image_record> write_db_image(const std::string& dir, std::vector<image_term> terms,
                                         const image_options& options);

// The words of one record as written.
std::vector<uint32_t> encode_record(const image_term& term, bool full_form_only);

}  // namespace vorlane::testing
