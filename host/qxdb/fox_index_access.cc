// IDX and CDX files for qxdb (index_kinds.h). Their numeric and date keys
// are 8-byte big-endian doubles in sortable form (dates as Julian day
// numbers, 0 for the empty date);
// files of the newer table family also hold 4-byte integer keys (the
// number big-endian with its sign bit flipped).
#include <bit>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>

#include "engine/cdx/cdx_check.h"
#include "engine/core/coding.h"
#include "engine/dates/date_format.h"
#include "engine/idx/idx_check.h"
#include "host/qxdb/index_kinds.h"
#include "qx/engine.h"

namespace qx::qxdb {
namespace {

constexpr std::size_t kExpressionBufferSize = 257;
constexpr uint32_t kIntegerKeyLength = 4;
constexpr uint32_t kIntegerSignFlip = 0x80000000u;
constexpr uint64_t kDoubleSign = uint64_t{1} << 63;

uint16_t OpenMode(bool writable) {
  return writable ? kKbdModeShared : kKbdModeShared | kKbdModeReadOnly;
}

// What IDX and CDX keys share: their byte forms and the key type the
// engine is told once the expression settled it.
class FoxAccess : public IndexAccess {
 protected:
  FoxAccess() {
    typed_by_ = "CNDL";
    key_type_assumed_ = true;
  }

  // Keys of nullable fields carry a leading byte: 0x80 before a value,
  // all bytes 0 for null. A tag is taken as one when its key is one byte
  // longer than its value's image.
  bool Unwrap(const std::string& key, std::string* value) const override {
    if (!nullable_ || key.empty()) {
      *value = key;
      return true;
    }
    if (static_cast<uint8_t>(key[0]) != kNullableValueMark) return false;
    *value = key.substr(1);
    return true;
  }
  void Wrap(std::string* key) const override {
    if (!nullable_) return;
    key->insert(key->begin(), static_cast<char>(kNullableValueMark));
    if (key->size() > key_length_) key->resize(key_length_);
  }
  void KeyTypeChanged(uint16_t value_length) override {
    uint16_t image = value_length;
    if (key_type_ == 'D') image = 8;
    if (key_type_ == 'L') image = 1;
    if (key_type_ == 'N')
      image = key_length_ <= kIntegerKeyLength + 1 ? kIntegerKeyLength : 8;
    nullable_ = key_length_ == image + 1;
    ApplyKeyType();
  }
  // Tells the engine the key type.
  virtual void ApplyKeyType() = 0;

  // Date keys hold the Julian day number (0 the empty date); the number
  // given on is the key day number IndexAccess speaks (kEmptyDateKeyDay
  // the empty date), or NaN for a day no date has.
  double NumberOf(const std::string& key) const override {
    const auto* bytes = reinterpret_cast<const uint8_t*>(key.data());
    if (key.size() == kIntegerKeyLength)
      return static_cast<int32_t>(engine::GetBe32(bytes) ^ kIntegerSignFlip);
    if (key.size() < 8) return 0;
    uint64_t bits = engine::GetBe64(bytes);
    bits = (bits & kDoubleSign) ? bits & ~kDoubleSign : ~bits;
    const double number = std::bit_cast<double>(bits);
    if (key_type_ != 'D') return number;
    if (number == 0) return engine::kEmptyDateKeyDay;
    int y, m, d;
    if (!(number >= 0 && number <= 0x7FFFFFFF) ||
        engine::JulianDayToDate(&y, &m, &d, static_cast<int32_t>(number)) !=
            kKbdOk)
      return std::nan("");
    return engine::DateToKeyDay(y, m, d);
  }

  std::string KeyOfNumber(double value) const override {
    const std::size_t length = key_length_ - (nullable_ ? 1 : 0);
    std::string key(std::max<std::size_t>(length, 8) + 1, '\0');
    auto* bytes = reinterpret_cast<uint8_t*>(key.data());
    if (length == kIntegerKeyLength) {
      engine::PutBe32(bytes, static_cast<uint32_t>(static_cast<int32_t>(value)) ^
                                 kIntegerSignFlip);
    } else if (key_type_ == 'D') {
      int y, m, d;
      char date[16] = "        ";
      if (value < 1e99 &&
          engine::KeyDayToDate(&y, &m, &d, static_cast<int32_t>(value)) ==
              kKbdOk)
        std::snprintf(date, sizeof date, "%04d%02d%02d", y, m, d);
      kbdseterror(0);
      kbdidatekey(bytes, date);
    } else {
      kbdseterror(0);
      kbdinumkey(bytes, value);
    }
    key.resize(length);
    return key;
  }

