#include "linguistics/lid/lid_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "linguistics/testing/lid_test_model.h"
#include "platform/testing/test_root.h"
#include "store/testing/log_capture.h"

namespace vorlane {
namespace {

class LidServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lid_write_language_file(root.file("tiny.lng").c_str(), lid_test::tiny_model()));
    lid_test::write_text(root.file("lid.ini"), "-300\n5 L 1 5 12\n");
    ini = root.file("lid.ini");
    lang = root.file("tiny.lng");
  }
  void TearDown() override { lid_free(); }

  platform::TestRoot root;
  std::string ini, lang;
};

TEST_F(LidServiceTest, IdentifiesTheFirst298Bytes) {
  ASSERT_EQ(lid_init(ini.c_str(), lang.c_str()), 1);
  // 298 bytes of "the cat " then text that would drag English down.
  std::string text;
  while (text.size() < 298) text += "the cat ";
  text.resize(298);
  std::string longer = text + std::string(702, 'q');
  lid_result got[20], head[20], whole[20];
  int n = lid_top_languages(longer.data(), static_cast<int>(longer.size()), got, 20);
  ASSERT_GT(n, 0);
  ASSERT_EQ(lid_identify(the_lid_handle.load(), text.data(), 298, head, 20, nullptr, 0), n);
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(got[i].language, head[i].language);
    EXPECT_EQ(got[i].score, head[i].score);
  }
  int all = lid_identify(the_lid_handle.load(), longer.data(), 1000, whole, 20, nullptr, 0);
  EXPECT_TRUE(all != n || whole[0].score != got[0].score);  // the cut matters
}

TEST_F(LidServiceTest, ShortTextsAndNoEngineLogOrNot) {
  lid_result rows[4];
  {
    LogCapture log;
    EXPECT_EQ(lid_top_languages("the cat", 7, rows, 4), 0);
    EXPECT_EQ(log.all(), "the_lid_handle not initialized\n\n");
  }
  ASSERT_EQ(lid_init(ini.c_str(), lang.c_str()), 1);
  LogCapture log;
  EXPECT_EQ(lid_top_languages("th", 2, rows, 4), 0);
  EXPECT_EQ(lid_top_languages(nullptr, 7, rows, 4), 0);
  EXPECT_EQ(lid_top_languages("the cat", 7, nullptr, 4), 0);
  EXPECT_EQ(lid_top_languages("xyz qrs", 7, rows, 4), 0);  // no row above 20: not an error
  EXPECT_TRUE(log.lines().empty()) << log.all();
  EXPECT_EQ(lid_top_languages("the cat", 7, rows, 0), 0);  // capacity 0: -29, logged
  EXPECT_EQ(log.all(), "lid error -29 (invalid argument)\n\n");
  EXPECT_EQ(log.lines()[0].level, LOG_WARNING);
}

TEST_F(LidServiceTest, InitOnceFreeAndInitAgain) {
  {
    LogCapture log;
    EXPECT_EQ(lid_init(root.file("missing.ini").c_str(), lang.c_str()), 0);
    EXPECT_EQ(log.all(), "lid error -51 (init file not found)\n\n");
    EXPECT_EQ(the_lid_handle.load(), nullptr);
  }
  ASSERT_EQ(lid_init(ini.c_str(), lang.c_str()), 1);
  lid_engine* first = the_lid_handle.load();
  EXPECT_EQ(lid_init("elsewhere.ini", "elsewhere.lng"), 1);  // paths ignored
  EXPECT_EQ(the_lid_handle.load(), first);

  int code1 = 0, score1 = 0, code2 = -1, score2 = -1;
  EXPECT_EQ(lid_top_two("the cat", 7, &code1, &score1, &code2, &score2), 2);
  EXPECT_EQ(code1, 1);
  EXPECT_EQ(score1, 90);
  EXPECT_EQ(code2, 12);
  EXPECT_EQ(score2, 29);

  EXPECT_EQ(lid_free(), 1);
  EXPECT_EQ(the_lid_handle.load(), nullptr);
  EXPECT_EQ(lid_free(), 1);
  lid_result rows[2];
  {
    LogCapture log;
    EXPECT_EQ(lid_top_languages("the cat", 7, rows, 2), 0);
    EXPECT_TRUE(log.contains("the_lid_handle not initialized"));
  }
  ASSERT_EQ(lid_init(ini.c_str(), lang.c_str()), 1);
  EXPECT_EQ(lid_top_languages("the cat", 7, rows, 2), 2);
}

TEST_F(LidServiceTest, NameAndErrorTables) {
  const std::pair<int, const char*> names[] = {
      {1, "english"}, {2, "english"}, {41, "english"}, {3, "french"}, {15, "french"},
      {4, "spanish"}, {17, "spanish"}, {18, "spanish"}, {19, "spanish"}, {5, "german"},
      {14, "german"}, {6, "italian"}, {7, "dutch"}, {8, "finnish"}, {9, "bokmal"},
      {10, "swedish"}, {11, "portuguese"}, {37, "portuguese"}, {12, "japanese"}, {13, "danish"},
      {36, "chinese"}, {42, "latin"}, {20, "unknown"}, {0, "unknown"}, {43, "unknown"}, {-1, "unknown"},
  };
  for (auto& [code, name] : names) EXPECT_STREQ(lid_language_name(code), name) << code;
  const std::pair<int, const char*> errors[] = {
      {0, "no error"}, {-3, "out of memory"}, {-28, "null pointer"}, {-29, "invalid argument"},
      {-42, "internal buffer overflow"}, {-51, "init file not found"}, {-52, "init file error"},
      {-53, "language file not found"}, {-54, "language file error"}, {-55, "encoding not recognized"},
      {-56, "mapping file not found"}, {-57, "mapping file error"}, {-58, "mapper_not_initialized"},
      {-59, "character_encoding_error"}, {-60, "language code not recognized"}, {-1, "unknown error code"},
      {5, "unknown error code"},
  };
  for (auto& [code, text] : errors) EXPECT_STREQ(lid_error_text(code), text) << code;
  LogCapture log;
  EXPECT_EQ(lid_report_error(3), 0);
  EXPECT_EQ(lid_report_error(0), 0);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(LidServiceTest, FreeWhileOthersIdentify) {
  ASSERT_EQ(lid_init(ini.c_str(), lang.c_str()), 1);
  LogCapture log;  // "not initialized" lines are expected once the engine is gone
  std::atomic<bool> stop{false};
  std::atomic<int> identified{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      lid_result rows[4];
      while (!stop.load()) {
        int n = lid_top_languages("the cat sat", 11, rows, 4);
        if (n > 0) {
          EXPECT_EQ(rows[0].language, 1);
          identified.fetch_add(1);
        }
      }
    });
  while (identified.load() < 50) std::this_thread::yield();
  for (int round = 0; round < 5; ++round) {
    EXPECT_EQ(lid_free(), 1);
    ASSERT_EQ(lid_init(ini.c_str(), lang.c_str()), 1);
  }
  stop.store(true);
  for (std::thread& t : threads) t.join();
  EXPECT_GE(identified.load(), 50);
}

}  // namespace
}  // namespace vorlane
