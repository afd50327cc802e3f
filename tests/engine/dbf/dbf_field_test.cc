// Field values through kbddget and kbddput: every type, the warnings and
// errors of conversions, and the null and varlength bits of Visual FoxPro.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/dates/date_format.h"
#include "engine/dbf/dbf_format.h"
#include "tests/engine/dbf/dbf_test_util.h"

namespace qx::engine::testing {
namespace {

std::string Raw(int16_t h, int16_t field) {
  char bytes[300];
  uint16_t length = 0;
  EXPECT_EQ(kbddgetraw(h, field, bytes, &length), kKbdOk);
  return std::string(bytes, length);
}

std::string Text(int16_t h, int16_t field) {
  char text[300] = {};
  EXPECT_EQ(kbddget(h, field, text), kKbdOk);
  return text;
}

TEST_F(DbfTest, DbaseFieldTypes) {
  std::vector<KbdFieldDef> defs = {
      FieldDef("NAME", 'C', 6),   FieldDef("BORN", 'D', 8),
      FieldDef("QTY", 'N', 5, 2), FieldDef("OK", 'L', 1),
      FieldDef("NOTES", 'M', 10), FieldDef("COUNT", 'N', 4)};
  std::string path = dir_.File("f.dbf");
  ASSERT_EQ(kbddcreate(path.c_str(), 6, defs.data(), 1), kKbdOk);
  int16_t h = -1;
  ASSERT_EQ(Open(path, 1, &h), kKbdOk);

  // A fresh buffer is blank: blank values and the blank test.
  EXPECT_EQ(Text(h, 0), "      ");
  EXPECT_EQ(Text(h, 1), "        ");
  double number = -1;
  ASSERT_EQ(kbddget(h, 2, &number), kKbdOk);
  EXPECT_EQ(number, 0.0);
  uint8_t logical = 0;
  ASSERT_EQ(kbddget(h, 3, &logical), kKbdOk);
  EXPECT_EQ(logical, '?');
  uint32_t block = 7;
  ASSERT_EQ(kbddget(h, 4, &block), kKbdOk);
  EXPECT_EQ(block, 0u);
  for (int16_t f = 0; f < 6; ++f) EXPECT_EQ(kbddisblank(h, f), 1) << f;
  EXPECT_EQ(kbdgeterror(), kKbdOk);

  // C: cut with warning 5.
  EXPECT_EQ(kbddput(h, 0, "ABCDEFGH"), kKbdFieldTruncated);
  EXPECT_EQ(Text(h, 0), "ABCDEF");
  ASSERT_EQ(kbddput(h, 0, "ab"), kKbdOk);
  EXPECT_EQ(Raw(h, 0), "ab    ");
  EXPECT_EQ(kbddisblank(h, 0), 0);

  // D in the current date format.
  ASSERT_EQ(kbddput(h, 1, "20240229"), kKbdOk);
  EXPECT_EQ(Raw(h, 1), "20240229");
  ASSERT_EQ(kbdsetdatefmt(kDateFormatGerman4), kKbdOk);
  EXPECT_EQ(Text(h, 1), "29.02.2024");
  EXPECT_EQ(kbddput(h, 1, "31.02.2024"), kKbdErrDate);
  kbdseterror(0);
  EXPECT_EQ(Raw(h, 1), "20240229");
  ASSERT_EQ(kbddput(h, 1, "01.03.2024"), kKbdOk);
  EXPECT_EQ(Raw(h, 1), "20240301");
  ASSERT_EQ(kbddput(h, 1, "  "), kKbdOk);
  EXPECT_EQ(Raw(h, 1), "        ");
  EXPECT_EQ(Text(h, 1), "          ");  // ten blanks for dd.mm.yyyy
  ASSERT_EQ(kbdsetdatefmt(kDateFormatYmd), kKbdOk);

  // N(5,2): overflow, rounding, negatives.
  number = 100.0;
  EXPECT_EQ(kbddput(h, 2, &number), kKbdErrData);
  kbdseterror(0);
  number = 99.999;
  EXPECT_EQ(kbddput(h, 2, &number), kKbdErrData);
  kbdseterror(0);
  number = -99.99;
  EXPECT_EQ(kbddput(h, 2, &number), kKbdErrData);
  kbdseterror(0);
  EXPECT_EQ(Raw(h, 2), "     ");
  number = 1.005;
  EXPECT_EQ(kbddput(h, 2, &number), kKbdNumberRounded);
  EXPECT_EQ(Raw(h, 2), " 1.00");
  number = -9.5;
  ASSERT_EQ(kbddput(h, 2, &number), kKbdOk);
  ASSERT_EQ(kbddget(h, 2, &number), kKbdOk);
  EXPECT_EQ(number, -9.5);
  number = 12;
  ASSERT_EQ(kbddput(h, 5, &number), kKbdOk);
  EXPECT_EQ(Raw(h, 5), "  12");

  // L: the true and false sets; anything else is -33.
  logical = 'y';
  ASSERT_EQ(kbddput(h, 3, &logical), kKbdOk);
  EXPECT_EQ(Raw(h, 3), "T");
  ASSERT_EQ(kbddget(h, 3, &logical), kKbdOk);
  EXPECT_EQ(logical, 1);
  logical = 0;
  ASSERT_EQ(kbddput(h, 3, &logical), kKbdOk);
  EXPECT_EQ(Raw(h, 3), "F");
  logical = '?';
  EXPECT_EQ(kbddput(h, 3, &logical), kKbdErrData);
  kbdseterror(0);

  // M: ten right-aligned digits.
  block = 42;
  ASSERT_EQ(kbddput(h, 4, &block), kKbdOk);
  EXPECT_EQ(Raw(h, 4), "        42");
  block = 0;
  ASSERT_EQ(kbddget(h, 4, &block), kKbdOk);
  EXPECT_EQ(block, 42u);

  // Field number and value pointer checks.
  EXPECT_EQ(kbddget(h, 6, &number), kKbdErrFieldCount);
  kbdseterror(0);
  EXPECT_EQ(kbddget(h, -1, &number), kKbdErrFieldCount);
  kbdseterror(0);
  EXPECT_EQ(kbddput(h, 0, nullptr), kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(kbddisblank(h, 9), kKbdErrFieldCount);
  kbdseterror(0);
  uint16_t length = 0;
  EXPECT_EQ(kbddgetraw(h, 0, nullptr, &length), kKbdErrNullPointer);
  kbdseterror(0);

  // The buffer reaches the file only through kbddwrite.
  uint32_t recno = 0;
  ASSERT_EQ(kbddwrite(h, &recno, kKbdWriteAppend), kKbdOk);
  ASSERT_EQ(kbddclose(h), kKbdOk);
  ASSERT_EQ(Open(path, 1, &h), kKbdOk);
  ASSERT_EQ(kbddread(h, 1), kKbdOk);
  EXPECT_EQ(Text(h, 0), "ab    ");
  EXPECT_EQ(Raw(h, 2), "-9.50");
  kbddclose(h);
}

// A Visual FoxPro file with every VFP type, nullable fields and _NullFlags.
// Bits: NAME null 0; VNAME varlength 1, null 2; VBIN varlength 3; RATIO
// null 4; STAMP null 5; QTY null 6; BORN null 7; OK null 8.
RawDbf VfpFile() {
  RawDbf dbf;
  dbf.version = 0x32;
  dbf.terminator = "\r" + std::string(263, '\0');
  dbf.fields = {{"NAME", 'C', 6, 0, 0x02},  {"VNAME", 'V', 8, 0, 0x02},
                {"VBIN", 'Q', 6, 0, 0x04},  {"COUNT", 'I', 4, 0},
                {"RATIO", 'B', 8, 2, 0x02}, {"PRICE", 'Y', 8, 4},
                {"STAMP", 'T', 8, 0, 0x02}, {"NOTES", 'M', 4, 0},
                {"PIC", 'G', 4, 0},         {"BLOB", 'W', 4, 0},
                {"QTY", 'N', 6, 2, 0x02},   {"BORN", 'D', 8, 0, 0x02},
                {"OK", 'L', 1, 0, 0x02},    {"_NullFlags", '0', 2, 0, 0x05}};
  std::string r1 = " Alice ";
  r1 += std::string("abc\0\0\0\0\x03", 8);
  r1 += std::string("\x01\x02\x03\x04\x05\x06", 6);
  r1 += std::string("\xFE\xFF\xFF\xFF", 4);                // -2
  r1 += std::string("\0\0\0\0\0\0\x04\x40", 8);            // 2.5
  r1 += std::string("\x10\x27\0\0\0\0\0\0", 8);            // 1.0000
  r1 += std::string("\xD2\x8A\x25\0\x48\xA7\xE5\x02", 8);  // 2460370, 48605000
  r1 += std::string("\x07\0\0\0", 4);
  r1 += std::string("\x08\0\0\0", 4);
  r1 += std::string("\x09\0\0\0", 4);
  r1 += "  3.25";
  r1 += "20240229";
  r1 += "T";
  r1 += std::string("\x02\x00", 2);  // VNAME's varlength bit
  std::string r2 = r1;
  std::memcpy(&r2[1], "GHOST ", 6);
  r2[r2.size() - 2] = '\xF5';  // bits 0, 2, 4, 5, 6, 7 ...
  r2[r2.size() - 1] = '\x01';  // ... and 8
  dbf.records = {r1, r2};
  return dbf;
}

TEST_F(DbfTest, VisualFoxproTypesAndNullFlags) {
  RawDbf dbf = VfpFile();
  ASSERT_EQ(dbf.records[0].size(), dbf.RecordSize());
  int16_t h = -1;
  std::string path = Write("vfp.dbf", dbf);
  for (uint16_t d = 1; d <= 9; ++d) EXPECT_LT(Open(path, d, &h), 0) << d;
  ASSERT_EQ(Open(path, 10, &h), kKbdOk);
  KbdDbfInfo info{};
  ASSERT_EQ(kbddinfo(h, &info), kKbdOk);
  EXPECT_EQ(info.dialect, 10);
  EXPECT_EQ(info.field_count, 14);
  EXPECT_EQ(info.has_memo, 1);

  ASSERT_EQ(kbddread(h, 1), kKbdOk);
  EXPECT_EQ(Text(h, 0), "Alice ");
  EXPECT_EQ(Text(h, 1), "abc");  // cut to the stored length
  uint8_t q[2 + 6];
  ASSERT_EQ(kbddget(h, 2, q), kKbdOk);
  EXPECT_EQ(GetLe16(q), 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(q + 2), 6),
            "\x01\x02\x03\x04\x05\x06");
  int32_t count = 0;
  ASSERT_EQ(kbddget(h, 3, &count), kKbdOk);
  EXPECT_EQ(count, -2);
  double value = 0;
  ASSERT_EQ(kbddget(h, 4, &value), kKbdOk);
  EXPECT_EQ(value, 2.5);
  ASSERT_EQ(kbddget(h, 5, &value), kKbdOk);
  EXPECT_EQ(value, 1.0);
  EXPECT_EQ(Text(h, 6), "20240229133005000");
  uint32_t block = 0;
  ASSERT_EQ(kbddget(h, 7, &block), kKbdOk);
  EXPECT_EQ(block, 7u);
  uint32_t untouched = 0xABCD;
  ASSERT_EQ(kbddget(h, 8, &untouched), kKbdOk);  // G: no conversion
  EXPECT_EQ(untouched, 0xABCDu);
  ASSERT_EQ(kbddget(h, 10, &value), kKbdOk);
  EXPECT_EQ(value, 3.25);
  EXPECT_EQ(Text(h, 11), "20240229");
  char flags[2];
  EXPECT_EQ(kbddget(h, 13, flags), kKbdErrFieldType);  // a system column
  kbdseterror(0);
  for (int16_t f : {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 12})
    EXPECT_EQ(kbddisblank(h, f), 0) << f;

  // Record 2: null bits make the values blank whatever is stored.
  ASSERT_EQ(kbddread(h, 2), kKbdOk);
  EXPECT_EQ(Raw(h, 0), "GHOST ");
  EXPECT_EQ(Text(h, 0), "      ");
  EXPECT_EQ(Text(h, 1), "");
  ASSERT_EQ(kbddget(h, 4, &value), kKbdOk);
  EXPECT_EQ(value, 0.0);
  EXPECT_EQ(Text(h, 6), std::string(17, ' '));
  ASSERT_EQ(kbddget(h, 10, &value), kKbdOk);
  EXPECT_EQ(value, 0.0);
  EXPECT_EQ(Text(h, 11), "        ");
  uint8_t logical = 0;
  ASSERT_EQ(kbddget(h, 12, &logical), kKbdOk);
  EXPECT_EQ(logical, '?');
  for (int16_t f : {0, 1, 4, 6, 10, 11, 12})
    EXPECT_EQ(kbddisblank(h, f), 2) << f;
  for (int16_t f : {2, 3, 5}) EXPECT_EQ(kbddisblank(h, f), 0) << f;

  // Puts clear the null bit; V and Q record short lengths.
  ASSERT_EQ(kbddput(h, 0, "Bob"), kKbdOk);
  EXPECT_EQ(Raw(h, 13), std::string("\xF4\x01", 2));
  ASSERT_EQ(kbddput(h, 1, "xy"), kKbdOk);
  EXPECT_EQ(Raw(h, 1), std::string("xy     \x02", 8));
  EXPECT_EQ(Raw(h, 13), std::string("\xF2\x01", 2));  // varlength on, null off
  EXPECT_EQ(Text(h, 1), "xy");
  ASSERT_EQ(kbddput(h, 1, "12345678"), kKbdOk);  // fills the field
  EXPECT_EQ(Raw(h, 13), std::string("\xF0\x01", 2));
  EXPECT_EQ(Text(h, 1), "12345678");
  EXPECT_EQ(kbddput(h, 1, "123456789"), kKbdFieldTruncated);
  EXPECT_EQ(Text(h, 1), "12345678");
  uint8_t q_in[2 + 8] = {2, 0, 0xAA, 0xBB};
  ASSERT_EQ(kbddput(h, 2, q_in), kKbdOk);
  EXPECT_EQ(Raw(h, 2), std::string("\xAA\xBB\0\0\0\x02", 6));
  EXPECT_EQ(Raw(h, 13), std::string("\xF8\x01", 2));
  ASSERT_EQ(kbddget(h, 2, q), kKbdOk);
  EXPECT_EQ(GetLe16(q), 2);
  PutLe16(q_in, 8);
  EXPECT_EQ(kbddput(h, 2, q_in), kKbdFieldTruncated);
  EXPECT_EQ(Raw(h, 13), std::string("\xF0\x01", 2));

  count = 123456;
  ASSERT_EQ(kbddput(h, 3, &count), kKbdOk);
  EXPECT_EQ(Raw(h, 3), std::string("\x40\xE2\x01\x00", 4));
  value = -0.125;
  ASSERT_EQ(kbddput(h, 4, &value), kKbdOk);
  ASSERT_EQ(kbddget(h, 4, &value), kKbdOk);
  EXPECT_EQ(value, -0.125);
  value = -3.25;  // currency: value * 10000, cut toward zero
  ASSERT_EQ(kbddput(h, 5, &value), kKbdOk);
  EXPECT_EQ(static_cast<int64_t>(
                GetLe64(reinterpret_cast<const uint8_t*>(Raw(h, 5).data()))),
            -32500);
  value = 1e20;
  EXPECT_EQ(kbddput(h, 5, &value), kKbdErrData);
  kbdseterror(0);
  ASSERT_EQ(kbddput(h, 6, "19700101000001"), kKbdOk);
  EXPECT_EQ(Raw(h, 6), std::string("\x8C\x3D\x25\x00\xE8\x03\x00\x00", 8));
  EXPECT_EQ(Text(h, 6), "19700101000001000");
  EXPECT_EQ(kbddput(h, 6, "20241301"), kKbdErrDate);
  kbdseterror(0);
  block = 77;
  ASSERT_EQ(kbddput(h, 7, &block), kKbdOk);
  EXPECT_EQ(Raw(h, 7), std::string("\x4D\0\0\0", 4));
  std::string blob_before = Raw(h, 9);
  ASSERT_EQ(kbddput(h, 9, &block), kKbdOk);  // W: no conversion
  EXPECT_EQ(Raw(h, 9), blob_before);
  value = 12.5;
  ASSERT_EQ(kbddput(h, 10, &value), kKbdOk);
  EXPECT_EQ(Raw(h, 10), " 12.50");
  EXPECT_EQ(Raw(h, 13), std::string("\x80\x01", 2));
  ASSERT_EQ(kbddput(h, 11, "20250101"), kKbdOk);
  logical = 'N';
  ASSERT_EQ(kbddput(h, 12, &logical), kKbdOk);
  EXPECT_EQ(Raw(h, 13), std::string("\x00\x00", 2));

  uint32_t recno = 2;
  ASSERT_EQ(kbddwrite(h, &recno, kKbdWriteRewrite), kKbdOk);
  ASSERT_EQ(kbddread(h, 1), kKbdOk);
  ASSERT_EQ(kbddread(h, 2), kKbdOk);
  EXPECT_EQ(Text(h, 0), "Bob   ");
  EXPECT_EQ(Text(h, 6), "19700101000001000");
  kbddclose(h);
}

// Binary fields are blank by their own rule only, never by the text rule
// (which stops at the first NUL): a date-time whose day number has 0x00 as
// its low byte, over every low byte 0..255, with and without a time; and
// integers, doubles, currencies and memo numbers whose first byte is 0.
TEST_F(DbfTest, BinaryValuesAreBlankOnlyByTheirOwnRule) {
  using namespace std::chrono;
  constexpr int32_t kUnixEpochJulianDay = 2440588;
  auto julian = [](year_month_day date) {
    return sys_days(date).time_since_epoch().count() + kUnixEpochJulianDay;
  };
  RawDbf dbf;
  dbf.version = 0x30;
  dbf.terminator = "\r" + std::string(263, '\0');
  dbf.fields = {{"STAMP", 'T', 8, 0},
                {"COUNT", 'I', 4, 0},
                {"RATIO", 'B', 8, 2},
                {"PRICE", 'Y', 8, 4},
                {"NOTES", 'M', 4, 0}};
  struct Row {
    uint32_t day;
    uint32_t milliseconds;
    std::string text;  // "" for blank
  };
  std::vector<Row> rows;
  const int32_t first = julian(1953y / July / 1);
  ASSERT_EQ(first, 2434560);  // stored 00 26 25 00
  for (uint32_t low = 0; low < 256; ++low) {
    year_month_day date{sys_days(1953y / July / 1) + days(low)};
    uint32_t ms = low % 2 == 0 ? 0 : (7 * 3600 + 49 * 60 + 21) * 1000;
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d%02u%02u%s", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        ms == 0 ? "000000000" : "074921000");
    rows.push_back({static_cast<uint32_t>(first) + low, ms, text});
  }
  const int32_t late = julian(2099y / April / 14);
  ASSERT_EQ(late & 0xFF, 0);
  rows.push_back({static_cast<uint32_t>(late), (7 * 3600 + 32 * 60 + 6) * 1000,
                  "20990414073206000"});
  rows.push_back({0, 0, ""});
  rows.push_back({0, 1000, ""});
  rows.push_back({0x20202020u, 0x20202020u, ""});
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::string r(dbf.RecordSize(), '\0');
    r[0] = ' ';
    auto* p = reinterpret_cast<uint8_t*>(r.data()) + 1;
    PutLe32(p, rows[i].day);
    PutLe32(p + 4, rows[i].milliseconds);
    PutLe32(p + 8, static_cast<uint32_t>(i) << 8);        // I
    PutLe64(p + 12, std::bit_cast<uint64_t>(i * 256.0));  // B
    PutLe64(p + 20, static_cast<uint64_t>(i) << 8);       // Y
    PutLe32(p + 28, static_cast<uint32_t>(i) << 8);       // M
    dbf.records.push_back(r);
  }
  int16_t h = -1;
  ASSERT_EQ(Open(Write("binary.dbf", dbf), 10, &h), kKbdOk);
  for (uint32_t recno = 1; recno <= rows.size(); ++recno) {
    const Row& row = rows[recno - 1];
    const uint32_t i = recno - 1;
    SCOPED_TRACE("record " + std::to_string(recno));
    ASSERT_EQ(kbddread(h, recno), kKbdOk);
    EXPECT_EQ(kbddisblank(h, 0), row.text.empty() ? 1 : 0);
    EXPECT_EQ(Text(h, 0), row.text.empty() ? std::string(17, ' ') : row.text);
    for (int16_t f : {1, 2, 3}) EXPECT_EQ(kbddisblank(h, f), 0) << f;
    int32_t count = -1;
    ASSERT_EQ(kbddget(h, 1, &count), kKbdOk);
    EXPECT_EQ(count, static_cast<int32_t>(i * 256));
    double value = -1;
    ASSERT_EQ(kbddget(h, 2, &value), kKbdOk);
    EXPECT_EQ(value, i * 256.0);
    ASSERT_EQ(kbddget(h, 3, &value), kKbdOk);
    EXPECT_EQ(value, i * 256 / 10000.0);
    // A memo number is blank only when 0 (or four blanks).
    EXPECT_EQ(kbddisblank(h, 4), i == 0 ? 1 : 0);
    uint32_t block = 1;
    ASSERT_EQ(kbddmemoblock(h, 4, &block), kKbdOk);
    EXPECT_EQ(block, i * 256);
  }
  kbddclose(h);
}

// kbddget reads the usual fields its own short ways; every stored form, odd
// ones included, must still read as the general decoders (the parser and
// the date formatter) read it, and a call in error must still fail as the
// full operation does.
TEST_F(DbfTest, EveryStoredFormReadsAsTheGeneralDecoders) {
  RawDbf dbf;
  dbf.fields = {{"C1", 'C', 1, 0},    {"C7", 'C', 7, 0},    {"C8", 'C', 8, 0},
                {"C15", 'C', 15, 0},  {"C16", 'C', 16, 0},  {"C32", 'C', 32, 0},
                {"C33", 'C', 33, 0},  {"N3", 'N', 3, 0},    {"N62", 'N', 6, 2},
                {"N43", 'N', 4, 3},   {"N194", 'N', 19, 4}, {"F83", 'F', 8, 3},
                {"N102", 'N', 10, 2}, {"D", 'D', 8, 0}};
  struct Form {
    const char* n3;
    const char* n62;
    const char* n43;
    const char* n194;
    const char* f83;
    const char* n102;
    const char* d;
  };
  const Form forms[] = {
      {" 42", " 12.50", "0.25", "     123456789.1234", "  -1.500", "  12345.67",
       "20231115"},
      {"-7 ", "12.5  ", ".125", "1234567890123456789", " -0.000", "1234567.89",
       "20240229"},
      {"   ", "  -.50", "   ", "-1234567890123.5678", "1.5e3   ", "     -0.50",
       "        "},
      {"***", " 1,2.0", "-.00", "                  0", "    .500", "   - 12.50",
       "20230229"},
      {"007", "-99.99", "9.99", " 00000000000000.0001", "12345.67",
       "  12.5    ", "2024 229"},
  };
  for (const Form& f : forms) {
    std::string r = " ";
    for (const RawField& field : dbf.fields) {
      if (field.type != 'C') continue;
      for (int i = 0; i < field.length; ++i)
        r += static_cast<char>('a' + (r.size() + i) % 26);
      r.back() = ' ';
    }
    r += std::string(f.n3) + f.n62 + f.n43 + f.n194 + f.f83 + f.n102 + f.d;
    dbf.records.push_back(r);
  }
  ASSERT_EQ(dbf.records[0].size(), dbf.RecordSize());
  int16_t h = -1;
  ASSERT_EQ(Open(Write("forms.dbf", dbf), 1, &h), kKbdOk);
  for (uint16_t format : {kDateFormatYmd, kDateFormatGerman4}) {
    ASSERT_EQ(kbdsetdatefmt(format), kKbdOk);
    for (uint32_t recno = 1; recno <= dbf.records.size(); ++recno) {
      ASSERT_EQ(kbddread(h, recno), kKbdOk);
      for (int16_t i = 0; i < 14; ++i) {
        SCOPED_TRACE("record " + std::to_string(recno) + " field " +
                     std::to_string(i));
        std::string raw = Raw(h, i);
        const auto* bytes = reinterpret_cast<const uint8_t*>(raw.data());
        char type = dbf.fields[i].type;
        if (type == 'C') {
          EXPECT_EQ(Text(h, i), raw);
        } else if (type == 'D') {
          char expected[16] = {};
          int16_t status =
              DecodeDateInGeneral(bytes, raw.size(), format, expected);
          char text[16] = {};
          EXPECT_EQ(kbddget(h, i, text), status);
          kbdseterror(0);
          if (status >= 0) {
            EXPECT_STREQ(text, expected);
          }
        } else {
          double value = -1;
          ASSERT_EQ(kbddget(h, i, &value), kKbdOk);
          EXPECT_EQ(
              std::bit_cast<uint64_t>(value),
              std::bit_cast<uint64_t>(DecodeNumberInGeneral(bytes, raw.size())))
              << '"' << raw << '"';
        }
      }
    }
  }
  ASSERT_EQ(kbdsetdatefmt(kDateFormatYmd), kKbdOk);

  // Calls in error: the full operation's statuses, the buffer untouched.
  char text[40] = "untouched";
  EXPECT_EQ(kbddget(h, -1, text), kKbdErrFieldCount);
  kbdseterror(0);
  EXPECT_EQ(kbddget(h, 14, text), kKbdErrFieldCount);
  kbdseterror(0);
  EXPECT_EQ(kbddget(h, 0, nullptr), kKbdErrNullPointer);
  EXPECT_EQ(kbddget(h, 2, text), kKbdErrNullPointer);  // sticky
  kbdseterror(0);
  EXPECT_EQ(kbddget(h + 1, 2, text), kKbdErrHandle);
  kbdseterror(0);
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(kbddread(h, 0), kKbdErrSeek);
  kbdseterror(0);
  EXPECT_EQ(kbddread(h, 6), kKbdErrSeek);
  kbdseterror(0);
  kbddclose(h);
}

// The short ways remember the handle they last found valid: a closed
// handle must not be served from that memory, nor its number, reused by
// the next open, reach the closed file's fields.
TEST_F(DbfTest, ShortWaysForgetAClosedHandle) {
  RawDbf wide, narrow;
  wide.fields = {{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}};
  wide.records = {" Ann Example          12345.67"};
  narrow.fields = {{"CODE", 'C', 8, 0}};
  narrow.records = {" ABCDEFGH"};
  const std::string wide_path = Write("wide.dbf", wide);
  const std::string narrow_path = Write("narrow.dbf", narrow);
  int16_t h = -1;
  ASSERT_EQ(Open(wide_path, 1, &h), kKbdOk);
  ASSERT_EQ(kbddread(h, 1), kKbdOk);
  double amount = 0;
  ASSERT_EQ(kbddget(h, 1, &amount), kKbdOk);
  EXPECT_EQ(amount, 12345.67);
  ASSERT_EQ(kbddclose(h), kKbdOk);

  char text[32] = "untouched";
  EXPECT_EQ(kbddget(h, 0, text), kKbdErrHandle);
  kbdseterror(0);
  EXPECT_EQ(kbddread(h, 1), kKbdErrHandle);
  kbdseterror(0);
  EXPECT_STREQ(text, "untouched");

  int16_t again = -1;
  ASSERT_EQ(Open(narrow_path, 1, &again), kKbdOk);
  ASSERT_EQ(again, h);  // the freed slot is the first free one
  ASSERT_EQ(kbddread(again, 1), kKbdOk);
  EXPECT_EQ(kbddget(again, 1, &amount), kKbdErrFieldCount);
  kbdseterror(0);
  ASSERT_EQ(kbddget(again, 0, text), kKbdOk);
  EXPECT_STREQ(text, "ABCDEFGH");
  kbddclose(again);
}

}  // namespace
}  // namespace qx::engine::testing
