// The DBF data file on disk: header, field descriptors, records, the
// byte-range lock regions, and the codecs of the values stored in records.
// The reader (open, get) and the writer (create, append, put) both use what
// is here; nobody else decodes DBF bytes.
//
// Byte order: every binary number is little-endian.
//
// File header, 32 bytes at offset 0:
//   OFFSET SIZE FIELD          notes
//   0      1    version        0x03 no memo; 0x83 DBT memo (dBASE III
//                              manner); 0x8B dBASE IV DBT memo; 0xF5
//                              FoxPro FPT memo; 0x30 0x31 0x32 Visual
//                              FoxPro; 0x07 0x87 Visual Objects ANSI
//                              tables (0x03 0x83 with 0x04 set)
//   1      3    update date    year - 1900 (mod 256), month 1..12, day
//   4      4    record count   unsigned
//   8      2    header size    bytes; the offset of record 1
//   10     2    record size    bytes, the deletion flag included
//   12     16   (reserved)     zero when created, kept as read
//   28     1    MDX flag       0 or 1; checked in dialects 2 and 8 only.
//                              Visual FoxPro: table flags, 0x01 structural
//                              CDX, 0x02 memo file, 0x04 database container
//   29     1    code page mark language driver id (Visual FoxPro, dBASE
//                              IV and later); zero when created
//   30     2    (reserved)     zero when created
//
// Field descriptors, 32 bytes each, from offset 32 in field order:
//   0      11   name           upper case, NUL-padded, at most 10 chars
//   11     1    type           type character
//   12     4    displacement   Visual FoxPro: the field's offset in the
//                              record (byte 0 the deletion flag); other
//                              dialects: reserved, zero when created
//   16     1    length         low byte of the field length
//   17     1    decimals       for C in dialects 4, 5, 6 and 8 the high
//                              byte of the length instead
//   18     1    flags          Visual FoxPro: 0x01 system column, 0x02
//                              nullable, 0x04 binary, 0x08 autoincrement
//   19     4    next value     Visual FoxPro autoincrement (I with 0x08):
//                              the value the next appended record gets
//   23     1    step           the autoincrement step, 1..255
//   24     8    (reserved)
//
// Header terminators as written by create, by dialect:
//   1..8       descriptors, 0x0D, then 0x1A: header size 32 * n + 33 (the
//              0x1A is the end-of-file marker of an empty file)
//   9 (Omnis)  descriptors, a 32-byte terminator record (0x0D + 31 zero
//              bytes), then 0x1A: header size 32 * (n + 2)
//   10 (VFP)   descriptors, 0x0D, then a 263-byte area (the database
//              container's path, NUL-filled) before record 1: header size
//              32 * n + 296, no end-of-file marker while the file is empty
// On read, (header size - area - 32) mod 32 may be 0, 1 or 2 (area 263 in
// dialect 10, else 0): a 0x0D alone, 0x0D 0x00, or a terminator slot. A
// full slot whose first byte is 0x0D is the Omnis terminator record and
// makes the file dialect 9.
//
// Records follow the header: record n (1-based) at header size + (n - 1) *
// record size. Byte 0 is the deletion flag (' ' active, '*' deleted), the
// fields follow without separators in descriptor order, the first at byte
// 1. One 0x1A follows the last record; in dialect 7 a whole record's worth
// of 0x1A bytes. Tolerated on read: a file one byte or one record longer
// than its header says; any other length opens with warning 7 (a shared
// file's size is judged under the append lock, see the chart below).
//
// Stored forms of the field types:
//   C     text, blank-padded; V (VFP) the same with a varlength bit
//   D     8 digits YYYYMMDD, or 8 blanks
//   N F   right-aligned decimal text, "%*.*f" with the field's length and
//         decimals
//   L     one of T t Y y 1 \1 (true), F f N n 0 \0 (false), ' ' or ?
//   M P   block number as 10 right-aligned digits; VFP: 32-bit binary
//   I     32-bit signed integer;  B  64-bit IEEE double
//   Y     64-bit signed integer, the value * 10000
//   T     two 32-bit words: Julian day number, then milliseconds since
//         midnight; both 0 for an empty value
//   Q     bytes (VFP), with a varlength bit;  G W  memo numbers, unconverted
// Blank by type: the text forms (C V N F L, text memo numbers) by the text
// rule (blanks up to the end or up to a NUL); D by its first byte (blank or
// NUL); T by its day word (0, or four blanks); Visual FoxPro binary memo
// numbers when 0 or four blanks; I B Y Q never. No binary form is judged by
// the text rule: its bytes may be 0x00 anywhere (block 256 is 00 01 00 00,
// the day 1953-07-01 is 00 26 25 00).
//
// Tolerated on read besides the dialects' own forms, for tables real
// writers make: the version bytes 0x07 and 0x87 of Visual Objects in the
// dBASE III dialects (1, 3, 5, 6, 7, 9), read as 0x03 and 0x83; N and F
// fields 20 wide in Visual FoxPro (10) as in dialects 2, 4 and 8 (the
// others allow 19); general (G) fields in FoxPro 2 tables (dialect 8,
// version 0xF5, block numbers in text form like M), as FoxPro 2.6 writes
// them. Still refused: any other version byte (-18), wider numbers (-29),
// G in dialect 4 or without the FPT version byte (-18), the other Visual
// FoxPro types outside dialect 10 (-18).
//
// Null flags (Visual FoxPro). The system column "_NullFlags" holds a bit
// string; bit k lies in byte k / 8 at bit k % 8. Walking the fields from
// the first, a V or Q field takes the next bit as its varlength bit, and
// then a field with the nullable flag takes the next bit as its null bit.
// Set varlength bit: the field holds fewer bytes than its length and its
// last byte gives the count. Set null bit: the field is null and reads as
// blank. Bits past the end of the column are not kept.
//
// Produced on write for Visual FoxPro (kbddcreate in dialect 10), as the
// Visual FoxPro tables of real programs have them:
//   version  0x30; 0x31 when a field is autoincrement; 0x32 when a field
//            is V or Q (whatever else the table holds)
//   byte 28  0x02 when an M, G or W field needs the memo file, else 0
//   lengths  I 4; B, Y, T 8; D 8; L 1; M, G, W 4 (binary block numbers);
//            C, V, Q 1..254; N, F 1..20. Y keeps 4 decimals, B 0..18.
//   flags    0x04 always on I, B, Y, T, W and Q, on C, M, V and G when
//            asked; 0x02 as asked; 0x08 on I only (never nullable), with
//            its next value and step (1 and 1 unless given)
//   _NullFlags  a hidden system column (type '0', flags 0x05) after the
//            last field, one bit per V or Q field and per nullable field,
//            ceil(bits / 8) bytes, when any bit is needed and the
//            definitions do not hold the column themselves
//   area     263 zero bytes (the table belongs to no database container)
// Record 1 starts right after the area: an empty file is its header alone.
//
// Lock regions (byte-range locks far beyond any data; they never wait):
//   region                         bytes                     taken by
//   file lock mode 1               0x7FFFFFFE                kbddlock(1)
//   file lock mode 2               0x5FFFFFC0..0x7FFFFFFE    kbddlock(2)
//   file lock mode 3               0x5FFFFFC0..0x7FFFFFFD    kbddlock(3)
//   mode 4 test                    0x5FFFFFC0..0x7FFFFFBE    locked, freed
//   mode 4 shared slot s (3..63)   0x7FFFFFFF - s            kbddlock(4)
//   mode 5 test                    0x7FFFFFBF..0x7FFFFFFD    locked, freed
//   record n                       0x7FFFFFBF - n            kbddlockrec
//   append lock (= mode 1's byte)  0x7FFFFFFE                every append
//                                                            to a shared
//                                                            file; shared
//                                                            by its open
// The append lock is the one lock here that waits: a bounded while for
// another process's append (engine/fileio/operation_lock.h); a handle
// holding mode 1 or 2 appends under that lock instead.
// Order and failures:
//   mode 1..3, record lock: one lock call; a failure leaves nothing held.
//   mode 4: (1) lock and free the test range; a failure ends here with
//           nothing held; (2) try slots s = 3, 4, ..., 63, keeping the first
//           that locks; when none does, nothing is held.
//   mode 5: lock and free the test range; nothing stays held either way.
//   After every file lock that succeeds, the record count is read again
//   from the header, since another process may have appended; when that
//   read fails, the lock is given back and the call fails with nothing
//   held.
// Record n's byte lies inside the mode 2, 3 and 4-test ranges, so a file
// lock of another handle excludes record locks and the reverse. The same
// handle cannot stack overlapping locks either (the system refuses them).
#ifndef QX_ENGINE_DBF_DBF_FORMAT_H_
#define QX_ENGINE_DBF_DBF_FORMAT_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "engine/core/coding.h"
#include "engine/dates/date_format.h"

