// Browsing and seeking through the component (see session.h): one cursor
// per browse over a record buffer of its own, and condition trees.
#include <string>

#include "host/hostlib/session.h"

namespace qx::host {

// The query's search flag of generic keys.
constexpr uint32_t kSearchFlagGeneric = 32;
// Count option: the table's record count.
constexpr uint32_t kCountFromTable = 16;

bool Session::ConvertValue(const HostValue& source, uint8_t type,
                           HostValue* target) const {
  *target = HostValue();
  return convert_ != nullptr && !HostFailed(convert_(&source, target, type, 0));
}

std::unique_ptr<SessionBrowse> SessionTable::Browse(
    const BrowseRequest& request) {
  if (!open_ || session_->driver() == nullptr) return nullptr;
  std::unique_ptr<SessionBrowse> browse(new SessionBrowse());
  browse->table_ = name_;
  browse->key_ = request.key;
  browse->lock_kind_ = request.lock_kind;
  browse->record_ = std::make_unique<HostRecord>(session_->end_conversion());
  browse->record_->Bind(info_);
  Query& query = browse->query_;
  query.id = session_->NextQueryId();
  query.table_name = browse->table_.c_str();
  query.item_name = browse->key_.empty() ? nullptr : browse->key_.c_str();
  query.range = request.range;
  query.filter = request.filter;
  query.search_flags = request.generic ? kSearchFlagGeneric : 0;
  query.lock_kind = request.lock_kind;
  query.record = browse->record_->get();
  browse->cursor_ = session_->driver()->CreateQuery(&browse->query_);
  if (browse->cursor_ == nullptr) return nullptr;
  browse->cursor_->AddRef();
  return browse;
}

SessionBrowse::~SessionBrowse() {
  if (cursor_ != nullptr) cursor_->Release();
}

bool SessionBrowse::Move(int32_t direction) {
  out_of_file_ = true;
  int32_t deleted = 0;
  if (cursor_->Position(direction, 1, lock_kind_, &deleted) != 1) return false;
  // A record the filter rejects is passed over, in the move's direction.
  const int32_t step = direction == kCursorFirst || direction == kCursorNext
                           ? kCursorNext
                           : kCursorPrevious;
  while (direction != kCursorCurrent && cursor_->IsOutOfFile() == 0 &&
         cursor_->IsInFile() == 0) {
    if (cursor_->Position(step, 1, lock_kind_, &deleted) != 1) return false;
  }
  out_of_file_ = cursor_->IsOutOfFile() != 0;
  return true;
}

bool SessionBrowse::Seek(const HostValue& value, bool exact, SeekResult* result,
                         uint16_t search_mode) {
  SeekResult seek;
  int32_t found = 0;
  int32_t out = 1;
  int32_t past_end = 0;
  uint32_t recno = result == nullptr ? 0 : result->recno;
  uint8_t image[kKeyImageSize] = {};
  out_of_file_ = true;
  if (cursor_->Seek(&value, exact ? 1 : 0, &found, &out, &recno, image,
                    &past_end, search_mode) != 1)
    return false;
  seek.found = found != 0;
  seek.out_of_file = out != 0;
  seek.past_end = past_end != 0;
  seek.recno = recno;
  if (!seek.out_of_file) {
    int32_t deleted = 0;
    if (cursor_->ReadRecord(recno, 1, lock_kind_, &deleted) != 1) return false;
    out_of_file_ = cursor_->IsOutOfFile() != 0;
  }
  if (result != nullptr) *result = seek;
  return true;
}

bool SessionBrowse::Refind(uint32_t recno) {
  out_of_file_ = true;
  if (cursor_->Refind(recno) != 1) return false;
  int32_t deleted = 0;
  if (cursor_->ReadRecord(recno, 1, lock_kind_, &deleted) != 1) return false;
  out_of_file_ = cursor_->IsOutOfFile() != 0;
  return true;
}

bool SessionBrowse::SavePosition(PositionRecord* position) {
  return cursor_->SavePosition(position) == 1;
}

bool SessionBrowse::RestorePosition(const PositionRecord& position) {
  if (cursor_->RestorePosition(&position) != 1) return false;
  out_of_file_ = cursor_->IsOutOfFile() != 0;
  return true;
}

bool SessionBrowse::Count(uint32_t* count, bool from_table) {
  return cursor_->Count(count, from_table ? kCountFromTable : 0) == 1;
}

bool SessionBrowse::in_file() const { return cursor_->IsInFile() != 0; }
uint32_t SessionBrowse::recno() const { return cursor_->GetRecno(); }
int32_t SessionBrowse::visits() const { return cursor_->GetVisitCount(); }

bool SessionBrowse::ReadMemo(size_t item) {
  return cursor_->ReadMemoItem(static_cast<uint32_t>(item), 0) == 1;
}

// ---------------------------------------------------------------------------
// BrowseConditions

BrowseConditions::~BrowseConditions() = default;

const Condition* BrowseConditions::Compare(uint32_t kind,
                                           std::u16string_view item,
                                           const HostValue& value,
                                           bool generic) {
  HostValue kept = value;
  kept.state &= static_cast<uint16_t>(~kValueStateOwned);
  if (value.data != nullptr) {
    // The bytes, and a NUL (two for UTF-16 texts) beyond them.
    std::string& copy =
        bytes_.emplace_back(static_cast<const char*>(value.data), value.size);
    copy.push_back('\0');
    copy.push_back('\0');
    kept.data = copy.data();
  }
  return nodes_.Compare(kind, std::u16string(item), kept, generic);
}

const Condition* BrowseConditions::Compare(uint32_t kind,
                                           std::u16string_view item,
                                           std::u16string_view text,
                                           uint8_t value_type, bool generic) {
  HostValue value;
  value.type = kValueUnicodeText;
  value.size = static_cast<uint32_t>(text.size() * sizeof(char16_t));
  value.data = text.data();
  if (value_type == kValueNone || value_type == kValueUnicodeText)
    return Compare(kind, item, value, generic);
  HostValue converted;
  if (session_ == nullptr ||
      !session_->ConvertValue(value, value_type, &converted))
    return nullptr;
  const Condition* node = Compare(kind, item, converted, generic);
  if (session_->end_conversion() != nullptr)
    session_->end_conversion()(&converted);
  return node;
}

}  // namespace qx::host
