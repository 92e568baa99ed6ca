#include "hashdb/hdb_bigpair.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "hashdb/hdb_errno.h"
#include "hashdb/hdb_overflow.h"

namespace vorlane::hashdb {

namespace {

uint16_t big_key_bytes(const uint8_t* p) { return get16(p, 14); }
uint16_t big_data_bytes(const uint8_t* p) { return get16(p, 16); }

// Walks a big chain one checked page at a time.
struct BigWalk {
  hdb_table* t;
  uint8_t* page = nullptr;
  uint32_t number = kNoPage;
  uint32_t hops = 0;

  ~BigWalk() { release(); }
  void release() {
    if (page) hdb_pool_put(t->pool, page, 0);
    page = nullptr;
  }
  // Fetches the page `n` of the chain; false with errno on failure.
  bool fetch(uint64_t n) {
    release();
    uint32_t bs = t->header.bucket_size;
    if (n > hdb_max_page(bs) || ++hops > hdb_chain_bound(t) || hdb_is_bitmap_page(t, static_cast<uint32_t>(n))) {
      set_damaged();
      return false;
    }
    number = static_cast<uint32_t>(n);
    page = hdb_pool_get(t->pool, number, 0);
    if (!page) return false;
    uint32_t next = pg_next(page);
    if (pg_type(page) != kBigPage || pg_count(page) != 1 || pg_own(page) != number ||
        uint32_t{big_key_bytes(page)} + big_data_bytes(page) > bs - kBigHeaderBytes ||
        (next != kNoPage && (next == number || next > hdb_max_page(bs)))) {
      release();
      set_damaged();
      return false;
    }
    return true;
  }
  bool start(uint16_t addr) {
    if (addr == 0 || hdb_oaddr_offset(addr) == 0 || hdb_oaddr_split(addr) > t->header.overflow_point) {
      set_damaged();
      return false;
    }
    return fetch(hdb_oaddr_page(t->header, addr));
  }
  // Advances; false at the end (errno unchanged) or on failure (ok = false).
  bool advance(bool* ok) {
    uint32_t next = pg_next(page);
    if (next == kNoPage) {
      *ok = true;
      return false;
    }
    *ok = fetch(next);
    return *ok;
  }
};

bool grow(uint8_t** buffer, size_t* size, size_t wanted, int site) {
  if (*size >= wanted) return true;
  void* grown = std::realloc(*buffer, wanted);
  if (!grown) {
    set_site_errno(site);
    return false;
  }
  *buffer = static_cast<uint8_t*>(grown);
  *size = wanted;
  return true;
}

}  // namespace

int hdb_big_insert(hdb_table* t, uint8_t* page, const hdb_bytes& key, const hdb_bytes& data) {
  const uint32_t bs = t->header.bucket_size;
  const uint32_t capacity = bs - kBigHeaderBytes;
  const uint8_t* kp = static_cast<const uint8_t*>(key.data);
  const uint8_t* dp = static_cast<const uint8_t*>(data.data);
  size_t key_left = key.size, data_left = data.size;
  std::vector<uint32_t> made;
  uint8_t* prev = nullptr;
  uint16_t first = 0;
  bool ok = true;
  try {
    do {
      uint16_t addr = hdb_overflow_alloc(t);
      if (!addr) {
        ok = false;
        break;
      }
      uint32_t number = static_cast<uint32_t>(hdb_oaddr_page(t->header, addr));
      uint8_t* np = hdb_pool_new(t->pool, &number, kPoolRequest);
      if (!np) {
        hdb_overflow_release(t, addr);
        ok = false;
        break;
      }
      made.push_back(number);
      pg_init(np, bs, number, kBigPage);
      pg_set_count(np, 1);
      uint32_t kb = key_left < capacity ? static_cast<uint32_t>(key_left) : capacity;
      uint32_t room = capacity - kb;
      uint32_t db = data_left < room ? static_cast<uint32_t>(data_left) : room;
      put16(np, 14, static_cast<uint16_t>(kb));
      put16(np, 16, static_cast<uint16_t>(db));
      if (kb) std::memcpy(np + kBigHeaderBytes, kp + (key.size - key_left), kb);
      if (db) std::memcpy(np + kBigHeaderBytes + kb, dp + (data.size - data_left), db);
      key_left -= kb;
      data_left -= db;
      if (prev) {
        pg_set_next(prev, number);
        // A finished big page goes to the file before anything refers to the chain.
        if (hdb_pool_write(t->pool, prev) != 0) {
          hdb_pool_put(t->pool, prev, kPoolDirty);
          prev = np;
          ok = false;
          break;
        }
        hdb_pool_put(t->pool, prev, 0);
      } else {
        first = addr;
      }
      prev = np;
    } while (key_left || data_left);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    set_site_errno(kSiteBigDataMemory);
    ok = false;
  }
  if (prev) {
    if (ok && hdb_pool_write(t->pool, prev) != 0) ok = false;
    hdb_pool_put(t->pool, prev, ok ? 0 : kPoolDirty);
  }
  if (!ok) {
    int saved = errno;
    for (uint32_t number : made) hdb_discard_overflow_page(t, number);
    errno = saved;
    return -1;
  }
  uint16_t count = pg_count(page);
  pg_set_entry(page, count, 0, first);
  pg_set_count(page, static_cast<uint16_t>(count + 1));
  return 0;
}

int hdb_big_match(hdb_table* t, uint16_t addr, const hdb_bytes& key) {
  BigWalk w{t};
  if (!w.start(addr)) return -1;
  const uint8_t* kp = static_cast<const uint8_t*>(key.data);
  size_t pos = 0;
  for (;;) {
    uint32_t kb = big_key_bytes(w.page);
    if (pos + kb > key.size) return 0;  // the stored key is longer
    if (kb && std::memcmp(kp + pos, w.page + kBigHeaderBytes, kb) != 0) return 0;
    pos += kb;
    // The key ends on a page that also holds data, or before a page without key bytes.
    if (kb == 0 || big_data_bytes(w.page)) return pos == key.size ? 1 : 0;
    bool ok;
    if (!w.advance(&ok)) return ok ? (pos == key.size ? 1 : 0) : -1;
  }
}

int hdb_big_key_data(hdb_table* t, uint16_t addr, hdb_bytes* key, hdb_bytes* data) {
  BigWalk w{t};
  if (!w.start(addr)) return -1;
  size_t key_len = 0, data_len = 0;
  bool in_data = false;
  for (;;) {
    uint32_t kb = big_key_bytes(w.page), db = big_data_bytes(w.page);
    if (kb && in_data) {  // key bytes after the data began
      set_damaged();
      return -1;
    }
    if (kb) {
      if (!grow(&t->big_key, &t->big_key_size, key_len + kb, kSiteBigKeyMemory)) return -1;
      std::memcpy(t->big_key + key_len, w.page + kBigHeaderBytes, kb);
      key_len += kb;
    }
    if (kb == 0 || db) in_data = true;
    if (db) {
      if (!grow(&t->big_data, &t->big_data_size, data_len + db, kSiteBigDataMemory)) return -1;
      std::memcpy(t->big_data + data_len, w.page + kBigHeaderBytes + kb, db);
      data_len += db;
    }
    bool ok;
    if (!w.advance(&ok)) {
      if (!ok) return -1;
      break;
    }
  }
  if (key) *key = {t->big_key ? t->big_key : reinterpret_cast<const uint8_t*>(""), key_len};
  if (data) *data = {t->big_data ? t->big_data : reinterpret_cast<const uint8_t*>(""), data_len};
  return 0;
}

int64_t hdb_big_pages(hdb_table* t, uint16_t addr, uint32_t* numbers, uint32_t max) {
  BigWalk w{t};
  if (!w.start(addr)) return -1;
  uint32_t n = 0;
  for (;;) {
    if (n >= max) {
      set_damaged();
      return -1;
    }
    numbers[n++] = w.number;
    bool ok;
    if (!w.advance(&ok)) return ok ? int64_t{n} : int64_t{-1};
  }
}

int hdb_big_delete(hdb_table* t, uint16_t addr) {
  std::vector<uint32_t> numbers;
  try {
    numbers.resize(hdb_chain_bound(t));
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    set_site_errno(kSiteTableMemory);
    return -1;
  }
  int64_t n = hdb_big_pages(t, addr, numbers.data(), static_cast<uint32_t>(numbers.size()));
  if (n < 0) return -1;
  int result = 0;
  for (int64_t i = 0; i < n; ++i)
    if (hdb_free_overflow_number(t, numbers[i]) != 0) result = -1;
  return result;
}

}  // namespace vorlane::hashdb
