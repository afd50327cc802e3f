// CDX files both ways between qxdb and Harbour's DBFCDX driver, which
// writes them as the FoxPro programs do: files Harbour builds and then
// maintains (appends, updates, deletes) walk, seek and check cleanly here;
// files qxdb builds open in Harbour, walk in the same order, count the
// same, seek the same and take Harbour's changes, after which `qxdb check`
// passes and both walk alike. The records cross every kind of key of the
// issue: text with duplicates and prefixes, UPPER(), a concatenation,
// numbers with negatives and decimals, dates from 0100 to 9999 (many
// before 1900-03-01, some before 1582) and empty dates; tags ascending,
// descending, unique and filtered.
//
// Skipped (with a message) when the Harbour peer is not built.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/dates/date_format.h"
#include "host/qxdb/cli.h"
#include "qx/engine.h"
#include "tests/interop/harbour_support_fox.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

using qx::testing::HarbourProgram;
using qx::testing::OutputLines;

// make N: hb.dbf with N records and its tags, then Update. walk T: every
// tag of T as "TAG name count recno...". seek T: each line of seeks.txt
// (tag, type, value) with the exact and the soft dbSeek's record ("-" not
// found, "eof"). update T: appends, updates and deletes, shared.
// Fill(i) sets the record from i; the C++ side makes the same records.
constexpr char kProgram[] = R"(REQUEST DBFCDX
PROCEDURE Main( cMode, cArg )
   rddSetDefault( "DBFCDX" )
   DO CASE
   CASE cMode == "make"
      DoMake( Val( cArg ) )
   CASE cMode == "walk"
      DoWalk( cArg )
   CASE cMode == "seek"
      DoSeek( cArg )
   CASE cMode == "update"
      DoUpdate( cArg )
   ENDCASE
RETURN

STATIC PROCEDURE Fill( i )
   FIELD->NAME := Chr( 65 + i % 23 ) + Chr( 97 + ( i * 7 ) % 19 ) + hb_ntos( i % 97 )
   FIELD->AGE := ( ( i * 37 ) % 2001 - 1000 ) / 10
   IF i % 11 == 0
      FIELD->BIRTH := hb_SToD( "" )
   ELSEIF i % 3 == 0
      FIELD->BIRTH := hb_SToD( "18990101" ) + i % 800
   ELSE
      FIELD->BIRTH := hb_SToD( "01000101" ) + ( i * 7919 ) % 3615899
   ENDIF
RETURN

STATIC PROCEDURE DoMake( n )
   LOCAL i
   dbCreate( "hb", { { "NAME", "C", 12, 0 }, { "AGE", "N", 7, 1 }, { "BIRTH", "D", 8, 0 } } )
   USE hb EXCLUSIVE
   FOR i := 1 TO n
      dbAppend()
      Fill( i )
   NEXT
   INDEX ON NAME TAG NAME
   INDEX ON UPPER( NAME ) TAG UNAME
   INDEX ON NAME TAG NAMED DESCENDING
   INDEX ON NAME TAG NAMEU UNIQUE
   INDEX ON NAME TAG NAMEF FOR AGE > 0
   INDEX ON BIRTH TAG BIRTH
   INDEX ON BIRTH TAG BIRTHD DESCENDING
   INDEX ON AGE TAG AGE
   INDEX ON AGE TAG AGED DESCENDING
   INDEX ON NAME + DTOS( BIRTH ) TAG CONCAT
   dbCloseAll()
   DoUpdate( "hb" )
RETURN

STATIC PROCEDURE DoUpdate( t )
   LOCAL i, n
   USE ( t ) SHARED
   n := LastRec()
   FOR i := 1 TO 200
      dbAppend()
      Fill( n + i * 13 )
      dbUnlock()
   NEXT
   FOR i := 5 TO n STEP 7
      dbGoto( i )
      IF dbRLock()
         Fill( i * 31 + 5 )
         dbUnlock()
      ENDIF
   NEXT
   FOR i := 3 TO n STEP 13
      dbGoto( i )
      IF dbRLock()
         dbDelete()
         dbUnlock()
      ENDIF
   NEXT
   dbCloseAll()
RETURN

STATIC PROCEDURE DoWalk( t )
   LOCAL i, c
   USE ( t ) SHARED
   FOR i := 1 TO ordCount()
      ordSetFocus( i )
      c := ""
      dbGoTop()
      DO WHILE ! Eof()
         c += " " + hb_ntos( RecNo() )
         dbSkip()
      ENDDO
      OutStd( "TAG " + ordName() + " " + hb_ntos( ordKeyCount() ) + c + hb_eol() )
   NEXT
   dbCloseAll()
