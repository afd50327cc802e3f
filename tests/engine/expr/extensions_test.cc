// Extension functions of key expressions: installing a table with
// kbdinitx, the binary search, the calling convention and the context
// calls.
#include "engine/expr/extensions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/last_error.h"
#include "engine/expr/expression.h"
#include "tests/engine/expr/fake_field_source.h"

namespace qx::engine {
namespace {

FakeFieldSource* g_source = nullptr;  // for NEST(
KbdExprContext* g_kept = nullptr;     // for KEEP(

// Reads one argument term; false when that failed or the type differs.
bool Argument(KbdExprContext* context, char wanted, std::string* text,
              double* number = nullptr) {
  const void* value;
  char type;
  uint16_t length;
  if (kbdeterm(context, &value, &type, &length) < 0 || type != wanted)
    return false;
  if (text) text->assign(static_cast<const char*>(value), length);
  if (number) *number = *static_cast<const double*>(value);
  return true;
}

int16_t Text(KbdExprContext* context, const std::string& text) {
  return kbderesult(context, text.data(), 'C',
                    static_cast<uint16_t>(text.size()));
}

// REV(text): the text reversed.
int16_t Reverse(KbdExprContext* context) {
  std::string text;
  if (!Argument(context, 'C', &text)) return kKbdErrKeyExpression;
  if (kbdeexpect(context, ')') < 0) return kKbdErrKeyExpression;
  std::reverse(text.begin(), text.end());
  return Text(context, text);
}

// ADD(number, n): the number plus the integer n.
int16_t Add(KbdExprContext* context) {
  double sum = 0;
  int32_t n = 0;
  if (!Argument(context, 'N', nullptr, &sum) || kbdeexpect(context, ',') < 0 ||
      kbdeint(context, &n) < 0 || kbdeexpect(context, ')') < 0) {
    return kKbdErrKeyExpression;
  }
  sum += n;
  return kbderesult(context, &sum, 'N', 0);
}

// CAT(a, b): two texts; a's value must survive reading b.
int16_t Concatenate(KbdExprContext* context) {
  const void* first;
  char type;
  uint16_t length;
  std::string second;
  if (kbdeterm(context, &first, &type, &length) < 0 ||
      kbdeexpect(context, ',') < 0 || !Argument(context, 'C', &second) ||
      kbdeexpect(context, ')') < 0) {
    return kKbdErrKeyExpression;
  }
  return Text(context,
              std::string(static_cast<const char*>(first), length) + second);
}

// OPT(text [, n]): the first n characters, all without n.
int16_t Optional(KbdExprContext* context) {
  std::string text;
  char next = 0;
  int32_t n = 1000;
  if (!Argument(context, 'C', &text) || kbdepeek(context, &next) < 0)
    return kKbdErrKeyExpression;
  if (next == ',' && (kbdeexpect(context, ',') < 0 || kbdeint(context, &n) < 0))
    return kKbdErrKeyExpression;
  if (kbdeexpect(context, ')') < 0) return kKbdErrKeyExpression;
  return Text(context, text.substr(0, n));
}

// Functions without arguments, each showing one rule of the convention.
int16_t DateValue(KbdExprContext* context) {
  kbdeexpect(context, ')');
  return kbderesult(context, "19991231", 'D', 8);
}
int16_t Failing(KbdExprContext* context) {
  kbdeexpect(context, ')');
  return kKbdErrData;
}
int16_t Warning(KbdExprContext* context) {
  kbdeexpect(context, ')');
  Text(context, "W");
  return kKbdFieldTruncated;
}
int16_t NoValue(KbdExprContext* context) { return kbdeexpect(context, ')'); }
int16_t Swallow(KbdExprContext* context) {
  kbdeexpect(context, 'X');  // fails; the function carries on regardless
  kbdseterror(kKbdOk);
  kbdeexpect(context, ')');
  return Text(context, "S");
}
int16_t BadType(KbdExprContext* context) {
  kbdeexpect(context, ')');
  kbderesult(context, "?", 'X', 1);
  return kKbdOk;
}
int16_t Keep(KbdExprContext* context) {
  g_kept = context;
  kbdeexpect(context, ')');
  uint8_t logical = 1;
  return kbderesult(context, &logical, 'L', 1);
}
int16_t OverrideLeft(KbdExprContext* context) {
  int32_t n;
  Argument(context, 'C', nullptr);
  kbdeexpect(context, ',');
  kbdeint(context, &n);
  kbdeexpect(context, ')');
  return Text(context, "OVERRIDE");
}
// NEST(): tries to start a second evaluation and to reinstall the table.
int16_t Nest(KbdExprContext* context) {
  kbdeexpect(context, ')');
  ExprValue inner;
  if (EvaluateExpression(g_source, "NAME", -1, 4, &inner) != kKbdErrCommand ||
      kbdinitx(0, 0, nullptr, 0) != kKbdErrCommand) {
    return kKbdErrCorrupt;
  }
  return kKbdErrCommand;
}

const KbdExtFunction kTable[] = {
    {"ADD(", Add, 4},           {"BADTYPE(", BadType, 8},
    {"CAT(", Concatenate, 4},   {"DATE(", DateValue, 5},
    {"FAIL(", Failing, 5},      {"KEEP(", Keep, 5},
    {"LEFT(", OverrideLeft, 5}, {"NEST(", Nest, 5},
    {"NOVAL(", NoValue, 6},     {"OPT(", Optional, 4},
    {"REV(", Reverse, 4},       {"SWALLOW(", Swallow, 8},
    {"WARN(", Warning, 5},
};

class ExtensionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kbdterm();
    ResetEvaluatorStateForTesting();
    ASSERT_EQ(kbdinitx(32767, 4, kTable, std::size(kTable)), kKbdOk);
    source_.AddText("NAME", "Smith");
    source_.AddNumber("PRICE", 'N', 12.5);
    g_source = &source_;
  }
  void TearDown() override {
    kbdterm();
    ResetEvaluatorStateForTesting();
  }

