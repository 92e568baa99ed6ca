#include "engine/text/url_resolve.h"

#include <gtest/gtest.h>

#include <string>

namespace vorlane::engine {
namespace {

std::string resolve(const char* base, const char* url) {
  HtmlParser p;
  EXPECT_TRUE(html_parser_init(&p, "", base));
  std::string out = html_resolve_url(&p, url);
  html_parser_free(&p);
  return out;
}

TEST(UrlSplit, PartsOfUrls) {
  struct Case {
    const char* url;
    const char* scheme;
    const char* host;
    const char* directory;
    const char* rest;
  } cases[] = {
      {"HTTP://Host:80/a/b?c/d#f", "http:", "//host:80", "/a/", "b?c/d"},
      {"mailto:x", "mailto:", "", "", "x"},
      {"a/b/c", "", "", "a/b/", "c"},
      {"//h", "", "//h", "", ""},
      {"//H/", "", "//h", "/", ""},
      {"/p/q", "", "", "/p/", "q"},
      {"x:y/z", "x:", "", "y/", "z"},
      {"x:/y", "x:", "", "/", "y"},
      {"?a/b", "", "", "", "?a/b"},
      {"q?a/b", "", "", "", "q?a/b"},
      {"1http:/x", "", "", "1http:/", "x"},
      {"a#b#c", "", "", "", "a#b"},
      {"", "", "", "", ""},
  };
  for (const Case& c : cases) {
    HtmlParser p;
    ASSERT_TRUE(html_parser_init(&p, "", ""));
    const char *scheme, *host, *directory, *rest;
    url_split(&p, c.url, &scheme, &host, &directory, &rest);
    EXPECT_STREQ(scheme, c.scheme) << c.url;
    EXPECT_STREQ(host, c.host) << c.url;
    EXPECT_STREQ(directory, c.directory) << c.url;
    EXPECT_STREQ(rest, c.rest) << c.url;
    html_parser_free(&p);
  }
}

TEST(HtmlResolveUrl, AgainstAPageBase) {
  const char* base = "http://W.B.C/a/b/index.html";
  struct Case {
    const char* url;
    const char* expected;
  } cases[] = {
      {"../y.html", "http://w.b.c/a/y.html"},
      {"a/../../x", "http://w.b.c/a/x"},
      {"//intranet/z", "http://intranet.b.c/z"},
      {"//intranet:81/z", "http://intranet.b.c:81/z"},
      {"/x/./y", "http://w.b.c/x/y"},
      {"/x/././y", "http://w.b.c/x/y"},
      {"//.a.b", ""},
      {"//a.b.", ""},
      {"//a.b.:80", ""},
      {"//a..b", "http://a..b/"},
      {"//a.b:", ""},
      {"//a.b:8x", ""},
      {"//a.b:80", "http://a.b:80/"},
      {"//a_b", ""},
      {"//:80/x", ""},
      {"#top", "http://w.b.c/"},
      {"", "http://w.b.c/"},
      {"mailto:x", "mailto://w.b.c/a/b/x"},
      {"c.html#sec", "http://w.b.c/a/b/c.html"},
      {"?q=1", "http://w.b.c/a/b/?q=1"},
      {"x.html  ", "http://w.b.c/a/b/x.html"},
      {"HTTP://Other.COM/Path/F?q=/a#frag", "http://other.com/Path/F?q=/a"},
      {"ftp://o.org", "ftp://o.org/"},
      {"/../x", "http://w.b.c/x"},
      {"../../../../x", "http://w.b.c/x"},
      {"/a/b/c/../../d", "http://w.b.c/a/d"},
      {"file:/etc/x", "file://w.b.c/etc/x"},
      {"file:///etc/x", "file:///etc/x"},
      {"http:///x", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(resolve(base, c.url), c.expected) << c.url;
}

TEST(HtmlResolveUrl, DotDotNeverClimbsIntoTheHost) {
  EXPECT_EQ(resolve("http://h/a/b/", "../../../x"), "http://h/x");
  EXPECT_EQ(resolve("http://h/", "../x"), "http://h/x");
  EXPECT_EQ(resolve("http://h:8080/a/", "../../x/../y"), "http://h:8080/y");
}

TEST(HtmlResolveUrl, BasesWithoutHostOrDirectory) {
  // No base at all: nothing can be made absolute.
  EXPECT_EQ(resolve("", "x.html"), "");
  EXPECT_EQ(resolve("", "http://h.org/x"), "http://h.org/x");
  // A base without a host counts as "//", which only "file:" accepts.
  EXPECT_EQ(resolve("file:/d/p.html", "q.html"), "file:///d/q.html");
  EXPECT_EQ(resolve("news:comp.lang", "x"), "");
  // A base without a directory has the root as its directory.
  EXPECT_EQ(resolve("http://h.org", "x"), "http://h.org/x");
  EXPECT_EQ(resolve("http://h.org?q", "x"), "");  // the host "//h.org?q" is refused
}

TEST(HtmlResolveUrl, SingleLabelHostsTakeTheFirstBaseDomain) {
  EXPECT_EQ(resolve("http://www.example.com:8000/", "//wiki/x"), "http://wiki.example.com/x");
  EXPECT_EQ(resolve("http://localhost/", "//wiki/x"), "http://wiki/x");
  EXPECT_EQ(resolve("http://www.example.com/", "http://Wiki:81"), "http://wiki.example.com:81/");
}

}  // namespace
}  // namespace vorlane::engine
