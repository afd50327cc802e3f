// Index access of qxdb: what every kind shares (key types, key text, seek
// images), and the dispatch by file extension (see index_access.h).
#include "host/qxdb/index_access.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/dates/date_format.h"
#include "engine/dates/key_codec.h"
#include "host/qxdb/index_kinds.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::qxdb {
namespace {

std::string LowerExtension(std::string_view path) {
  std::size_t dot = path.rfind('.');
  std::size_t slash = path.find_last_of("/\\");
  if (dot == std::string_view::npos ||
      (slash != std::string_view::npos && dot < slash))
    return "";
  std::string ext(path.substr(dot));
  for (char& c : ext)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// One index kind: its extension, whether it holds named tags, the data
// file extension beside it, and its opener and builder.
struct IndexKind {
  const char* extension;
  const char* name;
  bool tagged;
  const char* table_extension;
  int16_t (*open)(const IndexRequest&, std::unique_ptr<IndexAccess>*);
  int16_t (*build)(const BuildRequest&);
};

// A database container's index (.dcx) is a compound file over the
// container table (.dbc).
constexpr IndexKind kIndexKinds[] = {
    {".ndx", "ndx", false, ".dbf", OpenNdxIndex, BuildNdxIndex},
    {".mdx", "mdx", true, ".dbf", OpenMdxIndex, BuildMdxIndex},
    {".ntx", "ntx", false, ".dbf", OpenNtxIndex, BuildNtxIndex},
    {".idx", "idx", false, ".dbf", OpenIdxIndex, BuildIdxIndex},
    {".cdx", "cdx", true, ".dbf", OpenCdxIndex, BuildCdxIndex},
    {".dcx", "cdx", true, ".dbc", OpenCdxIndex, BuildCdxIndex},
};

const IndexKind* KindOf(std::string_view path) {
  std::string ext = LowerExtension(path);
  for (const IndexKind& kind : kIndexKinds)
    if (ext == kind.extension) return &kind;
  return nullptr;
}

// The width and decimals of a numeric key: those of the field when the
// expression is a bare field name, else 19 digits with 4 decimals.
void NumericKeyShape(const Table& table, const std::string& expression,
                     uint16_t* length, uint16_t* decimals) {
  *length = 19;
  *decimals = 4;
  int16_t number = -1;
  kbdseterror(0);
  if (kbddfieldno(table.handle(), &number, expression.c_str()) < 0 ||
      number < 0 || static_cast<std::size_t>(number) >= table.fields().size()) {
    kbdseterror(0);
    return;
  }
  const KbdFieldDef& field = table.fields()[static_cast<std::size_t>(number)];
  if (field.type == 'N' || field.type == 'F') {
    *length = field.length;
    *decimals = field.decimals;
  }
}

}  // namespace

void IndexAccess::Describe(JsonWriter* w) const {
  w->Key("expression");
  w->String(expression_);
  w->Key("key_length");
  w->Int(key_length_);
}

void IndexAccess::DescribeTag(JsonWriter* w, const TagFacts& tag) {
  w->BeginObject();
  w->Key("name");
  w->String(tag.name);
  w->Key("expression");
  w->String(tag.expression);
  if (!tag.for_expression.empty()) {
    w->Key("for");
    w->String(tag.for_expression);
  }
  w->Key("key_length");
  w->Int(tag.key_length);
  w->Key("key_type");
  w->String(tag.key_type);
  w->Key("unique");
  w->Bool(tag.unique);
  w->Key("descending");
  w->Bool(tag.descending);
  w->EndObject();
}

void IndexAccess::DescribeKey(JsonWriter* w, char key_type) const {
  w->Key("key_type");
  w->String(std::string(1, key_type));
  w->Key("unique");
  w->Bool(unique_);
  w->Key("descending");
  w->Bool(descending_);
}

std::function<void(const uint8_t*, uint32_t)> IndexAccess::RawSink(
    const EntrySink& on_entry) const {
  if (!on_entry) return {};
  return [this, &on_entry](const uint8_t* key, uint32_t recno) {
    on_entry(std::string(reinterpret_cast<const char*>(key), key_length_),
             recno);
  };
}

namespace {

// The rules an index family's keys and conditions are evaluated with: NTX
// files are the Clipper family's, the others dBASE's and FoxPro's.
int16_t FamilyRules(std::string_view family) {
  return family == "ntx" ? kKbdExprRulesClipper : kKbdExprRulesDbase;
}

}  // namespace

int16_t IndexAccess::RecordKey(int16_t dbf_handle, std::string* key) {
  if (!for_expression_.empty()) {
    int16_t accepted = 0;
    kbdseterror(0);
    int16_t status = kbddcond(dbf_handle, for_expression_.c_str(),
                              FamilyRules(kind()), &accepted);
    if (status < 0) return status;
    if (accepted == 0) return kKbdKeyNotFound;
  }
  return MakeKey(dbf_handle, key);
}

char IndexAccess::EvaluatedKeyType(Table& table,
                                   const std::string& expression,
                                   int16_t rules, uint16_t* length) {
  void* value = nullptr;
  char type = ' ';
  *length = 0;
  kbdseterror(0);
  if (kbddevalx(table.handle(), expression.c_str(), -1, rules, &value, &type,
                length) < 0)
    type = ' ';
  kbdfree(value);
  kbdseterror(0);
  return type == 'F' ? 'N' : type;
}

void IndexAccess::TypeFromTable(Table& table) {
  if (typed_by_.empty()) return;
  // With a table at hand, an expression it cannot evaluate leaves the keys
  // text, as they are for character keys.
  key_type_assumed_ = false;
  uint16_t length = 0;
  const char key_type =
      EvaluatedKeyType(table, expression_, FamilyRules(kind()), &length);
  if (key_type != ' ' && typed_by_.find(key_type) != std::string::npos) {
    key_type_ = key_type;
    KeyTypeChanged(length);
  }
}

bool IndexAccess::SeekKey(std::string_view value, std::string* key) const {
  if (key_type_ == 'C') {
    *key = std::string(value.substr(0, key_length_));
    Wrap(key);
    return true;
  }
  if (key_type_ == 'L') {
    if (value.empty()) return false;
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
    if (c != 'T' && c != 'F') return false;
    *key = std::string(1, c);
    Wrap(key);
    return true;
  }
  double number = 0;
  if (key_type_ == 'D') {
    int y, m, d;
    if (value.find_first_not_of(' ') == std::string_view::npos) {
      number = engine::kEmptyDateKeyDay;  // blanks: the empty date
    } else if (value.size() != 8 ||
               engine::ReadDate(&y, &m, &d, value, 4) != kKbdOk) {
      return false;
    } else {
      number = engine::DateToKeyDay(y, m, d);
    }
  } else {
    auto r = std::from_chars(value.data(), value.data() + value.size(), number);
    if (r.ec != std::errc() || r.ptr != value.data() + value.size())
      return false;
  }
  *key = KeyOfNumber(number);
  Wrap(key);
  return true;
}

std::string IndexAccess::KeyText(const std::string& stored,
                                 int code_page) const {
  if (key_type_assumed_) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : stored) {
      hex += kDigits[c >> 4];
      hex += kDigits[c & 0x0F];
    }
    return hex;
  }
  std::string key;
  if (!Unwrap(stored, &key)) return "";  // null
  if (key_type_ == 'C' || key_type_ == 'L') {
    std::string text = key;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
      text.pop_back();
    // Control bytes (keys of binary data) are shown as \xNN, so that one
    // key stays one line.
    std::string shown;
    for (char c : text) {
      if (static_cast<unsigned char>(c) >= 0x20) {
        shown += c;
        continue;
      }
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X",
                    static_cast<unsigned char>(c));
      shown += escape;
    }
    return platform::Utf16ToUtf8(platform::DecodeCodePage(shown, code_page));
  }
  double number = NumberOf(key);
  if (key_type_ == 'D') {
    int y, m, d;
    if (!std::isfinite(number) || number >= 1e99 || number < 0 ||
        number > 1e9 ||
        engine::KeyDayToDate(&y, &m, &d, static_cast<int32_t>(number)) !=
            kKbdOk)
      return "";
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", y % 10000, m % 100,
                  d % 100);
    return text;
  }
  // 15 significant digits: all a double holds of a decimal number, and
  // no noise from a packed-decimal key's conversion.
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", number);
  return text;
}

