// The driver object and the objects the host reaches through it.
//
// The host calls every operation through the objects' tables of virtual
// operations, so the order of the operations below is the ABI: a test pins
// every slot's index of IDriver, IProxy, IItem, IDescription, ITable,
// ITableHandle and ICursor. Add nothing in the middle,
// never reorder. None of these classes has a virtual destructor (it would
// take one slot on one compiler and two on another): an object ends
// through its own Destroy slot, which the last Release reaches.
//
// Conventions of every interface here:
// - Reference counting: AddRef and Release answer the new count; the last
//   Release destroys the object. Objects taken from a registry come with
//   one reference, which the taker releases; a factory slot (Create...)
//   answers a new object with a count of 0, to which the taker adds the
//   first reference. piQueryInterface and pQueryProxy answer their objects
//   with one reference.
// - Results: 1 success and 0 failure for int32_t results unless told
//   otherwise; a failure leaves its error in the driver's error context.
// - Nothing throws: no exception crosses any of these operations.
// - A "connection id" is the host's ConnectionDesc; the driver names the
//   connection by its `name` and keeps one connection object per name.
// - Threads: the host calls one operation at a time per driver; the
//   operations that touch files serialise on the driver registry lock.
#ifndef QX_DRIVER_H_
#define QX_DRIVER_H_

#include <cstdint>

#include "qx/host_types.h"

namespace qx {

class IConnection;
class IDescription;
class IErrorContext;
class IItem;
class IItemValue;
class IFrameworkObject;
class ITable;
class ITableHandle;
class ICursor;

// Error context states (IErrorContext::State). Never renumber.
enum ErrorContextState : int32_t {
  kErrorStateNone = 0,         // no error since the last reset
  kErrorStateError = 1,        // an error is held
  kErrorStateFailed = 2,       // the operation failed (set by the driver)
  kErrorStateOutOfMemory = 3,  // ours: an allocation failed
};

// Error categories as the host receives them. Never renumber.
enum ErrorCategory : int32_t {
  kCategoryGeneral = 0,
  kCategoryInformation = 1,
  kCategoryLockConflict = 2,
  kCategoryDuplicateKey = 3,
};

// Section flags of an error dump (IErrorContext::CopyDump). Never renumber.
enum ErrorDumpFlags : uint32_t {
  kDumpModule = 0x01,
  kDumpHostCall = 0x02,
  kDumpLevel = 0x04,
  kDumpId = 0x08,
  kDumpCompatibilityCode = 0x10,
  kDumpSystemCode = 0x20,
  kDumpSystemMessage = 0x40,
  kDumpUserMessage = 0x80,
  kDumpDebug = 0x100,
  kDumpItems = 0x200,
  kDumpDetailId = 0x400,
  kDumpSubErrors = 0x800,
  kDumpAll = 0xFFF,
  kDumpNoHeading = 0x40000000,  // leaves out "Que s'est-il passé ?"
};

// The error context: receives every error raised while an operation runs
// and keeps it for the host. The text operations copy into the caller's
// UTF-16 buffer, cut at capacity - 1 and always NUL-terminated when the
// capacity is above 0; they answer the whole text's length in characters.
class IErrorContext {
 public:
  virtual uint32_t AddRef() = 0;   // 0
  virtual uint32_t Release() = 0;  // 1
  // Forgets the held error; `operation` (may be null) names the host
  // operation that starts.
  virtual void Reset(const char16_t* operation) = 0;  // 2
  virtual int32_t State() = 0;                        // 3
  virtual void SetState(int32_t state) = 0;           // 4
  virtual int32_t HasError() = 0;                     // 5
  virtual uint32_t ErrorId() = 0;                     // 6
  virtual uint32_t Level() = 0;                       // 7
  virtual int32_t Category() = 0;                     // 8
  virtual uint32_t SubErrorCount() = 0;               // 9
  virtual uint32_t CopyMessage(char16_t* buffer, uint32_t capacity) = 0;
  virtual uint32_t CopyDebugInfo(char16_t* buffer, uint32_t capacity) = 0;
  virtual uint32_t CopyDump(uint32_t flags, char16_t* buffer,  // 12
                            uint32_t capacity) = 0;
  virtual void Destroy() = 0;  // 13

