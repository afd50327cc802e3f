// Tests of the directory search: wildcards, case, the file system's order,
// directories only when asked, and the errors of each end of a search.

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace qx::platform {
namespace {

std::vector<std::string> SearchAll(const std::string& pattern,
                                   bool include_directories = false) {
  std::vector<std::string> names;
  FileSearch search;
  FoundFile found;
  if (!search.First(Utf8ToUtf16(pattern), &found, include_directories)) {
    return names;
  }
  do {
    names.push_back(Utf16ToUtf8(found.name));
  } while (search.Next(&found));
  EXPECT_EQ(LastError(), kErrorNoMoreFiles);
  return names;
}

// The names of dir that are in wanted, in the order the system lists them.
std::vector<std::string> KernelOrder(const std::string& dir,
                                     const std::set<std::string>& wanted) {
  std::vector<std::string> names;
  for (const auto& entry :
       std::filesystem::directory_iterator(testing::Utf8Path(dir))) {
    const std::u8string name = entry.path().filename().u8string();
    const std::string utf8(name.begin(), name.end());
    if (wanted.count(utf8) != 0) names.push_back(utf8);
  }
  return names;
}

TEST(FileSearchTest, FindsMatchingFilesInTheFileSystemsOrder) {
  testing::TempDir tmp;
  const std::string dir = tmp.File("Data");
  ASSERT_TRUE(std::filesystem::create_directory(testing::Utf8Path(dir)));
  for (const char* name :
       {"CLIENTS.DBF", "orders.dbf", "\xC3\xA9t\xC3\xA9.dbf", "notes.txt",
        "a.dbfx", "x.ntx", "y.cdx", "z.IDX", "README", "clients.dbf.bak"}) {
    testing::WriteWholeFile(dir + "/" + name, "0123456789");
  }
  ASSERT_TRUE(
      std::filesystem::create_directory(testing::Utf8Path(dir + "/sub.dbf")));

  // The directory part is found without regard to case, with either
  // separator; the name part matches without regard to case.
  const std::set<std::string> tables = {"CLIENTS.DBF", "orders.dbf",
                                        "\xC3\xA9t\xC3\xA9.dbf"};
  EXPECT_EQ(SearchAll(tmp.path() + "\\DATA\\*.dbf"), KernelOrder(dir, tables));
  std::set<std::string> with_directory = tables;
  with_directory.insert("sub.dbf");
  EXPECT_EQ(SearchAll(tmp.path() + "/data/*.DBF", true),
            KernelOrder(dir, with_directory));
  EXPECT_EQ(SearchAll(dir + "/*.??x"),
            KernelOrder(dir, {"x.ntx", "y.cdx", "z.IDX"}));
  EXPECT_EQ(SearchAll(dir + "/ORDER?.dbf"),
            (std::vector<std::string>{"orders.dbf"}));
  EXPECT_EQ(SearchAll(dir + "/\xC3\x89T\xC3\x89.DBF"),
            (std::vector<std::string>{"\xC3\xA9t\xC3\xA9.dbf"}));
  EXPECT_EQ(SearchAll(dir + "/*.*").size(), 10u);  // README too

  FileSearch search;
  FoundFile found;
  ASSERT_TRUE(search.First(Utf8ToUtf16(dir + "/notes.TXT"), &found));
  EXPECT_EQ(found.name, u"notes.txt");
  EXPECT_FALSE(found.is_directory);
  EXPECT_EQ(found.size, 10u);
  EXPECT_FALSE(search.Next(&found));
  EXPECT_EQ(LastError(), kErrorNoMoreFiles);

  // Errors: nothing matches; no such directory; a search never started.
  EXPECT_FALSE(search.First(Utf8ToUtf16(dir + "/*.mdx"), &found));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_FALSE(search.First(Utf8ToUtf16(dir + "/absent/*.dbf"), &found));
  EXPECT_EQ(LastError(), kErrorPathNotFound);
  EXPECT_FALSE(search.First(Utf8ToUtf16(dir + "/notes.txt/*"), &found));
  EXPECT_EQ(LastError(), kErrorPathNotFound);
  FileSearch idle;
  EXPECT_FALSE(idle.Next(&found));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

TEST(FileSearchTest, WildcardsMatchWholeNames) {
  testing::TempDir tmp;
  for (const char* name : {"AxxBxbC", ".dbf", "x.dbf.bak", "a"}) {
    testing::WriteWholeFile(tmp.File(name), "");
  }
  const auto names = [&](const std::string& pattern) {
    const std::vector<std::string> found = SearchAll(tmp.File(pattern));
    return std::set<std::string>(found.begin(), found.end());
  };
  using Names = std::set<std::string>;
  EXPECT_EQ(names("a*b*c"), Names{"AxxBxbC"});
  EXPECT_EQ(names("*.dbf"), Names{".dbf"});
  EXPECT_EQ(names("?.dbf"), Names{});
  EXPECT_EQ(names("a?"), Names{});
  EXPECT_EQ(names("*.*"), (Names{"AxxBxbC", ".dbf", "x.dbf.bak", "a"}));
  EXPECT_EQ(names("*.?*"), (Names{".dbf", "x.dbf.bak"}));
}

}  // namespace
}  // namespace qx::platform
