// NTX and CDX files between qxdb and Harbour, both ways, with a few
// thousand records and every kind of key the Clipper and FoxPro families
// write: text, UPPER() and concatenations, numbers with negatives, dates
// with empty and pre-1900 values, descending, unique and FOR indexes, and
// the functions real key expressions use.
//
// Harbour writes: its program (harbour/hbxbase.prg) builds the indexes,
// then appends, updates, deletes and recalls with every index open. Each
// index must then check cleanly in qxdb, walk in Harbour's order and seek
// the same records, exactly and softly (a value just past a key: the
// descending orders show where such a seek lands).
//
// qxdb writes: qxdb creates the table, imports the records and builds the
// same indexes; Harbour opens them (shared, locking what it changes),
// walks, counts and seeks (all as qxdb does), then maintains them;
// afterwards qxdb's check passes and both walk alike.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/qxdb/cli.h"
#include "host/qxdb/json.h"
#include "tests/interop/harbour_peer.h"
#include "tests/interop/qxdb_run.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

using qx::testing::HarbourPeer;

// One index: an NTX file's base name or a CDX tag name, its key
// expression, "U" unique and/or "D" descending ("-" neither), and a FOR
// condition ("" none).
struct IndexCase {
  const char* name;
  const char* expr;
  const char* flags;
  const char* for_expr;
  bool seek;  // its keys can be sought through qxdb's command line
};

// Keys of the Clipper family: STR() of a field takes the field's width
// there, and Harbour evaluates Clipper's functions.
const IndexCase kNtxIndexes[] = {
    {"name", "NAME", "-", "", true},
    {"upcode", "UPPER(NAME)+CODE", "-", "", true},
    {"age", "AGE", "-", "", true},
    {"sal", "SAL", "-", "", true},
    {"birth", "BIRTH", "-", "", true},
    {"dname", "DTOS(BIRTH)+NAME", "-", "", true},
    {"named", "NAME", "D", "", true},
    {"sald", "SAL", "D", "", true},
    {"codeu", "CODE", "U", "", true},
    {"namef", "NAME", "-", "AGE > 50", true},
    {"codeuf", "CODE", "UD", "SAL < 0 .AND. !EMPTY(BIRTH)", true},
    {"strsal", "STR(SAL)", "-", "", true},
    {"yname", "STR(YEAR(BIRTH),4)+NAME", "-", "", true},
    {"iifname", "IIF(AGE>100,\"A\",\"B\")+NAME", "-", "", true},
    {"descn", "DESCEND(NAME)", "-", "", false},
    {"zage", "STRZERO(AGE,5)", "-", "", true},
    {"md", "STR(MONTH(BIRTH),2)+STR(DAY(BIRTH),2)", "-", "", true},
};

// Keys of the FoxPro family (CDX tags; STR() always with a width, since
// Harbour's STR() without one follows Clipper, not FoxPro).
const IndexCase kCdxIndexes[] = {
    {"NAME", "NAME", "-", "", true},
    {"UPCODE", "UPPER(NAME)+CODE", "-", "", true},
    {"AGE", "AGE", "-", "", true},
    {"SAL", "SAL", "-", "", true},
    {"BIRTH", "BIRTH", "-", "", true},
    {"DNAME", "DTOS(BIRTH)+NAME", "-", "", true},
    {"NAMED", "NAME", "D", "", true},
    {"BIRTHD", "BIRTH", "D", "", true},
    {"CODEU", "CODE", "U", "", true},
    {"NAMEF", "NAME", "-", "AGE > 50", true},
    {"CODEUF", "CODE", "UD", "SAL < 0 .AND. !EMPTY(BIRTH)", true},
    {"STRSAL", "STR(SAL,10,2)", "-", "", true},
    {"YNAME", "STR(YEAR(BIRTH),4)+NAME", "-", "", true},
    {"IIFNAME", "IIF(AGE>100,\"A\",\"B\")+NAME", "-", "", true},
    {"MD", "STR(MONTH(BIRTH),2)+STR(DAY(BIRTH),2)", "D", "", true},
};

struct Family {
  const char* label;
  const char* rdd;
  const char* dialect;
  bool compound;  // tags of t.cdx, else one .ntx file per index
  std::vector<IndexCase> index_cases;
};

