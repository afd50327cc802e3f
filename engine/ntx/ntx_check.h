// The check of an open NTX index, for tests and `qxdb check`: the tree
// (invariants R1..R5 of ntx_tree.h) and the free list.
//
// Problems are reported as text lines that start with the invariant:
//  R1  a page outside the file or not on a page boundary, a page reached
//      twice, leaves at different depths, an interior child 0, a leaf
//      child not 0, a path deeper than any valid tree;
//  R2  a count above largest, a page below the root under smallest, or a
//      table entry outside the page (the page is not followed);
//  R3  (as "R3 order:") two entries out of the file's key order (bytes,
//      inverted in a descending file), equal keys in any record order;
//      (as "R3 unique:") two entries of one key in a unique index; (as
//      "R3 twice:") the same key and record number twice in a row. Keys
//      are compared as plain bytes: an index written under a collation
//      reports its order;
//  R4  a record number 0;
//  R5  a free list head outside the file, a free page in the tree or on
//      the list twice (a later link that is no page of the file ends the
//      list, as allocation takes it).
// Every page is read once, straight from the file (no cache); nothing
// read is trusted before it is checked. The check is a public operation
// of its own: it obeys and sets the last error and re-reads the header
// words, under the shared operation lock of a shared file. It returns a
// negative status only when the file cannot be read.
#ifndef QX_ENGINE_NTX_NTX_CHECK_H_
#define QX_ENGINE_NTX_NTX_CHECK_H_

#include <cstdint>
#include <functional>

#include "engine/btree/btree_check.h"

namespace qx::engine {

// on_entry, when given, sees every (stored key, record number) in key
// order.
int16_t CheckNtx(int16_t handle, btree::CheckReport* report,
                 const std::function<void(const uint8_t* key, uint32_t recno)>&
                     on_entry = {});

}  // namespace qx::engine

#endif  // QX_ENGINE_NTX_NTX_CHECK_H_
