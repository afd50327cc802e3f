// Tables created through the component (qxdb new), filled, packed and
// re-indexed through it (qxdb reindex --pack), in the Clipper, FoxPro 2
// and Visual FoxPro families: every index passes qxdb's check, Harbour
// walks each order as the keys say (NTX files named, CDX tags opened with
// the table), and python3-dbf reads the records and memos.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/interop/harbour_peer.h"
#include "tests/interop/qxdb_run.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

using qx::testing::HarbourPeer;

struct Family {
  const char* name;
  std::vector<std::string> indexes;  // files to check: FILE or FILE:TAG
  std::vector<std::string> harbour;  // RDD, then index files to open
  // Harbour's walks: Ada, Zola, Émile by name (records 2 1 3); 7, 5, 3
  // by descending age (2 3 1). A CDX file lists its tags by name.
  const char* walks;
};

const Family kFamilies[] = {
    {"clipper",
     {"t_NAME.ntx", "t_AGE.ntx"},
     {"DBFNTX", "t_NAME", "t_AGE"},
     "order 2 1 3\norder 2 3 1\n"},
    {"foxpro2",
     {"t.cdx:NAME", "t.cdx:AGE"},
     {"DBFCDX"},
     "order 2 3 1\norder 2 1 3\n"},
    {"vfp",
     {"t.cdx:NAME", "t.cdx:AGE"},
     {"DBFCDX"},
     "order 2 3 1\norder 2 1 3\n"},
};

// The record numbers of each order, one order a line.
const char kHarbourWalker[] = R"(PROCEDURE Main( cTable, cRdd, ... )
   LOCAL i, a := hb_AParams(), c
   REQUEST DBFNTX, DBFCDX
   rddSetDefault( cRdd )
   USE ( cTable ) SHARED
   FOR i := 3 TO Len( a )
      ordListAdd( a[ i ] )
   NEXT
   FOR i := 1 TO ordCount()
      ordSetFocus( i )
      c := "order"
      dbGoTop()
      DO WHILE ! Eof()
         c += " " + hb_ntos( RecNo() )
         dbSkip()
      ENDDO
      OutStd( c + hb_eol() )
   NEXT
   dbCloseAll()
RETURN
)";

TEST(TableMaintenanceInteropTest, NewTablesPackAndReindexForThePeers) {
  const std::string missing = HarbourPeer::Missing();
  if (!missing.empty() && HarbourPeer::Required()) FAIL() << missing;
  HarbourPeer peer;
  std::string error;
  const bool harbour = missing.empty() &&
                       peer.CompileSource("walkorders", kHarbourWalker, &error);
  if (missing.empty()) {
    EXPECT_TRUE(harbour) << error;
  }
  std::string probe;
  const bool python_dbf =
      qx::testing::LinuxPeersRunnable() &&
      qx::testing::RunCommand("/usr/bin/python3 -c 'import dbf' 2>&1",
                              &probe) == 0;

  for (const Family& family : kFamilies) {
    SCOPED_TRACE(family.name);
    qx::testing::TempDir dir;
    const std::string table = dir.File("t.dbf");
    Result r = Qxdb({"new", table, "--family", family.name, "--item",
                     "NAME:text:20:key", "--item", "AGE:int16:3::descending",
                     "--item", "NOTE:text_memo:0"});
    ASSERT_EQ(r.rc, 0) << r.err;
    r = Qxdb(
        {"import", table},
        "{\"NAME\":\"Zola\",\"AGE\":3,\"NOTE\":\"J'accuse\"}\n"
        "{\"NAME\":\"Bob\",\"AGE\":-2,\"_deleted\":true}\n"
        "{\"NAME\":\"Ada\",\"AGE\":7,\"NOTE\":\"Analytical\\r\\nEngine\"}\n"
        "{\"NAME\":\"Émile\",\"AGE\":5}\n");
    ASSERT_EQ(r.rc, 0) << r.err;
    // Progress goes to stderr as plain lines (no terminal here).
    r = Qxdb({"reindex", table, "--pack"});
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.err, "reindex: 0/2\nreindex: 1/2\nreindex: 2/2\n");
    for (const std::string& index : family.indexes) {
      const size_t colon = index.find(':');
      std::vector<std::string> args = {"check", table,
                                       dir.File(index.substr(0, colon))};
      if (colon != std::string::npos)
        args.insert(args.end(), {"--tag", index.substr(colon + 1)});
      r = Qxdb(args);
      EXPECT_EQ(r.out, "ok 3 keys\n") << index << r.err;
    }
    if (harbour) {
      std::vector<std::string> args = {"t.dbf"};
      args.insert(args.end(), family.harbour.begin(), family.harbour.end());
      std::string out;
      ASSERT_EQ(peer.Run(dir.path(), args, &out), 0) << out;
      EXPECT_EQ(out, family.walks);
    }
    if (python_dbf) {
      const char* script =
          "import sys, dbf\n"
          "t = dbf.Table(sys.argv[1], codepage='cp1252')\n"
          "t.open()\n"
          "for r in t:\n"
          "    print('%s|%d|%s' % (r[0].strip(), r[1], "
          "r[2].replace('\\r', '\\\\r').replace('\\n', '\\\\n')))\n";
      qx::testing::WriteWholeFile(dir.File("read.py"), script);
      std::string out;
      ASSERT_EQ(
          qx::testing::RunCommand(
              "/usr/bin/python3 " + dir.File("read.py") + " " + table + " 2>&1",
              &out),
          0)
          << out;
      EXPECT_EQ(out,
                "Zola|3|J'accuse\nAda|7|Analytical\\r\\nEngine\nÉmile|5|\n");
    }
  }
}

