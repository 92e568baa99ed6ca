#include "platform/ipconfig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace vorlane::platform {
namespace {

std::vector<std::string> read_lines(FILE* pipe) {
  std::vector<std::string> lines;
  char line[1024];
  while (fgets(line, sizeof line, pipe)) lines.push_back(line);
  return lines;
}

TEST(Ipconfig, DefaultCommandPutsTheHostNameOnTheFourthLine) {
  unsetenv("VORLANE_IPCONFIG");
  FILE* pipe = ipconfig_open();
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> lines = read_lines(pipe);
  EXPECT_EQ(ipconfig_close(pipe), 0);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "\n");
  EXPECT_EQ(lines[2], "\n");
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(lines[3], std::string("        Host Name . . . . . . . . . . . . : ") + host + "\n");
}

TEST(Ipconfig, EnvironmentNamesAnotherCommand) {
  setenv("VORLANE_IPCONFIG", "printf 'a\\nb: c\\n'", 1);
  FILE* pipe = ipconfig_open();
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> lines = read_lines(pipe);
  ipconfig_close(pipe);
  unsetenv("VORLANE_IPCONFIG");
  EXPECT_EQ(lines, (std::vector<std::string>{"a\n", "b: c\n"}));
}

}  // namespace
}  // namespace vorlane::platform
