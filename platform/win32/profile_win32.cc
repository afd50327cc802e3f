// Profile (INI) files on Windows: GetPrivateProfileIntW. A name without a
// directory is looked up by the system in the Windows directory; a process
// may name another directory for such names (SetSystemDirectory, or
// QX_SYSTEM_DIR in its environment, as the host tool and the tests do), and
// the name is then completed here before the call.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/win32/win32_util.h"

namespace qx::platform {

namespace {

// The directory named for profile files, guarded by `mutex`; empty until
// a process names one. Never destroyed.
struct ProfileState {
  std::mutex mutex;
  std::string system_directory;  // UTF-8
  bool directory_set = false;
};

ProfileState& State() {
  static ProfileState* state = new ProfileState;
  return *state;
}

// The directory named instead of the Windows directory, empty for none.
std::string NamedDirectory() {
  ProfileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.directory_set) return state.system_directory;
  const char* given = std::getenv("QX_SYSTEM_DIR");
  return given != nullptr ? given : "";
}

}  // namespace

uint32_t ProfileInt(std::string_view section, std::string_view key,
                    int32_t default_value, std::string_view file_name) {
  const auto fallback = static_cast<uint32_t>(default_value);
  if (file_name.empty()) {
    internal::Fail(kErrorFileNotFound);
    return fallback;
  }
  std::wstring path;
  if (file_name.find_first_of("/\\") == std::string_view::npos) {
    const std::string directory = NamedDirectory();
    path = directory.empty() ? win32::WideFromAnsi(file_name)
                             : win32::WideFromUtf8(directory) + L"\\" +
                                   win32::WideFromAnsi(file_name);
  } else {
    // The system takes a name with a directory part from the Windows
    // directory too unless it is absolute; callers mean the current one.
    const std::wstring given = win32::WideFromAnsi(file_name);
    wchar_t full[MAX_PATH * 4];
    const DWORD n =
        ::GetFullPathNameW(given.c_str(), MAX_PATH * 4, full, nullptr);
    path = n > 0 && n < MAX_PATH * 4 ? std::wstring(full, n) : given;
  }
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
      path.find_first_of(L"/\\") != std::wstring::npos) {
    internal::Fail(kErrorFileNotFound);
    return fallback;
  }
  const UINT value = ::GetPrivateProfileIntW(
      win32::WideFromAnsi(section).c_str(), win32::WideFromAnsi(key).c_str(),
      default_value, path.c_str());
  SetLastError(kErrorSuccess);
  return value;
}

void SetSystemDirectory(std::string_view utf8_path) {
  ProfileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.system_directory = std::string(utf8_path);
  state.directory_set = true;
}

std::string SystemDirectory() {
  const std::string named = NamedDirectory();
  if (!named.empty()) return named;
  wchar_t directory[MAX_PATH + 1];
  const UINT n = ::GetWindowsDirectoryW(directory, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return "";
  return Utf16ToUtf8(std::u16string(directory, directory + n));
}

}  // namespace qx::platform
