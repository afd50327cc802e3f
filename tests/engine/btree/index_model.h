// The randomized model test of an index's key operations, shared by the
// index formats: tens of thousands of adds and deletes with duplicates
// (and, for texts, prefixes) against std::multimap. After every batch the
// walk must equal the model, finds must land where the model says, and
// the format's structural check must pass. Each format supplies its
// operations (ModelSubject) and its keys (ModelKeys).
#ifndef QX_TESTS_ENGINE_BTREE_INDEX_MODEL_H_
#define QX_TESTS_ENGINE_BTREE_INDEX_MODEL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/collate/collation.h"
#include "tests/engine/btree/index_test_util.h"

namespace qx::engine::testing {

// The index under test.
class ModelSubject {
 public:
  virtual ~ModelSubject() = default;
  virtual int16_t Add(const std::string& key, uint32_t recno) = 0;
  virtual int16_t Delete(const std::string& key, uint32_t recno) = 0;
  // Find without flags; *found gets the entry positioned on.
  virtual int16_t Find(const std::string& search, IndexEntry* found) = 0;
  virtual std::vector<IndexEntry> Walk() = 0;
  // The structural check, its problems reported as test failures; the
  // number of keys it counted.
  virtual uint64_t Check() = 0;
};

// The subject of a format's C operations; check runs its structural
// check and answers the keys it counted.
template <typename Handle>
class KeysSubject : public ModelSubject {
 public:
  KeysSubject(IndexKeys<Handle> keys, Handle h,
              std::function<uint64_t(Handle h)> check)
      : keys_(std::move(keys)), h_(h), check_(std::move(check)) {}
  int16_t Add(const std::string& key, uint32_t recno) override {
    return keys_.Add(h_, key, recno);
  }
  int16_t Delete(const std::string& key, uint32_t recno) override {
    return keys_.Del(h_, key, recno);
  }
  int16_t Find(const std::string& search, IndexEntry* found) override {
    return keys_.Find(h_, search, 0, 0, found);
  }
  std::vector<IndexEntry> Walk() override { return keys_.Walk(h_); }
  uint64_t Check() override { return check_(h_); }

 private:
  IndexKeys<Handle> keys_;
  Handle h_;
  std::function<uint64_t(Handle h)> check_;
};

// The keys of a run.
struct ModelKeys {
  // The index's order of two stored keys.
  std::function<int(const std::string& a, const std::string& b)> compare;
  // How a search key compares with a stored key: over the search key's
  // length for a text prefix, else over the whole key.
  std::function<int(const std::string& stored, const std::string& search)>
      compare_search;
  std::function<std::string(std::mt19937& rng)> random_key;
  std::function<std::string(std::mt19937& rng)> random_search;
};

// Text keys of key_length bytes from a pool of 300 random stems, often cut
// short (so that keys are prefixes of others), in letters the collation
// table reorders and a byte it lacks; searches are prefixes. Ordered by
// compare_text under the collation switch in force.
inline ModelKeys TextModelKeys(uint32_t key_length, std::mt19937& rng,
                               int (*compare_text)(const uint8_t* a,
                                                   const uint8_t* b, size_t n));

class IndexModel {
 public:
  IndexModel(ModelKeys keys, uint32_t seed)
      : keys_(std::move(keys)), rng_(seed), model_(Less{&keys_}) {}

  // Record numbers of adds: growing (the default, so that insertion order
  // is record order among equal keys) or scattered, for formats that keep
  // equal keys in insertion order whatever their record numbers.
  void ScatterRecordNumbers() { scattered_ = true; }

  // Adds and deletes (ops of them: growing for the first 60%, shrinking
  // afterwards) in batches, verifying after each.
  void Run(ModelSubject* subject, int ops, int batch) {
    std::vector<std::pair<std::string, uint32_t>> live;
    for (int op = 0; op < ops; ++op) {
      const bool growing = op < ops * 6 / 10;
      const uint32_t dice = rng_() % 100;
      if (live.empty() || (growing ? dice < 75 : dice < 20)) {
        std::string key = keys_.random_key(rng_);
        ++next_recno_;
        // 7919 is prime to the prime 1000003: distinct for 10^6 adds.
        const uint32_t recno =
            scattered_ ? 1 + next_recno_ * 7919u % 1000003u : next_recno_;
        ASSERT_EQ(subject->Add(key, recno), kKbdOk);
        model_.emplace(key, recno);
        live.emplace_back(key, recno);
      } else if (dice % 17 == 0) {
        // A pair that is not there changes nothing.
        ASSERT_EQ(subject->Delete(live[rng_() % live.size()].first,
                                  scattered_ ? 1000005u : next_recno_ + 1),
                  kKbdKeyNotFound);
      } else {
        size_t pick = rng_() % live.size();
        const auto [key, recno] = live[pick];
        const uint32_t gone = recno;  // a lambda may not capture a binding
        live[pick] = live.back();
        live.pop_back();
        ASSERT_EQ(subject->Delete(key, recno), kKbdOk) << "recno " << recno;
        auto range = model_.equal_range(key);
        auto it = std::find_if(range.first, range.second,
                               [&](const auto& v) { return v.second == gone; });
        ASSERT_NE(it, range.second);
        model_.erase(it);
      }
      if ((op + 1) % batch == 0) {
        SCOPED_TRACE("after op " + std::to_string(op + 1));
        ASSERT_NO_FATAL_FAILURE(Verify(subject));
      }
    }
    ASSERT_NO_FATAL_FAILURE(Verify(subject));
  }

