// The benchmark every single-table index module shares: one program per
// index format, each printing one JSON object of the same shape, driven by
// a small description of the format (IndexFormat) that maps the common
// steps onto the format's C functions.
//
// The table is the data-file benchmark's (bench_rows.h): NAME C(20),
// CITY C(15), AGE N(3), SALARY N(10,2), BIRTH D. Measured:
//   - builds over 1M records of a character key (NAME), a numeric key
//     (SALARY) and a date key (BIRTH), keys per second of the whole build
//     call (create, sort through the work file, write, close), each run
//     alternating with a run of the sort-through-work-file limit (below);
//   - 100k random exact seeks of a character and a numeric key, each
//     followed by kbddread of the record found;
//   - a full scan in key order of the character index (first / next and
//     kbddread of each record);
//   - appends keeping two indexes (the character and the numeric one) in
//     step: kbddput of every field and kbddwrite, then the key of the
//     record and its add for each index, after kbdsetsync(0); both trees
//     checked after the last run.
// A format may run seeks, scans and appends on a smaller table than the
// builds when its record numbers are bounded (IndexFormat::lookup_records
// and appends_from_empty say so, and its JSON states which table each
// figure used).
//
// The limit of a build that sorts through a work file is measured with
// the builds' own machinery: every record served by the data-file block
// reader, its key field's bytes as they stand (no conversion) and the
// big-endian record number appended to the external sort (65,000-byte
// runs written to "stacks.tmp"), the runs merged and every item taken. A
// build does all of that and also converts numbers and dates and writes
// the tree; build / limit says what the rest costs. Best of N runs count,
// median and worst are the spread. Timed loops exclude creating the table
// and copying files.
#ifndef QX_BENCH_INDEX_BENCH_H_
#define QX_BENCH_INDEX_BENCH_H_

#include <cstdint>
#include <functional>
#include <type_traits>

#include "engine/btree/btree_check.h"
#include "qx/engine.h"

namespace qx::bench {

// The table of the builds, the seeks and the appends.
inline constexpr uint32_t kIndexRecords = 1'000'000;
inline constexpr uint32_t kIndexSeeks = 100'000;
inline constexpr uint32_t kIndexAppends = 100'000;

// Reference figures of the peer library on the same 1M table, per
// second, the best that qx_bench_peer_xbase64_ndx measured here with its
// NDX indexes (it measures them afresh): FindKey by name and by salary
// with the record read, its scan of the NAME index in key order, and
// appends with the NAME and SALARY indexes open. The peer keeps its tree
// pages in memory from one call to the next; we read them again in every
// call, as a shared index requires. Targets: 2x, 2x and 3x these.
inline constexpr double kPeerSeeksName = 254000.0;
inline constexpr double kPeerSeeksSalary = 245000.0;
inline constexpr double kPeerScan = 1040000.0;
inline constexpr double kPeerAppendTwoIndexes = 4400.0;

// The peer's figures the targets are stated against (the same library,
// measured when the targets were set): seeks, key-order scan and appends
// with two indexes, per second. The live figures above run 4-7x faster on
// this machine today for seeks and scans; the JSON gives both ratios.
inline constexpr double kStatedPeerSeeks = 37000.0;
inline constexpr double kStatedPeerScan = 170000.0;
inline constexpr double kStatedPeerAppendTwoIndexes = 12000.0;

// One key of the benchmark: what an index of it is built from and where
// its field's bytes lie in the record (for the limit loop). Lookup keys
// of type 'C' are images of NAME (blank-padded or cut to key_length);
// of type 'N', of SALARY.
struct KeyField {
  const char* label;       // JSON name: "char_name", ...
  const char* expression;  // the key expression
  char type;               // 'C', 'N' or 'D'
  uint16_t key_length;     // bytes of a key
  uint16_t decimals;       // of a numeric text key (NTX); else 0
  uint32_t offset;         // of the field in the record (flag at 0)
  uint32_t length;         // of the field
  const char* file;        // the index file, in the benchmark's folder
  const char* tag;         // its tag in a compound file; else null
};

// Record layout of the benchmark table: deletion flag, then the fields.
inline constexpr uint32_t kNameOffset = 1;
inline constexpr uint32_t kNameLength = 20;
inline constexpr uint32_t kSalaryOffset = 1 + 20 + 15 + 3;
inline constexpr uint32_t kSalaryLength = 10;
inline constexpr uint32_t kBirthOffset = 1 + 20 + 15 + 3 + 10;
inline constexpr uint32_t kBirthLength = 8;

// The build keys every format measures: NAME (C 20), SALARY (numeric, of
// the format's key length and decimals) and BIRTH (a date).
constexpr KeyField NameKey(const char* file, const char* tag = nullptr) {
  return {"char_name", "NAME", 'C', 20, 0, kNameOffset, kNameLength, file, tag};
}
constexpr KeyField SalaryKey(uint16_t key_length, uint16_t decimals,
                             const char* file, const char* tag = nullptr) {
  return {"numeric_salary", "SALARY",      'N',  key_length, decimals,
          kSalaryOffset,    kSalaryLength, file, tag};
}
constexpr KeyField BirthKey(uint16_t key_length, const char* file,
                            const char* tag = nullptr) {
  return {"date_birth", "BIRTH",      'D',  key_length, 0,
          kBirthOffset, kBirthLength, file, tag};
}

// An open index: the handle of a single-index file, or the tag
// identifier of a compound file's tag (its file's handle in the low 16
// bits). Handles fit in 16 bits.
using IndexId = int32_t;

using EntryVisitor = std::function<void(const uint8_t* key, uint32_t recno)>;

// The format's operations, as plain functions; the benchmark stops at the
// first negative status. Handles of single-index files and tag
// identifiers are both passed as IndexId (OnIndex adapts the formats'
// functions).
struct IndexFormat {
  const char* label;    // "ndx": the JSON's "benchmark" and folder name
  const char* program;  // "qx_bench_ndx", for failure messages
  uint16_t dialect;     // open mode of the format's files

