#include "hashdb/hdb_overflow.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "hashdb/hdb_errno.h"

namespace vorlane::hashdb {

namespace {

bool swapped(const hdb_table* t) {
  bool stored_little = t->header.byte_order == kLittleEndianOrder;
  return stored_little != (std::endian::native == std::endian::little);
}

void swap16_at(uint8_t* p, size_t off) { put16(p, off, __builtin_bswap16(get16(p, off))); }
void swap32_at(uint8_t* p, size_t off) { put32(p, off, __builtin_bswap32(get32(p, off))); }

uint32_t max_entries(uint32_t bucket_size) { return (bucket_size - kPageHeaderBytes) / kEntryBytes; }

void swap_bitmap(uint8_t* page, uint32_t bucket_size) {
  for (uint32_t j = 0; j < bucket_size / 4; ++j) swap32_at(page, 4 * j);
}

void swap_entries(uint8_t* page, uint32_t count, uint32_t bucket_size) {
  uint32_t n = count < max_entries(bucket_size) ? count : max_entries(bucket_size);
  for (uint32_t i = 0; i < n; ++i) {
    swap16_at(page, kPageHeaderBytes + 4 * i);
    swap16_at(page, kPageHeaderBytes + 4 * i + 2);
  }
}

void swap_page_header(uint8_t* page) {
  swap32_at(page, 0);
  swap32_at(page, 4);
  swap16_at(page, 8);
  swap16_at(page, 12);
}

void bit_set(uint8_t* bitmap, uint32_t bit) {
  put32(bitmap, 4 * (bit >> 5), get32(bitmap, 4 * (bit >> 5)) | (1u << (bit & 31)));
}
void bit_clear(uint8_t* bitmap, uint32_t bit) {
  put32(bitmap, 4 * (bit >> 5), get32(bitmap, 4 * (bit >> 5)) & ~(1u << (bit & 31)));
}

// Moves to the next split point after the current one filled up: the slot
// just counted moves with it. False when there is no 33rd split point.
bool advance_split_point(hdb_header& h, uint32_t& s) {
  if (s + 1 >= static_cast<uint32_t>(kSplitPoints)) return false;
  ++s;
  h.overflow_point = s;
  h.spares[s] = h.spares[s - 1];
  h.spares[s - 1] -= 1;
  return true;
}

// True when slot number p (bit address p - 1) holds one of the bitmap pages.
bool slot_is_bitmap(const hdb_table* t, uint64_t p) {
  for (uint32_t i = 0; i < t->bitmap_count && i < static_cast<uint32_t>(kMaxBitmaps); ++i) {
    uint16_t a = t->header.bitmap_pages[i];
    if (a && uint64_t{hdb_oaddr_bit(t->header, a)} + 1 == p) return true;
  }
  return false;
}

}  // namespace

uint8_t* hdb_bitmap(hdb_table* t, uint32_t index) {
  if (index >= t->bitmap_count || index >= static_cast<uint32_t>(kMaxBitmaps)) {
    set_damaged();
    return nullptr;
  }
  if (t->bitmaps[index]) return t->bitmaps[index];
  uint64_t page = hdb_oaddr_page(t->header, t->header.bitmap_pages[index]);
  if (t->header.bitmap_pages[index] == 0 || page > hdb_max_page(t->header.bucket_size)) {
    set_damaged();
    return nullptr;
  }
  uint8_t* p = hdb_pool_get(t->pool, static_cast<uint32_t>(page), 0);
  if (!p) return nullptr;
  t->bitmaps[index] = p;
  return p;
}

int hdb_make_bitmap(hdb_table* t, uint16_t addr, uint32_t n, uint32_t index) {
  uint32_t bs = t->header.bucket_size;
  uint64_t page_number = hdb_oaddr_page(t->header, addr);
  if (page_number > hdb_max_page(bs)) {
    set_site_errno(kSitePoolLimit);
    return 1;
  }
  // Known as a bitmap before any hook can see the page.
  uint16_t old_addr = t->header.bitmap_pages[index];
  t->header.bitmap_pages[index] = addr;
  uint32_t number = static_cast<uint32_t>(page_number);
  uint8_t* page = hdb_pool_new(t->pool, &number, kPoolRequest);
  if (!page) {
    t->header.bitmap_pages[index] = old_addr;
    return 1;
  }
  uint32_t clear_words = ((n - 1) >> 5) + 1;
  std::memset(page, 0, 4 * clear_words);
  std::memset(page + 4 * clear_words, 0xFF, bs - 4 * clear_words);
  uint32_t last = (n - 1) >> 5;
  put32(page, 4 * last, (n % 32) ? (0xFFFFFFFFu << (n % 32)) : 0);
  bit_set(page, 0);
  // Marked dirty and pinned again: the table keeps it until the next flush.
  hdb_pool_put(t->pool, page, kPoolDirty);
  t->bitmap_count = index + 1 > t->bitmap_count ? index + 1 : t->bitmap_count;
  t->bitmaps[index] = hdb_pool_get(t->pool, number, 0);
  return t->bitmaps[index] ? 0 : 1;
}

uint16_t hdb_overflow_alloc(hdb_table* t) {
  hdb_header& h = t->header;
  const hdb_header saved = h;
  uint32_t bs = h.bucket_size;
  uint32_t shift = h.bucket_shift + 3;
  uint32_t B = bs * 8;
  uint32_t max_page = hdb_max_page(bs);
  uint32_t s = h.overflow_point;
  uint32_t max = h.spares[s];
  if (max == 0) {
    set_damaged();
    return 0;
  }
  uint32_t L = (max - 1) >> shift;
  uint32_t f = (max - 1) & (B - 1);

  // A free slot among those already allocated.
  uint32_t first = h.last_freed >> shift;
  for (uint32_t i = first; i <= L; ++i) {
    uint8_t* bm = hdb_bitmap(t, i);
    if (!bm) return 0;
    uint32_t last_bit = i == L ? f : B - 1;
    uint32_t word = i == first ? (h.last_freed & (B - 1)) >> 5 : 0;
    for (; word <= last_bit >> 5; ++word) {
      uint32_t w = get32(bm, 4 * word);
      if (w == 0xFFFFFFFFu) continue;
      uint32_t bit = word * 32 + static_cast<uint32_t>(std::countr_one(w));
      if (bit > last_bit) break;  // beyond the last allocated slot
      uint64_t p = uint64_t{bit} + uint64_t{i} * B + 1;
      if (slot_is_bitmap(t, p)) {
        // A damaged bitmap lost a bitmap page's own bit: that slot is in
        // use. Set the bit again and look at the word once more.
        bit_set(bm, bit);
        --word;
        continue;
      }
      uint32_t tp = s;
      for (uint32_t k = 0; k < s; ++k)
        if (p <= h.spares[k]) {
          tp = k;
          break;
        }
      uint64_t o = p - (tp == 0 ? 0 : h.spares[tp - 1]);
      if (o == 0 || o > kMaxSlotOffset) {
        set_site_errno(kSiteSlotOffset);
        return 0;
      }
      uint16_t addr = hdb_oaddr(tp, static_cast<uint32_t>(o));
      if (hdb_oaddr_page(h, addr) > max_page) {
        set_site_errno(kSiteSlotLimit);
        return 0;
      }
      bit_set(bm, bit);
      if (p >= h.last_freed) h.last_freed = static_cast<uint32_t>(p - 1);
      return addr;
    }
  }

  // Append a slot at the overflow point.
  h.last_freed = h.spares[s];
  h.spares[s] += 1;
  uint32_t o = h.spares[s] - (s == 0 ? 0 : h.spares[s - 1]);
  if (o > kMaxSlotOffset) {
    if (!advance_split_point(h, s)) {
      h = saved;
      set_site_errno(kSiteSplitPoints);
      return 0;
    }
    o = 1;
  }
  uint8_t* last_bitmap = nullptr;
  uint32_t new_bitmap = 0;
  uint16_t bitmap_addr = 0;
  if (f == B - 1) {
    // The last bitmap page is full: this slot becomes the next bitmap page.
    new_bitmap = L + 1;
    if (new_bitmap >= static_cast<uint32_t>(kMaxBitmaps)) {
      h = saved;
      set_site_errno(kSiteBitmapPages);
      return 0;
    }
    bitmap_addr = hdb_oaddr(s, o);
    h.spares[s] += 1;
    ++o;
    if (o > kMaxSlotOffset) {
      if (!advance_split_point(h, s)) {
        h = saved;
        set_site_errno(kSiteSplitPointsAfterBitmap);
        return 0;
      }
      o = 1;
    }
  } else {
    last_bitmap = hdb_bitmap(t, L);
    if (!last_bitmap) {
      h = saved;
      return 0;
    }
  }
  uint16_t addr = hdb_oaddr(s, o);
  if (hdb_oaddr_page(h, addr) > max_page || (bitmap_addr && hdb_oaddr_page(h, bitmap_addr) > max_page)) {
    h = saved;
    set_site_errno(kSiteAppendLimit);
    return 0;
  }
  if (bitmap_addr) {
    if (hdb_make_bitmap(t, bitmap_addr, 1, new_bitmap) != 0) {
      h = saved;
      return 0;
    }
  } else {
    bit_set(last_bitmap, f + 1);
  }
  return addr;
}

int hdb_overflow_release(hdb_table* t, uint16_t addr) {
  hdb_header& h = t->header;
  uint32_t shift = h.bucket_shift + 3;
  uint32_t a = hdb_oaddr_bit(h, addr);
  uint8_t* bm = hdb_bitmap(t, a >> shift);
  if (!bm) return -1;
  if (a < h.last_freed) h.last_freed = a;
  bit_clear(bm, a & (h.bucket_size * 8 - 1));
  return 0;
}

int hdb_free_overflow_page(hdb_table* t, uint8_t* page) {
  uint32_t number = hdb_pool_page_number(page);
  uint16_t addr = hdb_page_oaddr(t->header, number);
  if (addr == 0 || hdb_is_bitmap_page(t, number)) {
    // Not an overflow slot: a damaged chain reached it. Keep it.
    hdb_pool_put(t->pool, page, 0);
    set_damaged();
    return -1;
  }
  if (hdb_pool_delete(t->pool, page) != 0) return -1;
  if (t->pending_count == t->pending_capacity) {
    uint32_t capacity = t->pending_capacity ? 2 * t->pending_capacity : 64;
    void* grown = std::realloc(t->pending_frees, capacity * sizeof(uint16_t));
    if (!grown) return hdb_overflow_release(t, addr);  // no room to defer: free now
    t->pending_frees = static_cast<uint16_t*>(grown);
    t->pending_capacity = capacity;
  }
  t->pending_frees[t->pending_count++] = addr;
  return 0;
}

int hdb_discard_overflow_page(hdb_table* t, uint32_t page_number) {
  uint16_t addr = hdb_page_oaddr(t->header, page_number);
  if (addr == 0) {
    set_damaged();
    return -1;
  }
  if (hdb_buffer* b = hdb_pool_find(t->pool, page_number))
    if (hdb_pool_delete(t->pool, b->page) != 0) return -1;
  return hdb_overflow_release(t, addr);
}

void hdb_apply_pending_frees(hdb_table* t) {
  for (uint32_t i = 0; i < t->pending_count; ++i) hdb_overflow_release(t, t->pending_frees[i]);
  t->pending_count = 0;
}

int hdb_free_overflow_number(hdb_table* t, uint32_t page_number) {
  uint8_t* page = hdb_pool_get(t->pool, page_number, 0);
  if (!page) return -1;
  return hdb_free_overflow_page(t, page);
}

uint8_t* hdb_add_overflow_page(hdb_table* t, uint8_t* last, uint32_t* page_number) {
  if (t->header.fill_factor == kDefaultFillFactor) {
    uint32_t ff = pg_count(last) / 2;
    t->header.fill_factor = ff < 4 ? 4 : ff;
  }
  uint16_t addr = hdb_overflow_alloc(t);
  if (!addr) return nullptr;
  uint32_t number = static_cast<uint32_t>(hdb_oaddr_page(t->header, addr));
  uint8_t* page = hdb_pool_new(t->pool, &number, kPoolRequest);
  if (!page) {
    hdb_overflow_release(t, addr);
    return nullptr;
  }
  pg_init(page, t->header.bucket_size, number, kOverflowPage);
  // On the file before anything links to it: a slot used before holds stale pages.
  if (hdb_pool_write(t->pool, page) != 0) {
    int saved = errno;
    hdb_pool_delete(t->pool, page);
    hdb_overflow_release(t, addr);
    errno = saved;
    return nullptr;
  }
  pg_set_next(last, number);
  hdb_pool_put(t->pool, last, kPoolDirty);
  *page_number = number;
  return page;
}

void hdb_page_in(void* cookie, uint32_t page_number, uint8_t* page) {
  hdb_table* t = static_cast<hdb_table*>(cookie);
  uint32_t bs = t->header.bucket_size;
  bool bitmap = hdb_is_bitmap_page(t, page_number);
  if (!bitmap && pg_count(page) == 0 && pg_next(page) == 0) {
    pg_init(page, bs, page_number, kBucketPage);
    return;
  }
  if (!swapped(t)) return;
  if (bitmap) {
    swap_bitmap(page, bs);
    return;
  }
  swap_page_header(page);
  swap_entries(page, pg_count(page), bs);
}

void hdb_page_out(void* cookie, uint32_t page_number, uint8_t* page) {
  hdb_table* t = static_cast<hdb_table*>(cookie);
  if (!swapped(t)) return;
  uint32_t bs = t->header.bucket_size;
  if (hdb_is_bitmap_page(t, page_number)) {
    swap_bitmap(page, bs);
    return;
  }
  swap_entries(page, pg_count(page), bs);
  swap_page_header(page);
}

}  // namespace vorlane::hashdb
