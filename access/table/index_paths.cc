// Index file paths (see index_paths.h).
#include "access/table/index_paths.h"

#include <vector>

#include "access/connection/table_path.h"
#include "framework/names.h"

namespace qx::access {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// A directory path taken apart: its drive, whether it is rooted, and its
// components with "." and ".." resolved (a ".." that cannot climb stays).
struct Components {
  std::u16string drive;
  bool rooted = false;
  std::vector<std::u16string> parts;
};

Components Decompose(std::u16string_view path) {
  Components out;
  if (path.size() >= 2 && path[1] == u':') {
    out.drive = path.substr(0, 2);
    path.remove_prefix(2);
  }
  out.rooted = !path.empty() && IsSeparator(path.front());
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    std::u16string_view part = path.substr(start, i - start);
    start = i + 1;
    if (part.empty() || part == u".") continue;
    if (part == u".." && !out.parts.empty() && out.parts.back() != u"..") {
      out.parts.pop_back();
      continue;
    }
    out.parts.emplace_back(part);
  }
  return out;
}

}  // namespace

std::u16string IndexPathOf(std::u16string_view data_path,
                           std::u16string_view index_name) {
  const PathParts name = SplitPath(index_name);
  std::u16string directory;
  if (!name.drive.empty() ||
      (!name.directory.empty() && IsSeparator(name.directory.front()))) {
    directory = name.drive + name.directory;
  } else {
    const PathParts data = SplitPath(data_path);
    directory = data.drive + data.directory + name.directory;
  }
  const std::u16string extension =
      name.extension.empty() ? std::u16string(u".ndx") : name.extension;
  return JoinPath(directory, name.name, extension);
}

std::u16string DefaultIndexFileName(std::u16string_view file_name,
                                    std::u16string_view item_name) {
  return std::u16string(file_name) + u"_" + std::u16string(item_name);
}

std::u16string StoredIndexPath(std::u16string_view data_path,
                               std::u16string_view index_path) {
  const PathParts data = SplitPath(data_path);
  const PathParts index = SplitPath(index_path);
  const Components from = Decompose(data.drive + data.directory);
  const Components to = Decompose(index.drive + index.directory);
  const std::u16string full(index_path);
  if (!framework::SameName(from.drive, to.drive) || from.rooted != to.rooted)
    return full;
  size_t common = 0;
  while (common < from.parts.size() && common < to.parts.size() &&
         framework::SameName(from.parts[common], to.parts[common])) {
    ++common;
  }
  std::u16string stored;
  if (common == from.parts.size()) {
    stored = u".\\";
  } else {
    for (size_t i = common; i < from.parts.size(); ++i) stored += u"..\\";
  }
  for (size_t i = common; i < to.parts.size(); ++i) {
    stored += to.parts[i] + u"\\";
  }
  stored += index.name + index.extension;
  return stored.size() > kMaxPathLength ? full : stored;
}

}  // namespace qx::access
