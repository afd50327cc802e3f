// The driver's copy of a host file description.
#include "access/table/host_file_copy.h"

namespace qx::access {

HostFileCopy::HostFileCopy(const FileDesc* file, std::u16string_view name) {
  if (file == nullptr) {
    texts_.emplace_back(name);
    desc_.name = texts_.back().c_str();
    return;
  }
  desc_ = *file;
  desc_.name = Keep(file->name);
  desc_.path = Keep(file->path);
  desc_.extension = Keep(file->extension);
  desc_.extended_info = Keep(file->extended_info);
  if (file->items != nullptr) {
    items_.assign(file->items, file->items + file->item_count);
  } else {
    items_.clear();
  }
  for (FileItem& item : items_) {
    item.name = Keep(item.name);
    item.index_file = Keep(item.index_file);
    item.formula = Keep(item.formula);
    if (item.component_lengths != nullptr) {
      component_lengths_.emplace_back(
          item.component_lengths,
          item.component_lengths + item.component_count);
      item.component_lengths = component_lengths_.back().data();
    }
  }
  desc_.items = items_.empty() ? nullptr : items_.data();
  desc_.item_count = static_cast<uint32_t>(items_.size());
}

const char16_t* HostFileCopy::Keep(const char16_t* text) {
  if (text == nullptr) return nullptr;
  texts_.emplace_back(text);
  return texts_.back().c_str();
}

}  // namespace qx::access
