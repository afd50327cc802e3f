// The component shell in-process: start and stop with the options file,
// the handshake's stored versions, the bindings of the host VM's entries,
// the execution handler and the host values it reads, and the message
// commands. Each test starts from reset state.
#include <gtest/gtest.h>

#include "access/connection/driver_options.h"
#include "component/component_state.h"
#include "component/driver.h"
#include "component/execution.h"
#include "engine/core/engine_state.h"
#include "framework/framework_state.h"
#include "host/vm/vm.h"
#include "platform/platform.h"
#include "qx/exports.h"
#include "tests/host/built_modules.h"
#include "tests/support/test_support.h"

namespace qx::component {
namespace {

using framework::Framework;

// Fresh process-wide state, the system directory pointed at a temporary
// directory (where qxdbins.ini may be written), and the VM module loaded.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetComponentStateForTesting();
    framework::ResetFrameworkStateForTesting();
    access::ResetDriverOptionsForTesting();
    engine::ResetEngineStateForTesting();
    saved_directory_ = platform::SystemDirectory();
    platform::SetSystemDirectory(dir_.path());
    vm_ = platform::LoadModule(testing::kVmPath);
    ASSERT_NE(vm_, nullptr);
    VmEvent(vm::kVmEventReset, 0);
  }
  void TearDown() override {
    TermLibrary();
    platform::UnloadModule(vm_);
    platform::SetSystemDirectory(saved_directory_);
  }
  uintptr_t VmEvent(uint32_t event, uintptr_t argument) {
    auto entry = reinterpret_cast<HostExecutionFn>(
        platform::ModuleSymbol(vm_, "Execution"));
    return entry(event, argument);
  }

  testing::TempDir dir_;
  std::string saved_directory_;
  platform::Module* vm_ = nullptr;
};

TEST_F(ShellTest, OptionsAbsentReadZero) {
  EXPECT_EQ(bInitLibrary(nullptr), 1);
  EXPECT_EQ(access::Options().delete_index, 0);
  EXPECT_EQ(access::Options().duplicates_on, 0);
  EXPECT_EQ(access::Options().sync_writes, 1);
  EXPECT_NE(framework::RegistryLock(), nullptr);
}

TEST_F(ShellTest, OptionsPresentAreReadOnce) {
  testing::WriteWholeFile(dir_.File("qxdbins.ini"),
                          "[OPTION]\nDELETEINDEX=1\nDUPLICATESON=1\n");
  int marker = 0;
  EXPECT_EQ(bInitLibrary(&marker), 1);
  EXPECT_EQ(Component().module, &marker);
  EXPECT_EQ(access::Options().delete_index, 1);
  EXPECT_EQ(access::Options().duplicates_on, 1);
  platform::CriticalSection* lock = framework::RegistryLock();

  // A second start neither reads the file again nor makes a new lock.
  testing::WriteWholeFile(dir_.File("qxdbins.ini"),
                          "[OPTION]\nDELETEINDEX=0\nDUPLICATESON=0\n");
  EXPECT_EQ(bInitLibrary(nullptr), 1);
  EXPECT_EQ(access::Options().delete_index, 1);
  EXPECT_EQ(framework::RegistryLock(), lock);
  EXPECT_EQ(Component().start_count, 2);

  // Stop deletes the lock, forgets the module, and is harmless twice.
  EXPECT_EQ(TermLibrary(), 1);
  EXPECT_EQ(framework::RegistryLock(), nullptr);
  EXPECT_EQ(Component().module, nullptr);
  EXPECT_EQ(TermLibrary(), 1);
}

TEST_F(ShellTest, HandshakeStoresTheHostVersions) {
  bInitLibrary(nullptr);
  uint32_t version = 0;
  EXPECT_EQ(bDLLCompatible(7, 31, &version), 1);
  EXPECT_EQ(bDLLCompatible(28, 29, &version), 0);
  EXPECT_EQ(Framework().handshake_version7, 31u);
  EXPECT_EQ(Framework().handshake_version28, 29u);
  EXPECT_EQ(bDLLCompatible(28, 30, nullptr), 1);
}

