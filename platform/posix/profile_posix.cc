// Profile (INI) files: GetPrivateProfileInt over text files, and the
// system directory that stands in for the Windows directory.
//
// File format as read here (code page 1252 text, one entry a line, LF or
// CR LF line ends; a UTF-8 byte order mark at the start is skipped):
//   [section]      a section header; blanks around the name are dropped
//   key = value    an entry of the section above; blanks around the key
//                  and the value are dropped, and one pair of matching
//                  double or single quotes around the value is removed
//   key            an entry with an empty value
//   ; text         a comment (only at the start of a line)
// Section and key names match without regard to case; the first section
// of a name and its first entry of a key are the ones read (a later
// section of the same name is not searched). A header line without ']' is
// ignored, and so are entries before the first section.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/posix/path_posix.h"

namespace qx::platform {

namespace {

// Process-wide profile settings; built in static storage on first use and
// never destroyed, so profile reads from static destructors stay safe, and
// no heap block outlives a library that is unloaded (the default path fits
// the string's own buffer).
struct ProfileState {
  std::mutex mutex;
  std::string system_directory = "/etc";  // guarded by mutex; UTF-8
  bool directory_set = false;  // SetSystemDirectory was called; guarded
};

ProfileState& State() {
  alignas(ProfileState) static unsigned char storage[sizeof(ProfileState)];
  static ProfileState* state = new (storage) ProfileState;
  return *state;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameAnsiIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (internal::FoldAnsiByte(static_cast<uint8_t>(a[i])) !=
        internal::FoldAnsiByte(static_cast<uint8_t>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The value of key in section of the profile text; nullopt when the
// section or key is missing.
std::optional<std::string_view> FindValue(std::string_view text,
                                          std::string_view section,
                                          std::string_view key) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool in_section = false;  // inside the first section named `section`
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    line = Trim(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      if (in_section) return std::nullopt;  // the section had no such key
      in_section =
          SameAnsiIgnoringCase(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!in_section) continue;
    const size_t eq = line.find('=');
    const std::string_view name = Trim(line.substr(0, eq));
    if (!SameAnsiIgnoringCase(name, key)) continue;
    if (eq == std::string_view::npos) return std::string_view();
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return std::nullopt;
}

// The leading integer of text as Windows reads profile integers: blanks,
// an optional sign, an optional "0x", "0o" or "0b" prefix (lower case),
// then digits of that base up to the first other character. Arithmetic
// wraps modulo 2^32; no digits gives 0.
uint32_t ParseProfileInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && static_cast<uint8_t>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  uint32_t base = 10;
  if (i + 1 < text.size() && text[i] == '0') {
    switch (text[i + 1]) {
      case 'x':
        base = 16;
        break;
      case 'o':
        base = 8;
        break;
      case 'b':
        base = 2;
        break;
      default:
        break;
    }
    if (base != 10) i += 2;
  }
  uint32_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'z') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'Z') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

// Reads the whole file; nullopt (errno set) when it cannot be read.
std::optional<std::string> ReadText(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = errno;
      ::close(fd);
      if (n < 0) {
        errno = error;
        return std::nullopt;
      }
      return text;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace

uint32_t ProfileInt(std::string_view section, std::string_view key,
                    int32_t default_value, std::string_view file_name) {
  const auto fallback = static_cast<uint32_t>(default_value);
  if (file_name.empty()) {
    internal::Fail(kErrorFileNotFound);
    return fallback;
  }
  // A bare name lives in the system directory; a name with a directory
  // part is taken from the current directory or as absolute.
  std::string path;
  if (file_name.find_first_of("/\\") == std::string_view::npos) {
    path = posix::ResolveUtf8Path(SystemDirectory() + "/" +
                                  posix::AnsiToUtf8(file_name));
  } else {
    path = posix::ResolveAnsiPath(file_name);
  }
  const std::optional<std::string> text = ReadText(path);
  if (!text) {
    internal::Fail(posix::WinErrorForPath(errno, path));
    return fallback;
  }
  SetLastError(kErrorSuccess);
  const std::optional<std::string_view> value = FindValue(*text, section, key);
  if (!value || value->empty()) return fallback;
  return ParseProfileInteger(*value);
}

void SetSystemDirectory(std::string_view utf8_path) {
  ProfileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.system_directory = std::string(utf8_path);
  state.directory_set = true;
}

// Until a directory is set, QX_SYSTEM_DIR (when set) stands for the
// Windows directory of the machine, so that a process that loads the
// component finds its profile files where its host put them.
std::string SystemDirectory() {
  ProfileState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.directory_set) {
    const char* given = std::getenv("QX_SYSTEM_DIR");
    if (given != nullptr && *given != '\0') return given;
  }
  return state.system_directory;
}

}  // namespace qx::platform