namespace qx::engine {

// ---------------------------------------------------------------------------
// File header

inline constexpr size_t kDbfVersionOffset = 0;
inline constexpr size_t kDbfVersionSize = 1;
inline constexpr size_t kDbfUpdateDateOffset = 1;
inline constexpr size_t kDbfUpdateDateSize = 3;  // year, month, day
inline constexpr size_t kDbfRecordCountOffset = 4;
inline constexpr size_t kDbfRecordCountSize = 4;
inline constexpr size_t kDbfHeaderSizeOffset = 8;
inline constexpr size_t kDbfHeaderSizeSize = 2;
inline constexpr size_t kDbfRecordSizeOffset = 10;
inline constexpr size_t kDbfRecordSizeSize = 2;
inline constexpr size_t kDbfReserved1Offset = 12;
inline constexpr size_t kDbfReserved1Size = 16;
inline constexpr size_t kDbfMdxFlagOffset = 28;  // VFP: the table flags
inline constexpr size_t kDbfMdxFlagSize = 1;
inline constexpr size_t kDbfReserved2Offset = 29;  // the code page mark first
inline constexpr size_t kDbfReserved2Size = 3;
inline constexpr size_t kDbfHeaderSize =
    kDbfVersionSize + kDbfUpdateDateSize + kDbfRecordCountSize +
    kDbfHeaderSizeSize + kDbfRecordSizeSize + kDbfReserved1Size +
    kDbfMdxFlagSize + kDbfReserved2Size;
static_assert(kDbfHeaderSize == 32);

// Table flags of Visual FoxPro (header byte 28). On disk: never renumber.
inline constexpr uint8_t kDbfVfpTableCdx = 0x01;
inline constexpr uint8_t kDbfVfpTableMemo = 0x02;
inline constexpr uint8_t kDbfVfpTableDatabase = 0x04;

// Version bytes. On disk: never renumber.
inline constexpr uint8_t kDbfVersionPlain = 0x03;
inline constexpr uint8_t kDbfVersionDbtMemo = 0x83;
inline constexpr uint8_t kDbfVersionDbase4Memo = 0x8B;
inline constexpr uint8_t kDbfVersionFptMemo = 0xF5;
inline constexpr uint8_t kDbfVersionVfp = 0x30;
inline constexpr uint8_t kDbfVersionVfpAutoIncrement = 0x31;
inline constexpr uint8_t kDbfVersionVfpVarchar = 0x32;
// Visual Objects ANSI tables: the dBASE III bytes with 0x04 set.
inline constexpr uint8_t kDbfVersionAnsiPlain = 0x07;
inline constexpr uint8_t kDbfVersionAnsiDbtMemo = 0x87;
// A version byte at or above this marks a memo file in dialects 1-3, 5-7, 9.
inline constexpr uint8_t kDbfVersionMemoBit = 0x80;

// ---------------------------------------------------------------------------
// Field descriptor

inline constexpr size_t kDbfFieldNameOffset = 0;
inline constexpr size_t kDbfFieldNameSize = 11;  // 10 characters + NUL
inline constexpr size_t kDbfFieldTypeOffset = 11;
inline constexpr size_t kDbfFieldTypeSize = 1;
inline constexpr size_t kDbfFieldDisplacementOffset = 12;
inline constexpr size_t kDbfFieldDisplacementSize = 4;
inline constexpr size_t kDbfFieldLengthOffset = 16;
inline constexpr size_t kDbfFieldLengthSize = 1;
inline constexpr size_t kDbfFieldDecimalsOffset = 17;
inline constexpr size_t kDbfFieldDecimalsSize = 1;
inline constexpr size_t kDbfFieldFlagsOffset = 18;
inline constexpr size_t kDbfFieldFlagsSize = 1;
inline constexpr size_t kDbfFieldNextValueOffset = 19;
inline constexpr size_t kDbfFieldNextValueSize = 4;
inline constexpr size_t kDbfFieldStepOffset = 23;
inline constexpr size_t kDbfFieldStepSize = 1;
inline constexpr size_t kDbfFieldReservedOffset = 24;
inline constexpr size_t kDbfFieldReservedSize = 8;
inline constexpr size_t kDbfDescriptorSize =
    kDbfFieldNameSize + kDbfFieldTypeSize + kDbfFieldDisplacementSize +
    kDbfFieldLengthSize + kDbfFieldDecimalsSize + kDbfFieldFlagsSize +
    kDbfFieldNextValueSize + kDbfFieldStepSize + kDbfFieldReservedSize;
static_assert(kDbfDescriptorSize == 32);

inline constexpr size_t kDbfMaxFieldNameLength = kDbfFieldNameSize - 1;

// Widest N and F fields, in bytes: 20 in dialects 2, 4, 8 and 10, 19 in
// the others. A wider field is -29.
inline constexpr uint16_t kDbfWidestNumber = 19;
inline constexpr uint16_t kDbfWidestNumberLong = 20;

// Descriptor flags (Visual FoxPro). On disk: never renumber.
inline constexpr uint8_t kDbfFieldSystem = 0x01;
inline constexpr uint8_t kDbfFieldNullable = 0x02;
inline constexpr uint8_t kDbfFieldBinary = 0x04;  // no code page translation
inline constexpr uint8_t kDbfFieldAutoIncrement = 0x08;

// The column holding the null and varlength bits: looked up by this name
// without regard to case, written as kDbfNullFlagsStoredName with type
// kDbfNullFlagsType.
inline constexpr std::string_view kDbfNullFlagsName = "_NULLFLAGS";
inline constexpr std::string_view kDbfNullFlagsStoredName = "_NullFlags";
inline constexpr uint8_t kDbfNullFlagsType = '0';

// ---------------------------------------------------------------------------
// Terminators, area, records

inline constexpr uint8_t kDbfHeaderTerminator = 0x0D;
inline constexpr uint8_t kDbfEndOfFile = 0x1A;
// The Omnis terminator: a whole descriptor slot, 0x0D then zeros.
inline constexpr size_t kDbfOmnisTerminatorSize = kDbfDescriptorSize;
// Visual FoxPro's area between the terminator and record 1 (the backlink
// to a database container).
inline constexpr size_t kDbfVfpAreaSize = 263;
// The smallest header size accepted for a Visual FoxPro file: the area and
// one byte.
inline constexpr uint16_t kDbfVfpMinHeaderSize = 264;

inline constexpr size_t kDbfDeletionFlagOffset = 0;
inline constexpr uint8_t kDbfActiveFlag = ' ';
inline constexpr uint8_t kDbfDeletedFlag = '*';

// ---------------------------------------------------------------------------
// Lock regions (see the chart above)

inline constexpr uint32_t kDbfLockMode1Offset = 0x7FFFFFFE;
inline constexpr uint32_t kDbfLockMode1Length = 1;
inline constexpr uint32_t kDbfLockMode2Offset = 0x5FFFFFC0;
inline constexpr uint32_t kDbfLockMode2Length = 0x2000003F;
inline constexpr uint32_t kDbfLockMode3Offset = 0x5FFFFFC0;
inline constexpr uint32_t kDbfLockMode3Length = 0x2000003E;
inline constexpr uint32_t kDbfLockMode4TestOffset = 0x5FFFFFC0;
inline constexpr uint32_t kDbfLockMode4TestLength = 0x1FFFFFFF;
inline constexpr uint32_t kDbfLockSharedSlotBase = 0x7FFFFFFF;  // minus s
inline constexpr int16_t kDbfLockFirstSharedSlot = 3;
inline constexpr int16_t kDbfLockLastSharedSlot = 63;
inline constexpr uint32_t kDbfLockMode5Offset = 0x7FFFFFBF;
inline constexpr uint32_t kDbfLockMode5Length = 0x3F;
inline constexpr uint32_t kDbfLockRecordBase = 0x7FFFFFBF;  // minus recno

// ---------------------------------------------------------------------------
// Header and descriptor codecs

struct DbfHeader {
  uint8_t version = kDbfVersionPlain;
  uint8_t update_year = 0;  // year - 1900, mod 256
  uint8_t update_month = 0;
  uint8_t update_day = 0;
  uint32_t record_count = 0;
  uint16_t header_size = 0;  // bytes
  uint16_t record_size = 0;  // bytes
  std::array<uint8_t, kDbfReserved1Size> reserved1{};
  uint8_t mdx_flag = 0;
  std::array<uint8_t, kDbfReserved2Size> reserved2{};

