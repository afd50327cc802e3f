// The structural check of fixed-entry B+-trees (see btree_check.h).
#include "engine/btree/btree_check.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "engine/btree/check_walker.h"
#include "engine/core/coding.h"
#include "engine/core/last_error.h"

namespace qx::engine::btree {
namespace {

// Deeper than any tree of 2^31 keys at two keys per page: a deeper walk
// is a loop the visited map did not catch.
constexpr int kMaxCheckDepth = 64;

std::string Hex(const uint8_t* key, uint32_t length) {
  std::string text;
  char byte[4];
  for (uint32_t i = 0; i < length && i < 24; ++i) {
    std::snprintf(byte, sizeof byte, "%02X", key[i]);
    text += byte;
  }
  if (length > 24) text += "...";
  return text;
}

class Walker {
 public:
  Walker(const CheckInput& input, CheckReport* report)
      : input_(input),
        layout_(*input.layout),
        report_(report),
        walk_(report, input.end_page, layout_.key_length, kMaxCheckDepth,
              input.on_entry),
        pages_(kMaxCheckDepth, std::vector<uint8_t>(layout_.page_size)) {}

  int16_t Run() {
    std::vector<uint8_t> max_key(layout_.key_length);
    bool has_keys = false;
    if (int16_t e = Visit(input_.root, 0, max_key.data(), &has_keys)) return e;
    report_->levels = walk_.levels();
    if (int16_t e = CheckChain()) return e;
    if (input_.account_pages) return AccountPages();
    return kKbdOk;
  }

 private:
  void Problem(std::string text) { walk_.Problem(std::move(text)); }
  std::string KeyText(const uint8_t* key) const {
    return input_.key_text ? input_.key_text(key)
                           : Hex(key, layout_.key_length);
  }
  bool InRange(uint32_t page) const {
    return page >= input_.first_page && page < input_.end_page;
  }

  // Walks the subtree of page at depth; *max_key gets its greatest key.
  int16_t Visit(uint32_t page, int depth, uint8_t* max_key, bool* has_keys) {
    *has_keys = false;
    const std::string where = "page " + std::to_string(page);
    if (!InRange(page)) {
      Problem("T1: " + where + " is outside the file");
      return kKbdOk;
    }
    if (!walk_.FirstVisit(page)) {
      Problem("T1: " + where + " is reached twice");
      return kKbdOk;
    }
    if (input_.on_page) input_.on_page(page);
    if (walk_.TooDeep(depth)) {
      Problem("T1: " + where + " lies deeper than any valid tree");
      return kKbdOk;
    }
    ++report_->tree_pages;
    uint8_t* p = pages_[static_cast<size_t>(depth)].data();
    if (int16_t e = input_.read_page(page, p)) return e;
    if (input_.is_free && input_.is_free(p)) {
      Problem("F1: " + where + " in the tree is marked free");
      return kKbdOk;
    }
    const uint32_t count = layout_.Count(p);
    if (count > layout_.max_keys) {
      Problem("T2: " + where + " holds " + std::to_string(count) +
              " keys, more than " + std::to_string(layout_.max_keys));
      return kKbdOk;
    }
    if (layout_.IsLeaf(p))
      return VisitLeaf(p, page, count, depth, max_key, has_keys);
    for (uint32_t slot = 0; slot <= count; ++slot) {
      const uint32_t child = layout_.Child(p, slot);
      if (child == 0) {
        Problem("T1: " + where + " slot " + std::to_string(slot) +
                " has no child");
        continue;
      }
      std::vector<uint8_t> child_max(layout_.key_length);
      bool child_keys = false;
      if (int16_t e = Visit(child, depth + 1, child_max.data(), &child_keys))
        return e;
      if (child_keys) {
        std::memcpy(max_key, child_max.data(), layout_.key_length);
        *has_keys = true;
      }
      if (slot < count) {
        const uint8_t* separator = layout_.Key(p, slot);
        if (child_keys && input_.compare(separator, child_max.data()) != 0)
          Problem("T4: " + where + " key " + std::to_string(slot) + " " +
                  KeyText(separator) + " is not the greatest key " +
                  KeyText(child_max.data()) + " of child " +
                  std::to_string(child));
      }
    }
    return kKbdOk;
  }

