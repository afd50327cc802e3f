// The FPT memo module: creating, opening, reading, writing (append only),
// packing and closing FPT files (fpt_format.h), plus our binary forms that
// carry the value's type and length.
#include <cstring>
#include <string>

#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/memo/fpt_format.h"
#include "engine/memo/memo_file.h"
#include "engine/memo/memo_pack.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

// The mode's low byte must be 0 or 4 (FoxPro 1.0); it is kept as given.
int16_t ChooseFptLayout(uint8_t mode_dialect, MemoFile& file) {
  if (mode_dialect != 0 && mode_dialect != kKbdFoxpro1)
    return Fail(kKbdErrVersion);
  file.layout = MemoLayout::kFpt;
  file.dialect = mode_dialect;
  return kKbdOk;
}

int16_t DecodeFptHeader(MemoFile& file) {
  FptHeader header = FptHeader::DecodeFrom(file.header);
  if (header.block_size < kFptMinBlockSize ||
      header.block_size > kFptMaxBlockSize)
    return Fail(kKbdErrPageSize);
  file.block_size = header.block_size;
  file.next_free = header.next_free;
  return kKbdOk;
}

int16_t CloseFptOperation(int16_t handle) { return kbdfclose(handle); }

const MemoOpenRules kFptOpenRules = {
    kKbdKindFpt,        CloseFptOperation,   ChooseFptLayout,
    kFptHeaderAreaSize, kFptHeaderWordsSize, DecodeFptHeader,
};

// Writes a new FPT file of ceil(512 / B) blocks. REQUIRES: block_size in
// kFptMinBlockSize..kFptMaxBlockSize (pack keeps the size of the file it
// packs).
int16_t CreateFptFile(const char* name, uint32_t block_size) {
  uint32_t blocks = FptHeaderBlocks(block_size);
  std::string image(static_cast<std::size_t>(blocks) * block_size, '\0');
  FptHeader{blocks, block_size}.EncodeTo(
      reinterpret_cast<uint8_t*>(image.data()));
  uint16_t slot = kNoFileSlot;
  if (int16_t e = FileCreate(&slot, name)) return e;
  FileWriteAt(slot, 0, image.data(), static_cast<uint32_t>(image.size()));
  RunDespiteError([slot] { FileClose(slot); });
  return StickyError();
}

int16_t OpenFpt(int16_t* handle, const char* name, uint16_t mode) {
  return OpenMemoFile(handle, name, mode, kFptOpenRules);
}

// Reads the value at block, 1 .. next_free - 1, with its type.
int16_t ReadFpt(MemoFile& file, uint32_t block, MemoValue* value) {
  if (int16_t e = RefreshMemoFile(file)) return e;
  if (block < 1 || block >= file.next_free) return Fail(kKbdErrSeek);
  uint32_t offset = 0;
  if (int16_t e =
          BlockOffset(block, file.block_size, kFptValueHeaderSize, &offset))
    return e;
  uint8_t bytes[kFptValueHeaderSize];
  if (int16_t e = FileReadAt(file.slot, offset, bytes, kFptValueHeaderSize))
    return e;
  FptValueHeader header = FptValueHeader::DecodeFrom(bytes);
  // A length past the end of the file would only fail the read: refuse it
  // before allocating.
  if (uint64_t{offset} + kFptValueHeaderSize + header.length > file.file_size)
    return Fail(kKbdErrRead);
  if (int16_t e = value->Allocate(header.length)) return e;
  value->set_type(header.type);
  return FileReadAt(file.slot, offset + kFptValueHeaderSize, value->data(),
                    header.length);
}

// Appends a value at next_free: the file is first cut or extended to
// next_free blocks, then the block header and the data are written (the
// last block is not padded) and next_free moves past the value.
int16_t AppendFptValue(MemoFile& file, const char* data, uint32_t length,
                       uint32_t type, uint32_t* block) {
  if (int16_t e = RefreshMemoFile(file)) return e;
  const uint32_t b = file.block_size;
  // Blocks below the first value block are the header: a next_free there
  // is corrupt, and cutting the file to it would destroy the file.
  if (file.next_free < FptHeaderBlocks(b)) return Fail(kKbdErrCorrupt);
  const uint64_t total = uint64_t{length} + kFptValueHeaderSize;
  const uint64_t blocks = (total + b - 1) / b;  // at least 1
  uint32_t offset = 0;
  if (int16_t e = BlockOffset(file.next_free, b, blocks * b, &offset)) return e;
  FileCut(file.slot, offset);
  std::string image(static_cast<std::size_t>(total), '\0');
  uint8_t* p = reinterpret_cast<uint8_t*>(image.data());
  FptValueHeader{type, length}.EncodeTo(p);
  if (length > 0) std::memcpy(p + kFptValueHeaderSize, data, length);
  if (int16_t e = FileWriteAt(file.slot, offset, image.data(),
                              static_cast<uint32_t>(image.size())))
    return e;
  uint32_t at = file.next_free;
  if (int16_t e = WriteNextFree(file, at + static_cast<uint32_t>(blocks)))
    return e;
  *block = at;
  return kKbdOk;
}

