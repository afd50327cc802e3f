// Key expressions on real data files: kbddeval end to end, the key and
// FOR condition of a record for the index modules, the rules by dialect,
// and the handle and pointer checks.
#include "engine/expr/record_source.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <string>

#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/expr/extensions.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine {
namespace {

const std::string kName = "john Smith          ";  // C(20)
const std::string kCity = "PARIS          ";       // C(15)

KbdFieldDef Field(const char* name, char type, uint16_t length,
                  uint16_t decimals = 0) {
  KbdFieldDef def{};
  std::strncpy(def.name, name, sizeof(def.name) - 1);
  def.type = static_cast<uint16_t>(type);
  def.length = length;
  def.decimals = decimals;
  return def;
}

class RecordSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kbdterm();
    ResetEvaluatorStateForTesting();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
    path_ = dir_.File("people.dbf");
    const KbdFieldDef fields[] = {
        Field("NAME", 'C', 20),    Field("CITY", 'C', 15),
        Field("PRICE", 'N', 8, 2), Field("TAX", 'N', 6, 2),
        Field("RATE", 'F', 8, 3),  Field("BIRTH", 'D', 8),
        Field("DONE", 'L', 1),     Field("NOTES", 'M', 10),
    };
    ASSERT_EQ(kbddcreate(path_.c_str(), std::size(fields), fields, kKbdDbase4),
              kKbdOk);
    ASSERT_EQ(kbddopenx(&handle_, path_.c_str(), kKbdDbase4), kKbdOk);
    Append(kName, kCity, 12.5, "19840229");
    Append("second", "LYON", 1, "        ");
    ASSERT_EQ(kbddread(handle_, 1), kKbdOk);
  }
  void TearDown() override {
    kbdseterror(kKbdOk);
    kbddclose(handle_);
    kbdterm();
    ResetEvaluatorStateForTesting();
  }

  void Append(const std::string& name, const std::string& city, double price,
              const char* birth) {
    double tax = 2.25, rate = 1.25;
    uint32_t notes = 42, recno = 0;
    ASSERT_EQ(kbddput(handle_, 0, name.c_str()), kKbdOk);
    ASSERT_EQ(kbddput(handle_, 1, city.c_str()), kKbdOk);
    ASSERT_EQ(kbddput(handle_, 2, &price), kKbdOk);
    ASSERT_EQ(kbddput(handle_, 3, &tax), kKbdOk);
    ASSERT_EQ(kbddput(handle_, 4, &rate), kKbdOk);
    ASSERT_EQ(kbddput(handle_, 5, birth), kKbdOk);
    ASSERT_EQ(kbddput(handle_, 6, "T"), kKbdOk);
    ASSERT_EQ(kbddput(handle_, 7, &notes), kKbdOk);
    ASSERT_EQ(kbddwrite(handle_, &recno, kKbdWriteAppend), kKbdOk);
  }

  // kbddeval's result as "C:text", "D:text", "N:14.75", "L:1", "M:42" or
  // "error -7", its buffer checked and released.
  std::string Show(const char* text, int16_t limit = -1) {
    kbdseterror(kKbdOk);
    void* value = &handle_;
    char type = 'x';
    uint16_t length = 99;
    int16_t status = kbddeval(handle_, text, limit, &value, &type, &length);
    if (status < 0) {
      EXPECT_TRUE(value == nullptr && type == ' ' && length == 0) << text;
      return "error " + std::to_string(status);
    }
    std::string shown = std::string(1, type) + ":";
    const char* bytes = static_cast<const char*>(value);
    double number = 0;
    switch (type) {
      case 'C':
      case 'D':
        EXPECT_EQ(bytes[length], '\0') << text;
        shown.append(bytes, length);
        break;
      case 'N':
      case 'F':
        EXPECT_EQ(length, sizeof(double));
        std::memcpy(&number, value, sizeof(double));
        break;
      case 'L':
        EXPECT_EQ(length, 1);
        number = static_cast<uint8_t>(bytes[0]);
        break;
      case 'M': {
        EXPECT_EQ(length, 4);
        uint32_t block;
        std::memcpy(&block, value, sizeof(block));
        number = block;
      }
    }
    kbdfree(value);
    if (type == 'C' || type == 'D') return shown;
    char digits[32];
    return shown.append(digits, std::to_chars(digits, digits + 32, number).ptr);
  }

  int16_t Key(const char* text, NumericKeyRule rule, KeyValue* key) {
    kbdseterror(kKbdOk);
    return RunOperation([&] { return EvaluateKey(handle_, text, rule, key); });
  }

  qx::testing::TempDir dir_;
  std::string path_;
  int16_t handle_ = kKbdNoHandle;
};

