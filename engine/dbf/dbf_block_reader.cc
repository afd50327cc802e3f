// The block reader of the index builds (see dbf_block_reader.h).
#include "engine/dbf/dbf_block_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/core/handle_table.h"
#include "engine/core/last_error.h"
#include "engine/dbf/dbf_internal.h"

namespace qx::engine {
namespace {

// Makes sure record recno is in the block; *bytes points to it.
int16_t ServeRecord(DbfFile* file, uint32_t recno, const uint8_t** bytes) {
  if (file->records_per_block == 0) return Fail(kKbdErrCommand);
  uint32_t size = file->record_size();
  if (recno < file->block_first ||
      recno >= file->block_first + file->block_count ||
      file->block_count == 0) {
    if (int16_t e = CheckRecno(file, recno)) return e;
    uint32_t count = std::min(file->records_per_block,
                              file->header.record_count - recno + 1);
    uint32_t offset = 0;
    if (int16_t e = RecordOffset(*file, recno, &offset)) return e;
    file->block_count = 0;
    if (int16_t e =
            FileReadAt(file->slot, offset, file->block.data(), count * size))
      return e;
    file->block_first = recno;
    file->block_count = count;
  }
  *bytes = file->block.data() +
           static_cast<size_t>(recno - file->block_first) * size;
  return (*bytes)[kDbfDeletionFlagOffset] == kDbfDeletedFlag ? kKbdDeletedRecord
                                                             : kKbdOk;
}

}  // namespace

uint32_t RecordsPerBlock(uint16_t record_size) {
  if (record_size == 0) return kDbfBlockRecords;
  uint32_t bytes = kDbfBlockRecords * record_size;
  if (bytes > kDbfBlockMaxBytes)
    return std::max<uint32_t>(1, kDbfBlockMaxBytes / record_size);
  if (bytes < kDbfBlockMinBytes) return kDbfBlockMinBytes / record_size;
  return kDbfBlockRecords;
}

int16_t PrepareBlockReader(int16_t dbf_handle) {
  if (int16_t e = StickyError()) return e;
  DbfFile* file = CheckDbf(dbf_handle);
  if (file == nullptr) return kKbdErrHandle;
  uint32_t per_block = RecordsPerBlock(file->record_size());
  try {
    file->block.assign(static_cast<size_t>(per_block) * file->record_size(), 0);
  } catch (const std::bad_alloc&) {
    return Fail(kKbdErrNoMemory);
  }
  file->records_per_block = per_block;
  file->block_first = 0;
  file->block_count = 0;
  return kKbdOk;
}

int16_t ReadRecordThroughBlock(int16_t dbf_handle, uint32_t recno) {
  if (int16_t e = StickyError()) return e;
  DbfFile* file = CheckDbf(dbf_handle);
  if (file == nullptr) return kKbdErrHandle;
  const uint8_t* bytes = nullptr;
  int16_t status = ServeRecord(file, recno, &bytes);
  if (status < 0) return status;
  std::memcpy(file->record.data(), bytes, file->record_size());
  file->recno = recno;
  return status;
}

int16_t PeekRecordThroughBlock(int16_t dbf_handle, uint32_t recno,
                               const uint8_t** bytes) {
  if (int16_t e = StickyError()) return e;
  if (bytes == nullptr) return Fail(kKbdErrNullPointer);
  DbfFile* file = CheckDbf(dbf_handle);
  if (file == nullptr) return kKbdErrHandle;
  return ServeRecord(file, recno, bytes);
}

void ReleaseBlockReader(int16_t dbf_handle) {
  // Works whatever the last error is (after a failed build too), and leaves
  // it alone.
  if (HandleKind(dbf_handle) != kKbdKindDbf) return;
  DbfFile* file = CheckDbf(dbf_handle);
  std::vector<uint8_t>().swap(file->block);
  file->records_per_block = 0;
  file->block_first = 0;
  file->block_count = 0;
}

}  // namespace qx::engine
