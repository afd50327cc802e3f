// Files written by qxdb are read back by the peer readers: python3-dbfread
// and Perl XBase. Both must find exactly the values we wrote.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "host/qxdb/cli.h"
#include "host/qxdb/json.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

// Values chosen to cross every field kind the three families share: text
// with 1252 letters, blanks, decimals, negative numbers, dates, logicals,
// memos short and multi-block, and an empty memo.
const char* kRecords[] = {
    R"({"NAME":"Ada Lovelace","AMOUNT":1843.5,"QTY":36,"BIRTH":"18151210","OK":true,"NOTES":"Analytical\r\nEngine"})",
    R"({"NAME":"Émile Zola","AMOUNT":-12.25,"QTY":-7,"BIRTH":"18400402","OK":false,"NOTES":"J'accuse"})",
    R"({"NAME":"","AMOUNT":0,"QTY":0,"BIRTH":"20240229","OK":true,"NOTES":""})",
};

std::string LongMemo() {
  std::string s;
  for (int i = 0; i < 300; ++i)
    s += "line " + std::to_string(i) + " of a long memo. ";
  return s;
}

int Qxdb(const std::vector<std::string>& args, const std::string& input = "") {
  std::ostringstream out, err;
  std::istringstream in(input);
  int rc = RunQxdb(args, out, err, in);
  EXPECT_EQ(rc, 0) << err.str();
  return rc;
}

// Builds TABLE with the records above plus one with a long memo.
std::string MakeTable(const qx::testing::TempDir& dir,
                      const std::string& dialect) {
  // dBASE IV memo headers hold a base name of at most 8 characters.
  std::string table = dir.File("p_" + dialect.substr(0, 6) + ".dbf");
  Qxdb({"create", table, "--dialect", dialect, "--field", "NAME:C:20",
        "--field", "AMOUNT:N:10:2", "--field", "QTY:N:4", "--field",
        "BIRTH:D:8", "--field", "OK:L:1", "--field", "NOTES:M:10"});
  std::string input;
  for (const char* r : kRecords) input += std::string(r) + "\n";
  JsonWriter w;
  w.BeginObject();
  w.Key("NAME");
  w.String("Long");
  w.Key("NOTES");
  w.String(LongMemo());
  w.EndObject();
  input += w.text() + "\n";
  Qxdb({"import", table}, input);
  return table;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// One line per record: NAME|AMOUNT|QTY|BIRTH|OK|NOTES, as each peer
// prints them (dates as YYYYMMDD, numbers as the shortest decimal text).
std::string Expected(std::size_t i) {
  const char* lines[] = {
      "Ada Lovelace|1843.5|36|18151210|1|Analytical\\r\\nEngine",
      "Émile Zola|-12.25|-7|18400402|0|J'accuse",
      "|0|0|20240229|1|",
  };
  if (i < 3) return lines[i];
  return "Long|||||" + LongMemo();
}

TEST(PeersTest, DbfreadReadsWhatWeWrite) {
  if (!qx::testing::LinuxPeersRunnable()) {
    GTEST_SKIP() << qx::testing::kNoLinuxPeers;
  }
  std::string probe;
  if (qx::testing::RunCommand("/usr/bin/python3 -c 'import dbfread' 2>&1",
                              &probe) != 0)
    GTEST_SKIP()
        << "python3-dbfread is not installed (make test installs it as root)";
  const char* script =
      "import sys, dbfread\n"
      "def f(v):\n"
      "    if v is None: return ''\n"
      "    if v is True: return '1'\n"
      "    if v is False: return '0'\n"
      "    if hasattr(v, 'strftime'): return v.strftime('%Y%m%d')\n"
      "    if isinstance(v, float) and v == int(v): return str(int(v))\n"
      "    return str(v).replace('\\r', '\\\\r').replace('\\n', '\\\\n')\n"
      "for r in dbfread.DBF(sys.argv[1], encoding='cp1252'):\n"
      "    print('|'.join(f(r[k]) for k in "
      "('NAME','AMOUNT','QTY','BIRTH','OK','NOTES')))\n";
  qx::testing::TempDir dir;
  qx::testing::WriteWholeFile(dir.File("read.py"), script);
  for (std::string dialect : {"dbase3", "dbase4", "foxpro2"}) {
    SCOPED_TRACE(dialect);
    std::string table = MakeTable(dir, dialect);
    std::string out;
    ASSERT_EQ(
        qx::testing::RunCommand(
            "/usr/bin/python3 " + dir.File("read.py") + " " + table + " 2>&1",
            &out),
        0)
        << out;
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 4u) << out;
    for (std::size_t i = 0; i < lines.size(); ++i)
      EXPECT_EQ(lines[i], Expected(i));
  }
}

TEST(PeersTest, PerlXBaseReadsWhatWeWrite) {
  if (!qx::testing::LinuxPeersRunnable()) {
    GTEST_SKIP() << qx::testing::kNoLinuxPeers;
  }
  std::string probe;
  if (qx::testing::RunCommand("perl -MXBase -e 1 2>&1", &probe) != 0)
    GTEST_SKIP()
        << "Perl XBase is not installed (make test installs it as root)";
  const char* script =
      "use XBase; use Encode;\n"
      "my $t = XBase->new($ARGV[0]) or die XBase->errstr;\n"
      "for my $i (0 .. $t->last_record) {\n"
      "  my ($del, @v) = $t->get_record($i, qw(NAME AMOUNT QTY BIRTH OK "
      "NOTES));\n"
      "  @v = map { defined $_ ? $_ : '' } @v;\n"
      "  $v[0] =~ s/ +$//; $v[1] += 0 if $v[1] ne ''; $v[2] += 0 if $v[2] ne "
      "'';\n"
      "  $v[5] =~ s/\\r/\\\\r/g; $v[5] =~ s/\\n/\\\\n/g;\n"
      "  print encode('UTF-8', decode('cp1252', join('|', @v))), \"\\n\";\n"
      "}\n";
  qx::testing::TempDir dir;
  qx::testing::WriteWholeFile(dir.File("read.pl"), script);
  for (std::string dialect : {"dbase3", "dbase4", "foxpro2"}) {
    SCOPED_TRACE(dialect);
    std::string table = MakeTable(dir, dialect);
    std::string out;
    ASSERT_EQ(qx::testing::RunCommand(
                  "perl " + dir.File("read.pl") + " " + table + " 2>&1", &out),
              0)
        << out;
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 4u) << out;
    for (std::size_t i = 0; i < lines.size(); ++i)
      EXPECT_EQ(lines[i], Expected(i));
  }
}

}  // namespace
}  // namespace qx::qxdb
