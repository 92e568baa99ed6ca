// The seven package functions, called as the engine calls them.
#include <gtest/gtest.h>
#include <nettle/arcfour.h>

#include <cstring>
#include <string>

#include "platform/computer_name.h"
#include "platform/sspi/ntlm_client.h"
#include "platform/sspi/sspi.h"

extern "C" {
using namespace vorlane::sspi;
sspi_status AcquireCredentialsHandleA(const char*, const char*, uint32_t, void*, void*, void*, void*, sspi_handle*,
                                      sspi_time*);
sspi_status QuerySecurityPackageInfoA(const char*, sspi_package_info**);
sspi_status FreeContextBuffer(void*);
sspi_status InitializeSecurityContextA(sspi_handle*, sspi_handle*, const char*, uint32_t, uint32_t, uint32_t,
                                       sspi_buffer_list*, uint32_t, sspi_handle*, sspi_buffer_list*, uint32_t*,
                                       sspi_time*);
sspi_status CompleteAuthToken(sspi_handle*, sspi_buffer_list*);
sspi_status FreeCredentialsHandle(sspi_handle*);
sspi_status EnumerateSecurityPackagesA(uint32_t*, sspi_package_info**);
}

namespace vorlane::sspi {
namespace {

bytes unhex(const std::string& s) {
  bytes b;
  for (size_t i = 0; i + 1 < s.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
  return b;
}
std::string hex(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += {digits[p[i] >> 4], digits[p[i] & 15]};
  return s;
}
uint32_t get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// A field {length, room, offset} of a message, as bytes.
bytes field(const bytes& m, size_t at) {
  size_t length = m[at] | m[at + 1] << 8;
  size_t offset = get32(&m[at + 4]);
  EXPECT_LE(offset + length, m.size());
  return bytes(m.begin() + static_cast<long>(offset), m.begin() + static_cast<long>(offset + length));
}
bytes wide(const char* s) { return utf16le(reinterpret_cast<const uint8_t*>(s), strlen(s), false); }

const char kChallenge[] =
    "4e544c4d53535000020000000c000c003800000033828ae20123456789abcdef00000000000000002400240044000000060070170000000f"
    "53006500720076006500720002000c0044006f006d00610069006e0001000c0053006500720076006500720000000000";

struct Step {
  sspi_status status;
  bytes token;
};

class Package : public ::testing::Test {
 protected:
  sspi_handle credentials{}, context{};
  bool have_context = false;

  sspi_status acquire(const char* user, const char* domain, const char* password) {
    sspi_identity id{reinterpret_cast<const unsigned char*>(user), static_cast<uint32_t>(strlen(user)),
                     reinterpret_cast<const unsigned char*>(domain), static_cast<uint32_t>(strlen(domain)),
                     reinterpret_cast<const unsigned char*>(password), static_cast<uint32_t>(strlen(password)),
                     kIdentityAnsi};
    sspi_time expiry;
    return AcquireCredentialsHandleA(nullptr, "NTLM", kCredentialsOutbound, nullptr, &id, nullptr, nullptr,
                                     &credentials, &expiry);
  }

  Step step(const bytes* input, uint32_t room = 2888) {
    bytes out(room);
    sspi_buffer out_buffer{room, kTokenBuffer, out.data()};
    sspi_buffer_list out_list{kBufferVersion, 1, &out_buffer};
    bytes in = input ? *input : bytes();
    sspi_buffer in_buffer{static_cast<uint32_t>(in.size()), kTokenBuffer, in.data()};
    sspi_buffer_list in_list{kBufferVersion, 1, &in_buffer};
    uint32_t attributes;
    sspi_time expiry;
    sspi_status s = InitializeSecurityContextA(&credentials, have_context ? &context : nullptr, "InetSvcs", 0, 0,
                                               kNativeDataRepresentation, input ? &in_list : nullptr, 0, &context,
                                               &out_list, &attributes, &expiry);
    if (s >= 0) {
      have_context = true;
      out.resize(out_buffer.size);
    } else {
      out.clear();
    }
    return {s, out};
  }
};

TEST_F(Package, PackageInformation) {
  sspi_package_info* info = nullptr;
  ASSERT_EQ(QuerySecurityPackageInfoA("NTLM", &info), kOk);
  EXPECT_STREQ(info->name, "NTLM");
  EXPECT_EQ(info->max_token, 2888u);
  EXPECT_EQ(FreeContextBuffer(info), kOk);
  EXPECT_EQ(QuerySecurityPackageInfoA("Kerberos", &info), kPackageNotFound);
  uint32_t count = 0;
  ASSERT_EQ(EnumerateSecurityPackagesA(&count, &info), kOk);
  ASSERT_EQ(count, 1u);
  EXPECT_STREQ(info[0].name, "NTLM");
  FreeContextBuffer(info);
}

TEST_F(Package, ExchangeOfThePublishedExample) {
  client_values fixed{{0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa}, 0, {}};
  for (int i = 0; i < 16; ++i) fixed.session_key[i] = static_cast<uint8_t>(0x55 + i);
  fix_client_values(&fixed);

  ASSERT_EQ(acquire("User", "Domain", "Password"), kOk);
  Step first = step(nullptr);
  ASSERT_EQ(first.status, kContinueNeeded);
  ASSERT_EQ(first.token.size(), 40u);
  EXPECT_EQ(hex(first.token.data(), 12), "4e544c4d5353500001000000");
  EXPECT_EQ(get32(&first.token[12]), kClientFlags);

  bytes challenge = unhex(kChallenge);
  Step second = step(&challenge);
  fix_client_values(nullptr);
  ASSERT_EQ(second.status, kOk);
  const bytes& m = second.token;
  EXPECT_EQ(hex(m.data(), 12), "4e544c4d5353500003000000");
  EXPECT_EQ(hex(field(m, 20).data(), field(m, 20).size()),
            "68cd0ab851e51c96aabc927bebef6a1c"
            "01010000000000000000000000000000aaaaaaaaaaaaaaaa0000000002000c0044006f006d00610069006e0001000c005300650072"
            "007600650072000000000000000000");
  EXPECT_EQ(hex(field(m, 12).data(), 24), "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa");
  EXPECT_EQ(field(m, 28), wide("Domain"));
  EXPECT_EQ(field(m, 36), wide("User"));
  char name[16];
  platform::computer_name(name, sizeof name);
  EXPECT_EQ(field(m, 44), wide(name));
  // Unicode texts were agreed, so not OEM ones.
  EXPECT_EQ(get32(&m[60]), 0xe28a8233u & kClientFlags & ~kNegotiateOem);

  // The session key travels RC4-encrypted under SessionBaseKey.
  bytes sealed = field(m, 52);
  ASSERT_EQ(sealed.size(), 16u);
  bytes key = unhex("8de40ccadbc14a82f15cb0ad0de95ca3");
  arcfour_ctx rc4;
  arcfour_set_key(&rc4, 16, key.data());
  uint8_t opened[16];
  arcfour_crypt(&rc4, 16, opened, sealed.data());
  EXPECT_EQ(memcmp(opened, fixed.session_key, 16), 0);

  // A third step is out of sequence.
  EXPECT_EQ(step(&challenge).status, kOutOfSequence);
  EXPECT_EQ(FreeCredentialsHandle(&credentials), kOk);
}

TEST_F(Package, RefusalsAndFreeingTheCredentialsFreesTheirContexts) {
  sspi_handle none{};
  EXPECT_EQ(AcquireCredentialsHandleA(nullptr, "NTLM", kCredentialsOutbound, nullptr, nullptr, nullptr, nullptr,
                                      &none, nullptr),
            kNoCredentials);
  EXPECT_EQ(AcquireCredentialsHandleA(nullptr, "Negotiate", kCredentialsOutbound, nullptr, nullptr, nullptr, nullptr,
                                      &none, nullptr),
            kPackageNotFound);
  ASSERT_EQ(acquire("u", "d", "p"), kOk);
  ASSERT_EQ(step(nullptr).status, kContinueNeeded);
  bytes junk = {1, 2, 3};
  EXPECT_EQ(step(&junk).status, kInvalidToken);
  EXPECT_EQ(step(nullptr).status, kInvalidToken);  // a second step needs a token
  bytes challenge = unhex(kChallenge);
  EXPECT_EQ(step(&challenge, 40).status, kBufferTooSmall);
  EXPECT_EQ(CompleteAuthToken(&context, nullptr), kOk);

  sspi_handle saved_credentials = credentials;
  EXPECT_EQ(FreeCredentialsHandle(&credentials), kOk);
  // Both handles are dead now: the context went with its credentials.
  EXPECT_EQ(FreeCredentialsHandle(&saved_credentials), kInvalidHandle);
  EXPECT_EQ(CompleteAuthToken(&context, nullptr), kInvalidHandle);
  credentials = saved_credentials;
  EXPECT_EQ(step(&challenge).status, kInvalidHandle);
}

}  // namespace
}  // namespace vorlane::sspi
