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

// ---- The dump's sections --------------------------------------------------

// Appends one section: its lines, each ended by CR LF, after one empty line
// when the dump already holds a section.
void AppendSection(std::u16string* out,
                   std::initializer_list<std::u16string> lines) {
  if (!out->empty()) *out += kLineEnd;
  for (const std::u16string& line : lines) {
    *out += line;
    *out += kLineEnd;
  }
}

// A section of one text that may be missing: its heading and the text, or
// the line saying there is none.
void AppendTextSection(std::u16string_view text, uint32_t heading,
                       uint32_t none, std::u16string* out) {
  if (text.empty()) {
    AppendSection(out, {Text(none)});
  } else {
    AppendSection(out, {Text(heading), std::u16string(text)});
  }
}

// A line with one number, shown as a signed 32-bit value.
std::u16string NumberLine(uint32_t text, uint32_t number) {
  return Text(text, {MessageArg::Signed(static_cast<int32_t>(number))});
}

// A number's line, or the line saying there is none when it is 0.
std::u16string NumberOrNoneLine(uint32_t text, uint32_t none, uint32_t number) {
  return number == 0 ? Text(none) : NumberLine(text, number);
}

// 0x02: the host call the error arose in, its line when known, and the
// function when there is one.
void AppendHostCall(const HostCallContext& call, std::u16string* out) {
  std::u16string where =
      call.line == HostCallContext::kUnknownLine
          ? Text(kTextProcess,
                 {MessageArg::Text(call.process), MessageArg::Text(call.suffix),
                  MessageArg::Unsigned(call.thread)})
          : Text(kTextProcessLine,
                 {MessageArg::Text(call.process), MessageArg::Text(call.suffix),
                  MessageArg::Unsigned(call.line),
                  MessageArg::Unsigned(call.thread)});
  if (call.function.empty()) {
    AppendSection(out, {Text(kTextHostCall), where});
  } else {
    std::u16string function = Text(
        kTextFunction,
        {MessageArg::Text(call.function), MessageArg::Unsigned(call.syntax)});
    AppendSection(out, {Text(kTextHostCall), where, function});
  }
}

// 0x80: the user message, under its heading unless kDumpNoHeading.
void AppendUserMessage(std::u16string_view user_message, bool heading,
                       std::u16string* out) {
  std::u16string message = user_message.empty() ? Text(kTextNoMessage)
                                                : std::u16string(user_message);
  if (heading) {
    AppendSection(out, {Text(kTextWhat), message});
  } else {
    AppendSection(out, {message});
  }
}

// 0x01: the module that raised the error, with its version.
std::u16string ModuleLine(const CXError& error) {
  if (error.module_name().empty()) return Text(kTextUnknownModule);
  return Text(kTextModule, {MessageArg::Text(error.module_name()),
                            MessageArg::Text(error.module_version())});
}

// 0x200: one line per item that has something to show, under a heading.
void AppendItems(const std::vector<ErrorItem>& items, std::u16string* out) {
  std::u16string lines;
  for (const ErrorItem& item : items) {
    std::u16string line;
    if (ItemLine(item, &line)) {
      lines += line;
      lines += kLineEnd;
    }
  }
  if (lines.empty()) {
    AppendSection(out, {Text(kTextNoItems)});
    return;
  }
  // The lines end with CR LF already; a block-text item spans several.
  AppendSection(out, {Text(kTextItems)});
  *out += lines;
}

void AppendDump(const CXError& error, uint32_t flags, std::u16string* out);

// 0x800: each sub-error under its numbered rule, dumped with the same flags
// as a dump of its own (its first section has no empty line before it).
void AppendSubErrors(const std::vector<CXError>& sub_errors, uint32_t flags,
                     std::u16string* out) {
  for (size_t n = 0; n < sub_errors.size(); ++n) {
    *out += u"\r\n----- ";
    *out +=
        Text(kTextSubError, {MessageArg::Signed(static_cast<int64_t>(n + 1))});
    *out += u" -----\r\n\r\n";
    std::u16string sub;
    AppendDump(sub_errors[n], flags, &sub);
    *out += sub;
  }
}

// The sections the flags choose, in the dump's fixed order (file comment).
void AppendDump(const CXError& error, uint32_t flags, std::u16string* out) {
  if ((flags & kDumpHostCall) != 0 && error.host_call().has_value())
    AppendHostCall(*error.host_call(), out);
  if ((flags & kDumpUserMessage) != 0)
    AppendUserMessage(error.user_message(), (flags & kDumpNoHeading) == 0, out);
  if ((flags & kDumpId) != 0) {
    AppendSection(out, {NumberLine(kTextId, error.id())});
  }
  if ((flags & kDumpLevel) != 0) AppendSection(out, {LevelText(error.level())});
  if ((flags & kDumpCompatibilityCode) != 0) {
    AppendSection(out,
                  {NumberLine(kTextCompatibility, error.compatibility_code())});
  }
  if ((flags & kDumpSystemCode) != 0) {
    AppendSection(out, {NumberOrNoneLine(kTextSystemCode, kTextNoSystemCode,
                                         error.system_code())});
  }
  if ((flags & kDumpSystemMessage) != 0) {
    AppendTextSection(error.system_message(), kTextSystemMessage,
                      kTextNoSystemMessage, out);
  }
  if ((flags & kDumpModule) != 0) AppendSection(out, {ModuleLine(error)});
  if ((flags & kDumpDetailId) != 0) {
    AppendSection(
        out, {NumberOrNoneLine(kTextDetail, kTextNoDetail, error.detail_id())});
  }
  if ((flags & kDumpDebug) != 0)
    AppendTextSection(error.debug_info(), kTextDebug, kTextNoDebug, out);
  if ((flags & kDumpItems) != 0) AppendItems(error.items(), out);
  if ((flags & kDumpSubErrors) != 0)
    AppendSubErrors(error.sub_errors(), flags, out);
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
  AppendDump(*this, flags, &out);
  return out;
}

}  // namespace qx::access
