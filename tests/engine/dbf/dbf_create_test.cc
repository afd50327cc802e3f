// Visual FoxPro tables made by kbddcreate: the header and descriptors of
// real Visual FoxPro tables rebuilt from their field definitions, the
// definition checks, and the values of every type read back through our
// own reader, null bits included.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/dbf/dbf_format.h"
#include "qx/engine.h"
#include "tests/engine/dbf/dbf_test_util.h"

namespace qx::engine::testing {
namespace {

std::string Hex(size_t offset) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%zX", offset);
  return text;
}

// The first offset in [from, to) where a and b differ, or npos.
size_t FirstDifference(const std::string& a, const std::string& b, size_t from,
                       size_t to) {
  for (size_t i = from; i < to; ++i)
    if (i >= a.size() || i >= b.size() || a[i] != b[i]) return i;
  return std::string::npos;
}

[[maybe_unused]] constexpr uint16_t kVfpReadOnly =
    static_cast<uint16_t>(kKbdVisualFoxpro) | kKbdModeReadOnly;

KbdFieldDef VfpDef(const char* name, char type, uint16_t length,
                   uint16_t decimals = 0, uint16_t flags = 0) {
  KbdFieldDef d = FieldDef(name, type, length, decimals);
  d.flags = flags;
  return d;
}

constexpr uint16_t kNull = kKbdFieldNullable;
constexpr uint16_t kBinary = kKbdFieldBinary;
constexpr uint16_t kAuto = kKbdFieldAutoIncrement;

class VfpCreateTest : public DbfTest {
 protected:
  int16_t Create(const std::string& path,
                 const std::vector<KbdFieldDef>& defs) {
    kbdseterror(0);
    return kbddcreate(path.c_str(), static_cast<int16_t>(defs.size()),
                      defs.data(), kKbdVisualFoxpro);
  }
  // Creates t.dbf from defs and answers its bytes (empty on failure).
  std::string Made(const std::vector<KbdFieldDef>& defs) {
    std::string path = dir_.File("t.dbf");
    if (Create(path, defs) != kKbdOk) return "";
    return qx::testing::ReadWholeFile(path);
  }
};

const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

// Descriptor i of a file's bytes.
std::string Descriptor(const std::string& file, size_t i) {
  return file.substr(32 + 32 * i, 32);
}

// Real tables written by Visual FoxPro, rebuilt from the definitions our
// reader gives for them: the same header and descriptor bytes, but for
// what belongs to the table rather than to its structure (the record
// count and date, the structural CDX and database bits, the code page
// mark, the database backlink in the area).
TEST_F(VfpCreateTest, RebuildsTheHeadersOfRealTables) {
  const char* tables[] = {
      "xsharp-northwind/products.dbf",      // 0x31, nullable I Y C
      "xsharp-northwind/orders.dbf",        // two bytes of null flags
      "xsharp-northwind/categories.dbf",    // nullable M and G
      "xsharp-northwind/employees.dbf",     // binary nullable M
      "xsharp-northwind/orderdetails.dbf",  // 0x30, I Y N
      "go-dbase-table/TEST.DBF",            // 0x32: V Q W B Y T F, autoinc
      "infused-dbf/dbase_32.dbf",           // binary V
      "dbffile/vfp9_30.dbf",                // B with decimals, T
      "go-dbase-expenses/EXPENSES.DBC",     // binary M, a database
      "infused-foxprodb/contacts.dbf",      // C D I M T
      "dbd-xbase/afox5.dbf",                // plain memo table
  };
  for (const char* table : tables) {
    SCOPED_TRACE(table);
    std::string real_path =
        qx::testing::SharedDir() + "/fixtures/real/" + table;
    std::string real = qx::testing::ReadWholeFile(real_path);
    ASSERT_GT(real.size(), 32u);
    int16_t h = -1;
    ASSERT_GE(Open(real_path, kVfpReadOnly, &h), 0);
    KbdDbfInfo info{};
    ASSERT_EQ(kbddinfo(h, &info), kKbdOk);
    std::vector<KbdFieldDef> defs(static_cast<size_t>(info.field_count));
    uint16_t largest = 0;
    ASSERT_EQ(kbddfields(h, &largest, defs.data()), kKbdOk);
    kbddclose(h);
    // With the _NullFlags column as read, and without it (made by create).
    std::vector<KbdFieldDef> without;
    for (const KbdFieldDef& d : defs)
      if ((d.flags & kKbdFieldSystem) == 0) without.push_back(d);
    for (const auto* given : {&defs, &without}) {
      std::string path = dir_.File("rebuilt.dbf");
      ASSERT_EQ(Create(path, *given), kKbdOk);
      std::string ours = qx::testing::ReadWholeFile(path);
      uint16_t header_size =
          GetLe16(reinterpret_cast<const uint8_t*>(real.data()) + 8);
      ASSERT_EQ(ours.size(), header_size);  // no end-of-file marker
      EXPECT_EQ(ours[0], real[0]) << "version";
      size_t at = FirstDifference(ours, real, 8, 28);  // sizes, reserved
      EXPECT_EQ(at, std::string::npos) << "header differs at " << Hex(at);
      EXPECT_EQ(ours[28], real[28] & ~(kDbfVfpTableCdx | kDbfVfpTableDatabase));
      EXPECT_EQ(ours[29], 0);  // no code page mark
      size_t area = header_size - kDbfVfpAreaSize;
      at = FirstDifference(ours, real, 32, area);  // descriptors, 0x0D
      EXPECT_EQ(at, std::string::npos) << "descriptors differ at " << Hex(at);
      EXPECT_EQ(ours.substr(area), std::string(kDbfVfpAreaSize, '\0'));
    }
  }
}

// The version byte follows the fields; the _NullFlags column holds one bit
// per V or Q field and per nullable field; memo fields set the table's
// memo flag; autoincrement fields keep their counter.
TEST_F(VfpCreateTest, VersionTableFlagsAndNullFlagsColumn) {
  std::string t = Made({VfpDef("NAME", 'c', 5)});
  ASSERT_EQ(t.size(), 32u + 32 + 1 + 263);
  EXPECT_EQ(Bytes(t)[0], 0x30);
  EXPECT_EQ(GetLe16(Bytes(t) + 8), t.size());
  EXPECT_EQ(GetLe16(Bytes(t) + 10), 6);
  EXPECT_EQ(t[28], 0);
  EXPECT_EQ(t[64], '\r');
  EXPECT_EQ(Descriptor(t, 0),
            std::string("NAME\0\0\0\0\0\0\0C\x01\0\0\0\x05", 17) +
                std::string(15, '\0'));

  t = Made({VfpDef("ID", 'I', 4, 0, kAuto), VfpDef("N", 'N', 5, 2)});
  EXPECT_EQ(Bytes(t)[0], 0x31);
  std::string id = Descriptor(t, 0);
  EXPECT_EQ(Bytes(id)[18], 0x0C);          // autoincrement, binary
  EXPECT_EQ(GetLe32(Bytes(id) + 19), 1u);  // next value 1,
  EXPECT_EQ(Bytes(id)[23], 1);             // step 1
  EXPECT_EQ(GetLe32(Bytes(Descriptor(t, 1)) + 12), 5u);  // displacement
  KbdFieldDef counter = VfpDef("ID", 'I', 4, 0, kAuto);
  counter.next_value = 11078;
  counter.step = 5;
  t = Made({VfpDef("V", 'V', 5), counter});
  EXPECT_EQ(Bytes(t)[0], 0x32);  // V wins over autoincrement
  id = Descriptor(t, 1);
  EXPECT_EQ(GetLe32(Bytes(id) + 19), 11078u);
  EXPECT_EQ(Bytes(id)[23], 5);
  int16_t h = -1;
  ASSERT_EQ(Open(dir_.File("t.dbf"), kKbdVisualFoxpro, &h), kKbdOk);
  std::vector<KbdFieldDef> got(3);
  uint16_t largest = 0;
  ASSERT_EQ(kbddfields(h, &largest, got.data()), kKbdOk);
  EXPECT_EQ(got[1].next_value, 11078u);
  EXPECT_EQ(got[1].step, 5);
  EXPECT_STREQ(got[2].name, "_NULLFLAGS");
  EXPECT_EQ(got[2].flags, kKbdFieldSystem | kKbdFieldBinary);
  EXPECT_EQ(got[2].length, 1);
  kbddclose(h);

  // Bits: 8 fit one byte, 9 take two; a nullable V takes two bits.
  std::vector<KbdFieldDef> eight(7, VfpDef("L", 'L', 1, 0, kNull));
  eight.push_back(VfpDef("V", 'V', 3));
  t = Made(eight);
  std::string column = Descriptor(t, 8);
  EXPECT_EQ(column.substr(0, 12), std::string("_NullFlags\0"
                                              "0",
                                              12));
  EXPECT_EQ(Bytes(column)[16], 1);
  EXPECT_EQ(Bytes(column)[18], 0x05);
  EXPECT_EQ(GetLe32(Bytes(column) + 12), 1u + 7 + 3);
  eight.back().flags = kNull;
  t = Made(eight);
  EXPECT_EQ(Bytes(Descriptor(t, 8))[16], 2);
  EXPECT_EQ(GetLe16(Bytes(t) + 10), 1 + 7 + 3 + 2);

  // Binary types always carry 0x04; C, M, V and G only when asked.
  t = Made({VfpDef("A", 'B', 8, 2), VfpDef("B", 'Y', 8), VfpDef("C", 'T', 8),
            VfpDef("D", 'W', 4), VfpDef("E", 'Q', 4), VfpDef("F", 'M', 4),
            VfpDef("G", 'G', 4), VfpDef("H", 'C', 3, 0, kBinary | kNull),
            VfpDef("I", 'M', 0, 0, kBinary)});
  const uint8_t flags[] = {0x04, 0x04, 0x04, 0x04, 0x04,
                           0x00, 0x00, 0x06, 0x04};
  const uint8_t lengths[] = {8, 8, 8, 4, 4, 4, 4, 3, 4};
  for (size_t i = 0; i < 9; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Bytes(Descriptor(t, i))[18], flags[i]);
    EXPECT_EQ(Bytes(Descriptor(t, i))[16], lengths[i]);
  }
  EXPECT_EQ(Bytes(Descriptor(t, 0))[17], 2);  // B keeps its decimals
  EXPECT_EQ(Bytes(Descriptor(t, 1))[17], 4);  // Y always 4
  EXPECT_EQ(t[28], 0x02);                     // memo fields: the memo flag
  EXPECT_EQ(Bytes(t)[0], 0x32);               // Q
}

