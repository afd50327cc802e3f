// The reference host's session over the loaded component: tables opened
// by name and path, indexes attached, records and memos read with the
// host's conversions; and bad input at the host boundary, which must give
// its error through the error context and never crash.
#include "host/hostlib/session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "qx/engine.h"
#include "tests/host/built_modules.h"
#include "tests/support/test_support.h"

namespace qx::host {
namespace {

namespace fs = std::filesystem;

std::u16string U(const std::string& utf8) {
  return platform::Utf8ToUtf16(utf8);
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host_.Start(testing::kComponentPath, testing::kVmPath, &error))
        << error;
    session_ = std::make_unique<Session>(&host_);
  }
  void TearDown() override {
    session_.reset();
    host_.Stop();
  }
  // Copies corpus files into the temporary directory, writable.
  void CopyIn(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
      const fs::path to = dir_.File(fs::path(file).filename().string());
      fs::copy_file(testing::SharedDir() + "/fixtures/real/" + file, to);
      fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
    }
  }
  HostError Error() { return session_->LastError(); }

  testing::TempDir dir_;
  ComponentHost host_;
  std::unique_ptr<Session> session_;
};

TEST_F(SessionTest, TablesOpenWithTheirIndexesAndReadAsTheHostReads) {
  CopyIn({"xsharp-byor/customer.dbf", "xsharp-byor/CUSTNUM.NTX",
          "xsharp-byor/CUSTNAME.NTX", "dbfread/memotest.dbf",
          "dbfread/memotest.FPT"});
  ASSERT_TRUE(session_->Connect(U(dir_.path()), u"OEMTOANSI=WINDOWS"));
  std::u16string list;
  ASSERT_TRUE(session_->ListTables(false, &list));
  EXPECT_NE(list.find(u"customer"), std::u16string::npos);

  // By name, without extension: the index files beside it come along.
  std::unique_ptr<SessionTable> customer = session_->Open(u"customer", {});
  ASSERT_NE(customer, nullptr) << platform::Utf16ToUtf8(Error().message);
  EXPECT_EQ(customer->info().file_type, uint32_t{kFileTypeDbase3});
  EXPECT_EQ(customer->info().keys.size(), 2u);
  uint32_t count = 0;
  ASSERT_TRUE(customer->RecordCount(&count));
  EXPECT_EQ(count, 20u);
  ASSERT_TRUE(customer->Read(1));
  EXPECT_FALSE(customer->out_of_file());
  EXPECT_EQ(customer->record().recno(), 1u);
  ASSERT_TRUE(customer->Read(count + 1));
  EXPECT_TRUE(customer->out_of_file());
  customer.reset();

  // By path, with a named index file; another attached once open.
  customer = session_->Open(U(dir_.File("customer.dbf")),
                            {{u"CUSTNUM.NTX", u"NUMERO"}});
  ASSERT_NE(customer, nullptr) << platform::Utf16ToUtf8(Error().message);
  ASSERT_EQ(customer->info().keys.size(), 1u);
  EXPECT_TRUE(customer->AttachIndex(u"CUSTNAME.NTX", u"NOM"));
  EXPECT_EQ(customer->info().keys.size(), 2u);
  // An index file of an extension no family has, and a missing one.
  EXPECT_FALSE(customer->AttachIndex(u"customer.txt", u"X"));
  EXPECT_EQ(Error().id, 1058u);
  EXPECT_FALSE(customer->AttachIndex(u"absent.ntx", u"X"));
  EXPECT_EQ(Error().id, 1001u);
  customer.reset();

  // Memos come as UTF-16 texts of the host; a record's number read last.
  std::unique_ptr<SessionTable> memos = session_->Open(u"memotest.dbf", {});
  ASSERT_NE(memos, nullptr) << platform::Utf16ToUtf8(Error().message);
  ASSERT_TRUE(memos->Read(1));
  size_t memo = memos->record().size();
  for (size_t i = 0; i < memos->record().size(); ++i) {
    if (memos->record().IsMemo(i)) memo = i;
  }
  ASSERT_LT(memo, memos->record().size());
  ASSERT_TRUE(memos->ReadMemo(memo));
  const HostValue value = memos->record().Value(memo);
  EXPECT_EQ(value.type, kValueUnicodeText);
  EXPECT_GT(value.size, 0u);
}

