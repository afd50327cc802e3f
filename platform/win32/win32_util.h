// Helpers of the Win32 backend shared by its files: names and texts turned
// into the UTF-16 the W functions take, and the calling thread's system
// error carried into the platform layer's last error. Included by
// platform/win32/ only.
#ifndef QX_PLATFORM_WIN32_WIN32_UTIL_H_
#define QX_PLATFORM_WIN32_WIN32_UTIL_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qx::platform::win32 {

// An ANSI (code page 1252) name as the NUL-terminated UTF-16 text the W
// functions take. The process's own ANSI code page is not used: names mean
// the same bytes whatever the machine's regional settings.
std::wstring WideFromAnsi(std::string_view ansi);
std::wstring WideFromUtf8(std::string_view utf8);
std::wstring WideFromUtf16(std::u16string_view text);
std::u16string Utf16FromWide(const wchar_t* text);

// Stores ::GetLastError() as the platform's last error and answers false.
bool FailWithSystemError();
// The same with an error read earlier: anything between the failing call
// and the read may reset GetLastError (a first touch of thread-local
// storage does, through TlsGetValue).
bool FailWithSystemError(uint32_t error);

}  // namespace qx::platform::win32

#endif  // QX_PLATFORM_WIN32_WIN32_UTIL_H_
