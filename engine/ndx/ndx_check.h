// The check of an open NDX index, for tests and `qxdb check`: the header
// against the file, the tree (the invariants of btree.h and btree_check.h)
// and the chain of pages this handle freed.
//
// Header problems are reported as:
//  H1. The file holds next_free * 512 bytes.
//  H2. The root lies in 1 .. next_free - 1.
// Pages beyond the end of the file are not walked. Equal keys are expected
// in record order unless the index is unique (its inserts put a new
// duplicate before the equal keys). Character keys are compared under the
// current collation switch: an index built under the other setting
// reports its order as broken.
//
// The check is a public operation of its own: it obeys and sets the last
// error, re-reads the header words, and reads pages directly (no cache),
// under the shared operation lock of a shared file.
// It returns a negative status only when the file cannot be read; every
// structural problem goes into the report.
#ifndef QX_ENGINE_NDX_NDX_CHECK_H_
#define QX_ENGINE_NDX_NDX_CHECK_H_

#include <cstdint>
#include <functional>

#include "engine/btree/btree_check.h"

namespace qx::engine {

// on_entry, when given, sees every (stored key, record number) in key
// order: the data-file comparison of `qxdb check` rests on it.
int16_t CheckNdx(int16_t handle, btree::CheckReport* report,
                 const std::function<void(const uint8_t* key, uint32_t recno)>&
                     on_entry = {});

}  // namespace qx::engine

#endif  // QX_ENGINE_NDX_NDX_CHECK_H_
