// Building one key's index (see key_index_build.h).
#include "access/table/key_index_build.h"

#include "access/adapter/data_file_ops.h"
#include "access/adapter/index_create.h"
#include "access/adapter/index_ops.h"
#include "access/adapter/key_descriptor.h"
#include "access/adapter/key_image.h"
#include "access/adapter/key_typing.h"
#include "access/connection/table_path.h"
#include "framework/names.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

// Index files read for their key's options: shared, read-only.
constexpr uint16_t kIndexReadMode = 0xE00 | 0x100;

// The path without its extension.
std::u16string_view Stem(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"/\\:");
  const size_t dot = path.rfind(u'.');
  if (dot != std::u16string_view::npos &&
      (slash == std::u16string_view::npos || dot > slash))
    path.remove_suffix(path.size() - dot);
  return path;
}

}  // namespace

bool ReadKeyOptions(std::u16string_view index_path,
                    std::u16string_view key_name, KeyBuild* build) {
  const XbaseDialect dialect = DialectOfIndexPath(index_path);
  if (dialect == kDialectOther || !TableFileExists(index_path)) return false;
  uint16_t handle = kNoIndexHandle;
  if (OpenIndex(dialect, index_path, &handle, kIndexReadMode) < 0) return false;
  uint32_t tag = kNoTagHandle;
  IndexKeyInfo info;
  bool read = false;
  if (OpenTag(dialect, platform::Utf16ToAnsi(key_name), &tag, handle) >= 0) {
    read = DescribeKeyByTag(&info, dialect, handle, tag) >= 0;
    if (tag != kNoTagHandle) CloseTag(dialect, tag);
  }
  CloseIndex(dialect, handle);
  if (!read) return false;
  build->unique = (info.flags & kKbdKeyUnique) != 0;
  build->descending = (info.flags & kKbdKeyDescending) != 0;
  build->compact = (info.flags & kKbdKeyCompact) != 0;
  build->for_expression = info.for_expression;
  if (!info.expression.empty())
    build->expression = platform::AnsiToUtf16(info.expression);
  return true;
}

int32_t BuildKeyIndex(uint16_t dbf_handle, std::u16string_view data_path,
                      const KeyBuild& build) {
  const XbaseDialect dialect = DialectOfIndexPath(build.index_path);
  const IndexFamily family = IndexFamilyOf(dialect);
  if (family == IndexFamily::kNone) return kBuildNoFamily;
  const std::string expression = platform::Utf16ToAnsi(build.expression);
  KeyShape shape;
  int32_t status = KeyShapeForBuild(dialect, dbf_handle, expression, &shape);
  if (status < 0) return status;
  if (status == kStatusNotConvertible) return kBuildBadKeyType;
  if (!KeysAreTags(dialect) && TableFileExists(build.index_path) &&
      !platform::RemoveFile(platform::Utf16ToAnsi(build.index_path).c_str()))
    return kBuildNotDeleted;
  IndexBuildRequest request;
  request.path = build.index_path;
  request.key_name = platform::Utf16ToAnsi(build.key_name);
  request.expression = expression;
  request.key_type = shape.type;
  request.key_length = shape.key_length;
  request.decimals = shape.decimals;
  // NDX keys ascend only, and so do standard IDX files.
  const bool can_descend = family == IndexFamily::kMdx ||
                           family == IndexFamily::kNtx ||
                           family == IndexFamily::kCdx ||
                           (family == IndexFamily::kIdx && build.compact);
  request.options = static_cast<uint16_t>(
      (build.unique ? kKbdKeyUnique : 0) |
      (build.descending && can_descend ? kKbdKeyDescending : 0) |
      (family == IndexFamily::kIdx && build.compact ? kKbdKeyCompact : 0));
  if (family != IndexFamily::kNdx && family != IndexFamily::kMdx)
    request.for_expression = build.for_expression;
  request.dialect = dialect;
  status = CreateTableKeyIndex(dbf_handle, request);
  if (status >= 0 && KeysAreTags(dialect) &&
      framework::SameName(Stem(build.index_path), Stem(data_path))) {
    const int32_t marked = MarkProductionIndex(dbf_handle);
    if (marked < 0 && marked != kKbdErrCommand) return marked;
  }
  return status;
}

}  // namespace qx::access
