// The built-in functions of the expression language (see builtins.h).
//
// Divisions: argument helpers; texts; numbers; dates; the record; the
// table and its lookup.
#include "engine/expr/builtins.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "engine/dates/date_format.h"
#include "engine/expr/date_values.h"
#include "engine/expr/functions.h"
#include "engine/expr/number_shape.h"
#include "engine/expr/operators.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

using Arguments = std::span<ExprValue>;

constexpr int16_t kBad = kKbdErrKeyExpression;

// The shortest abbreviation of a function name that is accepted.
constexpr size_t kMinAbbreviation = 4;

// YEAR() shows 5 characters, MONTH() and DAY() 3 (number_shape.h).
constexpr uint16_t kYearLength = 5;
constexpr uint16_t kMonthDayLength = 3;

// ---- Argument helpers.

// A number argument cut toward zero to an integer, saturating at the
// 32-bit range; false for any other value.
bool IntArgument(const ExprValue& value, int32_t* out) {
  if (!IsNumber(value)) return false;
  double n = std::trunc(value.number);
  if (std::isnan(n)) n = 0;
  n = std::clamp(n, double{std::numeric_limits<int32_t>::min()},
                 double{std::numeric_limits<int32_t>::max()});
  *out = static_cast<int32_t>(n);
  return true;
}

void SetText(std::string text, ExprValue* result) {
  *result = ExprValue();
  result->type = 'C';
  result->text = std::move(text);
}

void SetLogical(bool holds, ExprValue* result) {
  *result = ExprValue();
  result->type = 'L';
  result->logical = holds ? 1 : 0;
}

// A number with a computed shape (number_shape.h).
void SetNumber(double number, int decimals, ExprValue* result,
               char type = 'N') {
  *result = ExprValue();
  result->type = type;
  result->number = number;
  SetComputedShape(decimals, result);
}

// A count argument of a function that builds a text: below 1 gives
// nothing; more than a text holds is an error.
bool TextCount(const ExprValue& value, size_t* count) {
  int32_t n = 0;
  if (!IntArgument(value, &n) || n > static_cast<int32_t>(kMaxTextLength))
    return false;
  *count = n < 0 ? 0 : static_cast<size_t>(n);
  return true;
}

// STR's text of number with the optional length and decimals arguments.
int16_t FormatStr(const BuiltinContext& context, Arguments arguments,
                  std::string* text) {
  const ExprValue& number = arguments[0];
  if (!IsNumber(number)) return kBad;
  int32_t length = 0, decimals = 0;
  DefaultStrLayout(number, context.rules, &length, &decimals);
  const bool clipper = context.rules == ExprRules::kClipper;
  if (arguments.size() > 1) {
    if (!IntArgument(arguments[1], &length)) return kBad;
    // A Clipper STR given a length below 1 takes dBASE's default.
    if (clipper && length < 1) length = kStrDefaultLength;
    decimals = 0;
  }
  if (arguments.size() > 2) {
    if (!IntArgument(arguments[2], &decimals)) return kBad;
    if (clipper && decimals < 0) decimals = 0;
  }
  return FormatNumber(
      number.number, length, decimals, text,
      clipper ? Rounding::kDecimalText : Rounding::kBinaryValue);
}

// ---- Texts.

int16_t Substr(const BuiltinContext& context, Arguments arguments,
               ExprValue* result) {
  int32_t start = 0;
  if (arguments[0].type != 'C' || !IntArgument(arguments[1], &start))
    return kBad;
  std::optional<int32_t> count;
  if (arguments.size() > 2) {
    int32_t n = 0;
    if (!IntArgument(arguments[2], &n)) return kBad;
    count = n;
  }
  const std::string& text = arguments[0].text;
  if (context.rules == ExprRules::kClipper && start < 0) {
    // -1 is the last character.
    int64_t from_end = static_cast<int64_t>(text.size()) + start + 1;
    start = static_cast<int32_t>(std::max<int64_t>(from_end, 1));
  }
  SetText(std::string(Substring(text, start, count)), result);
  return kKbdOk;
}

