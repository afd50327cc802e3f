// The remembered position of the index trees: which changes of the pages
// make a kept path stale, what an unchanged stamp lets the check skip,
// and the path handed back when it holds. Pages are small in-memory nodes
// (an interior page's children, a page's entries); the check reads them
// through the same kind of visit callback the trees pass.
#include "engine/btree/kept_position.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "qx/engine.h"

namespace qx::engine::btree {
namespace {

constexpr uint32_t kKey = 4;

struct Node {
  bool is_leaf = true;
  std::vector<uint32_t> children;  // count + 1 in an interior node
  std::vector<uint32_t> recnos;
  std::vector<std::string> keys;  // kKey bytes each
  bool leaf() const { return is_leaf; }
  uint32_t count() const { return static_cast<uint32_t>(keys.size()); }
  uint32_t child(uint32_t i) const { return children[i]; }
  uint32_t recno(uint32_t i) const { return recnos[i]; }
  const uint8_t* key(uint32_t i) const {
    return reinterpret_cast<const uint8_t*>(keys[i].data());
  }
};

const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

class KeptPositionTest : public ::testing::Test {
 protected:
  // Root 10 (keys "bbbb", "dddd") over leaves 20, 30, 40; the path to the
  // second entry of leaf 30 ("cccc", record 7) is kept with stamp 1.
  void SetUp() override {
    Node root;
    root.is_leaf = false;
    root.children = {20, 30, 40};
    root.recnos = {0, 0};
    root.keys = {"bbbb", "dddd"};
    pages[10] = root;
    pages[20] = Leaf({{"aaaa", 1}, {"bbbb", 2}});
    pages[30] = Leaf({{"cccc", 5}, {"cccc", 7}, {"dddd", 3}});
    pages[40] = Leaf({{"eeee", 4}});
    PathStack path(8);
    ASSERT_EQ(path.Push(10, 1), kKbdOk);
    ASSERT_EQ(path.Push(30, 1), kKbdOk);
    kept.Keep(path, Bytes("cccc"), kKey, 7, 1);
  }

  static Node Leaf(const std::vector<std::pair<std::string, uint32_t>>& e) {
    Node n;
    for (const auto& [key, recno] : e) {
      n.keys.push_back(key);
      n.recnos.push_back(recno);
    }
    return n;
  }

  // Checks from level first; reads counts the pages visited.
  bool Leads(size_t first, bool leaf_at_end = true) {
    const auto visit = [this](uint32_t page, const auto& check) -> int16_t {
      ++reads;
      auto it = pages.find(page);
      if (it == pages.end()) return kKbdOk;  // not a node: stale
      check(it->second);
      return kKbdOk;
    };
    bool leads = true;
    EXPECT_EQ(kept.Check(first, leaf_at_end, visit, &leads), kKbdOk);
    return leads;
  }