TEST_F(RecordSourceTest, EvaluatesOnTheCurrentRecord) {
  const std::pair<const char*, std::string> kCases[] = {
      {"NAME+CITY", "C:" + kName + kCity},  // both at full width
      {"name + city+ZONE9", "C:" + kName + kCity + "ZONE9"},
      {"PRICE+TAX", "N:14.75"},
      {"RATE+PRICE", "F:13.75"},
      {"NAME+PRICE", "error -7"},
      {"STR(PRICE,8,2)", "C:   12.50"},
      {"STR(PRICE)", "C:        13"},
      {"UPPER(LEFT(NAME,3))", "C:JOH"},
      {"LEFT(PRICE,3)", "error -7"},
      {"ZONE9", "C:ZONE9"},
      {"123", "N:123"},
      {"PRICEXXXXXX+NAME", "error -7"},  // 11 characters before '+'
      {"SUBSTR(NAME,19,10)", "C:  "},
      {"BIRTH", "D:19840229"},
      {"DONE", "L:1"},
      {"NOTES", "M:42"},
  };
  for (const auto& [text, expected] : kCases)
    EXPECT_EQ(Show(text), expected) << text;
  EXPECT_EQ(kbdgeterror(), kKbdOk);
  EXPECT_EQ(Show("LEFT(PRICE,3)"), "error -7");
  EXPECT_EQ(kbdgeterror(), kKbdErrKeyExpression);

  EXPECT_EQ(Show("NAME+CITY", 1), "C:" + kName);
  EXPECT_EQ(Show("NAME", 0), "error -7");

  // Another record, another value.
  kbdseterror(kKbdOk);
  ASSERT_EQ(kbddread(handle_, 2), kKbdOk);
  EXPECT_EQ(Show("LEFT(NAME,6)+LEFT(CITY,4)"), "C:secondLYON");
  EXPECT_EQ(Show("DTOS(BIRTH)"), "C:        ");
}

TEST_F(RecordSourceTest, DatesFollowTheTaskFormat) {
  for (uint16_t format : {4, 7, 2, 5, 3}) {
    SCOPED_TRACE(format);
    ASSERT_EQ(kbdsetdatefmt(format), kKbdOk);
    EXPECT_EQ(Show("DTOS(BIRTH)"), "C:19840229");
  }
  ASSERT_EQ(kbdsetdatefmt(7), kKbdOk);
  EXPECT_EQ(Show("BIRTH"), "D:29.02.1984");
  EXPECT_EQ(Show("DTOC(BIRTH)"), "C:29.02.1984");
}

TEST_F(RecordSourceTest, ChecksHandleAndPointers) {
  void* value = &handle_;
  char type = 'x';
  uint16_t length = 7;
  EXPECT_EQ(kbddeval(handle_, nullptr, -1, &value, &type, &length),
            kKbdErrNullPointer);
  EXPECT_TRUE(value == nullptr && type == ' ' && length == 0);
  kbdseterror(kKbdOk);
  EXPECT_EQ(kbddeval(handle_, "NAME", -1, nullptr, &type, &length),
            kKbdErrNullPointer);
  kbdseterror(kKbdOk);
  EXPECT_EQ(kbddeval(handle_, "NAME", -1, &value, nullptr, &length),
            kKbdErrNullPointer);
  for (int16_t bad : {-1, 500, 1019}) {
    kbdseterror(kKbdOk);
    value = &handle_;
    EXPECT_EQ(kbddeval(bad, "NAME", -1, &value, &type, &length), kKbdErrHandle);
    EXPECT_EQ(value, nullptr);
  }
  // The sticky last error: nothing runs until it is cleared.
  kbdseterror(kKbdErrRead);
  value = &handle_;
  EXPECT_EQ(kbddeval(handle_, "NAME", -1, &value, &type, &length), kKbdErrRead);
  EXPECT_EQ(value, nullptr);
}