  // The type letter for kbdikeytype and kbdckeytype.
  uint16_t EngineKeyType() const { return static_cast<uint16_t>(key_type_); }

  // Keys of the newer table family that the engine's key images do not
  // make: 4-byte integer keys, and keys of nullable fields, which carry a
  // leading byte (0x80 for a value, 0 for null) before the value's image.
  // The stored key stands for the value when it is that byte and the
  // engine's key cut by one byte.
  // A null value's key is all zero bytes; it stands for the key the
  // engine makes of the field's empty value (blanks, an empty date).
  bool SameKey(const std::string& stored,
               const std::string& made) const override {
    if (stored == made) return true;
    if (stored.size() != made.size() || stored.empty()) return false;
    if (static_cast<uint8_t>(stored[0]) == kNullableValueMark)
      return stored.compare(1, std::string::npos, made, 0,
                            made.size() - 1) == 0;
    if (stored.find_first_not_of('\0') != std::string::npos) return false;
    return made.find_first_not_of(" ") == std::string::npos ||
           made.find_first_not_of('\0') == std::string::npos ||
           made.compare(0, 8, EmptyDateKey()) == 0;
  }

  // The key image of the empty date, made once.
  static const std::string& EmptyDateKey() {
    static const std::string key = [] {
      uint8_t image[9] = {};
      kbdseterror(0);
      kbdidatekey(image, "        ");
      return std::string(reinterpret_cast<const char*>(image), 8);
    }();
    return key;
  }

  // The key of the current record when the engine cannot make it: keys of
  // logical values, 4-byte integer keys, keys of nullable fields (one byte
  // longer; SameKey matches them), and expressions naming fields by more
  // than 10 characters (other programs cut such names).
  int16_t ComputedKey(int16_t dbf_handle, int16_t engine_status,
                      std::string* key) const {
    if (engine_status != kKbdErrKeyExpression) return engine_status;
    std::string image;
    int16_t status = EvaluatedImage(dbf_handle, expression_, &image);
    if (status == kKbdErrKeyExpression)
      status = EvaluatedImage(dbf_handle, ShortFieldNames(expression_), &image);
    if (status < 0) return status;
    if (image.size() > key_length_) image.resize(key_length_);
    image.resize(key_length_, key_type_ == 'C' ? ' ' : '\0');
    *key = image;
    return kKbdOk;
  }

  // The key image of an expression's value, before padding.
  int16_t EvaluatedImage(int16_t dbf_handle, const std::string& expression,
                         std::string* image) const {
    void* value = nullptr;
    char type = ' ';
    uint16_t length = 0;
    kbdseterror(0);
    int16_t status =
        kbddeval(dbf_handle, expression.c_str(), -1, &value, &type, &length);
    if (status >= 0) {
      const char* bytes = static_cast<const char*>(value);
      uint8_t buffer[9] = {};  // an 8-byte image and its NUL
      double number = 0;
      switch (type) {
        case 'C':
          image->assign(bytes, length);
          break;
        case 'L':
          image->assign(1, bytes[0] == 'T' || bytes[0] == 't' ||
                                   bytes[0] == 'Y' || bytes[0] == 'y'
                               ? 'T'
                               : 'F');
          break;
        case 'D':
          kbdseterror(0);
          status = kbdidatekey(buffer, bytes);
          image->assign(reinterpret_cast<const char*>(buffer), 8);
          break;
        case 'N':
        case 'F':
          std::memcpy(&number, value, sizeof number);
          if (key_length_ == kIntegerKeyLength ||
              key_length_ == kIntegerKeyLength + 1) {
            engine::PutBe32(buffer, static_cast<uint32_t>(
                                        static_cast<int32_t>(number)) ^
                                        kIntegerSignFlip);
            image->assign(reinterpret_cast<const char*>(buffer),
                          kIntegerKeyLength);
          } else {
            kbdseterror(0);
            status = kbdinumkey(buffer, number);
            image->assign(reinterpret_cast<const char*>(buffer), 8);
          }
          break;
        default:
          status = kKbdErrKeyExpression;
      }
    }
    kbdfree(value);
    kbdseterror(0);
    return status;
  }

