// The reference host's session: creating tables and maintaining them
// (see session.h).
#include <string>
#include <vector>

#include "host/hostlib/session.h"

namespace qx::host {
namespace {

// The progress sink handed to the table's Maintain slot.
class ProgressSink final : public IProgress {
 public:
  explicit ProgressSink(const ProgressFn& fn) : fn_(fn) {}
  void Reset(uint32_t steps) override {
    total_ = steps;
    done_ = 0;
    if (fn_) fn_(done_, total_);
  }
  void Advance() override {
    ++done_;
    if (fn_) fn_(done_, total_);
  }

 private:
  const ProgressFn& fn_;
  uint32_t total_ = 0;
  uint32_t done_ = 0;
};

std::u16string BaseName(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"/\\:");
  if (slash != std::u16string_view::npos) path.remove_prefix(slash + 1);
  const size_t dot = path.rfind(u'.');
  if (dot != std::u16string_view::npos) path.remove_suffix(path.size() - dot);
  return std::u16string(path);
}

// The usual index file of a key of a new table of file_format.
std::u16string UsualIndexFile(uint32_t file_format, std::u16string_view table,
                              std::u16string_view key) {
  const std::u16string base = BaseName(table);
  switch (file_format) {
    case kFileTypeDbase4:
      return base + u".mdx";
    case kFileTypeFoxPro2:
    case kFileTypeVisualFoxPro:
      return base + u".cdx";
    case kFileTypeFoxPro:
      return base + u"_" + std::u16string(key) + u".idx";
    case kFileTypeClipper5:
    case kFileTypeClipper:
      return base + u"_" + std::u16string(key) + u".ntx";
    default:
      return base + u"_" + std::u16string(key) + u".ndx";
  }
}

}  // namespace

bool Session::CreateTable(std::u16string_view name_or_path,
                          uint32_t file_format,
                          const std::vector<NewItem>& items) {
  if (driver() == nullptr || !connected_) return false;
  driver()->ResetErrors();
  const std::u16string name(name_or_path);
  std::vector<std::u16string> index_files;
  index_files.reserve(items.size());
  std::vector<FileItem> described;
  for (const NewItem& item : items) {
    FileItem f;
    f.name = item.name.c_str();
    f.item_type = item.item_type;
    f.size = item.length + 1;  // a text item's size counts its NUL
    f.digits = item.digits;
    f.decimals = item.decimals;
    f.key_flags = item.key_flags;
    index_files.push_back(item.index_file.empty() && item.key_flags != 0
                              ? UsualIndexFile(file_format, name, item.name)
                              : item.index_file);
    if (!index_files.back().empty()) f.index_file = index_files.back().c_str();
    if (!item.formula.empty()) {
      f.formula = item.formula.c_str();
      f.flags |= kItemFlagCompound;
    }
    described.push_back(f);
  }
  FileDesc file;
  file.name = name.c_str();
  file.file_format = file_format;
  file.items = described.empty() ? nullptr : described.data();
  file.item_count = static_cast<uint32_t>(described.size());
  IConnection* connection = driver()->CreateConnection(name_.c_str(), &cnx_);
  if (connection == nullptr) return false;
  connection->AddRef();
  ITable* table = driver()->CreateTable(&file, connection, 0);
  connection->Release();
  if (table == nullptr) return false;
  table->AddRef();
  const bool made = table->CreateFiles() == 1;
  table->Release();
  return made;
}

bool SessionTable::Maintain(bool pack, const ProgressFn& progress) {
  if (!open_ || session_->driver() == nullptr) return false;
  session_->driver()->ResetErrors();
  FileDesc file;
  file.name = name_.c_str();
  ITableHandle* handle =
      session_->driver()->GetTable(session_->connection(), &file);
  if (handle == nullptr) return false;
  ITable* table = handle->GetTableObject(name_.c_str());
  bool done = false;
  if (table != nullptr) {
    ProgressSink sink(progress);
    done = table->Maintain(pack ? 1u : 0u, &sink) == 1;
  }
  handle->Release();
  return done;
}

}  // namespace qx::host
