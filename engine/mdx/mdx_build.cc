// Building an MDX tag over an existing data file (kbdmindex): the tag is
// defined, every record's key is sorted through the work file, and the
// tree is written bottom-up in one pass of full pages.
//
// A tree built so holds the entries that adding each record's key in
// record order would give, in the same order: equal keys by record
// number; a unique tag only the first record of each key. Adding them one
// by one would cost a page write per key; the sorted build writes each
// page once.
//
// Steps: define the tag (replacing one of the same name); lock the data
// file (mode 2, which reads the record count again) and prepare its block
// reader; open the new tag; read every record in record order, deleted
// ones included, and append its sort item; merge the runs into the page
// writer. Pages take the tag's empty root block first, then blocks of the
// free chain, then blocks at the end of the file; the file's words are
// written once all pages are, then the root. Whatever happens the work
// file is deleted, the block reader released, the lock dropped and the
// tag closed; a failed build gives the blocks it took back to the free
// chain and deletes the tag.
//
// Sort items: the key, then the record number big-endian. 'C' keys are stored
// as they are and ordered under the collation switch; 'D' keys are stored
// as the sortable double image and turned back into little-endian doubles
// when the pages are written; 'N' keys are the packed decimal, ordered by
// its comparison rule.
#include <bit>
#include <cstring>
#include <vector>

#include "engine/btree/external_sort.h"
#include "engine/btree/page_writer.h"
#include "engine/btree/tree_build.h"
#include "engine/collate/collation.h"
#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dates/key_codec.h"
#include "engine/index/index_build.h"
#include "engine/index/record_keys.h"
#include "engine/mdx/mdx_decimal.h"
#include "engine/mdx/mdx_file.h"

namespace qx::engine {
namespace {

constexpr uint32_t kRecnoSize = 4;

int CompareDecimalItems(const uint8_t* a, const uint8_t* b, std::size_t) {
  return CompareMdxDecimals(a, b);
}

// Sort items of the tag's records.
class MdxItems : public btree::BuildItems {
 public:
  explicit MdxItems(const MdxTag& tag) : tag_(tag) {}

  int16_t Prepare(int16_t dbf_handle) {
    const char* direct = tag_.key_type() == kMdxKeyCharacter ? "C"
                         : tag_.key_type() == kMdxKeyDate    ? "D"
                                                             : "NF";
    return reader_.Prepare(dbf_handle, tag_.expression, direct,
                           NumericKeyRule::kNumericOrFloat);
  }

  int16_t ReadItem(uint32_t recno, uint8_t* item, bool* /*included*/) override {
    const uint32_t length = tag_.header.key_length;
    PutBe32(item + length, recno);
    index::RecordKey key;
    if (int16_t e = reader_.Read(recno, &key)) return e;
    if (int16_t e = StoreMdxKey(tag_, key.type, key.text, key.number, item))
      return e;
    if (tag_.key_type() == kMdxKeyDate) EncodeDoubleKey(key.number, item);
    return kKbdOk;
  }

  void StoredEntry(const uint8_t* item, uint8_t* key,
                   uint32_t* recno) override {
    const uint32_t length = tag_.header.key_length;
    if (tag_.key_type() == kMdxKeyDate)
      PutLe64(key, std::bit_cast<uint64_t>(DecodeDoubleKey(item)));
    else
      std::memcpy(key, item, length);
    *recno = GetBe32(item + length);
  }

 private:
  const MdxTag& tag_;
  index::RecordKeyReader reader_;
};

// The pages' blocks: the tag's empty root first, then what the file's
// allocator gives, its words kept in memory until the build ends.
class BuildBlocks : public btree::PageIdSource {
 public:
  BuildBlocks(MdxFile* file, uint32_t root) : file_(file), root_(root) {}
  int16_t NextId(uint32_t* id) override {
    if (!root_used_) {
      root_used_ = true;
      *id = root_;
      return kKbdOk;
    }
    if (int16_t e = file_->AllocateBlock(id, false)) return e;
    taken_.push_back(*id);
    return kKbdOk;
  }
  // After a failure before the root was recorded: the words as they
  // stand, then every block taken back on the free chain.
  void GiveBack() {
    RunDespiteError([&]() -> int16_t {
      if (int16_t e = file_->WriteWords()) return e;
      for (uint32_t block : taken_)
        if (int16_t e = file_->FreeBlock(block, nullptr)) return e;
      return kKbdOk;
    });
    taken_.clear();
  }

