// A security package whose answers a test sets (platform/testing/sspi_stub.h).
// Built with STUB_WITHOUT_COMPLETE it lacks CompleteAuthToken, with
// STUB_WITHOUT_ENUMERATE it lacks EnumerateSecurityPackagesA.
#include "platform/testing/sspi_stub.h"

#include <cstdlib>
#include <cstring>

#include "platform/sspi/sspi.h"

using namespace vorlane::sspi;

#define STUB_EXPORT extern "C" __attribute__((visibility("default")))

extern "C" {
__attribute__((visibility("default"))) sspi_stub_control_record sspi_stub_control;
}

namespace {

void copy_text(char* to, size_t room, const void* from, size_t n) {
  if (n >= room) n = room - 1;
  if (from) memcpy(to, from, n);
  to[from ? n : 0] = '\0';
}

}  // namespace

STUB_EXPORT sspi_status AcquireCredentialsHandleA(const char*, const char*, uint32_t, void*, void* auth_data, void*,
                                                  void*, sspi_handle* credentials, sspi_time*) {
  sspi_stub_control_record& c = sspi_stub_control;
  ++c.acquire_calls;
  if (auto* id = static_cast<const sspi_identity*>(auth_data)) {
    copy_text(c.last_user, sizeof c.last_user, id->user, id->user_length);
    copy_text(c.last_domain, sizeof c.last_domain, id->domain, id->domain_length);
    copy_text(c.last_password, sizeof c.last_password, id->password, id->password_length);
  }
  if (c.acquire_status < 0) return c.acquire_status;
  ++c.live_credentials;
  credentials->lower = static_cast<uintptr_t>(c.acquire_calls);
  credentials->upper = 0;
  return c.acquire_status;
}

STUB_EXPORT sspi_status QuerySecurityPackageInfoA(const char*, sspi_package_info** info) {
  sspi_stub_control_record& c = sspi_stub_control;
  ++c.query_calls;
  if (c.query_status < 0) return c.query_status;
  *info = static_cast<sspi_package_info*>(calloc(1, sizeof(sspi_package_info)));
  (*info)->max_token = c.max_token;
  return kOk;
}

STUB_EXPORT sspi_status FreeContextBuffer(void* buffer) {
  ++sspi_stub_control.free_buffer_calls;
  free(buffer);
  return kOk;
}

STUB_EXPORT sspi_status InitializeSecurityContextA(sspi_handle*, sspi_handle* context, const char* target, uint32_t,
                                                   uint32_t, uint32_t data_representation, sspi_buffer_list* input,
                                                   uint32_t, sspi_handle* new_context, sspi_buffer_list* output,
                                                   uint32_t*, sspi_time*) {
  sspi_stub_control_record& c = sspi_stub_control;
  ++c.init_calls;
  copy_text(c.last_target, sizeof c.last_target, target, target ? strlen(target) : 0);
  c.last_data_representation = data_representation;
  c.last_input_size = 0;
  c.last_input[0] = '\0';
  if (input && input->count > 0) {
    c.last_input_size = input->buffers[0].size;
    copy_text(c.last_input, sizeof c.last_input, input->buffers[0].data, input->buffers[0].size);
  }
  if (c.init_status < 0) return c.init_status;
  size_t n = strlen(c.token);
  if (n > output->buffers[0].size) return kBufferTooSmall;
  memcpy(output->buffers[0].data, c.token, n);
  output->buffers[0].size = static_cast<uint32_t>(n);
  if (!context) new_context->lower = 1000 + static_cast<uintptr_t>(c.init_calls);
  return c.init_status;
}

#ifndef STUB_WITHOUT_COMPLETE
STUB_EXPORT sspi_status CompleteAuthToken(sspi_handle*, sspi_buffer_list*) {
  ++sspi_stub_control.complete_calls;
  return sspi_stub_control.complete_status;
}
#endif

STUB_EXPORT sspi_status FreeCredentialsHandle(sspi_handle*) {
  ++sspi_stub_control.free_calls;
  --sspi_stub_control.live_credentials;
  return kOk;
}

#ifndef STUB_WITHOUT_ENUMERATE
STUB_EXPORT sspi_status EnumerateSecurityPackagesA(uint32_t* count, sspi_package_info** packages) {
  *count = 0;
  *packages = nullptr;
  return kOk;
}
#endif
