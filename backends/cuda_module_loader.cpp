// Finding and loading the CUDA module. A driver and a device are looked for first, through the
// driver library alone (a few milliseconds), so that a machine without a GPU never maps the CUDA
// runtime, cuFFT or cuBLAS.
#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "backends/cuda_module.hpp"

namespace kestrav {
namespace {

#if KESTRAV_HAVE_CUDA

std::string dlerrorText() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown error";
}

// True when the driver library loads and reports a device; otherwise the reason.
bool driverWithDevice(std::string& whyNot) {
  void* driver = dlopen("libcuda.so.1", RTLD_LAZY | RTLD_LOCAL);
  if (driver == nullptr) {
    whyNot = "no CUDA driver (" + dlerrorText() + ")";
    return false;
  }
  using Init = int (*)(unsigned);
  using DeviceCount = int (*)(int*);
  const auto init = reinterpret_cast<Init>(dlsym(driver, "cuInit"));
  const auto deviceCount = reinterpret_cast<DeviceCount>(dlsym(driver, "cuDeviceGetCount"));
  if (init == nullptr || deviceCount == nullptr) {
    whyNot = "the CUDA driver library lacks cuInit or cuDeviceGetCount";
    return false;
  }
  if (const int status = init(0); status != 0) {
    whyNot = "the CUDA driver cannot start (cuInit returned " + std::to_string(status) + ")";
    return false;
  }
  int count = 0;
  if (deviceCount(&count) != 0 || count < 1) {
    whyNot = "the CUDA driver reports no device";
    return false;
  }
  // The driver stays loaded: the module uses it next.
  return true;
}

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Where the module may be: the override, then beside whichever program or library holds this
// code, then ../lib and the installed library folder from there.
std::vector<std::string> moduleCandidates() {
  if (const char* override = std::getenv("KESTRAV_CUDA_MODULE"); override && *override) {
    return {override};
  }
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&moduleCandidates), &info) == 0 || info.dli_fname == nullptr) {
    return {CudaModuleFileName};
  }
  const std::string here = directoryOf(info.dli_fname);
  std::vector<std::string> candidates{here + "/" + CudaModuleFileName,
                                      here + "/../lib/" + CudaModuleFileName};
#ifdef KESTRAV_BIN_TO_LIB
  // An installed program: the library folder as seen from the program's folder.
  candidates.push_back(here + "/" + KESTRAV_BIN_TO_LIB + "/" + CudaModuleFileName);
#endif
  return candidates;
}

const KestravCudaModule* load(std::string& whyNot) {
  if (!driverWithDevice(whyNot)) return nullptr;
  std::string tried;
  for (const std::string& path : moduleCandidates()) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      tried += (tried.empty() ? "" : "; ") + dlerrorText();
      continue;
    }
    const auto entry =
        reinterpret_cast<KestravCudaModuleEntry>(dlsym(library, CudaModuleEntryName));
    const KestravCudaModule* module = entry != nullptr ? entry() : nullptr;
    if (module == nullptr || module->interfaceVersion != BackendInterfaceVersion) {
      whyNot = path + " is not a CUDA module of this build";
      dlclose(library);
      return nullptr;
    }
    return module;  // stays loaded for the life of the process
  }
  whyNot = "the CUDA module cannot be loaded (" + tried + ")";
  return nullptr;
}

#endif

}  // namespace

const KestravCudaModule* loadCudaModule(std::string* whyNot) {
#if KESTRAV_HAVE_CUDA
  static std::once_flag once;
  static const KestravCudaModule* module = nullptr;
  static std::string reason;
  std::call_once(once, [] { module = load(reason); });
#else
  static const KestravCudaModule* const module = nullptr;
  static const std::string reason = "built without CUDA";
#endif
  if (module == nullptr && whyNot != nullptr) *whyNot = reason;
  return module;
}

}  // namespace kestrav
