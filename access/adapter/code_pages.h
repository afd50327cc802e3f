// Text between the host's ANSI code page (1252) and the OEM code page of
// the files, converted in place on every transfer.
//
// With the full conversion the whole table of the platform is used (every
// byte, best fits for characters the other page lacks). Without it only
// the French accented letters are exchanged, up to the first zero byte:
//   à 224-133  â 226-131  ä 228-132  ç 231-135  è 232-138  é 233-130
//   ê 234-136  ë 235-137  î 238-140  ï 239-139  ô 244-147  ö 246-148
//   ù 249-151  û 251-150  ü 252-129
#ifndef QX_ACCESS_ADAPTER_CODE_PAGES_H_
#define QX_ACCESS_ADAPTER_CODE_PAGES_H_

#include <cstddef>

namespace qx::access {

// Towards the file.
void AnsiToOem(char* buffer, size_t length, bool full);
// From the file.
void OemToAnsi(char* buffer, size_t length, bool full);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_CODE_PAGES_H_
