// The reference host's session: writing records and locking (see
// session.h). Values reach the record buffer as the host's runtime puts
// them there: converted by the VM's conversion service to the type the
// item is bound to.
#include <algorithm>
#include <cstring>

#include "host/hostlib/session.h"

namespace qx::host {
namespace {

// Write modes of the cursor's Write.
constexpr uint16_t kModeAdd = 0;
constexpr uint16_t kModeRewrite = 256;

bool SameLetters(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// HostRecord

void HostRecord::Clear() {
  ReleaseMemos();
  for (RecordItem& item : items_) {
    item.length = 0;
    item.state = 0;
  }
  record_.recno = 0;
  record_.state = 0;
}

void HostRecord::SetMemo(size_t i, const HostValue& value) {
  auto* held = static_cast<HostValue*>(items_[i].buffer);
  if ((held->state & kValueStateOwned) != 0 && end_conversion_ != nullptr)
    end_conversion_(held);
  *held = value;
  held->state |= kValueStateModified;
  items_[i].length = value.size;
}

size_t HostRecord::Find(std::u16string_view name) const {
  for (size_t i = 0; i < field_items_; ++i) {
    if (SameLetters(names_[i], name)) return i;
  }
  return field_items_;
}

// ---------------------------------------------------------------------------
// Session

bool Session::Convert(const HostValue& value, uint8_t type,
                      HostValue* target) const {
  *target = HostValue();
  if (convert_ == nullptr) return false;
  if (HostFailed(convert_(&value, target, type, 0))) {
    if (end_conversion_ != nullptr) end_conversion_(target);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// SessionTable

bool SessionTable::SetValue(size_t i, const HostValue& value) {
  HostRecord& record = *record_;
  if (i >= record.size()) return false;
  RecordItem* item = record.mutable_item(i);
  if ((item->flags & kRecordItemSkip) != 0) return false;
  HostValue converted;
  if (!session_->Convert(value, item->value_type, &converted)) return false;
  if (record.IsMemo(i)) {
    record.SetMemo(i, converted);  // the record releases it
    return true;
  }
  item->state = 0;
  if (IsVariableValueType(item->value_type)) {
    // Texts keep their NUL inside the capacity.
    const bool text = IsTextValueType(item->value_type);
    const uint32_t room =
        text && item->capacity > 0 ? item->capacity - 1 : item->capacity;
    const uint32_t n = std::min(converted.size, room);
    if (n > 0) std::memcpy(item->buffer, converted.data, n);
    if (text) static_cast<char*>(item->buffer)[n] = '\0';
    item->length = n;
  } else {
    const uint32_t n = std::min<uint32_t>(
        item->capacity, static_cast<uint32_t>(sizeof converted.fixed.bytes));
    std::memcpy(item->buffer, converted.fixed.bytes, n);
    item->length = n;
  }
  if (session_->end_conversion() != nullptr)
    session_->end_conversion()(&converted);
  return true;
}

bool SessionTable::SetText(size_t i, std::u16string_view text) {
  HostValue value;
  value.type = kValueUnicodeText;
  value.size = static_cast<uint32_t>(text.size() * sizeof(char16_t));
  value.data = text.data();
  return SetValue(i, value);
}

bool SessionTable::DeclareIdentifier(std::u16string_view name) {
  HostRecord& record = *record_;
  const size_t i = record.Find(name);
  if (i >= record.size()) return false;
  RecordItem* item = record.mutable_item(i);
  item->flags |= kRecordItemAutoId;
  return true;
}

bool SessionTable::Add(uint32_t* recno, uint32_t options) {
  if (cursor_ == nullptr) return false;
  uint32_t n = 0;
  if (cursor_->Write(&n, options, kModeAdd) != 1) return false;
  if (recno != nullptr) *recno = n;
  return true;
}

bool SessionTable::Modify(uint32_t recno, uint32_t options) {
  if (cursor_ == nullptr) return false;
  uint32_t n = recno;
  return cursor_->Write(&n, options, kModeRewrite) == 1;
}

bool SessionTable::Delete(uint32_t recno) {
  return cursor_ != nullptr && cursor_->Delete(recno) == 1;
}

ITable* SessionTable::TableObject() {
  return handle_ == nullptr ? nullptr : handle_->GetTableObject(name_.c_str());
}

bool SessionTable::LockTable(uint32_t kind) {
  if (handle_ == nullptr) return false;
  session_->driver()->ResetErrors();
  return handle_->LockTable(name_.c_str(), kind) == 1;
}

bool SessionTable::UnlockTable() {
  ITable* table = TableObject();
  if (table == nullptr) return false;
  session_->driver()->ResetErrors();
  return table->UnlockFile() == 1;
}

uint32_t SessionTable::TableLockKind() {
  ITable* table = TableObject();
  return table == nullptr ? 0 : table->CurrentLockKind();
}

bool SessionTable::LockRecord(uint32_t recno, uint32_t kind,
                              uint32_t* previous_kind) {
  uint32_t previous = 0;
  const bool ok =
      cursor_ != nullptr && cursor_->LockRecord(kind, recno, &previous) == 1;
  if (previous_kind != nullptr) *previous_kind = previous;
  return ok;
}

}  // namespace qx::host
