// Collation of NDX and MDX character keys.
//
// One engine-wide switch chooses the order: plain unsigned byte order (the
// default), or a fixed national collation table of 130 code-page-1252
// bytes that places accented letters beside their base letters. The switch
// is read at engine start from "QXDB4XX.INI", section "sort", key
// "asciisort" (default 1; 0 selects the table, every other value byte
// order). Indexes do not record the setting: an index stays in the order it
// was built with. NTX, IDX and CDX keys never use the table.
#ifndef QX_ENGINE_COLLATE_COLLATION_H_
#define QX_ENGINE_COLLATE_COLLATION_H_

#include <cstddef>
#include <cstdint>

namespace qx::engine {

// Reads the settings file into the switch (part of kbdinit).
void LoadCollationSettings();

// True when byte order is in force.
bool AsciiSortOn();

// Compares n bytes of two character keys under the switch: negative, 0 or
// positive. Under the table, bytes missing from it are greater than every
// byte in it and equal to each other.
int CompareCharKeys(const uint8_t* a, const uint8_t* b, std::size_t n);

// The same under the table regardless of the switch.
int CollateCompare(const uint8_t* a, const uint8_t* b, std::size_t n);

}  // namespace qx::engine

#endif  // QX_ENGINE_COLLATE_COLLATION_H_
