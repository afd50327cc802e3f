// The FoxPro tree below the IDX and CDX modules: the node codec, the field
// widths of compact leaves, the tree operations against a model (both
// layouts, long keys with shared prefixes and trailing blanks so that
// compact leaves split, re-encode and free), the bulk build, and the real
// compound files of the corpus read through the tree directly.
#include "engine/fox/fox_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fox/fox_check.h"
#include "engine/fox/fox_format.h"
#include "engine/fox/fox_node.h"
#include "tests/engine/btree/index_test_util.h"

namespace qx::engine::testing {
namespace {

using fox::FoxLayout;
using fox::FoxTree;
using Entry = std::pair<std::string, uint32_t>;

const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

class FoxTreeTest : public EngineDirTest {
 public:
  // A new file holding one empty tree with its header at 0.
  uint16_t NewTree(const std::string& name, FoxLayout layout,
                   uint16_t key_length, uint8_t options = 0) {
    uint16_t slot = 0;
    EXPECT_EQ(FileCreate(&slot, Path(name).c_str()), kKbdOk);
    fox::FoxNewTree tree;
    tree.layout = layout;
    tree.key_length = key_length;
    tree.options = options;
    tree.expression = "K";
    const uint32_t root = layout == FoxLayout::kCompact ? 1024 : 512;
    EXPECT_EQ(fox::WriteEmptyTree(slot, 0, root, tree), kKbdOk);
    return slot;
  }

  static fox::FoxTreeShape Shape(FoxLayout layout, uint16_t key_length,
                                 bool unique = false) {
    fox::FoxTreeShape shape;
    shape.layout = layout;
    shape.key_length = key_length;
    shape.unique = unique;
    return shape;
  }

  static std::vector<Entry> Walk(FoxTree* tree, uint16_t key_length) {
    std::vector<Entry> out;
    EXPECT_GE(tree->Refresh(), 0);
    std::string key(key_length, '\0');
    uint32_t recno = 0;
    int16_t s = tree->First();
    while (s == kKbdOk) {
      tree->Current(reinterpret_cast<uint8_t*>(key.data()), &recno);
      out.emplace_back(key, recno);
      s = tree->Next();
    }
    EXPECT_TRUE(s == kKbdNoMoreKeys || s == kKbdEmptyFile) << s;
    EXPECT_EQ(tree->EndCall(), kKbdOk);
    return out;
  }

  static btree::CheckReport Check(uint16_t slot, FoxTree* tree,
                                  bool unique = false) {
    EXPECT_EQ(tree->Refresh(), kKbdOk);
    fox::FoxCheckInput in;
    in.file_slot = slot;
    in.layout = tree->shape().layout;
    in.key_length = tree->shape().key_length;
    in.pad = tree->shape().pad;
    in.unique = unique;
    in.root = tree->root();
    EXPECT_EQ(engine::FileSize(slot, &in.file_size), kKbdOk);
    btree::CheckReport report;
    EXPECT_EQ(fox::CheckFoxTree(in, &report), kKbdOk);
    for (const std::string& p : report.problems) ADD_FAILURE() << p;
    EXPECT_EQ(tree->EndCall(), kKbdOk);
    return report;
  }

