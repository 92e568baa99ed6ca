#include "linguistics/zop/tagger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "linguistics/fst/dictionary.h"
#include "linguistics/fst/symbol_classes.h"
#include "linguistics/zop/hmm_model.h"
#include "linguistics/testing/zop_test_fixtures.h"
#include "platform/testing/test_root.h"
#include "tools/zop/hmm_writer.h"

namespace vorlane {
namespace {

using zop_test::FsmPtr;

// Tags by number.
enum : int32_t { DT, NN, VB, VBZ, NNS, JJ, NNP };
const std::vector<std::string> kTags = {"DT", "NN", "VB", "VBZ", "NNS", "JJ", "NNP"};

// The class lexicon: words and their tags ("__mwt" marks the first word of
// a multi-word token).
fstw::FileDesc clg_desc() {
  std::vector<fstw::WordClasses> words = {
      {"the", {"DT"}},       {"dog", {"NN"}},           {"runs", {"NNS", "VBZ"}}, {"run", {"NN", "VB"}},
      {"fast", {"JJ", "NN"}}, {"odd", {"NN", "VB", "JJ"}}, {"New", {"__mwt", "JJ"}}, {"New York", {"NNP"}},
      {"of", {"DT"}},         {"USA", {"NNP"}},          {"nn", {"NN"}},           {"vb", {"VB"}},
  };
  fstw::PairOptions options;
  options.functions = {60, 61};
  fstw::FileDesc desc;
  std::string error;
  EXPECT_TRUE(fstw::compile_classes(words, options, &desc, &error)) << error;
  return desc;
}

// The model: class 0 [NN] (no codes), 1 [DT], 2 [NN][VB], 3 [NNS][VBZ],
// 4 [JJ][NN], 5 [NNP].
zopw::HmmDesc model_desc() {
  zopw::HmmDesc m;
  m.tags = kTags;
  m.classes = {{"[NN]", {{NN, -1}}},
               {"[DT]", {{DT, -1}}},
               {"[NN][VB]", {{NN, -2}, {VB, -3}}},
               {"[NNS][VBZ]", {{VBZ, -2}, {NNS, -2}}},
               {"[JJ][NN]", {{NN, -3}, {JJ, -1}}},
               {"[NNP]", {{NNP, -1}}}};
  // Sorted members: class 3 lists VBZ (3) before NNS (4).
  m.initial = {-1, -4, -6, -9, -9, -4, -3};
  const int32_t x = -20;
  // rows[t][p]: transition from p to t.
  m.rows = {
      /*DT*/ {x, -10, -10, -5, -5, x, -8},
      /*NN*/ {-1, -6, -4, -4, -4, -1, -5},
      /*VB*/ {-9, -2, x, x, -3, -7, -2},
      /*VBZ*/ {-9, -1, x, x, x, -8, -1},
      /*NNS*/ {-4, -5, -6, -6, -6, -2, -5},
      /*JJ*/ {-2, -6, -3, -3, -4, -3, -6},
      /*NNP*/ {-3, -6, -3, -3, -3, -3, -2},
  };
  return m;
}

class TaggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clg_ = zop_test::load_desc(clg_desc());
    write_model(model_desc());
    hmm_ = hmm_open(path().c_str(), clg_.get());
    ASSERT_EQ(fst_status(hmm_), 0);
    buffer_ = tagger_buffer_create_titled(64, 256, hmm_);
    ASSERT_EQ(fst_status(buffer_), 0);
  }
  void TearDown() override {
    tagger_buffer_free_titled(buffer_);
    hmm_close(hmm_);
  }
  std::string path() const { return root_.file("m.hmm"); }
  void write_model(const zopw::HmmDesc& desc) {
    std::string error;
    ASSERT_TRUE(zopw::hmm_write_file(path(), desc, &error)) << error;
  }
  void write_bytes(const std::vector<uint8_t>& image) {
    std::ofstream f(path(), std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }
  int32_t open_status() {
    void* h = hmm_open(path().c_str(), clg_.get());
    int32_t s = fst_status(h);
    hmm_close(h);
    return s;
  }
  std::vector<std::string> tag(const std::vector<std::string>& tokens, int32_t flags, int32_t* rc = nullptr) {
    std::string joined;
    for (const auto& t : tokens) joined += t + '\0';
    char out[512];
    const void* title = static_cast<TaggerBuffer*>(buffer_)->title;
    int32_t n = tag_sentence(joined.data(), static_cast<int32_t>(tokens.size()), out, sizeof out, flags, hmm_,
                             buffer_, title, nullptr);
    if (rc) *rc = n;
    std::vector<std::string> tags;
    const char* p = out;
    for (int32_t i = 0; i < n; ++i, p += std::strlen(p) + 1) tags.emplace_back(p);
    return tags;
  }
  const Hmm* hmm() const { return static_cast<const Hmm*>(hmm_); }
  // The class the model gives a set of tag names.
  int32_t class_of(const std::vector<std::string>& tags) {
    std::vector<uint16_t> codes;
    for (const auto& t : tags) codes.push_back(hmm_symbol_number(fst_tag_code(hmm()->clg, t.c_str(), t.size())));
    return hmm_class_of(hmm(), codes.data(), static_cast<int32_t>(codes.size()));
  }

  platform::TestRoot root_;
  FsmPtr clg_;
  void* hmm_ = nullptr;
  void* buffer_ = nullptr;
};

TEST_F(TaggerTest, ModelIsRead) {
  EXPECT_EQ(hmm()->ntag, 7);
  EXPECT_EQ(hmm()->nclass, 6);
  EXPECT_EQ(hmm()->width, 2);
  EXPECT_EQ(hmm()->tag_symbols, 9);
  // Class entries hold only the tags their strings name: no tag-separator
  // or end-symbol codes from the encoding.
  const uint16_t vbz_n = hmm_symbol_number(fst_tag_code(hmm()->clg, "VBZ", 3));
  const uint16_t nns_n = hmm_symbol_number(fst_tag_code(hmm()->clg, "NNS", 3));
  const std::vector<uint16_t> class3 = {std::min(vbz_n, nns_n), std::max(vbz_n, nns_n)};
  EXPECT_EQ(hmm()->entries[3].codes, class3);
  EXPECT_EQ(hmm()->entries[0].codes.size(), 1u);
  EXPECT_EQ(class_of({"NNS", "VBZ"}), 3);
  EXPECT_EQ(class_of({"VBZ", "NNS", "VBZ"}), 3);
  EXPECT_EQ(class_of({"__mwt", "NNP"}), 5);  // the multi-word tag is not part of a class
  EXPECT_EQ(class_of({}), 0);
  // Nearest class: {NN, NNP} scores 4-3 = 1 against [NN] and [NNP], -2-3-3
  // against the others... the tie goes to the entry met first in chain order.
  int32_t nearest = class_of({"NN", "NNP"});
  uint16_t nn = hmm_symbol_number(fst_tag_code(hmm()->clg, "NN", 2));
  uint16_t nnp = hmm_symbol_number(fst_tag_code(hmm()->clg, "NNP", 3));
  uint32_t h0 = hmm_class_hash(&nn, 1) % kHmmChains, h5 = hmm_class_hash(&nnp, 1) % kHmmChains;
  EXPECT_EQ(nearest, h0 < h5 ? 0 : (h5 < h0 ? 5 : 5));
  // {NN, VB, JJ}: [NN][VB] and [JJ][NN] both score 4+4-3 = 5.
  uint16_t vb = hmm_symbol_number(fst_tag_code(hmm()->clg, "VB", 2));
  uint16_t jj = hmm_symbol_number(fst_tag_code(hmm()->clg, "JJ", 2));
  std::vector<uint16_t> c2 = {nn, vb}, c4 = {nn, jj};
  std::sort(c2.begin(), c2.end());
  std::sort(c4.begin(), c4.end());
  uint32_t h2 = hmm_class_hash(c2.data(), 2) % kHmmChains, h4 = hmm_class_hash(c4.data(), 2) % kHmmChains;
  EXPECT_EQ(class_of({"NN", "VB", "JJ"}), h2 < h4 ? 2 : 4);
  EXPECT_EQ(class_of({"VB"}), 2);  // 4 - 2 against [NN][VB] beats -2 - 3 elsewhere
}

TEST_F(TaggerTest, AddRule) {
  struct Case {
    int32_t a, b, sum;
  };
  const Case cases[] = {{-1, -2, -3},
                        {-5, 0, -5},
                        {0, 0, INT32_MIN},
                        {5, -3, INT32_MIN},
                        {INT32_MIN, -1, INT32_MIN},      // wraps to a positive sum
                        {INT32_MIN, INT32_MIN, INT32_MIN},
                        {INT32_MAX, INT32_MAX, -2},      // wraps to a negative sum
                        {-1073741824, -1073741824, INT32_MIN}};
  for (const Case& c : cases) EXPECT_EQ(hmm_add(c.a, c.b), c.sum) << c.a << " + " << c.b;
}

TEST_F(TaggerTest, HandComputedLattices) {
  // One word: class [NN][VB]: NN -4-2 = -6, VB -6-3 = -9: NN.
  EXPECT_EQ(tag({"run"}, 1), (std::vector<std::string>{"NN"}));
  // "the runs": DT -2; VBZ: -2 + (-9) - 2 = -13; NNS: -2 + (-4) - 2 = -8: NNS.
  EXPECT_EQ(tag({"the", "runs"}, 1), (std::vector<std::string>{"DT", "NNS"}));
  // "dog runs": NN -5; VBZ: -5-1-2 = -8; NNS: -5-5-2 = -12: VBZ.
  EXPECT_EQ(tag({"dog", "runs"}, 1), (std::vector<std::string>{"NN", "VBZ"}));
  // "the fast run": DT -2; fast: NN -2-1-3 = -6, JJ -2-2-1 = -5;
  // run: NN max(-6-6, -5-1) - 2 = -8, VB max(-6-2, -5-7) - 3 = -11: JJ NN.
  EXPECT_EQ(tag({"the", "fast", "run"}, 1), (std::vector<std::string>{"DT", "JJ", "NN"}));
  // "run run": NN -6, VB -9; second NN: max(-6-6, -9-4) - 2 = -14;
  // VB: max(-6-2, -9-20) - 3 = -11: NN VB.
  EXPECT_EQ(tag({"run", "run"}, 1), (std::vector<std::string>{"NN", "VB"}));
}

TEST_F(TaggerTest, TiesTakeTheFirst) {
  zopw::HmmDesc m = model_desc();
  m.initial = std::vector<int32_t>(7, -1);
  for (auto& row : m.rows) row.assign(7, -1);
  for (auto& c : m.classes) {
    for (auto& member : c.members) member.second = -1;
  }
  write_model(m);
  void* h = hmm_open(path().c_str(), clg_.get());
  ASSERT_EQ(fst_status(h), 0);
  void* b = tagger_buffer_create(8, 64, h);
  char out[64];
  // Every path scores the same: the first member at the end, and the first
  // member of the previous word as back-pointer.
  std::string tokens = std::string("runs") + '\0' + "run" + '\0';
  ASSERT_EQ(tag_sentence(tokens.data(), 2, out, sizeof out, 1, h, b, nullptr, nullptr), 2);
  EXPECT_STREQ(out, "VBZ");
  EXPECT_STREQ(out + 4, "NN");
  tagger_buffer_free(b);
  hmm_close(h);
}

TEST_F(TaggerTest, TruncatedRowsStopTheScan) {
  // VB's row only covers DT and NN: after "runs" (VBZ, NNS) no previous
  // member fits, so VB scores from the lowest score and loses to NN.
  zopw::HmmDesc m = model_desc();
  m.rows[VB] = {-1, -1};
  write_model(m);
  void* h = hmm_open(path().c_str(), clg_.get());
  ASSERT_EQ(fst_status(h), 0);
  void* b = tagger_buffer_create(8, 64, h);
  char out[64];
  std::string tokens = std::string("runs") + '\0' + "run" + '\0';
  ASSERT_EQ(tag_sentence(tokens.data(), 2, out, sizeof out, 1, h, b, nullptr, nullptr), 2);
  EXPECT_STREQ(out + std::strlen(out) + 1, "NN");
  tagger_buffer_free(b);
  hmm_close(h);
}

TEST_F(TaggerTest, ViterbiMatchesExhaustiveSearch) {
  std::mt19937 rng(7);
  const std::vector<std::string> words = {"the", "dog", "runs", "run", "fast", "odd"};
  for (int round = 0; round < 40; ++round) {
    zopw::HmmDesc m = model_desc();
    auto score = [&] { return -static_cast<int32_t>(rng() % 1000000) - 1; };
    for (auto& v : m.initial) v = score();
    for (auto& row : m.rows) {
      for (auto& v : row) v = score();
    }
    for (auto& c : m.classes) {
      for (auto& member : c.members) member.second = score();
    }
    write_model(m);
    void* h = hmm_open(path().c_str(), clg_.get());
    ASSERT_EQ(fst_status(h), 0);
    void* b = tagger_buffer_create(8, 64, h);
    std::vector<std::string> sentence;
    for (int i = 0; i < 3; ++i) sentence.push_back(words[rng() % words.size()]);
    std::string joined;
    for (const auto& w : sentence) joined += w + '\0';
    char out[64];
    ASSERT_EQ(tag_sentence(joined.data(), 3, out, sizeof out, 4, h, b, nullptr, nullptr), 3);
    // Exhaustive: every tag path through the words' classes.
    const Hmm* model = static_cast<const Hmm*>(h);
    std::vector<const HmmClass*> cls;
    for (int i = 0; i < 3; ++i) {
      cls.push_back(&model->classes[static_cast<TaggerBuffer*>(b)->word_class[i]]);
    }
    int64_t best = INT64_MIN;
    std::vector<int> best_path;
    for (size_t a = 0; a < cls[0]->tags.size(); ++a) {
      for (size_t c1 = 0; c1 < cls[1]->tags.size(); ++c1) {
        for (size_t c2 = 0; c2 < cls[2]->tags.size(); ++c2) {
          int t0 = cls[0]->tags[a], t1 = cls[1]->tags[c1], t2 = cls[2]->tags[c2];
          int64_t s = int64_t{model->initial[t0]} + cls[0]->emit[a] + model->rows[t1][t0] + cls[1]->emit[c1] +
                      model->rows[t2][t1] + cls[2]->emit[c2];
          if (s > best) best = s, best_path = {t0, t1, t2};
        }
      }
    }
    const char* p = out;
    for (int i = 0; i < 3; ++i, p += std::strlen(p) + 1) EXPECT_EQ(p, kTags[best_path[i]]) << round << " " << i;
    tagger_buffer_free(b);
    hmm_close(h);
  }
}

TEST_F(TaggerTest, CaseVariantsAndTitleMode) {
  // A capitalised first word is also looked up lowered.
  EXPECT_EQ(tag({"The", "dog"}, 1), (std::vector<std::string>{"DT", "NN"}));
  // Later capitalised words are not (Runs is unknown: class 0, NN).
  EXPECT_EQ(tag({"the", "Runs"}, 1), (std::vector<std::string>{"DT", "NN"}));
  // Title mode lowers them.
  EXPECT_EQ(tag({"the", "Runs"}, 2), (std::vector<std::string>{"DT", "NNS"}));
  // Flags 1 and 2: title mode holds when no later word is lower case, or
  // only title words are.
  EXPECT_EQ(tag({"The", "Dog", "Runs"}, 3), (std::vector<std::string>{"DT", "NN", "VBZ"}));
  EXPECT_EQ(tag({"The", "Dog", "of", "Runs"}, 3), (std::vector<std::string>{"DT", "NN", "DT", "NNS"}));
  EXPECT_EQ(tag({"The", "dog", "Runs"}, 3), (std::vector<std::string>{"DT", "NN", "NN"}));
  // All capitals: the letters after the first are lowered ("DOG" to "Dog",
  // then at the sentence start "dog"); an initialism is left alone.
  EXPECT_EQ(tag({"DOG", "RUNS"}, 1)[0], "NN");
  EXPECT_EQ(tag({"the", "USA"}, 1), (std::vector<std::string>{"DT", "NNP"}));
  // Lower-case mode raises the first letter: "new york" finds "New York".
  EXPECT_EQ(tag({"new", "york"}, 4 | 8), (std::vector<std::string>{"__mwt", "NNP"}));
}

TEST_F(TaggerTest, MultiWordTokensAndBlanks) {
  EXPECT_EQ(tag({"New", "York", "runs"}, 1 | 8), (std::vector<std::string>{"__mwt", "NNP", "VBZ"}));
  EXPECT_EQ(tag({"New", " ", "York"}, 1 | 8), (std::vector<std::string>{"__mwt", "", "NNP"}));
  // Without flag 8 New is a word of its own (JJ).
  EXPECT_EQ(tag({"New", "York"}, 1), (std::vector<std::string>{"JJ", "NN"}));
  // New without York: the one-token answer holds a real tag.
  EXPECT_EQ(tag({"New", "dog"}, 1 | 8), (std::vector<std::string>{"JJ", "NN"}));
  EXPECT_EQ(tag({"", "dog", "\t"}, 1), (std::vector<std::string>{"", "NN", ""}));
  EXPECT_EQ(static_cast<TaggerBuffer*>(buffer_)->words, 1);
}

TEST_F(TaggerTest, Errors) {
  int32_t rc = 0;
  tag({"dog"}, 8, &rc);
  EXPECT_EQ(rc, -11);
  tag({}, 1, &rc);
  EXPECT_EQ(rc, 0);
  std::vector<std::string> many(65, "dog");
  tag(many, 1, &rc);
  EXPECT_EQ(rc, -19);
  char out[4];
  EXPECT_EQ(tag_sentence("dog", 1, out, 2, 1, hmm_, buffer_, nullptr, nullptr), -12);
  EXPECT_EQ(tag_sentence(nullptr, 1, out, 4, 1, hmm_, buffer_, nullptr, nullptr), -28);
  EXPECT_EQ(tag_sentence("dog", -1, out, 4, 1, hmm_, buffer_, nullptr, nullptr), -8);
  // A candidate longer than the buffer's text room: -20.
  void* small = tagger_buffer_create(1, 1, hmm_);
  EXPECT_EQ(tag_sentence("dogs", 1, out, 4, 1, hmm_, small, nullptr, nullptr), -20);
  tagger_buffer_free(small);
  EXPECT_EQ(fst_status(tagger_buffer_create(-1, 1, hmm_)), -8);
  EXPECT_EQ(fst_status(tagger_buffer_create(1, 1, nullptr)), -28);
  EXPECT_EQ(fst_status(tagger_buffer_create(1, 1, fst_error_handle(-25))), -25);
  EXPECT_EQ(fst_status(tagger_buffer_create(100001, 1, hmm_)), -3);
  // The list form.
  char list[64];
  std::string tokens = std::string("the") + '\0' + "dog" + '\0' + '\0';
  ASSERT_EQ(tag_sentence_list(tokens.data(), list, sizeof list, buffer_, 128, hmm_), 2);
  EXPECT_EQ(std::string(list, 8), std::string("DT\0NN\0\0", 7) + '\0');
  EXPECT_EQ(tag_sentence_list(tokens.data(), list, 6, buffer_, 1, hmm_), -12);
  EXPECT_EQ(tag_sentence_list(tokens.data(), list, sizeof list, buffer_, 8 | 1, hmm_), -11);
  EXPECT_EQ(tag_sentence_list(tokens.data(), list, sizeof list, buffer_, 3, hmm_), -11);
}

TEST_F(TaggerTest, MalformedModels) {
  const std::vector<uint8_t> good = zopw::hmm_image(model_desc());
  // Every cut of the file is refused as damaged.
  for (size_t len = 0; len < good.size(); ++len) {
    write_bytes(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(len)));
    ASSERT_EQ(open_status(), -2) << "cut at " << len;
  }
  struct Case {
    const char* name;
    void (*mutate)(zopw::HmmDesc*);
    int32_t code;
  };
  const Case cases[] = {
      {"file type", [](zopw::HmmDesc* m) { m->file_type = 13; }, -2},
      {"language", [](zopw::HmmDesc* m) { m->language = 3; }, -25},
      {"version", [](zopw::HmmDesc* m) { m->version = "1.1"; }, -25},
      {"version line too long", [](zopw::HmmDesc* m) { m->version = std::string(32, 'v'); }, -2},
      {"repeated tag count", [](zopw::HmmDesc* m) { m->repeated_ntag = 6; }, -2},
      {"no tags", [](zopw::HmmDesc* m) { m->tags.clear(); }, -2},
      {"width as end of file", [](zopw::HmmDesc* m) { m->width = 0x7FFFFFFF; }, -2},
      {"class wider than W", [](zopw::HmmDesc* m) { m->width = 1; }, -2},
      {"tag number out of range", [](zopw::HmmDesc* m) { m->classes[1].members[0].first = 7; }, -2},
      {"negative tag number", [](zopw::HmmDesc* m) { m->classes[1].members[0].first = -1; }, -2},
      {"tags not ascending", [](zopw::HmmDesc* m) { std::swap(m->classes[2].members[0], m->classes[2].members[1]); }, -2},
      {"row longer than Ntag", [](zopw::HmmDesc* m) { m->rows[2].push_back(-1); }, -2},
      {"duplicate class", [](zopw::HmmDesc* m) { m->classes[2].symbols = "[VB][NN]"; m->classes[3].symbols = "[NN][VB]"; }, -2},
      {"unknown tag in a class", [](zopw::HmmDesc* m) { m->classes[5].symbols = "[XYZ]"; }, -2},
      {"empty class text", [](zopw::HmmDesc* m) { m->classes[5].symbols = "[__mwt]"; }, -2},
      {"class longer than 255", [](zopw::HmmDesc* m) { m->classes[5].symbols = "[NNP]" + std::string(251, 'a'); }, -2},
  };
  for (const Case& c : cases) {
    zopw::HmmDesc m = model_desc();
    c.mutate(&m);
    write_model(m);
    EXPECT_EQ(open_status(), c.code) << c.name;
  }
  // More class strings than Nclass: the class count field says 5.
  std::vector<uint8_t> image = good;
  size_t at = 12 + 4 + std::string("vorlane tagger model").size() + 1 + 12;
  ASSERT_EQ(image[at], 6);
  image[at] = 5;
  write_bytes(image);
  EXPECT_EQ(open_status(), -3);
  // Tag and class counts out of range: 32,768 tags, -1 classes.
  image = good;
  image[at - 4] = 0x00;
  image[at - 3] = 0x80;
  write_bytes(image);
  EXPECT_EQ(open_status(), -2);
  image = good;
  for (size_t k = 0; k < 4; ++k) image[at + k] = 0xFF;
  write_bytes(image);
  EXPECT_EQ(open_status(), -2);
  // A member count above 255 (with a lattice as wide), and a lattice too wide.
  zopw::HmmDesc m = model_desc();
  m.width = 32768;
  write_model(m);
  EXPECT_EQ(open_status(), -2);
  m.width = 300;
  for (int i = 0; i < 256; ++i) m.classes[0].members.push_back({NN, -1});
  write_model(m);
  EXPECT_EQ(open_status(), -2);

