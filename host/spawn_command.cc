#include "host/spawn_command.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "host/cmdline.h"
#include "platform/process.h"

extern char** environ;

namespace vorlane::host {

namespace {

// The argument without its quotes when it begins with one and holds a
// closing one (as the child's own parse of its command line would read it).
std::string unquote(const char* arg) {
  std::string s = arg;
  if (s.empty() || s[0] != '"') return s;
  size_t close = s.find('"', 1);
  if (close == std::string::npos) return s;
  return s.substr(1, close - 1) + s.substr(close + 1);
}

// Raises the calling thread's scheduling priority while it watches a child
// and restores it afterwards; best effort.
class ThreadPriorityBoost {
 public:
  ThreadPriorityBoost() : tid_(static_cast<id_t>(gettid())) {
    errno = 0;
    int old = getpriority(PRIO_PROCESS, tid_);
    if (errno == 0) {
      old_ = old;
      raised_ = setpriority(PRIO_PROCESS, tid_, -20) == 0;
    }
  }
  ~ThreadPriorityBoost() {
    if (raised_) setpriority(PRIO_PROCESS, tid_, old_);
  }
  ThreadPriorityBoost(const ThreadPriorityBoost&) = delete;
  ThreadPriorityBoost& operator=(const ThreadPriorityBoost&) = delete;

 private:
  id_t tid_;
  int old_ = 0;
  bool raised_ = false;
};

int watch(platform::Process* child, int limit_seconds) {
  const long long limit = static_cast<long long>(limit_seconds) * 1000;
  long long timeout = limit + 5000;
  while (true) {
    int r = platform::process_wait(child, timeout < 0 ? 0 : timeout);
    if (r == 1) return child->exit_code;
    long long user = 0;
    if (r < 0 || !platform::process_user_time_ms(*child, &user)) break;
    long long elapsed = platform::process_elapsed_ms(*child);
    if (user > limit || elapsed > 5 * limit) break;
    timeout = limit - user + 5000;
  }
  platform::process_terminate(child, spawn_limit_exit_code);
  return spawn_limit_exit_code;
}

}  // namespace

int prepare_spawn(const char* command, SpawnPlan* plan) {
  *plan = SpawnPlan();
  // Room for one argument more than any command that passes the limits can
  // hold, so that a longer one is seen.
  constexpr int slots = MAX_ARGV + MAX_ENVP + 1;
  std::vector<char*> args(slots);
  int argc = 0;
  char* copy = parseCmdLine(command, &argc, args.data(), slots, 0);
  if (!copy) return -1;
  struct FreeCopy {
    char* p;
    ~FreeCopy() { free(p); }
  } free_copy{copy};
  if (argc >= slots) return E2BIG;

  std::vector<std::string>& env = plan->env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  int first = 0;
  for (; first < argc && strchr(args[static_cast<size_t>(first)], '='); ++first) {
    std::string assignment = args[static_cast<size_t>(first)];
    std::string prefix = assignment.substr(0, assignment.find('=') + 1);
    bool replaced = false;
    for (std::string& entry : env) {
      if (entry.compare(0, prefix.size(), prefix) == 0) {
        entry = assignment;
        replaced = true;
        break;
      }
    }
    if (!replaced) env.push_back(assignment);
  }
  if (first == argc || argc - first >= MAX_ARGV || env.size() >= static_cast<size_t>(MAX_ENVP)) return E2BIG;
  size_t line_length = 0;
  for (int i = first; i < argc; ++i) line_length += strlen(args[static_cast<size_t>(i)]) + 1;
  if (line_length > static_cast<size_t>(max_command_line)) return E2BIG;
  for (int i = first; i < argc; ++i) plan->args.push_back(unquote(args[static_cast<size_t>(i)]));
  return 0;
}

int run_spawn(SpawnPlan& plan, int limit_seconds) {
  std::vector<char*> argv;
  for (std::string& a : plan.args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : plan.env) envp.push_back(e.data());
  envp.push_back(nullptr);

  platform::SpawnRequest request;
  request.path = plan.args[0].c_str();
  request.argv = argv.data();
  request.envp = envp.data();
  platform::Process child;
  int rc = platform::process_spawn(request, &child);
  if (rc) return rc;
  // Raised only once the child exists, so that it does not inherit the
  // watcher's priority.
  ThreadPriorityBoost boost;
  int code = watch(&child, limit_seconds);
  platform::process_close(&child);
  return code;
}

std::optional<int> spawn_command(const char* command, int limit_seconds) {
  SpawnPlan plan;
  int rc = prepare_spawn(command, &plan);
  if (rc < 0) return std::nullopt;
  if (rc > 0) return rc;
  return run_spawn(plan, limit_seconds);
}

}  // namespace vorlane::host
