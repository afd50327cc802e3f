// Helpers the index tests of every format share, over those of every
// engine test (tests/support/engine_test_util.h): entries and keys as
// strings over a format's C operations, walks, the keys of the
// two-process tests, the index fixture, the structural check's problems
// as test failures, and the key order Perl XBase walks a file in.
#ifndef QX_TESTS_ENGINE_BTREE_INDEX_TEST_UTIL_H_
#define QX_TESTS_ENGINE_BTREE_INDEX_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "qx/engine.h"
#include "tests/support/engine_test_util.h"
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
  int16_t Find(Handle h, const std::string& key, uint32_t recno, uint16_t flags,
               IndexEntry* found) const {
    std::vector<char> buffer = Buffer(h, key);
    uint32_t r = recno;
    int16_t status = ops_.find(h, buffer.data(), &r, flags);
    found->key.assign(buffer.data(), ops_.key_length(h));
    found->recno = r;
    return status;
  }
  uint16_t KeyLength(Handle h) const { return ops_.key_length(h); }
  // The first entry, and the next from the one in key (the entry to move
  // from, for formats that read it): key (of key length + 1 bytes) and
  // *recno get the entry moved to.
  int16_t First(Handle h, std::vector<char>* key, uint32_t* recno) const {
    return ops_.first(h, key->data(), recno);
  }
  int16_t Next(Handle h, std::vector<char>* key, uint32_t* recno) const {
    return ops_.next(h, key->data(), recno);
  }
  std::vector<IndexEntry> Walk(Handle h) const {
    return WalkKeys<Handle>(h, ops_.key_length(h), ops_.first, ops_.next);
  }
  std::vector<IndexEntry> WalkBack(Handle h) const {
    return WalkKeys<Handle>(h, ops_.key_length(h), ops_.last, ops_.previous,
                            true);
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
  if (qx::testing::RunCommand("/usr/bin/perl -MXBase::Index -e 1 2>&1", &out) !=
      0)
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
