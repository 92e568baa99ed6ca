// Real pages through a document's analysis, page after page in the pooled
// term tables, against the same analysis into a table in fresh memory of its
// own that clears every window counter whenever a window ends: the same
// cells, counts and texts for every page. Over the tutorial and FAQ pages of
// python3.11-doc and two of its largest pages, with the default English
// resource set; skipped when either is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/document/idoc.h"
#include "engine/testing/language_sets.h"
#include "engine/text/html_extract.h"

namespace vorlane::engine {
namespace {

namespace fs = std::filesystem;

const std::string kEnglish = std::string(VORLANE_ENGLISH_DIR) + "/english";
const fs::path kDocs = "/usr/share/doc/python3.11/html";

std::vector<fs::path> pages() {
  std::vector<fs::path> out;
  for (const char* section : {"tutorial", "faq"}) {
    std::vector<fs::path> some;
    for (const auto& e : fs::directory_iterator(kDocs / section))
      if (e.path().extension() == ".html") some.push_back(e.path());
    std::sort(some.begin(), some.end());
    out.insert(out.end(), some.begin(), some.end());
  }
  // Pages whose texts are cut and whose terms fill much of the table.
  for (const char* big : {"whatsnew/3.11.html", "whatsnew/2.6.html"})
    if (fs::exists(kDocs / big)) out.push_back(kDocs / big);
  return out;
}

std::string read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The fields and terms examples/index.py gives a page.
int analyse(idoc_doc* doc, const std::string& title, const std::string& body, const std::string& url,
            const zop_handle& handle, const idoc_areas& areas) {
  const idoc_field_arg fields[] = {
      {body.c_str(), body.size(), "", 1, 1, 1, 1, 3},
      {title.c_str(), title.size(), "", 40, 1, 1, 1, -1},
      {title.c_str(), title.size(), "title:", 1, 1, 1, 1, -1},
      {url.c_str(), url.size(), "url:", 1, 0, 0, 1, 3},
      {"0123456789abcdef", 16, "checksum:", 1, 0, 0, 1, -1},
  };
  const idoc_term_arg terms[] = {{"site:docs.example.org", 1}};
  return idoc_update(doc, terms, 1, fields, 5, handle, areas);
}

void expect_same_table(const doc_terms& a, const doc_terms& b) {
  ASSERT_EQ(a.size, b.size);
  ASSERT_EQ(a.cells, b.cells);
  const size_t n = static_cast<size_t>(a.size);
  ASSERT_EQ(memcmp(a.pairs, b.pairs, n * sizeof(hash_pair)), 0);
  ASSERT_EQ(memcmp(a.freqs, b.freqs, n), 0);
  ASSERT_EQ(memcmp(a.raw, b.raw, n * 4), 0);
  ASSERT_EQ(memcmp(a.window, b.window, n * 4), 0);
  ASSERT_EQ(memcmp(a.deductions, b.deductions, n * 4), 0);
  ASSERT_EQ(memcmp(a.types, b.types, n * 4), 0);
  ASSERT_EQ(memcmp(a.counters, b.counters, sizeof a.counters), 0);
  for (size_t i = 0; i < n; ++i)
    ASSERT_STREQ(doc_terms_text(&a, static_cast<int>(i)), doc_terms_text(&b, static_cast<int>(i))) << i;
}

TEST(IdocPages, PooledTablesCountAsTablesClearedWhole) {
  if (!fs::exists(kEnglish + ".hmm")) GTEST_SKIP() << "no default English resource set";
  if (!fs::is_directory(kDocs / "tutorial")) GTEST_SKIP() << "python3.11-doc is not installed";
  static const char* const stop[] = {"a", "an", "and", "in", "is", "it", "of", "on", "the", "to", nullptr};
  const zop_handle handle = testing_sets::load_set(kEnglish, stop);
  ASSERT_NE(handle.stemmer, nullptr);
  idoc_areas areas;
  ASSERT_TRUE(idoc_areas_alloc(&areas));

  const std::vector<fs::path> all = pages();
  ASSERT_GE(all.size(), 20u);
  size_t fewest = SIZE_MAX, most = 0;
  for (const fs::path& path : all) {
    SCOPED_TRACE(path.string());
    const std::string page = read_file(path);
    const std::string url = "http://docs.example.org/" + fs::relative(path, kDocs).string();
    ParseResult r;
    ASSERT_TRUE(parse_html_text(page.c_str(), url.c_str(), &r));
    const std::string title = r.title, body = r.body;
    r.release(&r);

    idoc_doc pooled;
    ASSERT_TRUE(idoc_doc_init(&pooled));
    idoc_doc plain{};
    std::vector<uint32_t> memory(kDocArenaSize / 4);
    plain.arena = memory.data();
    plain.arena_length = static_cast<uint32_t>(kDocArenaSize);
    doc_terms_carve(&plain.terms, memory.data(), kDocTermCells, kDocTextPoolSize);
    ASSERT_EQ(plain.terms.book, nullptr);

    ASSERT_EQ(analyse(&pooled, title, body, url, handle, areas), analyse(&plain, title, body, url, handle, areas));
    // Before compaction the whole cell area agrees, empty cells included.
    ASSERT_EQ(memcmp(pooled.arena, plain.arena, kDocArenaSize - kDocTextPoolSize), 0);
    const int n = doc_terms_compact(&pooled.terms);
    ASSERT_EQ(n, doc_terms_compact(&plain.terms));
    expect_same_table(pooled.terms, plain.terms);
    fewest = std::min(fewest, static_cast<size_t>(n));
    most = std::max(most, static_cast<size_t>(n));
    idoc_doc_release(&pooled);
  }
  idoc_areas_free(&areas);
  // Both ways of cleaning a pooled block were taken: cell by cell after a
  // page of a few thousand terms, whole after one of many thousands.
  EXPECT_LT(fewest, static_cast<size_t>(kDocTermCells / 32));
  EXPECT_GT(most, static_cast<size_t>(kDocTermCells / 16));
}

}  // namespace
}  // namespace vorlane::engine
