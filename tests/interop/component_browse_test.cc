// Browsing and seeking through the component, as the host does it (the
// host session over the loaded component), against the engine's own
// order of real index files (qxdb keys walks them through the engine):
// - key-order walks, forwards and backwards, of real NTX, NDX, MDX and CDX
//   files give the index's order;
// - the edge cases of a browse: next before a start (1042), an empty
//   index, seeks found / on the next greater key / past the end, generic
//   and exact seeks, deleted records in record order, previous from
//   record 1, the "%.20g" comparison of a numeric compound key, ranges and
//   filters, saved positions, a descending tag, and two browses of one
//   index keeping their own positions;
// - the same walks of NTX files and CDX tags through Harbour, opened
//   shared, and its seeks;
// - qxdb browse and find print the records they reach.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/hostlib/component_host.h"
#include "host/hostlib/session.h"
#include "host/qxdb/json.h"
#include "platform/platform.h"
#include "tests/host/built_modules.h"
#include "tests/interop/harbour_peer.h"
#include "tests/interop/qxdb_run.h"
#include "tests/support/test_support.h"

namespace qx::host {
namespace {

namespace fs = std::filesystem;
using qxdb::Lines;
using qxdb::Qxdb;

std::u16string U(const std::string& utf8) {
  return platform::Utf8ToUtf16(utf8);
}
std::string A(const std::u16string& text) {
  return platform::Utf16ToUtf8(text);
}

HostValue Text(const std::u16string& text) {
  HostValue value;
  value.type = kValueUnicodeText;
  value.size = static_cast<uint32_t>(text.size() * 2);
  value.data = text.data();
  return value;
}

HostValue Number(double number) {
  HostValue value;
  value.type = kValueDouble;
  value.size = 8;
  value.fixed.f64 = number;
  return value;
}

class BrowseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host_.Start(testing::kComponentPath, testing::kVmPath, &error))
        << error;
    session_ = std::make_unique<Session>(&host_);
    ASSERT_TRUE(session_->Connect(U(dir_.path())));
  }
  void TearDown() override {
    session_.reset();
    host_.Stop();
  }
  void CopyIn(const std::string& set, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
      const fs::path to = dir_.File(file);
      fs::copy_file(testing::SharedDir() + "/fixtures/real/" + set + "/" + file,
                    to, fs::copy_options::overwrite_existing);
      fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
    }
  }
  std::string Path(const std::string& file) { return dir_.File(file); }
  std::unique_ptr<SessionTable> Open(const std::string& file,
                                     std::vector<AttachedIndex> indexes = {}) {
    auto table = session_->Open(U(Path(file)), indexes);
    EXPECT_NE(table, nullptr) << A(session_->LastError().message);
    return table;
  }
  // The record numbers of the index in the engine's order.
  std::vector<uint32_t> EngineOrder(const std::string& index,
                                    const std::string& tag = "") {
    std::vector<std::string> args = {"keys", Path(index)};
    if (!tag.empty()) args.insert(args.end(), {"--tag", tag});
    const qxdb::Result r = Qxdb(args);
    EXPECT_EQ(r.rc, 0) << r.err;
    std::vector<uint32_t> order;
    for (const std::string& line : Lines(r.out))
      order.push_back(static_cast<uint32_t>(std::stoul(line)));
    return order;
  }
  // Walks a browse to its end: the record numbers met.
  static std::vector<uint32_t> Walk(SessionBrowse* browse, bool forward) {
    std::vector<uint32_t> order;
    bool ok = forward ? browse->First() : browse->Last();
    while (ok && !browse->out_of_file()) {
      order.push_back(browse->record().recno());
      ok = forward ? browse->Next() : browse->Previous();
    }
    EXPECT_TRUE(ok);
    return order;
  }
  std::string Field(const SessionBrowse& browse, const std::u16string& name) {
    const HostRecord& record = browse.record();
    for (size_t i = 0; i < record.size(); ++i) {
      if (record.item(i).name != name) continue;
      const HostValue value = record.Value(i);
      std::u16string text;
      session_->ValueText(value, &text);
      while (!text.empty() && text.back() == u' ') text.pop_back();
      return A(text);
    }
    return "?";
  }

  testing::TempDir dir_;
  ComponentHost host_;
  std::unique_ptr<Session> session_;
};

