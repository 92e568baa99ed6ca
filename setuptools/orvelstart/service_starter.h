// orvelstart: starts the service "Vorlane Server", waits until server 0 has
// recorded its address in the registry and opens the server's administration
// page through an Internet shortcut file written into server 0's data
// directory:
//
//   <data_dir>/orvelstart.url, text, two lines:
//     "[InternetShortcut]\n"
//     "url=http://<hostname>:<port, %d>/admin\n"
//
// Exit codes: 0 success; 1 the service manager cannot be opened (after the
// message and a line from standard input), or the registry values or the
// shortcut file were not available within the tries; 10 the service is not
// installed; 11 it failed to start; otherwise the error of opening the
// shortcut.
#pragma once

#include <cstddef>

namespace vorlane::orvelstart {

constexpr char service_name[] = "Vorlane Server";
constexpr char shortcut_name[] = "orvelstart.url";

// Prints "%s\n" with the message to standard error, then errorExit(1).
int errorMessageExit(const char* message);

// Prints "Error exit: %d\n" to standard error, waits for a line (up to 80
// characters) from standard input, and returns code for the program to exit
// with.
int errorExit(int code);

// Starts the service; a service that is already running counts as started.
// 0, or the exit code of the failure.
int startServerService();

struct Tries {
  int count = 10;
  int pause_ms = 1000;  // between two tries; none after the last
};

// Waits (by tries) until server 0's "port", "hostname" and "data_dir" can all
// be read in one try and the shortcut's path fits path (size bytes, NUL
// included), then (again by tries) creates the shortcut file and writes it.
// path receives the file's path. False when the tries ran out or the file
// could not be written.
bool writeAdminShortcut(char* path, size_t size, const Tries& tries = Tries());

// The program: changes to "../.." (relative to where it was started),
// starts the service, writes the shortcut and opens it with its associated
// program. Returns the exit code.
int WinMain();

}  // namespace vorlane::orvelstart
