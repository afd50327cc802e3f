// The component as the host sees it: loaded from libqx180db64.so by the
// platform's module loader (dlopen), driven only through its ten exports
// and the driver and proxy objects.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sstream>

#include "host/hostlib/builders.h"
#include "host/hostlib/component_host.h"
#include "host/vm/vm.h"
#include "platform/platform.h"
#include "tests/host/built_modules.h"
#include "tests/support/pe_file.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using host::ComponentHost;

class LoadedComponent : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host_.Start(testing::kComponentPath, testing::kVmPath, &error))
        << error;
    e_ = &host_.exports();
  }
  std::u16string ErrorMessage() {
    char16_t text[1024];
    host_.driver()->GetErrorContext()->CopyMessage(text, 1024);
    return text;
  }

  ComponentHost host_;
  const host::ComponentExports* e_ = nullptr;
  int version_marker_ = 0;  // an address for out-parameters to clear
};

TEST_F(LoadedComponent, HandshakeAnswers) {
  uint32_t version = 0;
  EXPECT_EQ(e_->dll_compatible(7, 29, &version), 0);
  EXPECT_EQ(version, 30u);
  EXPECT_EQ(e_->dll_compatible(28, 30, &version), 1);
  EXPECT_EQ(e_->dll_compatible(7, 0xFFFFFFFF, &version), 1);  // unsigned
  version = 123;
  EXPECT_EQ(e_->dll_compatible(5, 30, &version), 0);
  EXPECT_EQ(version, 123u);
  // A second bInitLibrary does nothing and answers 1.
  EXPECT_EQ(e_->init_library(nullptr), 1);
}

TEST_F(LoadedComponent, DriverAndProxyReferenceCounts) {
  IDriver* driver = host_.driver();
  EXPECT_EQ(driver->AddRef(), 2u);
  EXPECT_EQ(driver->Release(), 1u);
  ASSERT_NE(driver->GetErrorContext(), nullptr);
  EXPECT_EQ(driver->GetErrorContext()->HasError(), 0);

  EXPECT_EQ(e_->query_proxy(190), nullptr);
  IProxy* proxy = e_->query_proxy(191);
  ASSERT_NE(proxy, nullptr);
  EXPECT_EQ(proxy->AddRef(), 2u);
  EXPECT_EQ(proxy->Release(), 1u);
  EXPECT_EQ(proxy->GetProxyKind(), 2u);
  EXPECT_EQ(proxy->GetProxyKind2(), 2u);
  EXPECT_EQ(proxy->GetErrorContext(), driver->GetErrorContext());
  // The engine's collation switch: byte order is on at first.
  EXPECT_EQ(proxy->SetAsciiSort(-1), 1);
  EXPECT_EQ(proxy->SetAsciiSort(0), 1);
  EXPECT_EQ(proxy->SetAsciiSort(-1), 0);
  EXPECT_EQ(proxy->SetAsciiSort(1), 0);
  EXPECT_EQ(proxy->SetAsciiSort(-1), 1);
  EXPECT_EQ(proxy->Release(), 0u);

  // Each piQueryInterface makes a new driver object with one reference.
  IDriver* second = e_->query_interface();
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, driver);
  EXPECT_EQ(second->Release(), 0u);

  void* first = &version_marker_;
  uint16_t first_count = 9;
  void* other = &version_marker_;
  uint16_t other_count = 9;
  EXPECT_EQ(e_->declare_proxy(&first, &first_count, &other, &other_count),
            nullptr);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(first_count + other_count, 0);
}

TEST_F(LoadedComponent, MessageTextsAndCategories) {
  EXPECT_EQ(host_.MessageText(2815), u"ERREUR - Fichier corrompu.");
  EXPECT_EQ(host_.MessageText(29043), u"DataSource : ");
  // A capacity too small answers capacity - 1.
  char16_t buffer[8];
  MessageRequest request;
  request.id = 2815;
  request.buffer = buffer;
  request.capacity = 8;
  EXPECT_EQ(
      e_->command(kCommandMessageText, reinterpret_cast<intptr_t>(&request)),
      7);
  EXPECT_EQ(request.result, 7);
  EXPECT_EQ(std::u16string(buffer), u"ERREUR ");
  request.id = 123456;
  EXPECT_EQ(
      e_->command(kCommandMessageText, reinterpret_cast<intptr_t>(&request)),
      0);
  EXPECT_EQ(request.result, 0);

  EXPECT_EQ(e_->command(kCommandMessageCategory, 3038), 2);
  EXPECT_EQ(e_->command(kCommandMessageCategory, 3072), 3);
  EXPECT_EQ(e_->command(kCommandMessageCategory, 2658), 1);
  EXPECT_EQ(e_->command(kCommandMessageCategory, 2621), 0);
  EXPECT_EQ(e_->command(kCommandMessageCategory, 123456), -1);
  EXPECT_EQ(e_->command(kCommandMessageCategory,
                        static_cast<intptr_t>(0x1000000000LL | 3072)),
            3);  // the low 32 bits
  EXPECT_EQ(e_->command(99, 0), 0);
}

