// Key-order browses and seeks through the driver beside the engine path
// (see driver_key_bench.h).
#include "bench/driver_key_bench.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::bench {
namespace {

constexpr const char* kProgram = "qx_bench_driver";
constexpr uint16_t kNameLength = 20;

[[noreturn]] void Fail(const char* what, int status) {
  Die(kProgram, what, status);
}

std::string IndexPath(const std::string& table, const std::string& family) {
  const size_t slash = table.find_last_of('/');
  return table.substr(0, slash + 1) + "name." + family;
}

// A record's checksum as both paths read it: age, salary in cents, the
// first letters of the texts.
int64_t Sum(int64_t age, int64_t cents, char name, char city) {
  return age + cents + name + city;
}

// The engine's index of the family, open read-only: the NTX handle, or
// the CDX file and its NAME tag.
struct EngineIndex {
  bool cdx = false;
  int16_t handle = kKbdNoHandle;
  int32_t tag = -1;
};

EngineIndex OpenIndex(const std::string& family, const std::string& path) {
  EngineIndex index;
  index.cdx = family == "cdx";
  // Shared, as the driver opens its files (both are open at once).
  const uint16_t mode = kKbdModeReadOnly | kKbdModeShared;
  if (index.cdx) {
    if (int16_t s = kbdcopenx(&index.handle, path.c_str(), mode); s < 0)
      Fail("kbdcopenx", s);
    if (int16_t s = kbdctagopen(&index.tag, index.handle, "NAME"); s < 0)
      Fail("kbdctagopen", s);
    if (int16_t s = kbdckeytype(index.tag, 'C'); s < 0) Fail("kbdckeytype", s);
  } else if (int16_t s = kbdxopenx(&index.handle, path.c_str(), mode); s < 0) {
    Fail("kbdxopenx", s);
  }
  return index;
}

void CloseIndex(const EngineIndex& index) {
  if (index.cdx) {
    kbdctagclose(index.tag);
    kbdcclose(index.handle);
  } else {
    kbdxclose(index.handle);
  }
}

}  // namespace

void BuildFamilyIndex(const std::string& family, const std::string& table,
                      const std::string& index, const char* field, char type,
                      uint16_t length, uint16_t decimals) {
  int16_t dbf = kKbdNoHandle;
  if (int16_t s = kbddopenx(&dbf, table.c_str(), uint16_t{kKbdDbase3}); s < 0)
    Fail("kbddopenx for the build", s);
  int16_t status = 0;
  if (family == "cdx") {
    if (int16_t s = kbdccreate(index.c_str()); s < 0) Fail("kbdccreate", s);
    int16_t cdx = kKbdNoHandle;
    if (int16_t s = kbdcopenx(&cdx, index.c_str(), 0); s < 0)
      Fail("kbdcopenx for the build", s);
    status = kbdctagbuild(dbf, cdx, field, static_cast<uint16_t>(type), field,
                          type == 'N' ? uint16_t{8} : length);
    kbdcclose(cdx);
  } else {
    status = kbdxbuild(dbf, index.c_str(), static_cast<uint16_t>(type), field,
                       length, decimals);
  }
  if (status < 0) Fail("index build", status);
  kbddclose(dbf);
}

