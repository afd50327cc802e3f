// Data files through the engine (see data_file_ops.h).
#include "access/adapter/data_file_ops.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "access/adapter/engine_call.h"
#include "access/errors/cx_error.h"
#include "access/errors/error_context.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

using adapter_internal::Call;
using adapter_internal::EngineFileName;

// "Echec lors de l'ouverture du fichier '%1!s!'.\nCode d'erreur xBase
// renvoyé : '<%2!d!>'"
constexpr uint32_t kErrorOpenFile = 1001;
// The debug line's place: the adapter's unit, its data-file open.
constexpr uint32_t kUnitAdapter = 110;
constexpr uint32_t kSiteOpenDataFile = 1;

void ReportOpenFailure(std::u16string_view logical_name,
                       std::u16string_view path, int16_t status,
                       CXError* sink) {
  ErrorReport report;
  report.id = kErrorOpenFile;
  report.args = {platform::MessageArg::Text(path),
                 platform::MessageArg::Signed(status)};
  report.table = std::u16string(logical_name);
  report.unit = kUnitAdapter;
  report.site = kSiteOpenDataFile;
  report.engine_status = status;
  *sink = ReportError(nullptr, report);
}

}  // namespace

int32_t OpenDataFile(std::u16string_view logical_name, std::u16string_view path,
                     uint16_t mode_bits, CXError* sink, uint16_t* handle,
                     int32_t* row, int16_t* status) {
  if (handle != nullptr) *handle = kNoDataHandle;
  if (row != nullptr) *row = -1;
  const std::string name = EngineFileName(path);
  const std::span<const DialectRow> rows = DialectRows();
  int16_t last = kKbdErrOpen;
  for (size_t r = 0; r < rows.size(); ++r) {
    int16_t opened = -1;
    last = static_cast<int16_t>(
        Call(kbddopenx, &opened, name.c_str(),
             static_cast<uint16_t>(mode_bits | rows[r].code)));
    if (last >= 0) {
      if (handle != nullptr) *handle = static_cast<uint16_t>(opened);
      if (row != nullptr) *row = static_cast<int32_t>(r);
      if (status != nullptr) *status = last;
      return 1;
    }
    // Building the error costs a message lookup: only for a sink.
    if (sink != nullptr) ReportOpenFailure(logical_name, path, last, sink);
  }
  if (status != nullptr) *status = last;
  return 0;
}

int32_t OpenDataFileAs(std::u16string_view path, uint16_t mode,
                       uint16_t* handle) {
  *handle = kNoDataHandle;
  const std::string name = EngineFileName(path);
  int16_t opened = -1;
  const int32_t status = Call(kbddopenx, &opened, name.c_str(), mode);
  if (status >= 0) *handle = static_cast<uint16_t>(opened);
  return status;
}

int32_t ProbeDataFile(std::u16string_view logical_name,
                      std::u16string_view path, CXError* sink) {
  uint16_t handle = kNoDataHandle;
  if (OpenDataFile(logical_name, path, kModeSharedReadWrite, sink, &handle,
                   nullptr) != 0)
    CloseDataFile(handle);
  return 1;
}

int32_t CloseDataFile(uint16_t handle) {
  return Call(kbddclose, static_cast<int16_t>(handle));
}

int32_t LoadFieldDescriptions(FieldDescriptions* descriptions,
                              uint16_t handle) {
  descriptions->count = 0;
  descriptions->fields.reset();
  uint8_t* record = nullptr;
  uint16_t record_size = 0;
  int16_t count = 0;
  int32_t status = Call(kbddrecinfo, static_cast<int16_t>(handle), &record,
                        &record_size, &count);
  if (status < 0) return status;
  if (count <= 0) return status;
  std::unique_ptr<FieldDescription[]> fields;
  std::vector<KbdFieldDef> defs;
  try {
    fields = std::make_unique<FieldDescription[]>(static_cast<size_t>(count));
    defs.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    return kStatusNoFieldMemory;
  }
  uint16_t largest = 0;
  status =
      Call(kbddfields, static_cast<int16_t>(handle), &largest, defs.data());
  if (status < 0) return status;
  for (int16_t i = 0; i < count; ++i) {
    const KbdFieldDef& def = defs[static_cast<size_t>(i)];
    FieldDescription& out = fields[static_cast<size_t>(i)];
    size_t n = strnlen(def.name, sizeof def.name);
    n = std::min(n, sizeof out.name - 1);
    while (n > 0 && (def.name[n - 1] == ' ' || def.name[n - 1] == '\t')) --n;
    std::memcpy(out.name, def.name, n);
    out.type = def.type;
    out.length = def.length;
    out.decimals = def.decimals;
    out.flags = def.flags;
  }
  descriptions->count = count;
  descriptions->fields = std::move(fields);
  return status;
}

int32_t GetFieldDescription(const FieldDescriptions& descriptions,
                            int32_t number, FieldDescription* out) {
  if (out == nullptr || number < 0 || number >= descriptions.count ||
      descriptions.fields == nullptr)
    return kStatusNoSuchField;
  *out = descriptions.fields[static_cast<size_t>(number)];
  return kKbdOk;
}

int32_t IsHiddenField(XbaseDialect dialect, const FieldDescription& field) {
  constexpr uint16_t kSystemColumn = 0x01;
  return dialect == kKbdVisualFoxpro && (field.flags & kSystemColumn) != 0 ? 1
                                                                           : 0;
}

int32_t CreateDataFile(std::u16string_view path, XbaseDialect dialect,
                       const FieldDescription* fields, int32_t count) {
  std::vector<KbdFieldDef> defs(count > 0 ? static_cast<size_t>(count) : 0);
  for (size_t i = 0; i < defs.size(); ++i) {
    KbdFieldDef& def = defs[i];
    std::memcpy(def.name, fields[i].name,
                strnlen(fields[i].name, sizeof fields[i].name - 1));
    def.type = fields[i].type;
    def.length = fields[i].length;
    def.decimals = fields[i].decimals;
    def.flags = fields[i].flags;
  }
  const std::string name = EngineFileName(path);
  return Call(kbddcreate, name.c_str(), static_cast<int16_t>(count),
              defs.data(), static_cast<uint16_t>(dialect));
}

int32_t PackDataFile(uint16_t* handle) {
  int16_t engine_handle = static_cast<int16_t>(*handle);
  const int32_t status = Call(kbddpack, &engine_handle);
  *handle =
      engine_handle < 0 ? kNoDataHandle : static_cast<uint16_t>(engine_handle);
  return status;
}

int32_t MarkProductionIndex(uint16_t handle) {
  return Call(kbddsetindexflag, static_cast<int16_t>(handle), int16_t{1});
}

}  // namespace qx::access
