// The built language models on real text they were not built from: the
// sentences of 40 characters or more of the held-out man pages of each
// language (sentences that also occur on a build page left out), ISO 8859-1
// for the Western languages and ISO-2022-JP, Shift-JIS and EUC-JP for
// Japanese (converted by the C library's iconv), identified through the
// service as a caller sees it. Prints each language's figure and the
// confusions of the close pairs. The models are those of build/resources/lid,
// or of the directory $VORLANE_LID_MODELS names.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iconv.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unordered_set>
#include <vector>

#include "linguistics/lid/lid_engine.h"
#include "linguistics/lid/lid_service.h"
#include "tools/lid/lid_model_builder.h"
#include "tools/lid/manpage_text.h"

namespace vorlane::tools {
namespace {

constexpr size_t kMinLength = 40;        // code points
constexpr size_t kPerLanguage = 300;     // sentences evaluated per language
constexpr double kRequired = 0.92;

std::string models_dir() {
  const char* dir = std::getenv("VORLANE_LID_MODELS");
  return dir && *dir ? dir : VORLANE_LID_RESOURCES;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Converts UTF-8 into the encoding; false when a character has no form there.
bool encode(const char* encoding, const std::string& utf8, std::string* out) {
  iconv_t cd = iconv_open(encoding, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(utf8.size() * 4 + 16, '\0');
  char* ip = const_cast<char*>(utf8.data());
  size_t il = utf8.size();
  char* op = out->data();
  size_t ol = out->size();
  bool ok = iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) &&
            iconv(cd, nullptr, nullptr, &op, &ol) != static_cast<size_t>(-1);
  iconv_close(cd);
  out->resize(op - out->data());
  return ok;
}

struct Case {
  int code;              // the language's code
  const char* encoding;  // iconv name
  int number;            // CharMapper's number of that encoding
};

struct Tally {
  int total = 0, right = 0, right_encoding = 0, unanswered = 0;
  std::map<std::string, int> answers;  // wrong answers by language name
};

TEST(LidHeldOut, RealSentences) {
  const std::string dir = models_dir();
  if (!exists(dir + "/vorlane.lng")) GTEST_SKIP() << "no models in " << dir;
  if (package_man_pages("manpages-de").empty()) GTEST_SKIP() << "the translated man pages are not installed";
  ASSERT_EQ(lid_init((dir + "/vorlane.ini").c_str(), (dir + "/vorlane.lng").c_str()), 1);

  std::vector<Case> cases;
  for (const LidSource& s : default_lid_sources()) {
    if (s.package.empty()) continue;
    if (s.characters) {
      cases.push_back({s.code, "ISO-2022-JP", 18});
      cases.push_back({s.code, "SHIFT_JIS", 19});
      cases.push_back({s.code, "EUC-JP", 20});
    } else {
      cases.push_back({s.code, "ISO-8859-1//TRANSLIT", 5});
    }
  }

  std::map<int, std::vector<std::string>> sentences;  // by code
  for (const LidSource& s : default_lid_sources()) {
    if (s.package.empty()) continue;
    script_kind kind = s.characters ? script_kind::japanese : script_kind::latin;
    std::vector<std::string> built = man_sentences(s.package, false, kind, true, kMinLength, 0);
    std::unordered_set<std::string> seen(built.begin(), built.end());
    std::vector<std::string> held = man_sentences(s.package, true, kind, s.code == 1, kMinLength, 0);
    std::vector<std::string>& chosen = sentences[s.code];
    std::vector<std::string> fresh;
    for (std::string& h : held)
      if (!seen.count(h)) fresh.push_back(std::move(h));
    // Evenly spaced over the pages, at most kPerLanguage.
    for (size_t i = 0; i < fresh.size() && chosen.size() < kPerLanguage; ++i)
      if (fresh.size() <= kPerLanguage || i * kPerLanguage / fresh.size() != (i + 1) * kPerLanguage / fresh.size())
        chosen.push_back(fresh[i]);
  }

  Tally all;
  std::vector<std::pair<std::string, Tally>> figures;
  int nb_as_da = 0, da_as_nb = 0, es_as_pt = 0, pt_as_es = 0;
  double seconds = 0;
  for (const Case& c : cases) {
    Tally t;
    const std::string expected = lid_language_name(c.code);
    for (const std::string& s : sentences[c.code]) {
      std::string text;
      if (!encode(c.encoding, s, &text)) continue;
      lid_result rows[20];
      auto start = std::chrono::steady_clock::now();
      int n = lid_top_languages(text.data(), static_cast<int>(text.size()), rows, 20);
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      ++t.total;
      if (n < 1) {
        ++t.unanswered;
        continue;
      }
      std::string got = lid_language_name(rows[0].language);
      if (got == expected) {
        ++t.right;
        t.right_encoding += rows[0].encoding == c.number;
        continue;
      }
      ++t.answers[got];
      nb_as_da += c.code == 9 && rows[0].language == 13;
      da_as_nb += c.code == 13 && rows[0].language == 9;
      es_as_pt += c.code == 4 && rows[0].language == 11;
      pt_as_es += c.code == 11 && rows[0].language == 4;
    }
    all.total += t.total;
    all.right += t.right;
    all.unanswered += t.unanswered;
    figures.push_back({expected + " " + c.encoding, t});
  }
  lid_free();

  for (const auto& [name, t] : figures) {
    std::printf("%-32s %4d/%-4d %5.1f%%", name.c_str(), t.right, t.total, t.total ? 100.0 * t.right / t.total : 0);
    if (name.rfind("japanese", 0) == 0) std::printf("  (encoding right %d)", t.right_encoding);
    if (t.unanswered) std::printf("  no answer %d", t.unanswered);
    for (const auto& [got, n] : t.answers) std::printf("  %s %d", got.c_str(), n);
    std::printf("\n");
    EXPECT_GE(t.total, 50) << name << ": too few held-out sentences";
  }
  const double overall = all.total ? static_cast<double>(all.right) / all.total : 0;
  std::printf("overall %d/%d %.1f%%, no answer %d; bokmal as danish %d, danish as bokmal %d, "
              "spanish as portuguese %d, portuguese as spanish %d; %.0f identifications per second\n",
              all.right, all.total, 100 * overall, all.unanswered, nb_as_da, da_as_nb, es_as_pt, pt_as_es,
              seconds > 0 ? all.total / seconds : 0);
  EXPECT_GE(overall, kRequired);
}

}  // namespace
}  // namespace vorlane::tools
