// Windows file names on a POSIX file system. Callers name files in code
// page 1252 with '\' or '/' between components and expect Windows' case
// insensitivity; the kernel wants UTF-8 bytes and compares them exactly.
// The exact name always wins, so files whose names differ only in case
// stay reachable; a case-insensitive directory scan is the fallback, done
// only for components whose exact name is missing.

#include "platform/posix/path_posix.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace qx::platform::posix {

namespace {

// Decodes UTF-8 into folded code points. A byte that does not start a
// well-formed sequence becomes U+DC00 + byte (a lone surrogate, which no
// well-formed text decodes to), so malformed names match only themselves.
std::u32string FoldedCodePoints(std::string_view utf8) {
  std::u32string out;
  size_t i = 0;
  while (i < utf8.size()) {
    const auto b0 = static_cast<uint8_t>(utf8[i]);
    size_t len = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
      len = 1;
      c = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      len = 2;
      c = b0 & 0x1F;
      min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3;
      c = b0 & 0x0F;
      min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4;
      c = b0 & 0x07;
      min = 0x10000;
    }
    bool ok = len != 0 && i + len <= utf8.size();
    for (size_t k = 1; ok && k < len; ++k) {
      const auto b = static_cast<uint8_t>(utf8[i + k]);
      if ((b & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (b & 0x3F);
    }
    if (ok && len > 1 &&
        (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) {
      ok = false;
    }
    if (!ok) {
      out.push_back(0xDC00 + b0);
      ++i;
      continue;
    }
    out.push_back(internal::FoldCodePoint(c));
    i += len;
  }
  return out;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The entry of directory dir whose name equals name without regard to
// case; empty when none does or the directory cannot be read.
std::string FindIgnoringCase(const std::string& dir, std::string_view name) {
  struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  std::unique_ptr<DIR, DirCloser> d(::opendir(dir.c_str()));
  if (!d) return {};
  const std::u32string wanted = FoldedCodePoints(name);
  std::string best;
  while (const dirent* entry = ::readdir(d.get())) {
    std::string_view entry_name(entry->d_name);
    // Folding keeps the UTF-8 length (each pair's letters encode in the
    // same number of bytes), so other lengths cannot match.
    if (entry_name.size() != name.size()) continue;
    if (entry_name == "." || entry_name == "..") continue;
    if (FoldedCodePoints(entry_name) != wanted) continue;
    if (best.empty() || entry_name < best) best = entry_name;
  }
  return best;
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) {
  return Utf16ToUtf8(AnsiToUtf16(ansi));
}

std::string ResolveUtf8Path(std::string_view utf8_name, bool fold_leaf) {
  std::string path(utf8_name);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty() || Exists(path)) return path;

  std::string out = path.front() == '/' ? "/" : "";
  bool matching = true;  // false once a component matched nothing
  size_t pos = 0;
  while (pos < path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    std::string_view component(path.data() + pos, end - pos);
    pos = end + 1;
    if (component.empty()) continue;  // doubled or trailing separators
    const bool leaf = path.find_first_not_of('/', end) == std::string::npos;
    std::string candidate = out + std::string(component);
    if (matching && component != "." && component != ".." &&
        (fold_leaf || !leaf) && !Exists(candidate)) {
      std::string found = FindIgnoringCase(out.empty() ? "." : out, component);
      if (found.empty()) {
        matching = false;
      } else {
        candidate = out + found;
      }
    }
    out = std::move(candidate);
    if (!leaf) out.push_back('/');
  }
  return out;
}

std::string ResolveAnsiPath(std::string_view ansi_name, bool fold_leaf) {
  return ResolveUtf8Path(AnsiToUtf8(ansi_name), fold_leaf);
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return FoldedCodePoints(a) == FoldedCodePoints(b);
}

bool MatchesWildcardIgnoringCase(std::string_view pattern,
                                 std::string_view name) {
  if (pattern == "*.*") return true;  // every name, as on Windows
  const std::u32string p = FoldedCodePoints(pattern);
  const std::u32string n = FoldedCodePoints(name);
  // Greedy match with one backtrack point: the last '*' seen and the name
  // position it has absorbed up to. Linear in practice, never exponential.
  size_t pi = 0;
  size_t ni = 0;
  size_t star = std::u32string::npos;
  size_t star_ni = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == U'?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == U'*') {
      star = pi++;
      star_ni = ni;
    } else if (star != std::u32string::npos) {
      pi = star + 1;
      ni = ++star_ni;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}

uint32_t WinErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EBUSY:
    case ETXTBSY:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EIO:
      return kErrorInvalidData;
    case EROFS:
      return kErrorWriteProtect;
    case ENOLCK:
      return kErrorSharingBufferExceeded;
    case EEXIST:
      return kErrorFileExists;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case ELOOP:
      return kErrorBadPathName;
    case ENAMETOOLONG:
      return kErrorFilenameTooLong;
    case ENOSYS:
    case EOPNOTSUPP:
      return kErrorInvalidFunction;
    default:
      return kErrorAccessDenied;
  }
}

uint32_t WinErrorForPath(int error, const std::string& path) {
  if (error == ENOENT) {
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash != 0) {
      struct stat st;
      const std::string dir = path.substr(0, slash);
      if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return kErrorPathNotFound;
      }
    }
  }
  return WinErrorFromErrno(error);
}

}  // namespace qx::platform::posix
