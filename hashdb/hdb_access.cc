#include "hashdb/hdb_access.h"

#include <cstring>
#include <new>
#include <string>

#include "hashdb/hdb_bigpair.h"
#include "hashdb/hdb_cursor.h"
#include "hashdb/hdb_errno.h"
#include "hashdb/hdb_overflow.h"

namespace vorlane::hashdb {

uint8_t* hdb_chain_page(hdb_table* t, uint32_t number, bool first) {
  if (number > hdb_max_page(t->header.bucket_size) || hdb_is_bitmap_page(t, number)) {
    set_damaged();
    return nullptr;
  }
  uint8_t* page = hdb_pool_get(t->pool, number, 0);
  if (!page) return nullptr;
  if (!hdb_chain_page_ok(t, page, number, first)) {
    hdb_pool_put(t->pool, page, 0);
    set_damaged();
    return nullptr;
  }
  return page;
}

namespace {

// On a 65536-byte page an empty key first on the page would start at offset
// 65536, which 16 bits cannot hold, and a deletion before it would move it
// there; such pages keep empty keys as big pairs.
bool needs_big(const hdb_new_pair& pair, uint32_t bucket_size) {
  if (pair.big_ref) return true;
  if (hdb_is_big(pair.key.size, pair.data.size, bucket_size)) return true;
  return pair.key.size == 0 && bucket_size > 0xFFFF;
}

bool fits(const uint8_t* page, const hdb_new_pair& pair, bool big) {
  uint64_t free = pg_free_space(page);
  return big ? free >= kEntryBytes : pair.key.size + pair.data.size + kEntryBytes <= free;
}

}  // namespace

int hdb_add_pair(hdb_table* t, uint8_t* page, uint32_t number, const hdb_new_pair& pair, bool* added,
                 uint32_t* where) {
  const uint32_t bs = t->header.bucket_size;
  uint32_t hops = 0;
  bool big = needs_big(pair, bs);
  while (!fits(page, pair, big)) {
    uint32_t next = pg_next(page);
    if (next == kNoPage) {
      uint32_t new_number;
      uint8_t* np = hdb_add_overflow_page(t, page, &new_number);
      if (!np) {
        hdb_pool_put(t->pool, page, 0);
        return -1;
      }
      page = np;
      number = new_number;
      *added = true;
      big = needs_big(pair, bs);
      if (!fits(page, pair, big)) {
        hdb_pool_put(t->pool, page, kPoolDirty);
        errno = EINVAL;
        return -1;
      }
      break;
    }
    hdb_pool_put(t->pool, page, 0);
    if (++hops > hdb_chain_bound(t)) {
      set_damaged();
      return -1;
    }
    page = hdb_chain_page(t, next, false);
    if (!page) return -1;
    number = next;
    big = needs_big(pair, bs);
  }
  uint16_t count = pg_count(page);
  if (pair.big_ref) {
    pg_set_entry(page, count, 0, pair.big_ref);
    pg_set_count(page, static_cast<uint16_t>(count + 1));
  } else if (big) {
    if (hdb_big_insert(t, page, pair.key, pair.data) != 0) {
      hdb_pool_put(t->pool, page, 0);
      return -1;
    }
  } else {
    uint32_t key_off = pg_free_end(page) + 1 - static_cast<uint32_t>(pair.key.size);
    uint32_t data_off = key_off - static_cast<uint32_t>(pair.data.size);
    if (pair.key.size) std::memcpy(page + key_off, pair.key.data, pair.key.size);
    if (pair.data.size) std::memcpy(page + data_off, pair.data.data, pair.data.size);
    pg_set_entry(page, count, static_cast<uint16_t>(key_off), static_cast<uint16_t>(data_off));
    pg_set_count(page, static_cast<uint16_t>(count + 1));
    pg_set_free_end(page, static_cast<uint16_t>(data_off - 1));
  }
  hdb_pool_put(t->pool, page, kPoolDirty);
  *where = number;
  return 0;
}

namespace {

// Moves the sequential cursor off a page that is being freed.
void cursor_leave_page(hdb_table* t, uint32_t number, uint32_t next, uint32_t bucket) {
  hdb_cursor* c = t->seq_cursor;
  if (!c || c->page_number != number) return;
  hdb_cursor_release(t, c);
  if (next != kNoPage) {
    c->page_number = next;
    c->page_index = 0;
  } else {
    hdb_cursor_start(c, bucket + 1);
  }
}

// Unlinks the empty overflow page `page` from the chain of `bucket` and frees
// it; *changed receives the predecessor's number.
int unlink_empty_page(hdb_table* t, uint8_t* page, uint32_t number, uint32_t bucket, uint32_t* changed) {
  uint32_t current = static_cast<uint32_t>(hdb_bucket_page(t->header, bucket));
  uint8_t* pred = hdb_chain_page(t, current, true);
  uint32_t hops = 0;
  while (pred && pg_next(pred) != number) {
    uint32_t next = pg_next(pred);
    hdb_pool_put(t->pool, pred, 0);
    if (next == kNoPage || ++hops > hdb_chain_bound(t)) {
      set_damaged();
      pred = nullptr;
      break;
    }
    current = next;
    pred = hdb_chain_page(t, next, false);
  }
  if (!pred) {
    hdb_pool_put(t->pool, page, kPoolDirty);
    return -1;
  }
  uint32_t next = pg_next(page);
  pg_set_next(pred, next);
  hdb_pool_put(t->pool, pred, kPoolDirty);
  *changed = current;
  cursor_leave_page(t, number, next, bucket);
  return hdb_free_overflow_page(t, page);
}

// Deletes entry `index` of `page` (pinned; released here) in the chain of
// `bucket`; *changed receives the page that now lacks the entry (the page
// itself, or its predecessor when the page emptied and was unlinked).
int delete_entry(hdb_table* t, uint8_t* page, uint32_t number, uint32_t index, uint32_t bucket,
                 uint32_t* changed) {
  *changed = number;
  const uint32_t bs = t->header.bucket_size;
  uint32_t count = pg_count(page);
  uint16_t key_off = pg_key_off(page, index), data_off = pg_data_off(page, index);
  uint32_t delta = 0;
  if (key_off == 0) {
    if (hdb_big_delete(t, data_off) != 0) {
      hdb_pool_put(t->pool, page, 0);
      return -1;
    }
  } else {
    uint32_t end = bs;
    for (uint32_t j = index; j-- > 0;)
      if (pg_key_off(page, j) != 0) {
        end = pg_data_off(page, j);
        break;
      }
    delta = end - data_off;
    uint32_t low = uint32_t{pg_free_end(page)} + 1;
    if (index + 1 < count && data_off > low) std::memmove(page + low + delta, page + low, data_off - low);
  }
  for (uint32_t j = index + 1; j < count; ++j) {
    uint16_t ko = pg_key_off(page, j), dof = pg_data_off(page, j);
    if (ko != 0) {
      ko = static_cast<uint16_t>(ko + delta);
      dof = static_cast<uint16_t>(dof + delta);
    }
    pg_set_entry(page, j - 1, ko, dof);
  }
  pg_set_free_end(page, static_cast<uint16_t>(pg_free_end(page) + delta));
  pg_set_count(page, static_cast<uint16_t>(count - 1));
  if (t->header.key_count) --t->header.key_count;
  uint64_t bucket_page = hdb_bucket_page(t->header, bucket);
  if (count == 1 && number != bucket_page) return unlink_empty_page(t, page, number, bucket, changed);
  hdb_pool_put(t->pool, page, kPoolDirty);
  hdb_cursor* c = t->seq_cursor;
  if (c && c->page_number == number && c->page_index > index) {
    --c->page_index;
    if (c->bucket_index) --c->bucket_index;
  }
  return 0;
}

// The page a new pair starts looking for room at: the first page with room
// seen by the lookup, else the page the lookup ended on.
uint8_t* start_page(hdb_table* t, hdb_cursor* c, const hdb_position& pos, uint32_t* number) {
  if (pos.room_page && pos.room_page != c->page_number) {
    hdb_cursor_release(t, c);
    uint64_t bucket_page = hdb_bucket_page(t->header, c->bucket);
    *number = pos.room_page;
    return hdb_chain_page(t, pos.room_page, pos.room_page == bucket_page);
  }
  *number = c->page_number;
  uint8_t* page = c->page;
  c->page = nullptr;
  return page;
}

// Keys of one table often share their first bytes: the last byte tells most
// of them apart before the whole comparison.
bool same_key(const uint8_t* stored, uint32_t size, const hdb_bytes& key) {
  if (size != key.size) return false;
  if (size == 0) return true;
  const uint8_t* wanted = static_cast<const uint8_t*>(key.data);
  return stored[size - 1] == wanted[size - 1] && std::memcmp(stored, wanted, size - 1) == 0;
}

}  // namespace

int hdb_access(hdb_table* t, AccessAction action, const hdb_bytes& key, hdb_bytes* data) {
  const uint32_t bs = t->header.bucket_size;
  const bool storing = action == kAccessPut || action == kAccessPutNew;
  // No pair can pass the 2 GB file limit; each size is bounded before adding.
  const uint64_t limit = 0x7FFFFFFF;
  uint64_t data_size = storing ? data->size : 0;
  if (key.size > limit || data_size > limit || key.size + data_size > limit) {
    errno = EFBIG;
    return -1;
  }
  hdb_position pos{};
  if (storing) pos.room = hdb_is_big(key.size, data_size, bs) ? 4 : static_cast<uint32_t>(key.size + data_size);
  const uint32_t hash = t->hash(key.data, key.size);
  const uint8_t tag = hdb_key_tag(hash);
  // Gets make the tags of the pages they read; stores use those still valid
  // (each store changes its page, so tags made for it would serve no one).
  const bool make_tags = action == kAccessGet;
  uint32_t bucket = hdb_bucket_of(t->header, hash);
  hdb_cursor c;
  hdb_cursor_start(&c, bucket);
  uint32_t chain_length = 0;
  bool found = false;
  for (;;) {
    uint8_t status = hdb_walk_step(t, &c, &pos);
    if (status == kWalkEnd) break;
    if (status != kWalkEntry) {
      hdb_cursor_release(t, &c);
      return -1;
    }
    ++chain_length;
    if (pos.key_off == 0) {
      int m = hdb_big_match(t, pos.data_off, key);
      if (m < 0) {
        hdb_cursor_release(t, &c);
        return -1;
      }
      found = m == 1;
    } else {
      // An entry whose tag differs holds another key; the bytes of the
      // others are compared.
      uint32_t tag_count = 0;
      const uint8_t* tags = hdb_page_tags(t, c.page, make_tags, &tag_count);
      auto may_match = [&](uint32_t index) { return !tags || index >= tag_count || tags[index] == tag; };
      found = may_match(c.page_index - 1u) && same_key(c.page + pos.key_off, pos.key_size, key);
      // The rest of this page's regular entries are compared here, without
      // a walk step each (the page was checked when the walk fetched it).
      const uint8_t* page = c.page;
      const uint32_t count = pg_count(page);
      uint32_t j = c.page_index;
      auto take = [&](uint16_t ko, uint16_t dof, uint32_t end) {
        found = true;
        pos.key_off = ko;
        pos.data_off = dof;
        pos.key_size = end - ko;
        pos.data_size = static_cast<uint32_t>(ko - dof);
      };
      if (found) {
      } else if (tags && tag_count == count) {
        // Only entries whose tag is the key's, or 0 (which big entries
        // have), are read: every entry passed over is a regular one, so a
        // candidate's key ends where the entry before it has its data.
        for (; j < count; ++j) {
          if (tags[j] != tag && tags[j] != 0) continue;
          uint16_t ko = pg_key_off(page, j);
          if (ko == 0) break;  // a big entry: the walk step takes it
          uint32_t end = pg_data_off(page, j - 1);
          if (same_key(page + ko, end - ko, key)) {
            take(ko, pg_data_off(page, j), end);
            ++j;  // the cursor stays on the entry after it
            break;
          }
        }
      } else {
        uint32_t end = pos.data_off;  // where the next regular entry's key ends
        for (; j < count; ++j) {
          uint16_t ko = pg_key_off(page, j), dof = pg_data_off(page, j);
          if (ko == 0) break;  // a big entry: the walk step takes it
          if (may_match(j) && same_key(page + ko, end - ko, key)) {
            take(ko, dof, end);
            ++j;  // the cursor stays on the entry after it
            break;
          }
          end = dof;
        }
      }
      chain_length += j - c.page_index;
      c.bucket_index = static_cast<uint16_t>(c.bucket_index + (j - c.page_index));
      c.page_index = static_cast<uint16_t>(j);
      pos.page_index = c.page_index;
      pos.bucket_index = c.bucket_index;
    }
    if (found) break;
  }

  if (!found) {
    if (!storing) {
      hdb_cursor_release(t, &c);
      return 1;
    }
    uint32_t number, where;
    uint8_t* page = start_page(t, &c, pos, &number);
    if (!page) return -1;
    bool added = false;
    hdb_new_pair pair{key, *data, 0};
    if (hdb_add_pair(t, page, number, pair, &added, &where) != 0) return -1;
    ++t->header.key_count;
    // Growth keeps the average number of pairs per bucket at the fill
    // factor, and splits early when the chain just walked holds more than
    // twice that or an overflow page was added. (Growing whenever one chain
    // passed the fill factor kept pages a fifth full, since the buckets not
    // yet split hold twice the average.)
    const hdb_header& h = t->header;
    if (h.key_count / (uint64_t{h.last_bucket} + 1) > h.fill_factor || chain_length > 2ull * h.fill_factor ||
        added)
      return hdb_grow(t);
    return 0;
  }

  switch (action) {
    case kAccessGet:
      if (pos.key_off == 0) {
        int r = hdb_big_key_data(t, pos.data_off, nullptr, data);
        hdb_cursor_release(t, &c);
        return r == 0 ? 0 : -1;
      }
      // The bytes stay in the pool's buffer until the next call.
      *data = {c.page + pos.data_off, pos.data_size};
      hdb_cursor_release(t, &c);
      return 0;
    case kAccessPutNew:
      hdb_cursor_release(t, &c);
      return 1;
    case kAccessDelete: {
      uint8_t* page = c.page;
      c.page = nullptr;
      uint32_t changed;
      return delete_entry(t, page, pos.page_number, pos.page_index - 1u, bucket, &changed);
    }
    case kAccessPut:
      break;
  }

  // Replace: the old pair is copied, deleted, and the new one added from the
  // old pair's page on. When the new pair lands on another page, the page
  // that lost the old pair is written first, so that a crash never leaves
  // both on the file. When the new pair cannot be stored, the old one is put
  // back.
  std::string old_key, old_data;
  try {
    if (pos.key_off == 0) {
      hdb_bytes k, d;
      if (hdb_big_key_data(t, pos.data_off, &k, &d) != 0) {
        hdb_cursor_release(t, &c);
        return -1;
      }
      old_key.assign(static_cast<const char*>(k.data), k.size);
      old_data.assign(static_cast<const char*>(d.data), d.size);
    } else {
      old_key.assign(reinterpret_cast<const char*>(c.page + pos.key_off), pos.key_size);
      old_data.assign(reinterpret_cast<const char*>(c.page + pos.data_off), pos.data_size);
    }
  } catch (const std::bad_alloc&) {
    hdb_cursor_release(t, &c);
    errno = ENOMEM;
    set_site_errno(kSiteTableMemory);
    return -1;
  }
  const uint32_t old_number = pos.page_number;
  uint8_t* old_page = c.page;
  c.page = nullptr;
  uint32_t changed;
  if (delete_entry(t, old_page, old_number, pos.page_index - 1u, bucket, &changed) != 0) return -1;
  const uint64_t bucket_page = hdb_bucket_page(t->header, bucket);
  auto start = [&](uint32_t* number) -> uint8_t* {
    // The old page when it is still in the chain, else the bucket page.
    *number = changed == old_number ? old_number : static_cast<uint32_t>(bucket_page);
    return hdb_chain_page(t, *number, *number == bucket_page);
  };
  uint32_t number, where;
  uint8_t* page = start(&number);
  if (!page) return -1;
  bool added = false;
  hdb_new_pair pair{key, *data, 0};
  if (hdb_add_pair(t, page, number, pair, &added, &where) != 0) {
    int saved = errno;
    hdb_new_pair old_pair{{old_key.data(), old_key.size()}, {old_data.data(), old_data.size()}, 0};
    bool old_added = false;
    uint32_t old_where;
    if ((page = start(&number)) != nullptr && hdb_add_pair(t, page, number, old_pair, &old_added, &old_where) == 0)
      ++t->header.key_count;
    errno = saved;
    return -1;
  }
  ++t->header.key_count;
  if (where != changed)
    if (hdb_buffer* b = hdb_pool_find(t->pool, changed))
      if ((b->flags & kBufferDirty) && hdb_pool_write(t->pool, b->page) != 0) return -1;
  if (t->header.key_count / t->header.last_bucket > t->header.fill_factor || pos.page_index > t->header.fill_factor)
    return hdb_grow(t);
  return 0;
}

}  // namespace vorlane::hashdb
