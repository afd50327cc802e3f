// Randomized model test of NDX indexes: tens of thousands of adds and
// deletes with duplicates and prefixes, under both collation settings and
// with numeric keys, against std::multimap; after every batch the walk
// must equal the model, finds must land where the model says, and the
// structural check must pass. After close the file holds exactly the
// tree. Seed: QX_TEST_SEED, else fixed; shown on failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/collate/collation.h"
#include "engine/ndx/ndx_file.h"
#include "tests/engine/ndx/ndx_test_util.h"

namespace qx::engine::testing {
namespace {

constexpr uint16_t kKeyLength = 10;

// Orders keys as the index does (under the switch at the time of use).
struct KeyOrder {
  bool numeric = false;
  bool operator()(const std::string& a, const std::string& b) const {
    if (numeric) {
      return NdxNumericOrder(reinterpret_cast<const uint8_t*>(a.data())) <
             NdxNumericOrder(reinterpret_cast<const uint8_t*>(b.data()));
    }
    return CompareCharKeys(reinterpret_cast<const uint8_t*>(a.data()),
                           reinterpret_cast<const uint8_t*>(b.data()),
                           a.size()) < 0;
  }
};

// Equal keys keep insertion order in the multimap; record numbers grow
// with insertion, so that is the index's record order among equal keys.
using Model = std::multimap<std::string, uint32_t, KeyOrder>;

class NdxModelTest : public NdxTest {
 protected:
  // A key from a small pool of stems, often cut short so that keys are
  // prefixes of others, in letters the collation table reorders (and a
  // byte it lacks).
  std::string RandomCharKey() {
    static const char kAlphabet[] = "AaBbEe\xC4\xE9zZ09 -\x01";
    if (stems_.empty()) {
      for (int i = 0; i < 300; ++i) {
        std::string stem;
        for (int j = 0; j < kKeyLength; ++j)
          stem += kAlphabet[rng_() % (sizeof kAlphabet - 1)];
        stems_.push_back(stem);
      }
    }
    std::string key = stems_[rng_() % stems_.size()];
    key.resize(1 + rng_() % kKeyLength);
    key.resize(kKeyLength, ' ');
    return key;
  }
  std::string RandomNumericKey() {
    static const double kValues[] = {-1e9, -3.5, -1.0, -0.0, 0.0, 0.25,
                                     1.0, 2.0, 1e9, 1.0e100};
    double v = rng_() % 4 == 0 ? kValues[rng_() % 10]
                               : static_cast<double>(rng_() % 20000) / 8 - 900;
    return NumericKey(v);
  }

  // The entry kbdnkfind should land on for a prefix search, and its status.
  static int16_t Expected(const Model& model, const std::string& search,
                          bool numeric, NdxEntry* entry) {
    if (model.empty()) return kKbdEmptyFile;
    const size_t n = search.size();
    auto below = [&](const Model::value_type& v) {
      if (numeric) return KeyOrder{true}(v.first, search);
      return CompareCharKeys(reinterpret_cast<const uint8_t*>(v.first.data()),
                             reinterpret_cast<const uint8_t*>(search.data()),
                             n) < 0;
    };
    auto it = std::partition_point(model.begin(), model.end(), below);
    bool equal = it != model.end() && !below(*it) &&
                 (numeric ? !KeyOrder{true}(search, it->first)
                          : CompareCharKeys(
                                reinterpret_cast<const uint8_t*>(search.data()),
                                reinterpret_cast<const uint8_t*>(it->first.data()),
                                n) == 0);
    if (equal) {
      *entry = {it->first, it->second};
      return kKbdOk;
    }
    if (it == model.begin()) {
      *entry = {it->first, it->second};
      return kKbdKeyNotFoundEnd;
    }
    --it;
    *entry = {it->first, it->second};
    return kKbdKeyNotFound;
  }

