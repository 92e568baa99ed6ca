#include "engine/transfer/transfer.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/transfer/index_layout.h"
#include "platform/testing/test_root.h"

namespace vorlane::engine {
namespace {

using Bytes = std::vector<uint8_t>;

void write_file(const std::string& path, const void* data, size_t n) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
}
void write_words(const std::string& path, const std::vector<uint32_t>& w) { write_file(path, w.data(), w.size() * 4); }

Bytes read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

uint32_t be32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
         static_cast<uint32_t>(b[at + 2]) << 8 | b[at + 3];
}
uint64_t be64(const Bytes& b, size_t at) { return static_cast<uint64_t>(be32(b, at)) << 32 | be32(b, at + 4); }

// One run of the sender over a socket pair; the test's side reads
// everything until the sender's end closes.
struct SendRun {
  bool ok;
  int64_t sent;
  std::string error;
  Bytes received;
};

SendRun send_file(const std::string& path, int kind, bool nonblocking = false) {
  int sv[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  if (nonblocking) fcntl(sv[0], F_SETFL, fcntl(sv[0], F_GETFL) | O_NONBLOCK);
  SendRun run{};
  std::thread sender([&] {
    run.ok = copy_from_file(sv[0], path.c_str(), kind, &run.sent, &run.error);
    close(sv[0]);
  });
  if (nonblocking) std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the buffer fill
  char buf[8192];
  for (ssize_t n; (n = read(sv[1], buf, sizeof buf)) > 0;) run.received.insert(run.received.end(), buf, buf + n);
  sender.join();
  close(sv[1]);
  return run;
}

// A term record as the model of the test holds it.
struct Term {
  uint32_t hash1, hash2, docf, norm;
  std::vector<uint32_t> postings;
  bool operator==(const Term&) const = default;
};

// The record as stored: compact when it has one or two postings (unless
// forced full), the full form otherwise.
std::vector<uint32_t> stored(const Term& t, bool full) {
  if (!full && t.postings.size() == 1) return {t.hash1 | kCompactFlag, t.hash2, t.postings[0]};
  if (!full && t.postings.size() == 2)
    return {t.hash1 | kCompactFlag, t.hash2 | kCompactFlag, t.postings[0], t.postings[1]};
  std::vector<uint32_t> w(kRecHeaderWords);
  rec_set_header(w.data(), t.hash1, t.hash2, t.docf, t.norm, static_cast<uint32_t>(t.postings.size()));
  w.insert(w.end(), t.postings.begin(), t.postings.end());
  w.push_back(kRecEndMark);
  return w;
}

// Reads the big-endian stream back as a host of the other layout would.
std::vector<Term> decode_term_stream(const Bytes& b) {
  std::vector<Term> out;
  size_t at = 0;
  while (at < b.size()) {
    Term t{};
    uint32_t w0 = be32(b, at), w1 = be32(b, at + 4);
    if (static_cast<int32_t>(w0) > 0) {
      uint32_t w2 = be32(b, at + 8), w3 = be32(b, at + 12);
      t = {w0, w1, w2 >> 7, w2 & 127, {}};
      uint32_t count = w3 & 0x1FFFF;
      EXPECT_EQ(w3 >> 17, 0u) << "free";
      for (uint32_t i = 0; i < count; ++i) t.postings.push_back(be32(b, at + 16 + 4 * i));
      EXPECT_EQ(be32(b, at + 16 + 4 * count), kRecEndMark);
      at += 4 * (count + 5);
    } else {
      bool two = static_cast<int32_t>(w1) < 0;
      t = {w0 & ~kCompactFlag, w1 & ~kCompactFlag, two ? 2u : 1u, 0, {be32(b, at + 8)}};
      if (two) t.postings.push_back(be32(b, at + 12));
      at += two ? 16 : 12;
    }
    out.push_back(t);
  }
  return out;
}

class Transfer : public ::testing::Test {
 protected:
  platform::TestRoot root;
  std::string file(const char* name) { return root.file(name); }
};

TEST_F(Transfer, PlainKindsSendTheBytesUnchanged) {
  Bytes data(200001);
  std::mt19937 rng(7);
  for (auto& c : data) c = static_cast<uint8_t>(rng());
  write_file(file("plain"), data.data(), data.size());
  for (int kind : {0, 3, 5, -1}) {
    SendRun r = send_file(file("plain"), kind);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.sent, 200001);
    EXPECT_EQ(r.received, data) << "kind " << kind;
  }
  write_file(file("empty"), "", 0);
  SendRun r = send_file(file("empty"), 4);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.sent, 0);
}

