// The check of an open IDX index, for tests and `qxdb check`: the header
// against the file, the tree (fox_check.h) and the free-node list.
//
// Header and file problems are reported as:
//  H1. Standard layout: the file holds as many bytes as the end-of-file
//      word says.
//  H2. The root lies inside the file, on a block boundary, after the
//      header (and the compact layout's expression block).
//  F1. Every block of the free list lies inside the file, outside the
//      tree, and on the list once (the walk stops at the first bad link).
//  F2. Every node block of the file is in the tree or on the free list.
// Keys are compared as plain bytes; equal keys in record order unless the
// index is unique.
//
// The check is a public operation of its own: it obeys and sets the last
// error and reads the file directly, under the shared operation lock of a
// shared file. It returns a negative status only when the file cannot be
// read; every structural problem goes into the report.
#ifndef QX_ENGINE_IDX_IDX_CHECK_H_
#define QX_ENGINE_IDX_IDX_CHECK_H_

#include <cstdint>
#include <functional>

#include "engine/btree/btree_check.h"

namespace qx::engine {

// on_entry, when given, sees every (stored key, record number) in key
// order.
int16_t CheckIdx(int16_t handle, btree::CheckReport* report,
                 const std::function<void(const uint8_t* key, uint32_t recno)>&
                     on_entry = {});

}  // namespace qx::engine

#endif  // QX_ENGINE_IDX_IDX_CHECK_H_
