// A bounded memo of lookup results, shared by the threads that use one
// transducer: a key (the lookup's arguments as bytes) maps to the result
// code and the output bytes the lookup wrote. The library keeps one per FSM
// for the walks of fst_lookup; the tagger keeps one per model for its
// lexicon lookups.
//
// The memo is split into shards, each with its own mutex; a shard that
// reaches its share of the capacity is emptied and fills again, so frequent
// words come back at once and memory stays bounded. Keys and values longer
// than the limits below are not remembered.
//
// In front of the shards each thread keeps a small direct-mapped table of
// the short entries it found or stored last (one per thread for all memos,
// told apart by a number no other memo of the process ever had), so the
// frequent words of a text are answered without a lock or a shared cache
// line. A thread's copy stays right after the shard drops the entry: what a
// key maps to doesn't change (the memo's users store results that depend on
// the key alone).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace vorlane {

// Keys begin with a kind byte: fst_lookup's lookup mode (2 to 11), or this
// for the tagger's class enumerations over the same FSM.
inline constexpr int8_t kEnumMemoKind = 'E';

class LookupMemo {
 public:
  static constexpr size_t kMaxKey = 96;
  static constexpr size_t kMaxValue = 1024;

  // capacity: entries over all shards.
  explicit LookupMemo(size_t capacity = size_t{1} << 16);
  ~LookupMemo();
  LookupMemo(const LookupMemo&) = delete;
  LookupMemo& operator=(const LookupMemo&) = delete;

  // On a hit copies the remembered bytes (at most room of them) to output,
  // sets *result and *length (the number of bytes remembered) and returns
  // true.
  bool find(std::string_view key, int32_t* result, void* output, size_t room, size_t* length) const;
  void store(std::string_view key, int32_t result, const void* bytes, size_t length);

  size_t size() const;

  // For tests: while bypassed, every memo misses and remembers nothing, so
  // each lookup takes its full road (the reference the memo is compared
  // with).
  static void set_bypass(bool on);

 private:
  struct Shard;
  static constexpr size_t kShards = 16;
  std::unique_ptr<Shard[]> shards_;
  size_t per_shard_;
  uint64_t id_;  // names this memo in the threads' front tables
};

// Builds a memo key in a fixed buffer: fixed-size fields, then the text.
class MemoKey {
 public:
  template <typename T>
  MemoKey& add(T value) {
    if (length_ + sizeof value <= sizeof bytes_) __builtin_memcpy(bytes_ + length_, &value, sizeof value);
    length_ += sizeof value;
    return *this;
  }
  MemoKey& add_text(const char* text, size_t n) {
    if (length_ + n <= sizeof bytes_) __builtin_memcpy(bytes_ + length_, text, n);
    length_ += n;
    return *this;
  }
  // False when the key grew past LookupMemo::kMaxKey.
  bool fits() const { return length_ <= sizeof bytes_; }
  std::string_view view() const { return {bytes_, length_}; }

 private:
  char bytes_[LookupMemo::kMaxKey];
  size_t length_ = 0;
};

}  // namespace vorlane
