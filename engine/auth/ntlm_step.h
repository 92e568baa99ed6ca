// One NTLM client exchange: the context record of an ntlm object and the
// step that turns the server's latest challenge (base64) into the next token
// (base64), through the security package of engine/auth/sspi_binding.h.
//
// Error codes kept in the context: 40 no security package; 22 the scheme is
// not "NTLM"; 1 the server sent no data in a later step; 12 out of memory or
// a base64 text that cannot be decoded (or a token that cannot be encoded);
// 1326 the package refused the logon; any other failing package status as
// it came.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/sspi/sspi.h"

namespace vorlane::engine {

inline constexpr int kNtlmNoPackage = 40;
inline constexpr int kNtlmBadScheme = 22;
inline constexpr int kNtlmNoData = 1;
inline constexpr int kNtlmNoMemory = 12;
inline constexpr int kNtlmLogonDenied = 1326;

struct ntlm_context {
  char* user_string;   // as given to ntlm
  char* password;      // cleared before it is freed
  char* user_name;     // from the user string
  char* domain;        // from the user string, else the computer name
  uint32_t max_token;  // from the package information
  sspi::sspi_handle credentials;
  sspi::sspi_handle context;
  int error;
  bool credentials_acquired;
  bool context_made;
  bool first_step;  // until the first successful step
  bool stepped;     // after any successful step
  bool more_steps;  // 1 at creation; after a step, whether the package wants another
  std::mutex busy;  // one step at a time per object
};

// A new context with copies of both texts, user name and domain split
// (ntlm_split_user); null when out of memory. A failed copy in the split
// leaves error 12.
ntlm_context* ntlm_context_make(const char* user_string, const char* password);

// "DOMAIN\name" or "DOMAIN/name" (first slash or backslash) gives domain and
// name; a name alone gets the computer name as its domain.
void ntlm_split_user(ntlm_context* c);

// The next token in base64 into *token; false with c->error set.
bool ntlm_step(ntlm_context* c, const char* scheme, const char* data, std::string* token);
bool ntlm_sspi_step(ntlm_context* c, const char* scheme, const char* data, std::string* token);

// Frees the credentials (when acquired; the package frees the context with
// them), the four texts and the record.
void ntlm_context_free(ntlm_context* c);

// The computer name, read once per process.
const char* ntlm_computer_name();

}  // namespace vorlane::engine
