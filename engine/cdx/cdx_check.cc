// The check of an open CDX file (see cdx_check.h): the tree-level check
// of engine/idx for the directory and each tag, plus the accounting of
// every block of the file.
//
// Pad of a tag. Compact leaves drop trailing pad bytes, blanks for text
// keys and zeros for numbers and dates, and the file does not record which
// a tag uses. A tag open in the handle uses the key type set on it; any
// other tag is read as text, and a tag that reads out of order as text is
// read again with zeros (the verdict with fewer problems stands).
#include "engine/cdx/cdx_check.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/cdx/cdx_file.h"
#include "engine/core/coding.h"
#include "engine/fox/fox_check.h"

namespace qx::engine {
namespace {

constexpr uint32_t kBlock = fox::kFoxBlockSize;

void Problem(btree::CheckReport* report, const std::string& text) {
  btree::AddProblem(report, text);
}

// Checks the tree of header; nodes (optional) gets every node of the
// tree.
int16_t CheckTreeAt(
    uint16_t slot, uint32_t size, const fox::FoxHeader& header, uint8_t pad,
    bool unique, const std::function<void(const uint8_t*, uint32_t)>& on_entry,
    btree::CheckReport* report, std::vector<uint32_t>* nodes) {
  fox::FoxCheckInput input;
  input.file_slot = slot;
  input.layout = header.layout();
  input.key_length = header.key_length;
  input.pad = pad;
  input.unique = unique;
  input.root = header.root;
  input.file_size = size;
  input.on_entry = on_entry;
  if (nodes != nullptr) {
    nodes->clear();
    input.on_node = [nodes](uint32_t node) { nodes->push_back(node); };
  }
  return fox::CheckFoxTree(input, report);
}

// A tag's check with the pad rule above.
int16_t CheckTagTree(
    const CdxFile& file, uint32_t size, const fox::FoxHeader& header,
    const CdxTag* open, btree::CheckReport* report,
    std::vector<uint32_t>* nodes,
    const std::function<void(const uint8_t*, uint32_t)>& on_entry) {
  const bool unique = (header.options & 0x05) != 0;
  const uint8_t pad = open != nullptr ? open->pad() : ' ';
  if (int16_t e = CheckTreeAt(file.slot, size, header, pad, unique, on_entry,
                              report, nodes))
    return e;
  if (open != nullptr || report->problem_count == 0) return kKbdOk;
  btree::CheckReport zeros;
  std::vector<uint32_t> zero_nodes;
  if (int16_t e = CheckTreeAt(file.slot, size, header, 0, unique, on_entry,
                              &zeros, &zero_nodes))
    return e;
  if (zeros.problem_count < report->problem_count) {
    *report = std::move(zeros);
    if (nodes != nullptr) *nodes = std::move(zero_nodes);
  }
  return kKbdOk;
}

// The open tag of that name in slots 1..19, or null.
const CdxTag* OpenTag(const CdxFile& file, std::string_view name) {
  for (uint32_t n = 1; n < kCdxSlotCount; ++n)
    if (file.slots[n] != nullptr && SameTagName(file.slots[n]->name, name))
      return file.slots[n].get();
  return nullptr;
}

// Reads the current header of a loaded tree (root words change).
int16_t CurrentHeader(const CdxTag& tag, fox::FoxHeader* header) {
  return fox::ReadFoxHeader(tag.file->slot, tag.header_offset, header);
}

class BlockAccount {
 public:
  BlockAccount(uint32_t size, btree::CheckReport* report)
      : used_(size / kBlock, false), report_(report) {}
  // Claims a block for what; false (with a problem) when it lies outside
  // the file or is claimed already.
  bool Claim(uint32_t offset, const std::string& what) {
    if (offset % kBlock != 0 || offset / kBlock >= used_.size()) {
      Problem(report_,
              what + ": block " + std::to_string(offset) + " outside the file");
      return false;
    }
    if (used_[offset / kBlock]) {
      Problem(report_, what + ": block " + std::to_string(offset) +
                           " belongs to something else too");
      return false;
    }
    used_[offset / kBlock] = true;
    return true;
  }
  // Blocks in no structure: counted, not problems (see cdx_check.h).
  uint32_t CountLost() const {
    return static_cast<uint32_t>(std::count(used_.begin(), used_.end(), false));
  }

