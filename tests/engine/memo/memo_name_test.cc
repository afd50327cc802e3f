// The memo file naming rule: ".dbt" or ".fpt" by dialect, FoxPro's
// companions of its other table kinds, letter case, and the checks of the
// public operation.
#include "engine/memo/memo_name.h"

#include <gtest/gtest.h>

#include <string>

#include "qx/engine.h"

namespace qx::engine {
namespace {

TEST(MemoNameTest, FamiliesAndFoxproCompanions) {
  struct Case {
    const char* data;
    int dialect;
    const char* memo;
  };
  const Case cases[] = {
      {"dir/customers.dbf", kKbdDbase3, "dir/customers.dbt"},
      {"C:\\DATA\\CUST.DBF", kKbdClipper, "C:\\DATA\\CUST.DBT"},
      {"cust.DBF", kKbdDbase4, "cust.DBT"},
      {"cust.dbf", kKbdFoxpro1, "cust.fpt"},
      {"cust.Dbf", kKbdFoxpro2, "cust.FPT"},  // the first letter decides
      {"noext", kKbdVisualFoxpro, "noext.fpt"},
      {"a.b/noext", kKbdDbase3, "a.b/noext.dbt"},
      {"form.scx", kKbdVisualFoxpro, "form.sct"},
      {"FORM.SCX", kKbdFoxpro2, "FORM.SCT"},
      {"lib.vcx", kKbdVisualFoxpro, "lib.vct"},
      {"report.frx", kKbdVisualFoxpro, "report.frt"},
      {"label.lbx", kKbdVisualFoxpro, "label.lbt"},
      {"menu.mnx", kKbdVisualFoxpro, "menu.mnt"},
      {"proj.pjx", kKbdVisualFoxpro, "proj.pjt"},
      {"northwind.dbc", kKbdVisualFoxpro, "northwind.dct"},
      {"data.tmp", kKbdVisualFoxpro, "data.fpt"},
      // Outside the FoxPro families the companions mean nothing.
      {"form.scx", kKbdDbase3, "form.dbt"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MemoFileName(c.data, c.dialect), c.memo) << c.data;

  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  char name[16] = {};
  uint8_t kind = 0;
  ASSERT_EQ(kbdmemoname("form.scx", kKbdVisualFoxpro, name, 9, &kind), kKbdOk);
  EXPECT_STREQ(name, "form.sct");
  EXPECT_EQ(kind, kKbdKindFpt);
  ASSERT_EQ(kbdmemoname("a.dbf", kKbdClipper5, name, 16, &kind), kKbdOk);
  EXPECT_EQ(kind, kKbdKindDbt);
  EXPECT_EQ(kbdmemoname("form.scx", kKbdVisualFoxpro, name, 8, &kind),
            kKbdErrBufferOverflow);
  kbdseterror(0);
  EXPECT_EQ(kbdmemoname("a.dbf", 11, name, 16, &kind), kKbdErrCommand);
  kbdseterror(0);
  EXPECT_EQ(kbdmemoname(nullptr, 1, name, 16, &kind), kKbdErrNullPointer);
  kbdterm();
}

}  // namespace
}  // namespace qx::engine
