// Helpers of the MDX tests: the shared index fixture, files and tags made
// in one call, keys as strings, walks and the checks of a tag and of the
// whole file.
#ifndef QX_TESTS_ENGINE_MDX_MDX_TEST_UTIL_H_
#define QX_TESTS_ENGINE_MDX_MDX_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/mdx/mdx_check.h"
#include "engine/mdx/mdx_decimal.h"
#include "qx/engine.h"
#include "tests/engine/btree/index_test_util.h"

namespace qx::engine::testing {

// The 12-byte key of a number, and the 8-byte key of a key day number.
inline std::string DecimalKey(double value) {
  std::string key(kMdxDecimalSize, '\0');
  EncodeMdxDecimal(value, reinterpret_cast<uint8_t*>(key.data()));
  return key;
}
inline std::string DayKey(double day) { return NumericKey(day); }

inline uint16_t MdxKeyLength(int32_t t) {
  KbdMdxTagInfo info;
  EXPECT_EQ(kbdmtaginfo(t, &info), kKbdOk);
  return info.key_length;
}

inline IndexKeys<int32_t> MdxKeys() {
  return IndexKeys<int32_t>({MdxKeyLength, kbdmkadd, kbdmkdel, kbdmkfind,
                             kbdmkfirst, kbdmknext, kbdmklast, kbdmkprev});
}

// The structural checks of a tag and of the whole file; problems are
// reported as test failures.
inline btree::CheckReport MdxTagCheck(int32_t t) {
  return ExpectCleanCheck<btree::CheckReport>(
      [t](btree::CheckReport* report) { return CheckMdxTag(t, report); });
}
inline MdxFileReport MdxFileCheck(int16_t h) {
  return ExpectCleanCheck<MdxFileReport>(
      [h](MdxFileReport* report) { return CheckMdxFile(h, report); });
}

class MdxTest : public IndexTest<int32_t, MdxKeys> {
 protected:
  // Creates and opens an MDX file; the handle is closed by kbdterm.
  int16_t CreateOpen(const std::string& name, uint16_t mode = 0) {
    EXPECT_EQ(kbdmcreate(Path(name).c_str()), kKbdOk);
    int16_t h = kKbdNoHandle;
    EXPECT_EQ(kbdmopenx(&h, Path(name).c_str(), mode), kKbdOk);
    return h;
  }
  // Defines a tag and opens it.
  static int32_t DefineOpen(int16_t h, const char* tag, uint16_t type,
                            const char* expression, uint16_t key_length) {
    EXPECT_EQ(kbdmtagdef(h, tag, type, expression, key_length), kKbdOk);
    int32_t t = kKbdNoHandle;
    EXPECT_EQ(kbdmtagopen(&t, h, tag), kKbdOk);
    return t;
  }

  static uint16_t KeyLength(int32_t t) { return MdxKeyLength(t); }

  static btree::CheckReport Check(int32_t t) { return MdxTagCheck(t); }
  static MdxFileReport CheckFile(int16_t h) { return MdxFileCheck(h); }
};

}  // namespace qx::engine::testing

#endif  // QX_TESTS_ENGINE_MDX_MDX_TEST_UTIL_H_
