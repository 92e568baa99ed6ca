#include "engine/auth/ntlm_step.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "engine/auth/base64.h"
#include "engine/auth/sspi_binding.h"
#include "platform/computer_name.h"
#include "store/log.h"

namespace vorlane::engine {

namespace {

constexpr char kScheme[] = "NTLM";
constexpr char kTarget[] = "InetSvcs";

char* copy_text(const char* text, size_t n) {
  char* p = static_cast<char*>(malloc(n + 1));
  if (!p) return nullptr;
  memcpy(p, text, n);
  p[n] = '\0';
  return p;
}

void wipe_text(char* p) {
  if (!p) return;
  volatile char* v = p;
  while (*v) *v++ = 0;
}

struct free_deleter {
  void operator()(void* p) const { free(p); }
};

}  // namespace

const char* ntlm_computer_name() {
  static char name[16];
  static std::once_flag once;
  std::call_once(once, [] { platform::computer_name(name, sizeof name); });
  return name;
}

void ntlm_split_user(ntlm_context* c) {
  const char* s = c->user_string;
  const char* sep = strpbrk(s, "/\\");
  if (sep) {
    c->domain = copy_text(s, static_cast<size_t>(sep - s));
    c->user_name = copy_text(sep + 1, strlen(sep + 1));
  } else {
    const char* computer = ntlm_computer_name();
    c->domain = copy_text(computer, strlen(computer));
    c->user_name = copy_text(s, strlen(s));
  }
  if (!c->domain || !c->user_name) c->error = kNtlmNoMemory;
}

ntlm_context* ntlm_context_make(const char* user_string, const char* password) {
  auto* c = new (std::nothrow) ntlm_context{};
  if (!c) return nullptr;
  c->first_step = true;
  c->more_steps = true;
  c->user_string = copy_text(user_string, strlen(user_string));
  c->password = copy_text(password, strlen(password));
  if (!c->user_string || !c->password) {
    ntlm_context_free(c);
    return nullptr;
  }
  ntlm_split_user(c);
  return c;
}

void ntlm_context_free(ntlm_context* c) {
  if (!c) return;
  if (c->credentials_acquired) {
    // The context itself is never deleted: the package frees it with the
    // credentials it belongs to.
    if (const sspi_functions* f = sspi_package()) f->FreeCredentialsHandle(&c->credentials);
  }
  wipe_text(c->password);
  free(c->user_string);
  free(c->password);
  free(c->user_name);
  free(c->domain);
  delete c;
}

bool ntlm_step(ntlm_context* c, const char* scheme, const char* data, std::string* token) {
  if (!sspi_package() && !sspi_load()) {
    c->error = kNtlmNoPackage;
    return false;
  }
  if (strcmp(scheme, kScheme) != 0) {
    c->error = kNtlmBadScheme;
    return false;
  }
  if (c->stepped && !*data) {
    log_msg(LOG_INFO, "NTLM auth protocol error, no data from server");
    c->error = kNtlmNoData;
    return false;
  }
  if (!ntlm_sspi_step(c, scheme, data, token)) return false;
  c->stepped = true;
  return true;
}

bool ntlm_sspi_step(ntlm_context* c, const char* scheme, const char* data, std::string* token) {
  const sspi_functions* f = sspi_package();
  if (!f) {
    c->error = kNtlmNoPackage;
    return false;
  }

  // The input token, decoded into a buffer as long as the text.
  size_t text_length = strlen(data);
  std::unique_ptr<uint8_t, free_deleter> input;
  long input_length = 0;
  if (text_length > 0) {
    input.reset(static_cast<uint8_t*>(malloc(text_length)));
    if (!input) {
      c->error = kNtlmNoMemory;
      return false;
    }
    input_length = base64_decode(data, input.get(), text_length);
    if (input_length < 0) {
      log_msg(LOG_INFO, "base64 decode failed for \"%s\"", data);
      c->error = kNtlmNoMemory;
      return false;
    }
  }

  if (c->first_step) {
    // Credentials are acquired once per object, however often the first
    // step has to be tried.
    if (!c->credentials_acquired) {
      sspi::sspi_identity identity{
          reinterpret_cast<const unsigned char*>(c->user_name), static_cast<uint32_t>(strlen(c->user_name)),
          reinterpret_cast<const unsigned char*>(c->domain),    static_cast<uint32_t>(strlen(c->domain)),
          reinterpret_cast<const unsigned char*>(c->password),  static_cast<uint32_t>(strlen(c->password)),
          sspi::kIdentityAnsi};
      sspi::sspi_time expiry;
      sspi::sspi_status s = f->AcquireCredentialsHandleA(nullptr, scheme, sspi::kCredentialsOutbound,
                                                         nullptr, &identity, nullptr, nullptr, &c->credentials,
                                                         &expiry);
      if (s < 0) {
        c->error = s == sspi::kLogonDenied ? kNtlmLogonDenied : s;
        return false;
      }
      c->credentials_acquired = true;
    }
    if (c->max_token == 0) {
      sspi::sspi_package_info* info = nullptr;
      sspi::sspi_status s = f->QuerySecurityPackageInfoA(scheme, &info);
      if (s < 0) {
        c->error = s;
        return false;
      }
      c->max_token = info->max_token;
      f->FreeContextBuffer(info);
    }
  }

  // This step's buffers: the output token and its base64 text.
  std::unique_ptr<uint8_t, free_deleter> output(static_cast<uint8_t*>(malloc(c->max_token ? c->max_token : 1)));
  size_t text_size = size_t{c->max_token} * 2;
  std::unique_ptr<char, free_deleter> text(static_cast<char*>(malloc(text_size ? text_size : 1)));
  if (!output || !text) {
    c->error = kNtlmNoMemory;
    return false;
  }

  sspi::sspi_buffer out_buffer{c->max_token, sspi::kTokenBuffer, output.get()};
  sspi::sspi_buffer_list out_list{sspi::kBufferVersion, 1, &out_buffer};
  sspi::sspi_buffer in_buffer{static_cast<uint32_t>(input_length), sspi::kTokenBuffer, input.get()};
  sspi::sspi_buffer_list in_list{sspi::kBufferVersion, 1, &in_buffer};
  uint32_t attributes = 0;
  sspi::sspi_time expiry;
  sspi::sspi_status s = f->InitializeSecurityContextA(
      &c->credentials, c->first_step ? nullptr : &c->context, kTarget, 0, 0,
      sspi::kNativeDataRepresentation, c->first_step ? nullptr : &in_list, 0, &c->context, &out_list, &attributes,
      &expiry);
  if (s < 0) {
    c->error = s == sspi::kLogonDenied ? kNtlmLogonDenied : s;
    return false;
  }
  c->context_made = true;

  if (s == sspi::kCompleteNeeded || s == sspi::kCompleteAndContinue) {
    if (!f->CompleteAuthToken) {
      c->error = sspi::kUnsupportedFunction;
      return false;
    }
    sspi::sspi_status done = f->CompleteAuthToken(&c->context, &out_list);
    if (done < 0) {
      c->error = done;
      return false;
    }
  }

  // A package may not claim more than the room it was given.
  if (out_buffer.size > c->max_token) out_buffer.size = c->max_token;
  if (base64_encode(output.get(), out_buffer.size, text.get(), text_size) < 0) {
    log_msg(LOG_INFO, "base64 encode failed");
    c->error = kNtlmNoMemory;
    return false;
  }
  token->assign(text.get());

  c->first_step = false;
  c->more_steps = s == sspi::kContinueNeeded || s == sspi::kCompleteAndContinue;
  return true;
}

}  // namespace vorlane::engine
