// The reference host's VM module (libqxvm.so): the value services the
// component binds, as plain functions, and the VM's own Execution events.
//
// The module exports the entries the component resolves by name
// (nConversionDepassementExt, FinConversion, the 24 calculation entries,
// Execution, pQueryProxy); vm_entry.cc wraps the functions below. Tests
// link the functions directly.
//
// Conversions (value_convert.cc): every integer width, the boolean, floats,
// the 10-byte currency, decimals, texts in code page 1252 and UTF-16 (plain,
// blank-padded and memo forms), the single character, dates, times,
// date-times and binaries. Results: kHostOk; kHostRounded when precision or
// characters were lost; kHostOverflow when the value does not fit the
// target; kHostInvalid for a text that is not a value of the target type;
// kHostIncompatible between types that do not convert.
//
// Text forms of the other types: numbers in C locale ('.' decimal point;
// floats with the shortest of 15 or 17 significant digits that reads back;
// currency with its trailing zero decimals dropped; decimals with all their
// scale digits); boolean "1"/"0"; date YYYYMMDD; time HHMMSSmmm; date-time
// YYYYMMDDHHMMSSmmm. Texts read back any of these forms; a date text may
// also be empty or blank (the empty date, day 0).
#ifndef QX_HOST_VM_VM_H_
#define QX_HOST_VM_VM_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "qx/host_types.h"

namespace qx::vm {

// Conversions. For a kValueDecimal target the scale is taken from
// target->scale as given.
uint32_t Convert(const HostValue* source, HostValue* target,
                 uint8_t target_type, uint32_t options);
void EndConversion(HostValue* value);

// Calculations (the 24 entries, in CalculationEntry order).
int32_t CanCompare(const HostValue* a, const HostValue* b);
uint32_t AddInPlace(HostValue* a, const HostValue* b);
uint32_t SubtractInPlace(HostValue* a, const HostValue* b);
uint32_t MultiplyInPlace(HostValue* a, const HostValue* b);
uint32_t DivideInPlace(HostValue* a, const HostValue* b);
uint32_t ModuloInPlace(HostValue* a, const HostValue* b);
uint32_t Compare(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t Equal(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t Greater(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t Less(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t AlmostEqual(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t FlexibleEqual(const HostValue* a, const HostValue* b,
                       HostValue* result);
uint32_t StartsWith(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t FlexibleStartsWith(const HostValue* a, const HostValue* b,
                            HostValue* result);
uint32_t VeryFlexibleStartsWith(const HostValue* a, const HostValue* b,
                                HostValue* result);
uint32_t And(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t Or(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t Not(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t Negate(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t Add(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t Subtract(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t Multiply(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t Divide(const HostValue* a, const HostValue* b, HostValue* result);
uint32_t Modulo(const HostValue* a, const HostValue* b, HostValue* result);

// Value builders for hosts and tests. Text and binary values point at the
// caller's storage (not owned).
HostValue IntValue(uint8_t type, int64_t value);
HostValue UnsignedValue(uint8_t type, uint64_t value);
HostValue DoubleValue(double value);
HostValue FloatValue(float value);
HostValue CurrencyValue(int64_t ten_thousandths);
HostValue DecimalValue(__int128 mantissa, uint8_t scale);
HostValue DateValue(int year, int month, int day);
HostValue TimeValue(int hour, int minute, int second, int millisecond);
HostValue DateTimeValue(int year, int month, int day, int hour, int minute,
                        int second, int millisecond);
HostValue AnsiTextValue(std::string_view cp1252, uint8_t type = kValueText);
HostValue UnicodeTextValue(std::u16string_view text,
                           uint8_t type = kValueUnicodeText);
HostValue BinaryValue(const void* bytes, uint32_t size,
                      uint8_t type = kValueBinary);

// Readers of the fixed forms.
int64_t CurrencyOf(const HostValue& value);  // units of 1/10000
__int128 DecimalOf(const HostValue& value);  // mantissa
// The text of a text value as UTF-16 (ANSI texts decoded from 1252).
std::u16string TextOf(const HostValue& value);

// Julian day numbers of the proleptic Gregorian calendar.
int32_t JulianDay(int year, int month, int day);
void CivilDate(int32_t julian_day, int* year, int* month, int* day);

// The VM's Execution events beyond the component's (ours).
enum VmEvent : uint32_t {
  kVmEventStoppedCount = 9000,     // answers how many 3052 events came
  kVmEventSetObjectAnswer = 9001,  // argument: host object 9's answer
  kVmEventQueryAt = 9002,     // argument i: the i-th value number asked for
                              // by 3053 (0-based), 0 past the end
  kVmEventQueryCount = 9003,  // answers how many 3053 events came
  kVmEventReset = 9004,       // forgets the counts above
};

// The host values the VM answers to event 3053: value 9 is the VM's host
// object, value 8 kVmTextSetting, any other k is kVmValueBase + k.
constexpr uintptr_t kVmValueBase = 1000;
constexpr uintptr_t kVmTextSetting = 24;
constexpr int32_t kVmProxyKind = 102;

uintptr_t HandleExecution(uint32_t event, uintptr_t argument);
void* QueryProxy(int32_t interface_number);

}  // namespace qx::vm

#endif  // QX_HOST_VM_VM_H_