TEST_F(Transfer, WordKindsReverseEveryWordAcrossBlocks) {
  // 12 bytes, and a file of several 64 KB blocks.
  write_words(file("three"), {1, 0x01020304, 0xFFFFFF80u});
  SendRun r = send_file(file("three"), 4);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.sent, 12);
  EXPECT_EQ(be32(r.received, 0), 1u);
  EXPECT_EQ(be32(r.received, 4), 0x01020304u);
  EXPECT_EQ(be32(r.received, 8), 0xFFFFFF80u);

  std::vector<uint64_t> words(40000);
  for (size_t i = 0; i < words.size(); ++i) words[i] = 0x0102030405060708ull * (i + 1);
  write_file(file("wide"), words.data(), words.size() * 8);
  r = send_file(file("wide"), 8);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.received.size(), words.size() * 8);
  for (size_t i = 0; i < words.size(); ++i) ASSERT_EQ(be64(r.received, i * 8), words[i]) << i;

  r = send_file(file("wide"), 4);
  ASSERT_TRUE(r.ok) << r.error;
  const uint32_t* w32 = reinterpret_cast<const uint32_t*>(words.data());
  for (size_t i = 0; i < words.size() * 2; ++i) ASSERT_EQ(be32(r.received, i * 4), w32[i]) << i;
}

TEST_F(Transfer, DirectoryHeaderOnceThenEntriesWithThePackedWordMoved) {
  write_words(file("dir"), {1, 2, 9, 40000, 0x10, 0x20, 0, (20u << 8) | 0, 0x30, 0x40, 8180, (24u << 8) | 1});
  SendRun r = send_file(file("dir"), 1);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.sent, 48);
  const uint32_t expected[12] = {1, 2, 9, 40000, 0x10, 0x20, 0, 0u << 24 | 20, 0x30, 0x40, 8180, 1u << 24 | 24};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(be32(r.received, i * 4), expected[i]) << i;

  // 6000 entries cross the 64 KB block boundary: only the first record of
  // the file is treated as the header.
  std::vector<uint32_t> big = {100, 6000, 123456, 40000};
  for (uint32_t k = 0; k < 6000; ++k) big.insert(big.end(), {k + 1, k + 2, k * 100, (k + 16) << 8 | (k % 100)});
  write_words(file("bigdir"), big);
  r = send_file(file("bigdir"), 1);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.received.size(), big.size() * 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(be32(r.received, i * 4), big[i]);
  for (uint32_t k = 0; k < 6000; ++k) {
    size_t at = 16 + 16 * size_t{k};
    ASSERT_EQ(be32(r.received, at), k + 1);
    ASSERT_EQ(be32(r.received, at + 8), k * 100);
    ASSERT_EQ(be32(r.received, at + 12), (k % 100) << 24 | (k + 16)) << k;
  }
}

