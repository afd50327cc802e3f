// Tables of three families in one directory, with fields of the same
// names, worked through the component by qxdb as a user would: the
// Clipper table opened by path does not take the dBASE IV table's MDX
// (named after that table) although its tags read the same fields, so
// adding to one table leaves the other's index alone; seeks of accented
// names find their records in every family (the key of a host text goes
// through the file's text conversion as the fields do); a duplicate is
// reported as such; a reindex by path rebuilds the table's own index files
// and leaves an index file named after nothing alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/interop/qxdb_run.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

TEST(SharedDirectoryTest, TablesOfOneDirectoryKeepToTheirOwnIndexes) {
  qx::testing::TempDir dir;
  const std::vector<std::string> names = {"Zoé Durand", "Jürgen Müller",
                                          "Agnès Varda", "Ada Lovelace"};
  for (const char* family : {"dbase4", "clipper", "foxpro2"}) {
    SCOPED_TRACE(family);
    const std::string table = dir.File(std::string(family) + ".dbf");
    Result r =
        Qxdb({"new", table, "--family", family, "--item", "CODE:text:3:unique",
              "--item", "NAME:text:20:key", "--item", "NOTES:text_memo:0"});
    ASSERT_EQ(r.rc, 0) << r.err;
    for (size_t i = 0; i < names.size(); ++i) {
      r = Qxdb({"add", table, "--json",
                "{\"CODE\":\"A0" + std::to_string(i) + "\",\"NAME\":\"" +
                    names[i] + "\",\"NOTES\":\"é\"}"});
      ASSERT_EQ(r.rc, 0) << r.err;
    }
  }
  // Each table's indexes hold its own four records, no more.
  for (const char* tag : {"CODE", "NAME"}) {
    Result r = Qxdb({"check", dir.File("dbase4.dbf"), dir.File("dbase4.mdx"),
                     "--tag", tag});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "ok 4 keys\n");
  }
  for (const char* family : {"dbase4", "clipper", "foxpro2"}) {
    SCOPED_TRACE(family);
    const std::string table = dir.File(std::string(family) + ".dbf");
    for (size_t i = 0; i < names.size(); ++i) {
      Result r = Qxdb({"find", table, "--key", "NAME", names[i]});
      ASSERT_EQ(r.rc, 0) << names[i] << ": " << r.err;
      EXPECT_NE(r.out.find("\"_recno\":" + std::to_string(i + 1) + ","),
                std::string::npos)
          << r.out;
    }
    Result r = Qxdb({"find", table, "--key", "NAME", "Jür", "--generic"});
    EXPECT_NE(r.out.find("Jürgen Müller"), std::string::npos) << r.err;
  }

  // A duplicate of the unique key, refused under DUPLICATESON=1.
  std::filesystem::create_directories(dir.File("etc"));
  std::ofstream(dir.File("etc/qxdbins.ini"), std::ios::binary)
      << "[OPTION]\r\nDUPLICATESON=1\r\n";
  qx::testing::SetEnv("QX_SYSTEM_DIR", dir.File("etc"));
  Result r = Qxdb({"add", dir.File("clipper.dbf"), "--json",
                   R"({"CODE":"A01","NAME":"Bis"})"});
  EXPECT_EQ(r.rc, 3);
  EXPECT_NE(r.err.find("error 1053 (duplicate): "), std::string::npos) << r.err;
  qx::testing::UnsetEnv("QX_SYSTEM_DIR");

  // An index file that bears no table's name is associated by path but
  // not rebuilt by a reindex by path.
  ASSERT_EQ(Qxdb({"index", dir.File("clipper.dbf"), dir.File("names.ntx"),
                  "--expr", "NAME"})
                .rc,
            0);
  r = Qxdb({"reindex", dir.File("clipper.dbf")});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.err.find("names.ntx is not named after the table; left alone"),
            std::string::npos)
      << r.err;
  for (const char* ntx :
       {"clipper_CODE.ntx", "clipper_NAME.ntx", "names.ntx"}) {
    r = Qxdb({"check", dir.File("clipper.dbf"), dir.File(ntx)});
    EXPECT_EQ(r.rc, 0) << ntx << ": " << r.out << r.err;
  }
}

}  // namespace
}  // namespace qx::qxdb
