// The record-to-tree fill of the FoxPro builds (see fox_fill.h).
#include "engine/fox/fox_fill.h"

#include <cstring>
#include <vector>

#include "engine/btree/external_sort.h"
#include "engine/btree/tree_build.h"
#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/dates/key_codec.h"
#include "engine/expr/record_source.h"
#include "engine/fox/fox_key_image.h"
#include "engine/index/record_keys.h"

namespace qx::engine::fox {

namespace {

constexpr uint32_t kRecnoSize = 4;

}  // namespace

int16_t StoreFoxKey(char type, std::string_view text, double number,
                    uint16_t key_length, uint8_t* key) {
  if (type == 'C') {
    const size_t n = text.size() < key_length ? text.size() : key_length;
    std::memcpy(key, text.data(), n);
    std::memset(key + n, ' ', key_length - n);
    return kKbdOk;
  }
  if (type == 'N' && key_length == kFoxIntegerKeySize) {
    // Visual FoxPro's key of an I field: the 4-byte integer image of the
    // value cut toward zero, kept within 32 bits as the field holds it.
    const int32_t integer = number >= 2147483647.0 ? INT32_MAX
                            : number <= -2147483648.0
                                ? INT32_MIN
                                : static_cast<int32_t>(number);
    EncodeInt32Key(integer, key);
    return kKbdOk;
  }
  if ((type != 'N' && type != 'D') || key_length != kDoubleKeySize)
    return Fail(kKbdErrKeyExpression);
  if (type == 'D') {
    if (int16_t e = FoxDateKeyDay(number, &number)) return e;
  }
  EncodeDoubleKey(number, key);
  return kKbdOk;
}

int16_t FoxDateKeyDay(double key_day, double* fox_day) {
  if (key_day == kEmptyDateKeyDay) {
    *fox_day = 0.0;
    return kKbdOk;
  }
  int year = 0, month = 0, day = 0;
  if (!(key_day >= 0 && key_day <= 0x7FFFFFFF) ||
      KeyDayToDate(&year, &month, &day, static_cast<int32_t>(key_day)) !=
          kKbdOk)
    return Fail(kKbdErrDate);
  *fox_day = DateToJulianDay(year, month, day);
  return kKbdOk;
}

int16_t FoxRecordBelongs(int16_t dbf_handle, std::string_view for_expression) {
  bool accepted = true;
  const int16_t status = EvaluateCondition(dbf_handle, for_expression,
                                           ExprRules::kDbase, &accepted);
  if (status < 0) return status;
  return accepted ? 1 : 0;
}

int16_t FillFoxTree(const FoxFill& fill, uint32_t* root) {
  const uint16_t length = fill.key_length;
  index::RecordKeyReader reader;
  if (int16_t e = reader.Prepare(fill.dbf_handle, fill.expression, "CNFD",
                                 NumericKeyRule::kNumericOrFloat,
                                 fill.for_expression, ExprRules::kDbase))
    return e;
  btree::ExternalSort sorter;
  if (int16_t e = sorter.Start(btree::BuildSortOptions(length + kRecnoSize)))
    return e;
  for (uint32_t recno = 1; recno <= fill.record_count; ++recno) {
    index::RecordKey key;
    if (int16_t e = reader.Read(recno, &key)) return e;
    if (!key.included) continue;
    uint8_t* item = nullptr;
    if (int16_t e = sorter.Append(&item)) return e;
    int year = 0, month = 0, day = 0;
    if (length == kDoubleKeySize &&
        ReadStoredDate(key.stored_date, &year, &month, &day)) {
      // The day StoreFoxKey would take from the key day number, at once.
      EncodeDoubleKey(DateToJulianDay(year, month, day), item);
    } else if (int16_t e =
                   StoreFoxKey(key.type, key.text, key.number, length, item)) {
      return e;
    }
    PutBe32(item + length, recno);
  }
  if (int16_t e = sorter.Finish()) return e;
  FoxTreeBuilder builder;
  if (int16_t e = builder.Start(fill.file_slot, fill.layout, length, fill.pad,
                                fill.record_count))
    return e;
  if (fill.reuse_node != 0) builder.ReuseNode(fill.reuse_node);
  bool any = false;
  std::vector<uint8_t> last(length);
  for (;;) {
    const uint8_t* item = nullptr;
    if (int16_t e = sorter.Next(&item)) return e;
    if (item == nullptr) break;
    if (fill.unique && any && std::memcmp(last.data(), item, length) == 0)
      continue;
    if (fill.unique) std::memcpy(last.data(), item, length);
    any = true;
    if (int16_t e = builder.Add(item, GetBe32(item + length))) return e;
  }
  sorter.Close();
  return builder.Finish(root);
}

}  // namespace qx::engine::fox