TEST_F(Transfer, TermFileRecordsAllFormsDecodeBack) {
  std::vector<Term> terms;
  std::vector<uint32_t> words;
  std::mt19937 rng(11);
  for (uint32_t i = 0; i < 300; ++i) {
    Term t{i * 2 + 1, 0x7FFFFFF0u - i, 0, i % 128, {}};
    size_t count = i == 150 ? kMaxRecCount : i % 5 == 0 ? 1 : i % 5 == 1 ? 2 : 3 + rng() % 200;
    uint32_t docid = 0;
    for (size_t k = 0; k < count; ++k) t.postings.push_back((docid += 1 + rng() % 3) << 7 | (1 + rng() % 127));
    t.docf = static_cast<uint32_t>(count) + (i % 3 == 0 ? 0 : 17);
    bool full = count > 2 || i % 10 == 6;  // some short records in the full form
    if (!full) t.norm = 0, t.docf = static_cast<uint32_t>(count);
    auto w = stored(t, full);
    words.insert(words.end(), w.begin(), w.end());
    terms.push_back(t);
  }
  write_words(file("tf0"), words);
  SendRun r = send_file(file("tf0"), 2);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.sent, static_cast<int64_t>(words.size() * 4));
  std::vector<Term> back = decode_term_stream(r.received);
  ASSERT_EQ(back.size(), terms.size());
  for (size_t i = 0; i < terms.size(); ++i) ASSERT_EQ(back[i], terms[i]) << "record " << i;
}

TEST_F(Transfer, TermFileFaultsStopWithTheirTextAndKeepWhatWasSent) {
  const std::vector<uint32_t> good = {5, 6, 1, 1u << 15, 3u << 7 | 1, kRecEndMark};  // 24 bytes
  struct Case {
    const char* what;
    std::vector<uint32_t> bad;
    std::string error;  // "%s" stands for the path
  } cases[] = {
      {"count 0", {5, 6, 1, 0u << 15, kRecEndMark}, "size==0: %s"},
      {"docf below count", {5, 6, 1, 2u << 15, 1u << 7, 2u << 7, kRecEndMark}, "docf(1)<size(2): %s"},
      {"no end mark", {5, 6, 2, 2u << 15, 1u << 7, 2u << 7, 0}, "missing ENDTERMLIST: %s"},
      {"negative second hash", {5, 0x80000006u, 1, 1u << 15}, "h1 < 0: %s"},
      {"spare words", {5, 6, 1, 1u << 15 | 1, 1u << 7, kRecEndMark, 0}, "free(1)!=0: %s"},
      {"cut header", {5, 6}, "fread 1*12 %s: unexpected end of file"},
      {"cut word 3", {5, 6, 1}, "fread 4*1 %s: unexpected end of file"},
      {"cut postings", {5, 6, 3, 3u << 15, 1u << 7}, "fread 4*3 %s: unexpected end of file"},
      {"cut second posting", {5 | kCompactFlag, 6 | kCompactFlag, 1u << 7}, "fread 4*1 %s: unexpected end of file"},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> w = good;
    w.insert(w.end(), c.bad.begin(), c.bad.end());
    write_words(file("tf1"), w);
    SendRun r = send_file(file("tf1"), 2);
    std::string expected = c.error;
    expected.replace(expected.find("%s"), 2, file("tf1"));
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.error, expected) << c.what;
    EXPECT_EQ(r.sent, 24) << c.what;
    EXPECT_EQ(r.received.size(), 24u) << c.what;
  }
}

TEST_F(Transfer, FileEndingInsideAUnitFailsInsteadOfLooping) {
  const struct {
    int kind;
    size_t size;
    int64_t sent;
  } cases[] = {{4, 10, 8}, {4, 3, 0}, {8, 12, 8}, {1, 40, 32}, {1, 15, 0}, {4, 65536 + 2, 65536}};
  for (const auto& c : cases) {
    Bytes data(c.size, 0x5A);
    write_file(file("odd"), data.data(), data.size());
    SendRun r = send_file(file("odd"), c.kind);
    EXPECT_FALSE(r.ok) << c.kind << "/" << c.size;
    EXPECT_EQ(r.sent, c.sent) << c.kind << "/" << c.size;
    EXPECT_EQ(r.received.size(), static_cast<size_t>(c.sent));
    EXPECT_NE(r.error.find("file ends inside a"), std::string::npos) << r.error;
  }
}

