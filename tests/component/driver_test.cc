// The driver object's ABI (every slot's index of the driver, the proxy and
// the objects they hand out) and the xBase driver's own operations,
// in-process.
#include "component/driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "access/connection/driver_options.h"
#include "component/component_state.h"
#include "component/direct_open_list.h"
#include "component/proxy.h"
#include "engine/core/engine_state.h"
#include "framework/framework_state.h"
#include "framework/host_value.h"
#include "platform/platform.h"
#include "qx/engine.h"
#include "qx/exports.h"
#include "tests/host/built_modules.h"
#include "tests/support/test_support.h"

namespace qx::component {
namespace {

// The slot of a virtual member function. In the Itanium C++ ABI (g++ and
// clang on Linux) a pointer to a virtual member holds 1 + the slot's byte
// offset in the table of virtual operations.
template <typename Method>
size_t SlotOf(Method method) {
  struct Representation {
    uintptr_t pointer;
    ptrdiff_t adjustment;
  } rep;
  static_assert(sizeof(method) == sizeof(rep));
  std::memcpy(&rep, &method, sizeof rep);
  EXPECT_EQ(rep.pointer % sizeof(void*), 1u) << "not a virtual member";
  return (rep.pointer - 1) / sizeof(void*);
}

TEST(DriverAbiTest, EveryDriverSlotHasItsIndex) {
  EXPECT_EQ(SlotOf(&IDriver::GetDriverKind), 0u);
  EXPECT_EQ(SlotOf(&IDriver::GetDriverSubKind), 1u);
  EXPECT_EQ(SlotOf(&IDriver::GetCapabilities), 2u);
  EXPECT_EQ(SlotOf(&IDriver::GetCapabilitiesEx), 3u);
  EXPECT_EQ(SlotOf(&IDriver::Idle), 4u);
  EXPECT_EQ(SlotOf(&IDriver::AddRef), 5u);
  EXPECT_EQ(SlotOf(&IDriver::Release), 6u);
  EXPECT_EQ(SlotOf(&IDriver::ResetErrors), 7u);
  EXPECT_EQ(SlotOf(&IDriver::OpenConnection), 8u);
  EXPECT_EQ(SlotOf(&IDriver::CloseConnection), 9u);
  EXPECT_EQ(SlotOf(&IDriver::FrameworkFlag1), 10u);
  EXPECT_EQ(SlotOf(&IDriver::GetErrorContext), 11u);
  EXPECT_EQ(SlotOf(&IDriver::ForEachTableHandle), 12u);
  EXPECT_EQ(SlotOf(&IDriver::GetTable), 13u);
  EXPECT_EQ(SlotOf(&IDriver::GetConnectionProperty), 14u);
  EXPECT_EQ(SlotOf(&IDriver::OpenTableByPath), 15u);
  EXPECT_EQ(SlotOf(&IDriver::OpenTableEx), 16u);
  EXPECT_EQ(SlotOf(&IDriver::ReleaseQuery), 17u);
  EXPECT_EQ(SlotOf(&IDriver::StartTransaction), 18u);
  EXPECT_EQ(SlotOf(&IDriver::EndTransaction), 19u);
  EXPECT_EQ(SlotOf(&IDriver::EndTransactionEx), 20u);
  EXPECT_EQ(SlotOf(&IDriver::ConnectionQuery), 21u);
  EXPECT_EQ(SlotOf(&IDriver::ConnectionQueryEx), 22u);
  EXPECT_EQ(SlotOf(&IDriver::FrameworkFlag2), 23u);
  EXPECT_EQ(SlotOf(&IDriver::ConnectionAction), 24u);
  EXPECT_EQ(SlotOf(&IDriver::Unsupported), 25u);
  EXPECT_EQ(SlotOf(&IDriver::TableFileExists), 26u);
  EXPECT_EQ(SlotOf(&IDriver::PrepareTable), 27u);
  EXPECT_EQ(SlotOf(&IDriver::GetNullValue), 28u);
  EXPECT_EQ(SlotOf(&IDriver::FrameworkFlag3), 29u);
  EXPECT_EQ(SlotOf(&IDriver::SetHostValues), 30u);
  EXPECT_EQ(SlotOf(&IDriver::UnsupportedEx), 31u);
  EXPECT_EQ(SlotOf(&IDriver::NameQuery), 32u);
  EXPECT_EQ(SlotOf(&IDriver::OpenTable), 33u);
  EXPECT_EQ(SlotOf(&IDriver::CloseTable), 34u);
  EXPECT_EQ(SlotOf(&IDriver::FrameworkFlag4), 35u);
  EXPECT_EQ(SlotOf(&IDriver::SetHostValue), 36u);
  EXPECT_EQ(SlotOf(&IDriver::TableCommand), 37u);
  EXPECT_EQ(SlotOf(&IDriver::UnsupportedOnConnection), 38u);
  EXPECT_EQ(SlotOf(&IDriver::Destroy), 39u);
  EXPECT_EQ(SlotOf(&IDriver::FrameworkFlag5), 40u);
  EXPECT_EQ(SlotOf(&IDriver::FormatConnectionString), 41u);
  EXPECT_EQ(SlotOf(&IDriver::FrameworkFlag6), 42u);
  EXPECT_EQ(SlotOf(&IDriver::CreateBaseObjectA), 43u);
  EXPECT_EQ(SlotOf(&IDriver::FrameworkFlag7), 44u);
  EXPECT_EQ(SlotOf(&IDriver::CreateDescription), 45u);
  EXPECT_EQ(SlotOf(&IDriver::CreateBaseObjectB), 46u);
  EXPECT_EQ(SlotOf(&IDriver::CreateTable), 47u);
  EXPECT_EQ(SlotOf(&IDriver::CreateQuery), 48u);
  EXPECT_EQ(SlotOf(&IDriver::CreateItemValue), 49u);
  EXPECT_EQ(SlotOf(&IDriver::CreateStatementBuilder), 50u);
  EXPECT_EQ(SlotOf(&IDriver::CreateErrorContext), 51u);
  EXPECT_EQ(SlotOf(&IDriver::CreateBaseObjectC), 52u);
  EXPECT_EQ(SlotOf(&IDriver::OpenFileDescription), 53u);
  EXPECT_EQ(SlotOf(&IDriver::CreateBaseObjectD), 54u);
  EXPECT_EQ(SlotOf(&IDriver::ForEachTableHandleEx), 55u);
  EXPECT_EQ(SlotOf(&IDriver::CreateItem), 56u);
  EXPECT_EQ(SlotOf(&IDriver::Idle2), 57u);
  EXPECT_EQ(SlotOf(&IDriver::CreateConnection), 58u);
  EXPECT_EQ(SlotOf(&IDriver::CreateTableHandle), 59u);
  EXPECT_EQ(SlotOf(&IDriver::FrameworkFlag8), 60u);
  EXPECT_EQ(SlotOf(&IDriver::GetConnectionValue), 61u);
  EXPECT_EQ(SlotOf(&IDriver::CheckTableFile), 62u);
  EXPECT_EQ(SlotOf(&IDriver::PrepareTableHook), 63u);
  EXPECT_EQ(SlotOf(&IDriver::Idle3), 64u);
  EXPECT_EQ(SlotOf(&IDriver::OpenDescription), 65u);
  static_assert(kDriverSlotCount == 66);
}

TEST(DriverAbiTest, EveryProxySlotHasItsIndex) {
  EXPECT_EQ(SlotOf(&IProxy::GetProxyKind), 0u);
  EXPECT_EQ(SlotOf(&IProxy::GetProxyKind2), 1u);
  EXPECT_EQ(SlotOf(&IProxy::GetCapabilities), 2u);
  EXPECT_EQ(SlotOf(&IProxy::GetCapabilitiesEx), 3u);
  EXPECT_EQ(SlotOf(&IProxy::Idle), 4u);
  EXPECT_EQ(SlotOf(&IProxy::AddRef), 5u);
  EXPECT_EQ(SlotOf(&IProxy::Release), 6u);
  EXPECT_EQ(SlotOf(&IProxy::GetErrorContext), 7u);
  EXPECT_EQ(SlotOf(&IProxy::OpenTableDirect), 8u);
  EXPECT_EQ(SlotOf(&IProxy::AttachIndex), 9u);
  EXPECT_EQ(SlotOf(&IProxy::ForgetTable), 10u);
  EXPECT_EQ(SlotOf(&IProxy::SetAsciiSort), 11u);
  EXPECT_EQ(SlotOf(&IProxy::Reserved1), 12u);
  EXPECT_EQ(SlotOf(&IProxy::Reserved11), 22u);
  EXPECT_EQ(SlotOf(&IProxy::Destroy), 23u);
  static_assert(kProxySlotCount == 24);
}

TEST(DriverAbiTest, EveryObjectSlotHasItsIndex) {
  EXPECT_EQ(SlotOf(&IItem::AddRef), 0u);
  EXPECT_EQ(SlotOf(&IItem::GetName), 2u);
  EXPECT_EQ(SlotOf(&IItem::GetItemType), 3u);
  EXPECT_EQ(SlotOf(&IItem::GetSize), 4u);
  EXPECT_EQ(SlotOf(&IItem::GetFieldNumber), 5u);
  EXPECT_EQ(SlotOf(&IItem::GetKeyNumber), 6u);
  EXPECT_EQ(SlotOf(&IItem::GetKeyFlags), 7u);
  EXPECT_EQ(SlotOf(&IItem::GetKeyLength), 8u);
  EXPECT_EQ(SlotOf(&IItem::GetIndexPath), 9u);
  EXPECT_EQ(SlotOf(&IItem::GetExpression), 10u);
  EXPECT_EQ(SlotOf(&IItem::GetXBaseType), 11u);
  EXPECT_EQ(SlotOf(&IItem::GetDigits), 12u);
  EXPECT_EQ(SlotOf(&IItem::GetDecimals), 13u);
  EXPECT_EQ(SlotOf(&IItem::GetMemoPath), 14u);
  EXPECT_EQ(SlotOf(&IItem::Destroy), 15u);
  static_assert(kItemSlotCount == 16);

  EXPECT_EQ(SlotOf(&IDescription::AddRef), 0u);
  EXPECT_EQ(SlotOf(&IDescription::Release), 1u);
  EXPECT_EQ(SlotOf(&IDescription::GetName), 2u);
  EXPECT_EQ(SlotOf(&IDescription::GetFileName), 3u);
  EXPECT_EQ(SlotOf(&IDescription::GetItemCount), 4u);
  EXPECT_EQ(SlotOf(&IDescription::GetItem), 5u);
  EXPECT_EQ(SlotOf(&IDescription::FindItem), 6u);
  EXPECT_EQ(SlotOf(&IDescription::GetKeyCount), 7u);
  EXPECT_EQ(SlotOf(&IDescription::GetKey), 8u);
  EXPECT_EQ(SlotOf(&IDescription::GetPath), 9u);
  EXPECT_EQ(SlotOf(&IDescription::GetFileType), 10u);
  EXPECT_EQ(SlotOf(&IDescription::GetExtension), 11u);
  EXPECT_EQ(SlotOf(&IDescription::Destroy), 12u);
  EXPECT_EQ(SlotOf(&IDescription::CheckItems), 13u);
  EXPECT_EQ(SlotOf(&IDescription::Copy), 14u);
  EXPECT_EQ(SlotOf(&IDescription::DescribeItems), 15u);
  static_assert(kDescriptionSlotCount == 16);

  EXPECT_EQ(SlotOf(&ITable::AddRef), 0u);
  EXPECT_EQ(SlotOf(&ITable::Release), 1u);
  EXPECT_EQ(SlotOf(&ITable::GetName), 2u);
  EXPECT_EQ(SlotOf(&ITable::Destroy), 3u);
  EXPECT_EQ(SlotOf(&ITable::Open), 4u);
  EXPECT_EQ(SlotOf(&ITable::OpenFiles), 5u);
  EXPECT_EQ(SlotOf(&ITable::CloseFiles), 6u);
  EXPECT_EQ(SlotOf(&ITable::IsOpen), 7u);
  EXPECT_EQ(SlotOf(&ITable::GetDescription), 8u);
  EXPECT_EQ(SlotOf(&ITable::RecordCount), 9u);
  EXPECT_EQ(SlotOf(&ITable::ReadRecord), 10u);
  EXPECT_EQ(SlotOf(&ITable::FillItems), 11u);
  EXPECT_EQ(SlotOf(&ITable::PutItem), 12u);
  EXPECT_EQ(SlotOf(&ITable::ReadMemoItem), 13u);
  EXPECT_EQ(SlotOf(&ITable::WriteMemoItem), 14u);
  EXPECT_EQ(SlotOf(&ITable::WriteRecord), 15u);
  EXPECT_EQ(SlotOf(&ITable::DeleteRecord), 16u);
  EXPECT_EQ(SlotOf(&ITable::BuildKey), 17u);
  EXPECT_EQ(SlotOf(&ITable::LockFile), 18u);
  EXPECT_EQ(SlotOf(&ITable::UnlockFile), 19u);
  EXPECT_EQ(SlotOf(&ITable::CurrentLockKind), 20u);
  EXPECT_EQ(SlotOf(&ITable::LockRecord), 21u);
  EXPECT_EQ(SlotOf(&ITable::CreateFiles), 22u);
  EXPECT_EQ(SlotOf(&ITable::Maintain), 23u);
  EXPECT_EQ(SlotOf(&ITable::CreateIndex), 24u);
  static_assert(kTableSlotCount == 25);

  EXPECT_EQ(SlotOf(&ITableHandle::AddRef), 0u);
  EXPECT_EQ(SlotOf(&ITableHandle::Release), 1u);
  EXPECT_EQ(SlotOf(&ITableHandle::GetName), 2u);
  EXPECT_EQ(SlotOf(&ITableHandle::Open), 3u);
  EXPECT_EQ(SlotOf(&ITableHandle::Close), 4u);
  EXPECT_EQ(SlotOf(&ITableHandle::HasOpenTable), 5u);
  EXPECT_EQ(SlotOf(&ITableHandle::GetDescription), 6u);
  EXPECT_EQ(SlotOf(&ITableHandle::SetForget), 7u);
  EXPECT_EQ(SlotOf(&ITableHandle::IsForgotten), 8u);
  EXPECT_EQ(SlotOf(&ITableHandle::Reset), 9u);
  EXPECT_EQ(SlotOf(&ITableHandle::Apply), 10u);
  EXPECT_EQ(SlotOf(&ITableHandle::Notify), 11u);
  EXPECT_EQ(SlotOf(&ITableHandle::Command), 12u);
  EXPECT_EQ(SlotOf(&ITableHandle::OpenTableFiles), 13u);
  EXPECT_EQ(SlotOf(&ITableHandle::LockTable), 14u);
  EXPECT_EQ(SlotOf(&ITableHandle::MaintainTable), 15u);
  EXPECT_EQ(SlotOf(&ITableHandle::BuildKey), 16u);
  EXPECT_EQ(SlotOf(&ITableHandle::AddKeyItems), 17u);
  EXPECT_EQ(SlotOf(&ITableHandle::GetTableObject), 18u);
  EXPECT_EQ(SlotOf(&ITableHandle::Destroy), 19u);
  static_assert(kTableHandleSlotCount == 20);

  EXPECT_EQ(SlotOf(&ICursor::AddRef), 0u);
  EXPECT_EQ(SlotOf(&ICursor::Release), 1u);
  EXPECT_EQ(SlotOf(&ICursor::SetName), 2u);
  EXPECT_EQ(SlotOf(&ICursor::Close), 3u);
  EXPECT_EQ(SlotOf(&ICursor::Position), 4u);
  EXPECT_EQ(SlotOf(&ICursor::ReadRecord), 5u);
  EXPECT_EQ(SlotOf(&ICursor::Seek), 6u);
  EXPECT_EQ(SlotOf(&ICursor::Refind), 7u);
  EXPECT_EQ(SlotOf(&ICursor::Count), 8u);
  EXPECT_EQ(SlotOf(&ICursor::SavePosition), 9u);
  EXPECT_EQ(SlotOf(&ICursor::RestorePosition), 10u);
  EXPECT_EQ(SlotOf(&ICursor::ReadMemoItem), 11u);
  EXPECT_EQ(SlotOf(&ICursor::Write), 12u);
  EXPECT_EQ(SlotOf(&ICursor::Delete), 13u);
  EXPECT_EQ(SlotOf(&ICursor::LockRecord), 14u);
  EXPECT_EQ(SlotOf(&ICursor::IsOutOfFile), 15u);
  EXPECT_EQ(SlotOf(&ICursor::IsInFile), 16u);
  EXPECT_EQ(SlotOf(&ICursor::GetRecno), 17u);
  EXPECT_EQ(SlotOf(&ICursor::GetVisitCount), 18u);
  EXPECT_EQ(SlotOf(&ICursor::Destroy), 19u);
  static_assert(kCursorSlotCount == 20);
}

// A description that only has a name, counting its destruction.
struct Named final : framework::RefCounted<IDescription> {
  explicit Named(std::u16string name, int* destroyed)
      : name_(std::move(name)), destroyed_(destroyed) {}
  const char16_t* GetName() override { return name_.c_str(); }
  const char16_t* GetFileName() override { return name_.c_str(); }
  uint32_t GetItemCount() override { return 0; }
  IItem* GetItem(uint32_t) override { return nullptr; }
  IItem* FindItem(const char16_t*) override { return nullptr; }
  uint32_t GetKeyCount() override { return 0; }
  IItem* GetKey(uint32_t) override { return nullptr; }
  const char16_t* GetPath() override { return name_.c_str(); }
  uint32_t GetFileType() override { return 1; }
  const char16_t* GetExtension() override { return nullptr; }
  void Destroy() override {
    ++*destroyed_;
    delete this;
  }
  int32_t CheckItems(const FileDesc*, IErrorContext*) override { return 1; }
  IDescription* Copy() override { return nullptr; }
  int32_t DescribeItems(IErrorContext*) override { return 1; }
  std::u16string name_;
  int* destroyed_;
};

// A started library and a driver as piQueryInterface hands it out.
class XBaseDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetComponentStateForTesting();
    framework::ResetFrameworkStateForTesting();
    access::ResetDriverOptionsForTesting();
    engine::ResetEngineStateForTesting();
    bInitLibrary(nullptr);
    driver_ = static_cast<CXBaseDriver*>(piQueryInterface());
    ASSERT_NE(driver_, nullptr);
    source_ = platform::Utf8ToUtf16(dir_.path());
    cnx_.name = u"BASE";
    cnx_.data_source = source_.c_str();
  }
  void TearDown() override {
    if (driver_ != nullptr) driver_->Release();
    TermLibrary();
  }
  std::u16string Message() {
    char16_t text[1024];
    driver_->GetErrorContext()->CopyMessage(text, 1024);
    return text;
  }

