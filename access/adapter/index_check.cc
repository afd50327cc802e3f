// The structural check of an index key (see index_check.h).
#include "access/adapter/index_check.h"

#include "access/adapter/index_ops.h"
#include "access/adapter/key_ops.h"
#include "engine/btree/btree_check.h"
#include "engine/cdx/cdx_check.h"
#include "engine/idx/idx_check.h"
#include "engine/mdx/mdx_check.h"
#include "engine/ndx/ndx_check.h"
#include "engine/ntx/ntx_check.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

// A tag handle's low 16 bits are its file's handle.
int16_t FileOfTag(uint32_t tag) { return static_cast<int16_t>(tag & 0xFFFF); }

void Take(const engine::btree::CheckReport& from, IndexCheckReport* report) {
  report->problems.insert(report->problems.end(), from.problems.begin(),
                          from.problems.end());
  if (from.problem_count > from.problems.size())
    report->problems.push_back(
        std::to_string(from.problem_count - from.problems.size()) +
        " more problems");
  report->keys = from.keys;
}

}  // namespace

int32_t CheckIndexKey(const IndexKeyDescriptor& key, IndexCheckReport* report,
                      const IndexEntrySink& on_entry) {
  engine::btree::CheckReport tree;
  const int16_t handle = static_cast<int16_t>(key.index_handle);
  const int32_t tag = static_cast<int32_t>(key.tag_handle);
  // Keys are compared, and short ones padded, as the key type says.
  int32_t status = SetKeyType(key);
  if (status < 0) return status;
  status = kStatusNoIndexEngine;
  kbdseterror(0);
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kNdx:
      status = engine::CheckNdx(handle, &tree, on_entry);
      break;
    case IndexFamily::kIdx:
      status = engine::CheckIdx(handle, &tree, on_entry);
      break;
    case IndexFamily::kNtx:
      status = engine::CheckNtx(handle, &tree, on_entry);
      break;
    case IndexFamily::kMdx: {
      status = engine::CheckMdxTag(tag, &tree, on_entry);
      if (status < 0) return status;
      engine::MdxFileReport file;
      kbdseterror(0);
      status = engine::CheckMdxFile(FileOfTag(key.tag_handle), &file);
      Take(tree, report);
      report->problems.insert(report->problems.end(), file.problems.begin(),
                              file.problems.end());
      return status;
    }
    case IndexFamily::kCdx: {
      status = engine::CheckCdxTag(tag, &tree, on_entry);
      if (status < 0) return status;
      KbdCdxTagInfo info{};
      kbdseterror(0);
      kbdctaginfo(tag, &info);
      engine::btree::CheckReport file;
      kbdseterror(0);
      status = engine::CheckCdx(FileOfTag(key.tag_handle), &file);
      Take(tree, report);
      // The file check covers every tag: the other tags' problems are
      // theirs.
      const std::string own = std::string("tag ") + info.name + ":";
      for (const std::string& problem : file.problems)
        if (problem.compare(0, 4, "tag ") != 0 ||
            problem.compare(0, own.size(), own) == 0)
          report->problems.push_back(problem);
      return status;
    }
    case IndexFamily::kNone:
      return status;
  }
  Take(tree, report);
  return status;
}

}  // namespace qx::access
