// NTX files for qxdb (index_kinds.h). Every NTX key is text: character
// keys as they are, numbers as zero-padded decimal text (negatives with
// their digits mirrored so that they sort first), dates as YYYYMMDD. The
// engine walks and seeks a descending file in its own order.
#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/dates/date_format.h"
#include "engine/ntx/ntx_check.h"
#include "host/qxdb/index_kinds.h"
#include "qx/engine.h"

namespace qx::qxdb {
namespace {

// Key text digits of a negative number are stored as 92 - c.
constexpr int kNegativeMirror = 92;

const KeyOperations<int16_t> kNtxOperations = {
    kbdxfirst, kbdxnext, kbdxseek, kKbdSeekKey, kbdxkeyrec, kbdxadd};

class NtxAccess : public KeyedAccess<int16_t> {
 public:
  NtxAccess() : KeyedAccess(kNtxOperations) {}
  ~NtxAccess() override {
    kbdseterror(0);
    if (index_ >= 0) kbdxclose(index_);
  }

  int16_t Open(const std::string& name, bool writable) {
    kbdseterror(0);
    uint16_t mode = writable ? kKbdModeShared
                             : kKbdModeShared | kKbdModeReadOnly;
    int16_t status = kbdxopenx(&index_, name.c_str(), mode);
    if (status < 0) return status;
    KbdNtxInfo info{};
    kbdseterror(0);
    if (int16_t s = kbdxinfo(index_, &info); s < 0) return s;
    char expression[kExpressionBufferSize] = {};
    kbdseterror(0);
    if (int16_t s = kbdxexpr(index_, expression); s < 0) return s;
    char condition[kExpressionBufferSize] = {};
    kbdseterror(0);
    if (int16_t s = kbdxforexpr(index_, condition); s < 0) return s;
    for_expression_ = condition;
    typed_by_ = "CND";
    key_length_ = info.key_length;
    decimals_ = info.decimals;
    unique_ = (info.flags & 0x80) != 0;
    descending_ = (info.flags & 0x100) != 0;
    expression_ = expression;
    return status;
  }

  const char* kind() const override { return "ntx"; }

  void Describe(JsonWriter* w) const override {
    IndexAccess::Describe(w);
    if (!for_expression_.empty()) {
      w->Key("for");
      w->String(for_expression_);
    }
    w->Key("decimals");
    w->Int(decimals_);
    DescribeKey(w, key_type_);
  }

  int16_t Check(std::vector<std::string>* problems, uint64_t* keys,
                const EntrySink& on_entry) override {
    engine::btree::CheckReport report;
    kbdseterror(0);
    int16_t status = engine::CheckNtx(index_, &report, RawSink(on_entry));
    TakeReport(report, problems, keys);
    return status;
  }

 protected:
  double NumberOf(const std::string& key) const override {
    std::string text = key;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
      text.pop_back();
    if (key_type_ == 'D') {
      int y, m, d;
      if (text.empty() || engine::ReadDate(&y, &m, &d, text, 4) != kKbdOk)
        return engine::kEmptyDateKeyDay;
      return engine::DateToKeyDay(y, m, d);
    }
    bool negative = !text.empty() && text[0] != '.' &&
                    (text[0] < '0' || text[0] > '9');
    if (negative)
      for (char& c : text)
        if (c != '.') c = static_cast<char>(kNegativeMirror - c);
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return negative ? -value : value;
  }

  std::string KeyOfNumber(double value) const override {
    std::string key(key_length_ + 1u, '\0');
    if (key_type_ == 'D') {
      int y, m, d;
      char date[16] = "        ";
      if (value < 1e99 &&
          engine::KeyDayToDate(&y, &m, &d, static_cast<int32_t>(value)) ==
              kKbdOk)
        std::snprintf(date, sizeof date, "%04d%02d%02d", y, m, d);
      kbdseterror(0);
      kbdxkeydate(key.data(), date);
    } else {
      kbdseterror(0);
      kbdxkeynum(index_, key.data(), value);
    }
    key.resize(key_length_);
    return key;
  }

 private:
  static constexpr std::size_t kExpressionBufferSize = 257;

  uint16_t decimals_ = 0;
};

}  // namespace

int16_t OpenNtxIndex(const IndexRequest& request,
                     std::unique_ptr<IndexAccess>* index) {
  auto ntx = std::make_unique<NtxAccess>();
  int16_t status = ntx->Open(request.name, request.writable);
  if (status >= 0) *index = std::move(ntx);
  return status;
}

int16_t BuildNtxIndex(const BuildRequest& request) {
  uint16_t type = static_cast<uint16_t>(request.key_type == 'L' ? 'C'
                                                                : request.key_type);
  if (request.unique) type |= 0x80;
  if (request.descending) type |= 0x100;
  kbdseterror(0);
  return kbdxbuildx(request.dbf_handle, request.name.c_str(), type,
                    request.expression.c_str(), request.key_length,
                    request.decimals, request.for_expression.c_str());
}

}  // namespace qx::qxdb
