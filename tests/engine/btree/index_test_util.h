// Helpers the index tests of every format share: an engine started per
// test inside its own temporary directory (the builds' work file lives in
// the current directory), entries and keys as strings over a format's C
// operations, walks, the structural check's problems as test failures,
// the randomized tests' seed, the data file of the build tests, and the
// key order Perl XBase walks a file in.
#ifndef QX_TESTS_ENGINE_BTREE_INDEX_TEST_UTIL_H_
#define QX_TESTS_ENGINE_BTREE_INDEX_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {

// One entry of a walk: the stored key bytes and the record number.
struct IndexEntry {
  std::string key;
  uint32_t recno = 0;
  bool operator==(const IndexEntry& o) const {
    return key == o.key && recno == o.recno;
  }
};

// The record numbers of a walk, in its order.
inline std::vector<uint32_t> Recnos(const std::vector<IndexEntry>& walk) {
  std::vector<uint32_t> recnos;
  for (const IndexEntry& e : walk) recnos.push_back(e.recno);
  return recnos;
}

// The seed of randomized tests: QX_TEST_SEED when set, else fixed.
inline uint32_t TestSeed(uint32_t fixed) {
  const char* text = std::getenv("QX_TEST_SEED");
  return text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 0))
                         : fixed;
}

// A positioning operation of a format (kbdnkfirst, kbdmknext, ...).
template <typename Handle>
using KeyMove = int16_t (*)(Handle handle, void* key, uint32_t* recno);

// Every entry from start (first or last) through step (next or
// previous), returned in key order.
template <typename Handle>
std::vector<IndexEntry> WalkKeys(Handle h, uint32_t key_length,
                                 KeyMove<Handle> start, KeyMove<Handle> step,
                                 bool backward = false) {
  std::vector<IndexEntry> entries;
  std::vector<char> buffer(key_length + 1u);
  uint32_t recno = 0;
  int16_t status = start(h, buffer.data(), &recno);
  while (status == kKbdOk) {
    EXPECT_EQ(buffer[key_length], '\0');
    IndexEntry entry{std::string(buffer.data(), key_length), recno};
    if (backward)
      entries.insert(entries.begin(), entry);
    else
      entries.push_back(entry);
    status = step(h, buffer.data(), &recno);
  }
  EXPECT_TRUE(status == kKbdNoMoreKeys || status == kKbdEmptyFile) << status;
  return entries;
}

// How a walk of a damaged index ended: the status that stopped it and the
// entries it gave. ended is false when it still answered 0 after
// max_steps entries: a walk that goes round for ever.
struct WalkEnd {
  bool ended = false;
  int16_t status = kKbdOk;
  uint64_t entries = 0;
};

template <typename Handle>
WalkEnd WalkToEnd(Handle h, KeyMove<Handle> start, KeyMove<Handle> step,
                  uint64_t max_steps) {
  WalkEnd end;
  std::vector<char> buffer(1024);
  uint32_t recno = 0;
  kbdseterror(0);
  end.status = start(h, buffer.data(), &recno);
  while (end.status == kKbdOk && end.entries <= max_steps) {
    ++end.entries;
    end.status = step(h, buffer.data(), &recno);
  }
  end.ended = end.status != kKbdOk;
  kbdseterror(0);
  return end;
}

// The C operations of one index format (an NDX file, an MDX tag, ...).
template <typename Handle>
struct IndexOps {
  uint16_t (*key_length)(Handle h);
  int16_t (*add)(Handle h, const void* key, uint32_t recno);
  int16_t (*del)(Handle h, const void* key, uint32_t recno);
  int16_t (*find)(Handle h, void* key, uint32_t* recno, uint16_t flags);
  KeyMove<Handle> first, next, last, previous;
};

// Keys as strings over a format's operations.
template <typename Handle>
class IndexKeys {
 public:
  explicit IndexKeys(const IndexOps<Handle>& ops) : ops_(ops) {}

