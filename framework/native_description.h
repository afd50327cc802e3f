// CNativeDescription: the framework's table description, base of every
// driver's.
//
// It holds what every description has: the logical name, the physical
// file name (without directory and extension), the items in order and
// the list of those that are keys, in key order. The description owns
// one reference to each item; items are found by name without regard to
// case. A driver derives from it and supplies the operations that depend
// on its files (path, file type, extension, the check of the host's
// items, copy, the description of the items).
#ifndef QX_FRAMEWORK_NATIVE_DESCRIPTION_H_
#define QX_FRAMEWORK_NATIVE_DESCRIPTION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/native_objects.h"
#include "framework/ref_counted.h"
#include "qx/driver.h"

namespace qx::framework {

class CNativeDescription : public RefCounted<IDescription> {
 public:
  CNativeDescription() = default;
  CNativeDescription(const CNativeDescription&) = delete;
  CNativeDescription& operator=(const CNativeDescription&) = delete;

  const char16_t* GetName() override { return name_.c_str(); }
  const char16_t* GetFileName() override { return file_name_.c_str(); }
  uint32_t GetItemCount() override {
    return static_cast<uint32_t>(items_.size());
  }
  IItem* GetItem(uint32_t index) override;
  IItem* FindItem(const char16_t* name) override;
  uint32_t GetKeyCount() override {
    return static_cast<uint32_t>(keys_.size());
  }
  IItem* GetKey(uint32_t index) override;

  void set_name(std::u16string_view name) { name_ = name; }
  void set_file_name(std::u16string_view name) { file_name_ = name; }
  const std::u16string& name() const { return name_; }
  const std::u16string& file_name() const { return file_name_; }

  // Appends an item, taking one reference to it.
  void AppendItem(CNativeItem* item);
  // Lists an item of the description as a key (once).
  void AddKey(CNativeItem* item);
  bool IsKey(const CNativeItem* item) const;
  // The item named name (without regard to case), or null.
  CNativeItem* Find(std::u16string_view name) const;
  const std::vector<CNativeItem*>& items() const { return items_; }
  const std::vector<CNativeItem*>& keys() const { return keys_; }
  // Releases every item.
  void ClearItems();

 protected:
  virtual ~CNativeDescription() { ClearItems(); }

 private:
  std::u16string name_;
  std::u16string file_name_;
  std::vector<CNativeItem*> items_;  // one reference held each
  std::vector<CNativeItem*> keys_;   // items of items_, in key order
};

}  // namespace qx::framework

#endif  // QX_FRAMEWORK_NATIVE_DESCRIPTION_H_
