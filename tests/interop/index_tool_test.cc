// The index subcommands of qxdb end to end: build, walk, seek, check, dump
// in key order, and appends that keep indexes in step.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "host/qxdb/cli.h"
#include "tests/interop/qxdb_run.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

// A table of n people with names that repeat and share prefixes, numbers
// with negatives and decimals, dates across centuries and some blank.
std::string People(int n, int first = 0) {
  std::string input;
  for (int i = first; i < first + n; ++i) {
    char line[200];
    int y = 1890 + (i * 37) % 140, m = 1 + (i * 7) % 12, d = 1 + (i * 11) % 28;
    std::snprintf(line, sizeof line, R"({"NAME":"Name %03d","SALARY":%d.%02d)",
                  (i * 7919) % 500, (i * 131) % 2000 - 1000, i % 100);
    input += line;
    if (i % 10 != 3) {  // every tenth record has no date
      std::snprintf(line, sizeof line, R"(,"BIRTH":"%04d%02d%02d")", y, m, d);
      input += line;
    }
    input += "}";
    input += "\n";
  }
  return input;
}

class IndexToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = dir_.File("people.dbf");
    ASSERT_EQ(
        Qxdb({"create", table_, "--dialect", "dbase3", "--field", "NAME:C:20",
              "--field", "SALARY:N:10:2", "--field", "BIRTH:D:8"})
            .rc,
        0);
    Result r = Qxdb({"import", table_}, People(600));
    ASSERT_EQ(r.rc, 0) << r.err;
  }

  // Builds, checks, and walks the index (extra: --tag NAME, flags);
  // answers the walk (recno, key).
  std::vector<std::pair<int, std::string>> BuildAndWalk(
      const std::string& index, const std::string& expr,
      const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"index", table_, index, "--expr", expr};
    args.insert(args.end(), extra.begin(), extra.end());
    Result r = Qxdb(args);
    EXPECT_EQ(r.rc, 0) << r.err;
    std::vector<std::string> tag;
    if (extra.size() >= 2 && extra[0] == "--tag") tag = {"--tag", extra[1]};
    std::vector<std::string> check = {"check", table_, index};
    check.insert(check.end(), tag.begin(), tag.end());
    r = Qxdb(check);
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    std::vector<std::string> keys = {"keys", index, "--table", table_};
    keys.insert(keys.end(), tag.begin(), tag.end());
    r = Qxdb(keys);
    EXPECT_EQ(r.rc, 0) << r.err;
    std::vector<std::pair<int, std::string>> walk;
    for (const std::string& line : Lines(r.out)) {
      std::size_t tab = line.find('\t');
      walk.emplace_back(std::stoi(line.substr(0, tab)), line.substr(tab + 1));
    }
    return walk;
  }

  qx::testing::TempDir dir_;
  std::string table_;
};

TEST_F(IndexToolTest, BuiltIndexesWalkInKeyOrderAndCheck) {
  auto names = BuildAndWalk(dir_.File("name.ndx"), "NAME");
  ASSERT_EQ(names.size(), 600u);
  for (std::size_t i = 1; i < names.size(); ++i)
    EXPECT_LE(std::tie(names[i - 1].second, names[i - 1].first),
              std::tie(names[i].second, names[i].first));

  auto salaries = BuildAndWalk(dir_.File("salary.ndx"), "SALARY");
  ASSERT_EQ(salaries.size(), 600u);
  for (std::size_t i = 1; i < salaries.size(); ++i)
    EXPECT_LE(std::stod(salaries[i - 1].second), std::stod(salaries[i].second));

  auto births = BuildAndWalk(dir_.File("birth.ndx"), "BIRTH");
  ASSERT_EQ(births.size(), 600u);
  // YYYYMMDD texts sort as dates; the empty date sorts last.
  std::size_t blanks = 0;
  for (std::size_t i = 1; i < births.size(); ++i) {
    if (births[i].second.empty()) {
      ++blanks;
      continue;
    }
    EXPECT_FALSE(births[i - 1].second.empty());
    EXPECT_LE(births[i - 1].second, births[i].second);
  }
  EXPECT_EQ(blanks, 60u);

  Result info = Qxdb({"info", dir_.File("name.ndx")});
  EXPECT_EQ(info.out,
            "{\"kind\":\"ndx\",\"expression\":\"NAME\",\"key_length\":20,"
            "\"key_type\":\"C\",\"unique\":false,\"descending\":false}\n");
}

