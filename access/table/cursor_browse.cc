// The cursor's browses: key order and record-number order, seeking,
// re-finding a record, and saved positions.
//
// A key-order browse keeps its own position, the (key image, record
// number) of the entry it stands on; every step hands that entry to the
// engine, which finds it again and moves from it, so browses sharing an
// index handle do not disturb each other, and a browse survives changes
// made to the index meanwhile.
//
// Divisions: the browse key; key order; record order; seeking and
// re-finding; saved positions.
#include <algorithm>
#include <array>
#include <cstring>

#include "access/adapter/key_image.h"
#include "access/adapter/key_ops.h"
#include "access/errors/error_context.h"
#include "access/table/browse_conditions.h"
#include "access/table/xbase_cursor.h"
#include "access/table/xbase_description.h"
#include "access/table/xbase_item.h"
#include "access/table/xbase_table.h"
#include "framework/host_value.h"
#include "framework/names.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorNotAKey = 1018;
constexpr uint32_t kErrorNotStarted = 1042;
constexpr uint32_t kErrorPositioning = 1043;
constexpr uint32_t kErrorSeek = 1066;

// The browse's generic option in the query's search flags.
constexpr uint32_t kSearchGeneric = 32;
// Search modes: the first entry of a key; the entry of a key and record.
constexpr uint16_t kSearchKey = 1;
constexpr uint16_t kSearchKeyRecno = 2;

constexpr uint32_t kUnitCursor = 107;
constexpr uint32_t kSiteKeyPosition = 20;
constexpr uint32_t kSiteNotStarted = 21;
constexpr uint32_t kSiteSeek = 22;
constexpr uint32_t kSiteSeekNoKey = 23;
constexpr uint32_t kSiteRefind = 24;
constexpr uint32_t kSiteRead = 25;

using KeyBuffer = std::array<uint8_t, kKeyImageSize>;

bool Landed(int32_t status) {
  return status == kKbdOk || status == kKbdKeyNotFound ||
         status == kKbdKeyNotFoundEnd;
}

bool Forward(int32_t direction) {
  return direction == kCursorFirst || direction == kCursorNext;
}

}  // namespace

// ---------------------------------------------------------------------------
// The browse key

bool CXBaseCursor::BrowseKey(CXBaseTable* table,
                             const IndexKeyDescriptor** key) {
  *key = nullptr;
  if (item_name_.empty()) return true;
  CXBaseDescription* description = table->description();
  CXBaseItem* item =
      description == nullptr ? nullptr : description->FindXItem(item_name_);
  // An unknown item: the table reports 1023.
  if (item == nullptr) return table->KeyDescriptor(item_name_) != nullptr;
  if (!item->is_key()) return true;  // no index: record order
  key_descending_ = (item->GetKeyFlags() & kKeyDescending) != 0;
  *key = table->KeyDescriptor(item_name_);
  return *key != nullptr;
}

void CXBaseCursor::SetOutOfFile() {
  out_of_file_ = true;
  in_file_ = false;
}

int32_t CXBaseCursor::BrowseError(uint32_t id, uint32_t site, int32_t status,
                                  std::u16string_view value_text) {
  ErrorReport report;
  report.id = id;
  report.table = table_name_;
  report.item = item_name_;
  report.unit = kUnitCursor;
  report.site = site;
  if (id == kErrorNotStarted) {
    report.args = {platform::MessageArg::Text(item_name_),
                   platform::MessageArg::Text(table_name_)};
  } else if (id == kErrorSeek) {
    report.args = {platform::MessageArg::Text(value_text)};
  } else {
    report.args = {platform::MessageArg::Text(item_name_)};
  }
  if (status < 0) report.engine_status = status;
  ReportError(errors_, report);
  SetOutOfFile();
  return 0;
}

void CXBaseCursor::CountVisit(int32_t direction, bool deleted) {
  if (direction == kCursorCurrent || deleted) return;
  const bool with_start =
      start_direction_ == 0 ? Forward(direction) : !Forward(direction);
  visits_ += with_start ? 1 : -1;
}

