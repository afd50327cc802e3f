// A reader of the two tables of a Windows PE image (DLL or EXE) that the
// tests check: the names it exports and the DLLs it imports. Plain byte
// parsing, so it runs on any system against a file built for Windows.
#ifndef QX_TESTS_SUPPORT_PE_FILE_H_
#define QX_TESTS_SUPPORT_PE_FILE_H_

#include <string>
#include <vector>

namespace qx::testing {

struct PeTables {
  std::vector<std::string> exports;  // names, in the table's (sorted) order
  std::vector<std::string> imports;  // DLL names, as the image spells them
};

// Whether bytes start like a PE image ("MZ" and a "PE\0\0" header).
bool LooksLikePe(const std::string& bytes);

// Reads both tables of a PE32+ image; false with *error on a malformed one.
bool ReadPeTables(const std::string& bytes, PeTables* tables,
                  std::string* error);

}  // namespace qx::testing

#endif  // QX_TESTS_SUPPORT_PE_FILE_H_