TEST_F(VfpCreateTest, ChecksDefinitions) {
  std::string path = dir_.File("c.dbf");
  auto create = [&](std::vector<KbdFieldDef> defs) {
    return Create(path, defs);
  };
  EXPECT_EQ(create({VfpDef("A", 'C', 254)}), kKbdOk);
  EXPECT_EQ(create({VfpDef("A", 'C', 255)}), kKbdErrFieldSize);
  EXPECT_EQ(create({VfpDef("A", 'V', 0)}), kKbdErrFieldSize);
  EXPECT_EQ(create({VfpDef("A", 'Q', 255)}), kKbdErrFieldSize);
  EXPECT_EQ(create({VfpDef("A", 'N', 20, 18)}), kKbdOk);
  EXPECT_EQ(create({VfpDef("A", 'F', 21)}), kKbdErrFieldSize);
  EXPECT_EQ(create({VfpDef("A", 'B', 8, 18)}), kKbdOk);
  EXPECT_EQ(create({VfpDef("A", 'B', 8, 19)}), kKbdErrDecimals);
  EXPECT_EQ(create({VfpDef("A", 'P', 4)}), kKbdErrFieldType);
  EXPECT_EQ(create({VfpDef("A", 'X', 4)}), kKbdErrFieldType);
  // Flags a type cannot have, and autoincrement rules.
  EXPECT_EQ(create({VfpDef("A", 'N', 5, 0, kBinary)}), kKbdErrFieldType);
  EXPECT_EQ(create({VfpDef("A", 'C', 5, 0, kAuto)}), kKbdErrFieldType);
  EXPECT_EQ(create({VfpDef("A", 'C', 5, 0, 0x10)}), kKbdErrFieldType);
  EXPECT_EQ(create({VfpDef("A", 'I', 4, 0, kAuto | kNull)}), kKbdErrFieldType);
  KbdFieldDef step = VfpDef("A", 'I', 4, 0, kAuto);
  step.step = 256;
  EXPECT_EQ(create({step}), kKbdErrFieldType);
  // The _NullFlags column: one, long enough, as a system column only.
  KbdFieldDef column = VfpDef("_nullflags", '0', 1, 0, kKbdFieldSystem);
  EXPECT_EQ(create({VfpDef("A", 'C', 5, 0, kNull), column}), kKbdOk);
  EXPECT_EQ(create({VfpDef("A", 'C', 5, 0, kNull), column, column}),
            kKbdErrFieldName);
  std::vector<KbdFieldDef> nine(9, VfpDef("L", 'L', 1, 0, kNull));
  nine.push_back(column);
  EXPECT_EQ(create(nine), kKbdErrFieldSize);
  EXPECT_EQ(create({VfpDef("OTHER", '0', 1, 0, kKbdFieldSystem)}),
            kKbdErrFieldName);
  EXPECT_EQ(create({VfpDef("_NULLFLAGS", 'C', 1, 0, kKbdFieldSystem)}),
            kKbdErrFieldType);
  // 255 fields at most, the added column included.
  EXPECT_EQ(create(std::vector<KbdFieldDef>(255, VfpDef("L", 'L', 1))), kKbdOk);
  EXPECT_EQ(create(std::vector<KbdFieldDef>(256, VfpDef("L", 'L', 1))),
            kKbdErrFieldCount);
  std::vector<KbdFieldDef> full(255, VfpDef("L", 'L', 1));
  full.back().flags = kNull;
  EXPECT_EQ(create(full), kKbdErrFieldCount);
  EXPECT_EQ(create(std::vector<KbdFieldDef>(255, VfpDef("C", 'C', 254))),
            kKbdOk);
}

