// CXError: the driver's error object.
//
// Every failure the driver reports is one CXError: the internal id that was
// raised, a level, a user message formatted from a French resource, debug
// lines, named information items, and sub-errors. Raising never fails: a
// missing definition or resource gives a "##(CXError)-" diagnostic as the
// message, with level 3. Dump() gives the readable text of an error by
// section flags (ErrorDumpFlags of qx/driver.h).
//
// Texts are UTF-16; lines are joined with CR LF.
#ifndef QX_ACCESS_ERRORS_CX_ERROR_H_
#define QX_ACCESS_ERRORS_CX_ERROR_H_

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "access/errors/error_def.h"
#include "platform/platform.h"

namespace qx::access {

// Information item ids. Never renumber.
enum ErrorItemId : uint32_t {
  kInfoSrcFile = 1,
  kInfoDstFile = 2,
  kInfoUserName = 3,
  kInfoHelpFile = 4,
  kInfoPathQxd = 5,
  kInfoLogicalTableName = 6,
  kInfoItemName = 7,
  kInfoPathFic = 8,
  kInfoPathNdx = 9,
  kInfoPathMmo = 10,
  kInfoLinkName = 11,
  kInfoRecNum = 12,
  kInfoOdbcCode = 13,
  kInfoOdbcDescription = 14,
  kInfoBaseCode = 15,
  kInfoNativeCode = 16,
  kInfoAdoCode = 17,
  kInfoBaseMessage = 18,
  kInfoNativeMessage = 19,
  kInfoAdoMessage = 20,
  kInfoDataAccess = 21,
  kInfoInfoClient = 22,
  kInfoInfoServeur = 23,
  kInfoPileZl = 24,
  kInfoDateHeure = 25,
  kInfoLockInfo = 26,
  kInfoCorrigeEtat = 27,
  kInfoInfoCs = 28,
  kInfoXInfo = 30,
  kInfoComposant = 31,
  kInfoServeurCs = 32,
  kInfoPileC = 33,
  kInfoHLockTime = 36,
  kInfoHCnxId = 37,
  kInfoExceptionDotNet = 38,
};

// How an item's value is held and dumped.
enum class ErrorItemForm {
  kText,       // "LABEL : <text>", left out when empty
  kPlainText,  // "LABEL : text", left out when empty
  kBlockText,  // "LABEL :" CR LF text, left out when empty
  kInt64,      // "LABEL : <n>"
  kInt32,      // "LABEL : <n>"
  kPointer,    // "LABEL : <%p>", 16 upper-case hex digits
  kNone,       // "LABEL" alone
};

// The form of an item id; false for an id outside the table.
bool ErrorItemFormOf(uint32_t id, ErrorItemForm* form,
                     std::u16string_view* label);

struct ErrorItem {
  uint32_t id = 0;
  std::u16string text;  // kText, kPlainText, kBlockText
  int64_t number = 0;   // kInt64, kInt32 (as int32), kPointer
};

// The host language call an error happened in (filled by the host).
struct HostCallContext {
  std::u16string process;  // the process (treatment) name
  std::u16string suffix;   // written right after the quoted name
  uint32_t line = kUnknownLine;
  uint32_t thread = 0;
  std::u16string function;  // empty: no function line
  uint32_t syntax = 0;
  static constexpr uint32_t kUnknownLine = 0xFFFF;
};

class CXError {
 public:
  CXError() = default;

  // Clears the user message, debug information, system message, items,
  // sub-errors, host call context and detail id.
  void Clear();

  // Clears, then fills the error from the definition of id and the message
  // formatted with args (see the file comment).
  void Raise(const ErrorModule& module, uint32_t id,
             std::span<const platform::MessageArg> args);
  void Raise(const ErrorModule& module, uint32_t id,
             std::initializer_list<platform::MessageArg> args) {
    Raise(module, id,
          std::span<const platform::MessageArg>(args.begin(), args.size()));
  }

  // Items: a second set of an id replaces its value. False for an id
  // outside the table or a value of the wrong form.
  bool SetItemText(uint32_t id, std::u16string_view text);
  bool SetItemNumber(uint32_t id, int64_t number);
  bool SetItemPointer(uint32_t id, const void* pointer);
  bool SetItemPresent(uint32_t id);
  const ErrorItem* FindItem(uint32_t id) const;
  const std::vector<ErrorItem>& items() const { return items_; }

  // Formats a resource and appends it to the user message after CR LF.
  void AppendMessage(const ErrorModule& module, uint32_t resource_id,
                     std::span<const platform::MessageArg> args);
  void AppendMessageText(std::u16string_view text);
  // Appends to the debug information after CR LF; empty texts are ignored.
  void AppendDebug(const ErrorModule& module, uint32_t resource_id,
                   std::span<const platform::MessageArg> args);
  void AppendDebugText(std::u16string_view text);

  void AddSubError(const CXError& error) { sub_errors_.push_back(error); }
  const std::vector<CXError>& sub_errors() const { return sub_errors_; }

  // The readable text of the error (ErrorDumpFlags).
  std::u16string Dump(uint32_t flags) const;

  uint32_t id() const { return id_; }
  uint32_t level() const { return level_; }
  // Level 1 (EL_NONE) clears the error's texts again.
  void set_level(uint32_t level);
  uint32_t detail_id() const { return detail_id_; }
  const std::u16string& user_message() const { return user_message_; }
  const std::u16string& debug_info() const { return debug_info_; }
  const std::u16string& system_message() const { return system_message_; }
  uint32_t system_code() const { return system_code_; }
  void set_system_error(uint32_t code, std::u16string_view message);
  uint32_t compatibility_code() const { return compatibility_code_; }
  void set_compatibility_code(uint32_t code) { compatibility_code_ = code; }
  const std::u16string& module_name() const { return module_name_; }
  const std::u16string& module_version() const { return module_version_; }
  void set_module(std::u16string_view name, std::u16string_view version);
  const std::optional<HostCallContext>& host_call() const { return host_call_; }
  void set_host_call(HostCallContext context) {
    host_call_ = std::move(context);
  }

 private:
  bool SetItem(ErrorItem item, std::initializer_list<ErrorItemForm> forms);

  uint32_t id_ = 0;
  uint32_t level_ = 0;
  uint32_t detail_id_ = 0;
  std::u16string user_message_;
  std::u16string debug_info_;
  uint32_t system_code_ = 0;
  std::u16string system_message_;
  uint32_t compatibility_code_ = 0;
  std::u16string module_name_;
  std::u16string module_version_;
  std::optional<HostCallContext> host_call_;
  std::vector<ErrorItem> items_;  // in the order they were first set
  std::vector<CXError> sub_errors_;
};

}  // namespace qx::access

#endif  // QX_ACCESS_ERRORS_CX_ERROR_H_
