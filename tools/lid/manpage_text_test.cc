#include "tools/lid/manpage_text.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include "platform/testing/test_root.h"

namespace vorlane::tools {
namespace {

TEST(RoffParagraphs, KeepsRunningTextOnly) {
  const std::string roff =
      ".\\\" a comment that is no text\n"
      ".TH LS 1 \"2022\" \"GNU\"\n"
      ".SH BESCHREIBUNG\n"
      "Auflistung von \\fBInformationen\\fP über die \\fI\\,DATEIen\\/\\fP\\-Einträge.\n"
      "Zweite Zeile mit \\(aqZitat\\(aq und \\[u00E9]t\\['e] \\*(lqda\\*(rq\\s-1klein\\s+1.\n"
      ".B \\-\\-all\n"
      "ist eine Option. \\\" trailing comment\n"
      ".nf\n"
      "ls \\-l /tmp\n"
      ".fi\n"
      ".TP\n"
      "\\fB\\-a\\fP, \\fB\\-\\-all\\fP\n"
      "Einträge nicht ignorieren.\n"
      ".PP\n"
      "Siehe\n"
      ".BR ls (1)\n"
      "und mehr.\n"
      ".TS\n"
      "tab(:);\n"
      "l l.\n"
      ".TE\n"
      ".de XX\n"
      "macro body\n"
      "..\n"
      "\n"
      "Letzter Absatz.\n";
  std::vector<std::string> want = {
      "Auflistung von Informationen über die DATEIen-Einträge. Zweite Zeile mit 'Zitat' und "
      "été \"da\"klein. --all ist eine Option.",
      "-a, --all",
      "Einträge nicht ignorieren.",
      "Siehe ls(1) und mehr.",
      "Letzter Absatz.",
  };
  EXPECT_EQ(roff_paragraphs(roff), want);
}

TEST(SplitSentences, WesternAndJapaneseEnds) {
  EXPECT_EQ(split_sentences("Eins ist gut. Zwei  auch!  Version 2.5 ist da? vier"),
            (std::vector<std::string>{"Eins ist gut.", "Zwei auch!", "Version 2.5 ist da?", "vier"}));
  EXPECT_EQ(split_sentences("これは文です。次の文！最後"),
            (std::vector<std::string>{"これは文です。", "次の文！", "最後"}));
  EXPECT_EQ(utf8_length("für 日本"), 6u);
}

TEST(SentenceFilters, ProseAndEnglish) {
  struct Row {
    const char* text;
    bool latin_prose, japanese_prose, english;
  } rows[] = {
      {"The file is removed when the last link to it has gone.", true, false, true},
      {"Die Datei wird entfernt, wenn der letzte Verweis fehlt.", true, false, false},
      {"De fil som ikke eksisterer, blir ignorert av programmet.", true, false, false},
      {"Dit is of wordt een bestand met een naam.", true, false, false},  // Dutch "is", "of"
      {"ls -l /usr/share/man/man1 | grep '^-' > /tmp/x", false, false, true},
      {"Konverter et system-filnavn til et GRUB-filnavn.", true, false, false},
      {"このモデルは Linux カーネルでサポートされている。", false, true, false},
      {"Use the xterm(1) program with this option.", true, false, true},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(looks_like_prose(r.text, script_kind::latin), r.latin_prose) << r.text;
    EXPECT_EQ(looks_like_prose(r.text, script_kind::japanese), r.japanese_prose) << r.text;
    EXPECT_EQ(looks_english(r.text), r.english) << r.text;
  }
}

TEST(ManPages, GzipAndTheFixedSplit) {
  platform::TestRoot root;
  std::string path = root.file("page.1.gz");
  gzFile f = gzopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  const std::string text(100000, 'x');
  ASSERT_EQ(gzwrite(f, text.data(), static_cast<unsigned>(text.size())), static_cast<int>(text.size()));
  gzclose(f);
  std::string back;
  ASSERT_TRUE(read_gzip_file(path, &back));
  EXPECT_EQ(back, text);
  EXPECT_FALSE(read_gzip_file(root.file("missing.gz"), &back));

  // The split depends on the file name alone, and holds out about a fifth.
  EXPECT_EQ(is_held_out_page("/usr/share/man/de/man1/ls.1.gz"), is_held_out_page("/usr/share/man/man1/ls.1.gz"));
  int held = 0;
  for (int i = 0; i < 1000; ++i) held += is_held_out_page("page" + std::to_string(i) + ".1.gz");
  EXPECT_GT(held, 150);
  EXPECT_LT(held, 250);
  EXPECT_TRUE(package_man_pages("no-such-package-here").empty());
  EXPECT_TRUE(package_man_pages("x; rm -rf /").empty());
}

}  // namespace
}  // namespace vorlane::tools
