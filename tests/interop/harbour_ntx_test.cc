// NTX files both ways with Harbour, the Clipper-compatible peer (skipped
// when it is not installed): files it builds and then maintains by
// appends and updates (negative numbers, key length 4, descending, unique,
// FOR) walk in its order, seek as its dbSeek does and check cleanly here;
// files we build walk and count alike there, take its appends and updates,
// and check cleanly here afterwards.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/qxdb/cli.h"
#include "qx/engine.h"
#include "tests/interop/harbour_support_ntx.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

using qx::testing::TempDir;

std::string Qxdb(const std::vector<std::string>& args,
                 const std::string& input = "") {
  std::ostringstream out, err;
  std::istringstream in(input);
  const int rc = RunQxdb(args, out, err, in);
  EXPECT_EQ(rc, 0) << out.str() << err.str();
  return out.str();
}

// Record numbers in our key order.
std::vector<uint32_t> OurWalk(const std::string& index,
                              const std::string& table) {
  std::vector<uint32_t> recnos;
  std::istringstream lines(Qxdb({"keys", index, "--table", table}));
  std::string line;
  while (std::getline(lines, line))
    recnos.push_back(static_cast<uint32_t>(std::stoul(line)));
  return recnos;
}

// "W name count recno..." lines of the Harbour program: the walk of each
// order and its ordKeyCount().
struct HarbourWalk {
  uint32_t count = 0;
  std::vector<uint32_t> recnos;
};
std::map<std::string, HarbourWalk> Walks(const std::string& output,
                                         const std::string& tag) {
  std::map<std::string, HarbourWalk> walks;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string mark, name;
    HarbourWalk walk;
    words >> mark >> name >> walk.count;
    if (mark != tag) continue;
    for (uint32_t r; words >> r;) walk.recnos.push_back(r);
    walks[name] = walk;
  }
  return walks;
}

// The program's common part: the walk of every open order.
constexpr char kWalksPrg[] = R"(
STATIC PROCEDURE Walks( cTag )
   LOCAL n := 1, cOut
   DO WHILE ! Empty( ordName( n ) )
      ordSetFocus( n )
      cOut := cTag + " " + Lower( ordName( n ) ) + " " + hb_ntos( ordKeyCount() )
      dbGoTop()
      DO WHILE ! Eof()
         cOut += " " + hb_ntos( RecNo() )
         dbSkip()
      ENDDO
      OutStd( cOut + hb_eol() )
      n++
   ENDDO
RETURN

STATIC PROCEDURE Fill( i )
   FIELD->AGE := ( i * 37 ) % 199 - 99
   FIELD->NAME := Chr( 65 + i % 23 ) + Chr( 97 + ( i * 7 ) % 5 ) + "x"
   FIELD->SAL := ( i * 7919 ) % 100000 - 50000 + ( ( i * 13 ) % 100 ) / 100
RETURN

STATIC PROCEDURE Maintain( aAll, nFrom )
   LOCAL i, nLast
   USE ( "ht" ) EXCLUSIVE
   AEval( aAll, {| c | ordListAdd( c ) } )
   FOR i := 1 TO 300
      dbAppend()
      Fill( nFrom + i )
   NEXT
   // Updates move keys among their equals. Records 1..115 hold the first
   // of each name and are left alone: a unique index drops the key of a
   // record that leaves it, whoever else has it.
   nLast := RecCount()
   FOR i := 1 TO 300
      dbGoto( 116 + ( i * 53 ) % ( nLast - 416 ) )
      FIELD->NAME := Chr( 65 + ( i * 3 ) % 20 ) + Chr( 97 + i % 5 ) + "x"
      FIELD->AGE := -FIELD->AGE
      FIELD->SAL := -FIELD->SAL
   NEXT
   // Appended records take new names (new unique keys, some twice).
   FOR i := 1 TO 60
      dbGoto( nLast - 300 + i * 5 )
      FIELD->NAME := "Zz" + hb_ntos( i % 40 )
   NEXT
   dbCloseAll()
RETURN
)";

// What kbdxseek finds, in the program's words: "E" at the end, else the
// record and F (found) or - (positioned on the next key).
std::string OurSeek(const std::string& index, const std::string& value,
                    bool numeric) {
  int16_t h = -1;
  if (kbdxopenx(&h, index.c_str(), 0x100) != kKbdOk) return "open failed";
  char key[128] = {};
  if (numeric) {
    kbdxkeynum(h, key, std::stod(value));
  } else {
    value.copy(key, sizeof key - 1);
  }
  uint32_t recno = 0;
  const int16_t status = kbdxseek(h, key, &recno, kKbdSeekKey);
  kbdxclose(h);
  if (status == kKbdKeyNotFoundEnd || status == kKbdEmptyFile) return "E";
  if (status != kKbdOk && status != kKbdKeyNotFound)
    return "status " + std::to_string(status);
  return std::to_string(recno) + (status == kKbdOk ? " F" : " -");
}

