// The shared tree algorithms on small pages of the two fixed-entry forms
// (NDX-like: separate child and record words, leaf told by the first
// child; MDX-like: one pointer word, leaf told by the trailing pointer,
// 16-bit count), table-driven: a randomized model test against
// std::multimap with the structural check after every batch, then a
// compaction by page moves; long runs of equal keys placed and walked by
// record number. Seed: QX_TEST_SEED, else fixed.
#include "engine/btree/btree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/btree/btree_check.h"
#include "engine/core/coding.h"
#include "engine/fileio/file_layer.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine::btree {
namespace {

constexpr uint32_t kPage = 128;
constexpr uint32_t kKey = 8;
constexpr uint32_t kFreeMark = 0xFFFFFFFF;

EntryLayout NdxLike() {
  EntryLayout l;
  l.page_size = kPage;
  l.count_size = 1;
  l.entries_offset = 4;
  l.entry_size = 16;
  l.child_offset = 0;
  l.recno_offset = 4;
  l.key_offset = 8;
  l.key_length = kKey;
  l.max_keys = 7;
  l.leaf_test = LeafTest::kFirstChildZero;
  return l;
}

EntryLayout MdxLike() {
  EntryLayout l;
  l.page_size = kPage;
  l.count_size = 2;
  l.entries_offset = 8;
  l.entry_size = 12;
  l.child_offset = 0;
  l.recno_offset = 0;
  l.key_offset = 4;
  l.key_length = kKey;
  l.max_keys = 9;
  l.leaf_test = LeafTest::kLastPointerZero;
  return l;
}

// A tree in a plain file: root and free pages kept in memory.
class ToyStore : public TreeStore {
 public:
  explicit ToyStore(PageCache* cache) : cache_(cache) {}
  uint32_t Root() const override { return root; }
  int16_t SetRoot(uint32_t page) override {
    root = page;
    return kKbdOk;
  }
  int16_t AllocatePage(uint32_t* page) override {
    if (!free.empty()) {
      *page = free.back();
      free.pop_back();
      return kKbdOk;
    }
    *page = end++;
    cache_->SetBounds(1, end);
    return kKbdOk;
  }
  int16_t FreePage(uint32_t page) override {
    PageRef ref;
    if (int16_t e = cache_->Load(page, &ref)) return e;
    PutLe32(ref.data(), kFreeMark);
    free.push_back(page);
    return cache_->Write(ref);
  }
  int CompareKeys(const uint8_t* search, const uint8_t* key, uint32_t length,
                  bool) const override {
    return std::memcmp(search, key, length);
  }

  uint32_t root = 1;
  uint32_t end = 2;
  std::vector<uint32_t> free;

 private:
  PageCache* cache_;
};

uint32_t Seed() {
  const char* text = std::getenv("QX_TEST_SEED");
  return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 0)) : 4242u;
}

struct Form {
  const char* name;
  EntryLayout (*layout)();
};
void PrintTo(const Form& form, std::ostream* os) { *os << form.name; }

class TreeTest : public ::testing::TestWithParam<Form> {
 protected:
  void SetUp() override {
    kbdterm();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
    qx::testing::WriteWholeFile(dir_.File("t.bin"),
                                std::string(2 * kPage, '\0'));
    uint16_t flags = 0;
    ASSERT_EQ(FileOpen(&slot_, dir_.File("t.bin").c_str(), 1, &flags), kKbdOk);
    layout_ = GetParam().layout();
    ASSERT_TRUE(layout_.Valid());
    ASSERT_EQ(cache_.Init(slot_, kPage, kPage, {10, 3}, 3), kKbdOk);
    cache_.SetBounds(1, store_.end);
    path_.Reset(PathCapacity(layout_.max_keys / 2));
    tree_ = std::make_unique<Tree>(&layout_, layout_.max_keys / 2, &cache_,
                                   &path_, &store_);
  }
  void TearDown() override {
    tree_.reset();
    FileClose(slot_);
    kbdterm();
  }
  // The end of a call: nothing is kept from one operation to the next.
  void EndCall() {
    ASSERT_EQ(cache_.Clear(), kKbdOk);
    path_.Clear();
  }

  CheckReport Check(bool account) {
    CheckInput input;
    input.layout = &layout_;
    input.root = store_.root;
    input.first_page = 1;
    input.end_page = store_.end;
    input.free_chain = store_.free;
    input.account_pages = account;
    input.read_page = [this](uint32_t page, uint8_t* buffer) {
      return FileReadAt(slot_, page * kPage, buffer, kPage);
    };
    input.compare = [](const uint8_t* a, const uint8_t* b) {
      return std::memcmp(a, b, kKey);
    };
    input.is_free = [](const uint8_t* page) {
      return GetLe32(page) == kFreeMark;
    };
    CheckReport report;
    EXPECT_EQ(CheckTree(input, &report), kKbdOk);
    for (const std::string& p : report.problems) ADD_FAILURE() << p;
    return report;
  }

