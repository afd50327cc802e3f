// Field values: conversion of one field of the record buffer to and from
// the caller's value by the field's type (kbddget, kbddput), the blank test
// (kbddisblank) and the stored bytes (kbddgetraw).
//
// Value forms: C, V and D are NUL-terminated text (C and V at most the
// field length, D in the task's date format); N, F, B and Y doubles; L one
// byte (1, 0 or '?'); M and P a uint32_t block number; I an int32_t; T the
// 17-character text YYYYMMDDHHMMSSmmm; Q a 16-bit little-endian length and
// the bytes. G and W are not converted. Get never allocates; put changes
// only the record buffer, and only when it succeeds.
//
// Visual FoxPro null flags: a set null bit makes get give the type's blank
// value; every put clears it. V and Q values shorter than the field keep
// their length in the field's last byte and set the varlength bit.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/dbf/dbf_internal.h"

namespace qx::engine {
namespace {

bool TestBit(const DbfFile& file, int16_t bit) {
  if (bit < 0) return false;
  const uint8_t* flags = file.field_bytes(file.fields[file.null_flags_field]);
  return ((flags[bit / 8] >> (bit % 8)) & 1) != 0;
}

void SetBit(DbfFile* file, int16_t bit, bool on) {
  if (bit < 0) return;
  uint8_t* flags = file->field_bytes(file->fields[file->null_flags_field]);
  uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
  if (on)
    flags[bit / 8] |= mask;
  else
    flags[bit / 8] &= static_cast<uint8_t>(~mask);
}

// Bytes held by a V or Q field: all of it, or the count in its last byte
// when the varlength bit is set (at most length - 1, the last byte being
// the count itself).
size_t StoredLength(const DbfFile& file, const DbfField& field) {
  if (field.length == 0 || !TestBit(file, field.varlength_bit))
    return field.length;
  const uint8_t* p = file.field_bytes(field);
  return std::min<size_t>(p[field.length - 1], field.length - 1u);
}

// Stores n bytes of a V or Q value, padded with pad; a shorter value than
// the field records its length. Warning 5 when the value was cut.
int16_t PutVariable(DbfFile* file, const DbfField& field, const uint8_t* data,
                    size_t n, uint8_t pad) {
  uint8_t* p = file->field_bytes(field);
  int16_t status = n > field.length ? kKbdFieldTruncated : kKbdOk;
  size_t kept = std::min<size_t>(n, field.length);
  std::memcpy(p, data, kept);
  std::fill(p + kept, p + field.length, pad);
  bool shorter = kept < field.length && field.varlength_bit >= 0;
  if (shorter) p[field.length - 1] = static_cast<uint8_t>(kept);
  SetBit(file, field.varlength_bit, shorter);
  return status;
}

// Memo numbers of Visual FoxPro are 32-bit binary; a 10-byte field there
// (written by other programs) keeps the text form.
bool IsMemoPointer(const DbfFile& file, const DbfField& field) {
  switch (field.type) {
    case 'M':
    case 'P':
    case 'G':
    case 'W':
      return true;
    case 'B':
      return file.dialect != kKbdVisualFoxpro;
    default:
      return false;
  }
}

bool IsBinaryMemo(const DbfFile& file, const DbfField& field) {
  return file.dialect == kKbdVisualFoxpro &&
         field.length == kDbfIntegerFieldSize;
}

const uint8_t kBlankDate[kStoredDateLength] = {' ', ' ', ' ', ' ',
                                               ' ', ' ', ' ', ' '};

uint16_t CurrentDateFormat() { return CurrentTask()->date_format; }

// kbddget's conversions for every type and the null flags, from the record
// buffer; the value pointer is not null.
[[gnu::noinline]] int16_t GetAnyFieldValue(const DbfFile& file,
                                           const DbfField& field, void* value) {
  const uint8_t* p = file.field_bytes(field);
  bool null = TestBit(file, field.null_bit);
  size_t length = field.length;
  int16_t status = kKbdOk;
  switch (field.type) {
    case 'C': {
      char* out = static_cast<char*>(value);
      if (null)
        std::fill_n(out, length, ' ');
      else
        std::memcpy(out, p, length);
      out[length] = '\0';
      break;
    }
    case 'V': {
      char* out = static_cast<char*>(value);
      size_t n = null ? 0 : StoredLength(file, field);
      std::memcpy(out, p, n);
      out[n] = '\0';
      break;
    }
    case 'Q': {
      uint8_t* out = static_cast<uint8_t*>(value);
      size_t n = null ? 0 : StoredLength(file, field);
      PutLe16(out, static_cast<uint16_t>(n));
      std::memcpy(out + 2, p, n);
      break;
    }
    case 'D':
      status = null ? DecodeDate(kBlankDate, kStoredDateLength,
                                 CurrentDateFormat(), static_cast<char*>(value))
                    : DecodeDate(p, length, CurrentDateFormat(),
                                 static_cast<char*>(value));
      break;
    case 'N':
    case 'F':
      *static_cast<double*>(value) = null ? 0.0 : DecodeNumber(p, length);
      break;
    case 'L':
      *static_cast<uint8_t*>(value) =
          null || length == 0 ? '?' : DecodeLogical(p[0]);
      break;
    case 'M':
    case 'P': {
      uint32_t* out = static_cast<uint32_t*>(value);
      if (null)
        *out = 0;
      else if (IsBinaryMemo(file, field))
        *out = GetLe32(p);
      else
        status = DecodeMemoNumber(p, length, out);
      break;
    }
    case 'I':
      if (length < kDbfIntegerFieldSize) return Fail(kKbdErrData);
      *static_cast<int32_t*>(value) =
          null ? 0 : static_cast<int32_t>(GetLe32(p));
      break;
    case 'B':
      if (length < kDbfBinaryFieldSize) return Fail(kKbdErrData);
      *static_cast<double*>(value) =
          null ? 0.0 : std::bit_cast<double>(GetLe64(p));
      break;
    case 'Y':
      if (length < kDbfBinaryFieldSize) return Fail(kKbdErrData);
      *static_cast<double*>(value) =
          null ? 0.0
               : static_cast<double>(static_cast<int64_t>(GetLe64(p))) /
                     kDbfCurrencyScale;
      break;
    case 'T': {
      if (length < kDbfBinaryFieldSize) return Fail(kKbdErrData);
      char* out = static_cast<char*>(value);
      if (null) {
        std::fill_n(out, kDbfDateTimeTextLength, ' ');
        out[kDbfDateTimeTextLength] = '\0';
      } else {
        status = DecodeDateTime(p, out);
      }
      break;
    }
    case 'G':
    case 'W':
      break;  // no conversion: the value is left as it is
    default:
      return Fail(kKbdErrFieldType);
  }
  return status < 0 ? Fail(status) : status;
}

}  // namespace

int16_t PutFieldValue(DbfFile* file, int16_t number, const void* value) {
  const DbfField& field = file->fields[number];
  uint8_t* p = file->field_bytes(field);
  size_t length = field.length;
  int16_t status = kKbdOk;
  switch (field.type) {
    case 'C': {
      const char* text = static_cast<const char*>(value);
      size_t n = std::strlen(text);
      if (n > length) status = kKbdFieldTruncated;
      size_t kept = std::min(n, length);
      std::memcpy(p, text, kept);
      std::fill(p + kept, p + length, ' ');
      break;
    }
    case 'V': {
      const char* text = static_cast<const char*>(value);
      status = PutVariable(file, field, reinterpret_cast<const uint8_t*>(text),
                           std::strlen(text), ' ');
      break;
    }
    case 'Q': {
      const uint8_t* in = static_cast<const uint8_t*>(value);
      status = PutVariable(file, field, in + 2, GetLe16(in), 0);
      break;
    }
    case 'D':
      status = EncodeDate(static_cast<const char*>(value), CurrentDateFormat(),
                          p, length);
      break;
    case 'N':
    case 'F':
      status = EncodeNumber(*static_cast<const double*>(value), field.length,
                            field.decimals, file->largest[number], p);
      break;
    case 'L':
      if (length == 0) return Fail(kKbdErrData);
      status = EncodeLogical(*static_cast<const uint8_t*>(value), p);
      break;
    case 'M':
    case 'P': {
      uint32_t block = *static_cast<const uint32_t*>(value);
      if (IsBinaryMemo(*file, field))
        PutLe32(p, block);
      else
        status = EncodeMemoNumber(block, p, length);
      break;
    }
    case 'I':
      if (length < kDbfIntegerFieldSize) return Fail(kKbdErrData);
      PutLe32(p, static_cast<uint32_t>(*static_cast<const int32_t*>(value)));
      break;
    case 'B':
      if (length < kDbfBinaryFieldSize) return Fail(kKbdErrData);
      PutLe64(p, std::bit_cast<uint64_t>(*static_cast<const double*>(value)));
      break;
    case 'Y': {
      if (length < kDbfBinaryFieldSize) return Fail(kKbdErrData);
      int64_t stored = 0;
      status = EncodeCurrency(*static_cast<const double*>(value), &stored);
      if (status == kKbdOk) PutLe64(p, static_cast<uint64_t>(stored));
      break;
    }
    case 'T':
      if (length < kDbfBinaryFieldSize) return Fail(kKbdErrData);
      status = EncodeDateTime(static_cast<const char*>(value), p);
      break;
    case 'G':
    case 'W':
      return kKbdOk;  // no conversion: the field is left as it is
    default:
      return Fail(kKbdErrFieldType);
  }
  if (status < 0) return Fail(status);
  SetBit(file, field.null_bit, false);
  return status;
}

bool IsFieldBlank(const DbfFile& file, const DbfField& field) {
  if (TestBit(file, field.null_bit)) return true;
  const uint8_t* p = file.field_bytes(field);
  switch (field.type) {
    case 'D':
      return field.length == 0 || p[0] == ' ' || p[0] == '\0';
    case 'T':
      return field.length >= kDbfBinaryFieldSize && IsBlankDateTime(p);
    case 'M':
    case 'P':
    case 'G':
    case 'W':
      // A Visual FoxPro block number is binary: block 32 is 20 00 00 00,
      // which the text rule would take for blanks and lose the memo.
      if (IsBinaryMemo(file, field))
        return GetLe32(p) == 0 || GetLe32(p) == 0x20202020u;
      return IsBlankText(p, field.length);
    case 'C':
    case 'V':
    case 'N':
    case 'F':
    case 'L':
      return IsBlankText(p, field.length);
    default:  // binary values (I, B, Y, Q): every byte pattern is a value
      return false;
  }
}

}  // namespace qx::engine