TEST_F(BrowseTest, KeyOrderFollowsTheIndexInEveryFamily) {
  CopyIn("xsharp-byor", {"customer.dbf", "CUSTNUM.NTX", "CUSTNAME.NTX"});
  CopyIn("ndbfreaderex", {"test_ix.DBF", "test_ix.NDX"});
  CopyIn("jdbfdriver-mdx", {"TEST.DBF", "TEST.MDX"});
  CopyIn("xsharp-northwind", {"orders.dbf", "orders.cdx"});
  // IDX files, of both layouts, made by the engine.
  ASSERT_EQ(
      Qxdb({"index", Path("customer.dbf"), Path("city.idx"), "--expr", "CITY"})
          .rc,
      0);
  ASSERT_EQ(Qxdb({"index", Path("customer.dbf"), Path("zip.idx"), "--expr",
                  "ZIP", "--compact"})
                .rc,
            0);
  struct Case {
    std::string table, index, key, tag;
  };
  const std::vector<Case> cases = {
      {"customer.dbf", "city.idx", "CITY", ""},
      {"customer.dbf", "zip.idx", "ZIP", ""},
      {"customer.dbf", "CUSTNUM.NTX", "CUSTNUM", ""},
      {"customer.dbf", "CUSTNAME.NTX", "CUSTNAME", ""},
      {"test_ix.DBF", "test_ix.NDX", "AAA", ""},
      {"TEST.DBF", "TEST.MDX", "TEST1", "TEST1"},
      {"TEST.DBF", "TEST.MDX", "TEST2", "TEST2"},
      {"orders.dbf", "orders.cdx", "CUSTOMERID", "CUSTOMERID"},
      {"orders.dbf", "orders.cdx", "ORDERDATE", "ORDERDATE"},
      {"orders.dbf", "orders.cdx", "EMPLOYEEID", "EMPLOYEEID"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table + " " + c.index + " " + c.key);
    auto table = Open(c.table, {{U(c.index), U(c.key)}});
    ASSERT_NE(table, nullptr);
    auto browse = table->Browse({.key = U(c.key)});
    ASSERT_NE(browse, nullptr);
    const std::vector<uint32_t> expected = EngineOrder(c.index, c.tag);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Walk(browse.get(), true), expected);
    ASSERT_TRUE(browse->Previous());  // back from past the last entry
    EXPECT_EQ(browse->record().recno(), expected.back());
    std::vector<uint32_t> backwards = Walk(browse.get(), false);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_EQ(backwards, expected);
    // The visit counter counts the records met from the start.
    EXPECT_EQ(browse->visits(), static_cast<int32_t>(expected.size()) - 1);
  }
}

TEST_F(BrowseTest, TwoBrowsesOfOneIndexKeepTheirOwnPositions) {
  CopyIn("ndbfreaderex", {"test_ix.DBF", "test_ix.NDX"});
  CopyIn("jdbfdriver-mdx", {"TEST.DBF", "TEST.MDX"});
  CopyIn("xsharp-byor", {"customer.dbf", "CUSTNAME.NTX"});
  struct Case {
    std::string table, index, key, tag;
  };
  for (const Case& c :
       std::vector<Case>{{"test_ix.DBF", "test_ix.NDX", "AAA", ""},
                         {"TEST.DBF", "TEST.MDX", "TEST1", "TEST1"},
                         {"customer.dbf", "CUSTNAME.NTX", "CUSTNAME", ""}}) {
    SCOPED_TRACE(c.index);
    auto table = Open(c.table, {{U(c.index), U(c.key)}});
    ASSERT_NE(table, nullptr);
    auto one = table->Browse({.key = U(c.key)});
    auto two = table->Browse({.key = U(c.key)});
    const std::vector<uint32_t> expected = EngineOrder(c.index, c.tag);
    ASSERT_GE(expected.size(), 3u);
    // One walks forward, the other backward, in turns, crossing.
    ASSERT_TRUE(one->First());
    ASSERT_TRUE(two->Last());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(one->record().recno(), expected[i]);
      EXPECT_EQ(two->record().recno(), expected[expected.size() - 1 - i]);
      ASSERT_TRUE(one->Next());
      ASSERT_TRUE(two->Previous());
    }
    EXPECT_TRUE(one->out_of_file());
    EXPECT_TRUE(two->out_of_file());
  }
}

