// "ipconfig /all" stand-in: the command that prints the machine's network
// configuration, run through a pipe opened for reading.
//
// The command is $VORLANE_IPCONFIG when set and not empty (a shell command
// line), else a small shell script that prints text of the same shape:
//
//   line 1  (empty)
//   line 2  "Vorlane IP Configuration"
//   line 3  (empty)
//   line 4  "        Host Name . . . . . . . . . . . . : <host name>"
//
// followed, for each address that "ip -o addr" lists, by an empty line,
// "Adapter <interface>:", an empty line and
// "        IPv4 Address. . . . . . . . . . . : <address/prefix>" (IPv6 for
// the other family).
#pragma once

#include <cstdio>
#include <string>

namespace vorlane::platform {

// The command line that ipconfig_open runs.
std::string ipconfig_command();

// Starts the command with its standard output on the returned stream; null
// when the pipe cannot be made.
FILE* ipconfig_open();

// Closes the stream and waits for the command; its exit status.
int ipconfig_close(FILE* pipe);

}  // namespace vorlane::platform
