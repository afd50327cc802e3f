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
  const auto& fields = table_.fields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    w.Key(names_[i]);
    if (!Value(static_cast<int16_t>(i), fields[i], &w)) return false;
  }
  w.EndObject();
  inv_.out() << w.text() << '\n';
  return true;
}

std::string RecordPrinter::Text(std::string_view bytes) const {
  return platform::Utf16ToUtf8(platform::DecodeCodePage(bytes, code_page_));
}

bool RecordPrinter::Check(int16_t status) {
  if (status >= 0) return true;
  inv_.EngineFailure(table_.path(), status);
  return false;
}

std::string RecordPrinter::Raw(int16_t field) {
  uint16_t length = 0;
  kbdseterror(0);
  if (!Check(kbddgetraw(table_.handle(), field, buffer_.data(), &length)))
    return {};
  return std::string(buffer_.data(), length);
}


bool RecordPrinter::Memo(int16_t field, const KbdFieldDef& f, JsonWriter* w) {
  uint32_t block = 0;
  kbdseterror(0);
  if (!Check(kbddmemoblock(table_.handle(), field, &block))) return false;
  if (block == 0) {
    w->String("");
    return true;
  }
  if (!table_.memo_open()) {
    w->Null();
    return true;
  }
  std::string bytes;
  bool binary = false;
  int16_t s = table_.ReadMemo(block, &bytes, &binary);
  if (s < 0) {
    inv_.EngineFailure(table_.memo_path(), s);
    return false;
  }
  if (f.type == 'M' && !binary) {
    w->String(Text(bytes));
  } else {
    w->BeginObject();
    w->Key("base64");
    w->String(Base64Encode(bytes));
    w->EndObject();
  }
  return true;
}

bool RecordPrinter::Value(int16_t field, const KbdFieldDef& f, JsonWriter* w) {
  int16_t handle = table_.handle();
  char type = static_cast<char>(f.type);
  if (type == '0' || type == 'Q') {  // raw bytes: null flags, varbinary
    std::string raw;
    if (type == 'Q') {
      kbdseterror(0);
      int16_t blank = kbddisblank(handle, field);
      if (!Check(blank)) return false;
      if (blank != 0) {
        w->Null();
        return true;
      }
      kbdseterror(0);
      if (!Check(kbddget(handle, field, buffer_.data()))) return false;
      auto n = static_cast<uint8_t>(buffer_[0]) |
               (static_cast<uint8_t>(buffer_[1]) << 8);
      raw.assign(buffer_.data() + 2, n);
    } else {
      raw = Raw(field);
    }
    w->BeginObject();
    w->Key("base64");
    w->String(Base64Encode(raw));
    w->EndObject();
    return true;
  }
  kbdseterror(0);
  int16_t blank = kbddisblank(handle, field);
  if (!Check(blank)) return false;
  bool text_type = type == 'C' || type == 'V';
  bool memo_type = type == 'M' || type == 'G' || type == 'P' || type == 'W' ||
                   (type == 'B' && table_.info().dialect != kKbdVisualFoxpro);
  // 2: the null bit is set. 1: blank, which is null except for text
  // (an empty string) and memo numbers (no memo: "").
  if (blank == 2 || (blank == 1 && !text_type && !memo_type)) {
    w->Null();
    return true;
  }
  if (memo_type) {
    if (blank == 1) {
      w->String("");
      return true;
    }
    return Memo(field, f, w);
  }
  kbdseterror(0);
  switch (type) {
    case 'C':
    case 'V': {
      if (!Check(kbddget(handle, field, buffer_.data()))) return false;
      w->String(Text(TrimRight(buffer_.data())));
      return true;
    }
    case 'D':
    case 'T': {
      int16_t s = kbddget(handle, field, buffer_.data());
      if (s == kKbdErrDate || s == kKbdErrTime) {
        // A stored date that is no date: shown as null, said on stderr.
        inv_.err() << "qxdb: " << table_.path() << ": invalid value in field "
                   << names_[static_cast<std::size_t>(field)] << "\n";
        w->Null();
        return true;
      }
      if (!Check(s)) return false;
      std::string text(buffer_.data());
      w->String(type == 'T' ? text.substr(0, 14) : text);
      return true;
    }
    case 'L': {
      if (!Check(kbddget(handle, field, buffer_.data()))) return false;
      char c = buffer_[0];
      if (c == 1) w->Bool(true);
      else if (c == 0) w->Bool(false);
      else w->Null();
      return true;
    }
    case 'I': {
      int32_t v = 0;
      if (!Check(kbddget(handle, field, &v))) return false;
      w->Int(v);
      return true;
    }
    case 'N': {
      double v = 0;
      if (!Check(kbddget(handle, field, &v))) return false;
      std::string raw = Raw(field);
      if (raw.find('.') == std::string::npos && std::fabs(v) < 9.0e18)
        w->Int(static_cast<int64_t>(v));
      else
        w->Double(v);
      return true;
    }
    case 'F':
    case 'B':
    case 'Y': {
      double v = 0;
      if (!Check(kbddget(handle, field, &v))) return false;
      w->Double(v);
      return true;
    }
    default:
      w->String(Text(TrimRight(Raw(field))));
      return true;
  }
}

int PrintRecord(Invocation& inv, Table& table, RecordPrinter& printer,
                uint32_t recno, bool with_deleted) {
  kbdseterror(0);
  int16_t status = kbddread(table.handle(), recno);
  if (status < 0) return inv.EngineFailure(table.path(), status);
  bool deleted = status == kKbdDeletedRecord;
  if (deleted && !with_deleted) return kExitOk;
  return printer.Print(recno, deleted) ? kExitOk : kExitFailure;
}

}  // namespace qx::qxdb
