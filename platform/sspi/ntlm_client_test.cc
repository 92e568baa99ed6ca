#include "platform/sspi/ntlm_client.h"

#include <gtest/gtest.h>
#include <nettle/md4.h>

#include <cstring>
#include <string>

namespace vorlane::sspi {
namespace {

std::string hex(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += {digits[p[i] >> 4], digits[p[i] & 15]};
  return s;
}
std::string hex(const bytes& b) { return hex(b.data(), b.size()); }

bytes unhex(const std::string& s) {
  bytes b;
  for (size_t i = 0; i + 1 < s.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
  return b;
}
bytes text(const char* s) { return bytes(s, s + strlen(s)); }

// The worked example of the published NTLM protocol document.
const char kChallenge[] =
    "4e544c4d53535000020000000c000c003800000033828ae20123456789abcdef00000000000000002400240044000000060070170000000f"
    "53006500720076006500720002000c0044006f006d00610069006e0001000c0053006500720076006500720000000000";
const char kTargetInfo[] = "02000c0044006f006d00610069006e0001000c0053006500720076006500720000000000";
const char kTemp[] =
    "01010000000000000000000000000000aaaaaaaaaaaaaaaa0000000002000c0044006f006d00610069006e0001000c00530065007200"
    "7600650072000000000000000000";

TEST(NtlmClient, Md4Rfc1320Vectors) {
  const struct {
    const char* input;
    const char* digest;
  } cases[] = {
      {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
      {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {"message digest", "d9130a8164549fe818874806e1c7014b"},
      {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
  };
  for (const auto& c : cases) {
    md4_ctx ctx;
    md4_init(&ctx);
    md4_update(&ctx, strlen(c.input), reinterpret_cast<const uint8_t*>(c.input));
    uint8_t d[16];
    md4_digest(&ctx, 16, d);
    EXPECT_EQ(hex(d, 16), c.digest) << c.input;
  }
}

TEST(NtlmClient, HmacMd5Rfc2202Vectors) {
  const struct {
    bytes key, data;
    const char* digest;
  } cases[] = {
      {bytes(16, 0x0b), text("Hi There"), "9294727a3638bb1c13f48ef8158bfc9d"},
      {text("Jefe"), text("what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738"},
      {bytes(16, 0xaa), bytes(50, 0xdd), "56be34521d144c88dbb8c733f0e8b3f6"},
  };
  for (const auto& c : cases) {
    uint8_t d[16];
    hmac_md5(c.key.data(), c.key.size(), c.data.data(), c.data.size(), d);
    EXPECT_EQ(hex(d, 16), c.digest);
  }
}

TEST(NtlmClient, PublishedNtlmV2Example) {
  uint8_t hash[16], owf[16];
  bytes password = text("Password");
  nt_hash(password.data(), password.size(), hash);
  EXPECT_EQ(hex(hash, 16), "a4f49c406510bdcab6824ee7c30fd852");
  ntowf_v2(hash, text("User"), text("Domain"), owf);
  EXPECT_EQ(hex(owf, 16), "0c868a403bfd7a93a3001ef22ef02e3f");

  bytes message = unhex(kChallenge);
  challenge_message challenge;
  ASSERT_TRUE(parse_challenge(message.data(), message.size(), &challenge));
  EXPECT_EQ(challenge.flags, 0xe28a8233u);
  EXPECT_EQ(hex(challenge.server_challenge, 8), "0123456789abcdef");
  EXPECT_EQ(hex(challenge.target_info), kTargetInfo);
  EXPECT_FALSE(challenge.has_timestamp);

  const uint8_t client_challenge[8] = {0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa};
  v2_response r;
  compute_v2_response(owf, challenge, client_challenge, 0, &r);
  EXPECT_EQ(hex(r.nt_response), std::string("68cd0ab851e51c96aabc927bebef6a1c") + kTemp);
  EXPECT_EQ(hex(r.session_base_key, 16), "8de40ccadbc14a82f15cb0ad0de95ca3");
  EXPECT_EQ(hex(r.lm_response), "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa");

  // With a time stamp in the target information the LMv2 response is zeros.
  challenge.has_timestamp = true;
  compute_v2_response(owf, challenge, client_challenge, 0, &r);
  EXPECT_EQ(r.lm_response, bytes(24, 0));
}

TEST(NtlmClient, UpperCaseOfTheUserNameCoversLatin1) {
  const uint8_t name[] = {'a', 'Z', 0xE9, 0xF7, 0xFF, '1'};
  EXPECT_EQ(hex(utf16le(name, sizeof name, true)), "41005a00c900f7007801" "3100");
  EXPECT_EQ(hex(utf16le(name, sizeof name, false)), "61005a00e900f700ff00" "3100");
}

TEST(NtlmClient, ChallengeParsingRefusesBrokenMessages) {
  bytes good = unhex(kChallenge);
  challenge_message c;
  ASSERT_TRUE(parse_challenge(good.data(), good.size(), &c));
  // Too short, wrong signature, wrong type.
  EXPECT_FALSE(parse_challenge(good.data(), 31, &c));
  bytes b = good;
  b[0] = 'X';
  EXPECT_FALSE(parse_challenge(b.data(), b.size(), &c));
  b = good;
  b[8] = 3;
  EXPECT_FALSE(parse_challenge(b.data(), b.size(), &c));
  // Target information beyond the message.
  b = good;
  b[44] = 0xF0;
  EXPECT_FALSE(parse_challenge(b.data(), b.size(), &c));
  // A pair longer than the list, and a list without its end pair.
  b = good;
  b[0x44 + 2] = 0xFF;
  EXPECT_FALSE(parse_challenge(b.data(), b.size(), &c));
  b = good;
  b[40] = 0x20;  // the list cut before its end pair
  EXPECT_FALSE(parse_challenge(b.data(), b.size(), &c));
  // A 32-byte message of an old server has no target information.
  b.assign(good.begin(), good.begin() + 32);
  ASSERT_TRUE(parse_challenge(b.data(), b.size(), &c));
  EXPECT_TRUE(c.target_info.empty());

  // A time stamp pair is found.
  bytes info = {7, 0, 8, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0};
  b.assign(good.begin(), good.begin() + 48);
  b[40] = static_cast<uint8_t>(info.size());
  b[44] = 48;
  b.insert(b.end(), info.begin(), info.end());
  ASSERT_TRUE(parse_challenge(b.data(), b.size(), &c));
  EXPECT_TRUE(c.has_timestamp);
  EXPECT_EQ(c.timestamp, 0x0807060504030201ull);
}

}  // namespace
}  // namespace vorlane::sspi