void PrintTo(const Family& family, std::ostream* out) { *out << family.label; }

const Family kFamilies[] = {
    {"Ntx",
     "DBFNTX",
     "clipper",
     false,
     {std::begin(kNtxIndexes), std::end(kNtxIndexes)}},
    {"Cdx",
     "DBFCDX",
     "foxpro2",
     true,
     {std::begin(kCdxIndexes), std::end(kCdxIndexes)}},
};

// ---- Records

constexpr int kFirstRecords = 2000;

struct Row {
  std::string name, code, birth;
  int age = 0;
  double sal = 0;
};

class Rows {
 public:
  explicit Rows(uint32_t seed) : state_(seed) {}
  Row Next() {
    static const char* kNames[] = {
        "Adams", "adams", "Baker", "Brown",   "Chen",   "Dupont", "Zola",
        "Ng",    "Smith", "smith", "O'Brien", "Martin", "Lee",    "Young"};
    Row r;
    r.name = kNames[Draw() % 14];
    if (Draw() % 3 == 0) r.name += " " + std::to_string(Draw() % 60);
    r.code = "C" + std::to_string(Draw() % 300);
    r.age = static_cast<int>(Draw() % 1099) - 99;
    r.sal = (static_cast<double>(Draw() % 2000001) - 1000000.0) / 100.0;
    if (Draw() % 8 != 0) {
      // Mostly around 1900 (before and after 1900-03-01), some anywhere
      // from 0100 to 9999.
      const uint32_t year =
          Draw() % 25 == 0 ? 100 + Draw() % 9900 : 1850 + Draw() % 250;
      char date[16];
      std::snprintf(date, sizeof date, "%04u%02u%02u", year, 1 + Draw() % 12,
                    1 + Draw() % 28);
      r.birth = date;
    }
    return r;
  }
  uint32_t Draw() {
    state_ = state_ * 1103515245u + 12345u;
    return state_ >> 8;
  }

 private:
  uint32_t state_;
};

std::string DataLine(char op, uint32_t recno, const Row& r) {
  char sal[32];
  std::snprintf(sal, sizeof sal, "%.2f", r.sal);
  return std::string(1, op) + "\t" + std::to_string(recno) + "\t" + r.name +
         "\t" + r.code + "\t" + std::to_string(r.age) + "\t" + sal + "\t" +
         r.birth + "\n";
}

std::string JsonRecord(const Row& r) {
  JsonWriter w;
  w.BeginObject();
  w.Key("NAME");
  w.String(r.name);
  w.Key("CODE");
  w.String(r.code);
  w.Key("AGE");
  w.Int(r.age);
  w.Key("SAL");
  w.Double(r.sal);
  if (!r.birth.empty()) {
    w.Key("BIRTH");
    w.String(r.birth);
  }
  w.EndObject();
  return w.text() + "\n";
}

// The data file for hbxbase: kFirstRecords appends, "=", then appends,
// updates, deletes and recalls mixed. *first gets the first records as
// JSON lines for qxdb import.
std::string MakeData(uint32_t seed, std::string* first) {
  Rows rows(seed);
  std::string data;
  for (int i = 1; i <= kFirstRecords; ++i) {
    Row r = rows.Next();
    data += DataLine('A', 0, r);
    *first += JsonRecord(r);
  }
  data += "=\n";
  uint32_t count = kFirstRecords;
  for (int i = 0; i < 1000; ++i) {
    uint32_t pick = rows.Draw() % 20;
    uint32_t recno = 1 + rows.Draw() % count;
    if (pick < 10) {
      data += DataLine('A', 0, rows.Next());
      ++count;
    } else if (pick < 17) {
      data += DataLine('U', recno, rows.Next());
    } else if (pick < 19) {
      data += DataLine('D', recno, Row());
    } else {
      data += DataLine('R', recno, Row());
    }
  }
  return data;
}

// ---- Harbour's report

struct Seek {
  std::string value;
  bool found = false;
  uint32_t recno = 0;
};

struct Order {
  uint32_t count = 0;
  std::vector<uint32_t> walk;
  std::vector<Seek> seeks;       // exact
  std::vector<Seek> soft_seeks;  // of a value just past a key
};

