// The key operations of open NDX indexes: positioning (first, last, next,
// previous, current, find), add, delete, the key of a record, and the
// expression and description of an index.
//
// Caller's keys. A key buffer holds key_length + 1 bytes. Character keys
// are text: on input up to key_length bytes or the first NUL (add and
// delete pad them with blanks; find compares a shorter text as a prefix
// unless it matches record numbers too); on output the stored key
// followed by a NUL. Numeric and date keys are the 8 bytes of a double,
// least significant first, followed by a NUL on output.
//
// Every positioning operation copies the key and record number it lands
// on to the caller and keeps them as the handle's current key; next,
// previous and current find that pair again (it may have moved, or gone,
// through other handles).
#include <cstring>

#include "engine/core/last_error.h"
#include "engine/fileio/memory.h"
#include "engine/ndx/ndx_file.h"

namespace qx::engine {
namespace {

// Stored form of a caller's key in out (key_length bytes); *compared gets
// the bytes a search compares: the text's own length for a character
// prefix search, else the key length.
void TakeCallerKey(const NdxFile& file, const void* key, bool prefix,
                   uint8_t* out, uint32_t* compared) {
  const uint32_t length = file.header.key_length;
  if (file.numeric()) {
    std::memcpy(out, key, length);
    *compared = length;
    return;
  }
  const char* text = static_cast<const char*>(key);
  const void* nul = std::memchr(text, '\0', length);
  uint32_t n = nul ? static_cast<uint32_t>(static_cast<const char*>(nul) - text)
                   : length;
  std::memcpy(out, text, n);
  std::memset(out + n, ' ', length - n);
  *compared = prefix ? n : length;
}

// Takes the position as the current key and hands it to the caller.
int16_t Deliver(NdxFile& file, int16_t status, void* key, uint32_t* recno) {
  if (status < 0) return status;
  if (file.path.empty()) {  // empty index, or no current key to move from
    if (status == kKbdEmptyFile) file.current_recno = 0;
    return status;
  }
  uint32_t found = 0;
  if (int16_t e = file.tree->ReadPosition(file.current_key.data(), &found))
    return e;
  file.current_recno = found;
  const uint32_t length = file.header.key_length;
  std::memcpy(key, file.current_key.data(), length);
  static_cast<uint8_t*>(key)[length] = 0;
  *recno = found;
  return status;
}

int16_t Position(int16_t handle, void* key, uint32_t* recno,
                 int16_t (*move)(NdxFile& file)) {
  if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
  return WithNdx(handle, [&](NdxFile& file) {
    return Deliver(file, move(file), key, recno);
  });
}

int16_t MoveFromCurrent(NdxFile& file, bool forward) {
  if (file.current_recno == 0) return kKbdKeyNotFound;
  return file.tree->MoveFrom(file.current_key.data(), file.current_recno,
                             forward);
}

// The current key again: found as it is (0), or replaced by the greatest
// smaller key (4) or the first key (12) when it has gone.
int16_t RefindCurrent(NdxFile& file) {
  if (file.current_recno == 0) return kKbdKeyNotFound;
  return file.tree->FindPair(file.current_key.data(), file.current_recno);
}

int16_t ChangeKey(int16_t handle, const void* key, uint32_t recno,
                  bool add) {
  if (key == nullptr) return Fail(kKbdErrNullPointer);
  return WithNdx(handle, [&](NdxFile& file) -> int16_t {
    if (file.read_only()) return Fail(kKbdErrReadOnly);
    if (recno == 0) return Fail(kKbdErrCommand);  // 0 is "no record"
    uint8_t stored[kNdxMaxKeyLength];
    uint32_t compared = 0;
    TakeCallerKey(file, key, false, stored, &compared);
    return add ? file.tree->Insert(stored, recno, file.unique())
               : file.tree->Remove(stored, recno, file.unique());
  });
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdnkfirst(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] {
    return Position(handle, key, recno,
                    [](NdxFile& file) { return file.tree->First(); });
  });
}

extern "C" int16_t kbdnklast(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] {
    return Position(handle, key, recno,
                    [](NdxFile& file) { return file.tree->Last(); });
  });
}

