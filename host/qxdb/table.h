// A data file opened by qxdb with its memo file, through the access
// layer's adapter as the driver opens one: the dialect rows are tried in
// order and the first that opens is kept; the memo file is named by the
// engine's rule (".dbt", ".fpt" in the FoxPro dialects, and the
// companions of FoxPro's forms, reports, class libraries... such as
// ".sct").
#ifndef QX_HOST_QXDB_TABLE_H_
#define QX_HOST_QXDB_TABLE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qx/engine.h"

namespace qx::qxdb {

enum class MemoKind { kNone, kDbt, kFpt };

class Table {
 public:
  Table() = default;
  ~Table() { Close(); }
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Opens path (UTF-8) read-only or read-write, both shared; answers the
  // engine status of the last attempt (>= 0 when open; warnings kept).
  int16_t Open(std::string_view path, bool writable);
  void Close();

  int16_t handle() const { return handle_; }
  int16_t* mutable_handle() { return &handle_; }
  const KbdDbfInfo& info() const { return info_; }
  const std::vector<KbdFieldDef>& fields() const { return fields_; }
  const std::string& path() const { return path_; }

  MemoKind memo_kind() const { return memo_kind_; }
  bool memo_open() const { return memo_handle_ >= 0; }
  int16_t memo_handle() const { return memo_handle_; }
  int16_t* mutable_memo_handle() { return &memo_handle_; }
  const std::string& memo_path() const { return memo_path_; }

  // Reads the memo value of a field of the current record: its bytes and
  // whether the memo file marks it binary (FPT type 0).
  int16_t ReadMemo(int16_t field, std::string* bytes, bool* binary);
  // Writes a new memo value and answers its first block.
  int16_t WriteMemo(std::string_view bytes, bool binary, uint32_t* block);

  // Refreshes info() (record count) after writes.
  int16_t Refresh();

 private:
  int16_t OpenMemo(bool writable);

  int16_t handle_ = kKbdNoHandle;
  KbdDbfInfo info_{};
  std::vector<KbdFieldDef> fields_;
  std::string path_;
  MemoKind memo_kind_ = MemoKind::kNone;
  int16_t memo_handle_ = kKbdNoHandle;
  std::string memo_path_;
};

// "dbase3" .. "vfp" for dialects 1..10; numbers accepted on input.
const char* DialectKey(int dialect);
int ParseDialect(std::string_view text);  // 0 when unknown

// The memo path beside a data file (UTF-8) and its kind, by the engine's
// naming rule for the dialect: the engine status.
int16_t MemoPathFor(std::string_view dbf_path, int dialect,
                    std::string* memo_path, MemoKind* kind);

// True when the UTF-8 path names an existing file.
bool PathExists(std::string_view path);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_TABLE_H_
