// The query parser on a database written by the store, with stems from the
// default English set (skipped when the set was not built).
#include "engine/query/query_parser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/testing/query_testing.h"
#include "platform/testing/test_root.h"
#include "store/checksum.h"
#include "store/testing/log_capture.h"
#include "store/score_tables.h"
#include "store/term_hash.h"

namespace vorlane::engine {
namespace {

using query_testing::Doc;
using query_testing::ParseAreas;

const std::string kEnglish = std::string(VORLANE_ENGLISH_DIR) + "/english";
constexpr char kChecksum[] = "0123456701234567";  // both words below bit 31

std::string filler_word(int i) {
  std::string w = "kq";
  w += static_cast<char>('a' + i / 26);
  w += static_cast<char>('a' + i % 26);
  return w;
}

class QueryParserTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!std::filesystem::exists(kEnglish + ".hmm")) return;
    english_ = query_testing::english_set(kEnglish);
    if (!english_.stemmer) return;
    init_percent_table();
    cache_release_arenas();
    cache_add_arena(0, 4000);
    cache_add_arena(1000, 600);
    root_ = new platform::TestRoot;
    const std::vector<std::string> texts = {
        "apple pie with cherry tart",
        "new york city has many apple stores",
        "the running dogs was chasing cats",
        "1,000,000 dollars for an apple",
        "sweet cherry jam cake",
    };
    std::vector<Doc> docs;
    for (const std::string& t : texts) {
      Doc d;
      d.terms = query_testing::index_terms(t, english_);
      docs.push_back(d);
    }
    Doc fields;
    fields.terms = query_testing::index_terms("alpha.beta.gamma", english_, "site:", false, true);
    for (const std::string& t : query_testing::index_terms("foo", english_, "url:", true)) fields.terms.insert(t);
    const uint64_t pair = parse_checksum(kChecksum);
    fields.pairs.push_back({static_cast<uint32_t>(pair), static_cast<uint32_t>(pair >> 32)});
    docs.push_back(fields);
    Doc filler;
    std::string all;
    for (int i = 0; i < 90; ++i) all += filler_word(i) + " ";
    filler.terms = query_testing::index_terms(all, english_);
    docs.push_back(filler);
    path_ = root_->file("db");
    ASSERT_EQ(query_testing::write_database(path_, docs), 1);
    db_ = query_testing::open_query_db(path_);
    ASSERT_NE(db_, nullptr);
  }
  static void TearDownTestSuite() {
    if (db_) idbm_close(db_);
    db_ = nullptr;
    delete root_;
    root_ = nullptr;
    cache_release_arenas();
  }
  void SetUp() override {
    if (!english_.stemmer) GTEST_SKIP() << "no default English resource set";
    ASSERT_NE(db_, nullptr);
    baseline_pins_ = query_testing::pinned_slots();
  }
  void TearDown() override {
    areas_.reset();
    EXPECT_EQ(query_testing::pinned_slots(), baseline_pins_);
  }

  int parse(const std::string& query) {
    areas_.reset();
    return ParseQuery(db_, query.c_str(), english_, &areas_.buffers, &found_, &missing_);
  }
  const QueryTerm& term(int i) { return areas_.terms[i]; }
  std::string marks(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += term(i).mark;
    return out;
  }

  static zop_handle english_;
  static platform::TestRoot* root_;
  static std::string path_;
  static idbm_db* db_;
  ParseAreas areas_;
  int32_t found_ = 0, missing_ = 0;
  uint64_t baseline_pins_ = 0;
};

zop_handle QueryParserTest::english_;
platform::TestRoot* QueryParserTest::root_ = nullptr;
std::string QueryParserTest::path_;
idbm_db* QueryParserTest::db_ = nullptr;