TEST_F(BrowseTest, SeeksFindTheKeyTheNextGreaterOrThePastEnd) {
  CopyIn("xsharp-byor", {"customer.dbf", "CUSTNUM.NTX", "CUSTNAME.NTX"});
  auto table = Open("customer.dbf", {{u"CUSTNAME.NTX", u"CUSTNAME"},
                                     {u"CUSTNUM.NTX", u"CUSTNUM"}});
  ASSERT_NE(table, nullptr);
  auto names = table->Browse({.key = u"CUSTNAME"});
  SeekResult seek;
  // Generic: "Coo" begins "Cooper    Elizabeth"; exact: it does not.
  ASSERT_TRUE(names->Seek(Text(u"Coo"), false, &seek));
  EXPECT_TRUE(seek.found);
  EXPECT_FALSE(seek.out_of_file);
  EXPECT_EQ(Field(*names, u"LASTNAME"), "Cooper");
  ASSERT_TRUE(names->Seek(Text(u"Coo"), true, &seek));
  EXPECT_FALSE(seek.found);
  EXPECT_FALSE(seek.out_of_file);
  EXPECT_FALSE(seek.past_end);
  EXPECT_EQ(Field(*names, u"LASTNAME"), "Cooper");  // the next greater key
  // Absent: on the next greater key; the browse goes on from there.
  ASSERT_TRUE(names->Seek(Text(u"Bz"), true, &seek));
  EXPECT_FALSE(seek.found);
  EXPECT_EQ(Field(*names, u"LASTNAME"), "Chandler");
  ASSERT_TRUE(names->Next());
  EXPECT_EQ(Field(*names, u"LASTNAME"), "Cooper");
  // Past the last key.
  ASSERT_TRUE(names->Seek(Text(u"Zz"), true, &seek));
  EXPECT_FALSE(seek.found);
  EXPECT_TRUE(seek.past_end);
  // A number key sought with a number.
  auto numbers = table->Browse({.key = u"CUSTNUM"});
  ASSERT_TRUE(numbers->Seek(Number(12), true, &seek));
  EXPECT_TRUE(seek.found);
  EXPECT_EQ(Field(*numbers, u"CUSTNUM"), "12");
  ASSERT_TRUE(numbers->Seek(Number(1000), true, &seek));
  EXPECT_TRUE(seek.past_end);
  // A browse in record order has no key to seek: 1018.
  auto records = table->Browse({});
  EXPECT_FALSE(records->Seek(Text(u"A"), true, &seek));
  EXPECT_EQ(session_->LastError().id, 1018u);
}

