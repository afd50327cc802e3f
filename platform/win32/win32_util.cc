// Text conversions and error carrying of the Win32 backend.

#include "platform/win32/win32_util.h"

#include <windows.h>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace qx::platform::win32 {

// wchar_t is 16 bits on Windows: UTF-16 code units pass unchanged.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring WideFromUtf16(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

std::wstring WideFromAnsi(std::string_view ansi) {
  return WideFromUtf16(AnsiToUtf16(ansi));
}

std::wstring WideFromUtf8(std::string_view utf8) {
  return WideFromUtf16(Utf8ToUtf16(utf8));
}

std::u16string Utf16FromWide(const wchar_t* text) {
  std::u16string out;
  for (; text != nullptr && *text != L'\0'; ++text) {
    out.push_back(static_cast<char16_t>(*text));
  }
  return out;
}

bool FailWithSystemError() { return FailWithSystemError(::GetLastError()); }

bool FailWithSystemError(uint32_t error) {
  // A failing call that set nothing still fails.
  return internal::Fail(error == ERROR_SUCCESS ? kErrorInvalidFunction : error);
}

}  // namespace qx::platform::win32
