#include "setuptools/wendal/settings_tool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/server_registry.h"
#include "platform/testing/test_root.h"

namespace vorlane::wendal {
namespace {

struct Result {
  int rc = 0;
  std::string out;
  std::string err;
};

Result run_tool(std::vector<std::string> args) {
  args.insert(args.begin(), "wendal");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  char* out_buf = nullptr;
  char* err_buf = nullptr;
  size_t out_size = 0, err_size = 0;
  FILE* out = open_memstream(&out_buf, &out_size);
  FILE* err = open_memstream(&err_buf, &err_size);
  Result r;
  r.rc = run(static_cast<int>(args.size()), argv.data(), out, err);
  fclose(out);
  fclose(err);
  r.out.assign(out_buf, out_size);
  r.err.assign(err_buf, err_size);
  free(out_buf);
  free(err_buf);
  return r;
}

std::string get_string(int server, const char* name) {
  char text[1024];
  host::orvelRegistryGetString(server, name, text, sizeof text);
  return text;
}

uint32_t get_num(int server, const char* name) {
  uint32_t n = 0;
  orvelRegistryGetNum(server, name, &n);
  return n;
}

TEST(Wendal, SetsValues) {
  platform::TestRoot root;
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"-serverNum", "3", "-port", "8080"}, "setting port[3] to 8080\n"},
      {{"-gpf", "yes"}, "setting gpf flag to off\n"},
      // Options are all read before anything is written.
      {{"-gpf", "on", "-serverNum", "2"}, "setting gpf flag to on\n"},
      {{"-setdir", "/srv/one"}, "Old data dir[0] is: \nNew data dir[0] is: /srv/one\n"},
      // A port of 0 changes nothing and prints nothing; a later option overrides.
      {{"-port", "0"}, ""},
      {{"-port", "7", "-port", "9", "-serverNum", "1"}, "setting port[1] to 9\n"},
      // All three at once, in the order directory, port, flag.
      {{"-gpf", "off", "-port", "81", "-setdir", "/srv/two"},
       "Old data dir[0] is: /srv/one\nNew data dir[0] is: /srv/two\nsetting port[0] to 81\nsetting gpf flag to off\n"},
  };
  for (const Case& c : cases) {
    Result r = run_tool(c.args);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, c.out) << c.args[0];
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(get_num(3, "port"), 8080u);
  EXPECT_EQ(get_num(2, "gpf"), 1u);
  EXPECT_EQ(get_num(1, "port"), 9u);
  EXPECT_EQ(get_num(0, "port"), 81u);
  EXPECT_EQ(get_num(0, "gpf"), 0u);
  EXPECT_EQ(get_string(0, "data_dir"), "/srv/two");
  EXPECT_EQ(get_num(2, "port"), 0xFFFFFFFFu);
}

TEST(Wendal, BadArgumentsPrintTheUsageAndWriteNothing) {
  platform::TestRoot root;
  const std::string usage =
      "Usage: wendal [-serverNum <num>] [-setdir <data-dir>] [-port <num>] [-gpf {on|off}] [-delete]\n";
  std::vector<std::string> cases[] = {
      {"-delete"},
      {"-port", "5", "-Port", "6"},
      {"-gpf", "on", "stray"},
      // An option given last, without its value.
      {"-port"},
      {"-port", "5", "-setdir"},
      {"-serverNum"},
  };
  for (const auto& args : cases) {
    Result r = run_tool(args);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, usage) << args.back();
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(get_num(0, "port"), 0xFFFFFFFFu);
  EXPECT_EQ(get_num(0, "gpf"), 0xFFFFFFFFu);
}

TEST(Wendal, ListsServersWithADirectoryOrAPort) {
  platform::TestRoot root;
  EXPECT_EQ(run_tool({}).out, "");
  host::orvelRegistrySetString(0, "data_dir", "/data/zero");
  host::orvelRegistrySetNum(0, "port", 80);
  host::orvelRegistrySetNum(4, "port", 4444);
  host::orvelRegistrySetString(7, "data_dir", "/data/seven");
  host::orvelRegistrySetString(8, "data_dir", "");
  host::orvelRegistrySetString(9, "port", "90");  // not a number: not listed
  host::orvelRegistrySetNum(10, "port", 1010);     // past server 9
  Result r = run_tool({});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.out,
            "data directory[0] = /data/zero\n"
            "port number[0]    = 80\n"
            "port number[4]    = 4444\n"
            "data directory[7] = /data/seven\n");
  EXPECT_EQ(r.err, "");
  // Options, even ones that change nothing, do not list.
  EXPECT_EQ(run_tool({"-serverNum", "4"}).out, "");
}

}  // namespace
}  // namespace vorlane::wendal
