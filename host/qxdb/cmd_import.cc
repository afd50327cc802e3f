// qxdb import TABLE.dbf < records.jsonl: appends one record per JSON
// object, writing memo values into the memo file. Members are field names;
// "_deleted": true marks the new record deleted; "_recno" is ignored (so a
// dump imports back). Missing members and null leave the field blank.
#include <cmath>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "host/qxdb/base64.h"
#include "host/qxdb/commands.h"
#include "host/qxdb/index_file.h"
#include "host/qxdb/json.h"
#include "host/qxdb/progress.h"
#include "host/qxdb/table.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::qxdb {
namespace {

class RecordLoader {
 public:
  RecordLoader(Invocation& inv, Table& table, int code_page,
               std::vector<std::unique_ptr<IndexFile>>& indexes)
      : inv_(inv), table_(table), code_page_(code_page), indexes_(indexes) {}

  // Appends the record of one JSON line; answers an exit status.
  int Load(std::string_view line, int line_no) {
    where_ = table_.path() + ":" + std::to_string(line_no);
    JsonValue record;
    std::string error;
    if (!ParseJson(line, &record, &error))
      return inv_.Fail(kExitUsage, where_, "bad JSON: " + error);
    if (record.type != JsonValue::Type::kObject)
      return inv_.Fail(kExitUsage, where_, "a record must be a JSON object");
    int16_t handle = table_.handle();
    kbdseterror(0);
    if (int16_t s = kbddblankrec(handle); s < 0) return Engine(s);
    bool deleted = false;
    for (const auto& [key, value] : record.object) {
      if (key == "_recno") continue;
      if (key == "_deleted") {
        deleted = value.type == JsonValue::Type::kBool && value.boolean;
        continue;
      }
      std::string name = Bytes(key);
      int16_t field = -1;
      kbdseterror(0);
      if (kbddfieldno(handle, &field, name.c_str()) < 0)
        return inv_.Fail(kExitUsage, where_, "no field " + key);
      if (int rc = Put(field, table_.fields()[static_cast<std::size_t>(field)],
                       key, value);
          rc != kExitOk)
        return rc;
    }
    uint32_t recno = 0;
    kbdseterror(0);
    if (int16_t s = kbddwrite(handle, &recno, kKbdWriteAppend); s < 0)
      return Engine(s);
    // The deletion mark first (it leaves the record in the buffer), so
    // that FOR conditions see it.
    if (deleted) {
      kbdseterror(0);
      if (int16_t s = kbdddelete(handle, recno); s < 0) return Engine(s);
    }
    // Every named index in step: the key of the new record, then add.
    for (auto& index : indexes_) {
      std::string key;
      int16_t s = index->RecordKey(handle, &key);
      if (s < 0) return Engine(s);
      if (s == kKbdKeyNotFound) continue;  // outside the tag's FOR condition
      if (s = index->Add(key, recno); s < 0) return Engine(s);
    }
    return kExitOk;
  }

 private:
  std::string Bytes(std::string_view utf8) const {
    return platform::EncodeCodePage(platform::Utf8ToUtf16(utf8), code_page_);
  }

  int Engine(int16_t status) { return inv_.EngineFailure(where_, status); }

  int Mismatch(const std::string& key, const char* expected) {
    return inv_.Fail(kExitUsage, where_,
                     "field " + key + ": expected " + expected);
  }

  // Warnings (truncated text, rounded number) are reported and kept.
  int Checked(int16_t status) {
    if (status < 0) return Engine(status);
    if (status > 0) inv_.EngineWarning(where_, status);
    return kExitOk;
  }

  int PutMemo(int16_t field, const std::string& key, const JsonValue& value) {
    std::string bytes;
    bool binary = false;
    if (value.type == JsonValue::Type::kString) {
      bytes = Bytes(value.string);
    } else if (const JsonValue* b64 = value.type == JsonValue::Type::kObject
                                          ? value.Find("base64")
                                          : nullptr;
               b64 && b64->type == JsonValue::Type::kString) {
      if (!Base64Decode(b64->string, &bytes)) return Mismatch(key, "base64");
      binary = true;
    } else {
      return Mismatch(key, "text or {\"base64\": ...}");
    }
    if (bytes.empty()) return kExitOk;  // no memo: block 0 (blank)
    if (!table_.memo_open())
      return inv_.Fail(kExitFailure, where_, "no memo file for field " + key);
    uint32_t block = 0;
    if (int16_t s = table_.WriteMemo(bytes, binary, &block); s < 0)
      return inv_.EngineFailure(table_.memo_path(), s);
    kbdseterror(0);
    return Checked(kbddsetmemoblock(table_.handle(), field, block));
  }

