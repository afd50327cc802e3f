// Key expressions and FOR conditions against Harbour, a Clipper-compatible
// runtime: a table written by the engine is read by a Harbour program that
// evaluates every expression below on every record (through its macro
// compiler, as its index drivers evaluate keys); kbddevalx must give the
// same values under Clipper rules, and under dBASE rules the values
// Harbour gives for the dBASE form of the expression where the rules
// differ.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/dates/date_format.h"
#include "engine/expr/functions.h"
#include "qx/engine.h"
#include "tests/interop/harbour_peer.h"
#include "tests/support/test_support.h"

namespace qx::engine {
namespace {

struct Case {
  const char* expression;
  // What Harbour evaluates to get the dBASE-rules answer: "" the same
  // expression; "!" an error; anything else that expression.
  const char* dbase = "";
};

// Every record of the table below meets every expression.
const Case kCases[] = {
    // Fields and literals.
    {"NAME"},
    {"AGE"},
    {"SALARY"},
    {"BIRTH"},
    {"MARRIED"},
    {"'a'+\"b\"+[c]"},
    {"\"it's\""},
    {"[say \"hi\"]"},
    {".T."},
    {".F."},
    {"12.5"},
    {".5"},
    // Texts.
    {"NAME+CITY"},
    {"NAME-CITY"},
    {"TRIM(NAME)+'|'+CITY"},
    {"\"abc  \"-\"de \""},
    {"UPPER(NAME)"},
    {"LOWER(CITY)"},
    {"SUBSTR(NAME,2,3)"},
    {"SUBSTR(NAME,-3)", "SUBSTR(NAME,1)"},
    {"SUBSTR(NAME,0,4)"},
    {"SUBS(NAME,1,2)"},
    {"LEFT(NAME,4)"},
    {"RIGHT(TRIM(NAME),3)"},
    {"LEFT(NAME,2.9)"},
    {"LEFT(NAME,-1)"},
    {"ALLTRIM(NOTE)"},
    {"LTRIM(NOTE)"},
    {"RTRIM(NAME)+'|'"},
    {"TRIM(CITY)+'|'"},
    {"PADL(TRIM(NAME),25)"},
    {"PADR(CITY,5)"},
    {"PADC(TRIM(CITY),12,'*')"},
    {"PADL(AGE,6)"},
    {"PADR(SALARY,12)"},
    {"IIF(EMPTY(BIRTH),'',PADL(BIRTH,10))"},
    {"PADL(MARRIED,3)"},
    {"PADL('ab',4,'')"},
    {"SPACE(3)+'x'"},
    {"REPLICATE('ab',3)"},
    {"REPLICATE('ab',-1)"},
    {"LEN(TRIM(NAME))"},
    {"DESCEND(NAME)"},
    {"DESCEND(UPPER(CITY))"},
    // Numbers.
    {"AGE+1"},
    {"AGE-SALARY"},
    {"AGE*SAL2"},
    {"SALARY/3"},
    {"AGE%7"},
    {"2^10"},
    {"2**3"},
    {"-AGE"},
    {"-2^2"},
    {"7-2-1"},
    {"2*3+4*5"},
    {"(2+3)*4"},
    {"10/4"},
    {"+AGE"},
    {"INT(SALARY)"},
    {"INT(-7.5)"},
    {"ROUND(SALARY,1)"},
    {"ROUND(SALARY,-2)"},
    {"ROUND(2.675,2)"},
    {"ABS(AGE)"},
    {"ABS(SALARY)"},
    {"VAL(CODE)"},
    {"VAL(NOTE)"},
    {"VAL('-1.5ABC')"},
    {"VAL('1E3')"},
    {"DESCEND(AGE)"},
    {"DESCEND(SALARY)"},
    {"RECNO()"},
    {"RECNO()*2"},
    // STR and STRZERO: the shapes of Clipper rules, 10 and 0 of dBASE.
    {"STR(AGE)", "STR(AGE,10)"},
    {"STR(SALARY)", "STR(SALARY,10)"},
    {"STR(SAL2)", "STR(SAL2,10)"},
    {"STR(AGE,5)"},
    {"STR(SALARY,12,3)"},
    {"STR(SALARY,5)"},
    {"STR(SALARY,8,4)"},
    {"STR(AGE,6,2)"},
    {"STR(-SALARY)", "STR(-SALARY,10)"},
    {"STR(AGE+1)", "STR(AGE+1,10)"},
    {"STR(SALARY*2)", "STR(SALARY*2,10)"},
    {"STR(AGE*SALARY)", "STR(AGE*SALARY,10)"},
    {"STR(SAL2*SALARY)", "STR(SAL2*SALARY,10)"},
    {"STR(SALARY/3)", "STR(SALARY/3,10)"},
    {"STR(AGE+SALARY)", "STR(AGE+SALARY,10)"},
    {"STR(YEAR(BIRTH),4)+NAME"},
    {"STR(YEAR(BIRTH))", "STR(YEAR(BIRTH),10)"},
    {"STR(MONTH(BIRTH),2)+STR(DAY(BIRTH),2)"},
    {"STR(MONTH(BIRTH))", "STR(MONTH(BIRTH),10)"},
    {"STR(DAY(BIRTH)+1)", "STR(DAY(BIRTH)+1,10)"},
    {"STR(RECNO())", "STR(RECNO(),10)"},
    {"STR(VAL(CODE))", "STR(VAL(CODE),10)"},
    {"STR(VAL(NOTE))", "STR(VAL(NOTE),10)"},
    {"STR(VAL(NAME))", "STR(VAL(NAME),10)"},
    {"STR(INT(SALARY))", "STR(INT(SALARY),10)"},
    {"STR(INT(AGE/7))", "STR(INT(AGE/7),10)"},
    {"STR(ROUND(SALARY,1))", "STR(ROUND(SALARY,1),10)"},
    {"STR(ABS(SALARY))", "STR(ABS(SALARY),10)"},
    {"STR(ABS(AGE))", "STR(ABS(AGE),10)"},
    {"STR(LEN(NAME))", "STR(LEN(NAME),10)"},
    {"STR(BIRTH-CTOD('2000.01.01'))", "STR(BIRTH-CTOD('2000.01.01'),10)"},
    {"STR(DESCEND(AGE))", "STR(DESCEND(AGE),10)"},
    {"STR(AGE%7)", "STR(AGE%7,10)"},
    {"STR(AGE^2)", "STR(AGE^2,10)"},
    {"STR(12.5)", "STR(12.5,10)"},
    {"STR(123)", "STR(123,10)"},
    {"STR(0.5)", "STR(0.5,10)"},
    {"STR(1234567890)", "STR(1234567890,10)"},
    {"STR(SALARY,0)", "!"},
    {"STR(SALARY,10,-1)", "!"},
    {"STR(2.675,5,2)", "' 2.67'"},
    {"STR(1.005,5,2)", "' 1.00'"},
    {"STR(-0.5,3)"},
    {"STR(-0.4,3)"},
    {"STR(AGE,3.7)"},
    {"STRZERO(AGE,5)"},
    {"STRZERO(AGE)", "STRZERO(AGE,10)"},
    {"STRZERO(SALARY)", "STRZERO(SALARY,10)"},
    {"STRZERO(-SALARY,12,2)"},
    // Dates.
    // (The empty date's text and the empty date moved by days are ours:
    // blanks; the runtime shows "    .  .  " and a day before year 1.)
    {"IIF(EMPTY(BIRTH),BIRTH,BIRTH+30)"},
    {"BIRTH-1"},
    {"IIF(EMPTY(BIRTH),BIRTH,30+BIRTH)"},
    {"BIRTH-CTOD('2000.01.01')"},
    {"DTOS(BIRTH)"},
    {"IIF(EMPTY(BIRTH),'',DTOC(BIRTH))"},
    {"CTOD('2024.01.02')"},
    {"CTOD('garbage')"},
    {"YEAR(BIRTH)"},
    {"MONTH(BIRTH)"},
    {"DAY(BIRTH)"},
    {"DESCEND(BIRTH)"},
    {"EMPTY(BIRTH)"},
    // Comparisons.
    {"NAME='John'"},
    {"NAME='John Smith          x'"},
    {"NAME=='John Smith'"},
    {"TRIM(NAME)=='John Smith'"},
    {"CITY=''"},
    {"''=CITY"},
    {"CITY<'M'"},
    {"CITY>='Lyon'"},
    {"CITY<='Lyon'"},
    {"CITY>'Lyon'"},
    {"CITY!='Lyon'"},
    {"CITY<>'Lyon'"},
    {"CITY#'Lyon'"},
    {"AGE>40"},
    {"AGE<=0"},
    {"AGE=42.0"},
    {"SALARY<>0"},
    {"SALARY#0"},
    {"BIRTH<CTOD('1970.01.01')"},
    {"BIRTH=CTOD('')"},
    {"MARRIED=.T."},
    {".F.<MARRIED"},
    {"'ith'$NAME"},
    {"''$NAME"},
    {"'J'$NAME.AND.AGE>0"},
    {"0.1+0.2=0.3"},
    // Logic.
    {".NOT.MARRIED"},
    {"!MARRIED"},
    {"!!MARRIED"},
    {"AGE>0.AND.SALARY>0"},
    {"AGE>0 .OR. SALARY>0"},
    {".NOT.(AGE>0.OR.SALARY>0)"},
    {"!DELETED()"},
    {"DELETED()"},
    {".NOT.DELETED().AND.AGE>1"},
    {"TRIM(UPPER(CITY))=='PARIS'"},
    {"EMPTY(CITY)"},
    {"EMPTY(AGE)"},
    {"EMPTY(MARRIED)"},
    {"EMPTY(NOTE)"},
    // IIF evaluates only the branch it gives.
    {"IIF(AGE>100,'A','B')+NAME"},
    {"IIF(EMPTY(BIRTH),SPACE(8),DTOS(BIRTH))"},
    {"IIF(AGE=0,0,SALARY/AGE)"},
    {"IF(MARRIED,'Y','N')"},
    {"AGE=0.OR.SALARY/AGE>0"},
    {"AGE<>0.AND.SALARY/AGE>0"},
    {"DESCEND(MARRIED)"},
    // Errors. (Where the runtime is laxer than the language, adding two
    // dates or taking a text for .AND.'s right side, ours stays an error.)
    {"NAME+AGE"},
    {"AGE/0"},
    {"UPPER(AGE)"},
    {"IIF(AGE,1,2)"},
    {"'a'<1"},
    {"FOO(1)"},
    {"NAME)"},
    {"(NAME"},
    {"STR(NAME)"},
    {"LEFT(NAME)"},
    {"NAME.AND.AGE>0"},
};

// The table: every field kind the expressions use, and records with
// negatives, an empty date, a blank logical and a deleted record.
struct Row {
  const char* name;
  const char* city;
  double age;
  double salary;
  double sal2;
  const char* birth;    // YYYYMMDD, blank for empty
  const char* married;  // "T", "F", or nullptr for blank
  const char* code;
  const char* note;
  bool deleted;
};
const Row kRows[] = {
    {"John Smith", "PARIS", 42, 819938.92, 1.5, "19610307", "T", " 7.25 ",
     "  lead", false},
    {"anna", "Lyon", -96, -26867.82, -1.5, "        ", "F", "abc", "12.50",
     false},
    {"Zola", "", 0, 0, 0, "19000101", nullptr, "", "", true},
    {"O'Brien", "New York", 101, 1234567.89, 999.999, "20240229", "T", "12",
     "x.5", false},
};

KbdFieldDef Field(const char* name, char type, uint16_t length,
                  uint16_t decimals = 0) {
  KbdFieldDef def{};
  std::strncpy(def.name, name, sizeof(def.name) - 1);
  def.type = static_cast<uint16_t>(type);
  def.length = length;
  def.decimals = decimals;
  return def;
}

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

// The Harbour program: evaluates every line of expr.txt on every record of
// people.dbf (both in its directory) and prints "recno<TAB>line<TAB>value"
// (the value as Show gives it).
const char kProgram[] = R"(
REQUEST DBFNTX
REQUEST ABS, ALLTRIM, CTOD, DAY, DELETED, DESCEND, DTOC, DTOS, EMPTY, INT
REQUEST LEFT, LEN, LOWER, LTRIM, MONTH, PADC, PADL, PADR, RECNO, REPLICATE
REQUEST RIGHT, ROUND, RTRIM, SPACE, STR, STRZERO, SUBSTR, TRIM, UPPER, VAL
REQUEST YEAR
PROCEDURE Main()
   LOCAL aExpr := hb_ATokens( MemoRead( "expr.txt" ), Chr( 10 ) )
   LOCAL n, i, v, r
   SET DATE FORMAT TO "yyyy.mm.dd"
   rddSetDefault( "DBFNTX" )
   USE people READONLY
   FOR n := 1 TO LastRec()
      dbGoto( n )
      FOR i := 1 TO Len( aExpr )
         IF Empty( aExpr[ i ] )
            LOOP
         ENDIF
         BEGIN SEQUENCE WITH {| e | Break( e ) }
            v := &( aExpr[ i ] )
            r := Show( v )
         RECOVER
            r := "ERROR"
         END SEQUENCE
         OutStd( hb_ntos( n ) + Chr( 9 ) + hb_ntos( i ) + Chr( 9 ) + r + hb_eol() )
      NEXT
   NEXT
   dbCloseAll()
RETURN
STATIC FUNCTION Show( v )
   SWITCH ValType( v )
   CASE "C"
      RETURN "C:" + hb_StrToHex( v )
   CASE "N"
      RETURN "N:" + LTrim( Str( v, 30, 6 ) )
   CASE "D"
      RETURN "D:" + DToS( v )
   CASE "L"
      RETURN iif( v, "L:T", "L:F" )
   ENDSWITCH
RETURN "?" + ValType( v )
)";

class HarbourExpressionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string missing = qx::testing::HarbourPeer::Missing();
    if (!missing.empty()) {
      if (qx::testing::HarbourPeer::Required()) FAIL() << missing;
      GTEST_SKIP() << missing << ": expressions are not compared with it";
    }
    std::string error;
    ASSERT_TRUE(harbour_.CompileSource("oracle", kProgram, &error)) << error;
    kbdterm();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
    MakeTable();
  }
  void TearDown() override { kbdterm(); }

  void MakeTable() {
    const KbdFieldDef fields[] = {
        Field("NAME", 'C', 20),   Field("CITY", 'C', 15),
        Field("AGE", 'N', 3),     Field("SALARY", 'N', 10, 2),
        Field("SAL2", 'N', 8, 3), Field("BIRTH", 'D', 8),
        Field("MARRIED", 'L', 1), Field("CODE", 'C', 6),
        Field("NOTE", 'C', 10),
    };
    const std::string path = dir_.File("people.dbf");
    ASSERT_EQ(kbddcreate(path.c_str(), std::size(fields), fields, kKbdClipper),
              kKbdOk);
    int16_t handle = kKbdNoHandle;
    ASSERT_EQ(kbddopenx(&handle, path.c_str(), kKbdClipper), kKbdOk);
    for (const Row& row : kRows) {
      ASSERT_EQ(kbddblankrec(handle), kKbdOk);
      ASSERT_EQ(kbddput(handle, 0, row.name), kKbdOk);
      ASSERT_EQ(kbddput(handle, 1, row.city), kKbdOk);
      ASSERT_EQ(kbddput(handle, 2, &row.age), kKbdOk);
      ASSERT_EQ(kbddput(handle, 3, &row.salary), kKbdOk);
      ASSERT_EQ(kbddput(handle, 4, &row.sal2), kKbdOk);
      ASSERT_EQ(kbddput(handle, 5, row.birth), kKbdOk);
      if (row.married != nullptr) {
        ASSERT_EQ(kbddput(handle, 6, row.married), kKbdOk);
      }
      ASSERT_EQ(kbddput(handle, 7, row.code), kKbdOk);
      ASSERT_EQ(kbddput(handle, 8, row.note), kKbdOk);
      uint32_t recno = 0;
      ASSERT_EQ(kbddwrite(handle, &recno, kKbdWriteAppend), kKbdOk);
      if (row.deleted) {
        ASSERT_EQ(kbdddelete(handle, recno), kKbdOk);
      }
    }
    ASSERT_EQ(kbddclose(handle), kKbdOk);
  }

  // Runs the Harbour program over expressions; (recno, line) -> value.
  std::map<std::pair<int, int>, std::string> RunHarbour(
      const std::vector<std::string>& expressions) {
    std::map<std::pair<int, int>, std::string> values;
    std::string lines;
    for (const std::string& e : expressions) lines += e + "\n";
    qx::testing::WriteWholeFile(dir_.File("expr.txt"), lines);
    std::string output;
    EXPECT_EQ(harbour_.Run(dir_.path(), {}, &output), 0) << output;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
      size_t tab1 = line.find('\t');
      size_t tab2 = line.find('\t', tab1 + 1);
      if (tab2 == std::string::npos) continue;
      int recno = std::stoi(line.substr(0, tab1));
      int index = std::stoi(line.substr(tab1 + 1, tab2 - tab1 - 1));
      values[{recno, index}] = line.substr(tab2 + 1);
    }
    return values;
  }

  // kbddevalx's value as the Harbour program shows it.
  static std::string Ours(int16_t handle, const std::string& expression,
                          int16_t rules) {
    kbdseterror(kKbdOk);
    void* value = nullptr;
    char type = ' ';
    uint16_t length = 0;
    int16_t status = kbddevalx(handle, expression.c_str(), -1, rules, &value,
                               &type, &length);
    kbdseterror(kKbdOk);
    if (status < 0) return "ERROR";
    std::string shown;
    const char* bytes = static_cast<const char*>(value);
    switch (type) {
      case 'C':
        shown = "C:" + Hex(std::string_view(bytes, length));
        break;
      case 'D': {
        char stored[kStoredDateLength + 1];
        ConvertDateToStorage(stored, std::string_view(bytes, length),
                             kDateFormatEnsi4);
        shown = "D:" + std::string(stored, kStoredDateLength);
        break;
      }
      case 'L':
        shown = bytes[0] == 1 ? "L:T" : "L:F";
        break;
      case 'N':
      case 'F': {
        double number = 0;
        std::memcpy(&number, value, sizeof(number));
        std::string text;
        FormatNumber(number, 30, 6, &text, Rounding::kDecimalText);
        shown = "N:" + text.substr(text.find_first_not_of(' '));
        break;
      }
      default:
        shown = std::string("?") + type;
    }
    kbdfree(value);
    return shown;
  }

  qx::testing::HarbourPeer harbour_;
  qx::testing::TempDir dir_;
};

