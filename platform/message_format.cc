// The message formatter: FormatMessageW over a pattern string with an
// argument array, as the error messages of the access layer and the engine
// use it ("Le fichier '%1!s!' n'existe pas.", "<%1!ld!>", "%2!d!").
//
// A pattern is copied as it stands except for these escapes:
//   %1 .. %99    insert argument n (1-based); at most two digits are read,
//                so "%100" is insert 10 followed by "0"
//   %n!fmt!      insert argument n formatted by the printf-style format fmt
//   %0           ends the output (no line break is added)
//   %n           CR LF          %r   CR          %t   tab
//   %b           a blank        any other character c after '%' is c
//                itself: "%%" '%', "%." '.', "%!" '!', "%\" '\', "% " ' '
// A '%' that ends the pattern stays '%'. Line breaks written into the
// pattern pass through unchanged; no width limit applies.
//
// Inserts that cannot be made are left in the output exactly as written in
// the pattern, "%3!d!" included, so a faulty message still shows what was
// meant: an insert number beyond the arguments, a format that is not one
// of the supported printf forms (floating point among them, which the
// Windows formatter has never supported either), or a '*' whose argument is
// missing or not a number.
//
// Formats: [flags][width][.precision][length]conversion, flags from
// "-+ #0", width and precision as digits (at most 4096) or '*'. A '*' takes
// its value from the argument the insert names and the argument itself
// moves one further ("%1!*.*s!" uses arguments 1 and 2 as width and
// precision and 3 as the text). Conversions:
//   s S          text; a number argument gives its decimal digits
//   d i          signed decimal
//   u x X o      unsigned decimal, hex, octal
//   c C          one character (c: the number is a UTF-16 code unit;
//                C, hc: it is a code page 1252 byte)
//   p            a pointer-sized value as 16 upper-case hex digits
// Integer conversions read the number at the width a Win64 printf gives
// its length modifier: none, l and I32 32 bits; h 16; hh 8; ll, I64, I, j,
// z and t 64 (so "%1!d!" of 5000000000 prints 705032704, and "%1!u!" of -1
// prints 4294967295, as on Windows). A plain "%1" or "%1!s!" of a number
// prints the whole 64-bit value. A text argument under a numeric or
// character conversion is inserted as text with the format's flags and
// width. Strings pad with '0' under the '0' flag, as the Windows C runtime
// does.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qx::platform {

MessageArg MessageArg::Text(std::u16string_view t) {
  MessageArg arg;
  arg.kind = Kind::kText;
  arg.text = std::u16string(t);
  return arg;
}

MessageArg MessageArg::Signed(int64_t n) {
  MessageArg arg;
  arg.kind = Kind::kSigned;
  arg.number = n;
  return arg;
}

// The bits are kept in number; Kind::kUnsigned tells how to read them.
MessageArg MessageArg::Unsigned(uint64_t n) {
  MessageArg arg;
  arg.kind = Kind::kUnsigned;
  arg.number = static_cast<int64_t>(n);
  return arg;
}

