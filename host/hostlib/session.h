// The reference host's session: the component used the way the host
// platform's runtime uses it, for tests and tools.
//
// A Session connects to a directory (OpenConnection with the data source
// and the extended information, e.g. "OEMTOANSI=WINDOWS"), lists its
// tables (GetConnectionProperty) and opens tables: by path or name
// through OpenTableByPath (the index files beside the data file are
// associated), or, when index files are named, through the proxy's
// OpenTableDirect and one AttachIndex per index file; then OpenTable with
// the description's items as the host's file description, and a cursor
// (CreateQuery) over a host record buffer bound to every field.
// A SessionTable reads record n into that buffer (the cursor's
// ReadRecord), reads memo items (ReadMemoItem) and counts records; it
// attaches more index files, makes browses (SessionBrowse: a cursor of
// their own, by key or record order, with seeks, ranges and filters;
// session_browse.cc), adds, modifies and deletes records (the cursor's
// Write and Delete) and locks records and the table (session_write.cc).
// Nothing here calls the component's
// internals: only its exports and the slots of the driver, proxy,
// description, item, table handle and cursor.
//
// Failures answer false (or null); LastError() gives the error as the
// host sees it in the driver's error context: id, French message, level
// and category.
#ifndef QX_HOST_HOSTLIB_SESSION_H_
#define QX_HOST_HOSTLIB_SESSION_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/hostlib/builders.h"
#include "host/hostlib/component_host.h"
#include "qx/driver.h"
#include "qx/host_types.h"

namespace qx::host {

// An error as the host reads it from the driver's error context.
struct HostError {
  uint32_t id = 0;  // 0: no error held
  uint32_t level = 0;
  int32_t category = 0;
  std::u16string message;
};

// An index file to attach (AttachIndex) and its key name (needed for
// MDX and CDX files: the tag).
struct AttachedIndex {
  std::u16string file;
  std::u16string key;
};

// One item of a table's description, as its IItem slots give it.
struct ItemInfo {
  std::u16string name;
  uint8_t item_type = 0;  // HostItemType
  uint32_t size = 0;
  int32_t field_number = -1;
  int32_t key_number = -1;
  uint32_t key_flags = 0;
  uint32_t key_length = 0;
  std::u16string index_path;  // as stored
  std::u16string expression;
  uint16_t xbase_type = 0;
  uint32_t digits = 0;
  uint32_t decimals = 0;
  std::u16string memo_path;
};

struct TableInfo {
  std::u16string name;       // logical name
  std::u16string file_name;  // without directory and extension
  std::u16string path;
  std::u16string extension;
  uint32_t file_type = 0;  // XBaseFileType
  std::vector<ItemInfo> items;
  std::vector<std::u16string> keys;  // key item names in key order
};

// The host value type the reference host binds an item type to: texts
// as ANSI text, numbers in the item's width, dates as day numbers, memos
// as UTF-16 text or binary.
uint8_t BoundValueType(uint8_t item_type);

// A host record buffer bound to the fields of a table.
class HostRecord {
 public:
  // end_conversion releases the memo values the component made.
  explicit HostRecord(EndConversionFn end_conversion)
      : end_conversion_(end_conversion) {}
  ~HostRecord();
  HostRecord(const HostRecord&) = delete;
  HostRecord& operator=(const HostRecord&) = delete;

  // One item per field of the description, in field order; items of no
  // host type are skipped by the driver. Items of keys are marked keys
  // (unique when the key is); the keys that are no field get items of
  // their own after the fields, which the driver only names keys by.
  void Bind(const TableInfo& info);

  Record* get() { return &record_; }
  // The items bound to fields (the record's key items of no field follow
  // them in get(), for the driver only).
  size_t size() const { return field_items_; }
  const RecordItem& item(size_t i) const { return items_[i]; }
  // The value of item i (bytes stay the record's): fixed types in
  // `fixed`, texts and binaries behind `data`; a memo item's own value.
  HostValue Value(size_t i) const;
  bool IsNull(size_t i) const {
    return (items_[i].state & kRecordItemNull) != 0;
  }
  bool IsMemo(size_t i) const {
    return (items_[i].flags & kRecordItemMemo) != 0;
  }
  uint32_t recno() const { return record_.recno; }
  bool deleted() const { return (record_.state & kRecordDeleted) != 0; }

