// CXBaseCursor: the driver's query object, a browse of one table.
//
// Made by the driver for a host query object: it works on the table
// object its query names (found in the table handle of that name) and on
// the query's host record buffer. This part reads records by number, the
// memo items of the record read, and counts records; its state is that
// of the last read (current record, out-of-file and in-file marks, visit
// counter). Browsing in key or record order, seeking, writing and record
// locks answer error 1024.
//
// Every operation runs under the driver registry lock, resets the error
// context first and reports its failures there.
#ifndef QX_ACCESS_TABLE_XBASE_CURSOR_H_
#define QX_ACCESS_TABLE_XBASE_CURSOR_H_

#include <cstdint>
#include <string>

#include "framework/ref_counted.h"
#include "qx/driver.h"

namespace qx::access {

class CErrorContext;
class CXBaseTable;
class CXBaseTableHandle;

class CXBaseCursor final : public framework::RefCounted<ICursor> {
 public:
  // handle: the table handle of the query's table (a reference is taken);
  // errors: the driver's error context (a reference is taken).
  CXBaseCursor(const Query* query, CXBaseTableHandle* handle,
               IErrorContext* errors);
  CXBaseCursor(const CXBaseCursor&) = delete;
  CXBaseCursor& operator=(const CXBaseCursor&) = delete;

  int32_t SetName(const char16_t* name) override;
  int32_t Close() override;
  int32_t Position(int32_t direction, int32_t fetch_fields,
                   uint32_t lock_options, int32_t* deleted) override;
  int32_t ReadRecord(uint32_t recno, int32_t fetch_fields,
                     uint32_t lock_options, int32_t* deleted) override;
  int32_t Seek(const HostValue* value, int32_t exact, int32_t* found,
               int32_t* out_of_file, uint32_t* recno, uint8_t* key_image,
               int32_t* past_end, uint16_t search_mode) override;
  int32_t Refind(uint32_t recno) override;
  int32_t Count(uint32_t* count, uint32_t options) override;
  int32_t SavePosition(PositionRecord* position) override;
  int32_t RestorePosition(const PositionRecord* position) override;
  int32_t ReadMemoItem(uint32_t item, uint32_t options) override;
  int32_t Write(uint32_t* recno, uint32_t options, uint16_t mode) override;
  int32_t Delete(uint32_t recno) override;
  int32_t LockRecord(uint32_t kind, uint32_t recno,
                     uint32_t* previous_kind) override;
  int32_t IsOutOfFile() override { return out_of_file_ ? 1 : 0; }
  int32_t IsInFile() override { return in_file_ ? 1 : 0; }
  uint32_t GetRecno() override { return recno_; }
  int32_t GetVisitCount() override { return visits_; }
  void Destroy() override;

  const std::u16string& name() const { return name_; }

 private:
  ~CXBaseCursor() = default;

  // The table object of the query's table, or null after reporting it.
  CXBaseTable* Table();
  int32_t Unavailable(uint32_t site);
  template <typename Fn>
  int32_t Run(const char16_t* operation, Fn&& fn);

  std::u16string table_name_;
  std::u16string item_name_;  // the browse item; empty: record order
  std::u16string name_;       // given by NameQuery
  Record* record_ = nullptr;  // the host's, kept alive by the host
  CXBaseTableHandle* handle_ = nullptr;  // one reference held
  CXBaseTable* table_ = nullptr;         // found last; one reference held
  CErrorContext* errors_ = nullptr;      // one reference held
  bool out_of_file_ = true;
  bool in_file_ = false;
  uint32_t recno_ = 0;
  int32_t visits_ = -1;
};

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_XBASE_CURSOR_H_