TEST_F(BrowseTest, StartsEndsAndErrorsOfABrowse) {
  CopyIn("xsharp-byor", {"customer.dbf", "CUSTNAME.NTX"});
  auto table = Open("customer.dbf", {{u"CUSTNAME.NTX", u"CUSTNAME"}});
  ASSERT_NE(table, nullptr);
  // Next before any start: 1042 with its text.
  auto names = table->Browse({.key = u"CUSTNAME"});
  EXPECT_FALSE(names->Next());
  HostError error = session_->LastError();
  EXPECT_EQ(error.id, 1042u);
  EXPECT_TRUE(A(error.message)
                  .starts_with("Aucun parcours n'a été initialisé pour la "
                               "rubrique 'CUSTNAME' dans le fichier "))
      << A(error.message);
  EXPECT_TRUE(names->out_of_file());
  // An item the table lacks: 1023.
  auto unknown = table->Browse({.key = u"NOSUCH"});
  EXPECT_FALSE(unknown->First());
  error = session_->LastError();
  EXPECT_EQ(error.id, 1023u);
  EXPECT_TRUE(
      A(error.message)
          .starts_with(
              "Erreur : la rubrique 'NOSUCH' n'appartient pas au fichier "))
      << A(error.message);
  // An item without index browses in record order.
  auto city = table->Browse({.key = u"CITY"});
  ASSERT_TRUE(city->First());
  EXPECT_EQ(city->record().recno(), 1u);
  ASSERT_TRUE(city->Next());
  EXPECT_EQ(city->record().recno(), 2u);

  // Record order: previous from record 1 ends without error; deleted
  // records are passed over but the current one is read again.
  auto records = table->Browse({});
  ASSERT_TRUE(records->First());
  EXPECT_EQ(records->record().recno(), 1u);
  ASSERT_TRUE(records->Previous());
  EXPECT_TRUE(records->out_of_file());
  ASSERT_TRUE(records->Next());  // back from before the first record
  EXPECT_EQ(records->record().recno(), 1u);
  ASSERT_TRUE(records->First());
  ASSERT_TRUE(records->Next());
  EXPECT_EQ(records->record().recno(), 2u);
  table.reset();
  ASSERT_EQ(Qxdb({"delete", Path("customer.dbf"), "3"}).rc, 0);
  ASSERT_EQ(Qxdb({"delete", Path("customer.dbf"), "4"}).rc, 0);
  table = Open("customer.dbf", {{u"CUSTNAME.NTX", u"CUSTNAME"}});
  records = table->Browse({});
  ASSERT_TRUE(records->First());
  ASSERT_TRUE(records->Next());
  ASSERT_TRUE(records->Next());
  EXPECT_EQ(records->record().recno(), 5u);
  ASSERT_TRUE(records->Previous());
  EXPECT_EQ(records->record().recno(), 2u);
  // Past the last record: the end of the file, no error.
  ASSERT_TRUE(records->Last());
  EXPECT_EQ(records->record().recno(), 20u);
  ASSERT_TRUE(records->Next());
  EXPECT_TRUE(records->out_of_file());
  ASSERT_TRUE(records->Previous());  // back from past the last record
  EXPECT_EQ(records->record().recno(), 20u);
  uint32_t count = 0;
  ASSERT_TRUE(records->Count(&count, false));
  EXPECT_EQ(count, 20u);  // deleted records count
  ASSERT_TRUE(records->Count(&count, true));
  EXPECT_EQ(count, 20u);
  // The current record is read again even when deleted.
  ICursor* cursor = records->cursor();
  int32_t deleted = 0;
  ASSERT_EQ(cursor->ReadRecord(3, 1, 0, &deleted), 1);
  ASSERT_EQ(cursor->Position(kCursorCurrent, 1, 0, &deleted), 1);
  EXPECT_EQ(cursor->GetRecno(), 3u);
  EXPECT_EQ(deleted, 1);
}

