// File names of the engine's own making: the directory and base name of a
// file, a name with another extension, and the first free work-file name.
// Both packs (data and memo files) name their backups and work files with
// these. Separators are ':', '\\' and '/', as the names the host gives.
#ifndef QX_ENGINE_FILEIO_FILE_NAMES_H_
#define QX_ENGINE_FILEIO_FILE_NAMES_H_

#include <string>

namespace qx::engine {

// The directory part keeps its last separator; the base name is what
// follows it, without its extension.
std::string DirectoryOf(const std::string& name);
std::string BaseNameOf(const std::string& name);

// name with its extension replaced by ext (added when there is none).
std::string WithExtension(const std::string& name, const char* ext);

// The first "<dir><N><ext>" that does not exist, N = 0, 1, ...
std::string FreeWorkName(const std::string& dir, const char* ext);

}  // namespace qx::engine

#endif  // QX_ENGINE_FILEIO_FILE_NAMES_H_
