// Test tool: a database of real pages for the all-hits script test.
//
//   allhits_corpus OUT_DIR ENGLISH_BASE PAGES [HTML_DIR]
//
// Reads the first PAGES HTML pages of HTML_DIR (Debian's Python
// documentation by default) in name order, extracts their text, and indexes
// the stems and phrases of title and body, plus "site:hostK.example" (K =
// docid mod 3), through the store; every fifth document is deleted. Writes
// OUT_DIR/db and, for a brute-force check of queries:
//   docs.txt     docid TAB deleted TAB url TAB the document's terms (blank-separated)
//   words.txt    word TAB its index term, for words that are their own stem
//   phrases.txt  "a b" TAB the one phrase a query of those two words gives
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/text/html_extract.h"
#include "engine/text/parse_result.h"
#include "engine/testing/query_testing.h"
#include "store/cclass.h"
#include "store/score_tables.h"

namespace fs = std::filesystem;
using namespace vorlane;
using namespace vorlane::engine;

namespace {

std::vector<std::string> analysed(const std::string& text, const zop_handle& h, bool phrases) {
  ParseState s = TokenizeText(text.c_str(), nullptr, 1, h);
  std::vector<char> area(text.size() * 8 + 256);
  if (phrases) PhraseTokens(s, area.data(), area.size(), h, kStemShortest, 1);
  else StemTokens(s, area.data(), area.size(), h, 0);
  FreeParseState(s);
  return query_testing::strings_of(area.data(), area.size());
}

bool plain_word(const std::string& w) {
  if (w.size() < 3 || w.size() > 12) return false;
  for (char c : w)
    if (!c_islower(static_cast<unsigned char>(c))) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: allhits_corpus OUT_DIR ENGLISH_BASE PAGES [HTML_DIR]\n");
    return 2;
  }
  const std::string out = argv[1];
  const zop_handle h = query_testing::english_set(argv[2]);
  if (!h.stemmer) {
    fprintf(stderr, "allhits_corpus: cannot load %s\n", argv[2]);
    return 1;
  }
  const size_t pages = static_cast<size_t>(atoi(argv[3]));
  const std::string dir = argc > 4 ? argv[4] : "/usr/share/doc/python3.11/html";
  std::vector<fs::path> files;
  if (fs::is_directory(dir))
    for (const auto& e : fs::recursive_directory_iterator(dir))
      if (e.is_regular_file() && e.path().extension() == ".html") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  if (files.size() > pages) files.resize(pages);
  if (files.empty()) {
    fprintf(stderr, "allhits_corpus: no pages in %s\n", dir.c_str());
    return 3;
  }
  init_percent_table();
  fs::create_directories(out);

  std::vector<query_testing::Doc> docs;
  std::vector<uint32_t> deleted;
  std::map<std::string, std::string> words;  // word -> term
  std::map<std::string, std::string> phrases;
  for (const fs::path& file : files) {
    std::ifstream f(file, std::ios::binary);
    std::string page((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const uint32_t docid = static_cast<uint32_t>(docs.size());
    const std::string host = "host" + std::to_string(docid % 3) + ".example";
    const std::string url = "http://" + host + "/" + fs::relative(file, dir).string();
    ParseResult r;
    if (!parse_html_text(page.c_str(), url.c_str(), &r)) return 4;
    std::string text = std::string(r.title) + "\n" + r.body;
    r.release(&r);
    if (text.size() > 30000) text.resize(30000);
    query_testing::Doc d;
    d.terms = query_testing::index_terms(text, h);
    d.terms.insert("site:" + host);
    d.url = url;
    docs.push_back(d);
    if (docid % 5 == 4) deleted.push_back(docid);
    // Words that are their own stem, and two-word phrases of them.
    std::istringstream in(text);
    std::string prev;
    for (std::string w; in >> w;) {
      const bool plain = plain_word(w) && d.terms.count(w) && analysed(w, h, false) == std::vector<std::string>{w};
      if (plain) words[w] = w;
      if (plain && !prev.empty()) {
        const std::vector<std::string> p = analysed(prev + " " + w, h, true);
        if (p.size() == 1 && d.terms.count(p[0])) phrases[prev + " " + w] = p[0];
      }
      prev = plain ? w : "";
    }
  }
  std::string why;
  if (!query_testing::write_database(out + "/db", docs, deleted, 0, &why)) {
    fprintf(stderr, "allhits_corpus: writing the database failed: %s\n", why.c_str());
    return 5;
  }
  std::ofstream dtxt(out + "/docs.txt"), wtxt(out + "/words.txt"), ptxt(out + "/phrases.txt");
  for (size_t i = 0; i < docs.size(); ++i) {
    const bool del = std::find(deleted.begin(), deleted.end(), i) != deleted.end();
    dtxt << i << '\t' << (del ? 1 : 0) << '\t' << docs[i].url << '\t';
    bool first = true;
    for (const std::string& t : docs[i].terms) {
      if (t.find_first_of(" \t\n") != std::string::npos) continue;
      dtxt << (first ? "" : " ") << t;
      first = false;
    }
    dtxt << '\n';
  }
  for (const auto& [w, t] : words) wtxt << w << '\t' << t << '\n';
  for (const auto& [p, t] : phrases) ptxt << p << '\t' << t << '\n';
  return 0;
}
