// Writers killed at random points: a process appending through two
// indexes, packing, or building an index is killed (SIGKILL;
// TerminateProcess on Windows) at a random moment of its work. Afterwards
// the table reopens with its records whole — a prefix of what was being
// appended, or the table before or after the pack — and `qxdb check` tells
// the truth about each index: "ok" only when every record has its key, and
// a rebuild makes it right when it is not.
//
// The kill comes after a random delay within the time the same work took
// once unkilled, so it lands anywhere in it. The delay only places the
// kill; nothing in the outcome depends on it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/interop/qxdb_run.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

using qx::testing::ChildGroup;
using Clock = std::chrono::steady_clock;

// One index layout: the files (and tags) keyed on NAME and on CODE.
struct Family {
  const char* name;
  const char* dialect;
  const char* name_index;  // FILE or FILE:TAG, as --index takes it
  const char* code_index;
};

const Family kFamilies[] = {
    {"ntx", "clipper", "name.ntx", "code.ntx"},
    {"cdx", "foxpro2", "t.cdx:NAME", "t.cdx:CODE"},
};

// The file and the tag of an --index argument.
std::pair<std::string, std::string> Split(const std::string& index) {
  const size_t colon = index.find(':');
  if (colon == std::string::npos) return {index, ""};
  return {index.substr(0, colon), index.substr(colon + 1)};
}

std::string NameOf(int id) {
  char name[16];
  std::snprintf(name, sizeof name, "Name %05d", (id * 7919) % 10007);
  return name;
}

std::string CodeOf(int id) {
  char code[16];
  std::snprintf(code, sizeof code, "C%04d", (id * 31) % 1000);
  return code;
}

// The memo value of record id: 40 to 1,000 bytes, so values span one to
// several blocks and a memo pack moves each of them.
std::string NoteOf(int id) {
  std::string note = "Note " + std::to_string(id) + ":";
  note.resize(40 + static_cast<size_t>(id * 193) % 960, 'a' + id % 26);
  return note;
}

std::string Line(int id, bool memo = false) {
  return "{\"ID\":" + std::to_string(id) + ",\"NAME\":\"" + NameOf(id) +
         "\",\"CODE\":\"" + CodeOf(id) + "\"" +
         (memo ? ",\"NOTE\":\"" + NoteOf(id) + "\"" : "") + "}\n";
}

std::string Lines(int first, int count, bool memo = false) {
  std::string input;
  for (int id = first; id < first + count; ++id) input += Line(id, memo);
  return input;
}

class KilledWriterTest : public ::testing::TestWithParam<Family> {
 protected:
  // A Windows child runs the test again up to its own kill round: only the
  // parent makes files, times work and checks.
  const bool parent_ = qx::testing::RunsTestSetUp();
  std::mt19937 rng_{20261206};
  bool memo_ = false;

  // A new table with the family's two indexes, holding records 0..n-1,
  // with a memo field NOTE when memo_ is set.
  void MakeTable(const qx::testing::TempDir& dir, int n) {
    const Family& f = GetParam();
    const std::string table = dir.File("t.dbf");
    std::vector<std::string> create = {
        "create", table,     "--dialect", f.dialect, "--field",
        "ID:N:6", "--field", "NAME:C:20", "--field", "CODE:C:10"};
    if (memo_) create.insert(create.end(), {"--field", "NOTE:M:10"});
    ASSERT_EQ(Qxdb(create).rc, 0);
    if (n > 0) {
      Result r = Qxdb({"import", table, "--no-sync"}, Lines(0, n, memo_));
      ASSERT_EQ(r.rc, 0) << r.err;
    }
    ASSERT_NO_FATAL_FAILURE(RebuildIndexes(dir));
  }

  std::vector<std::string> IndexArgs(const qx::testing::TempDir& dir) {
    const Family& f = GetParam();
    std::vector<std::string> args;
    for (const char* index : {f.name_index, f.code_index}) {
      args.push_back("--index");
      args.push_back(dir.File(index));
    }
    return args;
  }

  // Runs work in a child and kills it after a random delay below span;
  // answers the child's status (-1 when the kill came first).
  int KillDuring(const std::function<int()>& work, Clock::duration span) {
    ChildGroup group;
    group.Start([&](const ChildGroup::Context& context) {
      context.Signal();
      return work();
    });
    if (!parent_) return 0;
    group.Go();
    EXPECT_TRUE(group.WaitForSignal(0));
    std::uniform_int_distribution<int64_t> delay(0, span.count());
    std::this_thread::sleep_for(Clock::duration(delay(rng_)));
    group.Kill(0);
    return group.Wait(0);
  }