  std::map<uint32_t, Node> pages;
  KeptPosition<int> kept;
  int reads = 0;
};

TEST_F(KeptPositionTest, HoldsOnlyTheKeptPair) {
  EXPECT_TRUE(kept.Holds(Bytes("cccc"), 7));
  EXPECT_FALSE(kept.Holds(Bytes("cccc"), 5));
  EXPECT_FALSE(kept.Holds(Bytes("cccd"), 7));
  EXPECT_TRUE(kept.StartsAt(10));
  EXPECT_FALSE(kept.StartsAt(30));
  EXPECT_TRUE(kept.KeptUnder(1));
  EXPECT_FALSE(kept.KeptUnder(2));
  kept.Forget();
  EXPECT_FALSE(kept.Holds(Bytes("cccc"), 7));
  KeptPosition<int> none;
  EXPECT_FALSE(none.Holds(Bytes("cccc"), 7));
}

TEST_F(KeptPositionTest, UnchangedPagesLeadAndRestore) {
  EXPECT_TRUE(Leads(0));
  EXPECT_EQ(reads, 2);
  PathStack path(8);
  ASSERT_EQ(path.Push(99, 0), kKbdOk);
  ASSERT_EQ(kept.Restore(&path), kKbdOk);
  ASSERT_EQ(path.depth(), 2);
  EXPECT_EQ(path.at(0).page, 10u);
  EXPECT_EQ(path.at(0).index, 1);
  EXPECT_EQ(path.leaf().page, 30u);
  EXPECT_EQ(path.leaf().index, 1);
}

TEST_F(KeptPositionTest, RestoresOnlyAPathThatLeads) {
  const auto visit = [this](uint32_t page, const auto& check) -> int16_t {
    auto it = pages.find(page);
    if (it != pages.end()) check(it->second);
    return kKbdOk;
  };
  PathStack path(8);
  ASSERT_EQ(path.Push(20, 0), kKbdOk);
  pages[30].recnos[1] = 8;
  bool restored = true;
  ASSERT_EQ(kept.RestoreIfLeads(0, true, visit, &path, &restored), kKbdOk);
  EXPECT_FALSE(restored);
  ASSERT_EQ(path.depth(), 1);  // the position is left alone
  EXPECT_EQ(path.leaf().page, 20u);
  pages[30].recnos[1] = 7;
  ASSERT_EQ(kept.RestoreIfLeads(0, true, visit, &path, &restored), kKbdOk);
  EXPECT_TRUE(restored);
  ASSERT_EQ(path.depth(), 2);
  EXPECT_EQ(path.leaf().page, 30u);
  EXPECT_EQ(path.leaf().index, 1);
  // A visit's read error is handed on.
  const auto failing = [](uint32_t, const auto&) -> int16_t {
    return kKbdErrRead;
  };
  EXPECT_EQ(kept.RestoreIfLeads(0, true, failing, &path, &restored),
            kKbdErrRead);
  EXPECT_FALSE(restored);
}

TEST_F(KeptPositionTest, EachChangeMakesThePathStale) {
  // The entry moved within its leaf (an insert before it).
  pages[30].keys.insert(pages[30].keys.begin(), "bbbc");
  pages[30].recnos.insert(pages[30].recnos.begin(), 9);
  EXPECT_FALSE(Leads(0));
  SetUp();
  // The parent points elsewhere (a split or a merge).
  pages[10].children[1] = 50;
  EXPECT_FALSE(Leads(0));
  SetUp();
  // The leaf lost entries: the kept index is past its count.
  pages[30].keys.resize(1);
  pages[30].recnos.resize(1);
  EXPECT_FALSE(Leads(0));
  SetUp();
  // The kept page is no node any more (freed, or beyond the file).
  pages.erase(30);
  EXPECT_FALSE(Leads(0));
  SetUp();
  // The slot holds the key with another record number.
  pages[30].recnos[1] = 8;
  EXPECT_FALSE(Leads(0));
  SetUp();
  // A root that became a leaf.
  pages[10].is_leaf = true;
  EXPECT_FALSE(Leads(0));
}

TEST_F(KeptPositionTest, FirstLevelSkipsWhatTheStampVouchesFor) {
  // Only the last level is read: the changed parent goes unseen.
  pages[10].children[1] = 50;
  EXPECT_TRUE(Leads(1));
  EXPECT_EQ(reads, 1);
  // Nothing is read at all from the end of the path.
  reads = 0;
  pages.erase(30);
  EXPECT_TRUE(Leads(2));
  EXPECT_EQ(reads, 0);
}

TEST_F(KeptPositionTest, LastLevelMayBeInteriorWhenAllowed) {
  // A path ending on a key of an interior page (keys in every page).
  PathStack path(8);
  ASSERT_EQ(path.Push(10, 1), kKbdOk);
  kept.Keep(path, Bytes("dddd"), kKey, 0, 1);
  EXPECT_FALSE(kept.Holds(Bytes("dddd"), 0));  // record 0: nothing kept
  pages[10].recnos[1] = 6;
  kept.Keep(path, Bytes("dddd"), kKey, 6, 1);
  EXPECT_TRUE(Leads(0, /*leaf_at_end=*/false));
  EXPECT_FALSE(Leads(0, /*leaf_at_end=*/true));
}

}  // namespace
}  // namespace qx::engine::btree
