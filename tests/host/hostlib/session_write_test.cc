// Writing records and locking through the loaded component, as the host
// does, on a table of every index family (NDX, MDX, NTX, IDX, CDX) with a
// numeric key, a unique character key and a key on an expression of no
// field: adds, modifications and deletions keep every index in step
// (checked by qxdb check), duplicates under DUPLICATESON, automatic
// identifiers, DELETEINDEX, and lock conflicts between table objects of
// one process and between processes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/hostlib/session.h"
#include "platform/platform.h"
#include "tests/host/built_modules.h"
#include "tests/interop/qxdb_run.h"
#include "tests/support/test_support.h"

namespace qx::host {
namespace {

using qxdb::Qxdb;

std::u16string U(const std::string& utf8) {
  return platform::Utf8ToUtf16(utf8);
}
std::string Utf8(std::u16string_view text) {
  return platform::Utf16ToUtf8(text);
}

// A table layout of one family: its dialect and its three keys, each an
// index file (and tag) of its own.
struct Family {
  const char* name;
  const char* dialect;
  // Index file of each key: ID (numeric), CODE (unique), UNAME
  // (UPPER(NAME), no field); one file for the families of tags.
  const char* id_file;
  const char* code_file;
  const char* uname_file;
  bool tags;
};

const Family kFamilies[] = {
    {"ndx", "dbase3", "id.ndx", "code.ndx", "uname.ndx", false},
    {"mdx", "dbase4", "t.mdx", "t.mdx", "t.mdx", true},
    {"ntx", "clipper5", "id.ntx", "code.ntx", "uname.ntx", false},
    {"idx", "foxbase", "id.idx", "code.idx", "uname.idx", false},
    {"cdx", "foxpro2", "t.cdx", "t.cdx", "t.cdx", true},
};

struct KeyCase {
  const char* item;
  const char* expr;
  bool unique;
};
const KeyCase kKeys[] = {{"ID", "ID", false},
                         {"CODE", "CODE", true},
                         {"UNAME", "UPPER(NAME)", false}};

class SessionWriteTest : public ::testing::TestWithParam<Family> {
 protected:
  void SetUp() override {
    const Family& f = GetParam();
    Run({"create", File("t.dbf"), "--dialect", f.dialect, "--field", "ID:N:8",
         "--field", "NAME:C:20", "--field", "CODE:C:10", "--field",
         "NOTE:M:10"});
    for (size_t k = 0; k < 3; ++k) {
      std::vector<std::string> args = {
          "index", File("t.dbf"), File(IndexFile(k)), "--expr", kKeys[k].expr};
      if (f.tags) args.insert(args.end(), {"--tag", kKeys[k].item});
      if (kKeys[k].unique) args.push_back("--unique");
      Run(args);
    }
  }
  void TearDown() override {
    table_.reset();
    session_.reset();
    host_.Stop();
  }

  std::string File(const std::string& name) { return dir_.File(name); }
  std::string IndexFile(size_t k) {
    const Family& f = GetParam();
    return k == 0 ? f.id_file : k == 1 ? f.code_file : f.uname_file;
  }
  void Run(const std::vector<std::string>& args) {
    const qxdb::Result r = Qxdb(args);
    ASSERT_EQ(r.rc, 0) << r.err;
  }

  // Loads the component with these options in its qxdbins.ini.
  void Start(int duplicates_on, int delete_index) {
    testing::WriteWholeFile(
        File("qxdbins.ini"),
        "[OPTION]\nDUPLICATESON=" + std::to_string(duplicates_on) +
            "\nDELETEINDEX=" + std::to_string(delete_index) + "\n");
    qx::testing::SetEnv("QX_SYSTEM_DIR", dir_.path());
    std::string error;
    ASSERT_TRUE(host_.Start(testing::kComponentPath, testing::kVmPath, &error))
        << error;
    session_ = std::make_unique<Session>(&host_);
    ASSERT_TRUE(session_->Connect(U(dir_.path())));
    table_ = OpenTable(u"t");
    ASSERT_NE(table_, nullptr) << Utf8(Error().message);
  }
  std::unique_ptr<SessionTable> OpenTable(std::u16string_view name) {
    std::vector<AttachedIndex> indexes;
    for (size_t k = 0; k < 3; ++k)
      indexes.push_back({U(IndexFile(k)), U(kKeys[k].item)});
    return session_->Open(name, indexes);
  }
  HostError Error() { return session_->LastError(); }

