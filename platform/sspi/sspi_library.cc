// libvorlane-sspi.so: the security package with one package, "NTLM", an
// NTLMv2 client. It exports the seven functions of platform/sspi/sspi.h.
//
// Credentials hold the identity with NTOWFv2 (the password itself is not
// kept). A context belongs to the credentials it was made with and is freed
// with them: its user never deletes contexts, so FreeCredentialsHandle is
// where their memory goes back.
//
// Handles carry the address of the record in their first word; every call
// checks it against the live records, so a stale or foreign handle is
// refused instead of followed.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "platform/computer_name.h"
#include "platform/sspi/ntlm_client.h"
#include "platform/sspi/sspi.h"

namespace vorlane::sspi {

namespace {

constexpr char kPackageName[] = "NTLM";
constexpr char kPackageComment[] = "NTLMv2 client";
constexpr uint32_t kMaxToken = 2888;
constexpr uint32_t kCapabilities = 0x00082B37;  // what a connection-oriented NTLM package reports
constexpr uint16_t kRpcId = 10;

struct context_record;

struct credentials_record {
  client_identity identity;
  std::vector<context_record*> contexts;
};

struct context_record {
  credentials_record* credentials;
  bool done;  // AUTHENTICATE produced
};

std::mutex records_mutex;
std::set<credentials_record*> live_credentials;
std::set<context_record*> live_contexts;

credentials_record* find_credentials(const sspi_handle* h) {
  if (!h) return nullptr;
  auto* r = reinterpret_cast<credentials_record*>(h->lower);
  return live_credentials.count(r) ? r : nullptr;
}

context_record* find_context(const sspi_handle* h) {
  if (!h) return nullptr;
  auto* r = reinterpret_cast<context_record*>(h->lower);
  return live_contexts.count(r) ? r : nullptr;
}

// One package information record in one block, for FreeContextBuffer.
sspi_package_info* make_package_info(size_t count) {
  size_t strings = sizeof kPackageName + sizeof kPackageComment;
  auto* block = static_cast<char*>(malloc(count * (sizeof(sspi_package_info) + strings)));
  if (!block) return nullptr;
  auto* infos = reinterpret_cast<sspi_package_info*>(block);
  char* text = block + count * sizeof(sspi_package_info);
  for (size_t i = 0; i < count; ++i) {
    sspi_package_info& info = infos[i];
    info.capabilities = kCapabilities;
    info.version = 1;
    info.rpc_id = kRpcId;
    info.max_token = kMaxToken;
    info.name = text;
    memcpy(text, kPackageName, sizeof kPackageName);
    text += sizeof kPackageName;
    info.comment = text;
    memcpy(text, kPackageComment, sizeof kPackageComment);
    text += sizeof kPackageComment;
  }
  return infos;
}

sspi_buffer* token_buffer(sspi_buffer_list* list) {
  if (!list || !list->buffers) return nullptr;
  for (uint32_t i = 0; i < list->count; ++i)
    if (list->buffers[i].type == kTokenBuffer) return &list->buffers[i];
  return nullptr;
}

sspi_status write_token(sspi_buffer_list* output, const bytes& token) {
  sspi_buffer* out = token_buffer(output);
  if (!out || !out->data) return kInvalidToken;
  if (token.empty()) return kInvalidToken;
  if (token.size() > out->size) return kBufferTooSmall;
  memcpy(out->data, token.data(), token.size());
  out->size = static_cast<uint32_t>(token.size());
  return kOk;
}

void free_credentials(credentials_record* c) {
  for (context_record* x : c->contexts) {
    live_contexts.erase(x);
    delete x;
  }
  wipe(c->identity.owf, sizeof c->identity.owf);
  delete c;
}

}  // namespace

}  // namespace vorlane::sspi

using namespace vorlane::sspi;

#define SSPI_EXPORT extern "C" __attribute__((visibility("default")))

SSPI_EXPORT sspi_status EnumerateSecurityPackagesA(uint32_t* count, sspi_package_info** packages) {
  if (!count || !packages) return kInvalidHandle;
  *packages = make_package_info(1);
  if (!*packages) return kInsufficientMemory;
  *count = 1;
  return kOk;
}

SSPI_EXPORT sspi_status QuerySecurityPackageInfoA(const char* package, sspi_package_info** info) {
  if (!info) return kInvalidHandle;
  if (!package || strcasecmp(package, kPackageName) != 0) return kPackageNotFound;
  *info = make_package_info(1);
  return *info ? kOk : kInsufficientMemory;
}

