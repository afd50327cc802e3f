// The key expression evaluator: the input is an expression's text,
// evaluated on the fixed table's first record and on its record of blank
// fields, under the table's rules and under Clipper's, as a value and as
// a FOR condition.
#include <string>

#include "qx/engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace qx::fuzz;

void WriteSeeds(const std::string& dir) {
  const char* const seeds[] = {
      "UPPER(NAME)",
      "CITY+NAME",
      "STR(AMOUNT,10,2)+DTOS(BIRTH)",
      "IIF(ACTIVE,\"Y\",\"N\")+SUBSTR(NAME,2,3)",
      "AMOUNT*2-1/3",
      "DTOC(BIRTH+30)",
      "TRIM(UPPER(CITY))==\"PARIS\" .AND. .NOT. ACTIVE",
      "LEFT(NAME,4)+RIGHT(CITY,2)+LTRIM(STR(VAL(\"12.5\")))",
      "DESCEND(NAME)",
      "CTOD(\"02/29/2024\")-BIRTH > 100 .OR. RECNO() = 1",
      "YEAR(BIRTH)+MONTH(BIRTH)+DAY(BIRTH)",
      "STR(AMOUNT)",
      "ASC(NAME)+LEN(CITY)+AT(\"i\",NAME)",
      "DELETED()",
  };
  int n = 0;
  for (const char* seed : seeds)
    WriteSeedText(dir, "e" + std::to_string(n++), seed);
}

void Evaluate(int16_t dbf, const char* text) {
  void* value = nullptr;
  char type = ' ';
  uint16_t length = 0;
  kbdseterror(0);
  kbddeval(dbf, text, -1, &value, &type, &length);
  kbdfree(value);
  value = nullptr;
  kbdseterror(0);
  kbddevalx(dbf, text, 2, kKbdExprRulesClipper, &value, &type, &length);
  kbdfree(value);
  int16_t accepted = 0;
  kbdseterror(0);
  kbddcond(dbf, text, kKbdExprRulesDbase, &accepted);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MaybeWriteSeeds(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartEngine();
  const std::string text(reinterpret_cast<const char*>(data), size);
  const int16_t dbf = FixedTableHandle(kKbdDbase3);
  Evaluate(dbf, text.c_str());
  kbdseterror(0);
  kbddread(dbf, 3);
  Evaluate(dbf, text.c_str());
  return 0;
}