RETURN

STATIC PROCEDURE DoSeek( t )
   LOCAL c, b, v, r, s
   USE ( t ) SHARED
   FOR EACH c IN hb_ATokens( hb_MemoRead( "seeks.txt" ), Chr( 10 ) )
      IF Empty( c )
         LOOP
      ENDIF
      b := hb_ATokens( c, Chr( 9 ) )
      ordSetFocus( b[ 1 ] )
      DO CASE
      CASE b[ 2 ] == "C"
         v := b[ 3 ]
      CASE b[ 2 ] == "D"
         v := hb_SToD( b[ 3 ] )
      OTHERWISE
         v := Val( b[ 3 ] )
      ENDCASE
      dbSeek( v, .F. )
      r := iif( Found(), hb_ntos( RecNo() ), "-" )
      dbSeek( v, .T. )
      s := iif( Eof(), "eof", hb_ntos( RecNo() ) )
      OutStd( c + Chr( 9 ) + r + Chr( 9 ) + s + hb_eol() )
   NEXT
   dbCloseAll()
RETURN
)";

constexpr int kRecords = 3000;

struct Tool {
  int rc;
  std::string out, err;
};

Tool Qxdb(const std::vector<std::string>& args, const std::string& input = "") {
  std::ostringstream out, err;
  std::istringstream in(input);
  int rc = RunQxdb(args, out, err, in);
  return {rc, out.str(), err.str()};
}

// The record Fill(i) of the Harbour program makes, as a qxdb import line.
std::string RecordLine(int i) {
  char line[160];
  const int tenths = (i * 37) % 2001 - 1000;
  std::string name = std::string(1, static_cast<char>('A' + i % 23)) +
                     static_cast<char>('a' + (i * 7) % 19) +
                     std::to_string(i % 97);
  std::snprintf(line, sizeof line, R"({"NAME":"%s","AGE":%s%d.%d)",
                name.c_str(), tenths < 0 ? "-" : "", std::abs(tenths) / 10,
                std::abs(tenths) % 10);
  std::string json = line;
  if (i % 11 != 0) {
    const int32_t day =
        i % 3 == 0 ? engine::DateToJulianDay(1899, 1, 1) + i % 800
                   : engine::DateToJulianDay(100, 1, 1) + (i * 7919) % 3615899;
    int y = 0, m = 0, d = 0;
    EXPECT_EQ(engine::JulianDayToDate(&y, &m, &d, day), kKbdOk);
    std::snprintf(line, sizeof line, R"(,"BIRTH":"%04d%02d%02d")", y, m, d);
    json += line;
  }
  return json + "}\n";
}

// Tag name -> Harbour's key count and walk ("count recno recno ...").
std::map<std::string, std::string> HarbourWalks(const HarbourProgram& hb,
                                                const std::string& table) {
  std::string out;
  EXPECT_EQ(hb.Run({"walk", table}, &out), 0) << out;
  std::map<std::string, std::string> walks;
  for (const std::string& line : OutputLines(out)) {
    if (line.compare(0, 4, "TAG ") != 0) continue;
    const std::size_t space = line.find(' ', 4);
    walks[line.substr(4, space - 4)] = line.substr(space + 1);
  }
  return walks;
}

// Our walk of a tag in the same form: the key count, then the records.
std::string OurWalk(const std::string& cdx, const std::string& tag) {
  Tool keys = Qxdb({"keys", cdx, "--tag", tag});
  EXPECT_EQ(keys.rc, 0) << keys.err;
  std::vector<std::string> lines = OutputLines(keys.out);
  std::string walk = std::to_string(lines.size());
  for (const std::string& line : lines)
    walk += " " + line.substr(0, line.find('\t'));
  return walk;
}

// Both sides walk every tag alike, and qxdb checks each cleanly and
// without a warning.
void ExpectSameWalksAndCleanChecks(const HarbourProgram& hb,
                                   const std::string& table,
                                   const std::string& cdx,
                                   const std::vector<std::string>& tags) {
  std::map<std::string, std::string> theirs = HarbourWalks(hb, "t");
  ASSERT_EQ(theirs.size(), tags.size());
  for (const std::string& tag : tags) {
    SCOPED_TRACE("tag " + tag);
    ASSERT_TRUE(theirs.contains(tag));
    EXPECT_EQ(OurWalk(cdx, tag), theirs[tag]);
    Tool check = Qxdb({"check", table, cdx, "--tag", tag});
    EXPECT_EQ(check.rc, 0) << check.out << check.err;
    EXPECT_EQ(check.out.compare(0, 3, "ok "), 0) << check.out;
    EXPECT_EQ(check.err, "");
  }
}

