// What the DBT and FPT modules share: the control block of an open memo
// file, the common open and close steps, the header refresh done before
// every read and write, the value buffer handed to callers, offset checks,
// the file-name helpers of create and pack, and the step that cleans up
// while an error is pending.
//
// Every function here runs inside a public operation (RunOperation): it
// returns a status and, on failure, has set it as the last error.
//
// Shared files. Other handles and processes append and replace values
// between our calls. Within a call the operation lock of a shared file
// (kMemoLockOffset: exclusive for a write, shared for a read; WithMemo)
// keeps their writes out, and every read and write re-reads the header
// (RefreshMemoFile) once it holds the lock.
#ifndef QX_ENGINE_MEMO_MEMO_FILE_H_
#define QX_ENGINE_MEMO_MEMO_FILE_H_

#include <cstdint>
#include <string>

#include "engine/core/engine_state.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fileio/file_names.h"
#include "engine/fileio/operation_lock.h"
#include "engine/memo/dbt_format.h"

namespace qx::engine {

// Which layout an open memo file is read and written in.
enum class MemoLayout : uint8_t {
  kDbase3,  // DBT, 512-byte blocks, values ended by 1A 1A
  kDbase4,  // DBT, header block size, length-prefixed values, free chain
  kFpt,     // FPT, big-endian, append only
};

// Bytes of the header kept in the control block: the whole DBT header
// (the FPT one is shorter).
inline constexpr uint32_t kMemoHeaderCopySize = kDbtHeaderSize;

// Largest byte offset the file layer addresses (32-bit signed file
// pointer). A value that would reach past it is refused with -4.
inline constexpr uint64_t kMemoMaxFileOffset = 0x7FFFFFFF;

// The byte of the operation lock of DBT and FPT files: past every value
// (kMemoMaxFileOffset), see the format headers.
inline constexpr uint32_t kMemoLockOffset = 0x7FFFFFFF;

// Control block of an open memo file (handle kinds DBT and FPT). Owned by
// the handle slot; destroying it closes the file slot if still open.
struct MemoFile : ControlBlock {
  ~MemoFile() override;

  MemoLayout layout = MemoLayout::kDbase3;
  // DBT: the open-mode dialect (0 taken as 1; 2 selects dBase IV). FPT: the
  // mode's low byte, 0 or 4. Pack reopens with it.
  uint8_t dialect = 0;
  uint16_t file_flags = 0;  // kFileFlagReadOnly | kFileFlagShared
  uint16_t slot = kNoFileSlot;
  FileOperationLock op_lock;  // byte kMemoLockOffset of a shared file
  uint32_t file_size = 0;     // bytes; refreshed at every call
  uint32_t block_size = 0;    // bytes; fixed at open
  uint32_t next_free = 0;     // block_no from the header; refreshed
  uint8_t header[kMemoHeaderCopySize] = {};  // first header bytes as read
  uint32_t header_size = 0;  // bytes of header[] that are the file's
  std::string name;          // as given to open

