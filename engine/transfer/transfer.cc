#include "engine/transfer/transfer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/transfer/byte_order.h"
#include "engine/transfer/index_layout.h"

namespace vorlane::engine {

int send_wait_ms = 60000;

namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buf[1024];
  va_list args;
  va_start(args, fmt);
  vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  return buf;
}

const char* errno_text(int err) { return err ? strerror(err) : "unexpected end of file"; }

// Closes the descriptor when the scope ends, unless released.
struct FileCloser {
  int fd;
  ~FileCloser() {
    if (fd >= 0) close(fd);
  }
};

// Sends the whole buffer. On failure the error number is returned and *sent
// counts what went out.
int send_all(int sock, const void* data, size_t length, int64_t* sent) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = send(sock, p, length, MSG_NOSIGNAL);
    if (n > 0) {
      p += n;
      length -= static_cast<size_t>(n);
      *sent += n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd pfd = {sock, POLLOUT, 0};
      int r = poll(&pfd, 1, send_wait_ms);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return errno;
      if (r == 0) return ETIMEDOUT;
      continue;
    }
    return n < 0 ? errno : EPIPE;
  }
  return 0;
}

// Reads exactly length bytes; the bytes read, fewer only at the end of the
// file or on an error (errno then set, else 0).
size_t read_full(int fd, void* data, size_t length) {
  char* p = static_cast<char*>(data);
  size_t got = 0;
  errno = 0;
  while (got < length) {
    ssize_t n = read(fd, p + got, length - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = 0;
      break;
    }
    got += static_cast<size_t>(n);
  }
  return got;
}

int open_for_reading(const char* path, std::string* error) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) *error = format("open %s: %s", path, errno_text(errno));
  return fd;
}

// Kinds 0, 1, 4 and 8: blocks of up to 64 KB, cut to whole units; the cut
// bytes start the next block.
bool send_blocks(int sock, const char* path, int kind, int64_t* sent, std::string* error) {
  size_t unit = kind == kSendSwapDir ? 16 : kind == kSendSwap4 ? 4 : kind == kSendSwap8 ? 8 : 1;
  int fd = open_for_reading(path, error);
  if (fd < 0) return false;
  FileCloser closer{fd};

  std::unique_ptr<uint64_t[]> storage(new (std::nothrow) uint64_t[kTransferBlock / 8]);
  if (!storage) {
    *error = format("read %s %lld: %s", path, static_cast<long long>(*sent), strerror(ENOMEM));
    return false;
  }
  char* block = reinterpret_cast<char*>(storage.get());
  size_t have = 0;
  bool header_sent = false;
  for (;;) {
    ssize_t n;
    do n = read(fd, block + have, kTransferBlock - have);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
      *error = format("read %s %lld: %s", path, static_cast<long long>(*sent), errno_text(errno));
      return false;
    }
    if (n == 0) {
      if (have == 0) return true;
      // The file ends inside a unit: nothing could ever complete it.
      *error = format("read %s %lld: file ends inside a %zu-byte unit", path, static_cast<long long>(*sent), unit);
      return false;
    }
    size_t total = have + static_cast<size_t>(n);
    size_t whole = total - total % unit;
    if (whole == 0) {
      have = total;
      continue;
    }
    switch (kind) {
      case kSendSwapDir:
        convert_dir_records(reinterpret_cast<uint32_t*>(block), whole / 16, !header_sent);
        header_sent = true;
        break;
      case kSendSwap4:
        reverse_words(reinterpret_cast<uint32_t*>(block), whole / 4);
        break;
      case kSendSwap8:
        reverse_words64(reinterpret_cast<uint64_t*>(block), whole / 8);
        break;
      default:
        break;
    }
    if (int err = send_all(sock, block, whole, sent)) {
      *error = format("send %lld: %d", static_cast<long long>(*sent), err);
      return false;
    }
    have = total - whole;
    memmove(block, block + whole, have);
  }
}

