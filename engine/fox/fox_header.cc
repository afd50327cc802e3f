// Tree headers of the FoxPro index files (reading one, writing an empty
// tree) and the file-wide node allocation through the header at offset 0.
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

// Text of at most limit bytes at p, up to its first NUL.
std::string TextAt(const uint8_t* p, uint32_t limit) {
  uint32_t n = 0;
  while (n < limit && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

bool FreeListEmpty(uint32_t head) { return head == 0 || head == kFoxNoNode; }

}  // namespace

int16_t ReadFoxHeader(uint16_t file_slot, uint32_t offset, FoxHeader* header) {
  if (header == nullptr) return Fail(kKbdErrNullPointer);
  uint8_t block[kFoxBlockSize];
  if (int16_t e = FileReadAt(file_slot, offset, block, kFoxBlockSize)) return e;
  header->root = GetLe32(block + kFoxHeaderRootOffset);
  header->free_list = GetLe32(block + kFoxHeaderFreeListOffset);
  header->end_of_file = GetLe32(block + kFoxHeaderEndOffset);
  header->key_length = GetLe16(block + kFoxHeaderKeyLengthOffset);
  header->options = block[kFoxHeaderOptionsOffset];
  header->signature = block[kFoxHeaderSignatureOffset];
  header->expression.clear();
  header->for_expression.clear();
  header->key_order = 0;
  if (header->layout() == FoxLayout::kStandard) {
    header->expression =
        TextAt(block + kFoxHeaderExpressionOffset, kFoxHeaderExpressionSize);
    if (header->options & kFoxForClause)
      header->for_expression =
          TextAt(block + kFoxHeaderForOffset, kFoxHeaderForSize);
    return kKbdOk;
  }
  header->key_order = GetLe16(block + kFoxHeaderKeyOrderOffset);
  const uint32_t key_length = GetLe16(block + kFoxHeaderKeyExprLengthOffset);
  const uint32_t for_length = GetLe16(block + kFoxHeaderForLengthOffset);
  uint8_t pool[kFoxPoolSize];
  if (int16_t e = FileReadAt(file_slot, offset + kFoxHeaderPoolOffset, pool,
                             kFoxPoolSize))
    return e;
  // The pool holds the key expression, then the FOR expression, each
  // NUL-terminated; the length words count the NUL.
  const uint32_t key_take = std::min(key_length, kFoxPoolSize);
  header->expression = TextAt(pool, key_take);
  if (for_length > 1 && key_length < kFoxPoolSize)
    header->for_expression = TextAt(
        pool + key_length, std::min(for_length, kFoxPoolSize - key_length));
  return kKbdOk;
}

int16_t StoredForExpression(const char* text, std::string* stored) {
  stored->clear();
  if (text == nullptr) return kKbdOk;
  std::string_view view(text);
  const size_t first = view.find_first_not_of(' ');
  if (first == std::string_view::npos) return kKbdOk;
  view = view.substr(first, view.find_last_not_of(' ') - first + 1);
  if (view.size() > kFoxMaxExpression) return Fail(kKbdErrKeyExpression);
  stored->assign(view);
  return kKbdOk;
}

int16_t WriteEmptyTree(uint16_t file_slot, uint32_t header_offset,
                       uint32_t root_offset, const FoxNewTree& tree) {
  if (tree.key_length == 0 || tree.key_length > kFoxMaxKeyLength)
    return Fail(kKbdErrKeySize);
  const bool compact = tree.layout == FoxLayout::kCompact;
  if (tree.descending && !compact) return Fail(kKbdErrCommand);
  const size_t pool_need =
      tree.expression.size() + 1 + tree.for_expression.size() + 1;
  if (tree.expression.size() > kFoxMaxExpression ||
      tree.for_expression.size() > kFoxMaxExpression ||
      (compact && pool_need > kFoxPoolSize))
    return Fail(kKbdErrKeyExpression);
  const bool has_for = !tree.for_expression.empty();

  uint8_t block[2 * kFoxBlockSize] = {};
  uint8_t* head = block;
  PutLe32(head + kFoxHeaderRootOffset, root_offset);
  PutLe32(head + kFoxHeaderFreeListOffset, compact ? 0 : kFoxNoNode);
  // Standard: the end of file; compact: the change counter, 0.
  if (!compact)
    PutLe32(head + kFoxHeaderEndOffset, std::max(header_offset + kFoxBlockSize,
                                                 root_offset + kFoxBlockSize));
  PutLe16(head + kFoxHeaderKeyLengthOffset, tree.key_length);
  head[kFoxHeaderOptionsOffset] =
      static_cast<uint8_t>(tree.options | (compact ? kFoxCompact : 0) |
                           (has_for ? kFoxForClause : 0));
  head[kFoxHeaderSignatureOffset] = compact ? kFoxCompactSignature : 0;
  if (!compact) {
    if (!tree.expression.empty())
      std::memcpy(head + kFoxHeaderExpressionOffset, tree.expression.data(),
                  tree.expression.size());
    if (has_for)
      std::memcpy(head + kFoxHeaderForOffset, tree.for_expression.data(),
                  tree.for_expression.size());
  } else {
    const uint16_t key_words =
        static_cast<uint16_t>(tree.expression.size() + 1);
    PutLe16(head + kFoxHeaderKeyOrderOffset,
            tree.descending ? kFoxKeyOrderDescending : 0);
    PutLe16(head + kFoxHeaderPoolLengthOffset, key_words);
    PutLe16(head + kFoxHeaderForLengthOffset,
            static_cast<uint16_t>(tree.for_expression.size() + 1));
    PutLe16(head + kFoxHeaderKeyExprLengthOffset, key_words);
    uint8_t* pool = block + kFoxBlockSize;
    if (!tree.expression.empty())
      std::memcpy(pool, tree.expression.data(), tree.expression.size());
    if (has_for)
      std::memcpy(pool + key_words, tree.for_expression.data(),
                  tree.for_expression.size());
  }
  if (int16_t e = FileWriteAt(file_slot, header_offset, block,
                              (compact ? 2 : 1) * kFoxBlockSize))
    return e;

  FoxNode root;
  root.attributes = kFoxAttrRoot | kFoxAttrLeaf;
  root.fields = NewLeafFields(tree.key_length);
  FoxNodeFormat format{tree.layout, tree.key_length, ' '};
  uint8_t page[kFoxBlockSize];
  if (!EncodeFoxNode(root, format, page)) return Fail(kKbdErrCorrupt);
  return FileWriteAt(file_slot, root_offset, page, kFoxBlockSize);
}

int16_t AllocateFoxBlock(uint16_t file_slot, uint32_t* offset) {
  if (offset == nullptr) return Fail(kKbdErrNullPointer);
  uint8_t words[kFoxHeaderOptionsOffset + 1];
  if (int16_t e = FileReadAt(file_slot, 0, words, sizeof words)) return e;
  uint32_t size = 0;
  if (int16_t e = FileSize(file_slot, &size)) return e;
  const uint32_t head = GetLe32(words + kFoxHeaderFreeListOffset);
  if (!FreeListEmpty(head)) {
    if (head < kFoxBlockSize || head % kFoxBlockSize != 0 ||
        head > size - kFoxBlockSize || size < kFoxBlockSize)
      return Fail(kKbdErrCorrupt);
    uint8_t next[4];
    if (int16_t e = FileReadAt(file_slot, head, next, 4)) return e;
    if (int16_t e = FileWriteAt(file_slot, kFoxHeaderFreeListOffset, next, 4))
      return e;
    *offset = head;
    return kKbdOk;
  }
  // New blocks go at the end of the file as it is: the word at 8 of files
  // of other writers holds 0 or a change counter, not the end. A tail
  // short of a block (an extension cut short) is no node: the tree's end
  // and the check stop before it, so the new block goes over it; past it,
  // the tail would become a block neither in a tree nor free.
  const uint32_t end = size / kFoxBlockSize * kFoxBlockSize;
  if (end < kFoxBlockSize) return Fail(kKbdErrCorrupt);  // no header block
  if (end > 0xFFFFFFFFu - 2 * kFoxBlockSize) return Fail(kKbdErrWrite);
  // Extend the file now so that size and end word agree after any failure.
  static constexpr uint8_t kZero[kFoxBlockSize] = {};
  if (int16_t e = FileWriteAt(file_slot, end, kZero, kFoxBlockSize)) return e;
  // Only a standard file keeps its end there (any of the bits 0x20..0x80:
  // a compact file or a compound one, whose word is a counter).
  if ((words[kFoxHeaderOptionsOffset] & 0xE0) == 0) {
    if (int16_t e = btree::WriteLe32At(file_slot, kFoxHeaderEndOffset,
                                       end + kFoxBlockSize))
      return e;
  }
  *offset = end;
  return kKbdOk;
}

int16_t CountFoxChanges(uint16_t file_slot, uint32_t changes) {
  uint8_t word[4];
  if (int16_t e = FileReadAt(file_slot, kFoxHeaderEndOffset, word, 4)) return e;
  PutBe32(word, GetBe32(word) + changes);
  return FileWriteAt(file_slot, kFoxHeaderEndOffset, word, 4);
}

int16_t CountFoxChange(uint16_t file_slot, uint32_t* pending) {
  // No other handle can read the counter of a file opened without
  // sharing before it closes: the close writes the sum.
  if (FileOpenedAlone(file_slot)) {
    ++*pending;
    return kKbdOk;
  }
  return CountFoxChanges(file_slot, 1);
}

int16_t WritePendingFoxChanges(uint16_t file_slot, uint32_t* pending) {
  if (*pending == 0) return kKbdOk;
  const uint32_t changes = *pending;
  *pending = 0;
  return CountFoxChanges(file_slot, changes);
}

int16_t FreeFoxBlock(uint16_t file_slot, uint32_t offset) {
  if (offset < kFoxBlockSize || offset % kFoxBlockSize != 0)
    return Fail(kKbdErrSeek);
  uint8_t word[4];
  if (int16_t e = FileReadAt(file_slot, kFoxHeaderFreeListOffset, word, 4))
    return e;
  if (int16_t e = FileWriteAt(file_slot, offset, word, 4)) return e;
  PutLe32(word, offset);
  return FileWriteAt(file_slot, kFoxHeaderFreeListOffset, word, 4);
}

}  // namespace qx::engine::fox
