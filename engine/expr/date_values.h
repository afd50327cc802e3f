// Date values of the expression language: 'D' values hold the date as
// text in the task's date format (as the data file gives a date field);
// arithmetic, comparisons and the date functions work on its day number.
//
// The day number is the Julian Day Number (the true count of days; see
// date_format.h), with 0 for the empty date, so that an empty date sorts
// before every date, as the programs compare them.
#ifndef QX_ENGINE_EXPR_DATE_VALUES_H_
#define QX_ENGINE_EXPR_DATE_VALUES_H_

#include <cstdint>

#include "engine/expr/expression.h"

namespace qx::engine {

// The day number of a 'D' value. kKbdOk, or kKbdErrDate when the text is
// not a date in the format (nothing is set as last error).
int16_t DateValueDay(const ExprValue& date, uint16_t date_format,
                     int32_t* julian_day);

// The 'D' value of a day number: 0 gives the empty date (the format's
// length of blanks), as does a day outside the years 0..9999.
void SetDateValue(int32_t julian_day, uint16_t date_format, ExprValue* date);

// The day number DESCEND gives a date: dates then sort backwards as
// numbers (the empty date last).
constexpr int32_t kDescendDayBase = 5231808;

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_DATE_VALUES_H_