// Phase -> upper-cased order name -> what Harbour saw.
using Report = std::map<std::string, std::map<std::string, Order>>;

std::string Upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

Report ParseReport(const std::string& text) {
  Report report;
  std::map<std::string, Order>* phase = nullptr;
  Order* order = nullptr;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("R ", 0) == 0) {
      phase = &report[line.substr(2)];
    } else if (line.rfind("O ", 0) == 0 && phase != nullptr) {
      std::istringstream words(line.substr(2));
      std::string name;
      uint32_t count = 0;
      words >> name >> count;
      order = &(*phase)[Upper(name)];
      order->count = count;
    } else if (line.rfind("W", 0) == 0 && order != nullptr) {
      std::istringstream words(line.substr(1));
      uint32_t recno;
      while (words >> recno) order->walk.push_back(recno);
    } else if ((line.rfind("S ", 0) == 0 || line.rfind("F ", 0) == 0) &&
               order != nullptr) {
      size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
      if (tab1 == std::string::npos || tab2 == std::string::npos) continue;
      (line[0] == 'S' ? order->seeks : order->soft_seeks)
          .push_back(
              {line.substr(2, tab1 - 2), line[tab1 + 1] == 'T',
               static_cast<uint32_t>(std::stoul(line.substr(tab2 + 1)))});
    }
  }
  return report;
}

// ---- The test

class HarbourInteropTest : public ::testing::TestWithParam<Family> {
 protected:
  void SetUp() override {
    std::string missing = HarbourPeer::Missing();
    if (!missing.empty()) {
      if (HarbourPeer::Required()) FAIL() << missing;
      GTEST_SKIP() << missing;
    }
    std::string error;
    ASSERT_TRUE(harbour_.Compile(
        qx::testing::SourceDir() + "/tests/interop/harbour/hbxbase.prg",
        &error))
        << error;
    table_ = dir_.File("t.dbf");
    data_ = dir_.File("data.txt");
    indexes_file_ = dir_.File("indexes.txt");
    qx::testing::WriteWholeFile(data_, MakeData(20261206, &first_records_));
    std::string index_cases;
    for (const IndexCase& s : GetParam().index_cases)
      index_cases += std::string(s.name) + "\t" + s.expr + "\t" + s.flags +
                     "\t" + s.for_expr + "\n";
    qx::testing::WriteWholeFile(indexes_file_, index_cases);
  }

  Report RunHarbour(const std::string& job) {
    std::string output;
    int rc = harbour_.Run(dir_.path(),
                          {job, GetParam().rdd, data_, indexes_file_}, &output);
    EXPECT_EQ(rc, 0) << output.substr(0, 2000);
    EXPECT_EQ(output.find("Error"), std::string::npos)
        << output.substr(0, 2000);
    return ParseReport(output);
  }

  // The index file and tag arguments of an index case for qxdb.
  std::vector<std::string> IndexArgs(const IndexCase& s) const {
    if (GetParam().compound) return {dir_.File("t.cdx"), "--tag", s.name};
    return {dir_.File(std::string(s.name) + ".ntx")};
  }

  void Check(const IndexCase& s) {
    std::vector<std::string> args = {"check", table_};
    for (const std::string& a : IndexArgs(s)) args.push_back(a);
    Result r = Qxdb(args);
    EXPECT_EQ(r.rc, 0) << s.name << ": " << r.out.substr(0, 1000) << r.err;
  }

