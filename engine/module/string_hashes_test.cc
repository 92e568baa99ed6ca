#include "engine/module/string_hashes.h"

#include <gtest/gtest.h>
#include <string>

#include "store/term_hash.h"

namespace vorlane::engine {
namespace {

TEST(Hash2String, EmptyTextAndTermHashPair) {
  EXPECT_EQ(hash2_string("", 0), (uint64_t{1} << 32) | 1);
  for (const char* text : {"a", "hello world", "caf\xe9", "\xff\xfe\x80", "www.example.com"})
    EXPECT_EQ(hash2_string(text, strlen(text)), term_hash_pair(text)) << text;
}

TEST(Hash2String, HashesEveryByteIncludingNul) {
  const char with_nul[] = {'a', '\0', 'b'};
  uint64_t pair = hash2_string(with_nul, 3);
  EXPECT_NE(pair, term_hash_pair("a"));
  // h1 by hand: ((0*129 + 'a' + K) * 129 + 0 + K) * 129 + 'b' + K, mod 2^32.
  const uint32_t k = 987654321u;
  uint32_t h1 = ((uint32_t{'a'} + k) * 129u + k) * 129u + 'b' + k;
  uint32_t h2 = (uint32_t{'a'} * 65599u) * 65599u + 'b';
  EXPECT_EQ(static_cast<uint32_t>(pair), h1 & 0x7FFFFFFFu);
  EXPECT_EQ(static_cast<uint32_t>(pair >> 32), h2 & 0x7FFFFFFFu);
}

TEST(DirDepth, Cases) {
  struct {
    const char* url;
    int depth;
  } cases[] = {
      {"", -2},
      {"http://host", 0},
      {"http://host/a/b", 2},
      {"http://h/a?x=/y/z", 1},
      {"http://h?/a/b/c", 0},
      {"/a/b/c/d", 2},
  };
  for (const auto& c : cases) EXPECT_EQ(dir_depth(c.url), c.depth) << c.url;
}

}  // namespace
}  // namespace vorlane::engine
