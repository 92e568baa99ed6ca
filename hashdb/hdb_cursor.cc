#include "hashdb/hdb_cursor.h"

#include <cstdlib>

#include "hashdb/hdb_bigpair.h"
#include "hashdb/hdb_errno.h"

namespace vorlane::hashdb {

bool hdb_check_chain_page(const hdb_table* t, const uint8_t* page, uint32_t number, bool first) {
  const uint32_t bs = t->header.bucket_size;
  if (pg_own(page) != number) return false;
  uint8_t type = pg_type(page);
  if (first ? type != kBucketPage : (type != kOverflowPage && type != kBucketPage)) return false;
  uint32_t count = pg_count(page);
  uint32_t free_end = pg_free_end(page);
  if (free_end > bs - 1 || free_end < 13 + 4 * count) return false;
  uint32_t next = pg_next(page);
  if (next != kNoPage && (next == number || next > hdb_max_page(bs))) return false;
  uint32_t end = bs;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t ko = pg_key_off(page, i), dof = pg_data_off(page, i);
    if (ko == 0) {
      if (hdb_oaddr_offset(static_cast<uint16_t>(dof)) == 0 ||
          hdb_oaddr_split(static_cast<uint16_t>(dof)) > t->header.overflow_point)
        return false;
      continue;
    }
    if (ko > end || dof > ko || dof <= free_end) return false;
    end = dof;
  }
  return true;
}

bool hdb_chain_page_ok(const hdb_table* t, uint8_t* page, uint32_t number, bool first) {
  if (hdb_pool_checked(page)) return pg_own(page) == number && (!first || pg_type(page) == kBucketPage);
  if (!hdb_check_chain_page(t, page, number, first)) return false;
  hdb_pool_set_checked(page);
  return true;
}

const uint8_t* hdb_page_tags(const hdb_table* t, uint8_t* page, bool make, uint32_t* count) {
  if (const uint8_t* tags = hdb_pool_memo(page, count)) return tags;
  if (!make) return nullptr;
  const uint32_t n = pg_count(page);
  uint8_t* tags = hdb_pool_memo_area(page, n);
  if (!tags) return nullptr;
  uint32_t end = t->header.bucket_size;  // where the next regular entry's key ends
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t ko = pg_key_off(page, i);
    if (ko == 0) {
      tags[i] = 0;
      continue;
    }
    tags[i] = hdb_key_tag(t->hash(page + ko, end - ko));
    end = pg_data_off(page, i);
  }
  hdb_pool_set_memo(page, n);
  *count = n;
  return tags;
}

void hdb_cursor_start(hdb_cursor* c, uint32_t bucket) {
  c->bucket = bucket;
  c->page_number = kNoPage;
  c->bucket_index = 0;
  c->page_index = 0;
  c->page = nullptr;
  c->hops = 0;
}

void hdb_cursor_release(hdb_table* t, hdb_cursor* c) {
  if (c->page) hdb_pool_put(t->pool, c->page, 0);
  c->page = nullptr;
}

namespace {

// Fetches and checks a page of the cursor's chain.
uint8_t fetch(hdb_table* t, hdb_cursor* c, uint32_t number) {
  uint64_t bucket_page = hdb_bucket_page(t->header, c->bucket);
  if (number > hdb_max_page(t->header.bucket_size) || hdb_is_bitmap_page(t, number)) {
    set_damaged();
    return kWalkDamaged;
  }
  uint8_t* page = hdb_pool_get(t->pool, number, 0);
  if (!page) return kWalkNoPage;
  if (!hdb_chain_page_ok(t, page, number, number == bucket_page)) {
    hdb_pool_put(t->pool, page, 0);
    set_damaged();
    return kWalkDamaged;
  }
  c->page = page;
  c->page_number = number;
  return kWalkEntry;
}

void note_room(const hdb_table*, const hdb_cursor* c, hdb_position* pos) {
  if (pos->room && !pos->room_page && pg_free_space(c->page) > pos->room) pos->room_page = c->page_number;
}

}  // namespace

