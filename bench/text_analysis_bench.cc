// Throughput of the engine's text analysis on real English text: the plain
// text sources of the Python library reference that python3.11-doc installs
// (/usr/share/doc/python3.11/html/_sources/library, about 6.8 MB), or the
// files named in VORLANE_TEXT_CORPUS (separated by ':'), one document per
// file; the licence texts of /usr/share/common-licenses when neither is there.
// bench/text_analysis_compare.py runs this beside Xapian's TermGenerator on
// the same files.
//
// Stems come from the default English resource set built into
// build/resources/english (or the set whose path VORLANE_ENGLISH names); when
// it was not built, from the tests' small resource set, whose stemmer knows a
// few words only (every word is still looked up in the transducer).
//   build/bin/text_analysis_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/analysis/ling_calls.h"
#include "engine/analysis/phrase_output.h"
#include "engine/analysis/stem_output.h"
#include "engine/analysis/stopwords.h"
#include "engine/testing/test_language.h"
#include "engine/analysis/token_passes.h"

namespace {

namespace fs = std::filesystem;
using namespace vorlane;
using namespace vorlane::engine;

constexpr const char* kPythonLibraryDoc = "/usr/share/doc/python3.11/html/_sources/library";

const std::vector<std::string>& corpus() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> out;
    std::vector<fs::path> files;
    if (const char* env = getenv("VORLANE_TEXT_CORPUS")) {
      std::stringstream in(env);
      for (std::string f; std::getline(in, f, ':');) files.emplace_back(f);
    } else {
      std::error_code ec;
      for (const auto& e : fs::recursive_directory_iterator(kPythonLibraryDoc, ec))
        if (e.is_regular_file() && e.path().extension() == ".txt") files.push_back(e.path());
      if (files.empty()) {
        for (const auto& e : fs::directory_iterator("/usr/share/common-licenses", ec))
          if (e.is_regular_file()) files.push_back(e.path());
      }
      std::sort(files.begin(), files.end());
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
      if (!write_test_language(path, &error)) fprintf(stderr, "text_analysis_bench: %s\n", error.c_str());
    }
    if (!ling_calls.lang_init(&h, path.c_str())) fprintf(stderr, "text_analysis_bench: can't load %s\n", path.c_str());
    const char* stop[] = {"a", "an", "and", "are", "as", "at", "be", "by", "for", "from", "in", "is", "it", "of",
                          "on", "or", "that", "the", "this", "to", "with", nullptr};
    BuildStopWordTable(h, stop);
    return h;
  }();
  return h;
}

size_t corpus_bytes() {
  size_t n = 0;
  for (const auto& t : corpus()) n += t.size();
  return n;
}

void BM_Tokenize(benchmark::State& state) {
  const zop_handle& h = english();
  for (auto _ : state) {
    for (const auto& t : corpus()) {
      ParseState s = TokenizeText(t.c_str(), nullptr, 1, h);
      benchmark::DoNotOptimize(s.count);
      FreeParseState(s);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus_bytes()));
}
BENCHMARK(BM_Tokenize);

// Tokens, phrases and stems as document indexing makes them (phrases in mode
// 0, every stem of each word) or as the query parser does (mode 1, the
// shortest stem).
void BM_TokenizePhrasesStems(benchmark::State& state) {
  const zop_handle& h = english();
  const bool indexing = state.range(0) == 0;
  std::vector<char> phrases, stems;
  for (auto _ : state) {
    for (const auto& t : corpus()) {
      ParseState s = TokenizeText(t.c_str(), nullptr, 1, h);
      phrases.resize(t.size() * 8 + 64);
      stems.resize(t.size() * 4 + 64);
      benchmark::DoNotOptimize(PhraseTokens(s, phrases.data(), phrases.size(), h, kStemShortest, indexing ? 0 : 1));
      benchmark::DoNotOptimize(StemTokens(s, stems.data(), stems.size(), h, indexing ? 1 : 0));
      FreeParseState(s);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus_bytes()));
  state.SetLabel(indexing ? "indexing" : "query");
}
BENCHMARK(BM_TokenizePhrasesStems)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
