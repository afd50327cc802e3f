// The record printer of qxdb (see record_printer.h).
#include "host/qxdb/record_printer.h"

#include <algorithm>
#include <cmath>
#include <iostream>

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
  for (const KbdFieldDef& f : table.fields())
    names_.push_back(Text(f.name));
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
    inv_.err() << "qxdb: " << failed_file << ": record " << recno
               << ", field " << names_[i] << ": status " << status
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
  } else {
    w->BeginObject();
    w->Key("base64");
    w->String(Base64Encode(bytes));
    w->EndObject();
  }
  return kKbdOk;
}

int16_t RecordPrinter::Value(int16_t field, const KbdFieldDef& f,
                             JsonWriter* w, std::string* failed_file) {
  int16_t handle = table_.handle();
  char type = static_cast<char>(f.type);
  if (type == '0' || type == 'Q') {  // raw bytes: null flags, varbinary
    std::string raw;
    if (type == 'Q') {
      kbdseterror(0);
      int16_t blank = kbddisblank(handle, field);
      if (blank < 0) return blank;
      if (blank != 0) {
        w->Null();
        return kKbdOk;
      }
      kbdseterror(0);
      if (int16_t s = kbddget(handle, field, buffer_.data()); s < 0) return s;
      auto n = static_cast<uint8_t>(buffer_[0]) |
               (static_cast<uint8_t>(buffer_[1]) << 8);
      raw.assign(buffer_.data() + 2, n);
    } else if (int16_t s = Raw(field, &raw); s < 0) {
      return s;
    }
    w->BeginObject();
    w->Key("base64");
    w->String(Base64Encode(raw));
    w->EndObject();
    return kKbdOk;
  }
  kbdseterror(0);
  int16_t blank = kbddisblank(handle, field);
  if (blank < 0) return blank;
  bool text_type = type == 'C' || type == 'V';
  bool memo_type = type == 'M' || type == 'G' || type == 'P' || type == 'W' ||
                   (type == 'B' && table_.info().dialect != kKbdVisualFoxpro);
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
    case 'V': {
      if (int16_t s = kbddget(handle, field, buffer_.data()); s < 0) return s;
      w->String(Text(TrimRight(buffer_.data())));
      return kKbdOk;
    }
    case 'D':
    case 'T': {
      int16_t s = kbddget(handle, field, buffer_.data());
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
    case 'L': {
      if (int16_t s = kbddget(handle, field, buffer_.data()); s < 0) return s;
      char c = buffer_[0];
      if (c == 1) w->Bool(true);
      else if (c == 0) w->Bool(false);
      else w->Null();
      return kKbdOk;
    }
    case 'I': {
      int32_t v = 0;
      if (int16_t s = kbddget(handle, field, &v); s < 0) return s;
      w->Int(v);
      return kKbdOk;
    }
    case 'N': {
      double v = 0;
      if (int16_t s = kbddget(handle, field, &v); s < 0) return s;
      std::string raw;
      if (int16_t s = Raw(field, &raw); s < 0) return s;
      if (raw.find('.') == std::string::npos && std::fabs(v) < 9.0e18)
        w->Int(static_cast<int64_t>(v));
      else
        w->Double(v);
      return kKbdOk;
    }
    case 'F':
    case 'B':
    case 'Y': {
      double v = 0;
      if (int16_t s = kbddget(handle, field, &v); s < 0) return s;
      w->Double(v);
      return kKbdOk;
    }
    default: {
      std::string raw;
      if (int16_t s = Raw(field, &raw); s < 0) return s;
      w->String(Text(TrimRight(raw)));
      return kKbdOk;
    }
  }
}

int PrintRecord(Invocation& inv, Table& table, RecordPrinter& printer,
                uint32_t recno, bool with_deleted) {
  kbdseterror(0);
  int16_t status = kbddread(table.handle(), recno);
  if (status < 0) {
    std::string text = StatusText(status);
    inv.err() << "qxdb: " << table.path() << ": record " << recno
              << ": status " << status << (text.empty() ? "" : ": ") << text
              << "\n";
    return kExitFailure;
  }
  bool deleted = status == kKbdDeletedRecord;
  if (deleted && !with_deleted) return kExitOk;
  return printer.Print(recno, deleted) ? kExitOk : kExitFailure;
}

}  // namespace qx::qxdb