  // The three builds over the 1M table, and the two lookup keys
  // (character first, numeric second) of the seeks, scan and appends.
  const KeyField* build_keys[3];
  const KeyField* lookup_keys[2];
  // Records of the table of the seeks and the scan: kIndexRecords, where
  // the lookup keys are among the build keys and their built indexes
  // serve; fewer, and the lookup indexes are built on a table of that
  // many records of their own.
  uint32_t lookup_records = kIndexRecords;
  // Appends: how many, and whether they start from an empty table and
  // empty indexes (create_empty) rather than copies of the lookup ones.
  uint32_t appends = kIndexAppends;
  bool appends_from_empty = false;

  // Builds key's index over the open table into path (the file is
  // removed beforehand); the whole call is timed.
  int16_t (*build)(int16_t dbf, const char* path, const KeyField& key);
  // Creates key's index empty in path (compound files: in the file,
  // created when absent). Null when appends_from_empty is false.
  int16_t (*create_empty)(const char* path, const KeyField& key) = nullptr;
  // Opening: every file once; a compound file's tags then by name.
  int16_t (*open_file)(int16_t* handle, const char* path, uint16_t mode);
  int16_t (*close_file)(int16_t handle);
  int16_t (*open_tag)(IndexId* tag, int16_t file, const char* name) = nullptr;
  int16_t (*close_tag)(IndexId tag) = nullptr;
  // After opening: the key type used to compare keys; may be null.
  int16_t (*set_key_type)(IndexId index, uint16_t type) = nullptr;

  // The key image of a number, key_length + 1 bytes of room.
  int16_t (*numeric_key)(IndexId index, void* key, double value);
  // An exact seek of key (in, key_length + 1 bytes; out the key found)
  // with seek_mode: kKbdOk and the record number when found.
  int16_t (*seek)(IndexId index, void* key, uint32_t* recno, uint16_t mode);
  uint16_t seek_mode;
  int16_t (*first)(IndexId index, void* key, uint32_t* recno);
  int16_t (*next)(IndexId index, void* key, uint32_t* recno);
  int16_t scan_end_status = kKbdNoMoreKeys;  // next past the last key
  // The key of the table's current record (engine memory, kbdfree).
  int16_t (*record_key)(int16_t dbf, IndexId index, void** key);
  int16_t (*add)(IndexId index, const void* key, uint32_t recno);
  int16_t (*check)(IndexId index, engine::btree::CheckReport* report,
                   const EntryVisitor& on_entry);

  // JSON texts: the build call named in "covers", appended to the table
  // description, and what the seeks, the scan and the appends cover.
  const char* build_call;
  const char* build_note = ": create, sort through the work file, write, close";
  const char* table_note = "; every figure on this table";
  const char* seek_covers[2];
  const char* scan_covers;
  const char* append_covers;
  // Prints the "targets" object (figure, target, met per target) after
  // the ratios.
  bool report_targets = true;
};

// OnIndex<f>::Call is f taking its index handle (first argument) as an
// IndexId; OnRecordKey<f>::Call the same for a record-key function, whose
// handle comes second; NoIndex<f>::Call is f with an IndexId before its
// arguments, ignored (key images that need no open index).
template <auto kFunction>
struct OnIndex;
template <typename Handle, typename... Args,
          int16_t (*kFunction)(Handle, Args...)>
struct OnIndex<kFunction> {
  static int16_t Call(IndexId index, Args... args) {
    return kFunction(static_cast<Handle>(index), args...);
  }
};

template <auto kFunction>
struct OnRecordKey;
template <typename Handle, int16_t (*kFunction)(int16_t, Handle, void**)>
struct OnRecordKey<kFunction> {
  static int16_t Call(int16_t dbf, IndexId index, void** key) {
    return kFunction(dbf, static_cast<Handle>(index), key);
  }
};

template <auto kFunction>
struct NoIndex;
template <typename... Args, int16_t (*kFunction)(Args...)>
struct NoIndex<kFunction> {
  static int16_t Call(IndexId, Args... args) { return kFunction(args...); }
};

// BuildWith<f, type_bits>::Call is the build function
// f(dbf, path, type | type_bits, expression, key_length[, decimals]) of a
// single-index file taking a KeyField.
template <auto kFunction, uint16_t kTypeBits = 0>
struct BuildWith {
  static int16_t Call(int16_t dbf, const char* path, const KeyField& key) {
    const uint16_t type = static_cast<uint16_t>(key.type) | kTypeBits;
    if constexpr (std::is_invocable_v<decltype(kFunction), int16_t, const char*,
                                      uint16_t, const char*, uint16_t,
                                      uint16_t>) {
      return kFunction(dbf, path, type, key.expression, key.key_length,
                       key.decimals);
    } else {
      return kFunction(dbf, path, type, key.expression, key.key_length);
    }
  }
};

// Runs the whole benchmark and prints its JSON object on stdout; answers
// the program's exit status (a failed step exits at once with 1).
int RunIndexBenchmark(const IndexFormat& format);

}  // namespace qx::bench

#endif  // QX_BENCH_INDEX_BENCH_H_
