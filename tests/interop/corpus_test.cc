// Walks the corpus of real files: every table with expected records is
// dumped with qxdb and compared value by value; every other table must
// fail with an engine status, never crash.
//
// Where our value differs from the readers' on purpose, the comparison
// says why (the tolerances in CompareValue, kExpectedFailures below).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/qxdb/cli.h"
#include "host/qxdb/json.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

namespace fs = std::filesystem;

struct Case {
  std::string set;
  std::string table;  // full path
  std::string jsonl;  // expected records
  std::string meta;   // expected/<table>.meta.json
};

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string CorpusDir() { return qx::testing::SharedDir() + "/fixtures/real"; }

std::vector<Case> ExpectedCases() {
  std::vector<Case> cases;
  for (const auto& set : fs::directory_iterator(CorpusDir())) {
    if (!set.is_directory()) continue;
    fs::path expected = set.path() / "expected";
    if (!fs::exists(expected)) continue;
    for (const auto& f : fs::directory_iterator(expected)) {
      std::string name = f.path().filename().string();
      if (name.size() < 7 || name.substr(name.size() - 6) != ".jsonl") continue;
      std::string table = name.substr(0, name.size() - 6);
      cases.push_back({set.path().filename().string(),
                       (set.path() / table).string(), f.path().string(),
                       (expected / (table + ".meta.json")).string()});
    }
  }
  std::sort(cases.begin(), cases.end(),
            [](const Case& a, const Case& b) { return a.table < b.table; });
  return cases;
}

// Tables the engine refuses, with the status it gives: a synthetic file
// no product writes, and the files the corpus marks broken. What they
// print before the failure (records that can be read) is still compared.
struct ExpectedFailure {
  const char* file;    // set/name
  const char* status;  // text the error line must hold
  const char* why;
};
const ExpectedFailure kExpectedFailures[] = {
    {"dbd-xbase/types.dbf", "status -18",
     "synthetic: a Y field in a 0x03 table, which no product writes (Y "
     "belongs to Visual FoxPro only)"},
    // Marked broken by the MANIFEST.
    {"infused-dbf/dbase_8b_incorrect_record_count.dbf", "status -2",
     "header says 15 records, the file holds 10: records 11 to 15 cannot be "
     "read"},
    {"javadbf/myfileafter-corrupted.dbf", "status -19",
     "corrupted by a writer bug; no dialect accepts its header"},
};

const ExpectedFailure* FindExpectedFailure(const Case& c) {
  std::string key = c.set + "/" + fs::path(c.table).filename().string();
  for (const ExpectedFailure& f : kExpectedFailures)
    if (key == f.file) return &f;
  return nullptr;
}

int Dump(const std::string& table, const std::string& code_page,
         std::string* out, std::string* err) {
  std::ostringstream o, e;
  std::istringstream in;
  int rc =
      RunQxdb({"dump", table, "--deleted", "--codepage", code_page}, o, e, in);
  *out = o.str();
  *err = e.str();
  return rc;
}

std::vector<JsonValue> ParseLines(const std::string& text) {
  std::vector<JsonValue> values;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    JsonValue v;
    std::string error;
    EXPECT_TRUE(ParseJson(line, &v, &error)) << error << ": " << line;
    values.push_back(std::move(v));
  }
  return values;
}

JsonValue ReadJson(const std::string& path) {
  JsonValue v;
  std::string error;
  EXPECT_TRUE(ParseJson(qx::testing::ReadWholeFile(path), &v, &error))
      << path << ": " << error;
  return v;
}

// The --codepage for an encoding, or "" when the text is compared as bytes
// through iconv.
std::string DirectCodePage(const std::string& encoding) {
  if (encoding == "cp1252") return "cp1252";
  if (encoding == "cp850") return "cp850";
  if (encoding == "cp437") return "cp437";
  if (encoding == "utf-8") return "utf8";
  return "";
}