 protected:
  ~IErrorContext() = default;
};

// A connection: for the xBase driver a directory.
class IConnection {
 public:
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
  virtual const char16_t* GetName() = 0;
  virtual const char16_t* GetDataSource() = 0;
  virtual int32_t Open(IErrorContext* errors) = 0;
  virtual int32_t IsOpen() = 0;
  virtual int32_t Close(IErrorContext* errors) = 0;
  // Transactions, counted when nested; the way is 1 or 2.
  virtual int32_t StartTransaction(const char16_t* name) = 0;
  virtual int32_t EndTransaction(int32_t way) = 0;
  // Whether the table handles of the connection must be reset after a
  // transaction ends.
  virtual int32_t NeedsTableReset() = 0;
  // A yes/no question of the framework (1 or 2), and an action.
  virtual int32_t Ask(int32_t question) = 0;
  virtual int32_t Action(uintptr_t first, uintptr_t second) = 0;
  virtual void Destroy() = 0;

 protected:
  ~IConnection() = default;
};

// An item of a table description: a field of the data file, or a key an
// index file provides (key number from 0, key flags, key length, index
// file and expression), or both.
class IItem {
 public:
  virtual uint32_t AddRef() = 0;                // 0
  virtual uint32_t Release() = 0;               // 1
  virtual const char16_t* GetName() = 0;        // 2
  virtual uint8_t GetItemType() = 0;            // 3: HostItemType
  virtual uint32_t GetSize() = 0;               // 4: host buffer bytes
  virtual int32_t GetFieldNumber() = 0;         // 5: 0-based; -1 not a field
  virtual int32_t GetKeyNumber() = 0;           // 6: -1 when not a key
  virtual uint32_t GetKeyFlags() = 0;           // 7: KeyFlags
  virtual uint32_t GetKeyLength() = 0;          // 8
  virtual const char16_t* GetIndexPath() = 0;   // 9: as stored (relative)
  virtual const char16_t* GetExpression() = 0;  // 10
  virtual uint16_t GetXBaseType() = 0;          // 11: type letter; 0 none
  virtual uint32_t GetDigits() = 0;             // 12
  virtual uint32_t GetDecimals() = 0;           // 13
  virtual const char16_t* GetMemoPath() = 0;    // 14
  virtual void Destroy() = 0;                   // 15

 protected:
  ~IItem() = default;
};

constexpr int kItemSlotCount = 16;

// A table description: the data file and its items. Items are owned by
// the description and live as long as it does.
class IDescription {
 public:
  virtual uint32_t AddRef() = 0;               // 0
  virtual uint32_t Release() = 0;              // 1
  virtual const char16_t* GetName() = 0;       // 2: logical name
  virtual const char16_t* GetFileName() = 0;   // 3: without directory/ext
  virtual uint32_t GetItemCount() = 0;         // 4
  virtual IItem* GetItem(uint32_t index) = 0;  // 5: no reference added
  virtual IItem* FindItem(const char16_t* name) = 0;  // 6
  virtual uint32_t GetKeyCount() = 0;                 // 7
  virtual IItem* GetKey(uint32_t index) = 0;          // 8
  // The operations the xBase description replaces, in this order.
  virtual const char16_t* GetPath() = 0;            // 9
  virtual uint32_t GetFileType() = 0;               // 10: XBaseFileType
  virtual const char16_t* GetExtension() = 0;       // 11: null when empty
  virtual void Destroy() = 0;                       // 12
  virtual int32_t CheckItems(const FileDesc* file,  // 13
                             IErrorContext* errors) = 0;
  virtual IDescription* Copy() = 0;                          // 14
  virtual int32_t DescribeItems(IErrorContext* errors) = 0;  // 15

