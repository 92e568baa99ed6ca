// The system's script modules in the interpreter's built-in module table.
#pragma once

extern "C" {
// Adds sorn, wstrop, osdnt_native, _syslog, bsddb and expat to the built-in
// module table. Call once, before the interpreter is initialised. Returns 0,
// or -1 when the table could not be extended.
__attribute__((visibility("default"))) int vorlane_register_modules(void);
}
