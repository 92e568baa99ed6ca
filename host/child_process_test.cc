#include "host/child_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

#include "platform/testing/test_root.h"

namespace vorlane::host {
namespace {

TEST(ChildProcess, NormalizeProgramPath) {
  const std::pair<const char*, const char*> cases[] = {
      {"/opt/v/./bin/vs", "/opt/v/bin/vs"},
      {"/opt/./././bin/vs", "/opt/bin/vs"},
      {"/opt/v/bin/./", "/opt/v/bin/./"},  // kept at the very end
      {"/opt/v/./x/./", "/opt/v/x/./"},
      {"/opt/v.x/.y/vs", "/opt/v.x/.y/vs"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) {
    std::string path = in;
    normalize_program_path(path);
    EXPECT_EQ(path, out) << in;
  }
}

TEST(ChildProcess, LibraryPathDropsTheFileAndItsFolder) {
  EXPECT_EQ(library_path("/opt/vorlane/bin/vorlane-server"), "/opt/vorlane/lib/python1.5");
  EXPECT_EQ(library_path("/bin/vs"), "/lib/python1.5");
  EXPECT_EQ(library_path("/vs"), "");
  EXPECT_EQ(library_path("vs"), "");
  EXPECT_EQ(library_path("bin/vs"), "");
}

TEST(ChildProcess, EnvironmentOfTheChildren) {
  const char* old_path = getenv("PYTHONPATH");
  std::string saved_path = old_path ? old_path : "";
  const char* old_temp = getenv("TEMP");
  std::string saved_temp = old_temp ? old_temp : "";

  setenv("PYTHONPATH", "/earlier", 1);
  set_console_pythonpath("/a/b/prog");
  EXPECT_STREQ(getenv("PYTHONPATH"), "/a/lib/python1.5:/earlier");
  unsetenv("PYTHONPATH");
  set_console_pythonpath("/a/b/prog");
  EXPECT_STREQ(getenv("PYTHONPATH"), "/a/lib/python1.5");

  setenv("PYTHONPATH", "/earlier", 1);
  setenv("TEMP", "", 1);
  set_service_environment("/a/b/prog");
  EXPECT_STREQ(getenv("PYTHONPATH"), "/a/lib/python1.5");
  EXPECT_STREQ(getenv("TEMP"), "/tmp");
  setenv("TEMP", "/var/tmp", 1);
  setenv("PYTHONPATH", "/earlier", 1);
  set_service_environment("/prog");  // no library path: left alone
  EXPECT_STREQ(getenv("PYTHONPATH"), "/earlier");
  EXPECT_STREQ(getenv("TEMP"), "/var/tmp");

  if (old_path) setenv("PYTHONPATH", saved_path.c_str(), 1); else unsetenv("PYTHONPATH");
  if (old_temp) setenv("TEMP", saved_temp.c_str(), 1); else unsetenv("TEMP");
}

TEST(ChildProcess, StartChildArgumentsDirectoryAndLimits) {
  platform::TestRoot root;
  std::string program = root.file("prog");
  std::string out = root.file("seen");
  {
    std::ofstream script(program);
    script << "#!/bin/sh\n{ pwd; for a in \"$0\" \"$@\"; do echo \"[$a]\"; done; } > " << out << "\nexit 4\n";
  }
  chmod(program.c_str(), 0755);
  EXPECT_EQ(child_command_line(program, {"-serverNum", "3"}), "\"" + program + "\" -child -serverNum 3");
  platform::Process child;
  int error = 0;
  ASSERT_TRUE(start_child(program, {"-serverNum", "3"}, &child, &error));
  ASSERT_EQ(platform::process_wait(&child, 10000), 1);
  EXPECT_EQ(child.exit_code, 4);
  platform::process_close(&child);
  std::ifstream in(out);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, root.path() + "\n[" + program + "]\n[-child]\n[-serverNum]\n[3]\n");

  std::string long_arg(max_child_command_line - child_command_line(program, {}).size() - 1, 'x');
  ASSERT_TRUE(start_child(program, {long_arg}, &child, &error));  // exactly 1,023 characters
  platform::process_wait(&child, 10000);
  platform::process_close(&child);
  EXPECT_FALSE(start_child(program, {long_arg + "x"}, &child, &error));
  EXPECT_EQ(error, E2BIG);
  EXPECT_FALSE(start_child(root.file("missing"), {}, &child, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(start_child("", {}, &child, &error));
}

}  // namespace
}  // namespace vorlane::host
