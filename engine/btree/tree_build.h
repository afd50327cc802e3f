// The core of the index builds: one sort item per data record through the
// external sort, then the sorted entries into the bottom-up page writer.
//
// The format decides the sort item (its key form and how the record
// number follows it) and turns each sorted item back into a stored key and
// record number; pages of fixed-size entries are encoded by
// EntryPageEncoder from the format's EntryLayout.
#ifndef QX_ENGINE_BTREE_TREE_BUILD_H_
#define QX_ENGINE_BTREE_TREE_BUILD_H_

#include <cstdint>

#include "engine/btree/entry_page.h"
#include "engine/btree/external_sort.h"
#include "engine/btree/page_writer.h"

namespace qx::engine::btree {

// Pages of an EntryLayout for the page writer (trailing pointer form).
class EntryPageEncoder : public PageEncoder {
 public:
  explicit EntryPageEncoder(const EntryLayout& layout) : layout_(layout) {}
  void PutEntry(uint8_t* page, bool leaf, uint32_t slot, const uint8_t* key,
                uint32_t pointer) override {
    layout_.PutEntry(page, slot, leaf, leaf ? 0 : pointer, leaf ? pointer : 0,
                     key);
  }
  void FinishPage(uint8_t* page, bool leaf, uint32_t count,
                  uint32_t trailing) override {
    layout_.SetCount(page, count);
    if (!leaf) layout_.SetChild(page, count, trailing);
  }

 private:
  const EntryLayout& layout_;
};

// The sort of the builds: a 65,000-byte buffer, 512 bytes less after each
// failed allocation down to 2,049 (then -3), runs spilled to the work file
// "stacks.tmp" of the current directory; items ordered bytewise.
SortOptions BuildSortOptions(uint32_t item_size);

// The format's side of a build.
class BuildItems {
 public:
  virtual ~BuildItems() = default;
  // Writes the sort item of record recno (the sort's item_size bytes).
  // *included false: the record has no entry (a FOR condition excludes
  // it); the item is then dropped.
  virtual int16_t ReadItem(uint32_t recno, uint8_t* item, bool* included) = 0;
  // The stored key (the writer's key_length bytes) and record number of a
  // sorted item.
  virtual void StoredEntry(const uint8_t* item, uint8_t* key,
                           uint32_t* recno) = 0;
};

// Sorts the items of records 1..record_count (sorter is started here with
// options; the caller closes it) and writes them through writer with ids
// from ids. *root gets the root page, 0 when no record has an entry
// (nothing is written then).
//
// unique: only the first item of each key (its first key_length bytes;
// equal under the options' key comparison when it has one) is written,
// which is the lowest record number's since items sort by key, then
// record. The writer plans the tree from the number of entries, so the
// distinct items pass through a second sort first (work file
// kUniqueWorkFile), whose count is that number.
int16_t SortAndWriteTree(uint32_t record_count, const SortOptions& options,
                         BuildItems* items, ExternalSort* sorter,
                         PageWriter* writer, uint32_t key_length,
                         PageIdSource* ids, uint32_t* root,
                         bool unique = false);

// The work file of the second sort of a unique build, beside "stacks.tmp".
inline constexpr const char* kUniqueWorkFile = "stacku.tmp";

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_TREE_BUILD_H_
