// The framework's table description.
#include "framework/native_description.h"

#include <algorithm>

#include "framework/names.h"

namespace qx::framework {

IItem* CNativeDescription::GetItem(uint32_t index) {
  return index < items_.size() ? items_[index] : nullptr;
}

IItem* CNativeDescription::FindItem(const char16_t* name) {
  return Find(HostText(name));
}

IItem* CNativeDescription::GetKey(uint32_t index) {
  return index < keys_.size() ? keys_[index] : nullptr;
}

void CNativeDescription::AppendItem(CNativeItem* item) {
  item->AddRef();
  items_.push_back(item);
}

void CNativeDescription::AddKey(CNativeItem* item) {
  if (!IsKey(item)) keys_.push_back(item);
}

bool CNativeDescription::IsKey(const CNativeItem* item) const {
  return std::find(keys_.begin(), keys_.end(), item) != keys_.end();
}

CNativeItem* CNativeDescription::Find(std::u16string_view name) const {
  for (CNativeItem* item : items_) {
    if (SameName(HostText(item->GetName()), name)) return item;
  }
  return nullptr;
}

void CNativeDescription::ClearItems() {
  keys_.clear();
  std::vector<CNativeItem*> items;
  items.swap(items_);
  for (CNativeItem* item : items) item->Release();
}

}  // namespace qx::framework
