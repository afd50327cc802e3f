// The record keys of index builds: both roads (field bytes, evaluated
// expression) with and without a FOR condition, deleted records, and the
// index family's rules.
#include "engine/index/record_keys.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "qx/engine.h"
#include "tests/support/engine_test_util.h"
#include "tests/support/test_support.h"

namespace qx::engine::index {
namespace {

struct Person {
  const char* name;
  double age;
  const char* birth;
  bool deleted;
};
const Person kPeople[] = {
    {"ada", 36, "18151210", false}, {"bob", 17, "        ", true},
    {"cy", 101, "19230101", false}, {"dee", -5, "20000229", true},
    {"eve", 30, "19940101", false},
};

using KeyList = std::vector<std::string>;

using qx::engine::testing::FieldDef;

class RecordKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kbdterm();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
    const std::string path = dir_.File("people.dbf");
    const KbdFieldDef fields[] = {FieldDef("NAME", 'C', 8),
                                  FieldDef("AGE", 'N', 3),
                                  FieldDef("BIRTH", 'D', 8)};
    ASSERT_EQ(kbddcreate(path.c_str(), 3, fields, kKbdClipper), kKbdOk);
    ASSERT_EQ(kbddopenx(&handle_, path.c_str(), kKbdClipper), kKbdOk);
    for (const Person& p : kPeople) {
      uint32_t recno = 0;
      ASSERT_EQ(kbddput(handle_, 0, p.name), kKbdOk);
      ASSERT_EQ(kbddput(handle_, 1, &p.age), kKbdOk);
      ASSERT_EQ(kbddput(handle_, 2, p.birth), kKbdOk);
      ASSERT_EQ(kbddwrite(handle_, &recno, kKbdWriteAppend), kKbdOk);
      if (p.deleted) {
        ASSERT_EQ(kbdddelete(handle_, recno), kKbdOk);
      }
    }
  }
  void TearDown() override { kbdterm(); }

  // Every record's key as "text", "number" or "-" (excluded), or the
  // status of the first failure.
  KeyList Keys(const char* expression, const char* condition,
               ExprRules rules = ExprRules::kDbase) {
    KeyList keys;
    kbdseterror(kKbdOk);
    int16_t status = RunOperation([&]() -> int16_t {
      LockedRecords records;
      if (int16_t e = records.Begin(handle_)) return e;
      RecordKeyReader reader;
      if (int16_t e =
              reader.Prepare(handle_, expression, "CNFD",
                             NumericKeyRule::kNumericOnly, condition, rules)) {
        return e;
      }
      for (uint32_t recno = 1; recno <= records.record_count(); ++recno) {
        RecordKey key;
        if (int16_t e = reader.Read(recno, &key); e < 0) return e;
        if (!key.included)
          keys.push_back("-");
        else if (key.type == 'C')
          keys.emplace_back(key.text);
        else
          keys.push_back(std::to_string(static_cast<int64_t>(key.number)));
        // A date read from the field also gives its stored text.
        if (key.included && !key.stored_date.empty())
          keys.back() += " " + std::string(key.stored_date);
      }
      return kKbdOk;
    });
    if (status < 0) return {"error " + std::to_string(status)};
    return keys;
  }

  qx::testing::TempDir dir_;
  int16_t handle_ = kKbdNoHandle;
};

TEST_F(RecordKeysTest, ForConditionsOnBothRoads) {
  // Field bytes, no condition.
  EXPECT_EQ(Keys("AGE", ""), (KeyList{"36", "17", "101", "-5", "30"}));
  EXPECT_EQ(Keys("NAME", "  "), (KeyList{"ada     ", "bob     ", "cy      ",
                                         "dee     ", "eve     "}));
  // Field bytes, with a condition evaluated on the record.
  EXPECT_EQ(Keys("AGE", "AGE>30"), (KeyList{"36", "-", "101", "-", "-"}));
  EXPECT_EQ(
      Keys("BIRTH", ".NOT.DELETED()"),
      (KeyList{std::to_string(DateToKeyDay(1815, 12, 10)) + " 18151210", "-",
               std::to_string(DateToKeyDay(1923, 1, 1)) + " 19230101", "-",
               std::to_string(DateToKeyDay(1994, 1, 1)) + " 19940101"}));
  // An evaluated date has no stored text.
  EXPECT_EQ(
      Keys("BIRTH+1", "RECNO()=3"),
      (KeyList{"-", "-", std::to_string(DateToKeyDay(1923, 1, 2)), "-", "-"}));
  // An evaluated key, with and without a condition.
  EXPECT_EQ(Keys("UPPER(NAME)", "DELETED()"),
            (KeyList{"-", "BOB     ", "-", "DEE     ", "-"}));
  EXPECT_EQ(Keys("IIF(AGE<18,'minor','adult')", "RECNO()%2=1"),
            (KeyList{"adult", "-", "adult", "-", "adult"}));
  // The family's rules.
  EXPECT_EQ(Keys("STR(AGE)+NAME", "AGE<0", ExprRules::kClipper),
            (KeyList{"-", "-", "-", " -5dee     ", "-"}));
  EXPECT_EQ(Keys("STR(AGE)+NAME", "AGE<0"),
            (KeyList{"-", "-", "-", "        -5dee     ", "-"}));
  // A condition that is no logical, or does not parse.
  EXPECT_EQ(Keys("AGE", "NAME"), (KeyList{"error -7"}));
  EXPECT_EQ(Keys("AGE", "AGE>"), (KeyList{"error -7"}));
}

}  // namespace
}  // namespace qx::engine::index
