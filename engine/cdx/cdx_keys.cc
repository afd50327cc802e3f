// The key operations on the tags of an open CDX file: the search modes of
// kbdcfind, walking, adding and deleting entries, the key type, the key
// images of dates and numbers, and the key of a data-file record and
// whether it belongs in the tag.
//
// Caller's keys. A key buffer holds key length + 1 bytes. On input a text
// key ('C') runs to the key length or its first NUL, and is padded with
// blanks for adds, deletes and kbdccurrent (kbdcfind compares over its own
// length instead); other keys, and the entry kbdcnext and kbdcprev move
// from, are key-length raw bytes. On output every
// key is its key-length bytes followed by a NUL. Record numbers are the
// caller's integers.
//
// Next, previous and current start from the caller's entry: from the leaf
// that held it when it still does (FoxTree::MoveFrom), else searched again.
#include <cstring>

#include "engine/cdx/cdx_file.h"
#include "engine/expr/expression.h"
#include "engine/expr/record_source.h"
#include "engine/fox/fox_fill.h"
#include "engine/fox/fox_key_image.h"
#include "engine/fox/sortable_key_image.h"
#include "engine/index/record_key_call.h"

namespace qx::engine {
namespace {

enum FindMode : uint16_t {
  kModeNotBelow = 1,
  kModeKeyRecno = 2,
  kModeAbove = 3,
  kModeSoftBefore = 11,
  kModeSoft = 12,
  kModeSoftEnd = 13,
  kModeSoftNext = 14,
  kModeAfter = 15,
};

// How the caller's key is read: text cut at its NUL (and padded with
// blanks, or compared over its own length), or key-length raw bytes.
enum class KeyInput { kPadded, kPrefix, kRaw };

// The caller's key in tag.key. Returns the bytes to compare.
uint32_t TakeKey(CdxTag& tag, const void* key, KeyInput input) {
  const uint32_t length = tag.key_length();
  const uint8_t* bytes = static_cast<const uint8_t*>(key);
  uint32_t n = length;
  if (tag.key_type == 'C' && input != KeyInput::kRaw) {
    n = 0;
    while (n < length && bytes[n] != 0) ++n;
  }
  std::memcpy(tag.key.data(), bytes, n);
  if (input == KeyInput::kPrefix) return n;
  std::memset(tag.key.data() + n, ' ', length - n);
  return length;
}

// The entry at the tree's position into the caller's buffers.
void GiveEntry(CdxTag& tag, void* key, uint32_t* recno) {
  uint8_t* out = static_cast<uint8_t*>(key);
  tag.tree.Current(out, recno);
  out[tag.key_length()] = 0;
}

bool Positioned(int16_t status) {
  return status == kKbdOk || status == kKbdKeyNotFound;
}

int16_t Find(CdxTag& tag, void* key, uint32_t* recno, uint16_t mode) {
  const uint32_t length = TakeKey(tag, key, KeyInput::kPrefix);
  const uint8_t* search = tag.key.data();
  fox::FoxTree& tree = tag.tree;
  const int base = mode == kModeKeyRecno                        ? 2
                   : (mode == kModeAbove || mode == kModeAfter) ? 3
                                                                : 1;
  int16_t status = tree.Search(search, length, *recno, base);
  if (status < 0 || status == kKbdEmptyFile) return status;
  bool positioned = Positioned(status);
  switch (mode) {
    case kModeNotBelow:
    case kModeKeyRecno:
    case kModeAbove:
      break;
    case kModeSoftBefore:
      if (status == kKbdOk) {
        status = tree.Prev();
        if (status < 0) return status;
      }
      if (status == kKbdKeyNotFound)
        status = kKbdOk;
      else if (status == kKbdNoMoreKeys)
        status = kKbdKeyNotFound;
      break;
    case kModeSoft:
      if (status == kKbdKeyNotFound)
        status = kKbdOk;
      else if (status == kKbdNoMoreKeys)
        status = kKbdKeyNotFound;
      break;
    case kModeSoftEnd:
      if (status == kKbdNoMoreKeys) status = kKbdKeyNotFound;
      break;
    case kModeSoftNext:
      if (status == kKbdNoMoreKeys) {
        status = kKbdOk;
      } else if (status == kKbdKeyNotFound) {
        status = tree.Next();
        if (status < 0) return status;
        if (status == kKbdNoMoreKeys) status = kKbdKeyNotFound;
      }
      break;
    case kModeAfter:
      if (status == kKbdOk) {
        status = tree.Next();
        if (status < 0) return status;
      }
      if (status == kKbdNoMoreKeys) status = kKbdOk;
      break;
    default:
      return Fail(kKbdErrCommand);
  }
  if (positioned) GiveEntry(tag, key, recno);
  return status;
}

// Next and previous from the caller's entry (FoxTree::MoveFrom: from the
// leaf that held it when it still does, else found again by key and
// record number). The key is what a walk gave: key-length bytes, which
// for tags of other programs may hold NULs, so it is taken raw.
int16_t Step(CdxTag& tag, void* key, uint32_t* recno, bool forward) {
  TakeKey(tag, key, KeyInput::kRaw);
  const int16_t status = tag.tree.MoveFrom(tag.key.data(), *recno, forward);
  if (status == kKbdOk) GiveEntry(tag, key, recno);
  return status;
}

using Edge = int16_t (fox::FoxTree::*)();

int16_t EdgeEntry(int32_t tag_id, void* key, uint32_t* recno, Edge edge) {
  if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
  return RunOnTag(tag_id, LockKind::kShared, [&](CdxTag& tag) -> int16_t {
    int16_t status = (tag.tree.*edge)();
    if (status == kKbdOk) GiveEntry(tag, key, recno);
    return status;
  });
}

int16_t StepEntry(int32_t tag_id, void* key, uint32_t* recno, bool forward) {
  if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
  return RunOnTag(tag_id, LockKind::kShared,
                  [&](CdxTag& tag) { return Step(tag, key, recno, forward); });
}

int16_t ChangeEntry(int32_t tag_id, const void* key, uint32_t recno, bool add) {
  if (key == nullptr) return Fail(kKbdErrNullPointer);
  return RunOnTag(tag_id, LockKind::kExclusive, [&](CdxTag& tag) -> int16_t {
    TakeKey(tag, key, KeyInput::kPadded);
    const int16_t status = add ? tag.tree.Insert(tag.key.data(), recno)
                               : tag.tree.Remove(tag.key.data(), recno);
    if (status == kKbdOk) tag.file->changed = true;
    return status;
  });
}

}  // namespace

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdckeytype(int32_t tag, uint16_t type) {
  return RunOperation([&]() -> int16_t {
    CdxTag* loaded = CheckCdxTagId(tag, true);
    if (loaded == nullptr) return LastError();
    const char letter = static_cast<char>(type & 0xDF);
    if (type > 0xFF ||
        (letter != 'C' && letter != 'D' && letter != 'L' && letter != 'N'))
      return Fail(kKbdErrKeyType);
    loaded->key_type = letter;
    loaded->tree.set_pad(loaded->pad());
    return kKbdOk;
  });
}

extern "C" int16_t kbdcfind(int32_t tag, void* key, uint32_t* recno,
                            uint16_t mode) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
    if (!(mode >= kModeNotBelow && mode <= kModeAbove) &&
        !(mode >= kModeSoftBefore && mode <= kModeAfter))
      return Fail(kKbdErrCommand);
    return RunOnTag(tag, LockKind::kShared, [&](CdxTag& loaded) {
      return Find(loaded, key, recno, mode);
    });
  });
}

