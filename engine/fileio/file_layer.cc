// The engine file layer over the platform layer (see file_layer.h).
#include "engine/fileio/file_layer.h"

#include <new>

#include "engine/core/last_error.h"
#include "engine/core/open_mode.h"
#include "engine/core/status.h"
#include "engine/fileio/block_cache.h"
#include "platform/platform.h"

namespace qx::engine {
namespace {

using platform::File;

FileSlotTable* Slots() { return Engine().file_slots.get(); }

// Records the outcome of a platform call as the layer's last OS error.
bool NoteOs(bool ok) {
  uint32_t e = ok ? 0 : platform::LastError();
  if (e == platform::kErrorSharingViolation) e = platform::kErrorFileNotFound;
  Engine().last_os_error = e;
  return ok;
}

// Gives a platform file a slot; null file or a full table: 0xFFFF.
uint16_t TakeSlot(File* file) {
  FileSlotTable* table = Slots();
  if (file == nullptr) return kNoFileSlot;
  if (table != nullptr) {
    for (int i = 0; i < kFileSlotCount; ++i) {
      if (table->files[i] == nullptr) {
        table->files[i] = file;
        table->unflushed[i] = false;
        table->alone[i] = false;
        table->kept[i].reset();
        return static_cast<uint16_t>(kFirstFileSlot + i);
      }
    }
  }
  platform::CloseFile(file);
  platform::SetLastError(platform::kErrorTooManyOpenFiles);
  return kNoFileSlot;
}

// Opens through the platform layer and takes a slot; false on failure with
// the OS error noted.
bool OpenIntoSlot(uint16_t* slot, const char* name, uint32_t access) {
  if (Engine().share_all) access |= platform::kFileShareBoth;
  *slot = TakeSlot(platform::OpenFile(name, access));
  if (*slot != kNoFileSlot) {
    constexpr uint32_t kSharing = platform::kFileShareRead |
                                  platform::kFileShareWrite |
                                  platform::kFileShareBoth;
    Slots()->alone[*slot - kFirstFileSlot] = (access & kSharing) == 0;
  }
  return NoteOs(*slot != kNoFileSlot);
}

// The kept blocks of a slot known valid, null when it keeps none.
BlockCache* KeptOf(uint16_t slot) {
  return Slots()->kept[slot - kFirstFileSlot].get();
}

// Platform access word of an engine open: 13 read-only shared, 15 read-write
// shared, 1 and 3 without sharing; always an existing file.
uint32_t AccessFor(bool read_only, bool shared) {
  uint32_t access = platform::kFileOpenExisting | platform::kFileRead;
  if (!read_only) access |= platform::kFileWrite;
  if (shared) access |= platform::kFileShareRead | platform::kFileShareWrite;
  return access;
}

}  // namespace

void StartFileLayer() {
  EngineState& engine = Engine();
  if (engine.file_layer_starts++ == 0) {
    engine.file_slots = std::make_unique<FileSlotTable>();
    platform::ReserveFileHandles(kFileSlotCount);
  }
}

void EndFileLayer() {
  EngineState& engine = Engine();
  if (engine.file_layer_starts == 0 || --engine.file_layer_starts > 0) return;
  // Files still open here were left by their modules; do not leak them.
  for (File*& f : engine.file_slots->files) {
    if (f != nullptr) platform::CloseFile(f);
    f = nullptr;
  }
  engine.file_slots.reset();
}

uint32_t LastOsError() { return Engine().last_os_error; }

int16_t FileCreate(uint16_t* slot, const char* name) {
  if (int16_t e = StickyError()) return e;
  if (slot == nullptr || name == nullptr) return Fail(kKbdErrNullPointer);
  if (*name == '\0') return Fail(kKbdErrFileName);
  if (!OpenIntoSlot(slot, name,
                    platform::kFileRead | platform::kFileWrite |
                        platform::kFileShareBoth))
    return Fail(kKbdErrOpen);
  return kKbdOk;
}

int16_t FileCreatePrivate(uint16_t* slot, const char* name, std::string* used) {
  if (int16_t e = StickyError()) return e;
  if (slot == nullptr || name == nullptr || used == nullptr)
    return Fail(kKbdErrNullPointer);
  if (*name == '\0') return Fail(kKbdErrFileName);
  const std::string base(name);
  const size_t dot = base.rfind('.');
  const size_t slash = base.find_last_of("/\\");
  const size_t cut =
      dot == std::string::npos || (slash != std::string::npos && dot < slash)
          ? base.size()
          : dot;
  for (int n = 0; n < 100; ++n) {
    std::string candidate = base;
    if (n > 0) candidate.insert(cut, std::to_string(n));
    // No share bits, whatever the engine's share-all switch: the open fails
    // while any other handle holds the file, before it is truncated.
    *slot = TakeSlot(platform::OpenFile(
        candidate.c_str(), platform::kFileRead | platform::kFileWrite));
    if (NoteOs(*slot != kNoFileSlot)) {
      *used = std::move(candidate);
      return kKbdOk;
    }
  }
  return Fail(kKbdErrOpen);
}

int16_t FileOpen(uint16_t* slot, const char* name, uint16_t mode,
                 uint16_t* file_flags, bool* closed_mark) {
  if (int16_t e = StickyError()) return e;
  if (slot == nullptr || name == nullptr || file_flags == nullptr)
    return Fail(kKbdErrNullPointer);
  if (*name == '\0') return Fail(kKbdErrFileName);
  bool read_only = IsReadOnlyMode(mode);
  bool shared = IsSharedMode(mode);
  *file_flags = static_cast<uint16_t>(*file_flags &
                                      ~(kFileFlagReadOnly | kFileFlagShared));
  if (read_only) *file_flags |= kFileFlagReadOnly;
  if (shared) *file_flags |= kFileFlagShared;
  if (!OpenIntoSlot(slot, name, AccessFor(read_only, shared))) {
    // A file we may only read (or that others hold shared) still opens,
    // read-only and shared; writes through it then fail with -36.
    if (!OpenIntoSlot(slot, name, AccessFor(true, true)))
      return Fail(kKbdErrOpen);
    *file_flags |= kFileFlagReadOnly | kFileFlagShared;
  }
  if (closed_mark != nullptr) *closed_mark = false;
  return kKbdOk;
}

int16_t FileReopen(uint16_t* slot, const char* name, uint16_t file_flags,
                   bool* closed_mark) {
  if (int16_t e = StickyError()) return e;
  if (slot == nullptr || name == nullptr) return Fail(kKbdErrNullPointer);
  if (*name == '\0') return Fail(kKbdErrFileName);
  if (!OpenIntoSlot(slot, name,
                    AccessFor(file_flags & kFileFlagReadOnly,
                              file_flags & kFileFlagShared)))
    return Fail(kKbdErrOpen);
  if (closed_mark != nullptr) *closed_mark = false;
  return kKbdOk;
}

int16_t FileClose(uint16_t slot) {
  if (int16_t e = StickyError()) return e;
  File* file = FileOfSlot(slot);
  if (file == nullptr) {
    platform::SetLastError(platform::kErrorInvalidHandle);
    NoteOs(false);
    return Fail(kKbdErrHandle);
  }
  if (Slots()->unflushed[slot - kFirstFileSlot]) platform::FlushFile(file);
  Slots()->files[slot - kFirstFileSlot] = nullptr;
  Slots()->kept[slot - kFirstFileSlot].reset();
  NoteOs(platform::CloseFile(file));
  return kKbdOk;
}

int16_t FileCheckUnused(const char* name) {
  if (int16_t e = StickyError()) return e;
  if (name == nullptr) return Fail(kKbdErrNullPointer);
  File* probe =
      platform::OpenFile(name, platform::kFileOpenExisting |
                                   platform::kFileRead | platform::kFileWrite);
  if (probe != nullptr) {
    platform::CloseFile(probe);
    Engine().last_os_error = 0;
    return kKbdOk;
  }
  const bool in_use = platform::LastError() == platform::kErrorSharingViolation;
  NoteOs(false);
  // A missing file or one we may not write: the step that creates the
  // file reports that.
  return in_use ? Fail(kKbdErrLockViolation) : int16_t{kKbdOk};
}

int16_t FileRead(uint16_t slot, void* buffer, uint32_t count) {
  if (int16_t e = StickyError()) return e;
  if (buffer == nullptr) return Fail(kKbdErrNullPointer);
  File* file = FileOfSlot(slot);
  if (file == nullptr) platform::SetLastError(platform::kErrorInvalidHandle);
  if (!NoteOs(file && platform::ReadFile(file, buffer, count, nullptr)))
    return Fail(kKbdErrRead);
  return kKbdOk;
}

void FileKeepBlocks(uint16_t slot) {
  if (!FileOpenedAlone(slot) || KeptOf(slot) != nullptr) return;
  Slots()->kept[slot - kFirstFileSlot].reset(
      new (std::nothrow) BlockCache(&Slots()->kept_bytes));
}

int16_t FailFileRead(File* file) {
  if (file == nullptr) platform::SetLastError(platform::kErrorInvalidHandle);
  NoteOs(false);
  return Fail(kKbdErrRead);
}

int16_t FileWrite(uint16_t slot, const void* buffer, uint32_t count,
                  bool commit) {
  if (int16_t e = StickyError()) return e;
  if (buffer == nullptr) return Fail(kKbdErrNullPointer);
  File* file = FileOfSlot(slot);
  if (file == nullptr) platform::SetLastError(platform::kErrorInvalidHandle);
  // Kept blocks would need the file position: a write there forgets them.
  if (file != nullptr && KeptOf(slot) != nullptr) KeptOf(slot)->Clear();
  if (!NoteOs(file && platform::WriteFile(file, buffer, count)))
    return Fail(kKbdErrWrite);
  Slots()->unflushed[slot - kFirstFileSlot] = true;
  // The commit step never fails the write: the data is written, and a
  // flush failure shows again at the next flush or close.
  if (commit) platform::FlushFile(file);
  return kKbdOk;
}

int16_t FileWriteAt(uint16_t slot, uint32_t offset, const void* buffer,
                    uint32_t count) {
  if (int16_t e = StickyError()) return e;
  if (buffer == nullptr) return Fail(kKbdErrNullPointer);
  File* file = FileOfSlot(slot);
  if (file == nullptr) platform::SetLastError(platform::kErrorInvalidHandle);
  const bool written =
      NoteOs(file && platform::WriteFileAt(file, offset, buffer, count));
  if (file != nullptr) {
    if (BlockCache* kept = KeptOf(slot)) {
      if (written) {
        kept->Patch(offset, buffer, count);
      } else {
        kept->Forget(offset, count);
      }
    }
  }
  if (!written) return Fail(kKbdErrWrite);
  Slots()->unflushed[slot - kFirstFileSlot] = true;
  return kKbdOk;
}

int16_t FileSeek(uint16_t slot, uint32_t offset) {
  if (int16_t e = StickyError()) return e;
  File* file = FileOfSlot(slot);
  if (file == nullptr) platform::SetLastError(platform::kErrorInvalidHandle);
  // SetFilePointer takes a signed 32-bit distance from the start.
  if (!NoteOs(file && platform::SeekFile(file, static_cast<int32_t>(offset),
                                         platform::kSeekBegin, nullptr)))
    return Fail(kKbdErrSeek);
  return kKbdOk;
}

int16_t FileSize(uint16_t slot, uint32_t* size) {
  if (int16_t e = StickyError()) return e;
  if (size == nullptr) return Fail(kKbdErrNullPointer);
  File* file = FileOfSlot(slot);
  if (file == nullptr) platform::SetLastError(platform::kErrorInvalidHandle);
  BlockCache* kept = file != nullptr ? KeptOf(slot) : nullptr;
  if (kept != nullptr && kept->KnownSize(size)) {
    Engine().last_os_error = 0;
    return kKbdOk;
  }
  if (!NoteOs(file && platform::FileSize(file, size))) return Fail(kKbdErrSeek);
  if (kept != nullptr) kept->NoteSize(*size);
  return kKbdOk;
}

int16_t FilePosition(uint16_t slot, uint32_t* offset) {
  if (int16_t e = StickyError()) return e;
  if (offset == nullptr) return Fail(kKbdErrNullPointer);
  File* file = FileOfSlot(slot);
  if (file == nullptr) {
    platform::SetLastError(platform::kErrorInvalidHandle);
    NoteOs(false);
    return Fail(kKbdErrSeek);
  }
  *offset = platform::FilePosition(file);
  return kKbdOk;
}

int16_t FileAtEnd(uint16_t slot, bool* at_end) {
  if (int16_t e = StickyError()) return e;
  if (at_end == nullptr) return Fail(kKbdErrNullPointer);
  uint32_t position = 0, size = 0;
  if (int16_t e = FilePosition(slot, &position)) return e;
  if (int16_t e = FileSize(slot, &size)) return e;
  *at_end = position >= size;
  return kKbdOk;
}

void FileCut(uint16_t slot, uint32_t size) {
  File* file = FileOfSlot(slot);
  if (file == nullptr) return;
  NoteOs(platform::SeekFile(file, static_cast<int32_t>(size),
                            platform::kSeekBegin, nullptr) &&
         platform::SetEndOfFile(file));
  // Whether or not the cut took, nothing past size is kept.
  if (BlockCache* kept = KeptOf(slot)) kept->Cut(size);
  Slots()->unflushed[slot - kFirstFileSlot] = true;
}

int16_t FileFlush(uint16_t slot) {
  if (int16_t e = StickyError()) return e;
  File* file = FileOfSlot(slot);
  if (file == nullptr) platform::SetLastError(platform::kErrorInvalidHandle);
  if (!NoteOs(file && platform::FlushFile(file))) return Fail(kKbdErrFlush);
  Slots()->unflushed[slot - kFirstFileSlot] = false;
  return kKbdOk;
}

int16_t FileDelete(const char* name) {
  if (int16_t e = StickyError()) return e;
  if (name == nullptr) return Fail(kKbdErrNullPointer);
  if (NoteOs(platform::RemoveFile(name))) return kKbdOk;
  if (LastOsError() == platform::kErrorFileNotFound)
    return SetLastError(kKbdKeyNotFound);  // warning 4: nothing to delete
  int e = platform::RuntimeErrno();
  if (e == 13) return Fail(kKbdErrAccessDenied);
  return Fail(SystemErrorStatus(static_cast<uint32_t>(e)));
}

namespace {

int16_t ChangeName(const char* new_name, const char* old_name, bool replace) {
  if (int16_t e = StickyError()) return e;
  if (new_name == nullptr || old_name == nullptr)
    return Fail(kKbdErrNullPointer);
  if (NoteOs(replace ? platform::ReplaceFileByRename(old_name, new_name)
                     : platform::RenameFile(old_name, new_name))) {
    return kKbdOk;
  }
  int e = platform::RuntimeErrno();
  if (e == 2) return Fail(kKbdErrNoFile);
  if (e == 13) return Fail(kKbdErrAccessDenied);
  return Fail(SystemErrorStatus(static_cast<uint32_t>(e)));
}

}  // namespace

int16_t FileRename(const char* new_name, const char* old_name) {
  return ChangeName(new_name, old_name, false);
}

int16_t FileReplace(const char* new_name, const char* old_name) {
  return ChangeName(new_name, old_name, true);
}

bool FileExists(const char* name) {
  return name != nullptr && platform::FileExists(name);
}

namespace {

enum class LockCall { kLock, kLockShared, kUnlock };

int16_t CallLock(uint16_t slot, LockCall call, uint32_t offset,
                 uint32_t length) {
  if (int16_t e = StickyError()) return e;
  if (slot == 0) return Fail(kKbdErrNullPointer);
  File* file = FileOfSlot(slot);
  bool ok = false;
  if (file == nullptr) {
    platform::SetLastError(platform::kErrorInvalidHandle);
  } else {
    switch (call) {
      case LockCall::kLock:
        ok = platform::LockFile(file, offset, length);
        break;
      case LockCall::kLockShared:
        ok = platform::LockFileShared(file, offset, length);
        break;
      case LockCall::kUnlock:
        ok = platform::UnlockFile(file, offset, length);
        break;
    }
  }
  if (NoteOs(ok)) return kKbdOk;
  switch (platform::LastError()) {
    case platform::kErrorInvalidFunction:
      return Fail(kKbdErrCommand);
    case platform::kErrorInvalidHandle:
      return Fail(kKbdErrHandle);
    case platform::kErrorLockViolation:
      return Fail(kKbdErrLockViolation);
    case platform::kErrorSharingBufferExceeded:
      return Fail(kKbdErrBufferOverflow);
    default:
      return Fail(SystemErrorStatus(platform::LastError()));
  }
}

}  // namespace

int16_t FileLock(uint16_t slot, bool unlock, uint32_t offset, uint32_t length) {
  return CallLock(slot, unlock ? LockCall::kUnlock : LockCall::kLock, offset,
                  length);
}

int16_t FileLockShared(uint16_t slot, uint32_t offset, uint32_t length) {
  return CallLock(slot, LockCall::kLockShared, offset, length);
}

}  // namespace qx::engine