  testing::TempDir dir_;
  std::u16string source_;
  ConnectionDesc cnx_;
  CXBaseDriver* driver_ = nullptr;
};

TEST_F(XBaseDriverTest, ConnectionsStartTheEngineAndCheckFiles) {
  EXPECT_EQ(kbdgeterror(), kKbdErrNoTask);
  EXPECT_EQ(driver_->OpenConnection(&cnx_), 1);
  EXPECT_TRUE(access::Options().engine_started);
  EXPECT_EQ(kbdgeterror(), kKbdOk);

  IConnection* connection = driver_->CreateConnection(u"AUTRE", &cnx_);
  connection->AddRef();
  EXPECT_EQ(connection->IsOpen(), 1);  // the engine runs for everybody
  EXPECT_EQ(std::u16string(connection->GetDataSource()), source_);
  EXPECT_EQ(driver_->CheckTableFile(connection, u"clients"), 0);
  EXPECT_EQ(Message(),
            u"Le fichier '" + source_ + u"\\clients.dbf' n'existe pas.");
  EXPECT_EQ(driver_->GetErrorContext()->State(), kErrorStateFailed);
  testing::WriteWholeFile(dir_.File("clients.dbf"), "x");
  driver_->ResetErrors();
  EXPECT_EQ(driver_->CheckTableFile(connection, u"CLIENTS"), 1);
  EXPECT_EQ(driver_->CheckTableFile(connection, u"/nowhere/t"), 0);
  EXPECT_EQ(Message(),
            u"Le répertoire '/nowhere/' fourni dans la connexion n'existe "
            u"pas.");
  connection->Release();

  // TermLibrary stops the engine the connection started.
  TermLibrary();
  EXPECT_FALSE(access::Options().engine_started);
  EXPECT_EQ(kbdgeterror(), kKbdErrNoTask);
}