  // "C:text", "N:" for numbers, with " warning n" when one came back.
  std::string Show(std::string_view text) {
    ExprValue value;
    kbdseterror(kKbdOk);
    int16_t status = RunOperation(
        [&] { return EvaluateExpression(&source_, text, -1, 4, &value); });
    if (status < 0) return "error " + std::to_string(status);
    std::string shown = std::string(1, value.type) + ":" + value.text;
    if (value.type == 'N') shown += std::to_string(int(value.number));
    if (status > 0) shown += " warning " + std::to_string(status);
    return shown;
  }

  FakeFieldSource source_;
};

TEST_F(ExtensionsTest, CallsAndResultCodes) {
  const std::pair<const char*, const char*> kCases[] = {
      {"REV(NAME)", "C:htimS"},
      {"rev( name )+NAME", "C:htimSSmith"},
      {"REV(UPPER(NAME))", "C:HTIMS"},  // built-ins nest inside
      {"UPPER(REV(NAME))", "C:HTIMS"},  // and outside
      {"CAT(NAME,REV(NAME))", "C:SmithhtimS"},
      {"OPT(NAME,2)", "C:Sm"},
      {"OPT(NAME)", "C:Smith"},
      {"DTOS(DATE())", "C:19991231"},
      {"LEFT(NAME,2)", "C:OVERRIDE"},  // the table comes first
      {"ADD(PRICE,3)+PRICE", "N:28"},
      {"KEEP()", "L:"},
      {"REV(PRICE)", "error -7"},
      {"REV(NAME", "error -7"},
      {"ADD(PRICE,)", "error -7"},
      {"FAIL()", "error -33"},  // the function's own code
      {"WARN()+NAME", "C:WSmith warning 5"},
      {"NOVAL()", "error -7"},    // no value set
      {"SWALLOW()", "error -7"},  // a context call failed
      {"BADTYPE()", "error -7"},
      {"NEST()", "error -12"},  // one evaluation at a time
  };
  for (const auto& [text, expected] : kCases)
    EXPECT_EQ(Show(text), expected) << text;

  // A context is good only during its call.
  ASSERT_EQ(Show("KEEP()"), "L:");
  char next = 'x';
  EXPECT_EQ(kbdepeek(g_kept, &next), kKbdErrCommand);
  EXPECT_EQ(next, 'x');
  EXPECT_EQ(kbdepeek(nullptr, &next), kKbdErrNullPointer);
  const void* value = &next;
  char type = 'x';
  uint16_t length = 9;
  EXPECT_EQ(kbdeterm(g_kept, &value, &type, &length), kKbdErrCommand);
  EXPECT_EQ(value, nullptr);  // out values cleared on failure
  EXPECT_EQ(type, ' ');
  EXPECT_EQ(length, 0);
}

