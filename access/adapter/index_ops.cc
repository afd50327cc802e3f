// Index files through the engine (see index_ops.h).
#include "access/adapter/index_ops.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "access/adapter/engine_call.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

using adapter_internal::Call;
using adapter_internal::EngineFileName;
using adapter_internal::EngineTagName;

// Room for any expression the engine copies out (NTX and CDX: at most
// 256 bytes with the NUL).
constexpr size_t kExpressionRoom = 257;
constexpr size_t kKeyNameLength = 24;
constexpr size_t kFileKeyNameLength = 10;

int16_t Handle16(uint16_t handle) { return static_cast<int16_t>(handle); }
int32_t Tag32(uint32_t tag) { return static_cast<int32_t>(tag); }

template <size_t N>
std::string Bounded(const char (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

// An expression copied by op(handle, buffer).
template <typename Handle>
int32_t Expression(int16_t (*op)(Handle, char*), Handle handle,
                   std::string* out) {
  char buffer[kExpressionRoom] = {};
  const int32_t status = Call(op, handle, buffer);
  if (status >= 0) *out = Bounded(buffer);
  return status;
}

// A single-key file's key name: its expression when that is a plain name,
// else the file's base name.
std::string FileKeyName(const std::string& expression,
                        const std::string& file_name) {
  if (!expression.empty() &&
      expression.find_first_of(" ()+") == std::string::npos)
    return expression.substr(0, kKeyNameLength);
  const size_t slash = file_name.find_last_of("/\\:");
  std::string base =
      slash == std::string::npos ? file_name : file_name.substr(slash + 1);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.resize(dot);
  return base.substr(0, kFileKeyNameLength);
}

void Finish(IndexKeyInfo* info, uint16_t engine_key_length) {
  info->key_length = static_cast<uint16_t>(engine_key_length +
                                           (info->key_type == 'C' ? 1 : 0));
}

int32_t DescribeFileKey(IndexKeyInfo* info, IndexFamily family,
                        uint16_t handle) {
  *info = IndexKeyInfo{};
  const int16_t h = Handle16(handle);
  std::string name;
  uint16_t key_length = 0;
  uint16_t expression_length = 0;
  int32_t status = kStatusNoIndexEngine;
  if (family == IndexFamily::kNdx) {
    KbdNdxInfo n{};
    status = Call(kbdninfo, h, &n);
    if (status < 0) return status;
    name = Bounded(n.name);
    key_length = n.key_length;
    info->key_type = static_cast<uint8_t>(n.type);
    info->flags = n.unique;
    expression_length = n.expression_length;
    if (expression_length >= 1)
      status = Expression(kbdnexpr, h, &info->expression);
  } else if (family == IndexFamily::kIdx) {
    KbdIdxInfo n{};
    status = Call(kbdiinfo, h, &n);
    if (status < 0) return status;
    name = Bounded(n.name);
    key_length = n.key_length;
    info->key_type = static_cast<uint8_t>(n.type);
    info->flags = n.flags;
    expression_length = n.expression_length;
    if (expression_length >= 1)
      status = Expression(kbdiexpr, h, &info->expression);
    if (status >= 0 && n.for_length > 0)
      status = Expression(kbdiforexpr, h, &info->for_expression);
  } else if (family == IndexFamily::kNtx) {
    KbdNtxInfo n{};
    status = Call(kbdxinfo, h, &n);
    if (status < 0) return status;
    name = Bounded(n.name);
    key_length = n.key_length;
    // NTX files do not record their key type: every key is text.
    info->key_type = 'C';
    info->flags = n.flags;
    info->attribute = n.decimals;
    expression_length = n.expression_length;
    if (expression_length >= 1)
      status = Expression(kbdxexpr, h, &info->expression);
    if (status >= 0 && n.for_length > 0)
      status = Expression(kbdxforexpr, h, &info->for_expression);
  }
  if (status < 0) return status;
  info->key_name = FileKeyName(info->expression, name);
  Finish(info, key_length);
  return status;
}

int32_t DescribeTag(IndexKeyInfo* info, IndexFamily family, uint32_t tag) {
  *info = IndexKeyInfo{};
  const int32_t t = Tag32(tag);
  int32_t status = kStatusNoIndexEngine;
  uint16_t key_length = 0;
  if (family == IndexFamily::kMdx) {
    KbdMdxTagInfo n{};
    status = Call(kbdmtaginfo, t, &n);
    if (status < 0) return status;
    key_length = n.key_length;
    info->key_type = static_cast<uint8_t>(n.type);
    info->flags = n.flags;
    info->key_name = Bounded(n.name);
    if (n.expression_length >= 1)
      status = Expression(kbdmexpr, t, &info->expression);
  } else if (family == IndexFamily::kCdx) {
    KbdCdxTagInfo n{};
    status = Call(kbdctaginfo, t, &n);
    if (status < 0) return status;
    key_length = static_cast<uint16_t>(n.key_length);
    info->key_type = static_cast<uint16_t>(n.type);
    info->flags = static_cast<uint16_t>(n.flags);
    info->key_name = Bounded(n.name).substr(0, kKeyNameLength);
    if (n.expression_length >= 1)
      status = Expression(kbdcexpr, t, &info->expression);
    if (status >= 0) status = Expression(kbdcforexpr, t, &info->for_expression);
  }
  if (status < 0) return status;
  Finish(info, key_length);
  return status;
}

// The check after opening a single-key file: its description reads and
// gives a key length.
int32_t CheckHeader(IndexFamily family, uint16_t handle) {
  IndexKeyInfo info;
  const int32_t status = DescribeFileKey(&info, family, handle);
  if (status < 0) return status;
  return info.key_length == 0 ? int32_t{kKbdErrKeySize} : status;
}

}  // namespace

int32_t OpenIndex(XbaseDialect dialect, std::u16string_view path,
                  uint16_t* handle, uint16_t mode_bits) {
  *handle = kNoIndexHandle;
  const IndexFamily family = IndexFamilyOf(dialect);
  if (family == IndexFamily::kNone) return kStatusNoIndexEngine;
  const std::string name = EngineFileName(path);
  int16_t opened = -1;
  int32_t status = kStatusNoIndexEngine;
  int16_t (*close)(int16_t) = nullptr;
  switch (family) {
    case IndexFamily::kNdx:
      status = Call(kbdnopenx, &opened, name.c_str(), mode_bits);
      close = kbdnclose;
      break;
    case IndexFamily::kMdx:
      status = Call(kbdmopenx, &opened, name.c_str(), mode_bits);
      break;
    case IndexFamily::kIdx:
      status = Call(kbdiopenx, &opened, name.c_str(), mode_bits);
      close = kbdiclose;
      break;
    case IndexFamily::kCdx:
      status = Call(kbdcopenx, &opened, name.c_str(), mode_bits);
      break;
    case IndexFamily::kNtx:
      status = Call(kbdxopenx, &opened, name.c_str(), mode_bits);
      close = kbdxclose;
      break;
    case IndexFamily::kNone:
      break;
  }
  if (status < 0) return status;
  if (close != nullptr) {
    const int32_t checked = CheckHeader(family, static_cast<uint16_t>(opened));
    if (checked < 0) {
      Call(close, opened);
      return checked;
    }
  }
  *handle = static_cast<uint16_t>(opened);
  return status;
}

int32_t OpenTag(XbaseDialect dialect, std::string_view name, uint32_t* tag,
                uint16_t index_handle) {
  *tag = kNoTagHandle;
  const std::string tag_name = EngineTagName(name);
  int32_t opened = -1;
  int32_t status = 0;
  switch (IndexFamilyOf(dialect)) {
    case IndexFamily::kMdx:
      status =
          Call(kbdmtagopen, &opened, Handle16(index_handle), tag_name.c_str());
      break;
    case IndexFamily::kCdx:
      status =
          Call(kbdctagopen, &opened, Handle16(index_handle), tag_name.c_str());
      break;
    default:
      return 0;
  }
  if (status >= 0) *tag = static_cast<uint32_t>(opened);
  return status;
}

int32_t CloseIndex(XbaseDialect dialect, uint16_t handle) {
  const int16_t h = Handle16(handle);
  switch (IndexFamilyOf(dialect)) {
    case IndexFamily::kNdx:
      return Call(kbdnclose, h);
    case IndexFamily::kMdx:
      return Call(kbdmclose, h);
    case IndexFamily::kIdx:
      return Call(kbdiclose, h);
    case IndexFamily::kCdx:
      return Call(kbdcclose, h);
    case IndexFamily::kNtx:
      return Call(kbdxclose, h);
    case IndexFamily::kNone:
      break;
  }
  return 0;
}

int32_t CloseTag(XbaseDialect dialect, uint32_t tag) {
  switch (IndexFamilyOf(dialect)) {
    case IndexFamily::kMdx:
      return Call(kbdmtagclose, Tag32(tag));
    case IndexFamily::kCdx:
      return Call(kbdctagclose, Tag32(tag));
    default:
      return 0;
  }
}

int32_t CountTags(XbaseDialect dialect, uint16_t handle, int32_t* count) {
  *count = 0;
  switch (IndexFamilyOf(dialect)) {
    case IndexFamily::kNdx:
    case IndexFamily::kIdx:
    case IndexFamily::kNtx:
      *count = 1;
      return 0;
    case IndexFamily::kMdx: {
      KbdMdxInfo info{};
      const int32_t status = Call(kbdminfo, Handle16(handle), &info);
      if (status >= 0) *count = info.tag_count;
      return status;
    }
    case IndexFamily::kCdx: {
      KbdCdxInfo info{};
      const int32_t status = Call(kbdcinfo, Handle16(handle), &info);
      if (status >= 0) *count = info.tag_count;
      return status;
    }
    case IndexFamily::kNone:
      break;
  }
  return 0;
}

int32_t DescribeKeyByNumber(IndexKeyInfo* info, XbaseDialect dialect,
                            uint16_t handle, int32_t n) {
  const IndexFamily family = IndexFamilyOf(dialect);
  if (family == IndexFamily::kNone) return kStatusNoIndexEngine;
  if (!KeysAreTags(dialect)) return DescribeFileKey(info, family, handle);
  int32_t tag = -1;
  const int16_t number = static_cast<int16_t>(n + 1);
  int32_t status = family == IndexFamily::kMdx
                       ? Call(kbdmtagopenn, &tag, Handle16(handle), number)
                       : Call(kbdctagopenno, &tag, Handle16(handle), number);
  if (status < 0) return status;
  status = DescribeTag(info, family, static_cast<uint32_t>(tag));
  const int32_t closed = CloseTag(dialect, static_cast<uint32_t>(tag));
  return status < 0 ? status : closed < 0 ? closed : status;
}

int32_t DescribeKeyByTag(IndexKeyInfo* info, XbaseDialect dialect,
                         uint16_t handle, uint32_t tag) {
  const IndexFamily family = IndexFamilyOf(dialect);
  if (family == IndexFamily::kNone) return kStatusNoIndexEngine;
  if (!KeysAreTags(dialect)) return DescribeFileKey(info, family, handle);
  return DescribeTag(info, family, tag);
}

}  // namespace qx::access
