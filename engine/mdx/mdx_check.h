// The checks of MDX files, for tests and `qxdb check`: one open tag's tree,
// and the file as a whole (tag table, free chain, every block accounted
// for).
//
// CheckMdxTag walks an open tag's tree (the invariants T1..T7 of btree.h
// and btree_check.h), reports a page of the tree met on the file's free
// chain (F1), and checks X1 and X4 below. Equal keys are expected in
// record order unless the tag is unique. Character keys are compared
// under the current collation switch.
//
// CheckMdxFile reads the tag table and every tag header itself (tags need
// not be open) and reports:
//  X1. The file holds sector_count * 512 bytes.
//  X2. Entries 1..N: the header block inside the file; a name of 1..10
//      characters, no other tag's name without regard to case; mark 2;
//      the key type of the tag header; threads forward n + 1 (0 for the
//      last) and backward n - 1.
//  X3. Each tag header passes the checks of a tag open; each tree passes
//      the checks of CheckMdxTag.
//  X4. The free chain: blocks inside the file, none twice, free_count of
//      them.
//  X5. Every block of the file is exactly one of: a tag header, a page of
//      one tag's tree, a block of the free chain (M5 of mdx_file.h).
//
// Both are public operations of their own: they obey and set the last
// error, re-read the header words (the file check also the tag table),
// and read blocks directly (no cache), under the shared operation lock of
// a shared file.
// They return a negative status only when the file cannot be read; every
// structural problem goes into the report.
#ifndef QX_ENGINE_MDX_MDX_CHECK_H_
#define QX_ENGINE_MDX_MDX_CHECK_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/btree/btree_check.h"

namespace qx::engine {

// on_entry, when given, sees every (stored key, record number) in key
// order.
int16_t CheckMdxTag(int32_t tag, btree::CheckReport* report,
                    const std::function<void(const uint8_t* key,
                                             uint32_t recno)>& on_entry = {});

struct MdxFileReport {
  uint32_t tags = 0;
  uint64_t keys = 0;                  // over every tag
  uint32_t tree_blocks = 0;           // pages of every tree
  uint32_t free_blocks = 0;           // on the free chain
  uint32_t problem_count = 0;         // may exceed problems.size()
  std::vector<std::string> problems;  // the first kMaxReportedProblems
};

int16_t CheckMdxFile(int16_t handle, MdxFileReport* report);

}  // namespace qx::engine

#endif  // QX_ENGINE_MDX_MDX_CHECK_H_
