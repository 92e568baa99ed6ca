#include "platform/sspi/ntlm_client.h"

#include <nettle/arcfour.h>
#include <nettle/hmac.h>
#include <nettle/md4.h>
#include <sys/random.h>

#include <cstring>
#include <ctime>
#include <mutex>

namespace vorlane::sspi {

namespace {

constexpr uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr uint8_t kVersion[8] = {6, 1, 0xB1, 0x1D, 0, 0, 0, 15};  // 6.1, build 7601, revision 15
constexpr uint16_t kAvEnd = 0;
constexpr uint16_t kAvTimestamp = 7;
// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifference = 116444736000000000ull;

std::mutex fixed_mutex;
bool fixed = false;
client_values fixed_values;

void put16(bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint64_t get64(const uint8_t* p) { return get32(p) | static_cast<uint64_t>(get32(p + 4)) << 32; }

// Appends data to the payload and points the field at header offset at it.
void add_field(bytes& message, size_t field, const bytes& data) {
  put16(message, field, static_cast<uint16_t>(data.size()));
  put16(message, field + 2, static_cast<uint16_t>(data.size()));
  put32(message, field + 4, static_cast<uint32_t>(message.size()));
  message.insert(message.end(), data.begin(), data.end());
}

void random_bytes(uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t got = getrandom(p, n, 0);
    if (got <= 0) continue;  // interrupted
    p += got;
    n -= static_cast<size_t>(got);
  }
}

uint64_t now_filetime() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 10000000ull + static_cast<uint64_t>(ts.tv_nsec) / 100 +
         kEpochDifference;
}

void draw_client_values(client_values* v) {
  {
    std::lock_guard<std::mutex> lock(fixed_mutex);
    if (fixed) {
      *v = fixed_values;
      return;
    }
  }
  random_bytes(v->client_challenge, sizeof v->client_challenge);
  random_bytes(v->session_key, sizeof v->session_key);
  v->timestamp = now_filetime();
}

}  // namespace

void wipe(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  for (size_t i = 0; i < n; ++i) v[i] = 0;
}

void fix_client_values(const client_values* values) {
  std::lock_guard<std::mutex> lock(fixed_mutex);
  fixed = values != nullptr;
  if (values) fixed_values = *values;
}

bytes utf16le(const uint8_t* text, size_t n, bool upper) {
  bytes out(n * 2);
  for (size_t i = 0; i < n; ++i) {
    uint16_t c = text[i];
    if (upper) {
      if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        c = static_cast<uint16_t>(c - 0x20);
      else if (c == 0xFF)
        c = 0x178;  // y with diaeresis
    }
    put16(out, i * 2, c);
  }
  return out;
}

void hmac_md5(const uint8_t* key, size_t key_length, const uint8_t* data, size_t n, uint8_t digest[16]) {
  hmac_md5_ctx ctx;
  hmac_md5_set_key(&ctx, key_length, key);
  hmac_md5_update(&ctx, n, data);
  hmac_md5_digest(&ctx, 16, digest);
  wipe(&ctx, sizeof ctx);
}

void nt_hash(const uint8_t* password, size_t n, uint8_t digest[16]) {
  bytes wide = utf16le(password, n, false);
  md4_ctx ctx;
  md4_init(&ctx);
  md4_update(&ctx, wide.size(), wide.data());
  md4_digest(&ctx, 16, digest);
  wipe(wide.data(), wide.size());
  wipe(&ctx, sizeof ctx);
}

void ntowf_v2(const uint8_t hash[16], const bytes& user, const bytes& domain, uint8_t owf[16]) {
  bytes text = utf16le(user.data(), user.size(), true);
  bytes wide_domain = utf16le(domain.data(), domain.size(), false);
  text.insert(text.end(), wide_domain.begin(), wide_domain.end());
  hmac_md5(hash, 16, text.data(), text.size(), owf);
}

bytes negotiate_message() {
  bytes m(40, 0);
  memcpy(m.data(), kSignature, 8);
  put32(m, 8, 1);
  put32(m, 12, kClientFlags);
  // Empty domain and workstation fields point at the end of the message.
  put32(m, 20, 40);
  put32(m, 28, 40);
  memcpy(&m[32], kVersion, 8);
  return m;
}

