// fstc writes each kind of resource file that the resource sets open.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "linguistics/fst/enumerate.h"
#include "linguistics/fst/coding.h"
#include "linguistics/fst/fsm.h"
#include "linguistics/fst/fst_interface.h"
#include "linguistics/fst/lookup.h"
#include "linguistics/fst/symbol_classes.h"
#include "platform/testing/test_root.h"

namespace vorlane {
namespace {

void* compile(const platform::TestRoot& root, const std::string& name, const std::string& text,
              const std::string& flags = "") {
  std::string input = root.file(name + ".txt");
  std::ofstream(input, std::ios::binary) << text;
  std::string output = root.file(name);
  std::string command = std::string(FSTC_PATH) + " " + flags + " " + input + " " + output;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return fst_open(output.c_str());
}

TEST(Fstc, EveryResourceKind) {
  platform::TestRoot root;
  char out[256];

  for (const char* name : {"english.is", "english.ds"}) {
    void* fsm = compile(root, name, "# stems\ncats\tcat\nran\trun\ndog\n\nrunning\trun[V][Prog]\n", "--tables 3");
    ASSERT_EQ(fst_status(fsm), 0) << name;
    EXPECT_EQ(fst_capabilities(fsm), 1u | 8 | 2 | 64);
    EXPECT_EQ(fst_lookup_word("cats", out, sizeof out, 3, fsm), 1);
    EXPECT_STREQ(out, "cat");
    EXPECT_EQ(fst_lookup_word("dog", out, sizeof out, 7, fsm), 1);
    EXPECT_STREQ(out, "dog");
    EXPECT_EQ(fst_lookup_word("running", out, sizeof out, 2, fsm), 1);
    EXPECT_STREQ(out, "run[V][Prog]");
    EXPECT_EQ(fst_lookup_word("run[V][Prog]", out, sizeof out, 8, fsm), 1);
    EXPECT_STREQ(out, "running");
    fst_close(fsm);
  }

  void* tok = compile(root, "english.tok", "don't\tdo\tn't\ncan't\tca\tn't\nU.S.\tU.S.\n");
  ASSERT_EQ(fst_status(tok), 0);
  EXPECT_EQ(fst_capabilities(tok), 4u);
  // Mode 11: the first analysis, its tokens separated by NULs.
  EXPECT_EQ(fst_lookup_word("don't", out, sizeof out, 11, tok), 1);
  EXPECT_EQ(std::string(out, 7), std::string("do\0n't\0", 7));
  fst_close(tok);

  void* npr = compile(root, "english.npr", "[Det][N]\t(np\n[Det][Adj][N]\t(np\n[V]\t(vp\n");
  ASSERT_EQ(fst_status(npr), 0);
  EXPECT_EQ(fst_capabilities(npr), 256u);
  EXPECT_EQ(fst_function(63, static_cast<const FSM*>(npr)), 0);
  // The grouper's coded tag sequence is accepted.
  uint8_t coded[64];
  const FSM* g = static_cast<const FSM*>(npr);
  ASSERT_GT(fst_encode_tokens("Det\0Adj\0N", 3, 0, coded, sizeof coded, nullptr, nullptr, g), 0);
  FstFrame frames[32];
  uint8_t scratch[128];
  char client[128];
  EXPECT_EQ(apply_fst(coded, scratch, 128, fst_function(62, g), false, frames, 32, client, 128, nullptr, 0, 0, 0, g),
            1);
  fst_close(npr);

  void* clg = compile(root, "english.clg", "dog\tN V\nthe\tDet\n");
  ASSERT_EQ(fst_status(clg), 0);
  EXPECT_EQ(fst_capabilities(clg), 16u);
  const FSM* c = static_cast<const FSM*>(clg);
  ASSERT_GT(fst_encode("dog", 3, coded, sizeof coded, false, false, true, c), 0);
  uint16_t numbers[8];
  EXPECT_EQ(apply_fst_enum(coded, numbers, 8, fst_function(60, c), frames, 32, c), 2);
  fst_close(clg);

  // Bad input: a tag without its bracket, an unknown kind.
  std::string bad = root.file("bad.txt");
  std::ofstream(bad) << "x\ty[N\n";
  EXPECT_NE(std::system((std::string(FSTC_PATH) + " " + bad + " " + root.file("bad.is") + " 2>/dev/null").c_str()), 0);
  EXPECT_NE(std::system((std::string(FSTC_PATH) + " " + bad + " " + root.file("bad.xyz") + " 2>/dev/null").c_str()),
            0);
}

}  // namespace
}  // namespace vorlane