TEST_F(IndexToolTest, MdxTagsBuildCheckAndWalk) {
  std::string mdx = dir_.File("people.mdx");
  auto names = BuildAndWalk(mdx, "NAME", {"--tag", "NAME"});
  auto salaries = BuildAndWalk(mdx, "SALARY", {"--tag", "SALARY"});
  auto births = BuildAndWalk(mdx, "BIRTH", {"--tag", "BIRTH", "--unique"});
  ASSERT_EQ(names.size(), 600u);
  ASSERT_EQ(salaries.size(), 600u);
  // A unique tag holds each date once (the first record that has it).
  std::set<std::string> dates;
  for (const auto& [recno, date] : births)
    EXPECT_TRUE(dates.insert(date).second) << date;
  ASSERT_LT(births.size(), 600u);
  for (std::size_t i = 1; i < names.size(); ++i) {
    EXPECT_LE(names[i - 1].second, names[i].second);
    EXPECT_LE(std::stod(salaries[i - 1].second), std::stod(salaries[i].second));
  }
  Result info = Qxdb({"info", mdx});
  EXPECT_NE(info.out.find("{\"name\":\"SALARY\",\"expression\":\"SALARY\","
                          "\"key_length\":12,\"key_type\":\"N\""),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("\"key_type\":\"D\",\"unique\":true"),
            std::string::npos)
      << info.out;
  // Appends keep every named tag in step.
  Result r = Qxdb(
      {"import", table_, "--index", mdx + ":NAME", "--index", mdx + ":SALARY"},
      People(50, 600));
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Qxdb({"check", table_, mdx, "--tag", "SALARY"});
  EXPECT_EQ(r.out, "ok 650 keys\n") << r.err;
  r = Qxdb({"seek", table_, mdx, "--tag", "SALARY", "-1000.00"});
  EXPECT_EQ(r.rc, 0) << r.err;
}

