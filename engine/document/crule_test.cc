// Rule elements and hit lists.
#include "engine/document/crule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "store/testing/log_capture.h"

namespace vorlane::engine {
namespace {

TEST(Crule, PositiveMasksReachAllOnesOnlyTogether) {
  for (int n : {1, 2, 3, 40, 63, 64}) {
    SCOPED_TRACE(n);
    uint64_t all = 0;
    for (int j = 0; j < n; ++j) {
      const uint64_t m = crule_positive_mask(j, n);
      EXPECT_TRUE(m & (uint64_t{1} << j));
      if (n > 1) {
        // Leaving this element out leaves its bit clear.
        uint64_t others = 0;
        for (int k = 0; k < n; ++k)
          if (k != j) others |= crule_positive_mask(k, n);
        EXPECT_NE(others, kAllOnes);
      }
      all |= m;
    }
    EXPECT_EQ(all, kAllOnes);
  }
  EXPECT_EQ(crule_positive_mask(0, 1), kAllOnes);
  EXPECT_EQ(crule_positive_mask(63, 64), uint64_t{1} << 63);
  EXPECT_EQ(crule_positive_mask(1, 2), ~uint64_t{1});
  EXPECT_EQ(crule_negative_mask(5), uint64_t{32});
}

TEST(Crule, CreateCutsAtSixtyFourAndRefusesNone) {
  LogCapture log;
  int n = 70;
  crule_elem** e = crule_create(9, 3, &n, 1);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(n, 64);
  EXPECT_TRUE(log.contains("crule_create: truncated 70 elems to 64"));
  EXPECT_EQ(e[0]->topic, 9u);
  EXPECT_EQ(e[63]->rule, 3);
  EXPECT_EQ(e[63]->positive, uint64_t{1} << 63);
  EXPECT_EQ(e[63]->next, nullptr);
  free(e);
  n = 2;
  e = crule_create(9, 3, &n, 0);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e[1]->positive, 0u);
  EXPECT_EQ(e[1]->negative, 2u);
  free(e);
  n = 0;
  EXPECT_EQ(crule_create(9, 3, &n, 1), nullptr);
  EXPECT_TRUE(log.contains("crule_create: called with no terms"));
}

crule_elem elem(uint32_t topic, uint16_t rule, uint64_t pos, uint64_t neg) { return {pos, neg, topic, nullptr, rule}; }

TEST(Crule, HitsPoolByTopicAndRule) {
  crule_elem* hits = nullptr;
  const crule_elem a = elem(7, 1, 0x1, 0), b = elem(7, 1, ~uint64_t{1}, 0), c = elem(7, 2, kAllOnes, 0),
                   d = elem(8, 1, kAllOnes, 0), neg = elem(8, 1, 0, 4), zero = elem(0, 5, kAllOnes, 0),
                   again = elem(7, 2, kAllOnes, 0);
  EXPECT_EQ(crule_add(nullptr, &a), 0);
  EXPECT_EQ(crule_add(&hits, nullptr), 1);
  uint32_t* t = crule_topics(hits);
  EXPECT_EQ(t[0], 0u);  // no hits: an empty list
  free(t);
  for (const crule_elem* e : {&a, &zero, &c, &d, &again}) ASSERT_EQ(crule_add(&hits, e), 1);
  // (7, 1) has only half its mask; (7, 2) fires; (8, 1) fires; topic 0
  // fires but cannot be reported.
  t = crule_topics(hits);
  EXPECT_EQ(std::vector<uint32_t>(t, t + 3), (std::vector<uint32_t>{7, 8, 0}));
  free(t);
  ASSERT_EQ(crule_add(&hits, &b), 1);
  ASSERT_EQ(crule_add(&hits, &neg), 1);
  // (7, 1) is now complete; (8, 1) has a negative hit. Topic 7 once.
  t = crule_topics(hits);
  EXPECT_EQ(std::vector<uint32_t>(t, t + 2), (std::vector<uint32_t>{7, 0}));
  free(t);
  int n = 0;
  for (crule_elem* h = hits; h; h = h->next) ++n;
  EXPECT_EQ(n, 4);  // one element per (topic, rule)
  crule_free_hits(hits);
}

TEST(Crule, AddManyStopsAtTheFirstFailure) {
  crule_elem c2 = elem(2, 1, kAllOnes, 0), c1 = elem(1, 1, kAllOnes, 0);
  c1.next = &c2;
  crule_elem* hits = nullptr;
  static int calls;
  calls = 0;
  crule_alloc = [](size_t bytes) -> void* { return ++calls == 2 ? nullptr : malloc(bytes); };
  LogCapture log;
  EXPECT_EQ(crule_addmany(&hits, &c1), 0);
  crule_alloc = malloc;
  EXPECT_TRUE(log.contains("crule_create: malloc for"));
  ASSERT_NE(hits, nullptr);
  EXPECT_EQ(hits->topic, 1u);
  EXPECT_EQ(hits->next, nullptr);
  crule_free_hits(hits);
}

TEST(Crule, Dump) {
  crule_elem b = elem(12, 65535, 0x1234567890ULL, 0), a = elem(3, 1, 0, 0xF0000000FULL);
  a.next = &b;
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  crule_dump(&a, f);
  fclose(f);
  EXPECT_EQ(std::string(text, size),
            "topic-id: 3\nrule-id:  1\npos:      0x00000000\nneg:      0x0000000f\n"
            "topic-id: 12\nrule-id:  65535\npos:      0x34567890\nneg:      0x00000000\n");
  free(text);
  LogCapture log;
  crule_dump(&a, nullptr);
  EXPECT_TRUE(log.contains("crule_dump: file descriptor is null pointer"));
}

}  // namespace
}  // namespace vorlane::engine
