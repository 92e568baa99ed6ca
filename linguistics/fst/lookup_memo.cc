#include "linguistics/fst/lookup_memo.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

namespace vorlane {

namespace {

// Keys are short (a few fields and a word): eight bytes at a time, mixed by
// multiplication.
struct KeyHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const {
    constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
    uint64_t h = s.size() * kMul;
    size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
      uint64_t w;
      std::memcpy(&w, s.data() + i, 8);
      h = (h ^ w) * kMul;
      h ^= h >> 29;
    }
    if (i < s.size()) {
      uint64_t w = 0;
      std::memcpy(&w, s.data() + i, s.size() - i);
      h = (h ^ w) * kMul;
      h ^= h >> 29;
    }
    return static_cast<size_t>(h ^ (h >> 32));
  }
};

// The result code in the first four bytes, then the output bytes.
using Table = std::unordered_map<std::string, std::string, KeyHash, std::equal_to<>>;

std::atomic<bool> bypassed{false};

}  // namespace

void LookupMemo::set_bypass(bool on) { bypassed.store(on, std::memory_order_relaxed); }

struct LookupMemo::Shard {
  mutable std::mutex mutex;
  Table table;
};

LookupMemo::LookupMemo(size_t capacity)
    : shards_(new (std::nothrow) Shard[kShards]), per_shard_(capacity / kShards > 0 ? capacity / kShards : 1) {}

LookupMemo::~LookupMemo() = default;

bool LookupMemo::find(std::string_view key, int32_t* result, void* output, size_t room, size_t* length) const {
  if (!shards_ || bypassed.load(std::memory_order_relaxed)) return false;
  size_t h = KeyHash{}(key);
  const Shard& shard = shards_[(h >> 59) % kShards];
  std::lock_guard<std::mutex> lock(shard.mutex);
  auto it = shard.table.find(key);
  if (it == shard.table.end()) return false;
  const std::string& value = it->second;
  size_t n = value.size() - sizeof(int32_t);
  if (n > room) return false;
  std::memcpy(result, value.data(), sizeof(int32_t));
  if (n > 0) std::memcpy(output, value.data() + sizeof(int32_t), n);
  *length = n;
  return true;
}

void LookupMemo::store(std::string_view key, int32_t result, const void* bytes, size_t length) {
  if (!shards_ || bypassed.load(std::memory_order_relaxed) || key.size() > kMaxKey || length > kMaxValue) return;
  try {
    std::string value(sizeof(int32_t) + length, '\0');
    std::memcpy(value.data(), &result, sizeof(int32_t));
    if (length > 0) std::memcpy(value.data() + sizeof(int32_t), bytes, length);
    size_t h = KeyHash{}(key);
    Shard& shard = shards_[(h >> 59) % kShards];
    std::lock_guard<std::mutex> lock(shard.mutex);
    if (shard.table.size() >= per_shard_) shard.table.clear();
    shard.table.insert_or_assign(std::string(key), std::move(value));
  } catch (const std::bad_alloc&) {
    // Not remembered; the lookup's result stands.
  }
}

size_t LookupMemo::size() const {
  size_t n = 0;
  if (!shards_) return 0;
  for (size_t i = 0; i < kShards; ++i) {
    std::lock_guard<std::mutex> lock(shards_[i].mutex);
    n += shards_[i].table.size();
  }
  return n;
}

}  // namespace vorlane
