#include "host/spawn_command.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/testing/test_root.h"

namespace vorlane::host {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(SpawnCommand, ExitCodesAndStartErrors) {
  EXPECT_EQ(spawn_command("/bin/sh -c \"exit 3\"", 10), 3);
  EXPECT_EQ(spawn_command("/bin/true", 10), 0);
  EXPECT_EQ(spawn_command("/nonexistent/prog a b", 10), ENOENT);
  EXPECT_EQ(spawn_command("true", 10), ENOENT);  // no search path
  EXPECT_EQ(spawn_command("\"\"", 10), ENOENT);
  // Quotes are stripped only when both are there: a lone opening quote stays
  // part of the program's name (nothing is cut from its end).
  EXPECT_EQ(spawn_command("\"/bin/true", 10), ENOENT);
  EXPECT_EQ(spawn_command("\"/bin/true\"", 10), 0);
}

TEST(SpawnCommand, LimitsRefuseWithoutStartingAnything) {
  platform::TestRoot root;
  std::string marker = root.file("started");
  std::string touch = "/bin/touch " + marker;
  std::string args18, args19;
  for (int i = 0; i < 17; ++i) args18 += " " + marker;
  args19 = args18 + " " + marker;
  // The program and its arguments must number fewer than 20.
  EXPECT_EQ(spawn_command((touch + args18).c_str(), 10), 0);
  EXPECT_TRUE(std::filesystem::exists(marker));
  std::filesystem::remove(marker);
  EXPECT_EQ(spawn_command((touch + args19).c_str(), 10), E2BIG);
  std::string many = touch;
  for (int i = 0; i < 400; ++i) many += " " + marker;
  EXPECT_EQ(spawn_command(many.c_str(), 10), E2BIG);
  // Assignments do not count as arguments, but the environment is bounded.
  std::string assignments;
  for (int i = 0; i < 10; ++i) assignments += "V" + std::to_string(i) + "=1 ";
  EXPECT_EQ(spawn_command((assignments + touch + args18).c_str(), 10), 0);
  std::filesystem::remove(marker);
  size_t have = 0;
  for (char** e = environ; *e; ++e) ++have;
  std::string fill;
  for (size_t i = have; i < 256; ++i) fill += "FILL_" + std::to_string(i) + "=x ";
  EXPECT_EQ(spawn_command((fill + touch).c_str(), 10), E2BIG);
  // The command line: every word from the program on, each with one blank,
  // at most 1,023 characters ("/bin/true " and the pad's blank are 11).
  EXPECT_EQ(spawn_command(("/bin/true " + std::string(1012, 'p')).c_str(), 10), 0);
  EXPECT_EQ(spawn_command(("/bin/true " + std::string(1013, 'p')).c_str(), 10), E2BIG);
  // A command without a program.
  EXPECT_EQ(spawn_command("A=1 B=2", 10), E2BIG);
  EXPECT_EQ(spawn_command("   ", 10), E2BIG);
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(SpawnCommand, EnvironmentAssignmentsAreTheChildsOnly) {
  platform::TestRoot root;
  setenv("VORLANE_SPAWN_OLD", "old", 1);
  unsetenv("VORLANE_SPAWN_NEW");
  std::string out = root.file("env");
  // The redirection belongs to the script of sh -c.
  std::string command = "VORLANE_SPAWN_OLD=new VORLANE_SPAWN_NEW=added VORLANE_SPAWN_OLD=again /bin/sh -c \"{ echo "
            "$VORLANE_SPAWN_OLD $VORLANE_SPAWN_NEW; env | grep -c ^VORLANE_SPAWN_OLD=; } >" + out + "\"";
  EXPECT_EQ(spawn_command(command.c_str(), 10), 0);
  EXPECT_EQ(slurp(out), "again added\n1\n");
  EXPECT_STREQ(getenv("VORLANE_SPAWN_OLD"), "old");
  EXPECT_EQ(getenv("VORLANE_SPAWN_NEW"), nullptr);
  unsetenv("VORLANE_SPAWN_OLD");
}

TEST(SpawnCommand, QuotedProgramPathAndArguments) {
  platform::TestRoot root;
  std::string dir = root.file("with blank");
  std::filesystem::create_directory(dir);
  std::filesystem::create_symlink("/bin/sh", dir + "/my sh");
  std::string out = root.file("args");
  std::string command = "\"" + dir + "/my sh\" -c \"printf '[%s]' $0 >" + out + "; exit 7\" \"zero arg\"";
  EXPECT_EQ(spawn_command(command.c_str(), 10), 7);
  EXPECT_EQ(slurp(out), "[zero][arg]");
}

TEST(SpawnCommand, AChildThatEndsAtOnceIsNotWaitedForToTheLimit) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(spawn_command("/bin/sleep 0.1", 100), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace vorlane::host
