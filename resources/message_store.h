// The component's message store: French message texts looked up by id.
//
// The texts live in resources/messages.txt and are packed at build time by
// qx_pack_messages into one byte block compiled into the library
// (kPackedMessages). This header holds the block's layout, its codecs, and
// the reader that serves texts and categories from it. The reader trusts
// nothing in the block: every offset and length is checked against the
// block size, and anything out of bounds reads as "no such message".
//
// Block layout. All integers little-endian.
//
//   Header (12 bytes, at offset 0):
//   OFFSET SIZE FIELD        notes
//   0      4    magic        "QXMS"
//   4      4    version      1; any other value makes the block unusable
//   8      4    entry_count  number of index entries that follow
//
//   Index (entry_count entries of 12 bytes, at offset 12, sorted by
//   ascending id with no id twice, so lookups are a binary search):
//   OFFSET SIZE FIELD        notes
//   0      4    id           message id
//   4      4    text_offset  byte offset of the text from the block start
//   8      2    length       text length in UTF-16 code units, no NUL
//   10     1    attribute    bits 0-1: category 0..3; bits 2-7 written 0
//   11     1    reserved     written 0
//
//   Texts (from offset 12 + 12 * entry_count to the end of the block):
//   each text as UTF-16LE code units, not NUL-terminated, in index order
//   with no padding. An entry owns bytes [text_offset, text_offset + 2 *
//   length). Empty texts are never written.
//
// Tolerated on read: nonzero attribute bits 2-7 and reserved bytes are
// ignored (the category is bits 0-1 whatever they hold); the texts need not
// be in index order. Refused on read: another magic or version, an index
// that does not fit the block, a text range outside the block.
//
// Categories, as command 4 of the component reports them: 0 general,
// 1 information (a text that is never an error by itself), 2 lock
// conflict, 3 duplicate key.
#ifndef QX_RESOURCES_MESSAGE_STORE_H_
#define QX_RESOURCES_MESSAGE_STORE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/core/coding.h"

namespace qx::resources {

// The packed block, generated from messages.txt at build time.
extern const unsigned char kPackedMessages[];
extern const unsigned kPackedMessagesSize;

// Changing the magic or the version makes every reader refuse old blocks;
// bump the version with any change of the layout above.
constexpr uint8_t kMessageMagic[4] = {'Q', 'X', 'M', 'S'};
constexpr uint32_t kMessageVersion = 1;

constexpr size_t kMessageMagicOffset = 0;
constexpr size_t kMessageMagicSize = 4;
constexpr size_t kMessageVersionOffset = 4;
constexpr size_t kMessageVersionSize = 4;
constexpr size_t kMessageCountOffset = 8;
constexpr size_t kMessageCountSize = 4;
// magic + version + entry_count
constexpr size_t kMessageHeaderSize =
    kMessageMagicSize + kMessageVersionSize + kMessageCountSize;

constexpr size_t kMessageEntryIdOffset = 0;
constexpr size_t kMessageEntryIdSize = 4;
constexpr size_t kMessageEntryTextOffsetOffset = 4;
constexpr size_t kMessageEntryTextOffsetSize = 4;
constexpr size_t kMessageEntryLengthOffset = 8;
constexpr size_t kMessageEntryLengthSize = 2;
constexpr size_t kMessageEntryAttributeOffset = 10;
constexpr size_t kMessageEntryAttributeSize = 1;
constexpr size_t kMessageEntryReservedOffset = 11;
constexpr size_t kMessageEntryReservedSize = 1;
// id + text_offset + length + attribute + reserved
constexpr size_t kMessageEntrySize =
    kMessageEntryIdSize + kMessageEntryTextOffsetSize +
    kMessageEntryLengthSize + kMessageEntryAttributeSize +
    kMessageEntryReservedSize;

constexpr uint8_t kMessageCategoryMask = 0x03;
constexpr int kMaxMessageCategory = 3;
// The length field is 16 bits wide.
constexpr size_t kMaxMessageLength = 0xFFFF;

// The block header.
struct MessageBlockHeader {
  uint32_t version = kMessageVersion;
  uint32_t entry_count = 0;

