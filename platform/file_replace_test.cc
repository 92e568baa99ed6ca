#include "platform/file_replace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/testing/test_root.h"

namespace vorlane::platform {
namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(FileReplace, ReplacesWholeAndLeavesNoTemporaryFile) {
  TestRoot root;
  std::string path = root.file("state");
  for (bool sync : {false, true}) {
    ASSERT_EQ(replace_file(path, "a much longer first text\n", sync), 0);
    ASSERT_EQ(replace_file(path, "short\n", sync), 0);
    EXPECT_EQ(contents(path), "short\n");
    EXPECT_NE(access((path + ".tmp").c_str(), F_OK), 0);
  }
}

TEST(FileReplace, AFailureKeepsTheOldFileAndGivesTheError) {
  TestRoot root;
  EXPECT_EQ(replace_file(root.file("no/such/dir/state"), "x", false), ENOENT);
  // A directory in the file's place: the rename fails, the temporary goes.
  std::string path = root.file("taken");
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((path + "/inside").c_str(), 0755), 0);
  EXPECT_NE(replace_file(path, "x", false), 0);
  EXPECT_NE(access((path + ".tmp").c_str(), F_OK), 0);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

}  // namespace
}  // namespace vorlane::platform
