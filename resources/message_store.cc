// Reader of the packed message block (layout in message_store.h).
//
// Lookups decode the index entry they land on and check its text range
// against the block size before touching a text byte, so a damaged block
// can only make a message absent.
#include "resources/message_store.h"

namespace qx::resources {

MessageStore::MessageStore(const uint8_t* block, size_t size)
    : block_(block), size_(size) {
  MessageBlockHeader header;
  if (!header.DecodeFrom(block, size)) return;
  if (header.version != kMessageVersion) return;
  // The whole index must fit; divide rather than multiply so a huge count
  // cannot overflow.
  if (header.entry_count > (size - kMessageHeaderSize) / kMessageEntrySize) {
    return;
  }
  count_ = header.entry_count;
  valid_ = true;
}

MessageStore MessageStore::Builtin() {
  return MessageStore(kPackedMessages, kPackedMessagesSize);
}

bool MessageStore::TextInBounds(const MessageIndexEntry& entry) const {
  const size_t byte_length = size_t{entry.length} * 2;
  return entry.text_offset <= size_ && byte_length <= size_ - entry.text_offset;
}

char16_t MessageStore::UnitAt(const MessageIndexEntry& entry, size_t i) const {
  return static_cast<char16_t>(
      engine::GetLe16(block_ + entry.text_offset + 2 * i));
}

bool MessageStore::EntryAt(uint32_t index, MessageIndexEntry* entry) const {
  if (index >= count_) return false;
  MessageIndexEntry e;
  e.DecodeFrom(block_ + kMessageHeaderSize + size_t{index} * kMessageEntrySize);
  if (!TextInBounds(e)) return false;
  if (entry != nullptr) *entry = e;
  return true;
}

bool MessageStore::Lookup(uint32_t id, MessageIndexEntry* entry) const {
  // Half-open range [low, high) of entries still possible. A block whose
  // index is not sorted only makes some ids unreachable.
  uint32_t low = 0;
  uint32_t high = count_;
  while (low < high) {
    const uint32_t mid = low + (high - low) / 2;
    MessageIndexEntry e;
    e.DecodeFrom(block_ + kMessageHeaderSize + size_t{mid} * kMessageEntrySize);
    if (e.id < id) {
      low = mid + 1;
    } else if (e.id > id) {
      high = mid;
    } else {
      if (!TextInBounds(e)) return false;
      *entry = e;
      return true;
    }
  }
  return false;
}

bool MessageStore::Find(uint32_t id, std::u16string* text,
                        int* category) const {
  MessageIndexEntry entry;
  if (!Lookup(id, &entry)) return false;
  if (text != nullptr) {
    text->resize(entry.length);
    for (size_t i = 0; i < entry.length; ++i) (*text)[i] = UnitAt(entry, i);
  }
  if (category != nullptr) *category = entry.category();
  return true;
}

int MessageStore::Category(uint32_t id) const {
  MessageIndexEntry entry;
  return Lookup(id, &entry) ? entry.category() : -1;
}

std::u16string MessageStore::Text(uint32_t id) const {
  std::u16string text;
  Find(id, &text, nullptr);
  return text;
}

int32_t MessageStore::Copy(uint32_t id, char16_t* buffer,
                           uint32_t capacity) const {
  if (buffer == nullptr || capacity == 0) return 0;
  MessageIndexEntry entry;
  if (!Lookup(id, &entry)) return 0;
  // Room for the NUL: a text of capacity - 1 units still fits whole.
  const bool fits = entry.length < capacity;
  const uint32_t count = fits ? entry.length : capacity - 1;
  for (uint32_t i = 0; i < count; ++i) buffer[i] = UnitAt(entry, i);
  buffer[count] = u'\0';
  return static_cast<int32_t>(count);
}

bool FindMessage(uint32_t id, std::u16string* text, int* category) {
  return MessageStore::Builtin().Find(id, text, category);
}

int MessageCategory(uint32_t id) {
  return MessageStore::Builtin().Category(id);
}

std::u16string MessageText(uint32_t id) {
  return MessageStore::Builtin().Text(id);
}

int32_t CopyMessage(uint32_t id, char16_t* buffer, uint32_t capacity) {
  return MessageStore::Builtin().Copy(id, buffer, capacity);
}

}  // namespace qx::resources
