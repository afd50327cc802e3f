// The framework's base driver: the common pattern, the registries and
// their reference accounting, the base slots, and the name helpers. A
// fake driver supplies the factories with fakes that count their calls.
#include "framework/native_driver.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "access/errors/error_context.h"
#include "framework/framework_state.h"
#include "framework/native_connection.h"

namespace qx::framework {
namespace {

// What the fakes report; lives outside the driver so that it can be read
// after the driver is gone.
struct Counters {
  int destroyed_connections = 0;
  int closed_connections = 0;
  int destroyed_handles = 0;
  int destroyed_cursors = 0;
};

class FakeConnection final : public CNativeConnection {
 public:
  FakeConnection(std::u16string_view name, const ConnectionDesc* desc,
                 int32_t open_result, Counters* counters)
      : CNativeConnection(name, desc),
        open_result_(open_result),
        counters_(counters) {}
  int32_t Open(IErrorContext*) override {
    ++opens;
    if (open_result_ == 1) open_ = true;
    return open_result_;
  }
  int32_t IsOpen() override { return open_ ? 1 : 0; }
  int32_t Close(IErrorContext*) override {
    ++counters_->closed_connections;
    open_ = false;
    return 1;
  }
  void Destroy() override {
    ++counters_->destroyed_connections;
    delete this;
  }
  int opens = 0;

 private:
  ~FakeConnection() override = default;
  int32_t open_result_;
  Counters* counters_;
  bool open_ = false;
};

class FakeHandle final : public RefCounted<ITableHandle> {
 public:
  FakeHandle(std::u16string name, int32_t open_result, int* destroyed)
      : name_(std::move(name)),
        open_result_(open_result),
        destroyed_(destroyed) {}
  const char16_t* GetName() override { return name_.c_str(); }
  int32_t Open(const FileDesc*, uint32_t, IErrorContext*) override {
    ++opens;
    if (open_result_ == 1) open_tables = 1;
    return open_result_;
  }
  int32_t Close() override {
    ++closes;
    open_tables = 0;
    return 1;
  }
  int32_t HasOpenTable() override { return open_tables; }
  IDescription* GetDescription() override { return nullptr; }
  void SetForget() override { forgotten = true; }
  int32_t IsForgotten() override { return forgotten ? 1 : 0; }
  void Reset() override { ++resets; }
  int32_t Apply(uintptr_t first, uintptr_t) override {
    return static_cast<int32_t>(first);
  }
  void Notify(uintptr_t first, uintptr_t second) override {
    notified = first + second;
  }
  int32_t Command(uintptr_t argument) override {
    command = argument;
    return 1;
  }
  int32_t OpenTableFiles(const char16_t*, uint32_t) override { return 1; }
  int32_t LockTable(const char16_t*, uint32_t) override { return 1; }
  int32_t MaintainTable(const char16_t*, uint32_t) override { return 1; }
  int32_t BuildKey(const char16_t*, const Record*, uint32_t,
                   uint8_t*) override {
    return 1;
  }
  int32_t AddKeyItems(IItem* const*, uint32_t, const char16_t*) override {
    return 1;
  }
  ITable* GetTableObject(const char16_t*) override { return nullptr; }
  void Destroy() override {
    ++*destroyed_;
    delete this;
  }
  int opens = 0, closes = 0, resets = 0, open_tables = 0;
  bool forgotten = false;
  uintptr_t notified = 0, command = 0;

 private:
  ~FakeHandle() = default;
  std::u16string name_;
  int32_t open_result_;
  int* destroyed_;
};

class FakeCursor final : public RefCounted<ICursor> {
 public:
  explicit FakeCursor(int* destroyed) : destroyed_(destroyed) {}
  int32_t SetName(const char16_t* text) override {
    name = text;
    return 1;
  }
  int32_t Close() override { return ++closes; }
  int32_t Position(int32_t, int32_t, uint32_t, int32_t*) override { return 0; }
  int32_t ReadRecord(uint32_t, int32_t, uint32_t, int32_t*) override {
    return 0;
  }
  int32_t Seek(const HostValue*, int32_t, int32_t*, int32_t*, uint32_t*,
               uint8_t*, int32_t*, uint16_t) override {
    return 0;
  }
  int32_t Refind(uint32_t) override { return 0; }
  int32_t Count(uint32_t*, uint32_t) override { return 0; }
  int32_t SavePosition(PositionRecord*) override { return 0; }
  int32_t RestorePosition(const PositionRecord*) override { return 0; }
  int32_t ReadMemoItem(uint32_t, uint32_t) override { return 0; }
  int32_t Write(uint32_t*, uint32_t, uint16_t) override { return 0; }
  int32_t Delete(uint32_t) override { return 0; }
  int32_t LockRecord(uint32_t, uint32_t, uint32_t*) override { return 0; }
  int32_t IsOutOfFile() override { return 1; }
  int32_t IsInFile() override { return 0; }
  uint32_t GetRecno() override { return 0; }
  int32_t GetVisitCount() override { return -1; }
  void Destroy() override {
    ++*destroyed_;
    delete this;
  }
  std::u16string name;
  int closes = 0;

