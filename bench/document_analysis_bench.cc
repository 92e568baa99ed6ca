// Throughput of document analysis on real English text (the licence texts of
// /usr/share/common-licenses, or the files named in VORLANE_TEXT_CORPUS,
// separated by ':'):
//   - conflate_text: MB/s of text through the token passes, the phrase and
//     word writers and the conflation tables (words, phrases and both
//     variants), with the default English resource set of build/resources
//     (or VORLANE_ENGLISH; the tests' small set when neither exists);
//   - classification: documents per second through classify_doc's engine
//     work (a title and a body field cut at blanks and matched against 1,000
//     rules, then the fired topics), the documents being the corpus's
//     paragraphs.
//   build/bin/document_analysis_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/document/classify_table.h"
#include "engine/document/conflate.h"
#include "engine/analysis/ling_calls.h"
#include "engine/analysis/stopwords.h"
#include "engine/testing/test_language.h"
#include "store/log.h"

namespace {

namespace fs = std::filesystem;
using namespace vorlane;
using namespace vorlane::engine;

const std::vector<std::string>& corpus() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> out;
    std::vector<fs::path> files;
    if (const char* env = getenv("VORLANE_TEXT_CORPUS")) {
      std::stringstream in(env);
      for (std::string f; std::getline(in, f, ':');) files.emplace_back(f);
    } else {
      std::error_code ec;
      for (const auto& e : fs::directory_iterator("/usr/share/common-licenses", ec))
        if (e.is_regular_file()) files.push_back(e.path());
    }
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      if (!ss.str().empty()) out.push_back(ss.str());
    }
    return out;
  }();
  return texts;
}

const zop_handle& english() {
  static const zop_handle h = [] {
    zop_handle h;
    std::string path;
    const std::string built = std::string(VORLANE_ENGLISH_DIR) + "/english";
    if (const char* env = getenv("VORLANE_ENGLISH")) {
      path = env;
    } else if (fs::exists(built + ".hmm")) {
      path = built;
    } else {
      path = (fs::temp_directory_path() / "vorlane-bench-language").string();
      std::string error;
      if (!write_test_language(path, &error)) fprintf(stderr, "document_analysis_bench: %s\n", error.c_str());
    }
    if (!ling_calls.lang_init(&h, path.c_str()))
      fprintf(stderr, "document_analysis_bench: can't load %s\n", path.c_str());
    const char* stop[] = {"a", "an", "and", "are", "as", "at", "be", "by", "for", "from", "in", "is", "it", "of",
                          "on", "or", "that", "the", "this", "to", "with", nullptr};
    BuildStopWordTable(h, stop);
    return h;
  }();
  return h;
}

void BM_ConflateText(benchmark::State& state) {
  const ConflateFlags flags{1, 1, 1, static_cast<int>(state.range(0)), 1, 1};
  std::unique_ptr<char[]> list(new char[kConflateListSize]);
  size_t bytes = 0, written = 0;
  for (auto _ : state) {
    for (const std::string& text : corpus()) {
      // As the method does: an area of its own per call, not cleared.
      const size_t size = conflate_text_output_size(text.size());
      std::unique_ptr<char[]> out(new char[size]);
      written += conflate_text_write(text.data(), text.size(), flags, english(), out.get(), size, list.get(),
                                     kConflateListSize);
      bytes += std::min(text.size(), kConflateTextMax);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["out_per_in"] = static_cast<double>(written) / static_cast<double>(bytes ? bytes : 1);
}
BENCHMARK(BM_ConflateText)->Arg(0)->Arg(1)->ArgNames({"stems"})->Unit(benchmark::kMillisecond);

// Lower-cased words of a text.
std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> out;
  std::string w;
  for (unsigned char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      w += static_cast<char>(c | 0x20);
    } else if (!w.empty()) {
      out.push_back(w);
      w.clear();
    }
  }
  if (!w.empty()) out.push_back(w);
  return out;
}

struct Document {
  std::string title;
  std::string body;
};

// The corpus's paragraphs as documents, their first line the title, their
// words lower-cased and blank-separated as a script's fields would be.
const std::vector<Document>& documents() {
  static const std::vector<Document> docs = [] {
    std::vector<Document> out;
    for (const std::string& text : corpus()) {
      size_t at = 0;
      while (at < text.size()) {
        size_t end = text.find("\n\n", at);
        if (end == std::string::npos) end = text.size();
        const std::string para = text.substr(at, end - at);
        at = end + 2;
        const std::vector<std::string> words = words_of(para);
        if (words.size() < 8) continue;
        Document d;
        for (size_t i = 0; i < words.size(); ++i) (i < 6 ? d.title : d.body) += words[i] + " ";
        out.push_back(d);
      }
    }
    return out;
  }();
  return docs;
}

// 1,000 rules over the corpus's vocabulary: two to four positive words (one
// of them at times a "title:" term), at times a negative one.
void build_rules() {
  std::set<std::string> vocab_set;
  for (const Document& d : documents())
    for (const std::string& w : words_of(d.title + d.body)) vocab_set.insert(w);
  const std::vector<std::string> vocab(vocab_set.begin(), vocab_set.end());
  std::mt19937 rng(1000);
  std::uniform_int_distribution<size_t> word(0, vocab.size() - 1);
  std::vector<crule_def> rules(1000);
  for (size_t r = 0; r < rules.size(); ++r) {
    crule_def& s = rules[r];
    s.topic = 1 + r % 50;
    s.rule = static_cast<int64_t>(r);
    const int npos = 2 + static_cast<int>(r % 3);
    for (int j = 0; j < npos; ++j) s.positive.push_back((j == 0 && r % 4 == 0 ? "title:" : "") + vocab[word(rng)]);
    if (r % 3 == 0) s.negative.push_back(vocab[word(rng)]);
  }
  log_mask.store(0);
  const classify_build_result b = classify_build(rules.data(), rules.size(), 4000);
  if (b.status != kClassifyBuilt) fprintf(stderr, "document_analysis_bench: the rules did not build\n");
}

void BM_ClassifyDoc(benchmark::State& state) {
  build_rules();
  int64_t docs = 0, fired = 0;
  for (auto _ : state) {
    for (const Document& d : documents()) {
      crule_elem* hits = nullptr;
      classify_field("title:", 6, d.title.data(), d.title.size(), &hits);
      classify_field("", 0, d.body.data(), d.body.size(), &hits);
      uint32_t* topics = crule_topics(hits);
      for (uint32_t* t = topics; *t; ++t) ++fired;
      free(topics);
      crule_free_hits(hits);
      ++docs;
    }
  }
  state.SetItemsProcessed(docs);
  state.counters["docs"] = static_cast<double>(documents().size());
  state.counters["topics_per_doc"] = static_cast<double>(fired) / static_cast<double>(docs ? docs : 1);
}
BENCHMARK(BM_ClassifyDoc)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