int32_t CXBaseCursor::ReadPositioned(CXBaseTable* table, uint32_t recno,
                                     int32_t fetch_fields,
                                     uint32_t lock_options, int32_t* deleted,
                                     bool* past_end) {
  *past_end = false;
  uint32_t previous = 0;
  if (table->LockRecord(record_, lock_options, recno, &previous) != 1) {
    SetOutOfFile();
    return 0;
  }
  int32_t is_deleted = 0;
  int32_t out = 0;
  if (table->ReadRecord(record_, recno, fetch_fields, &is_deleted, &out) != 1) {
    SetOutOfFile();
    return 0;
  }
  if (out != 0) {
    *past_end = true;
    SetOutOfFile();
    return 0;
  }
  if (deleted != nullptr) *deleted = is_deleted;
  return 1;
}

int32_t CXBaseCursor::DoPosition(int32_t direction, int32_t fetch_fields,
                                 uint32_t lock_options, int32_t* deleted) {
  CXBaseTable* table = Table();
  if (table == nullptr) return 0;
  const IndexKeyDescriptor* key = nullptr;
  if (!BrowseKey(table, &key)) {
    SetOutOfFile();
    return 0;
  }
  if (key != nullptr)
    return KeyPosition(table, *key, direction, fetch_fields, lock_options,
                       deleted);
  return RecordPosition(table, direction, fetch_fields, lock_options, deleted);
}

// ---------------------------------------------------------------------------
// Key order

int32_t CXBaseCursor::KeyStart(const IndexKeyDescriptor& key, bool first,
                               std::span<uint8_t> image, uint32_t* recno) {
  const Condition* range = query_ == nullptr ? nullptr : query_->range;
  const Condition* filter = query_ == nullptr ? nullptr : query_->filter;
  if (range == nullptr && filter == nullptr)
    return first ? FirstKey(key, image, recno) : LastKey(key, image, recno);
  const uint32_t text_options =
      query_ == nullptr ? 0 : query_->search_flags & kSearchGeneric;
  // An equality on the browse item (the filter's first) is sought; else a
  // bound of the range (or the filter) on the browse item where the walk
  // starts: from below for the first entry of an ascending key, from
  // above for its last one, the other way round for a descending key.
  const Condition* sought = FindEquality(filter, item_name_);
  if (sought == nullptr) sought = FindEquality(range, item_name_);
  if (sought == nullptr) {
    const bool lower = first != key_descending_;
    sought = FindBound(range, item_name_, lower);
    if (sought == nullptr) sought = FindBound(filter, item_name_, lower);
  }
  if (sought == nullptr)
    return first ? FirstKey(key, image, recno) : LastKey(key, image, recno);
  const auto holds = [&] {
    return CompareOnKey(sought->kind, sought->generic != 0, sought->value, key,
                        image, text_options);
  };
  int32_t status = MakeKey(key, sought->value, image, text_options);
  if (status != kKbdOk) return status;
  // On the first entry not before the value in the walk (12: every entry
  // is before it, on the last one).
  status = SeekKeyEntry(key, image,
                        sought->generic == 0 && sought->kind == kConditionEqual,
                        recno, kSearchKey);
  if (!Landed(status)) return status;
  if (first) {
    if (sought->kind == kConditionEqual) return status;  // checked on landing
    while (!holds()) {
      if (status == kKbdKeyNotFoundEnd) return kKbdNoMoreKeys;
      status = NextKey(key, image, recno);
      if (status != kKbdOk) return status;
    }
    return kKbdOk;
  }
  // Last: on the last entry the condition holds for, going forward over
  // the entries it holds for, or back to one.
  if (holds()) {
    KeyBuffer last{};
    std::memcpy(last.data(), image.data(), last.size());
    uint32_t last_recno = *recno;
    while (NextKey(key, image, recno) == kKbdOk && holds()) {
      std::memcpy(last.data(), image.data(), last.size());
      last_recno = *recno;
    }
    std::memcpy(image.data(), last.data(), last.size());
    *recno = last_recno;
    return kKbdOk;
  }
  if (sought->kind == kConditionEqual) return status;  // checked on landing
  while (true) {
    status = PreviousKey(key, image, recno);
    if (status != kKbdOk) return status;
    if (holds()) return kKbdOk;
  }
}