  void ExpectWalk(const std::multimap<std::string, uint32_t>& model) {
    std::vector<std::pair<std::string, uint32_t>> walk;
    int16_t status = tree_->First();
    std::string key(kKey, '\0');
    while (status == kKbdOk) {
      uint32_t recno = 0;
      ASSERT_EQ(
          tree_->ReadPosition(reinterpret_cast<uint8_t*>(key.data()), &recno),
          kKbdOk);
      walk.emplace_back(key, recno);
      status = tree_->Step(true);
    }
    EndCall();
    std::vector<std::pair<std::string, uint32_t>> expected(model.begin(),
                                                           model.end());
    ASSERT_EQ(walk, expected);
  }

  qx::testing::TempDir dir_;
  uint16_t slot_ = 0xFFFF;
  EntryLayout layout_;
  PageCache cache_;
  PathStack path_;
  ToyStore store_{&cache_};
  std::unique_ptr<Tree> tree_;
};

TEST_P(TreeTest, RandomOperationsAgainstAModel) {
  const uint32_t seed = Seed();
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  std::multimap<std::string, uint32_t> model;
  std::vector<std::pair<std::string, uint32_t>> live;
  uint32_t next_recno = 0;
  const int kOps = 12000;
  for (int op = 0; op < kOps; ++op) {
    const bool growing = op < kOps * 6 / 10;
    if (live.empty() || rng() % 100 < (growing ? 70u : 25u)) {
      std::string key(kKey, '\0');
      for (uint32_t i = 0; i < kKey; ++i)
        key[i] = static_cast<char>(i < 2 ? 'a' + rng() % 8 : 'a');
      uint32_t recno = ++next_recno;
      ASSERT_EQ(tree_->Insert(reinterpret_cast<const uint8_t*>(key.data()),
                              recno, false),
                kKbdOk);
      model.emplace(key, recno);
      live.emplace_back(key, recno);
    } else {
      size_t pick = rng() % live.size();
      auto [key, recno] = live[pick];
      live[pick] = live.back();
      live.pop_back();
      ASSERT_EQ(
          tree_->Remove(reinterpret_cast<const uint8_t*>(key.data()), recno),
          kKbdOk);
      auto range = model.equal_range(key);
      for (auto it = range.first; it != range.second; ++it) {
        if (it->second == recno) {
          model.erase(it);
          break;
        }
      }
    }
    EndCall();
    if ((op + 1) % 1000 == 0) {
      SCOPED_TRACE("after op " + std::to_string(op + 1));
      ASSERT_NO_FATAL_FAILURE(ExpectWalk(model));
      ASSERT_EQ(Check(true).keys, model.size());
    }
  }
  // Compaction: each free page takes the last live page, free pages at
  // the end are dropped.
  std::vector<uint32_t> holes = store_.free;
  store_.free.clear();
  uint32_t end = store_.end;
  auto is_free = [&](uint32_t page) {
    uint8_t bytes[4];
    EXPECT_EQ(FileReadAt(slot_, page * kPage, bytes, 4), kKbdOk);
    return GetLe32(bytes) == kFreeMark;
  };
  for (uint32_t hole : holes) {
    while (end > 1 && is_free(end - 1)) --end;
    if (hole >= end) continue;
    ASSERT_EQ(tree_->MovePage(end - 1, hole), kKbdOk);
    EndCall();
    --end;
  }
  store_.end = end;
  cache_.SetBounds(1, end);
  CheckReport report = Check(true);
  EXPECT_EQ(report.tree_pages, end - 1);
  ASSERT_NO_FATAL_FAILURE(ExpectWalk(model));
}

TEST_P(TreeTest, FindOutcomesAndSteps) {
  auto key = [](const char* text) {
    std::string k(text);
    k.resize(kKey, ' ');
    return k;
  };
  auto insert = [&](const char* text, uint32_t recno) {
    std::string k = key(text);
    ASSERT_EQ(
        tree_->Insert(reinterpret_cast<const uint8_t*>(k.data()), recno, false),
        kKbdOk);
    EndCall();
  };
  SearchKey s;
  std::string k = key("m");
  s.key = reinterpret_cast<const uint8_t*>(k.data());
  s.length = kKey;
  EXPECT_EQ(tree_->Find(s), kKbdEmptyFile);
  EXPECT_EQ(tree_->First(), kKbdEmptyFile);
  EndCall();
  for (int i = 0; i < 40; ++i) {
    char text[4] = {static_cast<char>('b' + i / 10),
                    static_cast<char>('0' + i % 10), 0};
    insert(text, static_cast<uint32_t>(i + 1));
  }
  uint8_t found[kKey];
  uint32_t recno = 0;
  k = key("a");  // below every key
  EXPECT_EQ(tree_->Find(s), kKbdKeyNotFoundEnd);
  ASSERT_EQ(tree_->ReadPosition(found, &recno), kKbdOk);
  EXPECT_EQ(recno, 1u);
  EXPECT_EQ(tree_->Step(false), kKbdNoMoreKeys);
  EndCall();
  k = key("z");  // above every key
  EXPECT_EQ(tree_->Find(s), kKbdKeyNotFound);
  ASSERT_EQ(tree_->ReadPosition(found, &recno), kKbdOk);
  EXPECT_EQ(recno, 40u);
  EXPECT_EQ(tree_->Step(true), kKbdNoMoreKeys);
  EndCall();
  k = key("c55");  // between leaves: greatest smaller, then the next
  EXPECT_EQ(tree_->Find(s), kKbdKeyNotFound);
  ASSERT_EQ(tree_->ReadPosition(found, &recno), kKbdOk);
  EXPECT_EQ(recno, 16u);
  EXPECT_EQ(tree_->Step(true), kKbdOk);
  ASSERT_EQ(tree_->ReadPosition(found, &recno), kKbdOk);
  EXPECT_EQ(recno, 17u);
  EndCall();
  s.length = 1;  // prefix "d": the first key starting with it
  k = key("d");
  EXPECT_EQ(tree_->Find(s), kKbdOk);
  ASSERT_EQ(tree_->ReadPosition(found, &recno), kKbdOk);
  EXPECT_EQ(recno, 21u);
  EndCall();
  Check(true);
}

