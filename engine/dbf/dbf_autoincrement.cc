// Visual FoxPro autoincrement fields (I with descriptor flag 0x08): every
// record appended takes the field's counter, the next value in descriptor
// bytes 19..22, which then moves on by the step in byte 23. The counter
// lives in the header, so that every program appending to the table
// numbers on from the same place.
//
// Runs inside an append, after the record count was read under the append
// lock (a shared file) or while this handle owns the file, so appends of
// other processes cannot take the same value. The counter is written
// before the record: a failure in between leaves a gap, never a number
// given twice. Pack's work file copies records with their numbers and
// leaves its counters as they came from the table.
#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dbf/dbf_internal.h"

namespace qx::engine {

int16_t AssignAutoIncrements(DbfFile* file) {
  if (file->dialect != kKbdVisualFoxpro || file->copying) return kKbdOk;
  const bool shared = (file->file_flags & kFileFlagShared) != 0;
  for (size_t i = 0; i < file->fields.size(); ++i) {
    const DbfField& f = file->fields[i];
    if ((f.flags & kDbfFieldAutoIncrement) == 0 || f.type != 'I' ||
        f.length < kDbfIntegerFieldSize)
      continue;
    const uint32_t at = static_cast<uint32_t>(
        kDbfHeaderSize + i * kDbfDescriptorSize + kDbfFieldNextValueOffset);
    uint8_t counter[kDbfFieldNextValueSize + kDbfFieldStepSize];
    if (shared) {  // another process may have appended since
      if (int16_t e = FileReadAt(file->slot, at, counter, sizeof counter))
        return e;
      file->next_values[i] = GetLe32(counter);
      file->steps[i] = counter[kDbfFieldNextValueSize];
    }
    const uint32_t value = file->next_values[i];
    PutLe32(counter, value + file->steps[i]);
    if (int16_t e =
            FileWriteAt(file->slot, at, counter, kDbfFieldNextValueSize))
      return e;
    file->next_values[i] = value + file->steps[i];
    PutLe32(file->field_bytes(f), value);
  }
  return kKbdOk;
}

}  // namespace qx::engine
