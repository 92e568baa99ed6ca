// kepsey: checks the installed files against their MD5 sums and saves the
// changed ones; its script travels inside the program as frozen code.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kepsey/frozen_runner.h"

namespace vorlane::kepsey {
// Made at build time from check_sums.py by freeze.py.
extern const char kepsey_frozen_name[];
extern const unsigned char kepsey_frozen_code[];
extern const int kepsey_frozen_size;
}  // namespace vorlane::kepsey

namespace {

using namespace vorlane::kepsey;

const struct _frozen frozen_modules[] = {
    {kepsey_frozen_name, kepsey_frozen_code, kepsey_frozen_size, 0, nullptr},
    {nullptr, nullptr, 0, 0, nullptr},
};

}  // namespace

int main(int argc, char** argv) { return WinMain(frozen_modules, argc, argv); }
