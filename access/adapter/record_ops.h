// Records of an open data file through the engine: reading and writing
// the record buffer, the values of its fields, and the table's counts.
//
// Handles are the engine's as unsigned 16-bit numbers (data_file_ops.h);
// field numbers count from 0. Field values are exchanged in the engine's
// forms: C, V and D texts (D as YYYYMMDD under the default date format)
// NUL-terminated; N, F, B, Y 8-byte floats; I 32-bit integers; L one byte
// (1, 0, or '?' for neither); M, P block numbers; T text YYYYMMDDHHMMSSmmm;
// Q a 16-bit little-endian length and the bytes.
#ifndef QX_ACCESS_ADAPTER_RECORD_OPS_H_
#define QX_ACCESS_ADAPTER_RECORD_OPS_H_

#include <cstdint>

namespace qx::access {

// Reads record recno into the engine's buffer: 0, 1 when it is marked
// deleted, -4 past the end of the file.
int32_t ReadRecord(uint16_t handle, uint32_t recno);
int32_t RecordCount(uint16_t handle, uint32_t* count);
// 1 when the record in the buffer is marked deleted, else 0.
int32_t IsDeletedRecord(uint16_t handle);
// REQUIRES: value has room for the field's engine form.
int32_t GetField(uint16_t handle, int32_t field, void* value);
// Statuses 5 (truncated) and 6 (rounded) are warnings.
int32_t PutField(uint16_t handle, int32_t field, const void* value);
// 2 when the field's null flag is set, 1 when it is blank, else 0.
int32_t FieldBlankState(uint16_t handle, int32_t field);
// The memo block number of a memo field of the buffer (0: none), and its
// setter.
int32_t GetMemoBlock(uint16_t handle, int32_t field, uint32_t* block);
int32_t SetMemoBlock(uint16_t handle, int32_t field, uint32_t block);
// The version byte of the data file's header.
int32_t DataFileVersion(uint16_t handle, uint8_t* version);
// mode 0 appends the buffer (*recno receives its number), 256 rewrites
// record *recno.
int32_t WriteRecord(uint16_t handle, uint32_t* recno, uint16_t mode);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_RECORD_OPS_H_
