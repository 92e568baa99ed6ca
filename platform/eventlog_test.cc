#include "platform/eventlog.h"

#include <gtest/gtest.h>
#include <thread>

#include "platform/testing/test_root.h"

namespace vorlane::platform {
namespace {

TEST(EventLog, RecordsRoundTripWithEscapes) {
  TestRoot root;
  EventSource* src = register_event_source("Vorlane Server");
  ASSERT_NE(src, nullptr);
  ASSERT_TRUE(report_event(src, EventType::error, 0, 0, {"a\tb\nc\\d %m %s"}));
  ASSERT_TRUE(report_event(src, EventType::warning, 3, 2, {"x", "y"}));
  deregister_event_source(src);

  auto events = read_eventlog(eventlog_path());
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].source, "Vorlane Server");
  EXPECT_EQ(events[0].type, "error");
  ASSERT_EQ(events[0].strings.size(), 1u);
  EXPECT_EQ(events[0].strings[0], "a\tb\nc\\d %m %s");
  EXPECT_EQ(events[1].type, "warning");
  EXPECT_EQ(events[1].category, 3);
  EXPECT_EQ(events[1].event_id, 2);
  EXPECT_EQ(events[1].strings, (std::vector<std::string>{"x", "y"}));
}

TEST(EventLog, EmptySourceIsRefused) {
  EXPECT_EQ(register_event_source(""), nullptr);
  EXPECT_FALSE(report_event(nullptr, EventType::error, 0, 0, {"lost"}));
}

TEST(EventLog, ConcurrentWritersNeverInterleave) {
  TestRoot root;
  std::vector<std::thread> threads;
  const std::string big(3000, 'z');
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      EventSource* src = register_event_source("Vorlane Server");
      for (int i = 0; i < 50; ++i)
        report_event(src, EventType::information, 0, t, {big + std::to_string(i)});
      deregister_event_source(src);
    });
  }
  for (auto& th : threads) th.join();
  auto events = read_eventlog(eventlog_path());
  ASSERT_EQ(events.size(), 400u);
  for (const auto& e : events) {
    ASSERT_EQ(e.strings.size(), 1u);
    EXPECT_EQ(e.strings[0].compare(0, big.size(), big), 0);
  }
}

}  // namespace
}  // namespace vorlane::platform
