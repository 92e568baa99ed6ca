// The query request, the query response and the hit, field by field.
//
// One database answers one request with one response (query_each); the
// cross-database merge reads several responses and writes one more in the
// same format. Both buffers are flat: 32-bit words in machine (little-endian)
// order, arrays and trailing NUL-terminated strings; offsets are in bytes from
// the buffer's start. Both are checked like input from outside: every reader
// here is bounds-checked and reports a violation instead of reading past the
// buffer, and every writer checks the room before each section it writes.
//
// Hit (8 bytes)
//   0  database identifier
//   4  docid << 7 | value, value in the low 7 bits: a percentage 1..100 in the
//      hit array of a response not meant for merging, a quality value 1..100
//      when it is, a term score 1..100 in a term block
//
// QueryRequest, types 0 (query), 4 (query of one database, not for merging)
// and 6 (query with date entries):
//   0   size: bytes in use; the byte at size - 1 is 0
//   4   type
//   8   1 (written, never read)
//   12  demotion value (type 2 only)
//   16  mode word, handed to the evaluation
//   20  12 bytes not read
//   32  start: number of the first hit wanted, from 1
//   36  hits wanted
//   40  date window, low word (bits 16..31 latest day, bits 0..15 earliest
//       day, 0 leaves a side open), then high word
//   48  8 bytes not read
//   56  query text, NUL-terminated, then the collection name, NUL-terminated
// QueryRequest, type 2 (demotion of the documents matching the text):
//   0   size, 4 type, 8 1, 12 demotion value (low 8 bits used), 16 mode word
//   20  date window, low word then high word
//   28  8 bytes not read
//   36  P: number of excepted documents
//   40  P pairs {database identifier, docid} that are not demoted
//   40 + 8P  query text, NUL-terminated, then the collection name
// A request is well formed when its length covers its size, its size covers
// the header of its type (types 0, 4, 6: at least 57 bytes; type 2: 40 + 8P
// bytes and the text's NUL), the byte at size - 1 is 0 and the collection
// name begins before size.
//
// QueryResponse:
//   0   size: bytes used, set only when the response is complete (0 while it
//       is being written and after a failure)
//   4   response type: the request type + 1 (1, 3, 5 or 7)
//   8   merge flag: 1 when the response is meant for merging (it then carries
//       term blocks), else 0
//   12  20 bytes of zero
//   32  start: the number of the first hit in this response
//   36  H: number of hits
//   40  16 bytes of zero
//   56  the database's document count
//   60  total number of matching documents; negative when only estimated
//   64  H hits in rank order
//   then, type 7 only: H date entries (8 bytes each, store/db_files.h's
//       din_entry) in hit order
//   then T: number of terms, and T words: document frequency << 7 | norm
//   then, with the merge flag only: T term blocks in term order, each a count
//       c and c hits (the top hits that contain the term, value = the term's
//       score in the document + 1)
//   then T term strings, each NUL-terminated, in term order
//   then the query string as evaluated and the collection name, each
//       NUL-terminated
// A response of no hits: H = 0, total 0, T = 0, then the two strings.
//
// The writer keeps the bytes after what it has written zero where a reader
// looks for the next counts and NULs (never more than a few hundred bytes:
// the area is not cleared whole), and every count (H, T, a block's c) is
// raised only after its entries are written. A response whose writing
// stopped for lack of room (size word 0) therefore still reads consistently:
// its unwritten counts are 0 and its unwritten strings empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "store/db_files.h"