extern "C" int16_t kbdcfirst(int32_t tag, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return EdgeEntry(tag, key, recno, &fox::FoxTree::First); });
}

extern "C" int16_t kbdclast(int32_t tag, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return EdgeEntry(tag, key, recno, &fox::FoxTree::Last); });
}

extern "C" int16_t kbdcnext(int32_t tag, void* key, uint32_t* recno) {
  return RunOperation([&] { return StepEntry(tag, key, recno, true); });
}

extern "C" int16_t kbdcprev(int32_t tag, void* key, uint32_t* recno) {
  return RunOperation([&] { return StepEntry(tag, key, recno, false); });
}

extern "C" int16_t kbdccurrent(int32_t tag, void* key, uint32_t* recno) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
    return RunOnTag(tag, LockKind::kShared, [&](CdxTag& loaded) -> int16_t {
      const uint32_t length = TakeKey(loaded, key, KeyInput::kPadded);
      int16_t status = loaded.tree.Search(loaded.key.data(), length, *recno, 2);
      if (Positioned(status)) GiveEntry(loaded, key, recno);
      return status == kKbdNoMoreKeys ? int16_t{kKbdKeyNotFound} : status;
    });
  });
}

extern "C" int16_t kbdcadd(int32_t tag, const void* key, uint32_t recno) {
  return RunOperation([&] { return ChangeEntry(tag, key, recno, true); });
}

extern "C" int16_t kbdcdelete(int32_t tag, const void* key, uint32_t recno) {
  return RunOperation([&] { return ChangeEntry(tag, key, recno, false); });
}

extern "C" int16_t kbdcdatekey(void* key, const char* date) {
  return RunOperation([&] { return fox::DateKeyImage(key, date); });
}

extern "C" int16_t kbdcnumkey(void* key, double value) {
  return RunOperation([&] { return fox::NumberKeyImage(key, value); });
}

extern "C" int16_t kbdcforrec(int16_t dbf_handle, int32_t tag) {
  return RunOperation([&]() -> int16_t {
    CdxTag* loaded = CheckCdxTagId(tag, false);
    if (loaded == nullptr) return LastError();
    return fox::FoxRecordBelongs(dbf_handle, loaded->header.for_expression);
  });
}

// The key of the current record, whatever the FOR condition (kbdcforrec
// tells whether the record belongs in the tag).
extern "C" int16_t kbdckeyrec(int16_t dbf_handle, int32_t tag, void** key) {
  return index::RunRecordKeyCall(key, [&]() -> int16_t {
    CdxTag* loaded = CheckCdxTagId(tag, false);
    if (loaded == nullptr) return LastError();
    const uint16_t length = loaded->key_length();
    return index::HandOutKey(length, key, [&](uint8_t* bytes) {
      return fox::MakeFoxRecordKey(dbf_handle, loaded->expression, length,
                                   bytes);
    });
  });
}
