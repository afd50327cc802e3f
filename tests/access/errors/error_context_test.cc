// The error sink: main error and sub-errors, categories, the reporting
// steps with engine texts, the host's message provider, and what the host
// reads through IErrorContext.
#include "access/errors/error_context.h"

#include <gtest/gtest.h>

#include "framework/framework_state.h"
#include "qx/engine.h"
#include "resources/message_store.h"

namespace qx::access {
namespace {

using platform::MessageArg;

// A context that holds one reference for the test's scope.
struct Sink {
  Sink() : context(new CErrorContext()) { context->AddRef(); }
  ~Sink() { context->Release(); }
  CErrorContext* context;
};

std::u16string Message(IErrorContext* errors) {
  char16_t buffer[2048];
  errors->CopyMessage(buffer, 2048);
  return buffer;
}

TEST(ErrorContextTest, FirstErrorStaysMainLaterOnesBecomeSubErrors) {
  Sink sink;
  CErrorContext* errors = sink.context;
  EXPECT_EQ(errors->HasError(), 0);
  EXPECT_EQ(errors->State(), kErrorStateNone);

  RaiseIntoSink(errors, 0, 105, 2, nullptr, 1032, {MessageArg::Text(u"a")});
  RaiseIntoSink(errors, 2, 106, 3, nullptr, 1041, {MessageArg::Signed(9)});
  RaiseIntoSink(errors, 0, 107, 4, nullptr, 1063, {MessageArg::Text(u"T")});
  EXPECT_EQ(errors->HasError(), 1);
  EXPECT_EQ(errors->State(), kErrorStateError);
  EXPECT_EQ(errors->ErrorId(), 1032u);
  EXPECT_EQ(errors->Category(), 0);  // the main error's
  EXPECT_EQ(errors->SubErrorCount(), 2u);
  // Only the first sub-error's message joins the main message.
  EXPECT_EQ(Message(errors),
            u"Le fichier 'a' n'existe pas.\r\nIl n'est pas possible "
            u"d'accéder à l'enregistrement <9> car il a été bloqué par une "
            u"autre application.");

  char16_t dump[4096];
  errors->CopyDump(kDumpUserMessage | kDumpSubErrors, dump, 4096);
  EXPECT_EQ(std::u16string(dump),
            u"Que s'est-il passé ?\r\n"
            u"Le fichier 'a' n'existe pas.\r\nIl n'est pas possible "
            u"d'accéder à l'enregistrement <9> car il a été bloqué par une "
            u"autre application.\r\n"
            u"\r\n----- Sous-erreur n°1 -----\r\n\r\n"
            u"Que s'est-il passé ?\r\nIl n'est pas possible d'accéder à "
            u"l'enregistrement <9> car il a été bloqué par une autre "
            u"application.\r\n"
            u"\r\n----- Sous-erreur n°2 -----\r\n\r\n"
            u"Que s'est-il passé ?\r\nLe compactage du fichier T a "
            u"échoué.\r\n");

  char16_t debug[256];
  errors->CopyDebugInfo(debug, 256);
  EXPECT_EQ(std::u16string(debug),
            u"IEQXDB=105.2\r\nModule=<QXDB>\r\nVersion=<18.0.6.1>");

  errors->Reset(u"OpenTable");
  EXPECT_EQ(errors->HasError(), 0);
  EXPECT_EQ(errors->ErrorId(), 0u);
  EXPECT_EQ(errors->operation(), u"OpenTable");
  EXPECT_EQ(Message(errors), u"");
}

TEST(ErrorContextTest, ReportingStepsCategoriesAndEngineTexts) {
  Sink sink;
  ErrorReport report;
  report.id = 1053;
  report.args = {MessageArg::Text(u"CODE")};
  report.table = u"CLIENTS";
  report.item = u"CODE";
  report.unit = 109;
  report.site = 4;
  const CXError built = ReportError(sink.context, report);
  EXPECT_EQ(sink.context->Category(), kCategoryDuplicateKey);
  EXPECT_EQ(built.FindItem(kInfoLogicalTableName)->text, u"CLIENTS");
  EXPECT_EQ(built.FindItem(kInfoItemName)->text, u"CODE");
  EXPECT_EQ(built.FindItem(kInfoNativeCode)->number, 1053);
  EXPECT_EQ(built.debug_info(),
            u"IEQXDB=109.4\r\nModule=<QXDB>\r\nVersion=<18.0.6.1>");

  sink.context->Reset(nullptr);
  report = ErrorReport();
  report.id = 1041;
  report.args = {MessageArg::Signed(3)};
  report.engine_status = kKbdErrLockViolation;
  ReportError(sink.context, report);
  EXPECT_EQ(sink.context->Category(), kCategoryLockConflict);
  const CXError* held = sink.context->error();
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->FindItem(kInfoItemName), nullptr);  // no item named
  // The short text and the explanation follow the message.
  EXPECT_EQ(held->user_message(),
            u"Il n'est pas possible d'accéder à l'enregistrement <3> car il "
            u"a été bloqué par une autre application.\r\n"
            u"ERREUR - Violation du blocage fichier.\r\n" +
                resources::MessageText(2934));

