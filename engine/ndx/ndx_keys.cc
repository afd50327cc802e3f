// The key operations of open NDX indexes: positioning (first, last, next,
// previous, current, find), add, delete, the key of a record, and the
// expression and description of an index.
//
// Caller's keys and positions follow the shared cursor (key_cursor.h):
// character keys are text padded with blanks, numeric and date keys the 8
// bytes of a double, least significant first; next, previous and current
// find the handle's current key again.
#include <cstring>

#include "engine/core/last_error.h"
#include "engine/index/record_key_call.h"
#include "engine/ndx/ndx_file.h"

namespace qx::engine {
namespace {

using CursorMove = int16_t (btree::KeyCursor::*)(void* key, uint32_t* recno);

int16_t Position(int16_t handle, void* key, uint32_t* recno, CursorMove move) {
  if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
  return WithNdx(handle, LockKind::kShared, [&](NdxFile& file) {
    return (file.cursor.*move)(key, recno);
  });
}

int16_t ChangeKey(int16_t handle, const void* key, uint32_t recno, bool add) {
  if (key == nullptr) return Fail(kKbdErrNullPointer);
  return WithNdx(handle, LockKind::kExclusive, [&](NdxFile& file) -> int16_t {
    return add ? file.cursor.Add(key, recno, file.unique())
               : file.cursor.Remove(key, recno);
  });
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdnkfirst(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return Position(handle, key, recno, &btree::KeyCursor::First); });
}

extern "C" int16_t kbdnklast(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return Position(handle, key, recno, &btree::KeyCursor::Last); });
}

extern "C" int16_t kbdnknext(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return Position(handle, key, recno, &btree::KeyCursor::Next); });
}

extern "C" int16_t kbdnkprev(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] {
    return Position(handle, key, recno, &btree::KeyCursor::Previous);
  });
}

extern "C" int16_t kbdnkcur(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return Position(handle, key, recno, &btree::KeyCursor::Current); });
}

extern "C" int16_t kbdnkfind(int16_t handle, void* key, uint32_t* recno,
                             uint16_t flags) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
    return WithNdx(handle, LockKind::kShared, [&](NdxFile& file) {
      return file.cursor.Find(key, recno, flags);
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
  return index::RunRecordKeyCall(key, [&]() -> int16_t {
    NdxFile* file = CheckNdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    return index::HandOutKey(file->header.key_length, key, [&](uint8_t* bytes) {
      return MakeNdxKey(dbf_handle, *file, bytes);
    });
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
    info->unique = file->unique() ? kKbdKeyUnique : 0;
    info->status = 0;
    info->expression_length = static_cast<uint16_t>(file->expression.size());
    size_t e = file->expression.size() < sizeof info->expression - 1
                   ? file->expression.size()
                   : sizeof info->expression - 1;
    std::memcpy(info->expression, file->expression.data(), e);
    return kKbdOk;
  });
}