 private:
  ~FakeCursor() = default;
  int* destroyed_;
};

// The base driver with fake factories; every object made is counted.
class FakeDriver final : public CNativeDriver {
 public:
  explicit FakeDriver(Counters* counters) : counters_(counters) {}
  IDescription* OpenTableByPath(const char16_t*,
                                const ConnectionDesc*) override {
    return nullptr;
  }
  IDescription* CreateDescription(const FileDesc*, IConnection*) override {
    return nullptr;
  }
  ITable* CreateTable(const FileDesc*, IConnection*, uint32_t) override {
    return nullptr;
  }
  ICursor* CreateQuery(const Query*) override {
    return new FakeCursor(&counters_->destroyed_cursors);
  }
  IDescription* OpenFileDescription(const char16_t*) override {
    return nullptr;
  }
  IConnection* CreateConnection(const char16_t* name,
                                const ConnectionDesc* cnx) override {
    auto* made =
        new FakeConnection(name, cnx, connection_open_result, counters_);
    connections[name] = made;
    return made;
  }
  ITableHandle* CreateTableHandle(const char16_t* name, const FileDesc*,
                                  IConnection*) override {
    if (refuse_handles) return nullptr;
    auto* made =
        new FakeHandle(name, handle_open_result, &counters_->destroyed_handles);
    handles[name] = made;
    return made;
  }
  int32_t GetConnectionValue(HostValue*, IConnection*, uint32_t) override {
    return 7;
  }
  int32_t CheckTableFile(IConnection*, const char16_t* path) override {
    checked = path;
    return 1;
  }
  int32_t PrepareTableHook(IConnection*, const FileDesc*) override { return 1; }
  IDescription* OpenDescription(const char16_t*, const char16_t*,
                                IConnection*) override {
    return nullptr;
  }

  int32_t connection_open_result = 1;
  int32_t handle_open_result = 1;
  bool refuse_handles = false;
  std::map<std::u16string, FakeConnection*> connections;
  std::map<std::u16string, FakeHandle*> handles;
  std::u16string checked;

 protected:
  CNativeErrorSink* NewErrorSink() override {
    return new access::CErrorContext();
  }

