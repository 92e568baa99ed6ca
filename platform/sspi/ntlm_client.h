// The client side of NTLMv2 authentication: the NEGOTIATE message, the
// server's CHALLENGE, and the AUTHENTICATE message with the NTLMv2 response.
//
// Messages (all numbers little-endian; a "field" is {length 2, room 2,
// offset 4} pointing into the message's payload):
//   NEGOTIATE     "NTLMSSP\0", type 1, flags, domain field, workstation
//                 field (both empty), version (8 bytes): 40 bytes
//   CHALLENGE     "NTLMSSP\0", type 2, target-name field (12), flags (20),
//                 server challenge (24, 8 bytes), reserved (32, 8 bytes),
//                 target-information field (40)
//   AUTHENTICATE  "NTLMSSP\0", type 3, LM response field (12), NT response
//                 field (20), domain field (28), user field (36), workstation
//                 field (44), encrypted session key field (52), flags (60),
//                 version (64, 8 bytes, when the version flag was agreed),
//                 then the payload
// The version (major, minor, build 2, 3 zero bytes, revision 15) is for
// information only; some servers refuse a NEGOTIATE message without it.
// Target information is a list of {id 2, length 2, value} pairs ended by
// id 0; id 7 holds the server's time stamp (8 bytes, 100 ns since 1601).
//
// The NTLMv2 response:
//   NT hash          MD4(UTF-16LE(password))
//   NTOWFv2          HMAC-MD5(NT hash, UTF-16LE(upper(user) + domain))
//   temp             1, 1, 6 zero bytes, time stamp, client challenge,
//                    4 zero bytes, target information, 4 zero bytes
//   NTProofStr       HMAC-MD5(NTOWFv2, server challenge + temp)
//   NT response      NTProofStr + temp
//   LMv2 response    24 zero bytes when the target information has a time
//                    stamp, else HMAC-MD5(NTOWFv2, server challenge + client
//                    challenge) + client challenge
//   SessionBaseKey   HMAC-MD5(NTOWFv2, NTProofStr), the key-exchange key;
//                    with key exchange the session key sent is a random
//                    16-byte key encrypted with RC4 under it.
// Texts given to the client are ANSI (Latin-1); UTF-16 forms map each byte
// to one code unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorlane::sspi {

using bytes = std::vector<uint8_t>;

inline constexpr uint32_t kNegotiateUnicode = 0x00000001;
inline constexpr uint32_t kNegotiateOem = 0x00000002;
inline constexpr uint32_t kRequestTarget = 0x00000004;
inline constexpr uint32_t kNegotiateNtlm = 0x00000200;
inline constexpr uint32_t kNegotiateAlwaysSign = 0x00008000;
inline constexpr uint32_t kNegotiateExtendedSessionSecurity = 0x00080000;
inline constexpr uint32_t kNegotiateTargetInfo = 0x00800000;
inline constexpr uint32_t kNegotiateVersion = 0x02000000;
inline constexpr uint32_t kNegotiate128 = 0x20000000;
inline constexpr uint32_t kNegotiateKeyExchange = 0x40000000;
inline constexpr uint32_t kNegotiate56 = 0x80000000;

// What this client asks for in its NEGOTIATE message.
inline constexpr uint32_t kClientFlags = kNegotiateUnicode | kNegotiateOem | kRequestTarget | kNegotiateNtlm |
                                         kNegotiateAlwaysSign | kNegotiateExtendedSessionSecurity |
                                         kNegotiateVersion | kNegotiate128 | kNegotiateKeyExchange |
                                         kNegotiate56;

// Latin-1 text as UTF-16LE; with upper set, letters are upper-cased first.
bytes utf16le(const uint8_t* text, size_t n, bool upper);

void hmac_md5(const uint8_t* key, size_t key_length, const uint8_t* data, size_t n, uint8_t digest[16]);
void nt_hash(const uint8_t* password, size_t n, uint8_t digest[16]);
void ntowf_v2(const uint8_t nt_hash[16], const bytes& user, const bytes& domain, uint8_t owf[16]);

bytes negotiate_message();

struct challenge_message {
  uint32_t flags = 0;
  uint8_t server_challenge[8] = {};
  bytes target_info;
  bool has_timestamp = false;
  uint64_t timestamp = 0;
};

// False when data is not a well-formed CHALLENGE message.
bool parse_challenge(const uint8_t* data, size_t n, challenge_message* out);

struct v2_response {
  bytes nt_response;
  bytes lm_response;
  uint8_t session_base_key[16];
};

void compute_v2_response(const uint8_t owf[16], const challenge_message& challenge,
                         const uint8_t client_challenge[8], uint64_t timestamp, v2_response* out);

// Who authenticates: Latin-1 texts, and NTOWFv2 computed from the password.
struct client_identity {
  bytes user;
  bytes domain;
  bytes workstation;
  uint8_t owf[16];
};

// Empty when a text or the target information is too long for its field.
bytes authenticate_message(const client_identity& identity, const challenge_message& challenge);

// The values an exchange draws at random or takes from the clock. Tests fix
// them (null: random again); the time stamp is used only when the server's
// target information carries none.
struct client_values {
  uint8_t client_challenge[8];
  uint64_t timestamp;
  uint8_t session_key[16];
};
void fix_client_values(const client_values* values);

// Clears memory that held a secret.
void wipe(void* p, size_t n);

}  // namespace vorlane::sspi
