#include "engine/dbmerge/adj_file.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/testing/test_root.h"
#include "store/testing/index_fixture.h"

namespace vorlane::engine {
namespace {

// A document map from a pattern of K (kept) and D (dropped).
std::vector<int32_t> map_of(const std::string& pattern) {
  std::vector<int32_t> map;
  int32_t kept = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == 'D') {
      map.push_back(kDroppedDoc);
    } else {
      map.push_back(static_cast<int32_t>((i - kept) << 7));
      ++kept;
    }
  }
  return map;
}

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

void write_bytes(const std::string& path, const std::string& data) {
  FILE* f = fopen(path.c_str(), "wb");
  fwrite(data.data(), 1, data.size(), f);
  fclose(f);
}

TEST(AdjFile, RunsOfDroppedDocuments) {
  platform::TestRoot root;
  const std::string path = root.file("adj");
  const struct {
    std::string pattern;
    std::string file;
  } cases[] = {
      {"KKDKDDKKK", bytes({9, 0, 0, 0, 2, 1, 0, 3})},
      {"KKKK", bytes({4, 0, 0, 0, 4})},          // no deletions: the one run N
      {"KKD", bytes({3, 0, 0, 0, 2, 0})},        // last one dropped: a final 0
      {"DDD", bytes({3, 0, 0, 0, 0, 0, 0, 0})},
      {"", bytes({0, 0, 0, 0, 0})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    const std::vector<int32_t> map = map_of(c.pattern);
    ASSERT_EQ(write_adj_file(path, map.data(), static_cast<uint32_t>(map.size())), "");
    EXPECT_EQ(testing::read_file(path), c.file);
    std::vector<uint8_t> marks;
    bool oom = true;
    ASSERT_EQ(read_adj_file(path, &marks, &oom), "");
    EXPECT_FALSE(oom);
    std::string seen;
    for (uint8_t m : marks) seen += m ? 'D' : 'K';
    EXPECT_EQ(seen, c.pattern);
  }
  // A long run takes several bytes: 300 kept, then one dropped.
  std::vector<int32_t> map = map_of(std::string(300, 'K') + "D");
  ASSERT_EQ(write_adj_file(path, map.data(), 301), "");
  EXPECT_EQ(testing::read_file(path), bytes({0x2D, 1, 0, 0, 0x82, 0x2C, 0}));
}

TEST(AdjFile, DamagedFilesAreRefused) {
  platform::TestRoot root;
  const std::string path = root.file("adj");
  std::vector<uint8_t> marks;
  bool oom = false;
  EXPECT_EQ(read_adj_file(path, &marks, &oom).rfind("adj open: ", 0), 0u);
  const std::string corrupt[] = {
      bytes({9, 0, 0}),                        // shorter than N
      bytes({0xFF, 0xFF, 0xFF, 0xFF, 0}),      // N negative
      bytes({9, 0, 0, 0, 2, 1, 0, 1}),         // the runs end before N
      bytes({9, 0, 0, 0, 2, 1, 0, 4}),         // and past it
      bytes({9, 0, 0, 0, 2, 1, 0, 0x83}),      // a number cut short
      bytes({9, 0, 0, 0, 0x87, 0xFF, 0xFF, 0xFF, 0x7F, 0x87, 0xFF, 0xFF, 0xFF, 0x7F, 0x87, 0xFF, 0xFF, 0xFF, 0x7F}),
      bytes({9, 0, 0, 0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x09}),  // six bytes
      bytes({9, 0, 0, 0}),                      // no runs at all
  };
  for (const std::string& data : corrupt) {
    write_bytes(path, data);
    EXPECT_EQ(read_adj_file(path, &marks, &oom), "adj corrupt") << data.size();
    EXPECT_FALSE(oom);
  }
}

}  // namespace
}  // namespace vorlane::engine
