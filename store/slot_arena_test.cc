#include "store/slot_arena.h"

#include <gtest/gtest.h>
#include <set>

#include "store/db_files.h"
#include "store/db_handle.h"
#include "store/testing/log_capture.h"
#include "store/term_cache.h"

namespace vorlane {
namespace {

class SlotArenaTest : public ::testing::Test {
 protected:
  void SetUp() override { cache_release_arenas(); }
  void TearDown() override { cache_release_arenas(); }
};

// Postings per chunk of every arena, in table order.
std::vector<uint32_t> arena_postings() {
  std::vector<uint32_t> out;
  for (arena* a : arenas)
    if (a) out.push_back(a->chunk_size / 4 - 5);
  return out;
}

std::vector<slot*> chain(arena* a) {
  std::vector<slot*> out;
  for (slot* s = a->oldest; s; s = s->newer) out.push_back(s);
  return out;
}

TEST_F(SlotArenaTest, ArenasSortedByChunkSize) {
  cache_add_arena(40000, 2);
  cache_add_arena(0, 3);
  cache_add_arena(10000, 4);
  cache_add_arena(5, 1);
  EXPECT_EQ(arena_postings(), (std::vector<uint32_t>{0, 5, 10000, 40000}));
  EXPECT_EQ(cache_total_slots(), 10u);
  uint64_t stats[8 * 18];
  arena_stats(stats, 18);
  EXPECT_EQ(stats[2], 0u);       // postings per chunk
  EXPECT_EQ(stats[3], 3u);       // slots
  EXPECT_EQ(stats[5], 3u);       // free count at creation
  EXPECT_EQ(stats[6], 60u);      // slots x chunk
  EXPECT_EQ(stats[8 * 3 + 2], 40000u);
  for (int i = 8 * 4; i < 8 * 18; ++i) EXPECT_EQ(stats[i], 0u) << i;
}

TEST_F(SlotArenaTest, DefaultArenas) {
  cache_init_default(40000);
  EXPECT_EQ(arena_postings(), (std::vector<uint32_t>{0, 40000}));
  EXPECT_EQ(cache_total_slots(), 100u);
}

TEST_F(SlotArenaTest, AllocTakesTheSmallestFittingArena) {
  cache_add_arena(0, 2);
  cache_add_arena(10000, 2);
  slot* s = alloc_slot(21);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->home->chunk_size, 40020u);
  EXPECT_TRUE(s->busy);
  EXPECT_EQ(s->home->newest, s);
  EXPECT_EQ(alloc_slot(20)->home->chunk_size, 20u);
  LogCapture log;
  EXPECT_EQ(alloc_slot(40021), nullptr);
  EXPECT_TRUE(log.contains("alloc_slot: size requested exceeds limit"));
}

TEST_F(SlotArenaTest, LeastRecentlyUsedOrder) {
  cache_add_arena(0, 3);
  arena* a = arenas[0];
  std::vector<slot*> initial = chain(a);
  ASSERT_EQ(initial.size(), 3u);
  EXPECT_EQ(initial[0], &a->slots[0]);
  // alloc takes the oldest; touch moves a slot to the newest end.
  slot* first = alloc_slot(20);
  EXPECT_EQ(first, &a->slots[0]);
  free_slot(first);
  EXPECT_EQ(a->oldest, first);
  EXPECT_EQ(touch_slot(&a->slots[1]), 1);
  EXPECT_EQ(chain(a), (std::vector<slot*>{&a->slots[0], &a->slots[2], &a->slots[1]}));
  EXPECT_EQ(touch_slot(nullptr), 0);
  // free_slot on the oldest slot leaves the chain and clears the owner.
  a->slots[0].owner = reinterpret_cast<idbm_db*>(0x10);
  a->slots[0].index = 3;
  free_slot(&a->slots[0]);
  EXPECT_EQ(chain(a), (std::vector<slot*>{&a->slots[0], &a->slots[2], &a->slots[1]}));
  EXPECT_EQ(a->slots[0].owner, nullptr);
  EXPECT_EQ(a->slots[0].index, 0u);
}

TEST_F(SlotArenaTest, BusyAndPinnedSlotsAreNotRecycled) {
  cache_add_arena(0, 3);
  slot* a = alloc_slot(20);
  slot* b = alloc_slot(20);
  slot* c = alloc_slot(20);
  EXPECT_EQ(std::set<slot*>({a, b, c}).size(), 3u);
  LogCapture log;
  EXPECT_EQ(alloc_slot(20), nullptr);
  EXPECT_TRUE(log.contains("alloc_slot: all slots are in use"));
  // Owned and pinned (as after a lookup) is just as unavailable.
  for (slot* s : {a, b, c}) {
    s->busy = false;
    s->pins = 1;
  }
  EXPECT_EQ(alloc_slot(20), nullptr);
  // A second pin keeps the slot after the first is released.
  EXPECT_EQ(pin_record(b->chunk), 1);
  unpin_record(b->chunk);
  EXPECT_EQ(alloc_slot(20), nullptr);
  unpin_record(b->chunk);
  EXPECT_EQ(pin_record(b->chunk), 0);  // no pin left to add to
  EXPECT_EQ(alloc_slot(20), b);
  EXPECT_EQ(slot_of_record(c->chunk), c);
  EXPECT_EQ(slot_of_record(c->chunk + 1), nullptr);
}

TEST_F(SlotArenaTest, RecyclingMarksTheOwnersCellDeleted) {
  cache_add_arena(0, 2);
  auto* db = new idbm_db;
  ASSERT_EQ(idbm_cache(db, 10), 1);
  // Cache two stubs; both slots then belong to the cache.
  ASSERT_EQ(idbm_stub(db, 5, 6), arenas[0]->slots[0].chunk);
  ASSERT_NE(idbm_stub(db, 7, 8), nullptr);
  const uint32_t cell = arenas[0]->slots[0].index;
  ASSERT_NE(cell, 0u);
  EXPECT_EQ(arenas[0]->slots[0].owner, db);
  EXPECT_EQ(db->cache_slots[cell].load(), &arenas[0]->slots[0]);
  EXPECT_EQ(arenas[0]->inserts, 2u);
  EXPECT_EQ(arenas[0]->used, 2u);
  EXPECT_EQ(arenas[0]->free, 0u);

  // The oldest slot is recycled: the cache's cell reads CACHE_DEL.
  slot* s = alloc_slot(20);
  EXPECT_EQ(s, &arenas[0]->slots[0]);
  EXPECT_EQ(db->cache_table[cell].load(), CACHE_DEL);
  EXPECT_EQ(db->cache_slots[cell].load(), nullptr);
  EXPECT_EQ(s->owner, nullptr);
  free_slot(s);

  // Closing gives the slots the cache still owns back.
  EXPECT_EQ(idbm_close(db), 1);
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(arenas[0]->slots[i].owner, nullptr);
    EXPECT_FALSE(arenas[0]->slots[i].busy);
  }
}