std::string IconvName(const std::string& encoding) {
  if (encoding == "latin-1") return "LATIN1";
  std::string upper;
  for (char c : encoding)
    upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

struct FieldInfo {
  std::string type;
  int flags = 0;
};

class TableComparison {
 public:
  explicit TableComparison(const JsonValue& meta) {
    const JsonValue* memo_file = meta.Find("memofile");
    memo_missing_ =
        memo_file != nullptr && memo_file->type == JsonValue::Type::kNull;
    encoding_ =
        meta.Find("encoding") ? meta.Find("encoding")->string : "cp1252";
    if (const JsonValue* fields = meta.Find("fields")) {
      for (const JsonValue& f : fields->array) {
        if (f.array.size() >= 2) types_.push_back(f.array[1].string);
        if (!f.array.empty() && Lower(f.array[0].string) == "_nullflags")
          has_null_flags_ = true;
      }
    }
  }

  const std::string& encoding() const { return encoding_; }

  // Values we marked unreadable ({"error": status}); each must be one the
  // readers could not parse either.
  int unreadable() const { return unreadable_; }

  void CompareRecord(const JsonValue& ours, const JsonValue& expected) {
    SCOPED_TRACE("record " + expected.Find("_recno")->number_text);
    std::set<std::string> errors;
    if (const JsonValue* e = expected.Find("_errors"))
      for (const auto& [k, v] : e->object) errors.insert(k);
    const JsonValue* deleted = ours.Find("_deleted");
    ASSERT_NE(deleted, nullptr);
    EXPECT_EQ(deleted->boolean, expected.Find("_deleted")->boolean);
    // Fields by position: names may hold bytes of another code page.
    std::vector<const std::pair<std::string, JsonValue>*> mine, theirs;
    // A file may name two fields alike; the readers' records keep the
    // first position and the last value, as a dictionary does.
    std::map<std::string, std::size_t> position;
    for (const auto& kv : ours.object) {
      if (kv.first[0] == '_' && Lower(kv.first) != "_nullflags") continue;
      auto [it, fresh] = position.emplace(Lower(kv.first), mine.size());
      if (fresh)
        mine.push_back(&kv);
      else
        mine[it->second] = &kv;
    }
    for (const auto& kv : expected.object)
      if (kv.first != "_recno" && kv.first != "_deleted" &&
          kv.first != "_flag" && kv.first != "_truncated" &&
          kv.first != "_errors")
        theirs.push_back(&kv);
    ASSERT_EQ(mine.size(), theirs.size());
    for (std::size_t i = 0; i < mine.size(); ++i) {
      const std::string& name = theirs[i]->first;
      const JsonValue& value = mine[i]->second;
      if (value.type == JsonValue::Type::kObject && value.Find("error")) {
        ++unreadable_;
        EXPECT_TRUE(errors.count(name))
            << "field " << name << ": we could not read a value the readers "
            << "read (status " << value.Find("error")->number_text << ")";
        continue;
      }
      if (errors.count(name)) continue;  // the readers could not parse it
      std::string type = i < types_.size() ? types_[i] : "?";
      CompareValue(name, type, value, theirs[i]->second);
    }
  }

 private:
  // Text as file bytes, for encodings compared through iconv.
  std::string OurBytes(const std::string& utf8) const {
    return platform::EncodeCodePage(platform::Utf8ToUtf16(utf8),
                                    platform::kCodePageAnsi);
  }

  bool SameText(const std::string& ours, const std::string& expected) const {
    if (!DirectCodePage(encoding_).empty()) return ours == expected;
    std::string bytes;
    if (!qx::testing::Iconv("UTF-8", IconvName(encoding_), expected, &bytes))
      return false;
    return OurBytes(ours) == bytes;
  }

  void CompareValue(const std::string& name, const std::string& type,
                    const JsonValue& ours, const JsonValue& expected) {
    SCOPED_TRACE("field " + name + " (" + type + ")");
    using T = JsonValue::Type;
    // Tolerance: without the memo file the readers write every memo value
    // as null; a field that points to no memo is "" for us all the same.
    if (memo_missing_ && expected.type == T::kNull && ours.type == T::kString &&
        ours.string.empty() && (type == "M" || type == "G" || type == "P"))
      return;
    // Tolerance: we apply Visual FoxPro null flags, the readers do not.
    if (ours.type == T::kNull && expected.type != T::kNull && has_null_flags_)
      return;
    // Tolerance: the readers read V as C (a short value keeps its length
    // byte) and give Q raw; we honour the varlength bits.
    if (type == "V" && ours.type == T::kString && expected.type == T::kString &&
        expected.string.compare(0, ours.string.size(), ours.string) == 0)
      return;
    if (type == "Q") return;
    switch (expected.type) {
      case T::kNull:
        EXPECT_EQ(ours.type, T::kNull);
        return;
      case T::kBool:
        ASSERT_EQ(ours.type, T::kBool);
        EXPECT_EQ(ours.boolean, expected.boolean);
        return;
      case T::kNumber: {
        ASSERT_EQ(ours.type, T::kNumber);
        double a = ours.number, b = expected.number;
        EXPECT_TRUE(a == b || std::fabs(a - b) <= 1e-9 * std::fabs(b))
            << ours.number_text << " vs " << expected.number_text;
        return;
      }
      case T::kString:
        ASSERT_EQ(ours.type, T::kString);
        EXPECT_TRUE(SameText(ours.string, expected.string))
            << "ours '" << ours.string << "' expected '" << expected.string
            << "'";
        return;
      case T::kObject: {
        ASSERT_EQ(ours.type, T::kObject);
        const JsonValue* a = ours.Find("base64");
        const JsonValue* b = expected.Find("base64");
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->string, b->string);
        return;
      }
      default:
        ADD_FAILURE() << "unexpected JSON value";
    }
  }

 private:
  int unreadable_ = 0;
  bool memo_missing_ = false;
  bool has_null_flags_ = false;
  std::string encoding_;
  std::vector<std::string> types_;
};