  // The expression with every field name longer than 10 characters cut to
  // 10 (function names, followed by '(', and quoted texts stay).
  static std::string ShortFieldNames(const std::string& expression) {
    constexpr std::size_t kFieldNameLength = 10;
    std::string out;
    for (std::size_t i = 0; i < expression.size();) {
      const char c = expression[i];
      if (c == '"' || c == '\'') {
        const std::size_t end = expression.find(c, i + 1);
        const std::size_t stop = end == std::string::npos ? expression.size()
                                                          : end + 1;
        out.append(expression, i, stop - i);
        i = stop;
        continue;
      }
      if (!std::isalpha(static_cast<unsigned char>(c)) && c != '_') {
        out += c;
        ++i;
        continue;
      }
      std::size_t end = i;
      while (end < expression.size() &&
             (std::isalnum(static_cast<unsigned char>(expression[end])) ||
              expression[end] == '_'))
        ++end;
      const bool function = end < expression.size() && expression[end] == '(';
      const std::size_t keep =
          function ? end - i : std::min(end - i, kFieldNameLength);
      out.append(expression, i, keep);
      i = end;
    }
    return out;
  }

  static constexpr uint8_t kNullableValueMark = 0x80;
  bool nullable_ = false;
};

const KeyOperations<int16_t> kIdxOperations = {
    kbdifirst, kbdinext, kbdiseek, kKbdSeekKey, kbdikeyrec, kbdiadd};
const KeyOperations<int32_t> kCdxOperations = {
    kbdcfirst, kbdcnext, kbdcfind, kKbdCdxFirstNotBelow, kbdckeyrec, kbdcadd};

class IdxAccess : public KeyedAccess<int16_t, FoxAccess> {
 public:
  IdxAccess() : KeyedAccess(kIdxOperations) {}
  ~IdxAccess() override {
    kbdseterror(0);
    if (index_ >= 0) kbdiclose(index_);
  }

  int16_t Open(const std::string& name, bool writable) {
    kbdseterror(0);
    int16_t status = kbdiopenx(&index_, name.c_str(), OpenMode(writable));
    if (status < 0) return status;
    kbdseterror(0);
    if (int16_t s = kbdiinfo(index_, &info_); s < 0) return s;
    char expression[kExpressionBufferSize] = {};
    kbdseterror(0);
    if (int16_t s = kbdiexpr(index_, expression); s < 0) return s;
    key_length_ = info_.key_length;
    char for_expression[kExpressionBufferSize] = {};
    kbdseterror(0);
    if (int16_t s = kbdiforexpr(index_, for_expression); s < 0) return s;
    for_expression_ = for_expression;
    unique_ = (info_.flags & kKbdKeyUnique) != 0;
    candidate_ = (info_.flags & kKbdKeyCandidate) != 0;
    descending_ = (info_.flags & kKbdKeyDescending) != 0;
    expression_ = expression;
    return status;
  }

  const char* kind() const override { return "idx"; }

  void Describe(JsonWriter* w) const override {
    IndexAccess::Describe(w);
    w->Key("layout");
    w->String((info_.flags & kKbdKeyCompact) ? "compact" : "standard");
    if (!for_expression_.empty()) {
      w->Key("for");
      w->String(for_expression_);
    }
    DescribeKey(w, key_type_);
  }

  int16_t MakeKey(int16_t dbf_handle, std::string* key) override {
    int16_t status = KeyedAccess::MakeKey(dbf_handle, key);
    return status < 0 ? ComputedKey(dbf_handle, status, key) : status;
  }
  int16_t Add(const std::string& key, uint32_t recno) override {
    const int16_t status = KeyedAccess::Add(key, recno);
    // A unique index keeps the first record of a key.
    if (status == kKbdAlreadyExists && unique_) return kKbdOk;
    return status;
  }
  int16_t Check(std::vector<std::string>* problems, uint64_t* keys,
                const EntrySink& on_entry) override {
    engine::btree::CheckReport report;
    kbdseterror(0);
    int16_t status = engine::CheckIdx(index_, &report, RawSink(on_entry));
    TakeReport(report, problems, keys);
    return status;
  }

