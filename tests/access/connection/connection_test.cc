// Connections: table paths, the xBase connection's engine start and OEM
// flag, and the options file.
#include <gtest/gtest.h>

#include "access/connection/driver_options.h"
#include "access/connection/table_path.h"
#include "access/connection/xbase_connection.h"
#include "access/errors/error_context.h"
#include "engine/core/engine_state.h"
#include "platform/platform.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::access {
namespace {

std::u16string U16(const std::string& utf8) {
  return platform::Utf8ToUtf16(utf8);
}

TEST(TablePathTest, SplitAndJoin) {
  PathParts parts = SplitPath(u"C:\\data\\clients.dbf");
  EXPECT_EQ(parts.drive, u"C:");
  EXPECT_EQ(parts.directory, u"\\data\\");
  EXPECT_EQ(parts.name, u"clients");
  EXPECT_EQ(parts.extension, u".dbf");
  parts = SplitPath(u"clients");
  EXPECT_EQ(parts.directory, u"");
  EXPECT_EQ(parts.name, u"clients");
  EXPECT_EQ(parts.extension, u"");
  parts = SplitPath(u"base.v2/clients");  // a dot in a directory
  EXPECT_EQ(parts.directory, u"base.v2/");
  EXPECT_EQ(parts.extension, u"");
  parts = SplitPath(std::u16string(261, u'a'));
  EXPECT_TRUE(parts.name.empty() && parts.drive.empty());
  EXPECT_EQ(SplitPath(std::u16string(260, u'a')).name.size(), 260u);

  EXPECT_EQ(JoinPath(u"C:\\data", u"x", u"dbf"), u"C:\\data\\x.dbf");
  EXPECT_EQ(JoinPath(u"dir/", u"x", u".dbf"), u"dir/x.dbf");
  EXPECT_EQ(JoinPath(u"C:", u"x", u".dbf"), u"C:x.dbf");
  EXPECT_EQ(JoinPath(u"", u"x", u""), u"x");
}

TEST(TablePathTest, ResolveAgainstTheDataSource) {
  testing::TempDir dir;
  const std::u16string source = U16(dir.path());
  std::u16string full;
  ASSERT_TRUE(ResolveTablePath(source, u"clients", u"", nullptr, &full));
  EXPECT_EQ(full, source + u"\\clients.dbf");
  ASSERT_TRUE(ResolveTablePath(source, u"clients", u".DBF", nullptr, &full));
  EXPECT_EQ(full, source + u"\\clients.DBF");
  ASSERT_TRUE(ResolveTablePath(u"", u"clients.dat", u"", nullptr, &full));
  EXPECT_EQ(full, u".\\clients.dat");
  // The path's own directory wins over the data source.
  ASSERT_TRUE(
      ResolveTablePath(u"/nowhere", source + u"/t", u"", nullptr, &full));
  EXPECT_EQ(full, source + u"/t.dbf");

  CErrorContext* errors = new CErrorContext();
  errors->AddRef();
  EXPECT_FALSE(ResolveTablePath(source + u"/absent", u"t", u"", errors, &full));
  char16_t text[256];
  errors->CopyMessage(text, 256);
  EXPECT_EQ(std::u16string(text), u"Le répertoire '" + source +
                                      u"/absent' fourni dans la connexion "
                                      u"n'existe pas.");
  errors->CopyDebugInfo(text, 256);
  EXPECT_EQ(std::u16string(text),
            u"IEQXDB=101.26\r\nModule=<QXDB>\r\nVersion=<18.0.6.1>");
  errors->Release();

  testing::WriteWholeFile(dir.File("t.dbf"), "x");
  EXPECT_TRUE(TableFileExists(source + u"\\t.dbf"));
  EXPECT_FALSE(TableFileExists(source));  // a directory is not a file
}

struct EngineReset {
  EngineReset() {
    engine::ResetEngineStateForTesting();
    ResetDriverOptionsForTesting();
  }
  ~EngineReset() { StopEngineIfStarted(); }
};

TEST(XBaseConnectionTest, FirstOpenStartsTheEngineOnce) {
  EngineReset reset;
  ConnectionDesc desc;
  desc.data_source = u"/tmp";
  desc.extended_info = u" OEMTOANSI = windows ; LIMIT=3";
  auto* first = new CXBaseConnection(u"BASE", &desc);
  first->AddRef();
  EXPECT_EQ(first->oem_conversion(), 1u);
  EXPECT_EQ(first->limit(), 10u);
  EXPECT_EQ(first->IsOpen(), 0);
  EXPECT_EQ(kbdgeterror(), kKbdErrNoTask);

  Options().sync_writes = 0;
  EXPECT_EQ(first->Open(nullptr), 1);
  EXPECT_EQ(first->IsOpen(), 1);
  EXPECT_TRUE(Options().engine_started);
  EXPECT_EQ(kbdsetsync(1), 0);  // SYNCWRITES=0 was applied

  // A file opened now survives a second connection's open: the engine is
  // not started again.
  testing::TempDir dir;
  KbdFieldDef field = {"NOM", 'C', 10, 0, 0};
  const std::string path = dir.File("t.dbf");
  ASSERT_EQ(kbddcreate(path.c_str(), 1, &field, kKbdDbase3), kKbdOk);
  int16_t handle = -1;
  ASSERT_EQ(kbddopenx(&handle, path.c_str(), kKbdDbase3), kKbdOk);
  desc.extended_info = u"OEMTOANSI=DOS";
  auto* second = new CXBaseConnection(u"AUTRE", &desc);
  second->AddRef();
  EXPECT_EQ(second->oem_conversion(), 0u);
  EXPECT_EQ(second->IsOpen(), 1);
  EXPECT_EQ(second->Open(nullptr), 1);
  uint32_t count = 99;
  EXPECT_EQ(kbddreccount(handle, &count), kKbdOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(second->Close(nullptr), 1);
  EXPECT_EQ(first->IsOpen(), 1);  // close leaves the engine running
  second->Release();
  first->Release();

  StopEngineIfStarted();
  EXPECT_FALSE(Options().engine_started);
  EXPECT_EQ(kbdgeterror(), kKbdErrNoTask);
}

TEST(DriverOptionsTest, ReadFromTheOptionsFileWithDefaults) {
  ResetDriverOptionsForTesting();
  testing::TempDir dir;
  const std::string saved = platform::SystemDirectory();
  platform::SetSystemDirectory(dir.path());
  ReadDriverOptions();
  EXPECT_EQ(Options().delete_index, 0);
  EXPECT_EQ(Options().duplicates_on, 0);
  EXPECT_EQ(Options().sync_writes, 1);

  testing::WriteWholeFile(dir.File("QXDBINS.INI"),
                          "[option]\r\nDeleteIndex=1\r\nDUPLICATESON=5\r\n"
                          "SYNCWRITES=0\r\n");
  ReadDriverOptions();
  EXPECT_EQ(Options().delete_index, 1);
  EXPECT_EQ(Options().duplicates_on, 5);
  EXPECT_EQ(Options().sync_writes, 0);
  platform::SetSystemDirectory(saved);
}

}  // namespace
}  // namespace qx::access
