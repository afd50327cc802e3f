// The engine file layer: every read, write, seek, lock and size query of
// the engine modules goes through these functions, which work on small
// file slot numbers (2..1025; 0xFFFF is no file) and answer engine
// statuses.
//
// Each function returns the last error at once when it is already negative
// (the sticky rule) and sets it at the point of failure. Mapping of
// operating-system failures:
//   create          -46                   open   -46 (after the read-only retry)
//   close           -13 (bad slot)        read   -2 (also a short read)
//   write           -1                    seek/size -4
//   delete          OS error 2: warning 4; runtime error 13: -40; else 0xC000|e
//   rename          runtime error 2: -5; 13: -40; else 0xC000|e
//   lock/unlock     OS 1: -12; 6: -13; 33: -37; 36: -38; else 0xC000|e
// Null pointers are -21, an empty name -14. A sharing violation (32) is
// recorded as "file not found" (2), as the engine has always seen it.
//
// Offsets are bytes from the start of the file, 32-bit.
#ifndef QX_ENGINE_FILEIO_FILE_LAYER_H_
#define QX_ENGINE_FILEIO_FILE_LAYER_H_

#include <cstdint>
#include <string>

#include "engine/core/engine_state.h"
#include "engine/core/last_error.h"
#include "engine/fileio/block_cache.h"
#include "platform/platform.h"

