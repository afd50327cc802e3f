// The framework's host value operations, shared by every driver.
//
// Host values carry host-owned memory (texts and binaries made by the
// host's conversion service), so the framework never allocates a value's
// bytes itself: it lets the bound conversion service copy them, and gives
// them back through the service's end of conversion. Comparisons go through
// the bound calculation entries. Every operation fails (false) when the
// service it needs is not bound.
#ifndef QX_FRAMEWORK_HOST_VALUE_H_
#define QX_FRAMEWORK_HOST_VALUE_H_

#include <cstdint>
#include <string_view>

#include "qx/host_types.h"

namespace qx::framework {

// Gives back what the host's conversion service allocated for value and
// leaves it empty (kValueNone). A value without owned bytes is only
// cleared.
void ReleaseHostValue(HostValue* value);

// The framework's null value: type kValueNull, null state, no bytes.
void SetNullHostValue(HostValue* value);

// Converts source into target_type through the host; *result gets the
// host's result code. True below 100.
bool ConvertHostValue(const HostValue& source, uint8_t target_type,
                      HostValue* target, uint32_t* result);

// Makes value a host-owned UTF-16 text (kValueUnicodeText, size in bytes:
// two per character).
bool SetUnicodeTextValue(HostValue* value, std::u16string_view text);

// Equality and prefix tests by the host's calculation entries.
bool HostValuesEqual(const HostValue& a, const HostValue& b, bool* equal);
bool HostValueStartsWith(const HostValue& a, const HostValue& prefix,
                         bool* starts);
// Order tests by the host's calculation entries: a > b, a < b.
bool HostValueGreater(const HostValue& a, const HostValue& b, bool* greater);
bool HostValueLess(const HostValue& a, const HostValue& b, bool* less);

}  // namespace qx::framework

#endif  // QX_FRAMEWORK_HOST_VALUE_H_
