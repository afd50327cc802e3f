// What the adapter's tests share: an engine started for each test, a
// temporary directory, and the real files of the corpus.
#ifndef QX_TESTS_ACCESS_ADAPTER_ADAPTER_TEST_UTIL_H_
#define QX_TESTS_ACCESS_ADAPTER_ADAPTER_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::access::testing {

class AdapterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(kbdinit(32767, 4), kKbdOk); }
  void TearDown() override { kbdterm(); }

  // A real file of the corpus (set/name) as a host path.
  static std::u16string Real(const std::string& file) {
    return platform::Utf8ToUtf16(qx::testing::SharedDir() + "/fixtures/real/" +
                                 file);
  }
  // A file of the test's directory as a host path.
  std::u16string Temp(const std::string& name) const {
    return platform::Utf8ToUtf16(dir_.File(name));
  }
  // Copies a real file into the test's directory under name.
  std::u16string CopyReal(const std::string& file, const std::string& name) {
    std::filesystem::copy_file(
        qx::testing::SharedDir() + "/fixtures/real/" + file, dir_.File(name));
    return Temp(name);
  }

  qx::testing::TempDir dir_;
};

}  // namespace qx::access::testing

#endif  // QX_TESTS_ACCESS_ADAPTER_ADAPTER_TEST_UTIL_H_
