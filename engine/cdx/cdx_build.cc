// Building a CDX tag over an existing data file (kbdctagbuild): the tag
// is created empty (replacing one of the same name), every record's key is
// sorted through the work file "stacks.tmp", and the sorted entries go to
// the tree builder, whose first node takes the place of the empty root
// leaf and whose root the tag header then names.
//
// Sort items: the key (key-length bytes: text padded with blanks or cut,
// numbers and dates the sortable double) then the record number
// big-endian, so that a byte comparison of whole items gives key order
// with equal keys by record number, the order of the tag. A unique tag
// keeps the first record of each key.
//
// The data file is locked (the builds' lock mode) while its records are
// read, deleted records included, those the FOR condition excludes left
// out; in a shared compound file the operation lock is held exclusively
// for the whole build, taken before the data file's lock. A failed build
// deletes the tag again.
#include <memory>

#include "engine/btree/file_words.h"
#include "engine/cdx/cdx_file.h"
#include "engine/core/coding.h"
#include "engine/fox/fox_fill.h"
#include "engine/index/index_build.h"
#include "engine/index/key_type_word.h"
#include "engine/index/record_keys.h"

namespace qx::engine {
namespace {

// Sorts the keys of records 1..record_count and builds the tag's tree
// through the fill the IDX builds use; *root gets its root node.
int16_t FillTag(int16_t dbf_handle, uint32_t record_count, const CdxTag& tag,
                uint16_t file_slot, uint32_t* root) {
  fox::FoxFill fill;
  fill.dbf_handle = dbf_handle;
  fill.record_count = record_count;
  fill.expression = tag.expression;
  fill.for_expression = tag.header.for_expression;
  fill.file_slot = file_slot;
  fill.layout = fox::FoxLayout::kCompact;
  fill.key_length = tag.key_length();
  fill.pad = tag.pad();
  fill.unique = tag.unique();
  fill.reuse_node = tag.header.root;
  return fox::FillFoxTree(fill, root);
}

int16_t BuildTag(int16_t dbf_handle, int16_t handle, const char* name,
                 uint16_t type, const char* expression, uint16_t key_length,
                 const char* for_expression) {
  if (!index::IsDataFileHandle(dbf_handle)) return kKbdErrHandle;
  CdxFile* file = CheckCdxHandle(handle);
  if (file == nullptr) return kKbdErrHandle;
  OperationScope scope;
  if (int16_t e = file->EnterLock(
          &scope, file->read_only() ? LockKind::kShared : LockKind::kExclusive))
    return e;
  uint32_t header_offset = 0;
  int16_t status = CreateCdxTag(file, name, type, expression, key_length,
                                for_expression, &header_offset);
  const bool created = status == kKbdOk;
  index::LockedRecords records;
  std::unique_ptr<CdxTag> tag;
  if (status == kKbdOk) status = records.Begin(dbf_handle);
  if (status == kKbdOk) status = LoadCdxTree(file, 1, header_offset, "", &tag);
  if (status == kKbdOk && records.record_count() > 0) {
    tag->key_type = index::KeyTypeLetter(type);
    uint32_t root = 0;
    status =
        FillTag(dbf_handle, records.record_count(), *tag, file->slot, &root);
    if (status == kKbdOk && root != tag->header.root) {
      status = btree::WriteLe32At(file->slot, header_offset, root);
    }
    if (status == kKbdOk) status = CountCdxChange(file);
  }
  if (status > 0) status = kKbdOk;  // warnings of the steps are not the build's
  tag.reset();
  records.End();
  if (status < 0 && created)
    RunDespiteError([&] { return DeleteCdxTag(file, name); });
  return status < 0 ? status : StickyError();
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdctagbuild(int16_t dbf_handle, int16_t handle,
                                const char* name, uint16_t type,
                                const char* expression, uint16_t key_length) {
  return RunOperation([&] {
    return BuildTag(dbf_handle, handle, name, type, expression, key_length,
                    nullptr);
  });
}

extern "C" int16_t kbdctagbuildx(int16_t dbf_handle, int16_t handle,
                                 const char* name, uint16_t type,
                                 const char* expression, uint16_t key_length,
                                 const char* for_expression) {
  return RunOperation([&] {
    return BuildTag(dbf_handle, handle, name, type, expression, key_length,
                    for_expression);
  });
}