  // A key buffer of key length + 1 bytes holding text or raw key bytes.
  std::vector<char> Buffer(Handle h, const std::string& key) const {
    std::vector<char> buffer(ops_.key_length(h) + 1u, '\0');
    std::memcpy(buffer.data(), key.data(),
                std::min<size_t>(key.size(), buffer.size() - 1));
    return buffer;
  }
  int16_t Add(Handle h, const std::string& key, uint32_t recno) const {
    return ops_.add(h, Buffer(h, key).data(), recno);
  }
  int16_t Del(Handle h, const std::string& key, uint32_t recno) const {
    return ops_.del(h, Buffer(h, key).data(), recno);
  }
  // A find; *found gets the entry positioned on.
  int16_t Find(Handle h, const std::string& key, uint32_t recno,
               uint16_t flags, IndexEntry* found) const {
    std::vector<char> buffer = Buffer(h, key);
    uint32_t r = recno;
    int16_t status = ops_.find(h, buffer.data(), &r, flags);
    found->key.assign(buffer.data(), ops_.key_length(h));
    found->recno = r;
    return status;
  }
  std::vector<IndexEntry> Walk(Handle h) const {
    return WalkKeys<Handle>(h, ops_.key_length(h), ops_.first, ops_.next);
  }
  std::vector<IndexEntry> WalkBack(Handle h) const {
    return WalkKeys<Handle>(h, ops_.key_length(h), ops_.last,
                            ops_.previous, true);
  }
  // Every key of the set found with its record number (RecnoOfKey) and
  // nothing else: 0, else 1 (one not found) or 2 (other keys).
  int HoldsExactly(Handle h, const std::set<std::string>& keys) const {
    IndexEntry found;
    for (const std::string& key : keys)
      if (Find(h, key, RecnoOfKey(key), kKbdFindRecno, &found) != kKbdOk)
        return 1;
    return Walk(h).size() == keys.size() ? 0 : 2;
  }

  // Keys of the two-process tests: key i of a process (parity 0 the
  // parent, 1 the child) of count each; the two processes' keys alternate
  // in key order, in a scattered insertion order.
  static std::string InterleavedKey(int i, int parity, int count) {
    char key[16];
    std::snprintf(key, sizeof key, "%08d", 2 * ((i * 7919) % count) + parity);
    return key;
  }
  static uint32_t RecnoOfKey(const std::string& key) {
    return static_cast<uint32_t>(std::stoul(key)) + 1;
  }

 private:
  IndexOps<Handle> ops_;
};

// The keys of the two-process tests, kCount per process: Key(i, parity)
// is key i of the parent (parity 0) or of the child (1), Recno the
// record number of a key or of key i (see IndexKeys::InterleavedKey).
template <int kCount>
struct TwoProcessKeys {
  static std::string Key(int i, int parity) {
    return IndexKeys<int16_t>::InterleavedKey(i, parity, kCount);
  }
  static uint32_t Recno(const std::string& key) {
    return IndexKeys<int16_t>::RecnoOfKey(key);
  }
  static uint32_t Recno(int i, int parity) { return Recno(Key(i, parity)); }
};

// The open mode of corpus files: read-only and shared. Other test
// processes read the same files at the same time, and an exclusive open
// refuses them (and is refused) as on Windows.
inline constexpr uint16_t kFixtureMode = kKbdModeReadOnly | kKbdModeShared;

// Every regular file below the real-file corpus whose extension, in any
// case, is one of extensions (given in lower case), in path order.
inline std::vector<std::filesystem::path> CorpusFiles(
    const std::set<std::string>& extensions) {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path root =
      qx::testing::SharedDir() + "/fixtures/real";
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string extension = entry.path().extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(c));
    if (extensions.count(extension) != 0) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A field definition for kbddcreate.
inline KbdFieldDef FieldDef(const char* name, char type, uint16_t length,
                            uint16_t decimals = 0) {
  KbdFieldDef field = {};
  std::snprintf(field.name, sizeof field.name, "%s", name);
  field.type = static_cast<uint16_t>(type);
  field.length = length;
  field.decimals = decimals;
  return field;
}

// The builds' data file: NAME C(20), AMOUNT N(12,3), BIRTH D with n
// records from a seeded generator (names in letters the collation table
// reorders, one date in ten empty), every seventh record deleted. Opened
// shared for the caller (closed by kbdterm).
inline int16_t MakeBuildTable(const std::string& path, uint32_t n,
                              uint32_t seed, uint16_t dialect) {
  kbdsetsync(0);
  const KbdFieldDef fields[3] = {FieldDef("NAME", 'C', 20),
                                 FieldDef("AMOUNT", 'N', 12, 3),
                                 FieldDef("BIRTH", 'D', 8)};
  EXPECT_EQ(kbddcreate(path.c_str(), 3, fields, dialect), kKbdOk);
  int16_t dbf = kKbdNoHandle;
  EXPECT_EQ(kbddopenx(&dbf, path.c_str(), 0x400 | dialect), kKbdOk);
  std::mt19937 rng(seed);
  static const char kLetters[] = "ABCDEabcde\xC4\xE9 ";
  for (uint32_t i = 1; i <= n; ++i) {
    EXPECT_EQ(kbddblankrec(dbf), kKbdOk);
    std::string text;
    const size_t length = 1 + rng() % 20;
    for (size_t j = 0; j < length; ++j)
      text += kLetters[rng() % (sizeof kLetters - 1)];
    EXPECT_EQ(kbddput(dbf, 0, text.c_str()), kKbdOk);
    double amount =
        static_cast<double>(static_cast<int>(rng() % 200001) - 100000) / 8;
    EXPECT_EQ(kbddput(dbf, 1, &amount), kKbdOk);
    if (rng() % 10 != 0) {
      char date[9];
      std::snprintf(date, sizeof date, "%04u%02u%02u",
                    static_cast<unsigned>(1900 + rng() % 200),
                    static_cast<unsigned>(1 + rng() % 12),
                    static_cast<unsigned>(1 + rng() % 28));
      EXPECT_EQ(kbddput(dbf, 2, date), kKbdOk);
    }
    uint32_t recno = 0;
    EXPECT_EQ(kbddwrite(dbf, &recno, kKbdWriteAppend), kKbdOk);
    if (i % 7 == 0) {
      EXPECT_EQ(kbdddelete(dbf, recno), kKbdOk);
    }
  }
  return dbf;
}

