// The host's condition trees (ranges and filters of a browse) evaluated
// by the cursor, on the key image a key-order browse stands on or on the
// values of the record read.
//
// Tree nodes: OR and AND of two children, NOT of one; comparisons 4 equal,
// 5 greater, 6 less, 7 greater or equal, 8 less or equal, 12 not equal;
// 9 and 11 true, 10 false; any other kind true. A null tree is true.
//
// On a key image a comparison makes the key image of its value (MakeKey)
// and compares the current image with it (c: current against value):
// - text keys, text items and compound keys: for a key whose value type is
//   not text (a number key) both keys are written "%.20g" and compared as
//   texts; a text key is compared byte by byte (unsigned) over the made
//   text's length for a generic comparison (a prefix), over the whole key
//   after blank padding for an exact one;
// - other keys: in the index's order (CompareKeyImages).
// A value that makes no key compares false.
//
// On a record a comparison compares the named item's value with the
// condition value by the host's comparisons: 5 greater, 6 less, 7 not
// less, 8 not greater; 4 (and 12, negated) by prefix for a text item when
// the condition is generic, by equality otherwise. An item the record
// lacks, or values the host cannot compare, compare false.
#ifndef QX_ACCESS_TABLE_BROWSE_CONDITIONS_H_
#define QX_ACCESS_TABLE_BROWSE_CONDITIONS_H_

#include <cstdint>
#include <span>
#include <string_view>

#include "access/adapter/key_descriptor.h"
#include "qx/host_types.h"

namespace qx::access {

// What a condition is evaluated on. A key-order browse gives the key, its
// item and the current image: comparisons on that item (or on no item)
// use the key image, the others the record. A record-order browse gives
// the record only.
struct ConditionSubject {
  const IndexKeyDescriptor* key = nullptr;
  std::u16string_view key_item;
  std::span<const uint8_t> key_image;
  uint32_t text_options = 0;  // the browse's generic option (bit 32)
  const Record* record = nullptr;
};

// The value of a tree (null: true).
bool EvaluateCondition(const Condition* tree, const ConditionSubject& subject);

// One comparison of `kind` on the key image (see above).
bool CompareOnKey(uint32_t kind, bool generic, const HostValue& value,
                  const IndexKeyDescriptor& key, std::span<const uint8_t> image,
                  uint32_t text_options);

// CompareOnKey with the value's key image made already (MakeKey).
bool CompareWithMadeKey(uint32_t kind, bool generic,
                        const IndexKeyDescriptor& key,
                        std::span<const uint8_t> image,
                        std::span<const uint8_t> made_key);

// Whether the tree names an item other than key_item (its evaluation then
// needs the record's values).
bool NamesOtherItem(const Condition* tree, std::u16string_view key_item);

// The equality on `item` (names compared without regard to case) that the
// tree requires: the tree itself, or a child of an AND, searched depth
// first. Null when there is none.
const Condition* FindEquality(const Condition* tree, std::u16string_view item);

// The bound on `item` the tree requires from below (lower: kinds 5 and 7)
// or from above (kinds 6 and 8), found as FindEquality finds an equality.
const Condition* FindBound(const Condition* tree, std::u16string_view item,
                           bool lower);

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_BROWSE_CONDITIONS_H_
