// The engine's one logging entry and the event-log writer.
//
// log_msg(level, format, ...) passes a message when its level has bit 30
// (LOG_ERROR) or bit 31 (LOG_NOTICE) set, or shares a bit with log_mask; a
// passing message goes to the current handler. Nothing is formatted for a
// message that does not pass. The default handler, LogMessage, writes error,
// warning and notice events to the event log (source "Vorlane Server") and one
// line to the log stream (standard error unless set otherwise):
//
//   <program name><<pid>/<thread>>: <24-char time>  [ERROR: |WARNING: ]message\n
//
// The newline is left out when the message ends in one already. The handler
// (the default one or a script's) receives the message as it was given.
// Each line is built whole and written with one call, so lines of threads and
// processes sharing a file never interleave.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace vorlane {

// Log levels (bit flags).
enum : uint32_t {
  LOG_ERROR = 0x40000000u,
  LOG_NOTICE = 0x80000000u,
  LOG_WARNING = 0x2,
  LOG_INFO = 0x4,
  LOG_TRACE = 0x8,
  LOG_TERM_INFO = 0x20,
  LOG_EVAL = 0x40,
  LOG_MERGE_QUEUE = 0x80,
  LOG_RETURNED_HITS = 0x100,
  LOG_MERGE = 0x200,
  LOG_FREQUENCY = 0x400,
  LOG_DB_QUERY = 0x1000,
  LOG_POSTINGS = 0x2000,
  LOG_HIT_TERMS = 0x8000,
  LOG_JOIN = 0x10000,
  LOG_PARSE_STATE = 0x20000,
};

using log_handler_fn = void (*)(uint32_t level, const char* format, va_list args);
using log_thread_id_fn = int (*)();

// Process-wide state. Atomics: any thread may log while a script installs its
// handler.
extern std::atomic<uint32_t> log_mask;
extern std::atomic<log_handler_fn> log_handler;

// True when a message at this level passes the filter.
inline bool log_passes(uint32_t level) {
  return (level & (LOG_ERROR | LOG_NOTICE)) != 0 ||
         (level & log_mask.load(std::memory_order_relaxed)) != 0;
}

void log_msg(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void log_vmsg(uint32_t level, const char* format, va_list args);

// The default handler.
void LogMessage(uint32_t level, const char* format, va_list args);

void log_settings(uint32_t mask, int noflush, int eventall, log_thread_id_fn thread_id);
void log_init(const char* name, const char* destination, int level);

// Calls the handler at the error level, then ends the process (exit code 1).
[[noreturn]] void log_fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void abort_thread();
int default_thread_id();

// The event-log writer: priority 1-3 error, 4 warning, others information.
// Every "%m" of the format shows as one percent sign. The text is cut at
// 10,239 bytes.
void syslog_write(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
void syslog_vwrite(int priority, const char* format, va_list args);
void syslog_open(const char* ident, int option, int facility);
int syslog_setmask(int mask);

// The format with every "%m" turned into "%%" (what syslog_write formats).
// Exposed for tests.
void syslog_rewrite_format(const char* format, char* out, size_t out_size);

// Test seams: the stream lines go to (null = standard error at the first
// message) and the name printed first on each line.
void log_set_stream(FILE* stream);
FILE* log_stream();

inline constexpr size_t kLogEventTextSize = 4096;
inline constexpr size_t kSyslogTextSize = 10240;
inline constexpr const char* kEventSourceName = "Vorlane Server";

}  // namespace vorlane