namespace vorlane::engine {

// ---- Hit ----

struct Hit {
  uint32_t db;       // database identifier
  uint32_t posting;  // docid << 7 | value
};
static_assert(sizeof(Hit) == 8, "a hit is two words");

inline uint32_t hit_docid(const Hit& h) { return h.posting >> 7; }
inline uint32_t hit_value(const Hit& h) { return h.posting & 0x7F; }

// Writes the hit {id, docid << 7 | p} at out, p = v bounded to 1..100, and
// returns the position after it.
inline uint8_t* pack_hit(uint8_t* out, uint32_t id, uint32_t docid, int32_t v) {
  const uint32_t p = v >= 100 ? 100 : v <= 0 ? 1 : static_cast<uint32_t>(v);
  const Hit h{id, (docid << 7) | p};
  memcpy(out, &h, sizeof h);
  return out + sizeof h;
}

// ---- QueryRequest ----

enum : uint32_t {
  kRequestQuery = 0,
  kRequestDemote = 2,
  kRequestSingle = 4,  // one database, not for merging
  kRequestDated = 6,   // with date entries
};

// The header of request types 0, 4 and 6, written and read whole.
struct QueryRequestHeader {
  uint32_t size;
  uint32_t type;
  uint32_t one;           // 1
  uint32_t demote_value;  // unused by these types
  uint32_t mode;
  uint32_t unused20[3];
  uint32_t start;
  uint32_t hits;
  uint32_t window_low;
  uint32_t window_high;
  uint32_t unused48[2];
};
static_assert(sizeof(QueryRequestHeader) == 56, "the text of a query request starts at 56");

// The header of a demotion request (type 2), written and read whole; the P
// excepted pairs (ExceptedDoc) follow it.
struct DemoteRequestHeader {
  uint32_t size;
  uint32_t type;
  uint32_t one;
  uint32_t demote_value;
  uint32_t mode;
  uint32_t window_low;
  uint32_t window_high;
  uint32_t unused28[2];
  uint32_t excepted;  // P
};
static_assert(sizeof(DemoteRequestHeader) == 40, "the excepted pairs start at 40");

// An excepted document of a demotion request.
struct ExceptedDoc {
  uint32_t db;
  uint32_t docid;  // not shifted
};
static_assert(sizeof(ExceptedDoc) == 8, "an excepted pair is two words");

// What a request says, as its reader gives it. Pointers are into the request.
struct QueryRequest {
  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t demote_value = 0;
  uint32_t mode = 0;
  int32_t start = 0;  // types 0, 4, 6 (signed: a caller may send 0 or less)
  int32_t hits = 0;
  uint32_t window_low = 0;
  uint32_t window_high = 0;
  uint32_t excepted_count = 0;             // type 2
  const uint8_t* excepted = nullptr;       // excepted_count ExceptedDoc, unaligned
  const char* text = nullptr;              // NUL-terminated inside the request
  size_t text_length = 0;
  const char* collection = nullptr;        // NUL-terminated inside the request
  size_t collection_length = 0;
};

enum class RequestCheck {
  ok,
  bad_type,          // "bad request type"
  short_buffer,      // "ilen < size in header": the length does not cover the size
  no_terminator,     // "ibuf not ending in null terminated string"
  string_overflow,   // "ibuf string overflow or corruption"
};

// The message query_each reports for a failed check (null for ok).
const char* request_check_text(RequestCheck c);

// Reads and checks a request of length bytes. The checks run in this order:
// the type (a length below 8 is a short buffer), the length against the size,
// the final NUL, the header of the type and the excepted pairs within the
// size, the collection name beginning before the size.
RequestCheck read_query_request(const uint8_t* buffer, size_t length, QueryRequest* out);

// The excepted pair i of a read demotion request.
ExceptedDoc request_excepted(const QueryRequest& r, uint32_t i);

// What a writer puts into a request.
struct QueryRequestFields {
  uint32_t type = kRequestQuery;
  uint32_t demote_value = 0;
  uint32_t mode = 0;
  int32_t start = 1;
  int32_t hits = 10;
  uint32_t window_low = 0;
  uint32_t window_high = 0;
  const ExceptedDoc* excepted = nullptr;  // type 2
  uint32_t excepted_count = 0;
  const char* text = "";
  size_t text_length = 0;
  const char* collection = "";
  size_t collection_length = 0;
  // 0: the size word is the bytes used; otherwise the request is padded with
  // zeros to this size (which must hold everything) and the size word says it.
  uint32_t padded_size = 0;
};

// Writes the request into out (capacity bytes; the whole capacity is
// cleared). The size word, or 0 when the request does not fit.
uint32_t write_query_request(uint8_t* out, size_t capacity, const QueryRequestFields& f);

// ---- QueryResponse ----

enum : uint32_t {
  kResponseQuery = 1,
  kResponseDemote = 3,
  kResponseSingle = 5,
  kResponseDated = 7,
};

// The fixed header of a response, written and read whole.
struct QueryResponseHeader {
  uint32_t size;
  uint32_t type;
  uint32_t merge_flag;
  uint32_t zero12[5];
  uint32_t start;
  uint32_t hit_count;  // H
  uint32_t zero40[4];
  uint32_t documents;
  int32_t total;
};
static_assert(sizeof(QueryResponseHeader) == 64, "the hits of a response start at 64");

// The smallest response: header, T = 0 and two empty strings.
inline constexpr size_t kMinResponseSize = sizeof(QueryResponseHeader) + 4 + 2;

// The document frequency and norm of a term word.
inline uint32_t term_word(uint32_t docf, uint32_t norm) { return (docf << 7) | (norm & 0x7F); }
inline uint32_t term_word_docf(uint32_t w) { return w >> 7; }
inline uint32_t term_word_norm(uint32_t w) { return w & 0x7F; }

// A response as its reader gives it: the header's figures and the offsets of
// its sections, all checked to lie inside the limit.
struct QueryResponseView {
  const uint8_t* base = nullptr;
  size_t limit = 0;       // the size word, or the area size of an incomplete response
  bool complete = false;  // the size word is set
  uint32_t type = 0;
  uint32_t merge_flag = 0;
  uint32_t start = 0;
  uint32_t hit_count = 0;
  uint32_t documents = 0;
  int32_t total = 0;
  size_t dates_at = 0;    // offset of the date entries; 0 when the response has none
  uint32_t term_count = 0;
  size_t words_at = 0;    // offset of the first term word
  size_t blocks_at = 0;   // offset of the first term block; 0 without the merge flag
  size_t strings_at = 0;  // offset of the first term string
  size_t query_at = 0;
  size_t collection_at = 0;
  size_t end = 0;         // the offset after the collection name
};

// Reads and checks a response held in an area of area_size bytes. A complete
// response is read within its size word (which must not exceed area_size);
// an incomplete one (size word 0) within the area. False when a count, a
// section or a string reaches past that limit, when the merge flag is neither
// 0 nor 1, or when a complete response's size is not where its collection name
// ends.
bool read_query_response(const uint8_t* buffer, size_t area_size, QueryResponseView* out);

// The bytes of an area of area_size bytes that a reader of its response
// looks at: the size word of a complete response, the end of a readable
// incomplete one, else the whole area. A copy of that many bytes reads the
// same.
size_t response_extent(const uint8_t* buffer, size_t area_size);

inline Hit response_hit(const QueryResponseView& v, uint32_t i) {
  Hit h{0, 0};
  if (i < v.hit_count) memcpy(&h, v.base + sizeof(QueryResponseHeader) + size_t{i} * sizeof h, sizeof h);
  return h;
}
// The date entry of hit i of a type 7 response (zero for other types).
din_entry response_date(const QueryResponseView& v, uint32_t i);
uint32_t response_term_word(const QueryResponseView& v, uint32_t j);
inline const char* response_query(const QueryResponseView& v) {
  return reinterpret_cast<const char*>(v.base + v.query_at);
}
inline const char* response_collection(const QueryResponseView& v) {
  return reinterpret_cast<const char*>(v.base + v.collection_at);
}

// One term of a response, in term order.
struct ResponseTerm {
  uint32_t index = 0;
  uint32_t word = 0;
  uint32_t block_count = 0;  // 0 without the merge flag
  size_t block_at = 0;       // offset of the block's first hit; 0 without blocks
  const char* text = nullptr;
  size_t text_length = 0;
};

// Walks the terms of a checked response: start with a zeroed cursor; each
// call gives the next term, false after the last.
struct ResponseTermCursor {
  uint32_t next = 0;
  size_t block_at = 0;
  size_t string_at = 0;
};
bool response_next_term(const QueryResponseView& v, ResponseTermCursor* c, ResponseTerm* t);

inline Hit response_block_hit(const QueryResponseView& v, const ResponseTerm& t, uint32_t k) {
  Hit h{0, 0};
  if (t.block_at && k < t.block_count) memcpy(&h, v.base + t.block_at + size_t{k} * sizeof h, sizeof h);
  return h;
}
// Rewrites hit k of a term's block in place (the merge renumbers block hits).
inline void response_set_block_hit(uint8_t* buffer, const ResponseTerm& t, uint32_t k, Hit h) {
  if (t.block_at && k < t.block_count) memcpy(buffer + t.block_at + size_t{k} * sizeof h, &h, sizeof h);
}

// Writes a response section by section, in the order of the format: begin,
// total (any time), hits, date entries (type 7), term words, blocks (with
// the merge flag), term strings, query string, collection, finish. Every
// step checks its room first and returns false, writing nothing, when the
// section does not fit; needed() then tells the bytes the section would have
// needed.
struct ResponseWriter {
  uint8_t* base = nullptr;
  size_t capacity = 0;
  size_t pos = 0;            // bytes written so far
  size_t want = 0;           // bytes the last refused step needed
  uint32_t type = 0;
  uint32_t merge_flag = 0;
  uint32_t hit_count = 0;
  bool dates_done = false;
  uint32_t term_count = 0;   // 0 until the words are written
  bool words_done = false;
  uint32_t blocks_done = 0;
  size_t block_count_at = 0; // offset of the open block's count; 0 when none
  uint32_t strings_done = 0;
  int tail = 0;              // 1 after the query string, 2 after the collection
  bool finished = false;
};

// Writes the header (size 0, type, merge flag, start, H 0, documents, total
// 0) and zeroes the counts and NULs after it. False (the area's first bytes
// zeroed) when the area is smaller than kMinResponseSize.
bool response_begin(ResponseWriter* w, uint8_t* area, size_t capacity, uint32_t type,
                    uint32_t merge_flag, uint32_t start, uint32_t documents);
void response_set_total(ResponseWriter* w, int32_t total);
void response_set_start(ResponseWriter* w, uint32_t start);
// Room for n hits: where to write them (pack_hit), or null. Then commit: H = n.
uint8_t* response_hit_area(ResponseWriter* w, uint32_t n);
void response_commit_hits(ResponseWriter* w, uint32_t n);
// Type 7: room for H date entries, or null; then commit.
uint8_t* response_date_area(ResponseWriter* w);
void response_commit_dates(ResponseWriter* w);
// T and its n words, the words first.
bool response_put_term_words(ResponseWriter* w, const uint32_t* words, uint32_t n);
// A block: its count word (0), then hits added in one or more parts.
bool response_open_block(ResponseWriter* w);
uint8_t* response_block_area(ResponseWriter* w, uint32_t n);
void response_commit_block_hits(ResponseWriter* w, uint32_t n);
// Term strings (T of them), then the query string, then the collection name.
bool response_put_string(ResponseWriter* w, const char* text, size_t length);
// Sets the size word once every section is there; false when one is missing.
bool response_finish(ResponseWriter* w);
inline size_t response_needed(const ResponseWriter& w) { return w.want; }

}  // namespace vorlane::engine