 protected:
  void ApplyKeyType() override {
    kbdseterror(0);
    kbdikeytype(index_, EngineKeyType());
  }

 private:
  KbdIdxInfo info_{};
};

class CdxAccess : public KeyedAccess<int32_t, FoxAccess> {
 public:
  CdxAccess() : KeyedAccess(kCdxOperations) {}
  ~CdxAccess() override {
    kbdseterror(0);
    if (index_ >= 0) kbdctagclose(index_);
    kbdseterror(0);
    if (handle_ >= 0) kbdcclose(handle_);
  }

  int16_t Open(const std::string& name, const std::optional<std::string>& tag,
               bool writable) {
    kbdseterror(0);
    int16_t status = kbdcopenx(&handle_, name.c_str(), OpenMode(writable));
    if (status < 0 || !tag) return status;
    kbdseterror(0);
    if (int16_t s = kbdctagopen(&index_, handle_, tag->c_str()); s < 0) return s;
    KbdCdxTagInfo info{};
    kbdseterror(0);
    if (int16_t s = kbdctaginfo(index_, &info); s < 0) return s;
    char expression[kExpressionBufferSize] = {};
    kbdseterror(0);
    if (int16_t s = kbdcexpr(index_, expression); s < 0) return s;
    expression_ = expression;
    key_length_ = static_cast<uint16_t>(info.key_length);
    tag_name_ = info.name;
    expression[0] = '\0';
    kbdseterror(0);
    if (int16_t s = kbdcforexpr(index_, expression); s >= 0)
      for_expression_ = expression;
    unique_ = (info.flags & kKbdKeyUnique) != 0;
    candidate_ = (info.flags & kKbdKeyCandidate) != 0;
    descending_ = (info.flags & kKbdKeyDescending) != 0;
    return status;
  }

  bool has_tag() const override { return index_ >= 0; }
  const char* kind() const override { return "cdx"; }

  // Every tag of the file, in name order.
  void Describe(JsonWriter* w) const override {
    int16_t count = 0;
    KbdCdxTagInfo* tags = nullptr;
    kbdseterror(0);
    kbdctaglist(handle_, &count, &tags);
    w->Key("tags");
    w->BeginArray();
    for (int16_t i = 0; i < count; ++i) {
      const KbdCdxTagInfo& t = tags[i];
      std::string expression(t.expression,
                             strnlen(t.expression, sizeof t.expression));
      std::string for_expression;
      int32_t tag = -1;
      char text[kExpressionBufferSize] = {};
      kbdseterror(0);
      if (kbdctagopen(&tag, handle_, t.name) >= 0) {
        if (kbdcexpr(tag, text) >= 0) expression = text;
        text[0] = '\0';
        if (kbdcforexpr(tag, text) >= 0) for_expression = text;
        kbdctagclose(tag);
      }
      auto typed = tag_types_.find(t.name);
      const char type = typed != tag_types_.end() ? typed->second
                                                  : TypeLetter(t);
      DescribeTag(w, TagFacts{t.name, expression, for_expression,
                              t.key_length, std::string(1, type),
                              (t.flags & kKbdKeyUnique) != 0,
                              (t.flags & kKbdKeyDescending) != 0});
    }
    w->EndArray();
    kbdfree(tags);
  }

