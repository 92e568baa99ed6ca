#include "hashdb/hdb_format.h"

namespace vorlane::hashdb {

namespace {

void le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
void le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
uint32_t rd32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t rd16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool power_of_two(uint64_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

uint32_t hdb_default_hash(const void* bytes, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  // h = h * 33 + byte, four bytes a step: the same sums modulo 2^32, with
  // the step's products independent of each other.
  uint32_t h = 0;
  size_t i = 0;
  for (; i + 4 <= length; i += 4)
    h = h * 1185921u + p[i] * 35937u + p[i + 1] * 1089u + p[i + 2] * 33u + p[i + 3];
  for (; i < length; ++i) h = h * 33 + p[i];
  return h;
}

uint32_t hdb_hash_check(hdb_hash_fn hash) { return hash(kHashCheckText, kHashCheckBytes); }

uint32_t hdb_log2(uint32_t n) {
  return n <= 1 ? 0 : 32u - static_cast<uint32_t>(__builtin_clz(n - 1));
}

uint32_t hdb_header_pages_for(uint32_t bucket_size) {
  uint32_t usable = bucket_size - 4;
  return kHeaderBytes / usable + (kHeaderBytes % usable ? 1 : 0);
}

void hdb_header_encode(const hdb_header& h, uint8_t out[kHeaderBytes]) {
  const uint32_t words[] = {h.magic,       h.version,   h.byte_order,  h.bucket_size, h.bucket_shift,
                            h.overflow_point, h.last_freed, h.last_bucket, h.high_mask,  h.low_mask,
                            h.fill_factor, h.key_count, h.header_pages, h.hash_check};
  for (size_t i = 0; i < 14; ++i) le32(out + 4 * i, words[i]);
  for (int i = 0; i < kSplitPoints; ++i) le32(out + 56 + 4 * i, h.spares[i]);
  for (int i = 0; i < kMaxBitmaps; ++i) le16(out + 184 + 2 * i, h.bitmap_pages[i]);
}

void hdb_header_decode(const uint8_t in[kHeaderBytes], hdb_header* h) {
  uint32_t* words[] = {&h->magic,       &h->version,   &h->byte_order,  &h->bucket_size,
                       &h->bucket_shift, &h->overflow_point, &h->last_freed, &h->last_bucket,
                       &h->high_mask,   &h->low_mask,  &h->fill_factor, &h->key_count,
                       &h->header_pages, &h->hash_check};
  for (size_t i = 0; i < 14; ++i) *words[i] = rd32(in + 4 * i);
  for (int i = 0; i < kSplitPoints; ++i) h->spares[i] = rd32(in + 56 + 4 * i);
  for (int i = 0; i < kMaxBitmaps; ++i) h->bitmap_pages[i] = rd16(in + 184 + 2 * i);
}

uint32_t hdb_bitmap_count(const hdb_header& h) {
  uint64_t bits = uint64_t{h.bucket_size} * 8;
  return static_cast<uint32_t>((h.spares[h.overflow_point] + bits - 1) >> (h.bucket_shift + 3));
}

bool hdb_header_consistent(const hdb_header& h) {
  if (h.byte_order != kLittleEndianOrder && h.byte_order != kBigEndianOrder) return false;
  if (!power_of_two(h.bucket_size) || h.bucket_size < kMinBucketSize || h.bucket_size > kMaxBucketSize)
    return false;
  if (h.bucket_shift != hdb_log2(h.bucket_size)) return false;
  if (h.header_pages != hdb_header_pages_for(h.bucket_size)) return false;
  if (h.overflow_point >= static_cast<uint32_t>(kSplitPoints)) return false;
  if (h.fill_factor == 0) return false;
  if (h.low_mask == 0 || !power_of_two(uint64_t{h.low_mask} + 1)) return false;
  if (h.high_mask != 2 * h.low_mask + 1) return false;
  if (h.last_bucket < h.low_mask || h.last_bucket > h.high_mask) return false;
  if (hdb_log2(h.last_bucket + 1) > h.overflow_point) return false;
  for (uint32_t s = 1; s <= h.overflow_point; ++s)
    if (h.spares[s] < h.spares[s - 1]) return false;
  if (h.spares[h.overflow_point] == 0) return false;
  uint32_t max_page = hdb_max_page(h.bucket_size);
  if (hdb_bucket_page(h, h.last_bucket) > max_page) return false;
  uint32_t bitmaps = hdb_bitmap_count(h);
  if (bitmaps == 0 || bitmaps > static_cast<uint32_t>(kMaxBitmaps)) return false;
  for (uint32_t i = 0; i < bitmaps; ++i) {
    uint16_t a = h.bitmap_pages[i];
    if (a == 0 || hdb_oaddr_offset(a) == 0 || hdb_oaddr_split(a) > h.overflow_point) return false;
    if (hdb_oaddr_page(h, a) > max_page) return false;
    if (hdb_oaddr_bit(h, a) >= h.spares[h.overflow_point]) return false;
    // Within the slots of its own split point, so that its page is no slot
    // of a later split point.
    uint32_t s = hdb_oaddr_split(a);
    if (hdb_oaddr_offset(a) > h.spares[s] - (s == 0 ? 0 : h.spares[s - 1])) return false;
  }
  return true;
}

uint32_t hdb_bucket_of(const hdb_header& h, uint32_t hash) {
  uint32_t b = hash & h.high_mask;
  if (b > h.last_bucket) b = hash & h.low_mask;
  return b;
}

uint64_t hdb_bucket_page(const hdb_header& h, uint32_t bucket) {
  uint64_t page = uint64_t{bucket} + h.header_pages;
  if (bucket != 0) {
    uint32_t s = hdb_log2(bucket == 0xFFFFFFFF ? bucket : bucket + 1) - 1;
    if (s >= static_cast<uint32_t>(kSplitPoints)) return UINT64_MAX;
    page += h.spares[s];
  }
  return page;
}

uint64_t hdb_oaddr_page(const hdb_header& h, uint16_t addr) {
  uint32_t s = hdb_oaddr_split(addr);
  uint64_t page = (uint64_t{1} << s) - 1 + h.header_pages + hdb_oaddr_offset(addr);
  if (s != 0) page += h.spares[s - 1];
  return page;
}

uint32_t hdb_oaddr_bit(const hdb_header& h, uint16_t addr) {
  uint32_t s = hdb_oaddr_split(addr);
  return (s == 0 ? 0 : h.spares[s - 1]) + hdb_oaddr_offset(addr) - 1;
}

uint16_t hdb_page_oaddr(const hdb_header& h, uint32_t page) {
  if (page < h.header_pages) return 0;
  uint64_t q = page - h.header_pages;
  // The first s with 2^s + spares[s] < q < 2^(s+1) + spares[s+1]; s + 1 is
  // the split point. The search stays within the spares array.
  for (uint32_t s = 0; s + 1 < static_cast<uint32_t>(kSplitPoints); ++s) {
    uint64_t low = (uint64_t{1} << s) + h.spares[s];
    uint64_t high = (uint64_t{1} << (s + 1)) + h.spares[s + 1];
    if (low < q && q < high) {
      uint64_t base = (uint64_t{1} << (s + 1)) - 1 + h.spares[s];
      if (q <= base || q - base > kMaxSlotOffset) return 0;
      uint16_t addr = hdb_oaddr(s + 1, static_cast<uint32_t>(q - base));
      // Only an address that maps back to the page is an overflow slot.
      return hdb_oaddr_page(h, addr) == page ? addr : 0;
    }
  }
  return 0;
}

void pg_init(uint8_t* page, uint32_t bucket_size, uint32_t own, uint8_t type) {
  pg_set_own(page, own);
  pg_set_next(page, kNoPage);
  pg_set_count(page, 0);
  pg_set_type(page, type);
  page[11] = 0;
  pg_set_free_end(page, static_cast<uint16_t>(bucket_size - 1));
}

}  // namespace vorlane::hashdb