int16_t CreateFptLike(const char* name, const MemoFile& like) {
  return CreateFptFile(name, like.block_size);
}

int16_t AppendFpt(MemoFile& file, const MemoValue& value, uint32_t* block) {
  return AppendFptValue(file, value.data(), value.length(), value.type(),
                        block);
}

const MemoKindOps kFptKindOps = {
    kKbdKindFpt, ".FPT", CreateFptLike, OpenFpt, ReadFpt, AppendFpt,
};

// Writes for kbdfwrite and kbdfwritex.
int16_t WriteFptEntry(int16_t handle, uint32_t* block, const char* data,
                      uint32_t length, uint32_t type) {
  if (block == nullptr || data == nullptr) return Fail(kKbdErrNullPointer);
  return WithMemo(
      handle, kKbdKindFpt, LockKind::kExclusive, [&](MemoFile& file) {
        int16_t status = AppendFptValue(file, data, length, type, block);
        if (status < 0) return status;
        int16_t flushed = FlushMemoWrite(file);
        return flushed < 0 ? flushed : status;
      });
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdfcreate(const char* name, int16_t block_size) {
  return RunOperation([&]() -> int16_t {
    if (name == nullptr) return Fail(kKbdErrNullPointer);
    if (block_size < kFptMinSizeArgument || block_size > kFptMaxSizeArgument)
      return Fail(kKbdErrPageSize);
    uint32_t bytes = static_cast<uint32_t>(block_size);
    if (block_size <= kFptMaxUnitsArgument) bytes *= kFptSizeUnit;
    return CreateFptFile(name, bytes);
  });
}

extern "C" int16_t kbdfopenx(int16_t* handle, const char* name, uint16_t mode) {
  return RunOperation([&] { return OpenFpt(handle, name, mode); });
}

extern "C" int16_t kbdfread(int16_t handle, uint32_t block, char** text) {
  return RunOperation([&] {
    return ReadMemoEntry(handle, kKbdKindFpt, ReadFpt, block, text, nullptr,
                         nullptr);
  });
}

extern "C" int16_t kbdfreadx(int16_t handle, uint32_t block, char** data,
                             uint32_t* length, uint32_t* type) {
  return RunOperation([&]() -> int16_t {
    if (length == nullptr || type == nullptr) {
      if (data != nullptr) *data = nullptr;
      return Fail(kKbdErrNullPointer);
    }
    return ReadMemoEntry(handle, kKbdKindFpt, ReadFpt, block, data, length,
                         type);
  });
}

extern "C" int16_t kbdfwrite(int16_t handle, uint32_t* block,
                             const char* text) {
  return RunOperation([&]() -> int16_t {
    if (text == nullptr) return Fail(kKbdErrNullPointer);
    std::size_t length = std::strlen(text);
    if (length > kMemoMaxFileOffset) return Fail(kKbdErrSeek);
    return WriteFptEntry(handle, block, text, static_cast<uint32_t>(length),
                         kFptTypeText);
  });
}

extern "C" int16_t kbdfwritex(int16_t handle, uint32_t* block, const char* data,
                              uint32_t length, uint32_t type) {
  return RunOperation(
      [&] { return WriteFptEntry(handle, block, data, length, type); });
}

extern "C" int16_t kbdfpack(int16_t dbf_handle, int16_t* memo_handle) {
  return RunOperation(
      [&] { return PackMemoFile(dbf_handle, memo_handle, kFptKindOps); });
}

extern "C" int16_t kbdfclose(int16_t handle) {
  return RunOperation([&] { return CloseMemoFile(handle, kKbdKindFpt); });
}

extern "C" int16_t kbdfinfo(int16_t handle, uint32_t* block_size,
                            uint32_t* next_free) {
  return RunOperation(
      [&] { return MemoInfo(handle, kKbdKindFpt, block_size, next_free); });
}
