// The record printer of qxdb (see record_printer.h).
#include "host/qxdb/record_printer.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "engine/core/coding.h"
#include "host/qxdb/base64.h"
#include "platform/platform.h"

namespace qx::qxdb {
namespace {

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

}  // namespace

RecordPrinter::RecordPrinter(Invocation& inv, Table& table, int code_page)
    : inv_(inv), table_(table), code_page_(code_page) {
  for (const KbdFieldDef& f : table.fields()) names_.push_back(Text(f.name));
  uint16_t largest = 0;
  for (const KbdFieldDef& f : table.fields())
    largest = std::max(largest, f.length);
  buffer_.resize(largest + 32u);
}

bool RecordPrinter::Print(uint32_t recno, bool deleted) {
  JsonWriter w;
  w.BeginObject();
  w.Key("_recno");
  w.Int(recno);
  w.Key("_deleted");
  w.Bool(deleted);
  bool all_read = true;
  const auto& fields = table_.fields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    w.Key(names_[i]);
    std::string failed_file = table_.path();
    int16_t status =
        Value(static_cast<int16_t>(i), fields[i], &w, &failed_file);
    if (status >= 0) continue;
    all_read = false;
    w.BeginObject();
    w.Key("error");
    w.Int(status);
    w.EndObject();
    std::string text = StatusText(status);
    inv_.err() << "qxdb: " << failed_file << ": record " << recno << ", field "
               << names_[i] << ": status " << status
               << (text.empty() ? "" : ": ") << text << "\n";
  }
  w.EndObject();
  inv_.out() << w.text() << '\n';
  return all_read;
}

std::string RecordPrinter::Text(std::string_view bytes) const {
  return platform::Utf16ToUtf8(platform::DecodeCodePage(bytes, code_page_));
}

int16_t RecordPrinter::Raw(int16_t field, std::string* raw) {
  uint16_t length = 0;
  kbdseterror(0);
  int16_t s = kbddgetraw(table_.handle(), field, buffer_.data(), &length);
  if (s < 0) return s;
  raw->assign(buffer_.data(), length);
  return kKbdOk;
}

int16_t RecordPrinter::Memo(int16_t field, const KbdFieldDef& f, JsonWriter* w,
                            std::string* failed_file) {
  uint32_t block = 0;
  kbdseterror(0);
  if (int16_t s = kbddmemoblock(table_.handle(), field, &block); s < 0)
    return s;
  if (block == 0) {
    w->String("");
    return kKbdOk;
  }
  if (!table_.memo_open()) {
    w->Null();
    return kKbdOk;
  }
  std::string bytes;
  bool binary = false;
  if (int16_t s = table_.ReadMemo(field, &bytes, &binary); s < 0) {
    *failed_file = table_.memo_path();
    return s;
  }
  if (f.type == 'M' && !binary) {
    w->String(Text(bytes));
    return kKbdOk;
  }
  return Base64Object(bytes, w);
}

int16_t RecordPrinter::Base64Object(std::string_view bytes, JsonWriter* w) {
  w->BeginObject();
  w->Key("base64");
  w->String(Base64Encode(bytes));
  w->EndObject();
  return kKbdOk;
}

// The null-flag column: its bytes as they are stored.
int16_t RecordPrinter::NullFlags(int16_t field, JsonWriter* w) {
  std::string raw;
  if (int16_t s = Raw(field, &raw); s < 0) return s;
  return Base64Object(raw, w);
}

// A Q value: a 16-bit little-endian length, then the bytes.
int16_t RecordPrinter::Varbinary(int16_t field, JsonWriter* w) {
  const int16_t handle = table_.handle();
  kbdseterror(0);
  int16_t blank = kbddisblank(handle, field);
  if (blank < 0) return blank;
  if (blank != 0) {
    w->Null();
    return kKbdOk;
  }
  kbdseterror(0);
  if (int16_t s = kbddget(handle, field, buffer_.data()); s < 0) return s;
  const uint16_t n =
      engine::GetLe16(reinterpret_cast<const uint8_t*>(buffer_.data()));
  return Base64Object(std::string_view(buffer_.data() + 2, n), w);
}

int16_t RecordPrinter::Character(int16_t field, JsonWriter* w) {
  if (int16_t s = kbddget(table_.handle(), field, buffer_.data()); s < 0)
    return s;
  w->String(Text(TrimRight(buffer_.data())));
  return kKbdOk;
}