// The listing of a connection's tables as the host asks for it, with the
// host's conversion service bound (the list comes back as its text).
TEST_F(XBaseDriverTest, ConnectionsListTheirTables) {
  platform::Module* vm = platform::LoadModule(testing::kVmPath);
  ASSERT_NE(vm, nullptr);
  ASSERT_EQ(bInitZLConvFromVM(vm, 3, 1), 1);
  const auto list = [&](const ConnectionDesc* cnx, uint32_t flags,
                        int32_t* result) {
    HostValue value;
    *result = driver_->GetConnectionProperty(cnx, &value, flags);
    EXPECT_EQ(value.type, kValueUnicodeText);
    const std::u16string text(static_cast<const char16_t*>(value.data),
                              value.size / sizeof(char16_t));
    framework::ReleaseHostValue(&value);
    return text;
  };
  // Lines in any order (the file system's), none empty.
  const auto lines = [](const std::u16string& text) {
    std::multiset<std::u16string> out;
    size_t start = 0;
    for (size_t end; (end = text.find(u"\r\n", start)) != text.npos;
         start = end + 2) {
      out.insert(text.substr(start, end - start));
    }
    out.insert(text.substr(start));
    return out;
  };

  // A real table, a file that is not one, files and a directory that do
  // not match. The first listing starts the engine to probe them.
  testing::WriteWholeFile(dir_.File("JUNK.DBF"), "not a table");
  testing::WriteWholeFile(dir_.File("notes.txt"), "");
  testing::WriteWholeFile(dir_.File("clients.dbf.bak"), "");
  ASSERT_EQ(platform::Utf16ToAnsi(source_), dir_.path());
  int32_t result = 0;
  EXPECT_EQ(list(&cnx_, 1, &result), u"JUNK");
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(access::Options().engine_started);
  KbdFieldDef field = {"NOM", 'C', 10, 0, 0};
  kbdseterror(0);  // the probe of JUNK left its status as the last error
  ASSERT_EQ(kbddcreate(dir_.File("clients.dbf").c_str(), 1, &field, kKbdDbase3),
            kKbdOk);
  ASSERT_TRUE(std::filesystem::create_directory(dir_.File("arch.dbf")));

  using Lines = std::multiset<std::u16string>;
  EXPECT_EQ(lines(list(&cnx_, 1, &result)), (Lines{u"clients", u"JUNK"}));
  const Lines full = {u"clients\tclients\t\t" + source_ + u"\\clients.dbf",
                      u"JUNK\tJUNK\t\t" + source_ + u"\\JUNK.DBF"};
  const std::u16string text = list(&cnx_, 33, &result);
  EXPECT_EQ(lines(text), full);
  EXPECT_FALSE(text.ends_with(u"\n"));
  EXPECT_EQ(driver_->GetErrorContext()->HasError(), 0);  // JUNK is quiet
  EXPECT_EQ(list(&cnx_, 0, &result), u"");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(list(&cnx_, 32, &result), u"");

  // A data source naming a file, or ending with a separator, lists its
  // directory; one that does not exist lists nothing and answers 0.
  const std::u16string table = source_ + u"/clients.dbf";
  ConnectionDesc by_file = {u"PAR_FICHIER", nullptr, table.c_str()};
  EXPECT_EQ(lines(list(&by_file, 33, &result)), full);
  const std::u16string slashed = source_ + u"/";
  ConnectionDesc by_slash = {u"BARRE", nullptr, slashed.c_str()};
  EXPECT_EQ(lines(list(&by_slash, 33, &result)), full);
  const std::u16string absent = source_ + u"/absent";
  ConnectionDesc nowhere = {u"NULLE_PART", nullptr, absent.c_str()};
  EXPECT_EQ(list(&nowhere, 33, &result), u"");
  EXPECT_EQ(result, 0);

  // A directory named like a table is no table file.
  IConnection* connection = driver_->CreateConnection(u"AUTRE", &cnx_);
  connection->AddRef();
  EXPECT_EQ(driver_->CheckTableFile(connection, u"arch"), 0);
  EXPECT_EQ(driver_->GetErrorContext()->State(), kErrorStateFailed);
  EXPECT_EQ(driver_->CheckTableFile(connection, u"clients"), 1);
  HostValue value;
  EXPECT_EQ(driver_->GetConnectionValue(nullptr, connection, 1), 0);
  EXPECT_EQ(driver_->GetConnectionValue(&value, nullptr, 1), 0);
  connection->Release();
  TermLibrary();
  platform::UnloadModule(vm);
}