// Kind 2: record by record, each checked, converted and sent whole.
bool send_term_file(int sock, const char* path, int64_t* sent, std::string* error) {
  int fd = open_for_reading(path, error);
  if (fd < 0) return false;
  FileCloser closer{fd};

  // 4 header words plus the largest posting list and its end mark.
  constexpr size_t kRecordWords = kRecHeaderWords + kMaxRecCount + 1;
  std::unique_ptr<uint32_t[]> record(new (std::nothrow) uint32_t[kRecordWords]);
  if (!record) {
    *error = format("%s: %s", path, strerror(ENOMEM));
    return false;
  }
  uint32_t* w = record.get();
  for (;;) {
    size_t got = read_full(fd, w, 12);
    if (got == 0 && errno == 0) return true;
    if (got < 12) {
      *error = format("fread 1*12 %s: %s", path, errno_text(errno));
      return false;
    }
    size_t words;
    if (static_cast<int32_t>(w[0]) > 0) {
      if (static_cast<int32_t>(w[1]) < 0) {
        *error = format("h1 < 0: %s", path);
        return false;
      }
      if (read_full(fd, &w[3], 4) < 4) {
        *error = format("fread 4*1 %s: %s", path, errno_text(errno));
        return false;
      }
      uint32_t count = rec_full_count(w);
      uint32_t docf = rec_full_docf(w);
      if (count == 0) {
        *error = format("size==0: %s", path);
        return false;
      }
      // Spare words after the end mark exist only in memory; a stored record
      // with any would be cut short here and every later record misread.
      if (rec_full_free(w) != 0) {
        *error = format("free(%u)!=0: %s", rec_full_free(w), path);
        return false;
      }
      if (docf < count) {
        *error = format("docf(%u)<size(%u): %s", docf, count, path);
        return false;
      }
      if (read_full(fd, &w[4], (size_t{count} + 1) * 4) < (size_t{count} + 1) * 4) {
        *error = format("fread 4*%u %s: %s", count, path, errno_text(errno));
        return false;
      }
      if (w[4 + count] != kRecEndMark) {
        *error = format("missing ENDTERMLIST: %s", path);
        return false;
      }
      convert_full_term_record(w, count);
      words = size_t{count} + 5;
    } else {
      words = 3;
      if (static_cast<int32_t>(w[1]) < 0) {
        if (read_full(fd, &w[3], 4) < 4) {
          *error = format("fread 4*1 %s: %s", path, errno_text(errno));
          return false;
        }
        words = 4;
      }
      reverse_words(w, words);
    }
    if (int err = send_all(sock, w, words * 4, sent)) {
      *error = format("send %lld: %d", static_cast<long long>(*sent), err);
      return false;
    }
  }
}

bool write_all(int fd, const void* data, size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

const char* copy_from_file_sender(int kind) {
  switch (kind) {
    case kSendSwapDir:
      return "copy_from_file_swapdir";
    case kSendSwapTermFile:
      return "copy_from_file_swaptf";
    case kSendSwap4:
      return "copy_from_file_swap4";
    case kSendSwap8:
      return "copy_from_file_swap8";
    default:
      return "copy_from_file_noswap";
  }
}

bool copy_from_file(int sock, const char* path, int kind, int64_t* sent, std::string* error) {
  *sent = 0;
  if (kind == kSendSwapTermFile) return send_term_file(sock, path, sent, error);
  return send_blocks(sock, path, kind, sent, error);
}

bool copy_to_file(int sock, const char* path, const void* first, size_t first_length, int timeout_seconds,
                  int64_t* written, std::string* error) {
  *written = 0;
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = format("open %s: %s", path, errno_text(errno));
    return false;
  }
  FileCloser closer{fd};

  if (first_length > 0) {
    if (!write_all(fd, first, first_length)) {
      *error = format("write %s %lld: %s", path, 0LL, errno_text(errno));
      return false;
    }
    *written = static_cast<int64_t>(first_length);
  }

  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kTransferBlock]);
  if (!buffer) {
    *error = format("write %s %lld: %s", path, static_cast<long long>(*written), strerror(ENOMEM));
    return false;
  }
  const int64_t timeout_ms = static_cast<int64_t>(timeout_seconds) * 1000;
  for (;;) {
    pollfd pfd = {sock, POLLIN, 0};
    int r = poll(&pfd, 1, timeout_ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(timeout_ms));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      *error = format("select %lld: %d", static_cast<long long>(*written), errno);
      return false;
    }
    if (r == 0) {
      *error = "timeout";
      return false;
    }
    int waiting = 0;
    if (ioctl(sock, FIONREAD, &waiting) != 0) {
      *error = format("ioctlsocket FIONREAD %lld: %d", static_cast<long long>(*written), errno);
      return false;
    }
    size_t want = waiting <= 0 ? 1024 : waiting > static_cast<int>(kTransferBlock) ? kTransferBlock
                                                                                   : static_cast<size_t>(waiting);
    ssize_t n = recv(sock, buffer.get(), want, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n < 0) {
      *error = format("recv %lld: %d", static_cast<long long>(*written), errno);
      return false;
    }
    if (n == 0) {
      closer.fd = -1;
      if (close(fd) != 0) {
        *error = format("close %s: %s", path, errno_text(errno));
        return false;
      }
      return true;
    }
    if (!write_all(fd, buffer.get(), static_cast<size_t>(n))) {
      *error = format("write %s %lld: %s", path, static_cast<long long>(*written), errno_text(errno));
      return false;
    }
    *written += n;
  }
}

}  // namespace vorlane::engine