  // Every index of the table: "ok" from check means every record has its
  // key (check compares with the records); otherwise a rebuild of the
  // index file, after which it must be ok.
  void CheckTellsTheTruth(const qx::testing::TempDir& dir, int records) {
    const Family& f = GetParam();
    const std::string table = dir.File("t.dbf");
    const std::string ok = "ok " + std::to_string(records) + " keys\n";
    bool rebuilt = false;
    for (const char* index : {f.name_index, f.code_index}) {
      const auto [file, tag] = Split(index);
      std::vector<std::string> args = {"check", table, dir.File(file)};
      if (!tag.empty()) args.insert(args.end(), {"--tag", tag});
      Result r = Qxdb(args);
      if (r.rc == 0) {
        EXPECT_EQ(r.out, ok) << index;
        continue;
      }
      EXPECT_NE(r.out + r.err, "") << index << ": a failed check says why";
      rebuilt = true;
    }
    if (!rebuilt) return;
    // The repair a user makes: the index files built again.
    for (const char* index : {f.name_index, f.code_index})
      std::filesystem::remove(dir.File(Split(index).first));
    ASSERT_NO_FATAL_FAILURE(RebuildIndexes(dir));
    for (const char* index : {f.name_index, f.code_index}) {
      const auto [file, tag] = Split(index);
      std::vector<std::string> args = {"check", table, dir.File(file)};
      if (!tag.empty()) args.insert(args.end(), {"--tag", tag});
      Result r = Qxdb(args);
      EXPECT_EQ(r.out, ok) << index << " after a rebuild: " << r.err;
    }
  }

  void RebuildIndexes(const qx::testing::TempDir& dir) {
    const Family& f = GetParam();
    for (const char* index : {f.name_index, f.code_index}) {
      const auto [file, tag] = Split(index);
      const std::string expr = index == f.code_index ? "CODE" : "NAME";
      std::vector<std::string> args = {"index", dir.File("t.dbf"),
                                       dir.File(file), "--expr", expr};
      if (!tag.empty()) args.insert(args.end(), {"--tag", tag});
      Result r = Qxdb(args);
      ASSERT_EQ(r.rc, 0) << r.err;
    }
  }

  // The IDs of the table's live records (all with deleted), in record
  // order; -1 for a record whose fields are not those its ID was given.
  std::vector<int> Ids(const qx::testing::TempDir& dir, bool deleted = false) {
    std::vector<std::string> args = {"dump", dir.File("t.dbf")};
    if (deleted) args.push_back("--deleted");
    Result r = Qxdb(args);
    EXPECT_EQ(r.rc, 0) << "the table reopens: " << r.err;
    std::vector<int> ids;
    for (const std::string& line : qxdb::Lines(r.out)) {
      const size_t at = line.find("\"ID\":");
      const int id =
          at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 5);
      const bool whole =
          id >= 0 &&
          line.find("\"NAME\":\"" + NameOf(id)) != std::string::npos &&
          line.find("\"CODE\":\"" + CodeOf(id)) != std::string::npos &&
          (!memo_ ||
           line.find("\"NOTE\":\"" + NoteOf(id) + "\"") != std::string::npos);
      ids.push_back(whole ? id : -1);
    }
    return ids;
  }
};

std::vector<int> Range(int first, int count) {
  std::vector<int> ids;
  for (int id = first; id < first + count; ++id) ids.push_back(id);
  return ids;
}

// Appends through two indexes killed midway: the records are a whole
// prefix of the input (the one in flight may be there without its keys).
TEST_P(KilledWriterTest, AppendsThroughTwoIndexes) {
  constexpr int kFirst = 300, kAppends = 1500, kRounds = 4;
  Clock::duration span{};
  {
    qx::testing::TempDir dir;
    if (parent_) {
      ASSERT_NO_FATAL_FAILURE(MakeTable(dir, kFirst));
      std::vector<std::string> args = {"import", dir.File("t.dbf")};
      for (const std::string& a : IndexArgs(dir)) args.push_back(a);
      const Clock::time_point start = Clock::now();
      ASSERT_EQ(Qxdb(args, Lines(kFirst, kAppends)).rc, 0);
      span = Clock::now() - start;
    }
  }
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    qx::testing::TempDir dir;
    if (parent_) {
      ASSERT_NO_FATAL_FAILURE(MakeTable(dir, kFirst));
    }
    std::vector<std::string> args = {"import", dir.File("t.dbf")};
    for (const std::string& a : IndexArgs(dir)) args.push_back(a);
    KillDuring([&] { return Qxdb(args, Lines(kFirst, kAppends)).rc; }, span);
    if (!parent_) continue;
    const std::vector<int> ids = Ids(dir);
    ASSERT_GE(ids.size(), size_t{kFirst});
    ASSERT_LE(ids.size(), size_t{kFirst + kAppends});
    EXPECT_EQ(ids, Range(0, static_cast<int>(ids.size())));
    CheckTellsTheTruth(dir, static_cast<int>(ids.size()));
  }
}