TEST_F(IndexToolTest, SeekFindsWhatTheDataHolds) {
  BuildAndWalk(dir_.File("name.ndx"), "NAME");
  BuildAndWalk(dir_.File("birth.ndx"), "BIRTH");
  Result r = Qxdb({"seek", table_, dir_.File("name.ndx"), "Name 00"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("\"NAME\":\"Name 00"), std::string::npos) << r.out;
  r = Qxdb({"seek", table_, dir_.File("name.ndx"), "Nobody"});
  EXPECT_EQ(r.rc, kExitNotFound);
  r = Qxdb({"seek", table_, dir_.File("birth.ndx"), "18900101"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("\"BIRTH\":\"18900101\""), std::string::npos) << r.out;
  r = Qxdb({"seek", table_, dir_.File("birth.ndx"), "not-a-date"});
  EXPECT_EQ(r.rc, kExitUsage);
}

TEST_F(IndexToolTest, ImportKeepsIndexesInStepAndDumpFollowsKeyOrder) {
  std::string name = dir_.File("name.ndx"), salary = dir_.File("salary.ndx");
  BuildAndWalk(name, "NAME");
  BuildAndWalk(salary, "SALARY");
  Result r = Qxdb({"import", table_, "--index", name, "--index", salary},
                  People(400, 600));
  ASSERT_EQ(r.rc, 0) << r.err;
  for (const std::string& index : {name, salary}) {
    r = Qxdb({"check", table_, index});
    EXPECT_EQ(r.out, "ok 1000 keys\n") << r.err;
  }
  // An index left out of the import no longer matches its table.
  std::string stale = dir_.File("birth.ndx");
  BuildAndWalk(stale, "BIRTH");
  ASSERT_EQ(Qxdb({"import", table_}, People(1, 1000)).rc, 0);
  r = Qxdb({"check", table_, stale});
  EXPECT_EQ(r.rc, kExitFailure);
  EXPECT_NE(r.out.find("record 1001 has no entry"), std::string::npos) << r.out;

  r = Qxdb({"dump", table_, "--index", name});
  ASSERT_EQ(r.rc, 0) << r.err;
  std::vector<std::string> records = Lines(r.out);
  ASSERT_EQ(records.size(), 1001u - 1u);  // record 1001 is not in name.ndx
  std::string previous;
  for (const std::string& rec : records) {
    std::size_t at = rec.find("\"NAME\":\"");
    std::string value = rec.substr(at + 8, rec.find('"', at + 8) - at - 8);
    EXPECT_LE(previous, value);
    previous = value;
  }
}

// Walks an index file with Perl XBase::Index: the record numbers in the
// order the peer reads them. A compact IDX file is read with the peer's
// compound-file page reader (its IDX reader knows the standard layout
// only).
std::vector<int> PerlWalk(const qx::testing::TempDir& dir,
                          const std::string& file, const std::string& tag,
                          bool compact) {
  const char* script =
      "use XBase::Index;\n"
      "my ($file, $tag, $compact) = @ARGV;\n"
      "my $i;\n"
      "if ($compact) {\n"
      "  # A tag name makes the reader take the header at 0 as the tree.\n"
      "  $i = bless { 'tag' => 'IDX' }, 'XBase::cdx';\n"
      "  $i->open($file) or die 'open';\n"
      "  $i->{'key_type'} = 0;\n"
      "} else {\n"
      "  my %o = (type => 'C');\n"
      "  $o{'tag'} = $tag if $tag ne '-';\n"
      "  $i = XBase::Index->new($file, %o) or die XBase::Index->errstr;\n"
      "}\n"
      "$i->prepare_select;\n"
      "while (my ($k, $r) = $i->fetch) { print \"$r\\n\"; }\n";
  qx::testing::WriteWholeFile(dir.File("walk.pl"), script);
  std::string out;
  int rc = qx::testing::RunCommand("perl " + dir.File("walk.pl") + " '" + file +
                                       "' " + (tag.empty() ? "-" : tag) +
                                       (compact ? " 1" : " 0") + " 2>&1",
                                   &out);
  EXPECT_EQ(rc, 0) << out;
  std::vector<int> recnos;
  for (const std::string& line : Lines(out)) recnos.push_back(std::stoi(line));
  return recnos;
}

// The Clipper and FoxPro kinds end to end: built indexes check, walk in
// key order, describe themselves, find by seek, stay in step through
// appends, and walk in the same order under Perl XBase.
TEST_F(IndexToolTest, ClipperAndFoxproIndexesAgreeWithTheDataAndThePeer) {
  std::string probe;
  const bool perl =
      qx::testing::LinuxPeersRunnable() &&
      qx::testing::RunCommand("perl -MXBase::Index -e 1 2>&1", &probe) == 0;
  struct Kind {
    const char* extension;
    std::vector<std::string> extra;  // --compact, --tag (set per key)
    const char* kind;
  };
  const Kind kinds[] = {{".ntx", {}, "ntx"},
                        {".idx", {}, "idx"},
                        {".idx", {"--compact"}, "idx"},
                        {".cdx", {"--tag"}, "cdx"}};
  int records = 600;  // each kind's appends add 50
  for (const Kind& kind : kinds) {
    for (const char* field : {"NAME", "SALARY", "BIRTH"}) {
      const bool compact = !kind.extra.empty() && kind.extra[0] == "--compact";
      const bool tagged = !kind.extra.empty() && kind.extra[0] == "--tag";
      SCOPED_TRACE(std::string(field) + kind.extension +
                   (compact ? " compact" : ""));
      std::string index =
          dir_.File(std::string(compact ? "c_" : "") +
                    (tagged ? "people" : field) + kind.extension);
      std::vector<std::string> extra = kind.extra;
      if (tagged) extra.push_back(field);
      auto walk = BuildAndWalk(index, field, extra);
      ASSERT_EQ(walk.size(), static_cast<std::size_t>(records));
      for (std::size_t i = 1; i < walk.size(); ++i) {
        if (std::string(field) == "SALARY") {
          EXPECT_LE(std::stod(walk[i - 1].second), std::stod(walk[i].second));
        } else if (std::string(field) == "NAME") {
          EXPECT_LE(walk[i - 1].second, walk[i].second);
        }
      }
      if (perl && std::string(field) != "BIRTH") {
        std::vector<int> ours;
        for (const auto& [recno, key] : walk) ours.push_back(recno);
        EXPECT_EQ(PerlWalk(dir_, index, tagged ? field : "", compact), ours);
      }
      Result info = Qxdb({"info", index});
      EXPECT_NE(info.out.find(std::string("{\"kind\":\"") + kind.kind + "\""),
                std::string::npos)
          << info.out;
      // Key types the file does not record come from the table beside it.
      if (tagged && std::string(field) == "SALARY") {
        EXPECT_NE(info.out.find("{\"name\":\"SALARY\",\"expression\":"
                                "\"SALARY\",\"key_length\":8,"
                                "\"key_type\":\"N\""),
                  std::string::npos)
            << info.out;
      }
      if (std::string(kind.kind) == "idx") {
        EXPECT_NE(info.out.find(compact ? "\"layout\":\"compact\""
                                        : "\"layout\":\"standard\""),
                  std::string::npos)
            << info.out;
      }
    }
    // Seek finds what the data holds, for every key type.
    const bool tagged = std::string(kind.kind) == "cdx";
    const bool compact = !kind.extra.empty() && kind.extra[0] == "--compact";
    auto file = [&](const char* field) {
      return dir_.File(std::string(compact ? "c_" : "") +
                       (tagged ? "people" : field) + kind.extension);
    };
    auto tag = [&](const char* field) {
      return tagged ? std::vector<std::string>{"--tag", field}
                    : std::vector<std::string>{};
    };
    auto seek = [&](const char* field, const std::string& value) {
      std::vector<std::string> args = {"seek", table_, file(field)};
      for (const std::string& a : tag(field)) args.push_back(a);
      args.push_back(value);
      return Qxdb(args);
    };
    Result r = seek("NAME", "Name 00");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("\"NAME\":\"Name 00"), std::string::npos) << r.out;
    EXPECT_EQ(seek("NAME", "Nobody").rc, kExitNotFound);
    r = seek("SALARY", "-1000");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("\"SALARY\":-1000"), std::string::npos) << r.out;
    r = seek("BIRTH", "18900101");
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("\"BIRTH\":\"18900101\""), std::string::npos) << r.out;
    // Appends through every index keep them in step.
    std::vector<std::string> import = {"import", table_};
    for (const char* field : {"NAME", "SALARY", "BIRTH"}) {
      import.push_back("--index");
      import.push_back(file(field) + (tagged ? std::string(":") + field : ""));
    }
    r = Qxdb(import, People(50, records));
    records += 50;
    ASSERT_EQ(r.rc, 0) << r.err;
    for (const char* field : {"NAME", "SALARY", "BIRTH"}) {
      std::vector<std::string> check = {"check", table_, file(field)};
      for (const std::string& a : tag(field)) check.push_back(a);
      r = Qxdb(check);
      EXPECT_EQ(r.out, "ok " + std::to_string(records) + " keys\n")
          << field << r.err;
    }
  }
}