// D as YYYYMMDD, T as YYYYMMDDHHMMSS.
int16_t RecordPrinter::DateOrTime(int16_t field, char type, JsonWriter* w) {
  int16_t s = kbddget(table_.handle(), field, buffer_.data());
  if (s == kKbdErrDate || s == kKbdErrTime) {
    // A stored date that is no date: shown as null, said on stderr.
    inv_.err() << "qxdb: " << table_.path() << ": invalid value in field "
               << names_[static_cast<std::size_t>(field)] << "\n";
    w->Null();
    return kKbdOk;
  }
  if (s < 0) return s;
  std::string text(buffer_.data());
  w->String(type == 'T' ? text.substr(0, 14) : text);
  return kKbdOk;
}

// 1 true, 0 false, anything else (an unknown logical) null.
int16_t RecordPrinter::Logical(int16_t field, JsonWriter* w) {
  if (int16_t s = kbddget(table_.handle(), field, buffer_.data()); s < 0)
    return s;
  char c = buffer_[0];
  if (c == 1)
    w->Bool(true);
  else if (c == 0)
    w->Bool(false);
  else
    w->Null();
  return kKbdOk;
}

int16_t RecordPrinter::Integer(int16_t field, JsonWriter* w) {
  int32_t v = 0;
  if (int16_t s = kbddget(table_.handle(), field, &v); s < 0) return s;
  w->Int(v);
  return kKbdOk;
}

// An integer when the stored text has no decimal point (and fits), a
// double otherwise.
int16_t RecordPrinter::Numeric(int16_t field, JsonWriter* w) {
  double v = 0;
  if (int16_t s = kbddget(table_.handle(), field, &v); s < 0) return s;
  std::string raw;
  if (int16_t s = Raw(field, &raw); s < 0) return s;
  if (raw.find('.') == std::string::npos && std::fabs(v) < 9.0e18)
    w->Int(static_cast<int64_t>(v));
  else
    w->Double(v);
  return kKbdOk;
}

int16_t RecordPrinter::Double(int16_t field, JsonWriter* w) {
  double v = 0;
  if (int16_t s = kbddget(table_.handle(), field, &v); s < 0) return s;
  w->Double(v);
  return kKbdOk;
}

// Any other type: its stored bytes as text, without trailing blanks.
int16_t RecordPrinter::StoredText(int16_t field, JsonWriter* w) {
  std::string raw;
  if (int16_t s = Raw(field, &raw); s < 0) return s;
  w->String(Text(TrimRight(raw)));
  return kKbdOk;
}

bool RecordPrinter::IsMemo(char type) const {
  return type == 'M' || type == 'G' || type == 'P' || type == 'W' ||
         (type == 'B' && table_.info().dialect != kKbdVisualFoxpro);
}

int16_t RecordPrinter::Value(int16_t field, const KbdFieldDef& f, JsonWriter* w,
                             std::string* failed_file) {
  const char type = static_cast<char>(f.type);
  if (type == '0') return NullFlags(field, w);
  if (type == 'Q') return Varbinary(field, w);
  kbdseterror(0);
  int16_t blank = kbddisblank(table_.handle(), field);
  if (blank < 0) return blank;
  const bool text_type = type == 'C' || type == 'V';
  const bool memo_type = IsMemo(type);
  // 2: the null bit is set. 1: blank, which is null except for text
  // (an empty string) and memo numbers (no memo: "").
  if (blank == 2 || (blank == 1 && !text_type && !memo_type)) {
    w->Null();
    return kKbdOk;
  }
  if (memo_type) {
    if (blank == 1) {
      w->String("");
      return kKbdOk;
    }
    return Memo(field, f, w, failed_file);
  }
  kbdseterror(0);
  switch (type) {
    case 'C':
    case 'V':
      return Character(field, w);
    case 'D':
    case 'T':
      return DateOrTime(field, type, w);
    case 'L':
      return Logical(field, w);
    case 'I':
      return Integer(field, w);
    case 'N':
      return Numeric(field, w);
    case 'F':
    case 'B':
    case 'Y':
      return Double(field, w);
    default:
      return StoredText(field, w);
  }
}

int PrintRecord(Invocation& inv, Table& table, RecordPrinter& printer,
                uint32_t recno, bool with_deleted) {
  kbdseterror(0);
  int16_t status = kbddread(table.handle(), recno);
  if (status < 0) {
    std::string text = StatusText(status);
    inv.err() << "qxdb: " << table.path() << ": record " << recno << ": status "
              << status << (text.empty() ? "" : ": ") << text << "\n";
    return kExitFailure;
  }
  bool deleted = status == kKbdDeletedRecord;
  if (deleted && !with_deleted) return kExitOk;
  return printer.Print(recno, deleted) ? kExitOk : kExitFailure;
}

}  // namespace qx::qxdb
