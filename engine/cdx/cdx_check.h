// The structural check of CDX compound files, for tests and `qxdb check`:
// one tag's tree, or the whole file (the directory, every tag it lists,
// and the accounting of blocks).
//
// Accounting: every block of the file is the directory's header or
// expression block, a tag's header or expression block, a node of exactly
// one tree, or on the free list. A block that is two of these is a
// problem. A block that is none of them is lost: this engine loses none,
// but other programs leave the blocks of replaced tags unchained, so lost
// blocks are counted in report->foreign_free_pages rather than reported
// as problems. Problems become lines of the report; the check reads every
// offset defensively, so a damaged file is reported, never followed into a
// loop or outside the file. Both checks run under the shared operation
// lock of a shared file.
#ifndef QX_ENGINE_CDX_CDX_CHECK_H_
#define QX_ENGINE_CDX_CDX_CHECK_H_

#include <cstdint>
#include <functional>

#include "engine/btree/btree_check.h"

namespace qx::engine {

// Checks the tree of an open tag (or, for slot 0, the directory);
// on_entry (optional) sees every entry in key order. A negative status
// when the tag identifier is bad or the file cannot be read; structure
// problems go into the report.
int16_t CheckCdxTag(
    int32_t tag, btree::CheckReport* report,
    const std::function<void(const uint8_t*, uint32_t)>& on_entry = {});

// Checks the directory, every tag it lists and the block accounting.
// report->keys counts the entries of the tags (not of the directory).
int16_t CheckCdx(int16_t handle, btree::CheckReport* report);

}  // namespace qx::engine

#endif  // QX_ENGINE_CDX_CDX_CHECK_H_