namespace {

// The engine reads record recno: every field got; its checksum.
int64_t EngineRecord(int16_t dbf, uint32_t recno, char* name) {
  char city[16], birth[11];
  double age = 0, salary = 0;
  if (kbddread(dbf, recno) < 0 || kbddget(dbf, 0, name) < 0 ||
      kbddget(dbf, 1, city) < 0 || kbddget(dbf, 2, &age) < 0 ||
      kbddget(dbf, 3, &salary) < 0 || kbddget(dbf, 4, birth) < 0)
    Fail("engine read", kbdgeterror());
  return Sum(static_cast<int64_t>(age), std::llround(salary * 100), name[0],
             city[0]);
}

double EngineWalk(int16_t dbf, const EngineIndex& index, uint32_t records,
                  int64_t* checksum) {
  uint8_t key[256] = {};
  char name[64];
  uint32_t recno = 0;
  uint32_t met = 0;
  int64_t sum = 0;
  const auto start = Clock::now();
  int16_t status = index.cdx ? kbdcfirst(index.tag, key, &recno)
                             : kbdxfirst(index.handle, key, &recno);
  while (status == kKbdOk) {
    sum += EngineRecord(dbf, recno, name);
    ++met;
    status = index.cdx ? kbdcnext(index.tag, key, &recno)
                       : kbdxnext(index.handle, key, &recno);
  }
  const double seconds = Seconds(start);
  if (status != kKbdNoMoreKeys || met != records) Fail("engine walk", status);
  *checksum = sum;
  return seconds;
}

double EngineSeeks(int16_t dbf, const EngineIndex& index,
                   const std::vector<std::string>& names) {
  uint8_t key[256];
  char name[64];
  const auto start = Clock::now();
  for (const std::string& sought : names) {
    std::memset(key, 0, sizeof key);
    std::memcpy(key, sought.data(), sought.size());
    uint32_t recno = 0;
    const int16_t status = index.cdx ? kbdcfind(index.tag, key, &recno, 1)
                                     : kbdxseek(index.handle, key, &recno, 1);
    if (status != kKbdOk) Fail("engine seek", status);
    EngineRecord(dbf, recno, name);
    if (std::strncmp(name, sought.c_str(), sought.size()) != 0)
      Fail("engine seek result", static_cast<int>(recno));
  }
  return Seconds(start);
}

int64_t DriverRecordSum(const host::HostRecord& record) {
  const auto* name = static_cast<const char*>(record.item(0).buffer);
  const auto* city = static_cast<const char*>(record.item(1).buffer);
  const auto* age = static_cast<const int8_t*>(record.item(2).buffer);
  int64_t salary = 0;
  std::memcpy(&salary, record.item(3).buffer, sizeof salary);
  return Sum(*age, salary / 100, name[0], city[0]);
}

double DriverWalk(host::SessionBrowse* browse, uint32_t records,
                  int64_t* checksum) {
  int64_t sum = 0;
  uint32_t met = 0;
  const auto start = Clock::now();
  bool ok = browse->First();
  while (ok && !browse->out_of_file()) {
    sum += DriverRecordSum(browse->record());
    ++met;
    ok = browse->Next();
  }
  const double seconds = Seconds(start);
  if (!ok || met != records) Fail("driver walk", static_cast<int>(met));
  *checksum = sum;
  return seconds;
}

double DriverSeeks(host::SessionBrowse* browse,
                   const std::vector<std::u16string>& names) {
  const auto start = Clock::now();
  for (const std::u16string& sought : names) {
    HostValue value;
    value.type = kValueUnicodeText;
    value.size = static_cast<uint32_t>(sought.size() * sizeof(char16_t));
    value.data = sought.data();
    host::SeekResult result;
    if (!browse->Seek(value, true, &result) || !result.found)
      Fail("driver seek", static_cast<int>(result.recno));
    const auto* name =
        static_cast<const char*>(browse->record().item(0).buffer);
    if (static_cast<char16_t>(name[0]) != sought[0])
      Fail("driver seek result", static_cast<int>(result.recno));
  }
  return Seconds(start);
}

}  // namespace

KeyFigures RunKeyBench(const std::string& family, const std::string& path,
                       uint32_t records, const std::vector<Row>& rows,
                       host::Session* session, int rounds) {
  KeyFigures figures;
  figures.family = family;
  const std::string index_path = IndexPath(path, family);
  BuildFamilyIndex(family, path, index_path, "NAME", 'C', kNameLength, 0);

  // The seek targets: the names of records drawn as every benchmark of
  // the project draws them.
  Lcg rng(77);
  std::vector<std::string> names;
  std::vector<std::u16string> wide_names;
  for (uint32_t i = 0; i < kKeySeeks; ++i) {
    const uint32_t recno = 1 + rng.Next(records);
    std::string name = rows[(recno - 1) & (kPoolSize - 1)].name;
    wide_names.push_back(platform::Utf8ToUtf16(name));
    name.resize(kNameLength, ' ');
    names.push_back(name);
  }

  int16_t dbf = kKbdNoHandle;
  if (int16_t s =
          kbddopenx(&dbf, path.c_str(),
                    uint16_t{kKbdDbase3} | kKbdModeReadOnly | kKbdModeShared);
      s < 0)
    Fail("kbddopenx", s);
  const EngineIndex index = OpenIndex(family, index_path);
  const std::u16string index_name = platform::Utf8ToUtf16("name." + family);
  std::unique_ptr<host::SessionTable> table =
      session->Open(u"PEOPLE", {{index_name, u"NAME"}});
  if (table == nullptr) {
    std::fprintf(stderr, "%s: %s\n", kProgram,
                 platform::Utf16ToUtf8(session->LastError().message).c_str());
    Fail("open with the index through the driver",
         static_cast<int>(session->LastError().id));
  }
  std::unique_ptr<host::SessionBrowse> browse = table->Browse({.key = u"NAME"});
  if (browse == nullptr) Fail("browse through the driver", -1);

  for (int round = 0; round < rounds; ++round) {
    int64_t engine_sum = 0, driver_sum = 0;
    if (round % 2 == 0) {
      figures.engine_walk.Add(EngineWalk(dbf, index, records, &engine_sum));
      figures.driver_walk.Add(DriverWalk(browse.get(), records, &driver_sum));
      figures.engine_seek.Add(EngineSeeks(dbf, index, names));
      figures.driver_seek.Add(DriverSeeks(browse.get(), wide_names));
    } else {
      figures.driver_walk.Add(DriverWalk(browse.get(), records, &driver_sum));
      figures.engine_walk.Add(EngineWalk(dbf, index, records, &engine_sum));
      figures.driver_seek.Add(DriverSeeks(browse.get(), wide_names));
      figures.engine_seek.Add(EngineSeeks(dbf, index, names));
    }
    if (engine_sum != driver_sum) Fail("walk checksums differ", round);
  }
  browse.reset();
  table.reset();
  CloseIndex(index);
  kbddclose(dbf);
  return figures;
}

