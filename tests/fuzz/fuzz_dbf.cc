// DBF data files with their memo files: open in each family, read every
// field of every record, and the memo value of every memo field.
//
// Input: the data file, then its memo file. The data file is as long as
// its header says (header size + record count * record size + the end
// marker); the bytes past it, if any, are the memo file, written both as
// input.dbt and input.fpt so that every family finds its own.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/dbf/dbf_format.h"
#include "qx/engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace qx::fuzz {
namespace {

// Families whose reading rules differ: dBASE III, dBASE IV, Clipper (wide
// character fields), FoxPro 2 (FPT memos) and Visual FoxPro.
constexpr uint16_t kDialects[] = {kKbdDbase3, kKbdDbase4, kKbdClipper,
                                  kKbdFoxpro2, kKbdVisualFoxpro};
// The version byte of a dBASE IV table with a memo file.
constexpr uint8_t kDbase4MemoVersion = 0x8B;
// Reads stop here however many records the header claims.
constexpr uint32_t kMaxRecords = 4096;

size_t DataPartSize(const uint8_t* data, size_t size) {
  using namespace qx::engine;
  if (size < kDbfRecordSizeOffset + 2) return size;
  const uint64_t whole = GetLe16(data + kDbfHeaderSizeOffset) +
                         uint64_t{GetLe32(data + kDbfRecordCountOffset)} *
                             GetLe16(data + kDbfRecordSizeOffset) +
                         1;
  return whole < size ? static_cast<size_t>(whole) : size;
}

bool IsMemoType(char type, uint16_t dialect) {
  if (type == 'M' || type == 'G' || type == 'P' || type == 'W') return true;
  return type == 'B' && dialect != kKbdVisualFoxpro;
}

void ReadMemo(int16_t memo, uint8_t kind, uint32_t block) {
  char* data = nullptr;
  uint32_t length = 0;
  kbdseterror(0);
  if (kind == kKbdKindDbt) {
    kbdtreadx(memo, block, &data, &length);
    kbdfree(data);
    data = nullptr;
    kbdseterror(0);
    kbdtread(memo, block, &data);
  } else {
    uint32_t type = 0;
    kbdfreadx(memo, block, &data, &length, &type);
  }
  kbdfree(data);
}

void ReadTable(const std::string& path, uint16_t dialect) {
  kbdseterror(0);
  int16_t dbf = kKbdNoHandle;
  if (kbddopenx(&dbf, path.c_str(), dialect | kKbdModeReadOnly) < 0) {
    Require(dbf == kKbdNoHandle, "failed open leaves no handle");
    return;
  }
  KbdDbfInfo info{};
  kbddinfo(dbf, &info);
  // The memo file the family names, when the table has memo fields.
  int16_t memo = kKbdNoHandle;
  uint8_t kind = 0;
  char memo_name[300];
  kbdseterror(0);
  if (info.has_memo && kbdmemoname(path.c_str(), info.dialect, memo_name,
                                   sizeof memo_name, &kind) == kKbdOk) {
    // As the driver opens them: a DBT in the layout the version byte names,
    // an FPT whatever the family.
    if (kind == kKbdKindDbt) {
      uint16_t layout =
          info.version == kDbase4MemoVersion ? kKbdDbase4 : kKbdDbase3;
      kbdtopenx(&memo, memo_name, layout | uint16_t{kKbdModeReadOnly});
    } else {
      kbdfopenx(&memo, memo_name, kKbdModeReadOnly);
    }
  }
  kbdseterror(0);
  uint16_t largest = 0;
  std::vector<KbdFieldDef> fields(
      static_cast<size_t>(std::max<int16_t>(info.field_count, 0)));
  if (!fields.empty() && kbddfields(dbf, &largest, fields.data()) >= 0) {
    uint32_t count = 0;
    kbdseterror(0);
    kbddreccount(dbf, &count);
    std::vector<char> value;
    for (uint32_t recno = 1; recno <= std::min(count, kMaxRecords); ++recno) {
      kbdseterror(0);
      if (kbddread(dbf, recno) < 0) break;
      kbddisdeleted(dbf);
      for (int16_t f = 0; f < info.field_count; ++f) {
        const KbdFieldDef& def = fields[static_cast<size_t>(f)];
        value.assign(static_cast<size_t>(def.length) + 64, '\0');
        kbdseterror(0);
        kbddget(dbf, f, value.data());
        kbdseterror(0);
        uint16_t length = 0;
        kbddgetraw(dbf, f, value.data(), &length);
        Require(length <= def.length, "raw field within its length");
        kbdseterror(0);
        kbddisblank(dbf, f);
        if (memo != kKbdNoHandle &&
            IsMemoType(static_cast<char>(def.type), info.dialect)) {
          uint32_t block = 0;
          kbdseterror(0);
          if (kbddmemoblock(dbf, f, &block) >= 0 && block != 0)
            ReadMemo(memo, kind, block);
        }
      }
    }
  }
  kbdseterror(0);
  if (memo != kKbdNoHandle) {
    if (kind == kKbdKindDbt) {
      kbdtclose(memo);
    } else {
      kbdfclose(memo);
    }
  }
  kbdseterror(0);
  kbddclose(dbf);
}

// A table of the family with a memo field and three records, two of them
// with memo values, as one seed: data file then memo file.
void WriteTableSeed(const std::string& dir, uint16_t dialect) {
  const bool vfp = dialect == kKbdVisualFoxpro;
  KbdFieldDef fields[7] = {};
  const struct {
    const char* name;
    char type;
    uint16_t length, decimals;
  } defs[] = {{"NAME", 'C', 20, 0},
              {"AMOUNT", 'N', 9, 2},
              {"BIRTH", 'D', 8, 0},
              {"ACTIVE", 'L', 1, 0},
              {"NOTES", 'M', vfp ? uint16_t{4} : uint16_t{10}, 0},
              {"COUNT", 'I', 4, 0},
              {"STAMP", 'T', 8, 0}};
  const int16_t count = vfp ? 7 : 5;
  for (int i = 0; i < count; ++i) {
    std::snprintf(fields[i].name, sizeof fields[i].name, "%s", defs[i].name);
    fields[i].type = static_cast<uint16_t>(defs[i].type);
    fields[i].length = defs[i].length;
    fields[i].decimals = defs[i].decimals;
  }
  const std::string name = "seed" + std::to_string(dialect);
  const std::string path = PathOf(name + ".dbf");
  kbdseterror(0);
  if (kbddcreate(path.c_str(), count, fields, dialect) != kKbdOk) return;
  char memo_name[300];
  uint8_t kind = 0;
  kbdmemoname(path.c_str(), dialect, memo_name, sizeof memo_name, &kind);
  int16_t memo = kKbdNoHandle;
  if (kind == kKbdKindDbt) {
    kbdtcreate(memo_name, 1, dialect);
    kbdtopenx(&memo, memo_name, dialect);
  } else {
    kbdfcreate(memo_name, 64);
    kbdfopenx(&memo, memo_name, dialect);
  }
  int16_t dbf = kKbdNoHandle;
  kbddopenx(&dbf, path.c_str(), dialect);
  const char* texts[] = {"first memo", "",
                         "a longer memo value\r\nover two lines"};
  for (int r = 0; r < 3; ++r) {
    kbdseterror(0);
    kbddblankrec(dbf);
    kbddput(dbf, 0, r == 1 ? "" : "Name of a record");
    double amount = 12.5 * r - 3;
    kbddput(dbf, 1, &amount);
    kbddput(dbf, 2, r == 1 ? "        " : "20240229");
    if (r != 2) kbddput(dbf, 3, "T");
    if (*texts[r] != '\0') {
      uint32_t block = 0;
      if (kind == kKbdKindDbt) {
        kbdtwrite(memo, &block, texts[r], 0);
      } else {
        kbdfwrite(memo, &block, texts[r]);
      }
      kbddsetmemoblock(dbf, 4, block);
    }
    if (vfp) {
      int32_t number = -r;
      kbddput(dbf, 5, &number);
      kbddput(dbf, 6, "20240229123456000");
    }
    uint32_t recno = 0;
    kbddwrite(dbf, &recno, kKbdWriteAppend);
  }
  kbdddelete(dbf, 2);
  kbdseterror(0);
  kbddclose(dbf);
  if (kind == kKbdKindDbt) {
    kbdtclose(memo);
  } else {
    kbdfclose(memo);
  }
  std::vector<uint8_t> bytes = ReadWhole(path);
  std::vector<uint8_t> memo_bytes = ReadWhole(memo_name);
  // The data part ends where the header says (the end marker included).
  bytes.resize(DataPartSize(bytes.data(), bytes.size()));
  bytes.insert(bytes.end(), memo_bytes.begin(), memo_bytes.end());
  WriteSeed(dir, name, bytes);
}

void WriteSeeds(const std::string& dir) {
  for (uint16_t dialect : kDialects) WriteTableSeed(dir, dialect);
}

}  // namespace
}  // namespace qx::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qx::fuzz::MaybeWriteSeeds(qx::fuzz::WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qx::fuzz;
  StartEngine();
  size_t data_size = DataPartSize(data, size);
  const std::string path = WriteInput("input.dbf", data, data_size);
  WriteInput("input.dbt", data + data_size, size - data_size);
  WriteInput("input.fpt", data + data_size, size - data_size);
  for (uint16_t dialect : kDialects) ReadTable(path, dialect);
  return 0;
}
