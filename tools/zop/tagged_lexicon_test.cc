#include "tools/zop/tagged_lexicon.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/testing/test_root.h"

namespace vorlane::zopw {
namespace {

TEST(TaggedLexiconTest, TagLines) {
  std::string key;
  std::vector<std::pair<std::string, double>> pairs;
  ASSERT_TRUE(parse_tag_line("make: { vbp: 116, vb: 610, nn: 1 }", &key, &pairs));
  EXPECT_EQ(key, "make");
  EXPECT_EQ(pairs, (std::vector<std::pair<std::string, double>>{{"vbp", 116}, {"vb", 610}, {"nn", 1}}));
  ASSERT_TRUE(parse_tag_line("\"''\": { ppr: 8506 }", &key, &pairs));
  EXPECT_EQ(key, "''");
  ASSERT_TRUE(parse_tag_line("\"1/2-inch\": { jj: 4 } ", &key, &pairs));
  EXPECT_EQ(key, "1/2-inch");
  ASSERT_TRUE(parse_tag_line("cc: { cd: 0.0439594, ls: 6.7891e-05 }", &key, &pairs));
  EXPECT_DOUBLE_EQ(pairs[1].second, 6.7891e-05);
  for (const char* bad : {"make { vb: 1 }", "make: { vb }", "make: { vb: x }", "make: {}", "make: { vb: -1 }",
                          "\"open: { vb: 1 }"}) {
    EXPECT_FALSE(parse_tag_line(bad, &key, &pairs)) << bad;
  }
}

// Tags that map to one model tag add their counts, and their transition
// rows are weighed by those counts.
TEST(TaggedLexiconTest, MergedTags) {
  platform::TestRoot root;
  std::ofstream(root.file("words.yml")) << "--- #YAML:1.0\n"
                                           "\"``\": { ppl: 30 }\n"
                                           "\"''\": { ppr: 10 }\n"
                                           "dog: { nn: 50, vb: 10 }\n"
                                           "\".\": { pp: 20 }\n";
  std::ofstream(root.file("tags.yml")) << "--- #YAML:1.0\n"
                                          "ppl: { nn: 1.0 }\n"
                                          "ppr: { pp: 1.0 }\n"
                                          "nn: { pp: 0.5, ppr: 0.5 }\n"
                                          "vb: { nn: 1 }\n"
                                          "pp: { ppl: 0.25, nn: 0.75 }\n";
  const std::map<std::string, std::string> map = {
      {"ppl", "QUOTE"}, {"ppr", "QUOTE"}, {"nn", "NN"}, {"vb", "VB"}, {"pp", "SENT"}};
  TaggedLexicon lex;
  std::string error;
  ASSERT_TRUE(read_tagged_lexicon(root.path(), map, "pp", &lex, &error)) << error;
  EXPECT_EQ(lex.tag_counts["QUOTE"], 40);
  EXPECT_EQ(lex.words["dog"], (std::map<std::string, double>{{"NN", 50}, {"VB", 10}}));
  EXPECT_DOUBLE_EQ(lex.transitions["QUOTE"]["NN"], 0.75);  // 30 of the 40 quotes open
  EXPECT_DOUBLE_EQ(lex.transitions["QUOTE"]["SENT"], 0.25);
  EXPECT_DOUBLE_EQ(lex.transitions["NN"]["QUOTE"], 0.5);
  EXPECT_DOUBLE_EQ(lex.initial["NN"], 0.75);
  // A tag the map lacks, a missing file, a missing start row.
  std::ofstream(root.file("tags.yml"), std::ios::app) << "rb: { nn: 1 }\n";
  EXPECT_FALSE(read_tagged_lexicon(root.path(), map, "pp", &lex, &error));
  EXPECT_NE(error.find("unknown tag rb"), std::string::npos) << error;
  EXPECT_FALSE(read_tagged_lexicon(root.file("none"), map, "pp", &lex, &error));
  std::ofstream(root.file("tags.yml"), std::ios::trunc) << "nn: { nn: 1 }\n";
  EXPECT_FALSE(read_tagged_lexicon(root.path(), map, "pp", &lex, &error));
}

}  // namespace
}  // namespace vorlane::zopw
