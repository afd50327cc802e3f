// Helpers of the data-file tests, over those of every engine test
// (tests/support/engine_test_util.h): data files built byte by byte (so
// that the tests do not rely on the writer they check).
#ifndef QX_TESTS_ENGINE_DBF_DBF_TEST_UTIL_H_
#define QX_TESTS_ENGINE_DBF_DBF_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "qx/engine.h"
#include "tests/support/engine_test_util.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {

// One field of a hand-built file.
struct RawField {
  std::string name;
  char type;
  uint8_t length;     // descriptor byte 16
  uint8_t decimals;   // descriptor byte 17
  uint8_t flags = 0;  // descriptor byte 18
};

// A data file as bytes: header, descriptors, terminator, records, marker.
struct RawDbf {
  uint8_t version = 0x03;
  uint8_t mdx_flag = 0;
  std::vector<RawField> fields;
  std::vector<std::string> records;  // each record_size bytes
  // Bytes between the descriptors and record 1: 0x0D by default.
  std::string terminator = "\r";
  bool end_marker = true;
  int record_size_adjust = 0;   // to build a wrong record size
  int record_count_adjust = 0;  // header count minus the records written

  uint16_t RecordSize() const {
    int size = 1;
    for (const RawField& f : fields) size += f.length;
    return static_cast<uint16_t>(size + record_size_adjust);
  }
  uint16_t HeaderSize() const {
    return static_cast<uint16_t>(32 + 32 * fields.size() + terminator.size());
  }
  std::string Bytes() const {
    std::string b(32, '\0');
    b[0] = static_cast<char>(version);
    b[1] = 124;  // 2024
    b[2] = 2;
    b[3] = 29;
    uint8_t* p = reinterpret_cast<uint8_t*>(b.data());
    PutLe32(p + 4, static_cast<uint32_t>(records.size() + record_count_adjust));
    PutLe16(p + 8, HeaderSize());
    PutLe16(p + 10, RecordSize());
    b[28] = static_cast<char>(mdx_flag);
    for (const RawField& f : fields) {
      std::string d(32, '\0');
      std::memcpy(d.data(), f.name.data(), std::min<size_t>(f.name.size(), 11));
      d[11] = f.type;
      d[16] = static_cast<char>(f.length);
      d[17] = static_cast<char>(f.decimals);
      d[18] = static_cast<char>(f.flags);
      b += d;
    }
    b += terminator;
    for (const std::string& r : records) b += r;
    if (end_marker) b += '\x1A';
    return b;
  }
};

// An engine per test with a temporary directory (EngineTest), and files
// written from their bytes.
class DbfTest : public EngineTest {
 protected:
  std::string Write(const std::string& name, const RawDbf& dbf) {
    std::string path = dir_.File(name);
    qx::testing::WriteWholeFile(path, dbf.Bytes());
    return path;
  }

  // Opens path and returns the status; *handle the handle (-1 on failure).
  int16_t Open(const std::string& path, uint16_t mode, int16_t* handle) {
    kbdseterror(0);
    return kbddopenx(handle, path.c_str(), mode);
  }
};

}  // namespace qx::engine::testing

#endif  // QX_TESTS_ENGINE_DBF_DBF_TEST_UTIL_H_