const char* kIndexes[] = {"hage", "hsal", "hk4", "hdesc", "huniq", "hfor"};

TEST(HarbourNtxTest, TheirFilesWalkSeekAndCheckHere) {
  if (!qx::testing::HarbourInstalled())
    GTEST_SKIP() << "Harbour is not installed (make test builds it)";
  TempDir dir;
  // Seek values: character prefixes and numbers, found and not.
  const std::vector<std::pair<std::string, std::string>> seeks = {
      {"hage", "-99"}, {"hage", "-47"},    {"hage", "-1"},  {"hage", "0"},
      {"hage", "98"},  {"hage", "200"},    {"hage", "-200"},
      {"hsal", "-26867.82"}, {"hsal", "-50000"}, {"hsal", "12.5"},
      {"hk4", "Ca"},   {"hk4", "Cb"},      {"hk4", "W"},
      {"hdesc", "K"},  {"hdesc", "Kb"},    {"hdesc", "Kbx"}, {"hdesc", "Kz"},
      {"hdesc", "B"},  {"hdesc", "0"},     {"hdesc", "Zz"},  {"hdesc", ""},
      {"huniq", "M"},  {"huniq", "Mc"},    {"hfor", "D"},    {"hfor", "Q"}};
  std::string seek_prg;
  for (const auto& [order, value] : seeks) {
    const bool text = order != "hage" && order != "hsal";
    // A soft seek, then an exact one.
    for (const char* soft : {".T.", ".F."})
      seek_prg += "   ordSetFocus( \"" + order + "\" )\n   dbSeek( " +
                  (text ? "\"" + value + "\"" : value) + ", " + soft +
                  " )\n   OutStd( \"S \" + iif( Eof(), \"E\", hb_ntos( "
                  "RecNo() ) + iif( Found(), \" F\", \" -\" ) ) + hb_eol() )\n";
  }
  const std::string prg = std::string(R"(
REQUEST DBFNTX
PROCEDURE Main()
   LOCAL i
   rddSetDefault( "DBFNTX" )
   dbCreate( "ht", { { "AGE", "N", 3, 0 }, { "NAME", "C", 12, 0 }, ;
                    { "SAL", "N", 10, 2 } } )
   USE ht EXCLUSIVE
   FOR i := 1 TO 2000
      dbAppend()
      Fill( i )
   NEXT
   INDEX ON AGE TO hage
   INDEX ON SAL TO hsal
   INDEX ON LEFT( NAME, 4 ) TO hk4
   INDEX ON NAME TO hdesc DESCENDING
   INDEX ON NAME TO huniq UNIQUE
   INDEX ON NAME TO hfor FOR AGE > 0
   dbCloseAll()
   Maintain( { "hage", "hsal", "hk4", "hdesc", "huniq", "hfor" }, 5000 )
   USE ht SHARED
   SET INDEX TO hage, hsal, hk4, hdesc, huniq, hfor
   Walks( "W" )
)") + seek_prg + "   dbCloseAll()\nRETURN\n" +
                          kWalksPrg;
  std::string out;
  ASSERT_EQ(qx::testing::RunHarbour(dir.path(), "their", prg, &out), 0) << out;
  const std::map<std::string, HarbourWalk> walks = Walks(out, "W");
  const std::string table = dir.File("ht.dbf");
  for (const char* name : kIndexes) {
    SCOPED_TRACE(name);
    const std::string index = dir.File(std::string(name) + ".ntx");
    EXPECT_EQ(Qxdb({"check", table, index}).substr(0, 3), "ok ");
    ASSERT_EQ(walks.count(name), 1u) << out;
    const HarbourWalk& walk = walks.at(name);
    EXPECT_EQ(OurWalk(index, table), walk.recnos);
    EXPECT_EQ(walk.count, walk.recnos.size());
  }
  const std::string info = Qxdb({"info", dir.File("hfor.ntx")});
  EXPECT_NE(info.find("\"for\":\"AGE > 0\""), std::string::npos) << info;
  EXPECT_NE(Qxdb({"info", dir.File("hdesc.ntx")}).find("\"descending\":true"),
            std::string::npos);
  EXPECT_NE(Qxdb({"info", dir.File("huniq.ntx")}).find("\"unique\":true"),
            std::string::npos);

  // Seeks: the same positions as dbSeek( value, .T. ) and ( value, .F. ).
  std::vector<std::string> theirs;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("S ", 0) == 0) theirs.push_back(line.substr(2));
  ASSERT_EQ(theirs.size(), 2 * seeks.size()) << out;
  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  for (size_t i = 0; i < seeks.size(); ++i) {
    const auto& [order, value] = seeks[i];
    const std::string soft = OurSeek(dir.File(order + ".ntx"), value,
                                     order == "hage" || order == "hsal");
    EXPECT_EQ(soft, theirs[2 * i]) << order << " " << value;
    // An exact seek that misses ends at the end.
    const bool found = soft.size() > 2 && soft.substr(soft.size() - 2) == " F";
    EXPECT_EQ(found ? soft : "E", theirs[2 * i + 1]) << order << " " << value;
  }
  kbdterm();
}

