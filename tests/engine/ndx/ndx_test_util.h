// Helpers of the NDX tests: an engine started per test inside its own
// temporary directory (the build's work file lives in the current
// directory), keys as strings, walks and the structural check.
#ifndef QX_TESTS_ENGINE_NDX_NDX_TEST_UTIL_H_
#define QX_TESTS_ENGINE_NDX_NDX_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/btree/btree_check.h"
#include "engine/core/coding.h"
#include "engine/ndx/ndx_check.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {

// One entry of a walk: the stored key bytes and the record number.
struct NdxEntry {
  std::string key;
  uint32_t recno = 0;
  bool operator==(const NdxEntry& o) const {
    return key == o.key && recno == o.recno;
  }
};

inline std::string NumericKey(double value) {
  std::string key(8, '\0');
  PutLe64(reinterpret_cast<uint8_t*>(key.data()),
          std::bit_cast<uint64_t>(value));
  return key;
}

inline double KeyNumber(const std::string& key) {
  return std::bit_cast<double>(
      GetLe64(reinterpret_cast<const uint8_t*>(key.data())));
}

// The seed of randomized tests: QX_TEST_SEED when set, else fixed.
inline uint32_t TestSeed(uint32_t fixed) {
  const char* text = std::getenv("QX_TEST_SEED");
  return text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 0))
                         : fixed;
}

class NdxTest : public ::testing::Test {
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

  // Creates and opens an index; the handle is closed by kbdterm.
  int16_t CreateOpen(const std::string& name, uint16_t type,
                     const char* expression, uint16_t key_length,
                     uint16_t mode = 0) {
    EXPECT_EQ(kbdncreate(Path(name).c_str(), type, expression, key_length),
              kKbdOk);
    int16_t h = kKbdNoHandle;
    EXPECT_EQ(kbdnopenx(&h, Path(name).c_str(), mode), kKbdOk);
    return h;
  }

  static uint16_t KeyLength(int16_t h) {
    KbdNdxInfo info;
    EXPECT_EQ(kbdninfo(h, &info), kKbdOk);
    return info.key_length;
  }

  // A key buffer of key length + 1 bytes holding text (or 8 raw bytes).
  static std::vector<char> Buffer(int16_t h, const std::string& key) {
    std::vector<char> buffer(KeyLength(h) + 1u, '\0');
    std::memcpy(buffer.data(), key.data(),
                std::min<size_t>(key.size(), buffer.size() - 1));
    return buffer;
  }

  static int16_t Add(int16_t h, const std::string& key, uint32_t recno) {
    std::vector<char> buffer = Buffer(h, key);
    return kbdnkadd(h, buffer.data(), recno);
  }
  static int16_t Del(int16_t h, const std::string& key, uint32_t recno) {
    std::vector<char> buffer = Buffer(h, key);
    return kbdnkdel(h, buffer.data(), recno);
  }

  // kbdnkfind; *found gets the entry positioned on.
  static int16_t Find(int16_t h, const std::string& key, uint32_t recno,
                      uint16_t flags, NdxEntry* found) {
    std::vector<char> buffer = Buffer(h, key);
    uint32_t r = recno;
    int16_t status = kbdnkfind(h, buffer.data(), &r, flags);
    found->key.assign(buffer.data(), KeyLength(h));
    found->recno = r;
    return status;
  }

  // Every entry from first to last through kbdnknext.
  static std::vector<NdxEntry> Walk(int16_t h) {
    std::vector<NdxEntry> entries;
    const uint16_t length = KeyLength(h);
    std::vector<char> buffer(length + 1u);
    uint32_t recno = 0;
    int16_t status = kbdnkfirst(h, buffer.data(), &recno);
    while (status == kKbdOk) {
      EXPECT_EQ(buffer[length], '\0');
      entries.push_back({std::string(buffer.data(), length), recno});
      status = kbdnknext(h, buffer.data(), &recno);
    }
    EXPECT_TRUE(status == kKbdNoMoreKeys || status == kKbdEmptyFile)
        << status;
    return entries;
  }

  // The same backwards through kbdnkprev, returned in key order.
  static std::vector<NdxEntry> WalkBack(int16_t h) {
    std::vector<NdxEntry> entries;
    const uint16_t length = KeyLength(h);
    std::vector<char> buffer(length + 1u);
    uint32_t recno = 0;
    int16_t status = kbdnklast(h, buffer.data(), &recno);
    while (status == kKbdOk) {
      entries.insert(entries.begin(), {std::string(buffer.data(), length), recno});
      status = kbdnkprev(h, buffer.data(), &recno);
    }
    return entries;
  }

  // The structural check; problems are reported as test failures.
  static btree::CheckReport Check(int16_t h) {
    btree::CheckReport report;
    EXPECT_EQ(CheckNdx(h, &report), kKbdOk);
    for (const std::string& problem : report.problems)
      ADD_FAILURE() << problem;
    return report;
  }

  static uint64_t FileSize(const std::string& path) {
    return std::filesystem::file_size(path);
  }

  qx::testing::TempDir dir_;
  std::filesystem::path old_dir_;
};

}  // namespace qx::engine::testing

#endif  // QX_TESTS_ENGINE_NDX_NDX_TEST_UTIL_H_