 private:
  std::vector<bool> used_;
  btree::CheckReport* report_;
};

void Merge(const std::string& prefix, const btree::CheckReport& part,
           btree::CheckReport* report) {
  for (const std::string& p : part.problems) Problem(report, prefix + p);
  const uint32_t unlisted =
      part.problem_count - static_cast<uint32_t>(part.problems.size());
  report->problem_count += unlisted;
  report->tree_pages += part.tree_pages;
  report->levels = std::max(report->levels, part.levels);
}

int16_t CheckWholeFile(CdxFile& file, btree::CheckReport* report) {
  uint32_t size = 0;
  if (int16_t e = FileSize(file.slot, &size)) return e;
  if (size % kBlock != 0)
    Problem(report,
            "file size " + std::to_string(size) + " is not a multiple of 512");
  uint8_t words[8];
  if (int16_t e = FileReadAt(file.slot, 0, words, sizeof words)) return e;
  // The word at 8 is not checked: other programs keep a change counter
  // there.
  const uint32_t free_head = GetLe32(words + 4);
  BlockAccount account(size, report);
  account.Claim(0, "directory header");
  account.Claim(kBlock, "directory expression block");

  // The directory.
  fox::FoxHeader dir_header;
  if (int16_t e = CurrentHeader(file.directory(), &dir_header)) return e;
  std::vector<CdxDirectoryEntry> entries;
  auto collect = [&entries, &file](const uint8_t* key, uint32_t recno) {
    size_t n = file.directory().key_length();
    while (n > 0 && (key[n - 1] == ' ' || key[n - 1] == 0)) --n;
    entries.push_back(
        {std::string(reinterpret_cast<const char*>(key), n), recno});
  };
  btree::CheckReport part;
  std::vector<uint32_t> nodes;
  if (int16_t e = CheckTreeAt(file.slot, size, dir_header, ' ', true, collect,
                              &part, &nodes))
    return e;
  Merge("directory: ", part, report);
  for (uint32_t node : nodes) account.Claim(node, "directory node");

  // Every tag it lists.
  for (const CdxDirectoryEntry& entry : entries) {
    const std::string prefix = "tag " + entry.name + ": ";
    const uint32_t offset = entry.header_offset;
    if (offset % kBlock != 0 ||
        static_cast<uint64_t>(offset) + 2 * kBlock > size) {
      Problem(report, prefix + "header offset " + std::to_string(offset) +
                          " outside the file");
      continue;
    }
    const bool header_ok =
        account.Claim(offset, prefix + "header") &&
        account.Claim(offset + kBlock, prefix + "expression block");
    if (!header_ok) continue;
    fox::FoxHeader header;
    if (int16_t e = fox::ReadFoxHeader(file.slot, offset, &header)) return e;
    part = btree::CheckReport{};
    if (int16_t e = CheckTagTree(file, size, header, OpenTag(file, entry.name),
                                 &part, &nodes, {}))
      return e;
    Merge(prefix, part, report);
    report->keys += part.keys;
    for (uint32_t node : nodes) account.Claim(node, prefix + "node");
  }

  // The free list: 0 and 0xFFFFFFFF both end it.
  uint32_t block = free_head;
  for (uint32_t steps = 0; block != 0 && block != fox::kFoxNoNode; ++steps) {
    if (steps > size / kBlock || !account.Claim(block, "free list")) break;
    ++report->chain_pages;
    uint8_t link[4];
    if (int16_t e = FileReadAt(file.slot, block, link, sizeof link)) return e;
    block = GetLe32(link);
  }
  report->foreign_free_pages = account.CountLost();
  return kKbdOk;
}

}  // namespace

int16_t CheckCdxTag(
    int32_t tag, btree::CheckReport* report,
    const std::function<void(const uint8_t*, uint32_t)>& on_entry) {
  return RunOperation([&]() -> int16_t {
    if (report == nullptr) return Fail(kKbdErrNullPointer);
    *report = btree::CheckReport();
    CdxTag* loaded = CheckCdxTagId(tag, true);
    if (loaded == nullptr) return LastError();
    OperationScope scope;  // a read: no change of another process inside
    if (int16_t e = loaded->file->EnterLock(&scope, LockKind::kShared))
      return e;
    uint32_t size = 0;
    if (int16_t e = FileSize(loaded->file->slot, &size)) return e;
    fox::FoxHeader header;
    if (int16_t e = CurrentHeader(*loaded, &header)) return e;
    if (loaded->slot == 0)
      return CheckTreeAt(loaded->file->slot, size, header, ' ', true, on_entry,
                         report, nullptr);
    return CheckTagTree(*loaded->file, size, header, loaded, report, nullptr,
                        on_entry);
  });
}

int16_t CheckCdx(int16_t handle, btree::CheckReport* report) {
  return RunOperation([&]() -> int16_t {
    if (report == nullptr) return Fail(kKbdErrNullPointer);
    *report = btree::CheckReport();
    CdxFile* file = CheckCdxHandle(handle);
    if (file == nullptr) return kKbdErrHandle;
    OperationScope scope;  // a read: no change of another process inside
    if (int16_t e = file->EnterLock(&scope, LockKind::kShared)) return e;
    return CheckWholeFile(*file, report);
  });
}

}  // namespace qx::engine
