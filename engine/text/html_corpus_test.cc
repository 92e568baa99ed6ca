// Every page of the HTML documentation installed from Debian packages
// (apache2-doc, python3.11-doc) through the extractor: no page may make it
// read or write out of bounds (run in the sanitizer build), and the results
// keep their bounds. VORLANE_HTML_CORPUS (directories separated by ':')
// replaces the default directories.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/text/html_extract.h"
#include "store/cclass.h"

namespace vorlane::engine {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> corpus_roots() {
  std::string dirs = "/usr/share/doc/apache2-doc/manual:/usr/share/doc/python3.11/html";
  if (const char* env = getenv("VORLANE_HTML_CORPUS")) dirs = env;
  std::vector<fs::path> roots;
  std::stringstream in(dirs);
  for (std::string dir; std::getline(in, dir, ':');)
    if (!dir.empty() && fs::is_directory(dir)) roots.emplace_back(dir);
  return roots;
}

bool absolute(const std::string& url) {
  size_t i = 0;
  while (i < url.size() && c_isalpha(static_cast<unsigned char>(url[i]))) ++i;
  return i > 0 && i < url.size() && url[i] == ':';
}

TEST(HtmlCorpus, EveryPageKeepsItsBounds) {
  std::vector<fs::path> roots = corpus_roots();
  if (roots.empty()) GTEST_SKIP() << "no HTML documentation installed";
  size_t pages = 0, bytes = 0, links = 0;
  for (const fs::path& root : roots) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      std::string name = entry.path().filename().string();
      if (name.size() < 5 || (name.compare(name.size() - 5, 5, ".html") != 0 &&
                              name.find(".html.") == std::string::npos))
        continue;
      std::ifstream f(entry.path(), std::ios::binary);
      std::string page((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
      std::string base = "http://docs.example.org/" + fs::relative(entry.path(), root).string();
      ParseResult r;
      ASSERT_TRUE(parse_html_text(page.c_str(), base.c_str(), &r)) << entry.path();
      size_t length = strlen(page.c_str());
      EXPECT_LE(strlen(r.body), length) << entry.path();
      EXPECT_LT(strlen(r.summary), 1024u) << entry.path();
      auto check = [&](const char* url) {
        std::string u = url;
        EXPECT_TRUE(absolute(u)) << entry.path() << ": " << u;
        EXPECT_EQ(u.find("/../"), std::string::npos) << entry.path() << ": " << u;
      };
      for (int i = 0; i < r.link_count; ++i) check(r.link_urls[i]);
      for (int i = 0; i < r.image_count; ++i) check(r.image_urls[i]);
      ++pages;
      bytes += page.size();
      links += static_cast<size_t>(r.link_count);
      r.release(&r);
    }
  }
  EXPECT_GT(pages, 0u);
  RecordProperty("pages", static_cast<int>(pages));
  printf("%zu pages, %zu bytes, %zu links\n", pages, bytes, links);
}

}  // namespace
}  // namespace vorlane::engine
