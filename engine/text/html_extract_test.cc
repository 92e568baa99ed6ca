#include "engine/text/html_extract.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/text/html_entities.h"

namespace vorlane::engine {
namespace {

using Opt = std::optional<std::string>;

Opt opt(const char* s) { return s ? Opt(s) : std::nullopt; }

struct Page {
  std::string title, summary, body;
  std::vector<std::pair<std::string, std::string>> texts;
  std::vector<std::pair<std::string, Opt>> links;
  std::vector<std::tuple<std::string, Opt, int, int>> images;
  std::vector<std::pair<std::string, std::string>> headers;
};

constexpr const char* kBase = "http://WWW.Example.com/dir/page.html";

Page parse(const std::string& html, const char* base = kBase) {
  ParseResult r;
  EXPECT_TRUE(parse_html_text(html.c_str(), base, &r));
  Page page{r.title, r.summary, r.body, {}, {}, {}, {}};
  for (int i = 0; i < r.text_count; ++i) page.texts.emplace_back(r.texts[i], r.labels[i]);
  for (int i = 0; i < r.link_count; ++i) {
    EXPECT_EQ(r.link_thirds[i], nullptr);
    page.links.emplace_back(r.link_urls[i], opt(r.link_texts[i]));
  }
  for (int i = 0; i < r.image_count; ++i) {
    EXPECT_EQ(r.image_fifths[i], nullptr);
    page.images.emplace_back(r.image_urls[i], opt(r.image_alts[i]), r.image_widths[i],
                             r.image_heights[i]);
  }
  for (int i = 0; i < r.header_count; ++i)
    page.headers.emplace_back(r.header_names[i], r.header_contents[i]);
  r.release(&r);
  return page;
}

TEST(HtmlExtract, BodyText) {
  struct Case {
    const char* html;
    const char* body;
  } cases[] = {
      {"a&amp;b", "a&b"},
      {"a&amp b", "a& b"},
      {"a&ampb", "a&ampb"},
      {"a&AMP;b", "a&AMP;b"},
      {"x?a=1&b=2", "x?a=1&b=2"},
      {"x&amp=1", "x&amp=1"},
      {"&#65;", "A"},
      {"&#65x", "Ax"},
      {"&#x41;", "&#x41;"},
      {"a & b", "a & b"},
      {"a&nbsp;b", "a b"},
      {"&eacute;&Eacute;&yuml;&Yuml;&tilde;", "\xE9\xC9\xFF\x9F~"},
      {"&hellip;&ldots;&mdash;", "\x85\x85\x97"},
      // Numeric references: nothing for 0, a blank past Latin-1.
      {"a&#0;b", "ab"},
      {"a&#9776;b", "a b"},
      {"a&#4294967361;b", "a b"},
      {"a&#233;b", "a\xE9" "b"},
      {"a<br>b", "a\n b"},
      {"a < b", "a\n b"},
      {"a<3", "a\n "},  // the body never grows past the text's length
      {"a <3", "a\n 3"},
      {"a<br/>b", "a\n />b"},
      {"a  \t b", "a b"},
      {"!!!!", "!!"},
      {"<p>  lead", "lead"},
      {"a<b>b</b>c", "a\n b\n c"},
      {"a<unknown attr=1>b", "a\n b"},
      {"<script>var x = 1;</script>after", "after"},
      {"<style>p {}</style>after", "after"},
      {"<!--stopindex-->hidden<!--startindex-->shown", "shown"},
      {"<!--STOPINDEX-->hidden", ""},
      {"<!-- stopindex -->shown", "shown"},
      {"<!DOCTYPE html PUBLIC \"a>b\">x", "x"},
      {"<!-- a -> b -->x", "b -->x"},
      {"<!-->x", "x"},
      {"<!---->x", "x"},
      {"<!x<p>y", "y"},
      {"<p --comment-- class=a>x", "x"},
      {"<title>A</title><title>B</title>x", "x"},
      {"a</title>b", "a\n b"},
      {"a\0b", "a"},
      {"\xA0\xA0x", "x"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.html).body, c.body) << c.html;
}

TEST(HtmlExtract, Title) {
  Page p = parse("<title>A</title><title>B</title>x");
  EXPECT_EQ(p.title, "A");
  EXPECT_EQ(p.body, "x");
  EXPECT_EQ(parse("<html><head><title> The   Page </title></head><body>text").title, "The Page");
  EXPECT_EQ(parse("no title").title, "");
  // An anchor opened inside the title and closed after it: its mark lies
  // past the cut body and is brought back.
  p = parse("<title>x<a href=y>z</title></a>w");
  EXPECT_EQ(p.title, "x\n z");
  ASSERT_EQ(p.links.size(), 1u);
  EXPECT_EQ(p.links[0], std::make_pair(std::string("http://www.example.com/dir/y"), Opt("")));
  EXPECT_EQ(p.body, "w");
}

TEST(HtmlExtract, Summary) {
  struct Case {
    const char* html;
    const char* summary;
  } cases[] = {
      {"<h1>Head</h1><p>Para text", "Para text"},
      {"<title>T</title>Body", "Body"},
      {"(note) [x] text", "text"},
      {"<a href=x>link</a> plain <b>bold</b>", "plain\n bold"},
      {"<ul><li>item</ul>after", "after"},
      {"<font size=2>small</font>big", "big"},
      {"... words", "words"},
      {"<!--stopindex-->hidden<!--startindex-->shown", "shown"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.html).summary, c.summary) << c.html;
  std::string long_text(5000, 'w');
  Page p = parse(long_text);
  EXPECT_EQ(p.summary.size(), 1023u);
  EXPECT_EQ(p.body, long_text);
}

TEST(HtmlExtract, LinksAndAnchorTexts) {
  Page p = parse("<a href=/x>Go!</a>");
  ASSERT_EQ(p.links.size(), 1u);
  EXPECT_EQ(p.links[0].first, "http://www.example.com/x");
  EXPECT_EQ(p.links[0].second, Opt("Go"));
  EXPECT_EQ(p.body, "Go!");

  struct Case {
    const char* html;
    const char* url;  // null: no link
    Opt text;
  } cases[] = {
      {"<a href=\"a\tb\">x</a>", nullptr, {}},
      {"<a href=\"\xE9.html\">x</a>", nullptr, {}},
      {"<a href='//a_b/'>x</a>", nullptr, {}},
      {"<a href=1 href=2>x</a>", "http://www.example.com/dir/2", "x"},
      {"<a href=\"x?a=1&amp;b=2\">q</a>", "http://www.example.com/dir/x?a=1&b=2", "q"},
      {"<a href=x>Home <img src=i alt=Pic></a>", "http://www.example.com/dir/x", "Home, Pic"},
      {"<a href=x><img src=i alt=Pic></a>", "http://www.example.com/dir/x", "Pic"},
      {"<a href=x> -- (Next) -- </a>", "http://www.example.com/dir/x", "Next"},
      {"<a href=x></a>", "http://www.example.com/dir/x", ""},
      {"<a name=n>x</a>", nullptr, {}},
      {"<area href=m.html alt=Map>", "http://www.example.com/dir/m.html", "Map"},
      {"<area href=m.html>", "http://www.example.com/dir/m.html", {}},
      {"<frame src=f.html>", "http://www.example.com/dir/f.html", {}},
      {"<link rel=stylesheet href=s.css>", "http://www.example.com/dir/s.css", {}},
      {"<a href=//intranet/z>i</a>", "http://intranet.example.com/z", "i"},
      {"<a href=\"x>a\">b</a>", "http://www.example.com/dir/x", "a\">b"},
  };
  for (const Case& c : cases) {
    Page q = parse(c.html);
    if (!c.url) {
      EXPECT_TRUE(q.links.empty()) << c.html;
      continue;
    }
    ASSERT_EQ(q.links.size(), 1u) << c.html;
    EXPECT_EQ(q.links[0].first, c.url) << c.html;
    EXPECT_EQ(q.links[0].second, c.text) << c.html;
  }
}

TEST(HtmlExtract, BaseTagChangesTheBaseButNotTheDomain) {
  Page p = parse("<base href=\"http://other.org/sub/\"><a href=y>t</a><a href=//wiki/>w</a>"
                 "<base href=\"//.bad\"><a href=z>z</a>");
  ASSERT_EQ(p.links.size(), 3u);
  EXPECT_EQ(p.links[0].first, "http://other.org/sub/y");
  EXPECT_EQ(p.links[1].first, "http://wiki.example.com/");
  EXPECT_EQ(p.links[2].first, "http://other.org/sub/z");  // a refused base changes nothing
}

TEST(HtmlExtract, ImagesMetaAndHeaders) {
  Page p = parse("<img src=i.gif alt=Logo width=10>");
  ASSERT_EQ(p.images.size(), 1u);
  EXPECT_EQ(p.images[0], std::make_tuple(std::string("http://www.example.com/dir/i.gif"),
                                         Opt("Logo"), 10, 0));
  ASSERT_EQ(p.texts.size(), 1u);
  EXPECT_EQ(p.texts[0], std::make_pair(std::string("Logo"), std::string("alt:")));

  p = parse("<img src=a.png width=' 12px' height=-3><img alt=NoSrc><img src=b alt=B>"
            "<area alt=A>");
  ASSERT_EQ(p.images.size(), 2u);
  EXPECT_EQ(p.images[0], std::make_tuple(std::string("http://www.example.com/dir/a.png"),
                                         Opt(), 12, -3));
  ASSERT_EQ(p.texts.size(), 1u);
  EXPECT_EQ(p.texts[0].first, "NoSrc, B, A");

  p = parse("<!--stopindex--><img src=c alt=Hidden><!--startindex-->");
  ASSERT_EQ(p.images.size(), 1u);
  EXPECT_EQ(std::get<1>(p.images[0]), Opt(""));
  EXPECT_TRUE(p.texts.empty());

  p = parse("<meta name=keywords content=k1><meta http-equiv=refresh content=5>"
            "<meta name='DC.Title!x' content=\"T &amp; U\"><meta name=empty content=''>"
            "<meta http-equiv=Expires><META NAME=Description CONTENT=d>");
  EXPECT_EQ(p.texts, (std::vector<std::pair<std::string, std::string>>{
                         {"k1", "keywords:"}, {"T & U", "DC.Titlex:"}, {"d", "Description:"}}));
  EXPECT_EQ(p.headers,
            (std::vector<std::pair<std::string, std::string>>{{"refresh", "5"}}));
}

TEST(HtmlExtract, NoIndexRegionKeepsLinks) {
  Page p = parse("before<!--stopindex--><a href=h.html>hidden</a><!--startindex-->after");
  EXPECT_EQ(p.body, "before\n after");
  EXPECT_EQ(p.summary, "before\n after");
  ASSERT_EQ(p.links.size(), 1u);
  EXPECT_EQ(p.links[0].first, "http://www.example.com/dir/h.html");
}

TEST(HtmlExtract, ListsGrowPastTheirFirstCapacity) {
  std::string html;
  for (int i = 0; i < 600; ++i) html += "<a href=p" + std::to_string(i) + ">l</a>";
  for (int i = 0; i < 20; ++i) html += "<meta http-equiv=h" + std::to_string(i) + " content=c>";
  Page p = parse(html);
  ASSERT_EQ(p.links.size(), 600u);
  EXPECT_EQ(p.links[599].first, "http://www.example.com/dir/p599");
  ASSERT_EQ(p.headers.size(), 20u);
  EXPECT_EQ(p.headers[19].first, "h19");
}

TEST(HtmlExtract, EntityTableShape) {
  EXPECT_EQ(html_entity_value("tilde", 5), 126);  // the second "tilde" is never reached
  EXPECT_EQ(html_entity_value("minus", 5), 45);
  EXPECT_EQ(html_entity_value("Yuml", 4), 159);
  EXPECT_EQ(html_entity_value("nbsp", 4), 160);
  EXPECT_EQ(html_entity_value("yuml", 4), 255);
  EXPECT_EQ(html_entity_value("quest", 5), -1);
  EXPECT_EQ(html_entity_value("am", 2), -1);
  int latin1 = 0;
  for (const HtmlEntity& e : html_entity_table) latin1 += e.value >= 160;
  EXPECT_EQ(latin1, 96);
}

// Random markup-heavy input: the invariants hold and nothing reads or writes
// out of bounds (the sanitizer build runs this too).
TEST(HtmlExtract, RandomMarkupKeepsInvariants) {
  const std::vector<std::string> pieces = {
      "<", ">", "</", "<!", "--", "-", "&", "&#", ";", "=", "\"", "'", "a", "href", "img ",
      "src=", "<a href=", "</a>", "<title>", "</title>", "../", "/./", "//", "#", "?", ":",
      " ", "\t", "\n", "x", "amp", "#9999", "<!--stopindex-->", "<!--startindex-->", "<script>",
      "</script>", "\xA0", "\xE9", "!!!", "<base href=", "<meta name=", "content=", "<area alt="};
  std::mt19937 rng(1234);
  for (int round = 0; round < 3000; ++round) {
    std::string html;
    int n = static_cast<int>(rng() % 60);
    for (int i = 0; i < n; ++i) html += pieces[rng() % pieces.size()];
    ParseResult r;
    ASSERT_TRUE(parse_html_text(html.c_str(), round % 7 ? kBase : "", &r));
    EXPECT_LE(strlen(r.body), html.size());
    EXPECT_LT(strlen(r.summary), 1024u);
    for (int i = 0; i < r.link_count; ++i) {
      std::string url = r.link_urls[i];
      EXPECT_EQ(url.find("/../"), std::string::npos) << html;
      EXPECT_NE(url.find(':'), std::string::npos) << html;
    }
    r.release(&r);
  }
}

// When the arena runs out, entries are dropped and what was kept stays whole.
TEST(HtmlExtract, FullArenaDropsEntriesCleanly) {
  std::string html;
  for (int i = 0; i < 20000; ++i) html += "<p>word <a href=x class=c id=i>l</a> ";
  ParseResult r;
  ASSERT_TRUE(parse_html_text(html.c_str(), kBase, &r));
  EXPECT_GT(r.link_count, 1000);
  EXPECT_LT(r.link_count, 20000);
  for (int i = 0; i < r.link_count; ++i) {
    ASSERT_STREQ(r.link_urls[i], "http://www.example.com/dir/x") << i;
    ASSERT_STREQ(r.link_texts[i], "l") << i;
  }
  EXPECT_EQ(std::string(r.body).substr(0, 16), "word\n l\n word\n l");
  r.release(&r);
}

TEST(HtmlExtract, LargePageUsesPageGranularArena) {
  std::string html;
  while (html.size() < 200000) html += "<p>Some <b>text</b> &amp; a <a href=x.html>link</a>. ";
  ParseResult r;
  ASSERT_TRUE(parse_html_text(html.c_str(), kBase, &r));
  EXPECT_GE(r.arena_size, kArenaPageThreshold);
  EXPECT_LE(strlen(r.body), html.size());
  EXPECT_GT(r.link_count, 1000);
  r.release(&r);
}

// Page-granular arenas are kept for later parses with what their parse left
// in them: a page read in the arena of larger, different pages (two of them
// pass before it, so that its own earlier arena has gone) reads as it did.
TEST(HtmlExtract, AnArenaAnEarlierParseLeftReadsTheSame) {
  std::string page = "<title>The page</title><meta name=description content='What it is'>";
  while (page.size() < 120000)
    page += "<h2>Head</h2><p>Some <b>text</b> &amp; a <a href=x.html>link</a> <img src=i.png alt=pic width=3>. ";
  auto other = [](size_t size) {
    std::string html = "<title>Another title, a longer one</title>";
    while (html.size() < size)
      html += "<p class=zz>Other words &lt;here&gt; <a href='/far/away.html'>far away</a> "
              "<meta name=k content=v><img src=/big.png alt='a picture' height=700>\n";
    return html;
  };
  const std::string larger = other(200000), largest = other(300000);
  const Page alone = parse(page);
  ASSERT_GT(alone.links.size(), 500u);
  for (int round = 0; round < 2; ++round) {
    parse(larger);
    parse(largest);
    const Page again = parse(page);
    EXPECT_EQ(again.title, alone.title);
    EXPECT_EQ(again.summary, alone.summary);
    EXPECT_EQ(again.body, alone.body);
    EXPECT_EQ(again.texts, alone.texts);
    EXPECT_EQ(again.links, alone.links);
    EXPECT_EQ(again.images, alone.images);
    EXPECT_EQ(again.headers, alone.headers);
  }
}

}  // namespace
}  // namespace vorlane::engine
