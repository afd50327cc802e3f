// The reference host's loader: the start and stop sequences and their
// failures.
#include "host/hostlib/component_host.h"

#include <gtest/gtest.h>

#include "host/vm/vm.h"
#include "tests/host/built_modules.h"

namespace qx::host {
namespace {

TEST(ComponentHostTest, StartsAndStopsTheComponent) {
  ComponentHost host;
  std::string error;
  {
    ASSERT_TRUE(host.Start(testing::kComponentPath, testing::kVmPath, &error))
        << error;
  }
  ASSERT_NE(host.driver(), nullptr);
  EXPECT_EQ(host.driver()->GetDriverKind(), 18u);
  // The component read the host values at Execution 3985.
  EXPECT_EQ(host.VmExecution(vm::kVmEventQueryCount, 0), 13u);
  EXPECT_EQ(host.MessageText(2963), u"Le fichier '%1!s!' n'existe pas.");
  host.StopComponent();
  EXPECT_EQ(host.driver(), nullptr);
  EXPECT_EQ(host.component_module(), nullptr);
  // The handler was stopped by 4875 before the unload: no 3052.
  EXPECT_EQ(host.VmExecution(vm::kVmEventStoppedCount, 0), 0u);
  host.Stop();
  host.Stop();  // harmless
  EXPECT_EQ(host.vm_module(), nullptr);
}

TEST(ComponentHostTest, ReportsTheFailingStep) {
  ComponentHost host;
  std::string error;
  EXPECT_FALSE(
      host.Start(testing::kComponentPath, "/nonexistent/libvm.so", &error));
  EXPECT_EQ(error, "cannot load the VM module /nonexistent/libvm.so");
  // The VM module is not a component: it lacks the ten exports.
  ComponentHost wrong;
  EXPECT_FALSE(wrong.Start(testing::kVmPath, testing::kVmPath, &error));
  EXPECT_EQ(error, "the component lacks one of its ten exports");
}

}  // namespace
}  // namespace qx::host
