// The VM module's exports, by the names the component resolves.
#include "host/vm/vm.h"
#include "qx/export.h"

using namespace qx;

extern "C" {

QX_EXPORT uint32_t nConversionDepassementExt(const HostValue* source,
                                             HostValue* target,
                                             uint8_t target_type,
                                             uint32_t options) {
  return vm::Convert(source, target, target_type, options);
}

QX_EXPORT void FinConversion(HostValue* value) { vm::EndConversion(value); }

QX_EXPORT int32_t bCanCompareEx(const HostValue* a, const HostValue* b) {
  return vm::CanCompare(a, b);
}
QX_EXPORT uint32_t wAjouteEx(HostValue* a, const HostValue* b) {
  return vm::AddInPlace(a, b);
}
QX_EXPORT uint32_t wSoustraitEx(HostValue* a, const HostValue* b) {
  return vm::SubtractInPlace(a, b);
}
QX_EXPORT uint32_t wMultiplieEx(HostValue* a, const HostValue* b) {
  return vm::MultiplyInPlace(a, b);
}
QX_EXPORT uint32_t wDiviseEx(HostValue* a, const HostValue* b) {
  return vm::DivideInPlace(a, b);
}
QX_EXPORT uint32_t wModuloEx(HostValue* a, const HostValue* b) {
  return vm::ModuloInPlace(a, b);
}

QX_EXPORT uint32_t nComparaisonEx(const HostValue* a, const HostValue* b,
                                  HostValue* result) {
  return vm::Compare(a, b, result);
}
QX_EXPORT uint32_t nEgaliteEx(const HostValue* a, const HostValue* b,
                              HostValue* result) {
  return vm::Equal(a, b, result);
}
QX_EXPORT uint32_t nSuperieurEx(const HostValue* a, const HostValue* b,
                                HostValue* result) {
  return vm::Greater(a, b, result);
}
QX_EXPORT uint32_t nInferieurEx(const HostValue* a, const HostValue* b,
                                HostValue* result) {
  return vm::Less(a, b, result);
}
QX_EXPORT uint32_t nPresqueEgalEx(const HostValue* a, const HostValue* b,
                                  HostValue* result) {
  return vm::AlmostEqual(a, b, result);
}
QX_EXPORT uint32_t nSoupleEgalEx(const HostValue* a, const HostValue* b,
                                 HostValue* result) {
  return vm::FlexibleEqual(a, b, result);
}
QX_EXPORT uint32_t nCommencePar(const HostValue* a, const HostValue* b,
                                HostValue* result) {
  return vm::StartsWith(a, b, result);
}
QX_EXPORT uint32_t nCommenceParSoupleEx(const HostValue* a, const HostValue* b,
                                        HostValue* result) {
  return vm::FlexibleStartsWith(a, b, result);
}
QX_EXPORT uint32_t nCommenceParTresSoupleEx(const HostValue* a,
                                            const HostValue* b,
                                            HostValue* result) {
  return vm::VeryFlexibleStartsWith(a, b, result);
}
QX_EXPORT uint32_t nETLogiqueEx(const HostValue* a, const HostValue* b,
                                HostValue* result) {
  return vm::And(a, b, result);
}
QX_EXPORT uint32_t nOULogiqueEx(const HostValue* a, const HostValue* b,
                                HostValue* result) {
  return vm::Or(a, b, result);
}
QX_EXPORT uint32_t nNONLogiqueEx(const HostValue* a, const HostValue* b,
                                 HostValue* result) {
  return vm::Not(a, b, result);
}
QX_EXPORT uint32_t nNegationEx(const HostValue* a, const HostValue* b,
                               HostValue* result) {
  return vm::Negate(a, b, result);
}
QX_EXPORT uint32_t nAdditionEx(const HostValue* a, const HostValue* b,
                               HostValue* result) {
  return vm::Add(a, b, result);
}
QX_EXPORT uint32_t nSoustractionEx(const HostValue* a, const HostValue* b,
                                   HostValue* result) {
  return vm::Subtract(a, b, result);
}
QX_EXPORT uint32_t nMultiplicationEx(const HostValue* a, const HostValue* b,
                                     HostValue* result) {
  return vm::Multiply(a, b, result);
}
QX_EXPORT uint32_t nDivisionEx(const HostValue* a, const HostValue* b,
                               HostValue* result) {
  return vm::Divide(a, b, result);
}
QX_EXPORT uint32_t nModuloEx(const HostValue* a, const HostValue* b,
                             HostValue* result) {
  return vm::Modulo(a, b, result);
}

QX_EXPORT uintptr_t Execution(uint32_t event, uintptr_t argument) {
  return vm::HandleExecution(event, argument);
}

QX_EXPORT void* pQueryProxy(int32_t interface_number) {
  return vm::QueryProxy(interface_number);
}

}  // extern "C"
