#include "store/date_entry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "store/term_hash.h"

namespace vorlane {
namespace {

uint32_t host_of(const std::string& url) { return url_host_hash(url.data(), url.size()); }

TEST(DateEntry, HostIsTheTextBetweenTheFirstDoubleSlashAndTheNextSlash) {
  EXPECT_EQ(host_of("http://www.example.org/a/b.html"), term_hash1("www.example.org"));
  EXPECT_EQ(host_of("file:///usr/share/doc"), term_hash1(""));
  // No slash after the host, no "//", or a host of 256 bytes: no host.
  EXPECT_EQ(host_of("http://www.example.org"), 0u);
  EXPECT_EQ(host_of("www.example.org/a"), 0u);
  EXPECT_EQ(host_of("http://" + std::string(256, 'h') + "/"), 0u);
  EXPECT_EQ(host_of("http://" + std::string(255, 'h') + "/"), term_hash1(std::string(255, 'h').c_str()));
  EXPECT_EQ(host_of(""), 0u);
}

TEST(DateEntry, DayIsTheLowSixteenBitsOfTheDayNumberInTheHighHalf) {
  const std::string url = "http://h/x";
  time_t date = 86400 * 20000 + 3600;  // TZ=UTC in the test environment
  din_entry e = make_date_entry(url.data(), url.size(), date);
  EXPECT_EQ(e.host_hash, term_hash1("h"));
  EXPECT_EQ(e.day, (local_day_number(date) & 0xFFFFu) << 16);
  EXPECT_EQ(din_day(e), local_day_number(date) & 0xFFFFu);
  EXPECT_EQ(din_day(make_date_entry(url.data(), url.size(), 0)), 1u);
}

}  // namespace
}  // namespace vorlane