namespace {

// Width and precision above this make the format unsupported: they would
// only serve to exhaust memory.
constexpr int kMaxFieldWidth = 4096;

// A parsed "!fmt!" format.
struct InsertFormat {
  bool left_justify = false;  // '-'
  bool plus_sign = false;     // '+'
  bool blank_sign = false;    // ' '
  bool alternate = false;     // '#'
  bool zero_pad = false;      // '0'
  bool width_star = false;
  bool precision_star = false;
  int width = 0;
  int precision = -1;      // -1: none given
  int bits = 32;           // integer width the length modifier selects
  bool ansi_char = false;  // 'C' or 'hc'
  char16_t conversion = u's';
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Reads digits at *pos into *value; false when the number exceeds
// kMaxFieldWidth.
bool ReadNumber(std::u16string_view format_text, std::size_t* pos, int* value) {
  int n = 0;
  while (*pos < format_text.size() && IsDigit(format_text[*pos])) {
    n = n * 10 + (format_text[*pos] - u'0');
    if (n > kMaxFieldWidth) return false;
    ++*pos;
  }
  *value = n;
  return true;
}

// Parses the text between the '!' marks. False when it is not one of the
// supported forms (the whole format_text must be consumed).
bool ParseFormat(std::u16string_view format_text, InsertFormat* f) {
  std::size_t pos = 0;
  for (; pos < format_text.size(); ++pos) {
    const char16_t c = format_text[pos];
    if (c == u'-') {
      f->left_justify = true;
    } else if (c == u'+') {
      f->plus_sign = true;
    } else if (c == u' ') {
      f->blank_sign = true;
    } else if (c == u'#') {
      f->alternate = true;
    } else if (c == u'0') {
      f->zero_pad = true;
    } else {
      break;
    }
  }
  if (pos < format_text.size() && format_text[pos] == u'*') {
    f->width_star = true;
    ++pos;
  } else if (!ReadNumber(format_text, &pos, &f->width)) {
    return false;
  }
  if (pos < format_text.size() && format_text[pos] == u'.') {
    ++pos;
    if (pos < format_text.size() && format_text[pos] == u'*') {
      f->precision_star = true;
      ++pos;
    } else if (!ReadNumber(format_text, &pos, &f->precision)) {
      return false;
    }
  }
  const std::u16string_view rest = format_text.substr(pos);
  if (rest.empty()) return false;
  const std::u16string_view length = rest.substr(0, rest.size() - 1);
  f->conversion = rest.back();
  if (length.empty() || length == u"l" || length == u"I32" || length == u"w") {
    f->bits = 32;
  } else if (length == u"h") {
    f->bits = 16;
    f->ansi_char = true;
  } else if (length == u"hh") {
    f->bits = 8;
  } else if (length == u"ll" || length == u"I64" || length == u"I" ||
             length == u"j" || length == u"z" || length == u"t") {
    f->bits = 64;
  } else {
    return false;
  }
  switch (f->conversion) {
    case u's':
    case u'S':
    case u'd':
    case u'i':
    case u'u':
    case u'x':
    case u'X':
    case u'o':
    case u'c':
      return true;
    case u'C':
      f->ansi_char = true;
      return true;
    case u'p':
      f->bits = 64;
      return true;
    default:
      return false;
  }
}

std::u16string AsciiToUtf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

// The whole value of a number argument as decimal text.
std::u16string DecimalText(const MessageArg& arg) {
  if (arg.kind == MessageArg::Kind::kUnsigned) {
    return AsciiToUtf16(std::to_string(static_cast<uint64_t>(arg.number)));
  }
  return AsciiToUtf16(std::to_string(arg.number));
}

// Pads body to the format's width: spaces on the right with '-', else
// pad_char on the left (after prefix, which a zero pad follows).
std::u16string Pad(const InsertFormat& f, std::u16string prefix,
                   std::u16string body, char16_t pad_char) {
  const std::size_t length = prefix.size() + body.size();
  if (length >= static_cast<std::size_t>(f.width)) return prefix + body;
  const std::size_t fill = f.width - length;
  if (f.left_justify) return prefix + body + std::u16string(fill, u' ');
  if (pad_char == u'0') return prefix + std::u16string(fill, u'0') + body;
  return std::u16string(fill, u' ') + prefix + body;
}

std::u16string FormatText(const InsertFormat& f, std::u16string_view text) {
  if (f.precision >= 0 && static_cast<std::size_t>(f.precision) < text.size()) {
    text = text.substr(0, f.precision);
  }
  return Pad(f, u"", std::u16string(text), f.zero_pad ? u'0' : u' ');
}

// printf integer formatting of the low f.bits bits of value.
std::u16string FormatInteger(const InsertFormat& f, uint64_t value) {
  const bool is_signed = f.conversion == u'd' || f.conversion == u'i';
  bool negative = false;
  if (f.bits < 64) {
    const uint64_t mask = (uint64_t{1} << f.bits) - 1;
    value &= mask;
    const uint64_t sign_bit = uint64_t{1} << (f.bits - 1);
    if (is_signed && (value & sign_bit) != 0) {
      negative = true;
      value = (~value + 1) & mask;
    }
  } else if (is_signed && static_cast<int64_t>(value) < 0) {
    negative = true;
    value = ~value + 1;
  }

  unsigned base = 10;
  const char* digit_chars = "0123456789abcdef";
  if (f.conversion == u'x') base = 16;
  if (f.conversion == u'X' || f.conversion == u'p') {
    base = 16;
    digit_chars = "0123456789ABCDEF";
  }
  if (f.conversion == u'o') base = 8;

  std::u16string digits;
  for (uint64_t v = value; v != 0; v /= base) {
    digits.insert(digits.begin(), static_cast<char16_t>(digit_chars[v % base]));
  }
  int precision = f.precision;
  if (f.conversion == u'p') precision = 16;
  if (precision < 0) precision = 1;
  if (digits.size() < static_cast<std::size_t>(precision)) {
    digits.insert(0, precision - digits.size(), u'0');
  }

  std::u16string prefix;
  if (is_signed) {
    if (negative) {
      prefix = u"-";
    } else if (f.plus_sign) {
      prefix = u"+";
    } else if (f.blank_sign) {
      prefix = u" ";
    }
  } else if (f.alternate && f.conversion == u'o') {
    if (digits.empty() || digits[0] != u'0') digits.insert(0, 1, u'0');
  } else if (f.alternate && value != 0 &&
             (f.conversion == u'x' || f.conversion == u'X')) {
    prefix = f.conversion == u'x' ? u"0x" : u"0X";
  }
  // As in printf, a precision turns the zero pad off.
  const bool zero = f.zero_pad && f.precision < 0;
  return Pad(f, prefix, digits, zero ? u'0' : u' ');
}

std::u16string FormatCharacter(const InsertFormat& f, uint64_t value) {
  std::u16string body;
  if (f.ansi_char) {
    body = AnsiToUtf16(std::string(1, static_cast<char>(value & 0xFF)));
  } else {
    body.push_back(static_cast<char16_t>(value & 0xFFFF));
  }
  return Pad(f, u"", body, f.zero_pad ? u'0' : u' ');
}

// Formats arguments[index...] under f; false when an argument is missing or
// a '*' argument is not a number. index is 0-based.
bool FormatInsert(InsertFormat f, std::span<const MessageArg> args,
                  std::size_t index, std::u16string* out) {
  auto take_star = [&](int* value) {
    if (index >= args.size() || args[index].kind == MessageArg::Kind::kText) {
      return false;
    }
    const int64_t n = args[index++].number;
    if (n > kMaxFieldWidth || n < -kMaxFieldWidth) return false;
    *value = static_cast<int>(n);
    return true;
  };
  if (f.width_star) {
    if (!take_star(&f.width)) return false;
    if (f.width < 0) {  // printf: a negative width is '-' and its size
      f.left_justify = true;
      f.width = -f.width;
    }
  }
  if (f.precision_star) {
    if (!take_star(&f.precision)) return false;
    if (f.precision < 0) f.precision = -1;
  }
  if (index >= args.size()) return false;
  const MessageArg& arg = args[index];

  const bool text_conversion = f.conversion == u's' || f.conversion == u'S';
  if (arg.kind == MessageArg::Kind::kText) {
    if (!text_conversion) f.precision = -1;
    *out += FormatText(f, arg.text);
  } else if (text_conversion) {
    *out += FormatText(f, DecimalText(arg));
  } else if (f.conversion == u'c' || f.conversion == u'C') {
    *out += FormatCharacter(f, static_cast<uint64_t>(arg.number));
  } else {
    *out += FormatInteger(f, static_cast<uint64_t>(arg.number));
  }
  return true;
}

}  // namespace

std::u16string FormatMessageText(std::u16string_view pattern,
                                 std::span<const MessageArg> args) {
  std::u16string out;
  out.reserve(pattern.size());
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char16_t c = pattern[i];
    if (c != u'%') {
      out.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 == pattern.size()) {
      out.push_back(u'%');
      break;
    }
    const char16_t escape = pattern[i + 1];
    if (escape == u'0') break;
    if (!IsDigit(escape)) {
      switch (escape) {
        case u'n':
          out += u"\r\n";
          break;
        case u'r':
          out.push_back(u'\r');
          break;
        case u't':
          out.push_back(u'\t');
          break;
        case u'b':
          out.push_back(u' ');
          break;
        default:
          out.push_back(escape);
          break;
      }
      i += 2;
      continue;
    }

    // An insert: one or two digits, then an optional "!fmt!". A '!' with
    // no closing '!' is not a format; it stays in the text after the insert.
    std::size_t end = i + 1;
    int number = 0;
    while (end < pattern.size() && end < i + 3 && IsDigit(pattern[end])) {
      number = number * 10 + (pattern[end] - u'0');
      ++end;
    }
    InsertFormat format;
    bool supported = true;
    if (end < pattern.size() && pattern[end] == u'!') {
      const std::size_t close = pattern.find(u'!', end + 1);
      if (close != std::u16string_view::npos) {
        supported =
            ParseFormat(pattern.substr(end + 1, close - end - 1), &format);
        end = close + 1;
      }
    }
    std::u16string insert;
    const std::size_t index = static_cast<std::size_t>(number) - 1;
    if (supported && FormatInsert(format, args, index, &insert)) {
      out += insert;
    } else {
      out += pattern.substr(i, end - i);
    }
    i = end;
  }
  return out;
}

}  // namespace qx::platform