TEST_F(RecordSourceTest, KeysOfRecords) {
  KeyValue key;
  ASSERT_EQ(Key("NAME+CITY", NumericKeyRule::kNumericOnly, &key), kKbdOk);
  EXPECT_EQ(key.type, 'C');
  EXPECT_EQ(key.text, kName + kCity);
  ASSERT_EQ(Key("PRICE+TAX", NumericKeyRule::kNumericOnly, &key), kKbdOk);
  EXPECT_EQ(key.type, 'N');
  EXPECT_EQ(key.number, 14.75);
  // 'F' is a key only where the format takes it.
  EXPECT_EQ(Key("RATE", NumericKeyRule::kNumericOnly, &key),
            kKbdErrKeyExpression);
  ASSERT_EQ(Key("RATE", NumericKeyRule::kNumericOrFloat, &key), kKbdOk);
  EXPECT_EQ(key.number, 1.25);
  EXPECT_EQ(Key("DONE", NumericKeyRule::kNumericOrFloat, &key),
            kKbdErrKeyExpression);
  EXPECT_EQ(Key("NOTES", NumericKeyRule::kNumericOrFloat, &key),
            kKbdErrKeyExpression);

  // Dates become key day numbers whatever the format; empty ones sort last.
  kbdseterror(kKbdOk);
  for (uint16_t format : {4, 7}) {
    ASSERT_EQ(kbdsetdatefmt(format), kKbdOk);
    ASSERT_EQ(Key("BIRTH", NumericKeyRule::kNumericOnly, &key), kKbdOk);
    EXPECT_EQ(key.type, 'D');
    EXPECT_EQ(key.number, DateToKeyDay(1984, 2, 29));
  }
  ASSERT_EQ(kbddread(handle_, 2), kKbdOk);
  ASSERT_EQ(Key("BIRTH", NumericKeyRule::kNumericOnly, &key), kKbdOk);
  EXPECT_EQ(key.number, kEmptyDateKeyDay);

  kbdseterror(kKbdOk);
  EXPECT_EQ(RunOperation([&] {
              return EvaluateKey(int16_t{999}, "NAME",
                                 NumericKeyRule::kNumericOnly, &key);
            }),
            kKbdErrHandle);
}

TEST_F(RecordSourceTest, RecordStateAndConditions) {
  kbdseterror(kKbdOk);
  ASSERT_EQ(kbdddelete(handle_, 2), kKbdOk);
  ASSERT_EQ(kbddread(handle_, 1), kKbdOk);
  EXPECT_EQ(Show("DELETED()"), "L:0");
  EXPECT_EQ(Show("RECNO()"), "N:1");
  EXPECT_EQ(Show("IIF(DONE,'Y','N')+STR(RECNO(),3)"), "C:Y  1");
  kbdseterror(kKbdOk);
  ASSERT_EQ(kbddread(handle_, 2), kKbdDeletedRecord);
  EXPECT_EQ(Show("DELETED()"), "L:1");
  EXPECT_EQ(Show(".NOT.DELETED()"), "L:0");
  EXPECT_EQ(Show("RECNO()"), "N:2");

  // kbddcond: a FOR condition's verdict on the current record.
  struct Case {
    const char* condition;
    int16_t status;
    int16_t accepted;
  };
  const Case kCases[] = {
      {".NOT.DELETED()", kKbdOk, 0},
      {"DELETED() .AND. price < 2", kKbdOk, 1},
      {"TRIM(UPPER(city))=='LYON'", kKbdOk, 1},
      {"", kKbdOk, 1},  // no condition: every record
      {"   ", kKbdOk, 1},
      {"DONE", kKbdOk, 1},
      {"NAME", kKbdErrKeyExpression, 0},  // not a logical
      {"PRICE >", kKbdErrKeyExpression, 0},
  };
  for (const Case& c : kCases) {
    kbdseterror(kKbdOk);
    int16_t accepted = 7;
    EXPECT_EQ(kbddcond(handle_, c.condition, kKbdExprRulesOfTable, &accepted),
              c.status)
        << c.condition;
    EXPECT_EQ(accepted, c.accepted) << c.condition;
  }
  kbdseterror(kKbdOk);
  int16_t accepted = 0;
  EXPECT_EQ(kbddcond(handle_, "DONE", 3, &accepted), kKbdErrCommand);
  kbdseterror(kKbdOk);
  EXPECT_EQ(kbddcond(handle_, nullptr, 0, &accepted), kKbdErrNullPointer);
  kbdseterror(kKbdOk);
  EXPECT_EQ(kbddcond(handle_, "DONE", 0, nullptr), kKbdErrNullPointer);

  // The same through the engine's call, on the record buffer.
  bool holds = false;
  kbdseterror(kKbdOk);
  EXPECT_EQ(RunOperation([&] {
              return EvaluateCondition(handle_, "RECNO()=2 .AND. DELETED()",
                                       ExprRules::kDbase, &holds);
            }),
            kKbdOk);
  EXPECT_TRUE(holds);
  kbdseterror(kKbdOk);
  EXPECT_EQ(RunOperation([&] {
              return EvaluateCondition(handle_, "STR(PRICE)", ExprRules::kDbase,
                                       &holds);
            }),
            kKbdErrKeyExpression);
  EXPECT_FALSE(holds);
}

