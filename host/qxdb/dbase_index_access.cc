// NDX and MDX files for qxdb (index_kinds.h).
#include <bit>
#include <cstring>

#include "engine/core/coding.h"
#include "engine/mdx/mdx_check.h"
#include "engine/mdx/mdx_decimal.h"
#include "engine/ndx/ndx_check.h"
#include "host/qxdb/index_kinds.h"
#include "qx/engine.h"

namespace qx::qxdb {
namespace {

constexpr std::size_t kExpressionBufferSize = 256;

uint16_t OpenMode(bool writable) {
  return writable ? kKbdModeShared : kKbdModeShared | kKbdModeReadOnly;
}

// Little-endian doubles: NDX numeric and date keys, MDX date keys.
double LeDoubleOf(const std::string& key) {
  return std::bit_cast<double>(
      engine::GetLe64(reinterpret_cast<const uint8_t*>(key.data())));
}
std::string LeDoubleKey(double value, std::size_t length) {
  std::string key(std::max<std::size_t>(length, sizeof value), '\0');
  engine::PutLe64(reinterpret_cast<uint8_t*>(key.data()),
                  std::bit_cast<uint64_t>(value));
  return key;
}

// NDX: one key per file; numeric and date keys are 8-byte little-endian
// doubles (dates as day numbers).
const KeyOperations<int16_t> kNdxOperations = {
    kbdnkfirst, kbdnknext, kbdnkfind, kKbdFindFirstEqual, kbdnkmake,
    kbdnkadd, true};
const KeyOperations<int32_t> kMdxOperations = {
    kbdmkfirst, kbdmknext, kbdmkfind, kKbdFindFirstEqual, kbdmkmake,
    kbdmkadd, true};

class NdxAccess : public KeyedAccess<int16_t> {
 public:
  NdxAccess() : KeyedAccess(kNdxOperations) {}
  ~NdxAccess() override {
    kbdseterror(0);
    if (index_ >= 0) kbdnclose(index_);
  }

  int16_t Open(const std::string& name, bool writable) {
    kbdseterror(0);
    int16_t status = kbdnopenx(&index_, name.c_str(), OpenMode(writable));
    if (status < 0) return status;
    KbdNdxInfo info{};
    kbdseterror(0);
    if (int16_t s = kbdninfo(index_, &info); s < 0) return s;
    char expression[kExpressionBufferSize] = {};
    kbdseterror(0);
    if (int16_t s = kbdnexpr(index_, expression); s < 0) return s;
    key_type_ = info.type == 'C' ? 'C' : 'N';
    // The file says only character or numeric: an expression giving a
    // date makes it a date index.
    typed_by_ = key_type_ == 'N' ? "ND" : "";
    key_length_ = info.key_length;
    unique_ = info.unique != 0;
    expression_ = expression;
    return status;
  }

  const char* kind() const override { return "ndx"; }

  void Describe(JsonWriter* w) const override {
    IndexAccess::Describe(w);
    // The file says only character or numeric: dates are numeric there.
    DescribeKey(w, key_type_ == 'C' ? 'C' : 'N');
  }

  int16_t Check(std::vector<std::string>* problems, uint64_t* keys,
                const EntrySink& on_entry) override {
    engine::btree::CheckReport report;
    kbdseterror(0);
    int16_t status = engine::CheckNdx(index_, &report, RawSink(on_entry));
    TakeReport(report, problems, keys);
    return status;
  }

 protected:
  double NumberOf(const std::string& key) const override {
    return LeDoubleOf(key);
  }
  std::string KeyOfNumber(double value) const override {
    return LeDoubleKey(value, 8);
  }

 private:
};

// MDX: one tag of a multiple-index file. 'N' keys are 12-byte packed
// decimals, 'D' keys 8-byte little-endian doubles of the day number.
class MdxAccess : public KeyedAccess<int32_t> {
 public:
  MdxAccess() : KeyedAccess(kMdxOperations) {}
  ~MdxAccess() override {
    kbdseterror(0);
    if (index_ >= 0) kbdmtagclose(index_);
    kbdseterror(0);
    if (handle_ >= 0) kbdmclose(handle_);
  }

