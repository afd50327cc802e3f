// The probe of a data file found by the table listing: opened through the
// engine, trying each family of the dialect table in turn, and closed at
// once. The listing shows a file whether or not it opens.
//
// TODO(#14): the engine adapter's ProbeDataFile (access/adapter/) does the
// same and is the only access-layer code that should call the engine;
// this stand-in goes when the adapter lands.
#ifndef QX_ACCESS_CONNECTION_DATA_FILE_PROBE_H_
#define QX_ACCESS_CONNECTION_DATA_FILE_PROBE_H_

#include <cstdint>
#include <string_view>

namespace qx::access {

// Opens ansi_path (code page 1252) shared and read-write with each
// family's code until one opens, then closes it. Reports nothing and
// always answers 1. REQUIRES: the engine is started.
int32_t ProbeListedDataFile(std::string_view ansi_path);

}  // namespace qx::access

#endif  // QX_ACCESS_CONNECTION_DATA_FILE_PROBE_H_
