// Helpers of the NDX tests: the shared index fixture (an engine per test
// in its own temporary directory), keys as strings, walks and the
// structural check.
#ifndef QX_TESTS_ENGINE_NDX_NDX_TEST_UTIL_H_
#define QX_TESTS_ENGINE_NDX_NDX_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/btree/btree_check.h"
#include "engine/ndx/ndx_check.h"
#include "qx/engine.h"
#include "tests/engine/btree/index_test_util.h"

namespace qx::engine::testing {

using NdxEntry = IndexEntry;

inline uint16_t NdxKeyLength(int16_t h) {
  KbdNdxInfo info;
  EXPECT_EQ(kbdninfo(h, &info), kKbdOk);
  return info.key_length;
}

inline IndexKeys<int16_t> NdxKeys() {
  return IndexKeys<int16_t>({NdxKeyLength, kbdnkadd, kbdnkdel, kbdnkfind,
                             kbdnkfirst, kbdnknext, kbdnklast, kbdnkprev});
}

// The structural check; problems are reported as test failures.
inline btree::CheckReport NdxCheck(int16_t h) {
  return ExpectCleanCheck<btree::CheckReport>(
      [h](btree::CheckReport* report) { return CheckNdx(h, report); });
}

class NdxTest : public IndexTest<int16_t, NdxKeys> {
 protected:
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

  static uint16_t KeyLength(int16_t h) { return NdxKeyLength(h); }

  static btree::CheckReport Check(int16_t h) { return NdxCheck(h); }
};

}  // namespace qx::engine::testing

#endif  // QX_TESTS_ENGINE_NDX_NDX_TEST_UTIL_H_