  bool read_only() const { return (file_flags & kFileFlagReadOnly) != 0; }
};

class MemoValue;

// How a kind validates what it opens.
struct MemoOpenRules {
  uint8_t kind;          // kKbdKindDbt or kKbdKindFpt
  CloseOperation close;  // the kind's close operation, for kbdterm
  // Chooses the layout from the mode's low byte (before 0 is taken as 1);
  // sets file.layout and file.dialect, or fails with -18.
  int16_t (*choose_layout)(uint8_t mode_dialect, MemoFile& file);
  uint32_t min_file_size;  // smaller files: -17
  uint32_t header_size;    // bytes read into the header copy
  // Checks the header copy and sets block_size and next_free.
  int16_t (*decode_header)(MemoFile& file);
};

// Opens name as a memo file: allocates a handle, opens the file with the
// mode (0x800 rule applied), chooses the layout, checks the size and
// decodes the header. On failure (-21 for a null argument) the file is
// closed, the handle released and *handle is -1.
int16_t OpenMemoFile(int16_t* handle, const char* name, uint16_t mode,
                     const MemoOpenRules& rules);

// The open memo file of handle when it is of kind, else null (-13).
MemoFile* CheckMemoHandle(int16_t handle, uint8_t kind);

// Enters the operation lock of a memo file for one step.
inline int16_t EnterMemoLock(MemoFile& file, OperationScope* scope,
                             LockKind kind) {
  return scope->Enter(&file.op_lock, file.slot, file.file_flags,
                      kMemoLockOffset, kind);
}

// Runs body(MemoFile&) as the inside of a public operation on a memo
// handle of kind: the handle check (-13), for a write (kExclusive) of a
// read-only file -36, the operation lock of kind (-37 when it cannot be
// had), the body (which refreshes the header), the unlock.
template <typename Body>
int16_t WithMemo(int16_t handle, uint8_t kind, LockKind lock, Body&& body) {
  MemoFile* file = CheckMemoHandle(handle, kind);
  if (file == nullptr) return LastError();
  if (lock == LockKind::kExclusive && file->read_only())
    return Fail(kKbdErrReadOnly);
  OperationScope scope;
  if (int16_t e = EnterMemoLock(*file, &scope, lock)) return e;
  return body(*file);
}

// Re-reads the header copy, next_free and the file size: other processes
// append values between our calls.
int16_t RefreshMemoFile(MemoFile& file);

// Writes next_free (in the layout's byte order) at offset 0.
int16_t WriteNextFree(MemoFile& file, uint32_t next_free);

// The flush that ends every value write while writes are synced (the
// engine's sync switch, kbdsetsync); otherwise the close flushes.
int16_t FlushMemoWrite(MemoFile& file);

// Reads one value of an open memo file.
using MemoReader = int16_t (*)(MemoFile& file, uint32_t block,
                               MemoValue* value);

// The body of the read operations: -21 for a null data pointer, -13 for a
// handle not of kind; hands the value over in *data (null on failure) with
// its length and type when those pointers are given.
int16_t ReadMemoEntry(int16_t handle, uint8_t kind, MemoReader read,
                      uint32_t block, char** data, uint32_t* length,
                      uint32_t* type);

// The body of kbdtinfo and kbdfinfo: block size in bytes and next_free,
// refreshed from the file.
int16_t MemoInfo(int16_t handle, uint8_t kind, uint32_t* block_size,
                 uint32_t* next_free);

// Flushes and closes the file and releases the handle. The handle is
// released even when the close fails.
int16_t CloseMemoFile(int16_t handle, uint8_t kind);

// Byte offset of block; -4 when the span bytes from there reach beyond
// what the file layer addresses.
int16_t BlockOffset(uint32_t block, uint32_t block_size, uint64_t span,
                    uint32_t* offset);

// A value read from a memo file: length bytes plus a NUL, in engine memory
// (EngineAllocate) so that it can be handed to the caller, who releases it
// with kbdfree. Freed here unless released.
class MemoValue {
 public:
  MemoValue() = default;
  ~MemoValue();
  MemoValue(const MemoValue&) = delete;
  MemoValue& operator=(const MemoValue&) = delete;

  // A buffer of length + 1 bytes, the last one NUL; -3 without memory.
  int16_t Allocate(uint32_t length);
  // Grows the buffer to length + 1 bytes keeping its content; -3.
  int16_t Resize(uint32_t length);

  char* data() const { return data_; }
  uint32_t length() const { return length_; }
  uint32_t type() const { return type_; }
  void set_type(uint32_t type) { type_ = type; }
  // Sets the length and the NUL after it. REQUIRES: length <= capacity.
  void Truncate(uint32_t length);

  // Hands the buffer over; this object is empty afterwards.
  char* Release();

 private:
  char* data_ = nullptr;
  uint32_t length_ = 0;
  uint32_t type_ = 1;  // text
};

}  // namespace qx::engine

#endif  // QX_ENGINE_MEMO_MEMO_FILE_H_
