// qxdb info FILE: one JSON object describing a data or memo file.
#include <cctype>
#include <iostream>
#include <string>

#include "access/adapter/memo_ops.h"
#include "host/qxdb/commands.h"
#include "host/qxdb/index_file.h"
#include "host/qxdb/json.h"
#include "host/qxdb/table.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::qxdb {
namespace {

std::string LowerExtension(std::string_view path) {
  std::size_t dot = path.rfind('.');
  std::size_t slash = path.find_last_of("/\\");
  if (dot == std::string_view::npos ||
      (slash != std::string_view::npos && dot < slash))
    return "";
  std::string ext(path.substr(dot));
  for (char& c : ext)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

int InfoDbf(Invocation& inv, const std::string& path) {
  Table table;
  int16_t status = table.Open(path, false);
  if (status < 0) return inv.EngineFailure(path, status);
  if (status > 0) inv.EngineWarning(path, status);
  const KbdDbfInfo& info = table.info();
  JsonWriter w;
  w.BeginObject();
  w.Key("kind");
  w.String("dbf");
  w.Key("dialect");
  w.String(DialectKey(info.dialect));
  w.Key("version");
  w.Int(info.version);
  w.Key("records");
  w.Int(info.record_count);
  w.Key("header_size");
  w.Int(info.header_size);
  w.Key("record_size");
  w.Int(info.record_size);
  char date[40];
  std::snprintf(date, sizeof date, "%04d%02d%02d", info.update_year,
                info.update_month, info.update_day);
  w.Key("last_update");
  w.String(date);
  w.Key("fields");
  w.BeginArray();
  for (const KbdFieldDef& f : table.fields()) {
    w.BeginObject();
    w.Key("name");
    w.String(platform::Utf16ToUtf8(platform::AnsiToUtf16(f.name)));
    w.Key("type");
    w.String(std::string(1, static_cast<char>(f.type)));
    w.Key("length");
    w.Int(f.length);
    w.Key("decimals");
    w.Int(f.decimals);
    w.Key("flags");
    w.Int(f.flags);
    w.EndObject();
  }
  w.EndArray();
  w.Key("memo");
  if (info.has_memo && PathExists(table.memo_path()))
    w.String(table.memo_path());
  else
    w.Null();
  w.EndObject();
  inv.out() << w.text() << "\n";
  return kExitOk;
}

int InfoMemo(Invocation& inv, const std::string& path, bool fpt) {
  uint16_t handle = access::kNoMemoHandle;
  int16_t status = static_cast<int16_t>(
      access::OpenLoneMemo(fpt, platform::Utf8ToUtf16(path), &handle,
                           kKbdModeShared | kKbdModeReadOnly));
  if (status < 0) return inv.EngineFailure(path, status);
  uint32_t block_size = 0, next_free = 0;
  status = static_cast<int16_t>(
      access::MemoInfo(fpt, handle, &block_size, &next_free));
  access::CloseMemo(fpt, handle);
  if (status < 0) return inv.EngineFailure(path, status);
  JsonWriter w;
  w.BeginObject();
  w.Key("kind");
  w.String(fpt ? "fpt" : "dbt");
  w.Key("block_size");
  w.Int(block_size);
  w.Key("next_free");
  w.Int(next_free);
  w.EndObject();
  inv.out() << w.text() << "\n";
  return kExitOk;
}

int InfoIndex(Invocation& inv, const std::string& path) {
  std::unique_ptr<IndexFile> index;
  if (int rc = OpenIndexFor(inv, path, std::nullopt, false, nullptr, &index))
    return rc;
  JsonWriter w;
  w.BeginObject();
  w.Key("kind");
  w.String(index->kind());
  index->Describe(&w);
  w.EndObject();
  inv.out() << w.text() << "\n";
  return kExitOk;
}

}  // namespace

int CmdInfo(Invocation& inv) {
  if (!inv.Parse({}, {})) return kExitUsage;
  if (inv.positionals().size() != 1) return inv.Usage("usage: qxdb info FILE");
  const std::string& path = inv.positionals()[0];
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  std::string ext = LowerExtension(path);
  if (ext == ".dbt") return InfoMemo(inv, path, false);
  if (ext == ".fpt") return InfoMemo(inv, path, true);
  if (IsIndexPath(path)) return InfoIndex(inv, path);
  return InfoDbf(inv, path);
}

}  // namespace qx::qxdb
