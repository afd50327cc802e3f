// CXBaseTable: one table object, a data file open for record work with
// its memo and index files.
//
// Open (on the host's description) finds the data file through the
// connection's directory, makes the table's description from the file,
// associates the index files of the host's key items and checks the
// host's items against the file. OpenFiles opens the data file in the
// dialect it was described in (open-mode word: dialect | 0xE00, | 0x100
// read-only unless the access mode is 3), counted: CloseFiles closes it
// with the last call, with the memo file and every index file.
//
// Keys: the key descriptor of a key item (KeyDescriptor) is made on its
// first use and kept by item name; index files are opened once per path,
// so two tags of one MDX or CDX file share one handle.
//
// The table copies the OEM conversion flag of its connection, or takes it
// from the extended information of the host's description (OEMTOANSI=
// WINDOWS). Every failure is reported into the error context given to
// Open, naming the table.
#ifndef QX_ACCESS_TABLE_XBASE_TABLE_H_
#define QX_ACCESS_TABLE_XBASE_TABLE_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "access/adapter/key_descriptor.h"
#include "access/table/host_file_copy.h"
#include "access/table/record_locks.h"
#include "access/table/table_files.h"
#include "framework/names.h"
#include "framework/ref_counted.h"
#include "qx/driver.h"

namespace qx::access {

class CErrorContext;
class CXBaseDescription;
struct CreationTarget;

// What a table object keeps of its connection.
struct ConnectionInfo {
  std::u16string name;
  std::u16string data_source;
  uint32_t oem_conversion = 0;  // 1: OEMTOANSI=WINDOWS
  bool read_only = false;       // the host's access mode 1
};

// The connection info of a driver connection (an xBase connection gives
// its OEM flag; null gives an empty info).
ConnectionInfo InfoOfConnection(IConnection* connection);

// Option bit of Maintain: compact the data file before re-indexing.
inline constexpr uint32_t kMaintainCompact = 1;

// Host access modes of OpenFiles: 3 opens the data file for writing.
inline constexpr uint32_t kAccessWrite = 3;
inline constexpr uint32_t kAccessRead = 1;

class CXBaseTable final : public framework::RefCounted<ITable> {
 public:
  // options: the host's table option word, accepted and not used.
  CXBaseTable(const FileDesc* file, ConnectionInfo connection,
              uint32_t options);
  CXBaseTable(const CXBaseTable&) = delete;
  CXBaseTable& operator=(const CXBaseTable&) = delete;

  // ITable, in slot order.
  const char16_t* GetName() override { return name_.c_str(); }
  void Destroy() override;
  int32_t Open(IErrorContext* errors) override;
  int32_t OpenFiles(uint32_t access_mode) override;
  int32_t CloseFiles() override;
  int32_t IsOpen() override { return files_.is_open() ? 1 : 0; }
  IDescription* GetDescription() override;
  int32_t RecordCount(uint32_t* count) override;
  int32_t ReadRecord(Record* record, uint32_t recno, int32_t fetch_fields,
                     int32_t* deleted, int32_t* out_of_file) override;
  int32_t FillItems(Record* record) override;
  int32_t PutItem(Record* record, uint32_t item) override;
  int32_t ReadMemoItem(Record* record, uint32_t item) override;
  int32_t WriteMemoItem(Record* record, uint32_t item, uint16_t mode) override;
  int32_t WriteRecord(Record* record, uint32_t* recno, uint32_t options,
                      uint16_t mode) override;
  int32_t DeleteRecord(Record* record, uint32_t recno,
                       int32_t remove_keys) override;
  int32_t BuildKey(const Record* record, uint32_t item,
                   uint8_t* key_image) override;
  int32_t LockFile(uint32_t kind) override;
  int32_t UnlockFile() override;
  uint32_t CurrentLockKind() override { return locks_.CurrentKind(); }
  int32_t LockRecord(Record* record, uint32_t kind, uint32_t recno,
                     uint32_t* previous_kind) override;
  int32_t CreateFiles() override;
  int32_t Maintain(uint32_t options, IProgress* progress) override;
  int32_t CreateIndex(const char16_t* key_item,
                      const char16_t* index_file) override;

  // The error context failures go to (one reference held); Open sets it.
  void SetErrors(IErrorContext* errors);

  // The key descriptor of the description's key item `item_name`, made on
  // first use (its index file and tag opened); null after reporting 1023,
  // 1058, 1001 or 1044.
  const IndexKeyDescriptor* KeyDescriptor(std::u16string_view item_name);
  // Index files open for the keys (one per path).
  size_t open_index_count() const { return open_indexes_.size(); }

  // Key items AttachIndex associated with the table's description
  // elsewhere: copies join this table's description as keys.
  void AddKeyItems(IItem* const* items, uint32_t count,
                   std::u16string_view index_path);

  // Makes a description of the data file at path under the table's name,
  // with one reference for the caller, or null (reported).
  CXBaseDescription* MakeDescription(std::u16string_view path);

  CXBaseDescription* description() const { return description_; }
  const TableFiles& files() const { return files_; }
  const FileDesc* host_file() const { return host_file_.get(); }
  // Locks held (file-lock modes); the record writer's files.
  const TableLocks& locks() const { return locks_; }
  TableFiles* mutable_files() { return &files_; }

 private:
  ~CXBaseTable();

  struct OpenIndexFile {
    std::u16string path;
    XbaseDialect dialect = kDialectOther;
    uint16_t handle = 0;
  };

  void SetDescription(CXBaseDescription* description);
  // The data file's path and family and the error context, for creating
  // files; false after reporting a directory that does not exist.
  bool CreationTargetOf(CreationTarget* target);
  void CloseKeys();

  std::u16string name_;
  HostFileCopy host_file_;
  ConnectionInfo connection_;
  CXBaseDescription* description_ = nullptr;  // one reference held
  CErrorContext* errors_ = nullptr;           // one reference held
  TableFiles files_;
  std::map<std::u16string, IndexKeyDescriptor, framework::NameLess> keys_;
  std::vector<OpenIndexFile> open_indexes_;
  TableLocks locks_;
};

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_XBASE_TABLE_H_
