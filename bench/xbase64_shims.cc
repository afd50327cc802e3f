// The shims that make the packaged Xbase64 usable (see xbase64_shims.h).
#include "bench/xbase64_shims.h"

#include <cstdint>
#include <fstream>

#include "engine/core/coding.h"

namespace {

const uint8_t* Bytes(const char* p) {
  return reinterpret_cast<const uint8_t*>(p);
}

}  // namespace

// Four little-endian bytes, sign- or zero-extended to 64 bits.
xbLong xbXBase::GetLong(const char* p) {
  return static_cast<int32_t>(qx::engine::GetLe32(Bytes(p)));
}

xbULong xbXBase::GetULong(const char* p) {
  return qx::engine::GetLe32(Bytes(p));
}

namespace qx::bench {
namespace {

// Descriptors are 32 bytes each after the 32-byte file header; the length
// is byte 16 of a descriptor, the decimals byte 17.
constexpr std::streamoff kFileHeaderSize = 32;
constexpr std::streamoff kDescriptorSize = 32;
constexpr std::streamoff kDescriptorLengthOffset = 16;

}  // namespace

xbSchema kXbaseBenchSchema[kXbaseFieldCount + 1] = {
    {"NAME", XB_CHAR_FLD, 20, 0},  {"CITY", XB_CHAR_FLD, 15, 0},
    {"AGE", XB_NUMERIC_FLD, 3, 0}, {"SALARY", XB_NUMERIC_FLD, 10, 2},
    {"BIRTH", XB_DATE_FLD, 8, 0},  {"", 0, 0, 0}};

bool CreateXbaseTable(const std::string& path, xbSchema* schema,
                      std::string* error) {
  {
    xbXBase base;
    xbDbf dbf(&base);
    if (xbShort rc = dbf.CreateDatabase(path.c_str(), schema, XB_OVERLAY)) {
      *error = "CreateDatabase of " + path + " answered " + std::to_string(rc);
      return false;
    }
    dbf.CloseDatabase();
  }
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  for (int i = 0; schema[i].FieldName[0] != '\0'; ++i) {
    char bytes[2] = {static_cast<char>(schema[i].FieldLen),
                     static_cast<char>(schema[i].NoOfDecs)};
    file.seekp(kFileHeaderSize + kDescriptorSize * i + kDescriptorLengthOffset);
    file.write(bytes, sizeof bytes);
  }
  if (!file) {
    *error = "cannot set the field lengths of " + path;
    return false;
  }
  return true;
}

}  // namespace qx::bench
