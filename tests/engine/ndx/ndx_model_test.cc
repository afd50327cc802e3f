// Randomized model test of NDX indexes (the shared harness of
// index_model.h): adds and deletes with duplicates and prefixes, under
// both collation settings and with numeric keys, against std::multimap.
// After close the file holds exactly the tree. Seed: QX_TEST_SEED, else
// fixed; shown on failure.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/btree/key_order.h"
#include "tests/engine/btree/index_model.h"
#include "tests/engine/ndx/ndx_test_util.h"

namespace qx::engine::testing {
namespace {

constexpr uint16_t kKeyLength = 10;

ModelKeys NumericModelKeys() {
  ModelKeys keys;
  keys.compare = [](const std::string& a, const std::string& b) {
    return btree::CompareLeDoubleKeys(
        reinterpret_cast<const uint8_t*>(a.data()),
        reinterpret_cast<const uint8_t*>(b.data()));
  };
  keys.compare_search = keys.compare;
  keys.random_key = [](std::mt19937& rng) {
    static const double kValues[] = {-1e9, -3.5, -1.0, -0.0, 0.0,
                                     0.25, 1.0,  2.0,  1e9,  1.0e100};
    double v = rng() % 4 == 0 ? kValues[rng() % 10]
                              : static_cast<double>(rng() % 20000) / 8 - 900;
    return NumericKey(v);
  };
  keys.random_search = keys.random_key;
  return keys;
}

class NdxModelTest : public NdxTest {
 protected:
  void Run(uint16_t type, ModelKeys keys, uint32_t seed, int ops, int batch) {
    kbdsetsync(0);
    const std::string name = "model.ndx";
    std::filesystem::remove(Path(name));
    int16_t h = CreateOpen(name, type, "K", kKeyLength);
    IndexModel model(std::move(keys), seed);
    auto check = [](int16_t index) { return Check(index).keys; };
    KeysSubject<int16_t> subject(NdxKeys(), h, check);
    ASSERT_NO_FATAL_FAILURE(model.Run(&subject, ops, batch));
    ASSERT_EQ(kbdnclose(h), kKbdOk);
    // The file holds the tree and nothing else.
    ASSERT_EQ(kbdnopenx(&h, Path(name).c_str(), 0), kKbdOk);
    btree::CheckReport report = Check(h);
    EXPECT_EQ(report.foreign_free_pages, 0u);
    EXPECT_EQ(FileSize(Path(name)), (report.tree_pages + 1) * 512u);
    KeysSubject<int16_t> reopened(NdxKeys(), h, check);
    ASSERT_NO_FATAL_FAILURE(model.Verify(&reopened));
    ASSERT_EQ(kbdnclose(h), kKbdOk);
  }
};

TEST_F(NdxModelTest, CharacterKeysUnderBothCollations) {
  UnderBothCollations(20240611, kKeyLength, [&](ModelKeys keys, uint32_t seed) {
    ASSERT_NO_FATAL_FAILURE(Run('C', std::move(keys), seed, 40000, 4000));
  });
}

TEST_F(NdxModelTest, NumericKeys) {
  const uint32_t seed = TestSeed(777);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  ASSERT_NO_FATAL_FAILURE(Run('N', NumericModelKeys(), seed, 20000, 5000));
}

}  // namespace
}  // namespace qx::engine::testing