  static int16_t Call(FoxTree* tree, const std::function<int16_t()>& body) {
    int16_t s = tree->Refresh();
    if (s >= 0) s = body();
    const int16_t e = tree->EndCall();
    SetLastError(0);
    return s < 0 ? s : (e < 0 ? e : s);
  }
};

TEST_F(FoxTreeTest, LeafFieldWidthsFollowTheKeyLength) {
  fox::FoxLeafFields f = fox::NewLeafFields(10);
  EXPECT_EQ(f.dup_bits, 4);
  EXPECT_EQ(f.trail_bits, 4);
  EXPECT_EQ(f.entry_bytes, 3);
  EXPECT_EQ(f.recno_bits, 16);
  EXPECT_EQ(f.dup_mask, 15);
  EXPECT_EQ(f.trail_mask, 15);
  EXPECT_EQ(f.recno_mask, 0xFFFFu);
  EXPECT_EQ(fox::NewLeafFields(1).entry_bytes, 2);
  EXPECT_EQ(fox::NewLeafFields(20).recno_mask, 16383u);
  EXPECT_EQ(fox::NewLeafFields(100).recno_mask, 262143u);
  // Widening grows the entry by whole bytes and keeps the count widths.
  fox::FoxLeafFields w = fox::WidenLeafFields(f, 70000);
  EXPECT_EQ(w.entry_bytes, 4);
  EXPECT_EQ(w.recno_bits, 24);
  EXPECT_EQ(w.dup_bits, 4);
  EXPECT_EQ(fox::WidenLeafFields(f, 0xFFFFFFFF).recno_bits, 32);
  // Fixed entries per node.
  EXPECT_EQ(fox::FoxFixedCapacity({FoxLayout::kStandard, 10, ' '}, true), 35u);
  EXPECT_EQ(fox::FoxFixedCapacity({FoxLayout::kStandard, 100, ' '}, false), 4u);
  EXPECT_EQ(fox::FoxFixedCapacity({FoxLayout::kCompact, 10, ' '}, false), 27u);
}

TEST_F(FoxTreeTest, NodeCodecRoundTrips) {
  const fox::FoxNodeFormat compact{FoxLayout::kCompact, 12, ' '};
  fox::FoxNode leaf;
  leaf.attributes = fox::kFoxAttrLeaf;
  leaf.left = 1536;
  leaf.right = fox::kFoxNoNode;
  leaf.fields = fox::NewLeafFields(12);
  const char* keys[] = {"            ", "ABC         ", "ABCD        ",
                        "ABCD        ", "ABCDEFGHIJKL", "ABD        x"};
  for (uint32_t i = 0; i < 6; ++i)
    leaf.InsertEntry(i, reinterpret_cast<const uint8_t*>(keys[i]), 12, 1000 + i,
                     0);
  uint8_t page[512];
  ASSERT_TRUE(fox::EncodeFoxNode(leaf, compact, page));
  fox::FoxNode back;
  ASSERT_TRUE(fox::DecodeFoxNode(page, compact, &back));
  EXPECT_EQ(back.keys, leaf.keys);
  EXPECT_EQ(back.recnos, leaf.recnos);
  EXPECT_EQ(back.left, 1536u);
  EXPECT_EQ(back.right, fox::kFoxNoNode);
  // Stored bytes: 0 + 3 + 1 + 0 + 8 + 10, after 6 entries of 3 bytes.
  EXPECT_EQ(back.free_bytes, 488u - 18u - 22u);
  EXPECT_EQ(GetLe16(page + 12), 488 - 18 - 22);
  // Key bytes sit at the end of the node: the first stored key "ABC".
  EXPECT_EQ(std::string(reinterpret_cast<char*>(page) + 509, 3), "ABC");
  // A record number above the mask does not encode.
  leaf.recnos[2] = 0x10000 * 16;
  EXPECT_FALSE(fox::EncodeFoxNode(leaf, compact, page));

  // Fixed entries: standard leaf and compact inner node, big-endian.
  const fox::FoxNodeFormat standard{FoxLayout::kStandard, 4, ' '};
  fox::FoxNode fixed;
  fixed.attributes = 0;
  fixed.InsertEntry(0, Bytes("abcd"), 4, 0, 0x01020304);
  ASSERT_TRUE(fox::EncodeFoxNode(fixed, standard, page));
  EXPECT_EQ(page[16], 1);
  EXPECT_EQ(page[19], 4);
  ASSERT_TRUE(fox::DecodeFoxNode(page, standard, &back));
  EXPECT_EQ(back.children[0], 0x01020304u);
  const fox::FoxNodeFormat inner{FoxLayout::kCompact, 4, ' '};
  fixed.recnos[0] = 7;
  ASSERT_TRUE(fox::EncodeFoxNode(fixed, inner, page));
  EXPECT_EQ(page[19], 7);
  EXPECT_EQ(page[23], 4);
  // A count beyond the node's capacity does not decode.
  page[2] = 200;
  EXPECT_FALSE(fox::DecodeFoxNode(page, inner, &back));
}

// Random adds and removes against a sorted set; walks, checks, searches.
void RunTreeModel(uint16_t slot, FoxTree* tree, uint16_t key_length,
                  uint32_t seed, int ops, uint32_t recno_span) {
  std::mt19937 rng(seed);
  std::vector<std::string> stems;
  for (int i = 0; i < 60; ++i) {
    std::string s = "CUSTOMER-" + std::to_string(rng() % 7) + "-";
    while (s.size() < key_length) s += static_cast<char>('a' + rng() % 3);
    stems.push_back(s);
  }
  auto random_key = [&]() {
    std::string k = stems[rng() % stems.size()];
    k.resize(1 + rng() % key_length);
    k.resize(key_length, ' ');
    return k;
  };
  std::set<Entry> model;
  std::vector<Entry> live;
  for (int op = 0; op < ops; ++op) {
    const bool grow = op < ops * 6 / 10;
    if (live.empty() || rng() % 100 < (grow ? 70u : 25u)) {
      Entry e{random_key(), 1 + rng() % recno_span};
      const int16_t s = FoxTreeTest::Call(
          tree, [&] { return tree->Insert(Bytes(e.first), e.second); });
      if (model.count(e)) {
        ASSERT_EQ(s, kKbdAlreadyExists);
        continue;
      }
      ASSERT_EQ(s, kKbdOk) << "op " << op;
      model.insert(e);
      live.push_back(e);
    } else {
      const size_t pick = rng() % live.size();
      Entry e = live[pick];
      live[pick] = live.back();
      live.pop_back();
      ASSERT_EQ(
          FoxTreeTest::Call(
              tree, [&] { return tree->Remove(Bytes(e.first), e.second); }),
          kKbdOk)
          << "op " << op;
      model.erase(e);
      ASSERT_EQ(
          FoxTreeTest::Call(
              tree, [&] { return tree->Remove(Bytes(e.first), e.second); }),
          model.empty() ? kKbdEmptyFile : kKbdKeyNotFound);
    }
    if ((op + 1) % 1500 == 0 || op + 1 == ops) {
      SCOPED_TRACE("after op " + std::to_string(op + 1));
      std::vector<Entry> walk = FoxTreeTest::Walk(tree, key_length);
      ASSERT_EQ(walk, std::vector<Entry>(model.begin(), model.end()));
      btree::CheckReport report = FoxTreeTest::Check(slot, tree);
      ASSERT_EQ(report.problem_count, 0u);
      ASSERT_EQ(report.keys, model.size());
      // Prefix searches land on the first entry not below.
      for (int i = 0; i < 30; ++i) {
        std::string search = random_key().substr(0, 1 + rng() % key_length);
        auto it = model.lower_bound(Entry{search, 0});
        uint8_t key[128];
        uint32_t recno = 0;
        const int16_t s = FoxTreeTest::Call(tree, [&] {
          int16_t r = tree->Search(Bytes(search),
                                   static_cast<uint32_t>(search.size()), 0, 1);
          if (r == kKbdOk || r == kKbdKeyNotFound) tree->Current(key, &recno);
          return r;
        });
        if (model.empty()) {
          ASSERT_EQ(s, kKbdEmptyFile);
        } else if (it == model.end()) {
          ASSERT_EQ(s, kKbdNoMoreKeys);
        } else {
          ASSERT_EQ(s, it->first.compare(0, search.size(), search) == 0
                           ? kKbdOk
                           : kKbdKeyNotFound);
          ASSERT_EQ(std::string(reinterpret_cast<char*>(key), key_length),
                    it->first);
          ASSERT_EQ(recno, it->second);
        }
      }
    }
  }
}

TEST_F(FoxTreeTest, CompactTreeFollowsTheModel) {
  const uint32_t seed = TestSeed(4242);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  const uint16_t kl = 60;
  uint16_t slot = NewTree("c.idx", FoxLayout::kCompact, kl);
  FoxTree tree;
  ASSERT_EQ(tree.Init(slot, Shape(FoxLayout::kCompact, kl)), kKbdOk);
  // Record numbers beyond 16 bits widen the leaves they reach.
  ASSERT_NO_FATAL_FAILURE(RunTreeModel(slot, &tree, kl, seed, 12000, 1u << 20));
  EXPECT_EQ(FileClose(slot), kKbdOk);
}

TEST_F(FoxTreeTest, StandardTreeFollowsTheModel) {
  const uint32_t seed = TestSeed(777);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  const uint16_t kl = 24;
  uint16_t slot = NewTree("s.idx", FoxLayout::kStandard, kl);
  FoxTree tree;
  ASSERT_EQ(tree.Init(slot, Shape(FoxLayout::kStandard, kl)), kKbdOk);
  ASSERT_NO_FATAL_FAILURE(RunTreeModel(slot, &tree, kl, seed, 12000, 40));
  EXPECT_EQ(FileClose(slot), kKbdOk);
}

TEST_F(FoxTreeTest, RecordFieldLimitsWithoutWidening) {
  uint16_t slot = NewTree("w.cdx", FoxLayout::kCompact, 10);
  FoxTree tree;
  fox::FoxTreeShape shape = Shape(FoxLayout::kCompact, 10);
  shape.widen_record_field = false;
  shape.cache_error = kKbdErrNodeCache;
  ASSERT_EQ(tree.Init(slot, shape), kKbdOk);
  const std::string key = "ALPHA     ";
  EXPECT_EQ(Call(&tree, [&] { return tree.Insert(Bytes(key), 70000); }),
            kKbdErrCorrupt);
  EXPECT_EQ(Call(&tree, [&] { return tree.Insert(Bytes(key), 65535); }),
            kKbdOk);
  EXPECT_EQ(Call(&tree, [&] { return tree.Insert(Bytes(key), 65535); }),
            kKbdAlreadyExists);
  EXPECT_EQ(Walk(&tree, 10).size(), 1u);
  EXPECT_EQ(FileClose(slot), kKbdOk);
}

TEST_F(FoxTreeTest, UniqueTreeKeepsOneEntryPerKey) {
  uint16_t slot = NewTree("u.idx", FoxLayout::kCompact, 8, fox::kFoxUnique);
  FoxTree tree;
  ASSERT_EQ(tree.Init(slot, Shape(FoxLayout::kCompact, 8, true)), kKbdOk);
  EXPECT_EQ(Call(&tree, [&] { return tree.Insert(Bytes("KEY     "), 5); }),
            kKbdOk);
  EXPECT_EQ(Call(&tree, [&] { return tree.Insert(Bytes("KEY     "), 9); }),
            kKbdAlreadyExists);
  // Removal needs the key and the record number, in a unique tree too.
  EXPECT_EQ(Call(&tree, [&] { return tree.Remove(Bytes("KEY     "), 9); }),
            kKbdKeyNotFound);
  EXPECT_EQ(Walk(&tree, 8).size(), 1u);
  EXPECT_EQ(Call(&tree, [&] { return tree.Remove(Bytes("KEY     "), 5); }),
            kKbdOk);
  EXPECT_TRUE(Walk(&tree, 8).empty());
  EXPECT_EQ(FileClose(slot), kKbdOk);
}

TEST_F(FoxTreeTest, BuildEqualsTheSortedInput) {
  for (FoxLayout layout : {FoxLayout::kStandard, FoxLayout::kCompact}) {
    SCOPED_TRACE(layout == FoxLayout::kCompact ? "compact" : "standard");
    const uint16_t kl = 30;
    uint16_t slot = NewTree("b.idx", layout, kl);
    std::mt19937 rng(99);
    std::set<Entry> entries;
    for (uint32_t r = 1; r <= 20000; ++r) {
      std::string k = "PREFIX" + std::to_string(rng() % 5000);
      k.resize(kl, ' ');
      entries.emplace(k, r);
    }
    fox::FoxTreeBuilder builder;
    ASSERT_EQ(builder.Start(slot, layout, kl, ' ', 20000), kKbdOk);
    for (const Entry& e : entries)
      ASSERT_EQ(builder.Add(Bytes(e.first), e.second), kKbdOk);
    uint32_t root = 0;
    ASSERT_EQ(builder.Finish(&root), kKbdOk);
    uint8_t word[4];
    PutLe32(word, root);
    ASSERT_EQ(FileWriteAt(slot, 0, word, 4), kKbdOk);
    FoxTree tree;
    ASSERT_EQ(tree.Init(slot, Shape(layout, kl)), kKbdOk);
    EXPECT_EQ(Walk(&tree, kl),
              std::vector<Entry>(entries.begin(), entries.end()));
    EXPECT_EQ(Check(slot, &tree).keys, entries.size());
    // Adds after the build split full nodes and stay consistent.
    for (uint32_t r = 20001; r <= 20500; ++r) {
      std::string k = "PREFIX" + std::to_string(rng() % 5000);
      k.resize(kl, ' ');
      ASSERT_EQ(Call(&tree, [&] { return tree.Insert(Bytes(k), r); }), kKbdOk);
      entries.emplace(k, r);
    }
    EXPECT_EQ(Walk(&tree, kl),
              std::vector<Entry>(entries.begin(), entries.end()));
    EXPECT_EQ(Check(slot, &tree).keys, entries.size());
    std::vector<uint32_t> nodes;
    EXPECT_EQ(Call(&tree, [&] { return tree.CollectNodes(&nodes); }), kKbdOk);
    EXPECT_EQ(nodes.size(), Check(slot, &tree).tree_pages);
    EXPECT_EQ(FileClose(slot), kKbdOk);
    std::filesystem::remove(Path("b.idx"));
  }
}

// The real compound files: the directory's entries name the tags (record
// number = tag header offset); each tag walks in the peer's order.
TEST_F(FoxTreeTest, RealCompoundFilesWalkInThePeerOrder) {
  const std::string real = qx::testing::SharedDir() + "/fixtures/real";
  int tags_compared = 0;
  int copies = 0;  // one copy per file: Windows keeps an open file in place
  // Files whose tags are in a collation order, not byte order.
  const std::set<std::string> collated = {"Customers.CDX"};
  for (const auto& dir : std::filesystem::directory_iterator(real)) {
    if (!dir.is_directory()) continue;
    for (const auto& file : std::filesystem::directory_iterator(dir.path())) {
      std::string ext = file.path().extension().string();
      for (char& c : ext) c = static_cast<char>(std::tolower(c));
      if (ext != ".cdx") continue;
      const bool corrupt = dir.path().filename() == "xsharp-cdx-corrupt";
      SCOPED_TRACE(file.path().string());
      // A private copy: other processes may hold the fixture open.
      const std::string copy = Path("real" + std::to_string(++copies) + ".cdx");
      std::filesystem::copy_file(
          file.path(), copy, std::filesystem::copy_options::overwrite_existing);
      uint16_t slot = 0;
      uint16_t flags = 0;
      ASSERT_EQ(FileOpen(&slot, copy.c_str(), 0x100, &flags), kKbdOk);
      fox::FoxHeader directory;
      ASSERT_EQ(fox::ReadFoxHeader(slot, 0, &directory), kKbdOk);
      ASSERT_EQ(directory.layout(), FoxLayout::kCompact);
      fox::FoxTreeShape shape =
          Shape(FoxLayout::kCompact, directory.key_length);
      shape.read_only = true;
      FoxTree dir_tree;
      ASSERT_EQ(dir_tree.Init(slot, shape), kKbdOk);
      std::vector<Entry> tags = Walk(&dir_tree, directory.key_length);
      ASSERT_FALSE(tags.empty());
      EXPECT_EQ(Check(slot, &dir_tree).keys, tags.size());
      for (const Entry& tag : tags) {
        std::string name =
            tag.first.substr(0, tag.first.find_last_not_of(' ') + 1);
        SCOPED_TRACE(name);
        fox::FoxHeader header;
        ASSERT_EQ(fox::ReadFoxHeader(slot, tag.second, &header), kKbdOk);
        EXPECT_FALSE(header.expression.empty());
        fox::FoxTreeShape tag_shape =
            Shape(FoxLayout::kCompact, header.key_length);
        tag_shape.header_offset = tag.second;
        tag_shape.read_only = true;
        FoxTree tag_tree;
        ASSERT_EQ(tag_tree.Init(slot, tag_shape), kKbdOk);
        std::vector<Entry> walk = Walk(&tag_tree, header.key_length);
        std::vector<uint32_t> order;
        for (const Entry& e : walk) order.push_back(e.second);
        const std::string expected = dir.path().string() + "/expected/" +
                                     file.path().filename().string() + "." +
                                     name + ".order";
        if (std::filesystem::exists(expected)) {
          EXPECT_EQ(order, ReadOrderFile(expected));
          ++tags_compared;
        }
        if (!corrupt) {
          // Checked with blank and zero pads: trailing counts decode under
          // one of them. Keys of collation-ordered tags are not in byte
          // order; everything else must hold.
          EXPECT_EQ(tag_tree.Refresh(), kKbdOk);
          fox::FoxCheckInput in;
          in.file_slot = slot;
          in.key_length = header.key_length;
          in.root = tag_tree.root();
          EXPECT_EQ(engine::FileSize(slot, &in.file_size), kKbdOk);
          EXPECT_EQ(tag_tree.EndCall(), kKbdOk);
          const bool in_collation =
              collated.count(file.path().filename().string()) > 0;
          size_t least = SIZE_MAX;
          std::string first_problem;
          for (uint8_t pad : {uint8_t{' '}, uint8_t{0}}) {
            in.pad = pad;
            btree::CheckReport report;
            EXPECT_EQ(fox::CheckFoxTree(in, &report), kKbdOk);
            EXPECT_EQ(report.keys, walk.size());
            size_t counted = 0;
            for (const std::string& p : report.problems)
              if (!in_collation || p.find("out of order") == std::string::npos)
                ++counted;
            if (counted < least && !report.problems.empty())
              first_problem = report.problems[0];
            least = std::min(least, counted);
          }
          EXPECT_EQ(least, 0u) << first_problem;
        }
      }
      EXPECT_EQ(FileClose(slot), kKbdOk);
    }
  }
  EXPECT_GT(tags_compared, 50);
}

}  // namespace
}  // namespace qx::engine::testing
