// Tests of the profile (INI) integer reader: where files are found, how
// sections and keys match, and how values become integers.

#include <string>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace qx::platform {
namespace {

using qx::testing::TempDir;
using qx::testing::WriteWholeFile;

// Points the system directory at a temporary one for a test's lifetime.
class ScopedSystemDirectory {
 public:
  explicit ScopedSystemDirectory(const std::string& dir)
      : saved_(SystemDirectory()) {
    SetSystemDirectory(dir);
  }
  ~ScopedSystemDirectory() { SetSystemDirectory(saved_); }

 private:
  std::string saved_;
};

TEST(ProfileTest, FindsFilesSectionsAndKeysWithoutRegardToCase) {
  EXPECT_EQ(SystemDirectory(), qx::testing::DefaultProfileDirectory());
  TempDir dir;
  ScopedSystemDirectory scoped(dir.path());
  WriteWholeFile(dir.File("QxDbIns.INI"),
                 "; options\r\n"
                 "[other]\r\n"
                 "DELETEINDEX=7\r\n"
                 "  [ Option ]  \r\n"
                 "  DeleteIndex  =  1  \r\n"
                 "DELETEINDEX=2\r\n"
                 ";DUPLICATESON=5\r\n"
                 "EMPTY=\r\n"
                 "[OPTION]\r\n"
                 "DUPLICATESON=9\r\n");
  // A bare name is looked up in the system directory, in any case.
  EXPECT_EQ(ProfileInt("OPTION", "DELETEINDEX", 0, "qxdbins.ini"), 1u);
  EXPECT_EQ(LastError(), kErrorSuccess);
  EXPECT_EQ(ProfileInt("option", "deleteindex", 0, "QXDBINS.INI"), 1u);
  // The first section of a name is the one read; comments are not keys.
  EXPECT_EQ(ProfileInt("OPTION", "DUPLICATESON", 3, "qxdbins.ini"), 3u);
  // Defaults: missing file, section or key, or an empty value.
  EXPECT_EQ(ProfileInt("OPTION", "EMPTY", 4, "qxdbins.ini"), 4u);
  EXPECT_EQ(ProfileInt("nothing", "DELETEINDEX", 5, "qxdbins.ini"), 5u);
  EXPECT_EQ(ProfileInt("sort", "asciisort", 1, "QXDB4XX.INI"), 1u);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_EQ(ProfileInt("sort", "asciisort", -1, "QXDB4XX.INI"), 0xFFFFFFFFu);

  // A name with a directory is taken as it stands, '\' allowed.
  WriteWholeFile(dir.File("local.ini"), "[sort]\nasciisort=0\n");
  const std::string local = dir.path() + "\\LOCAL.ini";
  EXPECT_EQ(ProfileInt("SORT", "AsciiSort", 1, local), 0u);
}

TEST(ProfileTest, ReadsValuesAsWindowsDoes) {
  TempDir dir;
  const std::string file = dir.File("values.ini");
  WriteWholeFile(file,
                 "[v]\n"
                 "trailing=  42abc\n"
                 "negative=-5\n"
                 "hex=0x1F\n"
                 "upperhex=0X1F\n"
                 "octal=0o17\n"
                 "binary=-0b101\n"
                 "letters=abc\n"
                 "quoted=\"  12\"\n"
                 "single='7'\n"
                 "half=\"8\n"
                 "plus=+3x\n"
                 "wraps=4294967297\n"
                 "bare\n");
  auto value = [&](const char* key) { return ProfileInt("v", key, 99, file); };
  EXPECT_EQ(value("trailing"), 42u);
  EXPECT_EQ(value("negative"), static_cast<uint32_t>(-5));
  EXPECT_EQ(value("hex"), 31u);
  EXPECT_EQ(value("upperhex"), 0u);  // the prefix is lower case only
  EXPECT_EQ(value("octal"), 15u);
  EXPECT_EQ(value("binary"), static_cast<uint32_t>(-5));
  EXPECT_EQ(value("letters"), 0u);
  EXPECT_EQ(value("quoted"), 12u);
  EXPECT_EQ(value("single"), 7u);
  EXPECT_EQ(value("half"), 0u);  // one quote is kept, and is no digit
  EXPECT_EQ(value("plus"), 3u);
  EXPECT_EQ(value("wraps"), 1u);
  EXPECT_EQ(value("bare"), 99u);
  EXPECT_EQ(value("absent"), 99u);
}

}  // namespace
}  // namespace qx::platform