 private:
  Counters* counters_;
};

// A started library (the registry lock) and a driver with its error
// context, as piQueryInterface hands it out. Counters outlive the driver.
struct Fixture {
  Fixture() {
    ResetFrameworkStateForTesting();
    Framework().registry_lock = std::make_unique<platform::CriticalSection>();
    driver = new FakeDriver(&counters);
    driver->AddRef();
    driver->RenewErrorContext();
  }
  ~Fixture() {
    if (driver != nullptr) driver->Release();
    ResetFrameworkStateForTesting();
  }
  std::u16string Message() {
    char16_t text[512];
    driver->GetErrorContext()->CopyMessage(text, 512);
    return text;
  }
  Counters counters;
  FakeDriver* driver;
};

ConnectionDesc Connection(const char16_t* name) {
  ConnectionDesc desc;
  desc.name = name;
  desc.data_source = u"/data";
  return desc;
}

TEST(NativeDriverTest, BaseSlotsAnswerTheirConstants) {
  Fixture f;
  IDriver* d = f.driver;
  EXPECT_EQ(d->GetDriverKind(), 18u);
  EXPECT_EQ(d->GetDriverSubKind(), 17u);
  EXPECT_EQ(d->GetCapabilities(), 0xFFFFFFFFu);
  EXPECT_EQ(d->GetCapabilitiesEx(), 0xFFFFFFFFu);
  const int32_t flags[] = {d->FrameworkFlag1(), d->FrameworkFlag2(),
                           d->FrameworkFlag3(), d->FrameworkFlag4(),
                           d->FrameworkFlag5(), d->FrameworkFlag6(),
                           d->FrameworkFlag7(), d->FrameworkFlag8()};
  const int32_t expected[] = {0, 0, 1, 1, 1, 0, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(flags[i], expected[i]) << i;
  EXPECT_EQ(d->ResetErrors(), 0);
  EXPECT_EQ(d->SetHostValues(5, 6), 1);
  EXPECT_EQ(d->SetHostValue(9), 1);
  EXPECT_EQ(f.driver->host_value(0), 5u);
  EXPECT_EQ(f.driver->host_value(2), 9u);
  EXPECT_EQ(f.driver->caption(kCaptionQueryText), u"Texte de la requête");
  EXPECT_EQ(f.driver->caption(kCaptionLockMode), u"Lock mode : ");

  EXPECT_EQ(d->Unsupported(), 0);
  EXPECT_EQ(f.Message(), u"Opération non supportée.");
  EXPECT_EQ(d->GetErrorContext()->Level(), 3u);
  d->ResetErrors();
  EXPECT_EQ(d->UnsupportedEx(), 0);
  EXPECT_EQ(d->GetErrorContext()->Level(), 7u);

  HostValue value;
  value.type = kValueInt32;
  value.size = 4;
  EXPECT_EQ(d->GetNullValue(&value), 1);
  EXPECT_EQ(value.type, kValueNull);
  EXPECT_EQ(value.size, 0u);
  EXPECT_EQ(d->GetNullValue(nullptr), 0);

  // Framework objects come with a count of 0.
  IFrameworkObject* object = d->CreateBaseObjectA();
  EXPECT_EQ(object->GetKind(), static_cast<uint32_t>(kFrameworkObjectA));
  EXPECT_EQ(object->AddRef(), 1u);
  EXPECT_EQ(object->Release(), 0u);
  object = d->CreateStatementBuilder();
  EXPECT_EQ(object->GetKind(),
            static_cast<uint32_t>(kFrameworkStatementBuilder));
  object->AddRef();
  object->Release();
  EXPECT_EQ(d->CreateItemValue(8), nullptr);
  EXPECT_EQ(d->CreateItemValue(0), nullptr);
  EXPECT_EQ(d->CreateItemValue(32), nullptr);
  IItemValue* item_value = d->CreateItemValue(31);
  EXPECT_EQ(item_value->HasFixedSize(), 1);
  item_value->AddRef();
  item_value->Release();
  IItem* item = d->CreateItem();
  EXPECT_EQ(item->GetFieldNumber(), -1);
  item->AddRef();
  item->Release();
}

TEST(NativeDriverTest, FormatConnectionString) {
  Fixture f;
  ConnectionDesc desc = Connection(u"BASE");
  desc.provider = u"xBase";
  desc.password = u"";
  desc.access_mode = kAccessReadOnly;
  char16_t text[256];
  const uint32_t length = f.driver->FormatConnectionString(&desc, text, 256);
  const std::u16string expected =
      u"Connection=BASE;Provider=xBase;ExtendedInformation=NULL;"
      u"Data source=/data;user id=NULL;password=;access=R";
  EXPECT_EQ(std::u16string(text), expected);
  EXPECT_EQ(length, expected.size());
  desc.access_mode = kAccessReadWrite;
  char16_t cut[12];
  f.driver->FormatConnectionString(&desc, cut, 12);
  EXPECT_EQ(std::u16string(cut), u"Connection=");
}

TEST(NativeDriverTest, ConnectionRegistryAccounting) {
  Fixture f;
  ConnectionDesc base = Connection(u"BASE");
  EXPECT_EQ(f.driver->OpenConnection(&base), 1);
  EXPECT_EQ(f.driver->connection_count(), 1u);
  FakeConnection* c = f.driver->connections[u"BASE"];
  // Registry + OpenConnection: C1.
  EXPECT_EQ(c->references(), 2u);
  // A name differing in case is the same connection.
  ConnectionDesc upper = Connection(u"base");
  EXPECT_EQ(f.driver->OpenConnection(&upper), 1);
  EXPECT_EQ(c->references(), 3u);
  EXPECT_EQ(f.driver->connection_count(), 1u);

  // Each lookup drops its reference at the end.
  FileDesc file;
  file.name = u"CLIENTS";
  EXPECT_EQ(f.driver->TableFileExists(&base, &file), 1);
  EXPECT_EQ(f.driver->checked, u"CLIENTS");
  EXPECT_EQ(c->references(), 3u);

  // The first close keeps it (one open left); the second destroys it.
  EXPECT_EQ(f.driver->CloseConnection(&base), 1);
  EXPECT_EQ(c->references(), 2u);
  EXPECT_EQ(f.counters.destroyed_connections, 0);
  EXPECT_EQ(f.driver->CloseConnection(&base), 1);
  EXPECT_EQ(f.counters.destroyed_connections, 1);
  EXPECT_EQ(f.driver->connection_count(), 0u);
  // Closing an unknown connection is harmless.
  EXPECT_EQ(f.driver->CloseConnection(&base), 1);

  // A failed open leaves the registry at once; state 2.
  f.driver->connection_open_result = 0;
  ConnectionDesc bad = Connection(u"BAD");
  EXPECT_EQ(f.driver->OpenConnection(&bad), 0);
  EXPECT_EQ(f.driver->connection_count(), 0u);
  EXPECT_EQ(f.counters.destroyed_connections, 2);
  EXPECT_EQ(f.driver->GetErrorContext()->State(), kErrorStateFailed);
}

TEST(NativeDriverTest, FindingAnUnknownConnectionRaises) {
  Fixture f;
  ConnectionDesc ghost = Connection(u"FANTOME");
  EXPECT_EQ(f.driver->EndTransaction(&ghost), 0);
  EXPECT_EQ(f.Message(),
            u"La connexion <FANTOME> n'est pas une connexion valide.");
  EXPECT_EQ(f.driver->ConnectionQuery(&ghost), 0);
  EXPECT_EQ(f.driver->ConnectionAction(&ghost, 1, 2), 0);
  EXPECT_EQ(f.driver->connection_count(), 0u);

  // Transactions nest on a known connection.
  ConnectionDesc base = Connection(u"BASE");
  EXPECT_EQ(f.driver->StartTransaction(&base, u"T1"), 1);
  EXPECT_EQ(f.driver->StartTransaction(&base, u"T2"), 1);
  FakeConnection* c = f.driver->connections[u"BASE"];
  EXPECT_EQ(c->transaction_depth(), 2u);
  EXPECT_EQ(c->transaction_name(), u"T1");
  EXPECT_EQ(f.driver->EndTransaction(&base), 1);
  EXPECT_EQ(f.driver->EndTransactionEx(&base), 1);
  EXPECT_EQ(f.driver->EndTransaction(&base), 0);
  EXPECT_EQ(c->transaction_depth(), 0u);
  EXPECT_EQ(f.driver->ConnectionQuery(&base), 0);
  EXPECT_EQ(c->opens, 1);  // the question opened it
  EXPECT_EQ(f.driver->GetConnectionProperty(&base, nullptr, 0), 7);
}

TEST(NativeDriverTest, TableHandleRegistry) {
  Fixture f;
  ConnectionDesc base = Connection(u"BASE");
  FileDesc clients;
  clients.name = u"CLIENTS";

  // A failed open drops the handle made for it, unless flag 16 keeps it.
  f.driver->handle_open_result = 0;
  EXPECT_EQ(f.driver->OpenTable(&base, &clients, 0, nullptr), 0);
  EXPECT_EQ(f.driver->table_handle_count(), 0u);
  EXPECT_EQ(f.counters.destroyed_handles, 1);

  f.driver->handle_open_result = 1;
  ITableHandle* handed = nullptr;
  EXPECT_EQ(f.driver->OpenTable(&base, &clients, 0, &handed), 1);
  ASSERT_NE(handed, nullptr);
  FakeHandle* h = f.driver->handles[u"CLIENTS"];
  EXPECT_EQ(h->references(), 2u);  // registry + caller
  handed->Release();
  EXPECT_EQ(f.driver->OpenTableEx(&base, &clients, 0), 1);
  EXPECT_EQ(h->opens, 2);
  EXPECT_EQ(h->references(), 1u);

  // GetTable finds the same handle with one more reference.
  ITableHandle* got = f.driver->GetTable(&base, &clients);
  EXPECT_EQ(got, h);
  EXPECT_EQ(h->references(), 2u);
  got->Release();

  // Broadcasts: all answered 1, or not.
  EXPECT_EQ(f.driver->ForEachTableHandle(1, 0), 1);
  EXPECT_EQ(f.driver->ForEachTableHandle(0, 0), 0);
  f.driver->ForEachTableHandleEx(3, 4);
  EXPECT_EQ(h->notified, 7u);
  EXPECT_EQ(f.driver->TableCommand(&base, u"clients", 99), 1);
  EXPECT_EQ(h->command, 99u);

  // Forget marks the handle; its next close drops it from the registry.
  EXPECT_EQ(f.driver->ForgetTableHandle(&base, u"CLIENTS"), 1);
  EXPECT_TRUE(h->forgotten);
  EXPECT_EQ(f.driver->ForgetTableHandle(&base, u"NONE"), 1);
  EXPECT_EQ(f.driver->CloseTable(&base, u"CLIENTS"), 1);
  EXPECT_EQ(f.driver->table_handle_count(), 0u);
  EXPECT_EQ(f.counters.destroyed_handles, 2);
  EXPECT_EQ(f.driver->CloseTable(&base, u"CLIENTS"), 0);

  // A factory failure without its own error is reported as memory.
  f.driver->refuse_handles = true;
  EXPECT_EQ(f.driver->GetTable(&base, &clients), nullptr);
  EXPECT_EQ(f.driver->GetErrorContext()->State(), kErrorStateOutOfMemory);
}

TEST(NativeDriverTest, QueryRegistryAndDestruction) {
  Fixture f;
  Query query;
  query.id = 42;
  EXPECT_EQ(f.driver->NameQuery(&query, u"Q1"), 0);  // made now
  EXPECT_EQ(f.driver->NameQuery(&query, u"Q2"), 1);  // existed
  EXPECT_EQ(f.driver->query_count(), 1u);
  EXPECT_EQ(f.driver->ReleaseQuery(&query), 1);
  EXPECT_EQ(f.driver->ReleaseQuery(&query), 0);
  EXPECT_EQ(f.counters.destroyed_cursors, 1);

  // Destruction empties every registry and releases what they hold; an
  // open connection is closed first.
  f.driver->NameQuery(&query, u"Q3");
  ConnectionDesc base = Connection(u"BASE");
  FileDesc clients;
  clients.name = u"CLIENTS";
  f.driver->OpenConnection(&base);
  f.driver->OpenTable(&base, &clients, 0, nullptr);
  EXPECT_EQ(f.driver->Release(), 0u);
  f.driver = nullptr;
  EXPECT_EQ(f.counters.destroyed_cursors, 2);
  EXPECT_EQ(f.counters.destroyed_handles, 1);
  EXPECT_EQ(f.counters.destroyed_connections, 1);
  EXPECT_EQ(f.counters.closed_connections, 1);
}

TEST(NativeDriverTest, OperationsFailWithoutTheRegistryLock) {
  Fixture f;
  Framework().registry_lock.reset();
  ConnectionDesc base = Connection(u"BASE");
  EXPECT_EQ(f.driver->OpenConnection(&base), 0);
  EXPECT_EQ(f.driver->connection_count(), 0u);
  EXPECT_EQ(f.driver->Unsupported(), 0);  // not a registry operation
}

TEST(NamesTest, CaseFoldingExtendedInfoAndCopies) {
  EXPECT_TRUE(SameName(u"Clients", u"CLIENTS"));
  EXPECT_TRUE(SameName(u"été", u"ÉTÉ"));
  EXPECT_FALSE(SameName(u"÷", u"×"));
  EXPECT_LT(CompareNames(u"ab", u"ABC"), 0);
  EXPECT_EQ(
      ExtendedInfoValue(u" a = 1 ; OemToAnsi= Windows ;b=2", u"OEMTOANSI"),
      u"Windows");
  EXPECT_EQ(ExtendedInfoValue(u"x=1;x=2", u"X"), u"1");
  EXPECT_EQ(ExtendedInfoValue(u"novalue;y", u"y"), u"");
  char16_t buffer[4];
  EXPECT_EQ(CopyToBuffer(u"abcdef", buffer, 4), 6u);
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_EQ(CopyToBuffer(u"abc", nullptr, 0), 3u);
}

}  // namespace
}  // namespace qx::framework
