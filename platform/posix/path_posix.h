// Names and error numbers of the POSIX backend: how an ANSI file name
// becomes a path the kernel accepts, and how errno becomes a Windows
// system error code. Shared by the file, profile and module code of
// platform/posix/ only.
#ifndef QX_PLATFORM_POSIX_PATH_POSIX_H_
#define QX_PLATFORM_POSIX_PATH_POSIX_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qx::platform::posix {

// Code page 1252 bytes to UTF-8 (the five bytes 1252 leaves undefined map
// to the C1 code points of the same number).
std::string AnsiToUtf8(std::string_view ansi);

// The path the kernel knows for a Windows-style name given in UTF-8: '\'
// is a separator like '/', and each component that does not exist under
// its exact name takes the name of an entry of its directory that matches
// without regard to case (the smallest in byte order when several do).
// Components from the first that matches nothing on are kept as given, so
// a file about to be created gets the name the caller wrote. With
// fold_leaf false the last component is always kept as given (a rename
// that changes only the case of a name).
std::string ResolveUtf8Path(std::string_view utf8_name, bool fold_leaf = true);

// ResolveUtf8Path of an ANSI (code page 1252) name.
std::string ResolveAnsiPath(std::string_view ansi_name, bool fold_leaf = true);

// True when two UTF-8 names are equal without regard to case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// True when a UTF-8 name matches a UTF-8 wildcard pattern without regard
// to case: '*' matches any run of characters, '?' exactly one; "*.*"
// matches every name.
bool MatchesWildcardIgnoringCase(std::string_view pattern,
                                 std::string_view name);

// The Windows system error code for an errno value, as the Win32 call
// that the failing POSIX call stands in for would report it.
uint32_t WinErrorFromErrno(int error);

// As WinErrorFromErrno for a call that named path: a missing file in an
// existing directory is kErrorFileNotFound, a missing directory on the way
// kErrorPathNotFound (Windows tells the two apart).
uint32_t WinErrorForPath(int error, const std::string& path);

}  // namespace qx::platform::posix

#endif  // QX_PLATFORM_POSIX_PATH_POSIX_H_
