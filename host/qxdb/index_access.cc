// Index access of qxdb over the engine's index modules (see
// index_access.h).
#include "host/qxdb/index_access.h"

#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/core/coding.h"
#include "engine/dates/date_format.h"
#include "engine/mdx/mdx_check.h"
#include "engine/mdx/mdx_decimal.h"
#include "engine/ndx/ndx_check.h"
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
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// Releases an engine buffer on scope exit.
struct EngineBuffer {
  void* data = nullptr;
  ~EngineBuffer() { kbdfree(data); }
};

// NDX: one key per file; numeric and date keys are 8-byte little-endian
// doubles (dates as day numbers).
class NdxAccess : public IndexAccess {
 public:
  ~NdxAccess() override {
    if (handle_ >= 0) {
      kbdseterror(0);
      kbdnclose(handle_);
    }
  }

  int16_t Open(const std::string& name, bool writable) {
    kbdseterror(0);
    uint16_t mode = writable ? kKbdModeShared : kKbdModeShared | kKbdModeReadOnly;
    int16_t status = kbdnopenx(&handle_, name.c_str(), mode);
    if (status < 0) return status;
    KbdNdxInfo info{};
    kbdseterror(0);
    if (int16_t s = kbdninfo(handle_, &info); s < 0) return s;
    char expression[kExpressionBufferSize] = {};
    kbdseterror(0);
    if (int16_t s = kbdnexpr(handle_, expression); s < 0) return s;
    key_type_ = info.type == 'C' ? 'C' : 'N';
    key_length_ = info.key_length;
    unique_ = info.unique != 0;
    expression_ = expression;
    return status;
  }

  const char* kind() const override { return "ndx"; }

  void Describe(JsonWriter* w) const override {
    IndexAccess::Describe(w);
    // The file says only character or numeric: dates are numeric there.
    w->Key("key_type");
    w->String(key_type_ == 'C' ? "C" : "N");
    w->Key("unique");
    w->Bool(unique_);
    w->Key("descending");
    w->Bool(false);
  }

  int16_t First(std::string* key, uint32_t* recno) override {
    return Walk(kbdnkfirst, key, recno);
  }
  int16_t Next(std::string* key, uint32_t* recno) override {
    return Walk(kbdnknext, key, recno);
  }

  int16_t Seek(const std::string& key, std::string* found,
               uint32_t* recno) override {
    std::string buffer(key_length_ + 1u, '\0');
    std::memcpy(buffer.data(), key.data(), std::min<std::size_t>(key.size(), key_length_));
    *recno = 0;
    kbdseterror(0);
    int16_t status = kbdnkfind(handle_, buffer.data(), recno, kKbdFindFirstEqual);
    found->assign(buffer.data(), key_length_);
    return status;
  }

  int16_t MakeKey(int16_t dbf_handle, std::string* key) override {
    EngineBuffer buffer;
    kbdseterror(0);
    int16_t status = kbdnkmake(dbf_handle, handle_, &buffer.data);
    if (status < 0) return status;
    key->assign(static_cast<const char*>(buffer.data), key_length_);
    return status;
  }

  int16_t Add(const std::string& key, uint32_t recno) override {
    kbdseterror(0);
    return kbdnkadd(handle_, key.data(), recno);
  }

  int16_t Check(std::vector<std::string>* problems, uint64_t* keys,
                const std::function<void(const std::string&, uint32_t)>&
                    on_entry) override {
    engine::btree::CheckReport report;
    kbdseterror(0);
    int16_t status = engine::CheckNdx(
        handle_, &report, [&](const uint8_t* key, uint32_t recno) {
          on_entry(std::string(reinterpret_cast<const char*>(key), key_length_),
                   recno);
        });
    *problems = report.problems;
    if (report.problem_count > report.problems.size())
      problems->push_back(std::to_string(report.problem_count - report.problems.size()) +
                          " more problems");
    *keys = report.keys;
    return status;
  }

 protected:
  double NumberOf(const std::string& key) const override {
    return std::bit_cast<double>(
        engine::GetLe64(reinterpret_cast<const uint8_t*>(key.data())));
  }
  std::string KeyOfNumber(double value) const override {
    std::string key(sizeof value, '\0');
    engine::PutLe64(reinterpret_cast<uint8_t*>(key.data()),
                    std::bit_cast<uint64_t>(value));
    return key;
  }

