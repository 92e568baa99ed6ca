#include "engine/testing/interpreter_env.h"

#include "engine/module/sorn_module.h"

// The interpreter keeps memory until the process ends.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() { return "detect_leaks=0"; }

namespace vorlane::testing {
namespace {

class Interpreter : public ::testing::Environment {
 public:
  explicit Interpreter(void (*after_start)()) : after_start_(after_start) {}
  void SetUp() override {
    Py_InitializeEx(0);
    ASSERT_TRUE(engine::sorn_engine_init());
    if (after_start_) after_start_();
  }

 private:
  void (*after_start_)();
};

}  // namespace

::testing::Environment* add_interpreter_environment(void (*after_start)()) {
  return ::testing::AddGlobalTestEnvironment(new Interpreter(after_start));
}

}  // namespace vorlane::testing
