// Browsing and seeking through the component, as the host does:
//   qxdb browse TABLE.dbf [--key ITEM] [--index FILE[:KEY]]... [--from V]
//        [--to V] [--reverse] [--filter ITEM=V|ITEM>V...] [--limit N]
//   qxdb find TABLE.dbf --key ITEM VALUE [--generic] [--index FILE[:KEY]]...
// Records print as qxdb read prints them, one JSON line each; the forms
// are written down in docs/qxdb.md.
#include <cstdlib>
#include <string>
#include <vector>

#include "host/hostlib/session.h"
#include "host/qxdb/commands.h"
#include "host/qxdb/component_record.h"
#include "host/qxdb/component_session.h"
#include "platform/platform.h"
#include "qx/host_types.h"

namespace qx::qxdb {
namespace {

using host::BrowseConditions;
using host::ItemInfo;
using host::SessionBrowse;
using host::SessionTable;

// The comparison operators of --filter, the two-character ones first.
struct FilterOperator {
  const char* text;
  uint32_t kind;
};
constexpr FilterOperator kFilterOperators[] = {
    {">=", kConditionGreaterOrEqual}, {"<=", kConditionLessOrEqual},
    {"!=", kConditionNotEqual},       {"=", kConditionEqual},
    {">", kConditionGreater},         {"<", kConditionLess},
};

// The host value type a condition on the item compares in: the item's own
// bound type for a field, text for a key of no field (its key image is
// made from the text).
uint8_t ConditionType(const SessionTable& table, std::u16string_view item) {
  for (const ItemInfo& info : table.info().items) {
    if (info.field_number < 0 || info.name != item) continue;
    return host::BoundValueType(info.item_type);
  }
  return kValueNone;
}

// ITEM<op>VALUE; "ITEM=TEXT*" compares a prefix. Null after printing why.
const Condition* ParseFilter(Invocation& inv, const SessionTable& table,
                             BrowseConditions* conditions,
                             const std::string& text) {
  for (const FilterOperator& op : kFilterOperators) {
    const size_t at = text.find(op.text);
    if (at == std::string::npos || at == 0) continue;
    // The first operator of the text decides ("A>=B": ">=", not "=").
    if (text.find_first_of("<>=!") != at) continue;
    const std::u16string item = platform::Utf8ToUtf16(text.substr(0, at));
    std::string value = text.substr(at + std::string(op.text).size());
    bool generic = false;
    if ((op.kind == kConditionEqual || op.kind == kConditionNotEqual) &&
        !value.empty() && value.back() == '*') {
      generic = true;
      value.pop_back();
    }
    uint8_t type = ConditionType(table, item);
    if (generic) type = kValueNone;
    const Condition* node = conditions->Compare(
        op.kind, item, platform::Utf8ToUtf16(value), type, generic);
    if (node == nullptr)
      inv.Usage("--filter " + text + ": not a value of the item");
    return node;
  }
  inv.Usage(
      "--filter takes ITEM=V, ITEM!=V, ITEM>V, ITEM>=V, ITEM<V or ITEM<=V");
  return nullptr;
}

// Prints the record the browse stands on.
bool Print(Invocation& inv, const std::string& path,
           ComponentSession& component, SessionBrowse& browse) {
  return WriteComponentRecord(inv, path, component.session(), browse.record(),
                              [&](size_t i) { return browse.ReadMemo(i); });
}

}  // namespace

int CmdBrowse(Invocation& inv) {
  if (!inv.Parse({"index", "key", "from", "to", "filter", "limit"},
                 {"reverse"}))
    return kExitUsage;
  if (inv.positionals().size() != 1)
    return inv.Usage(
        "usage: qxdb browse TABLE.dbf [--key ITEM] [--index FILE[:KEY]]... "
        "[--from V] [--to V] [--reverse] [--filter ITEM=V|ITEM>V...] "
        "[--limit N]");
  const std::string& path = inv.positionals()[0];
  const std::u16string key =
      platform::Utf8ToUtf16(inv.Option("key").value_or(""));
  if (key.empty() && (inv.Option("from") || inv.Option("to")))
    return inv.Usage("--from and --to need --key");
  uint64_t limit = UINT64_MAX;
  if (std::optional<std::string> text = inv.Option("limit")) {
    char* end = nullptr;
    limit = std::strtoull(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0')
      return inv.Usage("--limit takes a number of records");
  }
  ComponentSession component;
  std::unique_ptr<SessionTable> table;
  if (int rc = OpenComponentTable(inv, path, false, &component, &table))
    return rc;

  BrowseConditions conditions(&component.session());
  const Condition* range = nullptr;
  if (std::optional<std::string> from = inv.Option("from"))
    range = conditions.Compare(kConditionGreaterOrEqual, key,
                               platform::Utf8ToUtf16(*from));
  if (std::optional<std::string> to = inv.Option("to")) {
    const Condition* upper = conditions.Compare(kConditionLessOrEqual, key,
                                                platform::Utf8ToUtf16(*to));
    range = range == nullptr ? upper : conditions.And(range, upper);
  }
  const Condition* filter = nullptr;
  for (const std::string& text : inv.Options("filter")) {
    const Condition* node = ParseFilter(inv, *table, &conditions, text);
    if (node == nullptr) return kExitUsage;
    filter = filter == nullptr ? node : conditions.And(filter, node);
  }
  std::unique_ptr<SessionBrowse> browse =
      table->Browse({.key = key, .range = range, .filter = filter});
  if (browse == nullptr) return component.Failure(inv, path);
  const bool reverse = inv.Flag("reverse");
  int rc = kExitOk;
  uint64_t printed = 0;
  bool ok = reverse ? browse->Last() : browse->First();
  while (ok && !browse->out_of_file() && printed < limit) {
    if (!Print(inv, path, component, *browse)) rc = kExitNotFound;
    ++printed;
    ok = reverse ? browse->Previous() : browse->Next();
  }
  if (!ok) return component.Failure(inv, path);
  return rc;
}

int CmdFind(Invocation& inv) {
  if (!inv.Parse({"index", "key"}, {"generic"})) return kExitUsage;
  if (inv.positionals().size() != 2 || !inv.Option("key"))
    return inv.Usage(
        "usage: qxdb find TABLE.dbf --key ITEM VALUE [--generic] "
        "[--index FILE[:KEY]]...");
  const std::string& path = inv.positionals()[0];
  const std::u16string value = platform::Utf8ToUtf16(inv.positionals()[1]);
  ComponentSession component;
  std::unique_ptr<SessionTable> table;
  if (int rc = OpenComponentTable(inv, path, false, &component, &table))
    return rc;
  std::unique_ptr<SessionBrowse> browse =
      table->Browse({.key = platform::Utf8ToUtf16(*inv.Option("key"))});
  if (browse == nullptr) return component.Failure(inv, path);
  HostValue sought;
  sought.type = kValueUnicodeText;
  sought.size = static_cast<uint32_t>(value.size() * sizeof(char16_t));
  sought.data = value.data();
  host::SeekResult result;
  if (!browse->Seek(sought, !inv.Flag("generic"), &result))
    return component.Failure(inv, path);
  if (!result.found)
    return inv.Fail(kExitNotFound, path, "no key " + inv.positionals()[1]);
  return Print(inv, path, component, *browse) ? kExitOk : kExitNotFound;
}

}  // namespace qx::qxdb
