// Hash database file format: a linear-hashing table of key/data pairs.
//
// The file is an array of pages of `bucket_size` bytes; page p lies at byte
// offset p * bucket_size. Page numbers are unsigned 32-bit, 0xFFFFFFFF means
// no page, and every page in use satisfies p <= 0x7FFFFFFF / bucket_size - 1
// (the file stays below 2 GB).
//
// Header (`hdb_header`): 248 bytes at offset 0, every field little-endian
// whatever `byte_order` says. It occupies the first `header_pages` pages;
// the rest of those pages is never written or read.
//
//   off  width     field           meaning
//     0  u32       magic           0x00061561
//     4  u32       version         3 when written; 3 or 1 accepted
//     8  u32       byte_order      4321 (pages little-endian) or 1234 (big-endian)
//    12  u32       bucket_size     page size, a power of two, 64..65536
//    16  u32       bucket_shift    log2(bucket_size)
//    20  u32       overflow_point  split point where new overflow slots are appended
//    24  u32       last_freed      bit address where the free-slot search begins
//    28  u32       last_bucket     highest bucket in use (buckets 0..last_bucket)
//    32  u32       high_mask       2^(k+1) - 1 for the current doubling
//    36  u32       low_mask        2^k - 1
//    40  u32       fill_factor     pairs per bucket before growth; 65536 = not fixed yet
//    44  u32       key_count       pairs stored
//    48  u32       header_pages    ceil(248 / (bucket_size - 4))
//    52  u32       hash_check      hash of the 12 bytes "%$sniglet^&\0"
//    56  u32 x 32  spares          overflow slots allocated at split points 0..s (cumulative)
//   184  u16 x 32  bitmap_pages    overflow address of each bitmap page; 0 = none
//
// Derived arithmetic (unsigned 32-bit):
//   hdb_log2(n)            smallest i with 2^i >= n; 0 for n <= 1
//   bucket of a hash h     b = h & high_mask; if b > last_bucket, b = h & low_mask
//   page of bucket b       b + header_pages + (b == 0 ? 0 : spares[hdb_log2(b + 1) - 1])
//   overflow address       u16: split point s in bits 15..11, offset o (1..2047) in bits 10..0;
//                          page (2^s - 1) + header_pages + (s == 0 ? 0 : spares[s - 1]) + o,
//                          i.e. the slots of split point s follow the page of bucket 2^s - 1
//   bit address of (s, o)  (s == 0 ? 0 : spares[s - 1]) + o - 1: bit a % (bucket_size * 8)
//                          of bitmap page a / (bucket_size * 8); slot number a + 1
//
// Page header of bucket, overflow and big pages (14 bytes):
//
//   off  width  field     meaning
//     0  u32    own       the page's own number
//     4  u32    next      next page of the chain, 0xFFFFFFFF for none
//     8  u16    count     number of entries
//    10  u8     type      2 bucket page, 3 big page, 4 overflow page
//    11  u8     unused    ignored
//    12  u16    free_end  offset of the last free byte; bucket_size - 1 when empty
//
// Entries follow at offset 14, 4 bytes each: u16 key offset, u16 data
// offset. Free space = free_end - 13 - 4 * count.
//
// Regular pair (key offset != 0): data is [data offset, key offset), key is
// [key offset, end) where end is the data offset of the nearest earlier
// regular entry, or bucket_size. Pairs are packed downward from the end of the
// page in entry order. A pair whose key would start at offset 65536 (an empty
// key first on an empty 65536-byte page) cannot be recorded in 16 bits and is
// stored big instead.
//
// Big pair (key offset 0): the data offset holds the overflow address of the
// first page of its big-page chain. A pair is big when
// key size + data size + 4 > 0.75 * bucket_size.
//
// Big page (type 3): count 1; u16 at 14 = key bytes on this page, u16 at 16 =
// data bytes on it; key bytes from offset 18, data bytes directly after; next
// links the following big page; free_end bucket_size - 1. The chain carries
// the key first, then the data; each page takes min(bucket_size - 18, key
// left) key bytes, then min(bucket_size - 18 - key bytes taken, data left).
//
// Overflow page (type 4): laid out as a bucket page, continuing the chain of
// the bucket that links to it.
//
// Bitmap page: no page header; bucket_size / 4 u32 words; bit n is bit n % 32
// of word n / 32. A set bit marks the overflow slot with that bit address as
// in use. At most 32 bitmap pages.
//
// Byte order of pages: with byte_order 4321 every 16- and 32-bit field of a
// bucket, overflow or big page (entries included) and every bitmap word is
// stored little-endian, with 1234 big-endian. Key and data bytes are never
// converted. In memory pages are always in the machine's order.
//
// Unwritten pages read as zeros; a page with count 0 and next 0 that is not
// a bitmap page reads as an empty bucket page of its own number.
//
// A new table for E expected pairs and fill factor F: n = (E - 1) / F + 1,
// k = hdb_log2(max(n, 2)); buckets 0..2^k - 1; last_bucket = low_mask =
// 2^k - 1, high_mask = 2^(k+1) - 1; spares[k] = spares[k+1] = k + 1;
// overflow_point k; last_freed 2; the first bitmap page is slot (k, 1),
// made with k + 1 clear bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorlane::hashdb {