// Seeks for the tags of the program: values held by records (text
// prefixes too), values between and beyond them, the empty date, and the
// dates around 1900-03-01.
std::string SeekLines() {
  std::string lines;
  auto add = [&](const char* tag, char type, const std::string& value) {
    lines += std::string(tag) + "\t" + type + "\t" + value + "\n";
  };
  for (int i : {1, 17, 404, 1234, 2999}) {
    const std::string name = std::string(1, static_cast<char>('A' + i % 23)) +
                             static_cast<char>('a' + (i * 7) % 19) +
                             std::to_string(i % 97);
    for (const char* tag : {"NAME", "NAMED", "NAMEU", "NAMEF", "CONCAT"}) {
      add(tag, 'C', name);
      add(tag, 'C', name.substr(0, 2));
      add(tag, 'C', name + "~");
    }
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    add("UNAME", 'C', upper);
    add("UNAME", 'C', upper.substr(0, 1));
  }
  for (const char* tag : {"NAME", "NAMED", "NAMEF"}) {
    for (const char* value : {"0", "A", "Zz", "~", "Ma", "Mb"}) add(tag, 'C', value);
  }
  for (const char* tag : {"BIRTH", "BIRTHD"}) {
    for (const char* value :
         {"", "01000101", "00990101", "99991231", "18990101", "18990315",
          "18991231", "19000101", "19000228", "19000301", "15821004",
          "15821015", "20240229"})
      add(tag, 'D', value);
  }
  for (const char* tag : {"AGE", "AGED"}) {
    for (const char* value :
         {"-100", "-99.9", "-3.5", "-0.05", "0", "0.1", "7", "100", "-1000",
          "1000"})
      add(tag, 'N', value);
  }
  return lines;
}

// Our answers to the seeks in Harbour's form: the record of an exact
// find ("-" when none) and where the same find leaves a soft seek ("eof"
// past the walk's end).
std::string OurSeeks(const std::string& cdx, const std::string& lines) {
  EXPECT_EQ(kbdinit(32767, 4), kKbdOk);
  int16_t h = kKbdNoHandle;
  EXPECT_EQ(kbdcopenx(&h, cdx.c_str(), 0), kKbdOk);
  std::string answers;
  for (const std::string& line : OutputLines(lines)) {
    std::vector<std::string> part;
    std::istringstream fields(line);
    for (std::string f; std::getline(fields, f, '\t');) part.push_back(f);
    part.resize(3);
    int32_t tag = -1;
    kbdseterror(0);
    EXPECT_EQ(kbdctagopen(&tag, h, part[0].c_str()), kKbdOk) << part[0];
    const char type = part[1][0];
    EXPECT_EQ(kbdckeytype(tag, static_cast<uint16_t>(type)), kKbdOk);
    char key[64] = {};
    if (type == 'C') {
      std::snprintf(key, sizeof key, "%s", part[2].c_str());
    } else if (type == 'D') {
      EXPECT_EQ(kbdcdatekey(key, part[2].empty() ? "        " : part[2].c_str()),
                kKbdOk);
    } else {
      EXPECT_EQ(kbdcnumkey(key, std::stod(part[2])), kKbdOk);
    }
    uint32_t recno = 0;
    const int16_t status = kbdcfind(tag, key, &recno, kKbdCdxFirstNotBelow);
    const bool positioned = status == kKbdOk || status == kKbdKeyNotFound;
    answers += line + "\t" + (status == kKbdOk ? std::to_string(recno) : "-") +
               "\t" + (positioned ? std::to_string(recno) : "eof") + "\n";
    kbdseterror(0);
    EXPECT_EQ(kbdctagclose(tag), kKbdOk);
  }
  EXPECT_EQ(kbdcclose(h), kKbdOk);
  kbdterm();
  return answers;
}

const std::vector<std::string> kHarbourTags = {
    "AGE",   "AGED",  "BIRTH", "BIRTHD", "CONCAT",
    "NAME",  "NAMED", "NAMEF", "NAMEU",  "UNAME"};

class HarbourCdxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qx::testing::HarbourAvailable())
      GTEST_SKIP() << "Harbour is not built (" << qx::testing::kHarbourMake
                   << " missing): tools/install-peers.sh builds it";
    std::string log;
    ASSERT_TRUE(hb_.Compile(dir_.path(), "hbcdx", kProgram, &log)) << log;
  }

  qx::testing::TempDir dir_;
  HarbourProgram hb_;
};