  // Writing: the items as the host sets them before an add or a modify.
  // Every item empty (a new record of which nothing is given yet).
  void Clear();
  RecordItem* mutable_item(size_t i) { return &items_[i]; }
  // Stores a memo value (released with the record) marked modified.
  void SetMemo(size_t i, const HostValue& value);
  // Index of the item bound to the field `name` (case-insensitive), or
  // size() when there is none.
  size_t Find(std::u16string_view name) const;

 private:
  void ReleaseMemos();

  EndConversionFn end_conversion_;
  size_t field_items_ = 0;  // items bound to fields; key-only items follow
  std::vector<std::u16string> names_;
  std::vector<std::unique_ptr<uint64_t[]>> buffers_;  // 8-byte aligned
  std::vector<RecordItem> items_;
  Record record_;
};

// One item of a new table's description (Session::CreateTable).
struct NewItem {
  std::u16string name;
  uint8_t item_type = 0;  // HostItemType
  uint32_t length = 0;    // characters of a text item
  uint16_t digits = 0;    // integer digits of a number
  uint16_t decimals = 0;
  uint32_t key_flags = 0;     // KeyFlags; 0 when not a key
  std::u16string index_file;  // a key's index file; empty: the family's
                              // usual one (see CreateTable)
  std::u16string formula;     // a compound key's formula (no field)
};

// The maintenance's progress: called with the steps done and the steps in
// all, first with none done.
using ProgressFn = std::function<void(uint32_t done, uint32_t total)>;

class Session;
class SessionBrowse;

// Browsing: what a browse walks (one cursor of its own per browse).
struct BrowseRequest {
  std::u16string key;  // the browse item; empty: record-number order
  const Condition* range = nullptr;   // the caller's, kept alive by it
  const Condition* filter = nullptr;  // the caller's, kept alive by it
  bool generic = false;               // search flag 32: generic keys
  uint32_t lock_kind = 0;             // record lock before each read
};

class SessionTable {
 public:
  ~SessionTable();
  SessionTable(const SessionTable&) = delete;
  SessionTable& operator=(const SessionTable&) = delete;

  const TableInfo& info() const { return info_; }
  // Attaches an index file to the open table; info() shows its keys.
  bool AttachIndex(std::u16string_view file, std::u16string_view key);
  // The table's record count (Count with option 16).
  bool RecordCount(uint32_t* count);
  // Reads record recno with every field into record(); past the end of
  // the file it answers true with out_of_file().
  bool Read(uint32_t recno);
  bool out_of_file() const { return out_of_file_; }
  // Reads memo item `item` of the record read last into its value.
  bool ReadMemo(size_t item);
  const HostRecord& record() const { return *record_; }

