// Creating indexes through the engine (see index_create.h).
#include "access/adapter/index_create.h"

#include <string>

#include "access/adapter/dialects.h"
#include "access/adapter/engine_call.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

using adapter_internal::Call;
using adapter_internal::EngineFileName;
using adapter_internal::EngineTagName;

// Open modes of the compound files a tag is added to: CreateIndexFile
// shares the file and locks it around the tag's creation (0x800 with
// 0x400); CreateTableKeyIndex holds it alone.
constexpr uint16_t kModeTagCreate = 0xC00;
constexpr uint16_t kModeTagBuild = 0;
constexpr size_t kKeyNameLength = 30;
constexpr size_t kExpressionLength = 500;

uint16_t TypeWord(char letter, uint16_t options) {
  return static_cast<uint16_t>(static_cast<uint8_t>(letter) | options);
}

// Opens a compound file (creating it first when it does not exist), runs
// body(handle) and closes the file again.
template <typename Create, typename Open, typename Close, typename Body>
int32_t WithCompoundFile(const std::string& name, Create create, Open open,
                         Close close, uint16_t mode, Body body) {
  if (!platform::FileExists(name.c_str())) {
    if (int32_t s = Call(create, name.c_str()); s < 0) return s;
  }
  int16_t handle = -1;
  int32_t status = Call(open, &handle, name.c_str(), mode);
  if (status < 0) return status;
  status = body(handle);
  const int32_t closed = Call(close, handle);
  return status < 0 ? status : closed < 0 ? closed : status;
}

}  // namespace

int32_t CreateIndexFile(const IndexCreateRequest& request) {
  const std::string name = EngineFileName(request.path);
  const std::string expression(request.expression);
  const std::string condition(request.for_expression);
  const std::string tag = EngineTagName(request.tag);
  const uint16_t type = TypeWord(request.key_type, request.options);
  const XbaseDialect dialect = DialectOfIndexPath(request.path);
  const IndexFamily family = IndexFamilyOf(dialect);
  if ((family == IndexFamily::kNdx || family == IndexFamily::kMdx) &&
      !condition.empty())
    return kKbdErrCommand;
  switch (family) {
    case IndexFamily::kNtx:
      return Call(kbdxcreatex, name.c_str(), type, expression.c_str(),
                  request.key_length, request.ntx_decimals, condition.c_str());
    case IndexFamily::kNdx:
      return Call(kbdncreate, name.c_str(),
                  static_cast<uint16_t>(type | request.ndx_flags),
                  expression.c_str(), request.key_length);
    case IndexFamily::kMdx:
      return WithCompoundFile(name, kbdmcreate, kbdmopenx, kbdmclose,
                              kModeTagCreate, [&](int16_t handle) {
                                return Call(kbdmtagdef, handle, tag.c_str(),
                                            type, expression.c_str(),
                                            request.key_length);
                              });
    case IndexFamily::kIdx:
      return Call(kbdicreatex, name.c_str(), type, expression.c_str(),
                  request.key_length, condition.c_str());
    case IndexFamily::kCdx:
      return WithCompoundFile(name, kbdccreate, kbdcopenx, kbdcclose,
                              kModeTagCreate, [&](int16_t handle) {
                                return Call(kbdctagcreatex, handle, tag.c_str(),
                                            type, expression.c_str(),
                                            request.key_length,
                                            condition.c_str());
                              });
    case IndexFamily::kNone:
      break;
  }
  return kKbdErrFileName;
}

int32_t CreateTableKeyIndex(uint16_t dbf_handle,
                            const IndexBuildRequest& request) {
  const int16_t dbf = static_cast<int16_t>(dbf_handle);
  const std::string name = EngineFileName(request.path);
  const std::string key_name = request.key_name.substr(0, kKeyNameLength);
  const std::string expression =
      request.expression.empty()
          ? key_name
          : request.expression.substr(0, kExpressionLength);
  const std::string condition(request.for_expression);
  const std::string tag = EngineTagName(key_name);
  const uint16_t type = TypeWord(request.key_type, request.options);
  const IndexFamily family =
      IndexFamilyOf(request.dialect != 0 ? request.dialect
                                         : DialectOfIndexPath(request.path));
  if ((family == IndexFamily::kNdx || family == IndexFamily::kMdx ||
       family == IndexFamily::kNone) &&
      !condition.empty())
    return kKbdErrCommand;
  switch (family) {
    case IndexFamily::kMdx:
      return WithCompoundFile(name, kbdmcreate, kbdmopenx, kbdmclose,
                              kModeTagBuild, [&](int16_t handle) {
                                return Call(kbdmindex, dbf, handle, tag.c_str(),
                                            type, expression.c_str(),
                                            request.key_length);
                              });
    case IndexFamily::kIdx:
      return Call(kbdibuildx, dbf, name.c_str(), type, expression.c_str(),
                  request.key_length, condition.c_str());
    case IndexFamily::kNtx:
      return Call(kbdxbuildx, dbf, name.c_str(), type, expression.c_str(),
                  request.key_length, request.decimals, condition.c_str());
    case IndexFamily::kCdx:
      // The tag is rebuilt as CreateIndexFile creates CDX tags: re-indexing
      // a FoxPro table then gives every tag its keys again.
      return WithCompoundFile(name, kbdccreate, kbdcopenx, kbdcclose,
                              kModeTagBuild, [&](int16_t handle) {
                                return Call(
                                    kbdctagbuildx, dbf, handle, tag.c_str(),
                                    type, expression.c_str(),
                                    request.key_length, condition.c_str());
                              });
    case IndexFamily::kNdx:
    case IndexFamily::kNone:
      break;
  }
  return Call(kbdnindex, dbf, name.c_str(), type, expression.c_str(),
              request.key_length);
}

int32_t CreateEmptyMdx(std::u16string_view data_path) {
  std::u16string path(data_path);
  const size_t slash = path.find_last_of(u"/\\:");
  const size_t dot = path.rfind(u'.');
  if (dot != std::u16string::npos &&
      (slash == std::u16string::npos || dot > slash))
    path.resize(dot);
  path += u".mdx";
  const std::string name = EngineFileName(path);
  return Call(kbdmcreate, name.c_str());
}

}  // namespace qx::access