 private:
  MdxFile* file_;
  uint32_t root_;
  bool root_used_ = false;
  std::vector<uint32_t> taken_;
};

// Sorts every record's key and writes the tree into the open tag; *rooted
// tells whether the tree was linked in (after that, deleting the tag gives
// every block back).
int16_t FillTag(int16_t dbf_handle, uint32_t record_count, MdxTag* tag,
                btree::ExternalSort* sorter, BuildBlocks* blocks,
                bool* rooted) {
  const uint32_t length = tag->header.key_length;
  MdxItems items(*tag);
  if (int16_t e = items.Prepare(dbf_handle)) return e;
  btree::SortOptions options = btree::BuildSortOptions(length + kRecnoSize);
  if (tag->key_type() == kMdxKeyNumeric) {
    options.order.compare_key = CompareDecimalItems;
    options.order.key_length = length;
  } else if (tag->key_type() == kMdxKeyCharacter && !AsciiSortOn()) {
    options.order.compare_key = CollateCompare;
    options.order.key_length = length;
  }

  btree::EntryPageEncoder encoder(tag->layout);
  btree::WriterShape shape;
  shape.page_size = tag->file->block_size();
  shape.key_length = length;
  shape.leaf_keys = tag->header.max_keys;
  shape.interior_keys = tag->header.max_keys;
  shape.trailing_pointer = true;
  shape.id_unit = kMdxSectorSize;
  btree::PageWriter writer(tag->file->slot, shape, &encoder);
  uint32_t root = 0;
  if (int16_t e = btree::SortAndWriteTree(record_count, options, &items, sorter,
                                          &writer, length, blocks, &root,
                                          tag->unique()))
    return e;
  if (root == 0) return kKbdOk;  // no record: the empty root stays
  if (int16_t e = tag->file->WriteWords()) return e;
  if (int16_t e = tag->SetRoot(root)) return e;
  *rooted = true;
  return kKbdOk;
}

// Fills the new tag `number` from the records.
int16_t BuildTag(int16_t dbf_handle, int16_t handle, uint32_t number) {
  MdxFile* file = CheckMdx(handle);
  if (file == nullptr) return kKbdErrHandle;
  int32_t tag_handle = kKbdNoHandle;
  btree::ExternalSort sorter;
  index::LockedRecords records;
  bool rooted = false;
  int16_t status = records.Begin(dbf_handle);
  if (status == kKbdOk) status = OpenMdxTag(handle, number, &tag_handle);
  MdxTag* tag = status == kKbdOk ? CheckMdxTag(tag_handle) : nullptr;
  if (tag != nullptr) {
    BuildBlocks blocks(file, tag->header.root);
    status = RefreshTag(tag);
    if (status == kKbdOk)
      status = FillTag(dbf_handle, records.record_count(), tag, &sorter,
                       &blocks, &rooted);
    int16_t ended = RunDespiteError([&] { return EndTagCall(tag); });
    if (status >= 0 && ended < 0) status = Fail(ended);
    if (status < 0 && !rooted) blocks.GiveBack();
  }
  sorter.Close();
  records.End();
  if (tag_handle != kKbdNoHandle)
    RunDespiteError([&] { return CloseMdxTag(tag_handle); });
  return status;
}

int16_t BuildMdx(int16_t dbf_handle, int16_t handle, const char* name,
                 uint16_t type, const char* expression, uint16_t key_length) {
  if (name == nullptr || expression == nullptr) return Fail(kKbdErrNullPointer);
  if (!index::IsDataFileHandle(dbf_handle)) return kKbdErrHandle;
  MdxFile* file = CheckMdx(handle);
  if (file == nullptr) return kKbdErrHandle;
  // One change from the definition to the last page: other handles wait
  // for the lock and then find the tag whole (or, after a failure, gone).
  OperationScope scope;
  if (int16_t e = file->EnterLock(&scope, file->ChangeKind())) return e;
  uint32_t number = 0;
  int16_t status =
      DefineMdxTag(file, name, type, expression, key_length, &number);
  if (status == kKbdOk) {
    status = BuildTag(dbf_handle, handle, number);
    if (status > 0) status = kKbdOk;  // warnings of the steps are not ours
    if (status < 0) {
      // What a failed build left in memory is not trusted: the deletion
      // reads the file's words.
      RunDespiteError([&] {
        DropKept(file);
        return DeleteMdxTag(file, name);
      });
    }
  }
  int16_t ended = RunDespiteError([&] {
    const int16_t dropped = DropKept(file);
    const int16_t flushed = EndFileCall(file);
    return dropped < 0 ? dropped : flushed;
  });
  if (status < 0) return status;
  return ended < 0 ? Fail(ended) : StickyError();
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdmindex(int16_t dbf_handle, int16_t handle,
                             const char* name, uint16_t type,
                             const char* expression, uint16_t key_length) {
  return RunOperation([&] {
    return BuildMdx(dbf_handle, handle, name, type, expression, key_length);
  });
}
