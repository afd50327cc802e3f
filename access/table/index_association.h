// Which index files belong to a table, and the key items they give its
// description.
//
// Associating an index file opens it (read-only), describes each of its
// keys (one for NDX, IDX and NTX files, one per tag for MDX and CDX) and
// gives each key an item of the description:
// - the item named like the key (the tag's name; for a single-key file
//   the caller's key name, or the name the file gives its key): a field
//   whose name equals a plain expression is that key's item;
// - a key with no item of its name becomes a new key item (not a field:
//   key flag 4096, host item type 23 of the key length, the index's type
//   letter with '?' read as 'C', the expression), a compound key whose
//   expression is analysed against the description's fields: strictly
//   (every name a field of the table) for a strict association, else
//   leniently (names the formula parser does not know, such as other
//   functions, pass);
// - an existing item that is no compound key cannot take a key whose
//   expression is a formula (blank, '(', ')' or '+'), unless the item is
//   the field the formula reads (a tag NAME on UPPER(NAME)): error 1071.
// Key flags: 16384 unique or 8192 with duplicates, plus 1024 descending or
// 2048 ascending. Keys are numbered on from the description's key count;
// an item already a key keeps its number. Nothing is applied unless every
// key succeeded; the index file is closed again in every case.
//
// Errors go to the error context given (none: nothing is reported):
// 1058 unsupported extension, 1001 open failure (unit 102, site 8), 1019
// the keys cannot be counted (102, 5), 1071 the name clash, 1069 an
// expression the analysis rejects.
#ifndef QX_ACCESS_TABLE_INDEX_ASSOCIATION_H_
#define QX_ACCESS_TABLE_INDEX_ASSOCIATION_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "qx/host_types.h"

namespace qx::access {

class CErrorContext;
class CXBaseDescription;
class CXBaseItem;

// Associates the index file at index_path (a full path) with the
// description of the data file data_path. key_name may be empty; it is
// ignored for a file of several keys. strict: a key without a name fails
// the association (else it is skipped). The new key items are appended to
// *new_items when given. 1 when every key succeeded, else 0.
// strict also makes the analysis of new key items strict.
int32_t AssociateIndexFile(CXBaseDescription* description,
                           std::u16string_view data_path,
                           std::u16string_view index_path,
                           std::u16string_view key_name, bool strict,
                           std::vector<CXBaseItem*>* new_items,
                           CErrorContext* errors);

// The index files of the host's key items (key_flags not 0), at a table's
// open: each item's index file (or its default name) with the item's name
// as key name. A failure with a file the host named fails (0); one with a
// default name is not reported and leaves the key without index.
int32_t AssociateHostKeys(CXBaseDescription* description, const FileDesc* file,
                          CErrorContext* errors);

// The index files beside a data file opened by path: its production index
// for dBASE IV and Visual FoxPro files (leniently: it is the table's own),
// every "*.??x" file of its directory for the others, each without key
// name and strictly, so that an index over fields the table lacks is not
// taken; an index file named after another data file of the directory
// (OTHER.cdx, OTHER_NAME.ntx) is that table's and not taken either.
// Failures are not reported.
void AssociateIndexesBeside(CXBaseDescription* description);

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_INDEX_ASSOCIATION_H_
