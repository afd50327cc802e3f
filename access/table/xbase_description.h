// CXBaseDescription: the description of one data file.
//
// Filled from the file itself (Fill, DescribeItems): the data file is
// opened read-only and shared, trying the dialect rows in order; the row
// that opened it gives the xBase file type reported to the host; every
// field but the hidden system columns of Visual FoxPro becomes an item,
// typed by the field mapping of fields/type_mapping.h; a memo field keeps
// the path of its memo file (named by the engine's rule for the dialect)
// only when that file exists. The file is closed again: the table object
// opens it anew for record work. Index files add key items to it
// (index_association.h).
//
// Failures are reported into the error context given (errors 1003, 1006,
// 12); a failure while describing keeps the items appended before it.
#ifndef QX_ACCESS_TABLE_XBASE_DESCRIPTION_H_
#define QX_ACCESS_TABLE_XBASE_DESCRIPTION_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "access/adapter/dialects.h"
#include "access/table/xbase_item.h"
#include "framework/native_description.h"

namespace qx::access {

class CErrorContext;

class CXBaseDescription final : public framework::CNativeDescription {
 public:
  // data_source: the connection's directory, for the default data file
  // path of a description filled without one.
  explicit CXBaseDescription(std::u16string_view data_source = u"")
      : data_source_(data_source) {}

  // The operations the xBase description replaces, in slot order.
  const char16_t* GetPath() override { return path_.c_str(); }
  uint32_t GetFileType() override { return file_type_; }
  const char16_t* GetExtension() override;
  void Destroy() override { delete this; }
  // Every host item must be an item of the description, compound keys
  // excepted: error 1064 at the first one that is not.
  int32_t CheckItems(const FileDesc* file, IErrorContext* errors) override;
  // A new description (count 0) with this one's path, type and items.
  IDescription* Copy() override;
  int32_t DescribeItems(IErrorContext* errors) override;

  // Sets the logical name and the data file path (empty: the data source,
  // a backslash, the logical name and ".dbf"), then describes the items.
  bool Fill(std::u16string_view logical_name, std::u16string_view path,
            CErrorContext* errors);

  const std::u16string& path() const { return path_; }
  // The row of the dialect table the file opened under (-1 before).
  int32_t dialect_row() const { return dialect_row_; }
  // The dialect code of that row, or kDialectOther before.
  XbaseDialect dialect() const;
  const std::u16string& data_source() const { return data_source_; }

  CXBaseItem* FindXItem(std::u16string_view name) const {
    return static_cast<CXBaseItem*>(Find(name));
  }
  // Appends an item of ours (count 0 is fine).
  void AppendXItem(CXBaseItem* item) { AppendItem(item); }

 private:
  ~CXBaseDescription() override = default;

  std::u16string data_source_;
  std::u16string path_;       // full path of the data file
  std::u16string extension_;  // with its dot
  int32_t dialect_row_ = -1;
  uint32_t file_type_ = 1;  // XBaseFileType
};

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_XBASE_DESCRIPTION_H_
