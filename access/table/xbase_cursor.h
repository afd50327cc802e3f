// CXBaseCursor: the driver's query object, a browse of one table.
//
// Made by the driver for a host query object: it works on the table
// object its query names (found in the table handle of that name) and on
// the query's host record buffer. This part reads records by number, the
// memo items of the record read, and counts records; its state is that
// of the last read (current record, out-of-file and in-file marks, visit
// counter). Browsing in key or record order, seeking, re-finding and the
// saved positions are in cursor_browse.cc. Writes, deletes and record
// locks go to the table object (record_writer.h, record_locks.h); the
// record written or deleted becomes the current one.
//
// Every operation runs under the driver registry lock, resets the error
// context first and reports its failures there.
#ifndef QX_ACCESS_TABLE_XBASE_CURSOR_H_
#define QX_ACCESS_TABLE_XBASE_CURSOR_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "framework/ref_counted.h"
#include "qx/driver.h"

namespace qx::access {

class CErrorContext;
class CXBaseTable;
class CXBaseTableHandle;
struct IndexKeyDescriptor;

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
  template <typename Fn>
  int32_t Run(const char16_t* operation, Fn&& fn);

  // Browsing (cursor_browse.cc): the bodies of the slots, run under Run.
  int32_t DoPosition(int32_t direction, int32_t fetch_fields,
                     uint32_t lock_options, int32_t* deleted);
  int32_t DoSeek(const HostValue* value, int32_t exact, int32_t* found,
                 int32_t* out_of_file, uint32_t* recno, uint8_t* key_image,
                 int32_t* past_end, uint16_t search_mode);
  int32_t DoRefind(uint32_t recno);
  int32_t DoSavePosition(PositionRecord* position);
  int32_t DoRestorePosition(const PositionRecord* position);
  // The key of the browse item into *key (null: record order); false
  // after reporting 1023 or a failure to open the key's index.
  bool BrowseKey(CXBaseTable* table, const IndexKeyDescriptor** key);
  int32_t KeyPosition(CXBaseTable* table, const IndexKeyDescriptor& key,
                      int32_t direction, int32_t fetch_fields,
                      uint32_t lock_options, int32_t* deleted);
  // First or last under the browse's conditions: the engine status of the
  // positioning, the entry in (image, *recno).
  int32_t KeyStart(const IndexKeyDescriptor& key, bool first,
                   std::span<uint8_t> image, uint32_t* recno);
  // Takes an engine positioning result (step 4 of a key positioning): the
  // record read, the position kept.
  int32_t KeyLand(CXBaseTable* table, const IndexKeyDescriptor& key,
                  int32_t status, std::span<const uint8_t> image,
                  uint32_t recno, int32_t direction, int32_t fetch_fields,
                  uint32_t lock_options, int32_t* deleted);
  int32_t RecordPosition(CXBaseTable* table, int32_t direction,
                         int32_t fetch_fields, uint32_t lock_options,
                         int32_t* deleted);
  // Reads record recno for a positioning: locked as lock_options ask,
  // filled (fetch_fields) or its state refreshed. 1, or 0 with the cursor
  // out of file.
  int32_t ReadPositioned(CXBaseTable* table, uint32_t recno,
                         int32_t fetch_fields, uint32_t lock_options,
                         int32_t* deleted, bool* past_end);
  void CountVisit(int32_t direction, bool deleted);
  void SetOutOfFile();
  // Reports error id (1018, 1042, 1043 or 1066, whose insert is
  // value_text) with the engine status when negative; the cursor is left
  // out of file. Answers 0.
  int32_t BrowseError(uint32_t id, uint32_t site, int32_t status,
                      std::u16string_view value_text = {});

  std::u16string table_name_;
  std::u16string item_name_;             // the browse item; empty: record order
  const Query* query_ = nullptr;         // the host's, kept alive by the host:
                                         // range, filter, search flags
  std::u16string name_;                  // given by NameQuery
  Record* record_ = nullptr;             // the host's, kept alive by the host
  CXBaseTableHandle* handle_ = nullptr;  // one reference held
  CXBaseTable* table_ = nullptr;         // found last; one reference held
  CErrorContext* errors_ = nullptr;      // one reference held
  bool out_of_file_ = true;
  bool in_file_ = false;
  uint32_t recno_ = 0;
  int32_t visits_ = -1;
  // The position of a key-order browse: the key image of the entry it
  // stands on (with recno_).
  uint8_t key_image_[kKeyImageSize] = {};
  uint8_t second_key_[kKeyImageSize] = {};
  int32_t start_direction_ = 0;  // 0 started from the first, 1 the last
  bool started_ = false;
  bool key_descending_ = false;  // the browse key walks from the greatest
  // 1 past the last record or entry, -1 before the first, else 0: a move
  // back from there reaches the record the browse left.
  int32_t beyond_ = 0;
};

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_XBASE_CURSOR_H_
