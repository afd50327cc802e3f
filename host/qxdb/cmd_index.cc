// The index subcommands of qxdb: index (build), keys (walk), seek and
// check.
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/qxdb/commands.h"
#include "host/qxdb/index_file.h"
#include "host/qxdb/record_printer.h"
#include "host/qxdb/table.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::qxdb {

int CmdIndex(Invocation& inv) {
  if (!inv.Parse({"expr", "tag", "for"},
                 {"unique", "descending", "compact", "no-sync"}))
    return kExitUsage;
  if (inv.positionals().size() != 2 || !inv.Option("expr"))
    return inv.Usage(
        "usage: qxdb index TABLE.dbf INDEXFILE --expr EXPR [--tag NAME] "
        "[--unique] [--descending] [--compact] [--for EXPR]");
  if (inv.Flag("no-sync")) kbdsetsync(0);
  const std::string& path = inv.positionals()[0];
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  Table table;
  int16_t status = table.Open(path, true);
  if (status < 0) return inv.EngineFailure(path, status);
  BuildOptions options;
  options.tag = inv.Option("tag");
  options.unique = inv.Flag("unique");
  options.descending = inv.Flag("descending");
  options.compact = inv.Flag("compact");
  options.for_expression = inv.Option("for").value_or("");
  return BuildIndex(inv, table, inv.positionals()[1], *inv.Option("expr"),
                    options);
}

int CmdKeys(Invocation& inv) {
  if (!inv.Parse({"tag", "table", "codepage"}, {})) return kExitUsage;
  if (inv.positionals().size() != 1)
    return inv.Usage(
        "usage: qxdb keys INDEXFILE [--tag NAME] [--table TABLE.dbf]");
  std::optional<int> code_page = ParseCodePage(inv.Option("codepage"));
  if (!code_page)
    return inv.Usage("unknown code page " + *inv.Option("codepage"));
  Table table;
  Table* typed_by = nullptr;
  if (std::optional<std::string> t = inv.Option("table")) {
    int16_t status = table.Open(*t, false);
    if (status < 0) return inv.EngineFailure(*t, status);
    typed_by = &table;
  }
  std::unique_ptr<IndexFile> index;
  const std::string& path = inv.positionals()[0];
  if (int rc =
          OpenIndexFor(inv, path, inv.Option("tag"), false, typed_by, &index))
    return rc;
  std::string key;
  uint32_t recno = 0;
  std::string out;
  int16_t status;
  for (status = index->First(&key, &recno); status == kKbdOk;
       status = index->Next(&key, &recno)) {
    out += std::to_string(recno);
    out += '\t';
    out += index->KeyText(key, *code_page);
    out += '\n';
    if (out.size() > (1u << 16)) {
      inv.out() << out;
      out.clear();
    }
  }
  inv.out() << out;
  if (status < 0) return inv.EngineFailure(path, status);
  return kExitOk;
}

int CmdSeek(Invocation& inv) {
  if (!inv.Parse({"tag", "codepage"}, {"soft"})) return kExitUsage;
  if (inv.positionals().size() != 3)
    return inv.Usage(
        "usage: qxdb seek TABLE.dbf INDEXFILE [--tag NAME] [--soft] VALUE");
  std::optional<int> code_page = ParseCodePage(inv.Option("codepage"));
  if (!code_page)
    return inv.Usage("unknown code page " + *inv.Option("codepage"));
  const std::string& path = inv.positionals()[0];
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  Table table;
  int16_t status = table.Open(path, false);
  if (status < 0) return inv.EngineFailure(path, status);
  std::unique_ptr<IndexFile> index;
  const std::string& index_path = inv.positionals()[1];
  if (int rc = OpenIndexFor(inv, index_path, inv.Option("tag"), false, &table,
                            &index))
    return rc;
  std::string value = inv.positionals()[2];
  if (index->key_type() == 'C')
    value = platform::EncodeCodePage(platform::Utf8ToUtf16(value), *code_page);
  std::string key;
  if (!index->SeekKey(value, &key))
    return inv.Usage(index->key_type() == 'D'
                         ? "a date key is sought as YYYYMMDD (blank: empty)"
                         : "a numeric key is sought as a number");
  std::string found;
  uint32_t recno = 0;
  status = inv.Flag("soft") ? index->SoftSeek(key, &found, &recno)
                            : index->Seek(key, &found, &recno);
  if (status < 0) return inv.EngineFailure(index_path, status);
  if (status != kKbdOk)
    return inv.Fail(kExitNotFound, index_path,
                    (inv.Flag("soft") ? "no key at or after " : "no key ") +
                        inv.positionals()[2]);
  kbdseterror(0);
  kbdsetdatefmt(4);
  RecordPrinter printer(inv, table, *code_page);
  return PrintRecord(inv, table, printer, recno, true);
}

