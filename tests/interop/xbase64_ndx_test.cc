// NDX files between qxdb and a peer library, Xbase64 3.1.2: small indexes
// built by `qxdb index` walk in the same record order under the peer, and
// the indexes the peer builds pass `qxdb check` and walk under `qxdb keys`
// in the peer's own order.
//
// What the peer can be trusted with decides the cases. Its trees come out
// corrupt beyond a few thousand keys, so the tables hold a few hundred
// records (enough for trees of two levels, with runs of equal keys that
// cross pages). It places NDX entries and pages by rules of its own, not
// by the header, so the character keys have lengths where its rules and
// the header agree:
//   - it lays entries out with a stride of key length + 8 whatever entry
//     size the header gives, so it misreads NDX files whose key length is
//     not a multiple of 4 (ours and its own alike);
//   - it reads pages of 1,024 bytes from a file whose keys per page times
//     entry size come to 500 bytes or more, which our files (keys per page
//     504 / entry size, as dBASE writes it) do for key lengths 4, 12, 16,
//     20, 28, 48, 64, 76 and 92 (its own files stay below 500).
// So the keys are 24 and 8 bytes long, and numeric. Date keys are left
// out both ways: the peer keys dates as 8-character text, where dBASE (and
// we) store the day number as a double, so neither side's date index is
// the other's.
//
// The peer needs the shims of bench/xbase64_shims.h to read record
// counts and record numbers right and to create tables.
#include <gtest/gtest.h>
#include <xbase64/xbase64.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/xbase64_shims.h"
#include "host/qxdb/cli.h"
#include "host/qxdb/json.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

constexpr int kRecords = 300;

// NAME C(24), CODE C(8), CITY C(15), SALARY N(10,2), BIRTH D.
xbSchema kSchema[] = {
    {"NAME", XB_CHAR_FLD, 24, 0}, {"CODE", XB_CHAR_FLD, 8, 0},
    {"CITY", XB_CHAR_FLD, 15, 0}, {"SALARY", XB_NUMERIC_FLD, 10, 2},
    {"BIRTH", XB_DATE_FLD, 8, 0}, {"", 0, 0, 0}};

struct Record {
  std::string name, code, city;
  double salary;
  std::string birth;
};

// Deterministic records: few distinct names (runs of equal keys longer
// than a page), codes mostly distinct, salaries with negatives, zero and
// repeats.
std::vector<Record> MakeRecords() {
  static const char* const kNames[] = {"MUELLER", "SCHMIDT", "WEBER",
                                       "ZIMMERMANN ANNA", "BECKER"};
  static const char* const kCities[] = {"BERLIN",   "HAMBURG", "KOELN",
                                        "MUENCHEN", "BONN",    "ESSEN"};
  std::vector<Record> records;
  uint32_t state = 12345;
  auto next = [&state](uint32_t bound) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % bound;
  };
  for (int i = 0; i < kRecords; ++i) {
    Record r;
    r.name = kNames[next(5)];
    char code[9];
    std::snprintf(code, sizeof code, "C%05u", next(100000));
    r.code = code;
    r.city = kCities[next(6)];
    r.salary = (static_cast<double>(next(400000)) - 100000.0) / 100.0;
    if (i % 17 == 0) r.salary = 0;
    char birth[9];
    std::snprintf(birth, sizeof birth, "%04u%02u%02u", 1950 + next(50),
                  1 + next(12), 1 + next(28));
    r.birth = birth;
    records.push_back(r);
  }
  return records;
}

int RunTool(const std::vector<std::string>& args, const std::string& input,
            std::string* out, std::string* err) {
  std::ostringstream o, e;
  std::istringstream in(input);
  int rc = RunQxdb(args, o, e, in);
  *out = o.str();
  *err = e.str();
  return rc;
}

// The record numbers `qxdb keys` lists, in its order.
std::vector<uint32_t> QxdbWalk(const std::string& index) {
  std::string out, err;
  EXPECT_EQ(RunTool({"keys", index}, "", &out, &err), kExitOk) << err;
  std::vector<uint32_t> recnos;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line))
    recnos.push_back(static_cast<uint32_t>(std::stoul(line)));
  return recnos;
}

