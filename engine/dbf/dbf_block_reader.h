// The block reader of a data file: index builds scan every record in
// record order through it, reading several records per system call.
//
// A block holds 8 records; when 8 records exceed 16384 bytes, as many as
// fit in 16384 (at least 1); when they come to less than 512 bytes, as many
// as fit in 512. Serving record n uses the block when n lies in it;
// otherwise the block is reloaded from record n with min(records per block,
// count - n + 1) records. The count is the one held in memory (the build's
// file lock has just read it again).
//
// These are internal steps for other engine modules: they obey the sticky
// last error and set it at the point of failure (-13 not a data file
// handle, -3 no memory, -4 record out of range, -2 short read).
#ifndef QX_ENGINE_DBF_DBF_BLOCK_READER_H_
#define QX_ENGINE_DBF_DBF_BLOCK_READER_H_

#include <cstdint>

namespace qx::engine {

inline constexpr uint32_t kDbfBlockRecords = 8;
inline constexpr uint32_t kDbfBlockMaxBytes = 16384;
inline constexpr uint32_t kDbfBlockMinBytes = 512;

// Records per block for a record size (the rule above).
uint32_t RecordsPerBlock(uint16_t record_size);

// Allocates the handle's block buffer; any block held before is dropped.
int16_t PrepareBlockReader(int16_t dbf_handle);

// Serves record recno from the block and copies it into the record buffer
// as the current record, as kbddread does: 1 when it is marked deleted.
// Key expressions evaluated next see this record.
int16_t ReadRecordThroughBlock(int16_t dbf_handle, uint32_t recno);

// Serves record recno from the block without copying: *bytes points to its
// record-size bytes (deletion flag first), valid until the next call of
// this reader or its release. The record buffer is not changed. 1 when the
// record is marked deleted.
int16_t PeekRecordThroughBlock(int16_t dbf_handle, uint32_t recno,
                               const uint8_t** bytes);

// Frees the block buffer. An invalid handle is ignored.
void ReleaseBlockReader(int16_t dbf_handle);

}  // namespace qx::engine

#endif  // QX_ENGINE_DBF_DBF_BLOCK_READER_H_