TEST_F(QueryParserTest, MarksAndKeywords) {
  struct Case {
    const char* query;
    int stored;
    const char* marks;
  };
  const Case cases[] = {
      {"+apple -pie tart", 3, "+- "},
      {"apple AND pie", 2, "++"},
      {"apple OR pie", 2, "  "},
      {"apple NOT pie", 2, " -"},
      {"NOT -pie", 1, " "},
      {"AND apple", 1, "+"},              // no predecessor: the term alone becomes required
      {"zzqqunindexed AND apple", 0, ""}, // the predecessor is not indexed: no result
      {"+zzqqunindexed apple", 0, ""},    // a required term that is not indexed
      {"+zzqqunindexed OR apple", 1, " "},// unless an OR follows at once
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const int n = parse(c.query);
    EXPECT_EQ(n, c.stored);
    EXPECT_EQ(marks(n), c.marks);
    EXPECT_EQ(term(n).count, 0) << "the array ends with an empty record";
  }
}

TEST_F(QueryParserTest, EmptyAndPunctuationOnlyQueriesStoreNothing) {
  for (const char* q : {"", "   \t\n", ",.;:!?()[]", "\"", "\"\"", "+", "- + -"}) {
    SCOPED_TRACE(q);
    EXPECT_EQ(parse(q), 0);
    EXPECT_EQ(areas_.buffers.terms_used, 0);
    EXPECT_EQ(term(0).count, 0);
  }
}

TEST_F(QueryParserTest, FieldsChecksumsAndNumbers) {
  ASSERT_EQ(parse("site:alpha.beta.gamma"), 1);
  EXPECT_STREQ(term(0).term, "site:alpha.beta.gamma");
  EXPECT_STREQ(term(0).field, "site:");
  EXPECT_NE(term(0).record, nullptr);

  ASSERT_EQ(parse("url:foo bar"), 1);  // "bar" is not indexed
  EXPECT_STREQ(term(0).term, "url:foo");
  EXPECT_EQ(missing_, 1);

  const std::string sum = kChecksum;
  ASSERT_EQ(parse("checksum:" + sum), 1);
  EXPECT_NE(term(0).record, nullptr);
  EXPECT_EQ(term(0).hash1, static_cast<uint32_t>(parse_checksum(kChecksum)));
  for (const std::string& bad : {sum.substr(0, 15), sum + "0", std::string("8123456701234567")}) {
    SCOPED_TRACE(bad);
    // Not indexed; the rest of the query is still parsed.
    ASSERT_EQ(parse("checksum:" + bad + " apple"), 1);
    EXPECT_STREQ(term(0).source, "apple");
    EXPECT_EQ(missing_, 1);
  }

  ASSERT_GE(parse("1,000,000 dollars"), 2);
  EXPECT_STREQ(term(0).source, "1,000,000");
  EXPECT_NE(term(0).record, nullptr);
}

TEST_F(QueryParserTest, QuotedPhrases) {
  // Two words that form one phrase: one term.
  ASSERT_EQ(parse("\"cherry tart\""), 1);
  EXPECT_EQ(term(0).count, 1);
  EXPECT_STREQ(term(0).source, "\"cherry tart\"");
  EXPECT_NE(term(0).record, nullptr);
  // A single word forms none: its stem stands for it.
  ASSERT_EQ(parse("\"apples\""), 1);
  EXPECT_EQ(term(0).count, 1);
  EXPECT_EQ(term(0).phrases, 0);
  EXPECT_STREQ(term(0).display, "\"apples\"");

  // Two phrase terms each get their own elements.
  ASSERT_EQ(parse("\"apple pie with cherry\" +\"sweet cherry jam\""), 2);
  const QueryTerm& a = term(0);
  const QueryTerm& b = term(1);
  ASSERT_GE(a.count, 2);
  ASSERT_GE(b.count, 2);
  EXPECT_GE(b.elements, a.elements + a.count + 1) << "elements overlap";
  for (int i = 0; i < b.count; ++i) {
    EXPECT_EQ(b.elements[i].mark, '+');
    EXPECT_NE(b.elements[i].record, nullptr);
  }
  EXPECT_EQ(b.elements[b.count].count, 0);
  EXPECT_EQ(a.elements[a.count].count, 0);
  EXPECT_EQ(b.display[0], '+');

  // A required phrase whose element is not indexed matches nothing.
  EXPECT_EQ(parse("+\"apple zzqqnothing\" cherry"), 0);
}