  static DbfHeader DecodeFrom(std::span<const uint8_t, kDbfHeaderSize> in);
  void EncodeTo(std::span<uint8_t, kDbfHeaderSize> out) const;
};

struct DbfDescriptor {
  std::array<char, kDbfFieldNameSize> name{};  // as stored, NUL-padded
  uint8_t type = 0;
  uint32_t displacement = 0;  // VFP: bytes from the record start
  uint8_t length = 0;         // low byte
  uint8_t decimals = 0;       // or the length's high byte (C, dialects 4-6, 8)
  uint8_t flags = 0;
  uint32_t next_value = 0;  // VFP autoincrement
  uint8_t step = 0;         // VFP autoincrement
  std::array<uint8_t, kDbfFieldReservedSize> reserved{};

  static DbfDescriptor DecodeFrom(
      std::span<const uint8_t, kDbfDescriptorSize> in);
  void EncodeTo(std::span<uint8_t, kDbfDescriptorSize> out) const;

  // The name's length up to its first NUL (11 when it has none).
  size_t NameLength() const;
  // The length with byte 17 as its high byte.
  uint16_t WideLength() const;
};

// ---------------------------------------------------------------------------
// Value codecs. Field bytes are [p, p + length); none of these allocates.

// Blank test of text-form fields: only blanks up to the end, or blanks
// followed by a NUL.
bool IsBlankText(const uint8_t* p, size_t length);

// Numbers (N, F). The largest value a field of the length and decimals can
// hold: the length in '9's with a decimal point at position length -
// decimals - 1 (at 0 when that is negative) when decimals is not 0.
double LargestStorableNumber(uint16_t length, uint16_t decimals);
// Reads the stored text; a blank field and a text without a leading number
// read as 0.0. A number followed by other characters reads as that number.
// Inline (a record read decodes every numeric field): the plain form is
// read here, anything else by DecodeNumberInGeneral.
inline double DecodeNumber(const uint8_t* p, size_t length);
double DecodeNumberInGeneral(const uint8_t* p, size_t length);
// Writes value as "%*.*f" with the field's length and decimals into
// [p, p + length). Statuses: 0; kKbdNumberRounded (6) when the text does
// not read back as value (the read-back value is what is stored); -33 when
// the value is not finite, its text is longer than 21 characters or than
// the field, or the rounded value exceeds largest. The field is written
// only when the status is not negative.
int16_t EncodeNumber(double value, uint16_t length, uint16_t decimals,
                     double largest, uint8_t* p);

// Dates (D). out gets the date in the format, or the format's length in
// blanks for a blank field (first byte blank or NUL); out holds 11 bytes.
// Statuses: 0, -15 (the stored text is no date), -12 (unknown format).
// Inline for the default format, whose text is the stored form; the rest
// is DecodeDateInGeneral.
inline int16_t DecodeDate(const uint8_t* p, size_t length, uint16_t format,
                          char* out);
int16_t DecodeDateInGeneral(const uint8_t* p, size_t length, uint16_t format,
                            char* out);
// Reads text in the format; an empty date stores 8 blanks. Writes the 8
// date bytes at p and blanks over the rest of length. Statuses: 0, -15,
// -12, -33 for a field shorter than 8 bytes.
int16_t EncodeDate(std::string_view text, uint16_t format, uint8_t* p,
                   size_t length);

// Logicals (L). 1 for the true set, 0 for the false set, '?' for anything
// else (blank, '?', or a byte no writer of ours produces).
uint8_t DecodeLogical(uint8_t stored);
// 'T' or 'F' into *stored; -33 for a value in neither set.
int16_t EncodeLogical(uint8_t value, uint8_t* stored);

// Memo block numbers in text form (M, P). A blank field is 0; anything but
// blanks around decimal digits, or a number past 32 bits, is -33.
int16_t DecodeMemoNumber(const uint8_t* p, size_t length, uint32_t* number);
// "%10lu" right-aligned in the field; -33 when it does not fit.
int16_t EncodeMemoNumber(uint32_t number, uint8_t* p, size_t length);

// Date-times (T): 8 bytes. Empty: a day word of 0 or of four blanks
// (0x20), whatever the time word; never judged by the text blank test.
bool IsBlankDateTime(const uint8_t* p);
// The text is YYYYMMDDHHMMSSmmm (17 characters + NUL in out), the time
// rounded to the whole second (a remainder of 500 ms or less dropped); an
// empty value gives 17 blanks. -15 for a day outside the years 0..9999.
int16_t DecodeDateTime(const uint8_t* p, char* out);
// Blank text stores two zero words. Otherwise at least YYYYMMDD, then
// optionally HH, MM, SS (missing parts 0); milliseconds are dropped. -15
// for a bad date, -16 for a bad time.
int16_t EncodeDateTime(std::string_view text, uint8_t* p);
inline constexpr size_t kDbfDateTimeTextLength = 17;

// Currencies (Y): the stored integer is the value times 10000. Encoding
// cuts the decimal number the value reads as (its shortest text that reads
// back as the same double) after the fourth decimal, toward zero: 12.3456,
// which a double holds as 12.34559999..., stores 123456, and 1.23456 stores
// 12345. -33 for a value not finite or beyond +-9.2e14.
int16_t EncodeCurrency(double value, int64_t* stored);
inline constexpr double kDbfCurrencyScale = 10000.0;
inline constexpr size_t kDbfBinaryFieldSize = 8;   // B, Y, T
inline constexpr size_t kDbfIntegerFieldSize = 4;  // I, VFP M/P/G/W

// ---------------------------------------------------------------------------
// The inline parts of the value codecs

// Powers of ten that a double holds exactly.
inline constexpr double kExactPowersOfTen[] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr uint64_t kExactMantissaLimit = uint64_t{1} << 53;

// A decimal text as scanned: an optional '-', then digits with an optional
// '.' among them.
struct ScannedDecimal {
  uint64_t mantissa = 0;  // the digits as one integer (modulo 2^64)
  size_t digits = 0;      // all of them
  size_t decimals = 0;    // those after the '.'
  bool negative = false;
};

// Scans [p, end) from its start; answers where scanning stopped (the first
// byte that is not part of the number).
inline const uint8_t* ScanDecimal(const uint8_t* p, const uint8_t* end,
                                  ScannedDecimal* out) {
  out->negative = p < end && *p == '-';
  if (out->negative) ++p;
  const uint8_t* first_digit = p;
  uint64_t mantissa = 0;
  unsigned digit = 0;
  while (p < end && (digit = static_cast<unsigned>(*p) - '0') <= 9) {
    mantissa = mantissa * 10 + digit;
    ++p;
  }
  out->digits = static_cast<size_t>(p - first_digit);
  out->decimals = 0;
  if (p < end && *p == '.') {
    const uint8_t* first_decimal = ++p;
    while (p < end && (digit = static_cast<unsigned>(*p) - '0') <= 9) {
      mantissa = mantissa * 10 + digit;
      ++p;
    }
    out->decimals = static_cast<size_t>(p - first_decimal);
    out->digits += out->decimals;
  }
  out->mantissa = mantissa;
  return p;
}

// The value of a scanned decimal without a general parser: with at most
// 2^53 as digits and at most 18 of them, the digits and the power of ten
// are exact doubles and one division rounds correctly, so the value equals
// a general parser's. False when there are no digits or too many.
inline bool ExactDecimalValue(const ScannedDecimal& d, double* value) {
  if (d.digits == 0 || d.digits > 18 || d.mantissa > kExactMantissaLimit)
    return false;
  double v = static_cast<double>(d.mantissa);
  if (d.decimals != 0) v /= kExactPowersOfTen[d.decimals];
  *value = d.negative ? -v : v;
  return true;
}

// The plain form of a stored number, which every writer of right-aligned
// numbers leaves: blanks, then a decimal text up to the end of the field.
inline bool ReadPlainNumber(const uint8_t* p, size_t length, double* value) {
  const uint8_t* end = p + length;
  while (p < end && *p == ' ') ++p;
  ScannedDecimal scanned;
  return ScanDecimal(p, end, &scanned) == end &&
         ExactDecimalValue(scanned, value);
}

// The high bit of each of the eight bytes of w that is not an ASCII digit,
// every other bit clear (exact: no carry crosses a byte).
inline uint64_t NonDigitBytes(uint64_t w) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHigh = kOnes * 0x80;
  const uint64_t a = w ^ (kOnes * '0');  // digits become 0..9
  return (((a | kHigh) - kOnes * 10) | a) & kHigh;
}

