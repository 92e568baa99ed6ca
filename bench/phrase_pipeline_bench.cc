// Tokens per second through the default English resource set: tokenise,
// tag and group real English text (Debian's GPL-3 text by default, or the
// file named by $VORLANE_BENCH_TEXT), sentence by sentence. The set is the
// one built into build/resources/english, or the one whose path (without
// suffix) $VORLANE_ENGLISH names.
//
//   build/bin/phrase_pipeline_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "linguistics/zop/grouper.h"
#include "linguistics/zop/resource_set.h"
#include "linguistics/zop/tagger.h"
#include "linguistics/zop/tokenizer.h"

namespace {

using namespace vorlane;

struct Corpus {
  std::vector<std::string> sentences;
  zop_handle handle;
  bool ok = false;
};

// Sentences: the text's lines joined, cut after '.', '?' or '!' and a blank.
Corpus& corpus() {
  static Corpus c = [] {
    Corpus k;
    const char* path = std::getenv("VORLANE_BENCH_TEXT");
    std::ifstream f(path ? path : "/usr/share/common-licenses/GPL-3");
    std::stringstream ss;
    ss << f.rdbuf();
    std::string text = ss.str();
    for (char& ch : text) {
      if (ch == '\n' || ch == '\r' || ch == '\t') ch = ' ';
    }
    size_t start = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
      if ((text[i] == '.' || text[i] == '?' || text[i] == '!') && text[i + 1] == ' ') {
        k.sentences.push_back(text.substr(start, i + 1 - start));
        start = i + 2;
      }
    }
    const char* other = std::getenv("VORLANE_ENGLISH");
    const std::string set = other != nullptr ? other : std::string(VORLANE_ENGLISH_DIR) + "/english";
    k.ok = !k.sentences.empty() && zop_lang_init(&k.handle, set.c_str()) == 1;
    return k;
  }();
  return c;
}

// The three stages on one working copy, as the resource set runs them.
void BM_TokeniseTagGroup(benchmark::State& state) {
  Corpus& c = corpus();
  if (!c.ok) {
    state.SkipWithError("no English resource set or text");
    return;
  }
  zop_struct* set = zop_local_init(c.handle, nullptr);
  std::vector<TokenRecord> records(2048);
  std::vector<char> work(2048), tags(kZopTagArea);
  std::vector<PhraseGroup> groups(kZopMaxGroups);
  char names[1024];
  int64_t tokens = 0, phrases = 0;
  for (auto _ : state) {
    for (const std::string& s : c.sentences) {
      int32_t count = 0;
      tokenize_text(s.data(), static_cast<int32_t>(s.size()), set->tokenizer, kTokenizeComplete, records.data(), 2048,
                    work.data(), 2048, &count);
      std::string texts;
      for (int32_t i = 0; i < count; ++i) {
        texts.append(s, static_cast<size_t>(records[i].offset), static_cast<size_t>(records[i].length));
        texts.push_back('\0');
      }
      if (count == 0) continue;
      if (tag_sentence(texts.data(), count, tags.data(), kZopTagArea - 1, 1, set->hmm, set->tagger_buffer, nullptr,
                       nullptr) != count) {
        continue;
      }
      int32_t g = group_phrases(tags.data(), count, 0, groups.data(), kZopMaxGroups, names, sizeof names,
                                set->grouper);
      tokens += count;
      phrases += g > 0 ? g : 0;
    }
  }
  zop_local_free(set);
  state.counters["tokens/s"] = benchmark::Counter(static_cast<double>(tokens), benchmark::Counter::kIsRate);
  state.counters["phrases"] = static_cast<double>(phrases) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_TokeniseTagGroup)->Unit(benchmark::kMillisecond);

// zop_get_phrases per sentence: a working copy and tagger buffer per request.
void BM_GetPhrases(benchmark::State& state) {
  Corpus& c = corpus();
  if (!c.ok) {
    state.SkipWithError("no English resource set or text");
    return;
  }
  std::vector<char> out(65536);
  int64_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& s : c.sentences) {
      char* end = zop_get_phrases(s.c_str(), out.data(), out.size(), c.handle);
      bytes += end - out.data();
    }
  }
  state.counters["sentences/s"] = benchmark::Counter(
      static_cast<double>(c.sentences.size()) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GetPhrases)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