TEST_F(HarbourCdxTest, HarbourFilesWalkSeekAndCheckHere) {
  std::string out;
  ASSERT_EQ(hb_.Run({"make", std::to_string(kRecords)}, &out), 0) << out;
  const std::string table = dir_.File("hb.dbf");
  const std::string cdx = dir_.File("hb.cdx");
  // (One-letter aliases A..J name work areas in Harbour: hence "hb".)
  std::map<std::string, std::string> theirs = HarbourWalks(hb_, "hb");
  ASSERT_EQ(theirs.size(), kHarbourTags.size());
  for (const std::string& tag : kHarbourTags) {
    SCOPED_TRACE("tag " + tag);
    EXPECT_EQ(OurWalk(cdx, tag), theirs[tag]);
    Tool check = Qxdb({"check", table, cdx, "--tag", tag});
    EXPECT_EQ(check.rc, 0) << check.out << check.err;
    EXPECT_EQ(check.err, "");
  }
  // Every tag's header as Harbour writes it reads back here.
  Tool info = Qxdb({"info", cdx});
  EXPECT_NE(info.out.find(R"({"name":"NAMED","expression":"NAME","key_length":12,)"
                          R"("key_type":"C","unique":false,"descending":true})"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find(R"("for":"AGE>0")"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find(R"({"name":"NAMEU","expression":"NAME","key_length":12,)"
                          R"("key_type":"C","unique":true,"descending":false})"),
            std::string::npos)
      << info.out;

  const std::string seeks = SeekLines();
  qx::testing::WriteWholeFile(dir_.File("seeks.txt"), seeks);
  ASSERT_EQ(hb_.Run({"seek", "hb"}, &out), 0) << out;
  EXPECT_EQ(OurSeeks(cdx, seeks), out);
}

TEST_F(HarbourCdxTest, OurFilesWorkInHarbour) {
  const std::string table = dir_.File("t.dbf");
  const std::string cdx = dir_.File("t.cdx");
  ASSERT_EQ(Qxdb({"create", table, "--dialect", "foxpro2", "--field",
                  "NAME:C:12", "--field", "AGE:N:7:1", "--field", "BIRTH:D:8"})
                .rc,
            0);
  std::string records;
  for (int i = 1; i <= kRecords; ++i) records += RecordLine(i);
  Tool import = Qxdb({"import", table, "--no-sync"}, records);
  ASSERT_EQ(import.rc, 0) << import.err;
  struct TagDefinition {
    const char* name;
    const char* expression;
    std::vector<std::string> flags;
  };
  const TagDefinition tags[] = {
      {"NAME", "NAME", {}},
      {"UNAME", "UPPER(NAME)", {}},
      {"NAMED", "NAME", {"--descending"}},
      {"NAMEU", "NAME", {"--unique"}},
      {"NAMEF", "NAME", {"--for", "AGE > 0"}},
      {"BIRTH", "BIRTH", {}},
      {"BIRTHD", "BIRTH", {"--descending"}},
      {"AGE", "AGE", {}},
      {"AGED", "AGE", {"--descending"}},
      {"CONCAT", "NAME+DTOS(BIRTH)", {}},
  };
  std::vector<std::string> names;
  for (const TagDefinition& t : tags) {
    std::vector<std::string> args = {"index", table,  cdx,    "--expr",
                                     t.expression, "--tag", t.name, "--no-sync"};
    args.insert(args.end(), t.flags.begin(), t.flags.end());
    Tool built = Qxdb(args);
    ASSERT_EQ(built.rc, 0) << t.name << built.err;
    names.push_back(t.name);
  }
  std::sort(names.begin(), names.end());
  {
    SCOPED_TRACE("as built");
    ExpectSameWalksAndCleanChecks(hb_, table, cdx, names);
  }
  const std::string seeks = SeekLines();
  qx::testing::WriteWholeFile(dir_.File("seeks.txt"), seeks);
  std::string out;
  ASSERT_EQ(hb_.Run({"seek", "t"}, &out), 0) << out;
  EXPECT_EQ(OurSeeks(cdx, seeks), out);

  // Harbour's appends, updates and deletes through every tag.
  ASSERT_EQ(hb_.Run({"update", "t"}, &out), 0) << out;
  {
    SCOPED_TRACE("after Harbour's changes");
    ExpectSameWalksAndCleanChecks(hb_, table, cdx, names);
  }
}

}  // namespace
}  // namespace qx::qxdb