  // REQUIRES: out has kMessageHeaderSize bytes.
  void EncodeTo(uint8_t* out) const {
    for (size_t i = 0; i < kMessageMagicSize; ++i) {
      out[kMessageMagicOffset + i] = kMessageMagic[i];
    }
    engine::PutLe32(out + kMessageVersionOffset, version);
    engine::PutLe32(out + kMessageCountOffset, entry_count);
  }
  // Reads [p, p + size). False when the block is too short or the magic
  // differs; the version is reported as read, for the caller to judge.
  bool DecodeFrom(const uint8_t* p, size_t size) {
    if (p == nullptr || size < kMessageHeaderSize) return false;
    for (size_t i = 0; i < kMessageMagicSize; ++i) {
      if (p[kMessageMagicOffset + i] != kMessageMagic[i]) return false;
    }
    version = engine::GetLe32(p + kMessageVersionOffset);
    entry_count = engine::GetLe32(p + kMessageCountOffset);
    return true;
  }
};

// One index entry.
struct MessageIndexEntry {
  uint32_t id = 0;
  uint32_t text_offset = 0;  // bytes from the block start
  uint16_t length = 0;       // UTF-16 code units
  uint8_t attribute = 0;     // category in bits 0-1

  int category() const { return attribute & kMessageCategoryMask; }

  // REQUIRES: out has kMessageEntrySize bytes.
  void EncodeTo(uint8_t* out) const {
    engine::PutLe32(out + kMessageEntryIdOffset, id);
    engine::PutLe32(out + kMessageEntryTextOffsetOffset, text_offset);
    engine::PutLe16(out + kMessageEntryLengthOffset, length);
    out[kMessageEntryAttributeOffset] = attribute;
    out[kMessageEntryReservedOffset] = 0;
  }
  // REQUIRES: p has kMessageEntrySize bytes.
  void DecodeFrom(const uint8_t* p) {
    id = engine::GetLe32(p + kMessageEntryIdOffset);
    text_offset = engine::GetLe32(p + kMessageEntryTextOffsetOffset);
    length = engine::GetLe16(p + kMessageEntryLengthOffset);
    attribute = p[kMessageEntryAttributeOffset];
  }
};

// A read-only view of a packed block. Cheap to copy; holds no memory of its
// own. A block that fails the header checks behaves as an empty store.
class MessageStore {
 public:
  // REQUIRES: block stays valid for the life of the store.
  MessageStore(const uint8_t* block, size_t size);

  // The store compiled into the library.
  static MessageStore Builtin();

  // False when the header or the index does not fit the rules above.
  bool valid() const { return valid_; }
  // Number of index entries; 0 for an unusable block.
  uint32_t size() const { return count_; }

  // The index-th entry in id order (0-based). False past the end, or when
  // the entry's text range lies outside the block.
  bool EntryAt(uint32_t index, MessageIndexEntry* entry) const;

  // Text and category of message id. Absent (false) when the id is not in
  // the index or its entry is out of bounds. Either output may be null.
  bool Find(uint32_t id, std::u16string* text, int* category) const;
  // 0..3, or -1 when absent.
  int Category(uint32_t id) const;
  // Empty when absent.
  std::u16string Text(uint32_t id) const;

  // Copies the text of id into buffer[0, capacity), always NUL-terminated
  // when capacity > 0. Returns the number of UTF-16 units written before
  // the NUL when the whole text fits; capacity - 1 when it had to be cut
  // (the first capacity - 1 units are kept, so a surrogate pair may be
  // split); 0 when the id is absent, buffer is null or capacity is 0.
  int32_t Copy(uint32_t id, char16_t* buffer, uint32_t capacity) const;

 private:
  // Finds id by binary search; the entry is bounds-checked.
  bool Lookup(uint32_t id, MessageIndexEntry* entry) const;
  // Whether the entry's text lies inside the block.
  bool TextInBounds(const MessageIndexEntry& entry) const;
  char16_t UnitAt(const MessageIndexEntry& entry, size_t i) const;

  const uint8_t* block_;
  size_t size_;
  uint32_t count_ = 0;  // 0 unless the header and index fit
  bool valid_ = false;
};

// The same lookups on the built-in store.
bool FindMessage(uint32_t id, std::u16string* text, int* category);
int MessageCategory(uint32_t id);
std::u16string MessageText(uint32_t id);
int32_t CopyMessage(uint32_t id, char16_t* buffer, uint32_t capacity);

}  // namespace qx::resources

#endif  // QX_RESOURCES_MESSAGE_STORE_H_
