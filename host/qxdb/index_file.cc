// qxdb's index files over the access layer's adapter (see index_file.h).
#include "host/qxdb/index_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "access/adapter/index_check.h"
#include "access/adapter/index_create.h"
#include "access/adapter/index_ops.h"
#include "access/adapter/key_image.h"
#include "access/adapter/key_ops.h"
#include "access/adapter/key_typing.h"
#include "platform/platform.h"

namespace qx::qxdb {
namespace {

using access::IndexFamily;
using access::IndexFamilyOf;

// The adapter's key buffer: room for the longest key of any family.
constexpr size_t kKeyBufferSize = 512;
// The search mode every family reads as "the first entry not below".
constexpr uint16_t kSeekNotBelow = 1;
constexpr size_t kDateTextLength = 8;
constexpr uint16_t kReadMode = kKbdModeShared | kKbdModeReadOnly;
constexpr uint16_t kWriteMode = kKbdModeShared;

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

// The type letter a key type is shown and sought as.
char Letter(int16_t key_type) {
  switch (key_type) {
    case access::kKeyCurrency:
    case access::kKeyInteger:
      return 'N';
    case access::kKeyDateTime:
      return 'D';
    default:
      return static_cast<char>(key_type);
  }
}

// The host value type qxdb hands a key's seek values in.
uint8_t ItemTypeOf(int16_t key_type) {
  return Letter(key_type) == 'N' ? kValueDouble : kValueText;
}

char ListedLetter(uint16_t type) {
  return type == 'C' || type == 'N' || type == 'D' || type == 'L'
             ? static_cast<char>(type)
             : 'C';
}

void DescribeTag(JsonWriter* w, const access::IndexKeyInfo& tag,
                 uint32_t key_length, char key_type, bool with_for) {
  w->BeginObject();
  w->Key("name");
  w->String(tag.key_name);
  w->Key("expression");
  w->String(tag.expression);
  if (with_for && !tag.for_expression.empty()) {
    w->Key("for");
    w->String(tag.for_expression);
  }
  w->Key("key_length");
  w->Int(key_length);
  w->Key("key_type");
  w->String(std::string(1, key_type));
  w->Key("unique");
  w->Bool((tag.flags & kKbdKeyUnique) != 0);
  w->Key("descending");
  w->Bool((tag.flags & kKbdKeyDescending) != 0);
  w->EndObject();
}

// A described key's stored length: the reported one without a character
// key's terminator.
uint32_t StoredLength(const access::IndexKeyInfo& info) {
  return info.key_length - (info.key_type == 'C' ? 1u : 0u);
}

}  // namespace

IndexFile::~IndexFile() {
  if (key_.tag_handle != access::kNoTagHandle)
    access::CloseTag(key_.dialect, key_.tag_handle);
  if (file_handle_ != access::kNoIndexHandle)
    access::CloseIndex(key_.dialect, file_handle_);
}

int16_t IndexFile::Open(const std::string& path, access::XbaseDialect dialect,
                        const std::optional<std::string>& tag, bool writable) {
  image_.assign(kKeyBufferSize, 0);
  key_.dialect = dialect;
  int32_t status =
      access::OpenIndex(dialect, platform::Utf8ToUtf16(path), &file_handle_,
                        writable ? kWriteMode : kReadMode);
  if (status < 0) return static_cast<int16_t>(status);
  key_.index_handle = file_handle_;
  const bool tagged = access::KeysAreTags(dialect);
  if (tagged) {
    if (!tag) return static_cast<int16_t>(status);
    const int32_t opened =
        access::OpenTag(dialect, *tag, &key_.tag_handle, file_handle_);
    if (opened < 0) return static_cast<int16_t>(opened);
  }
  const int32_t described =
      access::DescribeKeyByTag(&info_, dialect, file_handle_, key_.tag_handle);
  if (described < 0) return static_cast<int16_t>(described);
  key_.key_type = static_cast<int16_t>(info_.key_type);
  key_.key_value_type = access::KeyValueTypeOf(dialect, key_.key_type);
  key_.key_length =
      StoredLength(info_) + (IsTextValueType(key_.key_value_type) ? 1u : 0u);
  key_.item_type = ItemTypeOf(key_.key_type);
  const IndexFamily family = IndexFamilyOf(dialect);
  key_type_assumed_ =
      family == IndexFamily::kIdx || family == IndexFamily::kCdx;
  return static_cast<int16_t>(status);
}

const char* IndexFile::kind() const {
  switch (IndexFamilyOf(key_.dialect)) {
    case IndexFamily::kNdx:
      return "ndx";
    case IndexFamily::kMdx:
      return "mdx";
    case IndexFamily::kIdx:
      return "idx";
    case IndexFamily::kCdx:
      return "cdx";
    case IndexFamily::kNtx:
      return "ntx";
    case IndexFamily::kNone:
      break;
  }
  return "";
}

bool IndexFile::has_tag() const {
  return !access::KeysAreTags(key_.dialect) ||
         key_.tag_handle != access::kNoTagHandle;
}

char IndexFile::key_type() const { return Letter(key_.key_type); }

uint32_t IndexFile::stored_length() const {
  return access::EngineKeyLength(key_);
}

void IndexFile::Load(const std::string& key) {
  std::fill(image_.begin(), image_.end(), uint8_t{0});
  std::memcpy(image_.data(), key.data(),
              std::min<size_t>({key.size(), stored_length(), image_.size()}));
}

std::string IndexFile::Stored() const {
  return std::string(reinterpret_cast<const char*>(image_.data()),
                     std::min<size_t>(stored_length(), image_.size()));
}

void IndexFile::Describe(JsonWriter* w) const {
  const IndexFamily family = IndexFamilyOf(key_.dialect);
  if (access::KeysAreTags(key_.dialect)) {
    int32_t count = 0;
    access::CountTags(key_.dialect, file_handle_, &count);
    w->Key("tags");
    w->BeginArray();
    for (int32_t n = 0; n < count; ++n) {
      access::IndexKeyInfo tag;
      if (access::DescribeKeyByNumber(&tag, key_.dialect, file_handle_, n) < 0)
        continue;
      char type = ListedLetter(tag.key_type);
      if (family == IndexFamily::kMdx) {
        type = static_cast<char>(tag.key_type);
      } else {
        for (const auto& [name, typed] : tag_types_)
          if (name == tag.key_name) type = typed;
      }
      DescribeTag(w, tag, StoredLength(tag), type, family == IndexFamily::kCdx);
    }
    w->EndArray();
    return;
  }
  w->Key("expression");
  w->String(info_.expression);
  w->Key("key_length");
  w->Int(stored_length());
  if (family == IndexFamily::kIdx) {
    w->Key("layout");
    w->String((info_.flags & kKbdKeyCompact) ? "compact" : "standard");
  }
  if (!info_.for_expression.empty()) {
    w->Key("for");
    w->String(info_.for_expression);
  }
  if (family == IndexFamily::kNtx) {
    w->Key("decimals");
    w->Int(info_.attribute);
  }
  w->Key("key_type");
  // An NDX file says only character or numeric: dates are numeric there.
  const char type = family == IndexFamily::kNdx
                        ? (info_.key_type == 'C' ? 'C' : 'N')
                        : key_type();
  w->String(std::string(1, type));
  w->Key("unique");
  w->Bool(unique());
  w->Key("descending");
  w->Bool((info_.flags & kKbdKeyDescending) != 0);
}

int16_t IndexFile::First(std::string* key, uint32_t* recno) {
  const int32_t status = access::FirstKey(key_, image_, recno);
  *key = Stored();
  return static_cast<int16_t>(status);
}

int16_t IndexFile::Next(std::string* key, uint32_t* recno) {
  Load(*key);
  const int32_t status = access::NextKey(key_, image_, recno);
  *key = Stored();
  return static_cast<int16_t>(status);
}

int16_t IndexFile::Seek(const std::string& key, std::string* found,
                        uint32_t* recno) {
  *recno = 0;
  Load(key);
  const int32_t status =
      access::SeekKey(key_, image_, false, recno, kSeekNotBelow);
  *found = Stored();
  return static_cast<int16_t>(status);
}

int16_t IndexFile::SoftSeek(const std::string& key, std::string* found,
                            uint32_t* recno) {
  Load(key);
  const int32_t status = access::SeekKeyNotBefore(key_, image_, recno);
  *found = Stored();
  return static_cast<int16_t>(status);
}

int16_t IndexFile::RecordKey(int16_t dbf_handle, std::string* key) {
  const uint16_t dbf = static_cast<uint16_t>(dbf_handle);
  const int32_t belongs = access::RecordBelongs(key_, dbf);
  if (belongs < 0) return static_cast<int16_t>(belongs);
  if (belongs == 0) return kKbdKeyNotFound;
  const int32_t status = access::RecordKey(key_, dbf, -1, 0, image_);
  if (status < 0) return static_cast<int16_t>(status);
  *key = Stored();
  return static_cast<int16_t>(status);
}

int16_t IndexFile::Add(const std::string& key, uint32_t recno) {
  Load(key);
  const int32_t status = access::AddKey(key_, image_, recno);
  const IndexFamily family = IndexFamilyOf(key_.dialect);
  // A unique FoxPro index keeps the first record of a key.
  if (status == kKbdAlreadyExists && unique() &&
      (family == IndexFamily::kIdx || family == IndexFamily::kCdx))
    return kKbdOk;
  return static_cast<int16_t>(status);
}

int16_t IndexFile::Check(std::vector<std::string>* problems, uint64_t* keys,
                         const EntrySink& on_entry) {
  access::IndexCheckReport report;
  access::IndexEntrySink sink;
  if (on_entry) {
    const uint32_t length = stored_length();
    sink = [&on_entry, length](const uint8_t* key, uint32_t recno) {
      on_entry(std::string(reinterpret_cast<const char*>(key), length), recno);
    };
  }
  const int32_t status = access::CheckIndexKey(key_, &report, sink);
  // Appended: the caller's entry callback may have reported already.
  problems->insert(problems->end(), report.problems.begin(),
                   report.problems.end());
  *keys = report.keys;
  return static_cast<int16_t>(status);
}

bool IndexFile::SameKey(const std::string& a, const std::string& b) const {
  return access::SameKeyImage(
      key_, {reinterpret_cast<const uint8_t*>(a.data()), a.size()},
      {reinterpret_cast<const uint8_t*>(b.data()), b.size()});
}

void IndexFile::TypeFromTable(Table& table) {
  if (!has_tag()) return;
  // With a table at hand, an expression it cannot evaluate leaves the keys
  // text, as they are for character keys.
  key_type_assumed_ = false;
  if (access::TypeKeyFromTable(&key_, static_cast<uint16_t>(table.handle()),
                               info_.expression) >= 0)
    key_.item_type = ItemTypeOf(key_.key_type);
}

void IndexFile::TypeTagsFromTable(Table& table) {
  if (IndexFamilyOf(key_.dialect) != IndexFamily::kCdx) return;
  int32_t count = 0;
  access::CountTags(key_.dialect, file_handle_, &count);
  for (int32_t n = 0; n < count; ++n) {
    access::IndexKeyInfo tag;
    if (access::DescribeKeyByNumber(&tag, key_.dialect, file_handle_, n) < 0)
      continue;
    access::IndexKeyDescriptor typed = key_;
    if (access::OpenTag(key_.dialect, tag.key_name, &typed.tag_handle,
                        file_handle_) < 0)
      continue;
    typed.key_type = static_cast<int16_t>(tag.key_type);
    typed.key_value_type = access::KeyValueTypeOf(key_.dialect, typed.key_type);
    typed.key_length =
        StoredLength(tag) + (IsTextValueType(typed.key_value_type) ? 1u : 0u);
    if (access::TypeKeyFromTable(&typed, static_cast<uint16_t>(table.handle()),
                                 tag.expression) >= 0)
      tag_types_.emplace_back(tag.key_name, Letter(typed.key_type));
    access::CloseTag(key_.dialect, typed.tag_handle);
  }
}

bool IndexFile::SeekKey(std::string_view value, std::string* key) const {
  std::string text;
  HostValue host;
  double number = 0;
  switch (key_type()) {
    case 'C':
      text.assign(value);
      break;
    case 'L': {
      if (value.empty()) return false;
      const char c =
          static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
      if (c != 'T' && c != 'F') return false;
      text.assign(1, c);
      break;
    }
    case 'D':
      if (value.find_first_not_of(' ') == std::string_view::npos) {
        text.assign(kDateTextLength, ' ');  // the empty date
      } else {
        if (value.size() != kDateTextLength ||
            value.find_first_not_of("0123456789") != std::string_view::npos)
          return false;
        text.assign(value);
      }
      break;
    default: {
      auto r =
          std::from_chars(value.data(), value.data() + value.size(), number);
      if (r.ec != std::errc() || r.ptr != value.data() + value.size())
        return false;
      host.type = kValueDouble;
      host.size = sizeof number;
      host.fixed.f64 = number;
      break;
    }
  }
  if (host.type == kValueNone) {
    host.type = kValueText;
    host.size = static_cast<uint32_t>(text.size());
    host.data = text.data();
  }
  std::vector<uint8_t> image(kKeyBufferSize, 0);
  if (access::MakeKey(key_, host, image) != kKbdOk) return false;
  key->assign(reinterpret_cast<const char*>(image.data()),
              std::min<size_t>(stored_length(), image.size()));
  return true;
}

std::string IndexFile::KeyText(const std::string& stored, int code_page) const {
  if (key_type_assumed_) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : stored) {
      hex += kDigits[c >> 4];
      hex += kDigits[c & 0x0F];
    }
    return hex;
  }
  const access::KeyImageValue value = access::ReadKeyImage(
      key_, {reinterpret_cast<const uint8_t*>(stored.data()), stored.size()});
  if (value.null || !value.valid) return "";
  switch (key_type()) {
    case 'C':
    case 'L': {
      // Control bytes (keys of binary data) are shown as \xNN, so that one
      // key stays one line.
      std::string shown;
      for (char c : value.text) {
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
    case 'D':
      return value.text;
    default: {
      // 15 significant digits: all a double holds of a decimal number, and
      // no noise from a packed-decimal key's conversion.
      char text[40];
      std::snprintf(text, sizeof text, "%.15g", value.number);
      return text;
    }
  }
}

bool IndexKindOf(std::string_view path, access::XbaseDialect* dialect,
                 std::string* table_extension) {
  *dialect = access::DialectOfIndexPath(platform::Utf8ToUtf16(path));
  *table_extension = ".dbf";
  if (*dialect != access::kDialectOther) return true;
  if (LowerExtension(path) != ".dcx") return false;
  *dialect = kKbdVisualFoxpro;
  *table_extension = ".dbc";
  return true;
}

bool IsIndexPath(std::string_view path) {
  access::XbaseDialect dialect;
  std::string table_extension;
  return IndexKindOf(path, &dialect, &table_extension);
}

int OpenIndexFor(Invocation& inv, const std::string& path,
                 const std::optional<std::string>& tag, bool writable,
                 Table* table, std::unique_ptr<IndexFile>* index) {
  access::XbaseDialect dialect;
  std::string table_extension;
  if (!IndexKindOf(path, &dialect, &table_extension))
    return inv.Usage("not an index file: " + path);
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  const std::string extension = LowerExtension(path);
  if (tag && !access::KeysAreTags(dialect))
    return inv.Usage("--tag: an " + extension + " file holds one key");
  *index = std::make_unique<IndexFile>();
  int16_t status = (*index)->Open(path, dialect, tag, writable);
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
    const std::string base = path.substr(0, path.size() - extension.size());
    const std::string beside = base + table_extension;
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
  access::XbaseDialect dialect;
  std::string table_extension;
  if (!IndexKindOf(path, &dialect, &table_extension))
    return inv.Usage("not an index file: " + path);
  const std::string extension = LowerExtension(path);
  const bool tagged = access::KeysAreTags(dialect);
  if (tagged && !options.tag)
    return inv.Usage("--tag: a " + extension + " tag needs a name");
  if (!tagged && options.tag)
    return inv.Usage("--tag: an " + extension + " file holds one key");
  const IndexFamily family = IndexFamilyOf(dialect);
  const bool fox = family == IndexFamily::kIdx || family == IndexFamily::kCdx;
  if (options.descending && family != IndexFamily::kMdx &&
      family != IndexFamily::kNtx && !fox)
    return inv.Usage("--descending: " + extension + " keys ascend only");
  if (options.descending && family == IndexFamily::kIdx && !options.compact)
    return inv.Usage(
        "--descending: a standard .idx file ascends only "
        "(--compact)");
  if (!options.for_expression.empty() && family != IndexFamily::kNtx && !fox)
    return inv.Usage("--for: " + extension +
                     " files store no FOR condition here");
  if (options.compact && family != IndexFamily::kIdx)
    return inv.Usage("--compact: only an .idx file has two layouts");
  // The expression's type on the (blank or current) record buffer gives
  // the key type and, for text, the key length.
  access::KeyShape shape;
  int32_t status = access::KeyShapeForBuild(
      dialect, static_cast<uint16_t>(table.handle()), expression, &shape);
  if (status < 0) return inv.EngineFailure(path, static_cast<int16_t>(status));
  if (status == access::kStatusNotConvertible)
    return inv.Usage("an index key is text, a number, a date or a logical");
  access::IndexBuildRequest request;
  request.path = platform::Utf8ToUtf16(path);
  request.key_name = options.tag.value_or("");
  request.expression = expression;
  request.key_type = shape.type;
  request.key_length = shape.key_length;
  request.decimals = shape.decimals;
  request.options =
      static_cast<uint16_t>((options.unique ? kKbdKeyUnique : 0) |
                            (options.descending ? kKbdKeyDescending : 0) |
                            (options.compact ? kKbdKeyCompact : 0));
  request.for_expression = options.for_expression;
  request.dialect = dialect;
  status = access::CreateTableKeyIndex(static_cast<uint16_t>(table.handle()),
                                       request);
  if (status < 0) return inv.EngineFailure(path, static_cast<int16_t>(status));
  return kExitOk;
}

}  // namespace qx::qxdb
