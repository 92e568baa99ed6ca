// query_each latency on a database of at least 20,000 documents: sections of
// the HTML documentation of Debian packages (python3.11-doc, apache2-doc),
// tokenised, phrased and stemmed with the default English set and indexed
// through the store. Prints p50 and p95 per kind of query.
//
//   build/bin/query_each_bench [DOCUMENTS] [DATABASE_DIR]
//
// The database is written once into DATABASE_DIR (default
// /tmp/vorlane-query-bench-N) and reused by later runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/testing/query_testing.h"
#include "store/cclass.h"
#include "store/log.h"

using namespace vorlane;
using namespace vorlane::engine;
using namespace vorlane::engine::query_testing;

namespace {

// Documents of about 150 words, cut from the pages.
std::vector<std::string> sections(const std::vector<Page>& pages, size_t want) {
  std::vector<std::string> out;
  for (const Page& p : pages) {
    size_t at = 0;
    while (at < p.body.size() && out.size() < want) {
      size_t end = at;
      for (int words = 0; end < p.body.size() && words < 150; ++words) {
        end = p.body.find(' ', end + 1);
        if (end == std::string::npos) end = p.body.size();
      }
      if (end - at > 200) out.push_back(p.body.substr(at, end - at));
      at = end;
    }
  }
  return out;
}

std::vector<std::string> words_of(const std::string& s) {
  std::vector<std::string> out;
  std::string w;
  for (char c : s + " ") {
    if (c_islower(static_cast<unsigned char>(c))) {
      w += c;
    } else {
      if (w.size() >= 4) out.push_back(w);
      w.clear();
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t want = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp/vorlane-query-bench-" + std::to_string(want);
  log_mask.store(0);
  init_percent_table();
  init_blend_table();
  if (!english().stemmer) {
    fprintf(stderr, "no default English resource set in %s\n", VORLANE_ENGLISH_DIR);
    return 1;
  }
  const std::vector<Page> pages = load_pages(100000, 1u << 30);
  const std::vector<std::string> texts = sections(pages, want);
  if (texts.size() < want) {
    fprintf(stderr, "only %zu documents from the installed documentation\n", texts.size());
    return 1;
  }
  // Word frequencies over documents, for picking rare and common words.
  std::map<std::string, int> docf;
  std::vector<std::pair<std::string, std::string>> adjacent;
  for (size_t i = 0; i < texts.size(); ++i) {
    std::vector<std::string> w = words_of(texts[i]);
    for (const std::string& x : std::set<std::string>(w.begin(), w.end())) ++docf[x];
    if (i % 97 == 0 && w.size() > 20) adjacent.push_back({w[10], w[11]});
  }
  if (!std::filesystem::exists(dir + "/dir")) {
    std::filesystem::remove_all(dir);
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<Doc> docs;
    for (const std::string& t : texts) {
      Doc d;
      d.terms = index_terms(t, english());
      docs.push_back(std::move(d));
    }
    if (!write_database(dir, docs)) {
      fprintf(stderr, "cannot write the database in %s\n", dir.c_str());
      return 1;
    }
    printf("indexed %zu documents in %.1f s into %s\n", docs.size(),
           std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), dir.c_str());
  }
  cache_init_default(max_hits);
  cache_add_arena(4000, 2000);
  idbm_db* db = open_query_db(dir, 1, false);
  if (!db) {
    fprintf(stderr, "cannot open %s\n", dir.c_str());
    return 1;
  }

  std::vector<std::string> rare, common, middle;
  for (const auto& [w, n] : docf) {
    if (n >= 3 && n <= 20) rare.push_back(w);
    if (n >= 1500) common.push_back(w);
    if (n >= 200 && n <= 1000) middle.push_back(w);
  }
  auto pick = [](const std::vector<std::string>& v, size_t i) { return v[(i * 7919) % v.size()]; };
  std::map<std::string, std::vector<std::string>> kinds;
  for (size_t i = 0; i < 50; ++i) {
    const std::string a = pick(common, i), b = pick(middle, i), r = pick(rare, i);
    kinds["1 single rare"].push_back(r);
    kinds["2 single common"].push_back(a);
    kinds["3 AND (+a +b)"].push_back("+" + a + " +" + b);
    kinds["4 OR (a b)"].push_back(a + " " + b);
    kinds["5 NOT (a -b)"].push_back(a + " -" + b);
    const auto& [p, q] = adjacent[i % adjacent.size()];
    kinds["6 phrase (\"a b\")"].push_back("\"" + p + " " + q + "\"");
    kinds["7 refinement (a | b)"].push_back(a + " | " + b);
  }
  printf("%zu documents, M = %u; query_each of hits 1..10, merge form, 169,024-byte response\n", texts.size(),
         max_hits);
  printf("%-24s %10s %10s %10s\n", "query", "p50 us", "p95 us", "avg total");
  QueryRun run;
  for (const auto& [kind, queries] : kinds) {
    std::vector<double> us;
    uint64_t hits = 0;
    for (int pass = 0; pass < 5; ++pass) {
      for (const std::string& text : queries) {
        const std::vector<uint8_t> r = request(text, 1, 10, kRequestQuery);
        const auto t0 = std::chrono::steady_clock::now();
        run.run(db, r, 1, english());
        const double t = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
        if (pass == 0) continue;  // the first pass reads the records from disk
        us.push_back(t);
        QueryResponseView v = run.view();
        hits += static_cast<uint64_t>(v.total < 0 ? -int64_t{v.total} : v.total);
      }
    }
    std::sort(us.begin(), us.end());
    printf("%-24s %10.0f %10.0f %10.0f\n", kind.c_str() + 2, us[us.size() / 2], us[us.size() * 95 / 100],
           static_cast<double>(hits) / static_cast<double>(us.size()));
  }
  idbm_close(db);
  return 0;
}