TEST_F(BrowseTest, EntriesPastTheDataFileAndSeeksOfAKeyAndRecord) {
  CopyIn("xsharp-byor", {"customer.dbf", "CUSTNUM.NTX"});
  {
    // The data file says 10 records: the index's entries of 11..20 name
    // records past its end.
    std::fstream file(Path("customer.dbf"),
                      std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(4);
    const char count[4] = {10, 0, 0, 0};
    file.write(count, sizeof count);
  }
  auto table = Open("customer.dbf", {{u"CUSTNUM.NTX", u"CUSTNUM"}});
  ASSERT_NE(table, nullptr);
  auto numbers = table->Browse({.key = u"CUSTNUM"});
  SeekResult seek;
  ASSERT_TRUE(numbers->Seek(Number(10), true, &seek));
  EXPECT_TRUE(seek.found);
  EXPECT_FALSE(numbers->Next());
  const HostError error = session_->LastError();
  EXPECT_EQ(error.id, 1043u);
  EXPECT_TRUE(A(error.message)
                  .starts_with("Erreur de positionnement dans le parcours sur "
                               "la rubrique 'CUSTNUM'."))
      << A(error.message);
  EXPECT_TRUE(numbers->out_of_file());

  // Search mode 2: the entry of the key and that record only.
  seek.recno = 7;
  ASSERT_TRUE(numbers->Seek(Number(7), true, &seek, 2));
  EXPECT_TRUE(seek.found);
  EXPECT_EQ(seek.recno, 7u);
  seek.recno = 3;
  ASSERT_TRUE(numbers->Seek(Number(7), true, &seek, 2));
  EXPECT_FALSE(seek.found);
}

TEST_F(BrowseTest, AnEmptyIndexAndAnEmptyTableEndAtOnce) {
  ASSERT_EQ(Qxdb({"create", Path("empty.dbf"), "--dialect", "5", "--field",
                  "NAME:C:10"})
                .rc,
            0);
  ASSERT_EQ(
      Qxdb({"index", Path("empty.dbf"), Path("empty.ntx"), "--expr", "NAME"})
          .rc,
      0);
  auto table = Open("empty.dbf", {{u"empty.ntx", u"NAME"}});
  ASSERT_NE(table, nullptr);
  for (const std::u16string key : {u"NAME", u""}) {
    auto browse = table->Browse({.key = key});
    ASSERT_TRUE(browse->First());
    EXPECT_TRUE(browse->out_of_file());
    ASSERT_TRUE(browse->Last());
    EXPECT_TRUE(browse->out_of_file());
  }
  auto browse = table->Browse({.key = u"NAME"});
  SeekResult seek;
  ASSERT_TRUE(browse->Seek(Text(u"A"), true, &seek));
  EXPECT_TRUE(seek.out_of_file);
  EXPECT_FALSE(seek.found);
}

TEST_F(BrowseTest, RangesAndFiltersLimitTheBrowse) {
  CopyIn("xsharp-byor", {"customer.dbf", "CUSTNUM.NTX", "CUSTNAME.NTX"});
  auto table = Open("customer.dbf", {{u"CUSTNAME.NTX", u"CUSTNAME"},
                                     {u"CUSTNUM.NTX", u"CUSTNUM"}});
  ASSERT_NE(table, nullptr);
  BrowseConditions conditions(session_.get());
  // A generic equality: the keys that begin with "C".
  const Condition* c_names =
      conditions.Compare(kConditionEqual, u"CUSTNAME", u"C", kValueNone, true);
  auto names = table->Browse({.key = u"CUSTNAME", .range = c_names});
  std::vector<std::string> met;
  for (bool ok = names->First(); ok && !names->out_of_file();
       ok = names->Next())
    met.push_back(Field(*names, u"LASTNAME"));
  EXPECT_EQ(met, (std::vector<std::string>{"Chandler", "Cooper", "Cusumano"}));
  met.clear();
  for (bool ok = names->Last(); ok && !names->out_of_file();
       ok = names->Previous())
    met.push_back(Field(*names, u"LASTNAME"));
  EXPECT_EQ(met, (std::vector<std::string>{"Cusumano", "Cooper", "Chandler"}));

  // A numeric range from 5 to 8 on the number key, both ways.
  const Condition* five_to_eight =
      conditions.And(conditions.Compare(kConditionGreaterOrEqual, u"CUSTNUM",
                                        u"5", kValueDouble),
                     conditions.Compare(kConditionLessOrEqual, u"CUSTNUM", u"8",
                                        kValueDouble));
  auto numbers = table->Browse({.key = u"CUSTNUM", .range = five_to_eight});
  std::vector<uint32_t> values;
  for (bool ok = numbers->First(); ok && !numbers->out_of_file();
       ok = numbers->Next())
    values.push_back(std::stoul(Field(*numbers, u"CUSTNUM")));
  EXPECT_EQ(values, (std::vector<uint32_t>{5, 6, 7, 8}));
  values.clear();
  for (bool ok = numbers->Last(); ok && !numbers->out_of_file();
       ok = numbers->Previous())
    values.push_back(std::stoul(Field(*numbers, u"CUSTNUM")));
  EXPECT_EQ(values, (std::vector<uint32_t>{8, 7, 6, 5}));

  // A filter on another item: in key order and in record order.
  const Condition* in_state =
      conditions.Compare(kConditionNotEqual, u"STATE", u"CA", kValueText);
  std::vector<uint32_t> key_order, record_order;
  auto filtered = table->Browse({.key = u"CUSTNUM", .filter = in_state});
  for (bool ok = filtered->First(); ok && !filtered->out_of_file();
       ok = filtered->Next())
    key_order.push_back(filtered->record().recno());
  auto plain = table->Browse({.key = u"", .filter = in_state});
  for (bool ok = plain->First(); ok && !plain->out_of_file();
       ok = plain->Next())
    record_order.push_back(plain->record().recno());
  EXPECT_FALSE(record_order.empty());
  EXPECT_LT(record_order.size(), 20u);
  std::vector<uint32_t> sorted = key_order;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, record_order);
}

