// Table path splitting, joining and resolution.
#include "access/connection/table_path.h"

#include "access/errors/error_context.h"
#include "platform/platform.h"

namespace qx::access {
namespace {

// Error ids and debug site of the directory check.
constexpr uint32_t kErrorNoDirectory = 1031;
constexpr uint32_t kUnitConnection = 101;
constexpr uint32_t kSiteNoDirectory = 26;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::string Ansi(std::u16string_view text) {
  return platform::Utf16ToAnsi(text);
}

}  // namespace

PathParts SplitPath(std::u16string_view path) {
  PathParts parts;
  if (path.size() > kMaxPathLength) return parts;
  if (path.size() >= 2 && path[1] == u':') {
    parts.drive = path.substr(0, 2);
    path.remove_prefix(2);
  }
  size_t last_separator = std::u16string_view::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsSeparator(path[i])) last_separator = i;
  }
  if (last_separator != std::u16string_view::npos) {
    parts.directory = path.substr(0, last_separator + 1);
    path.remove_prefix(last_separator + 1);
  }
  const size_t dot = path.rfind(u'.');
  if (dot != std::u16string_view::npos) {
    parts.extension = path.substr(dot);
    path = path.substr(0, dot);
  }
  parts.name = path;
  return parts;
}

std::u16string JoinPath(std::u16string_view directory, std::u16string_view name,
                        std::u16string_view extension) {
  std::u16string path(directory);
  if (!path.empty() && !IsSeparator(path.back()) && path.back() != u':') {
    path += u'\\';
  }
  path += name;
  if (!extension.empty()) {
    if (extension.front() != u'.') path += u'.';
    path += extension;
  }
  return path;
}

bool ResolveTablePath(std::u16string_view data_source, std::u16string_view path,
                      std::u16string_view default_extension,
                      CErrorContext* errors, std::u16string* full_path) {
  const PathParts parts = SplitPath(path);
  std::u16string directory = parts.drive + parts.directory;
  if (directory.empty()) directory = data_source;
  if (directory.empty()) directory = u".";
  std::u16string extension = parts.extension;
  if (extension.empty()) extension = default_extension;
  if (extension.empty()) extension = u".dbf";
  if (!platform::DirectoryExists(Ansi(directory).c_str())) {
    ErrorReport report;
    report.id = kErrorNoDirectory;
    report.args = {platform::MessageArg::Text(directory)};
    report.unit = kUnitConnection;
    report.site = kSiteNoDirectory;
    ReportError(errors, report);
    return false;
  }
  *full_path = JoinPath(directory, parts.name, extension);
  return true;
}

bool TableFileExists(std::u16string_view path) {
  return platform::FileExists(Ansi(path).c_str());
}

}  // namespace qx::access
