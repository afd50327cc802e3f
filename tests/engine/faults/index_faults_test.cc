// Faults in the index write paths of every kind: key adds through page
// splits and deletes through merges, and the build over a data file (its
// sort work file included). After a fault the index reopens; when the
// engine's check finds it clean it holds exactly the acknowledged entries
// (the one in flight there or not); otherwise the failed call said so and
// a rebuild repairs it. The key paths run on files opened exclusively and
// shared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "tests/engine/faults/fault_harness.h"
#include "tests/engine/faults/index_kinds.h"

namespace qx::engine::faults_test {
namespace {

std::string KeyOf(uint32_t i) {
  char head[8];
  std::snprintf(head, sizeof head, "%03u", (i * 37) % 101);
  return head + std::string(kKeyLength - 3, static_cast<char>('a' + i % 26));
}

// A data file of records 1..count whose field K holds KeyOf(i).
void CreateKeyTable(const std::string& path, uint32_t count) {
  KbdFieldDef field = {};
  std::strcpy(field.name, "K");
  field.type = 'C';
  field.length = kKeyLength;
  ASSERT_EQ(kbddcreate(path.c_str(), 1, &field, kKbdDbase3), kKbdOk);
  int16_t dbf = -1;
  ASSERT_EQ(kbddopenx(&dbf, path.c_str(), kKbdDbase3), kKbdOk);
  for (uint32_t i = 1; i <= count; ++i) {
    ASSERT_EQ(kbddput(dbf, 0, KeyOf(i).c_str()), kKbdOk);
    uint32_t recno = 0;
    ASSERT_EQ(kbddwrite(dbf, &recno, kKbdWriteAppend), kKbdOk);
  }
  ASSERT_EQ(kbddclose(dbf), kKbdOk);
}

// The same table written as bytes at once (dBASE III), for tables too
// big to append record by record in every run.
void WriteKeyTable(const std::string& path, uint32_t count) {
  uint8_t head[32] = {0x03, 126, 1, 1};
  PutLe32(head + 4, count);
  PutLe16(head + 8, 32 + 32 + 1);      // header bytes
  PutLe16(head + 10, 1 + kKeyLength);  // record bytes
  std::string b(reinterpret_cast<const char*>(head), sizeof head);
  std::string field(32, '\0');
  field[0] = 'K';
  field[11] = 'C';
  field[16] = static_cast<char>(kKeyLength);
  b += field;
  b += '\r';
  for (uint32_t i = 1; i <= count; ++i) b += ' ' + KeyOf(i);
  b += '\x1A';
  qx::testing::WriteWholeFile(path, b);
}

std::vector<Entry> Sorted(const std::set<uint32_t>& records) {
  std::vector<Entry> entries;
  for (uint32_t r : records) entries.emplace_back(KeyOf(r), r);
  std::sort(entries.begin(), entries.end());
  return entries;
}

class IndexFaultTest : public FaultTest,
                       public ::testing::WithParamInterface<const char*> {
 protected:
  // open_mode: how the index (and the data file of a rebuild) is opened.
  explicit IndexFaultTest(uint16_t open_mode = 0)
      : kind_(MakeIndexKind(GetParam(), open_mode)), open_mode_(open_mode) {}

  bool shared() const { return (open_mode_ & kKbdModeShared) != 0; }

  std::string IndexPath() const { return Path(kind_->file()); }

  // Rebuilds the index from the data file, with no fault: the check is
  // clean and every record has its entry.
  void RebuildAndCheck(uint32_t records) {
    int16_t dbf = -1;
    ASSERT_EQ(kbddopenx(&dbf, Path("t.dbf").c_str(), kKbdDbase3 | open_mode_),
              kKbdOk);
    ASSERT_EQ(kind_->Build(dbf, IndexPath()), kKbdOk);
    ASSERT_EQ(kbddclose(dbf), kKbdOk);
    ASSERT_GE(kind_->Open(IndexPath()), 0);
    uint32_t problems = 0;
    EXPECT_GE(kind_->Check(&problems), 0);
    EXPECT_EQ(problems, 0u) << "the rebuilt index is not clean";
    std::vector<Entry> entries;
    EXPECT_EQ(kind_->Walk(&entries), kKbdOk);
    std::set<uint32_t> all;
    for (uint32_t r = 1; r <= records; ++r) all.insert(r);
    EXPECT_EQ(entries, Sorted(all));
    EXPECT_EQ(kind_->Close(), kKbdOk);
  }

  // Key adds through splits, then deletes through merges (see the top).
  void KeyAddsAndDeletes();

  // Closes the handle the faulted calls used: the close may report what
  // the failure left, but the handle goes.
  void CloseFaulted() {
    kind_->Close();
    kbdseterror(0);
    EXPECT_EQ(kind_->Close(), kKbdErrHandle) << "the handle stays open";
    kbdseterror(0);
  }

  // With the faulted handle still open, other (open on the same clean
  // index) adds and deletes a key of its own, which it cannot while the
  // faulted handle keeps the file's lock; the faulted handle, unless the
  // path closed it, then walks the same entries.
  void OtherHandleWrites(IndexKind* other, const std::vector<Entry>* entries) {
    const std::string probe = KeyOf(200);
    EXPECT_EQ(other->Add(probe, 200), kKbdOk) << "a lock stays held";
    EXPECT_EQ(other->Delete(probe, 200), kKbdOk);
    if (entries == nullptr) return;
    std::vector<Entry> seen;
    EXPECT_EQ(kind_->Walk(&seen), kKbdOk) << "the faulted handle is unusable";
    EXPECT_EQ(seen, *entries);
    kbdseterror(0);
  }

  // Judges the index open in judge after a path that acknowledged the
  // records acked (in_flight: the add or delete under way, if any) and
  // ended with status. Damage is what `qxdb check` reports: a structural
  // problem, or entries that disagree with the data file. Here the index
  // holds the acknowledged records (the one in flight there or not), so
  // anything else is what its data comparison would show. Answers whether
  // the index is damaged; *entries gets its walk.
  bool Judge(IndexKind* judge, const std::set<uint32_t>& acked,
             std::optional<uint32_t> in_flight, int16_t status,
             std::vector<Entry>* entries, int* data_only_damage) {
    uint32_t problems = 0;
    EXPECT_GE(judge->Check(&problems), 0);
    const bool walked = judge->Walk(entries) == kKbdOk;
    kbdseterror(0);
    std::set<uint32_t> other = acked;
    if (in_flight) {
      if (other.count(*in_flight)) {
        other.erase(*in_flight);
      } else {
        other.insert(*in_flight);
      }
    }
    const bool entries_right =
        walked && (*entries == Sorted(acked) ||
                   (status < 0 && *entries == Sorted(other)));
    const bool damaged = problems != 0 || !entries_right;
    if (!damaged) return false;
    EXPECT_LT(status, 0) << "damage after a call that succeeded";
    if (problems != 0) return true;
    ++*data_only_damage;
    // Only a torn page hides a lost key from the structure: a failed
    // write, or a kill, leaves at worst a key twice.
    if (!ShortFaultRun()) {
      for (uint32_t r : acked) {
        if (in_flight && *in_flight == r) continue;
        EXPECT_NE(
            std::find(entries->begin(), entries->end(), Entry(KeyOf(r), r)),
            entries->end())
            << "record " << r << " lost behind a clean check";
      }
    }
    return true;
  }

  std::unique_ptr<IndexKind> kind_;
  const uint16_t open_mode_;
};

// The same index paths on a file opened shared: every call takes the
// file's operation lock and re-reads the header, and lock faults meet
// those locks. A lock that fails ends the call with a negative status and
// leaves nothing held: a second handle, opened while the first is still
// open, checks and walks the index and (when it is clean) adds and deletes
// a key of its own; the first handle then still walks the same entries.
// The exclusive runs fault every read and write of these paths; the
// shared ones fault every lock and a sample of the reads (the header
// re-reads among them) and writes, which keeps the suite's time bounded.
inline constexpr uint64_t kSharedMaxPoints = 30;

class SharedIndexFaultTest : public IndexFaultTest {
 protected:
  SharedIndexFaultTest() : IndexFaultTest(kKbdModeShared) {}
};

void IndexFaultTest::KeyAddsAndDeletes() {
  constexpr uint32_t kRecords = 16;
  std::set<uint32_t> acked;
  std::optional<uint32_t> in_flight;
  bool closed = false;  // the path reached the close of the faulted handle
  int data_only_damage = 0;
  FaultTally tally = RunEveryFault(
      {[&] {
         CreateKeyTable(Path("t.dbf"), kRecords);
         ASSERT_EQ(kind_->Create(IndexPath()), kKbdOk);
         ASSERT_EQ(kind_->Open(IndexPath()), kKbdOk);
         acked.clear();
         in_flight.reset();
         closed = false;
         for (uint32_t r = 1; r <= 6; ++r) {
           ASSERT_EQ(kind_->Add(KeyOf(r), r), kKbdOk);
           acked.insert(r);
         }
       },
       [&] {
         for (uint32_t r = 7; r <= kRecords; ++r) {
           in_flight = r;
           if (int16_t s = kind_->Add(KeyOf(r), r); s < 0) return s;
           acked.insert(r);
         }
         for (uint32_t r = 1; r <= 12; ++r) {
           in_flight = r;
           if (int16_t s = kind_->Delete(KeyOf(r), r); s < 0) return s;
           acked.erase(r);
         }
         in_flight.reset();
         // The close writes too (NDX compacts, NTX and MDX stamp their
         // header) and, shared, takes the lock for it.
         closed = true;
         return kind_->Close();
       },
       [&](int16_t status) {
         // Shared: the second handle judges the file while the first is
         // open, so that a lock the first kept would stand in its way.
         std::unique_ptr<IndexKind> second;
         IndexKind* judge = kind_.get();
         if (shared()) {
           ExpectOperationLockOutcome(status);
           second = MakeIndexKind(GetParam(), open_mode_);
           judge = second.get();
         } else {
           CloseFaulted();
         }
         ASSERT_GE(judge->Open(IndexPath()), 0) << "the index refuses to open";
         std::vector<Entry> entries;
         const bool damaged = Judge(judge, acked, in_flight, status, &entries,
                                    &data_only_damage);
         if (shared()) {
           if (!damaged) OtherHandleWrites(judge, closed ? nullptr : &entries);
           // A closed handle's number may be the second handle's now.
           if (!closed) CloseFaulted();
           if (!damaged) {
             // The first handle's close changed nothing the second sees.
             std::vector<Entry> after;
             EXPECT_EQ(judge->Walk(&after), kKbdOk);
             EXPECT_EQ(after, entries);
             uint32_t problems = 0;
             EXPECT_GE(judge->Check(&problems), 0);
             EXPECT_EQ(problems, 0u);
           }
         }
         EXPECT_EQ(judge->Close(), kKbdOk);
         if (damaged) RebuildAndCheck(kRecords);
       }},
      {}, shared() ? kSharedMaxPoints : kMaxPointsPerKind);
  EXPECT_GT(tally.points, 0u);
  // Faults whose damage the structural check missed and only the data
  // comparison shows (torn keys, keys twice): reported, not failed.
  std::printf("[ data-only damage ] %d\n", data_only_damage);
}

TEST_P(IndexFaultTest, KeyAddsAndDeletes) { KeyAddsAndDeletes(); }

// The same adds and deletes killed before each change they make to the
// file: the index reopens; when its check is clean it holds the keys the
// child had acknowledged (the one in flight there or not), otherwise a
// rebuild repairs it. The child notes each acknowledged call in a file of
// its own (written outside the counted operations).
TEST_P(IndexFaultTest, KeyAddsAndDeletesKilled) {
  constexpr uint32_t kRecords = 16;
  // The calls of the path in order: adds of 7..16, then deletes of 1..12.
  auto call = [](int i) -> std::pair<bool, uint32_t> {
    return i < 10 ? std::make_pair(true, static_cast<uint32_t>(7 + i))
                  : std::make_pair(false, static_cast<uint32_t>(i - 9));
  };
  constexpr int kCalls = 22;
  const std::string progress = Path("progress");
  int data_only_damage = 0, rebuilt = 0;
  FaultTally tally = RunEveryKill(
      {[&] {
         CreateKeyTable(Path("t.dbf"), kRecords);
         ASSERT_EQ(kind_->Create(IndexPath()), kKbdOk);
         ASSERT_EQ(kind_->Open(IndexPath()), kKbdOk);
         for (uint32_t r = 1; r <= 6; ++r)
           ASSERT_EQ(kind_->Add(KeyOf(r), r), kKbdOk);
         ASSERT_EQ(kind_->Close(), kKbdOk);
       },
       [&] {
         if (int16_t s = kind_->Open(IndexPath()); s < 0) return s;
         for (int i = 0; i < kCalls; ++i) {
           const auto [add, r] = call(i);
           const int16_t s =
               add ? kind_->Add(KeyOf(r), r) : kind_->Delete(KeyOf(r), r);
           if (s < 0) return s;
           qx::testing::WriteWholeFile(progress, std::to_string(i + 1));
         }
         return kind_->Close();
       },
       [&](int16_t status) {
         const std::string noted = qx::testing::ReadWholeFile(progress);
         const int done = noted.empty() ? 0 : std::stoi(noted);
         std::set<uint32_t> acked;
         for (uint32_t r = 1; r <= 6; ++r) acked.insert(r);
         for (int i = 0; i < done; ++i) {
           const auto [add, r] = call(i);
           if (add) {
             acked.insert(r);
           } else {
             acked.erase(r);
           }
         }
         std::optional<uint32_t> in_flight;
         if (done < kCalls) in_flight = call(done).second;
         ASSERT_GE(kind_->Open(IndexPath()), 0) << "the index refuses to open";
         std::vector<Entry> entries;
         const bool damaged = Judge(kind_.get(), acked, in_flight, status,
                                    &entries, &data_only_damage);
         EXPECT_EQ(kind_->Close(), kKbdOk);
         if (damaged) {
           ++rebuilt;
           RebuildAndCheck(kRecords);
         }
       }});
  EXPECT_GT(tally.points, 0u);
  std::printf("[ damaged, then rebuilt ] %d (data-only %d)\n", rebuilt,
              data_only_damage);
}

TEST_P(SharedIndexFaultTest, KeyAddsAndDeletes) { KeyAddsAndDeletes(); }

TEST_P(IndexFaultTest, Build) {
  constexpr uint32_t kRecords = 40;
  int16_t dbf = -1;
  FaultTally tally = RunEveryFault(
      {[&] {
         CreateKeyTable(Path("t.dbf"), kRecords);
         ASSERT_EQ(kbddopenx(&dbf, Path("t.dbf").c_str(), kKbdDbase3), kKbdOk);
       },
       [&] { return kind_->Build(dbf, IndexPath()); },
       [&](int16_t status) {
         EXPECT_EQ(kbddclose(dbf), kKbdOk) << "the data file does not close";
         kbdseterror(0);
         if (status >= 0) {
           ASSERT_GE(kind_->Open(IndexPath()), 0);
           uint32_t problems = 0;
           EXPECT_GE(kind_->Check(&problems), 0);
           EXPECT_EQ(problems, 0u);
           std::vector<Entry> entries;
           EXPECT_EQ(kind_->Walk(&entries), kKbdOk);
           EXPECT_EQ(entries.size(), kRecords);
           EXPECT_EQ(kind_->Close(), kKbdOk);
         }
         // Whatever a failed build left (work file included), a new build
         // succeeds and is clean.
         RebuildAndCheck(kRecords);
       }});
  EXPECT_GT(tally.points, 0u);
}

TEST_P(IndexFaultTest, Create) {
  FaultTally tally =
      RunEveryFault({[] {}, [&] { return kind_->Create(IndexPath()); },
                     [&](int16_t status) {
                       if (status >= 0) {
                         ASSERT_GE(kind_->Open(IndexPath()), 0);
                         uint32_t problems = 0;
                         EXPECT_GE(kind_->Check(&problems), 0);
                         EXPECT_EQ(problems, 0u);
                         EXPECT_EQ(kind_->Close(), kKbdOk);
                       }
                       // Whatever a failed create left, a second one succeeds.
                       ASSERT_EQ(kind_->Create(IndexPath()), kKbdOk);
                       ASSERT_GE(kind_->Open(IndexPath()), 0);
                       EXPECT_EQ(kind_->Close(), kKbdOk);
                     }});
  EXPECT_GT(tally.points, 0u);
}

// A build whose keys pass the 65,000-byte sort buffer: two runs go
// through the work file and are merged back.
TEST_P(IndexFaultTest, BuildThroughTheWorkFile) {
  constexpr uint32_t kRecords = 700;
  int16_t dbf = -1;
  FaultTally tally = RunEveryFault(
      {[&] {
         WriteKeyTable(Path("t.dbf"), kRecords);
         ASSERT_EQ(kbddopenx(&dbf, Path("t.dbf").c_str(), kKbdDbase3), kKbdOk);
       },
       [&] { return kind_->Build(dbf, IndexPath()); },
       [&](int16_t status) {
         EXPECT_EQ(kbddclose(dbf), kKbdOk);
         kbdseterror(0);
         if (status >= 0) {
           ASSERT_GE(kind_->Open(IndexPath()), 0);
           uint32_t problems = 0;
           EXPECT_GE(kind_->Check(&problems), 0);
           EXPECT_EQ(problems, 0u);
           std::vector<Entry> entries;
           EXPECT_EQ(kind_->Walk(&entries), kKbdOk);
           EXPECT_EQ(entries.size(), kRecords);
           EXPECT_EQ(kind_->Close(), kKbdOk);
         }
       }},
      {platform::faults::Op::kFlush});
  EXPECT_GT(tally.points, 0u);
}

const char* const kKinds[] = {"Ndx", "Mdx", "Ntx", "Idx", "IdxCompact", "Cdx"};

std::string KindName(const ::testing::TestParamInfo<const char*>& info) {
  return info.param;
}

INSTANTIATE_TEST_SUITE_P(Kinds, IndexFaultTest, ::testing::ValuesIn(kKinds),
                         KindName);
INSTANTIATE_TEST_SUITE_P(Kinds, SharedIndexFaultTest,
                         ::testing::ValuesIn(kKinds), KindName);

}  // namespace
}  // namespace qx::engine::faults_test
