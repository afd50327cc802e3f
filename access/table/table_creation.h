// Creating a table's files from the host's description: the data file,
// its memo file and the index of each key.
//
// The family comes from the description's file format
// (DialectOfFileType: FoxPro 2 and Visual FoxPro through our own codes);
// each host item becomes a field by MapHostItemToField, its name cut to 10
// characters (a longer one is error 1059); items the host marks as not
// stored and compound keys take no field. A memo file (".dbt", or ".fpt"
// in the FoxPro families) is made when a field keeps its values there.
//
// A key of the description is built from its field's name or its
// compound formula (checked against the description's items: error 1069),
// into the index file the item names, else "<file>_<item>" beside the
// data file (an NDX file, where a table's open looks for it). Failures
// are reported into the error context given: 1034 (data or memo file),
// 1035, 1056, 1059, 1062 (index), 1065 (an old index file that cannot be
// deleted).
#ifndef QX_ACCESS_TABLE_TABLE_CREATION_H_
#define QX_ACCESS_TABLE_TABLE_CREATION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "access/adapter/data_file_ops.h"
#include "access/table/key_index_build.h"
#include "qx/host_types.h"

namespace qx::access {

class CErrorContext;

// What the creation steps work on.
struct CreationTarget {
  const FileDesc* file = nullptr;  // the host's description
  std::u16string data_path;        // full path of the data file
  XbaseDialect dialect = 1;        // the data file's family
  std::u16string table;            // logical name, named by errors
  CErrorContext* errors = nullptr;
};

// The fields of the description's items in dialect; false after
// reporting 1059 or 1035.
bool NewTableFields(const CreationTarget& target, XbaseDialect dialect,
                    std::vector<FieldDescription>* fields);

// Creates the data file, then its memo file when a field needs one. 1 or
// 0 (reported).
int32_t CreateDataAndMemo(const CreationTarget& target);

// The build of host key item `item` of the description; index_file, when
// not empty, replaces the file the item names. False after reporting
// 1069 (a compound formula that does not parse).
bool KeyBuildOfHostItem(const CreationTarget& target, const FileItem& item,
                        std::u16string_view index_file, KeyBuild* build);

// Builds the key's index from the data file open as dbf_handle, or,
// with kNoDataHandle, opened for the build. 1 or 0 (1065 or 1062
// reported).
int32_t CreateKeyIndex(const CreationTarget& target, uint16_t dbf_handle,
                       const KeyBuild& build);

// CreateDataAndMemo, then the index of every key item of the description.
int32_t CreateTableFiles(const CreationTarget& target);

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_TABLE_CREATION_H_