uint8_t hdb_walk_step(hdb_table* t, hdb_cursor* c, hdb_position* pos) {
  const uint32_t bs = t->header.bucket_size;
  uint8_t status = kWalkEntry;
  if (!c->page) {
    if (c->page_number == kNoPage) {
      uint64_t bucket_page = hdb_bucket_page(t->header, c->bucket);
      if (bucket_page > hdb_max_page(bs)) {
        set_damaged();
        return pos->status = kWalkDamaged;
      }
      c->hops = 0;
      c->bucket_index = 0;
      c->page_index = 0;
      status = fetch(t, c, static_cast<uint32_t>(bucket_page));
    } else {
      status = fetch(t, c, c->page_number);
    }
    if (status != kWalkEntry) {
      c->page_number = kNoPage;
      return pos->status = status;
    }
    note_room(t, c, pos);
  }
  while (c->page_index >= pg_count(c->page)) {
    uint32_t next = pg_next(c->page);
    if (next == kNoPage) {
      pos->page_number = c->page_number;
      pos->bucket = c->bucket;
      pos->page_index = c->page_index;
      pos->bucket_index = c->bucket_index;
      return pos->status = kWalkEnd;
    }
    hdb_cursor_release(t, c);
    if (++c->hops > hdb_chain_bound(t)) {
      set_damaged();
      return pos->status = kWalkDamaged;
    }
    c->page_index = 0;
    c->page_number = next;  // a retry fetches this page again
    status = fetch(t, c, next);
    if (status != kWalkEntry) return pos->status = status;
    note_room(t, c, pos);
  }
  const uint8_t* page = c->page;
  uint32_t i = c->page_index;
  uint16_t ko = pg_key_off(page, i), dof = pg_data_off(page, i);
  pos->key_off = ko;
  pos->data_off = dof;
  if (ko != 0) {
    uint32_t end = bs;
    for (uint32_t j = i; j-- > 0;)
      if (pg_key_off(page, j) != 0) {
        end = pg_data_off(page, j);
        break;
      }
    pos->key_size = end - ko;
    pos->data_size = ko - dof;
  } else {
    pos->key_size = pos->data_size = 0;
  }
  ++c->page_index;
  ++c->bucket_index;
  pos->page_number = c->page_number;
  pos->bucket = c->bucket;
  pos->page_index = c->page_index;
  pos->bucket_index = c->bucket_index;
  return pos->status = kWalkEntry;
}

int hdb_seq_walk(hdb_table* t, hdb_bytes* key, hdb_bytes* data, unsigned flags) {
  if (!t->seq_cursor) {
    t->seq_cursor = static_cast<hdb_cursor*>(std::calloc(1, sizeof(hdb_cursor)));
    if (!t->seq_cursor) {
      set_site_errno(kSiteTableMemory);
      return -1;
    }
    hdb_cursor_start(t->seq_cursor, 0);
  }
  hdb_cursor* c = t->seq_cursor;
  if (flags == kSeqFirst) {
    hdb_cursor_release(t, c);
    hdb_cursor_start(c, 0);
  }
  hdb_position pos{};
  for (;;) {
    if (c->bucket > t->header.last_bucket) return 1;
    uint8_t status = hdb_walk_step(t, c, &pos);
    if (status == kWalkEntry) break;
    if (status != kWalkEnd) {
      // An unreadable or damaged page is an error, never the end of the walk.
      hdb_cursor_release(t, c);
      return -1;
    }
    hdb_cursor_release(t, c);
    hdb_cursor_start(c, c->bucket + 1);
  }
  if (pos.key_off == 0) return hdb_big_key_data(t, pos.data_off, key, data) == 0 ? 0 : -1;
  *key = {c->page + pos.key_off, pos.key_size};
  *data = {c->page + pos.data_off, pos.data_size};
  return 0;
}

}  // namespace vorlane::hashdb