void RunHarbourBench(const std::string& dir, const std::string& rdd,
                     uint32_t records, KeyFigures* figures) {
  double* walk_per_s = &figures->harbour_walk_per_s;
  double* seek_per_s = &figures->harbour_seek_per_s;
  double* append_per_s = &figures->harbour_append_per_s;
  *walk_per_s = 0;
  *seek_per_s = 0;
  *append_per_s = 0;
  const char* binary = std::getenv("QX_BENCH_HBBENCH");
  if (binary == nullptr || *binary == '\0') return;
  const std::string out = dir + "/hbbench_" + rdd + ".json";
  const std::string command = std::string("\"") + binary + "\" \"" + dir +
                              "\" " + rdd + " " + std::to_string(records) +
                              " 1 shared > \"" + out + "\" 2>&1";
  if (std::system(command.c_str()) != 0) return;
  std::ifstream in(out);
  std::string line;
  const auto best = [](const std::string& text) {
    const size_t at = text.find("\"best_per_s\":");
    return at == std::string::npos ? 0.0 : std::atof(text.c_str() + at + 13);
  };
  while (std::getline(in, line)) {
    if (line.find("\"figure\":\"scan_key_order\"") != std::string::npos)
      *walk_per_s = best(line);
    if (line.find("\"figure\":\"seek_name\"") != std::string::npos)
      *seek_per_s = best(line);
    if (line.find("\"figure\":\"append_two_indexes\"") != std::string::npos)
      *append_per_s = best(line);
  }
}

std::string KeyFiguresJson(const KeyFigures& f, uint32_t records) {
  const double walk_ratio =
      Rate(records, f.driver_walk) / Rate(records, f.engine_walk);
  const double seek_ratio =
      Rate(kKeySeeks, f.driver_seek) / Rate(kKeySeeks, f.engine_seek);
  std::string json = "{\n";
  json += "    \"driver_key_order\": " +
          Figure(records, f.driver_walk, "records",
                 "host session: browse by NAME, first then next, every item "
                 "of each record filled with the host's conversions") +
          ",\n";
  json += "    \"engine_key_order\": " +
          Figure(records, f.engine_walk, "records",
                 "first/next key calls + kbddread + kbddget of all 5 "
                 "fields; table and index opened shared and read-only, as "
                 "the driver opens them") +
          ",\n";
  json += "    \"driver_seeks\": " +
          Figure(kKeySeeks, f.driver_seek, "seeks",
                 "host session: exact seek of a NAME (cursor Seek) and the "
                 "record read with every item") +
          ",\n";
  json += "    \"engine_seeks\": " +
          Figure(kKeySeeks, f.engine_seek, "seeks",
                 "key seek + kbddread + kbddget of all 5 fields") +
          ",\n";
  if (!f.driver_append.seconds.empty())
    json += "    \"driver_appends\": " +
            Figure(kFamilyAppendChunk, f.driver_append, "records",
                   "host session: Clear, the 5 items set with the host's "
                   "values, cursor Write (add) keeping a NAME and a SALARY "
                   "index of the family; per chunk of 10k appends, 100k in "
                   "all, the table shared") +
            ",\n";
  // A rate, or null when not measured.
  const auto rate = [](double per_s) {
    return per_s > 0 ? std::to_string(per_s) : std::string("null");
  };
  const auto ratio = [](double ours, double theirs) {
    return theirs > 0 ? std::to_string(ours / theirs) : std::string("null");
  };
  const std::string append_ratio =
      f.driver_append.seconds.empty()
          ? std::string("null")
          : ratio(Rate(kFamilyAppendChunk, f.driver_append),
                  f.harbour_append_per_s);
  char text[1024];
  std::snprintf(
      text, sizeof text,
      "    \"harbour_shared\": {\"key_order_records_per_s\": %s, "
      "\"seeks_per_s\": %s, \"appends_per_s\": %s, \"covers\": \"hbbench "
      "shared, its own copy of the same rows: GO TOP/SKIP reading NAME; "
      "DBSEEK of a NAME with the record; 100k appends keeping NAME and "
      "SALARY\"},\n"
      "    \"ratios\": {\"driver_over_engine_key_order\": %.3f, "
      "\"driver_over_engine_seeks\": %.3f, \"target\": 0.5, "
      "\"driver_over_harbour_key_order\": %s, "
      "\"driver_over_harbour_seeks\": %s, "
      "\"driver_over_harbour_appends\": %s, \"harbour_target\": 1.0}\n  }",
      rate(f.harbour_walk_per_s).c_str(), rate(f.harbour_seek_per_s).c_str(),
      rate(f.harbour_append_per_s).c_str(), walk_ratio, seek_ratio,
      ratio(Rate(records, f.driver_walk), f.harbour_walk_per_s).c_str(),
      ratio(Rate(kKeySeeks, f.driver_seek), f.harbour_seek_per_s).c_str(),
      append_ratio.c_str());
  json += text;
  return json;
}

}  // namespace qx::bench
