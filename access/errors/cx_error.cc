// CXError: raising, items, appending, and the dump.
//
// Dump layout: the sections chosen by the flags in a fixed order (0x02,
// 0x80, 0x08, 0x04, 0x10, 0x20, 0x40, 0x01, 0x400, 0x100, 0x200, then the
// sub-errors of 0x800), each line ending with CR LF and one empty line
// between two sections. A sub-error follows as CR LF, "----- Sous-erreur
// n°N -----", CR LF, CR LF and its own dump with the same flags.
#include "access/errors/cx_error.h"

#include <cinttypes>
#include <cstdio>
#include <iterator>

#include "qx/driver.h"

namespace qx::access {
namespace {

using platform::MessageArg;

struct ItemRow {
  uint32_t id;
  std::u16string_view label;
  ErrorItemForm form;
};

constexpr ItemRow kItemRows[] = {
    {kInfoSrcFile, u"EIT_SRCFILE", ErrorItemForm::kText},
    {kInfoDstFile, u"EIT_DSTFILE", ErrorItemForm::kText},
    {kInfoUserName, u"EIT_USERNAME", ErrorItemForm::kText},
    {kInfoHelpFile, u"EIT_HELPFILE", ErrorItemForm::kText},
    {kInfoPathQxd, u"EIT_PATHQXD", ErrorItemForm::kText},
    {kInfoLogicalTableName, u"EIT_LOGICALTABLENAME", ErrorItemForm::kText},
    {kInfoItemName, u"EIT_ITEMNAME", ErrorItemForm::kText},
    {kInfoPathFic, u"EIT_PATHFIC", ErrorItemForm::kText},
    {kInfoPathNdx, u"EIT_PATHNDX", ErrorItemForm::kText},
    {kInfoPathMmo, u"EIT_PATHMMO", ErrorItemForm::kText},
    {kInfoLinkName, u"EIT_LINKNAME", ErrorItemForm::kText},
    {kInfoRecNum, u"EIT_RECNUM", ErrorItemForm::kInt64},
    {kInfoOdbcCode, u"EIT_ODBCCODE", ErrorItemForm::kText},
    {kInfoOdbcDescription, u"EIT_ODBCDESCRIPTION", ErrorItemForm::kText},
    {kInfoBaseCode, u"EIT_BASECODE", ErrorItemForm::kInt32},
    {kInfoNativeCode, u"EIT_NATIVECODE", ErrorItemForm::kInt32},
    {kInfoAdoCode, u"EIT_ADOCODE", ErrorItemForm::kInt32},
    {kInfoBaseMessage, u"EIT_BASEMESSAGE", ErrorItemForm::kText},
    {kInfoNativeMessage, u"EIT_NATIVEMESSAGE", ErrorItemForm::kText},
    {kInfoAdoMessage, u"EIT_ADOMESSAGE", ErrorItemForm::kText},
    {kInfoDataAccess, u"EIT_DATAACCESS", ErrorItemForm::kPointer},
    {kInfoInfoClient, u"EIT_INFOCLIENT", ErrorItemForm::kText},
    {kInfoInfoServeur, u"EIT_INFOSERVEUR", ErrorItemForm::kText},
    {kInfoPileZl, u"EIT_PILEZL", ErrorItemForm::kBlockText},
    {kInfoDateHeure, u"EIT_DATEHEURE", ErrorItemForm::kPlainText},
    {kInfoLockInfo, u"EIT_LOCKINFO", ErrorItemForm::kPlainText},
    {kInfoCorrigeEtat, u"EIT_CORRIGE_ETAT", ErrorItemForm::kPlainText},
    {kInfoInfoCs, u"EIT_INFOCS", ErrorItemForm::kText},
    {kInfoXInfo, u"EIT_XINFO", ErrorItemForm::kInt32},
    {kInfoComposant, u"EIT_COMPOSANT", ErrorItemForm::kBlockText},
    {kInfoServeurCs, u"EIT_SERVEURCS", ErrorItemForm::kText},
    {kInfoPileC, u"EIT_PILEC", ErrorItemForm::kBlockText},
    {kInfoHLockTime, u"EIT_HLOCKTIME", ErrorItemForm::kInt64},
    {kInfoHCnxId, u"EIT_HCNXID", ErrorItemForm::kInt32},
    {kInfoExceptionDotNet, u"EIT_EXCEPTIONDOTNET", ErrorItemForm::kNone},
};

// Resource ids of the dump's texts (resources/messages.txt, our range).
enum DumpText : uint32_t {
  kTextHostCall = 29010,
  kTextProcessLine = 29011,
  kTextProcess = 29012,
  kTextFunction = 29013,
  kTextWhat = 29014,
  kTextNoMessage = 29015,
  kTextId = 29016,
  kTextLevelNone = 29017,
  kTextLevelOnReturn = 29018,
  kTextLevelFatal = 29019,
  kTextLevelWarning = 29020,
  kTextLevelOther = 29021,
  kTextCompatibility = 29022,
  kTextSystemCode = 29023,
  kTextNoSystemCode = 29024,
  kTextSystemMessage = 29025,
  kTextNoSystemMessage = 29026,
  kTextModule = 29027,
  kTextUnknownModule = 29028,
  kTextDetail = 29029,
  kTextNoDetail = 29030,
  kTextDebug = 29031,
  kTextNoDebug = 29032,
  kTextItems = 29033,
  kTextNoItems = 29034,
  kTextSubError = 29035,
};

constexpr std::u16string_view kLineEnd = u"\r\n";

std::u16string Text(uint32_t id, std::initializer_list<MessageArg> args = {}) {
  return FormatResource(DriverModule(), id,
                        std::span<const MessageArg>(args.begin(), args.size()));
}

std::u16string Ascii(const char* text) {
  std::u16string out;
  while (*text != '\0') out += static_cast<char16_t>(*text++);
  return out;
}

std::u16string Signed(int64_t n) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%" PRId64, n);
  return Ascii(buffer);
}

// %p as Windows prints it on 64 bits: 16 upper-case hex digits.
std::u16string PointerText(uint64_t p) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%016" PRIX64, p);
  return Ascii(buffer);
}

