// The verbs that reach tables through the component, as the host does:
//   qxdb tables DIR [--full]
//   qxdb describe TABLE.dbf [--index FILE[:KEY]]...
//   qxdb read TABLE.dbf [--record N] [--index FILE[:KEY]]...
// The forms of their output are written down in docs/qxdb.md.
#include <functional>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "host/qxdb/base64.h"
#include "host/qxdb/commands.h"
#include "host/qxdb/component_record.h"
#include "host/qxdb/component_session.h"
#include "host/qxdb/json.h"
#include "host/qxdb/table.h"
#include "platform/platform.h"
#include "qx/host_types.h"

namespace qx::qxdb {
namespace {

using host::AttachedIndex;
using host::HostRecord;
using host::ItemInfo;
using host::SessionTable;

// The error the component reports for a missing memo file.
constexpr uint32_t kErrorNoFile = 1032;

std::string Utf8(std::u16string_view text) {
  return platform::Utf16ToUtf8(text);
}

// --index FILE[:KEY]: the key after the last ':' (a drive letter's colon
// stays with the file).
std::vector<AttachedIndex> ParseIndexes(
    const std::vector<std::string>& options) {
  std::vector<AttachedIndex> indexes;
  for (const std::string& option : options) {
    AttachedIndex index;
    const size_t colon = option.rfind(':');
    if (colon != std::string::npos && colon > 1) {
      index.file = platform::Utf8ToUtf16(option.substr(0, colon));
      index.key = platform::Utf8ToUtf16(option.substr(colon + 1));
    } else {
      index.file = platform::Utf8ToUtf16(option);
    }
    indexes.push_back(std::move(index));
  }
  return indexes;
}

const char* HostTypeName(uint8_t item_type) {
  switch (item_type) {
    case kItemText:
      return "text";
    case kItemInt16:
      return "int16";
    case kItemInt8:
      return "int8";
    case kItemInt32:
      return "int32";
    case kItemReal8:
      return "real8";
    case kItemDate:
      return "date";
    case kItemTextMemo:
      return "text_memo";
    case kItemCurrency:
      return "currency";
    case kItemBinaryMemo:
      return "binary_memo";
    case kItemInt64:
      return "int64";
    case kItemBinary:
      return "binary";
    case kItemDateTime:
      return "datetime";
    case kItemBoolean:
      return "boolean";
    case kItemDecimal:
      return "decimal";
    default:
      return "none";
  }
}

void WriteItem(JsonWriter* w, const ItemInfo& item) {
  w->BeginObject();
  w->Key("name");
  w->String(Utf8(item.name));
  w->Key("field");
  if (item.field_number >= 0) {
    w->Int(item.field_number);
  } else {
    w->Null();
  }
  w->Key("xbase_type");
  w->String(std::string(1, static_cast<char>(item.xbase_type)));
  w->Key("host_type");
  w->Int(item.item_type);
  w->Key("host_type_name");
  w->String(HostTypeName(item.item_type));
  w->Key("size");
  w->Int(item.size);
  if (item.xbase_type == 'N' || item.xbase_type == 'F') {
    w->Key("digits");
    w->Int(item.digits);
  }
  w->Key("decimals");
  w->Int(item.decimals);
  if (item.item_type == kItemTextMemo || item.item_type == kItemBinaryMemo) {
    w->Key("memo_path");
    w->String(Utf8(item.memo_path));
  }
  if (item.key_number >= 0) {
    w->Key("key");
    w->BeginObject();
    w->Key("number");
    w->Int(item.key_number);
    w->Key("flags");
    w->Int(item.key_flags);
    w->Key("unique");
    w->Bool((item.key_flags & kKeyUnique) != 0);
    w->Key("descending");
    w->Bool((item.key_flags & kKeyDescending) != 0);
    w->Key("not_a_field");
    w->Bool((item.key_flags & kKeyNotAField) != 0);
    w->Key("length");
    w->Int(item.key_length);
    w->Key("index_path");
    w->String(Utf8(item.index_path));
    w->Key("expression");
    w->String(Utf8(item.expression));
    w->EndObject();
  }
  w->EndObject();
}

// Opens the table of a command: the component started on the table's
// directory, the table opened by its path with the named index files.
int OpenForCommand(Invocation& inv, const std::string& path,
                   ComponentSession* component,
                   std::unique_ptr<SessionTable>* table) {
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  if (!component->Start(inv, DirectoryOf(path))) return kExitFailure;
  *table = component->session().Open(platform::Utf8ToUtf16(path),
                                     ParseIndexes(inv.Options("index")));
  if (*table == nullptr) return component->Failure(inv, path);
  return kExitOk;
}

// A text value of the VM's text form, as a JSON number or string.
void WriteVmText(JsonWriter* w, host::Session& session, const HostValue& value,
                 bool number) {
  std::u16string text;
  if (!session.ValueText(value, &text)) {
    w->Null();
  } else if (number) {
    w->Raw(Utf8(text));
  } else {
    w->String(Utf8(text));
  }
}

// Writes the value of item i of the record; false when a memo could not
// be read (named on stderr).
bool WriteValue(Invocation& inv, const std::string& path,
                host::Session& session, const HostRecord& record,
                const std::function<bool(size_t)>& read_memo, size_t i,
                JsonWriter* w) {
  const RecordItem& item = record.item(i);
  if (record.IsMemo(i)) {
    if (!read_memo(i)) {
      const host::HostError error = session.LastError();
      w->Null();
      if (error.id == kErrorNoFile) return true;
      inv.err() << "qxdb: " << path << ": record " << record.recno()
                << ", field " << Utf8(item.name) << ": error " << error.id
                << ": " << Utf8(error.message) << "\n";
      return false;
    }
    const HostValue value = record.Value(i);
    const char* bytes = static_cast<const char*>(value.data);
    if (value.type == kValueBinary) {
      w->BeginObject();
      w->Key("base64");
      w->String(Base64Encode(std::string_view(bytes, value.size)));
      w->EndObject();
    } else {
      std::u16string text;
      if (bytes != nullptr)
        text.assign(reinterpret_cast<const char16_t*>(bytes),
                    value.size / sizeof(char16_t));
      w->String(Utf8(text));
    }
    return true;
  }
  if (record.IsNull(i) || (item.flags & kRecordItemSkip) != 0) {
    w->Null();
    return true;
  }
  const HostValue value = record.Value(i);
  const uint8_t* fixed = value.fixed.bytes;
  switch (value.type) {
    case kValueText:
      w->String(Utf8(platform::AnsiToUtf16(
          std::string_view(static_cast<const char*>(value.data), value.size))));
      break;
    case kValueInt8:
      w->Int(static_cast<int8_t>(fixed[0]));
      break;
    case kValueInt16:
      w->Int(static_cast<int16_t>(engine::GetLe16(fixed)));
      break;
    case kValueInt32:
      w->Int(static_cast<int32_t>(engine::GetLe32(fixed)));
      break;
    case kValueInt64:
      w->Int(value.fixed.i64);
      break;
    case kValueDouble:
      w->Double(value.fixed.f64);
      break;
    case kValueBoolean:
      w->Bool(fixed[0] != 0);
      break;
    case kValueCurrency:
    case kValueDecimal:
      WriteVmText(w, session, value, true);
      break;
    case kValueDate:
    case kValueDateTime:
      if (engine::GetLe32(fixed) == 0) {
        w->Null();  // the empty date
      } else {
        WriteVmText(w, session, value, false);
      }
      break;
    case kValueBinary: {
      // Q values: a 16-bit little-endian length, then the bytes.
      const auto* p = static_cast<const uint8_t*>(value.data);
      size_t n = value.size >= 2 ? engine::GetLe16(p) : 0;
      n = std::min(n, value.size >= 2 ? value.size - size_t{2} : 0);
      w->BeginObject();
      w->Key("base64");
      w->String(Base64Encode(
          std::string_view(reinterpret_cast<const char*>(p) + 2, n)));
      w->EndObject();
      break;
    }
    default:
      w->Null();
      break;
  }
  return true;
}

}  // namespace

std::vector<AttachedIndex> ParseIndexOptions(
    const std::vector<std::string>& options) {
  return ParseIndexes(options);
}

bool WriteComponentRecord(Invocation& inv, const std::string& path,
                          host::Session& session, const HostRecord& record,
                          const std::function<bool(size_t)>& read_memo) {
  bool ok = true;
  JsonWriter w;
  w.BeginObject();
  w.Key("_recno");
  w.Int(record.recno());
  w.Key("_deleted");
  w.Bool(record.deleted());
  for (size_t i = 0; i < record.size(); ++i) {
    w.Key(Utf8(record.item(i).name));
    if (!WriteValue(inv, path, session, record, read_memo, i, &w)) ok = false;
  }
  w.EndObject();
  inv.out() << w.text() << "\n";
  return ok;
}

int CmdTables(Invocation& inv) {
  if (!inv.Parse({}, {"full"})) return kExitUsage;
  if (inv.positionals().size() != 1)
    return inv.Usage("usage: qxdb tables DIR [--full]");
  const std::string& directory = inv.positionals()[0];
  ComponentSession component;
  if (!component.Start(inv, directory)) return kExitFailure;
  std::u16string list;
  if (!component.session().ListTables(inv.Flag("full"), &list))
    return inv.Fail(kExitNotFound, directory, "no such directory");
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(u"\r\n", start);
    if (end == std::u16string::npos) end = list.size();
    inv.out() << Utf8(list.substr(start, end - start)) << "\n";
    start = end + 2;
  }
  return kExitOk;
}

