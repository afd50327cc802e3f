// Two processes on one MDX file: the scenarios every index format shares
// (tests/engine/index/share_harness.h) over MDX, where the child also
// fills a second tag, so that both processes allocate from (and free to)
// the one free chain and end of file, and the file accounts for every
// block; tag tables two processes change; and what a file opened without
// sharing keeps from call to call, its tags' kept pages staying true
// through one another's changes.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/mdx/mdx_file.h"
#include "tests/engine/index/share_harness.h"
#include "tests/engine/mdx/mdx_test_util.h"

namespace qx::engine::testing {
namespace {

// An MDX file with the tags K (the scenario's keys, 12 characters) and
// OTHER: the child adds each of its keys to both, and deletes from K its
// even keys and from OTHER its odd ones. Both add again taking blocks back
// from the chain the other filled, so the file does not grow.
struct MdxShare : ShareFormat<MdxShare, int32_t> {
  static constexpr int kKeys = 1500;
  static constexpr const char* kSuffix = ".mdx";
  static constexpr uint16_t kShared = 0x400;
  static IndexKeys<int32_t> Keys() { return MdxKeys(); }
  static void CreateOpen(const std::string& path, uint16_t mode, Index* x) {
    ASSERT_EQ(kbdmcreate(path.c_str()), kKbdOk);
    ASSERT_EQ(kbdmopenx(&x->file, path.c_str(), mode), kKbdOk);
    ASSERT_EQ(kbdmtagdef(x->file, "K", 'C', "K", 12), kKbdOk);
    ASSERT_EQ(kbdmtagdef(x->file, "OTHER", 'C', "K", 12), kKbdOk);
    ASSERT_EQ(kbdmtagopen(&x->keys, x->file, "K"), kKbdOk);
    ASSERT_EQ(kbdmtagopen(&x->other, x->file, "OTHER"), kKbdOk);
  }
  static int16_t Open(const std::string& path, uint16_t mode, Index* x) {
    const int16_t status = kbdmopenx(&x->file, path.c_str(), mode);
    if (status < 0) return status;
    int16_t e = kbdmtagopen(&x->keys, x->file, "K");
    if (e == kKbdOk) e = kbdmtagopen(&x->other, x->file, "OTHER");
    if (e == kKbdOk) return status;
    kbdmclose(x->file);
    return e;
  }
  static int16_t Close(int16_t file) { return kbdmclose(file); }
  static uint64_t Check(const Index& x) {
    MdxFileCheck(x.file);
    return MdxTagCheck(x.keys).keys;
  }
  static constexpr int16_t kSeekPastEnd = kKbdNoMoreKeys;
  static int16_t Seek(int32_t t, void* key, uint32_t* recno) {
    return SeekByFindAndNext<int32_t>(t, key, recno, kbdmkfind, kbdmknext);
  }

  static int16_t ChildAdd(const Index& x, const std::string& key,
                          uint32_t recno) {
    if (int16_t e = Keys().Add(x.keys, key, recno)) return e;
    return Keys().Add(x.other, key, recno);
  }
  static int16_t ChildDelete(const Index& x, int i, const std::string& key,
                             uint32_t recno) {
    return Keys().Del(i % 2 != 0 ? x.other : x.keys, key, recno);
  }
  static void ExpectFreedPages(const Index& x) {
    EXPECT_GT(MdxFileCheck(x.file).free_blocks, 0u);
  }
  static constexpr bool kReAdd = true;
  static constexpr bool kReAddKeepsSize = true;
  // Opened alone, the file holds K's keys and the child's odd keys in
  // OTHER.
  static void AfterSharing(Index* x, const std::string& path,
                           std::set<std::string>* keys) {
    ASSERT_EQ(Close(x->file), kKbdOk);
    ASSERT_EQ(Open(path, 0, x), kKbdOk);
    EXPECT_EQ(MdxFileCheck(x->file).keys, keys->size() + kKeys / 2);
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Mdx, IndexShareTest, MdxShare);
INSTANTIATE_TYPED_TEST_SUITE_P(Mdx, IndexWalkShareTest, MdxShare);

constexpr int kKeys = MdxShare::kKeys;
using Keys = TwoProcessKeys<kKeys>;

// Tags defined and deleted by one process are seen by the other at its
// next lookup: a new tag opens by name there; after a deletion an open tag
// that moved to another number answers to that number's handle (as after
// a deletion of its own) and the deleted tag is closed; a tag the other
// process defines then takes the next number without undoing the first
// one's table.
TEST_F(MdxTest, TagTablesOfTwoProcessesAgree) {
  kbdsetsync(0);
  const std::string path = Path("tags.mdx");
  int16_t h = CreateOpen("tags.mdx", 0x400);
  for (const char* name : {"A", "B", "C"})
    ASSERT_EQ(kbdmtagdef(h, name, 'C', "K", 8), kKbdOk);
  int16_t mine = kKbdNoHandle;
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    int32_t tag = kKbdNoHandle;
    switch (step) {
      case 0:  // A open
        if (int16_t e = kbdmopenx(&mine, path.c_str(), 0x400)) return e;
        return kbdmtagopen(&tag, mine, "A");
      case 1:  // D, defined there, opens here as number 4
        if (int16_t e = kbdmtagopen(&tag, mine, "D")) return e;
        return tag == MdxTagHandle(mine, 4) ? Add(tag, "d1", 1) : 99;
      case 2:  // A deleted there, D moved to number 1: seen at a lookup
        if (int16_t e = kbdmtagopen(&tag, mine, "B")) return e;
        if (kbdmkadd(MdxTagHandle(mine, 4), "x", 1) != kKbdErrTagId) return 98;
        kbdseterror(0);
        if (int16_t e = Add(MdxTagHandle(mine, 1), "d2", 2)) return e;
        return kbdmtagdef(mine, "E", 'C', "K", 8);
      default:
        return kbdmclose(mine);
    }
  });
  ASSERT_EQ(child.Run(0), kKbdOk);
  ASSERT_EQ(kbdmtagdef(h, "D", 'C', "K", 8), kKbdOk);
  ASSERT_EQ(child.Run(1), kKbdOk);
  ASSERT_EQ(kbdmtagdel(h, "A"), kKbdOk);
  ASSERT_EQ(child.Run(2), kKbdOk);
  ASSERT_EQ(child.Run(3), kKbdOk);

