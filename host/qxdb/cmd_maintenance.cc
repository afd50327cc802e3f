// The verbs that create and maintain tables through the component:
//   qxdb new TABLE.dbf --family F --item NAME:TYPE:LEN[:DEC][:KEY]...
//   qxdb reindex TABLE.dbf [--pack] [--index FILE[:KEY]]...
// Their forms are written down in docs/qxdb.md.
#include <charconv>
#include <iostream>
#include <string>
#include <vector>

#include "host/qxdb/commands.h"
#include "host/qxdb/component_session.h"
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

// The progress of a reindex: a bar redrawn in place on a terminal, one
// line per step elsewhere.
class ProgressPrinter {
 public:
  ProgressPrinter(std::ostream& out, bool terminal)
      : out_(out), terminal_(terminal) {}
  ~ProgressPrinter() {
    if (terminal_ && drawn_) out_ << "\n";
  }
  void Show(uint32_t done, uint32_t total) {
    if (!terminal_) {
      out_ << "reindex: " << done << "/" << total << "\n";
      return;
    }
    constexpr uint32_t kWidth = 30;
    const uint32_t filled = total == 0 ? kWidth : done * kWidth / total;
    out_ << "\rreindex [" << std::string(filled, '#')
         << std::string(kWidth - filled, '.') << "] " << done << "/" << total
         << std::flush;
    drawn_ = true;
  }

 private:
  std::ostream& out_;
  bool terminal_;
  bool drawn_ = false;
};

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
  if (!component.session().CreateTable(platform::Utf8ToUtf16(path),
                                       file_format, items))
    return component.Failure(inv, path);
  return kExitOk;
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
  std::vector<host::IndexSpec> indexes;
  for (const std::string& option : inv.Options("index")) {
    host::IndexSpec spec;
    const size_t colon = option.rfind(':');
    spec.file = platform::Utf8ToUtf16(colon != std::string::npos && colon > 1
                                          ? option.substr(0, colon)
                                          : option);
    if (colon != std::string::npos && colon > 1)
      spec.key = platform::Utf8ToUtf16(option.substr(colon + 1));
    indexes.push_back(std::move(spec));
  }
  std::unique_ptr<host::SessionTable> table =
      component.session().Open(platform::Utf8ToUtf16(path), indexes);
  if (table == nullptr) return component.Failure(inv, path);
  bool done = false;
  {
    ProgressPrinter printer(inv.err(), &inv.err() == &std::cerr &&
                                           platform::StandardErrorIsTerminal());
    done = table->Maintain(
        inv.Flag("pack"),
        [&](uint32_t step, uint32_t total) { printer.Show(step, total); });
  }
  if (!done) return component.Failure(inv, path);
  return kExitOk;
}

}  // namespace qx::qxdb
