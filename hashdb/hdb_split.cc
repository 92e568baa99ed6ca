// Growth by one bucket: the new bucket takes the pairs of one older bucket
// that now hash to it (linear hashing).
//
// The old chain is read whole into memory first (a damaged or unreadable
// chain stops the growth before anything changes), the slots the two new
// chains need are checked to be available, and only then are the pages
// rewritten: the old bucket page is reinitialised, the old overflow pages
// freed, and every pair added to its target chain. Big pairs keep their
// chains; only their references move.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "hashdb/hdb_access.h"
#include "hashdb/hdb_bigpair.h"
#include "hashdb/hdb_cursor.h"
#include "hashdb/hdb_errno.h"
#include "hashdb/hdb_overflow.h"

namespace vorlane::hashdb {

namespace {

struct MovedPair {
  std::string key;
  std::string data;
  uint16_t big_ref;  // nonzero: a big pair's chain
  bool to_new;
};

// Reads every pair of the chain of `bucket` and the numbers of its overflow pages.
bool collect(hdb_table* t, uint32_t bucket, std::vector<MovedPair>* pairs, std::vector<uint32_t>* overflow) {
  hdb_cursor c;
  hdb_cursor_start(&c, bucket);
  hdb_position pos{};
  // Pages are noted as the walk reaches them (it passes over pages without entries).
  uint32_t last_page = static_cast<uint32_t>(hdb_bucket_page(t->header, bucket));
  for (;;) {
    uint8_t status = hdb_walk_step(t, &c, &pos);
    if (status != kWalkEntry && status != kWalkEnd) {
      hdb_cursor_release(t, &c);
      return false;
    }
    if (c.page && c.page_number != last_page) {
      overflow->push_back(c.page_number);
      last_page = c.page_number;
    }
    if (status == kWalkEnd) break;
    MovedPair p;
    if (pos.key_off == 0) {
      hdb_bytes key;
      if (hdb_big_key_data(t, pos.data_off, &key, nullptr) != 0) {
        hdb_cursor_release(t, &c);
        return false;
      }
      p.key.assign(static_cast<const char*>(key.data), key.size);
      p.big_ref = pos.data_off;
    } else {
      p.key.assign(reinterpret_cast<const char*>(c.page + pos.key_off), pos.key_size);
      p.data.assign(reinterpret_cast<const char*>(c.page + pos.data_off), pos.data_size);
      p.big_ref = 0;
    }
    p.to_new = false;
    pairs->push_back(std::move(p));
  }
  hdb_cursor_release(t, &c);
  return true;
}

// Overflow slots one target chain needs when its pairs are packed in order
// from an empty bucket page (as hdb_add_pair packs them).
uint64_t slots_needed(const std::vector<MovedPair>& pairs, bool to_new, uint32_t bs) {
  uint64_t slots = 0;
  uint32_t free_end = bs - 1, count = 0;
  for (const MovedPair& p : pairs) {
    if (p.to_new != to_new) continue;
    for (int attempt = 0; attempt < 2; ++attempt) {
      bool big = p.big_ref != 0 || (p.key.empty() && bs > 0xFFFF);
      uint64_t need = big ? kEntryBytes : p.key.size() + p.data.size() + kEntryBytes;
      uint64_t free = free_end - 13 - 4ull * count;
      if (need <= free) {
        if (big && !p.big_ref) ++slots;  // a pair that must become big
        ++count;
        if (!big) free_end -= static_cast<uint32_t>(p.key.size() + p.data.size());
        break;
      }
      ++slots;  // a new overflow page
      free_end = bs - 1;
      count = 0;
    }
  }
  return slots;
}

// True when `extra` more slots can be allocated; leaves them free.
bool slots_available(hdb_table* t, uint64_t extra) {
  std::vector<uint16_t> taken;
  bool ok = true;
  for (uint64_t i = 0; i < extra; ++i) {
    uint16_t addr = hdb_overflow_alloc(t);
    if (!addr) {
      ok = false;
      break;
    }
    taken.push_back(addr);
  }
  int saved = errno;
  for (uint16_t addr : taken) hdb_overflow_release(t, addr);
  errno = saved;
  return ok;
}

int grow(hdb_table* t) {
  hdb_header& h = t->header;
  const uint32_t bs = h.bucket_size;
  if (h.last_bucket >= 0x7FFFFFFFu) {
    set_site_errno(kSiteBucketLimit);
    return -1;
  }
  const uint32_t new_bucket = h.last_bucket + 1;
  const uint32_t old_bucket = new_bucket & h.low_mask;

  std::vector<MovedPair> pairs;
  std::vector<uint32_t> overflow;
  if (!collect(t, old_bucket, &pairs, &overflow)) return -1;

  // The header as it will be after growth.
  auto grown = [&](hdb_header g) {
    g.last_bucket = new_bucket;
    uint32_t l = hdb_log2(new_bucket + 1);
    if (l > g.overflow_point && l < static_cast<uint32_t>(kSplitPoints)) {
      g.spares[l] = g.spares[g.overflow_point];
      g.overflow_point = l;
    }
    if (new_bucket > g.high_mask) {
      g.low_mask = g.high_mask;
      g.high_mask = new_bucket | g.low_mask;
    }
    return g;
  };
  hdb_header after = grown(h);
  if (hdb_log2(new_bucket + 1) >= static_cast<uint32_t>(kSplitPoints) ||
      hdb_bucket_page(after, new_bucket) > hdb_max_page(bs)) {
    set_site_errno(kSiteBucketLimit);
    return -1;
  }
  for (MovedPair& p : pairs)
    p.to_new = hdb_bucket_of(after, t->hash(p.key.data(), p.key.size())) == new_bucket;
  uint64_t needed = slots_needed(pairs, false, bs) + slots_needed(pairs, true, bs);
  // The old overflow pages' slots become reusable only after the next sync,
  // so every page the new chains need is a slot to be had now.
  if (needed && !slots_available(t, needed)) return -1;

  // Nothing has changed so far. The old bucket page is fetched before any change.
  uint32_t old_number = static_cast<uint32_t>(hdb_bucket_page(h, old_bucket));
  uint8_t* old_page = hdb_chain_page(t, old_number, true);
  if (!old_page) return -1;
  const hdb_header before = h;
  h = grown(h);
  uint32_t new_number = static_cast<uint32_t>(hdb_bucket_page(h, new_bucket));
  if (new_number > hdb_max_page(bs)) {
    h = before;
    hdb_pool_put(t->pool, old_page, 0);
    set_site_errno(kSiteBucketLimit);
    return -1;
  }
  uint8_t* new_page = hdb_pool_new(t->pool, &new_number, kPoolRequest);
  if (!new_page) {
    h = before;
    hdb_pool_put(t->pool, old_page, 0);
    set_site_errno(kSiteNewBucket);
    return -1;
  }
  pg_init(new_page, bs, new_number, kBucketPage);
  hdb_pool_put(t->pool, new_page, kPoolDirty);

  // The sequential cursor must not keep a page of the old chain: it restarts
  // that bucket (it may see some of its pairs again).
  if (hdb_cursor* c = t->seq_cursor) {
    bool on_chain = c->page_number == old_number;
    for (uint32_t n : overflow) on_chain = on_chain || c->page_number == n;
    if (c->bucket == old_bucket || on_chain) {
      hdb_cursor_release(t, c);
      hdb_cursor_start(c, c->bucket);
    }
  }

  pg_init(old_page, bs, old_number, kBucketPage);
  hdb_pool_put(t->pool, old_page, kPoolDirty);
  int result = 0;
  for (uint32_t n : overflow)
    if (hdb_free_overflow_number(t, n) != 0) result = -1;

  uint32_t where[2] = {old_number, new_number};
  for (const MovedPair& p : pairs) {
    uint32_t& target = where[p.to_new ? 1 : 0];
    uint64_t first = p.to_new ? new_number : old_number;
    uint8_t* page = hdb_chain_page(t, target, target == first);
    if (!page) return -1;
    hdb_new_pair pair{{p.key.data(), p.key.size()}, {p.data.data(), p.data.size()}, p.big_ref};
    bool added = false;
    if (hdb_add_pair(t, page, target, pair, &added, &target) != 0) return -1;
  }
  return result;
}

}  // namespace

int hdb_grow(hdb_table* t) {
  try {
    return grow(t);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    set_site_errno(kSiteSplitMemory);
    return -1;
  }
}

}  // namespace vorlane::hashdb