  // A caller's mistake explains itself in the debug information.
  CXError error;
  AddEngineStatusTexts(&error, kKbdErrHandle);
  EXPECT_EQ(error.user_message(), u"ERREUR - Numéro de handle invalide.");
  EXPECT_EQ(error.debug_info(), resources::MessageText(2901));
  // -41 has a short text only; system errors none.
  CXError short_only;
  AddEngineStatusTexts(&short_only, kKbdErrAccessCode);
  EXPECT_EQ(short_only.user_message(), u"ERREUR - Code d'accès invalide.");
  CXError none;
  AddEngineStatusTexts(&none, static_cast<int16_t>(0xC000 | 5));
  EXPECT_TRUE(none.user_message().empty());

  // Without a sink the error is built and dropped.
  report.id = 1000;
  report.engine_status.reset();
  EXPECT_EQ(ReportError(nullptr, report).user_message(),
            u"Echec lors de l'initialisation de la bibliothèque xBase.");
}

struct NamingObject : ErrorContextObject {
  void AddErrorInformation(CXError* error) override {
    ++calls;
    error->SetItemText(kInfoPathFic, u"C:\\base\\clients.dbf");
  }
  int calls = 0;
};

TEST(ErrorContextTest, ContextObjectNamesTheMainErrorOnly) {
  Sink sink;
  NamingObject object;
  RaiseIntoSink(sink.context, 0, 1, 1, &object, 1019, {});
  RaiseIntoSink(sink.context, 0, 1, 2, &object, 1019, {});
  EXPECT_EQ(object.calls, 1);
  EXPECT_EQ(sink.context->error()->FindItem(kInfoPathFic)->text,
            u"C:\\base\\clients.dbf");
  EXPECT_EQ(sink.context->error()->sub_errors()[0].FindItem(kInfoPathFic),
            nullptr);

  sink.context->Reset(nullptr);
  sink.context->set_allow_context_information(false);
  RaiseIntoSink(sink.context, 0, 1, 1, &object, 1019, {});
  EXPECT_EQ(object.calls, 1);
}

TEST(ErrorContextTest, FrameworkErrorsStatesAndBufferCuts) {
  Sink sink;
  CErrorContext* errors = sink.context;
  errors->RaiseFramework(framework::kErrorUnsupported, {},
                         framework::kUnsupportedExLevel);
  EXPECT_EQ(Message(errors), u"Opération non supportée.");
  EXPECT_EQ(errors->Level(), 7u);

  errors->Reset(nullptr);
  errors->RaiseFramework(framework::kErrorInvalidConnection,
                         {MessageArg::Text(u"BASE")}, 0);
  EXPECT_EQ(Message(errors),
            u"La connexion <BASE> n'est pas une connexion valide.");
  EXPECT_EQ(errors->Level(), 3u);

  errors->Reset(nullptr);
  errors->MarkOutOfMemory();
  EXPECT_EQ(errors->State(), kErrorStateOutOfMemory);
  EXPECT_EQ(Message(errors),
            u"Mémoire insuffisante pour réaliser l'opération.");
  errors->SetState(kErrorStateFailed);
  EXPECT_EQ(errors->State(), kErrorStateFailed);

  // Copies cut at capacity - 1 and answer the whole length.
  char16_t small[6] = {u'x', u'x', u'x', u'x', u'x', u'x'};
  EXPECT_EQ(errors->CopyMessage(small, 6), 47u);
  EXPECT_EQ(std::u16string(small), u"Mémoi");
  EXPECT_EQ(errors->CopyMessage(nullptr, 0), 47u);
}

int32_t HostTexts(uint32_t id, char16_t* buffer, uint32_t capacity) {
  if (id != 2963 || capacity < 32) return 0;
  const std::u16string text = u"Fichier %1!s! absent (hôte).";
  text.copy(buffer, text.size());
  return static_cast<int32_t>(text.size());
}

TEST(ErrorContextTest, HostMessageProviderIsAskedFirst) {
  framework::Framework().message_provider = &HostTexts;
  CXError error;
  error.Raise(DriverModule(), 1032, {MessageArg::Text(u"a.dbf")});
  EXPECT_EQ(error.user_message(), u"Fichier a.dbf absent (hôte).");
  error.Raise(DriverModule(), 1033, {MessageArg::Text(u"a.dbf")});
  EXPECT_EQ(error.user_message(),
            u"Echec lors de la fermeture du fichier 'a.dbf'.");
  framework::Framework().message_provider = nullptr;
}

}  // namespace
}  // namespace qx::access