 protected:
  ~IDescription() = default;
};

constexpr int kDescriptionSlotCount = 16;

// A framework item value (CreateItemValue).
class IItemValue {
 public:
  virtual uint8_t GetItemType() = 0;
  // 1 when the value has the fixed size of its type; a memo value says 0.
  virtual int32_t HasFixedSize() = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
  virtual HostValue* GetValue() = 0;
  virtual void Destroy() = 0;

 protected:
  ~IItemValue() = default;
};

// Framework objects the driver only creates for the host (the base
// factories and the statement builder). Never renumber the kinds.
enum FrameworkObjectKind : uint32_t {
  kFrameworkObjectA = 1,
  kFrameworkObjectB = 2,
  kFrameworkObjectC = 3,
  kFrameworkObjectD = 4,
  kFrameworkStatementBuilder = 5,
};

class IFrameworkObject {
 public:
  virtual uint32_t GetKind() = 0;  // FrameworkObjectKind
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
  virtual void Destroy() = 0;

 protected:
  ~IFrameworkObject() = default;
};

// The sink of a long maintenance operation (reindex): told the number of
// steps, then advanced by one per step.
class IProgress {
 public:
  virtual void Reset(uint32_t steps) = 0;  // 0
  virtual void Advance() = 0;              // 1

 protected:
  ~IProgress() = default;
};

// An open table: a data file with its memo and index files. The host
// reaches it through its table handle and its cursors; the operations on
// records take the host record buffer the cursor was made with. A failure
// leaves its error in the error context given to Open.
class ITable {
 public:
  virtual uint32_t AddRef() = 0;                        // 0
  virtual uint32_t Release() = 0;                       // 1
  virtual const char16_t* GetName() = 0;                // 2
  virtual void Destroy() = 0;                           // 3
  virtual int32_t Open(IErrorContext* errors) = 0;      // 4
  virtual int32_t OpenFiles(uint32_t access_mode) = 0;  // 5
  virtual int32_t CloseFiles() = 0;                     // 6
  // 1 when the data file is open for record work.
  virtual int32_t IsOpen() = 0;                      // 7
  virtual IDescription* GetDescription() = 0;        // 8: no reference
  virtual int32_t RecordCount(uint32_t* count) = 0;  // 9
  // Record transfer. ReadRecord reads record recno into the engine's
  // buffer and, with fetch_fields, fills every bound item; a record past
  // the end sets *out_of_file and answers 1 without touching the items.
  virtual int32_t ReadRecord(Record* record, uint32_t recno,  // 10
                             int32_t fetch_fields, int32_t* deleted,
                             int32_t* out_of_file) = 0;
  virtual int32_t FillItems(Record* record) = 0;                    // 11
  virtual int32_t PutItem(Record* record, uint32_t item) = 0;       // 12
  virtual int32_t ReadMemoItem(Record* record, uint32_t item) = 0;  // 13
  // mode 256: the record exists (an unchanged memo is not written).
  virtual int32_t WriteMemoItem(Record* record, uint32_t item,  // 14
                                uint16_t mode) = 0;
  // Writing: mode 0 adds a record (*recno receives its number), 256
  // rewrites record *recno; every key of the table follows.
  virtual int32_t WriteRecord(Record* record, uint32_t* recno,  // 15
                              uint32_t options, uint16_t mode) = 0;
  virtual int32_t DeleteRecord(Record* record, uint32_t recno,  // 16
                               int32_t remove_keys) = 0;
  // The key image of item `item` of the record (101 bytes).
  virtual int32_t BuildKey(const Record* record, uint32_t item,  // 17
                           uint8_t* key_image) = 0;
  // Locking: file lock kinds 2, 3 and 4; record lock kinds 0 (none), 1
  // (unlock), 2 and 3.
  virtual int32_t LockFile(uint32_t kind) = 0;               // 18
  virtual int32_t UnlockFile() = 0;                          // 19
  virtual uint32_t CurrentLockKind() = 0;                    // 20
  virtual int32_t LockRecord(Record* record, uint32_t kind,  // 21
                             uint32_t recno, uint32_t* previous_kind) = 0;
  // Creation of the table's files from the host's description, and
  // maintenance (option bit 1: compact first, then reindex).
  virtual int32_t CreateFiles() = 0;          // 22
  virtual int32_t Maintain(uint32_t options,  // 23
                           IProgress* progress) = 0;
  virtual int32_t CreateIndex(const char16_t* key_item,  // 24
                              const char16_t* index_file) = 0;