TEST_F(XBaseDriverTest, OpenByPathReportsAMissingFile) {
  EXPECT_EQ(driver_->OpenTableByPath(u"absent", &cnx_), nullptr);
  EXPECT_EQ(Message(),
            u"Le fichier '" + source_ + u"\\absent.dbf' n'existe pas.");
  char16_t dump[512];
  driver_->GetErrorContext()->CopyDump(kDumpDebug | kDumpItems, dump, 512);
  EXPECT_EQ(std::u16string(dump),
            u"Informations de débogage :\r\n"
            u"IEQXDB=101.12\r\nModule=<QXDB>\r\nVersion=<18.0.6.1>\r\n"
            u"\r\nInformations supplémentaires :\r\n"
            u"EIT_LOGICALTABLENAME : <absent>\r\n"
            u"EIT_NATIVECODE : <1032>\r\n");
  // A file that is not a data file gives no description.
  testing::WriteWholeFile(dir_.File("t.dbf"), "x");
  EXPECT_EQ(driver_->OpenTableByPath(u"t", &cnx_), nullptr);
  EXPECT_EQ(driver_->GetErrorContext()->ErrorId(), 1003u);
  EXPECT_EQ(
      Message().substr(0, 66),
      u"Impossible d'obtenir les descriptions des rubriques du fichier 't'");
}

