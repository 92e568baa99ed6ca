#include "platform/service_manager.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/errors.h"
#include "platform/event.h"
#include "platform/file_replace.h"
#include "platform/process.h"
#include "platform/root.h"

extern char** environ;

namespace vorlane::platform {

namespace {

bool valid_name(const char* name) {
  return name && *name && name[0] != '.' && !strchr(name, '/');
}

bool write_file_atomically(const std::string& path, const std::string& text) {
  return replace_file(path, text, false) == 0;
}

bool pid_running(pid_t pid) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0) return errno == EPERM;
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line)) return false;
  size_t close_paren = line.rfind(')');
  return close_paren == std::string::npos || close_paren + 2 >= line.size() || line[close_paren + 2] != 'Z';
}

std::string format_status(const ServiceStatus& s, pid_t pid) {
  char text[256];
  snprintf(text, sizeof text,
           "pid=%d\nstate=%u\ncheck_point=%u\nwait_hint=%u\nexit_code=%u\nspecific_exit_code=%u\ncontrols=%u\n"
           "type=%u\n",
           static_cast<int>(pid), s.current_state, s.check_point, s.wait_hint, s.win32_exit_code,
           s.service_specific_exit_code, s.controls_accepted, s.service_type);
  return text;
}

bool read_status(const std::string& dir, ServiceStatus* s, pid_t* pid) {
  std::ifstream in(dir + "/status");
  if (!in) return false;
  std::map<std::string, unsigned long> v;
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) v[line.substr(0, eq)] = strtoul(line.c_str() + eq + 1, nullptr, 10);
  }
  *pid = static_cast<pid_t>(v["pid"]);
  s->current_state = static_cast<uint32_t>(v["state"]);
  s->check_point = static_cast<uint32_t>(v["check_point"]);
  s->wait_hint = static_cast<uint32_t>(v["wait_hint"]);
  s->win32_exit_code = static_cast<uint32_t>(v["exit_code"]);
  s->service_specific_exit_code = static_cast<uint32_t>(v["specific_exit_code"]);
  s->controls_accepted = static_cast<uint32_t>(v["controls"]);
  if (v.count("type")) s->service_type = static_cast<uint32_t>(v["type"]);
  return true;
}

// Holds the service directory's lock file (flock) for the life of the
// object: the starter's first status and the service's reports never cross.
class ServiceLock {
 public:
  explicit ServiceLock(const std::string& dir) : fd_(open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~ServiceLock() {
    if (fd_ >= 0) close(fd_);
  }
  ServiceLock(const ServiceLock&) = delete;
  ServiceLock& operator=(const ServiceLock&) = delete;

 private:
  int fd_;
};

// The service this process runs as, while its dispatcher runs.
struct Dispatch {
  std::mutex lock;  // serialises status writes
  std::string name;
  ServiceControlHandler handler = nullptr;
  bool active = false;
};

Dispatch dispatch;

}  // namespace

struct ServiceStatusRecord {
  int unused = 0;
};

namespace {
ServiceStatusRecord the_status_record;
}

std::string service_dir(const char* name) { return root_dir() + "/services/" + (name ? name : ""); }

int service_manager_open() {
  std::string dir = root_dir() + "/services";
  if (!make_dirs(dir)) return error_access_denied;
  return access(dir.c_str(), R_OK | X_OK) == 0 ? error_success : error_access_denied;
}

int service_install(const char* name, const char* program) {
  if (!valid_name(name) || !program) return error_invalid_parameter;
  if (service_manager_open() != error_success) return error_access_denied;
  std::string dir = service_dir(name);
  if (!make_dirs(dir)) return error_access_denied;
  return write_file_atomically(dir + "/config", std::string(program) + "\n") ? error_success : error_access_denied;
}

int service_query_config(const char* name, std::string* program) {
  if (!valid_name(name)) return error_invalid_parameter;
  std::ifstream in(service_dir(name) + "/config");
  std::string line;
  if (!in || !std::getline(in, line)) return error_service_does_not_exist;
  *program = line;
  return error_success;
}

int service_query_status(const char* name, ServiceStatus* status, pid_t* pid) {
  *status = ServiceStatus();
  if (pid) *pid = 0;
  std::string program;
  int rc = service_query_config(name, &program);
  if (rc != error_success) return rc;
  pid_t recorded = 0;
  if (!read_status(service_dir(name), status, &recorded)) return error_success;  // never started: stopped
  if (status->current_state != service_stopped && !pid_running(recorded)) {
    status->current_state = service_stopped;
    status->check_point = 0;
    status->wait_hint = 0;
    status->controls_accepted = 0;
  }
  if (pid && status->current_state != service_stopped) *pid = recorded;
  return error_success;
}

