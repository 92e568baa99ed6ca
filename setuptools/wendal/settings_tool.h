// wendal: the console program that lists and sets each server's registry
// values (the data directory, the port and the "gpf" flag).
//
//   wendal [-serverNum <num>] [-setdir <data-dir>] [-port <num>] [-gpf {on|off}]
//
// Every option takes the next argument as its value; a later option of the
// same kind overrides an earlier one. Without arguments it lists, for servers
// 0..9, the data directory and port of every server that has them. Any other
// argument, or an option without its value, prints the usage text to
// standard error and stops before anything is written. The program ends with
// exit code 1 in every case, success included, as installers expect of it.
#pragma once

#include <cstdio>

namespace vorlane::wendal {

// Runs the tool: messages go to out, the usage text to err. Returns the exit
// code (always 1).
int run(int argc, char** argv, FILE* out, FILE* err);

}  // namespace vorlane::wendal
