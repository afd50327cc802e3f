// The xBase table handle: the host's handle on a named table of a
// connection, keeping its table objects by name.
//
// Open makes the table object of the host description's name when it is
// absent (opening it on the description) and opens its files, for writing
// unless the connection is read-only; Close closes each object's files
// once and drops the objects left closed. The operations that name a
// table forward to its object, making and opening it first when needed.
#ifndef QX_ACCESS_TABLE_XBASE_TABLE_HANDLE_H_
#define QX_ACCESS_TABLE_XBASE_TABLE_HANDLE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "access/table/host_file_copy.h"
#include "access/table/xbase_table.h"
#include "framework/names.h"
#include "framework/ref_counted.h"
#include "qx/driver.h"

namespace qx::access {

class CErrorContext;

class CXBaseTableHandle final : public framework::RefCounted<ITableHandle> {
 public:
  CXBaseTableHandle(std::u16string_view name, const FileDesc* file,
                    ConnectionInfo connection);
  CXBaseTableHandle(const CXBaseTableHandle&) = delete;
  CXBaseTableHandle& operator=(const CXBaseTableHandle&) = delete;

  const char16_t* GetName() override { return name_.c_str(); }
  int32_t Open(const FileDesc* file, uint32_t flags,
               IErrorContext* errors) override;
  int32_t Close() override;
  int32_t HasOpenTable() override;
  IDescription* GetDescription() override;
  void SetForget() override { forgotten_ = true; }
  int32_t IsForgotten() override { return forgotten_ ? 1 : 0; }
  void Reset() override;
  int32_t Apply(uintptr_t, uintptr_t) override { return 1; }
  void Notify(uintptr_t, uintptr_t) override {}
  int32_t Command(uintptr_t) override { return 1; }
  int32_t OpenTableFiles(const char16_t* table, uint32_t mode) override;
  int32_t LockTable(const char16_t* table, uint32_t kind) override;
  int32_t MaintainTable(const char16_t* table, uint32_t options) override;
  int32_t BuildKey(const char16_t* table, const Record* record, uint32_t item,
                   uint8_t* key_image) override;
  int32_t AddKeyItems(IItem* const* items, uint32_t count,
                      const char16_t* index_path) override;
  ITable* GetTableObject(const char16_t* table) override;
  void Destroy() override;

  CXBaseTable* Find(std::u16string_view table) const;
  // The access mode table objects open their files with.
  uint32_t access_mode() const {
    return connection_.read_only ? kAccessRead : kAccessWrite;
  }

 private:
  ~CXBaseTableHandle() = default;

  // The table object of `table`, made and opened (on the handle's own
  // description) when absent; null when that fails.
  CXBaseTable* Obtain(std::u16string_view table);

  std::u16string name_;
  HostFileCopy file_;  // the description the handle was made for
  ConnectionInfo connection_;
  bool forgotten_ = false;
  CErrorContext* errors_ = nullptr;  // one reference held, from Open
  // Table objects by name, one reference held each.
  std::map<std::u16string, CXBaseTable*, framework::NameLess> tables_;
};

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_XBASE_TABLE_HANDLE_H_