TEST_F(XBaseDriverTest, ProxyServicesAndTheDirectOpenList) {
  IProxy* proxy = pQueryProxy(191);
  ASSERT_NE(proxy, nullptr);
  EXPECT_EQ(static_cast<CXBaseProxy*>(proxy)->driver(), driver_);

  // AttachIndex without a prior direct open of the table.
  FileDesc file;
  file.name = u"CLIENTS";
  EXPECT_EQ(proxy->AttachIndex(u"clients.ndx", u"NOM", &cnx_, &file, &cnx_),
            nullptr);
  EXPECT_EQ(Message(),
            u"L'ouverture de l'index clients.ndx a échoué car l'appel "
            u"précédent de la fonction TDBOuvre a échoué (ou TDBOuvre n'a "
            u"pas été appelé).");

  // A table in the direct-open list: MDX needs a key name.
  int destroyed = 0;
  auto* fake = new Named(u"clients", &destroyed);
  driver_->direct_opens().Record(fake, &cnx_, 1);
  EXPECT_EQ(proxy->AttachIndex(u"clients.MDX", u"", &cnx_, &file, &cnx_),
            nullptr);
  EXPECT_EQ(Message(),
            u"Vous n'avez pas spécifié le paramètre <nom de la clé> dans la "
            u"fonction TDBIndex.\nLe type de l'index 'clients.MDX' impose "
            u"de préciser ce paramètre.");
  EXPECT_EQ(driver_->GetErrorContext()->ErrorId(), 1068u);

  EXPECT_EQ(proxy->ForgetTable(&cnx_, u"CLIENTS"), 1);
  EXPECT_EQ(proxy->Release(), 0u);
  EXPECT_EQ(fake->references(), 1u);  // the list's reference
  // The driver's destruction releases the direct-open list.
  driver_->Release();
  driver_ = nullptr;
  EXPECT_EQ(destroyed, 1);
}