using namespace qx::engine;

namespace {

// The field of a public field operation: -13, -27 as the last error.
const DbfField* FieldOf(int16_t handle, int16_t field, DbfFile** file) {
  *file = CheckDbf(handle);
  if (*file == nullptr) return nullptr;
  if (!(*file)->has_field(field)) {
    Fail(kKbdErrFieldCount);
    return nullptr;
  }
  return &(*file)->fields[field];
}

// kbddget in full: every check, every type.
[[gnu::noinline, gnu::cold]] int16_t GetInFull(int16_t handle, int16_t field,
                                               void* value) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = nullptr;
    const DbfField* f = FieldOf(handle, field, &file);
    if (f == nullptr) return StickyError();
    if (value == nullptr) return Fail(kKbdErrNullPointer);
    return GetAnyFieldValue(*file, *f, value);
  });
}

// The field readers (FieldReader). A record scan gets every field of every
// record: the types records hold most, in the forms writers leave, are
// converted by small functions without a call, each the tail of kbddget.
// What a scan runs is marked hot, so that it lies together in the library:
// between two reads (system calls) it runs from a few cache lines.

int16_t EndRead() { return EndShortWay(CurrentTask(), kKbdOk); }

int16_t ReadInFull(const uint8_t*, const DbfField&, void* value, int16_t handle,
                   int16_t field_number) {
  return GetInFull(handle, field_number, value);
}