TEST_F(BrowseTest, NumericCompoundKeysCompareTheirTexts) {
  // A compound numeric NDX key: ranges compare the "%.20g" texts of the
  // numbers, so "10" comes before "5" and a range from 5 stops at 10.
  CopyIn("xsharp-byor", {"customer.dbf"});
  ASSERT_EQ(Qxdb({"index", Path("customer.dbf"), Path("twice.ndx"), "--expr",
                  "CUSTNUM*2"})
                .rc,
            0);
  auto table = Open("customer.dbf", {{u"twice.ndx", u"TWICE"}});
  ASSERT_NE(table, nullptr);
  BrowseConditions conditions(session_.get());
  const Condition* from_six = conditions.Compare(kConditionGreaterOrEqual,
                                                 u"TWICE", u"6", kValueDouble);
  auto browse = table->Browse({.key = u"TWICE", .range = from_six});
  std::vector<uint32_t> values;
  for (bool ok = browse->First(); ok && !browse->out_of_file();
       ok = browse->Next())
    values.push_back(std::stoul(Field(*browse, u"CUSTNUM")));
  EXPECT_EQ(values, (std::vector<uint32_t>{3, 4}));  // 6, 8; "10" < "6"
}

TEST_F(BrowseTest, SavedPositionsAndDescendingTags) {
  CopyIn("xsharp-northwind", {"orders.dbf", "orders.cdx"});
  ASSERT_EQ(Qxdb({"index", Path("orders.dbf"), Path("down.cdx"), "--expr",
                  "STR(ORDERID,5)", "--tag", "DOWN", "--descending"})
                .rc,
            0);
  auto table =
      Open("orders.dbf", {{u"down.cdx", u"DOWN"}, {u"orders.cdx", u"ORDERID"}});
  ASSERT_NE(table, nullptr);
  auto down = table->Browse({.key = u"DOWN"});
  auto up = table->Browse({.key = u"ORDERID"});
  std::vector<uint32_t> down_order = Walk(down.get(), true);
  std::vector<uint32_t> up_order = Walk(up.get(), true);
  ASSERT_EQ(down_order.size(), 830u);
  std::reverse(down_order.begin(), down_order.end());
  EXPECT_EQ(down_order, up_order);
  EXPECT_EQ(down_order, EngineOrder("orders.cdx", "ORDERID"));

  // A range on the descending key, from 10300 down to 10290.
  BrowseConditions conditions(session_.get());
  const Condition* range = conditions.And(
      conditions.Compare(kConditionLessOrEqual, u"DOWN", u"10300"),
      conditions.Compare(kConditionGreaterOrEqual, u"DOWN", u"10290"));
  auto ranged = table->Browse({.key = u"DOWN", .range = range});
  std::vector<std::string> ids;
  for (bool ok = ranged->First(); ok && !ranged->out_of_file();
       ok = ranged->Next())
    ids.push_back(Field(*ranged, u"ORDERID"));
  ASSERT_EQ(ids.size(), 11u);
  EXPECT_EQ(ids.front(), "10300");
  EXPECT_EQ(ids.back(), "10290");

  // Saved and restored positions.
  ASSERT_TRUE(up->First());
  ASSERT_TRUE(up->Next());
  ASSERT_TRUE(up->Next());
  const uint32_t third = up->record().recno();
  PositionRecord saved;
  ASSERT_TRUE(up->SavePosition(&saved));
  ASSERT_TRUE(up->Last());
  ASSERT_TRUE(up->RestorePosition(saved));
  EXPECT_EQ(up->record().recno(), third);
  EXPECT_EQ(up->visits(), 2);
  ASSERT_TRUE(up->Next());
  EXPECT_EQ(up->record().recno(), up_order[3]);
  // Refind puts the browse on a record's entry.
  ASSERT_TRUE(up->Refind(up_order[100]));
  ASSERT_TRUE(up->Next());
  EXPECT_EQ(up->record().recno(), up_order[101]);
}

// The records qxdb printed: (record number, value of item) per line.
std::vector<std::pair<uint32_t, std::string>> Printed(const std::string& out,
                                                      const std::string& item) {
  std::vector<std::pair<uint32_t, std::string>> records;
  for (const std::string& line : Lines(out)) {
    qxdb::JsonValue value;
    std::string error;
    EXPECT_TRUE(qxdb::ParseJson(line, &value, &error)) << error;
    const qxdb::JsonValue* recno = value.Find("_recno");
    const qxdb::JsonValue* field = value.Find(item);
    if (recno == nullptr || field == nullptr) continue;
    std::string text = field->type == qxdb::JsonValue::Type::kNumber
                           ? field->number_text
                           : field->string;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    records.emplace_back(static_cast<uint32_t>(recno->number), text);
  }
  return records;
}

