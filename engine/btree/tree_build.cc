// The sort-then-write core of the index builds (see tree_build.h).
#include "engine/btree/tree_build.h"

#include <cstring>
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

namespace {

// The first item of each key of the sorted source into distinct, which is
// then finished (items arrive in order, so its runs are sorted already).
int16_t FirstOfEachKey(const SortOptions& options, uint32_t key_length,
                       ExternalSort* source, ExternalSort* distinct) {
  SortOptions distinct_options = options;
  distinct_options.work_file = kUniqueWorkFile;
  if (int16_t e = distinct->Start(distinct_options)) return e;
  std::vector<uint8_t> previous(key_length);
  bool any = false;
  for (;;) {
    const uint8_t* item = nullptr;
    if (int16_t e = source->Next(&item)) return e;
    if (item == nullptr) break;
    const bool same =
        any &&
        (options.order.compare_key != nullptr
             ? options.order.compare_key(previous.data(), item, key_length) == 0
             : std::memcmp(previous.data(), item, key_length) == 0);
    if (same) continue;
    std::memcpy(previous.data(), item, key_length);
    any = true;
    uint8_t* copy = nullptr;
    if (int16_t e = distinct->Append(&copy)) return e;
    std::memcpy(copy, item, options.item_size);
  }
  return distinct->Finish();
}

}  // namespace

int16_t SortAndWriteTree(uint32_t record_count, const SortOptions& options,
                         BuildItems* items, ExternalSort* sorter,
                         PageWriter* writer, uint32_t key_length,
                         PageIdSource* ids, uint32_t* root, bool unique) {
  *root = 0;
  if (int16_t e = sorter->Start(options)) return e;
  for (uint32_t recno = 1; recno <= record_count; ++recno) {
    uint8_t* item = nullptr;
    if (int16_t e = sorter->Append(&item)) return e;
    bool included = true;
    if (int16_t e = items->ReadItem(recno, item, &included)) return e;
    if (!included) sorter->DropLast();
  }
  if (int16_t e = sorter->Finish()) return e;

  ExternalSort distinct;
  ExternalSort* source = sorter;
  if (unique) {
    if (int16_t e = FirstOfEachKey(options, key_length, sorter, &distinct))
      return e;
    source = &distinct;
  }
  if (source->item_count() == 0) return kKbdOk;
  if (int16_t e = writer->Start(source->item_count(), ids)) return e;
  std::vector<uint8_t> key(key_length);
  for (;;) {
    const uint8_t* item = nullptr;
    if (int16_t e = source->Next(&item)) return e;
    if (item == nullptr) break;
    uint32_t recno = 0;
    items->StoredEntry(item, key.data(), &recno);
    if (int16_t e = writer->Add(key.data(), recno)) return e;
  }
  return writer->Finish(root, nullptr);
}

}  // namespace qx::engine::btree