// The records of Fill( i ) as JSON lines for qxdb import.
std::string Records(int first, int count) {
  std::string lines;
  for (int i = first; i < first + count; ++i) {
    char line[128];
    std::snprintf(line, sizeof line,
                  R"({"AGE":%d,"NAME":"%c%cx","SAL":%.2f})", (i * 37) % 199 - 99,
                  'A' + i % 23, 'a' + (i * 7) % 5,
                  (i * 7919) % 100000 - 50000 + ((i * 13) % 100) / 100.0);
    lines += std::string(line) + "\n";
  }
  return lines;
}

TEST(HarbourNtxTest, OurFilesWalkInHarbourAndTakeItsUpkeep) {
  if (!qx::testing::HarbourInstalled())
    GTEST_SKIP() << "Harbour is not installed (make test builds it)";
  TempDir dir;
  const std::string table = dir.File("ht.dbf");
  const std::string filtered = dir.File("fq.dbf");
  for (const std::string& t : {table, filtered})
    Qxdb({"create", t, "--dialect", "dbase3", "--field", "AGE:N:3", "--field",
          "NAME:C:12", "--field", "SAL:N:10:2"});
  Qxdb({"import", table}, Records(1, 2000));
  const std::vector<std::vector<std::string>> builds = {
      {"qage", "AGE"},
      {"qsal", "SAL"},
      {"qk4", "LEFT(NAME,4)"},
      {"qdesc", "NAME", "--descending"},
      {"quniq", "NAME", "--unique"}};
  std::map<std::string, std::vector<uint32_t>> ours;
  for (const auto& b : builds) {
    std::vector<std::string> args = {"index", table, dir.File(b[0] + ".ntx"),
                                     "--expr", b[1]};
    args.insert(args.end(), b.begin() + 2, b.end());
    Qxdb(args);
    ours[b[0]] = OurWalk(dir.File(b[0] + ".ntx"), table);
  }
  EXPECT_EQ(ours["quniq"].size(), 115u);
  // A FOR index made empty: Harbour's appends fill it.
  Qxdb({"index", filtered, dir.File("qfor.ntx"), "--expr", "NAME", "--for",
        "AGE > 0"});

  const std::string prg = std::string(R"(
REQUEST DBFNTX
PROCEDURE Main()
   LOCAL i
   rddSetDefault( "DBFNTX" )
   USE ht SHARED
   SET INDEX TO qage, qsal, qk4, qdesc, quniq
   Walks( "B" )
   dbCloseAll()
   Maintain( { "qage", "qsal", "qk4", "qdesc", "quniq" }, 7000 )
   USE fq EXCLUSIVE
   SET INDEX TO qfor
   FOR i := 1 TO 500
      dbAppend()
      Fill( i )
   NEXT
   dbCloseAll()
   USE ht SHARED
   SET INDEX TO qage, qsal, qk4, qdesc, quniq
   Walks( "A" )
   dbCloseAll()
   USE fq SHARED
   SET INDEX TO qfor
   Walks( "A" )
   dbCloseAll()
RETURN
)") + kWalksPrg;
  std::string out;
  ASSERT_EQ(qx::testing::RunHarbour(dir.path(), "ours", prg, &out), 0) << out;
  const std::map<std::string, HarbourWalk> before = Walks(out, "B");
  const std::map<std::string, HarbourWalk> after = Walks(out, "A");
  for (const auto& b : builds) {
    const std::string& name = b[0];
    SCOPED_TRACE(name);
    ASSERT_EQ(before.count(name), 1u) << out;
    EXPECT_EQ(before.at(name).recnos, ours[name]);
    EXPECT_EQ(before.at(name).count, ours[name].size());
    const std::string index = dir.File(name + ".ntx");
    EXPECT_EQ(Qxdb({"check", table, index}).substr(0, 3), "ok ");
    ASSERT_EQ(after.count(name), 1u) << out;
    EXPECT_EQ(OurWalk(index, table), after.at(name).recnos);
  }
  EXPECT_EQ(Qxdb({"check", filtered, dir.File("qfor.ntx")}).substr(0, 3),
            "ok ");
  ASSERT_EQ(after.count("qfor"), 1u) << out;
  EXPECT_EQ(OurWalk(dir.File("qfor.ntx"), filtered), after.at("qfor").recnos);
  EXPECT_LT(after.at("qfor").count, 500u);
}

}  // namespace
}  // namespace qx::qxdb