bool IsWarningLevel(uint32_t level) {
  return (level >= 0x10001 && level <= 0x10004) || level == 0x20001;
}

bool IsFatalLevel(uint32_t level) {
  return level == kLevelFatal || level == 0x40000004 || level == 0x40000008;
}

std::u16string LevelText(uint32_t level) {
  if (level == kLevelNone) return Text(kTextLevelNone);
  if (level == kLevelOnReturn) return Text(kTextLevelOnReturn);
  if (IsFatalLevel(level)) return Text(kTextLevelFatal);
  if (IsWarningLevel(level)) return Text(kTextLevelWarning);
  return Text(kTextLevelOther,
              {MessageArg::Signed(static_cast<int32_t>(level))});
}

// One item's dump line, or nothing for an empty text item.
bool ItemLine(const ErrorItem& item, std::u16string* line) {
  ErrorItemForm form;
  std::u16string_view label;
  if (!ErrorItemFormOf(item.id, &form, &label)) return false;
  *line = std::u16string(label);
  switch (form) {
    case ErrorItemForm::kText:
      if (item.text.empty()) return false;
      *line += u" : <" + item.text + u">";
      return true;
    case ErrorItemForm::kPlainText:
      if (item.text.empty()) return false;
      *line += u" : " + item.text;
      return true;
    case ErrorItemForm::kBlockText:
      if (item.text.empty()) return false;
      *line += u" :\r\n" + item.text;
      return true;
    case ErrorItemForm::kInt64:
      *line += u" : <" + Signed(item.number) + u">";
      return true;
    case ErrorItemForm::kInt32:
      *line += u" : <" + Signed(static_cast<int32_t>(item.number)) + u">";
      return true;
    case ErrorItemForm::kPointer:
      *line += u" : <" + PointerText(static_cast<uint64_t>(item.number)) + u">";
      return true;
    case ErrorItemForm::kNone:
      return true;
  }
  return false;
}