  size_t Item(const char* name) {
    const size_t i = table_->record().Find(U(name));
    EXPECT_LT(i, table_->record().size()) << name;
    return i;
  }
  void Set(const char* name, const std::string& text) {
    ASSERT_TRUE(table_->SetText(Item(name), U(text))) << name;
  }
  // Adds a record of these values; its number, 0 on failure.
  uint32_t Add(const std::string& id, const std::string& name,
               const std::string& code, const std::string& note = "") {
    table_->mutable_record().Clear();
    Set("ID", id);
    Set("NAME", name);
    Set("CODE", code);
    if (!note.empty()) Set("NOTE", note);
    uint32_t recno = 0;
    return table_->Add(&recno) ? recno : 0;
  }
  std::string Text(const char* name) {
    std::u16string text;
    session_->ValueText(table_->record().Value(Item(name)), &text);
    return Utf8(text);
  }
  // qxdb check of every key; "" when all pass, else the problems.
  std::string Check() {
    std::string problems;
    for (size_t k = 0; k < 3; ++k) {
      std::vector<std::string> args = {"check", File("t.dbf"),
                                       File(IndexFile(k))};
      if (GetParam().tags) args.insert(args.end(), {"--tag", kKeys[k].item});
      const qxdb::Result r = Qxdb(args);
      if (r.rc != 0) problems += kKeys[k].item + (": " + r.out + r.err);
    }
    return problems;
  }
  // The entries of key k as "key=recno" lines.
  std::vector<std::string> Keys(size_t k) {
    std::vector<std::string> args = {"keys", File(IndexFile(k)), "--table",
                                     File("t.dbf")};
    if (GetParam().tags) args.insert(args.end(), {"--tag", kKeys[k].item});
    const qxdb::Result r = Qxdb(args);
    EXPECT_EQ(r.rc, 0) << r.err;
    return qxdb::Lines(r.out);
  }
  std::string IndexBytes() {
    std::string bytes;
    for (size_t k = 0; k < 3; ++k)
      bytes += testing::ReadWholeFile(File(IndexFile(k)));
    return bytes;
  }