  // Browsing: a browse by key or record order with its own cursor and
  // record buffer; null when the cursor cannot be made.
  std::unique_ptr<SessionBrowse> Browse(const BrowseRequest& request);
  // Writing and locking: the cursor's Write, Delete and LockRecord and the
  // table object's file locks. Values are set on record() first (Clear
  // for a new record; Read then set for a modification).
  HostRecord& mutable_record() { return *record_; }
  // Sets item i from a value of any host type, converted by the VM's
  // conversion service to the item's type (texts cut to the item); memo
  // items take it as their new value. False when it does not convert.
  bool SetValue(size_t i, const HostValue& value);
  bool SetText(size_t i, std::u16string_view text);
  // Declares the item the automatic identifier (the key of its name gives
  // the last value); false when the table has no such field.
  bool DeclareIdentifier(std::u16string_view name);
  // Adds record() (*recno receives its number); modifies record recno;
  // deletes record recno (the keys follow DELETEINDEX of qxdbins.ini).
  // options: the host's write options (0x100, 0x200, 0x400).
  bool Add(uint32_t* recno, uint32_t options = 0);
  bool Modify(uint32_t recno, uint32_t options = 0);
  bool Delete(uint32_t recno);
  // File locks of the host's kinds 2, 3, 4; the kind held (0, 2, 3).
  bool LockTable(uint32_t kind);
  bool UnlockTable();
  uint32_t TableLockKind();
  // Record locks of kinds 2 and 3; kind 1 unlocks.
  bool LockRecord(uint32_t recno, uint32_t kind = 2,
                  uint32_t* previous_kind = nullptr);
  bool UnlockRecord(uint32_t recno) { return LockRecord(recno, 1); }
  // The table object behind the table's handle (no reference added).
  ITable* TableObject();
  // Maintenance (the table object's Maintain slot): with pack the records
  // marked deleted are removed first; then every key's index is rebuilt.
  bool Maintain(bool pack, const ProgressFn& progress = nullptr);

 private:
  friend class Session;
  explicit SessionTable(Session* session);
  void Describe(IDescription* description);

  Session* session_;
  std::u16string name_;
  TableInfo info_;
  std::unique_ptr<HostRecord> record_;
  Query query_;
  ICursor* cursor_ = nullptr;       // one reference held
  ITableHandle* handle_ = nullptr;  // one reference held
  bool open_ = false;
  bool out_of_file_ = false;
};

class Session {
 public:
  // REQUIRES: host is started and outlives the session.
  explicit Session(ComponentHost* host);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Connects to a directory; read_only opens the tables' files read-only.
  bool Connect(std::u16string_view directory,
               std::u16string_view extended_info = u"", bool read_only = false);
  // The connection's tables: names only, or (full) each name followed by
  // a tab, the name, two tabs and the full path; lines end with CR LF.
  bool ListTables(bool full, std::u16string* list);
  // Opens a table by name (in the connection's directory) or path; with
  // indexes, those index files are attached, otherwise the ones beside
  // the data file. Null on failure.
  std::unique_ptr<SessionTable> Open(std::u16string_view name_or_path,
                                     const std::vector<AttachedIndex>& indexes);

  // Creation: the files of a new table (data, memo when a memo item asks
  // for it, an index per key item) through the driver's table object.
  // file_format is the host's file type (XBaseFileType). A key without
  // its index file goes into the family's usual file, as an open by path
  // finds it: "<table>.mdx" or "<table>.cdx" (tags) for dBASE IV and the
  // FoxPro 2 and Visual FoxPro codes, else "<table>_<key>" with ".ndx",
  // ".ntx" (Clipper) or ".idx" (FoxBASE, compact).
  bool CreateTable(std::u16string_view name_or_path, uint32_t file_format,
                   const std::vector<NewItem>& items);

  HostError LastError() const;
  // The text of a host value by the VM's conversion service (dates
  // YYYYMMDD, date-times YYYYMMDDHHMMSSmmm, numbers in C locale); false
  // when the VM cannot convert it.
  bool ValueText(const HostValue& value, std::u16string* text) const;
  // Writing: a value converted by the VM's conversion service to type
  // (the target's bytes belong to that service: end_conversion()).
  bool Convert(const HostValue& value, uint8_t type, HostValue* target) const;
  IDriver* driver() const { return host_->driver(); }
  IProxy* proxy() const { return proxy_; }
  const ConnectionDesc* connection() const { return &cnx_; }
  EndConversionFn end_conversion() const { return end_conversion_; }
  uint64_t NextQueryId() { return ++query_ids_; }

  // Browsing (session_browse.cc): source converted to `type` by the VM's
  // conversion service; the target's bytes go back through
  // end_conversion().
  bool ConvertValue(const HostValue& source, uint8_t type,
                    HostValue* target) const;

