// Test stand-in for the security package: a library exporting the seven
// functions (less those its build leaves out) whose results a test sets
// through the control record "sspi_stub_control", found with dlsym.
#pragma once

#include <cstdint>

#include "platform/sspi/sspi.h"

namespace vorlane::sspi {

struct sspi_stub_control_record {
  int32_t acquire_status = kOk;              // AcquireCredentialsHandleA's result
  int32_t query_status = kOk;                // QuerySecurityPackageInfoA's result
  uint32_t max_token = 64;                   // the package's maximum token size
  int32_t init_status = kContinueNeeded;     // InitializeSecurityContextA's result
  int32_t complete_status = kOk;             // CompleteAuthToken's result
  char token[64] = "stub-token";             // the token each step writes (its text)
  // Counters and what the last step received.
  int acquire_calls = 0;
  int free_calls = 0;
  int init_calls = 0;
  int complete_calls = 0;
  int query_calls = 0;
  int free_buffer_calls = 0;
  int live_credentials = 0;                  // acquired and not yet freed
  uint32_t last_input_size = 0;              // 0 when the step had no input token
  char last_input[256] = {};
  char last_user[64] = {}, last_domain[64] = {}, last_password[64] = {};
  char last_target[64] = {};
  uint32_t last_data_representation = 0;
};

}  // namespace vorlane::sspi
