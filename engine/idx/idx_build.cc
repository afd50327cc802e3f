// Building an IDX index over an existing data file (kbdibuild): the empty
// index is created, the data file locked (the builds' lock mode) and read
// in record order, deleted records included, every key sorted through the
// work file and the tree built bottom-up; its first node takes the place
// of the empty root leaf. Whatever happens the work file is deleted, the
// lock dropped and the index closed; a failed build deletes the index.
//
// Compact leaves get record-number fields wide enough for the data file's
// record count, so the build never needs to widen them.
#include "engine/btree/record_keys.h"
#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dbf/dbf_internal.h"
#include "engine/idx/fox_fill.h"
#include "engine/idx/fox_format.h"
#include "engine/idx/idx_file.h"

namespace qx::engine {
namespace {

int16_t FillIdx(int16_t dbf_handle, uint32_t record_count, IdxFile* index) {
  idx::FoxFill fill;
  fill.dbf_handle = dbf_handle;
  fill.record_count = record_count;
  fill.expression = index->expression;
  fill.file_slot = index->slot;
  fill.layout = index->header.layout();
  fill.key_length = index->key_length();
  fill.pad = index->pad();
  fill.unique = index->unique();
  fill.reuse_node = index->header.root;
  uint32_t root = 0;
  if (int16_t e = idx::FillFoxTree(fill, &root)) return e;
  uint8_t word[4];
  PutLe32(word, root);
  return FileWriteAt(index->slot, idx::kFoxHeaderRootOffset, word, 4);
}

int16_t BuildIdx(int16_t dbf_handle, const char* name, uint16_t type,
                 const char* expression, uint16_t key_length) {
  if (name == nullptr || expression == nullptr)
    return Fail(kKbdErrNullPointer);
  if (CheckDbf(dbf_handle) == nullptr) return kKbdErrHandle;
  if (int16_t e = CreateIdx(name, type, expression, key_length)) return e;

  int16_t index_handle = kKbdNoHandle;
  btree::LockedRecords records;
  int16_t status = records.Begin(dbf_handle);
  if (status == kKbdOk) status = OpenIdx(&index_handle, name, 0);
  if (status == kKbdOk && records.record_count() > 0) {
    IdxFile* index = CheckIdx(index_handle);
    if (index == nullptr) {
      status = kKbdErrHandle;
    } else {
      index->key_type = static_cast<char>(type & 0x7F & 0xDF);
      status = FillIdx(dbf_handle, records.record_count(), index);
    }
  }
  if (status > 0) status = kKbdOk;  // warnings of the steps are not the build's

  records.End();
  if (index_handle != kKbdNoHandle) {
    int16_t closed = RunDespiteError([&] { return CloseIdx(index_handle); });
    if (status == kKbdOk && closed < 0) status = Fail(closed);
  }
  if (status < 0) {
    RunDespiteError([&] { return FileDelete(name); });
    return status;
  }
  return StickyError();
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdibuild(int16_t dbf_handle, const char* name,
                             uint16_t type, const char* expression,
                             uint16_t key_length) {
  return RunOperation(
      [&] { return BuildIdx(dbf_handle, name, type, expression, key_length); });
}
