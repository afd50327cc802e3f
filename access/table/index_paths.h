// Where a table's index files lie, and how their paths are stored.
//
// Index file names given by the host resolve against the data file's
// directory: a name with a drive (or a rooted directory) keeps its own
// directory, any other name goes below the data file's directory; a name
// without an extension is an NDX file. A key item whose host description
// names no index file is looked for in "<table file>_<item>.ndx" beside
// the data file.
//
// A key item stores its index file relative to the data file's directory
// in the host's form: ".\" then the path below that directory, or one
// "..\" per level to climb; the full path when there is no relative form
// (another drive, one path rooted and the other not) or when the relative
// form would pass 260 characters. Components compare without regard to
// case; "." and ".." components of either path are resolved first.
#ifndef QX_ACCESS_TABLE_INDEX_PATHS_H_
#define QX_ACCESS_TABLE_INDEX_PATHS_H_

#include <string>
#include <string_view>

namespace qx::access {

// The full path of index file name `index_name` of the data file
// data_path.
std::u16string IndexPathOf(std::u16string_view data_path,
                           std::u16string_view index_name);

// "<file name>_<item name>": the index file of a key item that names none.
std::u16string DefaultIndexFileName(std::u16string_view file_name,
                                    std::u16string_view item_name);

// The stored form of index_path for the data file data_path.
std::u16string StoredIndexPath(std::u16string_view data_path,
                               std::u16string_view index_path);

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_INDEX_PATHS_H_
