// Maintaining a table: compacting its data file and rebuilding the index
// of every key.
//
// Compacting removes the records marked deleted (the engine's pack) and
// opens the data file again in the open mode it had; its failure is error
// 1063. Re-indexing rebuilds each key in key order from every record:
// into the index file the key's item stores (else its default name), with
// the expression, unique and descending options and FOR condition the
// existing index file gives for the key (the item's own when the file is
// missing or unreadable), every family alike, CDX tags included. A key
// whose build fails raises error 34 and the next key is still rebuilt.
#ifndef QX_ACCESS_TABLE_TABLE_MAINTENANCE_H_
#define QX_ACCESS_TABLE_TABLE_MAINTENANCE_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "access/table/key_index_build.h"
#include "access/table/table_files.h"
#include "qx/driver.h"

namespace qx::access {

class CXBaseDescription;

// Compacts the data file open in *files (its memo file closed first; it
// opens again on first use). Whatever the outcome the data file is open
// again in its previous mode when it can be. 1 or 0 (1063 reported,
// and 1001 when it cannot be opened again).
int32_t CompactDataFile(TableFiles* files);

// The builds of the description's keys, in key order, for its data file
// data_path.
std::vector<KeyBuild> KeysToRebuild(CXBaseDescription* description,
                                    std::u16string_view data_path);

// Rebuilds every key from the data file data_path open as dbf_handle; the
// progress sink, when given, is reset to the number of keys and advanced
// after each. 1 when every key was rebuilt, else 0 (one error 34 per
// failing key, naming the key and the table).
int32_t RebuildKeys(const std::vector<KeyBuild>& keys, uint16_t dbf_handle,
                    std::u16string_view data_path, std::u16string_view table,
                    CErrorContext* errors, IProgress* progress);

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_TABLE_MAINTENANCE_H_