// Visual FoxPro keys an integer field by its 4-byte integer image, through
// the component and through qxdb index alike.
TEST(TableMaintenanceInteropTest, IntegerKeysOfVisualFoxProTables) {
  qx::testing::TempDir dir;
  const std::string table = dir.File("n.dbf");
  Result r = Qxdb({"new", table, "--family", "vfp", "--item", "QTY:int32:0:key",
                   "--item", "NAME:text:8"});
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Qxdb(
      {"import", table, "--index", dir.File("n.cdx") + ":QTY"},
      "{\"QTY\":3}\n{\"QTY\":-70000}\n{\"QTY\":2147483647}\n{\"QTY\":0}\n");
  ASSERT_EQ(r.rc, 0) << r.err;
  // The engine-level build of qxdb index makes the same tag.
  r = Qxdb(
      {"index", table, dir.File("m.cdx"), "--expr", "QTY", "--tag", "QTY"});
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Qxdb({"info", dir.File("m.cdx")});
  EXPECT_NE(r.out.find("\"key_length\":4"), std::string::npos) << r.out;
  r = Qxdb({"keys", dir.File("m.cdx"), "--tag", "QTY", "--table", table});
  EXPECT_EQ(r.out, "2\t-70000\n4\t0\n1\t3\n3\t2147483647\n");
  for (int pass = 0; pass < 2; ++pass) {
    r = Qxdb({"check", table, dir.File("n.cdx"), "--tag", "QTY"});
    EXPECT_EQ(r.out, "ok 4 keys\n") << r.err;
    r = Qxdb({"keys", dir.File("n.cdx"), "--tag", "QTY", "--table", table});
    EXPECT_EQ(r.out, "2\t-70000\n4\t0\n1\t3\n3\t2147483647\n");
    r = Qxdb({"info", dir.File("n.cdx")});
    EXPECT_NE(r.out.find("\"key_length\":4"), std::string::npos) << r.out;
    r = Qxdb({"reindex", table});
    ASSERT_EQ(r.rc, 0) << r.err;
  }
}

// A description the component refuses: the host's error, id and French
// text, and no file left behind.
TEST(TableMaintenanceInteropTest, NewReportsTheComponentsError) {
  qx::testing::TempDir dir;
  const std::string table = dir.File("bad.dbf");
  Result r = Qxdb({"new", table, "--family", "dbase3", "--item", "NAME:text:10",
                   "--item", "FAR_TOO_LONG:int16:3"});
  EXPECT_EQ(r.rc, 3);
  EXPECT_EQ(r.err, "qxdb: " + table +
                       ": error 1059: Le nom de la rubrique 'FAR_TOO_LONG' est "
                       "trop long (<10> caractères maximum).\n");
  EXPECT_FALSE(std::filesystem::exists(table));
  r = Qxdb({"reindex", dir.File("none.dbf")});
  EXPECT_EQ(r.rc, 1) << r.err;
}

}  // namespace
}  // namespace qx::qxdb