  testing::TempDir dir_;
  ComponentHost host_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<SessionTable> table_;
};

TEST_P(SessionWriteTest, AddsAndModificationsKeepEveryIndexInStep) {
  Start(1, 0);
  EXPECT_EQ(Add("10", "Zoé", "Z1", "première note"), 1u);
  EXPECT_EQ(Add("20", "alain", "A1"), 2u);
  EXPECT_EQ(Add("5", "Marc", "M1"), 3u);
  EXPECT_EQ(Check(), "");
  // The host sees the stored value: cut to the field.
  table_->mutable_record().Clear();
  Set("ID", "7");
  Set("NAME", "un nom bien trop long pour le champ");
  Set("CODE", "C1");
  uint32_t recno = 0;
  ASSERT_TRUE(table_->Add(&recno)) << Utf8(Error().message);
  EXPECT_EQ(Text("NAME"), "un nom bien trop lon");
  EXPECT_EQ(table_->record().recno(), recno);

  // A duplicate of the unique key is refused before anything is written.
  uint32_t count = 0;
  ASSERT_TRUE(table_->RecordCount(&count));
  const std::string before = IndexBytes();
  EXPECT_EQ(Add("30", "Paul", "A1"), 0u);
  EXPECT_EQ(Error().id, 1053u);
  EXPECT_EQ(Error().category, kCategoryDuplicateKey);
  EXPECT_EQ(Utf8(Error().message),
            "Une erreur de doublon a été détectée sur la rubrique (clé) "
            "'CODE'.");
  uint32_t after_count = 0;
  ASSERT_TRUE(table_->RecordCount(&after_count));
  EXPECT_EQ(after_count, count);
  EXPECT_EQ(IndexBytes(), before);

  // A modification that changes no key value touches no index.
  ASSERT_TRUE(table_->Read(2));
  Set("NOTE", "une note");
  ASSERT_TRUE(table_->Modify(2)) << Utf8(Error().message);
  EXPECT_EQ(IndexBytes(), before);

  // A → B: one entry B for the record.
  ASSERT_TRUE(table_->Read(2));
  Set("NAME", "Bernard");
  Set("ID", "21");
  ASSERT_TRUE(table_->Modify(2)) << Utf8(Error().message);
  EXPECT_EQ(Check(), "");
  bool found_b = false;
  for (const std::string& line : Keys(2)) {
    EXPECT_EQ(line.find("ALAIN"), std::string::npos) << line;
    if (line.find("BERNARD") != std::string::npos) found_b = true;
  }
  EXPECT_TRUE(found_b);

  // A modification whose later key is a duplicate leaves the record and
  // every index as they were (the earlier key's entry A stays).
  const std::string kept = IndexBytes();
  ASSERT_TRUE(table_->Read(2));
  Set("ID", "99");
  Set("CODE", "Z1");
  EXPECT_FALSE(table_->Modify(2));
  EXPECT_EQ(Error().id, 1053u);
  EXPECT_EQ(IndexBytes(), kept);
  ASSERT_TRUE(table_->Read(2));
  EXPECT_EQ(Text("ID"), "21");
  EXPECT_EQ(Text("CODE"), "A1        ");
  // The same key value again is no duplicate of itself.
  Set("NAME", "Bernard");
  EXPECT_TRUE(table_->Modify(2)) << Utf8(Error().message);
  EXPECT_EQ(Check(), "");
}

// The table's BuildKey slot: the key a record of the host's values would
// have, made by the index's own expression (a field key and a key on an
// expression), text keys blank-padded and terminated.
TEST_P(SessionWriteTest, BuildKeyGivesTheKeyOfTheHostsValues) {
  Start(0, 0);
  table_->mutable_record().Clear();
  Set("ID", "4");
  Set("NAME", "alain");
  Set("CODE", "A1");
  Record* record = table_->mutable_record().get();
  const auto item_of = [&](std::u16string_view name) {
    for (uint32_t i = 0; i < record->item_count; ++i)
      if (std::u16string_view(record->items[i].name) == name) return i;
    ADD_FAILURE() << Utf8(std::u16string(name));
    return record->item_count;
  };
  uint8_t image[101] = {};
  ASSERT_EQ(table_->TableObject()->BuildKey(record, item_of(u"CODE"), image), 1)
      << Utf8(Error().message);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image)), "A1        ");
  ASSERT_EQ(table_->TableObject()->BuildKey(record, item_of(u"UNAME"), image),
            1)
      << Utf8(Error().message);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image)),
            "ALAIN               ");
  // Nothing was written.
  uint32_t count = 1;
  ASSERT_TRUE(table_->RecordCount(&count));
  EXPECT_EQ(count, 0u);
}

TEST_P(SessionWriteTest, DuplicatesAreAcceptedWhenTheCheckIsOff) {
  Start(0, 0);
  ASSERT_EQ(Add("1", "a", "SAME"), 1u);
  EXPECT_EQ(Add("2", "b", "SAME"), 2u) << Utf8(Error().message);
  EXPECT_EQ(Check(), "");
}

TEST_P(SessionWriteTest, IdentifiersFollowTheLastKey) {
  Start(1, 0);
  ASSERT_TRUE(table_->DeclareIdentifier(u"ID"));
  EXPECT_EQ(Add("0", "a", "A"), 1u) << Utf8(Error().message);
  EXPECT_EQ(Text("ID"), "1");
  EXPECT_EQ(Add("0", "b", "B"), 2u);
  EXPECT_EQ(Text("ID"), "2");
  // The next one follows the greatest identifier, not the record count.
  ASSERT_TRUE(table_->Read(1));
  Set("ID", "40");
  ASSERT_TRUE(table_->Modify(1, 0x100)) << Utf8(Error().message);
  EXPECT_EQ(Add("0", "c", "C"), 3u);
  EXPECT_EQ(Text("ID"), "41");
  // A modification keeps the stored identifier.
  ASSERT_TRUE(table_->Read(2));
  Set("ID", "1000");
  ASSERT_TRUE(table_->Modify(2));
  EXPECT_EQ(Text("ID"), "2");
  EXPECT_EQ(Check(), "");
}