// A pack killed midway leaves the table as it was or packed, never
// neither: its live records are all there, in order, each with its memo
// value (a memo pack killed after it began renumbering is finished by the
// next open).
TEST_P(KilledWriterTest, Pack) {
  constexpr int kRecords = 3000, kRounds = 8;
  memo_ = true;
  std::vector<int> live;
  for (int id = 0; id < kRecords; ++id)
    if (id % 3 != 1) live.push_back(id);
  auto prepare = [&](const qx::testing::TempDir& dir) {
    ASSERT_NO_FATAL_FAILURE(MakeTable(dir, kRecords));
    for (int id = 1; id < kRecords; id += 3) {
      Result r = Qxdb({"delete", dir.File("t.dbf"), std::to_string(id + 1)});
      ASSERT_EQ(r.rc, 0) << r.err;
    }
  };
  Clock::duration span{};
  {
    qx::testing::TempDir dir;
    if (parent_) {
      ASSERT_NO_FATAL_FAILURE(prepare(dir));
      const Clock::time_point start = Clock::now();
      ASSERT_EQ(Qxdb({"pack", dir.File("t.dbf")}).rc, 0);
      span = Clock::now() - start;
    }
  }
  int journals = 0;  // kills that left a memo pack for the open to finish
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    qx::testing::TempDir dir;
    if (parent_) {
      ASSERT_NO_FATAL_FAILURE(prepare(dir));
    }
    const std::string table = dir.File("t.dbf");
    KillDuring([&] { return Qxdb({"pack", table}).rc; }, span);
    if (!parent_) continue;
    if (std::filesystem::exists(dir.File("t.PKJ"))) ++journals;
    EXPECT_EQ(Ids(dir), live);
    EXPECT_FALSE(std::filesystem::exists(dir.File("t.PKJ")))
        << "the open leaves the pack's journal";
    // Deleted records keep memo numbers a memo pack gave to other values:
    // the count comes from the header.
    Result info = Qxdb({"info", table});
    ASSERT_EQ(info.rc, 0) << info.err;
    const size_t at = info.out.find("\"records\":");
    ASSERT_NE(at, std::string::npos);
    const size_t all = std::stoul(info.out.substr(at + 10));
    EXPECT_TRUE(all == size_t{kRecords} || all == live.size()) << all;
    // The indexes were not given to pack: after a completed pack they are
    // stale, and check says so; before it, they are whole.
    CheckTellsTheTruth(dir, static_cast<int>(all));
  }
  if (parent_)
    std::printf("[ memo packs finished by the open ] %d\n", journals);
}

// An index build killed midway: the table is untouched, and the half-built
// index is either refused by check or, when the build had finished, ok.
TEST_P(KilledWriterTest, IndexBuild) {
  constexpr int kRecords = 20000, kRounds = 4;
  Clock::duration span{};
  {
    qx::testing::TempDir dir;
    if (parent_) {
      ASSERT_NO_FATAL_FAILURE(MakeTable(dir, kRecords));
      for (const char* index : {GetParam().name_index, GetParam().code_index})
        std::filesystem::remove(dir.File(Split(index).first));
      const Clock::time_point start = Clock::now();
      ASSERT_NO_FATAL_FAILURE(RebuildIndexes(dir));
      span = Clock::now() - start;
    }
  }
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    qx::testing::TempDir dir;
    if (parent_) {
      ASSERT_NO_FATAL_FAILURE(MakeTable(dir, kRecords));
      for (const char* index : {GetParam().name_index, GetParam().code_index})
        std::filesystem::remove(dir.File(Split(index).first));
    }
    KillDuring(
        [&] {
          RebuildIndexes(dir);
          return ::testing::Test::HasFailure() ? 1 : 0;
        },
        span);
    if (!parent_) continue;
    EXPECT_EQ(Ids(dir), Range(0, kRecords));
    CheckTellsTheTruth(dir, kRecords);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Families, KilledWriterTest, ::testing::ValuesIn(kFamilies),
    [](const ::testing::TestParamInfo<Family>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
}  // namespace qx::qxdb