bool parse_challenge(const uint8_t* data, size_t n, challenge_message* out) {
  if (n < 32 || memcmp(data, kSignature, 8) != 0 || get32(data + 8) != 2) return false;
  out->flags = get32(data + 20);
  memcpy(out->server_challenge, data + 24, 8);
  out->target_info.clear();
  out->has_timestamp = false;
  out->timestamp = 0;
  if (n < 48) return true;  // an old server: no target information
  size_t length = get16(data + 40);
  size_t offset = get32(data + 44);
  if (length == 0) return true;
  if (offset > n || length > n - offset) return false;
  const uint8_t* info = data + offset;
  out->target_info.assign(info, info + length);
  // Walk the pairs: each must lie inside the list, and the list must end
  // with the end pair.
  for (size_t at = 0;;) {
    if (length - at < 4) return false;
    uint16_t id = get16(info + at);
    size_t size = get16(info + at + 2);
    if (size > length - at - 4) return false;
    if (id == kAvEnd) return true;
    if (id == kAvTimestamp && size == 8) {
      out->has_timestamp = true;
      out->timestamp = get64(info + at + 4);
    }
    at += 4 + size;
  }
}

void compute_v2_response(const uint8_t owf[16], const challenge_message& challenge,
                         const uint8_t client_challenge[8], uint64_t timestamp, v2_response* out) {
  bytes temp(28, 0);
  temp[0] = 1;
  temp[1] = 1;
  for (int i = 0; i < 8; ++i) temp[8 + i] = static_cast<uint8_t>(timestamp >> (8 * i));
  memcpy(&temp[16], client_challenge, 8);
  temp.insert(temp.end(), challenge.target_info.begin(), challenge.target_info.end());
  temp.insert(temp.end(), 4, 0);

  bytes proof_input(challenge.server_challenge, challenge.server_challenge + 8);
  proof_input.insert(proof_input.end(), temp.begin(), temp.end());
  uint8_t proof[16];
  hmac_md5(owf, 16, proof_input.data(), proof_input.size(), proof);

  out->nt_response.assign(proof, proof + 16);
  out->nt_response.insert(out->nt_response.end(), temp.begin(), temp.end());
  hmac_md5(owf, 16, proof, 16, out->session_base_key);

  if (challenge.has_timestamp) {
    out->lm_response.assign(24, 0);
  } else {
    uint8_t both[16];
    memcpy(both, challenge.server_challenge, 8);
    memcpy(both + 8, client_challenge, 8);
    uint8_t lm[16];
    hmac_md5(owf, 16, both, 16, lm);
    out->lm_response.assign(lm, lm + 16);
    out->lm_response.insert(out->lm_response.end(), client_challenge, client_challenge + 8);
  }
}

bytes authenticate_message(const client_identity& identity, const challenge_message& challenge) {
  client_values values;
  draw_client_values(&values);
  uint64_t timestamp = challenge.has_timestamp ? challenge.timestamp : values.timestamp;

  v2_response response;
  compute_v2_response(identity.owf, challenge, values.client_challenge, timestamp, &response);

  uint32_t flags = challenge.flags & kClientFlags;
  bool unicode = (flags & kNegotiateUnicode) != 0;
  if (unicode) flags &= ~kNegotiateOem;
  auto text = [&](const bytes& t) { return unicode ? utf16le(t.data(), t.size(), false) : t; };

  bytes session_key;
  if (flags & kNegotiateKeyExchange) {
    session_key.resize(16);
    arcfour_ctx rc4;
    arcfour_set_key(&rc4, 16, response.session_base_key);
    arcfour_crypt(&rc4, 16, session_key.data(), values.session_key);
    wipe(&rc4, sizeof rc4);
  }

  // Every field's length must fit its 16 bits.
  if (response.nt_response.size() > 0xFFFF || identity.user.size() > 0x7FFF || identity.domain.size() > 0x7FFF ||
      identity.workstation.size() > 0x7FFF) {
    wipe(response.session_base_key, 16);
    wipe(&values, sizeof values);
    return {};
  }

  bytes m((flags & kNegotiateVersion) ? 72 : 64, 0);
  memcpy(m.data(), kSignature, 8);
  put32(m, 8, 3);
  if (flags & kNegotiateVersion) memcpy(&m[64], kVersion, 8);
  add_field(m, 28, text(identity.domain));
  add_field(m, 36, text(identity.user));
  add_field(m, 44, text(identity.workstation));
  add_field(m, 12, response.lm_response);
  add_field(m, 20, response.nt_response);
  add_field(m, 52, session_key);
  put32(m, 60, flags);

  wipe(response.session_base_key, 16);
  wipe(&values, sizeof values);
  return m;
}

}  // namespace vorlane::sspi
