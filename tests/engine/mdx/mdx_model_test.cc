// Randomized model test of MDX tags (the shared harness of
// index_model.h): adds and deletes with duplicates against std::multimap
// for character keys under both collation settings, packed-decimal and
// date keys, with a second tag of the same file growing and shrinking
// alongside so that the two trees share the free chain. After reopening,
// the file accounts for every block. Seed: QX_TEST_SEED, else fixed;
// shown on failure.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/btree/key_order.h"
#include "engine/mdx/mdx_decimal.h"
#include "tests/engine/btree/index_model.h"
#include "tests/engine/mdx/mdx_test_util.h"

namespace qx::engine::testing {
namespace {

constexpr uint16_t kKeyLength = 10;

const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

// Numbers of at most two decimals, many repeated; keys as kbdmnkey makes.
ModelKeys DecimalModelKeys() {
  ModelKeys keys;
  keys.compare = [](const std::string& a, const std::string& b) {
    return CompareMdxDecimals(Bytes(a), Bytes(b));
  };
  keys.compare_search = keys.compare;
  keys.random_key = [](std::mt19937& rng) {
    static const double kValues[] = {-1e12, -0.01, 0.0, 0.01, 1e12, 999.99};
    const double v =
        rng() % 5 == 0
            ? kValues[rng() % 6]
            : static_cast<double>(static_cast<int>(rng() % 40000) - 20000) /
                  100;
    return DecimalKey(v);
  };
  keys.random_search = keys.random_key;
  return keys;
}

// Key day numbers of dates 1900..2100, and the empty date.
ModelKeys DateModelKeys() {
  ModelKeys keys;
  keys.compare = [](const std::string& a, const std::string& b) {
    return btree::CompareLeDoubleKeys(Bytes(a), Bytes(b));
  };
  keys.compare_search = keys.compare;
  keys.random_key = [](std::mt19937& rng) {
    return DayKey(rng() % 50 == 0 ? 1.0e100 : 2415021.0 + rng() % 73000);
  };
  keys.random_search = keys.random_key;
  return keys;
}

class MdxModelTest : public MdxTest {
 protected:
  // Runs the model on tag "MODEL" while tag "OTHER" of the same file takes
  // every fifth key too (and loses them again while the model shrinks).
  void Run(uint16_t type, ModelKeys keys, uint32_t seed, int ops, int batch) {
    kbdsetsync(0);
    std::filesystem::remove(Path("model.mdx"));
    int16_t h = CreateOpen("model.mdx");
    const int32_t other = DefineOpen(h, "OTHER", 'C', "NAME", 8);
    int32_t t = DefineOpen(h, "MODEL", type, "K", kKeyLength);
    IndexModel model(std::move(keys), seed);
    auto check = [](int32_t tag) { return Check(tag).keys; };
    KeysSubject<int32_t> subject(MdxKeys(), t, check);
    for (int round = 0; round < 2; ++round) {
      ASSERT_NO_FATAL_FAILURE(model.Run(&subject, ops / 2, batch));
      char key[9];
      for (int i = 0; i < 400; ++i) {
        std::snprintf(key, sizeof key, "%08d", i);
        ASSERT_EQ(
            round == 0 ? Add(other, key, i + 1u) : Del(other, key, i + 1u),
            kKbdOk);
      }
    }
    ASSERT_EQ(kbdmclose(h), kKbdOk);
    ASSERT_EQ(kbdmopenx(&h, Path("model.mdx").c_str(), 0), kKbdOk);
    const MdxFileReport report = CheckFile(h);
    EXPECT_EQ(report.keys, model.size());
    ASSERT_EQ(kbdmtagopen(&t, h, "model"), kKbdOk);
    KeysSubject<int32_t> reopened(MdxKeys(), t, check);
    ASSERT_NO_FATAL_FAILURE(model.Verify(&reopened));
    ASSERT_EQ(kbdmclose(h), kKbdOk);
  }
};

TEST_F(MdxModelTest, CharacterKeysUnderBothCollations) {
  UnderBothCollations(20240612, kKeyLength, [&](ModelKeys keys, uint32_t seed) {
    ASSERT_NO_FATAL_FAILURE(Run('C', std::move(keys), seed, 30000, 3000));
  });
}

TEST_F(MdxModelTest, PackedDecimalKeys) {
  const uint32_t seed = TestSeed(4711);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  ASSERT_NO_FATAL_FAILURE(Run('N', DecimalModelKeys(), seed, 20000, 5000));
}

TEST_F(MdxModelTest, DateKeys) {
  const uint32_t seed = TestSeed(1966);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  ASSERT_NO_FATAL_FAILURE(Run('D', DateModelKeys(), seed, 20000, 5000));
}

}  // namespace
}  // namespace qx::engine::testing