  void TypeTagsFromTable(Table& table) override {
    int16_t count = 0;
    KbdCdxTagInfo* tags = nullptr;
    kbdseterror(0);
    if (kbdctaglist(handle_, &count, &tags) < 0) return;
    for (int16_t i = 0; i < count; ++i) {
      int32_t tag = -1;
      char text[kExpressionBufferSize] = {};
      kbdseterror(0);
      if (kbdctagopen(&tag, handle_, tags[i].name) < 0) continue;
      if (kbdcexpr(tag, text) >= 0) {
        uint16_t length = 0;
        const char type =
            EvaluatedKeyType(table, text, kKbdExprRulesDbase, &length);
        if (type != ' ') tag_types_[tags[i].name] = type;
      }
      kbdctagclose(tag);
    }
    kbdfree(tags);
  }
  int16_t MakeKey(int16_t dbf_handle, std::string* key) override {
    int16_t status = KeyedAccess::MakeKey(dbf_handle, key);
    return status < 0 ? ComputedKey(dbf_handle, status, key) : status;
  }
  int16_t Add(const std::string& key, uint32_t recno) override {
    const int16_t status = KeyedAccess::Add(key, recno);
    // A unique tag keeps the first record of a key.
    if (status == kKbdAlreadyExists && unique_) return kKbdOk;
    return status;
  }
  int16_t Check(std::vector<std::string>* problems, uint64_t* keys,
                const EntrySink& on_entry) override {
    engine::btree::CheckReport report;
    kbdseterror(0);
    int16_t status = engine::CheckCdxTag(index_, &report, RawSink(on_entry));
    if (status < 0) return status;
    engine::btree::CheckReport file_report;
    kbdseterror(0);
    status = engine::CheckCdx(handle_, &file_report);
    TakeReport(report, problems, keys);
    // The file check covers every tag: the other tags' problems are
    // theirs.
    const std::string own = "tag " + tag_name_ + ":";
    for (const std::string& problem : file_report.problems)
      if (problem.compare(0, 4, "tag ") != 0 ||
          problem.compare(0, own.size(), own) == 0)
        problems->push_back(problem);
    return status;
  }

 protected:
  void ApplyKeyType() override {
    kbdseterror(0);
    kbdckeytype(index_, EngineKeyType());
  }

 private:
  // The listed type, or what the key length suggests.
  static char TypeLetter(const KbdCdxTagInfo& t) {
    if (t.type == 'C' || t.type == 'N' || t.type == 'D' || t.type == 'L')
      return static_cast<char>(t.type);
    return 'C';
  }

  int16_t handle_ = kKbdNoHandle;
  std::string tag_name_;
  std::map<std::string, char> tag_types_;  // learnt from the table
};

}  // namespace

int16_t OpenIdxIndex(const IndexRequest& request,
                     std::unique_ptr<IndexAccess>* index) {
  auto idx = std::make_unique<IdxAccess>();
  int16_t status = idx->Open(request.name, request.writable);
  if (status >= 0) *index = std::move(idx);
  return status;
}

int16_t OpenCdxIndex(const IndexRequest& request,
                     std::unique_ptr<IndexAccess>* index) {
  auto cdx = std::make_unique<CdxAccess>();
  int16_t status = cdx->Open(request.name, request.tag, request.writable);
  if (status >= 0) *index = std::move(cdx);
  return status;
}

// The type word of the FoxPro builds.
uint16_t FoxTypeWord(const BuildRequest& request) {
  uint16_t type = static_cast<uint16_t>(request.key_type);
  if (request.unique) type |= kKbdKeyUnique;
  if (request.descending) type |= kKbdKeyDescending;
  if (request.compact) type |= kKbdKeyCompact;
  return type;
}

int16_t BuildIdxIndex(const BuildRequest& request) {
  kbdseterror(0);
  return kbdibuildx(request.dbf_handle, request.name.c_str(),
                    FoxTypeWord(request), request.expression.c_str(),
                    request.key_length, request.for_expression.c_str());
}

int16_t BuildCdxIndex(const BuildRequest& request) {
  const uint16_t type = FoxTypeWord(request);
  kbdseterror(0);
  if (!request.exists) {
    if (int16_t s = kbdccreate(request.name.c_str()); s < 0) return s;
  }
  int16_t handle = kKbdNoHandle;
  kbdseterror(0);
  int16_t status = kbdcopenx(&handle, request.name.c_str(), kKbdModeShared);
  if (status < 0) return status;
  kbdseterror(0);
  status = kbdctagbuildx(request.dbf_handle, handle, request.tag->c_str(),
                         type, request.expression.c_str(), request.key_length,
                         request.for_expression.c_str());
  kbdseterror(0);
  int16_t closed = kbdcclose(handle);
  return status < 0 ? status : closed;
}

}  // namespace qx::qxdb
