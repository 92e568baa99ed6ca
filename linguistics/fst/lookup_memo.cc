#include "linguistics/fst/lookup_memo.h"

#include <atomic>
#include <cstdlib>
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

// Numbers for memos, never given twice in a process (0 marks an empty front
// slot), so a front slot of a freed memo can't answer for a new one made at
// the same address.
std::atomic<uint64_t> next_id{1};

// A thread's front table: sets of two slots of one cache line each, picked
// by the key's hash, each slot holding one key and its value when both fit
// (a word and its stems mostly do). A new entry goes to the set's first
// slot and the one there moves to the second, so a word that keeps coming
// back survives another that maps to the same set; the two lines of a set
// lie side by side.
constexpr size_t kFrontSets = 16384;
constexpr size_t kFrontWays = 2;
struct alignas(64) FrontSlot {
  uint64_t owner;  // the memo's id, 0 when empty
  int32_t result;
  uint8_t key_length;
  uint8_t value_length;
  char bytes[50];  // the key, then the value
};
static_assert(sizeof(FrontSlot) == 64, "a front slot is one cache line");
constexpr size_t kFrontBytes = sizeof(FrontSlot::bytes);
constexpr size_t kFrontSlots = kFrontSets * kFrontWays;

struct FrontTable {
  FrontSlot* slots = nullptr;
  ~FrontTable() { std::free(slots); }
};
thread_local FrontTable front_table;

// The calling thread's slots, made on first use; null when there is no
// memory for them (the shards still answer).
FrontSlot* front_slots() {
  FrontTable& t = front_table;
  if (t.slots == nullptr) {
    t.slots = static_cast<FrontSlot*>(std::aligned_alloc(alignof(FrontSlot), kFrontSlots * sizeof(FrontSlot)));
    if (t.slots != nullptr) std::memset(static_cast<void*>(t.slots), 0, kFrontSlots * sizeof(FrontSlot));
  }
  return t.slots;
}

// The first slot of the key's set.
FrontSlot* front_set(FrontSlot* front, size_t h) { return front + (h & (kFrontSets - 1)) * kFrontWays; }

bool front_holds(const FrontSlot& f, uint64_t owner, std::string_view key) {
  return f.owner == owner && f.key_length == key.size() && std::memcmp(f.bytes, key.data(), key.size()) == 0;
}

void remember_front(FrontSlot* front, uint64_t owner, size_t h, std::string_view key, int32_t result,
                    const void* value, size_t length) {
  if (front == nullptr) return;
  FrontSlot* set = front_set(front, h);
  if (key.size() + length > kFrontBytes) {
    // Whatever the set held for this key no longer stands.
    for (size_t w = 0; w < kFrontWays; ++w)
      if (front_holds(set[w], owner, key)) set[w].owner = 0;
    return;
  }
  // The key's own slot is rewritten in place; else the first slot's entry
  // moves on to the second.
  FrontSlot* f = &set[0];
  if (front_holds(set[1], owner, key)) {
    f = &set[1];
  } else if (!front_holds(set[0], owner, key)) {
    set[1] = set[0];
  }
  f->owner = owner;
  f->result = result;
  f->key_length = static_cast<uint8_t>(key.size());
  f->value_length = static_cast<uint8_t>(length);
  std::memcpy(f->bytes, key.data(), key.size());
  if (length > 0) std::memcpy(f->bytes + key.size(), value, length);
}

}  // namespace

void LookupMemo::set_bypass(bool on) { bypassed.store(on, std::memory_order_relaxed); }

struct LookupMemo::Shard {
  mutable std::mutex mutex;
  Table table;
};

LookupMemo::LookupMemo(size_t capacity)
    : shards_(new (std::nothrow) Shard[kShards]),
      per_shard_(capacity / kShards > 0 ? capacity / kShards : 1),
      id_(next_id.fetch_add(1, std::memory_order_relaxed)) {}

LookupMemo::~LookupMemo() = default;

bool LookupMemo::find(std::string_view key, int32_t* result, void* output, size_t room, size_t* length) const {
  if (!shards_ || bypassed.load(std::memory_order_relaxed)) return false;
  size_t h = KeyHash{}(key);
  FrontSlot* front = front_slots();
  if (front != nullptr) {
    const FrontSlot* set = front_set(front, h);
    for (size_t w = 0; w < kFrontWays; ++w) {
      const FrontSlot& f = set[w];
      if (!front_holds(f, id_, key)) continue;
      if (f.value_length > room) return false;
      *result = f.result;
      if (f.value_length > 0) std::memcpy(output, f.bytes + f.key_length, f.value_length);
      *length = f.value_length;
      return true;
    }
  }
  const Shard& shard = shards_[(h >> 59) % kShards];
  std::unique_lock<std::mutex> lock(shard.mutex);
  auto it = shard.table.find(key);
  if (it == shard.table.end()) return false;
  const std::string& value = it->second;
  size_t n = value.size() - sizeof(int32_t);
  if (n > room) return false;
  std::memcpy(result, value.data(), sizeof(int32_t));
  if (n > 0) std::memcpy(output, value.data() + sizeof(int32_t), n);
  lock.unlock();
  *length = n;
  remember_front(front, id_, h, key, *result, output, n);
  return true;
}

void LookupMemo::store(std::string_view key, int32_t result, const void* bytes, size_t length) {
  if (!shards_ || bypassed.load(std::memory_order_relaxed) || key.size() > kMaxKey || length > kMaxValue) return;
  try {
    std::string value(sizeof(int32_t) + length, '\0');
    std::memcpy(value.data(), &result, sizeof(int32_t));
    if (length > 0) std::memcpy(value.data() + sizeof(int32_t), bytes, length);
    size_t h = KeyHash{}(key);
    remember_front(front_slots(), id_, h, key, result, bytes, length);
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
