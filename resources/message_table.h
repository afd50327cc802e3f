// The readable message table (resources/messages.txt) and its packing.
//
// The table is UTF-8 text, one message per line:
//
//   ID<TAB>CATEGORY<TAB>TEXT
//
// ID is a decimal number below 2^32, unique in the table; CATEGORY one
// digit 0 to 3; TEXT the message, at least one character, at most 65535
// UTF-16 units once converted. In TEXT the escapes \n \r \t and \\ stand
// for LF, CR, TAB and a backslash; any other backslash sequence and any raw
// control character is an error, so every character of a message is
// visible in the file. Everything after the second TAB belongs to the text,
// trailing blanks included. Lines starting with '#' are comments; empty
// lines are skipped. A CR before the LF is tolerated (a checkout with CRLF
// line ends) and is not part of the text.
//
// The packer tool and the tests share this code; the library itself only
// reads packed blocks (message_store.h).
#ifndef QX_RESOURCES_MESSAGE_TABLE_H_
#define QX_RESOURCES_MESSAGE_TABLE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qx::resources {

struct MessageRecord {
  uint32_t id = 0;
  int category = 0;     // 0..3
  std::u16string text;  // UTF-16, escapes resolved
  int line = 0;         // 1-based line of the table it came from
};

// Parses a whole table. On the first error returns false and sets *error to
// "<file_name>:<line>: <reason>"; *records then holds the lines read so far.
bool ParseMessageTable(std::string_view content, std::string_view file_name,
                       std::vector<MessageRecord>* records, std::string* error);

// Packs records (in any order) into a block laid out as message_store.h
// describes. Returns false with *error set when an id appears twice, a
// category is outside 0..3, a text is empty or too long, or the block would
// exceed 4 GiB; ParseMessageTable's output never fails these checks.
bool PackMessageTable(const std::vector<MessageRecord>& records,
                      std::vector<uint8_t>* block, std::string* error);

// Appends the UTF-16 form of the UTF-8 text to *out. Refuses (returning
// false, with *error_offset the byte offset of the bad sequence) truncated
// and overlong sequences, stray continuation bytes, encoded surrogates and
// code points above U+10FFFF.
bool Utf8ToUtf16(std::string_view utf8, std::u16string* out,
                 size_t* error_offset);

}  // namespace qx::resources

#endif  // QX_RESOURCES_MESSAGE_TABLE_H_
