// The connection's table listing and table file check.
#include "access/connection/table_listing.h"

#include "access/adapter/data_file_ops.h"
#include "access/connection/table_path.h"
#include "access/errors/error_context.h"
#include "platform/platform.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorNoFile = 1032;
constexpr uint32_t kUnitConnection = 101;
constexpr uint32_t kSiteCheckFile = 13;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::u16string_view Text(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

// Closes a connection the listing opened, on every way out.
class OpenedConnection {
 public:
  OpenedConnection(IConnection* connection, IErrorContext* errors)
      : connection_(connection), errors_(errors) {}
  ~OpenedConnection() {
    if (opened_) connection_->Close(errors_);
  }
  OpenedConnection(const OpenedConnection&) = delete;
  OpenedConnection& operator=(const OpenedConnection&) = delete;

  bool Open() {
    if (connection_->IsOpen() != 0) return true;
    opened_ = connection_->Open(errors_) == 1;
    return opened_;
  }

 private:
  IConnection* connection_;
  IErrorContext* errors_;
  bool opened_ = false;
};

}  // namespace

std::u16string ListingDirectory(std::u16string_view data_source) {
  std::u16string directory(data_source);
  if (TableFileExists(directory)) {
    const PathParts parts = SplitPath(directory);
    directory = parts.drive + parts.directory;
    if (directory.empty()) directory = u".";
  }
  if (directory.empty()) directory = u".";
  if (directory.size() > 1 && IsSeparator(directory.back())) {
    directory.pop_back();
  }
  return directory;
}

int32_t ListConnectionTables(IConnection* connection, uint32_t flags,
                             IErrorContext* errors, std::u16string* list) {
  list->clear();
  OpenedConnection open(connection, errors);
  if (!open.Open()) return 0;
  const std::u16string directory =
      ListingDirectory(Text(connection->GetDataSource()));
  if (!platform::DirectoryExists(platform::Utf16ToAnsi(directory).c_str())) {
    return 0;
  }
  platform::FileSearch search;
  platform::FoundFile found;
  for (bool more = search.First(directory + u"\\*.dbf", &found); more;
       more = search.Next(&found)) {
    const std::u16string full_path = directory + u"\\" + found.name;
    ProbeDataFile(SplitPath(found.name).name, full_path, nullptr);
    if ((flags & kListNames) == 0) continue;
    const std::u16string name = SplitPath(found.name).name;
    if (!list->empty()) *list += u"\r\n";
    *list += name;
    if ((flags & kListPaths) != 0) {
      *list += u"\t" + name + u"\t\t" + full_path;
    }
  }
  return 1;
}

int32_t CheckTableFile(IConnection* connection, std::u16string_view path,
                       CErrorContext* errors) {
  std::u16string full_path;
  if (!ResolveTablePath(Text(connection->GetDataSource()), path, u"", errors,
                        &full_path)) {
    return 0;
  }
  if (TableFileExists(full_path)) return 1;
  ErrorReport report;
  report.id = kErrorNoFile;
  report.args = {platform::MessageArg::Text(full_path)};
  report.unit = kUnitConnection;
  report.site = kSiteCheckFile;
  ReportError(errors, report);
  if (errors != nullptr) errors->SetState(kErrorStateFailed);
  return 0;
}

}  // namespace qx::access
