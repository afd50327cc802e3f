// The reference host's builders of the records it hands to the driver:
// connection descriptions, file descriptions with items, host record
// buffers and condition trees.
//
// Each builder owns every text and array its record points into; the
// record stays valid as long as the builder lives and is not changed.
#ifndef QX_HOST_HOSTLIB_BUILDERS_H_
#define QX_HOST_HOSTLIB_BUILDERS_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "qx/host_types.h"

namespace qx::host {

class ConnectionBuilder {
 public:
  explicit ConnectionBuilder(std::u16string name);
  ConnectionBuilder& DataSource(std::u16string text);
  ConnectionBuilder& Provider(std::u16string text);
  ConnectionBuilder& ExtendedInfo(std::u16string text);
  ConnectionBuilder& User(std::u16string text);
  ConnectionBuilder& Password(std::u16string text);
  ConnectionBuilder& ReadOnly();
  // The description; texts never set stay null.
  const ConnectionDesc* Get();

 private:
  const char16_t* Keep(std::u16string text);
  std::deque<std::u16string> texts_;
  ConnectionDesc desc_;
};

// One item of a file description.
struct ItemDesc {
  std::u16string name;
  uint8_t item_type = kItemText;
  uint32_t size = 0;
  uint16_t digits = 0;
  uint16_t decimals = 0;
  uint32_t key_flags = 0;
  std::u16string index_file;  // empty: none
  std::u16string formula;     // empty: none
  uint32_t component_count = 0;
  uint32_t flags = 0;
};

class FileBuilder {
 public:
  explicit FileBuilder(std::u16string name);
  FileBuilder& Path(std::u16string path);
  FileBuilder& Extension(std::u16string extension);
  FileBuilder& ExtendedInfo(std::u16string text);
  FileBuilder& Format(uint32_t file_format);
  FileBuilder& Item(const ItemDesc& item);
  FileDesc* Get();

 private:
  const char16_t* Keep(const std::u16string& text);
  std::deque<std::u16string> texts_;
  std::vector<FileItem> items_;
  std::deque<std::vector<uint32_t>> component_lengths_;
  FileDesc desc_;
};

// A host record buffer: each item owns a zeroed value buffer.
class RecordBuilder {
 public:
  RecordBuilder() = default;
  // Binds an item to a field (field_number -1 for none).
  RecordBuilder& Item(std::u16string name, uint8_t value_type,
                      uint32_t capacity, uint16_t flags = 0,
                      uint8_t field_type = 0, int32_t field_number = -1,
                      uint32_t field_length = 0);
  Record* Get();

 private:
  std::deque<std::u16string> names_;
  std::deque<std::vector<uint8_t>> buffers_;
  std::vector<RecordItem> items_;
  Record record_;
};

// Condition trees; nodes live as long as the builder.
class ConditionBuilder {
 public:
  const Condition* Compare(uint32_t kind, std::u16string item,
                           const HostValue& value, bool generic = false);
  const Condition* And(const Condition* left, const Condition* right);
  const Condition* Or(const Condition* left, const Condition* right);
  const Condition* Not(const Condition* child);
  const Condition* Constant(uint32_t kind);  // 9, 10 or 11

 private:
  Condition* Node(uint32_t kind);
  std::deque<std::u16string> names_;
  std::deque<Condition> nodes_;
};

}  // namespace qx::host

#endif  // QX_HOST_HOSTLIB_BUILDERS_H_