TEST_F(Transfer, OpenAndSendFailures) {
  SendRun r = send_file(file("missing"), 0);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "open " + file("missing") + ": No such file or directory");
  r = send_file(file("missing"), 2);
  EXPECT_EQ(r.error, "open " + file("missing") + ": No such file or directory");

  // The peer is gone: the error number shows, and no SIGPIPE ends the test.
  Bytes data(100000, 1);
  write_file(file("data"), data.data(), data.size());
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  close(sv[1]);
  int64_t sent = -1;
  std::string error;
  EXPECT_FALSE(copy_from_file(sv[0], file("data").c_str(), 0, &sent, &error));
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(error, "send 0: " + std::to_string(EPIPE));
  close(sv[0]);
}

TEST_F(Transfer, NonBlockingSocketWaitsForRoom) {
  Bytes data(3 * 1024 * 1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
  write_file(file("big"), data.data(), data.size());
  SendRun r = send_file(file("big"), 0, true);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.received, data);

  // A reader that never reads: the wait for room is bounded.
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  fcntl(sv[0], F_SETFL, fcntl(sv[0], F_GETFL) | O_NONBLOCK);
  int saved = send_wait_ms;
  send_wait_ms = 200;
  int64_t sent = 0;
  std::string error;
  EXPECT_FALSE(copy_from_file(sv[0], file("big").c_str(), 0, &sent, &error));
  send_wait_ms = saved;
  EXPECT_GT(sent, 0);
  EXPECT_EQ(error, "send " + std::to_string(sent) + ": " + std::to_string(ETIMEDOUT));
  close(sv[0]);
  close(sv[1]);
}

TEST_F(Transfer, ReceiveWritesFirstBytesAndEverythingUntilThePeerCloses) {
  // An existing longer file keeps only what was received.
  Bytes junk(500000, 'x');
  write_file(file("out"), junk.data(), junk.size());
  Bytes data(300000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  std::thread peer([&] {
    for (size_t at = 0; at < data.size(); at += 70000) {
      ASSERT_GT(write(sv[1], data.data() + at, std::min<size_t>(70000, data.size() - at)), 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    close(sv[1]);
  });
  int64_t written = 0;
  std::string error;
  EXPECT_TRUE(copy_to_file(sv[0], file("out").c_str(), "HEAD", 4, 5, &written, &error)) << error;
  peer.join();
  close(sv[0]);
  EXPECT_EQ(written, 300004);
  Bytes expected(4 + data.size());
  memcpy(expected.data(), "HEAD", 4);
  memcpy(expected.data() + 4, data.data(), data.size());
  EXPECT_EQ(read_file(file("out")), expected);
}

TEST_F(Transfer, ReceiveTimesOutKeepingTheFirstBytes) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  int64_t written = 0;
  std::string error;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(copy_to_file(sv[0], file("out").c_str(), "first", 5, 1, &written, &error));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(error, "timeout");
  EXPECT_GE(seconds, 0.9);
  EXPECT_LT(seconds, 3.0);
  EXPECT_EQ(read_file(file("out")), (Bytes{'f', 'i', 'r', 's', 't'}));

  EXPECT_FALSE(copy_to_file(sv[0], root.file("no/such/dir").c_str(), "", 0, 1, &written, &error));
  EXPECT_EQ(error, "open " + root.file("no/such/dir") + ": No such file or directory");

  // Not a socket: the wait succeeds (the null device is always readable)
  // but the request for the waiting bytes fails.
  int fd = open("/dev/null", O_RDONLY);
  EXPECT_FALSE(copy_to_file(fd, file("out2").c_str(), "", 0, 1, &written, &error));
  EXPECT_EQ(error.rfind("ioctlsocket FIONREAD 0: ", 0), 0u) << error;
  close(fd);
  close(sv[0]);
  close(sv[1]);
}

}  // namespace
}  // namespace vorlane::engine