TEST(DirectOpenListTest, OneEntryPerNameAndConnection) {
  int destroyed = 0;
  int cnx_a = 0, cnx_b = 0;
  {
    DirectOpenList list;
    list.Record(new Named(u"clients", &destroyed), &cnx_a, 1);
    list.Record(new Named(u"CLIENTS", &destroyed), &cnx_a, 2);  // replaces
    EXPECT_EQ(destroyed, 1);
    list.Record(new Named(u"clients", &destroyed), &cnx_b, 3);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(list.capacity(), 30u);
    ASSERT_NE(list.Find(u"Clients", &cnx_a), nullptr);
    EXPECT_EQ(list.Find(u"Clients", &cnx_a)->flags, 2u);
    EXPECT_EQ(list.Find(u"autre", &cnx_a), nullptr);
    EXPECT_TRUE(list.Remove(u"clients", &cnx_b));
    EXPECT_FALSE(list.Remove(u"clients", &cnx_b));
    EXPECT_EQ(destroyed, 2);
    for (int i = 0; i < 31; ++i) {
      list.Record(
          new Named(u"t" + std::u16string(1, char16_t(u'A' + i)), &destroyed),
          &cnx_b, 0);
    }
    EXPECT_EQ(list.capacity(), 60u);
  }
  EXPECT_EQ(destroyed, 34);
}

TEST_F(XBaseDriverTest, ItemValuesOfMemoItems) {
  for (uint8_t type : {kItemTextMemo, kItemBinaryMemo, kItemUnicodeMemo}) {
    IItemValue* value = driver_->CreateItemValue(type);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->HasFixedSize(), 0);
    EXPECT_EQ(value->GetItemType(), type);
    value->AddRef();
    value->Release();
  }
  IItemValue* plain = driver_->CreateItemValue(kItemText);
  EXPECT_EQ(plain->HasFixedSize(), 1);
  plain->AddRef();
  plain->Release();
}

}  // namespace
}  // namespace qx::component
