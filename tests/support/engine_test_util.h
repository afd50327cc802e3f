// Helpers every engine test shares, whatever file it works on: an engine
// started per test with its own temporary directory, field definitions
// and the data file of the build tests, the randomized tests' seed, the
// real-file corpus, and reads and patches of a file's bytes.
#ifndef QX_TESTS_SUPPORT_ENGINE_TEST_UTIL_H_
#define QX_TESTS_SUPPORT_ENGINE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {

// The seed of randomized tests: QX_TEST_SEED when set, else fixed.
inline uint32_t TestSeed(uint32_t fixed) {
  const char* text = std::getenv("QX_TEST_SEED");
  return text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 0))
                         : fixed;
}

// A field definition for kbddcreate; a name longer than the record's
// area is cut (tests of bad names pass 11 characters).
inline KbdFieldDef FieldDef(const char* name, char type, uint16_t length,
                            uint16_t decimals = 0) {
  KbdFieldDef field = {};
  std::snprintf(field.name, sizeof field.name, "%s", name);
  field.type = static_cast<uint8_t>(type);
  field.length = length;
  field.decimals = decimals;
  return field;
}

// The 8-byte key of a number (NDX numeric keys, MDX date keys): the
// double, little-endian; and back.
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

// A little-endian word of 2 or 4 bytes at offset of a file's bytes, and
// the patch of one in a file.
inline uint32_t Word(const std::string& bytes, size_t offset, int width = 4) {
  const uint8_t* at = reinterpret_cast<const uint8_t*>(bytes.data()) + offset;
  return width == 2 ? GetLe16(at) : GetLe32(at);
}
inline void PatchWord(const std::string& path, size_t offset, uint32_t value,
                      int width) {
  std::string bytes = qx::testing::ReadWholeFile(path);
  uint8_t* at = reinterpret_cast<uint8_t*>(bytes.data()) + offset;
  if (width == 2)
    PutLe16(at, static_cast<uint16_t>(value));
  else
    PutLe32(at, value);
  qx::testing::WriteWholeFile(path, bytes);
}

// The builds' data file: NAME C(20), AMOUNT N(12,3), BIRTH D with n
// records from a seeded generator (names in letters the collation table
// reorders, one date in ten empty), every seventh record deleted. Opened
// shared for the caller (closed by kbdterm).
inline int16_t MakeBuildTable(const std::string& path, uint32_t n,
                              uint32_t seed, uint16_t dialect) {
  kbdsetsync(0);
  const KbdFieldDef fields[3] = {FieldDef("NAME", 'C', 20),
                                 FieldDef("AMOUNT", 'N', 12, 3),
                                 FieldDef("BIRTH", 'D', 8)};
  EXPECT_EQ(kbddcreate(path.c_str(), 3, fields, dialect), kKbdOk);
  int16_t dbf = kKbdNoHandle;
  EXPECT_EQ(kbddopenx(&dbf, path.c_str(), 0x400 | dialect), kKbdOk);
  std::mt19937 rng(seed);
  static const char kLetters[] = "ABCDEabcde\xC4\xE9 ";
  for (uint32_t i = 1; i <= n; ++i) {
    EXPECT_EQ(kbddblankrec(dbf), kKbdOk);
    std::string text;
    const size_t length = 1 + rng() % 20;
    for (size_t j = 0; j < length; ++j)
      text += kLetters[rng() % (sizeof kLetters - 1)];
    EXPECT_EQ(kbddput(dbf, 0, text.c_str()), kKbdOk);
    double amount =
        static_cast<double>(static_cast<int>(rng() % 200001) - 100000) / 8;
    EXPECT_EQ(kbddput(dbf, 1, &amount), kKbdOk);
    if (rng() % 10 != 0) {
      char date[9];
      std::snprintf(date, sizeof date, "%04u%02u%02u",
                    static_cast<unsigned>(1900 + rng() % 200),
                    static_cast<unsigned>(1 + rng() % 12),
                    static_cast<unsigned>(1 + rng() % 28));
      EXPECT_EQ(kbddput(dbf, 2, date), kKbdOk);
    }
    uint32_t recno = 0;
    EXPECT_EQ(kbddwrite(dbf, &recno, kKbdWriteAppend), kKbdOk);
    if (i % 7 == 0) {
      EXPECT_EQ(kbdddelete(dbf, recno), kKbdOk);
    }
  }
  return dbf;
}

// The open mode of corpus files: read-only and shared. Other test
// processes read the same files at the same time, and an exclusive open
// refuses them (and is refused) as on Windows.
inline constexpr uint16_t kFixtureMode = kKbdModeReadOnly | kKbdModeShared;

// Every regular file below the real-file corpus whose extension, in any
// case, is one of extensions (given in lower case), in path order.
inline std::vector<std::filesystem::path> CorpusFiles(
    const std::set<std::string>& extensions) {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path root =
      qx::testing::SharedDir() + "/fixtures/real";
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string extension = entry.path().extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(c));
    if (extensions.count(extension) != 0) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The record numbers of an expected-order file of the corpus.
inline std::vector<uint32_t> ReadOrderFile(const std::string& path) {
  std::vector<uint32_t> order;
  std::ifstream in(path);
  uint32_t recno = 0;
  while (in >> recno) order.push_back(recno);
  return order;
}

// An engine started for each test, with a fresh temporary directory.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kbdterm();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  }
  void TearDown() override {
    kbdsetsync(1);
    kbdterm();
  }

  std::string Path(const std::string& name) const { return dir_.File(name); }
  static uint64_t FileSize(const std::string& path) {
    return std::filesystem::file_size(path);
  }
  // The bytes of a file.
  static std::string ReadFile(const std::string& path) {
    return qx::testing::ReadWholeFile(path);
  }
  static void WriteFile(const std::string& path, const std::string& bytes) {
    qx::testing::WriteWholeFile(path, bytes);
  }

  qx::testing::TempDir dir_;
};

// An engine per test working in its temporary directory (the index
// builds' work file lives in the current directory), with the default
// collation.
class EngineDirTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (HasFatalFailure()) return;
    kbdsetsort(1, 1);
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override {
    kbdsetsort(1, 1);
    EngineTest::TearDown();
    if (!old_dir_.empty()) std::filesystem::current_path(old_dir_);
  }

  std::filesystem::path old_dir_;
};

}  // namespace qx::engine::testing

#endif  // QX_TESTS_SUPPORT_ENGINE_TEST_UTIL_H_
