// The structural check of an open index key through the engine's checks,
// by family, under the descriptor's key type (key_ops.h SetKeyType): the
// key's tree (every entry in key order to on_entry), and
// for MDX and CDX files the file's block accounting, of which a CDX file
// reports only what concerns the key's own tag.
#ifndef QX_ACCESS_ADAPTER_INDEX_CHECK_H_
#define QX_ACCESS_ADAPTER_INDEX_CHECK_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "access/adapter/key_descriptor.h"

namespace qx::access {

struct IndexCheckReport {
  std::vector<std::string> problems;  // in the engine's words
  uint64_t keys = 0;                  // entries of the key's tree
};

using IndexEntrySink = std::function<void(const uint8_t* key, uint32_t recno)>;

// Appends the problems found (on_entry may have reported already); a
// negative status only when the file cannot be read.
int32_t CheckIndexKey(const IndexKeyDescriptor& key, IndexCheckReport* report,
                      const IndexEntrySink& on_entry = {});

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_INDEX_CHECK_H_