int CmdCheck(Invocation& inv) {
  if (!inv.Parse({"tag"}, {})) return kExitUsage;
  if (inv.positionals().size() != 2)
    return inv.Usage("usage: qxdb check TABLE.dbf INDEXFILE [--tag NAME]");
  const std::string& path = inv.positionals()[0];
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  Table table;
  int16_t status = table.Open(path, false);
  if (status < 0) return inv.EngineFailure(path, status);
  std::unique_ptr<IndexFile> index;
  const std::string& index_path = inv.positionals()[1];
  if (int rc = OpenIndexFor(inv, index_path, inv.Option("tag"), false, &table,
                            &index))
    return rc;

  // The tree, and every entry in key order.
  std::vector<std::string> problems;
  std::map<uint32_t, std::string> entries;  // recno -> stored key
  uint64_t keys = 0;
  status = index->Check(
      &problems, &keys, [&](const std::string& key, uint32_t recno) {
        if (!entries.emplace(recno, key).second)
          problems.push_back("record " + std::to_string(recno) +
                             " has more than one entry");
      });
  if (status < 0) return inv.EngineFailure(index_path, status);

  // One entry per record, deleted ones included, with the key its
  // expression gives.
  uint32_t count = table.info().record_count;
  for (uint32_t recno = 1; recno <= count; ++recno) {
    kbdseterror(0);
    status = kbddread(table.handle(), recno);
    if (status < 0) return inv.EngineFailure(path, status);
    std::string key;
    status = index->RecordKey(table.handle(), &key);
    if (status < 0) return inv.EngineFailure(index_path, status);
    auto it = entries.find(recno);
    if (status == kKbdKeyNotFound) {  // the record is outside a FOR filter
      if (it != entries.end()) {
        problems.push_back("record " + std::to_string(recno) +
                           " has an entry but fails the FOR condition");
        entries.erase(it);
      }
      continue;
    }
    if (it == entries.end()) {
      // A unique index holds one entry per key, the first record's: the
      // other records of a key have none, and the programs' upkeep does
      // not give them one when the record holding the key changes it (only
      // a rebuild does), so a record may lack an entry even when its key
      // is no longer in the index.
      if (index->leaves_records_out()) continue;
      problems.push_back("record " + std::to_string(recno) + " has no entry");
      continue;
    }
    if (!index->SameKey(it->second, key))
      problems.push_back("record " + std::to_string(recno) + ": entry '" +
                         index->KeyText(it->second, platform::kCodePageAnsi) +
                         "', its key is '" +
                         index->KeyText(key, platform::kCodePageAnsi) + "'");
    entries.erase(it);
  }
  for (const auto& [recno, key] : entries)
    problems.push_back("entry for record " + std::to_string(recno) +
                       ", which the table does not hold");
  if (!problems.empty()) {
    for (const std::string& p : problems) inv.out() << p << "\n";
    return kExitFailure;
  }
  inv.out() << "ok " << keys << " keys\n";
  return kExitOk;
}

}  // namespace qx::qxdb