// The record numbers the peer visits walking the index from its first
// key (each GetNextKey reads the record).
std::vector<uint32_t> PeerWalk(const std::string& table,
                               const std::string& index) {
  std::vector<uint32_t> recnos;
  xbXBase base;
  xbDbf dbf(&base);
  EXPECT_EQ(dbf.OpenDatabase(table.c_str()), XB_NO_ERROR) << table;
  xbNdx ndx(&dbf);
  EXPECT_EQ(ndx.OpenIndex(index.c_str()), XB_NO_ERROR) << index;
  xbShort rc = ndx.GetFirstKey();
  for (; rc == XB_NO_ERROR; rc = ndx.GetNextKey())
    recnos.push_back(static_cast<uint32_t>(dbf.GetCurRecNo()));
  EXPECT_EQ(rc, XB_EOF) << index;
  dbf.CloseDatabase();
  return recnos;
}

TEST(Xbase64NdxTest, OurIndexesWalkInTheSameOrderUnderThePeer) {
  qx::testing::TempDir dir;
  const std::string table = dir.File("people.dbf");
  std::string out, err;
  ASSERT_EQ(RunTool({"create", table, "--dialect", "dbase3", "--field",
                     "NAME:C:24", "--field", "CODE:C:8", "--field", "CITY:C:15",
                     "--field", "SALARY:N:10:2", "--field", "BIRTH:D:8"},
                    "", &out, &err),
            kExitOk)
      << err;
  std::string input;
  for (const Record& r : MakeRecords()) {
    JsonWriter w;
    w.BeginObject();
    w.Key("NAME");
    w.String(r.name);
    w.Key("CODE");
    w.String(r.code);
    w.Key("CITY");
    w.String(r.city);
    w.Key("SALARY");
    w.Double(r.salary);
    w.Key("BIRTH");
    w.String(r.birth);
    w.EndObject();
    input += w.text() + "\n";
  }
  ASSERT_EQ(RunTool({"import", table, "--no-sync"}, input, &out, &err), kExitOk)
      << err;
  // Character keys of 24 and 8 bytes and a numeric key.
  for (const char* field : {"NAME", "CODE", "SALARY"}) {
    SCOPED_TRACE(field);
    const std::string index = dir.File(std::string(field) + ".ndx");
    ASSERT_EQ(RunTool({"index", table, index, "--expr", field}, "", &out, &err),
              kExitOk)
        << err;
    std::vector<uint32_t> ours = QxdbWalk(index);
    ASSERT_EQ(ours.size(), static_cast<size_t>(kRecords));
    EXPECT_EQ(PeerWalk(table, index), ours);
  }
}

TEST(Xbase64NdxTest, PeerIndexesPassCheckAndWalkInThePeersOrder) {
  qx::testing::TempDir dir;
  const std::string table = dir.File("PEER.DBF");
  std::string error;
  ASSERT_TRUE(qx::bench::CreateXbaseTable(table, kSchema, &error)) << error;
  // The same keys, kept by the peer while it appends, one key at a time.
  const char* fields[] = {"NAME", "CODE", "SALARY"};
  {
    xbXBase base;
    xbDbf dbf(&base);
    ASSERT_EQ(dbf.OpenDatabase(table.c_str()), XB_NO_ERROR);
    std::unique_ptr<xbNdx> indexes[std::size(fields)];
    for (size_t i = 0; i < std::size(fields); ++i) {
      std::string index = dir.File(std::string(fields[i]) + ".NDX");
      indexes[i] = std::make_unique<xbNdx>(&dbf);
      ASSERT_EQ(indexes[i]->CreateIndex(index.c_str(), fields[i], XB_NOT_UNIQUE,
                                        XB_OVERLAY),
                XB_NO_ERROR)
          << index;
    }
    dbf.BlankRecord();
    for (const Record& r : MakeRecords()) {
      dbf.PutField(xbShort{0}, r.name.c_str());
      dbf.PutField(xbShort{1}, r.code.c_str());
      dbf.PutField(xbShort{2}, r.city.c_str());
      dbf.PutDoubleField(xbShort{3}, r.salary);
      dbf.PutField(xbShort{4}, r.birth.c_str());
      ASSERT_EQ(dbf.AppendRecord(), XB_NO_ERROR);
    }
    dbf.CloseDatabase();
  }
  for (const char* field : fields) {
    SCOPED_TRACE(field);
    const std::string index = dir.File(std::string(field) + ".NDX");
    std::string out, err;
    // The peer's file first has to be sound.
    ASSERT_EQ(RunTool({"check", table, index}, "", &out, &err), kExitOk)
        << out << err;
    EXPECT_EQ(out, "ok " + std::to_string(kRecords) + " keys\n");
    std::vector<uint32_t> peer = PeerWalk(table, index);
    ASSERT_EQ(peer.size(), static_cast<size_t>(kRecords));
    EXPECT_EQ(QxdbWalk(index), peer);
  }
}

}  // namespace
}  // namespace qx::qxdb