  int32_t d = kKbdNoHandle, e = kKbdNoHandle;
  ASSERT_EQ(kbdmtagopen(&d, h, "D"), kKbdOk);
  EXPECT_EQ(d, MdxTagHandle(h, 1));
  EXPECT_EQ(Walk(d).size(), 2u);
  ASSERT_EQ(kbdmtagopen(&e, h, "E"), kKbdOk);
  EXPECT_EQ(e, MdxTagHandle(h, 4));
  EXPECT_EQ(CheckFile(h).tags, 4u);
}

// A file opened without sharing (opened by no one else: see the shared
// scenario) keeps its file words and each tag's root and pages from call
// to call. One tag's kept pages stay true while the other tag splits,
// frees blocks to the one chain, takes them back and grows the file: both
// find the keys they hold, a fresh shared open finds the same, and the
// file's bytes after close are those the same calls give on a file opened
// shared (which re-reads all).
TEST_F(MdxTest, FileOpenWithoutSharingWritesWhatASharedOneWrites) {
  kbdsetsync(0);
  const std::string path = Path("alone.mdx");
  const std::string shared = Path("shared.mdx");
  ASSERT_EQ(kbdmcreate(path.c_str()), kKbdOk);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdmopenx(&h, path.c_str(), 0), kKbdOk);
  const int16_t s = CreateOpen("shared.mdx", 0x400);
  const int32_t a = DefineOpen(h, "A", 'C', "K", 12);
  const int32_t b = DefineOpen(h, "B", 'C', "K", 12);
  const int32_t sa = DefineOpen(s, "A", 'C', "K", 12);
  const int32_t sb = DefineOpen(s, "B", 'C', "K", 12);

  std::set<std::string> in_a, in_b;
  auto add = [&](int32_t alone, int32_t other, const std::string& key,
                 std::set<std::string>* in) {
    ASSERT_EQ(Add(alone, key, Keys::Recno(key)), kKbdOk) << key;
    ASSERT_EQ(Add(other, key, Keys::Recno(key)), kKbdOk) << key;
    in->insert(key);
  };
  auto del = [&](int32_t alone, int32_t other, const std::string& key,
                 std::set<std::string>* in) {
    ASSERT_EQ(Del(alone, key, Keys::Recno(key)), kKbdOk) << key;
    ASSERT_EQ(Del(other, key, Keys::Recno(key)), kKbdOk) << key;
    in->erase(key);
  };
  for (int i = 0; i < kKeys; ++i) {
    add(a, sa, Keys::Key(i, 0), &in_a);
    if (i % 3 == 0) add(b, sb, Keys::Key(i, 1), &in_b);
    if (i % 100 == 99) {
      // b's pages are kept by these reads while a splits and grows.
      ASSERT_EQ(MdxKeys().HoldsExactly(b, in_b), 0) << i;
    }
    if (i % 500 == 499) {
      // a frees blocks that b's next splits take from the chain, then b
      // frees some that a takes back.
      for (int j = i - 450; j <= i; ++j) del(a, sa, Keys::Key(j, 0), &in_a);
      ASSERT_EQ(MdxKeys().HoldsExactly(a, in_a), 0) << i;
    }
    if (i % 500 == 299) {
      for (int j = i - 240; j <= i; ++j)
        if (j % 6 == 0) del(b, sb, Keys::Key(j, 1), &in_b);
    }
  }
  EXPECT_EQ(MdxKeys().HoldsExactly(a, in_a), 0);
  EXPECT_EQ(MdxKeys().HoldsExactly(b, in_b), 0);
  CheckFile(h);
  ASSERT_EQ(kbdmclose(h), kKbdOk);
  ASSERT_EQ(kbdmclose(s), kKbdOk);
  // The files differ only in the data file's name in the header.
  std::string alone_bytes = qx::testing::ReadWholeFile(path);
  std::string shared_bytes = qx::testing::ReadWholeFile(shared);
  ASSERT_EQ(alone_bytes.size(), shared_bytes.size());
  alone_bytes.replace(kMdxDataNameOffset, kMdxDataNameSize, kMdxDataNameSize,
                      ' ');
  shared_bytes.replace(kMdxDataNameOffset, kMdxDataNameSize, kMdxDataNameSize,
                       ' ');
  EXPECT_TRUE(alone_bytes == shared_bytes);

  int32_t t = kKbdNoHandle;
  ASSERT_EQ(kbdmopenx(&h, path.c_str(), 0x400), kKbdOk);
  ASSERT_EQ(kbdmtagopen(&t, h, "A"), kKbdOk);
  EXPECT_EQ(MdxKeys().HoldsExactly(t, in_a), 0);
  ASSERT_EQ(kbdmtagopen(&t, h, "B"), kKbdOk);
  EXPECT_EQ(MdxKeys().HoldsExactly(t, in_b), 0);
  ASSERT_EQ(kbdmclose(h), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
