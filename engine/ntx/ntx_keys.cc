// The key operations of open NTX indexes: find, seek, first, last, next,
// previous, add, delete; the keys of numbers, dates and records; the
// expression and description of an index.
//
// Caller's keys are text: up to the key length or the first NUL. Add and
// delete, next and previous pad them with blanks to the key length; find
// and seek compare a shorter key as a prefix. Keys handed back are the
// stored key_length bytes and a NUL; next and previous take the entry the
// handle handed out last (same bytes, same record number) as it is.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "engine/btree/handed_out_entry.h"
#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/expr/functions.h"
#include "engine/expr/record_source.h"
#include "engine/index/record_key_call.h"
#include "engine/ntx/ntx_file.h"

namespace qx::engine {
namespace {

// The caller's key into file.key, blank-padded; the bytes before its NUL
// (at most the key length) are returned.
uint32_t TakeKey(NtxFile& file, const void* key) {
  const uint32_t length = file.header.key_length;
  const char* text = static_cast<const char*>(key);
  const uint32_t n = static_cast<uint32_t>(strnlen(text, length));
  std::memcpy(file.key.data(), text, n);
  std::memset(file.key.data() + n, ' ', length - n);
  return n;
}

// The entry at the position to the caller.
int16_t Deliver(NtxFile& file, int16_t status, void* key, uint32_t* recno) {
  if (int16_t e = file.tree->Read(file.found.data(), recno)) return e;
  btree::HandOutEntry(file.found.data(), *recno, &file.found_recno, key,
                      file.header.key_length);
  return status;
}

using TreeEdge = int16_t (NtxTree::*)();

int16_t Edge(int16_t handle, void* key, uint32_t* recno, TreeEdge edge) {
  if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
  return WithNtx(handle, LockKind::kShared, [&](NtxFile& file) -> int16_t {
    const int16_t status = (file.tree.get()->*edge)();
    if (status != kKbdOk) return status;
    return Deliver(file, kKbdOk, key, recno);
  });
}

// Next or previous from the caller's entry; an entry that has gone is
// replaced by the place it would take.
int16_t Move(int16_t handle, void* key, uint32_t* recno, bool forward) {
  if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
  return WithNtx(handle, LockKind::kShared, [&](NtxFile& file) -> int16_t {
    if (!btree::TakeHandedOutEntry(key, *recno, file.found.data(),
                                   file.found_recno, file.header.key_length,
                                   file.key.data()))
      TakeKey(file, key);
    const int16_t status =
        file.tree->MoveFrom(file.key.data(), *recno, forward);
    if (status != kKbdOk) return status;
    return Deliver(file, kKbdOk, key, recno);
  });
}

int16_t ChangeKey(int16_t handle, const void* key, uint32_t recno, bool add) {
  if (key == nullptr) return Fail(kKbdErrNullPointer);
  return WithNtx(handle, LockKind::kExclusive, [&](NtxFile& file) -> int16_t {
    if (recno == 0) return Fail(kKbdErrCommand);
    TakeKey(file, key);
    const int16_t status =
        add ? file.tree->Insert(file.key.data(), recno, file.unique())
            : file.tree->Remove(file.key.data(), recno);
    if (status != kKbdOk) return status;
    return StampNtx(&file);
  });
}

}  // namespace

void NtxNumberKey(double number, uint32_t key_length, uint32_t decimals,
                  uint8_t* key) {
  // The digits of the magnitude as Clipper's programs write them: its
  // shortest decimal text with halves rounded away from zero (670.5 in a
  // key of no decimals is 671, 2.675 with two is 2.68), at the index's
  // decimals.
  char text[kRoundedFixedSize + 1];
  size_t length = 0;
  if (std::isfinite(number)) {
    // Decimals past kStrMaxLength come only from a damaged header; the
    // text is cut to the key long before them.
    const int32_t places =
        static_cast<int32_t>(std::min<uint32_t>(decimals, kStrMaxLength));
    length = RoundedFixedTo(std::fabs(number), places, text + 1);
    // No minus sign for -0.0 or for what rounds to zero.
    bool nonzero = false;
    for (size_t i = 1; i <= length && !nonzero; ++i)
      nonzero = text[i] != '0' && text[i] != '.';
    if (std::signbit(number) && nonzero) {
      text[0] = '-';
      ++length;
    } else {
      std::memmove(text, text + 1, length);
    }
  } else {
    const int written = std::snprintf(text, sizeof text, "%.*f",
                                      static_cast<int>(decimals), number);
    length = written < 0 ? 0
                         : std::min<size_t>(static_cast<size_t>(written),
                                            sizeof text - 1);
  }
  const bool negative = length > 0 && text[0] == '-';
  const char* digits = text + (negative ? 1 : 0);
  const size_t count = negative ? length - 1 : length;
  const size_t zeros = count < key_length ? key_length - count : 0;
  std::memset(key, '0', zeros);
  // Text wider than the key keeps its first key_length characters.
  std::memcpy(key + zeros, digits, key_length - zeros);
  if (negative) {
    for (uint32_t i = 0; i < key_length; ++i)
      if (key[i] >= '0' && key[i] <= '9')
        key[i] = static_cast<uint8_t>(92 - key[i]);
  }
  key[key_length] = 0;
}

int16_t NtxValueKey(char type, std::string_view text, double number,
                    const NtxFile& file, uint8_t* key) {
  const uint32_t length = file.header.key_length;
  switch (type) {
    case 'C': {
      const size_t n = std::min<size_t>(text.size(), length);
      std::memcpy(key, text.data(), n);
      std::memset(key + n, ' ', length - n);
      return kKbdOk;
    }
    case 'N':
      NtxNumberKey(number, length, file.header.decimals, key);
      return kKbdOk;
    case 'D': {
      char date[kStoredDateLength];
      std::memset(date, ' ', kStoredDateLength);
      if (number != kEmptyDateKeyDay) {
        int year = 0, month = 0, day = 0;
        if (KeyDayToDate(&year, &month, &day, static_cast<int32_t>(number)) < 0)
          return Fail(kKbdErrDate);
        FormatStoredDate(date, year, month, day);  // a valid date
      }
      const size_t n = std::min<size_t>(kStoredDateLength, length);
      std::memcpy(key, date, n);
      std::memset(key + n, ' ', length - n);
      return kKbdOk;
    }
    default:
      return Fail(kKbdErrKeyExpression);
  }
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdxfind(int16_t handle, const void* key, uint32_t recno) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr) return Fail(kKbdErrNullPointer);
    return WithNtx(handle, LockKind::kShared, [&](NtxFile& file) -> int16_t {
      const uint32_t compared = TakeKey(file, key);
      // With a record number the pair is sought; without, the first key
      // that begins with the given one.
      if (recno != 0) return file.tree->FindPair(file.key.data(), recno);
      const NtxSearch search{file.key.data(), compared, 0, false};
      int16_t status = file.tree->LowerBound(search);
      if (status == kKbdNoMoreKeys) return kKbdKeyNotFound;
      if (status != kKbdOk) return status;
      bool matches = false;
      if (int16_t e = file.tree->Matches(search, &matches)) return e;
      return matches ? kKbdOk : kKbdKeyNotFound;
    });
  });
}