TEST_F(QueryParserTest, InferredPhrasesAndNounPhrases) {
  // Four plain words: their terms and one inferred phrase.
  int n = parse("apple pie cherry tart");
  ASSERT_EQ(n, 5);
  const QueryTerm& inferred = term(4);
  EXPECT_EQ(inferred.mark, ' ');
  ASSERT_GE(inferred.count, 2);
  for (int i = 0; i < inferred.count - 1; ++i) EXPECT_EQ(inferred.elements[i].mark, '+');
  EXPECT_EQ(inferred.elements[inferred.count - 1].mark, ' ');
  EXPECT_STREQ(inferred.display, "apple pie...");

  // Five words ask the language for noun phrases, with the room left.
  static int calls;
  static size_t room;
  static std::string text;
  calls = 0;
  LingCalls saved = ling_calls;
  ling_calls.get_phrases = [](const char* t, char* out, size_t size, zop_handle h) {
    ++calls;
    room = size;
    text = t;
    return ling_calls_default.get_phrases(t, out, size, h);
  };
  n = parse("apple pie cherry tart cake");
  ling_calls = saved;
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(text, "apple pie cherry tart cake");
  // The room left after the query's own strings, not the whole area.
  EXPECT_LT(room, static_cast<size_t>(kQueryTextBytes));
  EXPECT_GT(room, static_cast<size_t>(kQueryTextBytes - 1000));
  EXPECT_GE(n, 5);

  // A marked query infers nothing.
  EXPECT_EQ(parse("+apple pie"), 2);
}

TEST_F(QueryParserTest, LeadingStopWordsSkipByTheirSourceLength) {
  // "was" is a stop word whose stem is shorter than the word: the phrase
  // text starts after the word itself.
  const int n = parse("was running dogs");
  ASSERT_EQ(n, 4);
  EXPECT_EQ(term(0).stop, 1);
  EXPECT_STRNE(term(0).term, "was");
  EXPECT_STREQ(term(3).source, " running dogs");
  EXPECT_EQ(term(3).count, 1);  // one phrase
}

TEST_F(QueryParserTest, SeventyNineTermsStopAtTheQueryLimit) {
  std::string q;
  for (int i = 0; i < 85; ++i) q += filler_word(i) + " ";
  LogCapture log(4);
  EXPECT_EQ(parse(q), 79);
  EXPECT_EQ(areas_.buffers.terms_used, 79);
  EXPECT_EQ(term(79).count, 0);
  EXPECT_STREQ(term(78).source, filler_word(78).c_str());
  EXPECT_TRUE(log.contains("ParseQuery: exceeded query limit: kqaa")) << log.all();
}

TEST_F(QueryParserTest, SmallAreasEndTheParseWithTheirMessages) {
  LogCapture log(4);
  areas_.reset();
  areas_.buffers.text_room = 20;
  EXPECT_LE(ParseQuery(db_, "apple cherry tart pie cake", english_, &areas_.buffers, &found_, &missing_), 2);
  EXPECT_LE(areas_.buffers.text_used, 20);
  EXPECT_TRUE(log.contains("out of buffer space")) << log.all();

  areas_.reset();
  areas_.buffers.element_room = 5;
  ParseQuery(db_, "apple cherry tart pie", english_, &areas_.buffers, &found_, &missing_);
  EXPECT_LE(areas_.buffers.elements_used, 5);
  EXPECT_TRUE(log.contains("ParseQuery: out of phrase space: apple cherry tart pie")) << log.all();
}

