// kepsey's body with a frozen-module table that lacks "__main__", for the
// test of the fatal error.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "kepsey/frozen_runner.h"

namespace {

const unsigned char empty_code[] = {0};

const struct _frozen frozen_modules[] = {
    {"not_main", empty_code, 0, 0, nullptr},
    {nullptr, nullptr, 0, 0, nullptr},
};

}  // namespace

int main(int argc, char** argv) { return vorlane::kepsey::WinMain(frozen_modules, argc, argv); }
