#include "store/heap.h"

#include <gtest/gtest.h>

#include "store/services.h"

namespace vorlane {
namespace {

TEST(HeapGrowth, FirstCallIsZeroAndRepeatsAreStable) {
  EXPECT_EQ(heap_growth(), 0u);
  uint32_t a = heap_growth();
  uint32_t b = heap_growth();
  EXPECT_EQ(a, b);
  DisableHeapChecking = 1;
  EXPECT_EQ(heap_growth(), 0u);
  EXPECT_EQ(heap_stats(0), 0u);
  DisableHeapChecking = 0;
}

TEST(HeapProbe, GivesAnAddress) { EXPECT_NE(heap_probe(0), nullptr); }

TEST(CtimeR, TwentySixBytesPadded) {
  setenv("TZ", "UTC", 1);
  tzset();
  char buf[40];
  memset(buf, 'x', sizeof buf);
  vorlane::ctime_r(0, buf, sizeof buf);
  EXPECT_STREQ(buf, "Thu Jan  1 00:00:00 1970\n");
  for (size_t i = 25; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '\0');
  EXPECT_EQ(get_host_id(), 0);
}

TEST(CtimeRDeathTest, ShortBufferIsRefused) {
  char buf[25];
  EXPECT_DEATH(vorlane::ctime_r(0, buf, sizeof buf), "buflen >= 26");
}

}  // namespace
}  // namespace vorlane