TEST(CopySpan, TwoWordsAndTheRoom) {
  char out[32];
  EXPECT_EQ(copy_span(out, sizeof out, " new york city") - out, 12);
  EXPECT_STREQ(out, "new york...");
  copy_span(out, sizeof out, "two words");
  EXPECT_STREQ(out, "two words");
  char small[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(copy_span(small, 5, "abcdef ghij klm"), small + 5);
  EXPECT_STREQ(small, "abcd");
  EXPECT_EQ(small[5], 'x');
  EXPECT_EQ(copy_span(small, 0, "a"), nullptr);
}

// Random and mutated queries up to 2,033 bytes, with a phrase extractor that
// fills whatever room it is given with 256 long groups: nothing may be
// written past an area (the areas are exact heap blocks, so that the
// address sanitizer sees any overrun).
TEST_F(QueryParserTest, FuzzStaysInsideTheAreas) {
  LingCalls saved = ling_calls;
  static int calls;
  calls = 0;
  ling_calls.get_phrases = [](const char*, char* out, size_t size, zop_handle) {
    ++calls;
    char* p = out;
    char* end = out + size;
    for (int g = 0; g < 256; ++g) {
      std::string group = "apple pie cherry tart " + std::to_string(g) + std::string(150, 'q');
      if (static_cast<size_t>(end - p) < group.size() + 1) break;
      memcpy(p, group.c_str(), group.size() + 1);
      p += group.size() + 1;
    }
    return p;
  };
  const std::vector<std::string> seeds = {"apple pie cherry tart cake jam", "+\"apple pie\" -cherry OR tart",
                                          "site:alpha.beta.gamma url:foo checksum:0123456701234567",
                                          "1,000,000 dollars AND NOT \"sweet cherry\"", "a,b,c;d.e"};
  const char alphabet[] = "apleirtchy +-\"',.:;|ANDORTN01 \t\n";
  std::mt19937 rng(24);
  for (int round = 0; round < 400; ++round) {
    std::string q;
    if (round % 4 == 2) {
      // Plain words only: the parse asks for noun phrases.
      const int k = 1 + static_cast<int>(rng() % 12);
      for (int i = 0; i < k; ++i) q += "apple pie cherry tart cake jam ";
    } else if (round % 2) {
      const size_t n = rng() % 2034;
      for (size_t i = 0; i < n; ++i) q += alphabet[rng() % (sizeof alphabet - 1)];
    } else {
      q = seeds[rng() % seeds.size()];
      while (q.size() < 1500) q += " " + seeds[rng() % seeds.size()];
      for (int k = 0; k < 30; ++k) q[rng() % q.size()] = alphabet[rng() % (sizeof alphabet - 1)];
      q.resize(std::min<size_t>(q.size(), 2033));
    }
    std::vector<char> text(kQueryTextBytes);
    std::vector<QueryTerm> terms(kQueryTermSlots), elements(kQueryElementSlots);
    TermPinScope pins;
    QueryBuffers b{};
    b.text_base = b.text_position = text.data();
    b.text_size = b.text_room = kQueryTextBytes;
    b.term_base = b.term_position = terms.data();
    b.term_capacity = b.term_room = kQueryTermSlots;
    b.element_base = b.element_position = elements.data();
    b.element_capacity = b.element_room = kQueryElementSlots;
    b.pins = pins.get();
    const int n = ParseQuery(db_, q.c_str(), english_, &b, &found_, &missing_);
    ASSERT_LE(n, kQueryTermSlots - 1);
    ASSERT_LE(b.text_used, kQueryTextBytes);
    ASSERT_LE(b.elements_used, kQueryElementSlots);
    for (int i = 0; i < n; ++i) {
      const QueryTerm& t = terms[i];
      ASSERT_GT(t.count, 0);
      if (t.elements) {
        ASSERT_GE(t.elements, elements.data());
        ASSERT_LE(t.elements + t.count, elements.data() + kQueryElementSlots - 1);
      }
    }
  }
  ling_calls = saved;
  EXPECT_GE(calls, 100);
}

}  // namespace
}  // namespace vorlane::engine
