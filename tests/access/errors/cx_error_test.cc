// CXError: raising by id with the definition table, resource formatting
// and its diagnostics, items, appending, and the dump's exact texts.
#include "access/errors/cx_error.h"

#include <gtest/gtest.h>

#include "framework/error_sink.h"
#include "qx/driver.h"

namespace qx::access {
namespace {

using platform::MessageArg;

TEST(CXErrorTest, RaisingFormatsTheDefinitionsResource) {
  CXError error;
  error.Raise(
      DriverModule(), 1001,
      {MessageArg::Text(u"C:\\data\\clients.dbf"), MessageArg::Signed(-5)});
  EXPECT_EQ(error.id(), 1001u);
  EXPECT_EQ(error.level(), static_cast<uint32_t>(kLevelOnReturn));
  EXPECT_EQ(error.detail_id(), 2622u);
  EXPECT_EQ(error.user_message(),
            u"Echec lors de l'ouverture du fichier 'C:\\data\\clients.dbf'.\n"
            u"Code d'erreur xBase renvoyé : '<-5>'");
  EXPECT_EQ(error.module_name(), u"qx180db64");
  EXPECT_EQ(error.module_version(), u"18.0.6.1");

  // Three inserts of mixed forms; %1!ld! is a 32-bit long.
  error.Raise(
      DriverModule(), 1021,
      {MessageArg::Signed(3), MessageArg::Signed(42), MessageArg::Signed(-37)});
  EXPECT_EQ(error.user_message(),
            u"Une erreur est survenue lors de la tentative de blocage de type "
            u"<3> sur l'enregistrement numéro <42>.\nCode d'erreur xBase : "
            u"<-37>.");
  EXPECT_EQ(error.level(), static_cast<uint32_t>(kLevelFatal));

  // Row 34 is shared: its detail id is 34, not its resource id.
  error.Raise(DriverModule(), framework::kErrorReindexKey,
              {MessageArg::Text(u"NOM"), MessageArg::Text(u"CLIENTS")});
  EXPECT_EQ(error.detail_id(), 34u);
  EXPECT_EQ(error.user_message(),
            u"Erreur lors de la réindexation de la clé NOM du fichier "
            u"CLIENTS.");

  // Raising clears what the previous raise left.
  error.AppendDebugText(u"trace");
  error.SetItemText(kInfoItemName, u"NOM");
  error.Raise(DriverModule(), 1024, {});
  EXPECT_TRUE(error.debug_info().empty());
  EXPECT_TRUE(error.items().empty());
  EXPECT_EQ(error.user_message(),
            u"Fonctionalité non disponible pour l'accès natif xBase.");
}

TEST(CXErrorTest, EveryXBaseRowHasItsText) {
  for (uint32_t i = 0; i < kErrorDefCount; ++i) {
    const ErrorDefinition& row = gstErrorDef[i];
    SCOPED_TRACE(row.id);
    CXError error;
    error.Raise(DriverModule(), row.id, {});
    EXPECT_EQ(error.user_message().find(u"##(CXError)"), std::u16string::npos);
    if (row.id >= 1000) {
      EXPECT_EQ(row.detail_id, row.resource_id);
    }
    EXPECT_TRUE(row.level == kLevelOnReturn || row.level == kLevelFatal);
  }
}

bool NoResource(uint32_t, std::u16string*) { return false; }
bool EmptyResource(uint32_t, std::u16string* text) {
  text->clear();
  return true;
}

TEST(CXErrorTest, DiagnosticsForMissingDefinitionsAndResources) {
  CXError error;
  error.Raise(DriverModule(), 4242, {});
  EXPECT_EQ(error.level(), static_cast<uint32_t>(kLevelFatal));
  EXPECT_EQ(error.user_message(),
            u"##(CXError)-Pas de definition d'erreur dans gstErrorDef pour "
            u"l'identifiant <4242>##");

  const ErrorDefinition rows[] = {{7, 77, 77, kLevelOnReturn},
                                  {8, 88, 88, kLevelNone}};
  const ErrorModule missing = {rows, 2, &NoResource, u"m", u"1"};
  error.Raise(missing, 7, {});
  EXPECT_EQ(error.user_message(), u"##(CXError)-Ressource <77> non chargée##");
  EXPECT_EQ(error.level(), static_cast<uint32_t>(kLevelOnReturn));

  const ErrorModule empty = {rows, 2, &EmptyResource, u"m", u"1"};
  platform::SetLastError(1812);
  error.Raise(empty, 7, {});
  EXPECT_EQ(error.user_message(),
            u"##(CXError)-Ressource <77> vide. LastError = <1812>##");

  // Level 1 (EL_NONE) clears the error again.
  const ErrorModule loaded = {rows, 2, &LoadDriverResource, u"m", u"1"};
  error.Raise(loaded, 8, {});
  EXPECT_EQ(error.level(), static_cast<uint32_t>(kLevelNone));
  EXPECT_TRUE(error.user_message().empty());
  EXPECT_EQ(error.detail_id(), 0u);
}

TEST(CXErrorTest, ItemsAndAppending) {
  CXError error;
  EXPECT_TRUE(error.SetItemText(kInfoPathFic, u"a.dbf"));
  EXPECT_TRUE(error.SetItemText(kInfoPathFic, u"b.dbf"));  // replaces
  EXPECT_FALSE(error.SetItemText(kInfoRecNum, u"12"));     // wrong form
  EXPECT_FALSE(error.SetItemNumber(29, 1));                // no such item
  EXPECT_TRUE(error.SetItemNumber(kInfoRecNum, 7));
  ASSERT_EQ(error.items().size(), 2u);
  EXPECT_EQ(error.FindItem(kInfoPathFic)->text, u"b.dbf");

  error.AppendMessageText(u"un");
  error.AppendMessageText(u"");
  error.AppendMessage(
      DriverModule(), 2963,
      std::initializer_list<MessageArg>{MessageArg::Text(u"x.dbf")});
  EXPECT_EQ(error.user_message(), u"un\r\nLe fichier 'x.dbf' n'existe pas.");
  error.AppendDebugText(u"");
  EXPECT_TRUE(error.debug_info().empty());
  error.AppendDebug(DriverModule(), 2807, {});
  error.AppendDebugText(u"ligne");
  EXPECT_EQ(error.debug_info(), u"WARNING - Le fichier est vide.\r\nligne");
}

TEST(CXErrorTest, DumpOfEverySection) {
  CXError error;
  error.Raise(DriverModule(), 1033, {MessageArg::Text(u"a.dbf")});
  error.SetItemText(kInfoLogicalTableName, u"CLIENTS");
  error.SetItemText(kInfoItemName, u"");  // empty texts are left out
  error.SetItemNumber(kInfoNativeCode, 1033);
  error.SetItemNumber(kInfoRecNum, 0);  // numbers always shown
  error.AppendDebugText(DebugLine(105, 2));
  EXPECT_EQ(error.Dump(kDumpAll),
            u"Que s'est-il passé ?\r\n"
            u"Echec lors de la fermeture du fichier 'a.dbf'.\r\n"
            u"\r\n"
            u"Code erreur : 1033\r\n"
            u"\r\n"
            u"Niveau : erreur non fatale (EL_ONRETURN)\r\n"
            u"\r\n"
            u"Code erreur QX55 : 0\r\n"
            u"\r\n"
            u"Pas de code d'erreur système\r\n"
            u"\r\n"
            u"Pas de message d'erreur système\r\n"
            u"\r\n"
            u"Dump de l'erreur du module 'qx180db64' (18.0.6.1).\r\n"
            u"\r\n"
            u"Identifiant des informations détaillées (.err) : 2964\r\n"
            u"\r\n"
            u"Informations de débogage :\r\n"
            u"IEQXDB=105.2\r\nModule=<QXDB>\r\nVersion=<18.0.6.1>\r\n"
            u"\r\n"
            u"Informations supplémentaires :\r\n"
            u"EIT_LOGICALTABLENAME : <CLIENTS>\r\n"
            u"EIT_NATIVECODE : <1033>\r\n"
            u"EIT_RECNUM : <0>\r\n");

  // The empty forms, and the heading left out by bit 0x40000000.
  CXError blank;
  EXPECT_EQ(blank.Dump(kDumpUserMessage | kDumpNoHeading | kDumpModule |
                       kDumpDetailId | kDumpDebug | kDumpItems),
            u"Pas de message d'erreur\r\n\r\n"
            u"Dump de l'erreur de module inconnu.\r\n\r\n"
            u"Pas d'identifiant des informations détaillées (.err)\r\n\r\n"
            u"Pas d'information de débogage\r\n\r\n"
            u"Pas d'information supplémentaire\r\n");
  blank.set_system_error(5, u"Accès refusé.");
  blank.set_compatibility_code(12);
  EXPECT_EQ(
      blank.Dump(kDumpCompatibilityCode | kDumpSystemCode | kDumpSystemMessage),
      u"Code erreur QX55 : 12\r\n\r\n"
      u"Code d'erreur système : 5\r\n\r\n"
      u"Message d'erreur système :\r\nAccès refusé.\r\n");
}

TEST(CXErrorTest, DumpLevelsItemsAndHostCall) {
  CXError error;
  const std::pair<uint32_t, std::u16string> levels[] = {
      {1, u"Niveau : pas d'erreur (EL_NONE)\r\n"},
      {3, u"Niveau : erreur fatale (EL_FATAL)\r\n"},
      {0x40000008, u"Niveau : erreur fatale (EL_FATAL)\r\n"},
      {0x10003, u"Niveau : warning (EL_WARNING_EXECUTION)\r\n"},
      {0x20001, u"Niveau : warning (EL_WARNING_EXECUTION)\r\n"},
      {7, u"Niveau : indéterminé (7)\r\n"}};
  for (const auto& [level, text] : levels) {
    error.set_level(level);
    EXPECT_EQ(error.Dump(kDumpLevel), text);
  }

  error.SetItemPointer(kInfoDataAccess, reinterpret_cast<void*>(0x12AB));
  error.SetItemText(kInfoPileZl, u"ligne 1\r\nligne 2");
  error.SetItemText(kInfoDateHeure, u"01/02/2026 10:00");
  error.SetItemNumber(kInfoHLockTime, -3);
  error.SetItemPresent(kInfoExceptionDotNet);
  EXPECT_EQ(error.Dump(kDumpItems),
            u"Informations supplémentaires :\r\n"
            u"EIT_DATAACCESS : <00000000000012AB>\r\n"
            u"EIT_PILEZL :\r\nligne 1\r\nligne 2\r\n"
            u"EIT_DATEHEURE : 01/02/2026 10:00\r\n"
            u"EIT_HLOCKTIME : <-3>\r\n"
            u"EIT_EXCEPTIONDOTNET\r\n");

  HostCallContext call;
  call.process = u"FEN_CLIENT";
  call.suffix = u".Init";
  call.line = 12;
  call.thread = 3;
  call.function = u"TLitPremier";
  call.syntax = 1;
  error.set_host_call(call);
  EXPECT_EQ(error.Dump(kDumpHostCall),
            u"Appel ZL :\r\nTraitement de 'FEN_CLIENT'.Init, ligne 12, "
            u"thread 3\r\nFonction 'TLitPremier', syntaxe 1\r\n");
  call.line = HostCallContext::kUnknownLine;
  call.function.clear();
  error.set_host_call(call);
  EXPECT_EQ(error.Dump(kDumpHostCall),
            u"Appel ZL :\r\nTraitement de 'FEN_CLIENT'.Init, thread 3\r\n");
  error.Clear();
  EXPECT_EQ(error.Dump(kDumpHostCall), u"");
}

TEST(CXErrorTest, DebugLineAndCategories) {
  EXPECT_EQ(DebugLine(103, 1),
            u"IEQXDB=103.1\r\nModule=<QXDB>\r\nVersion=<18.0.6.1>");
  EXPECT_EQ(CategoryOfError(1041), 2);
  EXPECT_EQ(CategoryOfError(1053), 3);
  EXPECT_EQ(CategoryOfError(1054), 0);
}

}  // namespace
}  // namespace qx::access
