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
// attaches more index files. Nothing here calls the component's
// internals: only its exports and the slots of the driver, proxy,
// description, item, table handle and cursor.
//
// Failures answer false (or null); LastError() gives the error as the
// host sees it in the driver's error context: id, French message, level
// and category.
#ifndef QX_HOST_HOSTLIB_SESSION_H_
#define QX_HOST_HOSTLIB_SESSION_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
struct IndexSpec {
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
  // host type are skipped by the driver.
  void Bind(const TableInfo& info);

  Record* get() { return &record_; }
  size_t size() const { return items_.size(); }
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

 private:
  void ReleaseMemos();

  EndConversionFn end_conversion_;
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
  ICursor* cursor_ = nullptr;  // one reference held
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
               std::u16string_view extended_info = u"",
               bool read_only = false);
  // The connection's tables: names only, or (full) each name followed by
  // a tab, the name, two tabs and the full path; lines end with CR LF.
  bool ListTables(bool full, std::u16string* list);
  // Opens a table by name (in the connection's directory) or path; with
  // indexes, those index files are attached, otherwise the ones beside
  // the data file. Null on failure.
  std::unique_ptr<SessionTable> Open(std::u16string_view name_or_path,
                                     const std::vector<IndexSpec>& indexes);

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
  IDriver* driver() const { return host_->driver(); }
  IProxy* proxy() const { return proxy_; }
  const ConnectionDesc* connection() const { return &cnx_; }
  EndConversionFn end_conversion() const { return end_conversion_; }
  uint64_t NextQueryId() { return ++query_ids_; }

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

}  // namespace qx::host

#endif  // QX_HOST_HOSTLIB_SESSION_H_
