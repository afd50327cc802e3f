// The path stack of a descent (see path_stack.h).
#include "engine/btree/path_stack.h"

#include "engine/core/last_error.h"

namespace qx::engine::btree {

int PathCapacity(uint32_t min_fill) {
  // Levels d such that (min_fill + 1)^d reaches the largest key count.
  const uint64_t kMaxKeys = 0x7FFFFFFF;
  uint64_t per_page = static_cast<uint64_t>(min_fill) + 1;
  if (per_page < 2) per_page = 2;
  int levels = 1;
  for (uint64_t reach = per_page; reach < kMaxKeys; reach *= per_page) ++levels;
  return levels;
}

int16_t PathStack::Push(uint32_t page, int32_t index) {
  if (depth_ >= capacity()) return Fail(kKbdErrCorrupt);  // S1
  for (int level = 0; level < depth_; ++level)            // S3
    if (entries_[static_cast<size_t>(level)].page == page)
      return Fail(kKbdErrCorrupt);
  entries_[static_cast<size_t>(depth_)] = PathEntry{page, index};
  ++depth_;
  return kKbdOk;
}

}  // namespace qx::engine::btree