 protected:
  ~ITable() = default;
};

constexpr int kTableSlotCount = 25;

// The host's handle on a named table of a connection. It keeps its table
// objects by name: the operations that name a table find its object
// (OpenTableFiles, LockTable and MaintainTable create and open it when it
// is absent) and forward the call to it.
class ITableHandle {
 public:
  virtual uint32_t AddRef() = 0;          // 0
  virtual uint32_t Release() = 0;         // 1
  virtual const char16_t* GetName() = 0;  // 2
  // Opens the table for the host's description; flag value 16 keeps a
  // handle whose open failed. Errors go to `errors`.
  virtual int32_t Open(const FileDesc* file, uint32_t flags,  // 3
                       IErrorContext* errors) = 0;
  virtual int32_t Close() = 0;                 // 4
  virtual int32_t HasOpenTable() = 0;          // 5
  virtual IDescription* GetDescription() = 0;  // 6: no reference added
  // The framework's forget mark: a forgotten handle leaves the registry
  // when it is next closed.
  virtual void SetForget() = 0;       // 7
  virtual int32_t IsForgotten() = 0;  // 8
  // Drops every table object after a transaction asked for it.
  virtual void Reset() = 0;  // 9
  // The driver's broadcasts (ForEachTableHandle, ForEachTableHandleEx)
  // and the host's table command (TableCommand).
  virtual int32_t Apply(uintptr_t first, uintptr_t second) = 0;  // 10
  virtual void Notify(uintptr_t first, uintptr_t second) = 0;    // 11
  virtual int32_t Command(uintptr_t argument) = 0;               // 12
  // The four operations that reach a table object by name.
  virtual int32_t OpenTableFiles(const char16_t* table,  // 13
                                 uint32_t mode) = 0;
  virtual int32_t LockTable(const char16_t* table, uint32_t kind) = 0;  // 14
  virtual int32_t MaintainTable(const char16_t* table,                  // 15
                                uint32_t options) = 0;
  virtual int32_t BuildKey(const char16_t* table, const Record* record,  // 16
                           uint32_t item, uint8_t* key_image) = 0;
  // Key items added by AttachIndex for an open table.
  virtual int32_t AddKeyItems(IItem* const* items, uint32_t count,  // 17
                              const char16_t* index_path) = 0;
  // The table object of that name (no reference added), or null.
  virtual ITable* GetTableObject(const char16_t* table) = 0;  // 18
  virtual void Destroy() = 0;                                 // 19

