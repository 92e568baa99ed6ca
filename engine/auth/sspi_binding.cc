#include "engine/auth/sspi_binding.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "engine/module/sorn_init_hooks.h"

namespace vorlane::engine {

namespace {

constexpr char kLibraryName[] = "libvorlane-sspi.so";

std::mutex load_mutex;
void* library = nullptr;
sspi_functions functions;
std::atomic<const sspi_functions*> bound{nullptr};

// $VORLANE_SSPI, else the package's name in the directory of the object
// that holds this code (libvorlane.so in a server).
std::string library_path() {
  if (const char* env = getenv("VORLANE_SSPI"); env && *env) return env;
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&sspi_load), &info) && info.dli_fname) {
    std::string self = info.dli_fname;
    size_t slash = self.rfind('/');
    if (slash != std::string::npos) return self.substr(0, slash + 1) + kLibraryName;
  }
  return kLibraryName;
}

template <typename F>
bool bind(F* slot, const char* name) {
  *slot = reinterpret_cast<F>(dlsym(library, name));
  return *slot != nullptr;
}

}  // namespace

const sspi_functions* sspi_package() { return bound.load(std::memory_order_acquire); }

const sspi_functions* sspi_load() {
  std::lock_guard<std::mutex> lock(load_mutex);
  if (const sspi_functions* f = bound.load(std::memory_order_acquire)) return f;
  library = dlopen(library_path().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  sspi_functions f{};
  bool complete = bind(&f.FreeCredentialsHandle, "FreeCredentialsHandle") &&
                  bind(&f.QuerySecurityPackageInfoA, "QuerySecurityPackageInfoA") &&
                  bind(&f.AcquireCredentialsHandleA, "AcquireCredentialsHandleA") &&
                  bind(&f.FreeContextBuffer, "FreeContextBuffer") &&
                  bind(&f.InitializeSecurityContextA, "InitializeSecurityContextA") &&
                  bind(&f.EnumerateSecurityPackagesA, "EnumerateSecurityPackagesA");
  if (!complete) {
    dlclose(library);
    library = nullptr;
    return nullptr;
  }
  bind(&f.CompleteAuthToken, "CompleteAuthToken");
  functions = f;
  bound.store(&functions, std::memory_order_release);
  return &functions;
}

void sspi_init() { sspi_load(); }

void sspi_unload() {
  std::lock_guard<std::mutex> lock(load_mutex);
  bound.store(nullptr, std::memory_order_release);
  if (library) dlclose(library);
  library = nullptr;
  functions = {};
}

}  // namespace vorlane::engine