// Without a table to evaluate the expression on, the key type of an IDX or
// CDX file is unknown and its keys may be binary images: they print as hex
// of every stored byte, one line each (numeric keys: the sortable image of
// the double, sign bit set for positives, all bits inverted for negatives).
// A compact leaf stores trailing bytes as a count that stands for blanks
// in character keys: without the key type they come back as 20, not 00.
TEST_F(IndexToolTest, KeysOfUntypedFoxproIndexesPrintInHex) {
  for (const char* extension : {".idx", ".cdx"}) {
    SCOPED_TRACE(extension);
    const bool tagged = std::string(extension) == ".cdx";
    std::vector<std::string> tag;
    if (tagged) tag = {"--tag", "SALARY"};
    auto typed = BuildAndWalk(dir_.File(std::string("salary") + extension),
                              "SALARY", tag);
    ASSERT_EQ(typed.size(), 600u);
    std::string alone = dir_.File(std::string("alone") + extension);
    std::filesystem::copy_file(dir_.File(std::string("salary") + extension),
                               alone);
    std::vector<std::string> args = {"keys", alone};
    args.insert(args.end(), tag.begin(), tag.end());
    Result r = Qxdb(args);
    ASSERT_EQ(r.rc, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), typed.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string line = lines[i];
      for (std::size_t end = line.size();
           tagged && end >= 2 && line.compare(end - 2, 2, "20") == 0; end -= 2)
        line.replace(end - 2, 2, "00");
      uint64_t bits = std::bit_cast<uint64_t>(std::stod(typed[i].second));
      bits = (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
      char expected[40];
      std::snprintf(expected, sizeof expected, "%d\t%016llX", typed[i].first,
                    static_cast<unsigned long long>(bits));
      EXPECT_EQ(line, expected);
    }
  }
}