constexpr uint32_t kMagic = 0x00061561;
constexpr uint32_t kVersion = 3;
constexpr uint32_t kOldVersion = 1;
constexpr uint32_t kHeaderBytes = 248;
constexpr uint32_t kNoPage = 0xFFFFFFFF;
constexpr int kSplitPoints = 32;
constexpr int kMaxBitmaps = 32;
constexpr uint32_t kLittleEndianOrder = 4321;
constexpr uint32_t kBigEndianOrder = 1234;
constexpr uint32_t kMinBucketSize = 64;
constexpr uint32_t kMaxBucketSize = 65536;
constexpr uint32_t kDefaultFillFactor = 65536;
constexpr uint32_t kPageHeaderBytes = 14;
constexpr uint32_t kEntryBytes = 4;
constexpr uint32_t kBigHeaderBytes = 18;
constexpr uint32_t kMaxSlotOffset = 2047;
constexpr uint32_t kInitialLastFreed = 2;
constexpr uint32_t kDefaultHashCheck = 0x956E7DE3;

enum PageType : uint8_t { kBucketPage = 2, kBigPage = 3, kOverflowPage = 4 };

// The 12 bytes whose hash is recorded as hash_check ("%$sniglet^&" and NUL).
constexpr char kHashCheckText[] = "%$sniglet^&";
constexpr size_t kHashCheckBytes = sizeof kHashCheckText;

using hdb_hash_fn = uint32_t (*)(const void* bytes, size_t length);

struct hdb_header {
  uint32_t magic;
  uint32_t version;
  uint32_t byte_order;
  uint32_t bucket_size;
  uint32_t bucket_shift;
  uint32_t overflow_point;
  uint32_t last_freed;
  uint32_t last_bucket;
  uint32_t high_mask;
  uint32_t low_mask;
  uint32_t fill_factor;
  uint32_t key_count;
  uint32_t header_pages;
  uint32_t hash_check;
  uint32_t spares[kSplitPoints];
  uint16_t bitmap_pages[kMaxBitmaps];
};

// h = h * 33 + byte, modulo 2^32.
uint32_t hdb_default_hash(const void* bytes, size_t length);
uint32_t hdb_hash_check(hdb_hash_fn hash);

uint32_t hdb_log2(uint32_t n);
uint32_t hdb_header_pages_for(uint32_t bucket_size);
// The highest page number a file of this page size may use.
inline uint32_t hdb_max_page(uint32_t bucket_size) { return 0x7FFFFFFFu / bucket_size - 1; }