int32_t CXBaseCursor::KeyPosition(CXBaseTable* table,
                                  const IndexKeyDescriptor& key,
                                  int32_t direction, int32_t fetch_fields,
                                  uint32_t lock_options, int32_t* deleted) {
  KeyBuffer image{};
  uint32_t recno = 0;
  int32_t status = 0;
  if (direction == kCursorFirst || direction == kCursorLast) {
    start_direction_ = direction == kCursorFirst ? 0 : 1;
    visits_ = -1;
    started_ = true;
    status = KeyStart(key, direction == kCursorFirst, image, &recno);
  } else {
    if (!started_) return BrowseError(kErrorNotStarted, kSiteNotStarted, 0);
    std::memcpy(image.data(), key_image_, image.size());
    recno = recno_;
    // Back from beyond an end, the entry the browse left is the first one.
    const bool back = (direction == kCursorNext && beyond_ < 0) ||
                      (direction == kCursorPrevious && beyond_ > 0);
    if (back) {
      status = CurrentKey(key, image, &recno);
    } else if (direction == kCursorNext) {
      status = NextKey(key, image, &recno);
    } else if (direction == kCursorPrevious) {
      status = PreviousKey(key, image, &recno);
    } else {
      status = CurrentKey(key, image, &recno);
    }
  }
  return KeyLand(table, key, status, image, recno, direction, fetch_fields,
                 lock_options, deleted);
}

int32_t CXBaseCursor::KeyLand(CXBaseTable* table, const IndexKeyDescriptor& key,
                              int32_t status, std::span<const uint8_t> image,
                              uint32_t recno, int32_t direction,
                              int32_t fetch_fields, uint32_t lock_options,
                              int32_t* deleted) {
  if (status == kKbdEmptyFile || status == kKbdNoMoreKeys) {
    SetOutOfFile();
    if (status == kKbdNoMoreKeys && direction != kCursorCurrent)
      beyond_ = Forward(direction) ? 1 : -1;
    return 1;
  }
  if (!Landed(status))
    return BrowseError(kErrorPositioning, kSiteKeyPosition, status);
  beyond_ = 0;
  const Condition* range = query_ == nullptr ? nullptr : query_->range;
  const Condition* filter = query_ == nullptr ? nullptr : query_->filter;
  // Conditions on other items than the key need the record's values.
  const bool fill = fetch_fields != 0 || NamesOtherItem(range, item_name_) ||
                    NamesOtherItem(filter, item_name_);
  int32_t is_deleted = 0;
  bool past_end = false;
  if (ReadPositioned(table, recno, fill ? 1 : 0, lock_options, &is_deleted,
                     &past_end) != 1) {
    // An entry naming a record past the end of the data file.
    if (past_end) return BrowseError(kErrorPositioning, kSiteRead, 0);
    return 0;
  }
  if (deleted != nullptr) *deleted = is_deleted;
  std::memcpy(key_image_, image.data(),
              std::min(image.size(), sizeof key_image_));
  recno_ = recno;
  out_of_file_ = false;
  in_file_ = true;
  ConditionSubject subject;
  subject.key = &key;
  subject.key_item = item_name_;
  subject.key_image = std::span<const uint8_t>(key_image_, kKeyImageSize);
  subject.text_options =
      query_ == nullptr ? 0 : query_->search_flags & kSearchGeneric;
  subject.record = record_;
  if (range != nullptr && !EvaluateCondition(range, subject)) {
    SetOutOfFile();  // past the range: the browse ends
    return 1;
  }
  if (filter != nullptr && !EvaluateCondition(filter, subject))
    in_file_ = false;
  CountVisit(direction, is_deleted != 0);
  return 1;
}

// ---------------------------------------------------------------------------
// Record order

