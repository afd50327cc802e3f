// The date parser in every date format: the input is a date text, read in
// each of the fifteen formats as a date, a stored date and a key day
// number, and through the key image calls of the C interface. A date read
// is valid, and one read in a four-digit-year format reads back the same
// from the text the format writes for it.
#include <string>
#include <string_view>

#include "engine/dates/date_format.h"
#include "qx/engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace qx::fuzz;
using namespace qx::engine;

void WriteSeeds(const std::string& dir) {
  const char* const seeds[] = {
      "02/29/24",   "02/29/2024", "2024/060",   "20240229",   "290224",
      "29.02.24",   "29.02.2024", "29/02/2024", "29-02-2024", "24.02.29",
      "2024.02.29", "        ",   "//",         "99999999",   "0000/000"};
  int n = 0;
  for (const char* seed : seeds)
    WriteSeedText(dir, "d" + std::to_string(n++), seed);
}

bool HasFourDigitYear(uint16_t format) {
  return DateFormatTextLength(format) == 10 || format == kDateFormatYmd ||
         format == kDateFormatYearDay;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MaybeWriteSeeds(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartEngine();
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (uint16_t format = 0; format <= kDateFormatCount + 1; ++format) {
    int year = 0, month = 0, day = 0;
    int16_t status = ReadDate(&year, &month, &day, text, format);
    if (status == kKbdOk) {
      Require(IsValidDate(year, month, day), "a date read is valid");
      char written[kDateTextSize];
      Require(FormatDate(written, format, year, month, day) == kKbdOk,
              "a date read can be written");
      int y = 0, m = 0, d = 0;
      Require(ReadDate(&y, &m, &d, written, format) == kKbdOk,
              "a date written reads");
      if (HasFourDigitYear(format))
        Require(y == year && m == month && d == day, "date round trip");
      int32_t julian = DateToJulianDay(year, month, day);
      Require(JulianDayToDate(&y, &m, &d, julian) == kKbdOk && y == year &&
                  m == month && d == day,
              "Julian day round trip");
      DateToKeyDay(year, month, day);
    } else {
      Require(year == 0 && month == 0 && day == 0, "outputs 0 on failure");
    }
    char stored[kStoredDateLength + 1];
    ConvertDateToStorage(stored, text, format);
    char shown[kDateTextSize];
    ConvertDateFromStorage(shown, text, format);
    double key_day = 0;
    DateTextToKeyDay(&key_day, text, format);
    kbdseterror(0);
    kbdsetdatefmt(format);
    unsigned char key[16];
    const std::string terminated(text.c_str());
    kbdseterror(0);
    kbdmdkey(key, terminated.c_str());
    kbdseterror(0);
    kbdidatekey(key, terminated.c_str());
    kbdseterror(0);
    kbdxkeydate(key, terminated.c_str());
  }
  NormaliseDateKey(nullptr, text);
  char stored[kStoredDateLength + 1];
  NormaliseDateKey(stored, text);
  kbdseterror(0);
  kbdsetdatefmt(kDefaultDateFormat);
  return 0;
}
