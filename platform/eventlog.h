// Event log stand-in.
//
// Every event is one line appended to $VORLANE_ROOT/eventlog with a single
// write(2), so events of concurrent threads and processes never interleave:
//
//   <unix time>\t<source>\t<type>\t<category>\t<event id>\t<string>...\n
//
// type is "error", "warning" or "information". Each string is escaped so that
// the line stays one line: backslash as "\\", newline as "\n", carriage
// return as "\r", tab as "\t". The same event goes to syslog(3) with the
// source as ident; the text is passed as the argument of "%s", never as a
// format.
#pragma once

#include <string>
#include <vector>

namespace vorlane::platform {

enum class EventType { error, warning, information };

const char* event_type_name(EventType type);

// A registered event source. Registration fails only when the source name is
// empty; it is kept for symmetry with the platform's register/deregister pair.
struct EventSource {
  std::string name;
};

// Registers a source; null on failure. Release it with deregister_event_source.
EventSource* register_event_source(const char* name);
void deregister_event_source(EventSource* source);

// Reports one event. Returns false when the line could not be written (the
// syslog copy is sent either way).
bool report_event(EventSource* source, EventType type, int category, int event_id,
                  const std::vector<std::string>& strings);

// Path of the event log file under the current root.
std::string eventlog_path();

// One parsed event line, for readers of the log (tests, tools).
struct EventRecord {
  long long time = 0;
  std::string source;
  std::string type;
  int category = 0;
  int event_id = 0;
  std::vector<std::string> strings;
};

// Reads every event of the log at path; lines that do not parse are skipped.
std::vector<EventRecord> read_eventlog(const std::string& path);

}  // namespace vorlane::platform
