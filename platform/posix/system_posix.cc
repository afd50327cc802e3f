// Process identity, time, module loading and the critical section on
// POSIX: getpid, localtime_r, nanosleep and the monotonic clock standing in
// for Sleep and GetTickCount64, the dl* family standing in for
// LoadLibrary/GetProcAddress/FreeLibrary/GetModuleHandleEx, and a
// recursive mutex standing in for CRITICAL_SECTION.
//
// A Module* is the dlopen() handle itself; LoadModule takes a reference
// that UnloadModule drops, while ModuleOf, like GetModuleHandle, hands out
// the handle of an already loaded object without a reference of its own.

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace qx::platform {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

LocalDate Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local = {};
  ::localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

void SleepMilliseconds(uint32_t ms) {
  struct timespec left = {static_cast<time_t>(ms / 1000),
                          static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint64_t TickCount() {
  struct timespec now = {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u +
         static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// ---------------------------------------------------------------------------
// Modules

namespace {

Module* AsModule(void* handle) { return static_cast<Module*>(handle); }
void* AsHandle(Module* module) { return static_cast<void*>(module); }

}  // namespace

Module* LoadModule(const char* utf8_path) {
  if (utf8_path == nullptr || *utf8_path == '\0') {
    internal::Fail(kErrorModNotFound);
    return nullptr;
  }
  void* handle = ::dlopen(utf8_path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    internal::Fail(kErrorModNotFound);
    return nullptr;
  }
  SetLastError(kErrorSuccess);
  return AsModule(handle);
}

void* ModuleSymbol(Module* module, const char* name) {
  if (module == nullptr) {
    internal::Fail(kErrorInvalidHandle);
    return nullptr;
  }
  if (name == nullptr) {
    internal::Fail(kErrorProcNotFound);
    return nullptr;
  }
  ::dlerror();  // a null symbol value is told from a miss by dlerror()
  void* address = ::dlsym(AsHandle(module), name);
  if (address == nullptr && ::dlerror() != nullptr) {
    internal::Fail(kErrorProcNotFound);
    return nullptr;
  }
  SetLastError(kErrorSuccess);
  return address;
}

bool UnloadModule(Module* module) {
  if (module == nullptr) return internal::Fail(kErrorInvalidHandle);
  if (::dlclose(AsHandle(module)) != 0) {
    return internal::Fail(kErrorInvalidHandle);
  }
  SetLastError(kErrorSuccess);
  return true;
}

Module* ModuleOf(const void* address) {
  Dl_info info = {};
  if (address == nullptr || ::dladdr(address, &info) == 0 ||
      info.dli_fname == nullptr) {
    internal::Fail(kErrorModNotFound);
    return nullptr;
  }
  // RTLD_NOLOAD finds the loaded object by name and counts a reference,
  // which is dropped at once: the object stays loaded by whoever loaded it.
  void* handle = ::dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) {
    // Only the main program is not found by its name; dlopen(null) is its
    // handle and counts no reference.
    handle = ::dlopen(nullptr, RTLD_LAZY);
    if (handle == nullptr) {
      internal::Fail(kErrorModNotFound);
      return nullptr;
    }
  } else {
    ::dlclose(handle);
  }
  SetLastError(kErrorSuccess);
  return AsModule(handle);
}

// ---------------------------------------------------------------------------
// Critical section

struct CriticalSection::Impl {
  std::recursive_mutex mutex;
};

CriticalSection::CriticalSection() : impl_(new Impl) {}
CriticalSection::~CriticalSection() = default;

void CriticalSection::Enter() { impl_->mutex.lock(); }
void CriticalSection::Leave() { impl_->mutex.unlock(); }
bool CriticalSection::TryEnter() { return impl_->mutex.try_lock(); }

}  // namespace qx::platform