void AppendJoined(std::u16string* text, std::u16string_view more) {
  if (more.empty()) return;
  if (!text->empty()) *text += kLineEnd;
  *text += more;
}

}  // namespace

bool ErrorItemFormOf(uint32_t id, ErrorItemForm* form,
                     std::u16string_view* label) {
  for (const ItemRow& row : kItemRows) {
    if (row.id != id) continue;
    if (form != nullptr) *form = row.form;
    if (label != nullptr) *label = row.label;
    return true;
  }
  return false;
}

void CXError::Clear() {
  user_message_.clear();
  debug_info_.clear();
  system_message_.clear();
  items_.clear();
  sub_errors_.clear();
  host_call_.reset();
  detail_id_ = 0;
}

void CXError::Raise(const ErrorModule& module, uint32_t id,
                    std::span<const platform::MessageArg> args) {
  Clear();
  set_module(module.name, module.version);
  const ErrorDefinition* row = FindErrorDefinition(module, id);
  if (row == nullptr) {
    level_ = kLevelFatal;
    user_message_ = MissingDefinitionText(id);
    return;
  }
  id_ = id;
  user_message_ = FormatResource(module, row->resource_id, args);
  detail_id_ = row->detail_id;
  set_level(row->level);
}

void CXError::set_level(uint32_t level) {
  level_ = level;
  if (level == kLevelNone) Clear();
}

void CXError::set_system_error(uint32_t code, std::u16string_view message) {
  system_code_ = code;
  system_message_ = message;
}

void CXError::set_module(std::u16string_view name,
                         std::u16string_view version) {
  module_name_ = name;
  module_version_ = version;
}

bool CXError::SetItem(ErrorItem item,
                      std::initializer_list<ErrorItemForm> forms) {
  ErrorItemForm form;
  if (!ErrorItemFormOf(item.id, &form, nullptr)) return false;
  bool allowed = false;
  for (ErrorItemForm f : forms) allowed = allowed || f == form;
  if (!allowed) return false;
  for (ErrorItem& held : items_) {
    if (held.id == item.id) {
      held = std::move(item);
      return true;
    }
  }
  items_.push_back(std::move(item));
  return true;
}

bool CXError::SetItemText(uint32_t id, std::u16string_view text) {
  return SetItem({id, std::u16string(text), 0},
                 {ErrorItemForm::kText, ErrorItemForm::kPlainText,
                  ErrorItemForm::kBlockText});
}

bool CXError::SetItemNumber(uint32_t id, int64_t number) {
  return SetItem({id, {}, number},
                 {ErrorItemForm::kInt64, ErrorItemForm::kInt32});
}

bool CXError::SetItemPointer(uint32_t id, const void* pointer) {
  return SetItem(
      {id, {}, static_cast<int64_t>(reinterpret_cast<uintptr_t>(pointer))},
      {ErrorItemForm::kPointer});
}

bool CXError::SetItemPresent(uint32_t id) {
  return SetItem({id, {}, 0}, {ErrorItemForm::kNone});
}

