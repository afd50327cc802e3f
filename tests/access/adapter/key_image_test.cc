// Key images made from host values: the binary key types, character and
// numeric keys with their padding and rounding, values the host converts,
// and seeks by value in real Visual FoxPro tags whose keys are 4-byte
// integers and nullable values.
#include "access/adapter/key_image.h"

#include <string>
#include <vector>

#include "access/adapter/data_file_ops.h"
#include "access/adapter/index_ops.h"
#include "access/adapter/key_ops.h"
#include "access/adapter/key_typing.h"
#include "engine/core/coding.h"
#include "framework/framework_state.h"
#include "host/vm/vm.h"
#include "tests/access/adapter/adapter_test_util.h"

namespace qx::access::testing {
namespace {

using Bytes = std::vector<uint8_t>;

IndexKeyDescriptor Key(XbaseDialect dialect, int16_t type, uint64_t length) {
  IndexKeyDescriptor key;
  key.dialect = dialect;
  key.key_type = type;
  key.key_length = length;
  key.key_value_type = KeyValueTypeOf(dialect, type);
  key.item_type = key.key_value_type;
  return key;
}

Bytes Made(const IndexKeyDescriptor& key, const HostValue& value,
           int32_t expected = kKbdOk) {
  Bytes image(101, 0xEE);
  EXPECT_EQ(MakeKey(key, value, image), expected);
  image.resize(static_cast<size_t>(key.key_length));
  return image;
}

class KeyImageTest : public AdapterTest {
 protected:
  void SetUp() override {
    AdapterTest::SetUp();
    framework::Framework().convert = vm::Convert;
    framework::Framework().end_conversion = vm::EndConversion;
  }
  void TearDown() override {
    framework::ResetFrameworkStateForTesting();
    AdapterTest::TearDown();
  }
};

TEST_F(KeyImageTest, BinaryKeyTypes) {
  const IndexKeyDescriptor integer = Key(kKbdVisualFoxpro, kKeyInteger, 4);
  EXPECT_EQ(Made(integer, vm::IntValue(kValueInt32, -1)),
            (Bytes{0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Made(integer, vm::IntValue(kValueInt32, 0)),
            (Bytes{0x80, 0x00, 0x00, 0x00}));
  // A number is cut toward zero on its way to an integer key.
  EXPECT_EQ(Made(integer, vm::DoubleValue(-1.9)),
            (Bytes{0x7F, 0xFF, 0xFF, 0xFF}));

  const IndexKeyDescriptor currency = Key(kKbdVisualFoxpro, kKeyCurrency, 8);
  EXPECT_EQ(Made(currency, vm::DoubleValue(-0.0001)),
            (Bytes{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Made(currency, vm::CurrencyValue(12345)),  // 1.2345
            (Bytes{0x80, 0, 0, 0, 0, 0, 0x30, 0x39}));

  const IndexKeyDescriptor when = Key(kKbdVisualFoxpro, kKeyDateTime, 8);
  const Bytes day = Made(when, vm::AnsiTextValue("20240102"));
  EXPECT_EQ(Bytes(day.begin() + 4, day.end()), (Bytes{0, 0, 0, 0}));
  const Bytes noon = Made(when, vm::AnsiTextValue("2024010212"));
  EXPECT_EQ(Bytes(noon.begin(), noon.begin() + 4),
            Bytes(day.begin(), day.begin() + 4));
  const uint32_t units = 12u * 89478485u;
  ASSERT_EQ(noon.size(), 8u);
  EXPECT_EQ(engine::GetBe32(noon.data() + 4), units);
  // A date-time value of the host goes through its text.
  const Bytes host = Made(when, vm::DateTimeValue(2024, 1, 2, 12, 0, 0, 0));
  EXPECT_EQ(host, noon);
  Made(when, vm::AnsiTextValue("2024010"), kKbdErrDate);
  // Read back.
  const KeyImageValue back = ReadKeyImage(when, noon);
  EXPECT_EQ(back.text, "20240102120000");
  EXPECT_EQ(ReadKeyImage(integer, Bytes{0x7F, 0xFF, 0xFF, 0xFF}).number, -1);

  IndexKeyDescriptor other = Key(kKbdVisualFoxpro, 'X', 4);
  Bytes untouched(101, 0xEE);
  EXPECT_EQ(MakeKey(other, vm::IntValue(kValueInt32, 1), untouched),
            kStatusNotConvertible);
  EXPECT_EQ(untouched, Bytes(101, 0xEE));
}

TEST_F(KeyImageTest, TextAndNumberKeys) {
  // A character key of 10 characters and its terminator: cut, zero ended.
  const IndexKeyDescriptor text = Key(kKbdVisualFoxpro, 'C', 11);
  Bytes made = Made(text, vm::AnsiTextValue("abcdefghijklmn"));
  EXPECT_EQ(std::string(made.begin(), made.end()),
            std::string("abcdefghij\0", 11));
  // A number for a text key: the host's text, padded to the key's length.
  IndexKeyDescriptor padded = text;
  padded.item_type = kValueDouble;
  made = Made(padded, vm::DoubleValue(3.5));
  EXPECT_EQ(std::string(made.begin(), made.end()),
            std::string("3.5       \0", 11));
  padded.compound = 1;
  made = Made(padded, vm::DoubleValue(3.5));
  EXPECT_EQ(std::string(made.begin(), made.end()),
            std::string("3.5\0\0\0\0\0\0\0\0", 11));

  // Numbers are rounded to the key's decimals through their text.
  IndexKeyDescriptor number = Key(kKbdFoxbase, 'N', 8);
  number.width = 6;
  number.decimals = 2;
  uint8_t expected[9] = {};
  ASSERT_EQ(kbdinumkey(expected, 3.14), kKbdOk);
  EXPECT_EQ(Made(number, vm::DoubleValue(3.14159)),
            Bytes(expected, expected + 8));
  EXPECT_EQ(ReadKeyImage(number, Bytes(expected, expected + 8)).number, 3.14);
  // NDX numbers are the little-endian double itself; dates its key day.
  const IndexKeyDescriptor ndx = Key(kKbdDbase3, 'N', 8);
  EXPECT_EQ(ReadKeyImage(ndx, Made(ndx, vm::DoubleValue(-2.5))).number, -2.5);
  const IndexKeyDescriptor ndx_date = Key(kKbdDbase3, 'D', 8);
  EXPECT_EQ(
      ReadKeyImage(ndx_date, Made(ndx_date, vm::DateValue(1999, 12, 31))).text,
      "19991231");
  Made(ndx_date, vm::AnsiTextValue("19991399"), kKbdErrDate);
  const KeyImageValue empty =
      ReadKeyImage(ndx_date, Made(ndx_date, vm::AnsiTextValue("        ")));
  EXPECT_TRUE(empty.valid);
  EXPECT_EQ(empty.text, "");
  // NTX dates are their digits; an NTX key is text with its terminator.
  const IndexKeyDescriptor ntx_date = Key(kKbdClipper, 'D', 9);
  made = Made(ntx_date, vm::DateValue(2024, 2, 29));
  EXPECT_EQ(std::string(made.begin(), made.end()),
            std::string("20240229\0", 9));
}

// Seeks by value in real tags whose keys the file does not type: the key
// typing learns the 4-byte integer and nullable forms from the table.
TEST_F(KeyImageTest, SeeksInVisualFoxProTags) {
  uint16_t dbf = kNoDataHandle;
  ASSERT_EQ(OpenDataFile(u"orders", Real("xsharp-northwind/orders.dbf"),
                         kModeReadOnly | kModeShared, nullptr, &dbf, nullptr),
            1);
  ASSERT_GE(kbddread(static_cast<int16_t>(dbf), 1), 0);
  uint16_t file = kNoIndexHandle;
  ASSERT_GE(OpenIndex(kKbdVisualFoxpro, Real("xsharp-northwind/orders.cdx"),
                      &file, kModeReadOnly | kModeShared),
            0);
  struct Case {
    const char* tag;
    int16_t type;
    uint32_t nullable;
    HostValue value;
    uint32_t recno;  // the first record of the value
  };
  std::vector<Case> cases = {
      {"ORDERID", kKeyInteger, 0, vm::IntValue(kValueInt32, 10250), 3},
      {"EMPLOYEEID", kKeyInteger, 1, vm::IntValue(kValueInt32, 5), 1},
      {"CUSTOMERID", 'C', 1, vm::AnsiTextValue("VINET"), 1},
      {"ORDERDATE", 'D', 1, vm::DateValue(1996, 7, 5), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    IndexKeyDescriptor key;
    key.dialect = kKbdVisualFoxpro;
    key.index_handle = file;
    ASSERT_EQ(OpenTag(key.dialect, c.tag, &key.tag_handle, file), kKbdOk);
    IndexKeyInfo info;
    ASSERT_EQ(DescribeKeyByTag(&info, key.dialect, file, key.tag_handle),
              kKbdOk);
    key.key_type = static_cast<int16_t>(info.key_type);
    key.key_length = info.key_length;
    key.key_value_type = kValueText;
    ASSERT_EQ(TypeKeyFromTable(&key, dbf, info.expression), kKbdOk);
    EXPECT_EQ(key.key_type, c.type);
    EXPECT_EQ(key.nullable, c.nullable);
    key.item_type = c.value.type;
    Bytes image(101);
    uint32_t recno = 0;
    ASSERT_EQ(SeekValue(key, c.value, 0, false, image, &recno, 1), kKbdOk);
    EXPECT_EQ(recno, c.recno);
    // The found key reads back as the value sought.
    const KeyImageValue found = ReadKeyImage(key, image);
    EXPECT_TRUE(found.valid);
    EXPECT_FALSE(found.null);
    Bytes made(101);
    ASSERT_EQ(MakeKey(key, c.value, made), kKbdOk);
    EXPECT_TRUE(SameKeyImage(key, image, made));
    // A null value's key is all zero bytes in a nullable tag.
    if (c.nullable != 0) {
      HostValue null;
      null.type = kValueNull;
      null.state = kValueStateNull;
      ASSERT_EQ(MakeKey(key, null, made), kKbdOk);
      EXPECT_TRUE(ReadKeyImage(key, made).null);
    }
    EXPECT_EQ(CloseTag(key.dialect, key.tag_handle), kKbdOk);
  }
  EXPECT_EQ(CloseIndex(kKbdVisualFoxpro, file), kKbdOk);
  EXPECT_EQ(CloseDataFile(dbf), kKbdOk);
}

}  // namespace
}  // namespace qx::access::testing
