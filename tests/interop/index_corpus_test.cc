// Walks every real index of the corpus whose kind qxdb opens: `qxdb keys`
// gives the record numbers in the order the readers found (expected
// *.order files), and `qxdb check` passes on it.
#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/qxdb/cli.h"
#include "host/qxdb/index_access.h"
#include "host/qxdb/json.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

namespace fs = std::filesystem;

struct IndexCase {
  std::string index;  // full path
  std::string tag;    // "" for single-key files
  std::string table;  // full path
  std::string order;  // expected record numbers, one per line
};

// Every expected walk of an index qxdb opens (by extension).
std::vector<IndexCase> IndexCases() {
  std::vector<IndexCase> cases;
  fs::path corpus = qx::testing::SharedDir() + "/fixtures/real";
  for (const auto& set : fs::directory_iterator(corpus)) {
    fs::path expected = set.path() / "expected";
    if (!fs::exists(expected)) continue;
    for (const auto& f : fs::directory_iterator(expected)) {
      std::string name = f.path().filename().string();
      if (name.size() < 7 || name.substr(name.size() - 6) != ".order") continue;
      std::string stem = name.substr(0, name.size() - 6);  // FILE[.TAG]
      std::string file = stem, tag;
      if (!IsIndexPath(file)) {
        std::size_t dot = stem.rfind('.');
        file = stem.substr(0, dot);
        tag = stem.substr(dot + 1);
      }
      if (!IsIndexPath(file)) continue;
      JsonValue info;
      std::string error;
      ParseJson(qx::testing::ReadWholeFile((expected / (file + ".info.json")).string()),
                &info, &error);
      const JsonValue* table = info.Find("table");
      if (table == nullptr) continue;
      cases.push_back({(set.path() / file).string(), tag,
                       (set.path() / table->string).string(), f.path().string()});
    }
  }
  std::sort(cases.begin(), cases.end(), [](const IndexCase& a, const IndexCase& b) {
    return a.index + a.tag < b.index + b.tag;
  });
  return cases;
}

int RunTool(const std::vector<std::string>& args, std::string* out, std::string* err) {
  std::ostringstream o, e;
  std::istringstream in;
  int rc = RunQxdb(args, o, e, in);
  *out = o.str();
  *err = e.str();
  return rc;
}

TEST(IndexCorpusTest, RealIndexesWalkInTheReadersOrderAndCheck) {
  std::vector<IndexCase> cases = IndexCases();
  ASSERT_GE(cases.size(), 4u);
  for (const IndexCase& c : cases) {
    SCOPED_TRACE(c.index + (c.tag.empty() ? "" : " tag " + c.tag));
    std::vector<std::string> keys_args = {"keys", c.index};
    std::vector<std::string> check_args = {"check", c.table, c.index};
    if (!c.tag.empty()) {
      for (auto* args : {&keys_args, &check_args}) {
        args->push_back("--tag");
        args->push_back(c.tag);
      }
    }
    std::string out, err;
    ASSERT_EQ(RunTool(keys_args, &out, &err), kExitOk) << err;
    std::string recnos;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) recnos += line.substr(0, line.find('\t')) + "\n";
    EXPECT_EQ(recnos, qx::testing::ReadWholeFile(c.order));
    EXPECT_EQ(RunTool(check_args, &out, &err), kExitOk) << out << err;
    EXPECT_EQ(out.compare(0, 3, "ok "), 0) << out;
  }
}

}  // namespace
}  // namespace qx::qxdb
