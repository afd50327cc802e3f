// Parsing of the readable message table and packing into the block format
// (table syntax in message_table.h, block layout in message_store.h).
#include "resources/message_table.h"

#include <algorithm>
#include <limits>
#include <map>

#include "resources/message_store.h"

namespace qx::resources {

namespace {

// Length of the UTF-8 sequence led by byte b, or 0 when b cannot lead one.
int SequenceLength(uint8_t b) {
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return 2;  // 0xC0, 0xC1 only lead overlongs
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;  // above 0xF4 exceeds U+10FFFF
  return 0;
}

void AppendCodePoint(char32_t c, std::u16string* out) {
  if (c < 0x10000) {
    out->push_back(static_cast<char16_t>(c));
    return;
  }
  c -= 0x10000;
  out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
  out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
}

// Decodes one sequence at text[*pos], advancing *pos past it.
bool DecodeOne(std::string_view text, size_t* pos, char32_t* code_point) {
  const uint8_t lead = static_cast<uint8_t>(text[*pos]);
  const int length = SequenceLength(lead);
  if (length == 0 || text.size() - *pos < static_cast<size_t>(length)) {
    return false;
  }
  if (length == 1) {
    *code_point = lead;
    ++*pos;
    return true;
  }
  // Payload bits of the lead byte: 5, 4 or 3 for lengths 2, 3, 4.
  char32_t c = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    const uint8_t b = static_cast<uint8_t>(text[*pos + i]);
    if ((b & 0xC0) != 0x80) return false;
    c = (c << 6) | (b & 0x3F);
  }
  // Smallest code point each length may carry; below it is overlong.
  constexpr char32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMinimum[length] || c > 0x10FFFF) return false;
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  *code_point = c;
  *pos += length;
  return true;
}

bool ParseId(std::string_view field, uint32_t* id) {
  if (field.empty() || field.size() > 10) return false;
  uint64_t value = 0;
  for (char ch : field) {
    if (ch < '0' || ch > '9') return false;
    value = value * 10 + static_cast<uint64_t>(ch - '0');
  }
  if (value > std::numeric_limits<uint32_t>::max()) return false;
  *id = static_cast<uint32_t>(value);
  return true;
}

// Decodes the TEXT field: UTF-8 with the four escapes. On failure *reason
// says why.
bool ParseText(std::string_view field, std::u16string* text,
               std::string* reason) {
  text->clear();
  size_t pos = 0;
  while (pos < field.size()) {
    const uint8_t b = static_cast<uint8_t>(field[pos]);
    if (b == '\\') {
      if (pos + 1 >= field.size()) {
        *reason = "backslash at the end of the text";
        return false;
      }
      switch (field[pos + 1]) {
        case 'n':
          text->push_back(u'\n');
          break;
        case 'r':
          text->push_back(u'\r');
          break;
        case 't':
          text->push_back(u'\t');
          break;
        case '\\':
          text->push_back(u'\\');
          break;
        default:
          *reason = "unknown escape '\\" + std::string(1, field[pos + 1]) +
                    "' (only \\n \\r \\t \\\\)";
          return false;
      }
      pos += 2;
      continue;
    }
    if (b < 0x20 || b == 0x7F) {
      *reason = "raw control character " + std::to_string(b) +
                " in the text (write \\n, \\r or \\t)";
      return false;
    }
    char32_t c;
    const size_t start = pos;
    if (!DecodeOne(field, &pos, &c)) {
      *reason =
          "invalid UTF-8 at byte " + std::to_string(start + 1) + " of the text";
      return false;
    }
    AppendCodePoint(c, text);
  }
  if (text->empty()) {
    *reason = "empty text";
    return false;
  }
  if (text->size() > kMaxMessageLength) {
    *reason = "text longer than " + std::to_string(kMaxMessageLength) +
              " UTF-16 units";
    return false;
  }
  return true;
}

}  // namespace

bool Utf8ToUtf16(std::string_view utf8, std::u16string* out,
                 size_t* error_offset) {
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t c;
    const size_t start = pos;
    if (!DecodeOne(utf8, &pos, &c)) {
      if (error_offset != nullptr) *error_offset = start;
      return false;
    }
    AppendCodePoint(c, out);
  }
  return true;
}

