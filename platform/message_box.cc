#include "platform/message_box.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "platform/file_replace.h"
#include "platform/line_escape.h"
#include "platform/root.h"

namespace vorlane::platform {

std::string messages_path() { return root_path("messages"); }

int message_box(const char* text, const char* caption, unsigned style) {
  if (!text) text = "";
  if (!caption) caption = "Error";
  write_whole(2, std::string(caption) + ": " + text + "\n");

  char head[64];
  snprintf(head, sizeof head, "%lld\t%x\t", static_cast<long long>(time(nullptr)), style);
  std::string line = head;
  append_escaped(line, caption);
  line += '\t';
  append_escaped(line, text);
  line += '\n';
  int fd = open(messages_path().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) {
    write_whole(fd, line);
    close(fd);
  }
  return id_ok;
}

}  // namespace vorlane::platform
