// The framework's small objects the driver hands out: description items
// (CreateItem, the base of the xBase item), item values (CreateItemValue)
// and the objects of the framework's own kinds (the base factories and the
// statement builder), which this driver only creates for the host.
#ifndef QX_FRAMEWORK_NATIVE_OBJECTS_H_
#define QX_FRAMEWORK_NATIVE_OBJECTS_H_

#include <cstdint>
#include <string>

#include "framework/ref_counted.h"
#include "qx/driver.h"

namespace qx::framework {

// A description item: what the framework knows of every item. The access
// layer fills it through the setters; the host reads it through IItem.
class CNativeItem : public RefCounted<IItem> {
 public:
  CNativeItem() = default;
  CNativeItem(const CNativeItem&) = delete;
  CNativeItem& operator=(const CNativeItem&) = delete;

  const char16_t* GetName() override { return name_.c_str(); }
  uint8_t GetItemType() override { return item_type_; }
  uint32_t GetSize() override { return size_; }
  int32_t GetFieldNumber() override { return field_number_; }
  int32_t GetKeyNumber() override { return key_number_; }
  uint32_t GetKeyFlags() override { return key_flags_; }
  uint32_t GetKeyLength() override { return key_length_; }
  const char16_t* GetIndexPath() override { return index_path_.c_str(); }
  const char16_t* GetExpression() override { return expression_.c_str(); }
  uint16_t GetXBaseType() override { return xbase_type_; }
  uint32_t GetDigits() override { return digits_; }
  uint32_t GetDecimals() override { return decimals_; }
  const char16_t* GetMemoPath() override { return memo_path_.c_str(); }
  void Destroy() override { delete this; }

  void set_name(std::u16string name) { name_ = std::move(name); }
  void set_item_type(uint8_t type) { item_type_ = type; }
  void set_size(uint32_t size) { size_ = size; }
  void set_field_number(int32_t number) { field_number_ = number; }
  void set_key_number(int32_t number) { key_number_ = number; }
  void set_key_flags(uint32_t flags) { key_flags_ = flags; }
  void set_key_length(uint32_t length) { key_length_ = length; }
  void set_index_path(std::u16string path) { index_path_ = std::move(path); }
  void set_expression(std::u16string text) { expression_ = std::move(text); }
  void set_xbase_type(uint16_t type) { xbase_type_ = type; }
  void set_digits(uint32_t digits) { digits_ = digits; }
  void set_decimals(uint32_t decimals) { decimals_ = decimals; }
  void set_memo_path(std::u16string path) { memo_path_ = std::move(path); }

 protected:
  virtual ~CNativeItem() = default;

 private:
  std::u16string name_;
  uint8_t item_type_ = kItemNone;
  uint32_t size_ = 0;          // host buffer bytes
  int32_t field_number_ = -1;  // 0-based; -1 not a field
  int32_t key_number_ = -1;    // -1 not a key
  uint32_t key_flags_ = 0;
  uint32_t key_length_ = 0;
  std::u16string index_path_;
  std::u16string expression_;
  uint16_t xbase_type_ = 0;
  uint32_t digits_ = 0;
  uint32_t decimals_ = 0;
  std::u16string memo_path_;
};

// A framework item value: a host value of one item type. The value's
// owned bytes go back to the host when the item value is destroyed.
class CNativeItemValue : public RefCounted<IItemValue> {
 public:
  explicit CNativeItemValue(uint8_t item_type) : item_type_(item_type) {}
  CNativeItemValue(const CNativeItemValue&) = delete;
  CNativeItemValue& operator=(const CNativeItemValue&) = delete;

  // Item types a framework item value is made for: 1 to 7 and 9 to 31.
  static bool Supports(uint8_t item_type);

  uint8_t GetItemType() override { return item_type_; }
  int32_t HasFixedSize() override { return 1; }
  HostValue* GetValue() override { return &value_; }
  void Destroy() override { delete this; }

 protected:
  virtual ~CNativeItemValue();

 private:
  uint8_t item_type_;
  HostValue value_;
};

// An object of the framework's own kinds, made only for the host.
class CFrameworkObject : public RefCounted<IFrameworkObject> {
 public:
  explicit CFrameworkObject(uint32_t kind) : kind_(kind) {}
  uint32_t GetKind() override { return kind_; }
  void Destroy() override { delete this; }

 protected:
  virtual ~CFrameworkObject() = default;

 private:
  uint32_t kind_;  // FrameworkObjectKind
};

}  // namespace qx::framework

#endif  // QX_FRAMEWORK_NATIVE_OBJECTS_H_