 private:
  static constexpr std::size_t kExpressionBufferSize = 256;

  int16_t Walk(int16_t (*op)(int16_t, void*, uint32_t*), std::string* key,
               uint32_t* recno) {
    std::string buffer(key_length_ + 1u, '\0');
    kbdseterror(0);
    int16_t status = op(handle_, buffer.data(), recno);
    key->assign(buffer.data(), key_length_);
    return status;
  }

  int16_t handle_ = kKbdNoHandle;
};


// MDX: one tag of a multiple-index file. 'N' keys are 12-byte packed
// decimals, 'D' keys 8-byte little-endian doubles of the day number.
class MdxAccess : public IndexAccess {
 public:
  ~MdxAccess() override {
    kbdseterror(0);
    if (tag_ >= 0) kbdmtagclose(tag_);
    kbdseterror(0);
    if (handle_ >= 0) kbdmclose(handle_);
  }

  // Opens the file and, when a tag is named, the tag.
  int16_t Open(const std::string& name, const std::optional<std::string>& tag,
               bool writable) {
    kbdseterror(0);
    uint16_t mode = writable ? kKbdModeShared : kKbdModeShared | kKbdModeReadOnly;
    int16_t status = kbdmopenx(&handle_, name.c_str(), mode);
    if (status < 0 || !tag) return status;
    kbdseterror(0);
    if (int16_t s = kbdmtagopen(&tag_, handle_, tag->c_str()); s < 0) return s;
    KbdMdxTagInfo info{};
    kbdseterror(0);
    if (int16_t s = kbdmtaginfo(tag_, &info); s < 0) return s;
    char expression[kExpressionBufferSize] = {};
    kbdseterror(0);
    if (int16_t s = kbdmexpr(tag_, expression); s < 0) return s;
    key_type_ = info.type;
    key_length_ = info.key_length;
    unique_ = (info.flags & kKbdMdxUnique) != 0;
    descending_ = (info.flags & kKbdMdxDescending) != 0;
    expression_ = expression;
    return status;
  }

  bool has_tag() const { return tag_ >= 0; }
  const char* kind() const override { return "mdx"; }

  // Packed decimals of one value may differ in their sign byte (writers
  // store the field width there): compare them by value.
  bool SameKey(const std::string& a, const std::string& b) const override {
    if (key_type_ != 'N') return a == b;
    return engine::CompareMdxDecimals(reinterpret_cast<const uint8_t*>(a.data()),
                                      reinterpret_cast<const uint8_t*>(b.data())) == 0;
  }

  // Every tag of the file.
  void Describe(JsonWriter* w) const override {
    KbdMdxInfo info{};
    kbdseterror(0);
    kbdminfo(handle_, &info);
    w->Key("tags");
    w->BeginArray();
    for (int16_t n = 1; n <= static_cast<int16_t>(info.tag_count); ++n) {
      int32_t tag = -1;
      KbdMdxTagInfo t{};
      char expression[kExpressionBufferSize] = {};
      kbdseterror(0);
      if (kbdmtagopenn(&tag, handle_, n) < 0) continue;
      kbdmtaginfo(tag, &t);
      kbdmexpr(tag, expression);
      if (tag != tag_) kbdmtagclose(tag);
      w->BeginObject();
      w->Key("name");
      w->String(t.name);
      w->Key("expression");
      w->String(expression);
      w->Key("key_length");
      w->Int(t.key_length);
      w->Key("key_type");
      w->String(std::string(1, t.type));
      w->Key("unique");
      w->Bool((t.flags & kKbdMdxUnique) != 0);
      w->Key("descending");
      w->Bool((t.flags & kKbdMdxDescending) != 0);
      w->EndObject();
    }
    w->EndArray();
  }

  int16_t First(std::string* key, uint32_t* recno) override {
    return Walk(kbdmkfirst, key, recno);
  }
  int16_t Next(std::string* key, uint32_t* recno) override {
    return Walk(kbdmknext, key, recno);
  }

  int16_t Seek(const std::string& key, std::string* found,
               uint32_t* recno) override {
    std::string buffer(key_length_ + 1u, '\0');
    std::memcpy(buffer.data(), key.data(), std::min<std::size_t>(key.size(), key_length_));
    *recno = 0;
    kbdseterror(0);
    int16_t status = kbdmkfind(tag_, buffer.data(), recno, kKbdFindFirstEqual);
    found->assign(buffer.data(), key_length_);
    return status;
  }