// Long runs of equal keys, spanning many pages, with record numbers
// inserted out of order: every pair lands in (key, record number) order.
// Then walks in both directions by MoveFrom from each pair in turn, the
// tree changing between the steps (so the path kept from the last
// position is sometimes stale): each step lands on the model's neighbour.
TEST_P(TreeTest, LongRunsOfEqualKeys) {
  const uint32_t seed = Seed();
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  using Pair = std::pair<std::string, uint32_t>;
  auto key_of = [](uint32_t k) {
    std::string key(kKey, 'k');
    key[0] = static_cast<char>('a' + k);
    return key;
  };
  auto bytes = [](const std::string& key) {
    return reinterpret_cast<const uint8_t*>(key.data());
  };
  std::vector<Pair> pairs;
  uint32_t last_recno = 0;
  for (; last_recno < 1500; ++last_recno)
    pairs.emplace_back(key_of(rng() % 3), last_recno + 1);
  std::shuffle(pairs.begin(), pairs.end(), rng);
  std::set<Pair> model;
  for (const Pair& p : pairs) {
    ASSERT_EQ(tree_->Insert(bytes(p.first), p.second, false), kKbdOk);
    EndCall();
    model.insert(p);
  }
  ASSERT_EQ(Check(true).keys, model.size());

  for (bool forward : {true, false}) {
    SCOPED_TRACE(forward ? "forward" : "backward");
    ASSERT_EQ(forward ? tree_->First() : tree_->Last(), kKbdOk);
    Pair current(std::string(kKey, '\0'), 0);
    ASSERT_EQ(
        tree_->ReadPosition(reinterpret_cast<uint8_t*>(current.first.data()),
                            &current.second),
        kKbdOk);
    EndCall();
    ASSERT_EQ(current, forward ? *model.begin() : *model.rbegin());
    for (int step = 0;; ++step) {
      if (step % 3 == 0) {  // a change elsewhere in the tree
        if (rng() % 2 == 0) {
          Pair added(key_of(rng() % 3), ++last_recno);
          ASSERT_EQ(tree_->Insert(bytes(added.first), added.second, false),
                    kKbdOk);
          model.insert(added);
        } else {
          auto it = std::next(model.begin(), rng() % model.size());
          if (*it != current) {
            ASSERT_EQ(tree_->Remove(bytes(it->first), it->second), kKbdOk);
            model.erase(it);
          }
        }
        EndCall();
      }
      int16_t status =
          tree_->MoveFrom(bytes(current.first), current.second, forward);
      auto here = model.find(current);
      ASSERT_NE(here, model.end());
      bool at_end =
          forward ? std::next(here) == model.end() : here == model.begin();
      if (at_end) {
        EXPECT_EQ(status, kKbdNoMoreKeys);
        EndCall();
        break;
      }
      ASSERT_EQ(status, kKbdOk) << "step " << step;
      Pair next(std::string(kKey, '\0'), 0);
      ASSERT_EQ(
          tree_->ReadPosition(reinterpret_cast<uint8_t*>(next.first.data()),
                              &next.second),
          kKbdOk);
      EndCall();
      ASSERT_EQ(next, forward ? *std::next(here) : *std::prev(here))
          << "step " << step;
      current = next;
    }
  }
  ASSERT_EQ(Check(true).keys, model.size());
}

INSTANTIATE_TEST_SUITE_P(Forms, TreeTest,
                         ::testing::Values(Form{"NdxLike", NdxLike},
                                           Form{"MdxLike", MdxLike}),
                         [](const auto& param_info) {
                           return param_info.param.name;
                         });

}  // namespace
}  // namespace qx::engine::btree
