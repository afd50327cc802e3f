// The open memo file shared by the DBT and FPT modules (see memo_file.h).
#include "engine/memo/memo_file.h"

#include <cstring>

#include "engine/core/handle_table.h"
#include "engine/core/open_mode.h"
#include "engine/fileio/file_layer.h"
#include "engine/fileio/memory.h"
#include "engine/memo/fpt_format.h"

namespace qx::engine {
namespace {

uint32_t DecodeNextFree(const MemoFile& file) {
  return file.layout == MemoLayout::kFpt
             ? GetBe32(file.header + kFptNextFreeOffset)
             : GetLe32(file.header + kDbtNextFreeOffset);
}

}  // namespace

MemoFile::~MemoFile() {
  if (slot == kNoFileSlot || CurrentTask() == nullptr) return;
  uint16_t open_slot = slot;
  slot = kNoFileSlot;
  RunDespiteError([open_slot] { FileClose(open_slot); });
}

int16_t OpenMemoFile(int16_t* handle, const char* name, uint16_t mode,
                     const MemoOpenRules& rules) {
  if (handle == nullptr || name == nullptr) {
    if (handle != nullptr) *handle = kKbdNoHandle;
    return Fail(kKbdErrNullPointer);
  }
  MemoFile* file = nullptr;
  if (int16_t e = AllocateHandle(handle, rules.kind, rules.close, &file))
    return e;
  // The 0x800 rule; the dialect byte is judged as given (FPT refuses 1).
  uint8_t mode_dialect = DialectOf(mode);
  uint16_t normal = NormalizeOpenMode(mode);
  normal =
      static_cast<uint16_t>((normal & ~kKbdModeDialectMask) | mode_dialect);

  auto fail = [handle](int16_t status) {
    int16_t h = *handle;
    *handle = kKbdNoHandle;
    FreeHandle(h);  // the control block closes the file
    return status;
  };
  file->name = name;
  if (int16_t e = FileOpen(&file->slot, name, normal, &file->file_flags))
    return fail(e);
  FileKeepBlocks(file->slot);  // kept in memory when opened without sharing
  if (int16_t e = rules.choose_layout(mode_dialect, *file)) return fail(e);
  if (int16_t e = FileSize(file->slot, &file->file_size)) return fail(e);
  if (file->file_size < rules.min_file_size) return fail(Fail(kKbdErrNotMemo));
  file->header_size = rules.header_size;
  if (int16_t e = FileReadAt(file->slot, 0, file->header, rules.header_size))
    return fail(e);
  if (int16_t e = rules.decode_header(*file)) return fail(e);
  return kKbdOk;
}

MemoFile* CheckMemoHandle(int16_t handle, uint8_t kind) {
  return CheckHandleAs<MemoFile>(handle, kind);
}

int16_t RefreshMemoFile(MemoFile& file) {
  if (int16_t e = FileSize(file.slot, &file.file_size)) return e;
  if (int16_t e = FileReadAt(file.slot, 0, file.header, file.header_size))
    return e;
  file.next_free = DecodeNextFree(file);
  return kKbdOk;
}

int16_t WriteNextFree(MemoFile& file, uint32_t next_free) {
  uint8_t word[4];
  if (file.layout == MemoLayout::kFpt)
    PutBe32(word, next_free);
  else
    PutLe32(word, next_free);
  if (int16_t e = FileWriteAt(file.slot, 0, word, sizeof word)) return e;
  std::memcpy(file.header, word, sizeof word);
  file.next_free = next_free;
  return kKbdOk;
}

int16_t FlushMemoWrite(MemoFile& file) {
  return Engine().sync_writes ? FileFlush(file.slot) : int16_t{kKbdOk};
}

int16_t ReadMemoEntry(int16_t handle, uint8_t kind, MemoReader read,
                      uint32_t block, char** data, uint32_t* length,
                      uint32_t* type) {
  if (data == nullptr) return Fail(kKbdErrNullPointer);
  *data = nullptr;
  return WithMemo(handle, kind, LockKind::kShared, [&](MemoFile& file) {
    MemoValue value;
    if (int16_t e = read(file, block, &value)) return e;
    if (length != nullptr) *length = value.length();
    if (type != nullptr) *type = value.type();
    *data = value.Release();
    return int16_t{kKbdOk};
  });
}

int16_t MemoInfo(int16_t handle, uint8_t kind, uint32_t* block_size,
                 uint32_t* next_free) {
  if (block_size == nullptr || next_free == nullptr)
    return Fail(kKbdErrNullPointer);
  return WithMemo(handle, kind, LockKind::kShared, [&](MemoFile& file) {
    if (int16_t e = RefreshMemoFile(file)) return e;
    *block_size = file.block_size;
    *next_free = file.next_free;
    return int16_t{kKbdOk};
  });
}

int16_t CloseMemoFile(int16_t handle, uint8_t kind) {
  MemoFile* file = CheckMemoHandle(handle, kind);
  if (file == nullptr) return LastError();
  uint16_t slot = file->slot;
  file->slot = kNoFileSlot;
  int16_t status = FileClose(slot);
  FreeHandle(handle);
  return status;
}

int16_t BlockOffset(uint32_t block, uint32_t block_size, uint64_t span,
                    uint32_t* offset) {
  uint64_t at = static_cast<uint64_t>(block) * block_size;
  if (at + span > kMemoMaxFileOffset) return Fail(kKbdErrSeek);
  *offset = static_cast<uint32_t>(at);
  return kKbdOk;
}

MemoValue::~MemoValue() { EngineFree(data_); }

int16_t MemoValue::Allocate(uint32_t length) {
  EngineFree(data_);
  data_ = nullptr;
  length_ = 0;
  void* block = nullptr;
  if (int16_t e = EngineAllocate(static_cast<std::size_t>(length) + 1, &block))
    return e;
  data_ = static_cast<char*>(block);
  Truncate(length);
  return kKbdOk;
}

int16_t MemoValue::Resize(uint32_t length) {
  void* block = data_;
  if (int16_t e =
          EngineReallocate(static_cast<std::size_t>(length) + 1, &block))
    return e;
  data_ = static_cast<char*>(block);
  Truncate(length);
  return kKbdOk;
}

void MemoValue::Truncate(uint32_t length) {
  length_ = length;
  data_[length] = '\0';
}

char* MemoValue::Release() {
  char* data = data_;
  data_ = nullptr;
  length_ = 0;
  return data;
}

}  // namespace qx::engine
