#include "hashdb/testing/hdb_test_support.h"

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "hashdb/hdb_access.h"
#include "hashdb/hdb_bigpair.h"
#include "hashdb/hdb_cursor.h"
#include "hashdb/hdb_overflow.h"

namespace vorlane::hashdb::testing {

namespace {

struct Checker {
  hdb_table* t = nullptr;
  std::set<uint32_t> slots;  // bit addresses in use
  std::ostringstream problems;
  uint64_t pairs = 0;

  void use_page(uint32_t number, const char* what) {
    uint16_t addr = hdb_page_oaddr(t->header, number);
    if (!addr) {
      problems << what << " page " << number << " is no overflow slot; ";
      return;
    }
    if (!slots.insert(hdb_oaddr_bit(t->header, addr)).second)
      problems << what << " page " << number << " used twice; ";
  }

  void check_big(uint16_t addr, uint32_t bucket) {
    std::vector<uint32_t> numbers(100000);
    int64_t n = hdb_big_pages(t, addr, numbers.data(), static_cast<uint32_t>(numbers.size()));
    if (n < 0) {
      problems << "big chain in bucket " << bucket << " unreadable; ";
      return;
    }
    for (int64_t i = 0; i < n; ++i) use_page(numbers[i], "big");
    hdb_bytes key;
    if (hdb_big_key_data(t, addr, &key, nullptr) != 0) {
      problems << "big key unreadable; ";
      return;
    }
    if (hdb_bucket_of(t->header, t->hash(key.data, key.size)) != bucket)
      problems << "big key in wrong bucket " << bucket << "; ";
  }

  void check_bucket(uint32_t bucket) {
    uint32_t number = static_cast<uint32_t>(hdb_bucket_page(t->header, bucket));
    bool first = true;
    uint32_t hops = 0;
    while (number != kNoPage) {
      uint8_t* page = hdb_chain_page(t, number, first);
      if (!page) {
        problems << "page " << number << " of bucket " << bucket << " damaged; ";
        return;
      }
      if (!first) {
        use_page(number, "overflow");
        if (pg_type(page) != kOverflowPage) problems << "overflow page " << number << " has type " << int(pg_type(page)) << "; ";
        if (pg_count(page) == 0) problems << "empty overflow page " << number << "; ";
      }
      uint32_t end = t->header.bucket_size;
      for (uint32_t i = 0; i < pg_count(page); ++i) {
        ++pairs;
        uint16_t ko = pg_key_off(page, i), dof = pg_data_off(page, i);
        if (ko == 0) {
          check_big(dof, bucket);
          continue;
        }
        if (hdb_bucket_of(t->header, t->hash(page + ko, end - ko)) != bucket)
          problems << "key in wrong bucket " << bucket << "; ";
        end = dof;
      }
      uint32_t next = pg_next(page);
      hdb_pool_put(t->pool, page, 0);
      number = next;
      first = false;
      if (++hops > 100000) {
        problems << "chain of bucket " << bucket << " loops; ";
        return;
      }
    }
  }
};

}  // namespace

std::string check_table(hdb_handle* handle) {
  Checker c;
  c.t = handle->internal;
  hdb_table* t = c.t;
  for (uint32_t i = 0; i < t->bitmap_count; ++i) c.use_page(static_cast<uint32_t>(hdb_oaddr_page(t->header, t->header.bitmap_pages[i])), "bitmap");
  for (uint32_t b = 0; b <= t->header.last_bucket; ++b) c.check_bucket(b);
  // Slots freed since the last sync keep their bits until the next one.
  for (uint32_t i = 0; i < t->pending_count; ++i)
    if (!c.slots.insert(hdb_oaddr_bit(t->header, t->pending_frees[i])).second)
      c.problems << "freed slot " << t->pending_frees[i] << " still in use; ";
  if (c.pairs != t->header.key_count)
    c.problems << "key_count " << t->header.key_count << " but " << c.pairs << " pairs; ";
  uint32_t limit = t->header.spares[t->header.overflow_point];
  uint32_t bits = t->header.bucket_size * 8;
  for (uint32_t a = 0; a < limit; ++a) {
    uint8_t* bm = hdb_bitmap(t, a / bits);
    if (!bm) {
      c.problems << "bitmap " << a / bits << " unreadable; ";
      break;
    }
    uint32_t bit = a % bits;
    bool set = (get32(bm, 4 * (bit >> 5)) >> (bit & 31)) & 1;
    bool used = c.slots.count(a) != 0;
    if (set != used) c.problems << "slot bit " << a << (set ? " set but unused" : " clear but used") << "; ";
  }
  return c.problems.str();
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace vorlane::hashdb::testing