void TakeReport(const engine::btree::CheckReport& report,
                std::vector<std::string>* problems, uint64_t* keys) {
  // Appended: the caller's entry callback may have reported already.
  problems->insert(problems->end(), report.problems.begin(),
                   report.problems.end());
  if (report.problem_count > report.problems.size())
    problems->push_back(
        std::to_string(report.problem_count - report.problems.size()) +
        " more problems");
  *keys = report.keys;
}

bool IsIndexPath(std::string_view path) { return KindOf(path) != nullptr; }

int OpenIndexFor(Invocation& inv, const std::string& path,
                 const std::optional<std::string>& tag, bool writable,
                 Table* table, std::unique_ptr<IndexAccess>* index) {
  const IndexKind* kind = KindOf(path);
  if (kind == nullptr) return inv.Usage("not an index file: " + path);
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  if (tag && !kind->tagged)
    return inv.Usage(std::string("--tag: an ") + kind->extension +
                     " file holds one key");
  int16_t status = kind->open(IndexRequest{EnginePath(path), tag, writable},
                              index);
  if (status < 0) {
    index->reset();
    return inv.EngineFailure(path, status);
  }
  if (status > 0) inv.EngineWarning(path, status);
  const bool tagged = (*index)->has_tag();
  if (!tagged && table != nullptr)
    return inv.Usage("--tag: name the tag of " + path);
  Table data;
  if (table == nullptr) {
    std::string base = path.substr(0, path.size() - LowerExtension(path).size());
    std::string beside = base + kind->table_extension;
    if (PathExists(beside) && data.Open(beside, false) >= 0) table = &data;
  }
  if (table == nullptr) return kExitOk;
  if (tagged) {
    (*index)->TypeFromTable(*table);
  } else {
    (*index)->TypeTagsFromTable(*table);
  }
  return kExitOk;
}

