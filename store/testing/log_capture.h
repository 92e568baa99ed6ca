// Test helper: replaces the log handler while alive and keeps each passing
// message as formatted text.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "store/log.h"

namespace vorlane {

class LogCapture {
 public:
  struct Line {
    uint32_t level;
    std::string text;
  };

  explicit LogCapture(uint32_t mask = 0xFFFFFFFFu) : old_handler_(log_handler.load()), old_mask_(log_mask.load()) {
    current() = this;
    log_mask.store(mask);
    log_handler.store(&handle);
  }
  ~LogCapture() {
    log_handler.store(old_handler_);
    log_mask.store(old_mask_);
    current() = nullptr;
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<Line> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  bool contains(const std::string& part) {
    for (const Line& l : lines())
      if (l.text.find(part) != std::string::npos) return true;
    return false;
  }
  std::string all() {
    std::string out;
    for (const Line& l : lines()) out += l.text + "\n";
    return out;
  }

 private:
  static LogCapture*& current() {
    static LogCapture* instance = nullptr;
    return instance;
  }
  static void handle(uint32_t level, const char* format, va_list args) {
    char buf[16384];
    vsnprintf(buf, sizeof buf, format, args);
    LogCapture* self = current();
    if (!self) return;
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.push_back({level, buf});
  }

  log_handler_fn old_handler_;
  uint32_t old_mask_;
  std::mutex mutex_;
  std::vector<Line> lines_;
};

}  // namespace vorlane