TEST_F(BrowseTest, QxdbBrowseAndFindPrintTheRecordsReached) {
  CopyIn("xsharp-byor", {"customer.dbf", "CUSTNUM.NTX", "CUSTNAME.NTX"});
  const std::string table = Path("customer.dbf");
  const std::string names = Path("CUSTNAME.NTX") + ":CUSTNAME";
  const std::string numbers = Path("CUSTNUM.NTX") + ":CUSTNUM";
  qxdb::Result r =
      Qxdb({"browse", table, "--key", "CUSTNAME", "--index", names});
  ASSERT_EQ(r.rc, 0) << r.err;
  std::vector<uint32_t> order;
  for (const auto& [recno, value] : Printed(r.out, "LASTNAME"))
    order.push_back(recno);
  EXPECT_EQ(order, EngineOrder("CUSTNAME.NTX"));

  r = Qxdb({"browse", table, "--key", "CUSTNAME", "--index", names, "--reverse",
            "--limit", "2"});
  ASSERT_EQ(r.rc, 0) << r.err;
  const auto last_two = Printed(r.out, "LASTNAME");
  ASSERT_EQ(last_two.size(), 2u);
  EXPECT_EQ(last_two[0].first, order.back());
  EXPECT_EQ(last_two[1].first, order[order.size() - 2]);

  r = Qxdb({"browse", table, "--key", "CUSTNUM", "--index", numbers, "--from",
            "5", "--to", "8"});
  ASSERT_EQ(r.rc, 0) << r.err;
  std::vector<std::string> values;
  for (const auto& [recno, value] : Printed(r.out, "CUSTNUM"))
    values.push_back(value);
  EXPECT_EQ(values, (std::vector<std::string>{"5", "6", "7", "8"}));

  r = Qxdb(
      {"browse", table, "--filter", "LASTNAME=C*", "--filter", "CUSTNUM>3"});
  ASSERT_EQ(r.rc, 0) << r.err;
  values.clear();
  for (const auto& [recno, value] : Printed(r.out, "LASTNAME"))
    values.push_back(value);
  EXPECT_FALSE(values.empty());
  for (const std::string& value : values) EXPECT_EQ(value[0], 'C') << value;

  r = Qxdb({"find", table, "--key", "CUSTNAME", "--index", names, "Coo",
            "--generic"});
  ASSERT_EQ(r.rc, 0) << r.err;
  const auto found = Printed(r.out, "LASTNAME");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].second, "Cooper");
  r = Qxdb({"find", table, "--key", "CUSTNAME", "--index", names, "Coo"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("no key Coo"), std::string::npos) << r.err;
  r = Qxdb({"browse", table, "--key", "NOSUCH"});
  EXPECT_EQ(r.rc, 3);
  EXPECT_NE(r.err.find("error 1023"), std::string::npos) << r.err;
}

// Harbour walks an NTX file or a CDX tag of a table opened shared and
// prints each record number, then "seek" lines for its arguments:
// found, end of file, the record.
constexpr char kHarbourWalk[] = R"(REQUEST DBFNTX, DBFCDX
PROCEDURE Main( cRdd, cTable, cIndex, cTag, cNumeric, ... )
   LOCAL aSeek := hb_AParams(), i, xValue
   rddSetDefault( cRdd )
   SET DELETED OFF
   USE ( cTable ) SHARED READONLY
   ordListAdd( cIndex )
   IF ! Empty( cTag )
      ordSetFocus( cTag )
   ENDIF
   dbGoTop()
   DO WHILE ! Eof()
      OutStd( hb_ntos( RecNo() ) + hb_eol() )
      dbSkip()
   ENDDO
   SET SOFTSEEK ON
   FOR i := 6 TO Len( aSeek )
      xValue := iif( cNumeric == "N", Val( aSeek[ i ] ), aSeek[ i ] )
      dbSeek( xValue )
      OutStd( "seek " + iif( Found(), "1", "0" ) + " " + ;
              iif( Eof(), "1", "0" ) + " " + hb_ntos( RecNo() ) + hb_eol() )
   NEXT
   dbCloseAll()
RETURN
)";

