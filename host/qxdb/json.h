// The JSON of qxdb: a writer for the objects it prints (one per line) and a
// small reader for the JSON Lines `qxdb import` takes. Strings are UTF-8.
#ifndef QX_HOST_QXDB_JSON_H_
#define QX_HOST_QXDB_JSON_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qx::qxdb {

// Appends JSON text to a string. The caller keeps the nesting right; the
// writer adds commas between members and elements.
class JsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  void Key(std::string_view key);
  void String(std::string_view utf8);
  void Int(int64_t value);
  // Shortest text that reads back to the same double; integral values get
  // ".0" so that a float stays a float ("12.0").
  void Double(double value);
  void Bool(bool value);
  void Null();
  // Pre-formatted JSON (a number text, a nested object).
  void Raw(std::string_view json);

  const std::string& text() const { return out_; }
  std::string Take() { return std::move(out_); }

 private:
  void Separate();

  std::string out_;
  std::vector<bool> first_;  // per open container: no member written yet
  bool after_key_ = false;
};

// A parsed JSON value.
struct JsonValue {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  double number = 0;
  std::string number_text;  // the number as written
  std::string string;       // UTF-8
  std::vector<JsonValue> array;
  std::vector<std::pair<std::string, JsonValue>> object;  // in order

  // Defined where JsonValue is complete: the members above hold values of
  // the type being defined.
  JsonValue();
  JsonValue(const JsonValue&);
  JsonValue(JsonValue&&) noexcept;
  JsonValue& operator=(const JsonValue&);
  JsonValue& operator=(JsonValue&&) noexcept;
  ~JsonValue();

  const JsonValue* Find(std::string_view key) const;
};

// Parses one JSON text; false with *error set on bad input.
bool ParseJson(std::string_view text, JsonValue* value, std::string* error);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_JSON_H_