template <bool kLeft>
int16_t LeftOrRight(const BuiltinContext&, Arguments arguments,
                    ExprValue* result) {
  int32_t count = 0;
  if (arguments[0].type != 'C' || !IntArgument(arguments[1], &count))
    return kBad;
  SetText(std::string(kLeft ? LeftPart(arguments[0].text, count)
                            : RightPart(arguments[0].text, count)),
          result);
  return kKbdOk;
}

// STR, or STRZERO (kZeroFilled).
template <bool kZeroFilled>
int16_t Str(const BuiltinContext& context, Arguments arguments,
            ExprValue* result) {
  std::string text;
  if (int16_t status = FormatStr(context, arguments, &text); status < 0)
    return status;
  SetText(kZeroFilled ? ZeroFilled(text) : std::move(text), result);
  return kKbdOk;
}

template <bool kUpper>
int16_t ChangeCase(const BuiltinContext&, Arguments arguments,
                   ExprValue* result) {
  if (arguments[0].type != 'C') return kBad;
  *result = std::move(arguments[0]);
  if (kUpper)
    UpperAscii(&result->text);
  else
    LowerAscii(&result->text);
  return kKbdOk;
}

template <bool kLeft, bool kRight>
int16_t Trim(const BuiltinContext&, Arguments arguments, ExprValue* result) {
  if (arguments[0].type != 'C') return kBad;
  std::string_view text = arguments[0].text;
  if (kLeft) text = TrimLeft(text);
  if (kRight) text = TrimRight(text);
  SetText(std::string(text), result);
  return kKbdOk;
}

template <PadSide kSide>
int16_t PadText(const BuiltinContext&, Arguments arguments, ExprValue* result) {
  const ExprValue& value = arguments[0];
  std::string text;
  switch (value.type) {
    case 'C':
    case 'D':
      text = value.text;
      break;
    case 'N':
    case 'F': {
      // The number's own text: its shape (both rule sets), no blanks.
      int32_t length = 0, decimals = 0;
      DefaultStrLayout(value, ExprRules::kClipper, &length, &decimals);
      if (FormatNumber(value.number, length, decimals, &text,
                       Rounding::kDecimalText) < 0) {
        return kBad;
      }
      text = std::string(TrimLeft(text));
      break;
    }
    case 'L':
      SetText("", result);  // a logical pads to nothing at all
      return kKbdOk;
    default:
      return kBad;
  }
  size_t width = 0;
  if (!TextCount(arguments[1], &width)) return kBad;
  char fill = ' ';
  if (arguments.size() > 2) {
    if (arguments[2].type != 'C') return kBad;
    fill = arguments[2].text.empty() ? '\0' : arguments[2].text[0];
  }
  SetText(Pad(text, width, fill, kSide), result);
  return kKbdOk;
}

int16_t Space(const BuiltinContext&, Arguments arguments, ExprValue* result) {
  size_t count = 0;
  if (!TextCount(arguments[0], &count)) return kBad;
  SetText(std::string(count, ' '), result);
  return kKbdOk;
}

int16_t Replicate(const BuiltinContext&, Arguments arguments,
                  ExprValue* result) {
  size_t count = 0;
  if (arguments[0].type != 'C' || !TextCount(arguments[1], &count)) return kBad;
  const std::string& text = arguments[0].text;
  if (!text.empty() && count > kMaxTextLength / text.size()) return kBad;
  std::string out;
  out.reserve(text.size() * count);
  for (size_t i = 0; i < count; ++i) out += text;
  SetText(std::move(out), result);
  return kKbdOk;
}

int16_t Len(const BuiltinContext&, Arguments arguments, ExprValue* result) {
  if (arguments[0].type != 'C') return kBad;
  SetNumber(static_cast<double>(arguments[0].text.size()), 0, result);
  return kKbdOk;
}