int CmdDescribe(Invocation& inv) {
  if (!inv.Parse({"index"}, {})) return kExitUsage;
  if (inv.positionals().size() != 1)
    return inv.Usage("usage: qxdb describe TABLE.dbf [--index FILE[:KEY]]...");
  const std::string& path = inv.positionals()[0];
  ComponentSession component;
  std::unique_ptr<SessionTable> table;
  if (int rc = OpenForCommand(inv, path, &component, &table)) return rc;
  const host::TableInfo& info = table->info();
  JsonWriter w;
  w.BeginObject();
  w.Key("table");
  w.String(Utf8(info.name));
  w.Key("path");
  w.String(Utf8(info.path));
  w.Key("file_type");
  w.Int(info.file_type);
  w.Key("items");
  w.BeginArray();
  for (const ItemInfo& item : info.items) WriteItem(&w, item);
  w.EndArray();
  w.Key("keys");
  w.BeginArray();
  for (const std::u16string& key : info.keys) w.String(Utf8(key));
  w.EndArray();
  w.EndObject();
  inv.out() << w.text() << "\n";
  return kExitOk;
}

int CmdRead(Invocation& inv) {
  if (!inv.Parse({"index", "record"}, {})) return kExitUsage;
  if (inv.positionals().size() != 1)
    return inv.Usage(
        "usage: qxdb read TABLE.dbf [--record N] [--index FILE[:KEY]]...");
  const std::string& path = inv.positionals()[0];
  uint32_t first = 1;
  uint32_t last = 0;
  if (std::optional<std::string> record = inv.Option("record")) {
    char* end = nullptr;
    const unsigned long n = std::strtoul(record->c_str(), &end, 10);
    if (record->empty() || *end != '\0' || n == 0 || n > UINT32_MAX)
      return inv.Usage("--record takes a record number from 1");
    first = last = static_cast<uint32_t>(n);
  }
  ComponentSession component;
  std::unique_ptr<SessionTable> table;
  if (int rc = OpenForCommand(inv, path, &component, &table)) return rc;
  if (last == 0 && !table->RecordCount(&last))
    return component.Failure(inv, path);
  int rc = kExitOk;
  for (uint32_t recno = first; recno <= last; ++recno) {
    if (!table->Read(recno)) {
      component.Failure(inv, path);
      rc = kExitFailure;
      continue;
    }
    if (table->out_of_file()) {
      return inv.Fail(kExitNotFound, path,
                      "no record " + std::to_string(recno));
    }
    if (!WriteComponentRecord(inv, path, component.session(), table->record(),
                              [&](size_t i) { return table->ReadMemo(i); }))
      rc = kExitNotFound;
  }
  return rc;
}

int OpenComponentTable(Invocation& inv, const std::string& path, bool writable,
                       ComponentSession* component,
                       std::unique_ptr<SessionTable>* table) {
  if (!writable) return OpenForCommand(inv, path, component, table);
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  if (!component->Start(inv, DirectoryOf(path), false)) return kExitFailure;
  *table = component->session().Open(platform::Utf8ToUtf16(path),
                                     ParseIndexes(inv.Options("index")));
  if (*table == nullptr) return component->Failure(inv, path);
  return kExitOk;
}

bool PrintComponentRecord(Invocation& inv, const std::string& path,
                          host::Session& session, SessionTable& table) {
  return WriteComponentRecord(inv, path, session, table.record(),
                              [&table](size_t i) { return table.ReadMemo(i); });
}

}  // namespace qx::qxdb
