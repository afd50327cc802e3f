// The 8-byte key images of dates and numbers in the FoxPro index files
// (IDX files and CDX tags): the value as a double in the sortable byte form
// of key_codec.h, a date as its Julian day number. One definition for both
// modules, so that a key made by one is found by the other.
//
// Header-only: two small functions that every caller inlines.
#ifndef QX_ENGINE_FOX_SORTABLE_KEY_IMAGE_H_
#define QX_ENGINE_FOX_SORTABLE_KEY_IMAGE_H_

#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/dates/key_codec.h"
#include "qx/engine.h"

namespace qx::engine::fox {

// The key of a YYYYMMDD date text: its true Julian day number, proleptic
// Gregorian (blanks only: 0.0, the empty date, which sorts first), in
// sortable form, then a NUL; key holds kDoubleKeySize + 1 bytes. -15 (set
// as the last error) for an invalid date, -21 for a null pointer.
inline int16_t DateKeyImage(void* key, const char* date) {
  if (key == nullptr || date == nullptr) return Fail(kKbdErrNullPointer);
  int year = 0, month = 0, day = 0;
  const int16_t status =
      ReadDate(&year, &month, &day, std::string_view(date, std::strlen(date)),
               kDateFormatYmd);
  if (status < 0) return Fail(kKbdErrDate);
  const double number =
      status == kKbdEmptyFile ? 0.0 : DateToJulianDay(year, month, day);
  uint8_t* bytes = static_cast<uint8_t*>(key);
  EncodeDoubleKey(number, bytes);
  bytes[kDoubleKeySize] = 0;
  return kKbdOk;
}

// The key of a number: the double in sortable form, then a NUL.
inline int16_t NumberKeyImage(void* key, double value) {
  if (key == nullptr) return Fail(kKbdErrNullPointer);
  uint8_t* bytes = static_cast<uint8_t*>(key);
  EncodeDoubleKey(value, bytes);
  bytes[kDoubleKeySize] = 0;
  return kKbdOk;
}

}  // namespace qx::engine::fox

#endif  // QX_ENGINE_FOX_SORTABLE_KEY_IMAGE_H_
