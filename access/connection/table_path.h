// How a table name or path becomes a data file path.
//
// Paths are UTF-16, at most 260 characters, in the host's (Windows) form:
// an optional drive "X:", a directory ending with '\' or '/', a file name,
// and an extension that starts at the last '.' of the last component. A
// separator inserted where one is missing is '\' (the POSIX platform layer
// reads it as '/').
#ifndef QX_ACCESS_CONNECTION_TABLE_PATH_H_
#define QX_ACCESS_CONNECTION_TABLE_PATH_H_

#include <string>
#include <string_view>

namespace qx::access {

class CErrorContext;

constexpr size_t kMaxPathLength = 260;  // characters, the NUL not counted

struct PathParts {
  std::u16string drive;      // "C:" or empty
  std::u16string directory;  // with its trailing separator, or empty
  std::u16string name;       // without directory and extension
  std::u16string extension;  // with its dot, or empty
};

// Splits a path; a path longer than kMaxPathLength gives four empty parts.
PathParts SplitPath(std::u16string_view path);

// Joins parts, inserting '\' after a directory without its separator and
// '.' before an extension without its dot.
std::u16string JoinPath(std::u16string_view directory, std::u16string_view name,
                        std::u16string_view extension);

// Resolves a table path against a connection's data source: the path's
// own directory, else the data source, else "."; its own extension, else
// default_extension, else ".dbf". The directory must exist: otherwise
// "Le répertoire '%1!s!' fourni dans la connexion n'existe pas." is raised
// into errors and the answer is false.
bool ResolveTablePath(std::u16string_view data_source, std::u16string_view path,
                      std::u16string_view default_extension,
                      CErrorContext* errors, std::u16string* full_path);

// Whether a UTF-16 path names an existing file (not a directory).
bool TableFileExists(std::u16string_view path);

}  // namespace qx::access

#endif  // QX_ACCESS_CONNECTION_TABLE_PATH_H_