  int16_t MakeKey(int16_t dbf_handle, std::string* key) override {
    EngineBuffer buffer;
    kbdseterror(0);
    int16_t status = kbdmkmake(dbf_handle, tag_, &buffer.data);
    if (status < 0) return status;
    key->assign(static_cast<const char*>(buffer.data), key_length_);
    return status;
  }

  int16_t Add(const std::string& key, uint32_t recno) override {
    kbdseterror(0);
    return kbdmkadd(tag_, key.data(), recno);
  }

  int16_t Check(std::vector<std::string>* problems, uint64_t* keys,
                const std::function<void(const std::string&, uint32_t)>&
                    on_entry) override {
    engine::btree::CheckReport report;
    kbdseterror(0);
    int16_t status = engine::CheckMdxTag(
        tag_, &report, [&](const uint8_t* key, uint32_t recno) {
          on_entry(std::string(reinterpret_cast<const char*>(key), key_length_),
                   recno);
        });
    if (status < 0) return status;
    engine::MdxFileReport file_report;
    kbdseterror(0);
    status = engine::CheckMdxFile(handle_, &file_report);
    *problems = report.problems;
    problems->insert(problems->end(), file_report.problems.begin(),
                     file_report.problems.end());
    *keys = report.keys;
    return status;
  }

 protected:
  double NumberOf(const std::string& key) const override {
    const auto* bytes = reinterpret_cast<const uint8_t*>(key.data());
    if (key_type_ == 'N') return engine::DecodeMdxDecimal(bytes);
    return std::bit_cast<double>(engine::GetLe64(bytes));
  }
  std::string KeyOfNumber(double value) const override {
    std::string key(key_length_, '\0');
    if (key_type_ == 'N') {
      kbdmnkey(key.data(), value);
    } else {
      engine::PutLe64(reinterpret_cast<uint8_t*>(key.data()),
                      std::bit_cast<uint64_t>(value));
    }
    return key;
  }

 private:
  static constexpr std::size_t kExpressionBufferSize = 256;

  int16_t Walk(int16_t (*op)(int32_t, void*, uint32_t*), std::string* key,
               uint32_t* recno) {
    std::string buffer(key_length_ + 1u, '\0');
    kbdseterror(0);
    int16_t status = op(tag_, buffer.data(), recno);
    key->assign(buffer.data(), key_length_);
    return status;
  }

  int16_t handle_ = kKbdNoHandle;
  int32_t tag_ = -1;
};

}  // namespace

void IndexAccess::Describe(JsonWriter* w) const {
  w->Key("expression");
  w->String(expression_);
  w->Key("key_length");
  w->Int(key_length_);
}

void IndexAccess::TypeFromTable(Table& table) {
  if (key_type_ != 'N') return;
  void* value = nullptr;
  char type = ' ';
  uint16_t length = 0;
  kbdseterror(0);
  if (kbddeval(table.handle(), expression_.c_str(), -1, &value, &type, &length) >= 0 &&
      type == 'D')
    key_type_ = 'D';
  kbdfree(value);
}

bool IndexAccess::SeekKey(std::string_view value, std::string* key) const {
  if (key_type_ == 'C') {
    *key = std::string(value.substr(0, key_length_));
    return true;
  }
  double number = 0;
  if (key_type_ == 'D') {
    int y, m, d;
    if (value.size() != 8 || engine::ReadDate(&y, &m, &d, value, 4) != kKbdOk)
      return false;
    number = engine::DateToKeyDay(y, m, d);
  } else {
    auto r = std::from_chars(value.data(), value.data() + value.size(), number);
    if (r.ec != std::errc() || r.ptr != value.data() + value.size()) return false;
  }
  *key = KeyOfNumber(number);
  return true;
}

std::string IndexAccess::KeyText(const std::string& key, int code_page) const {
  if (key_type_ == 'C') {
    std::string text = key;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
      text.pop_back();
    return platform::Utf16ToUtf8(platform::DecodeCodePage(text, code_page));
  }
  double number = NumberOf(key);
  if (key_type_ == 'D') {
    int y, m, d;
    if (number >= 1e99 ||
        engine::KeyDayToDate(&y, &m, &d, static_cast<int32_t>(number)) != kKbdOk)
      return "";
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", y % 10000, m % 100, d % 100);
    return text;
  }
  // 15 significant digits: all a double holds of a decimal number, and
  // no noise from a packed-decimal key's conversion.
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", number);
  return text;
}

