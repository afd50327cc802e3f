// Key-expression functions qxdb adds to the engine's own through its
// extension table: the trimming and padding functions that key and FOR
// expressions of real index files use (ALLTRIM, LTRIM, RTRIM, TRIM, PADL,
// PADR). Installed for every qxdb run.
#ifndef QX_HOST_QXDB_KEY_FUNCTIONS_H_
#define QX_HOST_QXDB_KEY_FUNCTIONS_H_

#include <cstdint>

namespace qx::qxdb {

// Starts the engine (as kbdinit does) with the functions installed.
int16_t StartEngineWithKeyFunctions();

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_KEY_FUNCTIONS_H_
