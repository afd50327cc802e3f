// Index association (see index_association.h).
#include "access/table/index_association.h"

#include <string>

#include "access/adapter/data_file_ops.h"
#include "access/adapter/dialects.h"
#include "access/adapter/index_ops.h"
#include "access/connection/table_path.h"
#include "access/errors/error_context.h"
#include "access/table/compound_keys.h"
#include "access/table/index_paths.h"
#include "access/table/xbase_description.h"
#include "framework/names.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorOpenFile = 1001;
constexpr uint32_t kErrorFileAccess = 1019;
constexpr uint32_t kErrorIndexType = 1058;
constexpr uint32_t kErrorNameClash = 1071;

// Field names are at most this many characters.
constexpr size_t kFieldNameLength = 10;

constexpr uint32_t kUnitAssociation = 102;
constexpr uint32_t kSiteCount = 5;
constexpr uint32_t kSiteOpen = 8;
constexpr uint32_t kSiteType = 9;
constexpr uint32_t kSiteClash = 10;
constexpr uint32_t kSiteFormula = 11;

// Closes an index file on every way out.
class OpenedIndex {
 public:
  OpenedIndex(XbaseDialect dialect, uint16_t handle)
      : dialect_(dialect), handle_(handle) {}
  ~OpenedIndex() { CloseIndex(dialect_, handle_); }
  OpenedIndex(const OpenedIndex&) = delete;
  OpenedIndex& operator=(const OpenedIndex&) = delete;

 private:
  XbaseDialect dialect_;
  uint16_t handle_;
};

// A key waiting for the association to succeed.
struct PendingKey {
  CXBaseItem* item = nullptr;
  bool is_new = false;  // made here (count 0), not yet in the description
  uint32_t flags = 0;
  int32_t number = -1;
  uint32_t key_length = 0;
  std::u16string expression;
};

// Whether an index expression is a plain name (no formula).
bool IsPlainExpression(std::u16string_view expression) {
  return expression.find_first_of(u" ()+") == std::u16string_view::npos;
}

