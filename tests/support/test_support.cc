// The portable part of the test support: temporary directories, whole-file
// reads and writes, and where the checkout and the shared folder lie. The
// child processes live in child_process_posix.cc and
// child_process_win32.cc.
#include "tests/support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "gtest/gtest.h"

namespace qx::testing {

TempDir::TempDir() {
  // A child that runs its test again (Windows) gets its parent's
  // directories, in the order the test makes them, and leaves them alone.
  if (internal::AdoptParentTempDir(&path_)) {
    owned_ = false;
    return;
  }
  std::random_device seed;
  std::mt19937_64 rng((uint64_t{seed()} << 32) ^ seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "qxtest.%012llx",
                  static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
    std::error_code ec;
    // The name is the generic (forward slash) form on every system: the
    // tests join names with '/', which Windows accepts too.
    if (std::filesystem::create_directory(base / name, ec)) {
      path_ = (base / name).generic_string();
    }
  }
  internal::NoteTempDir(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  if (owned_ && !path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return path_ + "/" + name;
}

std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A file that is there but cannot be opened (on Windows: another handle
// holds it without sharing) must not read as empty: a comparison with an
// earlier empty read would pass unseen.
std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(Utf8Path(path), std::ios::binary);
  if (!in.is_open()) {
    std::error_code ec;
    if (std::filesystem::exists(Utf8Path(path), ec)) {
      ADD_FAILURE() << "cannot open " << path << " to read it";
    }
    return "";
  }
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

extern const char kSourceDir[];

std::string SharedDir() {
  const char* dir = std::getenv("QX_SHARED_DIR");
  return dir ? dir : std::string(kSourceDir) + "/../shared";
}

std::string SourceDir() { return kSourceDir; }

}  // namespace qx::testing
