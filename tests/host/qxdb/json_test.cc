// The JSON of qxdb: what the writer makes of every byte, number and
// nesting, read back by the reader, and the input the reader refuses.
#include "host/qxdb/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace qx::qxdb {
namespace {

std::string StringJson(std::string_view utf8) {
  JsonWriter w;
  w.String(utf8);
  return w.Take();
}

std::string DoubleJson(double value) {
  JsonWriter w;
  w.Double(value);
  return w.Take();
}

JsonValue Parsed(std::string_view text) {
  JsonValue value;
  std::string error;
  EXPECT_TRUE(ParseJson(text, &value, &error)) << text << ": " << error;
  return value;
}

TEST(JsonWriterTest, QuotesBackslashAndNamedEscapes) {
  EXPECT_EQ(StringJson(""), "\"\"");
  EXPECT_EQ(StringJson("a\"b"), R"("a\"b")");
  EXPECT_EQ(StringJson("a\\b"), R"("a\\b")");
  EXPECT_EQ(StringJson("\\\""), R"("\\\"")");
  EXPECT_EQ(StringJson("\n\r\t\b\f"), R"("\n\r\t\b\f")");
  EXPECT_EQ(StringJson("/"), "\"/\"");  // no need to escape a solidus
}

TEST(JsonWriterTest, OtherControlCharactersAsUnicodeEscapes) {
  EXPECT_EQ(StringJson(std::string("\0", 1)), R"("\u0000")");
  EXPECT_EQ(StringJson("\x01\x1F"), R"("\u0001\u001f")");
  EXPECT_EQ(StringJson("\x0B"), R"("\u000b")");
  EXPECT_EQ(StringJson("\x7F"), R"("\u007f")");
  EXPECT_EQ(StringJson(std::string("a\0b", 3)), R"("a\u0000b")");
}

TEST(JsonWriterTest, NonAsciiBytesPassUnchanged) {
  // UTF-8 stays as it is; so does a byte that is not UTF-8 (the writer
  // does not judge encodings).
  EXPECT_EQ(StringJson("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");
  EXPECT_EQ(StringJson("\x80\xFF"), "\"\x80\xFF\"");
}

TEST(JsonWriterTest, EveryByteReadsBack) {
  std::string all;
  for (int c = 1; c < 0x80; ++c) all += static_cast<char>(c);
  all += "\xC3\xA9";
  all.insert(all.begin() + 10, '\0');
  JsonWriter w;
  w.BeginObject();
  w.Key(all);
  w.String(all);
  w.EndObject();
  const JsonValue v = Parsed(w.text());
  ASSERT_EQ(v.type, JsonValue::Type::kObject);
  ASSERT_EQ(v.object.size(), 1u);
  EXPECT_EQ(v.object[0].first, all);
  EXPECT_EQ(v.object[0].second.string, all);
}

TEST(JsonWriterTest, Integers) {
  struct Case {
    int64_t value;
    const char* json;
  };
  const Case cases[] = {
      {0, "0"},
      {-1, "-1"},
      {42, "42"},
      {std::numeric_limits<int64_t>::max(), "9223372036854775807"},
      {std::numeric_limits<int64_t>::min(), "-9223372036854775808"},
  };
  for (const Case& c : cases) {
    JsonWriter w;
    w.Int(c.value);
    EXPECT_EQ(w.text(), c.json);
  }
}

TEST(JsonWriterTest, DoublesStayDoubles) {
  // An integral double gets ".0"; exponents and fractions need none.
  EXPECT_EQ(DoubleJson(12), "12.0");
  EXPECT_EQ(DoubleJson(0), "0.0");
  EXPECT_EQ(DoubleJson(-0.0), "-0.0");
  EXPECT_EQ(DoubleJson(-3), "-3.0");
  EXPECT_EQ(DoubleJson(0.1), "0.1");
  EXPECT_EQ(DoubleJson(-1234.5678), "-1234.5678");
  EXPECT_EQ(DoubleJson(1e300), "1e+300");
  EXPECT_EQ(DoubleJson(-2.5e-8), "-2.5e-08");
  // No NaN or infinity in JSON.
  EXPECT_EQ(DoubleJson(std::nan("")), "null");
  EXPECT_EQ(DoubleJson(std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(DoubleJson(-std::numeric_limits<double>::infinity()), "null");
}

TEST(JsonWriterTest, DoublesReadBackExactly) {
  for (double d : {0.1, 1.0 / 3, -1e-310, 123456789012345678.0,
                   std::numeric_limits<double>::max(),
                   std::numeric_limits<double>::min(), 9007199254740993.0}) {
    const std::string json = DoubleJson(d);
    SCOPED_TRACE(json);
    const JsonValue v = Parsed(json);
    ASSERT_EQ(v.type, JsonValue::Type::kNumber);
    EXPECT_EQ(v.number, d);
    EXPECT_EQ(v.number_text, json);
  }
}

TEST(JsonWriterTest, CommasBetweenMembersAndElements) {
  JsonWriter w;
  w.BeginObject();
  w.Key("a");
  w.Int(1);
  w.Key("b");
  w.BeginArray();
  w.Int(2);
  w.String("x");
  w.BeginObject();
  w.EndObject();
  w.BeginArray();
  w.EndArray();
  w.Null();
  w.Bool(true);
  w.Bool(false);
  w.EndArray();
  w.Key("c");
  w.BeginObject();
  w.Key("d");
  w.BeginArray();
  w.BeginArray();
  w.Double(1.5);
  w.EndArray();
  w.EndArray();
  w.EndObject();
  w.Key("e");
  w.Raw("{\"pre\":1}");
  w.EndObject();
  EXPECT_EQ(w.text(), R"({"a":1,"b":[2,"x",{},[],null,true,false],)"
                      R"("c":{"d":[[1.5]]},"e":{"pre":1}})");
  const JsonValue v = Parsed(w.text());
  ASSERT_EQ(v.object.size(), 4u);
  EXPECT_EQ(v.Find("b")->array.size(), 7u);
  EXPECT_EQ(v.Find("e")->Find("pre")->number, 1);
}

TEST(JsonWriterTest, EmptyContainersAndTopLevelSequences) {
  JsonWriter object;
  object.BeginObject();
  object.EndObject();
  EXPECT_EQ(object.text(), "{}");
  JsonWriter array;
  array.BeginArray();
  array.EndArray();
  EXPECT_EQ(array.text(), "[]");
  JsonWriter nested;
  nested.BeginArray();
  nested.BeginArray();
  nested.EndArray();
  nested.BeginObject();
  nested.EndObject();
  nested.EndArray();
  EXPECT_EQ(nested.text(), "[[],{}]");
  // Outside any container the writer adds no comma.
  JsonWriter loose;
  loose.Int(1);
  loose.Int(2);
  EXPECT_EQ(loose.text(), "12");
}

TEST(JsonWriterTest, KeysAreEscapedLikeStrings) {
  JsonWriter w;
  w.BeginObject();
  w.Key("a\"\n\x01");
  w.Null();
  w.Key("");
  w.Int(-7);
  w.EndObject();
  EXPECT_EQ(w.text(), R"({"a\"\n\u0001":null,"":-7})");
}

TEST(JsonWriterTest, TakeEmptiesTheWriter) {
  JsonWriter w;
  w.String("x");
  EXPECT_EQ(w.Take(), "\"x\"");
  EXPECT_EQ(w.text(), "");
}

TEST(JsonReaderTest, UnicodeEscapesBecomeUtf8) {
  EXPECT_EQ(Parsed(R"("\u0041\u00e9\u20AC")").string, "A\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Parsed(R"("\ud83d\ude00")").string, "\xF0\x9F\x98\x80");
  // A lone surrogate becomes U+FFFD.
  EXPECT_EQ(Parsed(R"("\ud83dx")").string, "\xEF\xBF\xBDx");
  EXPECT_EQ(Parsed(R"("\ude00")").string, "\xEF\xBF\xBD");
  EXPECT_EQ(Parsed(R"("\/")").string, "/");
}

TEST(JsonReaderTest, ValuesOfEveryType) {
  const JsonValue v = Parsed(
      " { \"n\" : -12.5e2 , \"t\":true,\"f\":false,\"z\":null,"
      "\"s\":\"\",\"a\":[ ],\"o\":{} }\n");
  ASSERT_EQ(v.type, JsonValue::Type::kObject);
  EXPECT_EQ(v.Find("n")->number, -1250);
  EXPECT_EQ(v.Find("n")->number_text, "-12.5e2");
  EXPECT_TRUE(v.Find("t")->boolean);
  EXPECT_EQ(v.Find("f")->type, JsonValue::Type::kBool);
  EXPECT_FALSE(v.Find("f")->boolean);
  EXPECT_EQ(v.Find("z")->type, JsonValue::Type::kNull);
  EXPECT_EQ(v.Find("s")->type, JsonValue::Type::kString);
  EXPECT_TRUE(v.Find("a")->array.empty());
  EXPECT_EQ(v.Find("o")->type, JsonValue::Type::kObject);
  EXPECT_EQ(v.Find("missing"), nullptr);
}

TEST(JsonReaderTest, RefusesMalformedText) {
  for (const char* bad : {"",          "{",       "[1,]",        "[1 2]",
                          "{\"a\" 1}", "{a:1}",   "{\"a\":1,}",  "\"abc",
                          "\"a\nb\"",  "\"\\x\"", "\"\\u12G4\"", "\"\\u12\"",
                          "-",         "1.",      ".5",          "1e",
                          "+1",        "tru",     "nul",         "1 2",
                          "{} x"}) {
    JsonValue v;
    std::string error;
    EXPECT_FALSE(ParseJson(bad, &v, &error)) << bad;
    EXPECT_NE(error.find(" at offset "), std::string::npos) << bad;
  }
}

TEST(JsonReaderTest, NestingHasALimit) {
  const std::string deep_ok = std::string(65, '[') + std::string(65, ']');
  EXPECT_EQ(Parsed(deep_ok).type, JsonValue::Type::kArray);
  const std::string too_deep = std::string(66, '[') + std::string(66, ']');
  JsonValue v;
  std::string error;
  EXPECT_FALSE(ParseJson(too_deep, &v, &error));
  EXPECT_NE(error.find("nesting too deep"), std::string::npos);
}

}  // namespace
}  // namespace qx::qxdb