int16_t Empty(const BuiltinContext& context, Arguments arguments,
              ExprValue* result) {
  const ExprValue& value = arguments[0];
  switch (value.type) {
    case 'C':
      SetLogical(IsEmptyText(value.text), result);
      return kKbdOk;
    case 'N':
    case 'F':
      SetLogical(value.number == 0.0, result);
      return kKbdOk;
    case 'D': {
      int32_t day = 0;
      if (int16_t status = DateValueDay(value, context.date_format, &day);
          status < 0) {
        return status;
      }
      SetLogical(day == 0, result);
      return kKbdOk;
    }
    case 'L':
      SetLogical(!IsTrue(value), result);
      return kKbdOk;
    case 'M':
      SetLogical(value.block == 0, result);
      return kKbdOk;
    default:
      return kBad;
  }
}

// ---- Numbers.

int16_t Val(const BuiltinContext&, Arguments arguments, ExprValue* result) {
  if (arguments[0].type != 'C') return kBad;
  *result = ExprValue();
  result->type = 'N';
  result->number = ReadNumberPrefix(arguments[0].text);
  SetValShape(arguments[0].text, result);
  return kKbdOk;
}

int16_t Int(const BuiltinContext&, Arguments arguments, ExprValue* result) {
  if (!IsNumber(arguments[0])) return kBad;
  *result = arguments[0];
  result->number = std::trunc(arguments[0].number);
  SetWholePartShape(result);
  return kKbdOk;
}

int16_t Round(const BuiltinContext&, Arguments arguments, ExprValue* result) {
  int32_t decimals = 0;
  if (!IsNumber(arguments[0]) || !IntArgument(arguments[1], &decimals))
    return kBad;
  SetNumber(RoundDecimal(arguments[0].number, decimals),
            std::max<int32_t>(decimals, 0), result, arguments[0].type);
  return kKbdOk;
}

int16_t Abs(const BuiltinContext&, Arguments arguments, ExprValue* result) {
  const ExprValue& value = arguments[0];
  if (!IsNumber(value)) return kBad;
  *result = value;
  if (value.number >= 0 && value.str_decimals == 0 && value.str_length > 0)
    return kKbdOk;  // a whole number that is not negative keeps its shape
  result->number = std::fabs(value.number);
  SetComputedShape(value.str_decimals, result);
  return kKbdOk;
}

int16_t Descend(const BuiltinContext& context, Arguments arguments,
                ExprValue* result) {
  ExprValue& value = arguments[0];
  switch (value.type) {
    case 'C':
      *result = std::move(value);
      DescendBytes(&result->text);
      return kKbdOk;
    case 'N':
    case 'F':
      SetNumber(-value.number, kComputedDecimals, result);
      return kKbdOk;
    case 'D': {
      int32_t day = 0;
      if (int16_t status = DateValueDay(value, context.date_format, &day);
          status < 0) {
        return status;
      }
      SetNumber(static_cast<double>(kDescendDayBase) - day, 0, result);
      return kKbdOk;
    }
    case 'L':
      SetLogical(!IsTrue(value), result);
      return kKbdOk;
    default:
      return kBad;
  }
}

// ---- Dates.

int16_t Dtoc(const BuiltinContext&, Arguments arguments, ExprValue* result) {
  if (arguments[0].type != 'D') return kBad;
  SetText(std::move(arguments[0].text), result);
  return kKbdOk;
}

int16_t Dtos(const BuiltinContext& context, Arguments arguments,
             ExprValue* result) {
  if (arguments[0].type != 'D') return kBad;
  // The date comes in the task's format; DTOS gives the stored YYYYMMDD
  // form (8 blanks for an empty date).
  char stored[kStoredDateLength + 1];
  int16_t status =
      ConvertDateToStorage(stored, arguments[0].text, context.date_format);
  if (status < 0) return status;
  SetText(std::string(stored, kStoredDateLength), result);
  return kKbdOk;
}

int16_t Ctod(const BuiltinContext& context, Arguments arguments,
             ExprValue* result) {
  if (arguments[0].type != 'C') return kBad;
  int year = 0, month = 0, day = 0;
  int32_t julian_day = 0;
  if (ReadDate(&year, &month, &day, arguments[0].text, context.date_format) ==
      kKbdOk) {
    julian_day = DateToJulianDay(year, month, day);
  }
  SetDateValue(julian_day, context.date_format, result);
  return kKbdOk;
}