// The form writers leave in a field of 8..16 bytes with decimals (0..7)
// digits after the point, when its characters fit in the last eight bytes:
// blanks, an optional '-', digits, and the '.' exactly decimals bytes
// before the end (none when decimals is 0), with at least one digit.
// Checked and read eight bytes at a time, without a loop: true with the
// value ReadPlainNumber gives, false for any other form.
inline bool ReadDeclaredNumber(const uint8_t* p, size_t length,
                               unsigned decimals, double* value) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kBlanks = kOnes * ' ';
  if (length > 8) {  // the bytes before the last eight: all blanks
    const uint64_t head = GetLe64(p) ^ kBlanks;
    if ((head << (8 * (16 - length))) != 0) return false;
  }
  const uint64_t w = GetLe64(p + length - 8);  // byte i: bits 8i..8i+7
  uint64_t other = NonDigitBytes(w);
  uint64_t point = 0;         // 0xFF at the '.'
  uint64_t before_point = 0;  // 0xFF at each byte before it
  if (decimals != 0) {
    const unsigned shift = 8 * (7 - decimals);
    if (((w >> shift) & 0xFF) != '.') return false;
    point = uint64_t{0xFF} << shift;
    before_point = (uint64_t{1} << shift) - 1;
    other &= ~point;
  }
  // The bytes that are neither digits nor the '.' come first: blanks, the
  // last of them possibly '-'. At least one digit follows.
  const uint64_t lead = (other << 1) - (other >> 7);  // 0xFF a byte
  const uint64_t digits = ~(lead | point);
  if ((lead & (lead + 1)) != 0 || digits == 0) return false;
  const bool negative = (w & lead) != (kBlanks & lead);
  if (negative) {
    const uint64_t last = lead ^ (lead >> 8);  // 0xFF at the last one
    if ((w & lead) != ((kBlanks & lead & ~last) | (kOnes * '-' & last)))
      return false;
  }
  // The digits' values with the point's gap closed (the bytes before it
  // move one on): one number of eight digits, byte 0 the first.
  uint64_t v = (w ^ (kOnes * '0')) & digits;
  v = ((v & before_point) << 8) | (v & ~before_point);
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFULL;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFULL;
  v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFULL;
  double d = static_cast<double>(v);
  if (decimals != 0) d /= kExactPowersOfTen[decimals];
  *value = negative ? -d : d;
  return true;
}