void hdb_header_encode(const hdb_header& header, uint8_t out[kHeaderBytes]);
void hdb_header_decode(const uint8_t in[kHeaderBytes], hdb_header* header);
// Whole-structure check of a header read from a file (sizes, masks, spares,
// bitmap addresses); true when every field is consistent.
bool hdb_header_consistent(const hdb_header& header);
// Number of bitmap pages the header's spares call for.
uint32_t hdb_bitmap_count(const hdb_header& header);

uint32_t hdb_bucket_of(const hdb_header& header, uint32_t hash);
// Page arithmetic is done in 64 bits so that damaged fields cannot wrap.
uint64_t hdb_bucket_page(const hdb_header& header, uint32_t bucket);

inline uint16_t hdb_oaddr(uint32_t split, uint32_t offset) {
  return static_cast<uint16_t>((split << 11) | offset);
}
inline uint32_t hdb_oaddr_split(uint16_t addr) { return addr >> 11; }
inline uint32_t hdb_oaddr_offset(uint16_t addr) { return addr & 0x7FF; }
uint64_t hdb_oaddr_page(const hdb_header& header, uint16_t addr);
uint32_t hdb_oaddr_bit(const hdb_header& header, uint16_t addr);
// The overflow address of an overflow page number, or 0 when the number is
// no overflow slot of this header.
uint16_t hdb_page_oaddr(const hdb_header& header, uint32_t page);

// Page header fields in memory (machine order). Pages need no alignment.
inline uint32_t get32(const uint8_t* p, size_t off) { uint32_t v; std::memcpy(&v, p + off, 4); return v; }
inline uint16_t get16(const uint8_t* p, size_t off) { uint16_t v; std::memcpy(&v, p + off, 2); return v; }
inline void put32(uint8_t* p, size_t off, uint32_t v) { std::memcpy(p + off, &v, 4); }
inline void put16(uint8_t* p, size_t off, uint16_t v) { std::memcpy(p + off, &v, 2); }

inline uint32_t pg_own(const uint8_t* p) { return get32(p, 0); }
inline uint32_t pg_next(const uint8_t* p) { return get32(p, 4); }
inline uint16_t pg_count(const uint8_t* p) { return get16(p, 8); }
inline uint8_t pg_type(const uint8_t* p) { return p[10]; }
inline uint16_t pg_free_end(const uint8_t* p) { return get16(p, 12); }
inline void pg_set_own(uint8_t* p, uint32_t v) { put32(p, 0, v); }
inline void pg_set_next(uint8_t* p, uint32_t v) { put32(p, 4, v); }
inline void pg_set_count(uint8_t* p, uint16_t v) { put16(p, 8, v); }
inline void pg_set_type(uint8_t* p, uint8_t v) { p[10] = v; }
inline void pg_set_free_end(uint8_t* p, uint16_t v) { put16(p, 12, v); }
inline uint16_t pg_key_off(const uint8_t* p, uint32_t i) { return get16(p, kPageHeaderBytes + 4 * i); }
inline uint16_t pg_data_off(const uint8_t* p, uint32_t i) { return get16(p, kPageHeaderBytes + 4 * i + 2); }
inline void pg_set_entry(uint8_t* p, uint32_t i, uint16_t key_off, uint16_t data_off) {
  put16(p, kPageHeaderBytes + 4 * i, key_off);
  put16(p, kPageHeaderBytes + 4 * i + 2, data_off);
}
// Free bytes of a bucket or overflow page (0 when its fields are damaged).
inline uint32_t pg_free_space(const uint8_t* p) {
  uint32_t used = 13 + 4u * pg_count(p);
  uint32_t end = pg_free_end(p);
  return end > used ? end - used : 0;
}
// An empty bucket (or overflow) page of the given number.
void pg_init(uint8_t* page, uint32_t bucket_size, uint32_t own, uint8_t type);

// A pair is stored big when key + data + 4 > 0.75 * bucket_size (exactly).
inline bool hdb_is_big(uint64_t key_size, uint64_t data_size, uint32_t bucket_size) {
  return 4 * (key_size + data_size + 4) > 3 * static_cast<uint64_t>(bucket_size);
}

}  // namespace vorlane::hashdb
