// The keys of FoxPro trees for data-file records (see fox_key_image.h).
#include "engine/fox/fox_key_image.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/dates/key_codec.h"
#include "engine/expr/expression.h"
#include "engine/expr/record_source.h"
#include "engine/fox/fox_fill.h"
#include "qx/engine.h"

namespace qx::engine::fox {
namespace {

// Descriptor flag of a field that may hold null (byte 18, Visual FoxPro).
constexpr uint16_t kFieldNullable = 0x02;
// kbddisblank's answer for a field whose null bit is set.
constexpr int16_t kFieldIsNull = 2;
// Field names as a table stores them.
constexpr size_t kFieldNameLength = 10;
// Bytes of a logical key.
constexpr uint16_t kLogicalKeySize = 1;

// The data file's fields, noting which ones an evaluation reads.
class ReadFieldsSource : public DbfFieldSource {
 public:
  int16_t GetValue(const FieldInfo& field, ExprValue* value) override {
    if (field.number >= 0) read_.push_back(field.number);
    return DbfFieldSource::GetValue(field, value);
  }

  void Forget() { read_.clear(); }

  // Whether a field read is marked nullable, and whether one holds null.
  int16_t Nulls(bool* nullable, bool* null) const {
    *nullable = false;
    *null = false;
    for (int16_t number : read_) {
      const KbdFieldDef& def = fields()[static_cast<size_t>(number)];
      if ((def.flags & kFieldNullable) == 0) continue;
      *nullable = true;
      const int16_t blank = kbddisblank(handle(), number);
      if (blank < 0) return blank;
      if (blank == kFieldIsNull) *null = true;
    }
    return kKbdOk;
  }

 private:
  std::vector<int16_t> read_;  // field numbers, in the order read
};

int16_t Evaluate(ReadFieldsSource* source, std::string_view expression,
                 ExprValue* value) {
  return EvaluateExpression(source, expression, -1, CurrentTask()->date_format,
                            value, ExprRules::kDbase);
}

}  // namespace

std::string ShortFieldNames(std::string_view expression) {
  std::string out;
  for (size_t i = 0; i < expression.size();) {
    const char c = expression[i];
    if (c == '"' || c == '\'') {
      const size_t end = expression.find(c, i + 1);
      const size_t stop =
          end == std::string_view::npos ? expression.size() : end + 1;
      out.append(expression.substr(i, stop - i));
      i = stop;
      continue;
    }
    if (!std::isalpha(static_cast<unsigned char>(c)) && c != '_') {
      out += c;
      ++i;
      continue;
    }
    size_t end = i;
    while (end < expression.size() &&
           (std::isalnum(static_cast<unsigned char>(expression[end])) ||
            expression[end] == '_'))
      ++end;
    const bool function = end < expression.size() && expression[end] == '(';
    const size_t keep =
        function ? end - i : std::min(end - i, kFieldNameLength);
    out.append(expression.substr(i, keep));
    i = end;
  }
  return out;
}

int16_t MakeFoxRecordKey(int16_t dbf_handle, std::string_view expression,
                         uint16_t key_length, uint8_t* key, FoxKeyForm* form) {
  ReadFieldsSource source;
  if (int16_t e = source.Open(dbf_handle)) return e;
  ExprValue value;
  int16_t status = Evaluate(&source, expression, &value);
  if (status == kKbdErrKeyExpression) {
    const std::string cut = ShortFieldNames(expression);
    if (cut != expression) {
      SetLastError(kKbdOk);  // the first try's failure is not the answer
      source.Forget();
      status = Evaluate(&source, cut, &value);
    }
  }
  if (status < 0) return status;

  FoxKeyForm shape;
  uint8_t image[kDoubleKeySize] = {};
  std::string_view bytes;  // the value's image
  switch (value.type) {
    case 'C':
      shape.type = 'C';
      bytes = value.text;
      break;
    case 'N':
    case 'F':
      shape.type = 'N';
      shape.integer = key_length == kFoxIntegerKeySize ||
                      key_length == kFoxIntegerKeySize + 1;
      if (shape.integer) {
        // Cut toward zero and kept within 32 bits, as the field holds it.
        const double n = value.number;
        const int32_t integer = n >= 2147483647.0    ? INT32_MAX
                                : n <= -2147483648.0 ? INT32_MIN
                                                     : static_cast<int32_t>(n);
        EncodeInt32Key(integer, image);
        bytes = {reinterpret_cast<const char*>(image), kInt32KeySize};
      } else {
        EncodeDoubleKey(value.number, image);
        bytes = {reinterpret_cast<const char*>(image), kDoubleKeySize};
      }
      break;
    case 'D': {
      shape.type = 'D';
      double key_day = 0.0;
      double julian_day = 0.0;
      if (int16_t e = DateTextToKeyDay(&key_day, value.text,
                                       CurrentTask()->date_format))
        return Fail(e);
      if (int16_t e = FoxDateKeyDay(key_day, &julian_day)) return e;
      EncodeDoubleKey(julian_day, image);
      bytes = {reinterpret_cast<const char*>(image), kDoubleKeySize};
      break;
    }
    case 'L':
      shape.type = 'L';
      image[0] = value.logical == 1 ? 'T' : 'F';
      bytes = {reinterpret_cast<const char*>(image), kLogicalKeySize};
      break;
    default:
      return Fail(kKbdErrKeyExpression);
  }

  bool reads_nullable = false;
  bool null = false;
  if (int16_t e = source.Nulls(&reads_nullable, &null)) return e;
  shape.nullable = reads_nullable && key_length == bytes.size() + 1;
  const uint16_t image_length =
      static_cast<uint16_t>(key_length - (shape.nullable ? 1 : 0));
  if (shape.type != 'C' && bytes.size() != image_length)
    return Fail(kKbdErrKeyExpression);

  uint8_t* out = key;
  if (shape.nullable) {
    if (null) {
      std::memset(key, 0, key_length);
      if (form != nullptr) *form = shape;
      return status;
    }
    *out++ = kFoxNotNullMark;
  }
  const size_t n = bytes.size() < image_length ? bytes.size() : image_length;
  std::memcpy(out, bytes.data(), n);
  std::memset(out + n, ' ', image_length - n);  // only text is short
  if (form != nullptr) *form = shape;
  return status;
}

int16_t FoxRecordKeyForm(int16_t dbf_handle, std::string_view expression,
                         uint16_t key_length, char* type, uint16_t* bits) {
  if (type == nullptr || bits == nullptr) return Fail(kKbdErrNullPointer);
  std::vector<uint8_t> key(key_length);
  FoxKeyForm form;
  const int16_t status =
      MakeFoxRecordKey(dbf_handle, expression, key_length, key.data(), &form);
  if (status < 0) return status;
  *type = form.type;
  *bits = static_cast<uint16_t>((form.integer ? kKbdFoxKeyInteger : 0) |
                                (form.nullable ? kKbdFoxKeyNullable : 0));
  return status;
}

}  // namespace qx::engine::fox