 private:
  ComponentHost* host_;
  IProxy* proxy_ = nullptr;  // one reference held
  EndConversionFn end_conversion_ = nullptr;
  ConversionFn convert_ = nullptr;
  std::u16string name_;
  std::u16string directory_;
  std::u16string extended_info_;
  ConnectionDesc cnx_;
  bool connected_ = false;
  uint64_t query_ids_ = 0;
};

// ---------------------------------------------------------------------------
// Browsing and seeking (session_browse.cc).

// The result of a seek.
struct SeekResult {
  bool found = false;       // an entry of the value itself
  bool out_of_file = true;  // no entry at all (empty index)
  bool past_end = false;    // every entry is before the value: on the last
  uint32_t recno = 0;       // the record of the entry the seek stands on
};

// A browse of a table through a cursor of its own: first, last, next,
// previous and current move in key order (BrowseRequest::key) or record
// order and read the record into record(); records a filter rejects are
// passed over; out_of_file() tells the end. Seek jumps to a key value.
class SessionBrowse {
 public:
  ~SessionBrowse();
  SessionBrowse(const SessionBrowse&) = delete;
  SessionBrowse& operator=(const SessionBrowse&) = delete;

  bool First() { return Move(kCursorFirst); }
  bool Last() { return Move(kCursorLast); }
  bool Next() { return Move(kCursorNext); }
  bool Previous() { return Move(kCursorPrevious); }
  bool Current() { return Move(kCursorCurrent); }
  // Seeks value (exact, or generic: a text key that begins with it) and
  // reads the record the seek stands on (unless out of file).
  // search_mode 2 seeks the entry of result->recno too.
  bool Seek(const HostValue& value, bool exact, SeekResult* result,
            uint16_t search_mode = 1);
  // Puts the browse back on record recno's entry (after a write).
  bool Refind(uint32_t recno);
  bool SavePosition(PositionRecord* position);
  bool RestorePosition(const PositionRecord& position);
  bool Count(uint32_t* count, bool from_table);

  bool out_of_file() const { return out_of_file_; }
  bool in_file() const;
  uint32_t recno() const;
  int32_t visits() const;
  const HostRecord& record() const { return *record_; }
  bool ReadMemo(size_t item);
  ICursor* cursor() const { return cursor_; }

 private:
  friend class SessionTable;
  SessionBrowse() = default;
  bool Move(int32_t direction);

  std::u16string table_;
  std::u16string key_;
  std::unique_ptr<HostRecord> record_;
  Query query_;
  ICursor* cursor_ = nullptr;  // one reference held
  uint32_t lock_kind_ = 0;
  bool out_of_file_ = true;
};

// Condition trees for browses (builders.h's ConditionBuilder, with the
// values' bytes copied and texts converted by the host): the nodes and
// their values live as long as the builder.
class BrowseConditions {
 public:
  // session: the host conversions of Compare's texts.
  explicit BrowseConditions(const Session* session) : session_(session) {}
  ~BrowseConditions();
  BrowseConditions(const BrowseConditions&) = delete;
  BrowseConditions& operator=(const BrowseConditions&) = delete;

  // A comparison (ConditionKind 4..8, 12) of item with value (its bytes
  // copied).
  const Condition* Compare(uint32_t kind, std::u16string_view item,
                           const HostValue& value, bool generic = false);
  // A comparison with a text, converted by the host to value_type
  // (kValueNone: kept as UTF-16 text); null when it does not convert.
  const Condition* Compare(uint32_t kind, std::u16string_view item,
                           std::u16string_view text,
                           uint8_t value_type = kValueNone,
                           bool generic = false);
  const Condition* And(const Condition* left, const Condition* right) {
    return nodes_.And(left, right);
  }
  const Condition* Or(const Condition* left, const Condition* right) {
    return nodes_.Or(left, right);
  }
  const Condition* Not(const Condition* child) { return nodes_.Not(child); }

 private:
  const Session* session_;
  ConditionBuilder nodes_;
  std::deque<std::string> bytes_;
};

}  // namespace qx::host

#endif  // QX_HOST_HOSTLIB_SESSION_H_
