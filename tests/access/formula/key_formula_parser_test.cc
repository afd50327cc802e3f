// Compound key formulas: the lengths and types the check gives, the
// operands of a concatenation chain, and the messages of rejected
// formulas in both modes, resolved against a host table description.
#include <gtest/gtest.h>

#include <vector>

#include "access/errors/error_context.h"
#include "access/formula/table_key_formula_parser.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

FileItem Item(const char16_t* name, uint8_t type, uint32_t size,
              uint16_t digits = 0, uint16_t decimals = 0, uint32_t flags = 0) {
  FileItem item;
  item.name = name;
  item.item_type = type;
  item.size = size;
  item.digits = digits;
  item.decimals = decimals;
  item.flags = flags;
  return item;
}

// A host table: NOM 20 characters, VILLE 15, NE a date, MONTANT a real of
// 8 + 2 digits, CODE a 4-byte integer, STREET text, NOTES a memo, CLE a
// compound key (not a field).
class KeyFormulaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    items_ = {Item(u"NOM", kItemText, 21),
              Item(u"VILLE", kItemText, 16),
              Item(u"NE", kItemDate, 9),
              Item(u"MONTANT", kItemReal8, 8, 8, 2),
              Item(u"CODE", kItemInt32, 4, 9),
              Item(u"STREET", kItemText, 11),
              Item(u"NOTES", kItemTextMemo, 8),
              Item(u"CLE", kItemBinary, 0, 0, 0, kItemFlagCompound)};
    file_.name = u"CLIENTS";
    file_.items = items_.data();
    file_.item_count = static_cast<uint32_t>(items_.size());
  }

  // Parses formula in dBASE III unless told otherwise; answers the result.
  int32_t Parse(std::u16string_view formula, bool strict = false,
                int32_t dialect = kKbdDbase3) {
    return strict ? parser_.ParseStrict(dialect, &fields_, formula)
                  : parser_.Parse(0, dialect, &fields_, formula);
  }
  const KeyFormulaNode& Root() { return *parser_.root(); }

  std::vector<FileItem> items_;
  FileDesc file_;
  HostFileFields fields_{&file_};
  TableKeyFormulaParser parser_;
};

TEST(KeyFormulaTermTest, TermsRunBetweenSeparators) {
  const std::u16string_view text = u" (NOM;VILLE)+'x' ";
  size_t pos = 0;
  EXPECT_EQ(NextTerm(text, &pos), u"NOM");
  EXPECT_EQ(NextTerm(text, &pos), u"VILLE");
  EXPECT_EQ(NextTerm(text, &pos), u"x");
  EXPECT_EQ(NextTerm(text, &pos), u"");
  EXPECT_EQ(pos, text.size());
  pos = 0;
  EXPECT_EQ(NextTerm(u"++A B+C", &pos, u"+"), u"A B");
  EXPECT_EQ(pos, 5u);
}