TEST_F(ShellTest, BindingsResolveTheVmEntries) {
  bInitLibrary(nullptr);
  EXPECT_EQ(bInitZLConvFromVM(vm_, 1, 2), 0);
  EXPECT_EQ(bInitZLConvFromVM(vm_, 2, 3), 0);
  EXPECT_EQ(bInitZLConvFromVM(nullptr, 2, 2), 0);
  EXPECT_EQ(Framework().convert, nullptr);
  EXPECT_EQ(bInitZLConvFromVM(vm_, 3, 1), 1);
  EXPECT_NE(Framework().convert, nullptr);
  EXPECT_NE(Framework().end_conversion, nullptr);
  EXPECT_EQ(Framework().conversion_module, vm_);
  EXPECT_EQ(Framework().conversion_versions[0], 3);
  ASSERT_NE(Framework().host_proxy, nullptr);
  EXPECT_EQ(*static_cast<int32_t*>(Framework().host_proxy), vm::kVmProxyKind);

  EXPECT_EQ(bInitZLCalcFromVM(vm_, 1, 2), 0);
  EXPECT_EQ(bInitZLCalcFromVM(vm_, 2, 2), 1);
  for (void* entry : Framework().calculations) EXPECT_NE(entry, nullptr);
  EXPECT_EQ(Framework().calculation_module, vm_);

  // A module without the entries: the bindings answer 0.
  platform::Module* other = nullptr;
  { other = platform::LoadModule(testing::kComponentPath); }
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(bInitZLConvFromVM(other, 2, 2), 0);
  EXPECT_EQ(bInitZLCalcFromVM(other, 2, 2), 0);
  platform::UnloadModule(other);
}

TEST_F(ShellTest, ExecutionHandlerReadsTheHostValues) {
  bInitLibrary(nullptr);
  ExecutionStart start;
  start.vm_module = vm_;
  start.first = 4;
  start.second = 5;
  start.size = kExecutionStartBaseSize;  // no override of 7
  EXPECT_EQ(Execution(kEventStart, &start, 0, 0), 1u);
  ASSERT_NE(Component().handler, nullptr);
  EXPECT_EQ(Component().handler->first(), 4u);
  EXPECT_EQ(Component().handler->second(), 5u);
  const uint32_t order[] = {9, 10, 12, 13, 15, 7, 1, 5, 2, 3, 4, 8, 14};
  ASSERT_EQ(VmEvent(vm::kVmEventQueryCount, 0), 13u);
  for (uint32_t i = 0; i < 13; ++i) {
    EXPECT_EQ(VmEvent(vm::kVmEventQueryAt, i), order[i]) << i;
  }
  EXPECT_EQ(Framework().host_values[7], vm::kVmValueBase + 7);
  EXPECT_EQ(Framework().host_values[14], vm::kVmValueBase + 14);
  EXPECT_EQ(Framework().text_setting, vm::kVmTextSetting);  // 24 > 18
  EXPECT_NE(Framework().host_values[9], 0u);

  // 4878 keeps the event data as value 12.
  int data = 0;
  EXPECT_EQ(Execution(kEventStoreValue12, &data, 0, 0), 1u);
  EXPECT_EQ(Framework().host_values[12], reinterpret_cast<uintptr_t>(&data));

  // 4963: host object 9 answering below 2 ends the event with 1.
  VmEvent(vm::kVmEventSetObjectAnswer, 1);
  EXPECT_EQ(Execution(kEventHostObjectQuery, nullptr, 0, 0), 1u);
  VmEvent(vm::kVmEventSetObjectAnswer, 2);
  EXPECT_EQ(Execution(kEventHostObjectQuery, nullptr, 0, 0), 1u);

  // Stop with a live handler tells the host 3052 once.
  EXPECT_EQ(TermLibrary(), 1);
  EXPECT_EQ(Component().handler, nullptr);
  EXPECT_EQ(VmEvent(vm::kVmEventStoppedCount, 0), 1u);
  EXPECT_EQ(TermLibrary(), 1);
  EXPECT_EQ(VmEvent(vm::kVmEventStoppedCount, 0), 1u);
}

