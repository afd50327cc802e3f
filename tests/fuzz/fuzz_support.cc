#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "qx/engine.h"

namespace qx::fuzz {
namespace {

std::string MakeWorkDir() {
  namespace fs = std::filesystem;
  std::error_code ec;
  // libFuzzer ends a run without the exit handlers, so the directory stays:
  // tools/fuzz.sh names a base it removes afterwards.
  const char* given = std::getenv("QX_FUZZ_TMP");
  fs::path base;
  if (given != nullptr && *given != '\0') {
    base = given;
  } else if (fs::is_directory("/dev/shm", ec)) {
    base = "/dev/shm";
  } else {
    base = fs::temp_directory_path();
  }
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path dir = base / ("qx-fuzz-" + std::to_string(random()));
    if (fs::create_directory(dir, ec)) return dir.string() + "/";
  }
  std::fprintf(stderr, "fuzz: cannot make a working directory in %s\n",
               base.c_str());
  std::abort();
}

void RemoveWorkDir() {
  std::error_code ec;
  std::filesystem::remove_all(WorkDir(), ec);
}

void Put(int16_t handle, int16_t field, const void* value) {
  kbdseterror(0);
  Require(kbddput(handle, field, value) >= 0, "fixed table: put");
}

void MakeTable(const std::string& path) {
  KbdFieldDef fields[5] = {};
  const struct {
    const char* name;
    char type;
    uint16_t length, decimals;
  } defs[] = {{"NAME", 'C', 12, 0},
              {"CITY", 'C', 10, 0},
              {"AMOUNT", 'N', 10, 2},
              {"BIRTH", 'D', 8, 0},
              {"ACTIVE", 'L', 1, 0}};
  for (int i = 0; i < 5; ++i) {
    std::snprintf(fields[i].name, sizeof fields[i].name, "%s", defs[i].name);
    fields[i].type = static_cast<uint16_t>(defs[i].type);
    fields[i].length = defs[i].length;
    fields[i].decimals = defs[i].decimals;
  }
  kbdseterror(0);
  Require(kbddcreate(path.c_str(), 5, fields, kKbdDbase3) == kKbdOk,
          "fixed table: create");
}

void MakeFixedTable() {
  const std::string path = PathOf(kFixedTableName);
  MakeTable(path);
  int16_t handle = kKbdNoHandle;
  Require(kbddopenx(&handle, path.c_str(), kKbdDbase3) == kKbdOk,
          "fixed table: open");
  const struct {
    const char* name;
    const char* city;
    double amount;
    const char* birth;
    const char* active;
  } rows[] = {{"Smith", "Paris", 12.5, "19700101", "T"},
              {"Müller", "Berlin", -3.25, "20240229", "F"},
              {"", "", 0, "        ", nullptr},
              {"smith", "Lyon", 1e6, "19991231", "T"}};
  for (const auto& row : rows) {
    kbdseterror(0);
    Require(kbddblankrec(handle) == kKbdOk, "fixed table: blank");
    Put(handle, 0, row.name);
    Put(handle, 1, row.city);
    Put(handle, 2, &row.amount);
    Put(handle, 3, row.birth);
    if (row.active != nullptr) Put(handle, 4, row.active);  // else blank
    uint32_t recno = 0;
    Require(kbddwrite(handle, &recno, kKbdWriteAppend) == kKbdOk,
            "fixed table: append");
  }
  Require(kbddclose(handle) == kKbdOk, "fixed table: close");
}

}  // namespace

const std::string& WorkDir() {
  static const std::string* dir = [] {
    auto* made = new std::string(MakeWorkDir());
    std::atexit(RemoveWorkDir);
    return made;
  }();
  return *dir;
}

std::string PathOf(std::string_view name) {
  return WorkDir() + std::string(name);
}

std::string WriteInput(std::string_view name, const uint8_t* data,
                       size_t size) {
  std::string path = PathOf(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data),
            static_cast<std::streamsize>(size));
  out.close();
  Require(!out.fail(), "cannot write an input file");
  return path;
}

std::vector<uint8_t> ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                              std::istreambuf_iterator<char>());
}

void StartEngine() {
  static const bool started = [] {
    Require(kbdinit(32767, 4) == kKbdOk, "kbdinit");
    MakeFixedTable();
    return true;
  }();
  (void)started;
  kbdseterror(0);
}

int16_t FixedTableHandle(uint16_t dialect) {
  static int16_t handles[256];
  static bool opened[256];
  uint8_t slot = static_cast<uint8_t>(dialect);
  if (!opened[slot]) {
    opened[slot] = true;
    handles[slot] = kKbdNoHandle;
    kbdseterror(0);
    const std::string path = PathOf(kFixedTableName);
    Require(
        kbddopenx(&handles[slot], path.c_str(),
                  static_cast<uint16_t>(dialect | kKbdModeReadOnly)) == kKbdOk,
        "fixed table: open read-only");
  }
  kbdseterror(0);
  Require(kbddread(handles[slot], 1) >= 0, "fixed table: read record 1");
  return handles[slot];
}

int16_t MakeSeedTable(uint16_t dialect, int records) {
  const std::string path = PathOf("seedtable.dbf");
  MakeTable(path);
  int16_t handle = kKbdNoHandle;
  kbdseterror(0);
  Require(kbddopenx(&handle, path.c_str(), dialect) == kKbdOk,
          "seed table: open");
  static const char* const kCities[] = {"Paris", "Berlin", "", "Lyon", "Rome"};
  for (int i = 0; i < records; ++i) {
    kbdseterror(0);
    kbddblankrec(handle);
    char name[16];
    std::snprintf(name, sizeof name, "N%07d", (i * 7919) % 100003);
    Put(handle, 0, i % 11 == 5 ? "" : name);
    Put(handle, 1, kCities[i % 5]);
    double amount = (i % 13 - 6) * 1234.5 / (i % 4 + 1);
    Put(handle, 2, &amount);
    char birth[16];
    std::snprintf(birth, sizeof birth, "%04d%02d%02d", 1900 + i % 150,
                  1 + i % 12, 1 + i % 28);
    Put(handle, 3, i % 9 == 4 ? "        " : birth);
    Put(handle, 4, i % 3 == 0 ? "T" : "F");
    uint32_t recno = 0;
    Require(kbddwrite(handle, &recno, kKbdWriteAppend) == kKbdOk,
            "seed table: append");
  }
  return handle;
}

void MaybeWriteSeeds(void (*write)(const std::string& dir)) {
  const char* dir = std::getenv("QX_FUZZ_WRITE_SEEDS");
  if (dir == nullptr || *dir == '\0') return;
  std::string with_slash(dir);
  if (with_slash.back() != '/') with_slash += '/';
  std::filesystem::create_directories(with_slash);
  StartEngine();
  write(with_slash);
  kbdterm();
  std::exit(0);
}

void WriteSeed(const std::string& dir, std::string_view name,
               const std::vector<uint8_t>& bytes) {
  std::ofstream out(dir + std::string(name),
                    std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void WriteSeedText(const std::string& dir, std::string_view name,
                   std::string_view text) {
  WriteSeed(dir, name, std::vector<uint8_t>(text.begin(), text.end()));
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz: property broken: %s\n", what);
  std::abort();
}

}  // namespace qx::fuzz
