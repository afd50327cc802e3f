// Visual FoxPro tables made by qxdb create and filled by qxdb import are
// read back by the peers with every value as written: Harbour (DBFCDX)
// reads every type, python3-dbfread every type but Q and W (it ignores
// null flags and keeps a short V value's length byte), python3-dbf every
// type but V, Q, W and G (it numbers null bits by field position, so its
// table keeps the nullable fields first). Our own dump reads them too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/interop/harbour_peer.h"
#include "tests/interop/qxdb_run.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

using qx::testing::HarbourPeer;

std::string LongMemo() {
  std::string s;
  for (int i = 0; i < 40; ++i)
    s += "line " + std::to_string(i) + " of a memo. ";
  return s;
}

// Every Visual FoxPro type; N marks the nullable fields, A the
// autoincrement one.
const std::vector<std::string> kEveryType = {
    "NAME:C:10::N", "CNT:I:4",     "ID:I:4::A", "AMT:B:8:2:N", "PRICE:Y:8",
    "STAMP:T:8::N", "V1:V:10::N",  "Q1:Q:10",   "NOTE:M:4",    "BLOB:W:4",
    "PIC:G:4:0:N",  "BORN:D:8::N", "OK:L:1::N", "NUM:N:8:2:N", "FL:F:10:3"};

// Record 1 has a value everywhere (V and Q shorter than their fields),
// record 2 a null in every nullable field, record 3 full-length V and Q.
const std::vector<std::string> kEveryTypeRecords = {
    R"({"NAME":"Émile","CNT":-5,"AMT":1.25,"PRICE":12.3456,"STAMP":"20240102030405",)"
    R"("V1":"hey","Q1":{"base64":"eHk="},"NOTE":"memo text","BLOB":{"base64":"AAEC/w=="},)"
    R"("PIC":"gen","BORN":"20200101","OK":true,"NUM":-3.5,"FL":2.125})",
    R"({"CNT":2147483647,"PRICE":-1234.5,"Q1":{"base64":"MDEyMzQ1Njc4OQ=="},"FL":-0.5,)"
    R"("NOTE":")" +
        LongMemo() + R"("})",
    R"({"NAME":"Zola","CNT":0,"AMT":-0.75,"STAMP":"19991231235959","V1":"abcdefghij",)"
    R"("Q1":{"base64":"AA=="},"BORN":"18400402","OK":false,"NUM":0,"FL":0})",
};

std::string MakeTable(const qx::testing::TempDir& dir, const std::string& name,
                      const std::vector<std::string>& fields,
                      const std::vector<std::string>& records) {
  std::string table = dir.File(name);
  std::vector<std::string> args = {"create", table, "--dialect", "vfp"};
  for (const std::string& f : fields) {
    args.push_back("--field");
    args.push_back(f);
  }
  Result r = Qxdb(args);
  EXPECT_EQ(r.rc, 0) << r.err;
  std::string input;
  for (const std::string& rec : records) input += rec + "\n";
  r = Qxdb({"import", table}, input);
  EXPECT_EQ(r.rc, 0) << r.err;
  return table;
}

