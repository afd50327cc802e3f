// Tests of process identity, the date, module loading and the recursive
// critical section.

#include <thread>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace qx::platform {
namespace {

TEST(SystemTest, ProcessIdentityAndDate) {
  EXPECT_EQ(CurrentProcessId(),
            static_cast<uint32_t>(qx::testing::CurrentTestProcessId()));
  // The child answers its own id, or -2 when the two ways disagree.
  qx::testing::ChildProcess child([](int) {
    return CurrentProcessId() ==
                   static_cast<uint32_t>(qx::testing::CurrentTestProcessId())
               ? static_cast<int>(CurrentProcessId())
               : -2;
  });
  const int child_id = child.Run(1);
  EXPECT_GT(child_id, 0);
  EXPECT_NE(static_cast<uint32_t>(child_id), CurrentProcessId());
  const LocalDate today = Today();
  EXPECT_GE(today.year, 2024);
  EXPECT_GE(today.month, 1);
  EXPECT_LE(today.month, 12);
  EXPECT_GE(today.day, 1);
  EXPECT_LE(today.day, 31);
}

TEST(SystemTest, LoadsModulesAndFindsSymbols) {
  EXPECT_EQ(LoadModule("libqx-no-such-module.so"), nullptr);
  EXPECT_EQ(LastError(), kErrorModNotFound);

  Module* libm = LoadModule(qx::testing::SystemMathLibrary());
  ASSERT_NE(libm, nullptr);
  EXPECT_EQ(LastError(), kErrorSuccess);
  void* symbol = ModuleSymbol(libm, "cos");
  ASSERT_NE(symbol, nullptr);
  auto cosine = reinterpret_cast<double (*)(double)>(symbol);
  EXPECT_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(ModuleSymbol(libm, "qx_no_such_symbol"), nullptr);
  EXPECT_EQ(LastError(), kErrorProcNotFound);
  // The module a symbol lies in is the module it was loaded from.
  EXPECT_EQ(ModuleOf(symbol), libm);
  EXPECT_TRUE(UnloadModule(libm));
  EXPECT_FALSE(UnloadModule(nullptr));

  // Code of the program itself lies in the main program's module.
  Module* self = ModuleOf(reinterpret_cast<const void*>(&Today));
  EXPECT_NE(self, nullptr);
  EXPECT_EQ(ModuleOf(nullptr), nullptr);
  EXPECT_EQ(LastError(), kErrorModNotFound);
}

TEST(SystemTest, CriticalSectionIsRecursive) {
  CriticalSection cs;
  auto other_thread_enters = [&] {
    bool entered = false;
    std::thread t([&] {
      entered = cs.TryEnter();
      if (entered) cs.Leave();
    });
    t.join();
    return entered;
  };
  {
    CriticalSectionLock outer(cs);
    CriticalSectionLock inner(cs);  // the owner enters again
    EXPECT_TRUE(cs.TryEnter());
    cs.Leave();
    EXPECT_FALSE(other_thread_enters());
  }
  EXPECT_TRUE(other_thread_enters());
}

}  // namespace
}  // namespace qx::platform