bool ParseMessageTable(std::string_view content, std::string_view file_name,
                       std::vector<MessageRecord>* records,
                       std::string* error) {
  std::map<uint32_t, int> first_line;  // id -> line that defined it
  int line_no = 0;
  size_t pos = 0;
  while (pos < content.size()) {
    ++line_no;
    size_t end = content.find('\n', pos);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto fail = [&](const std::string& reason) {
      *error = std::string(file_name) + ":" + std::to_string(line_no) + ": " +
               reason;
      return false;
    };
    if (line_no == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") {
      return fail("byte order mark; save the table as UTF-8 without one");
    }
    if (line.empty() || line.front() == '#') continue;

    const size_t tab1 = line.find('\t');
    const size_t tab2 =
        tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string_view::npos) {
      return fail("expected ID<TAB>CATEGORY<TAB>TEXT");
    }
    MessageRecord record;
    record.line = line_no;
    const std::string_view id_field = line.substr(0, tab1);
    if (!ParseId(id_field, &record.id)) {
      return fail("bad id '" + std::string(id_field) +
                  "' (decimal, below 2^32)");
    }
    const std::string_view category_field =
        line.substr(tab1 + 1, tab2 - tab1 - 1);
    if (category_field.size() != 1 || category_field[0] < '0' ||
        category_field[0] > '0' + kMaxMessageCategory) {
      return fail("bad category '" + std::string(category_field) +
                  "' (0 to 3)");
    }
    record.category = category_field[0] - '0';
    std::string reason;
    if (!ParseText(line.substr(tab2 + 1), &record.text, &reason)) {
      return fail(reason);
    }
    const auto [it, inserted] = first_line.emplace(record.id, line_no);
    if (!inserted) {
      return fail("id " + std::to_string(record.id) +
                  " already defined at line " + std::to_string(it->second));
    }
    records->push_back(std::move(record));
  }
  return true;
}

bool PackMessageTable(const std::vector<MessageRecord>& records,
                      std::vector<uint8_t>* block, std::string* error) {
  std::vector<const MessageRecord*> sorted;
  sorted.reserve(records.size());
  for (const MessageRecord& r : records) sorted.push_back(&r);
  std::sort(sorted.begin(), sorted.end(),
            [](const MessageRecord* a, const MessageRecord* b) {
              return a->id < b->id;
            });

  // Texts start right after the index.
  uint64_t total =
      kMessageHeaderSize + uint64_t{kMessageEntrySize} * sorted.size();
  for (size_t i = 0; i < sorted.size(); ++i) {
    const MessageRecord& r = *sorted[i];
    if (i > 0 && sorted[i - 1]->id == r.id) {
      *error = "id " + std::to_string(r.id) + " appears twice";
      return false;
    }
    if (r.category < 0 || r.category > kMaxMessageCategory) {
      *error = "id " + std::to_string(r.id) + ": category outside 0..3";
      return false;
    }
    if (r.text.empty() || r.text.size() > kMaxMessageLength) {
      *error = "id " + std::to_string(r.id) + ": empty or too long text";
      return false;
    }
    total += 2 * uint64_t{r.text.size()};
  }
  if (total > std::numeric_limits<uint32_t>::max()) {
    *error = "packed block exceeds 4 GiB";
    return false;
  }

  block->assign(static_cast<size_t>(total), 0);
  uint8_t* out = block->data();
  MessageBlockHeader header;
  header.entry_count = static_cast<uint32_t>(sorted.size());
  header.EncodeTo(out);

  size_t text_offset = kMessageHeaderSize + kMessageEntrySize * sorted.size();
  for (size_t i = 0; i < sorted.size(); ++i) {
    const MessageRecord& r = *sorted[i];
    MessageIndexEntry entry;
    entry.id = r.id;
    entry.text_offset = static_cast<uint32_t>(text_offset);
    entry.length = static_cast<uint16_t>(r.text.size());
    entry.attribute = static_cast<uint8_t>(r.category);
    entry.EncodeTo(out + kMessageHeaderSize + kMessageEntrySize * i);
    for (char16_t unit : r.text) {
      engine::PutLe16(out + text_offset, static_cast<uint16_t>(unit));
      text_offset += 2;
    }
  }
  return true;
}

}  // namespace qx::resources