TEST_F(KeyFormulaTest, ChecksGiveTypesAndLengths) {
  ASSERT_EQ(Parse(u"NOM+VILLE"), 1);
  EXPECT_EQ(Root().kind, KeyFormulaKind::kConcatenation);
  EXPECT_EQ(Root().type, u'C');
  EXPECT_EQ(Root().length, 35u);
  EXPECT_EQ(Root().host_buffer_size, 72u);
  EXPECT_EQ(Root().host_value_type, kValueText);
  EXPECT_EQ(Root().host_value_size, 71u);
  EXPECT_EQ(parser_.fields(), (std::vector<std::u16string>{u"NOM", u"VILLE"}));
  EXPECT_TRUE(parser_.messages().empty());

  // Function names in any case; blanks around terms; DTOS is 8 long.
  ASSERT_EQ(Parse(u" upper( nom ) + DtoS(ne)"), 1);
  EXPECT_EQ(Root().length, 28u);
  EXPECT_EQ(Root().child(0)->kind, KeyFormulaKind::kUpper);
  EXPECT_EQ(Root().child(0)->text, u"upper( nom )");
  EXPECT_EQ(parser_.fields(), (std::vector<std::u16string>{u"NOM", u"NE"}));

  struct Case {
    std::u16string_view formula;
    uint32_t length;
  };
  for (const Case& c :
       {Case{u"STR(MONTANT)", 10}, Case{u"STR(MONTANT,6)", 6},
        Case{u"LEFT(NOM,30)", 20}, Case{u"RIGHT(VILLE,4)", 4},
        Case{u"LEFT(NOM,CODE)", 20}, Case{u"SUBSTR(NOM,3,5)", 5},
        Case{u"SUBSTR(NOM,18)", 3}, Case{u"SUBSTR(NOM,0,2)", 2},
        Case{u"SUBSTR(NOM,25,2)", 0}, Case{u"DTOC(NE)", 8},
        Case{u"LOWER(STREET)", 10}, Case{u"STREET", 10}}) {
    SCOPED_TRACE(std::string(c.formula.begin(), c.formula.end()));
    ASSERT_EQ(Parse(c.formula), 1);
    EXPECT_EQ(Root().type, u'C');
    EXPECT_EQ(Root().length, c.length);
  }

  // Numbers added keep the wider length; in dBASE IV they are F fields
  // with the 12-byte keys of that family.
  ASSERT_EQ(Parse(u"MONTANT+MONTANT"), 1);
  EXPECT_EQ(Root().type, u'N');
  EXPECT_EQ(Root().length, 11u);
  EXPECT_EQ(Root().host_value_type, kValueDouble);
  EXPECT_EQ(Root().host_value_size, 8u);
  ASSERT_EQ(Parse(u"MONTANT", false, kKbdDbase4), 1);
  EXPECT_EQ(Root().type, u'F');
  EXPECT_EQ(Root().host_value_size, 12u);
  ASSERT_EQ(Parse(u"MONTANT", false, kKbdClipper), 1);
  EXPECT_EQ(Root().host_value_type, kValueText);  // NTX numbers are text
  ASSERT_EQ(Parse(u"CODE", false, kKbdVisualFoxpro), 1);
  EXPECT_EQ(Root().type, u'I');
  EXPECT_EQ(Root().length, 4u);
  EXPECT_EQ(Root().host_value_type, kValueInt32);

  // The operands of a chain, left to right, whatever its nesting.
  ASSERT_EQ(Parse(u"NOM+LEFT(VILLE,3)+DTOC(NE)"), 1);
  EXPECT_EQ(Root().length, 31u);
  const std::vector<const KeyFormulaNode*> operands = parser_.Operands();
  ASSERT_EQ(operands.size(), 3u);
  EXPECT_EQ(operands[0]->text, u"NOM");
  EXPECT_EQ(operands[1]->kind, KeyFormulaKind::kLeft);
  EXPECT_EQ(operands[1]->child(1)->NumericValue(), 3);
  EXPECT_EQ(operands[2]->length, 8u);

  // The tree outlives the next parse.
  std::shared_ptr<const KeyFormulaNode> kept = parser_.root();
  ASSERT_EQ(Parse(u"NOM"), 1);
  EXPECT_EQ(kept->length, 31u);
  EXPECT_EQ(parser_.Operands().size(), 1u);
}