  int Put(int16_t field, const KbdFieldDef& def, const std::string& key,
          const JsonValue& value) {
    if (value.type == JsonValue::Type::kNull) return kExitOk;
    int16_t handle = table_.handle();
    char type = static_cast<char>(def.type);
    bool is_string = value.type == JsonValue::Type::kString;
    bool is_number = value.type == JsonValue::Type::kNumber;
    kbdseterror(0);
    switch (type) {
      case 'C':
      case 'V': {
        if (!is_string) return Mismatch(key, "text");
        return Checked(kbddput(handle, field, Bytes(value.string).c_str()));
      }
      case 'D': {
        if (!is_string) return Mismatch(key, "\"YYYYMMDD\"");
        return Checked(kbddput(handle, field, value.string.c_str()));
      }
      case 'T': {
        if (!is_string || value.string.size() < 14)
          return Mismatch(key, "\"YYYYMMDDHHMMSS\"");
        std::string text = value.string.substr(0, 17);
        text.resize(17, '0');
        return Checked(kbddput(handle, field, text.c_str()));
      }
      case 'L': {
        if (value.type != JsonValue::Type::kBool)
          return Mismatch(key, "true or false");
        char c = value.boolean ? 'T' : 'F';
        return Checked(kbddput(handle, field, &c));
      }
      case 'I': {
        if (!is_number || value.number != std::floor(value.number) ||
            std::fabs(value.number) > 2147483648.0)
          return Mismatch(key, "a 32-bit integer");
        auto v = static_cast<int32_t>(value.number);
        return Checked(kbddput(handle, field, &v));
      }
      case 'N':
      case 'F':
      case 'B':
      case 'Y': {
        if (type == 'B' && table_.info().dialect != kKbdVisualFoxpro)
          return PutMemo(field, key, value);
        if (!is_number) return Mismatch(key, "a number");
        double v = value.number;
        return Checked(kbddput(handle, field, &v));
      }
      case 'M':
      case 'G':
      case 'P':
      case 'W':
        return PutMemo(field, key, value);
      case 'Q': {
        const JsonValue* b64 = value.type == JsonValue::Type::kObject
                                   ? value.Find("base64")
                                   : nullptr;
        std::string bytes;
        if (b64 == nullptr || b64->type != JsonValue::Type::kString ||
            !Base64Decode(b64->string, &bytes) || bytes.size() > 0xFFFF)
          return Mismatch(key, "{\"base64\": ...}");
        std::vector<uint8_t> v(bytes.size() + 2);
        engine::PutLe16(v.data(), static_cast<uint16_t>(bytes.size()));
        std::memcpy(v.data() + 2, bytes.data(), bytes.size());
        return Checked(kbddput(handle, field, v.data()));
      }
      default:
        return inv_.Fail(kExitUsage, where_,
                         "field " + key + ": type " + std::string(1, type) +
                             " cannot be imported");
    }
  }

  Invocation& inv_;
  Table& table_;
  int code_page_;
  std::vector<std::unique_ptr<IndexFile>>& indexes_;
  std::string where_;
};

// FILE[:TAG]: a tag follows the last ':' when the part before it is an
// index file's name.
void SplitIndexOption(const std::string& desc, std::string* path,
                      std::optional<std::string>* tag) {
  std::size_t colon = desc.rfind(':');
  if (colon != std::string::npos && colon + 1 < desc.size() &&
      desc.find_first_of("/\\", colon) == std::string::npos &&
      IsIndexPath(desc.substr(0, colon))) {
    *path = desc.substr(0, colon);
    *tag = desc.substr(colon + 1);
    return;
  }
  *path = desc;
  tag->reset();
}

}  // namespace

int CmdImport(Invocation& inv) {
  if (!inv.Parse({"codepage", "index"}, {"no-sync"})) return kExitUsage;
  if (inv.positionals().size() != 1)
    return inv.Usage(
        "usage: qxdb import TABLE.dbf [--codepage CP] [--no-sync] < "
        "records.jsonl");
  std::optional<int> code_page = ParseCodePage(inv.Option("codepage"));
  if (!code_page)
    return inv.Usage("unknown code page " + *inv.Option("codepage"));
  if (inv.Flag("no-sync")) kbdsetsync(0);
  const std::string& path = inv.positionals()[0];
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  Table table;
  int16_t status = table.Open(path, true);
  if (status < 0) return inv.EngineFailure(path, status);
  kbdseterror(0);
  kbdsetdatefmt(4);  // D values arrive as YYYYMMDD
  std::vector<std::unique_ptr<IndexFile>> indexes;
  for (const std::string& desc : inv.Options("index")) {
    std::string index_path;
    std::optional<std::string> tag;
    SplitIndexOption(desc, &index_path, &tag);
    indexes.emplace_back();
    if (int rc =
            OpenIndexFor(inv, index_path, tag, true, &table, &indexes.back()))
      return rc;
  }
  RecordLoader loader(inv, table, *code_page, indexes);
  // A long import shows its count: every 1,000 records on a terminal,
  // every 10,000 in a log (and the total at the end once shown).
  Progress progress(inv, "import");
  const uint64_t every = progress.terminal() ? 1000 : 10000;
  uint64_t loaded = 0;
  std::string line;
  int line_no = 0;
  while (std::getline(inv.in(), line)) {
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (int rc = loader.Load(line, line_no); rc != kExitOk) return rc;
    if (++loaded % every == 0) progress.Show(loaded, 0);
  }
  if (progress.shown() && loaded % every != 0) progress.Show(loaded, 0);
  return kExitOk;
}

}  // namespace qx::qxdb
