// The sort-then-write core of the index builds (see tree_build.h).
#include "engine/btree/tree_build.h"

#include <vector>

#include "engine/core/last_error.h"

namespace qx::engine::btree {

SortOptions BuildSortOptions(uint32_t item_size) {
  SortOptions options;
  options.item_size = item_size;
  options.work_file = "stacks.tmp";
  options.buffer_bytes = 65000;
  options.buffer_step = 512;
  options.min_buffer_bytes = 2049;
  return options;
}

int16_t SortAndWriteTree(uint32_t record_count, const SortOptions& options,
                         BuildItems* items, ExternalSort* sorter,
                         PageWriter* writer, uint32_t key_length,
                         PageIdSource* ids, uint32_t* root) {
  *root = 0;
  if (int16_t e = sorter->Start(options)) return e;
  for (uint32_t recno = 1; recno <= record_count; ++recno) {
    uint8_t* item = nullptr;
    if (int16_t e = sorter->Append(&item)) return e;
    if (int16_t e = items->ReadItem(recno, item)) return e;
  }
  if (int16_t e = sorter->Finish()) return e;
  if (record_count == 0) return kKbdOk;

  if (int16_t e = writer->Start(record_count, ids)) return e;
  std::vector<uint8_t> key(key_length);
  for (;;) {
    const uint8_t* item = nullptr;
    if (int16_t e = sorter->Next(&item)) return e;
    if (item == nullptr) break;
    uint32_t recno = 0;
    items->StoredEntry(item, key.data(), &recno);
    if (int16_t e = writer->Add(key.data(), recno)) return e;
  }
  return writer->Finish(root, nullptr);
}

}  // namespace qx::engine::btree