const ErrorItem* CXError::FindItem(uint32_t id) const {
  for (const ErrorItem& item : items_) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

void CXError::AppendMessage(const ErrorModule& module, uint32_t resource_id,
                            std::span<const platform::MessageArg> args) {
  AppendMessageText(FormatResource(module, resource_id, args));
}

void CXError::AppendMessageText(std::u16string_view text) {
  AppendJoined(&user_message_, text);
}

void CXError::AppendDebug(const ErrorModule& module, uint32_t resource_id,
                          std::span<const platform::MessageArg> args) {
  AppendDebugText(FormatResource(module, resource_id, args));
}

void CXError::AppendDebugText(std::u16string_view text) {
  AppendJoined(&debug_info_, text);
}

std::u16string CXError::Dump(uint32_t flags) const {
  std::u16string out;
  AppendSections(flags, &out);
  return out;
}

void CXError::AppendSections(uint32_t flags, std::u16string* out) const {
  // Each section is a list of lines; sections are separated by one empty
  // line.
  auto section = [out](std::initializer_list<std::u16string> lines) {
    if (!out->empty()) *out += kLineEnd;
    for (const std::u16string& line : lines) {
      *out += line;
      *out += kLineEnd;
    }
  };
  if ((flags & kDumpHostCall) != 0 && host_call_.has_value()) {
    const HostCallContext& call = *host_call_;
    std::u16string where =
        call.line == HostCallContext::kUnknownLine
            ? Text(kTextProcess, {MessageArg::Text(call.process),
                                  MessageArg::Text(call.suffix),
                                  MessageArg::Unsigned(call.thread)})
            : Text(kTextProcessLine, {MessageArg::Text(call.process),
                                      MessageArg::Text(call.suffix),
                                      MessageArg::Unsigned(call.line),
                                      MessageArg::Unsigned(call.thread)});
    if (call.function.empty()) {
      section({Text(kTextHostCall), where});
    } else {
      section({Text(kTextHostCall), where,
               Text(kTextFunction, {MessageArg::Text(call.function),
                                    MessageArg::Unsigned(call.syntax)})});
    }
  }
  if ((flags & kDumpUserMessage) != 0) {
    std::u16string message =
        user_message_.empty() ? Text(kTextNoMessage) : user_message_;
    if ((flags & kDumpNoHeading) != 0) {
      section({message});
    } else {
      section({Text(kTextWhat), message});
    }
  }
  if ((flags & kDumpId) != 0) {
    section({Text(kTextId, {MessageArg::Signed(static_cast<int32_t>(id_))})});
  }
  if ((flags & kDumpLevel) != 0) section({LevelText(level_)});
  if ((flags & kDumpCompatibilityCode) != 0) {
    section({Text(kTextCompatibility, {MessageArg::Signed(static_cast<int32_t>(
                                          compatibility_code_))})});
  }
  if ((flags & kDumpSystemCode) != 0) {
    section(
        {system_code_ == 0
             ? Text(kTextNoSystemCode)
             : Text(kTextSystemCode,
                    {MessageArg::Signed(static_cast<int32_t>(system_code_))})});
  }
  if ((flags & kDumpSystemMessage) != 0) {
    if (system_message_.empty()) {
      section({Text(kTextNoSystemMessage)});
    } else {
      section({Text(kTextSystemMessage), system_message_});
    }
  }
  if ((flags & kDumpModule) != 0) {
    section({module_name_.empty()
                 ? Text(kTextUnknownModule)
                 : Text(kTextModule, {MessageArg::Text(module_name_),
                                      MessageArg::Text(module_version_)})});
  }
  if ((flags & kDumpDetailId) != 0) {
    section({detail_id_ == 0
                 ? Text(kTextNoDetail)
                 : Text(kTextDetail, {MessageArg::Signed(
                                         static_cast<int32_t>(detail_id_))})});
  }
  if ((flags & kDumpDebug) != 0) {
    if (debug_info_.empty()) {
      section({Text(kTextNoDebug)});
    } else {
      section({Text(kTextDebug), debug_info_});
    }
  }
  if ((flags & kDumpItems) != 0) {
    std::u16string lines;
    for (const ErrorItem& item : items_) {
      std::u16string line;
      if (ItemLine(item, &line)) {
        lines += line;
        lines += kLineEnd;
      }
    }
    if (lines.empty()) {
      section({Text(kTextNoItems)});
    } else {
      if (!out->empty()) *out += kLineEnd;
      *out += Text(kTextItems);
      *out += kLineEnd;
      *out += lines;
    }
  }
  if ((flags & kDumpSubErrors) != 0) {
    for (size_t n = 0; n < sub_errors_.size(); ++n) {
      *out += u"\r\n----- ";
      *out += Text(kTextSubError,
                   {MessageArg::Signed(static_cast<int64_t>(n + 1))});
      *out += u" -----\r\n\r\n";
      std::u16string sub;
      sub_errors_[n].AppendSections(flags, &sub);
      *out += sub;
    }
  }
}

}  // namespace qx::access