// Dumps one table and compares it with the readers' records. The readers
// read physical records; we read the header's count, so a last record they
// mark truncated (a stray byte past the header's records) is not ours.
// Values we cannot read make the dump fail; each must be a value the
// readers could not parse either.
void CheckCase(const Case& c, int* compared) {
  SCOPED_TRACE(c.set + "/" + fs::path(c.table).filename().string());
  JsonValue meta = ReadJson(c.meta);
  TableComparison cmp(meta);
  std::string code_page = DirectCodePage(cmp.encoding());
  std::string out, err;
  int rc = Dump(c.table, code_page.empty() ? "cp1252" : code_page, &out, &err);
  std::vector<JsonValue> ours = ParseLines(out);
  std::vector<JsonValue> expected =
      ParseLines(qx::testing::ReadWholeFile(c.jsonl));
  while (!expected.empty() && ours.size() < expected.size() &&
         expected.back().Find("_truncated") != nullptr)
    expected.pop_back();
  if (const ExpectedFailure* f = FindExpectedFailure(c)) {
    EXPECT_EQ(rc, kExitFailure) << f->why;
    EXPECT_NE(err.find(f->status), std::string::npos) << err << " / " << f->why;
    ASSERT_LE(ours.size(), expected.size());
    for (std::size_t i = 0; i < ours.size(); ++i)
      cmp.CompareRecord(ours[i], expected[i]);
    return;
  }
  ASSERT_EQ(ours.size(), expected.size()) << err;
  for (std::size_t i = 0; i < ours.size(); ++i)
    cmp.CompareRecord(ours[i], expected[i]);
  EXPECT_EQ(rc, cmp.unreadable() > 0 ? kExitFailure : kExitOk) << err;
  ++*compared;
}

TEST(CorpusTest, EveryTableDumpsAsTheReadersReadIt) {
  std::vector<Case> cases = ExpectedCases();
  ASSERT_GT(cases.size(), 50u) << "corpus not found under " << CorpusDir();
  int compared = 0;
  for (const Case& c : cases) CheckCase(c, &compared);
  EXPECT_GT(compared, 50);
}

// Tables without expectations (dBASE II and dBASE 7 layouts, files only
// an index refers to) must open or fail with an engine status: no crash.
TEST(CorpusTest, TablesWithoutExpectationsFailCleanly) {
  std::set<std::string> with_expected;
  for (const Case& c : ExpectedCases()) with_expected.insert(c.table);
  int seen = 0;
  for (const auto& entry : fs::recursive_directory_iterator(CorpusDir())) {
    std::string ext = Lower(entry.path().extension().string());
    if (ext != ".dbf") continue;
    if (with_expected.count(entry.path().string())) continue;
    SCOPED_TRACE(entry.path().string());
    std::string out, err;
    int rc = Dump(entry.path().string(), "cp1252", &out, &err);
    EXPECT_TRUE(rc == kExitOk || rc == kExitFailure) << err;
    if (rc == kExitFailure) {
      EXPECT_NE(err.find("status -"), std::string::npos) << err;
    }
    ++seen;
  }
  EXPECT_GT(seen, 0);
}

}  // namespace
}  // namespace qx::qxdb
