// Steps of the sorn engine init that belong to other components.
#pragma once

namespace vorlane {

// Score tables of the index store.
void init_percent_table();
void init_blend_table();

namespace engine {

// Completes a script type (PyType_Ready); 0 on success, -1 with an exception.
int idoc_type_ready();
int ntlm_type_ready();

// Binds the security package for ntlm. A missing package is not a failure.
void sspi_init();

}  // namespace engine
}  // namespace vorlane
