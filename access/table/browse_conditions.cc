// Condition trees of a browse (see browse_conditions.h).
#include "access/table/browse_conditions.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "access/adapter/key_image.h"
#include "framework/host_value.h"
#include "framework/names.h"

namespace qx::access {
namespace {

// Kinds of a comparison node.
bool IsComparison(uint32_t kind) {
  return (kind >= kConditionEqual && kind <= kConditionLessOrEqual) ||
         kind == kConditionNotEqual;
}

// The result of comparison `kind` for an order c (current against value).
bool KindHolds(uint32_t kind, int c) {
  switch (kind) {
    case kConditionEqual:
      return c == 0;
    case kConditionGreater:
      return c > 0;
    case kConditionLess:
      return c < 0;
    case kConditionGreaterOrEqual:
      return c >= 0;
    case kConditionLessOrEqual:
      return c <= 0;
    case kConditionNotEqual:
      return c != 0;
    default:
      return false;
  }
}

// "%.20g" of the number a key image holds; for keys read back as text
// (dates, date-times), that text.
std::string NumberText(const IndexKeyDescriptor& key,
                       std::span<const uint8_t> image) {
  const KeyImageValue value = ReadKeyImage(key, image);
  if (key.key_type == 'N' || key.key_type == kKeyCurrency ||
      key.key_type == kKeyInteger) {
    char text[64];
    std::snprintf(text, sizeof text, "%.20g", value.number);
    return text;
  }
  return value.text;
}

int Sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

// The value of a record item as a host value (its bytes stay the
// record's).
HostValue ItemValue(const RecordItem& item) {
  if ((item.flags & kRecordItemMemo) != 0)
    return *static_cast<const HostValue*>(item.buffer);
  HostValue value;
  value.type = item.value_type;
  value.scale = item.scale;
  value.size = item.length;
  if (IsVariableValueType(item.value_type)) {
    value.data = item.buffer;
  } else {
    std::memcpy(value.fixed.bytes, item.buffer,
                std::min<size_t>(
                    {item.length, item.capacity, sizeof value.fixed.bytes}));
  }
  return value;
}

const RecordItem* FindRecordItem(const Record* record,
                                 std::u16string_view name) {
  if (record == nullptr) return nullptr;
  for (uint32_t i = 0; i < record->item_count; ++i) {
    const RecordItem& item = record->items[i];
    if (framework::SameName(framework::HostText(item.name), name)) return &item;
  }
  return nullptr;
}

bool CompareOnRecord(const Condition& node, const Record* record) {
  const RecordItem* item =
      FindRecordItem(record, framework::HostText(node.item_name));
  if (item == nullptr) return false;
  const HostValue value = ItemValue(*item);
  bool answer = false;
  switch (node.kind) {
    case kConditionGreater:
      return framework::HostValueGreater(value, node.value, &answer) && answer;
    case kConditionLess:
      return framework::HostValueLess(value, node.value, &answer) && answer;
    case kConditionGreaterOrEqual:
      return framework::HostValueLess(value, node.value, &answer) && !answer;
    case kConditionLessOrEqual:
      return framework::HostValueGreater(value, node.value, &answer) && !answer;
    case kConditionEqual:
    case kConditionNotEqual: {
      const bool text = (item->flags & kRecordItemText) != 0 ||
                        IsTextValueType(item->value_type);
      const bool ok =
          text && node.generic != 0
              ? framework::HostValueStartsWith(value, node.value, &answer)
              : framework::HostValuesEqual(value, node.value, &answer);
      if (!ok) return false;
      return node.kind == kConditionEqual ? answer : !answer;
    }
    default:
      return false;
  }
}

bool OnKeyItem(const Condition& node, std::u16string_view key_item) {
  const std::u16string_view item = framework::HostText(node.item_name);
  return item.empty() || framework::SameName(item, key_item);
}

}  // namespace

bool CompareOnKey(uint32_t kind, bool generic, const HostValue& value,
                  const IndexKeyDescriptor& key, std::span<const uint8_t> image,
                  uint32_t text_options) {
  std::array<uint8_t, kKeyImageSize> made{};
  if (MakeKey(key, value, made, text_options) != 0) return false;
  return CompareWithMadeKey(kind, generic, key, image, made);
}

bool CompareWithMadeKey(uint32_t kind, bool generic,
                        const IndexKeyDescriptor& key,
                        std::span<const uint8_t> image,
                        std::span<const uint8_t> made_key) {
  std::array<uint8_t, kKeyImageSize> made{};
  std::copy_n(made_key.begin(), std::min(made_key.size(), made.size()),
              made.begin());
  const bool text_key = IsTextValueType(key.key_value_type);
  int c = 0;
  if (IsTextValueType(key.item_type) || text_key || key.compound != 0) {
    if (!text_key) {
      const std::string a = NumberText(key, image);
      const std::string b = NumberText(key, made);
      c = Sign(a.compare(b));
    } else {
      const size_t key_end = std::min<size_t>(
          key.key_length > 0 ? key.key_length - 1 : 0, kKeyImageSize - 1);
      size_t length = 0;
      if (generic) {
        length = strnlen(reinterpret_cast<const char*>(made.data()), key_end);
      } else {
        const size_t used =
            strnlen(reinterpret_cast<const char*>(made.data()), key_end);
        std::fill(made.begin() + static_cast<ptrdiff_t>(used),
                  made.begin() + static_cast<ptrdiff_t>(key_end), uint8_t{' '});
        made[key_end] = 0;
        length = std::min<size_t>(key.key_length, kKeyImageSize);
      }
      length = std::min(length, image.size());
      c = length == 0 ? 0
                      : Sign(std::memcmp(image.data(), made.data(), length));
    }
  } else {
    c = CompareKeyImages(key, image, made);
  }
  return KindHolds(kind, c);
}

bool EvaluateCondition(const Condition* tree, const ConditionSubject& subject) {
  if (tree == nullptr) return true;
  switch (tree->kind) {
    case kConditionOr:
      return EvaluateCondition(tree->left, subject) ||
             EvaluateCondition(tree->right, subject);
    case kConditionAnd:
      return EvaluateCondition(tree->left, subject) &&
             EvaluateCondition(tree->right, subject);
    case kConditionNot:
      return !EvaluateCondition(tree->left, subject);
    case kConditionFalse:
      return false;
    default:
      break;
  }
  if (!IsComparison(tree->kind)) return true;
  if (subject.key != nullptr && OnKeyItem(*tree, subject.key_item)) {
    return CompareOnKey(tree->kind, tree->generic != 0, tree->value,
                        *subject.key, subject.key_image, subject.text_options);
  }
  return CompareOnRecord(*tree, subject.record);
}

bool NamesOtherItem(const Condition* tree, std::u16string_view key_item) {
  if (tree == nullptr) return false;
  if (IsComparison(tree->kind)) return !OnKeyItem(*tree, key_item);
  if (tree->kind == kConditionOr || tree->kind == kConditionAnd)
    return NamesOtherItem(tree->left, key_item) ||
           NamesOtherItem(tree->right, key_item);
  if (tree->kind == kConditionNot) return NamesOtherItem(tree->left, key_item);
  return false;
}

namespace {

template <typename Match>
const Condition* FindRequired(const Condition* tree, std::u16string_view item,
                              const Match& match) {
  if (tree == nullptr) return nullptr;
  if (tree->kind == kConditionAnd) {
    if (const Condition* left = FindRequired(tree->left, item, match))
      return left;
    return FindRequired(tree->right, item, match);
  }
  if (match(tree->kind) &&
      framework::SameName(framework::HostText(tree->item_name), item))
    return tree;
  return nullptr;
}

}  // namespace

const Condition* FindEquality(const Condition* tree, std::u16string_view item) {
  return FindRequired(tree, item,
                      [](uint32_t kind) { return kind == kConditionEqual; });
}

const Condition* FindBound(const Condition* tree, std::u16string_view item,
                           bool lower) {
  return FindRequired(tree, item, [lower](uint32_t kind) {
    return lower ? kind == kConditionGreater || kind == kConditionGreaterOrEqual
                 : kind == kConditionLess || kind == kConditionLessOrEqual;
  });
}

}  // namespace qx::access