// Text of kMove..2 * kMove bytes (8..15, 16..32): memcpy without a library
// call, two overlapping moves of a fixed size.
template <size_t kMove>
[[gnu::hot]] int16_t ReadText(const uint8_t* p, const DbfField& field,
                              void* value, int16_t, int16_t) {
  char* out = static_cast<char*>(value);
  size_t n = field.length;
  std::memcpy(out, p, kMove);
  std::memcpy(out + n - kMove, p + n - kMove, kMove);
  out[n] = '\0';
  return EndRead();
}

// Not inlined: ReadNumberByWord's other forms end here, by a jump.
[[gnu::hot, gnu::noinline]] int16_t ReadNumber(const uint8_t* p,
                                               const DbfField& field,
                                               void* value, int16_t handle,
                                               int16_t field_number) {
  if (!ReadPlainNumber(p, field.length, static_cast<double*>(value)))
    return GetInFull(handle, field_number, value);
  return EndRead();
}

// A number of 8..16 bytes in the form writers leave (ReadDeclaredNumber);
// any other form takes ReadNumber's scan.
[[gnu::hot]] int16_t ReadNumberByWord(const uint8_t* p, const DbfField& field,
                                      void* value, int16_t handle,
                                      int16_t field_number) {
  if (!ReadDeclaredNumber(p, field.length, field.decimals,
                          static_cast<double*>(value)))
    return ReadNumber(p, field, value, handle, field_number);
  return EndRead();
}