extern "C" int16_t kbdxseek(int16_t handle, void* key, uint32_t* recno,
                            uint16_t mode) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr || recno == nullptr) return Fail(kKbdErrNullPointer);
    if (mode != kKbdSeekKey && mode != kKbdSeekKeyRecno)
      return Fail(kKbdErrCommand);
    return WithNtx(handle, LockKind::kShared, [&](NtxFile& file) -> int16_t {
      const uint32_t compared = TakeKey(file, key);
      const NtxSearch search{file.key.data(), compared, *recno,
                             mode == kKbdSeekKeyRecno};
      if (mode == kKbdSeekKeyRecno) {
        // The pair wherever it lies among the equal keys.
        const int16_t found = file.tree->FindPair(file.key.data(), *recno);
        if (found == kKbdOk) return Deliver(file, kKbdOk, key, recno);
        if (found != kKbdKeyNotFound && found != kKbdEmptyFile) return found;
      }
      int16_t status = file.tree->LowerBound(search);
      if (status == kKbdNoMoreKeys) {
        status = file.tree->Last();
        if (status != kKbdOk) return status;
        return Deliver(file, kKbdKeyNotFoundEnd, key, recno);
      }
      if (status != kKbdOk) return status;
      bool matches = false;
      if (int16_t e = file.tree->Matches(search, &matches)) return e;
      return Deliver(file, matches ? kKbdOk : kKbdKeyNotFound, key, recno);
    });
  });
}

extern "C" int16_t kbdxadd(int16_t handle, const void* key, uint32_t recno) {
  return RunOperation([&] { return ChangeKey(handle, key, recno, true); });
}

extern "C" int16_t kbdxdelete(int16_t handle, const void* key, uint32_t recno) {
  return RunOperation([&] { return ChangeKey(handle, key, recno, false); });
}

extern "C" int16_t kbdxfirst(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation(
      [&] { return Edge(handle, key, recno, &NtxTree::First); });
}

extern "C" int16_t kbdxlast(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] { return Edge(handle, key, recno, &NtxTree::Last); });
}

