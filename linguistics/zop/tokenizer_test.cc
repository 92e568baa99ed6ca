#include "linguistics/zop/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "linguistics/fst/dictionary.h"
#include "linguistics/testing/zop_test_fixtures.h"

namespace vorlane {
namespace {

using zop_test::FsmPtr;

// A tokenizer transducer that knows a few chunks, compiled as fstc compiles
// a ".tok" list ("chunk<TAB>token<TAB>token...": tokens separated by the end
// symbol) or with the tokens separated by blanks.
FsmPtr tok_fsm(bool blanks) {
  const std::vector<std::vector<std::string>> chunks = {
      {"world.", "world", "."}, {"don't", "do", "n't"}, {"U.S.A.", "USA", "."}, {"e-mail", "e-mail"},
      {"x.y", "x", ".", "y"},   {"--", "--"},           {"'tis", "it", "is"},
      {"o'no-on", "of", "on"},  {"a'b-c", "ax", "zz"}};
  std::vector<fstw::Pair> pairs;
  for (const auto& c : chunks) {
    std::string out;
    for (size_t i = 1; i < c.size(); ++i) out += (i > 1 ? (blanks ? " " : "\x1F") : "") + c[i];
    pairs.push_back({c[0], out});
  }
  fstw::PairOptions options;
  options.functions = {28};
  options.table_threshold = 16;
  if (!blanks) options.token_separator = '\x1F';
  fstw::FileDesc desc;
  std::string error;
  EXPECT_TRUE(fstw::compile_pairs(pairs, options, &desc, &error)) << error;
  return zop_test::load_desc(desc);
}

struct Tok {
  std::string text;
  int32_t type;
  bool operator==(const Tok&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Tok& t) { return os << "{" << t.text << ", " << t.type << "}"; }

struct Result {
  int32_t consumed;
  std::vector<Tok> tokens;
  std::vector<TokenRecord> records;
};

Result run(void* tok, const std::string& text, int32_t flags, int32_t capacity = 64, int32_t work_size = 256) {
  std::vector<TokenRecord> records(static_cast<size_t>(capacity) + 1);
  std::vector<char> work(static_cast<size_t>(work_size) + 1);
  int32_t count = -1;
  Result r;
  r.consumed = tokenize_text(text.data(), static_cast<int32_t>(text.size()), tok, flags, records.data(), capacity,
                             work.data(), work_size, &count);
  for (int32_t i = 0; i < count; ++i) {
    const TokenRecord& rec = records[static_cast<size_t>(i)];
    std::string s = rec.text < 0 ? text.substr(static_cast<size_t>(rec.offset), static_cast<size_t>(rec.length))
                                 : std::string(work.data() + rec.text);
    r.tokens.push_back({s, rec.type});
    r.records.push_back(rec);
  }
  return r;
}

// Both separators of transducer tokens give the same records.
class TokenizerTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    fsm_ = tok_fsm(GetParam());
    tok_ = tokenizer_create(fsm_.get(), 0, nullptr);
    ASSERT_EQ(fst_status(tok_), 0);
  }
  void TearDown() override { tokenizer_free(tok_); }
  FsmPtr fsm_;
  void* tok_ = nullptr;
};

TEST_P(TokenizerTest, CompleteTexts) {
  struct Case {
    std::string text;
    int32_t flags;
    std::vector<Tok> tokens;
  };
  const std::vector<Case> cases = {
      {"Hello, world.", 1, {{"Hello", 1}, {",", 6}, {"world", 1}, {".", 22}}},
      {"a\r\nb", 1, {{"a", 1}, {"\r\n", 32}, {"b", 1}}},
      {"a\r\nb", 5, {{"a", 1}, {"\r\n", 288}, {"b", 1}}},
      {"a\n\nb", 1, {{"a", 1}, {"\n\n", 288}, {"b", 1}}},
      {"a \n \r b", 1, {{"a", 1}, {"\n \r ", 32}, {"b", 1}}},
      {"(x)", 1, {{"(", 10}, {"x", 1}, {")", 6}}},
      {"Yes?! \"No\"", 1, {{"Yes", 1}, {"?", 22}, {"!", 22}, {"\"", 10}, {"No", 1}, {"\"", 14}}},
      {"don't go", 1, {{"do", 1}, {"n't", 0}, {"go", 1}}},
      {"e-mail", 1, {{"e-mail", 0}}},
      {"--", 1, {{"--", 2}}},
      {"x.y", 1, {{"x", 1}, {".", 22}, {"y", 1}}},
      {"\xC9t\xE9 caf\xE9", 1, {{"\xC9t\xE9", 1}, {"caf\xE9", 1}}},
      {"a\xD7" "b", 1, {}},  // 215 is no letter: a chunk the transducer does not know
  };
  for (const auto& c : cases) {
    Result r = run(tok_, c.text, c.flags);
    if (c.tokens.empty()) {
      EXPECT_LT(r.consumed, 0) << c.text;
      continue;
    }
    EXPECT_EQ(r.consumed, static_cast<int32_t>(c.text.size())) << c.text;
    EXPECT_EQ(r.tokens, c.tokens) << c.text;
  }
}

TEST_P(TokenizerTest, NormalisedTokensSpanTheirInput) {
  // "USA" is written to the work buffer and spans "U.S.A" up to where the
  // next output token "." is found; "it" of "it is" spans up to where "is"
  // is found in "'tis", and "is" matches there.
  Result r = run(tok_, "U.S.A. 'tis", 1);
  ASSERT_EQ(r.tokens.size(), 4u);
  EXPECT_EQ(r.tokens[0], (Tok{"USA", 1}));
  EXPECT_GE(r.records[0].text, 0);
  EXPECT_EQ(r.records[0].offset, 0);
  EXPECT_EQ(r.records[0].length, 1);  // the first "." found after the disagreement
  EXPECT_EQ(r.tokens[2], (Tok{"it", 1}));
  EXPECT_EQ(r.records[2].offset, 7);
  EXPECT_EQ(r.records[2].length, 2);
  EXPECT_EQ(r.tokens[3], (Tok{"is", 1}));
  EXPECT_EQ(r.records[3].text, -1);
  EXPECT_EQ(r.records[3].offset, 9);
  // The next output token is searched whole: "of" spans "o'no-" up to
  // "on" at 5, not up to the first 'o' at 3.
  r = run(tok_, "o'no-on", 1);
  ASSERT_EQ(r.tokens, (std::vector<Tok>{{"of", 1}, {"on", 1}}));
  EXPECT_EQ(r.records[0].offset, 0);
  EXPECT_EQ(r.records[0].length, 5);
  EXPECT_EQ(r.records[1].text, -1);
  EXPECT_EQ(r.records[1].offset, 5);
  EXPECT_EQ(r.records[1].length, 2);
  // A next token the chunk does not hold: the normalised one spans to the
  // chunk's end, and the unfound one is an empty span there.
  r = run(tok_, "a'b-c d", 1);
  ASSERT_EQ(r.tokens, (std::vector<Tok>{{"ax", 1}, {"zz", 1}, {"d", 1}}));
  EXPECT_EQ(r.records[0].offset, 0);
  EXPECT_EQ(r.records[0].length, 5);
  EXPECT_GE(r.records[1].text, 0);
  EXPECT_EQ(r.records[1].offset, 5);
  EXPECT_EQ(r.records[1].length, 0);
  EXPECT_EQ(r.records[2].offset, 6);
  // A work buffer too small for the normalised text refuses the chunk.
  Result small = run(tok_, "U.S.A.", 1, 64, 2);
  EXPECT_EQ(small.consumed, -12);
  Result after = run(tok_, "go U.S.A.", 1, 64, 2);
  EXPECT_EQ(after.consumed, 3);
  EXPECT_EQ(after.tokens, (std::vector<Tok>{{"go", 1}}));
}

TEST_P(TokenizerTest, IncompleteInput) {
  Result r = run(tok_, "abc", 0);
  EXPECT_EQ(r.consumed, 0);
  EXPECT_TRUE(r.tokens.empty());
  r = run(tok_, "abc ", 0);
  EXPECT_EQ(r.consumed, 4);
  EXPECT_EQ(r.tokens, (std::vector<Tok>{{"abc", 1}}));
  r = run(tok_, "abc\n", 0);
  EXPECT_EQ(r.consumed, 3);
  EXPECT_EQ(r.tokens, (std::vector<Tok>{{"abc", 1}}));
  r = run(tok_, "", 1);
  EXPECT_EQ(r.consumed, 0);
  EXPECT_TRUE(r.tokens.empty());
}

TEST_P(TokenizerTest, CapacityStopsAtTheTokenThatDidNotFit) {
  const std::string text = "a b";
  Result r = run(tok_, text, 1, 1);
  EXPECT_EQ(r.consumed, 2);
  EXPECT_EQ(r.tokens, (std::vector<Tok>{{"a", 1}}));
  r = run(tok_, text.substr(2), 1, 1);
  EXPECT_EQ(r.consumed, 1);
  EXPECT_EQ(r.tokens, (std::vector<Tok>{{"b", 1}}));
  // Records run out inside a chunk: the chunk is left for the next call.
  r = run(tok_, "go x.y", 1, 2);
  EXPECT_EQ(r.consumed, 3);
  EXPECT_EQ(r.tokens, (std::vector<Tok>{{"go", 1}}));
  r = run(tok_, "x.y", 1, 2);
  EXPECT_EQ(r.consumed, -12);
}

TEST_P(TokenizerTest, ArgumentErrors) {
  TokenRecord rec[2];
  char work[8];
  int32_t count = 0;
  EXPECT_EQ(tokenize_text(nullptr, 1, tok_, 1, rec, 2, work, 8, &count), -28);
  EXPECT_EQ(tokenize_text("a", 1, tok_, 1, rec, 2, work, 8, nullptr), -28);
  EXPECT_EQ(tokenize_text("a", -1, tok_, 1, rec, 2, work, 8, &count), -8);
  EXPECT_EQ(tokenize_text("a", 1, fst_error_handle(-3), 1, rec, 2, work, 8, &count), -3);
  EXPECT_EQ(fst_status(tokenizer_create(nullptr, 0, nullptr)), -5);
  EXPECT_EQ(fst_status(tokenizer_create(fst_error_handle(-2), 0, nullptr)), -5);
  EXPECT_EQ(fst_status(tokenizer_create(fsm_.get(), 0, fst_error_handle(-3))), -6);
  FsmPtr stemmer = zop_test::load_desc(zop_test::pair_desc({{"a", "a"}}, {27}));
  EXPECT_EQ(fst_status(tokenizer_create(stemmer.get(), 0, nullptr)), -11);
  tokenizer_free(nullptr);
  tokenizer_free(fst_error_handle(-3));
}

TEST_P(TokenizerTest, MarkupMode) {
  void* dict = dict_create(0, 0);
  ASSERT_EQ(dict_add("p", "[html-para]", 0, dict), 0);
  ASSERT_EQ(dict_add("br", "[html-sent]", 0, dict), 0);
  ASSERT_EQ(dict_add("br", "[html-tag-keep]", 0, dict), 0);
  ASSERT_EQ(dict_add("script", "[html-tag-inhibit]", 0, dict), 0);
  void* tok = tokenizer_create(fsm_.get(), 0, dict);
  ASSERT_EQ(fst_status(tok), 0);
  Result r = run(tok, "<P class=x>a<br>b\n<!-- c -->", 3);
  EXPECT_EQ(r.tokens, (std::vector<Tok>{{"<P class=x>", 384}, {"a", 1}, {"<br>", 80}, {"b", 1},
                                         {"<!-- c -->", 128}}));
  const std::string script = "<script>x<script>y</script>z</SCRIPT>w";
  r = run(tok, script, 3);
  EXPECT_EQ(r.tokens, (std::vector<Tok>{{"<script>x<script>y</script>z</SCRIPT>", 128}, {"w", 1}}));
  r = run(tok, "<script>x<scr", 2);  // incomplete: stop at the block's start
  EXPECT_EQ(r.consumed, 0);
  EXPECT_TRUE(r.tokens.empty());
  r = run(tok, "<script>x", 3);
  EXPECT_EQ(r.tokens, (std::vector<Tok>{{"<script>x", 128}}));
  r = run(tok, "a</script>b", 3);  // a closing inhibit tag ends the call
  EXPECT_EQ(r.consumed, 10);
  EXPECT_EQ(r.tokens, (std::vector<Tok>{{"a", 1}, {"</script>", 128}}));
  r = run(tok, "<ab", 2);
  EXPECT_EQ(r.consumed, 0);
  tokenizer_free(tok);
  dict_free(dict);
}

INSTANTIATE_TEST_SUITE_P(Separators, TokenizerTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Blanks" : "EndSymbols");
                         });

}  // namespace
}  // namespace vorlane
