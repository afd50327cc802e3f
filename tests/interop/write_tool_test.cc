// qxdb add, modify and remove through the component, on Clipper (NTX) and
// FoxPro (CDX) tables with a key on an expression and a unique key: each
// verb prints the record as stored, the indexes pass qxdb check, and
// Harbour reads the table back in the order of each index as we expect.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/interop/harbour_peer.h"
#include "tests/interop/qxdb_run.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

using qx::testing::HarbourPeer;

struct Family {
  const char* name;
  const char* dialect;
  const char* rdd;
  bool tags;
};

void PrintTo(const Family& family, std::ostream* out) { *out << family.name; }

const Family kFamilies[] = {{"ntx", "clipper5", "DBFNTX", false},
                            {"cdx", "foxpro2", "DBFCDX", true}};

// Walks each order of the table and prints "recno name code deleted".
constexpr const char* kWalk = R"(REQUEST DBFNTX, DBFCDX
REQUEST UPPER
PROCEDURE Main( cRdd )
   LOCAL n
   rddSetDefault( cRdd )
   SET DELETED OFF
   USE t SHARED
   IF cRdd == "DBFNTX"
      SET INDEX TO uname, code
   ELSE
      SET INDEX TO t
   ENDIF
   FOR n := 1 TO 2
      ordSetFocus( n )
      OutStd( "order " + ordName( n ) + hb_eol() )
      GO TOP
      DO WHILE ! Eof()
         OutStd( hb_ntos( RecNo() ) + " " + Trim( FIELD->NAME ) + " " + ;
                 Trim( FIELD->CODE ) + iif( Deleted(), " *", "" ) + hb_eol() )
         SKIP
      ENDDO
   NEXT
   RETURN
)";

class WriteToolTest : public ::testing::TestWithParam<Family> {
 protected:
  std::string File(const std::string& name) { return dir_.File(name); }
  std::vector<std::string> IndexArgs() {
    if (GetParam().tags)
      return {"--index", File("t.cdx") + ":UNAME", "--index",
              File("t.cdx") + ":CODE"};
    return {"--index", File("uname.ntx") + ":UNAME", "--index",
            File("code.ntx") + ":CODE"};
  }
  Result Write(std::vector<std::string> args, const std::string& input = "") {
    for (const std::string& a : IndexArgs()) args.push_back(a);
    return Qxdb(args, input);
  }
  void Check(const char* file, const char* tag) {
    std::vector<std::string> args = {"check", File("t.dbf"), File(file)};
    if (GetParam().tags) args.insert(args.end(), {"--tag", tag});
    const Result r = Qxdb(args);
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
  }

  qx::testing::TempDir dir_;
};

TEST_P(WriteToolTest, VerbsWriteWhatHarbourReadsBack) {
  const Family& f = GetParam();
  ASSERT_EQ(Qxdb({"create", File("t.dbf"), "--dialect", f.dialect, "--field",
                  "NAME:C:12", "--field", "CODE:C:4", "--field", "N:N:5:1"})
                .rc,
            0);
  const bool tags = f.tags;
  const auto build = [&](const char* file, const char* expr, const char* tag,
                         bool unique) {
    std::vector<std::string> args = {"index", File("t.dbf"), File(file),
                                     "--expr", expr};
    if (tags) args.insert(args.end(), {"--tag", tag});
    if (unique) args.push_back("--unique");
    const Result built = Qxdb(args);
    ASSERT_EQ(built.rc, 0) << built.err;
  };
  build(tags ? "t.cdx" : "uname.ntx", "UPPER(NAME)", "UNAME", false);
  build(tags ? "t.cdx" : "code.ntx", "CODE", "CODE", true);

  Result r = Write({"add", File("t.dbf"), "--json",
                    R"({"NAME":"zoé","CODE":"Z","N":1.26})"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(
      r.out,
      R"({"_recno":1,"_deleted":false,"NAME":"zoé         ","CODE":"Z   ","N":1.3})"
      "\n");
  r = Write({"add", File("t.dbf")}, R"({"NAME":"Marc","CODE":"M"})");
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Write({"add", File("t.dbf"), "--json", R"({"NAME":"abel","CODE":"A"})"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out.rfind(R"({"_recno":3,)", 0), 0u) << r.out;
  r = Write({"modify", File("t.dbf"), "--record", "2", "--json",
             R"({"NAME":"Bruno"})"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(
      r.out.rfind(
          R"({"_recno":2,"_deleted":false,"NAME":"Bruno       ","CODE":"M   ",)",
          0),
      0u)
      << r.out;
  r = Write({"remove", File("t.dbf"), "--record", "3"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find(R"("_deleted":true)"), std::string::npos) << r.out;
  // Usage and failures.
  EXPECT_NE(Write({"modify", File("t.dbf"), "--json", "{}"}).rc, 0);
  r = Write({"modify", File("t.dbf"), "--record", "9", "--json", "{}"});
  EXPECT_NE(r.rc, 0);
  r = Write({"add", File("t.dbf"), "--json", R"({"NOPE":1})"});
  EXPECT_NE(r.rc, 0);
  EXPECT_NE(r.err.find("no field NOPE"), std::string::npos) << r.err;
  Check(tags ? "t.cdx" : "uname.ntx", "UNAME");
  Check(tags ? "t.cdx" : "code.ntx", "CODE");

  std::string missing = HarbourPeer::Missing();
  if (!missing.empty()) {
    if (HarbourPeer::Required()) FAIL() << missing;
    GTEST_SKIP() << missing;
  }
  HarbourPeer harbour;
  std::string output;
  ASSERT_TRUE(harbour.CompileSource("qxwalk", kWalk, &output)) << output;
  ASSERT_EQ(harbour.Run(dir_.path(), {f.rdd}, &output), 0) << output;
  const std::vector<std::string> lines = Lines(output);
  ASSERT_EQ(lines.size(), 8u) << output;
  EXPECT_EQ(lines[1], "3 abel A *");
  EXPECT_EQ(lines[2], "2 Bruno M");
  // Texts are stored in the OEM code page, as the DOS programs keep them.
  EXPECT_EQ(platform::DecodeCodePage(lines[3], 850),
            platform::Utf8ToUtf16("1 zoé Z"));
  EXPECT_EQ(lines[5], "3 abel A *");
  EXPECT_EQ(lines[6], "2 Bruno M");
  EXPECT_EQ(lines[7].substr(0, 2), "1 ");
}

INSTANTIATE_TEST_SUITE_P(Families, WriteToolTest,
                         ::testing::ValuesIn(kFamilies),
                         [](const auto& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace qx::qxdb
