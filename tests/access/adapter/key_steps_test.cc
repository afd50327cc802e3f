// Key steps of the adapter in every index family: two callers of one
// handle each move from their own entry (next, previous, current), an
// entry removed meanwhile moves from where it lay, and seeks answer the
// same statuses whatever the family.
#include <array>
#include <string>
#include <vector>

#include "access/adapter/index_create.h"
#include "access/adapter/index_ops.h"
#include "access/adapter/key_ops.h"
#include "qx/host_types.h"
#include "tests/access/adapter/adapter_test_util.h"

namespace qx::access::testing {
namespace {

using Image = std::array<uint8_t, 101>;
constexpr uint16_t kKeyLength = 6;

Image KeyOf(const std::string& text) {
  Image image{};
  for (size_t i = 0; i < kKeyLength; ++i)
    image[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
  return image;
}

std::string TextOf(const Image& image) {
  std::string text(reinterpret_cast<const char*>(image.data()), kKeyLength);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
    text.pop_back();
  return text;
}

class KeyStepsTest : public AdapterTest,
                     public ::testing::WithParamInterface<const char*> {
 protected:
  // An empty index of the parameter's family holding the entries
  // (key, record): B1 B2 D3 D4 F5 H6, opened.
  void SetUp() override {
    AdapterTest::SetUp();
    IndexCreateRequest request;
    request.path = Temp(std::string("steps.") + GetParam());
    request.tag = "STEPS";
    request.expression = "NAME";
    request.key_length = kKeyLength;
    ASSERT_EQ(CreateIndexFile(request), kKbdOk);
    key_.dialect = DialectOfIndexPath(request.path);
    ASSERT_GE(OpenIndex(key_.dialect, request.path, &key_.index_handle, 0), 0);
    const IndexFamily family = IndexFamilyOf(key_.dialect);
    if (family == IndexFamily::kMdx || family == IndexFamily::kCdx) {
      ASSERT_GE(
          OpenTag(key_.dialect, "STEPS", &key_.tag_handle, key_.index_handle),
          0);
    }
    key_.key_length = kKeyLength + 1;
    key_.key_type = 'C';
    key_.key_value_type = kValueText;
    key_.item_type = kValueText;
    const std::vector<std::pair<std::string, uint32_t>> entries = {
        {"B", 1}, {"B", 2}, {"D", 3}, {"D", 4}, {"F", 5}, {"H", 6}};
    for (const auto& [text, recno] : entries)
      ASSERT_EQ(AddKey(key_, KeyOf(text), recno), kKbdOk);
  }
  void TearDown() override {
    if (key_.tag_handle != kNoTagHandle)
      CloseTag(key_.dialect, key_.tag_handle);
    if (key_.index_handle != kNoIndexHandle)
      CloseIndex(key_.dialect, key_.index_handle);
    AdapterTest::TearDown();
  }
  std::string Entry(const Image& image, uint32_t recno) {
    return TextOf(image) + std::to_string(recno);
  }

  IndexKeyDescriptor key_;
};

TEST_P(KeyStepsTest, EachCallerMovesFromItsOwnEntry) {
  Image one{}, two{};
  uint32_t one_recno = 0, two_recno = 0;
  ASSERT_EQ(FirstKey(key_, one, &one_recno), kKbdOk);
  ASSERT_EQ(LastKey(key_, two, &two_recno), kKbdOk);
  std::vector<std::string> forward = {Entry(one, one_recno)};
  std::vector<std::string> backward = {Entry(two, two_recno)};
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(NextKey(key_, one, &one_recno), kKbdOk);
    ASSERT_EQ(PreviousKey(key_, two, &two_recno), kKbdOk);
    forward.push_back(Entry(one, one_recno));
    backward.push_back(Entry(two, two_recno));
  }
  EXPECT_EQ(forward,
            (std::vector<std::string>{"B1", "B2", "D3", "D4", "F5", "H6"}));
  EXPECT_EQ(backward,
            (std::vector<std::string>{"H6", "F5", "D4", "D3", "B2", "B1"}));
  EXPECT_EQ(NextKey(key_, one, &one_recno), kKbdNoMoreKeys);
  EXPECT_EQ(PreviousKey(key_, two, &two_recno), kKbdNoMoreKeys);

  // The current entry of a caller, whatever the other did since.
  Image d3 = KeyOf("D");
  uint32_t d3_recno = 3;
  ASSERT_EQ(CurrentKey(key_, d3, &d3_recno), kKbdOk);
  EXPECT_EQ(Entry(d3, d3_recno), "D3");
  ASSERT_EQ(NextKey(key_, d3, &d3_recno), kKbdOk);
  EXPECT_EQ(Entry(d3, d3_recno), "D4");

  // An entry removed meanwhile: next and previous move from where it lay.
  ASSERT_EQ(DeleteKey(key_, KeyOf("D"), 4), kKbdOk);
  Image gone = KeyOf("D");
  uint32_t gone_recno = 4;
  ASSERT_EQ(NextKey(key_, gone, &gone_recno), kKbdOk);
  EXPECT_EQ(Entry(gone, gone_recno), "F5");
  gone = KeyOf("D");
  gone_recno = 4;
  ASSERT_EQ(PreviousKey(key_, gone, &gone_recno), kKbdOk);
  EXPECT_EQ(Entry(gone, gone_recno), "D3");
}

TEST_P(KeyStepsTest, SeeksAnswerAlikeInEveryFamily) {
  Image image = KeyOf("D");
  uint32_t recno = 0;
  EXPECT_EQ(SeekKeyEntry(key_, image, true, &recno, 1), kKbdOk);
  EXPECT_EQ(Entry(image, recno), "D3");
  image = KeyOf("E");
  EXPECT_EQ(SeekKeyEntry(key_, image, true, &recno, 1), kKbdKeyNotFound);
  EXPECT_EQ(Entry(image, recno), "F5");
  image = KeyOf("A");
  EXPECT_EQ(SeekKeyEntry(key_, image, true, &recno, 1), kKbdKeyNotFound);
  EXPECT_EQ(Entry(image, recno), "B1");
  image = KeyOf("Z");
  EXPECT_EQ(SeekKeyEntry(key_, image, true, &recno, 1), kKbdKeyNotFoundEnd);
  EXPECT_EQ(Entry(image, recno), "H6");
  // The entry of a key and record.
  image = KeyOf("D");
  recno = 4;
  EXPECT_EQ(SeekKeyEntry(key_, image, true, &recno, 2), kKbdOk);
  EXPECT_EQ(Entry(image, recno), "D4");
}

INSTANTIATE_TEST_SUITE_P(Families, KeyStepsTest,
                         ::testing::Values("ndx", "mdx", "ntx", "idx", "cdx"));

}  // namespace
}  // namespace qx::access::testing