TEST_F(RecordSourceTest, RulesFollowTheDialectOrTheCaller) {
  auto eval = [&](int16_t rules) {
    kbdseterror(kKbdOk);
    void* value = nullptr;
    char type = ' ';
    uint16_t length = 0;
    int16_t status =
        kbddevalx(handle_, "STR(PRICE)", -1, rules, &value, &type, &length);
    std::string text =
        status < 0 ? "error " + std::to_string(status)
                   : std::string(static_cast<const char*>(value), length);
    kbdfree(value);
    return text;
  };
  // PRICE is N(8,2).
  EXPECT_EQ(eval(kKbdExprRulesOfTable), "        13");  // dBASE IV
  EXPECT_EQ(eval(kKbdExprRulesDbase), "        13");
  EXPECT_EQ(eval(kKbdExprRulesClipper), "   12.50");
  EXPECT_EQ(eval(-1), "error -12");
  // A table open in a Clipper dialect gets Clipper rules.
  kbdseterror(kKbdOk);
  ASSERT_EQ(kbddclose(handle_), kKbdOk);
  const std::string clipper = dir_.File("clip.dbf");
  const KbdFieldDef price = Field("PRICE", 'N', 8, 2);
  ASSERT_EQ(kbddcreate(clipper.c_str(), 1, &price, kKbdClipper), kKbdOk);
  for (uint16_t dialect : {kKbdClipper, kKbdClipper5, kKbdDbase3}) {
    ASSERT_EQ(kbddopenx(&handle_, clipper.c_str(), dialect), kKbdOk);
    if (dialect == kKbdClipper) {
      double value = 12.5;
      uint32_t recno = 0;
      ASSERT_EQ(kbddput(handle_, 0, &value), kKbdOk);
      ASSERT_EQ(kbddwrite(handle_, &recno, kKbdWriteAppend), kKbdOk);
    }
    ASSERT_EQ(kbddread(handle_, 1), kKbdOk);
    EXPECT_EQ(Show("STR(PRICE)"),
              dialect == kKbdDbase3 ? "C:        13" : "C:   12.50")
        << dialect;
    EXPECT_EQ(eval(kKbdExprRulesDbase), "        13");
    kbdseterror(kKbdOk);
    ASSERT_EQ(kbddclose(handle_), kKbdOk);
  }
  ASSERT_EQ(kbddopenx(&handle_, path_.c_str(), kKbdDbase4), kKbdOk);
  EXPECT_EQ(RulesOfDialect(kKbdFoxpro2), ExprRules::kDbase);
  EXPECT_EQ(RulesOfDialect(kKbdClipper5), ExprRules::kClipper);
}

// An extension function may not start a second evaluation.
int16_t g_nested_status = 0;
int16_t g_handle = kKbdNoHandle;
int16_t Nested(KbdExprContext* context) {
  void* value = nullptr;
  char type;
  uint16_t length;
  g_nested_status = kbddeval(g_handle, "NAME", -1, &value, &type, &length);
  kbdfree(value);
  kbdseterror(kKbdOk);
  kbdeexpect(context, ')');
  return kbderesult(context, "N", 'C', 1);
}

TEST_F(RecordSourceTest, ExtensionsRunThroughKbddeval) {
  const KbdExtFunction kTable[] = {{"NESTED(", Nested, 7}};
  kbddclose(handle_);
  ASSERT_EQ(kbdinitx(32767, 4, kTable, 1), kKbdOk);
  ASSERT_EQ(kbddopenx(&handle_, path_.c_str(), kKbdDbase4), kKbdOk);
  ASSERT_EQ(kbddread(handle_, 1), kKbdOk);
  g_handle = handle_;
  EXPECT_EQ(Show("NESTED()+LEFT(NAME,4)"), "C:Njohn");
  EXPECT_EQ(g_nested_status, kKbdErrCommand);
}

}  // namespace
}  // namespace qx::engine
