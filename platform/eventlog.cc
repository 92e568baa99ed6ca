#include "platform/eventlog.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <syslog.h>
#include <unistd.h>

#include "platform/line_escape.h"
#include "platform/root.h"

namespace vorlane::platform {

namespace {

int syslog_priority(EventType type) {
  switch (type) {
    case EventType::error: return LOG_ERR;
    case EventType::warning: return LOG_WARNING;
    default: return LOG_INFO;
  }
}

}  // namespace

const char* event_type_name(EventType type) {
  switch (type) {
    case EventType::error: return "error";
    case EventType::warning: return "warning";
    default: return "information";
  }
}

EventSource* register_event_source(const char* name) {
  if (!name || !*name) return nullptr;
  return new EventSource{name};
}

void deregister_event_source(EventSource* source) { delete source; }

std::string eventlog_path() { return root_path("eventlog"); }

bool report_event(EventSource* source, EventType type, int category, int event_id,
                  const std::vector<std::string>& strings) {
  if (!source) return false;
  std::string line = std::to_string(static_cast<long long>(time(nullptr)));
  line += '\t';
  append_escaped(line, source->name);
  line += '\t';
  line += event_type_name(type);
  line += '\t' + std::to_string(category) + '\t' + std::to_string(event_id);
  std::string joined;
  for (const std::string& s : strings) {
    line += '\t';
    append_escaped(line, s);
    if (!joined.empty()) joined += ' ';
    joined += s;
  }
  line += '\n';

  openlog(source->name.c_str(), LOG_PID, LOG_DAEMON);
  syslog(syslog_priority(type), "%s", joined.c_str());
  closelog();

  int fd = open(eventlog_path().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ssize_t n;
  do {
    n = write(fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  close(fd);
  return n == static_cast<ssize_t>(line.size());
}

std::vector<EventRecord> read_eventlog(const std::string& path) {
  std::vector<EventRecord> events;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
      size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (fields.size() < 5) continue;
    EventRecord r;
    try {
      r.time = std::stoll(fields[0]);
      r.category = std::stoi(fields[3]);
      r.event_id = std::stoi(fields[4]);
    } catch (...) {
      continue;
    }
    unescape_field(fields[1], &r.source);  // a lone final backslash is kept
    r.type = fields[2];
    for (size_t i = 5; i < fields.size(); ++i) {
      std::string text;
      unescape_field(fields[i], &text);
      r.strings.push_back(std::move(text));
    }
    events.push_back(std::move(r));
  }
  return events;
}

}  // namespace vorlane::platform
