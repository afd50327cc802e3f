// The key operations of open IDX indexes: find, seek, first, last, next,
// previous, add, delete; the key type; the key of a record, of a date and
// of a number; the expression and description of an index.
//
// Caller's keys: for key type 'C' a text (up to its NUL or the key length)
// padded with blanks, or compared as a prefix where a seek allows one; for
// 'D', 'N' and 'L' the key length's bytes as they are (dates and numbers in
// their 8-byte images). Keys handed back are the stored bytes and a NUL;
// next and previous take the entry the handle handed out last (same
// bytes, same record number) as it is.
#include <algorithm>
#include <cstring>

#include "engine/btree/handed_out_entry.h"
#include "engine/core/last_error.h"
#include "engine/fox/fox_fill.h"
#include "engine/fox/sortable_key_image.h"
#include "engine/idx/idx_file.h"
#include "engine/index/key_type_word.h"
#include "engine/index/record_key_call.h"

namespace qx::engine {
namespace {

// Copies the caller's key into file.key; the length that counts in a
// search is returned (shorter than the key length only for a prefix).
uint32_t TakeKey(IdxFile& file, const void* given, bool prefix) {
  const uint32_t length = file.key_length();
  const uint8_t* bytes = static_cast<const uint8_t*>(given);
  if (file.key_type != 'C') {
    std::memcpy(file.key.data(), bytes, length);
    return length;
  }
  uint32_t n = 0;
  while (n < length && bytes[n] != 0) ++n;
  std::memcpy(file.key.data(), bytes, n);
  std::memset(file.key.data() + n, ' ', length - n);
  return prefix ? n : length;
}

// The entry at the tree's position into the caller's buffers.
void GiveEntry(IdxFile& file, void* key, uint32_t* recno) {
  file.tree.Current(file.found.data(), recno);
  btree::HandOutEntry(file.found.data(), *recno, &file.found_recno, key,
                      file.key_length());
}

int16_t Edge(int16_t handle, void* key, uint32_t* recno, bool last) {
  if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
  return WithIdx(handle, LockKind::kShared, [&](IdxFile& file) -> int16_t {
    const int16_t s = last ? file.tree.Last() : file.tree.First();
    if (s == kKbdOk) GiveEntry(file, key, recno);
    return s;
  });
}

// Finds the given entry again and moves one step from it; when the entry
// is gone, the entries around its place stand for it.
int16_t Step(int16_t handle, void* key, uint32_t* recno, bool forward) {
  if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
  return WithIdx(handle, LockKind::kShared, [&](IdxFile& file) -> int16_t {
    if (!btree::TakeHandedOutEntry(key, *recno, file.found.data(),
                                   file.found_recno, file.key_length(),
                                   file.key.data()))
      TakeKey(file, key, false);
    const int16_t s = file.tree.MoveFrom(file.key.data(), *recno, forward);
    if (s == kKbdOk) GiveEntry(file, key, recno);
    return s;
  });
}

int16_t ChangeKey(int16_t handle, const void* key, uint32_t recno, bool add) {
  if (key == nullptr) return Fail(kKbdErrNullPointer);
  return WithIdx(handle, LockKind::kExclusive, [&](IdxFile& file) -> int16_t {
    if (recno == 0) return Fail(kKbdErrCommand);
    TakeKey(file, key, false);
    const int16_t s = add ? file.tree.Insert(file.key.data(), recno)
                          : file.tree.Remove(file.key.data(), recno);
    if (s == kKbdOk) file.changed = true;
    return s;
  });
}

template <size_t N>
void CopyText(char (&out)[N], const std::string& text) {
  const size_t n = std::min(text.size(), N - 1);
  std::memcpy(out, text.data(), n);
  out[n] = 0;
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdikeytype(int16_t handle, uint16_t type) {
  return RunOperation([&]() -> int16_t {
    IdxFile* file = CheckIdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    const char letter = index::KeyTypeLetter(type);
    if (letter != 'C' && letter != 'D' && letter != 'L' && letter != 'N')
      return Fail(kKbdErrKeyType);
    file->key_type = letter;
    file->tree.set_pad(file->pad());
    return kKbdOk;
  });
}

extern "C" int16_t kbdifind(int16_t handle, const void* key, uint32_t recno) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr) return Fail(kKbdErrNullPointer);
    return WithIdx(handle, LockKind::kShared, [&](IdxFile& file) -> int16_t {
      const uint32_t length = TakeKey(file, key, false);
      const int16_t s = file.tree.Search(file.key.data(), length, recno, 2);
      return s == kKbdNoMoreKeys ? int16_t{kKbdKeyNotFound} : s;
    });
  });
}

