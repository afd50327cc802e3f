// The verbs that create and maintain tables through the component:
//   qxdb new TABLE.dbf --family F --item NAME:TYPE:LEN[:DEC][:KEY]...
//   qxdb reindex TABLE.dbf [--pack] [--index FILE[:KEY]]...
// Their forms are written down in docs/qxdb.md.
#include <charconv>
#include <iostream>
#include <string>
#include <vector>

#include "host/qxdb/commands.h"
#include "host/qxdb/component_record.h"
#include "host/qxdb/progress.h"
#include "host/qxdb/table.h"
#include "platform/platform.h"
#include "qx/host_types.h"

namespace qx::qxdb {
namespace {

struct Named {
  const char* name;
  uint32_t code;
};

constexpr Named kFamilies[] = {
    {"dbase3", kFileTypeDbase3},     {"dbase4", kFileTypeDbase4},
    {"foxbase", kFileTypeFoxPro},    {"clipper", kFileTypeClipper},
    {"clipper5", kFileTypeClipper5}, {"foxpro2", kFileTypeFoxPro2},
    {"vfp", kFileTypeVisualFoxPro},
};

// Host item types by the names `describe` prints.
constexpr Named kItemTypes[] = {
    {"text", kItemText},
    {"int8", kItemInt8},
    {"int16", kItemInt16},
    {"int32", kItemInt32},
    {"int64", kItemInt64},
    {"real8", kItemReal8},
    {"currency", kItemCurrency},
    {"date", kItemDate},
    {"datetime", kItemDateTime},
    {"text_memo", kItemTextMemo},
    {"binary_memo", kItemBinaryMemo},
    {"boolean", kItemBoolean},
    {"logical", kItemLogical},
};

// The KEY part of an item: a key, a unique key or a descending key.
constexpr Named kKeyKinds[] = {
    {"key", kKeyDuplicates | kKeyAscending},
    {"unique", kKeyUnique | kKeyAscending},
    {"descending", kKeyDuplicates | kKeyDescending},
};

template <size_t N>
bool Find(const Named (&table)[N], std::string_view name, uint32_t* code) {
  for (const Named& n : table) {
    if (name == n.name) {
      *code = n.code;
      return true;
    }
  }
  return false;
}

bool ParseNumber(std::string_view text, uint32_t* value) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) return parts;
    start = colon + 1;
  }
}

// NAME:TYPE:LEN[:DEC][:KEY]: LEN is a text's characters or a number's
// integer digits (0 for the types whose size is fixed).
bool ParseItem(const std::string& text, host::NewItem* item) {
  std::vector<std::string> parts = Split(text);
  if (parts.size() < 3 || parts.size() > 5 || parts[0].empty()) return false;
  uint32_t type = 0, length = 0, decimals = 0, key = 0;
  if (!Find(kItemTypes, parts[1], &type) || !ParseNumber(parts[2], &length))
    return false;
  if (parts.size() >= 4) {
    const std::string& last = parts.back();
    if (Find(kKeyKinds, last, &key)) parts.pop_back();
  }
  if (parts.size() == 4 && !parts[3].empty() &&
      !ParseNumber(parts[3], &decimals))
    return false;
  if (parts.size() > 4 || length > 0xFFFF || decimals > 0xFF) return false;
  *item = host::NewItem();
  item->name = platform::Utf8ToUtf16(parts[0]);
  item->item_type = static_cast<uint8_t>(type);
  item->length = length;
  item->digits = static_cast<uint16_t>(length);
  item->decimals = static_cast<uint16_t>(decimals);
  item->key_flags = key;
  return true;
}

}  // namespace

int CmdNew(Invocation& inv) {
  if (!inv.Parse({"family", "item"}, {})) return kExitUsage;
  const std::optional<std::string> family = inv.Option("family");
  const std::vector<std::string> item_texts = inv.Options("item");
  if (inv.positionals().size() != 1 || !family || item_texts.empty())
    return inv.Usage(
        "usage: qxdb new TABLE.dbf --family F --item "
        "NAME:TYPE:LEN[:DEC][:KEY]...");
  uint32_t file_format = 0;
  if (!Find(kFamilies, *family, &file_format))
    return inv.Usage("unknown family " + *family);
  std::vector<host::NewItem> items;
  for (const std::string& text : item_texts) {
    host::NewItem item;
    if (!ParseItem(text, &item)) return inv.Usage("bad item " + text);
    items.push_back(std::move(item));
  }
  const std::string& path = inv.positionals()[0];
  ComponentSession component;
  if (!component.Start(inv, DirectoryOf(path), false)) return kExitFailure;
  if (!component.session().CreateTable(platform::Utf8ToUtf16(path), file_format,
                                       items))
    return component.Failure(inv, path);
  return kExitOk;
}