TEST_F(SessionTest, BadInputAtTheHostBoundaryGivesItsError) {
  testing::WriteWholeFile(dir_.File("junk.dbf"), std::string(100, 'j'));
  ASSERT_TRUE(session_->Connect(U(dir_.path())));
  IDriver* driver = session_->driver();
  IProxy* proxy = session_->proxy();
  const ConnectionDesc* cnx = session_->connection();

  // Null pointers.
  EXPECT_EQ(driver->OpenTableByPath(nullptr, cnx), nullptr);
  EXPECT_EQ(Error().id, 1032u);
  EXPECT_EQ(driver->OpenTable(cnx, nullptr, 0, nullptr), 0);
  EXPECT_EQ(Error().id, 1032u);
  EXPECT_EQ(proxy->AttachIndex(nullptr, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(Error().id, 1067u);
  EXPECT_EQ(driver->TableFileExists(cnx, nullptr), 0);
  EXPECT_EQ(Error().id, 1032u);
  ICursor* cursor = driver->CreateQuery(nullptr);
  ASSERT_NE(cursor, nullptr);
  cursor->AddRef();
  int32_t deleted = 0;
  EXPECT_EQ(cursor->ReadRecord(1, 1, 0, &deleted), 0);
  EXPECT_EQ(Error().id, 1014u);
  EXPECT_EQ(cursor->ReadMemoItem(0, 0), 0);
  EXPECT_EQ(cursor->Count(nullptr, 16), 0);
  EXPECT_EQ(cursor->Position(0, 1, 0, nullptr), 0);
  EXPECT_EQ(Error().id, 1014u);
  cursor->Release();

  // An unknown connection.
  ConnectionDesc unknown;
  unknown.name = u"INCONNUE";
  driver->ResetErrors();  // EndTransaction itself does not
  EXPECT_EQ(driver->EndTransaction(&unknown), 0);
  EXPECT_EQ(Error().message,
            u"La connexion <INCONNUE> n'est pas une connexion valide.");

  // A directory that does not exist.
  const std::u16string nowhere = U(dir_.File("nowhere"));
  ConnectionDesc missing;
  missing.name = u"ABSENTE";
  missing.data_source = nowhere.c_str();
  EXPECT_EQ(driver->OpenTableByPath(u"clients", &missing), nullptr);
  EXPECT_EQ(Error().message, u"Le répertoire '" + nowhere +
                                 u"' fourni dans la connexion n'existe pas.");

  // A path of 300 characters, a name whose data file is missing (".dbf"
  // taken for the missing extension), a file that is not a DBF.
  const std::u16string long_path =
      U(dir_.path()) + u"/" + std::u16string(300, u'a') + u".dbf";
  EXPECT_EQ(driver->OpenTableByPath(long_path.c_str(), cnx), nullptr);
  EXPECT_NE(Error().id, 0u);
  EXPECT_EQ(proxy->OpenTableDirect(long_path.c_str(), u"L", cnx, 0, this),
            nullptr);
  EXPECT_NE(Error().id, 0u);
  EXPECT_EQ(session_->Open(u"clients", {}), nullptr);
  EXPECT_EQ(Error().message,
            u"Le fichier '" + U(dir_.path()) + u"\\clients.dbf' n'existe pas.");
  EXPECT_EQ(Error().category, 0);
  EXPECT_EQ(session_->Open(u"junk", {}), nullptr);
  EXPECT_EQ(Error().id, 1003u);
  EXPECT_EQ(proxy->OpenTableDirect(u"junk.dbf", u"JUNK", cnx, 0, this),
            nullptr);
  EXPECT_EQ(Error().id, 1003u);
  FileDesc file;
  file.name = u"junk";
  EXPECT_EQ(driver->OpenTable(cnx, &file, 0, nullptr), 0);
  EXPECT_EQ(Error().id, 1003u);
  // The driver answers nothing more for a description made from a file.
  EXPECT_EQ(driver->OpenFileDescription(u"junk.dbf"), nullptr);
}

}  // namespace
}  // namespace qx::host
