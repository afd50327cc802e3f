// The tables of a connection (the driver's GetConnectionValue) and the
// existence check of one table file (CheckTableFile).
//
// The listing searches the connection's directory for "*.dbf" in the
// order the file system gives the names, probes each file as a data file
// (the adapter's ProbeDataFile, reporting nothing) and lists it whether or
// not it opens. The text is built by the option flags: with kListNames
// each table's name (file name without directory and extension), lines
// separated by CR LF with none after the last; with kListPaths as well,
// each line goes on with a tab, the name again, two tabs and the full
// path. Without kListNames the text is empty.
#ifndef QX_ACCESS_CONNECTION_TABLE_LISTING_H_
#define QX_ACCESS_CONNECTION_TABLE_LISTING_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "qx/driver.h"

namespace qx::access {

class CErrorContext;

// Option flags of the listing. Never renumber: the host passes them.
enum TableListingFlags : uint32_t {
  kListNames = 0x01,  // bit 0: list the tables' names
  kListPaths = 0x20,  // bit 5: each name followed by "\t%s\t\t%s"
};

// The directory a connection's data source names: the data source itself,
// or the directory of the file it names ("." when that has none), less
// one trailing separator.
std::u16string ListingDirectory(std::u16string_view data_source);

// Lists the tables of connection into *list. Opens the connection first
// when it is not open (answering 0 when that fails; the open reports into
// errors) and closes it again after. 0 with an empty list when the
// directory does not exist; else 1.
int32_t ListConnectionTables(IConnection* connection, uint32_t flags,
                             IErrorContext* errors, std::u16string* list);

// Resolves path against the connection's data source with ".dbf" as the
// default extension. 1 when the data file exists. Otherwise 0, after
// raising "Le fichier '%1!s!' n'existe pas." with the full path and
// setting the error context's state to 2 (failed), or after the
// resolution's own error when the directory does not exist.
int32_t CheckTableFile(IConnection* connection, std::u16string_view path,
                       CErrorContext* errors);

}  // namespace qx::access

#endif  // QX_ACCESS_CONNECTION_TABLE_LISTING_H_
