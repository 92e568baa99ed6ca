// Index-file transfer over a connected socket, without the interpreter.
//
// The sending side streams one file to the socket, converted on the way to
// the opposite byte order as its kind asks (layouts in engine/transfer/index_layout.h):
//   1  sparse directory "dir": 16-byte records, the first the header
//   2  term file: term records back to back, one send per record
//   4  any file of 32-bit words, each reversed
//   8  any file of 64-bit words, each reversed
//   any other kind: the bytes as they are
// The receiving side writes what arrives on a socket into a file until the
// peer closes.
//
// Sends use MSG_NOSIGNAL and loop over partial sends; when the socket is
// non-blocking (a script socket with a time-out is) they wait for room with
// poll, at most send_wait_ms per wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorlane::engine {

inline constexpr int kSendNoSwap = 0;
inline constexpr int kSendSwapDir = 1;
inline constexpr int kSendSwapTermFile = 2;
inline constexpr int kSendSwap4 = 4;
inline constexpr int kSendSwap8 = 8;

inline constexpr size_t kTransferBlock = 65536;

// How long one wait for room in the socket's send buffer may take.
extern int send_wait_ms;

// The name of the sender for a kind, e.g. "copy_from_file_swaptf".
const char* copy_from_file_sender(int kind);

// Sends the file at path; true with *sent the bytes sent, or false with
// *error the failure's text (the bytes already sent stay sent, *sent counts
// them).
bool copy_from_file(int sock, const char* path, int kind, int64_t* sent, std::string* error);

// Writes first (length first_length) and then everything received on the
// socket into path (created with permission 0666 or emptied). Each wait for
// data takes at most timeout_seconds (>= 0). True with *written the bytes
// written, first bytes included; false with *error, which is "timeout" when
// the peer stayed silent.
bool copy_to_file(int sock, const char* path, const void* first, size_t first_length, int timeout_seconds,
                  int64_t* written, std::string* error);

}  // namespace vorlane::engine
