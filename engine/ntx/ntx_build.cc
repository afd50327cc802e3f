// Building an NTX index over an existing data file (kbdxbuild,
// kbdxbuildx): every record's key is sorted through the work file and the
// tree is written bottom-up in one pass.
//
// Steps: create the empty index (with its flags and FOR text); lock the
// data file (mode 2) and prepare its block reader (no record: the empty
// index is the result); open the new index; read every record in record
// order, deleted ones included, and append its sort item unless the FOR
// condition excludes the record; for a unique
// index keep the first item of each key (lowest record number), passing
// them through a second sort whose count plans the tree; merge the items
// into the page writer in the B-tree shape (full leaves, every
// (largest + 1)-th entry a separator one level up), whose first page
// overwrites the empty root at 1,024; record the root and mark the index
// changed, so that closing it stamps the header. Whatever happens the work
// files are deleted, the block reader released, the lock dropped and the
// index closed; a failed build deletes the index file.
//
// Sort items: the key text (key_length bytes; in a descending index every
// byte c as 255 - c) then the record number big-endian, so that a byte
// comparison of whole items orders by the file's key order and, among
// equal keys, by record. The sort area is 65,000 bytes, 1,024 less after
// each failed allocation, at least 4,097.
//
// Keys: the same text kbdxkeyrec gives (NtxValueKey): a C field's bytes
// padded or cut, numbers as NtxNumberKey with the index's decimals, dates
// as YYYYMMDD.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/btree/external_sort.h"
#include "engine/btree/file_words.h"
#include "engine/btree/page_writer.h"
#include "engine/btree/tree_build.h"
#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/index/index_build.h"
#include "engine/index/record_keys.h"
#include "engine/ntx/ntx_file.h"

namespace qx::engine {
namespace {

constexpr uint32_t kRecnoSize = 4;

btree::SortOptions NtxSortOptions(uint32_t item_size) {
  btree::SortOptions options = btree::BuildSortOptions(item_size);
  options.buffer_step = 1024;
  options.min_buffer_bytes = 4097;
  return options;
}

// The sort items of the records and the entries they stand for.
class NtxItems : public btree::BuildItems {
 public:
  explicit NtxItems(const NtxFile& index) : index_(index) {}

  int16_t Prepare(int16_t dbf_handle) {
    // Clipper's programs write NTX files: their rules (STR() of a field
    // takes its width) make the keys.
    return reader_.Prepare(dbf_handle, index_.expression, "CNFD",
                           NumericKeyRule::kNumericOrFloat,
                           index_.header.for_expression, ExprRules::kClipper);
  }

  int16_t ReadItem(uint32_t recno, uint8_t* item, bool* included) override {
    index::RecordKey key;
    if (int16_t e = reader_.Read(recno, &key)) return e;
    *included = key.included;
    if (!key.included) return kKbdOk;
    const uint32_t length = index_.header.key_length;
    PutBe32(item + length, recno);
    if (!key.stored_date.empty()) {
      // The field's bytes are the date text NtxValueKey would write.
      const size_t n = std::min<size_t>(key.stored_date.size(), length);
      std::memcpy(item, key.stored_date.data(), n);
      std::memset(item + n, ' ', length - n);
    } else if (int16_t e =
                   NtxValueKey(key.type, key.text, key.number, index_, item)) {
      return e;
    }
    if (index_.descending) Invert(item);
    return kKbdOk;
  }

  void StoredEntry(const uint8_t* item, uint8_t* key,
                   uint32_t* recno) override {
    std::memcpy(key, item, index_.header.key_length);
    if (index_.descending) Invert(key);
    *recno = GetBe32(item + index_.header.key_length);
  }

 private:
  // Key bytes c <-> 255 - c: descending order under a byte comparison.
  void Invert(uint8_t* key) const {
    for (uint32_t i = 0; i < index_.header.key_length; ++i)
      key[i] = static_cast<uint8_t>(255 - key[i]);
  }