// Appends give autoincrement fields their counters' values, through
// every handle of a shared table; a pack keeps the numbers, the counter
// and everything else of a real table's header.
TEST_F(VfpCreateTest, AutoIncrementOnAppendAndPack) {
  std::string real = qx::testing::ReadWholeFile(
      qx::testing::SharedDir() +
      "/fixtures/real/xsharp-northwind/products.dbf");
  ASSERT_FALSE(real.empty());
  std::string path = dir_.File("products.dbf");
  qx::testing::WriteWholeFile(path, real);
  constexpr uint16_t kShared =
      static_cast<uint16_t>(kKbdVisualFoxpro) | kKbdModeShared;
  int16_t a = -1, b = -1;
  ASSERT_EQ(Open(path, kShared, &a), kKbdOk);
  ASSERT_EQ(Open(path, kShared, &b), kKbdOk);
  int32_t id = -1;
  uint32_t recno = 0;
  for (int16_t h : {a, b, a}) {
    ASSERT_EQ(kbddblankrec(h), kKbdOk);
    int32_t asked = 5;  // not what an autoincrement field stores
    ASSERT_EQ(kbddput(h, 0, &asked), kKbdOk);
    ASSERT_EQ(kbddput(h, 1, "Added"), kKbdOk);
    ASSERT_EQ(kbddwrite(h, &recno, kKbdWriteAppend), kKbdOk);
    ASSERT_EQ(kbddget(h, 0, &id), kKbdOk);  // the buffer holds the number
  }
  EXPECT_EQ(recno, 80u);
  EXPECT_EQ(id, 80);  // 78, 79, 80: the counter was 78
  std::vector<int32_t> ids;
  for (uint32_t r = 78; r <= 80; ++r) {
    ASSERT_EQ(kbddread(b, r), kKbdOk);
    ASSERT_EQ(kbddget(b, 0, &id), kKbdOk);
    ids.push_back(id);
  }
  EXPECT_EQ(ids, (std::vector<int32_t>{78, 79, 80}));
  ASSERT_EQ(kbddclose(b), kKbdOk);

  ASSERT_EQ(kbdddelete(a, 1), kKbdOk);
  ASSERT_EQ(kbddpack(&a), kKbdOk);
  uint32_t count = 0;
  ASSERT_EQ(kbddreccount(a, &count), kKbdOk);
  EXPECT_EQ(count, 79u);
  ASSERT_EQ(kbddread(a, 1), kKbdOk);
  ASSERT_EQ(kbddget(a, 0, &id), kKbdOk);
  EXPECT_EQ(id, 2);  // not renumbered
  ASSERT_EQ(kbddread(a, 79), kKbdOk);
  ASSERT_EQ(kbddget(a, 0, &id), kKbdOk);
  EXPECT_EQ(id, 80);
  ASSERT_EQ(kbddclose(a), kKbdOk);
  std::string packed = qx::testing::ReadWholeFile(path);
  size_t header_size = GetLe16(Bytes(real) + 8);
  EXPECT_EQ(packed[0], real[0]);
  EXPECT_EQ(GetLe32(Bytes(packed) + 4), 79u);
  std::string counter_now = std::string("\x51\0\0\0", 4);  // 81
  std::string expected = real.substr(0, header_size);
  expected.replace(32 + 19, 4, counter_now);
  size_t at = FirstDifference(packed, expected, 8, header_size);
  EXPECT_EQ(at, std::string::npos) << "header differs at " << Hex(at);
  EXPECT_EQ(packed.substr(header_size - 263, 13), "northwind.dbc");

  // A table of ours: the counter as defined, by its step.
  KbdFieldDef counter = VfpDef("ID", 'I', 4, 0, kAuto);
  counter.next_value = 100;
  counter.step = 5;
  ASSERT_EQ(Create(path, {VfpDef("NAME", 'C', 4), counter}), kKbdOk);
  ASSERT_EQ(Open(path, kKbdVisualFoxpro, &a), kKbdOk);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(kbddblankrec(a), kKbdOk);
    ASSERT_EQ(kbddwrite(a, &recno, kKbdWriteAppend), kKbdOk);
  }
  ASSERT_EQ(kbddget(a, 1, &id), kKbdOk);
  EXPECT_EQ(id, 105);
  ASSERT_EQ(kbddclose(a), kKbdOk);
  EXPECT_EQ(GetLe32(Bytes(qx::testing::ReadWholeFile(path)) + 64 + 19), 110u);
}

}  // namespace
}  // namespace qx::engine::testing

