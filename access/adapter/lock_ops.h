// File and record locks of an open data file through the engine.
//
// The engine places byte-range locks far beyond the data of the file;
// a range another handle holds (of this process or another) fails at once
// with -37, never waiting. File-lock modes: 2 the whole-file lock that
// allows no other writer, 3 the weaker write lock, 4 a shared slot (taken
// only when no other handle holds the file). Record-lock modes: 5 tests
// whether another handle holds the record (nothing stays held), 6
// releases the record (record 0: every record lock of the handle), 7
// locks it.
#ifndef QX_ACCESS_ADAPTER_LOCK_OPS_H_
#define QX_ACCESS_ADAPTER_LOCK_OPS_H_

#include <cstdint>

namespace qx::access {

enum DataLockMode : int16_t {
  kLockModeFile = 2,    // whole file, exclusive of every other writer
  kLockModeWrite = 3,   // weaker file write lock
  kLockModeShared = 4,  // one shared slot
  kRecordLockTest = 5,  // is the record held by another handle?
  kRecordUnlock = 6,    // release (record 0: every record)
  kRecordLock = 7,      // lock the record
};

int32_t LockDataFile(uint16_t handle, int16_t mode);
int32_t UnlockDataFile(uint16_t handle, int16_t mode);
int32_t LockDataRecord(uint16_t handle, uint32_t recno, int16_t mode);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_LOCK_OPS_H_