  const NtxFile& index_;
  index::RecordKeyReader reader_;
};

// NTX pages for the page writer: each page laid out fresh.
class NtxPageEncoder : public btree::PageEncoder {
 public:
  explicit NtxPageEncoder(const NtxShape& shape) : shape_(shape) {}
  void PutEntry(uint8_t* page, bool leaf, uint32_t slot, const uint8_t* key,
                uint32_t pointer) override {
    PutItem(page, slot, key, leaf ? pointer : 0, leaf ? 0 : pointer);
  }
  void PutItem(uint8_t* page, uint32_t slot, const uint8_t* key, uint32_t recno,
               uint32_t child) override {
    NtxNode node(page, shape_);
    if (slot == 0) node.Format();
    node.SetItem(slot, child, recno, key);
  }
  void FinishPage(uint8_t* page, bool /*leaf*/, uint32_t count,
                  uint32_t trailing) override {
    NtxNode node(page, shape_);
    if (count == 0) node.Format();
    node.set_count(count);
    node.set_child(count, trailing);
  }

 private:
  NtxShape shape_;
};

int16_t FillIndex(int16_t dbf_handle, uint32_t record_count, NtxFile* index,
                  btree::ExternalSort* sorter) {
  const uint32_t length = index->header.key_length;
  NtxItems items(*index);
  if (int16_t e = items.Prepare(dbf_handle)) return e;
  NtxPageEncoder encoder(index->shape);
  btree::WriterShape shape;
  shape.page_size = kNtxPageSize;
  shape.key_length = length;
  shape.leaf_keys = index->shape.largest;
  shape.interior_keys = index->shape.largest;
  shape.keys_in_interior = true;
  shape.min_keys = index->shape.smallest;
  shape.id_unit = 1;  // page ids are byte offsets
  btree::PageWriter writer(index->slot, shape, &encoder);
  // The empty root of the new file takes the first page built.
  btree::SequentialIds ids(kNtxPageSize, kNtxPageSize);
  uint32_t root = 0;
  if (int16_t e = btree::SortAndWriteTree(
          record_count, NtxSortOptions(length + kRecnoSize), &items, sorter,
          &writer, length, &ids, &root, index->unique()))
    return e;
  if (root == 0) return kKbdOk;  // no entry: the empty root stays
  if (int16_t e = btree::WriteLe32At(index->slot, kNtxRootOffset, root))
    return e;
  index->header.root = root;
  index->changed = true;
  return kKbdOk;
}

int16_t BuildNtx(int16_t dbf_handle, const char* name, uint16_t type,
                 const char* expression, uint16_t key_length, uint16_t decimals,
                 const char* for_expression) {
  index::IndexBuildSteps steps;
  steps.create = [&] {
    return CreateNtx(name, type, expression, key_length, decimals,
                     for_expression);
  };
  steps.open = [&](int16_t* handle) { return OpenNtx(handle, name, 0); };
  steps.fill = [&](int16_t handle, uint32_t record_count,
                   btree::ExternalSort* sorter) -> int16_t {
    NtxFile* index = CheckNtx(handle);
    if (index == nullptr) return kKbdErrHandle;
    return FillIndex(dbf_handle, record_count, index, sorter);
  };
  steps.close = [](int16_t handle) { return CloseNtx(handle); };
  // No record: the empty index as created is the result.
  steps.when_empty = index::EmptySource::kNoOpen;
  return index::BuildIndexFile(dbf_handle, name, expression, steps);
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdxbuild(int16_t dbf_handle, const char* name,
                             uint16_t type, const char* expression,
                             uint16_t key_length, uint16_t decimals) {
  return kbdxbuildx(dbf_handle, name, type, expression, key_length, decimals,
                    nullptr);
}

extern "C" int16_t kbdxbuildx(int16_t dbf_handle, const char* name,
                              uint16_t type, const char* expression,
                              uint16_t key_length, uint16_t decimals,
                              const char* for_expression) {
  return RunOperation([&] {
    return BuildNtx(dbf_handle, name, type, expression, key_length, decimals,
                    for_expression);
  });
}