// Whether an expression reads the field `name`: one of its words (runs
// of letters, digits and '_') is that name, without regard to case; a
// word longer than a field name (10 characters) names the field of its
// first 10, as the engine reads such expressions.
bool ExpressionReadsField(std::u16string_view expression,
                          std::u16string_view name) {
  const auto word = [](char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
           (c >= u'0' && c <= u'9') || c == u'_' || c >= 0x80;
  };
  size_t i = 0;
  while (i < expression.size()) {
    if (!word(expression[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < expression.size() && word(expression[end])) ++end;
    std::u16string_view found = expression.substr(i, end - i);
    if (found.size() > kFieldNameLength)
      found = found.substr(0, kFieldNameLength);
    if (framework::SameName(found, name)) return true;
    i = end;
  }
  return false;
}

uint32_t KeyFlagsOf(uint16_t index_flags) {
  uint32_t flags =
      (index_flags & kKbdKeyUnique) != 0 ? kKeyUnique : kKeyDuplicates;
  flags |=
      (index_flags & kKbdKeyDescending) != 0 ? kKeyDescending : kKeyAscending;
  return flags;
}

void DropPending(std::vector<PendingKey>* pending) {
  for (PendingKey& key : *pending) {
    if (key.is_new) key.item->Destroy();
  }
  pending->clear();
}

void Report(CErrorContext* errors, uint32_t id,
            std::vector<platform::MessageArg> args, std::u16string_view table,
            uint32_t site, std::optional<int32_t> status = std::nullopt) {
  if (errors == nullptr) return;
  ErrorReport report;
  report.id = id;
  report.args = std::move(args);
  report.table = table;
  report.unit = kUnitAssociation;
  report.site = site;
  report.engine_status = status;
  ReportError(errors, report);
}

// A new key item for a key of an index file: 0 when its expression does
// not analyse (reported), else the item (count 0).
CXBaseItem* NewKeyItem(CXBaseDescription* description, std::u16string_view name,
                       const IndexKeyInfo& info, std::u16string_view expression,
                       bool strict, CErrorContext* errors) {
  TableKeyFormulaParser parser;
  const DescriptionFields fields(description);
  if (parser.Parse(strict ? 1 : 0, description->dialect(), &fields, expression,
                   strict) != 1) {
    if (errors != nullptr) {
      ReportKeyFormulaError(errors, expression, name, parser,
                            description->name(), kUnitAssociation,
                            kSiteFormula);
    }
    return nullptr;
  }
  auto* item = new CXBaseItem();
  item->set_name(std::u16string(name));
  const uint16_t letter = info.key_type == '?' ? 'C' : info.key_type;
  item->set_xbase_type(letter);
  item->set_expression(std::u16string(expression));
  item->set_item_type(kItemBinary);
  item->set_size(info.key_length);
  item->set_compound(true);
  item->set_key_fields(parser.fields());
  return item;
}

}  // namespace

int32_t AssociateIndexFile(CXBaseDescription* description,
                           std::u16string_view data_path,
                           std::u16string_view index_path,
                           std::u16string_view key_name, bool strict,
                           std::vector<CXBaseItem*>* new_items,
                           CErrorContext* errors) {
  const std::u16string table = description->name();
  const XbaseDialect dialect = DialectOfIndexPath(index_path);
  if (dialect == kDialectOther) {
    Report(errors, kErrorIndexType, {platform::MessageArg::Text(index_path)},
           table, kSiteType);
    return 0;
  }
  uint16_t handle = kNoIndexHandle;
  // Shared: a file other processes write (or open at the same moment)
  // must not refuse, nor be refused by, this short look.
  int32_t status =
      OpenIndex(dialect, index_path, &handle, kModeReadOnly | kModeShared);
  if (status < 0) {
    Report(errors, kErrorOpenFile,
           {platform::MessageArg::Text(index_path),
            platform::MessageArg::Signed(status)},
           table, kSiteOpen, status);
    return 0;
  }
  OpenedIndex opened(dialect, handle);
  int32_t count = 0;
  status = CountTags(dialect, handle, &count);
  if (status < 0) {
    Report(errors, kErrorFileAccess, {platform::MessageArg::Text(index_path)},
           table, kSiteCount, status);
    return 0;
  }
  const std::u16string stored = StoredIndexPath(data_path, index_path);
  const bool name_given = count <= 1 && !key_name.empty();
  int32_t next_number = static_cast<int32_t>(description->GetKeyCount());
  std::vector<PendingKey> pending;
  for (int32_t k = 0; k < count; ++k) {
    IndexKeyInfo info;
    if (DescribeKeyByNumber(&info, dialect, handle, k) < 0) continue;
    const std::u16string name = KeysAreTags(dialect) || !name_given
                                    ? platform::AnsiToUtf16(info.key_name)
                                    : std::u16string(key_name);
    const std::u16string expression = platform::AnsiToUtf16(info.expression);
    PendingKey key;
    key.flags = KeyFlagsOf(info.flags);
    key.key_length = info.key_length;
    key.expression = expression;
    CXBaseItem* existing = description->FindXItem(name);
    for (const PendingKey& other : pending) {
      if (other.is_new && framework::SameName(other.item->GetName(), name))
        existing = other.item;
    }
    if (existing == nullptr) {
      if (expression.empty()) {
        DropPending(&pending);
        return 0;
      }
      if (name.empty()) {
        if (!strict) continue;
        DropPending(&pending);
        return 0;
      }
      key.item =
          NewKeyItem(description, name, info, expression, strict, errors);
      if (key.item == nullptr) {
        DropPending(&pending);
        return 0;
      }
      key.is_new = true;
      key.flags |= kKeyNotAField;
      key.number = next_number++;
    } else {
      // A formula may key a field of its own name only when it reads that
      // field (a tag NAME on UPPER(NAME), as FoxPro programs name them);
      // any other formula under a field's name is a misnamed key or an
      // index of another table.
      if (!IsPlainExpression(expression) && !existing->compound() &&
          !(existing->is_field() && ExpressionReadsField(expression, name))) {
        Report(errors, kErrorNameClash,
               {platform::MessageArg::Text(name),
                platform::MessageArg::Text(index_path),
                platform::MessageArg::Text(table)},
               table, kSiteClash);
        DropPending(&pending);
        return 0;
      }
      key.item = existing;
      key.number =
          existing->is_key() ? existing->GetKeyNumber() : next_number++;
      if (!existing->is_field()) key.flags |= kKeyNotAField;
    }
    pending.push_back(std::move(key));
  }
  for (PendingKey& key : pending) {
    CXBaseItem* item = key.item;
    item->set_key_number(key.number);
    item->set_key_flags(key.flags);
    if (item->GetKeyLength() != key.key_length)
      item->set_key_length(key.key_length);
    item->set_index_path(stored);
    if (item->GetExpression()[0] == u'\0') item->set_expression(key.expression);
    if (key.is_new) {
      description->AppendXItem(item);
      if (new_items != nullptr) new_items->push_back(item);
    }
    description->AddKey(item);
  }
  return 1;
}

int32_t AssociateHostKeys(CXBaseDescription* description, const FileDesc* file,
                          CErrorContext* errors) {
  if (file == nullptr || file->items == nullptr) return 1;
  for (uint32_t i = 0; i < file->item_count; ++i) {
    const FileItem& item = file->items[i];
    if (item.key_flags == 0) continue;
    const std::u16string_view item_name = framework::HostText(item.name);
    const std::u16string_view named = framework::HostText(item.index_file);
    const std::u16string index_name =
        named.empty()
            ? DefaultIndexFileName(description->file_name(), item_name)
            : std::u16string(named);
    const std::u16string index_path =
        IndexPathOf(description->path(), index_name);
    if (AssociateIndexFile(description, description->path(), index_path,
                           item_name, false, nullptr,
                           named.empty() ? nullptr : errors) == 1)
      continue;
    if (!named.empty()) return 0;
  }
  return 1;
}

namespace {

// A file name without directory and extension, in upper case (names of
// files compare without regard to case).
std::u16string UpperBase(std::u16string_view name) {
  const size_t slash = name.find_last_of(u"/\\");
  if (slash != std::u16string_view::npos) name.remove_prefix(slash + 1);
  name = name.substr(0, name.rfind(u'.'));
  std::u16string out(name);
  for (char16_t& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return out;
}

// The table an index file's base name names: the longest table base B with
// base == B or base starting with B + "_"; empty when none does.
std::u16string OwnerOf(const std::u16string& base,
                       const std::vector<std::u16string>& tables) {
  std::u16string owner;
  for (const std::u16string& table : tables) {
    if (table.size() <= owner.size()) continue;
    if (base == table || base.starts_with(table + u"_")) owner = table;
  }
  return owner;
}

}  // namespace

void AssociateIndexesBeside(CXBaseDescription* description) {
  const std::u16string& path = description->path();
  const XbaseDialect dialect = description->dialect();
  if (dialect == kKbdDbase4 || dialect == kKbdVisualFoxpro) {
    const PathParts parts = SplitPath(path);
    const std::u16string production =
        JoinPath(parts.drive + parts.directory, parts.name,
                 platform::AnsiToUtf16(IndexExtension(dialect)));
    // The production index is the table's own: its keys are analysed
    // leniently, like those the host names.
    if (TableFileExists(production)) {
      AssociateIndexFile(description, path, production, u"", false, nullptr,
                         nullptr);
    }
    return;
  }
  const PathParts parts = SplitPath(path);
  std::u16string directory = parts.drive + parts.directory;
  if (directory.empty()) directory = u".";
  if (directory.size() > 1 &&
      (directory.back() == u'\\' || directory.back() == u'/'))
    directory.pop_back();
  std::vector<std::u16string> names;
  platform::FileSearch search;
  platform::FoundFile found;
  for (bool more = search.First(directory + u"\\*.??x", &found); more;
       more = search.Next(&found)) {
    names.push_back(found.name);
  }
  search.Close();
  // The data files of the directory, by base name: an index file named
  // after another table is that table's even when its keys read fields of
  // the same names (a production MDX or CDX, TABLE_NAME.ntx, ...).
  std::vector<std::u16string> tables;
  for (bool more = search.First(directory + u"\\*.dbf", &found); more;
       more = search.Next(&found)) {
    tables.push_back(UpperBase(found.name));
  }
  search.Close();
  const std::u16string own = UpperBase(parts.name);
  for (const std::u16string& name : names) {
    const std::u16string owner = OwnerOf(UpperBase(name), tables);
    if (!owner.empty() && owner != own) continue;
    AssociateIndexFile(description, path, directory + u"\\" + name, u"", true,
                       nullptr, nullptr);
  }
}

}  // namespace qx::access