  // A CLG whose version text does not fit 32 bytes; one whose version the
  // model names.
  fstw::FileDesc long_version = clg_desc();
  long_version.version = std::string(20, '1') + "." + std::string(20, '2') + "\r";
  FsmPtr clg_long = zop_test::load_desc(long_version);
  write_model(model_desc());
  EXPECT_EQ(fst_status(hmm_open(path().c_str(), clg_long.get())), -12);
  fstw::FileDesc versioned = clg_desc();
  versioned.version = "2.5\r";
  FsmPtr clg_25 = zop_test::load_desc(versioned);
  EXPECT_EQ(fst_status(hmm_open(path().c_str(), clg_25.get())), -25);
  zopw::HmmDesc m25 = model_desc();
  m25.version = "2.5";
  write_model(m25);
  void* h25 = hmm_open(path().c_str(), clg_25.get());
  EXPECT_EQ(fst_status(h25), 0);
  hmm_close(h25);

  write_model(model_desc());
  EXPECT_EQ(fst_status(hmm_open(root_.file("missing.hmm").c_str(), clg_.get())), -1);
  EXPECT_EQ(fst_status(hmm_open(nullptr, clg_.get())), -28);
  EXPECT_EQ(fst_status(hmm_open(path().c_str(), fst_error_handle(-2))), -5);
  FsmPtr tok = zop_test::load_desc(zop_test::pair_desc({{"a", "a"}}, {28}));
  EXPECT_EQ(fst_status(hmm_open(path().c_str(), tok.get())), -11);
  hmm_close(nullptr);
  hmm_close(fst_error_handle(-3));
}

}  // namespace
}  // namespace vorlane