  int16_t VisitLeaf(const uint8_t* p, uint32_t page, uint32_t count, int depth,
                    uint8_t* max_key, bool* has_keys) {
    const std::string where = "page " + std::to_string(page);
    if (!walk_.LeafDepthAgrees(depth)) {
      Problem("T1: leaf " + where + " at depth " + std::to_string(depth) +
              ", other leaves at " + std::to_string(walk_.leaf_depth()));
    }
    if (count == 0 && depth > 0) Problem("T5: leaf " + where + " is empty");
    if (layout_.Child(p, count) != 0)
      Problem("T6: leaf " + where + " has a trailing pointer");
    if (!layout_.SharedPointer()) {
      for (uint32_t slot = 0; slot < count; ++slot)
        if (layout_.Child(p, slot) != 0)
          Problem("T6: leaf " + where + " slot " + std::to_string(slot) +
                  " has a child pointer");
    }
    for (uint32_t slot = 0; slot < count; ++slot) {
      const uint8_t* key = layout_.Key(p, slot);
      const uint32_t recno = layout_.Recno(p, slot);
      if (recno == 0)
        Problem("T7: " + where + " slot " + std::to_string(slot) +
                " has record number 0");
      if (walk_.has_previous()) {
        const uint8_t* previous = walk_.previous_key();
        const uint32_t previous_recno = walk_.previous_recno();
        int order = input_.compare(previous, key);
        if (order > 0) {
          Problem("T3: " + where + " slot " + std::to_string(slot) + " key " +
                  KeyText(key) + " sorts before the key before it " +
                  KeyText(previous));
        } else if (order == 0 && input_.recno_order &&
                   previous_recno >= recno &&
                   std::memcmp(previous, key, layout_.key_length) == 0) {
          Problem("T3: " + where + " slot " + std::to_string(slot) +
                  " record " + std::to_string(recno) + " follows record " +
                  std::to_string(previous_recno) + " under an equal key");
        }
      }
      walk_.Take(key, recno);
    }
    if (count > 0) {
      std::memcpy(max_key, layout_.Key(p, count - 1), layout_.key_length);
      *has_keys = true;
    }
    return kKbdOk;
  }

  int16_t CheckChain() {
    std::vector<bool> on_chain(input_.end_page, false);
    for (uint32_t page : input_.free_chain) {
      const std::string where = "free page " + std::to_string(page);
      if (!InRange(page)) {
        Problem("F1: " + where + " is outside the file");
        continue;
      }
      if (on_chain[page]) {
        Problem("F1: " + where + " is on the free chain twice");
        continue;
      }
      on_chain[page] = true;
      ++report_->chain_pages;
      if (!walk_.FirstVisit(page)) {
        Problem("F1: " + where + " is also in the tree");
        continue;
      }
      if (int16_t e = input_.read_page(page, pages_[0].data())) return e;
      if (input_.is_free && !input_.is_free(pages_[0].data()))
        Problem("F1: " + where + " does not carry the free mark");
    }
    return kKbdOk;
  }

  int16_t AccountPages() {
    const uint32_t step = input_.page_step == 0 ? 1 : input_.page_step;
    for (uint32_t page = input_.first_page; page < input_.end_page;
         page += step) {
      if (walk_.Visited(page)) continue;
      if (int16_t e = input_.read_page(page, pages_[0].data())) return e;
      if (input_.is_free && input_.is_free(pages_[0].data()))
        ++report_->foreign_free_pages;
      else
        Problem("F2: page " + std::to_string(page) +
                " is neither in the tree nor free");
    }
    return kKbdOk;
  }

  const CheckInput& input_;
  const EntryLayout& layout_;
  CheckReport* report_;
  CheckWalker walk_;
  std::vector<std::vector<uint8_t>> pages_;  // one buffer per depth
};

}  // namespace

std::string QuotedKeyText(const uint8_t* key, uint32_t length) {
  std::string text = "\"";
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t c = key[i];
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    }
  }
  return text + "\"";
}

std::string LeDoubleKeyText(const uint8_t* key) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g",
                std::bit_cast<double>(GetLe64(key)));
  return text;
}

int16_t CheckTree(const CheckInput& input, CheckReport* report) {
  *report = CheckReport();
  if (input.layout == nullptr || !input.layout->Valid() || !input.read_page ||
      !input.compare)
    return Fail(kKbdErrCommand);
  Walker walker(input, report);
  return walker.Run();
}

}  // namespace qx::engine::btree