bool IsIndexPath(std::string_view path) {
  std::string ext = LowerExtension(path);
  return ext == ".ndx" || ext == ".mdx";
}

int OpenIndexFor(Invocation& inv, const std::string& path,
                 const std::optional<std::string>& tag, bool writable,
                 Table* table, std::unique_ptr<IndexAccess>* index) {
  std::string ext = LowerExtension(path);
  if (!IsIndexPath(path)) return inv.Usage("not an index file: " + path);
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  if (ext == ".mdx") {
    auto mdx = std::make_unique<MdxAccess>();
    int16_t status = mdx->Open(EnginePath(path), tag, writable);
    if (status < 0) return inv.EngineFailure(path, status);
    if (status > 0) inv.EngineWarning(path, status);
    if (!mdx->has_tag() && table != nullptr)
      return inv.Usage("--tag: name the tag of " + path);
    *index = std::move(mdx);
    return kExitOk;
  }
  if (tag) return inv.Usage("--tag: an .ndx file holds one key");
  auto ndx = std::make_unique<NdxAccess>();
  int16_t status = ndx->Open(EnginePath(path), writable);
  if (status < 0) return inv.EngineFailure(path, status);
  if (status > 0) inv.EngineWarning(path, status);
  if (table != nullptr) {
    ndx->TypeFromTable(*table);
  } else {
    std::string dbf = path.substr(0, path.size() - ext.size()) + ".dbf";
    Table beside;
    if (PathExists(dbf) && beside.Open(dbf, false) >= 0) ndx->TypeFromTable(beside);
  }
  *index = std::move(ndx);
  return kExitOk;
}

int BuildIndex(Invocation& inv, Table& table, const std::string& path,
               const std::string& expression,
               const std::optional<std::string>& tag, bool unique,
               bool descending) {
  std::string ext = LowerExtension(path);
  if (!IsIndexPath(path)) return inv.Usage("not an index file: " + path);
  bool mdx = ext == ".mdx";
  if (mdx && !tag) return inv.Usage("--tag: an .mdx tag needs a name");
  if (!mdx && tag) return inv.Usage("--tag: an .ndx file holds one key");
  if (!mdx && descending) return inv.Usage("--descending: NDX keys ascend only");
  // The expression's type on the (blank or current) record buffer gives
  // the key type and, for text, the key length.
  void* value = nullptr;
  char type = ' ';
  uint16_t length = 0;
  kbdseterror(0);
  int16_t status =
      kbddeval(table.handle(), expression.c_str(), -1, &value, &type, &length);
  kbdfree(value);
  if (status < 0) return inv.EngineFailure(path, status);
  uint16_t key_length = type == 'C' ? length : 8;
  uint16_t key_type = static_cast<uint16_t>(type == 'D' ? 'D' : type == 'C' ? 'C' : 'N');
  if (unique) key_type |= 0x80;
  std::string name = EnginePath(path);
  if (!mdx) {
    kbdseterror(0);
    status = kbdnindex(table.handle(), name.c_str(), key_type,
                       expression.c_str(), key_length);
    if (status < 0) return inv.EngineFailure(path, status);
    return kExitOk;
  }
  if (descending) key_type |= kKbdMdxDescending;
  if (!PathExists(path)) {
    kbdseterror(0);
    if (int16_t s = kbdmcreate(name.c_str()); s < 0) return inv.EngineFailure(path, s);
  }
  int16_t handle = kKbdNoHandle;
  kbdseterror(0);
  status = kbdmopenx(&handle, name.c_str(), kKbdModeShared);
  if (status < 0) return inv.EngineFailure(path, status);
  kbdseterror(0);
  status = kbdmindex(table.handle(), handle, tag->c_str(), key_type,
                     expression.c_str(), key_length);
  kbdseterror(0);
  int16_t closed = kbdmclose(handle);
  if (status < 0) return inv.EngineFailure(path, status);
  if (closed < 0) return inv.EngineFailure(path, closed);
  return kExitOk;
}

}  // namespace qx::qxdb
