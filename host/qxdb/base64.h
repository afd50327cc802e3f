// Base64 (RFC 4648, with padding) for binary memo and field values in
// qxdb's JSON: {"base64": "..."}.
#ifndef QX_HOST_QXDB_BASE64_H_
#define QX_HOST_QXDB_BASE64_H_

#include <string>
#include <string_view>

namespace qx::qxdb {

std::string Base64Encode(std::string_view bytes);
// False on characters outside the alphabet or bad padding.
bool Base64Decode(std::string_view text, std::string* bytes);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_BASE64_H_