namespace qx::engine {

// File flags kept in each module's control block.
enum FileFlags : uint16_t {
  kFileFlagReadOnly = 0x01,  // writes must fail with -36
  kFileFlagShared = 0x04,
};

// Start and end of the file layer: reference-counted; the first start
// builds the slot table and reserves 1024 system file handles.
void StartFileLayer();
void EndFileLayer();

// The last operating-system error of the file layer: 0 after a successful
// platform call, else its Windows code, a sharing violation stored as 2.
uint32_t LastOsError();

// CREATE_ALWAYS read-write, sharing both ways.
int16_t FileCreate(uint16_t* slot, const char* name);

// Creates a private work file, one no other handle (of this process or
// another) has open: `name` when it is free, else the first free of the
// names with 1..99 before its extension ("stacks.tmp", "stacks1.tmp", ...).
// A file left by a dead process is free and truncated. *used receives the
// name taken, for its deletion. Several builds in one directory thus never
// write into each other's work file.
int16_t FileCreatePrivate(uint16_t* slot, const char* name, std::string* used);

// Opens an existing file with the engine mode word (already normalised):
// read-only with 0x100, shared with 0x400. When that fails the file is
// tried once more read-only and shared; then *file_flags get bits 0 and 2.
// *closed_mark (optional) is cleared on success.
int16_t FileOpen(uint16_t* slot, const char* name, uint16_t mode,
                 uint16_t* file_flags, bool* closed_mark = nullptr);

// Reopens a file whose handle was marked closed, with the access its file
// flags record.
int16_t FileReopen(uint16_t* slot, const char* name, uint16_t file_flags,
                   bool* closed_mark = nullptr);

// Flushes then closes the slot.
int16_t FileClose(uint16_t slot);

// Whole-count read and write at the file position (which advances).
int16_t FileRead(uint16_t slot, void* buffer, uint32_t count);
int16_t FileWrite(uint16_t slot, const void* buffer, uint32_t count,
                  bool commit = false);

// Positioned forms: one system call, no separate seek (none when a read
// finds its bytes in the slot's kept blocks). The read is inline: a record
// read is little more than this call.
inline int16_t FileReadAt(uint16_t slot, uint32_t offset, void* buffer,
                          uint32_t count);
int16_t FileWriteAt(uint16_t slot, uint32_t offset, const void* buffer,
                    uint32_t count);
// A positioned read whose failure is no error (nothing recorded): for
// checks and fast paths whose caller reads again, and reports, on another
// path. It reads kept blocks as FileReadAt does.
inline bool FileProbeAt(uint16_t slot, uint32_t offset, void* buffer,
                        uint32_t count);

int16_t FileSeek(uint16_t slot, uint32_t offset);
int16_t FileSize(uint16_t slot, uint32_t* size);  // position kept
int16_t FilePosition(uint16_t slot, uint32_t* offset);
int16_t FileAtEnd(uint16_t slot, bool* at_end);
void FileCut(uint16_t slot, uint32_t size);  // failures not reported
int16_t FileFlush(uint16_t slot);            // -47 on failure

// 0 when no handle of any process has the file name open (or there is no
// such file); -37 when one has: replacing the file would cut it under
// that handle. Probes with an open that shares nothing, closed at once.
int16_t FileCheckUnused(const char* name);

int16_t FileDelete(const char* name);
int16_t FileRename(const char* new_name, const char* old_name);
// Renames old_name to new_name, replacing a file there in one step that
// reaches the disk: the name always holds the old file or the new one.
int16_t FileReplace(const char* new_name, const char* old_name);
bool FileExists(const char* name);

// Locks (unlock false) or unlocks one byte range; the lock is exclusive.
int16_t FileLock(uint16_t slot, bool unlock, uint32_t offset, uint32_t length);
// Takes a shared lock of one byte range (released with FileLock unlock).
int16_t FileLockShared(uint16_t slot, uint32_t offset, uint32_t length);

// The platform file of a slot, null when the slot is invalid or free.
inline platform::File* FileOfSlot(uint16_t slot) {
  FileSlotTable* table = Engine().file_slots.get();
  if (table == nullptr || slot < kFirstFileSlot ||
      slot >= kFirstFileSlot + kFileSlotCount)
    return nullptr;
  return table->files[slot - kFirstFileSlot];
}

// Whether the slot's file was opened without sharing: no other handle, of
// this process or another, can open it while the slot holds it. (The file
// flags say what the open asked; an engine that shares every file opens
// them all shared.)
inline bool FileOpenedAlone(uint16_t slot) {
  return FileOfSlot(slot) != nullptr &&
         Engine().file_slots->alone[slot - kFirstFileSlot];
}

// Asks the layer to keep the blocks read through a slot opened without
// sharing in memory (block_cache.h); nothing for a shared slot. Reads
// through FileReadAt and FileProbeAt then copy what is kept. Lasts until the slot closes.
void FileKeepBlocks(uint16_t slot);

// The failure of FileReadAt on file (null for a bad slot): records the OS
// error, answers -2.
int16_t FailFileRead(platform::File* file);

// The kept blocks of a slot whose file is open (file non-null).
inline BlockCache* KeptOfOpenSlot(uint16_t slot) {
  return Engine().file_slots->kept[slot - kFirstFileSlot].get();
}

// The read both positioned reads share: from kept blocks when the slot
// keeps them (loading them), else from the file. False on failure,
// nothing recorded.
inline bool ReadSlotAt(platform::File* file, uint16_t slot, uint32_t offset,
                       void* buffer, uint32_t count) {
  if (BlockCache* kept = KeptOfOpenSlot(slot)) {
    if (kept->Copy(offset, buffer, count) ||
        kept->Fill(file, offset, buffer, count))
      return true;
  }
  return platform::ReadFileAt(file, offset, buffer, count, nullptr);
}

inline int16_t FileReadAt(uint16_t slot, uint32_t offset, void* buffer,
                          uint32_t count) {
  if (int16_t e = StickyError()) return e;
  if (buffer == nullptr) return Fail(kKbdErrNullPointer);
  platform::File* file = FileOfSlot(slot);
  if (file == nullptr || !ReadSlotAt(file, slot, offset, buffer, count))
      [[unlikely]]
    return FailFileRead(file);
  Engine().last_os_error = 0;
  return kKbdOk;
}

inline bool FileProbeAt(uint16_t slot, uint32_t offset, void* buffer,
                        uint32_t count) {
  platform::File* file = FileOfSlot(slot);
  return file != nullptr && ReadSlotAt(file, slot, offset, buffer, count);
}

}  // namespace qx::engine

#endif  // QX_ENGINE_FILEIO_FILE_LAYER_H_