  std::vector<uint32_t> Walk(const IndexCase& s) {
    std::vector<std::string> index = IndexArgs(s);
    std::vector<std::string> args = {"keys", index[0], "--table", table_};
    for (size_t i = 1; i < index.size(); ++i) args.push_back(index[i]);
    Result r = Qxdb(args);
    EXPECT_EQ(r.rc, 0) << s.name << ": " << r.err;
    std::vector<uint32_t> walk;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line))
      walk.push_back(
          static_cast<uint32_t>(std::stoul(line.substr(0, line.find('\t')))));
    return walk;
  }

  // Our seek of each value Harbour sought, exact and soft, lands where
  // Harbour's did.
  void CompareSeeks(const IndexCase& s, const Order& theirs) {
    if (!s.seek) return;
    CompareSeeks(s, theirs.seeks, false);
    CompareSeeks(s, theirs.soft_seeks, true);
  }
  void CompareSeeks(const IndexCase& s, const std::vector<Seek>& seeks,
                    bool soft) {
    for (const Seek& seek : seeks) {
      if (seek.value == "?") continue;
      std::vector<std::string> index = IndexArgs(s);
      std::vector<std::string> args = {"seek", table_, index[0]};
      for (size_t i = 1; i < index.size(); ++i) args.push_back(index[i]);
      if (soft) args.push_back("--soft");
      args.push_back(seek.value);
      Result r = Qxdb(args);
      SCOPED_TRACE(std::string(soft ? "soft seek '" : "seek '") + seek.value +
                   "'");
      ASSERT_NE(r.rc, 2) << r.err;
      EXPECT_EQ(r.rc == 0, seek.found);
      if (r.rc != 0 || !seek.found) continue;
      JsonValue record;
      std::string error;
      ASSERT_TRUE(ParseJson(r.out.substr(0, r.out.find('\n')), &record, &error))
          << error;
      const JsonValue* recno = record.Find("_recno");
      ASSERT_NE(recno, nullptr);
      EXPECT_EQ(static_cast<uint32_t>(recno->number), seek.recno);
    }
  }

  HarbourPeer harbour_;
  qx::testing::TempDir dir_;
  std::string table_, data_, indexes_file_, first_records_;
};

TEST_P(HarbourInteropTest, HarbourWritesQxdbReads) {
  Report report = RunHarbour("make");
  ASSERT_EQ(report.count("maintained"), 1u);
  for (const IndexCase& s : GetParam().index_cases) {
    SCOPED_TRACE(s.name);
    const Order& theirs = report["maintained"][Upper(s.name)];
    ASSERT_FALSE(theirs.walk.empty());
    Check(s);
    EXPECT_EQ(Walk(s), theirs.walk);
    CompareSeeks(s, theirs);
  }
}

TEST_P(HarbourInteropTest, QxdbWritesHarbourReads) {
  const Family& family = GetParam();
  Result r = Qxdb({"create", table_, "--dialect", family.dialect, "--field",
                   "NAME:C:20", "--field", "CODE:C:6", "--field", "AGE:N:3",
                   "--field", "SAL:N:10:2", "--field", "BIRTH:D:8"});
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Qxdb({"import", table_}, first_records_);
  ASSERT_EQ(r.rc, 0) << r.err;
  std::map<std::string, std::vector<uint32_t>> ours;
  for (const IndexCase& s : family.index_cases) {
    std::vector<std::string> index = IndexArgs(s);
    std::vector<std::string> args = {"index", table_, index[0], "--expr",
                                     s.expr};
    for (size_t i = 1; i < index.size(); ++i) args.push_back(index[i]);
    if (std::string(s.flags).find('U') != std::string::npos)
      args.push_back("--unique");
    if (std::string(s.flags).find('D') != std::string::npos)
      args.push_back("--descending");
    if (*s.for_expr != '\0') {
      args.push_back("--for");
      args.push_back(s.for_expr);
    }
    r = Qxdb(args);
    ASSERT_EQ(r.rc, 0) << s.name << ": " << r.err;
    ours[s.name] = Walk(s);
  }

  Report report = RunHarbour("use");
  ASSERT_EQ(report.count("read"), 1u);
  ASSERT_EQ(report.count("maintained"), 1u);
  for (const IndexCase& s : family.index_cases) {
    SCOPED_TRACE(s.name);
    const Order& read = report["read"][Upper(s.name)];
    EXPECT_EQ(read.walk, ours[s.name]);
    EXPECT_EQ(read.count, ours[s.name].size());
    // Harbour sought before it changed anything, as our files stood.
    const Order& maintained = report["maintained"][Upper(s.name)];
    ASSERT_FALSE(maintained.walk.empty());
    Check(s);
    EXPECT_EQ(Walk(s), maintained.walk);
    CompareSeeks(s, maintained);
  }
}

INSTANTIATE_TEST_SUITE_P(Families, HarbourInteropTest,
                         ::testing::ValuesIn(kFamilies),
                         [](const auto& param_info) {
                           return std::string(param_info.param.label);
                         });

}  // namespace
}  // namespace qx::qxdb