// A close that read a slot pointer from its slot table just before another
// database's lookup recycled that slot must leave the slot to its new owner.
TEST_F(SlotArenaTest, CloseLeavesASlotRecycledByAnotherCache) {
  cache_add_arena(0, 1);
  auto* first = new idbm_db;
  auto* second = new idbm_db;
  ASSERT_EQ(idbm_cache(first, 10), 1);
  ASSERT_EQ(idbm_cache(second, 10), 1);
  slot* only = &arenas[0]->slots[0];
  ASSERT_NE(idbm_stub(first, 5, 6), nullptr);
  const uint32_t first_cell = only->index;
  ASSERT_EQ(only->owner, first);
  // The second cache takes the only slot; the first one's cells are cleared.
  const uint32_t* rec = idbm_stub(second, 7, 8);
  ASSERT_EQ(rec, only->chunk);
  ASSERT_EQ(only->owner, second);
  EXPECT_EQ(first->cache_table[first_cell].load(), CACHE_DEL);
  // The stale pointer a racing close would still hold.
  first->cache_slots[first_cell].store(only);
  EXPECT_EQ(idbm_close(first), 1);
  EXPECT_EQ(only->owner, second);
  const uint32_t second_cell = only->index;
  ASSERT_NE(second_cell, 0u);
  EXPECT_EQ(second->cache_slots[second_cell].load(), only);
  EXPECT_EQ(second->cache_table[second_cell].load(), reinterpret_cast<uintptr_t>(rec));
  EXPECT_EQ(rec[0], 7u);
  EXPECT_EQ(rec[1], 8u);
  EXPECT_EQ(idbm_close(second), 1);
  EXPECT_EQ(only->owner, nullptr);
}

TEST_F(SlotArenaTest, MakeArenaRefusesEmptyRequests) {
  LogCapture log;
  EXPECT_EQ(make_arena(0, 5), nullptr);
  EXPECT_EQ(make_arena(20, 0), nullptr);
  EXPECT_TRUE(log.contains("make_arena: zero size chunks requested"));
  EXPECT_TRUE(log.contains("make_arena: zero chunks requested"));
}

TEST(SlotArenaDeathTest, SeventeenthArenaEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        cache_release_arenas();
        for (int i = 0; i < 16; ++i) cache_add_arena(static_cast<uint32_t>(i), 1);
        cache_add_arena(1000, 1);
      },
      ::testing::ExitedWithCode(1), "cache_init: too many arenas");
}

}  // namespace
}  // namespace vorlane