// Without --index the driver associates every index file of the directory
// whose keys read the table's fields; in a directory of several tables
// that can be another table's index, which a rebuild from this table
// would overwrite. A reindex by path therefore rebuilds only the table's
// own index files: those named after it (TABLE.ndx, TABLE_NAME.ntx,
// TABLE.cdx, ...) and its production MDX or CDX.
bool OwnIndex(std::u16string_view table_base, std::u16string_view index_path) {
  const size_t slash = index_path.find_last_of(u"/\\");
  std::u16string_view base = slash == std::u16string_view::npos
                                 ? index_path
                                 : index_path.substr(slash + 1);
  base = base.substr(0, base.rfind(u'.'));
  auto upper = [](std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out)
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return out;
  };
  const std::u16string name = upper(base), table = upper(table_base);
  return name == table || name.starts_with(table + u"_");
}

// The table's own index files of a table opened by path, to attach when
// it holds others too (empty when all are its own); the others are named
// on stderr.
std::vector<host::AttachedIndex> OwnIndexes(Invocation& inv,
                                            const std::string& path,
                                            const host::TableInfo& info,
                                            bool* others) {
  std::vector<host::AttachedIndex> own;
  *others = false;
  for (const host::ItemInfo& item : info.items) {
    if (item.key_number < 0 || item.index_path.empty()) continue;
    const size_t slash = item.index_path.find_last_of(u"/\\");
    const std::u16string file = slash == std::u16string::npos
                                    ? item.index_path
                                    : item.index_path.substr(slash + 1);
    if (!OwnIndex(info.file_name, file)) {
      *others = true;
      inv.err() << "qxdb: " << path << ": "
                << platform::Utf16ToUtf8(item.index_path)
                << " is not named after the table; left alone (name it with "
                   "--index to rebuild it)\n";
      continue;
    }
    const std::u16string full =
        platform::Utf8ToUtf16(DirectoryOf(path)) + u"/" + file;
    bool listed = false;
    for (const host::AttachedIndex& index : own) listed |= index.file == full;
    if (!listed) own.push_back({full, item.name});
  }
  return own;
}

int CmdReindex(Invocation& inv) {
  if (!inv.Parse({"index"}, {"pack"})) return kExitUsage;
  if (inv.positionals().size() != 1)
    return inv.Usage(
        "usage: qxdb reindex TABLE.dbf [--pack] [--index FILE[:KEY]]...");
  const std::string& path = inv.positionals()[0];
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  ComponentSession component;
  if (!component.Start(inv, DirectoryOf(path), false)) return kExitFailure;
  const std::vector<host::AttachedIndex> indexes =
      ParseIndexOptions(inv.Options("index"));
  std::unique_ptr<host::SessionTable> table =
      component.session().Open(platform::Utf8ToUtf16(path), indexes);
  if (table == nullptr) return component.Failure(inv, path);
  if (indexes.empty()) {
    bool others = false;
    std::vector<host::AttachedIndex> own =
        OwnIndexes(inv, path, table->info(), &others);
    if (others) {
      table.reset();
      if (own.empty())
        return inv.Fail(kExitFailure, path,
                        "no index file of its own to rebuild");
      table = component.session().Open(platform::Utf8ToUtf16(path), own);
      if (table == nullptr) return component.Failure(inv, path);
    }
  }
  bool done = false;
  {
    Progress progress(inv, "reindex");
    done = table->Maintain(
        inv.Flag("pack"),
        [&](uint32_t step, uint32_t total) { progress.Show(step, total); });
  }
  if (!done) return component.Failure(inv, path);
  return kExitOk;
}

}  // namespace qx::qxdb