TEST_F(ShellTest, ExecutionOverridesValue7AndCountsUses) {
  bInitLibrary(nullptr);
  ExecutionStart start;
  start.vm_module = vm_;
  start.value7 = 777;
  EXPECT_EQ(Execution(kEventStart, &start, 0, 0), 1u);
  EXPECT_EQ(Framework().host_values[7], 777u);
  EXPECT_EQ(VmEvent(vm::kVmEventQueryCount, 0), 12u);  // 7 not asked

  // Value 8 is taken only when larger than the current setting.
  EXPECT_EQ(Execution(kEventStop, nullptr, 0, 0), 1u);
  EXPECT_EQ(Component().handler, nullptr);
  Framework().text_setting = 100;
  EXPECT_EQ(Execution(kEventStart, &start, 0, 0), 1u);
  EXPECT_EQ(Framework().text_setting, 100u);

  EXPECT_EQ(Execution(kEventStart, &start, 0, 0), 1u);
  EXPECT_EQ(Component().handler_use_count, 2u);
  EXPECT_EQ(Execution(kEventStop, nullptr, 0, 0), 1u);
  EXPECT_NE(Component().handler, nullptr);
  EXPECT_EQ(Execution(kEventStop, nullptr, 0, 0), 1u);
  EXPECT_EQ(Component().handler, nullptr);
  // Stopped by 4875: TermLibrary has nothing to tell the host.
  TermLibrary();
  EXPECT_EQ(VmEvent(vm::kVmEventStoppedCount, 0), 0u);

  // A VM module without an Execution entry makes the start fail.
  platform::Module* other =
      platform::LoadModule(qx::testing::SystemMathLibrary());
  ASSERT_NE(other, nullptr);
  start.vm_module = other;
  EXPECT_EQ(Execution(kEventStart, &start, 0, 0), 0u);
  EXPECT_EQ(Component().handler, nullptr);
  platform::UnloadModule(other);
  // Without a VM module the handler starts and reads nothing.
  EXPECT_EQ(Execution(kEventStart, nullptr, 0, 0), 1u);
  EXPECT_EQ(Execution(kEventAccept, nullptr, 0, 0), 0u);
}

int32_t Provider(uint32_t id, char16_t* buffer, uint32_t capacity) {
  if (id != 777 || capacity < 4) return 0;
  buffer[0] = u'h';
  buffer[1] = u'o';
  buffer[2] = u'\0';
  return 2;
}

TEST_F(ShellTest, MessageCommandsAskTheHostProviderFirst) {
  bInitLibrary(nullptr);
  EXPECT_EQ(CommandeComposante(kCommandSetMessageProvider,
                               reinterpret_cast<intptr_t>(&Provider)),
            1);
  char16_t buffer[64];
  MessageRequest request;
  request.buffer = buffer;
  request.capacity = 64;
  request.id = 777;
  EXPECT_EQ(CommandeComposante(kCommandMessageText,
                               reinterpret_cast<intptr_t>(&request)),
            2);
  EXPECT_EQ(std::u16string(buffer), u"ho");
  request.id = 2807;  // the provider has none: the store answers
  EXPECT_EQ(CommandeComposante(kCommandMessageText,
                               reinterpret_cast<intptr_t>(&request)),
            30);
  EXPECT_EQ(std::u16string(buffer), u"WARNING - Le fichier est vide.");
  EXPECT_EQ(CommandeComposante(kCommandMessageText, 0), 0);
}

TEST_F(ShellTest, QueryInterfaceReplacesTheCurrentDriver) {
  bInitLibrary(nullptr);
  IDriver* first = piQueryInterface();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Component().current_driver, first);
  IDriver* second = piQueryInterface();
  EXPECT_EQ(Component().current_driver, second);
  // The proxy binds to the current driver; a driver going clears itself.
  IProxy* proxy = pQueryProxy(191);
  EXPECT_EQ(proxy->GetErrorContext(), second->GetErrorContext());
  EXPECT_EQ(second->Release(), 0u);
  EXPECT_EQ(Component().current_driver, nullptr);
  EXPECT_EQ(proxy->GetErrorContext(), nullptr);  // unbound, not dangling
  EXPECT_EQ(proxy->ForgetTable(nullptr, u"T"), 0);
  EXPECT_EQ(proxy->Release(), 0u);
  EXPECT_EQ(first->Release(), 0u);
  // Without a current driver the proxy is made unbound.
  IProxy* lone = pQueryProxy(191);
  EXPECT_EQ(lone->GetErrorContext(), nullptr);
  lone->Release();
}

}  // namespace
}  // namespace qx::component