TEST_F(KeyFormulaTest, RejectedFormulasLeaveTheirMessages) {
  struct Case {
    std::u16string_view formula;
    std::u16string_view messages;  // the same in both modes
  };
  for (const Case& c : {
           Case{u"LEFT(NOM)",
                u"La fonction <LEFT(NOM)> attend un deuxième argument.\r\n"},
           Case{u"LEFT NOM",
                u"Il manque la parenthèse de gauche : <LEFT NOM>\r\n"},
           Case{u"LEFT(NOM,3",
                u"Il manque la parenthèse de droite : <LEFT(NOM,3>\r\n"},
           Case{u"SUBSTR(NOM)",
                u"La fonction <SUBSTR(NOM)> attend un deuxième argument.\r\n"},
           Case{u"NOM+MONTANT",
                u"La concaténation de rubriques de types différents n'est "
                u"pas autorisée.\r\n"},
           Case{u"NOM+5",
                u"La concaténation de rubriques de types différents n'est "
                u"pas autorisée.\r\n"},
           Case{u"NOM+ ", u"Erreur de syntaxe à proximité de <+>\r\n"},
           Case{u"UPPER( )",
                u"La fonction <UPPER( )> attend au moins un argument.\r\n"},
       }) {
    SCOPED_TRACE(std::string(c.formula.begin(), c.formula.end()));
    EXPECT_EQ(Parse(c.formula), 0);
    EXPECT_EQ(parser_.messages(), c.messages);
    EXPECT_EQ(Parse(c.formula, true), 0);
    EXPECT_EQ(parser_.messages(), c.messages);
    EXPECT_EQ(parser_.root(), nullptr);
  }

  // A '+' inside parentheses splits there: the right parenthesis is
  // missing.
  EXPECT_EQ(Parse(u"UPPER(NOM+VILLE)", true), 0);
  EXPECT_EQ(parser_.messages(),
            u"Il manque la parenthèse de droite : <UPPER(NOM>\r\n");
  // Only the strict mode stops at the first failure; the other reads on
  // and keeps the tree.
  EXPECT_EQ(Parse(u"LEFT NOM+RIGHT(VILLE", true), 0);
  EXPECT_EQ(parser_.messages(),
            u"Il manque la parenthèse de gauche : <LEFT NOM>\r\n");
  EXPECT_EQ(Parse(u"LEFT NOM+RIGHT(VILLE"), 0);
  EXPECT_EQ(parser_.messages(),
            u"Il manque la parenthèse de gauche : <LEFT NOM>\r\n"
            u"Il manque la parenthèse de droite : <RIGHT(VILLE>\r\n");
  ASSERT_NE(parser_.root(), nullptr);
  EXPECT_EQ(parser_.Operands().size(), 2u);

  // Unknown fields, memos and compound keys are not fields of a key: only
  // the strict mode fails on them.
  for (std::u16string_view name : {u"ABSENT", u"NOTES", u"CLE"}) {
    const std::u16string formula = u"NOM+" + std::u16string(name);
    const std::u16string message =
        u"La rubrique <" + std::u16string(name) +
        u"> n'appartient pas au fichier ou son type n'est pas autorisé dans "
        u"une clé composée.\r\n";
    EXPECT_EQ(Parse(formula, true), 0);
    EXPECT_EQ(parser_.messages(), message);
    EXPECT_EQ(Parse(formula), 1);
    EXPECT_EQ(parser_.messages(), message);
    EXPECT_EQ(parser_.fields(), std::vector<std::u16string>{u"NOM"});
  }

  // Nesting beyond 256 levels is refused rather than recursed into.
  std::u16string deep;
  for (int i = 0; i < 300; ++i) deep += u"NOM+";
  deep += u"NOM";
  EXPECT_EQ(Parse(deep, true), 0);
  EXPECT_EQ(parser_.messages(), u"Erreur de syntaxe à proximité de <" +
                                    deep.substr(0, 40) + u">\r\n");
  std::u16string nested = u"NOM";
  for (int i = 0; i < 5000; ++i) nested = u"UPPER(" + nested + u")";
  EXPECT_EQ(Parse(nested), 0);
  EXPECT_EQ(parser_.messages(), u"Erreur de syntaxe à proximité de <" +
                                    nested.substr(0, 40) + u">\r\n");

  // An empty formula: 0 and no message.
  EXPECT_EQ(Parse(u"  "), 0);
  EXPECT_TRUE(parser_.messages().empty());
  EXPECT_EQ(parser_.dialect(), kKbdDbase3);

  // The report for the host: error 1069 with the messages as its third
  // insert.
  ASSERT_EQ(Parse(u"LEFT(NOM)"), 0);
  CErrorContext* errors = new CErrorContext();
  errors->AddRef();
  ReportKeyFormulaError(errors, u"LEFT(NOM)", u"CLE", parser_, u"CLIENTS", 102,
                        30);
  ASSERT_NE(errors->error(), nullptr);
  EXPECT_EQ(errors->error()->id(), 1069u);
  EXPECT_EQ(errors->error()->user_message(),
            u"La formule <LEFT(NOM)> de la clé composée <CLE> est "
            u"incorrecte.\nLa fonction <LEFT(NOM)> attend un deuxième "
            u"argument.");
  EXPECT_EQ(errors->error()->FindItem(kInfoItemName)->text, u"CLE");
  errors->Release();
}

}  // namespace
}  // namespace qx::access