  // Walk, check and 40 random finds against the model.
  void Verify(ModelSubject* subject) {
    std::vector<IndexEntry> expected;
    for (const auto& [key, recno] : model_) expected.push_back({key, recno});
    std::vector<IndexEntry> walk = subject->Walk();
    ASSERT_EQ(walk.size(), expected.size());
    for (size_t i = 0; i < walk.size(); ++i)
      ASSERT_EQ(walk[i], expected[i]) << "entry " << i;
    ASSERT_EQ(subject->Check(), model_.size());
    for (int i = 0; i < 40; ++i) {
      const std::string search = keys_.random_search(rng_);
      IndexEntry want, got;
      const int16_t status = Expected(search, &want);
      ASSERT_EQ(subject->Find(search, &got), status);
      // Among equal keys the first one is found.
      if (status != kKbdEmptyFile) {
        EXPECT_EQ(got, want);
      }
    }
  }

  size_t size() const { return model_.size(); }

 private:
  struct Less {
    const ModelKeys* keys;
    bool operator()(const std::string& a, const std::string& b) const {
      return keys->compare(a, b) < 0;
    }
  };
  // Equal keys keep insertion order in the multimap; unless scattered,
  // record numbers grow with insertion, so that is also record order.
  using Model = std::multimap<std::string, uint32_t, Less>;

  // Where a find without flags should land, and its status.
  int16_t Expected(const std::string& search, IndexEntry* entry) const {
    if (model_.empty()) return kKbdEmptyFile;
    auto below = [&](const Model::value_type& v) {
      return keys_.compare_search(v.first, search) < 0;
    };
    auto it = std::partition_point(model_.begin(), model_.end(), below);
    if (it != model_.end() && keys_.compare_search(it->first, search) == 0) {
      *entry = {it->first, it->second};
      return kKbdOk;
    }
    if (it == model_.begin()) {
      *entry = {it->first, it->second};
      return kKbdKeyNotFoundEnd;
    }
    --it;
    *entry = {it->first, it->second};
    return kKbdKeyNotFound;
  }

  ModelKeys keys_;
  std::mt19937 rng_;
  Model model_;
  uint32_t next_recno_ = 0;
  bool scattered_ = false;
};

// Runs run(keys, seed) with text keys of key_length bytes (ordered by
// CompareCharKeys) under byte order, then under the collation table; the
// seed (QX_TEST_SEED, else fixed) is shown on failure.
inline void UnderBothCollations(
    uint32_t fixed_seed, uint32_t key_length,
    const std::function<void(ModelKeys keys, uint32_t seed)>& run) {
  const uint32_t seed = TestSeed(fixed_seed);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  for (int ascii : {1, 0}) {
    SCOPED_TRACE(ascii ? "byte order" : "collation table");
    kbdsetsort(static_cast<int16_t>(ascii), 1);
    const uint32_t run_seed = seed + static_cast<uint32_t>(ascii);
    std::mt19937 stems(run_seed);
    ASSERT_NO_FATAL_FAILURE(
        run(TextModelKeys(key_length, stems, CompareCharKeys), run_seed));
  }
}

inline ModelKeys TextModelKeys(uint32_t key_length, std::mt19937& rng,
                               int (*compare_text)(const uint8_t* a,
                                                   const uint8_t* b,
                                                   size_t n)) {
  static const char kAlphabet[] = "AaBbEe\xC4\xE9zZ09 -\x01";
  auto stems = std::make_shared<std::vector<std::string>>();
  for (int i = 0; i < 300; ++i) {
    std::string stem;
    for (uint32_t j = 0; j < key_length; ++j)
      stem += kAlphabet[rng() % (sizeof kAlphabet - 1)];
    stems->push_back(stem);
  }
  auto bytes = [](const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
  };
  ModelKeys keys;
  keys.compare = [compare_text, bytes](const std::string& a,
                                       const std::string& b) {
    return compare_text(bytes(a), bytes(b), a.size());
  };
  keys.compare_search = [compare_text, bytes](const std::string& stored,
                                              const std::string& search) {
    return compare_text(bytes(stored), bytes(search), search.size());
  };
  keys.random_key = [stems, key_length](std::mt19937& r) {
    std::string key = (*stems)[r() % stems->size()];
    key.resize(1 + r() % key_length);
    key.resize(key_length, ' ');
    return key;
  };
  keys.random_search = [random_key = keys.random_key,
                        key_length](std::mt19937& r) {
    std::string key = random_key(r);
    key.resize(1 + r() % key_length);
    return key;
  };
  return keys;
}

}  // namespace qx::engine::testing

#endif  // QX_TESTS_ENGINE_BTREE_INDEX_MODEL_H_
