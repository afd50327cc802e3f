// Data files through the engine: opening by trying the dialect rows,
// probing, closing, the field descriptions of a table, and creation.
//
// Handles are the engine's, as unsigned 16-bit numbers; kNoDataHandle
// stands for none. Paths are the host's UTF-16 text (data_file_ops.cc
// hands them to the engine in code page 1252, cut at 260 characters).
#ifndef QX_ACCESS_ADAPTER_DATA_FILE_OPS_H_
#define QX_ACCESS_ADAPTER_DATA_FILE_OPS_H_

#include <cstdint>
#include <memory>
#include <string_view>

#include "access/adapter/dialects.h"

namespace qx::access {

class CXError;

inline constexpr uint16_t kNoDataHandle = 0xFFFF;

// Open-mode bits of the engine's open-mode word (the dialect goes in the
// low byte).
inline constexpr uint16_t kModeReadOnly = 0x100;
inline constexpr uint16_t kModeShared = 0x400;
inline constexpr uint16_t kModeSharedReadWrite = 0x600;  // ProbeDataFile
inline constexpr uint16_t kModeSharedAlways = 0x800;     // stands for 0x600

// One field descriptor of a data file as the access layer keeps it.
struct FieldDescription {
  char name[11] = {};   // NUL-terminated, right-trimmed of blanks
  uint16_t type = 0;    // the type letter as stored
  uint16_t length = 0;  // bytes in the record
  uint16_t decimals = 0;
  uint16_t flags = 0;  // 0x01 system (hidden) column, 0x02 nullable
};

// The field descriptions of a table (count and owned array).
struct FieldDescriptions {
  int32_t count = 0;
  std::unique_ptr<FieldDescription[]> fields;
};

// The adapter's own statuses.
inline constexpr int32_t kStatusNoFieldMemory = -200;
inline constexpr int32_t kStatusNoSuchField = -205;

// Tries the dialect rows in order, opening path with mode_bits | the row's
// code, until one opens. 1 opened (*handle, *row set), 0 not opened
// (*handle kNoDataHandle, *row -1). Each failed row builds error 1001
// (path and engine status; the logical name as the error's table, the
// debug line, the engine status's texts) and, when sink is given, copies
// it there, so the sink holds the last row's failure. row and status may
// be null; *status gets the engine status of the last attempt (warnings
// included).
int32_t OpenDataFile(std::u16string_view logical_name, std::u16string_view path,
                     uint16_t mode_bits, CXError* sink, uint16_t* handle,
                     int32_t* row, int16_t* status = nullptr);
// Opens path with the whole open-mode word `mode` (the dialect in its low
// byte), as a table object opens its data file for record work: the
// engine status; *handle kNoDataHandle unless it is 0 or more.
int32_t OpenDataFileAs(std::u16string_view path, uint16_t mode,
                       uint16_t* handle);
// Opens (mode kModeSharedReadWrite) and closes again: always 1; the sink
// as for OpenDataFile.
int32_t ProbeDataFile(std::u16string_view logical_name,
                      std::u16string_view path, CXError* sink);
int32_t CloseDataFile(uint16_t handle);

// Reads the table's field descriptors into descriptions (replacing what
// it held); kStatusNoFieldMemory when the array cannot be allocated.
int32_t LoadFieldDescriptions(FieldDescriptions* descriptions, uint16_t handle);
// Field number 0..count-1; kStatusNoSuchField outside, or for a null out.
int32_t GetFieldDescription(const FieldDescriptions& descriptions,
                            int32_t number, FieldDescription* out);
// 1 for a Visual FoxPro system column (dialect 10, flag 0x01), else 0.
int32_t IsHiddenField(XbaseDialect dialect, const FieldDescription& field);

int32_t CreateDataFile(std::u16string_view path, XbaseDialect dialect,
                       const FieldDescription* fields, int32_t count);

// Packs the data file open as *handle (the records marked deleted go, a
// ".BAK" copy is made on the way): the engine status; *handle becomes the
// reopened file's handle (opened shared), kNoDataHandle when none.
int32_t PackDataFile(uint16_t* handle);
// Marks the data file as having its production index (the MDX or CDX
// file of its own base name), for the families that keep that mark; the
// engine status (-12 for a family without the mark).
int32_t MarkProductionIndex(uint16_t handle);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_DATA_FILE_OPS_H_
