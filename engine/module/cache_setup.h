// Sizing of the slot arenas, the posting limit M and the query buffers: the
// engine work of sorn.cache_init.
//
// From a memory budget the arenas serve records of M, M/2, M/4 ... postings
// down to the last value not below 10, plus one arena for records without
// postings. Each arena takes a quarter of what is left (half once its
// postings are 100 or fewer) and at least 50 slots. All arithmetic is
// unsigned 32-bit, as the figures scripts see depend on it.
#pragma once

#include <cstdint>

namespace vorlane::engine {

// A posting limit is at most 131,071: a record's count field has 17 bits and
// records keep up to the limit. (Larger limits would also need more arenas
// than the table holds.)
inline constexpr uint32_t kMaxPostingLimit = 131071;
inline constexpr uint32_t kMinPostingLimit = 1000;

struct ArenaShare {
  uint32_t postings;
  uint32_t count;
};

struct CachePlan {
  uint32_t max_hits;      // M after the lower bound
  uint32_t pool_limit;    // after the upper bound of 20
  uint64_t total;         // bytes the arenas were sized for
  int arena_count;
  ArenaShare arenas[17];  // enough for any 32-bit M; refused above 16
};

// The plan for (memory, hits, pool limit); pure arithmetic, nothing changes.
CachePlan cache_plan(uint32_t memory, uint32_t hits, uint32_t pool_limit);

// Applies cache_init once per process: null on success with *total set, else
// the refusal's message and nothing changed. Refused: a second successful
// call, and a posting limit above kMaxPostingLimit.
const char* cache_setup(uint32_t memory, uint32_t hits, uint32_t pool_limit, uint64_t* total);

// True once cache_setup has succeeded in this process.
bool cache_setup_done();

}  // namespace vorlane::engine
