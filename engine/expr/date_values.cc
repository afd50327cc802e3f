// Date values of the expression language (see date_values.h).
#include "engine/expr/date_values.h"

#include "engine/dates/date_format.h"
#include "qx/engine.h"

namespace qx::engine {

int16_t DateValueDay(const ExprValue& date, uint16_t date_format,
                     int32_t* julian_day) {
  int year = 0, month = 0, day = 0;
  int16_t status = ReadDate(&year, &month, &day, date.text, date_format);
  if (status == kKbdEmptyFile) {
    *julian_day = 0;
    return kKbdOk;
  }
  if (status < 0) return status;
  *julian_day = DateToJulianDay(year, month, day);
  return kKbdOk;
}

void SetDateValue(int32_t julian_day, uint16_t date_format, ExprValue* date) {
  *date = ExprValue();
  date->type = 'D';
  int year = 0, month = 0, day = 0;
  char text[kDateTextSize];
  if (julian_day != 0 &&
      JulianDayToDate(&year, &month, &day, julian_day) == kKbdOk &&
      FormatDate(text, date_format, year, month, day) == kKbdOk) {
    date->text = text;
    return;
  }
  date->text.assign(DateFormatTextLength(date_format), ' ');
}

}  // namespace qx::engine