extern "C" int16_t kbdxnext(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] { return Move(handle, key, recno, true); });
}

extern "C" int16_t kbdxprev(int16_t handle, void* key, uint32_t* recno) {
  return RunOperation([&] { return Move(handle, key, recno, false); });
}

extern "C" int16_t kbdxexpr(int16_t handle, char* buffer) {
  return RunOperation([&]() -> int16_t {
    if (buffer == nullptr) return Fail(kKbdErrNullPointer);
    NtxFile* file = CheckNtx(handle);
    if (file == nullptr) return kKbdErrHandle;
    std::memcpy(buffer, file->expression.c_str(), file->expression.size() + 1);
    return kKbdOk;
  });
}

extern "C" int16_t kbdxforexpr(int16_t handle, char* buffer) {
  return RunOperation([&]() -> int16_t {
    if (buffer == nullptr) return Fail(kKbdErrNullPointer);
    NtxFile* file = CheckNtx(handle);
    if (file == nullptr) return kKbdErrHandle;
    const std::string& condition = file->header.for_expression;
    std::memcpy(buffer, condition.c_str(), condition.size() + 1);
    return kKbdOk;
  });
}

extern "C" int16_t kbdxforrec(int16_t dbf_handle, int16_t handle) {
  return RunOperation([&]() -> int16_t {
    NtxFile* file = CheckNtx(handle);
    if (file == nullptr) return kKbdErrHandle;
    bool accepted = true;
    if (int16_t e = EvaluateCondition(dbf_handle, file->header.for_expression,
                                      ExprRules::kClipper, &accepted))
      return e;
    return accepted ? 1 : 0;
  });
}

extern "C" int16_t kbdxkeynum(int16_t handle, void* key, double number) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr) return Fail(kKbdErrNullPointer);
    NtxFile* file = CheckNtx(handle);
    if (file == nullptr) return kKbdErrHandle;
    NtxNumberKey(number, file->header.key_length, file->header.decimals,
                 static_cast<uint8_t*>(key));
    return kKbdOk;
  });
}

extern "C" int16_t kbdxkeydate(void* key, const char* date) {
  return RunOperation([&]() -> int16_t {
    if (key == nullptr || date == nullptr) return Fail(kKbdErrNullPointer);
    char text[kStoredDateLength + 1];
    if (int16_t e = NormaliseDateKey(text, date)) return Fail(e);
    std::memcpy(key, text, kStoredDateLength);
    static_cast<char*>(key)[kStoredDateLength] = 0;
    return kKbdOk;
  });
}

extern "C" int16_t kbdxkeyrec(int16_t dbf_handle, int16_t handle, void** key) {
  return index::RunRecordKeyCall(key, [&]() -> int16_t {
    NtxFile* file = CheckNtx(handle);
    if (file == nullptr) return kKbdErrHandle;
    KeyValue value;
    const int16_t status = EvaluateKey(dbf_handle, file->expression,
                                       NumericKeyRule::kNumericOrFloat, &value,
                                       ExprRules::kClipper);
    if (status < 0) return status;
    return index::HandOutKey(file->header.key_length, key, [&](uint8_t* bytes) {
      const int16_t e =
          NtxValueKey(value.type, value.text, value.number, *file, bytes);
      return e != kKbdOk ? e : status;
    });
  });
}

extern "C" int16_t kbdxinfo(int16_t handle, KbdNtxInfo* info) {
  return RunOperation([&]() -> int16_t {
    if (info == nullptr) return Fail(kKbdErrNullPointer);
    NtxFile* file = CheckNtx(handle);
    if (file == nullptr) return kKbdErrHandle;
    *info = KbdNtxInfo{};
    const size_t n = std::min(file->name.size(), sizeof info->name - 1);
    std::memcpy(info->name, file->name.data(), n);
    info->key_length = file->header.key_length;
    info->decimals = file->header.decimals;
    info->flags =
        static_cast<uint16_t>((file->unique() ? kKbdKeyUnique : 0) |
                              (file->descending ? kKbdKeyDescending : 0));
    info->expression_length = static_cast<uint16_t>(file->expression.size());
    const size_t e =
        std::min(file->expression.size(), sizeof info->expression - 1);
    std::memcpy(info->expression, file->expression.data(), e);
    info->file_flags = static_cast<uint16_t>(
        (file->read_only() ? 0x01 : 0) |
        ((file->file_flags & kFileFlagShared) ? 0x02 : 0));
    const std::string& condition = file->header.for_expression;
    info->for_length = static_cast<uint16_t>(condition.size());
    const size_t f =
        std::min(condition.size(), sizeof info->for_expression - 1);
    std::memcpy(info->for_expression, condition.data(), f);
    return kKbdOk;
  });
}
