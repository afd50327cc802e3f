// Process identity, time, module loading and the critical section on
// Windows: GetCurrentProcessId, GetLocalTime, Sleep, GetTickCount64,
// LoadLibraryW/GetProcAddress/FreeLibrary/GetModuleHandleExW and a
// CRITICAL_SECTION. A Module* is the HMODULE itself.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/win32/win32_util.h"

namespace qx::platform {

uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

LocalDate Today() {
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

void SleepMilliseconds(uint32_t ms) { ::Sleep(ms); }

uint64_t TickCount() { return ::GetTickCount64(); }

// ---------------------------------------------------------------------------
// Modules

namespace {

Module* AsModule(HMODULE handle) { return reinterpret_cast<Module*>(handle); }
HMODULE AsHandle(Module* module) { return reinterpret_cast<HMODULE>(module); }

}  // namespace

Module* LoadModule(const char* utf8_path) {
  if (utf8_path == nullptr || *utf8_path == '\0') {
    internal::Fail(kErrorModNotFound);
    return nullptr;
  }
  const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS);
  HMODULE handle = ::LoadLibraryW(win32::WideFromUtf8(utf8_path).c_str());
  ::SetErrorMode(previous);
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
  FARPROC address = ::GetProcAddress(AsHandle(module), name);
  if (address == nullptr) {
    internal::Fail(kErrorProcNotFound);
    return nullptr;
  }
  SetLastError(kErrorSuccess);
  return reinterpret_cast<void*>(address);
}

bool UnloadModule(Module* module) {
  if (module == nullptr) return internal::Fail(kErrorInvalidHandle);
  if (!::FreeLibrary(AsHandle(module))) {
    return internal::Fail(kErrorInvalidHandle);
  }
  SetLastError(kErrorSuccess);
  return true;
}

Module* ModuleOf(const void* address) {
  HMODULE handle = nullptr;
  if (address == nullptr ||
      !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &handle)) {
    internal::Fail(kErrorModNotFound);
    return nullptr;
  }
  SetLastError(kErrorSuccess);
  return AsModule(handle);
}

// ---------------------------------------------------------------------------
// Critical section

struct CriticalSection::Impl {
  Impl() { ::InitializeCriticalSection(&section); }
  ~Impl() { ::DeleteCriticalSection(&section); }
  CRITICAL_SECTION section;
};

CriticalSection::CriticalSection() : impl_(new Impl) {}
CriticalSection::~CriticalSection() = default;

void CriticalSection::Enter() { ::EnterCriticalSection(&impl_->section); }
void CriticalSection::Leave() { ::LeaveCriticalSection(&impl_->section); }
bool CriticalSection::TryEnter() {
  return ::TryEnterCriticalSection(&impl_->section) != 0;
}

}  // namespace qx::platform
