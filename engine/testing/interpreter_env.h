// The embedded interpreter for C++ tests of the engine's script-facing code.
//
// A test program that uses it links vorlane_interpreter_testing (an object
// library, so that its sanitizer options are always linked in) and registers
// the environment once, at namespace scope:
//   const auto* const interpreter = add_interpreter_environment();
// Before the first test the interpreter starts (no signal handlers) with the
// engine's globals (sorn_engine_init); then after_start, when given, runs
// with the interpreter lock held. The interpreter keeps its memory until the
// process ends, so the program runs without AddressSanitizer's leak check.
#pragma once

#include <gtest/gtest.h>

namespace vorlane::testing {

::testing::Environment* add_interpreter_environment(void (*after_start)() = nullptr);

}  // namespace vorlane::testing