// The record numbers of an expected-order file of the corpus.
inline std::vector<uint32_t> ReadOrderFile(const std::string& path) {
  std::vector<uint32_t> order;
  std::ifstream in(path);
  uint32_t recno = 0;
  while (in >> recno) order.push_back(recno);
  return order;
}

// An engine started for each test, working in a fresh directory.
class EngineDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kbdterm();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
    kbdsetsort(1, 1);
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override {
    kbdsetsort(1, 1);
    kbdsetsync(1);
    kbdterm();
    std::filesystem::current_path(old_dir_);
  }

  std::string Path(const std::string& name) const { return dir_.File(name); }
  static uint64_t FileSize(const std::string& path) {
    return std::filesystem::file_size(path);
  }

  qx::testing::TempDir dir_;
  std::filesystem::path old_dir_;
};

// The fixture of a format's index tests: an engine per test in its own
// directory, and keys as strings over the format's operations (keys()).
template <typename Handle, IndexKeys<Handle> (*keys)()>
class IndexTest : public EngineDirTest {
 protected:
  static int16_t Add(Handle h, const std::string& key, uint32_t recno) {
    return keys().Add(h, key, recno);
  }
  static int16_t Del(Handle h, const std::string& key, uint32_t recno) {
    return keys().Del(h, key, recno);
  }
  // A find; *found gets the entry positioned on.
  static int16_t Find(Handle h, const std::string& key, uint32_t recno,
                      uint16_t flags, IndexEntry* found) {
    return keys().Find(h, key, recno, flags, found);
  }
  // Every entry through next (or, backwards, previous) in key order.
  static std::vector<IndexEntry> Walk(Handle h) { return keys().Walk(h); }
  static std::vector<IndexEntry> WalkBack(Handle h) {
    return keys().WalkBack(h);
  }
};

// A structural check that must run through: run(&report) gives its
// status; each problem it reports becomes a test failure.
template <typename Report, typename Run>
Report ExpectCleanCheck(Run&& run) {
  Report report;
  EXPECT_EQ(run(&report), kKbdOk);
  for (const std::string& problem : report.problems) ADD_FAILURE() << problem;
  return report;
}

// Record numbers in the order Perl XBase walks an index file (tag: the
// MDX tag, or empty). False when the peer is not installed (*failure
// empty) or cannot walk the file (*failure its output).
inline bool PerlOrder(const std::string& path, char type,
                      const std::string& tag, std::vector<uint32_t>* order,
                      std::string* failure) {
  failure->clear();
  std::string out;
  if (qx::testing::RunCommand("/usr/bin/perl -MXBase::Index -e 1 2>&1",
                              &out) != 0)
    return false;
  std::string script =
      "/usr/bin/perl -MXBase::Index -e 'my $i = XBase::Index->new($ARGV[0], "
      "type => $ARGV[1]" +
      std::string(tag.empty() ? "" : ", tag => $ARGV[2]") +
      ") or die XBase::Index->errstr; $i->prepare_select; "
      "while (my ($k, $v) = $i->fetch) { print \"$v\\n\" }' '" +
      path + "' " + type + (tag.empty() ? "" : " '" + tag + "'") + " 2>&1";
  if (qx::testing::RunCommand(script, &out) != 0) {
    *failure = out.empty() ? "no output" : out;
    return false;
  }
  order->clear();
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    order->push_back(static_cast<uint32_t>(
        std::strtoul(out.substr(start, end - start).c_str(), nullptr, 10)));
    start = end + 1;
  }
  return true;
}

}  // namespace qx::engine::testing

#endif  // QX_TESTS_ENGINE_BTREE_INDEX_TEST_UTIL_H_
