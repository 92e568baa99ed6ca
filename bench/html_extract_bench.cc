// Throughput of the HTML extractor over the HTML documentation installed
// from Debian packages (apache2-doc, python3.11-doc), or the directories in
// VORLANE_HTML_CORPUS (separated by ':'). Reports bytes per second.
//   build/bin/html_extract_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/text/html_extract.h"

namespace {

namespace fs = std::filesystem;

struct Page {
  std::string text;
  std::string base;
};

const std::vector<Page>& corpus() {
  static const std::vector<Page> pages = [] {
    std::vector<Page> out;
    std::string dirs = "/usr/share/doc/apache2-doc/manual:/usr/share/doc/python3.11/html";
    if (const char* env = getenv("VORLANE_HTML_CORPUS")) dirs = env;
    std::stringstream in(dirs);
    for (std::string dir; std::getline(in, dir, ':');) {
      if (dir.empty() || !fs::is_directory(dir)) continue;
      for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".html") continue;
        std::ifstream f(entry.path(), std::ios::binary);
        out.push_back({std::string((std::istreambuf_iterator<char>(f)),
                                   std::istreambuf_iterator<char>()),
                       "http://docs.example.org/" + fs::relative(entry.path(), dir).string()});
      }
    }
    return out;
  }();
  return pages;
}

void BM_ParseHtmlCorpus(benchmark::State& state) {
  const auto& pages = corpus();
  if (pages.empty()) {
    state.SkipWithError("no HTML documentation installed");
    return;
  }
  size_t bytes = 0;
  for (auto _ : state) {
    for (const Page& page : pages) {
      vorlane::engine::ParseResult r;
      vorlane::engine::parse_html_text(page.text.c_str(), page.base.c_str(), &r);
      benchmark::DoNotOptimize(r.body);
      r.release(&r);
      bytes += page.text.size();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["pages"] = static_cast<double>(pages.size());
}
BENCHMARK(BM_ParseHtmlCorpus)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