TEST_F(LoadedComponent, ExecutionUseCount) {
  // Host object 9 answers 2: event 4963 asks the handler, which accepts.
  EXPECT_EQ(e_->execution(kEventHostObjectQuery, nullptr, 0, 0), 1u);
  ExecutionStart start;
  start.size = kExecutionStartBaseSize;
  start.vm_module = host_.vm_module();
  EXPECT_EQ(e_->execution(kEventStart, &start, 0, 0), 1u);
  EXPECT_EQ(e_->execution(kEventStop, nullptr, 0, 0), 1u);
  EXPECT_EQ(e_->execution(kEventHostObjectQuery, nullptr, 0, 0), 1u);  // alive
  EXPECT_EQ(e_->execution(kEventStop, nullptr, 0, 0), 1u);
  EXPECT_EQ(e_->execution(kEventHostObjectQuery, nullptr, 0, 0), 2u);  // gone
  EXPECT_EQ(e_->execution(kEventStop, nullptr, 0, 0), 1u);  // no handler
  // The handler was made once: the host values were read once.
  EXPECT_EQ(host_.VmExecution(vm::kVmEventQueryCount, 0), 13u);
  EXPECT_EQ(e_->execution(kEventAccept, nullptr, 0, 0), 0u);
  EXPECT_EQ(e_->execution(kEventForward, nullptr, 0, 0), 1u);
  EXPECT_EQ(e_->execution(kEventStoreValue12, nullptr, 0, 0), 1u);
  EXPECT_EQ(e_->execution(1234, nullptr, 0, 0), 0u);
  // Restart the handler for the host's own 4875 at stop.
  EXPECT_EQ(e_->execution(kEventStart, &start, 0, 0), 1u);
}

TEST_F(LoadedComponent, DriverWorksThroughItsSlots) {
  IDriver* driver = host_.driver();
  EXPECT_EQ(driver->GetDriverKind(), 18u);
  EXPECT_EQ(driver->GetDriverSubKind(), 17u);
  EXPECT_EQ(driver->Unsupported(), 0);
  EXPECT_EQ(ErrorMessage(), u"Opération non supportée.");
  EXPECT_EQ(driver->ResetErrors(), 0);
  EXPECT_EQ(driver->GetErrorContext()->HasError(), 0);

  testing::TempDir dir;
  host::ConnectionBuilder cnx(u"BASE");
  cnx.DataSource(platform::Utf8ToUtf16(dir.path()));
  EXPECT_EQ(driver->OpenConnection(cnx.Get()), 1);
  host::FileBuilder file(u"CLIENTS");
  EXPECT_EQ(driver->TableFileExists(cnx.Get(), file.Get()), 0);
  EXPECT_EQ(ErrorMessage(), u"Le fichier '" +
                                platform::Utf8ToUtf16(dir.path()) +
                                u"\\CLIENTS.dbf' n'existe pas.");
  EXPECT_EQ(driver->GetErrorContext()->State(), kErrorStateFailed);
  testing::WriteWholeFile(dir.File("clients.dbf"), "x");
  EXPECT_EQ(driver->TableFileExists(cnx.Get(), file.Get()), 1);
  EXPECT_EQ(driver->CloseConnection(cnx.Get()), 1);

  HostValue value;
  EXPECT_EQ(driver->GetNullValue(&value), 1);
  EXPECT_EQ(value.type, kValueNull);
  IItemValue* memo = driver->CreateItemValue(kItemTextMemo);
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo->HasFixedSize(), 0);
  memo->AddRef();
  memo->Release();
  EXPECT_EQ(driver->CreateItemValue(8), nullptr);
  EXPECT_EQ(driver->OpenFileDescription(u"x.dbf"), nullptr);
  EXPECT_EQ(driver->PrepareTable(cnx.Get(), file.Get()), 1);
}

TEST(ComponentLoadTest, UnloadStopsALiveHandler) {
  ComponentHost host;
  std::string error;
  {
    ASSERT_TRUE(host.Start(testing::kComponentPath, testing::kVmPath, &error))
        << error;
  }
  ExecutionStart start;
  start.vm_module = host.vm_module();
  // One more use than the host's own stop releases.
  ASSERT_EQ(host.exports().execution(kEventStart, &start, 0, 0), 1u);
  host.StopComponent();  // 4875 once, then the unload runs TermLibrary
  EXPECT_EQ(host.VmExecution(vm::kVmEventStoppedCount, 0), 1u);
  // Loading again starts afresh.
  { ASSERT_TRUE(host.Load(testing::kComponentPath, &error)) << error; }
  uint32_t version = 0;
  EXPECT_EQ(host.exports().dll_compatible(7, 30, &version), 1);
  host.Stop();
}

// The export table holds the ten names and nothing else: the dynamic
// symbol table of the shared object, or the export directory of the DLL
// (read from the file itself), whose imports are Windows' own DLLs only.
TEST(ComponentLoadTest, ExportsExactlyTheTenNames) {
  const std::set<std::string> expected(std::begin(host::kExportNames),
                                       std::end(host::kExportNames));
  const std::string image = testing::ReadWholeFile(testing::kComponentPath);
  ASSERT_FALSE(image.empty()) << testing::kComponentPath;
  if (testing::LooksLikePe(image)) {
    testing::PeTables tables;
    std::string error;
    ASSERT_TRUE(testing::ReadPeTables(image, &tables, &error)) << error;
    EXPECT_EQ(
        std::set<std::string>(tables.exports.begin(), tables.exports.end()),
        expected);
    EXPECT_EQ(tables.exports.size(), expected.size());
    for (std::string dll : tables.imports) {
      for (char& c : dll)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_TRUE(dll == "kernel32.dll" || dll == "msvcrt.dll" ||
                  dll == "user32.dll" || dll == "advapi32.dll" ||
                  dll == "ntdll.dll" || dll.rfind("api-ms-win-", 0) == 0)
          << "imports " << dll;
    }
    return;
  }
  std::string output;
  ASSERT_EQ(testing::RunCommand(
                std::string("nm -D --defined-only ") + testing::kComponentPath,
                &output),
            0);
  std::set<std::string> names;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, kind, name;
    if (fields >> address >> kind >> name) names.insert(name);
  }
  EXPECT_EQ(names, expected);
}

}  // namespace
}  // namespace qx