 protected:
  ~ITableHandle() = default;
};

constexpr int kTableHandleSlotCount = 20;

// Positioning directions of ICursor::Position. Never renumber.
enum CursorDirection : int32_t {
  kCursorFirst = 0,
  kCursorLast = 1,
  kCursorNext = 2,
  kCursorPrevious = 3,
  kCursorCurrent = 4,
};

// A browse of one table (the driver's query object), made by CreateQuery
// for a host query object: it works on the table the query names and on
// the query's host record buffer, which the host keeps alive as long as
// the cursor. Results: 1 success (also at the end of the file, with the
// out-of-file mark set), 0 failure.
class ICursor {
 public:
  virtual uint32_t AddRef() = 0;                      // 0
  virtual uint32_t Release() = 0;                     // 1
  virtual int32_t SetName(const char16_t* name) = 0;  // 2
  virtual int32_t Close() = 0;                        // 3
  virtual int32_t Position(int32_t direction,         // 4
                           int32_t fetch_fields, uint32_t lock_options,
                           int32_t* deleted) = 0;
  // Reads record recno into the host record (fetch_fields: every item).
  virtual int32_t ReadRecord(uint32_t recno, int32_t fetch_fields,  // 5
                             uint32_t lock_options, int32_t* deleted) = 0;
  virtual int32_t Seek(const HostValue* value, int32_t exact,  // 6
                       int32_t* found, int32_t* out_of_file, uint32_t* recno,
                       uint8_t* key_image, int32_t* past_end,
                       uint16_t search_mode) = 0;
  virtual int32_t Refind(uint32_t recno) = 0;  // 7
  // options bit 16: the table's record count, else the records counted
  // one by one.
  virtual int32_t Count(uint32_t* count, uint32_t options) = 0;         // 8
  virtual int32_t SavePosition(PositionRecord* position) = 0;           // 9
  virtual int32_t RestorePosition(const PositionRecord* position) = 0;  // 10
  // Fills memo item `item` of the host record from the memo file.
  virtual int32_t ReadMemoItem(uint32_t item, uint32_t options) = 0;  // 11
  virtual int32_t Write(uint32_t* recno, uint32_t options,            // 12
                        uint16_t mode) = 0;
  virtual int32_t Delete(uint32_t recno) = 0;                // 13
  virtual int32_t LockRecord(uint32_t kind, uint32_t recno,  // 14
                             uint32_t* previous_kind) = 0;
  // The marks of the last positioning: no current record (before the
  // first or past the last), and whether the record satisfies the browse.
  virtual int32_t IsOutOfFile() = 0;  // 15
  virtual int32_t IsInFile() = 0;     // 16
  // The current record number (0 when none) and the visit counter.
  virtual uint32_t GetRecno() = 0;      // 17
  virtual int32_t GetVisitCount() = 0;  // 18
  virtual void Destroy() = 0;           // 19

