// Helpers of the NTX tests: the index fixture (an engine per test in its
// own temporary directory), keys as strings over the C operations, walks
// and the structural check.
#ifndef QX_TESTS_ENGINE_NTX_NTX_TEST_UTIL_H_
#define QX_TESTS_ENGINE_NTX_NTX_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/btree/btree_check.h"
#include "engine/ntx/ntx_check.h"
#include "qx/engine.h"
#include "tests/engine/btree/index_test_util.h"

namespace qx::engine::testing {

inline uint16_t NtxKeyLength(int16_t h) {
  KbdNtxInfo info;
  EXPECT_EQ(kbdxinfo(h, &info), kKbdOk);
  return info.key_length;
}

// The find of the shared harness (the first key not below the search,
// with the statuses of the other formats: 4 on the greatest smaller key,
// 12 on the first key when every key is greater), made of kbdxseek and
// kbdxprev. With kKbdFindRecno the pair itself through kbdxfind.
inline int16_t NtxHarnessFind(int16_t h, void* key, uint32_t* recno,
                              uint16_t flags) {
  if (flags & kKbdFindRecno) return kbdxfind(h, key, *recno);
  int16_t status = kbdxseek(h, key, recno, kKbdSeekKey);
  if (status == kKbdKeyNotFoundEnd) return kKbdKeyNotFound;  // on the last
  if (status != kKbdKeyNotFound) return status;
  const int16_t back = kbdxprev(h, key, recno);
  if (back == kKbdNoMoreKeys) return kKbdKeyNotFoundEnd;  // on the first
  return back == kKbdOk ? int16_t{kKbdKeyNotFound} : back;
}

inline int16_t NtxAdd(int16_t h, const void* key, uint32_t recno) {
  return kbdxadd(h, key, recno);
}
inline int16_t NtxDelete(int16_t h, const void* key, uint32_t recno) {
  return kbdxdelete(h, key, recno);
}

inline IndexKeys<int16_t> NtxKeys() {
  return IndexKeys<int16_t>({NtxKeyLength, NtxAdd, NtxDelete, NtxHarnessFind,
                             kbdxfirst, kbdxnext, kbdxlast, kbdxprev});
}

// The structural check; problems are reported as test failures.
inline btree::CheckReport NtxCheck(int16_t h) {
  return ExpectCleanCheck<btree::CheckReport>(
      [h](btree::CheckReport* report) { return CheckNtx(h, report); });
}

class NtxTest : public IndexTest<int16_t, NtxKeys> {
 protected:
  // Creates and opens an index; the handle is closed by kbdterm.
  int16_t CreateOpen(const std::string& name, uint16_t type,
                     const char* expression, uint16_t key_length,
                     uint16_t decimals = 0, uint16_t mode = 0) {
    EXPECT_EQ(
        kbdxcreate(Path(name).c_str(), type, expression, key_length, decimals),
        kKbdOk);
    int16_t h = kKbdNoHandle;
    EXPECT_EQ(kbdxopenx(&h, Path(name).c_str(), mode), kKbdOk);
    return h;
  }
};

}  // namespace qx::engine::testing

#endif  // QX_TESTS_ENGINE_NTX_NTX_TEST_UTIL_H_
