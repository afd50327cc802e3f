// qxdb create TABLE.dbf --dialect D --field NAME:TYPE:LEN[:DEC[:FLAGS]]...:
// a new empty data file, and its memo file when a field needs one. FLAGS
// (Visual FoxPro) are letters: N nullable, B binary, A autoincrement.
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "access/adapter/data_file_ops.h"
#include "access/adapter/memo_ops.h"
#include "host/qxdb/commands.h"
#include "host/qxdb/table.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::qxdb {
namespace {

bool ParseNumber(std::string_view text, int* value) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// Memo files qxdb makes: FPT blocks of 64 bytes, DBT blocks of 1 × 512.
constexpr int16_t kFptBlockBytes = 64;
constexpr int16_t kDbtBlockFactor = 1;

// The FLAGS letters of a field description, as definition flags.
bool ParseFlags(std::string_view letters, uint16_t* flags) {
  *flags = 0;
  for (char c : letters) {
    switch (c) {
      case 'N':
      case 'n':
        *flags |= kKbdFieldNullable;
        break;
      case 'B':
      case 'b':
        *flags |= kKbdFieldBinary;
        break;
      case 'A':
      case 'a':
        *flags |= kKbdFieldAutoIncrement;
        break;
      default:
        return false;
    }
  }
  return true;
}

// NAME:TYPE:LEN[:DEC[:FLAGS]]; an empty DEC is 0.
bool ParseField(const std::string& desc, access::FieldDescription* def) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t colon = desc.find(':', start);
    parts.push_back(desc.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 3 || parts.size() > 5) return false;
  if (parts[0].empty() || parts[0].size() > 10 || parts[1].size() != 1)
    return false;
  int length = 0, decimals = 0;
  uint16_t flags = 0;
  if (!ParseNumber(parts[2], &length) || length < 0 || length > 65535)
    return false;
  if (parts.size() >= 4 && !parts[3].empty() &&
      (!ParseNumber(parts[3], &decimals) || decimals < 0 || decimals > 255))
    return false;
  if (parts.size() == 5 && !ParseFlags(parts[4], &flags)) return false;
  *def = access::FieldDescription{};
  std::memcpy(def->name, parts[0].data(), parts[0].size());
  def->type = static_cast<uint8_t>(parts[1][0]);
  def->length = static_cast<uint16_t>(length);
  def->decimals = static_cast<uint16_t>(decimals);
  def->flags = flags;
  return true;
}

// Memo (M) fields, and the general (G) and blob (W) fields of Visual
// FoxPro, keep their values in the memo file.
bool NeedsMemo(const std::vector<access::FieldDescription>& fields) {
  for (const access::FieldDescription& f : fields) {
    char t = static_cast<char>(f.type & ~0x20);  // upper case
    if (t == 'M' || t == 'G' || t == 'W') return true;
  }
  return false;
}

}  // namespace

int CmdCreate(Invocation& inv) {
  if (!inv.Parse({"dialect", "field"}, {})) return kExitUsage;
  if (inv.positionals().size() != 1 || !inv.Option("dialect") ||
      inv.Options("field").empty())
    return inv.Usage(
        "usage: qxdb create TABLE.dbf --dialect D "
        "--field NAME:TYPE:LEN[:DEC[:FLAGS]]...");
  int dialect = ParseDialect(*inv.Option("dialect"));
  if (dialect == 0)
    return inv.Usage("unknown dialect " + *inv.Option("dialect"));
  std::vector<access::FieldDescription> fields;
  for (const std::string& desc : inv.Options("field")) {
    access::FieldDescription def;
    if (!ParseField(desc, &def)) return inv.Usage("bad field " + desc);
    fields.push_back(def);
  }
  const std::string& path = inv.positionals()[0];
  int16_t status = static_cast<int16_t>(access::CreateDataFile(
      platform::Utf8ToUtf16(path), dialect, fields.data(),
      static_cast<int32_t>(fields.size())));
  if (status < 0) return inv.EngineFailure(path, status);
  if (NeedsMemo(fields)) {
    MemoKind kind = MemoKind::kNone;
    std::string memo;
    status = MemoPathFor(path, dialect, &memo, &kind);
    if (status < 0) return inv.EngineFailure(path, status);
    const bool fpt = kind == MemoKind::kFpt;
    status = static_cast<int16_t>(
        access::CreateMemo(fpt, platform::Utf8ToUtf16(memo), dialect,
                           fpt ? kFptBlockBytes : kDbtBlockFactor));
    if (status < 0) return inv.EngineFailure(memo, status);
  }
  return kExitOk;
}

}  // namespace qx::qxdb