// Upper case as Harbour prints it; python's hex() is lower case.
std::string Hex(const std::string& bytes, bool lower = false) {
  const char* kDigits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string RunPeer(const std::string& command) {
  std::string out;
  EXPECT_EQ(qx::testing::RunCommand(command + " 2>&1", &out), 0) << out;
  return out;
}

bool PythonHas(const std::string& module) {
  std::string probe;
  return qx::testing::RunCommand(
             "/usr/bin/python3 -c 'import " + module + "' 2>&1", &probe) == 0;
}

// Harbour prints one line per field: NAME=NULL, or the value (text and
// memos in hex, numbers by hb_ntos, dates by DToS, date-times by hb_TToS).
const char kHarbourReader[] = R"(#include "dbinfo.ch"
REQUEST DBFCDX
PROCEDURE Main( cTable )
   LOCAL i, v, c
   rddSetDefault( "DBFCDX" )
   USE ( cTable ) SHARED
   DO WHILE ! Eof()
      FOR i := 1 TO FCount()
         v := FieldGet( i )
         DO CASE
         CASE dbFieldInfo( DBS_ISNULL, i )
            c := "NULL"
         CASE ValType( v ) $ "CM"
            c := hb_StrToHex( v )
         CASE ValType( v ) == "N"
            c := hb_ntos( v )
         CASE ValType( v ) == "D"
            c := DToS( v )
         CASE ValType( v ) == "T"
            c := hb_TToS( v )
         CASE ValType( v ) == "L"
            c := iif( v, "T", "F" )
         OTHERWISE
            c := "?" + ValType( v )
         ENDCASE
         OutStd( FieldName( i ) + "=" + c + hb_eol() )
      NEXT
      OutStd( "--" + hb_eol() )
      dbSkip()
   ENDDO
   dbCloseAll()
RETURN
)";

TEST(VfpPeersTest, HarbourReadsEveryType) {
  std::string missing = HarbourPeer::Missing();
  if (!missing.empty()) {
    if (HarbourPeer::Required()) FAIL() << missing;
    GTEST_SKIP() << missing;
  }
  HarbourPeer peer;
  std::string error;
  ASSERT_TRUE(peer.CompileSource("vfpread", kHarbourReader, &error)) << error;
  qx::testing::TempDir dir;
  MakeTable(dir, "every.dbf", kEveryType, kEveryTypeRecords);
  std::string out;
  ASSERT_EQ(peer.Run(dir.path(), {"every.dbf"}, &out), 0) << out;
  std::string expected =
      // Record 1
      "NAME=" + Hex("\xC9mile     ") +
      "\nCNT=-5\nID=1\nAMT=1.25\nPRICE=12.3456\n"
      "STAMP=20240102030405000\nV1=" +
      Hex("hey") + "\nQ1=" + Hex("xy") + "\nNOTE=" + Hex("memo text") +
      "\nBLOB=" + Hex(std::string("\x00\x01\x02\xFF", 4)) +
      "\nPIC=" + Hex("gen") +
      "\nBORN=20200101\nOK=T\nNUM=-3.50\nFL=2.125\n--\n"
      // Record 2
      "NAME=NULL\nCNT=2147483647\nID=2\nAMT=NULL\nPRICE=-1234.5000\nSTAMP="
      "NULL\n"
      "V1=NULL\nQ1=" +
      Hex("0123456789") + "\nNOTE=" + Hex(LongMemo()) +
      "\nBLOB=\nPIC=NULL\nBORN=NULL\nOK=NULL\nNUM=NULL\nFL=-0.500\n--\n"
      // Record 3
      "NAME=" +
      Hex("Zola      ") +
      "\nCNT=0\nID=3\nAMT=-0.75\nPRICE=0.0000\n"
      "STAMP=19991231235959000\nV1=" +
      Hex("abcdefghij") +
      "\nQ1=00\nNOTE=\nBLOB=\n"
      "PIC=NULL\nBORN=18400402\nOK=F\nNUM=0.00\nFL=0.000\n--\n";
  EXPECT_EQ(out, expected);
}