// FoxPro descending and unique indexes (CDX tags, compact IDX files) end
// to end: a descending walk is the ascending one reversed (equal keys by
// falling record number), a unique index holds the first record of each
// key and checks clean, date keys put the empty date first and dates
// before 1900 in their order, and a filtered index holds the records its
// FOR condition accepts and shows it in info. A standard IDX file cannot
// descend.
TEST_F(IndexToolTest, FoxproDescendingUniqueAndFilteredIndexes) {
  for (const char* extension : {".cdx", ".idx"}) {
    SCOPED_TRACE(extension);
    const bool tagged = std::string(extension) == ".cdx";
    auto index = [&](const char* name) {
      return dir_.File(std::string(tagged ? "people" : name) + extension);
    };
    auto flags = [&](const char* name, std::vector<std::string> more) {
      std::vector<std::string> all;
      if (tagged)
        all = {"--tag", name};
      else
        all = {"--compact"};
      all.insert(all.end(), more.begin(), more.end());
      return all;
    };
    auto up = BuildAndWalk(index("NAME"), "NAME", flags("NAME", {}));
    auto down =
        BuildAndWalk(index("NAMED"), "NAME", flags("NAMED", {"--descending"}));
    ASSERT_EQ(up.size(), 600u);
    std::reverse(up.begin(), up.end());
    EXPECT_EQ(down, up);
    auto unique =
        BuildAndWalk(index("NAMEU"), "NAME", flags("NAMEU", {"--unique"}));
    std::map<std::string, int> first;  // key -> lowest record
    for (const auto& [recno, key] : down) {
      auto [it, added] = first.emplace(key, recno);
      if (!added) it->second = std::min(it->second, recno);
    }
    ASSERT_EQ(unique.size(), first.size());
    for (const auto& [recno, key] : unique) EXPECT_EQ(first[key], recno) << key;
    // Dates: the empty ones first, then 1890 onwards in order.
    auto births = BuildAndWalk(index("BIRTH"), "BIRTH", flags("BIRTH", {}));
    ASSERT_EQ(births.size(), 600u);
    for (std::size_t i = 0; i < 60; ++i) EXPECT_EQ(births[i].second, "");
    for (std::size_t i = 61; i < births.size(); ++i)
      EXPECT_LE(births[i - 1].second, births[i].second);
    std::vector<std::string> seek = {"seek", table_, index("BIRTH")};
    if (tagged) seek.insert(seek.end(), {"--tag", "BIRTH"});
    seek.push_back("18900101");
    Result r = Qxdb(seek);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("\"BIRTH\":\"18900101\""), std::string::npos) << r.out;

    // A filtered index holds the records its condition accepts.
    auto positive = BuildAndWalk(index("NAMEF"), "NAME",
                                 flags("NAMEF", {"--for", "SALARY > 0"}));
    auto salaries =
        BuildAndWalk(index("SALARY"), "SALARY", flags("SALARY", {}));
    std::size_t above = 0;
    for (const auto& [recno, value] : salaries) above += std::stod(value) > 0;
    EXPECT_EQ(positive.size(), above);
    r = Qxdb({"info", index("NAMEF")});
    EXPECT_NE(r.out.find("\"for\":\"SALARY>0\""), std::string::npos) << r.out;
    r = Qxdb({"info", index("NAMED")});
    EXPECT_NE(r.out.find("\"descending\":true"), std::string::npos) << r.out;
  }
  Result r = Qxdb({"index", table_, dir_.File("std.idx"), "--expr", "NAME",
                   "--descending"});
  EXPECT_EQ(r.rc, kExitUsage);
}