// Harbour writes tags of a CDX file for a table (opened exclusive).
constexpr char kHarbourTags[] = R"(REQUEST DBFCDX
PROCEDURE Main( cTable, cIndex )
   rddSetDefault( "DBFCDX" )
   USE ( cTable ) EXCLUSIVE
   INDEX ON LASTNAME + FIRSTNAME TAG NAME TO ( cIndex )
   INDEX ON CUSTNUM TAG NUM TO ( cIndex )
   INDEX ON CITY TAG CITYD TO ( cIndex ) DESCENDING
   dbCloseAll()
RETURN
)";

TEST_F(BrowseTest, HarbourWalksAndSeeksAsTheCursorDoes) {
  if (const std::string missing = qx::testing::HarbourPeer::Missing();
      !missing.empty()) {
    if (qx::testing::HarbourPeer::Required()) FAIL() << missing;
    GTEST_SKIP() << missing;
  }
  qx::testing::HarbourPeer harbour;
  std::string error;
  ASSERT_TRUE(harbour.CompileSource("browse_walk", kHarbourWalk, &error))
      << error;
  CopyIn("xsharp-byor", {"customer.dbf", "CUSTNUM.NTX", "CUSTNAME.NTX"});
  qx::testing::HarbourPeer tags;
  ASSERT_TRUE(tags.CompileSource("browse_tags", kHarbourTags, &error)) << error;
  std::string output;
  ASSERT_EQ(tags.Run(dir_.path(), {"customer.dbf", "tags.cdx"}, &output), 0)
      << output;
  struct Case {
    std::string rdd, table, index, key, tag;
    bool numeric;
    std::vector<std::string> seeks;
  };
  const std::vector<Case> cases = {
      {"DBFNTX",
       "customer.dbf",
       "CUSTNAME.NTX",
       "CUSTNAME",
       "",
       false,
       {"Cooper", "Coo", "Bz", "Zz", "A"}},
      {"DBFNTX",
       "customer.dbf",
       "CUSTNUM.NTX",
       "CUSTNUM",
       "",
       true,
       {"12", "0", "99"}},
      {"DBFCDX",
       "customer.dbf",
       "tags.cdx",
       "NAME",
       "NAME",
       false,
       {"Cooper", "Coo", "Bz", "Zz", "A"}},
      {"DBFCDX",
       "customer.dbf",
       "tags.cdx",
       "NUM",
       "NUM",
       true,
       {"12", "0", "99"}},
      {"DBFCDX", "customer.dbf", "tags.cdx", "CITYD", "CITYD", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index + " " + c.key);
    std::vector<std::string> args = {c.rdd, c.table, c.index, c.tag,
                                     c.numeric ? "N" : "C"};
    args.insert(args.end(), c.seeks.begin(), c.seeks.end());
    ASSERT_EQ(harbour.Run(dir_.path(), args, &output), 0) << output;
    std::vector<uint32_t> order;
    std::vector<std::string> seeks;
    for (const std::string& line : Lines(output)) {
      if (line.starts_with("seek ")) {
        seeks.push_back(line.substr(5));
      } else {
        order.push_back(static_cast<uint32_t>(std::stoul(line)));
      }
    }
    auto table = Open(c.table, {{U(c.index), U(c.key)}});
    ASSERT_NE(table, nullptr);
    auto browse = table->Browse({.key = U(c.key)});
    EXPECT_EQ(Walk(browse.get(), true), order);
    // A soft seek: found, or on the next greater key, or past the end
    // (where Harbour stands at the end of the file).
    ASSERT_EQ(seeks.size(), c.seeks.size());
    for (size_t i = 0; i < c.seeks.size(); ++i) {
      SCOPED_TRACE(c.seeks[i]);
      const std::u16string text = U(c.seeks[i]);
      const HostValue value =
          c.numeric ? Number(std::stod(c.seeks[i])) : Text(text);
      SeekResult seek;
      ASSERT_TRUE(browse->Seek(value, false, &seek));
      const bool eof = seek.out_of_file || seek.past_end;
      const std::string ours =
          std::string(seek.found ? "1" : "0") + " " + (eof ? "1" : "0") + " " +
          (eof ? std::to_string(order.size() + 1) : std::to_string(seek.recno));
      // Harbour's record at the end of the file is the count + 1.
      EXPECT_EQ(ours, seeks[i]);
    }
  }
}

}  // namespace
}  // namespace qx::host
