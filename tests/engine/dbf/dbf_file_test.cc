// Data files as a whole: create and open in every dialect, the open checks,
// records (read, append, rewrite, delete, recall), close, pack and the
// block reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/core/handle_table.h"
#include "engine/core/last_error.h"
#include "engine/dbf/dbf_block_reader.h"
#include "platform/platform.h"
#include "tests/engine/dbf/dbf_test_util.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {
namespace {

using qx::testing::ReadWholeFile;
using qx::testing::WriteWholeFile;

// A three-field dBASE III file: NAME C(10), QTY N(5,2), OK L.
RawDbf SmallFile(int records) {
  RawDbf dbf;
  dbf.fields = {{"NAME", 'C', 10, 0}, {"QTY", 'N', 5, 2}, {"OK", 'L', 1, 0}};
  for (int i = 1; i <= records; ++i) {
    char r[40];
    std::snprintf(r, sizeof r, " REC%-7d%5.2fT", i, (i % 60) * 1.5);
    dbf.records.emplace_back(r, 17);
  }
  return dbf;
}

std::string FieldText(int16_t h, int16_t field) {
  char text[300] = {};
  EXPECT_EQ(kbddget(h, field, text), kKbdOk);
  return text;
}

TEST_F(DbfTest, CreateThenOpenInEveryDialect) {
  for (uint16_t dialect = 1; dialect <= 9; ++dialect) {
    SCOPED_TRACE(dialect);
    bool has_float = dialect == 2 || dialect == 4 || dialect == 8;
    std::vector<KbdFieldDef> defs = {
        FieldDef("name", 'c', 20), FieldDef("Born", 'D', 0),
        FieldDef("QTY", 'N', 8, 2), FieldDef("OK", 'L', 0),
        FieldDef("NOTES", 'M', 0)};
    if (has_float) defs.push_back(FieldDef("RATE", 'F', 10, 3));
    std::string path = dir_.File("t" + std::to_string(dialect) + ".dbf");
    kbdseterror(0);
    ASSERT_EQ(kbddcreate(path.c_str(), static_cast<int16_t>(defs.size()),
                         defs.data(), dialect),
              kKbdOk);

    std::string bytes = ReadWholeFile(path);
    size_t n = defs.size();
    size_t header = dialect == 9 ? 32 * (n + 2) : 32 * n + 33;
    ASSERT_EQ(bytes.size(), header + 1);
    EXPECT_EQ(bytes[header - (dialect == 9 ? 32 : 1)], '\r');
    EXPECT_EQ(bytes.back(), '\x1A');
    uint8_t expected_version = dialect == 2                     ? 0x8B
                               : (dialect == 4 || dialect == 8) ? 0xF5
                                                                : 0x83;
    EXPECT_EQ(static_cast<uint8_t>(bytes[0]), expected_version);

    int16_t h = -1;
    ASSERT_EQ(Open(path, dialect, &h), kKbdOk);
    KbdDbfInfo info{};
    ASSERT_EQ(kbddinfo(h, &info), kKbdOk);
    EXPECT_EQ(info.dialect, dialect);
    EXPECT_EQ(info.header_size, header);
    EXPECT_EQ(info.record_size, 1 + 20 + 8 + 8 + 1 + 10 + (has_float ? 10 : 0));
    EXPECT_EQ(info.field_count, static_cast<int16_t>(n));
    EXPECT_EQ(info.has_memo, 1);
    EXPECT_EQ(info.record_count, 0u);
    platform::LocalDate today = platform::Today();
    EXPECT_EQ(info.update_year, today.year);
    EXPECT_EQ(info.update_day, today.day);

    std::vector<KbdFieldDef> got(n);
    uint16_t largest = 0;
    ASSERT_EQ(kbddfields(h, &largest, got.data()), kKbdOk);
    EXPECT_EQ(largest, 20);
    EXPECT_STREQ(got[0].name, "NAME");
    EXPECT_EQ(got[0].type, 'C');
    EXPECT_EQ(got[1].length, 8);
    EXPECT_EQ(got[2].decimals, 2);
    EXPECT_EQ(got[4].length, 10);
    ASSERT_EQ(kbddclose(h), kKbdOk);
    // An Omnis file opened as dialect 1 is recognised by its terminator slot.
    if (dialect == 9) {
      ASSERT_EQ(Open(path, 1, &h), kKbdOk);
      ASSERT_EQ(kbddinfo(h, &info), kKbdOk);
      EXPECT_EQ(info.dialect, 9);
      EXPECT_EQ(info.field_count, static_cast<int16_t>(n));
      kbddclose(h);
    }
  }
}

TEST_F(DbfTest, CreateChecksDefinitions) {
  std::string path = dir_.File("c.dbf");
  auto create = [&](std::vector<KbdFieldDef> defs, uint16_t dialect) {
    kbdseterror(0);
    return kbddcreate(path.c_str(), static_cast<int16_t>(defs.size()),
                      defs.data(), dialect);
  };
  KbdFieldDef one = FieldDef("A", 'C', 5);
  kbdseterror(0);
  EXPECT_EQ(kbddcreate(nullptr, 1, &one, 1), kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(kbddcreate(path.c_str(), 1, nullptr, 1), kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(kbddcreate(path.c_str(), 0, &one, 1), kKbdErrFieldCount);
  kbdseterror(0);
  EXPECT_EQ(kbddcreate("", 1, &one, 1), kKbdErrFileName);
  EXPECT_EQ(create({one}, 11), kKbdErrVersion);
  EXPECT_EQ(create({one}, 0), kKbdErrVersion);
  EXPECT_EQ(create({one}, 0x200 | 1), kKbdOk);  // the option bit is removed
  EXPECT_EQ(create(std::vector<KbdFieldDef>(129, one), 1), kKbdErrFieldCount);
  EXPECT_EQ(create(std::vector<KbdFieldDef>(255, FieldDef("A", 'L', 1)), 2),
            kKbdOk);
  EXPECT_EQ(create({FieldDef("", 'C', 5)}, 1), kKbdErrFieldName);
  EXPECT_EQ(create({FieldDef("ABCDEFGHIJK", 'C', 5)}, 1), kKbdErrFieldName);
  EXPECT_EQ(create({FieldDef("A", 'C', 0)}, 1), kKbdErrFieldSize);
  EXPECT_EQ(create({FieldDef("A", 'C', 255)}, 1), kKbdErrFieldSize);
  EXPECT_EQ(create({FieldDef("A", 'F', 10, 2)}, 1), kKbdErrFieldType);
  EXPECT_EQ(create({FieldDef("A", 'X', 10)}, 1), kKbdErrFieldType);
  EXPECT_EQ(create({FieldDef("A", 'I', 4)}, 1), kKbdErrFieldType);
  EXPECT_EQ(create({FieldDef("A", 'N', 20)}, 1), kKbdErrFieldSize);
  EXPECT_EQ(create({FieldDef("A", 'N', 20)}, 2), kKbdOk);
  EXPECT_EQ(create({FieldDef("A", 'N', 5, 4)}, 1), kKbdErrDecimals);
  EXPECT_EQ(create({FieldDef("A", 'N', 19, 16)}, 1), kKbdErrDecimals);
  EXPECT_EQ(create({FieldDef("A", 'N', 19, 16)}, 2), kKbdOk);
  EXPECT_EQ(create({FieldDef("A", 'N', 1, 0)}, 1), kKbdOk);
  EXPECT_EQ(create({FieldDef("A", 'C', 254), FieldDef("B", 'C', 254)}, 1),
            kKbdOk);
  std::vector<KbdFieldDef> wide(16, FieldDef("A", 'C', 250));
  EXPECT_EQ(create(wide, 1), kKbdErrRecordSize);  // past 4000 bytes
  EXPECT_EQ(create(wide, 6), kKbdOk);             // 8192 in dialect 6

  // A C field of 300 in dialect 6: byte 16 = 44, byte 17 = 1.
  ASSERT_EQ(create({FieldDef("WIDE", 'C', 300)}, 6), kKbdOk);
  std::string bytes = ReadWholeFile(path);
  EXPECT_EQ(static_cast<uint8_t>(bytes[32 + 16]), 44);
  EXPECT_EQ(static_cast<uint8_t>(bytes[32 + 17]), 1);
  for (uint16_t dialect : {4, 5, 6, 8}) {
    int16_t h = -1;
    ASSERT_EQ(Open(path, dialect, &h), kKbdOk) << dialect;
    KbdFieldDef got{};
    uint16_t largest = 0;
    ASSERT_EQ(kbddfields(h, &largest, &got), kKbdOk);
    EXPECT_EQ(got.length, 300);
    EXPECT_EQ(got.decimals, 0);
    kbddclose(h);
  }
  int16_t h = -1;
  EXPECT_EQ(Open(path, 1, &h), kKbdErrRecordSize);  // length 44 in dialect 1
  EXPECT_EQ(h, kKbdNoHandle);
}

TEST_F(DbfTest, OpenChecksHeaderAndDescriptors) {
  int16_t h = -1;
  RawDbf good = SmallFile(2);

  // Header sizes 32n+33 (0x0D), 32n+34 (0x0D 0x00) open; 32n+35 does not.
  RawDbf two = good;
  two.terminator = std::string("\r\0", 2);
  ASSERT_EQ(Open(Write("two.dbf", two), 1, &h), kKbdOk);
  ASSERT_EQ(kbddread(h, 1), kKbdOk);
  EXPECT_EQ(FieldText(h, 0), "REC1      ");
  kbddclose(h);
  RawDbf three = good;
  three.terminator = std::string("\r\0\0", 3);
  EXPECT_EQ(Open(Write("three.dbf", three), 1, &h), kKbdErrHeaderSize);
  EXPECT_EQ(h, kKbdNoHandle);
  EXPECT_EQ(kbdgeterror(), kKbdErrHeaderSize);  // sticky until reset

  // A 0x0D slot at the end of a multiple-of-32 header: Omnis, one field less.
  RawDbf omnis = good;
  omnis.terminator = std::string("\r") + std::string(31, '\0');
  ASSERT_EQ(Open(Write("omnis.dbf", omnis), 3, &h), kKbdOk);
  KbdDbfInfo info{};
  ASSERT_EQ(kbddinfo(h, &info), kKbdOk);
  EXPECT_EQ(info.dialect, 9);
  EXPECT_EQ(info.field_count, 3);
  kbddclose(h);

  // The MDX flag is checked in dialects 2 and 8 only.
  RawDbf mdx = good;
  mdx.mdx_flag = 2;
  std::string mdx_path = Write("mdx.dbf", mdx);
  EXPECT_EQ(Open(mdx_path, 2, &h), kKbdErrMdxFlag);
  RawDbf mdx_fox = mdx;
  EXPECT_EQ(Open(Write("mdxfox.dbf", mdx_fox), 8, &h), kKbdErrMdxFlag);
  ASSERT_EQ(Open(mdx_path, 1, &h), kKbdOk);
  kbddclose(h);
  mdx.mdx_flag = 0xFF;  // -1 as a signed byte
  EXPECT_EQ(Open(Write("mdx2.dbf", mdx), 2, &h), kKbdErrMdxFlag);

  // Version bytes per dialect.
  RawDbf v83 = good;
  v83.version = 0x83;
  std::string v83_path = Write("v83.dbf", v83);
  EXPECT_EQ(Open(v83_path, 4, &h), kKbdErrVersion);
  EXPECT_EQ(Open(v83_path, 8, &h), kKbdErrVersion);
  for (uint16_t d : {1, 2, 3, 5, 6, 7, 9}) {
    ASSERT_EQ(Open(v83_path, d, &h), kKbdOk) << d;
    kbddclose(h);
  }
  RawDbf v8b = good;
  v8b.version = 0x8B;
  std::string v8b_path = Write("v8b.dbf", v8b);
  EXPECT_EQ(Open(v8b_path, 1, &h), kKbdErrVersion);
  ASSERT_EQ(Open(v8b_path, 2, &h), kKbdOk);
  kbddclose(h);
  EXPECT_EQ(Open(v83_path, 11, &h), kKbdErrCommand);
  ASSERT_EQ(Open(v83_path, 0x800, &h), kKbdOk);  // dialect 0 is 1
  ASSERT_EQ(kbddinfo(h, &info), kKbdOk);
  EXPECT_EQ(info.dialect, 1);
  kbddclose(h);
  RawDbf vfp_small = good;  // a VFP version byte with a dBASE-sized header
  vfp_small.version = 0x30;
  EXPECT_EQ(Open(Write("vfp_small.dbf", vfp_small), 10, &h), kKbdErrVersion);

  // Descriptors: types per dialect, memo versions, numeric widths, names.
  auto with_field = [&](RawField f, uint8_t version, const char* name) {
    RawDbf d;
    d.version = version;
    d.fields = {f};
    d.records.push_back(std::string(1 + f.length, ' '));
    return Write(name, d);
  };
  EXPECT_EQ(Open(with_field({"I", 'I', 4, 0}, 0x03, "i.dbf"), 1, &h),
            kKbdErrVersion);
  EXPECT_EQ(Open(with_field({"X", 'X', 4, 0}, 0x03, "x.dbf"), 1, &h),
            kKbdErrFieldType);
  EXPECT_EQ(Open(with_field({"M", 'M', 10, 0}, 0x03, "m3.dbf"), 1, &h),
            kKbdErrVersion);
  EXPECT_EQ(Open(with_field({"M", 'M', 10, 0}, 0x03, "m3f.dbf"), 4, &h),
            kKbdErrVersion);
  ASSERT_EQ(Open(with_field({"M", 'm', 10, 0}, 0x83, "m83.dbf"), 1, &h),
            kKbdOk);
  ASSERT_EQ(kbddinfo(h, &info), kKbdOk);
  EXPECT_EQ(info.has_memo, 1);
  kbddclose(h);
  std::string n20 = with_field({"N", 'N', 20, 0}, 0x03, "n20.dbf");
  EXPECT_EQ(Open(n20, 1, &h), kKbdErrFieldSize);
  ASSERT_EQ(Open(n20, 2, &h), kKbdOk);
  kbddclose(h);
  EXPECT_EQ(
      Open(with_field({"ELEVENCHARS", 'C', 4, 0}, 0x03, "name.dbf"), 1, &h),
      kKbdErrFieldName);
  ASSERT_EQ(Open(with_field({"lower", 'c', 4, 0}, 0x03, "lower.dbf"), 1, &h),
            kKbdOk);
  int16_t number = -1;
  ASSERT_EQ(kbddfieldno(h, &number, "LoWeR"), kKbdOk);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(kbddfieldno(h, &number, "missing"), kKbdErrFieldName);
  EXPECT_EQ(number, 1);  // the field count
  kbdseterror(0);
  kbddclose(h);

  RawDbf bad_size = good;
  bad_size.record_size_adjust = 1;
  EXPECT_EQ(Open(Write("rs.dbf", bad_size), 1, &h), kKbdErrRecordSize);

  // Short header, missing file, empty name.
  WriteWholeFile(dir_.File("short.dbf"), std::string(20, '\x03'));
  EXPECT_EQ(Open(dir_.File("short.dbf"), 1, &h), kKbdErrRead);
  EXPECT_EQ(Open(dir_.File("none.dbf"), 1, &h), kKbdErrOpen);
  EXPECT_EQ(Open("", 1, &h), kKbdErrFileName);
  EXPECT_EQ(h, kKbdNoHandle);
  EXPECT_EQ(CurrentTask()->open_count, 0);  // every failed open freed its slot
}

// What real writers make and the readers read: Visual Objects ANSI tables
// (0x07, 0x87), N and F of width 20 in Visual FoxPro, G fields in FoxPro 2
// tables. The checks around each widening still refuse.
TEST_F(DbfTest, OpenAcceptsWhatRealWritersMake) {
  int16_t h = -1;
  KbdDbfInfo info{};
  RawDbf ansi = SmallFile(2);
  ansi.version = 0x07;
  std::string ansi_path = Write("ansi.dbf", ansi);
  for (uint16_t d : {1, 3, 5, 6, 7, 9}) {
    ASSERT_EQ(Open(ansi_path, d, &h), kKbdOk) << d;
    ASSERT_EQ(kbddread(h, 2), kKbdOk);
    EXPECT_EQ(FieldText(h, 0), "REC2      ");
    kbddclose(h);
  }
  for (uint16_t d : {2, 4, 8, 10}) EXPECT_LT(Open(ansi_path, d, &h), 0) << d;
  kbdseterror(0);
  RawDbf ansi_memo;
  ansi_memo.version = 0x87;
  ansi_memo.fields = {{"NOTES", 'M', 10, 0}};
  ansi_memo.records = {std::string(11, ' ')};
  ASSERT_EQ(Open(Write("ansimemo.dbf", ansi_memo), 1, &h), kKbdOk);
  ASSERT_EQ(kbddinfo(h, &info), kKbdOk);
  EXPECT_EQ(info.has_memo, 1);
  kbddclose(h);
  ansi_memo.version = 0x07;  // an M field needs the memo bit
  EXPECT_EQ(Open(Write("ansinomemo.dbf", ansi_memo), 1, &h), kKbdErrVersion);
  kbdseterror(0);

  auto vfp_number = [&](char type, uint8_t width) {
    RawDbf dbf;
    dbf.version = 0x30;
    dbf.terminator = "\r" + std::string(263, '\0');
    dbf.fields = {{"AMOUNT", type, width, 4}};
    std::string value = std::string(width - 12, ' ') + "-12345.6789";
    dbf.records = {" " + value + " "};
    dbf.records[0].resize(1 + width);
    return Write(std::string(1, type) + std::to_string(width) + ".dbf", dbf);
  };
  for (char type : {'N', 'F'}) {
    ASSERT_EQ(Open(vfp_number(type, 20), 10, &h), kKbdOk) << type;
    ASSERT_EQ(kbddread(h, 1), kKbdOk);
    double value = 0;
    ASSERT_EQ(kbddget(h, 0, &value), kKbdOk);
    EXPECT_EQ(value, -12345.6789);
    kbddclose(h);
    EXPECT_EQ(Open(vfp_number(type, 21), 10, &h), kKbdErrFieldSize) << type;
    kbdseterror(0);
  }

  RawDbf general;
  general.version = 0xF5;
  general.fields = {{"PICTURE", 'G', 10, 0}, {"NOTES", 'M', 10, 0}};
  general.records = {"          7         9"};
  std::string general_path = Write("general.dbf", general);
  ASSERT_EQ(Open(general_path, 8, &h), kKbdOk);
  ASSERT_EQ(kbddinfo(h, &info), kKbdOk);
  EXPECT_EQ(info.has_memo, 1);
  ASSERT_EQ(kbddread(h, 1), kKbdOk);
  uint32_t block = 0;
  ASSERT_EQ(kbddmemoblock(h, 0, &block), kKbdOk);
  EXPECT_EQ(block, 7u);
  kbddclose(h);
  EXPECT_EQ(Open(general_path, 4, &h), kKbdErrVersion);  // FoxPro 1 has no G
  kbdseterror(0);
  general.version = 0x03;  // G needs the FPT version byte
  EXPECT_EQ(Open(Write("general3.dbf", general), 8, &h), kKbdErrVersion);
  kbdseterror(0);
}

TEST_F(DbfTest, FileSizeWarning) {
  int16_t h = -1;
  RawDbf dbf = SmallFile(3);
  ASSERT_EQ(Open(Write("exact.dbf",
                       [&] {
                         RawDbf d = dbf;
                         d.end_marker = false;
                         return d;
                       }()),
                 1, &h),
            kKbdOk);
  kbddclose(h);
  ASSERT_EQ(Open(Write("marker.dbf", dbf), 1, &h), kKbdOk);
  kbddclose(h);
  RawDbf dbxl = dbf;  // one record's worth of 0x1A (dialect 7)
  dbxl.end_marker = false;
  dbxl.records.push_back(std::string(dbf.RecordSize(), '\x1A'));
  dbxl.record_count_adjust = -1;
  ASSERT_EQ(Open(Write("dbxl.dbf", dbxl), 1, &h), kKbdOk);
  kbddclose(h);
  RawDbf lying = dbf;
  lying.record_count_adjust = 2;  // the header promises 5 records
  ASSERT_EQ(Open(Write("lying.dbf", lying), 1, &h), kKbdBadFileSize);
  ASSERT_NE(h, kKbdNoHandle);  // the file stays open
  EXPECT_EQ(kbddread(h, 3), kKbdOk);
  EXPECT_EQ(kbddread(h, 4), kKbdErrRead);  // short read
  kbdseterror(0);
  kbddclose(h);
}

TEST_F(DbfTest, HandleChecksAndStickyErrors) {
  uint32_t count = 0;
  EXPECT_EQ(kbddreccount(-1, &count), kKbdErrHandle);
  kbdseterror(0);
  EXPECT_EQ(kbddreccount(1019, &count), kKbdErrHandle);
  kbdseterror(0);
  int16_t h = -1;
  ASSERT_EQ(Open(Write("s.dbf", SmallFile(2)), 1, &h), kKbdOk);
  EXPECT_EQ(CheckHandle(h, kKbdKindNdx), nullptr);  // not an index handle
  EXPECT_EQ(kbdgeterror(), kKbdErrHandle);
  kbdseterror(0);
  EXPECT_EQ(HandleKind(h), kKbdKindDbf);
  EXPECT_EQ(kbddread(h, 3), kKbdErrSeek);
  EXPECT_EQ(kbddread(h, 1), kKbdErrSeek);  // sticky
  kbdseterror(0);
  EXPECT_EQ(kbddread(h, 0), kKbdErrSeek);
  kbdseterror(0);
  ASSERT_EQ(kbddread(h, 2), kKbdOk);
  uint32_t recno = 0;
  ASSERT_EQ(kbddrecno(h, &recno), kKbdOk);
  EXPECT_EQ(recno, 2u);
  EXPECT_EQ(kbddreccount(h, nullptr), kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(kbddclose(h), kKbdOk);
  EXPECT_EQ(kbddclose(h), kKbdErrHandle);
}

TEST_F(DbfTest, AppendRewriteDeleteRecall) {
  std::vector<KbdFieldDef> defs = {FieldDef("NAME", 'C', 10),
                                   FieldDef("QTY", 'N', 5, 2)};
  std::string path = dir_.File("a.dbf");
  ASSERT_EQ(kbddcreate(path.c_str(), 2, defs.data(), 1), kKbdOk);
  // Make the header date old, to see close stamp today's date.
  std::string bytes = ReadWholeFile(path);
  bytes[1] = 90;
  WriteWholeFile(path, bytes);

  int16_t h = -1;
  ASSERT_EQ(Open(path, 1 | qx::testing::ModeForTestReads(), &h), kKbdOk);
  for (int i = 1; i <= 4; ++i) {
    std::string name = "ITEM" + std::to_string(i);
    double qty = i * 1.25;
    ASSERT_EQ(kbddput(h, 0, name.c_str()), kKbdOk);
    ASSERT_EQ(kbddput(h, 1, &qty), kKbdOk);
    uint32_t recno = 0;
    ASSERT_EQ(kbddwrite(h, &recno, kKbdWriteAppend), kKbdOk);
    EXPECT_EQ(recno, static_cast<uint32_t>(i));
  }
  bytes = ReadWholeFile(path);
  const size_t hs = 32 * 2 + 33, rs = 16;
  ASSERT_EQ(bytes.size(), hs + 4 * rs + 1);
  EXPECT_EQ(bytes.back(), '\x1A');
  EXPECT_EQ(GetLe32(reinterpret_cast<const uint8_t*>(bytes.data()) + 4), 4u);
  EXPECT_EQ(bytes.substr(hs + 3 * rs, rs), " ITEM4      5.00");
  EXPECT_EQ(bytes[1], 90);  // the date waits for close

  // Rewrite record 2 through the record buffer.
  uint8_t* buffer = nullptr;
  uint16_t record_size = 0;
  int16_t fields = 0;
  ASSERT_EQ(kbddrecinfo(h, &buffer, &record_size, &fields), kKbdOk);
  EXPECT_EQ(record_size, rs);
  EXPECT_EQ(fields, 2);
  ASSERT_EQ(kbddread(h, 2), kKbdOk);
  std::memcpy(buffer + 1, "CHANGED", 7);
  uint32_t recno = 2;
  ASSERT_EQ(kbddwrite(h, &recno, kKbdWriteRewrite), kKbdOk);
  recno = 0;
  EXPECT_EQ(kbddwrite(h, &recno, kKbdWriteRewrite), kKbdErrSeek);
  kbdseterror(0);
  recno = 9;
  EXPECT_EQ(kbddwrite(h, &recno, kKbdWriteRewrite), kKbdErrSeek);
  kbdseterror(0);
  EXPECT_EQ(kbddwrite(h, &recno, 1), kKbdErrCommand);
  kbdseterror(0);
  EXPECT_EQ(kbddwrite(h, nullptr, kKbdWriteAppend), kKbdErrNullPointer);
  kbdseterror(0);

  // Delete re-reads the record: changes in the buffer are lost.
  ASSERT_EQ(kbddread(h, 3), kKbdOk);
  ASSERT_EQ(kbddput(h, 0, "UNSAVED"), kKbdOk);
  ASSERT_EQ(kbdddelete(h, 3), kKbdOk);
  EXPECT_EQ(kbddisdeleted(h), 1);
  EXPECT_EQ(FieldText(h, 0), "ITEM3     ");
  EXPECT_EQ(kbddread(h, 3), kKbdDeletedRecord);
  EXPECT_EQ(kbddread(h, 2), kKbdOk);  // a warning does not block
  EXPECT_EQ(FieldText(h, 0), "CHANGED   ");
  EXPECT_EQ(kbddisdeleted(h), 0);
  EXPECT_EQ(kbdddelete(h, 5), kKbdErrSeek);
  kbdseterror(0);
  ASSERT_EQ(kbddrecall(h, 3), kKbdOk);
  EXPECT_EQ(kbddread(h, 3), kKbdOk);
  // A rewrite marks the record active.
  ASSERT_EQ(kbdddelete(h, 4), kKbdOk);
  recno = 4;
  ASSERT_EQ(kbddwrite(h, &recno, kKbdWriteRewrite), kKbdOk);
  EXPECT_EQ(kbddread(h, 4), kKbdOk);

  ASSERT_EQ(kbddclose(h), kKbdOk);
  bytes = ReadWholeFile(path);
  platform::LocalDate today = platform::Today();
  EXPECT_EQ(static_cast<uint8_t>(bytes[1]), (today.year - 1900) & 0xFF);
  EXPECT_EQ(bytes[2], today.month);
  EXPECT_EQ(bytes[3], today.day);

  // A clean close leaves the header alone.
  bytes[1] = 90;
  WriteWholeFile(path, bytes);
  ASSERT_EQ(Open(path, 1, &h), kKbdOk);
  ASSERT_EQ(kbddread(h, 1), kKbdOk);
  ASSERT_EQ(kbddclose(h), kKbdOk);
  EXPECT_EQ(ReadWholeFile(path)[1], 90);
}

TEST_F(DbfTest, DbxlAppendWritesARecordOfMarkers) {
  KbdFieldDef def = FieldDef("A", 'C', 3);
  std::string path = dir_.File("q.dbf");
  ASSERT_EQ(kbddcreate(path.c_str(), 1, &def, 7), kKbdOk);
  int16_t h = -1;
  ASSERT_EQ(Open(path, 7, &h), kKbdOk);
  uint32_t recno = 0;
  ASSERT_EQ(kbddput(h, 0, "abc"), kKbdOk);
  ASSERT_EQ(kbddwrite(h, &recno, kKbdWriteAppend), kKbdOk);
  ASSERT_EQ(kbddclose(h), kKbdOk);
  std::string bytes = ReadWholeFile(path);
  EXPECT_EQ(bytes.substr(65), " abc\x1A\x1A\x1A\x1A");
  ASSERT_EQ(Open(path, 7, &h), kKbdOk);  // one record more than the count
  kbddclose(h);
}

TEST_F(DbfTest, ReadOnlyFilesRefuseWrites) {
  std::string path = Write("ro.dbf", SmallFile(2));
  int16_t h = -1;
  ASSERT_EQ(Open(path, 0x100 | 1, &h), kKbdOk);
  ASSERT_EQ(kbddread(h, 1), kKbdOk);
  uint32_t recno = 1;
  EXPECT_EQ(kbddwrite(h, &recno, kKbdWriteRewrite), kKbdErrReadOnly);
  kbdseterror(0);
  EXPECT_EQ(kbddwrite(h, &recno, kKbdWriteAppend), kKbdErrReadOnly);
  kbdseterror(0);
  EXPECT_EQ(kbdddelete(h, 1), kKbdErrReadOnly);
  kbdseterror(0);
  EXPECT_EQ(kbddpack(&h), kKbdErrReadOnly);
  kbdseterror(0);
  ASSERT_EQ(kbddclose(h), kKbdOk);
  EXPECT_EQ(ReadWholeFile(path), SmallFile(2).Bytes());
}

TEST_F(DbfTest, RecordCountGrowsThroughAnotherHandle) {
  std::string path = Write("g.dbf", SmallFile(2));
  int16_t a = -1, b = -1;
  ASSERT_EQ(Open(path, 0x400 | 1, &a), kKbdOk);
  ASSERT_EQ(Open(path, 0x400 | 1, &b), kKbdOk);
  ASSERT_EQ(kbddread(b, 1), kKbdOk);
  uint32_t recno = 0;
  ASSERT_EQ(kbddwrite(b, &recno, kKbdWriteAppend), kKbdOk);
  EXPECT_EQ(recno, 3u);
  uint32_t count = 0;
  ASSERT_EQ(kbddreccount(a, &count), kKbdOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(kbddread(a, 3), kKbdOk);  // above the count: read again
  ASSERT_EQ(kbddreccount(a, &count), kKbdOk);
  EXPECT_EQ(count, 3u);
  kbddclose(a);
  kbddclose(b);
}

TEST_F(DbfTest, PackKeepsLiveRecords) {
  std::string path = Write("p.dbf", SmallFile(5));
  // An old backup and an existing work-file name must not get in the way.
  WriteWholeFile(dir_.File("p.BAK"), "old");
  WriteWholeFile(dir_.File("0.DBF"), "taken");
  int16_t h = -1;
  ASSERT_EQ(Open(path, 1, &h), kKbdOk);
  ASSERT_EQ(kbdddelete(h, 2), kKbdOk);
  ASSERT_EQ(kbdddelete(h, 4), kKbdOk);
  ASSERT_EQ(kbddpack(&h), kKbdOk);
  ASSERT_NE(h, kKbdNoHandle);
  EXPECT_EQ(CurrentTask()->open_count, 1);
  uint32_t count = 0;
  ASSERT_EQ(kbddreccount(h, &count), kKbdOk);
  ASSERT_EQ(count, 3u);
  const char* names[] = {"REC1      ", "REC3      ", "REC5      "};
  for (uint32_t i = 1; i <= 3; ++i) {
    ASSERT_EQ(kbddread(h, i), kKbdOk);
    EXPECT_EQ(FieldText(h, 0), names[i - 1]);
  }
  KbdDbfInfo info{};
  ASSERT_EQ(kbddinfo(h, &info), kKbdOk);
  EXPECT_EQ(info.dialect, 1);
  ASSERT_EQ(kbddclose(h), kKbdOk);

  std::string bytes = ReadWholeFile(path);
  EXPECT_EQ(bytes.size(), 129u + 3 * 17);  // no 0x1A at the end
  platform::LocalDate today = platform::Today();
  EXPECT_EQ(bytes[3], today.day);  // a fresh date
  // Pack makes no backup and leaves another program's alone; the work name
  // that was taken stays as it was.
  EXPECT_EQ(ReadWholeFile(dir_.File("p.BAK")), "old");
  EXPECT_EQ(ReadWholeFile(dir_.File("0.DBF")), "taken");
  EXPECT_FALSE(platform::FileExists(dir_.File("1.DBF").c_str()));

  // A pack without deleted records keeps them all; the reopened handle is
  // shared, so another handle can open the file.
  ASSERT_EQ(Open(path, 1, &h), kKbdOk);
  ASSERT_EQ(kbddpack(&h), kKbdOk);
  ASSERT_EQ(kbddreccount(h, &count), kKbdOk);
  EXPECT_EQ(count, 3u);
  int16_t other = -1;
  ASSERT_EQ(Open(path, 0x400 | 1, &other), kKbdOk);
  kbddclose(other);
  kbddclose(h);
  EXPECT_EQ(ReadWholeFile(path).size(), 129u + 3 * 17);
  kbdseterror(0);
  EXPECT_EQ(kbddpack(nullptr), kKbdErrNullPointer);
}

TEST_F(DbfTest, SyncSwitch) {
  EXPECT_EQ(kbdsetsync(0), 1);
  EXPECT_EQ(kbdsetsync(0), 0);
  std::string path = Write("y.dbf", SmallFile(1));
  int16_t h = -1;
  ASSERT_EQ(Open(path, 1, &h), kKbdOk);
  ASSERT_EQ(kbddread(h, 1), kKbdOk);
  uint32_t recno = 0;
  ASSERT_EQ(kbddwrite(h, &recno, kKbdWriteAppend), kKbdOk);
  ASSERT_EQ(kbddlockrec(h, 0, kKbdLockRecUnlock), kKbdOk);  // flushes
  ASSERT_EQ(kbddwrite(h, &recno, kKbdWriteAppend), kKbdOk);
  ASSERT_EQ(kbddclose(h), kKbdOk);
  EXPECT_EQ(ReadWholeFile(path).size(), 129u + 3 * 17 + 1);
  EXPECT_EQ(kbdsetsync(1), 0);
}

TEST_F(DbfTest, BlockReader) {
  EXPECT_EQ(RecordsPerBlock(17), 30u);  // 8 * 17 < 512: as many as fit
  EXPECT_EQ(RecordsPerBlock(100), 8u);
  EXPECT_EQ(RecordsPerBlock(3000), 5u);  // 8 * 3000 > 16384
  EXPECT_EQ(RecordsPerBlock(20000), 1u);

  RawDbf dbf = SmallFile(70);
  dbf.records[31][0] = '*';  // record 32 deleted
  int16_t h = -1;
  ASSERT_EQ(Open(Write("b.dbf", dbf), 1, &h), kKbdOk);
  EXPECT_EQ(ReadRecordThroughBlock(h, 1), kKbdErrCommand);  // not prepared
  kbdseterror(0);
  ASSERT_EQ(PrepareBlockReader(h), kKbdOk);
  for (uint32_t recno = 1; recno <= 70; ++recno) {
    int16_t status = ReadRecordThroughBlock(h, recno);
    ASSERT_EQ(status, recno == 32 ? kKbdDeletedRecord : kKbdOk);
    char expected[11];
    std::snprintf(expected, sizeof expected, "REC%-7u", recno);
    ASSERT_EQ(FieldText(h, 0), expected);
  }
  uint32_t current = 0;
  ASSERT_EQ(kbddrecno(h, &current), kKbdOk);
  EXPECT_EQ(current, 70u);
  const uint8_t* bytes = nullptr;
  ASSERT_EQ(PeekRecordThroughBlock(h, 5, &bytes), kKbdOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 8), " REC5   ");
  ASSERT_EQ(kbddrecno(h, &current), kKbdOk);
  EXPECT_EQ(current, 70u);  // a peek leaves the record buffer alone
  EXPECT_EQ(PeekRecordThroughBlock(h, 71, &bytes), kKbdErrSeek);
  kbdseterror(0);
  ReleaseBlockReader(h);
  ReleaseBlockReader(-1);  // ignored
  EXPECT_EQ(kbdgeterror(), kKbdOk);
  kbddclose(h);
}

}  // namespace
}  // namespace qx::engine::testing