// YEAR, MONTH or DAY: part 0, 1 or 2 of the date.
template <int kPart>
int16_t DatePart(const BuiltinContext& context, Arguments arguments,
                 ExprValue* result) {
  if (arguments[0].type != 'D') return kBad;
  int parts[3] = {0, 0, 0};
  int16_t status = ReadDate(&parts[0], &parts[1], &parts[2], arguments[0].text,
                            context.date_format);
  if (status < 0) return status;  // kKbdEmptyFile: the empty date, all 0
  *result = ExprValue();
  result->type = 'N';
  result->number = parts[kPart];
  result->str_length = kPart == 0 ? kYearLength : kMonthDayLength;
  return kKbdOk;
}

// ---- The record.

int16_t Deleted(const BuiltinContext& context, Arguments, ExprValue* result) {
  bool deleted = false;
  if (int16_t status = context.source->GetDeleted(&deleted); status < 0)
    return status;
  SetLogical(deleted, result);
  return kKbdOk;
}

int16_t Recno(const BuiltinContext& context, Arguments, ExprValue* result) {
  uint32_t recno = 0;
  if (int16_t status = context.source->GetRecno(&recno); status < 0)
    return status;
  SetNumber(recno, 0, result);
  return kKbdOk;
}

// ---- The table.

constexpr Builtin kBuiltins[] = {
    {"ABS", 1, 1, Abs},
    {"ALLTRIM", 1, 1, Trim<true, true>},
    {"CTOD", 1, 1, Ctod},
    {"DAY", 1, 1, DatePart<2>},
    {"DELETED", 0, 0, Deleted},
    {"DESCEND", 1, 1, Descend},
    {"DTOC", 1, 1, Dtoc},
    {"DTOS", 1, 1, Dtos},
    {"EMPTY", 1, 1, Empty},
    {"IF", 3, 3, nullptr},
    {"IIF", 3, 3, nullptr},
    {"INT", 1, 1, Int},
    {"LEFT", 2, 2, LeftOrRight<true>},
    {"LEN", 1, 1, Len},
    {"LOWER", 1, 1, ChangeCase<false>},
    {"LTRIM", 1, 1, Trim<true, false>},
    {"MONTH", 1, 1, DatePart<1>},
    {"PADC", 2, 3, PadText<PadSide::kCenter>},
    {"PADL", 2, 3, PadText<PadSide::kLeft>},
    {"PADR", 2, 3, PadText<PadSide::kRight>},
    {"RECNO", 0, 0, Recno},
    {"REPLICATE", 2, 2, Replicate},
    {"RIGHT", 2, 2, LeftOrRight<false>},
    {"ROUND", 2, 2, Round},
    {"RTRIM", 1, 1, Trim<false, true>},
    {"SPACE", 1, 1, Space},
    {"STR", 1, 3, Str<false>},
    {"STRZERO", 1, 3, Str<true>},
    {"SUBSTR", 2, 3, Substr},
    {"TRIM", 1, 1, Trim<false, true>},
    {"UPPER", 1, 1, ChangeCase<true>},
    {"VAL", 1, 1, Val},
    {"YEAR", 1, 1, DatePart<0>},
};

}  // namespace

const Builtin* FindBuiltin(std::string_view name) {
  const Builtin* end = std::end(kBuiltins);
  const Builtin* exact = std::lower_bound(
      std::begin(kBuiltins), end, name,
      [](const Builtin& b, std::string_view n) { return b.name < n; });
  if (exact != end && exact->name == name) return exact;
  const Builtin* abbreviated = nullptr;
  int candidates = 0;
  for (const Builtin& builtin : kBuiltins) {
    if (name.size() >= kMinAbbreviation && builtin.name.starts_with(name)) {
      abbreviated = &builtin;
      ++candidates;
    }
  }
  return candidates == 1 ? abbreviated : nullptr;
}

}  // namespace qx::engine