namespace qx::engine::testing {
namespace {

// The production index mark: bit 0x01 of byte 28, set and cleared without
// touching the other bits, in the families that have one.
TEST_F(VfpCreateTest, ProductionIndexMark) {
  std::string path = dir_.File("t.dbf");
  ASSERT_EQ(Create(path, {VfpDef("NAME", 'C', 5), VfpDef("NOTE", 'M', 4)}),
            kKbdOk);
  int16_t h = -1;
  ASSERT_GE(kbddopenx(&h, path.c_str(),
                      kKbdVisualFoxpro | qx::testing::ModeForTestReads()),
            0);
  EXPECT_EQ(kbddsetindexflag(h, 1), kKbdOk);
  EXPECT_EQ(qx::testing::ReadWholeFile(path)[28], 0x03);  // memo kept
  EXPECT_EQ(kbddsetindexflag(h, 0), kKbdOk);
  EXPECT_EQ(qx::testing::ReadWholeFile(path)[28], 0x02);
  kbddclose(h);
  ASSERT_GE(kbddopenx(&h, path.c_str(), kVfpReadOnly), 0);
  EXPECT_EQ(kbddsetindexflag(h, 1), kKbdErrReadOnly);
  kbddclose(h);
  kbdseterror(0);

  std::vector<KbdFieldDef> defs = {FieldDef("NAME", 'C', 5)};
  path = dir_.File("d4.dbf");
  ASSERT_EQ(kbddcreate(path.c_str(), 1, defs.data(), kKbdDbase4), kKbdOk);
  ASSERT_GE(kbddopenx(&h, path.c_str(), kKbdDbase4), 0);
  EXPECT_EQ(kbddsetindexflag(h, 1), kKbdOk);
  kbddclose(h);
  EXPECT_EQ(qx::testing::ReadWholeFile(path)[28], 0x01);
  ASSERT_GE(kbddopenx(&h, path.c_str(), kKbdDbase4), 0) << "the flag reads";
  kbddclose(h);

  path = dir_.File("d3.dbf");
  ASSERT_EQ(kbddcreate(path.c_str(), 1, defs.data(), kKbdDbase3), kKbdOk);
  ASSERT_GE(kbddopenx(&h, path.c_str(), kKbdDbase3), 0);
  EXPECT_EQ(kbddsetindexflag(h, 1), kKbdErrCommand);
  kbdseterror(0);
  EXPECT_EQ(kbddclose(h), kKbdOk);
  EXPECT_EQ(qx::testing::ReadWholeFile(path)[28], 0);
}

}  // namespace
}  // namespace qx::engine::testing
