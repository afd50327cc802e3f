// What it takes to put the packaged Xbase64 3.1.2 (Debian libxbase64-dev)
// to work as a peer, shared by the peer benchmarks and the interop tests.
//
// The library as packaged is not 64-bit clean; two shims make it usable:
//   - xbXBase::GetLong/GetULong assemble four file bytes into an 8-byte
//     value and return it with the upper half uninitialised, so record
//     counts read from a header are garbage and the next append seeks far
//     beyond the file (-112), and record numbers read from NDX entries are
//     wrong. The library calls them through its PLT, so the correct
//     definitions in xbase64_shims.cc take their place in any program that
//     links that file and exports its symbols (default visibility).
//   - CreateDatabase writes every field descriptor with length and
//     decimals 0 (the record layout it keeps in memory is right).
//     CreateXbaseTable creates the table, closes it and sets descriptor
//     bytes 16 and 17 from the schema; the table is then opened as usual.
#ifndef QX_BENCH_XBASE64_SHIMS_H_
#define QX_BENCH_XBASE64_SHIMS_H_

#include <xbase64/xbase64.h>

#include <string>

namespace qx::bench {

// The benchmark table (bench_rows.h) in the library's terms: NAME C(20),
// CITY C(15), AGE N(3), SALARY N(10,2), BIRTH D, ended by an empty entry.
inline constexpr int kXbaseFieldCount = 5;
extern xbSchema kXbaseBenchSchema[kXbaseFieldCount + 1];

// Creates a dBASE III table at path with the schema (ended by an entry
// with an empty name), overwriting a file there, with its field lengths
// and decimals set right. False with *error on failure.
bool CreateXbaseTable(const std::string& path, xbSchema* schema,
                      std::string* error);

}  // namespace qx::bench

#endif  // QX_BENCH_XBASE64_SHIMS_H_
