// NTLM steps against fault-injection packages whose answers the test sets;
// the error codes asserted here never reach scripts.
#include "engine/auth/ntlm_step.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/module/sorn_module.h"
#include "engine/auth/sspi_binding.h"
#include "platform/computer_name.h"
#include "platform/testing/sspi_stub.h"
#include "store/testing/log_capture.h"

namespace vorlane::engine {

PyObject* sorn_ntlm(PyObject* self, PyObject* args);

namespace {

using sspi::sspi_stub_control_record;

constexpr char kStubDir[] = VORLANE_SSPI_STUB_DIR;

std::string stub(const char* variant) { return std::string(kStubDir) + "/libvorlane-sspi-stub" + variant + ".so"; }

class NtlmStep : public ::testing::Test {
 protected:
  void TearDown() override {
    sspi_unload();
    unsetenv("VORLANE_SSPI");
  }

  // Binds the package at path; the stub's control record, reset.
  sspi_stub_control_record* use(const std::string& path) {
    sspi_unload();
    setenv("VORLANE_SSPI", path.c_str(), 1);
    if (!sspi_load()) return nullptr;
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    auto* control = static_cast<sspi_stub_control_record*>(dlsym(h, "sspi_stub_control"));
    dlclose(h);
    *control = sspi_stub_control_record{};
    return control;
  }

