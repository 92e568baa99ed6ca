#include "store/log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <strings.h>
#include <unistd.h>

#include "platform/eventlog.h"
#include "store/services.h"

namespace vorlane {

std::atomic<uint32_t> log_mask{0};
std::atomic<log_handler_fn> log_handler{&LogMessage};

namespace {

std::atomic<log_thread_id_fn> thread_id_fn{&default_thread_id};
const char* program_name = "<orvel>";
std::atomic<FILE*> stream{nullptr};
std::atomic<int> noflush_flag{0};
std::atomic<int> eventall_flag{0};

FILE* current_stream() {
  FILE* s = stream.load();
  if (!s) {
    FILE* expected = nullptr;
    stream.compare_exchange_strong(expected, stderr);
    s = stream.load();
  }
  return s;
}

// Formats the whole message into a string (no cut).
std::string format_all(const char* format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_copy(copy, args);
  vsnprintf(big.data(), big.size(), format, copy);
  va_end(copy);
  big.resize(n);
  return big;
}

// Writes the line with one write(2) where the stream has a descriptor, so it
// reaches the file in one piece (O_APPEND files shared by processes included).
void write_line(FILE* s, const std::string& line) {
  int fd = fileno(s);
  if (fd < 0) {
    fwrite(line.data(), 1, line.size(), s);
    return;
  }
  fflush(s);
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // write failures are ignored
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void time_text(char out[25]) {
  char buf[50];
  ctime_r(time(nullptr), buf, sizeof buf);
  memcpy(out, buf, 24);
  out[24] = '\0';
}

}  // namespace

int default_thread_id() { return -1; }

void log_set_stream(FILE* s) { stream.store(s); }
FILE* log_stream() { return current_stream(); }

void log_vmsg(uint32_t level, const char* format, va_list args) {
  if (!log_passes(level)) return;
  log_handler.load()(level, format, args);
}

void log_msg(uint32_t level, const char* format, ...) {
  if (!log_passes(level)) return;
  va_list args;
  va_start(args, format);
  log_handler.load()(level, format, args);
  va_end(args);
}

void LogMessage(uint32_t level, const char* format, va_list args) {
  char now[25];
  time_text(now);
  FILE* s = current_stream();
  int tid = thread_id_fn.load()();

  // The event text is cut to fit its buffer; the stream line is not.
  char text[kLogEventTextSize];
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  if (n < 0) text[0] = '\0';
  if (n >= static_cast<int>(sizeof text))
    syslog_write(3, "LogMessage(%s): Overwrote local buffer!!!!", now);

  if (level & LOG_ERROR)
    syslog_write(2, "Error at %s. %s", now, text);
  else if (level & LOG_WARNING)
    syslog_write(2, "Warning at %s. %s", now, text);
  else if (eventall_flag.load())
    syslog_write(5, "Message at %s. %s", now, text);
  else if (level & LOG_NOTICE)
    syslog_write(5, "%s. %s", now, text);

  char prefix[256];
  snprintf(prefix, sizeof prefix, "%s<%d/%d>: %s  ", program_name, static_cast<int>(getpid()), tid, now);
  std::string line = prefix;
  if (level & LOG_ERROR)
    line += "ERROR: ";
  else if (level & LOG_WARNING)
    line += "WARNING: ";
  std::string message = format_all(format, args);
  line += message;
  // A message that ends its own line gets no second newline.
  if (message.empty() || message.back() != '\n') line += '\n';

  write_line(s, line);
  if ((level & LOG_ERROR) && s != stderr) write_line(stderr, line);
  if (s != stderr && !noflush_flag.load()) fflush(s);
}

void log_settings(uint32_t mask, int noflush, int eventall, log_thread_id_fn thread_id) {
  log_mask.store(mask);
  if (noflush >= 0) noflush_flag.store(noflush);
  if (eventall >= 0) eventall_flag.store(eventall);
  if (thread_id) thread_id_fn.store(thread_id);
}

void log_init(const char* name, const char* destination, int level) {
  if (name) program_name = name;
  log_mask.store(static_cast<uint32_t>(level));
  syslog_open(name, 1, 184);
  if (level < 0) {
    syslog_setmask(3);
    log_mask.store(0);
  }
  const char* dest = destination ? destination : getenv("ORVEL_LOG");
  FILE* s = nullptr;
  if (dest) {
    if (strcasecmp(dest, "stderr") == 0)
      s = stderr;
    else if (strcasecmp(dest, "stdout") == 0)
      s = stdout;
    else
      s = fopen(dest, "a+");
  }
  stream.store(s ? s : stderr);
  log_msg(LOG_INFO, "Starting log level=0x%x", log_mask.load());
}

void log_fatal(const char* format, ...) {
  va_list args;
  va_start(args, format);
  log_handler.load()(LOG_ERROR, format, args);
  va_end(args);
  fflush(nullptr);
  _exit(1);
}

void abort_thread() {
  fprintf(stderr, "aborting from thread %d\n", thread_id_fn.load()());
  abort();
}

void syslog_rewrite_format(const char* format, char* out, size_t out_size) {
  if (out_size == 0) return;
  size_t i = 0;
  for (const char* p = format; *p && i + 1 < out_size; ++p) {
    out[i++] = *p;
    if (*p == '%') {
      if (p[1] == '\0') break;  // a trailing '%' ends the scan at the NUL
      ++p;
      if (i + 1 < out_size) out[i++] = (*p == 'm') ? '%' : *p;
    }
  }
  out[i] = '\0';
}

void syslog_vwrite(int priority, const char* format, va_list args) {
  platform::EventType type = platform::EventType::information;
  if (priority >= 1 && priority <= 3)
    type = platform::EventType::error;
  else if (priority == 4)
    type = platform::EventType::warning;

  platform::EventSource* source = platform::register_event_source(kEventSourceName);
  if (!source) return;

  size_t flen = strlen(format) + 1;
  std::string fmt(flen, '\0');
  syslog_rewrite_format(format, fmt.data(), flen);

  char text[kSyslogTextSize];
  va_list copy;
  va_copy(copy, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = vsnprintf(text, sizeof text, fmt.c_str(), copy);
#pragma GCC diagnostic pop
  va_end(copy);
  if (n < 0) text[0] = '\0';

  platform::report_event(source, type, 0, 0, {text});
  platform::deregister_event_source(source);
}

void syslog_write(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  syslog_vwrite(priority, format, args);
  va_end(args);
}

void syslog_open(const char*, int, int) {}
int syslog_setmask(int) { return 0; }

}  // namespace vorlane