TEST(VfpPeersTest, DbfreadReadsTheTypesItKnows) {
  if (!qx::testing::LinuxPeersRunnable()) {
    GTEST_SKIP() << qx::testing::kNoLinuxPeers;
  }
  if (!PythonHas("dbfread"))
    GTEST_SKIP()
        << "python3-dbfread is not installed (make test installs it as root)";
  const char* script =
      "import sys, dbfread, datetime, decimal\n"
      "def f(v):\n"
      "    if v is None: return 'None'\n"
      "    if isinstance(v, bytes): return 'b' + v.hex()\n"
      "    if isinstance(v, datetime.datetime): return "
      "v.strftime('%Y%m%d%H%M%S')\n"
      "    if isinstance(v, datetime.date): return v.strftime('%Y%m%d')\n"
      "    if isinstance(v, str): return 's' + v.encode('cp1252').hex()\n"
      "    return repr(v)\n"
      "for r in dbfread.DBF(sys.argv[1], encoding='cp1252'):\n"
      "    print(' '.join(k + '=' + f(v) for k, v in r.items()))\n";
  qx::testing::TempDir dir;
  qx::testing::WriteWholeFile(dir.File("read.py"), script);
  std::vector<std::string> fields;
  for (const std::string& f : kEveryType)
    if (f.find(":Q:") == std::string::npos &&
        f.find(":W:") == std::string::npos)
      fields.push_back(f);
  std::vector<std::string> records = kEveryTypeRecords;
  records[0] =
      R"({"NAME":"Émile","CNT":-5,"AMT":1.25,"PRICE":12.3456,)"
      R"("STAMP":"20240102030405","V1":"hey","NOTE":"memo text","PIC":"gen",)"
      R"("BORN":"20200101","OK":true,"NUM":-3.5,"FL":2.125})";
  records[1] = R"({"CNT":2147483647,"PRICE":-1234.5,"FL":-0.5,"NOTE":")" +
               LongMemo() + R"("})";
  records[2] =
      R"({"NAME":"Zola","AMT":-0.75,"STAMP":"19991231235959",)"
      R"("V1":"abcdefghij","BORN":"18400402","OK":false,"NUM":0,"FL":0})";
  std::string table = MakeTable(dir, "known.dbf", fields, records);
  std::vector<std::string> lines =
      Lines(RunPeer("/usr/bin/python3 " + dir.File("read.py") + " " + table));
  // dbfread ignores the null flags: a null field shows the blank stored
  // under it; a short V keeps its length in its last byte.
  std::vector<std::string> expected = {
      "NAME=s" + Hex("\xC9mile", true) +
          " CNT=-5 ID=1 AMT=1.25 PRICE=Decimal('12.3456') "
          "STAMP=20240102030405 V1=s" +
          Hex(std::string("hey      \x03", 10), true) + " NOTE=s" +
          Hex("memo text", true) + " PIC=b" + Hex("gen", true) +
          " BORN=20200101 OK=True NUM=-3.5 FL=2.125 _NullFlags=b0800",
      "NAME=s CNT=2147483647 ID=2 AMT=0.0 PRICE=Decimal('-1234.5') STAMP=None "
      "V1=s "
      "NOTE=s" +
          Hex(LongMemo(), true) +
          " PIC=None BORN=None OK=None NUM=None FL=-0.5 "
          "_NullFlags=bf701",
      "NAME=s" + Hex("Zola", true) +
          " CNT=0 ID=3 AMT=-0.75 PRICE=Decimal('0') "
          "STAMP=19991231235959 V1=s" +
          Hex("abcdefghij", true) +
          " NOTE=None PIC=None BORN=18400402 OK=False NUM=0.0 FL=0.0 "
          "_NullFlags=b2000",
  };
  EXPECT_EQ(lines, expected);
}

