// The language identifier with the built models (build/resources/lid): real
// sentences, their languages and, for Japanese, their encodings. Skipped when
// the models were not built.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <iconv.h>
#include <string>
#include <sys/stat.h>

#include "linguistics/lid/lid_engine.h"
#include "linguistics/lid/lid_service.h"

namespace vorlane {
namespace {

const std::string kResources = VORLANE_LID_RESOURCES;

// Converts UTF-8 test text into the encoding (iconv builds the fixtures).
std::string encode(const char* encoding, const std::string& utf8) {
  iconv_t cd = iconv_open(encoding, "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(utf8.size() * 4 + 16, '\0');
  char* ip = const_cast<char*>(utf8.data());
  size_t il = utf8.size();
  char* op = out.data();
  size_t ol = out.size();
  EXPECT_NE(iconv(cd, &ip, &il, &op, &ol), static_cast<size_t>(-1)) << utf8;
  iconv(cd, nullptr, nullptr, &op, &ol);  // the final shift sequence
  iconv_close(cd);
  out.resize(op - out.data());
  return out;
}

struct Sentence {
  const char* language;
  const char* iconv_name;
  int encoding;  // expected CharMapper encoding of the best row
  const char* text;
};

const Sentence kSentences[] = {
    {"english", "ISO-8859-1", 5, "The quick brown fox jumps over the lazy dog while the children were playing in the garden."},
    {"english", "ISO-8859-1", 5, "This is a short description of the weather in the north of the country today."},
    {"german", "ISO-8859-1", 5, "Der schnelle braune Fuchs springt über den faulen Hund, während die Kinder im Garten spielen."},
    {"german", "ISO-8859-1", 5, "Die Regierung hat heute neue Maßnahmen zur Förderung der Wirtschaft beschlossen."},
    {"french", "ISO-8859-1", 5, "Le renard brun rapide saute par-dessus le chien paresseux pendant que les enfants jouent dans le jardin."},
    {"french", "ISO-8859-1", 5, "Nous avons décidé de partir en vacances au bord de la mer avec toute la famille."},
    {"spanish", "ISO-8859-1", 5, "El rápido zorro marrón salta sobre el perro perezoso mientras los niños juegan en el jardín."},
    {"spanish", "ISO-8859-1", 5, "La ciudad tiene muchos museos y parques que los turistas pueden visitar durante el verano."},
    {"italian", "ISO-8859-1", 5, "La volpe veloce salta sopra il cane pigro mentre i bambini giocano nel giardino della casa."},
    {"dutch", "ISO-8859-1", 5, "De snelle bruine vos springt over de luie hond terwijl de kinderen in de tuin spelen."},
    {"portuguese", "ISO-8859-1", 5, "A rápida raposa marrom salta sobre o cão preguiçoso enquanto as crianças brincam no jardim."},
    {"swedish", "ISO-8859-1", 5, "Den snabba bruna räven hoppar över den lata hunden medan barnen leker i trädgården."},
    {"finnish", "ISO-8859-1", 5, "Nopea ruskea kettu hyppää laiskan koiran yli, kun lapset leikkivät puutarhassa."},
    {"danish", "ISO-8859-1", 5, "Den hurtige brune ræv springer over den dovne hund, mens børnene leger i haven."},
    {"bokmal", "ISO-8859-1", 5, "Jeg har ikke hatt tid til å lese boka som du ga meg i går, men jeg skal gjøre det nå."},
    {"latin", "ISO-8859-1", 5, "Gallia est omnis divisa in partes tres, quarum unam incolunt Belgae, aliam Aquitani."},
    {"japanese", "SHIFT_JIS", 19, "これは日本語の文章です。私たちは毎日学校に行きます。"},
    {"japanese", "EUC-JP", 20, "今日はとても良い天気なので、公園で散歩をしましょう。"},
    {"japanese", "SHIFT_JIS", 19, "東京は日本の首都であり、多くの人々が住んでいます。"},
    {"japanese", "EUC-JP", 20, "彼女は図書館で本を読むのが好きだと言っていました。"},
    {"japanese", "ISO-2022-JP", 18, "私の名前は田中です。よろしくお願いします。"},
    // Japanese that names programs and options in ASCII.
    {"japanese", "EUC-JP", 20, "詳細なマニュアルは、 emacs(1) の info モードでも閲覧することができます。"},
    {"japanese", "SHIFT_JIS", 19, "帯域外データ (recv(2) と send(2) の MSG_OOB) は暗号化も圧縮もされない。"},
    {"bokmal", "ISO-8859-1", 5, "Vi påtar oss ikke noe ansvar, i den grad dette tillates av gjeldende lovverk."},
    {"danish", "ISO-8859-1", 5, "Dette er et frit program: du kan frit ændre og videredistribuere det."},
    {"portuguese", "ISO-8859-1", 5, "Linux implementa os protocolos descritos na especificação, com algumas exceções."},
};


bool models_built() {
  struct stat st;
  return stat((kResources + "/vorlane.lng").c_str(), &st) == 0;
}

TEST(LidRealModels, TextWithoutLanguageGetsNoAnswer) {
  if (!models_built()) GTEST_SKIP() << "no models in " << kResources;
  int error = 0;
  lid_engine* e = lid_create((kResources + "/vorlane.ini").c_str(), (kResources + "/vorlane.lng").c_str(), &error);
  ASSERT_NE(e, nullptr) << error;
  for (const std::string text : {"12.5, 3.75 - 1999 (2001) = 42", "1. 2", "\x01\x02\x03\x04\x05\x06"}) {
    lid_result rows[20];
    EXPECT_EQ(lid_identify(e, text.data(), static_cast<int>(text.size()), rows, 20, nullptr, 0), 0) << text;
  }
  lid_destroy(e);
}

TEST(LidRealModels, IdentifiesSentences) {
  if (!models_built()) GTEST_SKIP() << "no models in " << kResources;
  int error = 0;
  lid_engine* e = lid_create((kResources + "/vorlane.ini").c_str(), (kResources + "/vorlane.lng").c_str(), &error);
  ASSERT_NE(e, nullptr) << error;
  int correct = 0;
  std::vector<std::string> texts;
  for (const Sentence& s : kSentences) {
    std::string text = encode(s.iconv_name, s.text);
    texts.push_back(text);
    lid_result rows[20];
    int n = lid_identify(e, text.data(), static_cast<int>(text.size()), rows, 20, nullptr, 0);
    ASSERT_GT(n, 0) << s.text;
    std::string got = lid_language_name(rows[0].language);
    bool ok = got == s.language && rows[0].encoding == s.encoding;
    correct += ok;
    EXPECT_TRUE(ok) << s.text << ": " << got << " in " << rows[0].encoding << " score " << rows[0].score
                    << (n > 1 ? std::string(", then ") + lid_language_name(rows[1].language) + " " +
                                    std::to_string(rows[1].score)
                              : std::string());
  }
  // Throughput over the same texts.
  const int rounds = 200;
  auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < rounds; ++r)
    for (const std::string& t : texts) {
      lid_result rows[20];
      lid_identify(e, t.data(), static_cast<int>(t.size()), rows, 20, nullptr, 0);
    }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("accuracy %d/%zu, %.0f identifications per second\n", correct, std::size(kSentences),
              rounds * texts.size() / seconds);
  lid_destroy(e);
}

}  // namespace
}  // namespace vorlane