  void Verify(int16_t h, const Model& model, bool numeric) {
    std::vector<NdxEntry> expected;
    for (const auto& [key, recno] : model) expected.push_back({key, recno});
    std::vector<NdxEntry> walk = Walk(h);
    ASSERT_EQ(walk.size(), expected.size());
    for (size_t i = 0; i < walk.size(); ++i)
      ASSERT_EQ(walk[i], expected[i]) << "entry " << i;
    btree::CheckReport report = Check(h);
    ASSERT_EQ(report.keys, model.size());
    for (int i = 0; i < 40; ++i) {
      std::string search = numeric ? RandomNumericKey() : RandomCharKey();
      if (!numeric) search.resize(1 + rng_() % kKeyLength);
      NdxEntry want, got;
      int16_t status = Expected(model, search, numeric, &want);
      ASSERT_EQ(Find(h, search, 0, 0, &got), status) << "search " << search;
      if (status != kKbdEmptyFile) {
        // Among equal keys the first one is found.
        EXPECT_EQ(got, want) << "search " << search;
      }
    }
  }

  // Adds and deletes (ops of them) in batches, verifying after each.
  void Run(uint16_t type, bool numeric, int ops, int batch) {
    kbdsetsync(0);
    const std::string name = numeric ? "num.ndx" : "char.ndx";
    int16_t h = CreateOpen(name, type, "K", kKeyLength);
    Model model(KeyOrder{numeric});
    std::vector<std::pair<std::string, uint32_t>> live;
    uint32_t next_recno = 0;
    for (int op = 0; op < ops; ++op) {
      // Grow for the first 60% of the run, shrink afterwards.
      const bool growing = op < ops * 6 / 10;
      const uint32_t dice = rng_() % 100;
      if (live.empty() || (growing ? dice < 75 : dice < 20)) {
        std::string key = numeric ? RandomNumericKey() : RandomCharKey();
        uint32_t recno = ++next_recno;
        ASSERT_EQ(Add(h, key, recno), kKbdOk);
        model.emplace(key, recno);
        live.emplace_back(key, recno);
      } else if (dice % 17 == 0) {
        // A pair that is not there changes nothing.
        ASSERT_EQ(Del(h, live[rng_() % live.size()].first, next_recno + 1),
                  kKbdKeyNotFound);
      } else {
        size_t pick = rng_() % live.size();
        auto [key, recno] = live[pick];
        live[pick] = live.back();
        live.pop_back();
        ASSERT_EQ(Del(h, key, recno), kKbdOk) << "recno " << recno;
        auto range = model.equal_range(key);
        auto it = std::find_if(range.first, range.second,
                               [&](const auto& v) { return v.second == recno; });
        ASSERT_NE(it, range.second);
        model.erase(it);
      }
      if ((op + 1) % batch == 0) {
        SCOPED_TRACE("after op " + std::to_string(op + 1));
        ASSERT_NO_FATAL_FAILURE(Verify(h, model, numeric));
      }
    }
    ASSERT_NO_FATAL_FAILURE(Verify(h, model, numeric));
    ASSERT_EQ(kbdnclose(h), kKbdOk);
    // The file holds the tree and nothing else.
    ASSERT_EQ(kbdnopenx(&h, Path(name).c_str(), 0), kKbdOk);
    btree::CheckReport report = Check(h);
    EXPECT_EQ(report.foreign_free_pages, 0u);
    EXPECT_EQ(FileSize(Path(name)), (report.tree_pages + 1) * 512u);
    ASSERT_NO_FATAL_FAILURE(Verify(h, model, numeric));
    ASSERT_EQ(kbdnclose(h), kKbdOk);
  }

  std::mt19937 rng_;
  std::vector<std::string> stems_;
};

TEST_F(NdxModelTest, CharacterKeysUnderBothCollations) {
  const uint32_t seed = TestSeed(20240611);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  for (int ascii : {1, 0}) {
    SCOPED_TRACE(ascii ? "byte order" : "collation table");
    rng_.seed(seed + static_cast<uint32_t>(ascii));
    stems_.clear();
    kbdsetsort(static_cast<int16_t>(ascii), 1);
    std::filesystem::remove(Path("char.ndx"));
    ASSERT_NO_FATAL_FAILURE(Run('C', false, 40000, 4000));
  }
}

TEST_F(NdxModelTest, NumericKeys) {
  const uint32_t seed = TestSeed(777);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  rng_.seed(seed);
  ASSERT_NO_FATAL_FAILURE(Run('N', true, 20000, 5000));
}

}  // namespace
}  // namespace qx::engine::testing