extern "C" int16_t kbdiseek(int16_t handle, void* key, uint32_t* recno,
                            uint16_t mode) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
    if (mode != kKbdSeekKey && mode != kKbdSeekKeyRecno)
      return Fail(kKbdErrCommand);
    return WithIdx(handle, LockKind::kShared, [&](IdxFile& file) -> int16_t {
      const uint32_t length = TakeKey(file, key, true);
      int16_t s = file.tree.Search(file.key.data(), length, *recno, mode);
      if (s == kKbdNoMoreKeys) {
        // Past the last key: positioned on the last one.
        s = file.tree.Last();
        if (s != kKbdOk) return s;
        s = kKbdKeyNotFoundEnd;
      }
      if (s == kKbdOk || s == kKbdKeyNotFound || s == kKbdKeyNotFoundEnd)
        GiveEntry(file, key, recno);
      return s;
    });
  });
}

extern "C" int16_t kbdiadd(int16_t handle, const void* key, uint32_t recno) {
  return RunOperation([&] { return ChangeKey(handle, key, recno, true); });
}

extern "C" int16_t kbdidelete(int16_t handle, const void* key, uint32_t recno) {
  return RunOperation([&] { return ChangeKey(handle, key, recno, false); });
}

extern "C" int16_t kbdifirst(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] { return Edge(handle, key, recno, false); });
}

extern "C" int16_t kbdilast(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] { return Edge(handle, key, recno, true); });
}

extern "C" int16_t kbdinext(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] { return Step(handle, key, recno, true); });
}

extern "C" int16_t kbdiprev(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] { return Step(handle, key, recno, false); });
}

extern "C" int16_t kbdiexpr(int16_t handle, char* buffer) {
  return RunOperation([&]() -> int16_t {
    if (buffer == nullptr) return Fail(kKbdErrNullPointer);
    IdxFile* file = CheckIdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    std::memcpy(buffer, file->expression.c_str(), file->expression.size() + 1);
    return kKbdOk;
  });
}

extern "C" int16_t kbdiforrec(int16_t dbf_handle, int16_t handle) {
  return RunOperation([&]() -> int16_t {
    IdxFile* file = CheckIdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    return fox::FoxRecordBelongs(dbf_handle, file->header.for_expression);
  });
}

extern "C" int16_t kbdiforexpr(int16_t handle, char* buffer) {
  return RunOperation([&]() -> int16_t {
    if (buffer == nullptr) return Fail(kKbdErrNullPointer);
    IdxFile* file = CheckIdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    std::memcpy(buffer, file->for_expression.c_str(),
                file->for_expression.size() + 1);
    return kKbdOk;
  });
}

extern "C" int16_t kbdiinfo(int16_t handle, KbdIdxInfo* info) {
  return RunOperation([&]() -> int16_t {
    if (info == nullptr) return Fail(kKbdErrNullPointer);
    IdxFile* file = CheckIdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    *info = KbdIdxInfo{};
    CopyText(info->name, file->name);
    info->key_length = file->key_length();
    info->type = file->key_type;
    info->flags = static_cast<uint16_t>(
        (file->unique() ? kKbdKeyUnique : 0) |
        (file->header.candidate() ? kKbdKeyCandidate : 0) |
        (file->compact() ? kKbdKeyCompact : 0) |
        (file->descending() ? kKbdKeyDescending : 0));
    info->expression_length = static_cast<uint16_t>(file->expression.size());
    CopyText(info->expression, file->expression);
    info->for_length = static_cast<uint16_t>(file->for_expression.size());
    CopyText(info->for_expression, file->for_expression);
    info->file_flags = static_cast<uint16_t>(
        (file->read_only() ? 0x01 : 0) |
        ((file->file_flags & kFileFlagShared) ? 0x02 : 0));
    return kKbdOk;
  });
}

extern "C" int16_t kbdidatekey(void* key, const char* date) {
  return RunOperation(
      [&]() -> int16_t { return fox::DateKeyImage(key, date); });
}

extern "C" int16_t kbdinumkey(void* key, double value) {
  return RunOperation(
      [&]() -> int16_t { return fox::NumberKeyImage(key, value); });
}

extern "C" int16_t kbdikeyrec(int16_t dbf_handle, int16_t handle, void** key) {
  return index::RunRecordKeyCall(key, [&]() -> int16_t {
    IdxFile* file = CheckIdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    return index::HandOutKey(file->key_length(), key, [&](uint8_t* bytes) {
      return MakeIdxKey(dbf_handle, *file, bytes);
    });
  });
}
