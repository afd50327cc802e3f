// The reference host's record builders.
#include "host/hostlib/builders.h"

namespace qx::host {

ConnectionBuilder::ConnectionBuilder(std::u16string name) {
  desc_.name = Keep(std::move(name));
}

const char16_t* ConnectionBuilder::Keep(std::u16string text) {
  texts_.push_back(std::move(text));
  return texts_.back().c_str();
}

ConnectionBuilder& ConnectionBuilder::DataSource(std::u16string text) {
  desc_.data_source = Keep(std::move(text));
  return *this;
}
ConnectionBuilder& ConnectionBuilder::Provider(std::u16string text) {
  desc_.provider = Keep(std::move(text));
  return *this;
}
ConnectionBuilder& ConnectionBuilder::ExtendedInfo(std::u16string text) {
  desc_.extended_info = Keep(std::move(text));
  return *this;
}
ConnectionBuilder& ConnectionBuilder::User(std::u16string text) {
  desc_.user = Keep(std::move(text));
  return *this;
}
ConnectionBuilder& ConnectionBuilder::Password(std::u16string text) {
  desc_.password = Keep(std::move(text));
  return *this;
}
ConnectionBuilder& ConnectionBuilder::ReadOnly() {
  desc_.access_mode = kAccessReadOnly;
  return *this;
}
const ConnectionDesc* ConnectionBuilder::Get() { return &desc_; }

FileBuilder::FileBuilder(std::u16string name) { desc_.name = Keep(name); }

const char16_t* FileBuilder::Keep(const std::u16string& text) {
  texts_.push_back(text);
  return texts_.back().c_str();
}

FileBuilder& FileBuilder::Path(std::u16string path) {
  desc_.path = Keep(path);
  return *this;
}
FileBuilder& FileBuilder::Extension(std::u16string extension) {
  desc_.extension = Keep(extension);
  return *this;
}
FileBuilder& FileBuilder::ExtendedInfo(std::u16string text) {
  desc_.extended_info = Keep(text);
  return *this;
}
FileBuilder& FileBuilder::Format(uint32_t file_format) {
  desc_.file_format = file_format;
  return *this;
}

FileBuilder& FileBuilder::Item(const ItemDesc& desc) {
  FileItem item;
  item.name = Keep(desc.name);
  item.item_type = desc.item_type;
  item.size = desc.size;
  item.digits = desc.digits;
  item.decimals = desc.decimals;
  item.key_flags = desc.key_flags;
  item.index_file = desc.index_file.empty() ? nullptr : Keep(desc.index_file);
  item.formula = desc.formula.empty() ? nullptr : Keep(desc.formula);
  item.component_count = desc.component_count;
  if (desc.component_count > 0) {
    component_lengths_.emplace_back(desc.component_count, 0u);
    item.component_lengths = component_lengths_.back().data();
  }
  item.flags = desc.flags;
  items_.push_back(item);
  return *this;
}

FileDesc* FileBuilder::Get() {
  desc_.items = items_.empty() ? nullptr : items_.data();
  desc_.item_count = static_cast<uint32_t>(items_.size());
  return &desc_;
}

RecordBuilder& RecordBuilder::Item(std::u16string name, uint8_t value_type,
                                   uint32_t capacity, uint16_t flags,
                                   uint8_t field_type, int32_t field_number,
                                   uint32_t field_length) {
  names_.push_back(std::move(name));
  buffers_.emplace_back(capacity, uint8_t{0});
  RecordItem item;
  item.name = names_.back().c_str();
  item.value_type = value_type;
  item.field_type = field_type;
  item.flags = flags;
  item.field_number = field_number;
  item.field_length = field_length;
  item.capacity = capacity;
  item.buffer = buffers_.back().data();
  items_.push_back(item);
  return *this;
}

Record* RecordBuilder::Get() {
  record_.items = items_.empty() ? nullptr : items_.data();
  record_.item_count = static_cast<uint32_t>(items_.size());
  return &record_;
}

Condition* ConditionBuilder::Node(uint32_t kind) {
  nodes_.emplace_back();
  nodes_.back().kind = kind;
  return &nodes_.back();
}

const Condition* ConditionBuilder::Compare(uint32_t kind, std::u16string item,
                                           const HostValue& value,
                                           bool generic) {
  names_.push_back(std::move(item));
  Condition* node = Node(kind);
  node->item_name = names_.back().c_str();
  node->value = value;
  node->generic = generic ? 1 : 0;
  return node;
}

const Condition* ConditionBuilder::And(const Condition* left,
                                       const Condition* right) {
  Condition* node = Node(kConditionAnd);
  node->left = left;
  node->right = right;
  return node;
}

const Condition* ConditionBuilder::Or(const Condition* left,
                                      const Condition* right) {
  Condition* node = Node(kConditionOr);
  node->left = left;
  node->right = right;
  return node;
}

const Condition* ConditionBuilder::Not(const Condition* child) {
  Condition* node = Node(kConditionNot);
  node->left = child;
  return node;
}

const Condition* ConditionBuilder::Constant(uint32_t kind) {
  return Node(kind);
}

}  // namespace qx::host
