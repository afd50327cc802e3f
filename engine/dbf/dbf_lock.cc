// File and record locks of a data file: byte-range locks far beyond the
// data (regions and order in dbf_format.h), the handle's list of locked
// records, and the flushes deferred to unlocks when writes are not synced.
//
// Locks never wait: a range another handle holds fails at once with the
// file layer's lock error (-37). Each lock call first records its region
// in the control block, then asks the system for it.
#include <algorithm>

#include "engine/core/last_error.h"
#include "engine/dbf/dbf_internal.h"

namespace qx::engine {
namespace {

int16_t LockRegion(DbfFile* file, uint32_t offset, uint32_t length) {
  file->lock_offset = offset;
  file->lock_length = length;
  return FileLock(file->slot, false, offset, length);
}

int16_t UnlockRegion(DbfFile* file, uint32_t offset, uint32_t length) {
  file->lock_offset = offset;
  file->lock_length = length;
  return FileLock(file->slot, true, offset, length);
}

// Locks a range and releases it at once: tells whether another handle
// holds any part of it. Nothing stays held.
int16_t TestRegion(DbfFile* file, uint32_t offset, uint32_t length) {
  if (int16_t e = LockRegion(file, offset, length)) return e;
  return UnlockRegion(file, offset, length);
}

// Mode 4: the first free shared slot byte, s = 3..63. When none is free
// the lock error of the last attempt is the status and nothing is held.
int16_t TakeSharedSlot(DbfFile* file) {
  int16_t status = kKbdErrLockViolation;
  for (int16_t s = kDbfLockFirstSharedSlot; s <= kDbfLockLastSharedSlot; ++s) {
    status = LockRegion(file, kDbfLockSharedSlotBase - s, 1);
    if (status == kKbdOk) {
      file->shared_slot = s;
      return kKbdOk;
    }
    SetLastError(kKbdOk);  // this slot is taken: try the next one
  }
  return Fail(status);
}

uint32_t RecordLockByte(uint32_t recno) { return kDbfLockRecordBase - recno; }

// The bit of DbfFile::file_locks for a file-lock mode; 0 for the modes
// that hold no range of their own (4 holds a slot byte, 5 nothing).
uint8_t FileLockBit(int16_t mode) {
  return mode >= 1 && mode <= 3 ? static_cast<uint8_t>(1u << (mode - 1)) : 0;
}

// Releases the errors of an unlock: unlocking reports no failure of its
// own (the range may already be free).
void ForgetUnlockError(int16_t status) {
  if (status < 0) SetLastError(kKbdOk);
}

bool IsListed(const DbfFile& file, uint32_t recno) {
  return std::find(file.locked_records.begin(), file.locked_records.end(),
                   recno) != file.locked_records.end();
}

// D3: the list grows by 100 entries up to 16384; a record locked when the
// list is full stays locked but unlisted.
void ListLockedRecord(DbfFile* file, uint32_t recno) {
  if (file->locked_records.size() == file->lock_capacity) {
    if (file->lock_capacity >= kDbfLockListLimit) return;
    file->lock_capacity =
        std::min(file->lock_capacity + kDbfLockListGrowth, kDbfLockListLimit);
    file->locked_records.reserve(file->lock_capacity);
  }
  file->locked_records.push_back(recno);
}

int16_t LockRecord(DbfFile* file, uint32_t recno, int16_t mode) {
  switch (mode) {
    case kKbdLockRec: {
      if (IsListed(*file, recno)) return kKbdOk;
      if (int16_t e = LockRegion(file, RecordLockByte(recno), 1)) return e;
      ListLockedRecord(file, recno);
      return kKbdOk;
    }
    case kKbdLockRecTest:
      if (IsListed(*file, recno)) return kKbdOk;
      return TestRegion(file, RecordLockByte(recno), 1);
    case kKbdLockRecUnlock: {
      auto& list = file->locked_records;
      if (recno != 0) {
        auto it = std::find(list.begin(), list.end(), recno);
        if (it != list.end()) {
          ForgetUnlockError(UnlockRegion(file, RecordLockByte(recno), 1));
          list.erase(it);
        }
      } else {
        for (auto it = list.rbegin(); it != list.rend(); ++it)
          ForgetUnlockError(UnlockRegion(file, RecordLockByte(*it), 1));
        list.clear();
      }
      return FlushPending(file);
    }
    default:
      return kKbdOk;
  }
}

// Gives back the range of a file-lock mode and clears its bit. Unlocking
// reports no failure of its own (the range may already be free).
void ReleaseFileLock(DbfFile* file, int16_t mode) {
  switch (mode) {
    case 1:
      ForgetUnlockError(
          UnlockRegion(file, kDbfLockMode1Offset, kDbfLockMode1Length));
      break;
    case 2:
      ForgetUnlockError(
          UnlockRegion(file, kDbfLockMode2Offset, kDbfLockMode2Length));
      break;
    case 3:
      ForgetUnlockError(
          UnlockRegion(file, kDbfLockMode3Offset, kDbfLockMode3Length));
      break;
    case 4:
      if (file->shared_slot != 0) {
        ForgetUnlockError(
            UnlockRegion(file, kDbfLockSharedSlotBase - file->shared_slot, 1));
        file->shared_slot = 0;
      }
      break;
    default:
      break;  // mode 5 holds nothing
  }
  file->file_locks &= static_cast<uint8_t>(~FileLockBit(mode));
}

}  // namespace

int16_t LockDbfFile(DbfFile* file, int16_t mode) {
  int16_t status = kKbdOk;
  switch (mode) {
    case 1:
      status = LockRegion(file, kDbfLockMode1Offset, kDbfLockMode1Length);
      break;
    case 2:
      status = LockRegion(file, kDbfLockMode2Offset, kDbfLockMode2Length);
      break;
    case 3:
      status = LockRegion(file, kDbfLockMode3Offset, kDbfLockMode3Length);
      break;
    case 4:
      status =
          TestRegion(file, kDbfLockMode4TestOffset, kDbfLockMode4TestLength);
      if (status == kKbdOk) status = TakeSharedSlot(file);
      break;
    case 5:
      status = TestRegion(file, kDbfLockMode5Offset, kDbfLockMode5Length);
      break;
    default:
      return kKbdOk;
  }
  if (status != kKbdOk) return status;
  file->file_locks |= FileLockBit(mode);
  // Another process may have appended while the file was not locked. When
  // the count cannot be read the call fails, and a failed lock call holds
  // nothing: the lock is given back.
  if (int16_t e = RefreshRecordCount(file)) {
    RunDespiteError([&] { ReleaseFileLock(file, mode); });
    return e;
  }
  return kKbdOk;
}

int16_t UnlockDbfFile(DbfFile* file, int16_t mode) {
  ReleaseFileLock(file, mode);
  return FlushPending(file);
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbddlock(int16_t handle, int16_t mode) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    return LockDbfFile(file, mode);
  });
}

extern "C" int16_t kbddlockrec(int16_t handle, uint32_t recno, int16_t mode) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    return LockRecord(file, recno, mode);
  });
}

extern "C" int16_t kbddunlock(int16_t handle, int16_t mode) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    return UnlockDbfFile(file, mode);
  });
}