 protected:
  ~ICursor() = default;
};

constexpr int kCursorSlotCount = 20;

// The driver object, in the slot order of its table of operations. The
// slot index of each operation is written after it.
class IDriver {
 public:
  virtual uint32_t GetDriverKind() = 0;                            // 0
  virtual uint32_t GetDriverSubKind() = 0;                         // 1
  virtual uint32_t GetCapabilities() = 0;                          // 2
  virtual uint32_t GetCapabilitiesEx() = 0;                        // 3
  virtual void Idle() = 0;                                         // 4
  virtual uint32_t AddRef() = 0;                                   // 5
  virtual uint32_t Release() = 0;                                  // 6
  virtual int32_t ResetErrors() = 0;                               // 7
  virtual int32_t OpenConnection(const ConnectionDesc* cnx) = 0;   // 8
  virtual int32_t CloseConnection(const ConnectionDesc* cnx) = 0;  // 9
  virtual int32_t FrameworkFlag1() = 0;                            // 10
  virtual IErrorContext* GetErrorContext() = 0;                    // 11
  virtual int32_t ForEachTableHandle(uintptr_t first,              // 12
                                     uintptr_t second) = 0;
  virtual ITableHandle* GetTable(const ConnectionDesc* cnx,  // 13
                                 const FileDesc* file) = 0;
  virtual int32_t GetConnectionProperty(const ConnectionDesc* cnx,  // 14
                                        HostValue* value, uint32_t options) = 0;
  // Descriptions answered by OpenTableByPath, OpenDescription and the
  // proxy's OpenTableDirect and AttachIndex come with one reference.
  virtual IDescription* OpenTableByPath(const char16_t* path,  // 15
                                        const ConnectionDesc* cnx) = 0;
  virtual int32_t OpenTableEx(const ConnectionDesc* cnx,  // 16
                              const FileDesc* file, uint32_t flags) = 0;
  virtual int32_t ReleaseQuery(const Query* query) = 0;        // 17
  virtual int32_t StartTransaction(const ConnectionDesc* cnx,  // 18
                                   const char16_t* name) = 0;
  virtual int32_t EndTransaction(const ConnectionDesc* cnx) = 0;     // 19
  virtual int32_t EndTransactionEx(const ConnectionDesc* cnx) = 0;   // 20
  virtual int32_t ConnectionQuery(const ConnectionDesc* cnx) = 0;    // 21
  virtual int32_t ConnectionQueryEx(const ConnectionDesc* cnx) = 0;  // 22
  virtual int32_t FrameworkFlag2() = 0;                              // 23
  virtual int32_t ConnectionAction(const ConnectionDesc* cnx,        // 24
                                   uintptr_t first, uintptr_t second) = 0;
  virtual int32_t Unsupported() = 0;                          // 25
  virtual int32_t TableFileExists(const ConnectionDesc* cnx,  // 26
                                  const FileDesc* file) = 0;
  virtual int32_t PrepareTable(const ConnectionDesc* cnx,  // 27
                               const FileDesc* file) = 0;
  virtual int32_t GetNullValue(HostValue* value) = 0;  // 28
  virtual int32_t FrameworkFlag3() = 0;                // 29
  virtual int32_t SetHostValues(uintptr_t first,       // 30
                                uintptr_t second) = 0;
  virtual int32_t UnsupportedEx() = 0;           // 31
  virtual int32_t NameQuery(const Query* query,  // 32
                            const char16_t* name) = 0;
  // `handle`, when not null, receives the table handle of a first
  // successful open with one reference.
  virtual int32_t OpenTable(const ConnectionDesc* cnx,  // 33
                            const FileDesc* file, uint32_t flags,
                            ITableHandle** handle) = 0;
  virtual int32_t CloseTable(const ConnectionDesc* cnx,  // 34
                             const char16_t* table) = 0;
  virtual int32_t FrameworkFlag4() = 0;                    // 35
  virtual int32_t SetHostValue(uintptr_t value) = 0;       // 36
  virtual int32_t TableCommand(const ConnectionDesc* cnx,  // 37
                               const char16_t* table, uintptr_t argument) = 0;
  virtual int32_t UnsupportedOnConnection(  // 38
      const ConnectionDesc* cnx) = 0;
  virtual void Destroy() = 0;            // 39
  virtual int32_t FrameworkFlag5() = 0;  // 40
  // Writes the connection string into buffer (cut at capacity - 1, NUL-
  // terminated) and answers its whole length in characters.
  virtual uint32_t FormatConnectionString(const ConnectionDesc* cnx,  // 41
                                          char16_t* buffer,
                                          uint32_t capacity) = 0;
  virtual int32_t FrameworkFlag6() = 0;                          // 42
  virtual IFrameworkObject* CreateBaseObjectA() = 0;             // 43
  virtual int32_t FrameworkFlag7() = 0;                          // 44
  virtual IDescription* CreateDescription(const FileDesc* file,  // 45
                                          IConnection* connection) = 0;
  virtual IFrameworkObject* CreateBaseObjectB() = 0;  // 46
  virtual ITable* CreateTable(const FileDesc* file,   // 47
                              IConnection* connection, uint32_t options) = 0;
  virtual ICursor* CreateQuery(const Query* query) = 0;                 // 48
  virtual IItemValue* CreateItemValue(uint8_t item_type) = 0;           // 49
  virtual IFrameworkObject* CreateStatementBuilder() = 0;               // 50
  virtual IErrorContext* CreateErrorContext() = 0;                      // 51
  virtual IFrameworkObject* CreateBaseObjectC() = 0;                    // 52
  virtual IDescription* OpenFileDescription(const char16_t* path) = 0;  // 53
  virtual IFrameworkObject* CreateBaseObjectD() = 0;                    // 54
  virtual void ForEachTableHandleEx(uintptr_t first,                    // 55
                                    uintptr_t second) = 0;
  virtual IItem* CreateItem() = 0;                             // 56
  virtual void Idle2() = 0;                                    // 57
  virtual IConnection* CreateConnection(const char16_t* name,  // 58
                                        const ConnectionDesc* cnx) = 0;
  virtual ITableHandle* CreateTableHandle(const char16_t* name,  // 59
                                          const FileDesc* file,
                                          IConnection* connection) = 0;
  virtual int32_t FrameworkFlag8() = 0;                 // 60
  virtual int32_t GetConnectionValue(HostValue* value,  // 61
                                     IConnection* connection,
                                     uint32_t options) = 0;
  virtual int32_t CheckTableFile(IConnection* connection,  // 62
                                 const char16_t* path) = 0;
  virtual int32_t PrepareTableHook(IConnection* connection,  // 63
                                   const FileDesc* file) = 0;
  virtual void Idle3() = 0;                                    // 64
  virtual IDescription* OpenDescription(const char16_t* path,  // 65
                                        const char16_t* logical_name,
                                        IConnection* connection) = 0;

