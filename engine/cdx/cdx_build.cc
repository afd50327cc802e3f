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
// read, deleted records included; in a shared compound file the lock byte
// is held for the whole build. A failed build deletes the tag again.
#include <cstring>
#include <memory>
#include <vector>

#include "engine/btree/external_sort.h"
#include "engine/btree/record_keys.h"
#include "engine/btree/tree_build.h"
#include "engine/cdx/cdx_file.h"
#include "engine/core/coding.h"
#include "engine/dbf/dbf_internal.h"

namespace qx::engine {
namespace {

constexpr uint32_t kRecnoSize = 4;

// Sorts the keys of records 1..record_count and builds the tag's tree;
// *root gets its root node.
int16_t FillTag(int16_t dbf_handle, uint32_t record_count, CdxTag* tag,
                uint32_t* root) {
  const uint32_t length = tag->key_length();
  btree::RecordKeyReader reader;
  if (int16_t e = reader.Prepare(dbf_handle, tag->expression, "CNFD",
                                 NumericKeyRule::kNumericOrFloat))
    return e;
  btree::ExternalSort sorter;
  if (int16_t e = sorter.Start(btree::BuildSortOptions(length + kRecnoSize)))
    return e;
  for (uint32_t recno = 1; recno <= record_count; ++recno) {
    uint8_t* item = nullptr;
    if (int16_t e = sorter.Append(&item)) return e;
    btree::RecordKey key;
    if (int16_t e = reader.Read(recno, &key)) return e;
    if (int16_t e = StoreCdxKey(*tag, key.type, key.text, key.number, item))
      return e;
    PutBe32(item + length, recno);
  }
  if (int16_t e = sorter.Finish()) return e;
  idx::FoxTreeBuilder builder;
  if (int16_t e = builder.Start(tag->file->slot, idx::FoxLayout::kCompact,
                                static_cast<uint16_t>(length), tag->pad(),
                                record_count))
    return e;
  builder.ReuseNode(tag->header.root);
  const bool unique = tag->unique();
  bool any = false;
  std::vector<uint8_t> last(length);
  for (;;) {
    const uint8_t* item = nullptr;
    if (int16_t e = sorter.Next(&item)) return e;
    if (item == nullptr) break;
    if (unique && any && std::memcmp(last.data(), item, length) == 0)
      continue;
    if (unique) std::memcpy(last.data(), item, length);
    any = true;
    if (int16_t e = builder.Add(item, GetBe32(item + length))) return e;
  }
  sorter.Close();
  return builder.Finish(root);
}

int16_t BuildTag(int16_t dbf_handle, int16_t handle, const char* name,
                 uint16_t type, const char* expression, uint16_t key_length) {
  if (CheckDbf(dbf_handle) == nullptr) return kKbdErrHandle;
  CdxFile* file = CheckCdxHandle(handle);
  if (file == nullptr) return kKbdErrHandle;
  bool took_lock = false;
  if (file->shared()) {
    if (int16_t e = file->Lock(&took_lock)) return e;
  }
  uint32_t header_offset = 0;
  int16_t status =
      CreateCdxTag(file, name, type, expression, key_length, &header_offset);
  const bool created = status == kKbdOk;
  btree::LockedRecords records;
  std::unique_ptr<CdxTag> tag;
  if (status == kKbdOk) status = records.Begin(dbf_handle);
  if (status == kKbdOk)
    status = LoadCdxTree(file, 1, header_offset, "", &tag);
  if (status == kKbdOk && records.record_count() > 0) {
    tag->key_type = static_cast<char>(type & 0x7F & 0xDF);
    uint32_t root = 0;
    status = FillTag(dbf_handle, records.record_count(), tag.get(), &root);
    if (status == kKbdOk && root != tag->header.root) {
      uint8_t word[4];
      PutLe32(word, root);
      status = FileWriteAt(file->slot, header_offset, word, sizeof word);
    }
  }
  if (status > 0) status = kKbdOk;  // warnings of the steps are not the build's
  tag.reset();
  records.End();
  if (status < 0 && created)
    RunDespiteError([&] { return DeleteCdxTag(file, name); });
  if (took_lock) RunDespiteError([file] { return file->Unlock(); });
  return status < 0 ? status : StickyError();
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdctagbuild(int16_t dbf_handle, int16_t handle,
                                const char* name, uint16_t type,
                                const char* expression, uint16_t key_length) {
  return RunOperation([&] {
    return BuildTag(dbf_handle, handle, name, type, expression, key_length);
  });
}