[[gnu::hot]] int16_t ReadDate(const uint8_t* p, const DbfField& field,
                              void* value, int16_t handle,
                              int16_t field_number) {
  if (!DecodePlainDate(p, field.length, CurrentDateFormat(),
                       static_cast<char*>(value)))
    return GetInFull(handle, field_number, value);
  return EndRead();
}

FieldReader ChooseReader(const DbfField& f) {
  if (f.null_bit >= 0) return ReadInFull;
  switch (f.type) {
    case 'C':
      if (f.length >= 8 && f.length < 16) return ReadText<8>;
      if (f.length >= 16 && f.length <= 32) return ReadText<16>;
      return ReadInFull;
    case 'N':
    case 'F':
      if (f.length >= 8 && f.length <= 16 && f.decimals <= 7)
        return ReadNumberByWord;
      return ReadNumber;
    case 'D':
      return ReadDate;
    default:
      return ReadInFull;
  }
}

}  // namespace

void qx::engine::AssignFieldReaders(DbfFile* file) {
  for (DbfField& f : file->fields) f.reader = ChooseReader(f);
}

extern "C" [[gnu::hot]] int16_t kbddget(int16_t handle, int16_t field,
                                        void* value) {
  // The short way of a valid call: the field's reader, which ends the call
  // (or runs it in full). Any other call runs in full, checking everything.
  if (TaskRecord* task = TaskOfShortWay()) {
    auto* file =
        static_cast<DbfFile*>(ShortWayHandle(task, handle, kKbdKindDbf));
    if (file != nullptr && value != nullptr && file->has_field(field)) {
      const DbfField& f = file->fields[field];
      return f.reader(file->field_bytes(f), f, value, handle, field);
    }
  }
  return GetInFull(handle, field, value);
}

extern "C" int16_t kbddput(int16_t handle, int16_t field, const void* value) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = nullptr;
    const DbfField* f = FieldOf(handle, field, &file);
    if (f == nullptr) return StickyError();
    if (value == nullptr) return Fail(kKbdErrNullPointer);
    return PutFieldValue(file, field, value);
  });
}