TEST_P(SessionWriteTest, DeletesKeepOrRemoveTheirEntries) {
  Start(0, 0);
  ASSERT_EQ(Add("1", "a", "A"), 1u);
  ASSERT_EQ(Add("2", "b", "B"), 2u);
  ASSERT_TRUE(table_->Delete(1)) << Utf8(Error().message);
  EXPECT_TRUE(table_->record().deleted());
  for (size_t k = 0; k < 3; ++k) EXPECT_EQ(Keys(k).size(), 2u);
  EXPECT_EQ(Check(), "");
  ASSERT_TRUE(table_->Read(1));
  EXPECT_TRUE(table_->record().deleted());
  // Rewriting a deleted record takes the mark back.
  ASSERT_TRUE(table_->Modify(1));
  ASSERT_TRUE(table_->Read(1));
  EXPECT_FALSE(table_->record().deleted());

  table_.reset();
  session_.reset();
  host_.Stop();
  Start(0, 1);
  ASSERT_TRUE(table_->Delete(2)) << Utf8(Error().message);
  for (size_t k = 0; k < 3; ++k) EXPECT_EQ(Keys(k).size(), 1u);
  // A record outside the file.
  EXPECT_FALSE(table_->Delete(9));
  EXPECT_EQ(Error().id, 1051u);
  EXPECT_EQ(Utf8(Error().message)
                .rfind("La suppression de l'enregistrement <9> a échoué.", 0),
            0u)
      << Utf8(Error().message);
}

TEST_P(SessionWriteTest, LocksConflictBetweenTableObjects) {
  Start(0, 0);
  for (int i = 1; i <= 3; ++i)
    ASSERT_EQ(Add(std::to_string(i), "n", "C" + std::to_string(i)),
              static_cast<uint32_t>(i));
  // A second table object on the same file, by another spelling.
  std::unique_ptr<SessionTable> other = OpenTable(U(File("t.dbf")));
  ASSERT_NE(other, nullptr) << Utf8(Error().message);

  uint32_t previous = 9;
  ASSERT_TRUE(table_->LockRecord(2, 2, &previous));
  EXPECT_EQ(previous, 0u);
  EXPECT_EQ(table_->mutable_record().get()->lock_kind, 2u);
  ASSERT_TRUE(table_->LockRecord(2, 3, &previous));
  EXPECT_EQ(previous, 2u);
  EXPECT_FALSE(other->LockRecord(2));
  EXPECT_EQ(Error().id, 1041u);
  EXPECT_EQ(Error().category, kCategoryLockConflict);
  EXPECT_EQ(Utf8(Error().message),
            "Il n'est pas possible d'accéder à l'enregistrement <2> car il a "
            "été bloqué par une autre application.");
  EXPECT_TRUE(other->LockRecord(3));
  // Unlocking a record not locked succeeds; 0 and past the end are no
  // record numbers.
  EXPECT_TRUE(table_->UnlockRecord(1));
  EXPECT_FALSE(table_->LockRecord(0));
  EXPECT_EQ(Error().id, 1020u);
  EXPECT_FALSE(table_->LockRecord(4));
  EXPECT_EQ(Error().id, 1020u);
  EXPECT_EQ(Utf8(Error().message),
            "Le numéro <4> n'est pas un numéro d'enregistrement valide.");
  ASSERT_TRUE(table_->UnlockRecord(2));
  EXPECT_TRUE(other->LockRecord(2));
  ASSERT_TRUE(other->UnlockTable());
  EXPECT_TRUE(table_->LockRecord(2));
  ASSERT_TRUE(table_->UnlockTable());

  // File locks: kind 2 while 3 is held needs nothing more; the other
  // object cannot have the file.
  ASSERT_TRUE(table_->LockTable(3)) << Utf8(Error().message);
  EXPECT_EQ(table_->TableLockKind(), 3u);
  EXPECT_TRUE(table_->LockTable(2));
  EXPECT_EQ(table_->TableLockKind(), 3u);
  EXPECT_FALSE(other->LockTable(3));
  EXPECT_EQ(Error().id, 1054u);
  EXPECT_EQ(Error().category, kCategoryLockConflict);
  // The host's text names the file and then a literal "s".
  EXPECT_EQ(Utf8(Error().message)
                .rfind("Impossible d'accéder au fichier '" + File("t.dbf") +
                           "s' car il est bloqué par une autre application.",
                       0),
            0u)
      << Utf8(Error().message);
  ASSERT_TRUE(table_->UnlockTable());
  EXPECT_EQ(table_->TableLockKind(), 0u);
  // Kind 2, then 3: the weaker lock goes, the stronger comes.
  ASSERT_TRUE(other->LockTable(2));
  EXPECT_EQ(other->TableLockKind(), 2u);
  ASSERT_TRUE(other->LockTable(3));
  EXPECT_EQ(other->TableLockKind(), 3u);
  ASSERT_TRUE(other->UnlockTable());
  EXPECT_EQ(Check(), "");
}