int32_t CXBaseCursor::RecordPosition(CXBaseTable* table, int32_t direction,
                                     int32_t fetch_fields,
                                     uint32_t lock_options, int32_t* deleted) {
  uint32_t n = 0;
  switch (direction) {
    case kCursorFirst:
      n = 1;
      break;
    case kCursorLast:
      if (table->RecordCount(&n) != 1) {
        SetOutOfFile();
        return 0;
      }
      break;
    case kCursorNext:
      // Back from before the first record, the record the browse left
      // comes first.
      n = beyond_ < 0 ? recno_ : recno_ + 1;
      break;
    case kCursorPrevious:
      if (beyond_ > 0 && recno_ > 0) {
        n = recno_;  // back from past the last record
        break;
      }
      if (recno_ <= 1) {
        SetOutOfFile();  // before the first record: the browse ends
        beyond_ = -1;
        return 1;
      }
      n = recno_ - 1;
      break;
    default:
      n = recno_;
      break;
  }
  if (direction == kCursorFirst || direction == kCursorLast) {
    start_direction_ = direction == kCursorFirst ? 0 : 1;
    visits_ = -1;
    started_ = true;
  }
  const bool forward = Forward(direction);
  const Condition* filter = query_ == nullptr ? nullptr : query_->filter;
  const bool current = direction == kCursorCurrent;
  // The record is read with its items when they are asked for or the
  // filter needs them; a lock the options ask for comes before the read
  // that fills the host record.
  const bool fill = fetch_fields != 0 || (filter != nullptr && !current);
  while (true) {
    if (n == 0) {
      SetOutOfFile();
      beyond_ = -1;
      return 1;
    }
    int32_t is_deleted = 0;
    int32_t out = 0;
    Record* target = lock_options == 0 ? record_ : nullptr;
    if (table->ReadRecord(target, n, fill ? 1 : 0, &is_deleted, &out) != 1) {
      SetOutOfFile();  // 1015 reported by the table
      return 0;
    }
    if (out != 0) {
      SetOutOfFile();  // past the last record: the end of the file
      if (!current) beyond_ = 1;
      return 1;
    }
    bool accepted = current || is_deleted == 0;
    if (accepted && !current && filter != nullptr) {
      if (target == nullptr &&
          table->ReadRecord(record_, n, 1, &is_deleted, &out) != 1) {
        SetOutOfFile();
        return 0;
      }
      ConditionSubject subject;
      subject.record = record_;
      accepted = EvaluateCondition(filter, subject);
    }
    if (!accepted) {
      n = forward ? n + 1 : n - 1;
      continue;
    }
    if (lock_options != 0) {
      bool past_end = false;
      if (ReadPositioned(table, n, fetch_fields, lock_options, &is_deleted,
                         &past_end) != 1)
        return past_end ? 1 : 0;
    }
    if (deleted != nullptr) *deleted = is_deleted;
    recno_ = n;
    beyond_ = 0;
    out_of_file_ = false;
    in_file_ = true;
    CountVisit(direction, is_deleted != 0);
    return 1;
  }
}

// ---------------------------------------------------------------------------
// Seeking and re-finding

int32_t CXBaseCursor::DoSeek(const HostValue* value, int32_t exact,
                             int32_t* found, int32_t* out_of_file,
                             uint32_t* recno, uint8_t* key_image,
                             int32_t* past_end, uint16_t search_mode) {
  if (found != nullptr) *found = 0;
  if (out_of_file != nullptr) *out_of_file = 1;
  if (past_end != nullptr) *past_end = 0;
  CXBaseTable* table = Table();
  if (table == nullptr || value == nullptr) return 0;
  const IndexKeyDescriptor* key = nullptr;
  if (!BrowseKey(table, &key)) {
    SetOutOfFile();
    return 0;
  }
  if (key == nullptr) {
    // A browse in record order has no key to seek on.
    return BrowseError(kErrorNotAKey, kSiteSeekNoKey, 0);
  }
  const uint32_t text_options =
      query_ == nullptr ? 0 : query_->search_flags & kSearchGeneric;
  KeyBuffer image{};
  uint32_t found_recno = recno == nullptr ? 0 : *recno;
  int32_t status = MakeKey(*key, *value, image, text_options);
  const KeyBuffer made = image;
  if (status == kKbdOk)
    status = SeekKeyEntry(*key, image, exact != 0, &found_recno, search_mode);
  if (status == kKbdEmptyFile || status == kKbdNoMoreKeys) {
    SetOutOfFile();
    return 1;
  }
  // A character key found is checked against the value itself, as an
  // equality of the caller's exactness.
  if (status == kKbdOk && key->key_type == 'C' &&
      !CompareWithMadeKey(kConditionEqual, exact == 0, *key, image, made))
    status = kKbdKeyNotFound;
  if (!Landed(status)) {
    std::u16string value_text;
    HostValue text;
    if (framework::ConvertHostValue(*value, kValueUnicodeText, &text,
                                    nullptr) &&
        text.data != nullptr) {
      value_text.assign(static_cast<const char16_t*>(text.data),
                        text.size / sizeof(char16_t));
    }
    framework::ReleaseHostValue(&text);
    return BrowseError(kErrorSeek, kSiteSeek, status, value_text);
  }
  if (out_of_file != nullptr) *out_of_file = 0;
  if (found != nullptr) *found = status == kKbdOk ? 1 : 0;
  if (past_end != nullptr) *past_end = status == kKbdKeyNotFoundEnd ? 1 : 0;
  if (recno != nullptr) *recno = found_recno;
  if (key_image != nullptr) std::memcpy(key_image, image.data(), image.size());
  std::memcpy(key_image_, image.data(), image.size());
  recno_ = found_recno;
  beyond_ = 0;
  out_of_file_ = false;
  in_file_ = status == kKbdOk;
  // A browse may go on from the entry found.
  if (!started_) {
    started_ = true;
    start_direction_ = 0;
    visits_ = -1;
  }
  return 1;
}

