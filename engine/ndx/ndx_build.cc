// Building an NDX index over an existing data file (kbdnindex): every
// record's key is sorted through the work file and the tree is written
// bottom-up in one pass.
//
// Steps: create the empty index; lock the data file (mode 2) and prepare
// its block reader; start the sort (work file "stacks.tmp"); open the new
// index; read every record in record order, deleted ones included (an
// index holds one entry per record), and append its sort item; merge the
// runs into the page writer, whose first page overwrites the empty root
// leaf of page 1; record root and next_free. Whatever happens the work
// file is deleted, the block reader released, the lock dropped and the
// index closed; a failed build deletes the index file.
//
// Sort items: the key (key_length bytes) then the record number
// big-endian. Character keys are stored as they are and ordered under
// the collation switch (the whole item decides between equal keys);
// numeric and date keys are stored as the sortable double image, so that
// byte order is value order, and turned back into little-endian doubles
// when the pages are written.
//
// Reading keys: when the expression is the name of a C, N or D field the
// field bytes are taken straight from the block (text padded or cut to
// the key length, N text read as a number, a D date turned into its key
// day number, an empty date 1.0e100); otherwise the expression is
// evaluated on each record. Both give the keys kbdnkmake gives.
#include <bit>
#include <cstring>

#include "engine/btree/external_sort.h"
#include "engine/btree/page_writer.h"
#include "engine/btree/tree_build.h"
#include "engine/collate/collation.h"
#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dates/key_codec.h"
#include "engine/index/index_build.h"
#include "engine/index/record_keys.h"
#include "engine/ndx/ndx_file.h"

namespace qx::engine {
namespace {

constexpr uint32_t kRecnoSize = 4;

// Sort items of the index's records: the key, then the record number
// big-endian.
class NdxItems : public btree::BuildItems {
 public:
  explicit NdxItems(const NdxFile& index) : index_(index) {}

  int16_t Prepare(int16_t dbf_handle) {
    return reader_.Prepare(dbf_handle, index_.expression,
                           index_.numeric() ? "ND" : "C",
                           NumericKeyRule::kNumericOnly);
  }

  int16_t ReadItem(uint32_t recno, uint8_t* item, bool* /*included*/) override {
    const uint32_t length = index_.header.key_length;
    PutBe32(item + length, recno);
    index::RecordKey key;
    if (int16_t e = reader_.Read(recno, &key)) return e;
    if ((key.type == 'C') == index_.numeric())
      return Fail(kKbdErrKeyExpression);
    if (key.type == 'C') {
      const uint32_t n = key.text.size() < length
                             ? static_cast<uint32_t>(key.text.size())
                             : length;
      std::memcpy(item, key.text.data(), n);
      std::memset(item + n, ' ', length - n);
    } else {
      EncodeDoubleKey(key.number, item);
    }
    return kKbdOk;
  }

  void StoredEntry(const uint8_t* item, uint8_t* key,
                   uint32_t* recno) override {
    const uint32_t length = index_.header.key_length;
    if (index_.numeric())
      PutLe64(key, std::bit_cast<uint64_t>(DecodeDoubleKey(item)));
    else
      std::memcpy(key, item, length);
    *recno = GetBe32(item + length);
  }

 private:
  const NdxFile& index_;
  index::RecordKeyReader reader_;
};

// Sorts every record's key and writes the tree into the open index.
int16_t FillIndex(int16_t dbf_handle, uint32_t record_count, NdxFile* index,
                  btree::ExternalSort* sorter) {
  const uint32_t length = index->header.key_length;
  NdxItems items(*index);
  if (int16_t e = items.Prepare(dbf_handle)) return e;
  btree::SortOptions options = btree::BuildSortOptions(length + kRecnoSize);
  if (!index->numeric() && !AsciiSortOn()) {
    options.order.compare_key = CollateCompare;
    options.order.key_length = length;
  }

  btree::EntryPageEncoder encoder(index->layout);
  btree::WriterShape shape;
  shape.page_size = kNdxPageSize;
  shape.key_length = length;
  shape.leaf_keys = index->header.keys_per_page;
  shape.interior_keys = index->header.keys_per_page;
  shape.trailing_pointer = true;
  shape.id_unit = kNdxPageSize;
  btree::PageWriter writer(index->slot, shape, &encoder);
  // Page 1, the empty root of the new file, takes the first page built.
  btree::SequentialIds ids(1, 1);
  uint32_t root = 0;
  if (int16_t e = btree::SortAndWriteTree(record_count, options, &items, sorter,
                                          &writer, length, &ids, &root,
                                          index->unique()))
    return e;
  if (root == 0) return kKbdOk;  // no record: the empty root of page 1 stays
  uint8_t words[kNdxHeaderWordsSize];
  PutLe32(words + kNdxRootOffset, root);
  PutLe32(words + kNdxNextFreeOffset, ids.next());
  if (int16_t e = FileWriteAt(index->slot, 0, words, sizeof words)) return e;
  index->header.root = root;
  index->header.next_free = ids.next();
  return kKbdOk;
}

int16_t BuildNdx(int16_t dbf_handle, const char* name, uint16_t type,
                 const char* expression, uint16_t key_length) {
  index::IndexBuildSteps steps;
  steps.create = [&] { return CreateNdx(name, type, expression, key_length); };
  steps.open = [&](int16_t* handle) { return OpenNdx(handle, name, 0); };
  steps.fill = [&](int16_t handle, uint32_t record_count,
                   btree::ExternalSort* sorter) -> int16_t {
    NdxFile* index = CheckNdx(handle);
    if (index == nullptr) return kKbdErrHandle;
    return FillIndex(dbf_handle, record_count, index, sorter);
  };
  steps.close = [](int16_t handle) { return CloseNdx(handle); };
  steps.when_empty = index::EmptySource::kFill;
  return index::BuildIndexFile(dbf_handle, name, expression, steps);
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdnindex(int16_t dbf_handle, const char* name,
                             uint16_t type, const char* expression,
                             uint16_t key_length) {
  return RunOperation(
      [&] { return BuildNdx(dbf_handle, name, type, expression, key_length); });
}
