// The verbs that write tables through the component, as the host does:
//   qxdb add TABLE.dbf [--index FILE[:KEY]]... [--json OBJECT]
//   qxdb modify TABLE.dbf --record N [--index FILE[:KEY]]... [--json OBJECT]
//   qxdb remove TABLE.dbf --record N [--index FILE[:KEY]]...
// The object (from --json, else standard input) gives field values by
// name: strings and numbers reach the item through the host's conversions,
// true and false as logicals, null empties the field; the "_recno" and
// "_deleted" members `qxdb read` prints are passed over. Each verb prints
// the record as stored, as `qxdb read` prints it. The index files named
// are kept in step (every key, DUPLICATESON and DELETEINDEX of qxdbins.ini
// applying as for the host). modify and remove lock the record from its
// read to its write.
#include <cstdlib>
#include <istream>
#include <iterator>
#include <string>

#include "host/qxdb/commands.h"
#include "host/qxdb/component_record.h"
#include "host/qxdb/json.h"
#include "platform/platform.h"
#include "qx/host_types.h"

namespace qx::qxdb {
namespace {

using host::SessionTable;

// The values of the object into the table's record; 0 or the exit status
// of a usage failure (printed).
int ApplyValues(Invocation& inv, const JsonValue& object, SessionTable& table) {
  if (object.type != JsonValue::Type::kObject)
    return inv.Usage("the record must be a JSON object");
  for (const auto& [name, value] : object.object) {
    if (name == "_recno" || name == "_deleted") continue;
    const size_t i = table.record().Find(platform::Utf8ToUtf16(name));
    if (i >= table.record().size()) return inv.Usage("no field " + name);
    bool ok = true;
    switch (value.type) {
      case JsonValue::Type::kNull: {
        RecordItem* item = table.mutable_record().mutable_item(i);
        if (table.record().IsMemo(i)) {
          HostValue empty;
          empty.type = item->value_type;
          table.mutable_record().SetMemo(i, empty);
        } else {
          item->length = 0;
          if (IsTextValueType(item->value_type) && item->capacity > 0)
            static_cast<char*>(item->buffer)[0] = '\0';
        }
        break;
      }
      case JsonValue::Type::kBool: {
        HostValue logical;
        logical.type = kValueBoolean;
        logical.size = 1;
        logical.fixed.bytes[0] = value.boolean ? 1 : 0;
        ok = table.SetValue(i, logical);
        break;
      }
      case JsonValue::Type::kNumber:
        ok = table.SetText(i, platform::Utf8ToUtf16(value.number_text));
        break;
      case JsonValue::Type::kString:
        ok = table.SetText(i, platform::Utf8ToUtf16(value.string));
        break;
      default:
        ok = false;
        break;
    }
    if (!ok) return inv.Usage("field " + name + ": the value does not convert");
  }
  return kExitOk;
}

// The record number of --record.
bool RecordOption(Invocation& inv, uint32_t* recno) {
  const std::optional<std::string> text = inv.Option("record");
  if (!text) return false;
  char* end = nullptr;
  const unsigned long n = std::strtoul(text->c_str(), &end, 10);
  if (text->empty() || *end != '\0' || n == 0 || n > UINT32_MAX) return false;
  *recno = static_cast<uint32_t>(n);
  return true;
}

int ReadObject(Invocation& inv, JsonValue* object) {
  std::string text;
  if (std::optional<std::string> given = inv.Option("json")) {
    text = *given;
  } else {
    text.assign(std::istreambuf_iterator<char>(inv.in()),
                std::istreambuf_iterator<char>());
  }
  std::string error;
  if (!ParseJson(text, object, &error)) return inv.Usage("bad JSON: " + error);
  return kExitOk;
}

enum class Verb { kAdd, kModify, kRemove };

int RunWrite(Invocation& inv, Verb verb) {
  const bool takes_object = verb != Verb::kRemove;
  const std::vector<std::string_view> options =
      takes_object ? std::vector<std::string_view>{"index", "json", "record"}
                   : std::vector<std::string_view>{"index", "record"};
  if (!inv.Parse(options, {})) return kExitUsage;
  static const char* const kUsages[] = {
      "usage: qxdb add TABLE.dbf [--index FILE[:KEY]]... [--json OBJECT]",
      ("usage: qxdb modify TABLE.dbf --record N [--index FILE[:KEY]]... "
       "[--json OBJECT]"),
      "usage: qxdb remove TABLE.dbf --record N [--index FILE[:KEY]]..."};
  const char* usage = kUsages[static_cast<int>(verb)];
  uint32_t recno = 0;
  if (inv.positionals().size() != 1) return inv.Usage(usage);
  if (verb != Verb::kAdd && !RecordOption(inv, &recno)) return inv.Usage(usage);
  if (verb == Verb::kAdd && inv.Option("record")) return inv.Usage(usage);
  const std::string& path = inv.positionals()[0];
  JsonValue object;
  if (takes_object) {
    if (int rc = ReadObject(inv, &object)) return rc;
  }
  ComponentSession component;
  std::unique_ptr<SessionTable> table;
  if (int rc = OpenComponentTable(inv, path, true, &component, &table))
    return rc;
  if (verb != Verb::kAdd) {
    // A well-behaved writer: the record stays locked from its read to its
    // write, so a record another program holds is refused, not overwritten.
    // The lock ends with the table's close.
    uint32_t count = 0;
    if (!table->RecordCount(&count)) return component.Failure(inv, path);
    if (recno > count)
      return inv.Fail(kExitNotFound, path,
                      "no record " + std::to_string(recno));
    if (!table->LockRecord(recno, 2)) return component.Failure(inv, path);
    if (!table->Read(recno)) return component.Failure(inv, path);
    if (table->out_of_file())
      return inv.Fail(kExitNotFound, path,
                      "no record " + std::to_string(recno));
  } else {
    table->mutable_record().Clear();
  }
  if (takes_object) {
    if (int rc = ApplyValues(inv, object, *table)) return rc;
  }
  bool done = false;
  switch (verb) {
    case Verb::kAdd:
      done = table->Add(&recno);
      break;
    case Verb::kModify:
      done = table->Modify(recno);
      break;
    case Verb::kRemove:
      done = table->Delete(recno);
      break;
  }
  if (!done) return component.Failure(inv, path);
  if (!table->Read(recno)) return component.Failure(inv, path);
  return PrintComponentRecord(inv, path, component.session(), *table)
             ? kExitOk
             : kExitNotFound;
}

}  // namespace

int CmdAdd(Invocation& inv) { return RunWrite(inv, Verb::kAdd); }
int CmdModify(Invocation& inv) { return RunWrite(inv, Verb::kModify); }
int CmdRemove(Invocation& inv) { return RunWrite(inv, Verb::kRemove); }

}  // namespace qx::qxdb
