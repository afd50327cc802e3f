// The check of an open NTX index (see ntx_check.h).
#include "engine/ntx/ntx_check.h"

#include <cstring>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/btree/check_walker.h"
#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/ntx/ntx_file.h"

namespace qx::engine {
namespace {

class NtxChecker {
 public:
  NtxChecker(const NtxFile& file, uint32_t size, btree::CheckReport* report,
             const std::function<void(const uint8_t*, uint32_t)>& on_entry)
      : file_(file),
        shape_(file.shape),
        size_(size),
        report_(report),
        walk_(report, size / kNtxPageSize + 1, file.header.key_length,
              file.path.capacity(), on_entry) {}

  int16_t Run(uint32_t root, uint32_t free_head) {
    if (int16_t e = Walk(root, 0, true)) return e;
    report_->levels = walk_.levels();
    return WalkFreeList(free_head);
  }

 private:
  void Problem(std::string text) { walk_.Problem(std::move(text)); }
  // The walker's number of a page in the file (InFile).
  static size_t Number(uint32_t page) { return page / kNtxPageSize; }
  static std::string PageName(uint32_t page) {
    return "page " + std::to_string(page);
  }
  bool InFile(uint32_t page) const {
    return page >= kNtxPageSize && page % kNtxPageSize == 0 &&
           static_cast<uint64_t>(page) + kNtxPageSize <= size_;
  }

  int16_t Walk(uint32_t page, int depth, bool root) {
    const std::string where = PageName(page);
    if (!InFile(page)) {
      Problem("R1: " + where + " is outside the file or off a page boundary");
      return kKbdOk;
    }
    if (!walk_.FirstVisit(Number(page))) {
      Problem("R1: " + where + " is reached twice");
      return kKbdOk;
    }
    if (walk_.TooDeep(depth)) {
      Problem("R1: " + where + " lies deeper than any valid tree");
      return kKbdOk;
    }
    std::vector<uint8_t> bytes(kNtxPageSize);
    if (int16_t e = FileReadAt(file_.slot, page, bytes.data(), kNtxPageSize))
      return e;
    NtxNode node(bytes.data(), shape_);
    if (!node.Valid()) {
      Problem("R2: " + where + " has count " + std::to_string(node.count()) +
              " or an offset table beyond the page");
      return kKbdOk;
    }
    ++report_->tree_pages;
    const uint32_t n = node.count();
    if (!root && n < shape_.smallest)
      Problem("R2: " + where + " holds " + std::to_string(n) +
              " keys, fewer than " + std::to_string(shape_.smallest));
    const bool leaf = node.leaf();
    for (uint32_t i = 0; i <= n; ++i) {
      if (leaf && node.child(i) != 0)
        Problem("R1: leaf " + where + " has a child in entry " +
                std::to_string(i));
      if (!leaf && node.child(i) == 0)
        Problem("R1: interior " + where + " has no child in entry " +
                std::to_string(i));
    }
    if (leaf && !walk_.LeafDepthAgrees(depth))
      Problem("R1: leaf " + where + " lies at depth " + std::to_string(depth) +
              ", others at " + std::to_string(walk_.leaf_depth()));
    for (uint32_t i = 0; i <= n; ++i) {
      if (!leaf && node.child(i) != 0) {
        if (int16_t e = Walk(node.child(i), depth + 1, false)) return e;
      }
      if (i < n) Entry(node.key(i), node.recno(i), where);
    }
    return kKbdOk;
  }

  void Entry(const uint8_t* key, uint32_t recno, const std::string& where) {
    const uint32_t length = shape_.key_length;
    if (recno == 0) Problem("R4: " + where + " holds record number 0");
    if (walk_.has_previous()) {
      const uint8_t* previous = walk_.previous_key();
      const uint32_t previous_recno = walk_.previous_recno();
      int c = std::memcmp(previous, key, length);
      if (file_.descending) c = -c;
      // The same pair twice is what a change cut short between its page
      // writes leaves (a record has one entry).
      const bool twice = c == 0 && recno == previous_recno;
      if (c > 0 || (c == 0 && (file_.unique() || twice)))
        Problem(std::string(c > 0            ? "R3 order: "
                            : file_.unique() ? "R3 unique: "
                                             : "R3 twice: ") +
                where + " has " + btree::QuotedKeyText(key, length) + " #" +
                std::to_string(recno) + " after " +
                btree::QuotedKeyText(previous, length) + " #" +
                std::to_string(previous_recno));
    }
    walk_.Take(key, recno);
  }

  int16_t WalkFreeList(uint32_t page) {
    std::unordered_set<uint32_t> chain;
    while (page != 0) {
      const std::string where = "free " + PageName(page);
      // Beyond the head, a link that is no page of the file ends the list
      // (other writers leave freed pages in their node layout).
      if (!chain.empty() && !InFile(page)) return kKbdOk;
      if (!InFile(page)) {
        Problem("R5: " + where + " is outside the file or off a boundary");
        return kKbdOk;
      }
      if (walk_.Visited(Number(page))) {
        Problem("R5: " + where + " is in the tree");
        return kKbdOk;
      }
      if (!chain.insert(page).second) {
        Problem("R5: " + where + " is on the list twice");
        return kKbdOk;
      }
      ++report_->chain_pages;
      uint8_t link[4];
      if (int16_t e = FileReadAt(file_.slot, page + kNtxFreeLinkOffset, link,
                                 sizeof link))
        return e;
      page = GetLe32(link);
    }
    return kKbdOk;
  }

  const NtxFile& file_;
  NtxShape shape_;
  uint32_t size_;
  btree::CheckReport* report_;
  btree::CheckWalker walk_;
};

}  // namespace

int16_t CheckNtx(
    int16_t handle, btree::CheckReport* report,
    const std::function<void(const uint8_t* key, uint32_t recno)>& on_entry) {
  return index::RunCheckCall(
      report, [handle] { return CheckNtx(handle); }, kNtxLockOffset,
      [&](NtxFile& file) -> int16_t {
        uint8_t words[kNtxWordsSize];
        if (int16_t e =
                FileReadAt(file.slot, kNtxWordsOffset, words, sizeof words))
          return e;
        uint32_t size = 0;
        if (int16_t e = FileSize(file.slot, &size)) return e;
        NtxChecker checker(file, size, report, on_entry);
        return checker.Run(
            GetLe32(words + (kNtxRootOffset - kNtxWordsOffset)),
            GetLe32(words + (kNtxFreeHeadOffset - kNtxWordsOffset)));
      });
}

}  // namespace qx::engine
