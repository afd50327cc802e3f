// Helpers of the IDX tests: keys as strings over the C operations (the
// find of the shared index helpers made of kbdifind and kbdiseek) and the
// structural check.
#ifndef QX_TESTS_ENGINE_IDX_IDX_TEST_UTIL_H_
#define QX_TESTS_ENGINE_IDX_IDX_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>

#include "engine/btree/btree_check.h"
#include "engine/idx/idx_check.h"
#include "qx/engine.h"
#include "tests/engine/btree/index_test_util.h"

namespace qx::engine::testing {

inline uint16_t IdxKeyLength(int16_t h) {
  KbdIdxInfo info;
  EXPECT_EQ(kbdiinfo(h, &info), kKbdOk);
  return info.key_length;
}

// The pair itself with kKbdFindRecno, else the first key not below.
inline int16_t IdxHarnessFind(int16_t h, void* key, uint32_t* recno,
                              uint16_t flags) {
  if (flags & kKbdFindRecno) return kbdifind(h, key, *recno);
  return kbdiseek(h, key, recno, kKbdSeekKey);
}

inline IndexKeys<int16_t> IdxKeys() {
  return IndexKeys<int16_t>({IdxKeyLength, kbdiadd, kbdidelete, IdxHarnessFind,
                             kbdifirst, kbdinext, kbdilast, kbdiprev});
}

// The structural check; problems are reported as test failures.
inline btree::CheckReport IdxCheck(int16_t h) {
  return ExpectCleanCheck<btree::CheckReport>(
      [h](btree::CheckReport* report) { return CheckIdx(h, report); });
}

}  // namespace qx::engine::testing

#endif  // QX_TESTS_ENGINE_IDX_IDX_TEST_UTIL_H_
