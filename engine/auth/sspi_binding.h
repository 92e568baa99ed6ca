// The security package, bound by name at run time.
//
// The package is a shared library: $VORLANE_SSPI when set, else
// libvorlane-sspi.so beside the library holding the engine. Seven functions
// are looked up; all but CompleteAuthToken are required, and a library that
// lacks one is unloaded again and counts as unavailable. The binding is
// process-wide: the module init loads it once (sspi_init), an NTLM step
// retries when it is not there, sspi_unload frees it.
#pragma once

#include "platform/sspi/sspi.h"

namespace vorlane::engine {

struct sspi_functions {
  sspi::FreeCredentialsHandle_fn FreeCredentialsHandle;
  sspi::QuerySecurityPackageInfoA_fn QuerySecurityPackageInfoA;
  sspi::AcquireCredentialsHandleA_fn AcquireCredentialsHandleA;
  sspi::FreeContextBuffer_fn FreeContextBuffer;
  sspi::InitializeSecurityContextA_fn InitializeSecurityContextA;
  sspi::CompleteAuthToken_fn CompleteAuthToken;  // optional: may be null
  sspi::EnumerateSecurityPackagesA_fn EnumerateSecurityPackagesA;
};

// The bound functions, or null while the package is unavailable.
const sspi_functions* sspi_package();

// Loads the package unless it is loaded; the bound functions or null.
const sspi_functions* sspi_load();

// The module init's step (declared weak in engine/module/sorn_init_hooks.h).
void sspi_init();

// Frees the library; the package is unavailable until the next load.
void sspi_unload();

}  // namespace vorlane::engine