extern "C" int16_t kbddisblank(int16_t handle, int16_t field) {
  int16_t answer = 0;
  int16_t status = RunOperation([&]() -> int16_t {
    DbfFile* file = nullptr;
    const DbfField* f = FieldOf(handle, field, &file);
    if (f == nullptr) return StickyError();
    if (TestBit(*file, f->null_bit))
      answer = 2;
    else if (IsFieldBlank(*file, *f))
      answer = 1;
    return kKbdOk;
  });
  return status < 0 ? status : answer;
}

extern "C" int16_t kbddblankrec(int16_t handle) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return StickyError();
    uint8_t* rec = file->record_bytes();
    rec[0] = ' ';
    bool vfp = file->dialect == kKbdVisualFoxpro;
    for (const DbfField& f : file->fields) {
      // Binary forms are zero when empty; text forms are blanks.
      bool binary =
          f.type == 'I' || f.type == 'B' || f.type == 'Y' || f.type == 'T' ||
          f.type == 'Q' || (f.flags & kDbfFieldSystem) != 0 ||
          (vfp && f.length == kDbfIntegerFieldSize &&
           (f.type == 'M' || f.type == 'G' || f.type == 'P' || f.type == 'W'));
      std::memset(rec + f.offset, binary ? 0 : ' ', f.length);
    }
    // A new record's nullable fields are null until a value is put.
    for (const DbfField& f : file->fields)
      if (f.null_bit >= 0)
        file->field_bytes(
            file->fields[file->null_flags_field])[f.null_bit / 8] |=
            static_cast<uint8_t>(1u << (f.null_bit % 8));
    return kKbdOk;
  });
}

extern "C" int16_t kbddgetraw(int16_t handle, int16_t field, char* out,
                              uint16_t* length) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = nullptr;
    const DbfField* f = FieldOf(handle, field, &file);
    if (f == nullptr) return StickyError();
    if (out == nullptr || length == nullptr) return Fail(kKbdErrNullPointer);
    std::memcpy(out, file->field_bytes(*f), f->length);
    *length = f->length;
    return kKbdOk;
  });
}

// The memo block of any field that points into the memo file (M, P, G, W,
// and B outside Visual FoxPro): 0 when blank or null.
extern "C" int16_t kbddmemoblock(int16_t handle, int16_t field,
                                 uint32_t* block) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = nullptr;
    const DbfField* f = FieldOf(handle, field, &file);
    if (f == nullptr) return StickyError();
    if (block == nullptr) return Fail(kKbdErrNullPointer);
    if (!IsMemoPointer(*file, *f)) return Fail(kKbdErrFieldType);
    *block = 0;
    if (TestBit(*file, f->null_bit) || IsFieldBlank(*file, *f)) return kKbdOk;
    const uint8_t* p = file->field_bytes(*f);
    if (IsBinaryMemo(*file, *f)) {
      *block = GetLe32(p);
      return kKbdOk;
    }
    int16_t status = DecodeMemoNumber(p, f->length, block);
    return status < 0 ? Fail(status) : status;
  });
}

extern "C" int16_t kbddsetmemoblock(int16_t handle, int16_t field,
                                    uint32_t block) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = nullptr;
    const DbfField* f = FieldOf(handle, field, &file);
    if (f == nullptr) return StickyError();
    if (!IsMemoPointer(*file, *f)) return Fail(kKbdErrFieldType);
    uint8_t* p = file->field_bytes(*f);
    if (IsBinaryMemo(*file, *f)) {
      PutLe32(p, block);
    } else {
      int16_t status = EncodeMemoNumber(block, p, f->length);
      if (status < 0) return Fail(status);
    }
    SetBit(file, f->null_bit, false);
    return kKbdOk;
  });
}