  struct Made {
    ntlm_context* c;
    ~Made() { ntlm_context_free(c); }
  };
};

TEST_F(NtlmStep, MissingLibraryOrRequiredNameGives40) {
  for (std::string path : {std::string("/nonexistent/libvorlane-sspi.so"), stub("-partial")}) {
    EXPECT_EQ(use(path), nullptr) << path;
    EXPECT_EQ(sspi_package(), nullptr);
    Made m{ntlm_context_make("DOM\\bob", "pw")};
    std::string token;
    EXPECT_FALSE(ntlm_step(m.c, "NTLM", "", &token));
    EXPECT_EQ(m.c->error, 40) << path;
  }
  // The optional name may be missing.
  EXPECT_NE(use(stub("-nocomplete")), nullptr);
}

TEST_F(NtlmStep, ExchangeWithSchemeAndDataChecks) {
  sspi_stub_control_record* s = use(stub(""));
  ASSERT_NE(s, nullptr);
  LogCapture log;
  Made m{ntlm_context_make("DOM\\bob", "secret")};
  std::string token;

  EXPECT_FALSE(ntlm_step(m.c, "ntlm", "", &token));
  EXPECT_EQ(m.c->error, 22);
  EXPECT_EQ(s->init_calls, 0);

  ASSERT_TRUE(ntlm_step(m.c, "NTLM", "", &token));
  EXPECT_EQ(token, "c3R1Yi10b2tlbg==");  // "stub-token"
  EXPECT_TRUE(m.c->more_steps);
  EXPECT_EQ(s->last_input_size, 0u);
  EXPECT_STREQ(s->last_target, "InetSvcs");
  EXPECT_EQ(s->last_data_representation, 0x10u);
  EXPECT_STREQ(s->last_user, "bob");
  EXPECT_STREQ(s->last_domain, "DOM");
  EXPECT_STREQ(s->last_password, "secret");

  // A later step without data.
  EXPECT_FALSE(ntlm_step(m.c, "NTLM", "", &token));
  EXPECT_EQ(m.c->error, 1);
  EXPECT_TRUE(log.contains("NTLM auth protocol error, no data from server"));

  // Data too short for the decode buffer (as long as the text).
  EXPECT_FALSE(ntlm_step(m.c, "NTLM", "Zm9v", &token));
  EXPECT_EQ(m.c->error, 12);
  EXPECT_TRUE(log.contains("base64 decode failed for \"Zm9v\""));

  s->init_status = sspi::kOk;
  ASSERT_TRUE(ntlm_step(m.c, "NTLM", "  Y2hhbGxlbmdlIGZyb20gc2VydmVy", &token));
  EXPECT_EQ(std::string(s->last_input, s->last_input_size), "challenge from server");
  EXPECT_FALSE(m.c->more_steps);
  EXPECT_EQ(s->acquire_calls, 1);
}

TEST_F(NtlmStep, PackageFailures) {
  sspi_stub_control_record* s = use(stub(""));
  ASSERT_NE(s, nullptr);
  std::string token;
  {
    Made m{ntlm_context_make("bob", "wrong")};
    s->init_status = sspi::kLogonDenied;
    EXPECT_FALSE(ntlm_step(m.c, "NTLM", "", &token));
    EXPECT_EQ(m.c->error, 1326);
    s->init_status = sspi::kInvalidToken;
    EXPECT_FALSE(ntlm_step(m.c, "NTLM", "", &token));
    EXPECT_EQ(m.c->error, sspi::kInvalidToken);
    EXPECT_FALSE(m.c->context_made);
    EXPECT_TRUE(m.c->first_step);
    // The first step was tried twice; the credentials were acquired once.
    EXPECT_EQ(s->acquire_calls, 1);
    EXPECT_EQ(s->query_calls, 1);
    EXPECT_EQ(s->free_buffer_calls, 1);
  }
  // Freed with the object.
  EXPECT_EQ(s->free_calls, 1);
  EXPECT_EQ(s->live_credentials, 0);

  Made m{ntlm_context_make("bob", "pw")};
  s->init_status = sspi::kContinueNeeded;
  s->acquire_status = sspi::kNoCredentials;
  EXPECT_FALSE(ntlm_step(m.c, "NTLM", "", &token));
  EXPECT_EQ(m.c->error, sspi::kNoCredentials);
  EXPECT_FALSE(m.c->credentials_acquired);
  s->acquire_status = sspi::kOk;
  s->query_status = sspi::kPackageNotFound;
  EXPECT_FALSE(ntlm_step(m.c, "NTLM", "", &token));
  EXPECT_EQ(m.c->error, sspi::kPackageNotFound);
  // A token larger than the package's maximum size.
  s->query_status = sspi::kOk;
  s->max_token = 4;
  EXPECT_FALSE(ntlm_step(m.c, "NTLM", "", &token));
  EXPECT_EQ(m.c->error, sspi::kBufferTooSmall);
}

TEST_F(NtlmStep, TokensThatNeedCompleting) {
  sspi_stub_control_record* s = use(stub(""));
  ASSERT_NE(s, nullptr);
  std::string token;
  Made m{ntlm_context_make("bob", "pw")};
  s->init_status = sspi::kCompleteAndContinue;
  ASSERT_TRUE(ntlm_step(m.c, "NTLM", "", &token));
  EXPECT_EQ(s->complete_calls, 1);
  EXPECT_TRUE(m.c->more_steps);
  s->init_status = sspi::kCompleteNeeded;
  s->complete_status = sspi::kInvalidToken;
  EXPECT_FALSE(ntlm_step(m.c, "NTLM", "Y2hhbGxlbmdlIGZyb20gc2VydmVy", &token));
  EXPECT_EQ(m.c->error, sspi::kInvalidToken);
  s->complete_status = sspi::kOk;
  ASSERT_TRUE(ntlm_step(m.c, "NTLM", "Y2hhbGxlbmdlIGZyb20gc2VydmVy", &token));
  EXPECT_FALSE(m.c->more_steps);

  // Without the optional function such a step fails.
  s = use(stub("-nocomplete"));
  ASSERT_NE(s, nullptr);
  Made n{ntlm_context_make("bob", "pw")};
  s->init_status = sspi::kCompleteNeeded;
  EXPECT_FALSE(ntlm_step(n.c, "NTLM", "", &token));
  EXPECT_EQ(n.c->error, sspi::kUnsupportedFunction);
  EXPECT_TRUE(n.c->context_made);
}

TEST_F(NtlmStep, UserStringSplit) {
  char computer[16];
  platform::computer_name(computer, sizeof computer);
  const struct {
    const char* user_string;
    const char* domain;
    const char* user;
  } cases[] = {
      {"DOM\\bob", "DOM", "bob"},   {"DOM/bob", "DOM", "bob"},   {"a/b\\c", "a", "b\\c"},
      {"bob", computer, "bob"},     {"\\bob", "", "bob"},        {"", computer, ""},
  };
  for (const auto& c : cases) {
    Made m{ntlm_context_make(c.user_string, "pw")};
    EXPECT_STREQ(m.c->domain, c.domain) << c.user_string;
    EXPECT_STREQ(m.c->user_name, c.user) << c.user_string;
    EXPECT_EQ(m.c->error, 0);
  }
  EXPECT_GT(strlen(computer), 0u);
  EXPECT_LE(strlen(computer), 15u);
  for (const char* p = computer; *p; ++p) EXPECT_FALSE(*p >= 'a' && *p <= 'z');
}

TEST_F(NtlmStep, AuthstepLogsAndResults) {
  sspi_stub_control_record* s = use(stub(""));
  ASSERT_NE(s, nullptr);
  LogCapture log;
  PyObject* args = Py_BuildValue("(ss)", "DOM\\bob", "pw");
  PyObject* object = sorn_ntlm(nullptr, args);
  Py_DECREF(args);
  ASSERT_NE(object, nullptr);

  PyObject* r = PyObject_CallMethod(object, "authstep", "ss", "NTLM", "");
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(PyUnicode_Check(r));
  EXPECT_STREQ(PyUnicode_AsUTF8(r), "c3R1Yi10b2tlbg==");
  Py_DECREF(r);

  r = PyObject_CallMethod(object, "authstep", "ss", "NTLM", "");
  EXPECT_EQ(r, Py_None);
  Py_XDECREF(r);
  EXPECT_TRUE(log.contains("can't log in user \"DOM\\bob\" for NTLM authentication"));

  r = PyObject_CallMethod(object, "authstep", "ss", "NTLM", "!");
  EXPECT_EQ(r, Py_None);
  Py_XDECREF(r);
  bool warned = false;
  for (const auto& line : log.lines())
    if (line.text == "out of memory in NTLM authentication") warned = line.level == LOG_WARNING;
  EXPECT_TRUE(warned);

  // A refused logon logs nothing in authstep.
  size_t lines = log.lines().size();
  s->init_status = sspi::kLogonDenied;
  r = PyObject_CallMethod(object, "authstep", "ss", "NTLM", "Y2hhbGxlbmdlIGZyb20gc2VydmVy");
  EXPECT_EQ(r, Py_None);
  Py_XDECREF(r);
  EXPECT_EQ(log.lines().size(), lines);

  Py_DECREF(object);
  EXPECT_EQ(s->free_calls, 1);
}

}  // namespace
}  // namespace vorlane::engine
