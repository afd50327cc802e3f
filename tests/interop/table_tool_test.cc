// qxdb on tables end to end: memo files of every layout made by create
// (a dBASE IV memo for a long table name included) hold values far past
// 64 KiB that dump reads back; dump goes on past records and values it
// cannot read, marks them and fails at the end.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "host/qxdb/cli.h"
#include "host/qxdb/json.h"
#include "qx/engine.h"
#include "tests/interop/qxdb_run.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

std::vector<JsonValue> Records(const std::string& text) {
  std::vector<JsonValue> records;
  std::istringstream in(text);
  std::string line, error;
  while (std::getline(in, line)) {
    JsonValue v;
    EXPECT_TRUE(ParseJson(line, &v, &error)) << error << ": " << line;
    records.push_back(std::move(v));
  }
  return records;
}

std::string Pattern(std::size_t size) {
  std::string text(size, ' ');
  for (std::size_t i = 0; i < size; ++i)
    text[i] = static_cast<char>('a' + (i * 7 + size) % 26);
  return text;
}

TEST(TableToolTest, LargeMemosRoundTripInEveryLayout) {
  qx::testing::TempDir dir;
  const std::vector<std::size_t> sizes = {65535, 65536, 1000000, 3};
  for (const char* dialect : {"dbase3", "clipper", "dbase4", "foxpro2"}) {
    SCOPED_TRACE(dialect);
    // A name past 8 characters: the dBASE IV header keeps its first 8.
    std::string table = dir.File(std::string("customers_") + dialect + ".dbf");
    Result r = Qxdb({"create", table, "--dialect", dialect, "--field",
                     "NAME:C:10", "--field", "NOTES:M:10"});
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    std::string input;
    for (std::size_t size : sizes)
      input += "{\"NAME\":\"n" + std::to_string(size) + "\",\"NOTES\":\"" +
               Pattern(size) + "\"}\n";
    r = Qxdb({"import", table}, input);
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    r = Qxdb({"dump", table});
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    std::vector<JsonValue> records = Records(r.out);
    ASSERT_EQ(records.size(), sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i)
      EXPECT_TRUE(records[i].Find("NOTES")->string == Pattern(sizes[i]))
          << sizes[i];
  }
}

TEST(TableToolTest, DumpGoesOnPastWhatItCannotRead) {
  qx::testing::TempDir dir;
  std::string table = dir.File("notes.dbf");
  ASSERT_EQ(Qxdb({"create", table, "--dialect", "dbase3", "--field",
                  "NAME:C:10", "--field", "NOTES:M:10"})
                .rc,
            kExitOk);
  ASSERT_EQ(Qxdb({"import", table},
                 "{\"NAME\":\"one\",\"NOTES\":\"first\"}\n"
                 "{\"NAME\":\"two\",\"NOTES\":\"second\"}\n"
                 "{\"NAME\":\"three\",\"NOTES\":\"\"}\n")
                .rc,
            kExitOk);
  // Cut the memo file after the first value (block 1), and claim two more
  // records in the header than the file holds.
  std::filesystem::resize_file(dir.File("notes.dbt"), 1024);
  std::string bytes = qx::testing::ReadWholeFile(table);
  bytes[4] = 5;
  qx::testing::WriteWholeFile(table, bytes);

  Result r = Qxdb({"dump", table});
  EXPECT_EQ(r.rc, kExitFailure);
  std::vector<JsonValue> records = Records(r.out);
  ASSERT_EQ(records.size(), 3u) << r.out;
  EXPECT_EQ(records[0].Find("NOTES")->string, "first");
  const JsonValue* lost = records[1].Find("NOTES")->Find("error");
  ASSERT_NE(lost, nullptr) << r.out;
  EXPECT_EQ(lost->number, -6);
  EXPECT_EQ(records[1].Find("NAME")->string, "two");
  EXPECT_EQ(records[2].Find("NOTES")->string, "");
  EXPECT_NE(r.err.find("notes.dbt: record 2, field NOTES: status -6"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("notes.dbf: record 4: status -2"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("notes.dbf: record 5: status -2"), std::string::npos)
      << r.err;
}

// What another process holds keeps qxdb's writers out, and they say so:
// a record it locked is not deleted (another one is recalled), a table it
// has open is not packed, and an index it has open is not rebuilt.
TEST(TableToolTest, WritersWaitForNothingAnotherProcessHolds) {
  qx::testing::TempDir dir;
  const std::string table = dir.File("t.dbf"), ntx = dir.File("name.ntx");
  ASSERT_EQ(Qxdb({"create", table, "--dialect", "clipper", "--field",
                  "NAME:C:10", "--field", "NOTES:M:10"})
                .rc,
            kExitOk);
  ASSERT_EQ(Qxdb({"import", table},
                 "{\"NAME\":\"a\",\"NOTES\":\"x\"}\n"
                 "{\"NAME\":\"b\",\"NOTES\":\"y\"}\n")
                .rc,
            kExitOk);
  ASSERT_EQ(Qxdb({"index", table, ntx, "--expr", "NAME"}).rc, kExitOk);
  int16_t dbf = kKbdNoHandle, index = kKbdNoHandle;
  const uint16_t mode = uint16_t{kKbdModeShared} | uint16_t{kKbdClipper};
  qx::testing::ChildProcess other([&](int step) -> int {
    kbdseterror(0);
    switch (step) {
      case 0:  // the table open, record 1 locked
        if (kbdinit(32767, 16) != kKbdOk) return 1;
        if (kbddopenx(&dbf, table.c_str(), mode) < 0) return 2;
        return kbddlockrec(dbf, 1, kKbdLockRec);
      case 1:  // the record unlocked, the index open
        if (kbddlockrec(dbf, 1, kKbdLockRecUnlock) < 0) return 3;
        return kbdxopenx(&index, ntx.c_str(), mode);
      default:
        kbdxclose(index);
        return kbddclose(dbf);
    }
  });
  ASSERT_EQ(other.Run(0), kKbdOk);
  Result r = Qxdb({"delete", table, "1"});
  EXPECT_EQ(r.rc, kExitFailure);
  EXPECT_EQ(r.err, "qxdb: " + table +
                       ": record 1 is locked by another process (status -37: "
                       "ERREUR - Violation du blocage fichier.)\n");
  r = Qxdb({"recall", table, "2"});
  EXPECT_EQ(r.rc, kExitOk) << r.err;
  r = Qxdb({"pack", table});
  EXPECT_EQ(r.rc, kExitFailure);
  EXPECT_EQ(r.err, "qxdb: " + table +
                       ": open in another process: pack needs the table "
                       "alone\n");
  ASSERT_EQ(other.Run(1), kKbdOk);
  r = Qxdb({"delete", table, "1"});
  EXPECT_EQ(r.rc, kExitOk) << r.err;
  r = Qxdb({"index", table, ntx, "--expr", "NAME"});
  EXPECT_EQ(r.rc, kExitFailure);
  EXPECT_EQ(r.err, "qxdb: " + ntx +
                       ": status -37: ERREUR - Violation du blocage "
                       "fichier.\n");
  ASSERT_EQ(other.Run(2), kKbdOk);
  r = Qxdb({"pack", table});
  EXPECT_EQ(r.rc, kExitOk) << r.err;
  r = Qxdb({"dump", table});
  EXPECT_EQ(Records(r.out).size(), 1u);
}

}  // namespace
}  // namespace qx::qxdb
