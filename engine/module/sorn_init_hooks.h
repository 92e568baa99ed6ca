// Steps of the sorn engine init that belong to other components. They are
// declared weak: a step whose component is not in this build is skipped (for
// the security package that means "unavailable", a normal state).
#pragma once

namespace vorlane {

// Score tables of the index store.
void init_percent_table() __attribute__((weak));
void init_blend_table() __attribute__((weak));

namespace engine {

// Completes a script type (PyType_Ready); 0 on success, -1 with an exception.
int idoc_type_ready() __attribute__((weak));
int ntlm_type_ready() __attribute__((weak));

// Binds the security package for ntlm. A missing package is not a failure.
void sspi_init() __attribute__((weak));

}  // namespace engine
}  // namespace vorlane
