// Opening a data file and its memo file for qxdb (see table.h).
#include "host/qxdb/table.h"

#include <string>

#include "access/adapter/data_file_ops.h"
#include "access/adapter/memo_ops.h"
#include "host/qxdb/cli.h"
#include "platform/platform.h"

namespace qx::qxdb {

namespace {

constexpr const char* kDialectKeys[] = {
    "dbase3",   "dbase4", "foxbase", "foxpro1", "clipper",
    "clipper5", "dbxl",   "foxpro2", "omnis",   "vfp"};

uint16_t OpenMode(bool writable) {
  return writable ? kKbdModeShared : kKbdModeShared | kKbdModeReadOnly;
}

}  // namespace

const char* DialectKey(int dialect) {
  return dialect >= 1 && dialect <= 10 ? kDialectKeys[dialect - 1] : "unknown";
}

int ParseDialect(std::string_view text) {
  for (int d = 1; d <= 10; ++d)
    if (text == kDialectKeys[d - 1] || text == std::to_string(d)) return d;
  return 0;
}

int16_t MemoPathFor(std::string_view dbf_path, int dialect,
                    std::string* memo_path, MemoKind* kind) {
  const std::u16string memo =
      access::MemoFileName(dialect, platform::Utf8ToUtf16(dbf_path));
  if (memo.empty()) return kKbdErrFileName;
  *memo_path = platform::Utf16ToUtf8(memo);
  *kind = access::UsesFptMemo(dialect) ? MemoKind::kFpt : MemoKind::kDbt;
  return kKbdOk;
}

bool PathExists(std::string_view path) {
  return platform::FileExists(EnginePath(path).c_str());
}

int16_t Table::Open(std::string_view path, bool writable) {
  Close();
  path_ = std::string(path);
  uint16_t handle = access::kNoDataHandle;
  int16_t status = kKbdErrOpen;
  if (access::OpenDataFile(u"", platform::Utf8ToUtf16(path), OpenMode(writable),
                           nullptr, &handle, nullptr, &status) == 0)
    return status;
  handle_ = static_cast<int16_t>(handle);
  const int16_t warning = status;
  if (int16_t s = Refresh(); s < 0) return s;
  access::FieldDescriptions descriptions;
  if (int32_t s = access::LoadFieldDescriptions(&descriptions, handle); s < 0)
    return static_cast<int16_t>(s);
  fields_.assign(static_cast<std::size_t>(descriptions.count), KbdFieldDef{});
  for (int32_t i = 0; i < descriptions.count; ++i) {
    const access::FieldDescription& d = descriptions.fields[i];
    KbdFieldDef& f = fields_[static_cast<std::size_t>(i)];
    std::copy(std::begin(d.name), std::end(d.name), f.name);
    f.type = d.type;
    f.length = d.length;
    f.decimals = d.decimals;
    f.flags = d.flags;
  }
  if (info_.has_memo) {
    if (int16_t s = OpenMemo(writable); s < 0) return s;
  }
  return warning;
}

int16_t Table::Refresh() {
  kbdseterror(0);
  return kbddinfo(handle_, &info_);
}

int16_t Table::OpenMemo(bool writable) {
  if (int16_t s = MemoPathFor(path_, info_.dialect, &memo_path_, &memo_kind_);
      s < 0)
    return s;
  if (!PathExists(memo_path_)) return kKbdOk;  // values then read as null
  const bool fpt = memo_kind_ == MemoKind::kFpt;
  const uint16_t mode = static_cast<uint16_t>(
      OpenMode(writable) | (fpt ? 0 : access::DbtLayoutBits(info_.version)));
  uint16_t handle = access::kNoMemoHandle;
  const int32_t status =
      access::OpenMemo(fpt, platform::Utf8ToUtf16(memo_path_), &handle, mode);
  if (status >= 0) memo_handle_ = static_cast<int16_t>(handle);
  return static_cast<int16_t>(status);
}

int16_t Table::ReadMemo(int16_t field, std::string* bytes, bool* binary) {
  bytes->clear();
  *binary = false;
  access::MemoText text;
  const int32_t status = access::ReadMemo(
      memo_kind_ == MemoKind::kFpt, static_cast<uint16_t>(handle_),
      static_cast<uint16_t>(memo_handle_), field, &text);
  if (status < 0) return static_cast<int16_t>(status);
  bytes->assign(text.bytes());
  *binary = memo_kind_ == MemoKind::kFpt && text.type() == access::kFptPicture;
  return kKbdOk;
}

int16_t Table::WriteMemo(std::string_view bytes, bool binary, uint32_t* block) {
  *block = 0;
  return static_cast<int16_t>(access::WriteMemo(
      memo_kind_ == MemoKind::kFpt, static_cast<uint16_t>(memo_handle_), block,
      bytes, 0, binary ? access::kFptPicture : access::kFptText));
}

void Table::Close() {
  if (memo_handle_ >= 0)
    access::CloseMemo(memo_kind_ == MemoKind::kFpt,
                      static_cast<uint16_t>(memo_handle_));
  memo_handle_ = kKbdNoHandle;
  if (handle_ >= 0) access::CloseDataFile(static_cast<uint16_t>(handle_));
  handle_ = kKbdNoHandle;
}

}  // namespace qx::qxdb
