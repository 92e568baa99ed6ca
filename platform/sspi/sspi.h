// The security package interface as this system uses it: the records and
// the seven functions that the NTLM client binds by name at run time from
// the package library (libvorlane-sspi.so, or a library named by
// $VORLANE_SSPI). The functions have C linkage and these signatures.
#pragma once

#include <cstdint>

namespace vorlane::sspi {

// A status: 0 success, positive an informational success, negative a failure.
using sspi_status = int32_t;

inline constexpr sspi_status kOk = 0;
inline constexpr sspi_status kContinueNeeded = 0x00090312;          // another exchange step follows
inline constexpr sspi_status kCompleteNeeded = 0x00090313;          // the token must be completed
inline constexpr sspi_status kCompleteAndContinue = 0x00090314;     // both of the above
inline constexpr sspi_status kInsufficientMemory = static_cast<sspi_status>(0x80090300);
inline constexpr sspi_status kInvalidHandle = static_cast<sspi_status>(0x80090301);
inline constexpr sspi_status kUnsupportedFunction = static_cast<sspi_status>(0x80090302);
inline constexpr sspi_status kPackageNotFound = static_cast<sspi_status>(0x80090305);
inline constexpr sspi_status kInvalidToken = static_cast<sspi_status>(0x80090308);
inline constexpr sspi_status kLogonDenied = static_cast<sspi_status>(0x8009030C);
inline constexpr sspi_status kNoCredentials = static_cast<sspi_status>(0x8009030E);
inline constexpr sspi_status kOutOfSequence = static_cast<sspi_status>(0x80090310);
inline constexpr sspi_status kBufferTooSmall = static_cast<sspi_status>(0x80090321);

inline constexpr uint32_t kCredentialsOutbound = 2;
inline constexpr uint32_t kNativeDataRepresentation = 0x10;
inline constexpr uint32_t kBufferVersion = 0;
inline constexpr uint32_t kTokenBuffer = 2;
inline constexpr uint32_t kIdentityAnsi = 1;

// A credentials or context handle: two words that the package fills.
struct sspi_handle {
  uintptr_t lower;
  uintptr_t upper;
};

struct sspi_time {
  uint32_t low;
  int32_t high;
};

struct sspi_buffer {
  uint32_t size;  // bytes (in: room; out: used)
  uint32_t type;  // kTokenBuffer
  void* data;
};

struct sspi_buffer_list {
  uint32_t version;  // kBufferVersion
  uint32_t count;
  sspi_buffer* buffers;
};

// Explicit identity for AcquireCredentialsHandleA: ANSI texts with lengths.
struct sspi_identity {
  const unsigned char* user;
  uint32_t user_length;
  const unsigned char* domain;
  uint32_t domain_length;
  const unsigned char* password;
  uint32_t password_length;
  uint32_t flags;  // kIdentityAnsi
};

// What the package says about itself; released with FreeContextBuffer.
struct sspi_package_info {
  uint32_t capabilities;
  uint16_t version;
  uint16_t rpc_id;
  uint32_t max_token;  // the largest token it produces, in bytes
  char* name;
  char* comment;
};

using AcquireCredentialsHandleA_fn = sspi_status (*)(const char* principal, const char* package, uint32_t use,
                                                     void* logon_id, void* auth_data, void* get_key_function,
                                                     void* get_key_argument, sspi_handle* credentials,
                                                     sspi_time* expiry);
using QuerySecurityPackageInfoA_fn = sspi_status (*)(const char* package, sspi_package_info** info);
using FreeContextBuffer_fn = sspi_status (*)(void* buffer);
using InitializeSecurityContextA_fn = sspi_status (*)(sspi_handle* credentials, sspi_handle* context,
                                                      const char* target, uint32_t requirements, uint32_t reserved1,
                                                      uint32_t data_representation, sspi_buffer_list* input,
                                                      uint32_t reserved2, sspi_handle* new_context,
                                                      sspi_buffer_list* output, uint32_t* attributes,
                                                      sspi_time* expiry);
using CompleteAuthToken_fn = sspi_status (*)(sspi_handle* context, sspi_buffer_list* token);
using FreeCredentialsHandle_fn = sspi_status (*)(sspi_handle* credentials);
using EnumerateSecurityPackagesA_fn = sspi_status (*)(uint32_t* count, sspi_package_info** packages);

}  // namespace vorlane::sspi
