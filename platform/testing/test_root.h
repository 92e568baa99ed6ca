// Test helper: a temporary directory made the root of every stand-in for the
// life of the object ($VORLANE_ROOT points at it), removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace vorlane::platform {

class TestRoot {
 public:
  TestRoot() {
    std::string tmpl = std::filesystem::temp_directory_path().string() + "/vorlane-test-XXXXXX";
    char* made = mkdtemp(tmpl.data());
    path_ = made ? made : tmpl;
    const char* old = std::getenv("VORLANE_ROOT");
    had_old_ = old != nullptr;
    if (old) old_ = old;
    setenv("VORLANE_ROOT", path_.c_str(), 1);
  }
  ~TestRoot() {
    if (had_old_) setenv("VORLANE_ROOT", old_.c_str(), 1); else unsetenv("VORLANE_ROOT");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TestRoot(const TestRoot&) = delete;
  TestRoot& operator=(const TestRoot&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::string old_;
  bool had_old_ = false;
};

}  // namespace vorlane::platform
