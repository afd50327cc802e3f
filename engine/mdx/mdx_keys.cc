// The key operations of open MDX tags: positioning (first, last, next,
// previous, current, find), add, delete, the key of a record, and the key
// images of a date and a number.
//
// Caller's keys and positions follow the shared cursor (key_cursor.h), as
// for NDX indexes: 'C' keys are text padded with blanks; 'D' keys the 8
// bytes of a double, least significant first; 'N' keys 12 bytes of packed
// decimal (mdx_decimal.h). Add and delete take the exact pair; a unique
// tag (key format 0x40) adds no second entry of a key (status 11).
#include <bit>
#include <cstring>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/expr/record_source.h"
#include "engine/index/record_key_call.h"
#include "engine/mdx/mdx_decimal.h"
#include "engine/mdx/mdx_file.h"

namespace qx::engine {
namespace {

using CursorMove = int16_t (btree::KeyCursor::*)(void* key, uint32_t* recno);

int16_t Position(int32_t tag, void* key, uint32_t* recno, CursorMove move) {
  if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
  return WithMdxTag(tag, LockKind::kShared, [&](MdxTag& open) {
    return (open.cursor.*move)(key, recno);
  });
}

int16_t ChangeKey(int32_t tag, const void* key, uint32_t recno, bool add) {
  if (key == nullptr) return Fail(kKbdErrNullPointer);
  return WithMdxTag(tag, LockKind::kExclusive, [&](MdxTag& open) -> int16_t {
    return add ? open.cursor.Add(key, recno, open.unique())
               : open.cursor.Remove(key, recno);
  });
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdmkfirst(int32_t tag, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return Position(tag, key, recno, &btree::KeyCursor::First); });
}

extern "C" int16_t kbdmklast(int32_t tag, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return Position(tag, key, recno, &btree::KeyCursor::Last); });
}

extern "C" int16_t kbdmknext(int32_t tag, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return Position(tag, key, recno, &btree::KeyCursor::Next); });
}

extern "C" int16_t kbdmkprev(int32_t tag, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return Position(tag, key, recno, &btree::KeyCursor::Previous); });
}

extern "C" int16_t kbdmkcur(int32_t tag, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return Position(tag, key, recno, &btree::KeyCursor::Current); });
}

extern "C" int16_t kbdmkfind(int32_t tag, void* key, uint32_t* recno,
                             uint16_t flags) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
    return WithMdxTag(tag, LockKind::kShared, [&](MdxTag& open) {
      return open.cursor.Find(key, recno, flags);
    });
  });
}

extern "C" int16_t kbdmkadd(int32_t tag, const void* key, uint32_t recno) {
  return RunOperation([&] { return ChangeKey(tag, key, recno, true); });
}

extern "C" int16_t kbdmkdel(int32_t tag, const void* key, uint32_t recno) {
  return RunOperation([&] { return ChangeKey(tag, key, recno, false); });
}

extern "C" int16_t kbdmkmake(int16_t dbf_handle, int32_t tag, void** key) {
  return index::RunRecordKeyCall(key, [&]() -> int16_t {
    MdxTag* open = CheckMdxTag(tag);
    if (open == nullptr) return LastError();
    KeyValue value;
    const int16_t status = EvaluateKey(dbf_handle, open->expression,
                                       NumericKeyRule::kNumericOrFloat, &value);
    if (status < 0) return status;
    return index::HandOutKey(open->header.key_length, key, [&](uint8_t* bytes) {
      const int16_t e =
          StoreMdxKey(*open, value.type, value.text, value.number, bytes);
      return e != kKbdOk ? e : status;
    });
  });
}

extern "C" int16_t kbdmdkey(void* key, const char* date) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr || date == nullptr) return Fail(kKbdErrNullPointer);
    double day = 0;
    int16_t status = DateTextToKeyDay(&day, date, CurrentTask()->date_format);
    if (status < 0) return Fail(status);
    PutLe64(static_cast<uint8_t*>(key), std::bit_cast<uint64_t>(day));
    return kKbdOk;
  });
}

extern "C" int16_t kbdmnkey(void* key, double value) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr) return Fail(kKbdErrNullPointer);
    EncodeMdxDecimal(value, static_cast<uint8_t*>(key));
    return kKbdOk;
  });
}
