// Decoding and encoding of one FoxPro index node (standard or compact, leaf
// or inner) to and from a plain list of entries.
//
// The tree code never edits node bytes in place: it decodes a node into a
// FoxNode, changes the entry list, and encodes it again. For fixed-entry
// nodes that is a copy; for a compact leaf it redoes the prefix and trailing
// compression of every entry, so an insert, a delete or a change of field
// widths all come down to "does the new list still fit in 512 bytes".
//
// Compact leaves compress each key against the previous one of the same
// leaf: the first entry is stored with no shared prefix, so a leaf decodes
// on its own. Duplicate and trailing counts are capped by the leaf's masks
// (and together by the key length); whatever they do not cover is stored.
#ifndef QX_ENGINE_FOX_FOX_NODE_H_
#define QX_ENGINE_FOX_FOX_NODE_H_

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/fox/fox_tree.h"

namespace qx::engine::fox {

// The bit-field widths of one compact leaf.
struct FoxLeafFields {
  uint32_t recno_mask = 0;
  uint8_t dup_mask = 0;
  uint8_t trail_mask = 0;
  uint8_t recno_bits = 0;
  uint8_t dup_bits = 0;
  uint8_t trail_bits = 0;
  uint8_t entry_bytes = 0;
};

// Bits needed to write value (0 for 0).
int BitsFor(uint32_t value);

// The widths of a new leaf: b = bits of the key length for both counts,
// 2 bytes per entry when b is 1, 3 below 6, else 4; the record number
// takes the rest.
FoxLeafFields NewLeafFields(uint16_t key_length);

// base, with a record-number field wide enough for max_recno: the entry
// grows by whole bytes (the counts keep their widths) and the record
// number takes every remaining bit, at most 32.
FoxLeafFields WidenLeafFields(const FoxLeafFields& base, uint32_t max_recno);

struct FoxNodeFormat {
  FoxLayout layout = FoxLayout::kCompact;
  uint16_t key_length = 0;
  uint8_t pad = ' ';
};

// Largest number of fixed entries of a node: standard nodes (leaf and
// inner) and compact inner nodes.
uint32_t FoxFixedCapacity(const FoxNodeFormat& format, bool leaf);

// A decoded node. Keys are full length, key_length bytes each, in one
// array; recnos hold the record number of every leaf entry and of compact
// inner entries (0 in standard inner nodes); children only in inner
// nodes.
struct FoxNode {
  uint16_t attributes = 0;
  uint32_t left = kFoxNoNode;
  uint32_t right = kFoxNoNode;
  FoxLeafFields fields;     // compact leaves only
  uint32_t free_bytes = 0;  // compact leaves: the gap as decoded
  std::vector<uint8_t> keys;
  std::vector<uint32_t> recnos;
  std::vector<uint32_t> children;

  uint32_t count() const { return static_cast<uint32_t>(recnos.size()); }
  bool leaf() const { return (attributes & 0x02) != 0; }
  bool root() const { return (attributes & 0x01) != 0; }
  const uint8_t* key(uint32_t i, uint16_t key_length) const {
    return keys.data() + static_cast<size_t>(i) * key_length;
  }
  uint8_t* key(uint32_t i, uint16_t key_length) {
    return keys.data() + static_cast<size_t>(i) * key_length;
  }
  void ClearEntries() {
    keys.clear();
    recnos.clear();
    children.clear();
  }
  void InsertEntry(uint32_t i, const uint8_t* key, uint16_t key_length,
                   uint32_t recno, uint32_t child);
  void EraseEntry(uint32_t i, uint16_t key_length);
  // Appends entries [begin, end) of source.
  void AppendRange(const FoxNode& source, uint32_t begin, uint32_t end,
                   uint16_t key_length);
};

// Decodes page into node. False when the node cannot be a valid node of
// this format (counts, field widths or key bytes out of range, a leaf
// entry of record number 0).
bool DecodeFoxNode(const uint8_t* page, const FoxNodeFormat& format,
                   FoxNode* node);

// Bytes one compact leaf entry takes (packed entry and stored key bytes)
// after previous (null: the first entry of its leaf).
uint32_t CompactEntryBytes(const uint8_t* key, const uint8_t* previous,
                           const FoxNodeFormat& format,
                           const FoxLeafFields& fields);

// Bytes entries [begin, end) of a compact leaf take (packed entries and
// stored key bytes), the entry at begin stored in full.
uint32_t CompactLeafBytes(const FoxNode& node, const FoxNodeFormat& format,
                          uint32_t begin, uint32_t end);

// True when entries [begin, end) of node fit one node.
bool FoxRangeFits(const FoxNode& node, const FoxNodeFormat& format,
                  uint32_t begin, uint32_t end);

// Encodes node into page (512 bytes, every byte written). False, with page
// undefined, when it does not fit or a record number exceeds the leaf's
// mask.
bool EncodeFoxNode(const FoxNode& node, const FoxNodeFormat& format,
                   uint8_t* page);

}  // namespace qx::engine::fox

#endif  // QX_ENGINE_FOX_FOX_NODE_H_
