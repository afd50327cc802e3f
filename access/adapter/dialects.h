// The file families the access layer speaks, and what each one chooses:
// the index engine, the index file extension and the memo kind.
//
// The dialect table holds 11 rows, tried in row order when a data file is
// opened (data_file_ops.h); each row is a family code and the name shown
// to users. Codes 1..10 are the engine's dialects; 11 stands for a family
// outside the table.
//
//   codes     index engine           extension  memo
//   1         NDX                    .ndx       DBT
//   2         MDX (keys are tags)    .mdx       DBT
//   3         IDX                    .idx       DBT
//   4, 8, 10  CDX (keys are tags)    .cdx       FPT
//   5, 6      NTX                    .ntx       DBT
//   others    none                   none       DBT
#ifndef QX_ACCESS_ADAPTER_DIALECTS_H_
#define QX_ACCESS_ADAPTER_DIALECTS_H_

#include <cstdint>
#include <span>
#include <string_view>

namespace qx::access {

// A file family: a dialect code of the table below, or kDialectOther.
using XbaseDialect = int32_t;

// The code of a family outside the table (and of an index file name whose
// extension names no index engine).
inline constexpr XbaseDialect kDialectOther = 11;

struct DialectRow {
  uint16_t code;
  const char* name;  // ASCII
};

// The 11 rows, in the order a data file is tried in.
std::span<const DialectRow> DialectRows();

// The index engine of a family.
enum class IndexFamily { kNone, kNdx, kMdx, kIdx, kCdx, kNtx };
IndexFamily IndexFamilyOf(XbaseDialect dialect);

// True for the families whose keys are the named tags of one file.
bool KeysAreTags(XbaseDialect dialect);

// The dialect of an index file by its extension, compared without regard
// to case: ".ndx" 1, ".mdx" 2, ".idx" 3, ".ntx" 5, ".cdx" 10; any other
// extension, none, or an empty name 11.
XbaseDialect DialectOfIndexPath(std::u16string_view path);

// ".ndx", ".mdx", ".idx", ".cdx" or ".ntx"; null for a family without an
// index engine.
const char* IndexExtension(XbaseDialect dialect);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_DIALECTS_H_
