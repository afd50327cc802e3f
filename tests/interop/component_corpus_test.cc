// The corpus of real files through the component, as the host reads it:
// - every table qxdb dump reads is read by qxdb read (the component
//   loaded, records filled by the driver) with the same values after the
//   host's conversions: numbers as the mapped host types, dates as dates,
//   memos as texts, texts in the host's code page (the French letters of
//   the OEM page exchanged);
// - qxdb describe gives every field the host type and size of the field
//   mapping, the hidden Visual FoxPro columns left out;
// - the real NDX, NTX, MDX and CDX files attach to their tables: one key
//   item per key or tag with the index's flags, the stored relative path
//   and the expression.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "access/adapter/code_pages.h"
#include "host/qxdb/base64.h"
#include "host/qxdb/json.h"
#include "platform/platform.h"
#include "tests/interop/qxdb_run.h"
#include "tests/support/test_support.h"

namespace qx::qxdb {
namespace {

namespace fs = std::filesystem;
using T = JsonValue::Type;

std::string CorpusDir() { return qx::testing::SharedDir() + "/fixtures/real"; }

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

JsonValue Parse(const std::string& text) {
  JsonValue v;
  std::string error;
  EXPECT_TRUE(ParseJson(text, &v, &error)) << error << ": " << text;
  return v;
}

std::vector<JsonValue> ParseLines(const std::string& text) {
  std::vector<JsonValue> out;
  for (const std::string& line : Lines(text)) {
    if (!line.empty()) out.push_back(Parse(line));
  }
  return out;
}

struct Field {
  std::string name, type;
  int length = 0, decimals = 0;
};

struct Table {
  std::string set, path, meta;
  std::vector<Field> fields;
  std::string version;
};

std::vector<Table> Tables() {
  std::vector<Table> tables;
  for (const auto& set : fs::directory_iterator(CorpusDir())) {
    const fs::path expected = set.path() / "expected";
    if (!fs::exists(expected)) continue;
    for (const auto& f : fs::directory_iterator(expected)) {
      const std::string name = f.path().filename().string();
      if (!name.ends_with(".jsonl")) continue;
      Table t;
      t.set = set.path().filename().string();
      t.path = (set.path() / name.substr(0, name.size() - 6)).string();
      t.meta = (expected / (name.substr(0, name.size() - 6) + ".meta.json"))
                   .string();
      const JsonValue meta = Parse(qx::testing::ReadWholeFile(t.meta));
      if (const JsonValue* v = meta.Find("version")) t.version = v->string;
      if (const JsonValue* fields = meta.Find("fields")) {
        for (const JsonValue& column : fields->array) {
          if (column.array.size() < 4) continue;
          t.fields.push_back({column.array[0].string, column.array[1].string,
                              static_cast<int>(column.array[2].number),
                              static_cast<int>(column.array[3].number)});
        }
      }
      tables.push_back(std::move(t));
    }
  }
  std::sort(tables.begin(), tables.end(),
            [](const Table& a, const Table& b) { return a.path < b.path; });
  return tables;
}

// Tables the engine refuses, and those with records or values it cannot
// read (named as qxdb dump names them in corpus_test.cc).
const std::set<std::string> kRefused = {"dbd-xbase/types.dbf",
                                        "javadbf/myfileafter-corrupted.dbf"};
const std::set<std::string> kPartlyUnreadable = {
    "infused-dbf/dbase_8b_incorrect_record_count.dbf",  // records 11..15
    "dbfread/invalid_value.dbf",  // an invalid date fails its record (1017)
    "dbfread/form.scx",           // memo blocks past the end of form.sct
};

std::string Key(const Table& t) {
  return t.set + "/" + fs::path(t.path).filename().string();
}

// The text the host receives for the file's bytes (read here as code page
// 1252 by qxdb dump): the French letters of the OEM page exchanged.
std::string HostText(const std::string& dumped) {
  std::string bytes = platform::Utf16ToAnsi(platform::Utf8ToUtf16(dumped));
  access::OemToAnsi(bytes.data(), bytes.size(), false);
  return platform::Utf16ToUtf8(platform::AnsiToUtf16(bytes));
}

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

bool IsBlank(const JsonValue& v) {
  switch (v.type) {
    case T::kNull:
      return true;
    case T::kString:
      return TrimRight(v.string).empty();
    case T::kNumber:
      return v.number == 0;
    case T::kBool:
      return !v.boolean;
    case T::kObject:
      return v.Find("base64") != nullptr && v.Find("base64")->string.empty();
    default:
      return false;
  }
}

// One value as qxdb read gives it against qxdb dump's.
void CompareValue(const std::string& type, const JsonValue& read,
                  const JsonValue& dumped) {
  if (dumped.type == T::kObject && dumped.Find("error") != nullptr) return;
  if (dumped.type == T::kNull ||
      (dumped.type == T::kString && dumped.string.empty() && type != "C")) {
    EXPECT_TRUE(IsBlank(read));
    return;
  }
  switch (dumped.type) {
    case T::kBool:
      ASSERT_EQ(read.type, T::kBool);
      EXPECT_EQ(read.boolean, dumped.boolean);
      return;
    case T::kNumber: {
      ASSERT_EQ(read.type, T::kNumber);
      const double a = read.number, b = dumped.number;
      // Currency keeps 4 decimals, the other types the engine's double.
      const double tolerance = std::max(5e-5, 1e-9 * std::fabs(b));
      EXPECT_LE(std::fabs(a - b), tolerance)
          << read.number_text << " vs " << dumped.number_text;
      return;
    }
    case T::kString:
      ASSERT_EQ(read.type, T::kString);
      if (type == "D") {
        EXPECT_EQ(read.string, dumped.string);
      } else if (type == "T") {
        EXPECT_EQ(read.string.substr(0, 14), dumped.string);
      } else if (type == "M") {
        EXPECT_EQ(read.string, HostText(dumped.string));
      } else {
        EXPECT_EQ(TrimRight(read.string), HostText(dumped.string));
      }
      return;
    case T::kObject: {
      ASSERT_EQ(read.type, T::kObject);
      const JsonValue* a = read.Find("base64");
      const JsonValue* b = dumped.Find("base64");
      ASSERT_TRUE(a != nullptr && b != nullptr);
      if (type == "Q") {
        // Ours: the value's bytes; the dump: the field's bytes.
        std::string ours, theirs;
        ASSERT_TRUE(Base64Decode(a->string, &ours));
        ASSERT_TRUE(Base64Decode(b->string, &theirs));
        EXPECT_EQ(theirs.compare(0, ours.size(), ours), 0);
      } else {
        EXPECT_EQ(a->string, b->string);
      }
      return;
    }
    default:
      ADD_FAILURE() << "unexpected value";
  }
}

TEST(ComponentCorpusTest, EveryTableReadsThroughTheDriverAsItDumps) {
  int compared = 0;
  for (const Table& t : Tables()) {
    SCOPED_TRACE(Key(t));
    const Result read = Qxdb({"read", t.path});
    if (kRefused.count(Key(t))) {
      EXPECT_EQ(read.rc, kExitFailure);
      EXPECT_NE(read.err.find("error 1003"), std::string::npos) << read.err;
      continue;
    }
    const Result dump =
        Qxdb({"dump", t.path, "--deleted", "--codepage", "cp1252"});
    const std::vector<JsonValue> ours = ParseLines(read.out);
    const std::vector<JsonValue> theirs = ParseLines(dump.out);
    std::map<int64_t, const JsonValue*> by_recno;
    for (const JsonValue& r : ours) {
      by_recno[static_cast<int64_t>(r.Find("_recno")->number)] = &r;
    }
    if (kPartlyUnreadable.count(Key(t))) {
      EXPECT_NE(read.rc, kExitOk);
    } else {
      EXPECT_EQ(read.rc, kExitOk) << read.err;
      EXPECT_EQ(ours.size(), theirs.size());
    }
    for (const JsonValue& d : theirs) {
      const int64_t recno = static_cast<int64_t>(d.Find("_recno")->number);
      auto it = by_recno.find(recno);
      if (it == by_recno.end()) {
        EXPECT_TRUE(kPartlyUnreadable.count(Key(t))) << "record " << recno;
        continue;
      }
      const JsonValue& r = *it->second;
      SCOPED_TRACE("record " + std::to_string(recno));
      EXPECT_EQ(r.Find("_deleted")->boolean, d.Find("_deleted")->boolean);
      // Fields by position (a file may name two fields alike); hidden
      // system columns are no items of the host's.
      std::vector<const std::pair<std::string, JsonValue>*> mine, dumped;
      std::vector<std::string> field_types;
      for (const Field& f : t.fields) {
        if (Lower(f.name) != "_nullflags") field_types.push_back(f.type);
      }
      for (const auto& member : r.object) {
        if (member.first[0] != '_') mine.push_back(&member);
      }
      for (const auto& member : d.object) {
        if (member.first[0] != '_') dumped.push_back(&member);
      }
      ASSERT_EQ(mine.size(), dumped.size());
      for (size_t i = 0; i < mine.size(); ++i) {
        const std::string type = i < field_types.size() ? field_types[i] : "?";
        SCOPED_TRACE("field " + dumped[i]->first + " (" + type + ")");
        EXPECT_EQ(Lower(mine[i]->first), Lower(dumped[i]->first));
        CompareValue(type, mine[i]->second, dumped[i]->second);
      }
    }
    ++compared;
  }
  EXPECT_GT(compared, 50);
}

// The host item of a field: (type, size), by the field mapping.
std::pair<int, int> ExpectedItem(const Field& f, bool visual_foxpro) {
  const char type = f.type.empty() ? '?' : f.type[0];
  switch (type) {
    case 'C':
    case 'V':
      return {2, f.length + 1};
    case 'D':
      return {14, 9};
    case 'L':
      return {26, 1};
    case 'M':
      return {15, 8};
    case 'G':
    case 'P':
    case 'W':
      return {18, 8};
    case 'B':
      return visual_foxpro ? std::pair{7, 8} : std::pair{18, 8};
    case 'I':
    case '+':
      return {5, 4};
    case 'Y':
      return {17, 10};
    case 'T':
    case '@':
      return {24, 8};
    case 'Q':
      return {23, f.length + 2};
    case 'N':
    case 'F': {
      const int n = f.decimals;
      const int d = std::max(1, f.length - n - (n >= 1 ? 1 : 0));
      const int p = d + n;
      if (n == 0 && d <= 2) return {4, 1};
      if (n == 0 && d <= 4) return {3, 2};
      if (n == 0 && d <= 9) return {5, 4};
      if (n == 0 && d <= 19) return {19, 8};
      if (n <= 6 && d <= 10) return {17, 10};
      if (p <= 38) {
        int bytes = 1;
        while (std::pow(2.0L, 8 * bytes - 1) < std::pow(10.0L, p)) ++bytes;
        return {31, bytes};
      }
      return {7, 8};
    }
    default:
      return {0, 0};
  }
}

TEST(ComponentCorpusTest, DescriptionsMapTheFieldDescriptors) {
  std::set<int> numeric_classes;
  int described = 0, hidden = 0;
  for (const Table& t : Tables()) {
    if (kRefused.count(Key(t))) continue;
    SCOPED_TRACE(Key(t));
    const Result r = Qxdb({"describe", t.path});
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    const JsonValue d = Parse(r.out);
    const bool vfp =
        t.version == "0x30" || t.version == "0x31" || t.version == "0x32";
    if (vfp) {
      EXPECT_EQ(d.Find("file_type")->number, 4);
    }
    // Items by field number: names may be bytes of another code page.
    std::map<int, const JsonValue*> items;
    for (const JsonValue& item : d.Find("items")->array) {
      if (item.Find("field")->type == T::kNumber)
        items[static_cast<int>(item.Find("field")->number)] = &item;
    }
    size_t fields = 0;
    for (size_t i = 0; i < t.fields.size(); ++i) {
      const Field& f = t.fields[i];
      if (Lower(f.name) == "_nullflags") {
        EXPECT_EQ(items.count(static_cast<int>(i)), 0u);
        ++hidden;
        continue;
      }
      ++fields;
      SCOPED_TRACE(f.name);
      auto it = items.find(static_cast<int>(i));
      ASSERT_NE(it, items.end());
      const auto [type, size] = ExpectedItem(f, vfp);
      EXPECT_EQ(it->second->Find("host_type")->number, type);
      // A character field that Excel wrote with a decimal count: the
      // readers take that byte as the high byte of a wide length, the
      // engine's dBASE III row (which opens it) as decimals.
      if (Key(t) != "javadbf/wrong-exented-character-field.dbf") {
        EXPECT_EQ(it->second->Find("size")->number, size);
      }
      if (f.type == "N" || f.type == "F") numeric_classes.insert(type);
    }
    // Some metas list no fields (the readers' notes say why).
    if (!t.fields.empty()) {
      EXPECT_EQ(items.size(), fields);
    }
    ++described;
  }
  EXPECT_GT(described, 50);
  EXPECT_GT(hidden, 0);
  // The corpus holds N and F fields of these host types.
  for (int type : {3, 4, 5, 17})
    EXPECT_TRUE(numeric_classes.count(type)) << type;
}

// The index files of the corpus with the table they belong to.
struct IndexCase {
  std::string table, index;
  JsonValue info;
};

TEST(ComponentCorpusTest, RealIndexFilesAttachToTheirTables) {
  std::vector<IndexCase> cases;
  std::set<std::string> readable;
  for (const Table& t : Tables()) {
    if (!kRefused.count(Key(t))) readable.insert(Lower(t.path));
  }
  for (const auto& set : fs::directory_iterator(CorpusDir())) {
    const fs::path expected = set.path() / "expected";
    if (!fs::exists(expected)) continue;
    for (const auto& f : fs::directory_iterator(expected)) {
      const std::string name = f.path().filename().string();
      if (!name.ends_with(".info.json")) continue;
      IndexCase c;
      c.info = Parse(qx::testing::ReadWholeFile(f.path().string()));
      const JsonValue* table = c.info.Find("table");
      const std::string kind = c.info.Find("kind")->string;
      c.index = (set.path() / name.substr(0, name.size() - 10)).string();
      // Database containers' .dcx files are CDX files of a name no index
      // family takes.
      if (table == nullptr || kind == "IDX" ||
          Lower(fs::path(c.index).extension().string()) == ".dcx")
        continue;
      c.table = (set.path() / table->string).string();
      if (!readable.count(Lower(c.table))) continue;
      cases.push_back(std::move(c));
    }
  }
  std::set<std::string> kinds;
  for (const IndexCase& c : cases) {
    SCOPED_TRACE(c.index);
    const std::string kind = c.info.Find("kind")->string;
    const std::string file = fs::path(c.index).filename().string();
    struct Expected {
      std::string name, expression;
      bool unique = false, descending = false;
    };
    std::vector<Expected> keys;
    if (const JsonValue* tags = c.info.Find("tags")) {
      for (const JsonValue& tag : tags->array) {
        Expected e;
        e.name = tag.Find("tag")->string;
        if (const JsonValue* x = tag.Find("key_expression");
            x != nullptr && x->type == T::kString) {
          e.expression = x->string;
        }
        // CDX options: 0x01 unique, 0x04 a candidate key of Visual
        // FoxPro (unique values as well).
        if (const JsonValue* o = tag.Find("index_options"))
          e.unique = (static_cast<int>(o->number) & 0x05) != 0;
        if (const JsonValue* u = tag.Find("unique")) e.unique = u->number != 0;
        if (const JsonValue* s = tag.Find("sort_order"))
          e.descending = s->number != 0;
        keys.push_back(e);
      }
    } else {
      Expected e;
      e.name = "CLE";
      e.expression = c.info.Find("key_expression")->string;
      if (const JsonValue* u = c.info.Find("unique")) e.unique = u->number != 0;
      keys.push_back(e);
    }
    const std::string key_option =
        file + ":" + (kind == "MDX" || kind == "CDX" ? keys[0].name : "CLE");
    const Result r = Qxdb({"describe", c.table, "--index", key_option});
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    const JsonValue d = Parse(r.out);
    std::map<std::string, const JsonValue*> by_name;
    for (const JsonValue& item : d.Find("items")->array) {
      if (item.Find("key") != nullptr)
        by_name[Lower(item.Find("name")->string)] = &item;
    }
    for (const Expected& e : keys) {
      SCOPED_TRACE(e.name);
      auto it = by_name.find(Lower(e.name));
      if (it == by_name.end() && kind != "MDX" && kind != "CDX") {
        // A plain expression names the field it keys.
        it = by_name.find(Lower(e.expression));
      }
      ASSERT_NE(it, by_name.end());
      const JsonValue& key = *it->second->Find("key");
      EXPECT_EQ(key.Find("index_path")->string, ".\\" + file);
      EXPECT_EQ(key.Find("unique")->boolean, e.unique);
      EXPECT_EQ(key.Find("descending")->boolean, e.descending);
      const int flags = static_cast<int>(key.Find("flags")->number);
      EXPECT_EQ(flags & (16384 | 8192), e.unique ? 16384 : 8192);
      EXPECT_EQ(flags & (1024 | 2048), e.descending ? 1024 : 2048);
      const bool field = it->second->Find("field")->type == T::kNumber;
      EXPECT_EQ((flags & 4096) != 0, !field);
      if (!e.expression.empty()) {
        // The readers give the expression as stored or upper-cased, an
        // alias prefix dropped, and an NTX expression up to its first
        // operator; ours is the engine's, without blanks.
        std::string ours = Lower(key.Find("expression")->string);
        if (const size_t arrow = ours.find("->"); arrow != std::string::npos)
          ours = ours.substr(arrow + 2);
        std::string theirs;
        for (char ch : Lower(e.expression))
          if (ch != ' ') theirs += ch;
        EXPECT_EQ(ours.compare(0, theirs.size(), theirs), 0)
            << ours << " vs " << theirs;
      }
    }
    kinds.insert(kind);
  }
  for (const char* kind : {"NDX", "NTX", "MDX", "CDX"}) {
    EXPECT_TRUE(kinds.count(kind)) << kind;
  }
}

}  // namespace
}  // namespace qx::qxdb
