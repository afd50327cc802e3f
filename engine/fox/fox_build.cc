// The bulk build of a FoxPro tree from sorted entries: one open node per
// level, filled until the next entry does not fit, written at the end of the
// file; every full node passes its greatest entry up a level. Nodes of a
// level are chained both ways: a node's right neighbour is allocated when
// the node is closed, so its link is known before the node is written.
#include <algorithm>
#include <cstring>

#include "engine/btree/file_words.h"
#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fox/fox_format.h"
#include "engine/fox/fox_node.h"
#include "engine/fox/fox_tree.h"

namespace qx::engine::fox {

namespace {

constexpr size_t kMaxBuildLevels = 40;

struct OpenNode {
  FoxNode node;
  uint32_t offset = 0;
  uint32_t bytes = 0;  // compact leaf: bytes taken so far
};

}  // namespace

struct FoxTreeBuilder::Rep {
  uint16_t file_slot = 0xFFFF;
  FoxNodeFormat format;
  FoxLeafFields fields;
  uint32_t next = 0;   // offset the next node takes
  uint32_t reuse = 0;  // taken first when not 0
  bool started = false;
  std::vector<OpenNode> levels;
  uint8_t page[kFoxBlockSize];

  bool compact_leaf(size_t level) const {
    return level == 0 && format.layout == FoxLayout::kCompact;
  }

  int16_t Take(uint32_t* offset) {
    if (reuse != 0) {
      *offset = reuse;
      reuse = 0;
      return kKbdOk;
    }
    if (next > 0xFFFFFFFFu - 2 * kFoxBlockSize) return Fail(kKbdErrWrite);
    *offset = next;
    next += kFoxBlockSize;
    return kKbdOk;
  }

  int16_t Open(size_t level, uint32_t left) {
    OpenNode& open = levels[level];
    open.node.ClearEntries();
    open.node.attributes = level == 0 ? kFoxAttrLeaf : 0;
    open.node.left = left;
    open.node.right = kFoxNoNode;
    open.node.fields = fields;
    open.bytes = 0;
    return Take(&open.offset);
  }

  int16_t Write(const OpenNode& open) {
    if (!EncodeFoxNode(open.node, format, page)) return Fail(kKbdErrCorrupt);
    return FileWriteAt(file_slot, open.offset, page, kFoxBlockSize);
  }

  uint32_t UpRecno(const FoxNode& node, uint32_t i) const {
    return format.layout == FoxLayout::kCompact ? node.recnos[i] : 0;
  }

  int16_t AddAt(size_t level, const uint8_t* key, uint32_t recno,
                uint32_t child) {
    if (level >= kMaxBuildLevels) return Fail(kKbdErrCorrupt);
    if (levels.size() <= level) {
      levels.emplace_back();
      if (int16_t e = Open(level, kFoxNoNode)) return e;
    }
    const uint16_t kl = format.key_length;
    uint32_t bytes = 0;
    bool fits;
    {
      const OpenNode& open = levels[level];
      const uint32_t n = open.node.count();
      if (compact_leaf(level)) {
        bytes = CompactEntryBytes(
            key, n == 0 ? nullptr : open.node.key(n - 1, kl), format, fields);
        fits = open.bytes + bytes <= kFoxLeafSpace;
      } else {
        fits = n < FoxFixedCapacity(format, level == 0);
      }
      fits = fits || n == 0;
    }
    if (!fits) {
      uint32_t successor = 0;
      if (int16_t e = Take(&successor)) return e;
      levels[level].node.right = successor;
      if (int16_t e = Write(levels[level])) return e;
      const FoxNode& full = levels[level].node;
      const uint32_t last = full.count() - 1;
      // Copy before the next level may grow the vector.
      uint8_t up_key[kFoxMaxTreeKeyLength];
      std::memcpy(up_key, full.key(last, kl), kl);
      const uint32_t up_recno = UpRecno(full, last);
      const uint32_t written = levels[level].offset;
      if (int16_t e = AddAt(level + 1, up_key, up_recno, written)) return e;
      OpenNode& open = levels[level];
      open.node.ClearEntries();
      open.node.left = written;
      open.node.right = kFoxNoNode;
      open.offset = successor;
      open.bytes = 0;
      if (compact_leaf(level))
        bytes = CompactEntryBytes(key, nullptr, format, fields);
    }
    OpenNode& open = levels[level];
    open.node.InsertEntry(open.node.count(), key, kl, recno, child);
    open.bytes += bytes;
    return kKbdOk;
  }
};

FoxTreeBuilder::FoxTreeBuilder() : rep_(std::make_unique<Rep>()) {}
FoxTreeBuilder::~FoxTreeBuilder() = default;

int16_t FoxTreeBuilder::Start(uint16_t file_slot, FoxLayout layout,
                              uint16_t key_length, uint8_t pad,
                              uint32_t max_recno) {
  Rep& r = *rep_;
  if (key_length == 0 || key_length > kFoxMaxTreeKeyLength)
    return Fail(kKbdErrKeySize);
  r.file_slot = file_slot;
  r.format = FoxNodeFormat{layout, key_length, pad};
  r.fields = NewLeafFields(key_length);
  if (max_recno > r.fields.recno_mask)
    r.fields = WidenLeafFields(r.fields, max_recno);
  r.levels.clear();
  r.levels.reserve(kMaxBuildLevels);
  // New nodes go at the end of the file as it is (the word at 8 of a
  // compact file is a change counter, not the end).
  uint32_t size = 0;
  if (int16_t e = FileSize(file_slot, &size)) return e;
  r.next = (size + kFoxBlockSize - 1) / kFoxBlockSize * kFoxBlockSize;
  r.reuse = 0;
  r.started = true;
  return kKbdOk;
}

void FoxTreeBuilder::ReuseNode(uint32_t offset) { rep_->reuse = offset; }

int16_t FoxTreeBuilder::Add(const uint8_t* key, uint32_t recno) {
  Rep& r = *rep_;
  if (!r.started) return Fail(kKbdErrCommand);
  if (r.format.layout == FoxLayout::kCompact && recno > r.fields.recno_mask)
    return Fail(kKbdErrRecnoWidth);
  return r.AddAt(0, key, recno, 0);
}

int16_t FoxTreeBuilder::Finish(uint32_t* root) {
  Rep& r = *rep_;
  if (!r.started) return Fail(kKbdErrCommand);
  r.started = false;
  const uint16_t kl = r.format.key_length;
  if (r.levels.empty()) {
    r.levels.emplace_back();
    if (int16_t e = r.Open(0, kFoxNoNode)) return e;
  }
  for (size_t level = 0;; ++level) {
    OpenNode& open = r.levels[level];
    const bool top = level + 1 == r.levels.size();
    if (top && open.node.left == kFoxNoNode) {
      open.node.attributes |= kFoxAttrRoot;
      if (int16_t e = r.Write(open)) return e;
      *root = open.offset;
      break;
    }
    if (int16_t e = r.Write(open)) return e;
    uint8_t up_key[kFoxMaxTreeKeyLength];
    const uint32_t last = open.node.count() - 1;
    std::memcpy(up_key, open.node.key(last, kl), kl);
    const uint32_t up_recno = r.UpRecno(open.node, last);
    if (int16_t e = r.AddAt(level + 1, up_key, up_recno, open.offset)) return e;
  }
  // A standard file keeps its end in the header.
  if (r.format.layout == FoxLayout::kCompact) return kKbdOk;
  return btree::WriteLe32At(r.file_slot, kFoxHeaderEndOffset, r.next);
}

}  // namespace qx::engine::fox