TEST(VfpPeersTest, PythonDbfReadsTheTypesItKnows) {
  if (!qx::testing::LinuxPeersRunnable()) {
    GTEST_SKIP() << qx::testing::kNoLinuxPeers;
  }
  if (!PythonHas("dbf"))
    GTEST_SKIP()
        << "python3-dbf is not installed (make test installs it as root)";
  const char* script =
      "import sys, dbf, datetime\n"
      "def f(v):\n"
      "    if v is None or v is dbf.Null: return 'NULL'\n"
      "    if isinstance(v, datetime.datetime): return "
      "v.strftime('%Y%m%d%H%M%S')\n"
      "    if isinstance(v, datetime.date): return v.strftime('%Y%m%d')\n"
      "    if isinstance(v, str): return 's' + v.encode('cp1252').hex()\n"
      "    return repr(v)\n"
      "t = dbf.Table(sys.argv[1], codepage='cp1252')\n"
      "t.open()\n"
      "for r in t:\n"
      "    print(' '.join(f(r[i]) for i in range(len(r))))\n";
  qx::testing::TempDir dir;
  qx::testing::WriteWholeFile(dir.File("read.py"), script);
  std::string table = MakeTable(
      dir, "pydbf.dbf",
      {"NAME:C:10::N", "AMT:B:8:2:N", "STAMP:T:8::N", "BORN:D:8::N",
       "OK:L:1::N", "NUM:N:8:2:N", "NOTE:M:4::N", "CNT:I:4", "ID:I:4::A",
       "PRICE:Y:8", "FL:F:10:3"},
      {R"({"NAME":"Émile","CNT":-5,"AMT":1.25,"PRICE":12.3456,"STAMP":"20240102030405",)"
       R"("NOTE":"memo text","BORN":"20200101","OK":true,"NUM":-3.5,"FL":2.125})",
       R"({"CNT":-2147483647,"PRICE":-1234.5,"FL":-0.5})",
       R"({"NAME":"Zola","AMT":-0.75,"STAMP":"19991231235959","BORN":"18400402",)"
       R"("OK":false,"NUM":0,"NOTE":")" +
           LongMemo() + R"(","FL":0})"});
  std::vector<std::string> lines =
      Lines(RunPeer("/usr/bin/python3 " + dir.File("read.py") + " " + table));
  std::vector<std::string> expected = {
      "s" + Hex("\xC9mile     ", true) +
          " 1.25 20240102030405 20200101 True -3.5 s" + Hex("memo text", true) +
          " -5 1 Decimal('12.3456') 2.125",
      "NULL NULL NULL NULL NULL NULL NULL -2147483647 2 Decimal('-1234.5000') "
      "-0.5",
      "s" + Hex("Zola      ", true) +
          " -0.75 19991231235959 18400402 False 0.0 s" + Hex(LongMemo(), true) +
          " 0 3 Decimal('0.0000') 0.0",
  };
  EXPECT_EQ(lines, expected);
}

TEST(VfpPeersTest, DumpReadsBackEveryType) {
  qx::testing::TempDir dir;
  std::string table =
      MakeTable(dir, "round.dbf", kEveryType, kEveryTypeRecords);
  Result r = Qxdb({"dump", table});
  ASSERT_EQ(r.rc, 0) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(
      lines[0],
      R"({"_recno":1,"_deleted":false,"NAME":"Émile","CNT":-5,"ID":1,"AMT":1.25,)"
      R"("PRICE":12.3456,"STAMP":"20240102030405","V1":"hey","Q1":{"base64":"eHk="},)"
      R"("NOTE":"memo text","BLOB":{"base64":"AAEC/w=="},"PIC":{"base64":"Z2Vu"},)"
      R"("BORN":"20200101","OK":true,"NUM":-3.5,"FL":2.125,)"
      R"("_NULLFLAGS":{"base64":"KAA="}})");
  EXPECT_EQ(
      lines[1],
      R"({"_recno":2,"_deleted":false,"NAME":null,"CNT":2147483647,"ID":2,)"
      R"("AMT":null,"PRICE":-1234.5,"STAMP":null,"V1":null,)"
      R"("Q1":{"base64":"MDEyMzQ1Njc4OQ=="},"NOTE":")" +
          LongMemo() +
          R"(","BLOB":"","PIC":null,"BORN":null,"OK":null,"NUM":null,"FL":-0.5,)"
          R"("_NULLFLAGS":{"base64":"1wM="}})");
  EXPECT_EQ(
      lines[2],
      R"({"_recno":3,"_deleted":false,"NAME":"Zola","CNT":0,"ID":3,"AMT":-0.75,)"
      R"("PRICE":0.0,"STAMP":"19991231235959","V1":"abcdefghij",)"
      R"("Q1":{"base64":"AA=="},"NOTE":"","BLOB":"","PIC":null,"BORN":"18400402",)"
      R"("OK":false,"NUM":0.0,"FL":0.0,"_NULLFLAGS":{"base64":"YAA="}})");
}

}  // namespace
}  // namespace qx::qxdb