int service_start(const char* name, pid_t* pid) {
  std::string program;
  int rc = service_query_config(name, &program);
  if (rc != error_success) return rc;
  ServiceStatus status;
  pid_t running = 0;
  service_query_status(name, &status, &running);
  if (running) return error_service_already_running;

  std::vector<std::string> env;
  std::string mine = std::string(service_name_variable) + "=";
  for (char** e = environ; *e; ++e)
    if (strncmp(*e, mine.c_str(), mine.size()) != 0) env.emplace_back(*e);
  env.push_back(mine + name);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {program.data(), nullptr};
  SpawnRequest request;
  request.path = program.c_str();
  request.argv = argv;
  request.envp = envp.data();
  request.directory = "/";
  Process child;
  {
    // The service reports its own status only once this one is written.
    ServiceLock lock(service_dir(name));
    rc = process_spawn(request, &child);
    if (rc) return rc == ENOENT ? error_file_not_found : rc;
    ServiceStatus pending;
    pending.current_state = service_start_pending;
    write_file_atomically(service_dir(name) + "/status", format_status(pending, child.pid));
  }
  if (pid) *pid = child.pid;
  // The service runs on; only the descriptor is released.
  process_close(&child);
  return error_success;
}

int service_stop(const char* name) {
  ServiceStatus status;
  pid_t pid = 0;
  int rc = service_query_status(name, &status, &pid);
  if (rc != error_success) return rc;
  if (!pid) return error_service_not_active;
  return kill(pid, SIGTERM) == 0 ? error_success : error_service_not_active;
}

int service_dispatcher_run(const ServiceTableEntry& entry) {
  const char* started_as = getenv(service_name_variable);
  if (!entry.name || !entry.main || !started_as || strcmp(started_as, entry.name) != 0)
    return error_failed_service_controller_connect;
  // Connected: the programs the service starts are not the service.
  unsetenv(service_name_variable);

  // SIGTERM is taken from a descriptor; every thread made from here on
  // inherits the blocked mask.
  sigset_t term, old;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, &old);
  int sfd = signalfd(-1, &term, SFD_CLOEXEC);
  Event done;
  if (sfd < 0 || !event_create(&done)) {
    if (sfd >= 0) close(sfd);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return error_failed_service_controller_connect;
  }
  {
    std::lock_guard<std::mutex> g(dispatch.lock);
    dispatch.name = entry.name;
    dispatch.handler = nullptr;
    dispatch.active = true;
  }
  std::string name = entry.name;
  std::thread service([&] {
    char* argv[] = {name.data(), nullptr};
    entry.main(1, argv);
    event_set(done);
  });
  while (true) {
    pollfd fds[2] = {{sfd, POLLIN, 0}, {done.fd, POLLIN, 0}};
    int r = poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || fds[1].revents) break;
    if (fds[0].revents) {
      signalfd_siginfo info;
      if (read(sfd, &info, sizeof info) != sizeof info) continue;
      ServiceControlHandler handler;
      {
        std::lock_guard<std::mutex> g(dispatch.lock);
        handler = dispatch.handler;
      }
      if (handler) handler(service_control_stop);
    }
  }
  service.join();
  {
    std::lock_guard<std::mutex> g(dispatch.lock);
    dispatch.active = false;
    dispatch.handler = nullptr;
  }
  event_close(&done);
  close(sfd);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return error_success;
}

ServiceStatusHandle service_register_control_handler(const char* name, ServiceControlHandler handler) {
  std::lock_guard<std::mutex> g(dispatch.lock);
  if (!dispatch.active || !name || dispatch.name != name) return nullptr;
  dispatch.handler = handler;
  return &the_status_record;
}

int service_set_status(ServiceStatusHandle handle, const ServiceStatus& status) {
  if (handle != &the_status_record) return error_invalid_parameter;
  std::lock_guard<std::mutex> g(dispatch.lock);
  std::string dir = service_dir(dispatch.name.c_str());
  ServiceLock lock(dir);
  // The history line first, so that a reader who sees the new status finds
  // it in the history too.
  char line[128];
  int n = snprintf(line, sizeof line, "%u %u %u %u %u\n", status.current_state, status.check_point,
                   status.wait_hint, status.win32_exit_code, status.controls_accepted);
  int fd = open((dir + "/history").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return error_access_denied;
  ssize_t w = write(fd, line, static_cast<size_t>(n));
  close(fd);
  if (w != n) return error_access_denied;
  if (!write_file_atomically(dir + "/status", format_status(status, getpid()))) return error_access_denied;
  return error_success;
}

}  // namespace vorlane::platform