 protected:
  ~IDriver() = default;
};

constexpr int kDriverSlotCount = 66;

// The proxy object of interface 191: direct-open services, bound to the
// driver that was current when it was made.
class IProxy {
 public:
  virtual uint32_t GetProxyKind() = 0;           // 0
  virtual uint32_t GetProxyKind2() = 0;          // 1
  virtual uint32_t GetCapabilities() = 0;        // 2
  virtual uint32_t GetCapabilitiesEx() = 0;      // 3
  virtual void Idle() = 0;                       // 4
  virtual uint32_t AddRef() = 0;                 // 5
  virtual uint32_t Release() = 0;                // 6
  virtual IErrorContext* GetErrorContext() = 0;  // 7
  // `host_connection` is the identity of the host's connection object.
  virtual IDescription* OpenTableDirect(const char16_t* path,  // 8
                                        const char16_t* logical_name,
                                        const ConnectionDesc* cnx,
                                        uint32_t flags,
                                        const void* host_connection) = 0;
  virtual IDescription* AttachIndex(const char16_t* index_file,  // 9
                                    const char16_t* key_name,
                                    const ConnectionDesc* cnx,
                                    const FileDesc* file,
                                    const void* host_connection) = 0;
  virtual int32_t ForgetTable(const ConnectionDesc* cnx,  // 10
                              const char16_t* table) = 0;
  // -1 reads; 1 sets ASCII order; any other value the collation order.
  // Answers 1 when ASCII order was in force before the call.
  virtual int32_t SetAsciiSort(int32_t value) = 0;  // 11
  virtual void Reserved1() = 0;                     // 12
  virtual void Reserved2() = 0;                     // 13
  virtual void Reserved3() = 0;                     // 14
  virtual void Reserved4() = 0;                     // 15
  virtual void Reserved5() = 0;                     // 16
  virtual void Reserved6() = 0;                     // 17
  virtual void Reserved7() = 0;                     // 18
  virtual void Reserved8() = 0;                     // 19
  virtual void Reserved9() = 0;                     // 20
  virtual void Reserved10() = 0;                    // 21
  virtual void Reserved11() = 0;                    // 22
  virtual void Destroy() = 0;                       // 23

 protected:
  ~IProxy() = default;
};

constexpr int kProxySlotCount = 24;
constexpr int32_t kProxyInterface = 191;

}  // namespace qx

#endif  // QX_DRIVER_H_