TEST_F(ExtensionsTest, TableRules) {
  auto install = [](const KbdExtFunction* table, int16_t count) {
    int16_t status = kbdinitx(32767, 4, table, count);
    EXPECT_EQ(kbdgeterror(), status);
    return status;
  };
  const KbdExtFunction kUnsorted[] = {{"REV(", Reverse, 4}, {"ADD(", Add, 4}};
  const KbdExtFunction kRepeated[] = {{"REV(", Reverse, 4},
                                      {"REV(", Reverse, 4}};
  const KbdExtFunction kBadEntries[] = {
      {"rev(", Reverse, 4}, {"REV", Reverse, 3},  {"REV(", Reverse, 3},
      {"A(B(", Reverse, 4}, {"A+B(", Reverse, 4}, {"REV(", nullptr, 4}};
  EXPECT_EQ(install(kUnsorted, 2), kKbdErrCommand);
  EXPECT_EQ(install(kRepeated, 2), kKbdErrCommand);
  for (const KbdExtFunction& entry : kBadEntries)
    EXPECT_EQ(install(&entry, 1), kKbdErrCommand) << entry.name;
  EXPECT_EQ(install(kTable, -1), kKbdErrCommand);
  EXPECT_EQ(install(nullptr, 1), kKbdErrNullPointer);
  // A refused table leaves none: REV( is then a word and a stray ')'.
  EXPECT_TRUE(Evaluator().extensions.empty());
  EXPECT_EQ(Show("REV(NAME)"), "error -7");
  EXPECT_EQ(Show("LEFT(NAME,2)"), "C:Sm");

  // kbdinit and kbdterm keep the table; kbdinitx with none removes it.
  ASSERT_EQ(install(kTable, std::size(kTable)), kKbdOk);
  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  EXPECT_EQ(Show("REV(NAME)"), "C:htimS");
  ASSERT_EQ(install(nullptr, 0), kKbdOk);
  EXPECT_EQ(Show("REV(NAME)"), "error -7");
}

TEST_F(ExtensionsTest, BinarySearchFindsEveryName) {
  // Names of different lengths around each other in byte order.
  std::vector<std::string> names = {"A(",  "AB(",  "ABC(", "B(", "BA(",
                                    "M1(", "M10(", "M2(",  "Z(", "ZZZZZZ("};
  for (int i = 0; i < 40; ++i) names.push_back("F" + std::to_string(i) + "(");
  std::sort(names.begin(), names.end());
  std::vector<KbdExtFunction> table;
  for (const std::string& name : names)
    table.push_back({name.c_str(), Reverse, int16_t(name.size())});
  ASSERT_EQ(kbdinitx(32767, 4, table.data(), int16_t(table.size())), kKbdOk);
  for (const std::string& name : names) {
    const ExtensionEntry* entry = FindExtension(name + "NAME)");
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(entry->name, name);
  }
  for (std::string_view miss :
       {"", "A", "AB", "ABCD(", "F(", "F40(", "M3(", "ZZ(", "(", "NAME"}) {
    EXPECT_EQ(FindExtension(miss), nullptr) << miss;
  }
}

}  // namespace
}  // namespace qx::engine
