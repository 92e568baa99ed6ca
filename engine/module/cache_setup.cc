#include "engine/module/cache_setup.h"

#include <cstdio>

#include "engine/module/engine_globals.h"
#include "engine/module/sorn_module.h"
#include "store/slot_arena.h"

namespace vorlane::engine {

namespace {
bool setup_done = false;
char refusal[128];
}  // namespace

CachePlan cache_plan(uint32_t memory, uint32_t hits, uint32_t pool_limit) {
  CachePlan plan{};
  if (hits < kMinPostingLimit) hits = kMinPostingLimit;
  if (pool_limit > kMaxPooledQueryBuffers) pool_limit = kMaxPooledQueryBuffers;
  plan.max_hits = hits;
  plan.pool_limit = pool_limit;

  uint32_t remaining = memory;
  uint32_t cap = hits;
  for (;;) {
    // Chunk plus its 28-byte descriptor; computed in 64 bits so that no M
    // wraps (the 32-bit figures are the same for every accepted M).
    uint64_t chunk = uint64_t{cap} * 4 + 48;
    uint32_t share = cap > 100 ? remaining / 4 : remaining / 2;
    uint64_t count = 50;
    if (share > 50 * chunk + 44) count = (share - 44) / chunk;
    uint64_t used = count * chunk + 44;
    if (plan.arena_count < 17) plan.arenas[plan.arena_count] = {cap, static_cast<uint32_t>(count)};
    ++plan.arena_count;
    plan.total += used;
    remaining = remaining <= used ? 0 : static_cast<uint32_t>(remaining - used);
    if (cap == 0) break;
    cap >>= 1;
    if (cap < 10) cap = 0;
  }
  return plan;
}

const char* cache_setup(uint32_t memory, uint32_t hits, uint32_t pool_limit, uint64_t* total) {
  if (setup_done) return "cache_init: the cache is already set up";
  CachePlan plan = cache_plan(memory, hits, pool_limit);
  if (plan.max_hits > kMaxPostingLimit || plan.arena_count > kMaxArenas) {
    snprintf(refusal, sizeof refusal, "cache_init: posting limit %u is above %u", plan.max_hits, kMaxPostingLimit);
    return refusal;
  }
  query_pool_limit = plan.pool_limit;
  max_hits = plan.max_hits;
  query_buffer_size = query_buffer_size_for(plan.max_hits);
  for (int i = 0; i < plan.arena_count; ++i) cache_add_arena(plan.arenas[i].postings, plan.arenas[i].count);
  setup_done = true;
  *total = plan.total;
  return nullptr;
}

bool cache_setup_done() { return setup_done; }

}  // namespace vorlane::engine