  // Opens the file and, when a tag is named, the tag.
  int16_t Open(const std::string& name, const std::optional<std::string>& tag,
               bool writable) {
    kbdseterror(0);
    int16_t status = kbdmopenx(&handle_, name.c_str(), OpenMode(writable));
    if (status < 0 || !tag) return status;
    kbdseterror(0);
    if (int16_t s = kbdmtagopen(&index_, handle_, tag->c_str()); s < 0) return s;
    KbdMdxTagInfo info{};
    kbdseterror(0);
    if (int16_t s = kbdmtaginfo(index_, &info); s < 0) return s;
    char expression[kExpressionBufferSize] = {};
    kbdseterror(0);
    if (int16_t s = kbdmexpr(index_, expression); s < 0) return s;
    key_type_ = info.type;
    key_length_ = info.key_length;
    unique_ = (info.flags & kKbdKeyUnique) != 0;
    descending_ = (info.flags & kKbdKeyDescending) != 0;
    expression_ = expression;
    return status;
  }

  bool has_tag() const override { return index_ >= 0; }
  const char* kind() const override { return "mdx"; }

  // Packed decimals of one value may differ in their sign byte (writers
  // store the field width there): compare them by value.
  bool SameKey(const std::string& a, const std::string& b) const override {
    if (key_type_ != 'N') return a == b;
    return engine::CompareMdxDecimals(
               reinterpret_cast<const uint8_t*>(a.data()),
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
      if (tag != index_) kbdmtagclose(tag);
      DescribeTag(w, TagFacts{t.name, expression, "", t.key_length,
                              std::string(1, t.type),
                              (t.flags & kKbdKeyUnique) != 0,
                              (t.flags & kKbdKeyDescending) != 0});
    }
    w->EndArray();
  }

  int16_t Check(std::vector<std::string>* problems, uint64_t* keys,
                const EntrySink& on_entry) override {
    engine::btree::CheckReport report;
    kbdseterror(0);
    int16_t status = engine::CheckMdxTag(index_, &report, RawSink(on_entry));
    if (status < 0) return status;
    engine::MdxFileReport file_report;
    kbdseterror(0);
    status = engine::CheckMdxFile(handle_, &file_report);
    TakeReport(report, problems, keys);
    problems->insert(problems->end(), file_report.problems.begin(),
                     file_report.problems.end());
    return status;
  }

 protected:
  double NumberOf(const std::string& key) const override {
    const auto* bytes = reinterpret_cast<const uint8_t*>(key.data());
    if (key_type_ == 'N') return engine::DecodeMdxDecimal(bytes);
    return LeDoubleOf(key);
  }
  std::string KeyOfNumber(double value) const override {
    if (key_type_ != 'N') return LeDoubleKey(value, key_length_);
    std::string key(key_length_, '\0');
    kbdmnkey(key.data(), value);
    return key;
  }

 private:
  int16_t handle_ = kKbdNoHandle;
};

}  // namespace

int16_t OpenNdxIndex(const IndexRequest& request,
                     std::unique_ptr<IndexAccess>* index) {
  auto ndx = std::make_unique<NdxAccess>();
  int16_t status = ndx->Open(request.name, request.writable);
  if (status >= 0) *index = std::move(ndx);
  return status;
}

int16_t OpenMdxIndex(const IndexRequest& request,
                     std::unique_ptr<IndexAccess>* index) {
  auto mdx = std::make_unique<MdxAccess>();
  int16_t status = mdx->Open(request.name, request.tag, request.writable);
  if (status >= 0) *index = std::move(mdx);
  return status;
}

int16_t BuildNdxIndex(const BuildRequest& request) {
  // Dates are numeric keys in an NDX file.
  uint16_t type = static_cast<uint16_t>(request.key_type == 'C' ? 'C'
                                        : request.key_type == 'D' ? 'D'
                                                                  : 'N');
  if (request.unique) type |= 0x80;
  kbdseterror(0);
  return kbdnindex(request.dbf_handle, request.name.c_str(), type,
                   request.expression.c_str(), request.key_length);
}

int16_t BuildMdxIndex(const BuildRequest& request) {
  uint16_t type = static_cast<uint16_t>(request.key_type == 'L' ? 'C'
                                                                : request.key_type);
  if (request.unique) type |= 0x80;
  if (request.descending) type |= kKbdKeyDescending;
  kbdseterror(0);
  if (!request.exists) {
    if (int16_t s = kbdmcreate(request.name.c_str()); s < 0) return s;
  }
  int16_t handle = kKbdNoHandle;
  kbdseterror(0);
  int16_t status = kbdmopenx(&handle, request.name.c_str(), kKbdModeShared);
  if (status < 0) return status;
  kbdseterror(0);
  status = kbdmindex(request.dbf_handle, handle, request.tag->c_str(), type,
                     request.expression.c_str(), request.key_length);
  kbdseterror(0);
  int16_t closed = kbdmclose(handle);
  return status < 0 ? status : closed;
}

}  // namespace qx::qxdb