extern "C" int16_t kbdnknext(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] {
    return Position(handle, key, recno,
                    [](NdxFile& file) { return MoveFromCurrent(file, true); });
  });
}

extern "C" int16_t kbdnkprev(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] {
    return Position(handle, key, recno, [](NdxFile& file) {
      return MoveFromCurrent(file, false);
    });
  });
}

extern "C" int16_t kbdnkcur(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] {
    return Position(handle, key, recno, RefindCurrent);
  });
}

extern "C" int16_t kbdnkfind(int16_t handle, void* key, uint32_t* recno,
                             uint16_t flags) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
    return WithNdx(handle, [&](NdxFile& file) {
      const bool match_recno = (flags & kKbdFindRecno) != 0;
      uint8_t stored[kNdxMaxKeyLength];
      btree::SearchKey search;
      TakeCallerKey(file, key, !match_recno, stored, &search.length);
      search.key = stored;
      search.recno = *recno;
      search.match_recno = match_recno;
      search.wildcard = (flags & kKbdFindWildcard) != 0 && !file.numeric();
      return Deliver(file, file.tree->Find(search), key, recno);
    });
  });
}

extern "C" int16_t kbdnkadd(int16_t handle, const void* key, uint32_t recno) {
  return RunOperation([&] { return ChangeKey(handle, key, recno, true); });
}

extern "C" int16_t kbdnkdel(int16_t handle, const void* key, uint32_t recno) {
  return RunOperation([&] { return ChangeKey(handle, key, recno, false); });
}

extern "C" int16_t kbdnkmake(int16_t dbf_handle, int16_t handle, void** key) {
  if (key != nullptr) *key = nullptr;
  return RunOperation([&]() -> int16_t {
    if (key == nullptr) return Fail(kKbdErrNullPointer);
    NdxFile* file = CheckNdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    const uint32_t length = file->header.key_length;
    void* block = nullptr;
    if (int16_t e = EngineAllocate(length + 1u, &block)) return e;
    uint8_t* bytes = static_cast<uint8_t*>(block);
    int16_t status = MakeNdxKey(dbf_handle, *file, bytes);
    if (status < 0) {
      EngineFree(block);
      return status;
    }
    bytes[length] = 0;
    *key = block;
    return status;
  });
}

extern "C" int16_t kbdnexpr(int16_t handle, char* buffer) {
  return RunOperation([&]() -> int16_t {
    if (buffer == nullptr) return Fail(kKbdErrNullPointer);
    NdxFile* file = CheckNdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    std::memcpy(buffer, file->expression.c_str(), file->expression.size() + 1);
    return kKbdOk;
  });
}

extern "C" int16_t kbdninfo(int16_t handle, KbdNdxInfo* info) {
  return RunOperation([&]() -> int16_t {
    if (info == nullptr) return Fail(kKbdErrNullPointer);
    NdxFile* file = CheckNdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    *info = KbdNdxInfo{};
    size_t n = file->name.size() < sizeof info->name - 1
                   ? file->name.size()
                   : sizeof info->name - 1;
    std::memcpy(info->name, file->name.data(), n);
    info->flags = static_cast<uint16_t>(
        (file->read_only() ? 0x01 : 0) |
        ((file->file_flags & kFileFlagShared) ? 0x02 : 0) |
        ((file->file_flags & 0x02) ? 0x04 : 0));
    info->key_length = file->header.key_length;
    info->type = file->numeric() ? 'N' : 'C';
    info->unique = file->unique() ? 128 : 0;
    info->status = 0;
    info->expression_length = static_cast<uint16_t>(file->expression.size());
    size_t e = file->expression.size() < sizeof info->expression - 1
                   ? file->expression.size()
                   : sizeof info->expression - 1;
    std::memcpy(info->expression, file->expression.data(), e);
    return kKbdOk;
  });
}
