// Opening a data file and its memo file for qxdb (see table.h).
#include "host/qxdb/table.h"

#include <string>
#include <vector>

#include "host/qxdb/cli.h"
#include "platform/platform.h"

namespace qx::qxdb {

namespace {

constexpr const char* kDialectKeys[] = {"dbase3",  "dbase4",   "foxbase",
                                        "foxpro1", "clipper",  "clipper5",
                                        "dbxl",    "foxpro2",  "omnis",
                                        "vfp"};

// Releases an engine buffer on scope exit.
struct EngineBuffer {
  char* data = nullptr;
  ~EngineBuffer() { kbdfree(data); }
};

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
  // The rule changes only the extension's ASCII letters, so the UTF-8 path
  // goes through as it is. Room for a longer extension than the data's.
  std::string path(dbf_path);
  std::vector<char> name(path.size() + 8);
  uint8_t memo_kind = 0;
  kbdseterror(0);
  int16_t status =
      kbdmemoname(path.c_str(), static_cast<uint16_t>(dialect), name.data(),
                  static_cast<uint16_t>(name.size()), &memo_kind);
  if (status < 0) return status;
  *memo_path = name.data();
  *kind = memo_kind == kKbdKindFpt ? MemoKind::kFpt : MemoKind::kDbt;
  return kKbdOk;
}

bool PathExists(std::string_view path) {
  return platform::FileExists(EnginePath(path).c_str());
}

int16_t Table::Open(std::string_view path, bool writable) {
  Close();
  path_ = std::string(path);
  std::string name = EnginePath(path);
  uint16_t mode = writable ? kKbdModeShared : kKbdModeShared | kKbdModeReadOnly;
  int16_t count = 0;
  const KbdDialectName* rows = kbddialects(&count);
  int16_t status = kKbdErrOpen;
  for (int16_t r = 0; r < count; ++r) {
    kbdseterror(0);
    status = kbddopenx(&handle_, name.c_str(),
                       static_cast<uint16_t>(mode | rows[r].dialect));
    if (status >= 0) break;
  }
  if (status < 0) {
    handle_ = kKbdNoHandle;
    return status;
  }
  int16_t warning = status;
  kbdseterror(0);
  if (int16_t s = Refresh(); s < 0) return s;
  fields_.resize(static_cast<std::size_t>(info_.field_count));
  uint16_t largest = 0;
  if (!fields_.empty()) {  // a header may describe no field at all
    if (int16_t s = kbddfields(handle_, &largest, fields_.data()); s < 0) return s;
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
  std::string name = EnginePath(memo_path_);
  uint16_t mode = writable ? kKbdModeShared : kKbdModeShared | kKbdModeReadOnly;
  kbdseterror(0);
  if (memo_kind_ == MemoKind::kFpt)
    return kbdfopenx(&memo_handle_, name.c_str(), mode);
  // A dBASE IV data file (version 0x8B) has the dBASE IV memo layout.
  uint16_t dialect = info_.version == 0x8B ? kKbdDbase4 : kKbdDbase3;
  return kbdtopenx(&memo_handle_, name.c_str(),
                   static_cast<uint16_t>(mode | dialect));
}

int16_t Table::ReadMemo(uint32_t block, std::string* bytes, bool* binary) {
  bytes->clear();
  *binary = false;
  EngineBuffer buf;
  uint32_t length = 0;
  kbdseterror(0);
  if (memo_kind_ == MemoKind::kFpt) {
    uint32_t type = 1;
    int16_t s = kbdfreadx(memo_handle_, block, &buf.data, &length, &type);
    if (s < 0) return s;
    *binary = type == 0;
  } else {
    int16_t s = kbdtreadx(memo_handle_, block, &buf.data, &length);
    if (s < 0) return s;
  }
  bytes->assign(buf.data, length);
  return kKbdOk;
}

int16_t Table::WriteMemo(std::string_view bytes, bool binary, uint32_t* block) {
  *block = 0;
  kbdseterror(0);
  if (memo_kind_ == MemoKind::kFpt)
    return kbdfwritex(memo_handle_, block, bytes.data(),
                      static_cast<uint32_t>(bytes.size()), binary ? 0 : 1);
  std::string text(bytes);  // DBT values are NUL-terminated texts
  return kbdtwrite(memo_handle_, block, text.c_str(), 0);
}

void Table::Close() {
  if (memo_handle_ >= 0) {
    kbdseterror(0);
    if (memo_kind_ == MemoKind::kFpt) kbdfclose(memo_handle_);
    else kbdtclose(memo_handle_);
  }
  memo_handle_ = kKbdNoHandle;
  if (handle_ >= 0) {
    kbdseterror(0);
    kbddclose(handle_);
  }
  handle_ = kKbdNoHandle;
}

}  // namespace qx::qxdb