TEST_F(HarbourExpressionTest, ValuesAgreeWithHarbourUnderBothRules) {
  // Lines 1..n: the expressions; n+1..: the dBASE forms that differ.
  std::vector<std::string> lines;
  for (const Case& c : kCases) lines.push_back(c.expression);
  std::map<size_t, size_t> dbase_line;  // case -> line of its dBASE form
  for (size_t i = 0; i < std::size(kCases); ++i) {
    std::string_view dbase = kCases[i].dbase;
    if (dbase.empty() || dbase == "!") continue;
    lines.push_back(std::string(dbase));
    dbase_line[i] = lines.size();
  }
  auto harbour = RunHarbour(lines);
  ASSERT_EQ(harbour.size(), lines.size() * std::size(kRows))
      << "the Harbour program did not evaluate every expression";

  // Dates come and go as yyyy.mm.dd, a format both sides read.
  ASSERT_EQ(kbdsetdatefmt(kDateFormatEnsi4), kKbdOk);
  int16_t handle = kKbdNoHandle;
  const std::string path = dir_.File("people.dbf");
  ASSERT_EQ(kbddopenx(&handle, path.c_str(), kKbdClipper), kKbdOk);
  for (int recno = 1; recno <= static_cast<int>(std::size(kRows)); ++recno) {
    kbdseterror(kKbdOk);
    ASSERT_GE(kbddread(handle, static_cast<uint32_t>(recno)), 0);
    for (size_t i = 0; i < std::size(kCases); ++i) {
      const Case& c = kCases[i];
      SCOPED_TRACE(std::string(c.expression) + " on record " +
                   std::to_string(recno));
      const std::string clipper = harbour[{recno, static_cast<int>(i) + 1}];
      EXPECT_EQ(Ours(handle, c.expression, kKbdExprRulesClipper), clipper);
      // kbddeval takes Clipper rules from the table's dialect.
      EXPECT_EQ(Ours(handle, c.expression, kKbdExprRulesOfTable), clipper);
      std::string dbase = clipper;
      if (std::string_view(c.dbase) == "!")
        dbase = "ERROR";
      else if (auto it = dbase_line.find(i); it != dbase_line.end())
        dbase = harbour[{recno, static_cast<int>(it->second)}];
      EXPECT_EQ(Ours(handle, c.expression, kKbdExprRulesDbase), dbase)
          << "dBASE rules";
    }
  }
  kbdseterror(kKbdOk);
  EXPECT_EQ(kbddclose(handle), kKbdOk);
}

}  // namespace
}  // namespace qx::engine