// A lock failure as a child's result: the id past 1000, + 100 for a lock
// conflict (category 2); 1 for success.
int LockResult(bool ok, const Session* session) {
  if (ok) return 1;
  const HostError error = session->LastError();
  return static_cast<int>(error.id) - 1000 +
         (error.category == kCategoryLockConflict ? 100 : 0);
}

TEST_P(SessionWriteTest, LocksConflictBetweenProcesses) {
  // The child is forked before this process loads the component.
  ComponentHost child_host;
  std::unique_ptr<Session> child_session;
  std::unique_ptr<SessionTable> child_table;
  testing::ChildProcess child([&](int step) -> int {
    switch (step) {
      case 1: {
        std::string error;
        if (!child_host.Start(testing::kComponentPath, testing::kVmPath,
                              &error))
          return 2;
        child_session = std::make_unique<Session>(&child_host);
        if (!child_session->Connect(U(dir_.path()))) return 3;
        std::vector<AttachedIndex> indexes;
        for (size_t k = 0; k < 3; ++k)
          indexes.push_back({U(IndexFile(k)), U(kKeys[k].item)});
        child_table = child_session->Open(u"t", indexes);
        return child_table != nullptr ? 1 : 4;
      }
      case 2:
        return LockResult(child_table->LockRecord(2), child_session.get());
      case 3:
        return LockResult(child_table->LockRecord(3), child_session.get());
      case 4:
        return LockResult(child_table->LockTable(3), child_session.get());
      case 5:
        return LockResult(child_table->UnlockTable(), child_session.get());
      case 7: {
        child_table->mutable_record().Clear();
        uint32_t recno = 0;
        const size_t code = child_table->record().Find(u"CODE");
        return child_table->SetText(code, u"C4") && child_table->Add(&recno)
                   ? static_cast<int>(recno)
                   : 0;
      }
      default:
        child_table.reset();
        child_session.reset();
        child_host.Stop();
        return 1;
    }
  });
  Start(0, 0);
  for (int i = 1; i <= 3; ++i)
    ASSERT_EQ(Add(std::to_string(i), "n", "C" + std::to_string(i)),
              static_cast<uint32_t>(i));
  ASSERT_EQ(child.Run(1), 1);
  ASSERT_TRUE(table_->LockRecord(2));
  EXPECT_EQ(child.Run(2), 141);
  EXPECT_EQ(child.Run(3), 1);
  EXPECT_FALSE(table_->LockRecord(3));
  EXPECT_EQ(Error().id, 1041u);
  EXPECT_EQ(Error().category, kCategoryLockConflict);
  // The file cannot be had while another process holds a record of it.
  EXPECT_FALSE(table_->LockTable(3));
  EXPECT_EQ(Error().id, 1054u);
  EXPECT_EQ(Error().category, kCategoryLockConflict);
  EXPECT_EQ(child.Run(5), 1);
  ASSERT_TRUE(table_->LockTable(3)) << Utf8(Error().message);
  EXPECT_EQ(child.Run(4), 154);
  ASSERT_TRUE(table_->UnlockTable());
  EXPECT_EQ(child.Run(4), 1);
  EXPECT_FALSE(table_->LockTable(2));
  EXPECT_EQ(Error().id, 1054u);
  EXPECT_EQ(Error().category, kCategoryLockConflict);
  EXPECT_EQ(child.Run(5), 1);
  EXPECT_TRUE(table_->LockTable(2)) << Utf8(Error().message);
  ASSERT_TRUE(table_->UnlockTable());
  // A record the other process has just appended can be locked here.
  EXPECT_EQ(child.Run(7), 4);
  EXPECT_TRUE(table_->LockRecord(4)) << Utf8(Error().message);
  EXPECT_FALSE(table_->LockRecord(5));
  EXPECT_EQ(Error().id, 1020u);
  EXPECT_EQ(child.Run(6), 1);
}

void PrintTo(const Family& family, std::ostream* out) { *out << family.name; }

INSTANTIATE_TEST_SUITE_P(Families, SessionWriteTest,
                         ::testing::ValuesIn(kFamilies),
                         [](const auto& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace qx::host