inline double DecodeNumber(const uint8_t* p, size_t length) {
  double value = 0.0;
  return ReadPlainNumber(p, length, &value) ? value
                                            : DecodeNumberInGeneral(p, length);
}

// Eight digits YYYYMMDD as year, month and day; false for anything else,
// blanks included.
inline bool ReadStoredDateDigits(const uint8_t* p, int* year, int* month,
                                 int* day) {
  if (NonDigitBytes(GetLe64(p)) != 0) return false;
  auto digit = [p](int i) { return p[i] - '0'; };
  *year = ((digit(0) * 10 + digit(1)) * 10 + digit(2)) * 10 + digit(3);
  *month = digit(4) * 10 + digit(5);
  *day = digit(6) * 10 + digit(7);
  return true;
}

// A date that exists in every year of four digits: every day of every
// month but 29 February, which needs the calendar's leap-year rule.
inline bool IsDateOfEveryYear(int month, int day) {
  static constexpr int kLongest[13] = {0,  31, 28, 31, 30, 31, 30,
                                       31, 31, 30, 31, 30, 31};
  return month >= 1 && month <= 12 && day >= 1 && day <= kLongest[month];
}

// A stored date that is eight digits YYYYMMDD of a valid date (the common
// case; also the text of the default format).
inline bool ReadPlainStoredDate(const uint8_t* p, int* year, int* month,
                                int* day) {
  return ReadStoredDateDigits(p, year, month, day) &&
         (IsDateOfEveryYear(*month, *day) || IsValidDate(*year, *month, *day));
}

// The short way of DecodeDate: a plain stored date in the default format,
// whose text is the stored form. It makes no call (29 February, which
// needs the leap-year rule, takes the general way); false when the general
// way must run.
inline bool DecodePlainDate(const uint8_t* p, size_t length, uint16_t format,
                            char* out) {
  int year = 0, month = 0, day = 0;
  if (format != kDateFormatYmd || length < kStoredDateLength ||
      !ReadStoredDateDigits(p, &year, &month, &day) ||
      !IsDateOfEveryYear(month, day))
    return false;
  std::memcpy(out, p, kStoredDateLength);
  out[kStoredDateLength] = '\0';
  return true;
}

inline int16_t DecodeDate(const uint8_t* p, size_t length, uint16_t format,
                          char* out) {
  if (DecodePlainDate(p, length, format, out)) return 0;
  return DecodeDateInGeneral(p, length, format, out);
}

}  // namespace qx::engine

#endif  // QX_ENGINE_DBF_DBF_FORMAT_H_