int BuildIndex(Invocation& inv, Table& table, const std::string& path,
               const std::string& expression, const BuildOptions& options) {
  const IndexKind* kind = KindOf(path);
  if (kind == nullptr) return inv.Usage("not an index file: " + path);
  if (kind->tagged && !options.tag)
    return inv.Usage(std::string("--tag: a ") + kind->extension +
                     " tag needs a name");
  if (!kind->tagged && options.tag)
    return inv.Usage(std::string("--tag: an ") + kind->extension +
                     " file holds one key");
  const std::string_view family = kind->name;
  const bool fox = family == "idx" || family == "cdx";
  if (options.descending && family != "mdx" && family != "ntx" && !fox)
    return inv.Usage(std::string("--descending: ") + kind->extension +
                     " keys ascend only");
  if (options.descending && family == "idx" && !options.compact)
    return inv.Usage("--descending: a standard .idx file ascends only "
                     "(--compact)");
  if (!options.for_expression.empty() && family != "ntx" && !fox)
    return inv.Usage(std::string("--for: ") + kind->extension +
                     " files store no FOR condition here");
  if (options.compact && family != "idx")
    return inv.Usage("--compact: only an .idx file has two layouts");
  // The expression's type on the (blank or current) record buffer gives
  // the key type and, for text, the key length.
  void* value = nullptr;
  char type = ' ';
  uint16_t length = 0;
  kbdseterror(0);
  int16_t status =
      kbddevalx(table.handle(), expression.c_str(), -1, FamilyRules(family),
                &value, &type, &length);
  kbdfree(value);
  if (status < 0) return inv.EngineFailure(path, status);
  BuildRequest request;
  request.dbf_handle = table.handle();
  request.name = EnginePath(path);
  request.expression = expression;
  request.tag = options.tag;
  request.unique = options.unique;
  request.descending = options.descending;
  request.compact = options.compact;
  request.for_expression = options.for_expression;
  request.exists = PathExists(path);
  switch (type) {
    case 'C':
      request.key_type = 'C';
      request.key_length = length;
      break;
    case 'D':
      request.key_type = 'D';
      request.key_length = 8;
      break;
    case 'L':
      request.key_type = 'L';
      request.key_length = 1;
      break;
    case 'N':
    case 'F':
      request.key_type = 'N';
      request.key_length = 8;
      if (std::string_view(kind->name) == "ntx")
        NumericKeyShape(table, expression, &request.key_length,
                        &request.decimals);
      break;
    default:
      return inv.Usage("an index key is text, a number, a date or a logical");
  }
  status = kind->build(request);
  if (status < 0) return inv.EngineFailure(path, status);
  return kExitOk;
}

}  // namespace qx::qxdb
