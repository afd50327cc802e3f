// Helpers of the CDX tests: the engine-per-test fixture, compound files
// with tags, keys as strings over the tag operations, and the structural
// check with its problems reported as test failures.
#ifndef QX_TESTS_ENGINE_CDX_CDX_TEST_UTIL_H_
#define QX_TESTS_ENGINE_CDX_CDX_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/btree/btree_check.h"
#include "engine/cdx/cdx_check.h"
#include "qx/engine.h"
#include "tests/engine/btree/index_test_util.h"

namespace qx::engine::testing {

inline uint16_t CdxKeyLength(int32_t tag) {
  KbdCdxTagInfo info;
  EXPECT_EQ(kbdctaginfo(tag, &info), kKbdOk);
  return static_cast<uint16_t>(info.key_length);
}

inline IndexKeys<int32_t> CdxKeys() {
  return IndexKeys<int32_t>({CdxKeyLength, kbdcadd, kbdcdelete, kbdcfind,
                             kbdcfirst, kbdcnext, kbdclast, kbdcprev});
}

// The check of the whole file; problems and lost blocks become test
// failures.
inline btree::CheckReport CdxFileCheck(int16_t h) {
  btree::CheckReport report = ExpectCleanCheck<btree::CheckReport>(
      [h](btree::CheckReport* r) { return CheckCdx(h, r); });
  EXPECT_EQ(report.foreign_free_pages, 0u) << "lost blocks";
  return report;
}
// The check of one tag.
inline btree::CheckReport CdxTagCheck(int32_t tag) {
  return ExpectCleanCheck<btree::CheckReport>(
      [tag](btree::CheckReport* r) { return CheckCdxTag(tag, r); });
}

// The tag names in the directory's order.
inline std::vector<std::string> TagNames(int16_t h) {
  int16_t count = 0;
  KbdCdxTagInfo* tags = nullptr;
  EXPECT_EQ(kbdctaglist(h, &count, &tags), kKbdOk);
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) names.push_back(tags[i].name);
  kbdfree(tags);
  return names;
}

class CdxTest : public IndexTest<int32_t, CdxKeys> {
 protected:
  // Creates (replacing) and opens a compound file; closed by kbdterm.
  int16_t CreateOpen(const std::string& name, uint16_t mode = 0) {
    EXPECT_EQ(kbdccreate(Path(name).c_str()), kKbdOk);
    int16_t h = kKbdNoHandle;
    EXPECT_EQ(kbdcopenx(&h, Path(name).c_str(), mode), kKbdOk);
    return h;
  }
  // Creates a tag and opens it.
  static int32_t NewTag(int16_t h, const char* name, uint16_t type,
                        const char* expression, uint16_t key_length) {
    EXPECT_EQ(kbdctagcreate(h, name, type, expression, key_length), kKbdOk);
    int32_t tag = -1;
    EXPECT_EQ(kbdctagopen(&tag, h, name), kKbdOk);
    return tag;
  }

  static btree::CheckReport CheckFile(int16_t h) { return CdxFileCheck(h); }
  static btree::CheckReport CheckTag(int32_t tag) { return CdxTagCheck(tag); }
};

}  // namespace qx::engine::testing

#endif  // QX_TESTS_ENGINE_CDX_CDX_TEST_UTIL_H_