int32_t CXBaseCursor::DoRefind(uint32_t recno) {
  CXBaseTable* table = Table();
  if (table == nullptr) return 0;
  const IndexKeyDescriptor* key = nullptr;
  if (!BrowseKey(table, &key)) return 0;
  int32_t is_deleted = 0;
  int32_t out = 0;
  if (table->ReadRecord(nullptr, recno, 0, &is_deleted, &out) != 1) return 0;
  if (out != 0) {
    SetOutOfFile();
    return 0;
  }
  beyond_ = 0;
  if (key == nullptr) {
    recno_ = recno;
    out_of_file_ = false;
    in_file_ = true;
    return 1;
  }
  // The key of the record as the index holds it (the index's expression
  // on the record), then the (key, record) entry.
  KeyBuffer image{};
  int32_t status = RecordKey(*key, table->files().handle, -1, 0, image);
  if (status >= 0 && IsTextValueType(key->key_value_type) &&
      key->key_length >= 1 && key->key_length <= image.size()) {
    const size_t end = key->key_length - 1;
    const size_t used =
        strnlen(reinterpret_cast<const char*>(image.data()), end);
    std::fill(image.begin() + static_cast<ptrdiff_t>(used),
              image.begin() + static_cast<ptrdiff_t>(end), uint8_t{' '});
    image[end] = 0;
  }
  uint32_t found_recno = recno;
  if (status >= 0)
    status = SeekKeyEntry(*key, image, false, &found_recno, kSearchKeyRecno);
  if (status != kKbdOk || found_recno != recno)
    return BrowseError(kErrorPositioning, kSiteRefind, status);
  std::memcpy(key_image_, image.data(), image.size());
  recno_ = recno;
  out_of_file_ = false;
  in_file_ = true;
  started_ = true;
  return 1;
}

// ---------------------------------------------------------------------------
// Saved positions

int32_t CXBaseCursor::DoSavePosition(PositionRecord* position) {
  if (position == nullptr) return 0;
  position->framework_state = static_cast<uint64_t>(start_direction_);
  position->out_of_file = out_of_file_ ? 1 : 0;
  position->in_file = in_file_ ? 1 : 0;
  position->started = started_ ? 1 : 0;
  std::memcpy(position->key_image, key_image_, kKeyImageSize);
  position->recno = recno_;
  position->visits = visits_;
  return 1;
}

int32_t CXBaseCursor::DoRestorePosition(const PositionRecord* position) {
  if (position == nullptr) return 0;
  start_direction_ = static_cast<int32_t>(position->framework_state & 1);
  started_ = position->started != 0;
  std::memcpy(key_image_, position->key_image, kKeyImageSize);
  recno_ = position->recno;
  beyond_ = 0;
  if (recno_ > 0) {
    int32_t deleted = 0;
    if (DoPosition(kCursorCurrent, 1, 0, &deleted) != 1) return 0;
  }
  out_of_file_ = position->out_of_file != 0;
  in_file_ = position->in_file != 0;
  visits_ = position->visits;
  return 1;
}

}  // namespace qx::access