SSPI_EXPORT sspi_status FreeContextBuffer(void* buffer) {
  free(buffer);
  return kOk;
}

SSPI_EXPORT sspi_status AcquireCredentialsHandleA(const char*, const char* package, uint32_t use, void*,
                                                  void* auth_data, void*, void*, sspi_handle* credentials,
                                                  sspi_time* expiry) {
  if (!package || strcasecmp(package, kPackageName) != 0) return kPackageNotFound;
  if (!credentials) return kInvalidHandle;
  if (!(use & kCredentialsOutbound)) return kUnsupportedFunction;  // a client only
  // There is no logged-on user to fall back on: the identity is required.
  auto* id = static_cast<const sspi_identity*>(auth_data);
  if (!id || id->flags != kIdentityAnsi || (!id->user && id->user_length) || (!id->domain && id->domain_length) ||
      (!id->password && id->password_length))
    return kNoCredentials;

  auto* c = new (std::nothrow) credentials_record;
  if (!c) return kInsufficientMemory;
  try {
    c->identity.user.assign(id->user, id->user + id->user_length);
    c->identity.domain.assign(id->domain, id->domain + id->domain_length);
    char name[16];
    size_t n = vorlane::platform::computer_name(name, sizeof name);
    c->identity.workstation.assign(name, name + n);
  } catch (const std::bad_alloc&) {
    delete c;
    return kInsufficientMemory;
  }
  uint8_t hash[16];
  nt_hash(id->password, id->password_length, hash);
  ntowf_v2(hash, c->identity.user, c->identity.domain, c->identity.owf);
  wipe(hash, sizeof hash);

  std::lock_guard<std::mutex> lock(records_mutex);
  live_credentials.insert(c);
  credentials->lower = reinterpret_cast<uintptr_t>(c);
  credentials->upper = 0;
  if (expiry) *expiry = {0xFFFFFFFFu, 0x7FFFFFFF};  // never
  return kOk;
}

SSPI_EXPORT sspi_status FreeCredentialsHandle(sspi_handle* credentials) {
  std::lock_guard<std::mutex> lock(records_mutex);
  credentials_record* c = find_credentials(credentials);
  if (!c) return kInvalidHandle;
  live_credentials.erase(c);
  free_credentials(c);
  credentials->lower = credentials->upper = 0;
  return kOk;
}

SSPI_EXPORT sspi_status InitializeSecurityContextA(sspi_handle* credentials, sspi_handle* context, const char*,
                                                   uint32_t, uint32_t, uint32_t, sspi_buffer_list* input, uint32_t,
                                                   sspi_handle* new_context, sspi_buffer_list* output,
                                                   uint32_t* attributes, sspi_time* expiry) {
  std::lock_guard<std::mutex> lock(records_mutex);
  credentials_record* c = find_credentials(credentials);
  if (!c) return kInvalidHandle;
  if (attributes) *attributes = 0;
  if (expiry) *expiry = {0xFFFFFFFFu, 0x7FFFFFFF};
  try {
    if (!context) {
      // First step: the NEGOTIATE message.
      if (!new_context) return kInvalidHandle;
      sspi_status s = write_token(output, negotiate_message());
      if (s != kOk) return s;
      auto* x = new context_record{c, false};
      c->contexts.push_back(x);
      live_contexts.insert(x);
      new_context->lower = reinterpret_cast<uintptr_t>(x);
      new_context->upper = 0;
      return kContinueNeeded;
    }

    // Second step: the server's CHALLENGE in, AUTHENTICATE out.
    context_record* x = find_context(context);
    if (!x || x->credentials != c) return kInvalidHandle;
    if (x->done) return kOutOfSequence;
    sspi_buffer* in = token_buffer(input);
    if (!in || !in->data) return kInvalidToken;
    challenge_message challenge;
    if (!parse_challenge(static_cast<const uint8_t*>(in->data), in->size, &challenge)) return kInvalidToken;
    bytes token = authenticate_message(c->identity, challenge);
    if (token.empty()) return kBufferTooSmall;
    sspi_status s = write_token(output, token);
    wipe(token.data(), token.size());
    if (s != kOk) return s;
    x->done = true;
    if (new_context) *new_context = *context;
    return kOk;
  } catch (const std::bad_alloc&) {
    return kInsufficientMemory;
  }
}

SSPI_EXPORT sspi_status CompleteAuthToken(sspi_handle* context, sspi_buffer_list*) {
  // NTLM tokens need no completion.
  std::lock_guard<std::mutex> lock(records_mutex);
  return find_context(context) ? kOk : kInvalidHandle;
}