// Four processes import 1,500 records each into one Clipper table through
// its NTX index at the same time, a few times over: every record lands
// once, with its memo, and the index holds every record's key.
TEST(ImportTogetherTest, FourImportsThroughOneIndexLoseNothing) {
  constexpr int kImports = 4, kRecords = 1500, kRounds = 3;
  for (int round = 0; round < kRounds; ++round) {
    qx::testing::TempDir dir;
    const std::string table = dir.File("t.dbf"), ntx = dir.File("name.ntx");
    // A Windows child runs the rounds again up to its own: only the parent
    // makes the files and checks them.
    const bool parent = qx::testing::RunsTestSetUp();
    if (parent) {
      ASSERT_EQ(Qxdb({"create", table, "--dialect", "clipper", "--field",
                      "ID:N:6", "--field", "NAME:C:20", "--field", "NOTE:M:10"})
                    .rc,
                0);
      Result r = Qxdb({"index", table, ntx, "--expr", "NAME"});
      ASSERT_EQ(r.rc, 0) << r.err;
    }
    std::vector<std::string> inputs(kImports);
    for (int i = 0; i < kImports; ++i)
      for (int n = 0; n < kRecords; ++n) {
        const int id = i * kRecords + n;
        char line[80];
        std::snprintf(line, sizeof line,
                      R"({"ID":%d,"NAME":"Name %05d","NOTE":"note %d )", id,
                      (id * 7919) % 10007, id);
        inputs[i] +=
            line + std::string(static_cast<size_t>(id % 300), 'x') + "\"}\n";
      }
    std::vector<int> codes =
        qx::testing::RunChildrenTogether(kImports, [&](int i) {
          return Qxdb({"import", table, "--index", ntx, "--no-sync"}, inputs[i])
              .rc;
        });
    ASSERT_EQ(codes, std::vector<int>(kImports, 0)) << "round " << round;
    if (!parent) continue;

    Result r = Qxdb({"check", table, ntx});
    EXPECT_EQ(r.out, "ok 6000 keys\n") << r.err;
    r = Qxdb({"dump", table});
    ASSERT_EQ(r.rc, 0) << r.err;
    std::set<int> ids;
    for (const std::string& line : Lines(r.out)) {
      const int id = std::stoi(line.substr(line.find("\"ID\":") + 5));
      EXPECT_TRUE(ids.insert(id).second) << line;
      EXPECT_NE(
          line.find("\"NOTE\":\"note " + std::to_string(id) + " " +
                    std::string(static_cast<size_t>(id % 300), 'x') + "\""),
          std::string::npos)
          << line;
    }
    EXPECT_EQ(ids.size(), size_t{kImports * kRecords});
  }
}

}  // namespace
}  // namespace qx::qxdb
