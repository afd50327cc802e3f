// Code-page and Unicode conversions of the text division of platform.h.
//
// Field and memo texts travel between the host's ANSI text (code page 1252)
// and the files' OEM text (code page 850), names and messages between
// code page 1252 and UTF-16, and the host tool's text between UTF-8 and
// UTF-16. All of it is table- and arithmetic-driven, the same on every OS:
// no locale, no iconv, no global state. None of these functions touch the
// last-error value, so a caller may format a message about a failure and
// still read the failure's error code afterwards.
//
// Divisions: code-page tables; code page 1252 <-> UTF-16; code page
// 1252 <-> 850; UTF-8 <-> UTF-16.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qx::platform {

namespace {

// ---------------------------------------------------------------------------
// Code-page tables

// A byte of code page 1252 is the Unicode code point of the same number
// everywhere except 0x80-0x9F, which this table gives. The five bytes 1252
// leaves undefined (81 8D 8F 90 9D) stand for the C1 control of the same
// number, as Windows maps them, so every byte has a character and back.
// clang-format off
constexpr char16_t kAnsiHighToUtf16[32] = {
    // 80-87  € (81) ‚ ƒ „ … † ‡
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    // 88-8F  ˆ ‰ Š ‹ Œ (8D) Ž (8F)
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    // 90-97  (90) ‘ ’ “ ” • – —
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    // 98-9F  ˜ ™ š › œ (9D) ž Ÿ
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
// clang-format on

// The two tables below are CharToOemBuffA / OemToCharBuffA of a Western
// European system (ANSI 1252, OEM 850) over all 256 bytes. Bytes 00-7F are
// ASCII in both code pages and map to themselves. Every character both code
// pages have maps exactly: the 96 characters A0-FF of 1252 all exist in
// 850, as does 1252's ƒ (0x83 <-> 0x9F), so these 225 bytes convert and
// convert back unchanged. The rest take a best-fit byte, marked "x>y" in
// the row comments ("(81)" names an undefined 1252 byte).
//
// Best fit, 1252 -> 850 (1252's typographic block 80-9F, which 850 lacks):
//   € -> E               ‚ -> ,    „ -> "    ‘ ’ -> '    “ ” -> "
//   … -> .   † ‡ -> +    ˆ -> ^    ˜ -> ~    ‰ -> %    ™ -> T
//   ‹ -> <   › -> >      – — -> -  • -> · (850 0xFA, middle dot)
//   Š -> S   š -> s      Œ -> O    œ -> o    Ž -> Z    ž -> z    Ÿ -> Y
//   the undefined bytes 81 8D 8F 90 9D -> ? (850 has no C1 controls)
// Every best fit is plain ASCII except • (to 850's own middle dot).
//
// Best fit, 850 -> 1252 (850's graphics, which 1252 lacks; all ASCII):
//   ─ -> -   ═ -> =      │ ║ -> |
//   every corner, tee and cross ┌┐└┘├┤┬┴┼ ╔╗╚╝╠╣╦╩╬ -> +
//   ░ ▒ ▓ █ ■ -> #       ▄ -> _    ▀ -> -
//   ı (dotless i) -> i   ‗ (double low line) -> _

// clang-format off
// Indexed by a 1252 byte: its 850 byte.
constexpr uint8_t kAnsiToOem[256] = {
    // 00-07  control characters
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
    // 08-0F  control characters
    0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    // 10-17  control characters
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
    // 18-1F  control characters
    0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    // 20-27  SP  !  "  #  $  %  &  '
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27,
    // 28-2F  (  )  *  +  ,  -  .  /
    0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    // 30-37  0  1  2  3  4  5  6  7
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,
    // 38-3F  8  9  :  ;  <  =  >  ?
    0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    // 40-47  @  A  B  C  D  E  F  G
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47,
    // 48-4F  H  I  J  K  L  M  N  O
    0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    // 50-57  P  Q  R  S  T  U  V  W
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57,
    // 58-5F  X  Y  Z  [  \  ]  ^  _
    0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    // 60-67  `  a  b  c  d  e  f  g
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67,
    // 68-6F  h  i  j  k  l  m  n  o
    0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    // 70-77  p  q  r  s  t  u  v  w
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77,
    // 78-7F  x  y  z  {  |  }  ~  DEL
    0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    // 80-87  €>E  (81)>?  ‚>,  ƒ  „>"  …>.  †>+  ‡>+
    0x45, 0x3F, 0x2C, 0x9F, 0x22, 0x2E, 0x2B, 0x2B,
    // 88-8F  ˆ>^  ‰>%  Š>S  ‹><  Œ>O  (8D)>?  Ž>Z  (8F)>?
    0x5E, 0x25, 0x53, 0x3C, 0x4F, 0x3F, 0x5A, 0x3F,
    // 90-97  (90)>?  ‘>'  ’>'  “>"  ”>"  •>·  –>-  —>-
    0x3F, 0x27, 0x27, 0x22, 0x22, 0xFA, 0x2D, 0x2D,
    // 98-9F  ˜>~  ™>T  š>s  ›>>  œ>o  (9D)>?  ž>z  Ÿ>Y
    0x7E, 0x54, 0x73, 0x3E, 0x6F, 0x3F, 0x7A, 0x59,
    // A0-A7  NBSP  ¡  ¢  £  ¤  ¥  ¦  §
    0xFF, 0xAD, 0xBD, 0x9C, 0xCF, 0xBE, 0xDD, 0xF5,
    // A8-AF  ¨  ©  ª  «  ¬  SHY  ®  ¯
    0xF9, 0xB8, 0xA6, 0xAE, 0xAA, 0xF0, 0xA9, 0xEE,
    // B0-B7  °  ±  ²  ³  ´  µ  ¶  ·
    0xF8, 0xF1, 0xFD, 0xFC, 0xEF, 0xE6, 0xF4, 0xFA,
    // B8-BF  ¸  ¹  º  »  ¼  ½  ¾  ¿
    0xF7, 0xFB, 0xA7, 0xAF, 0xAC, 0xAB, 0xF3, 0xA8,
    // C0-C7  À  Á  Â  Ã  Ä  Å  Æ  Ç
    0xB7, 0xB5, 0xB6, 0xC7, 0x8E, 0x8F, 0x92, 0x80,
    // C8-CF  È  É  Ê  Ë  Ì  Í  Î  Ï
    0xD4, 0x90, 0xD2, 0xD3, 0xDE, 0xD6, 0xD7, 0xD8,
    // D0-D7  Ð  Ñ  Ò  Ó  Ô  Õ  Ö  ×
    0xD1, 0xA5, 0xE3, 0xE0, 0xE2, 0xE5, 0x99, 0x9E,
    // D8-DF  Ø  Ù  Ú  Û  Ü  Ý  Þ  ß
    0x9D, 0xEB, 0xE9, 0xEA, 0x9A, 0xED, 0xE8, 0xE1,
    // E0-E7  à  á  â  ã  ä  å  æ  ç
    0x85, 0xA0, 0x83, 0xC6, 0x84, 0x86, 0x91, 0x87,
    // E8-EF  è  é  ê  ë  ì  í  î  ï
    0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    // F0-F7  ð  ñ  ò  ó  ô  õ  ö  ÷
    0xD0, 0xA4, 0x95, 0xA2, 0x93, 0xE4, 0x94, 0xF6,
    // F8-FF  ø  ù  ú  û  ü  ý  þ  ÿ
    0x9B, 0x97, 0xA3, 0x96, 0x81, 0xEC, 0xE7, 0x98,
};

// Indexed by an 850 byte: its 1252 byte.
constexpr uint8_t kOemToAnsi[256] = {
    // 00-07  control characters
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
    // 08-0F  control characters
    0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    // 10-17  control characters
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
    // 18-1F  control characters
    0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    // 20-27  SP  !  "  #  $  %  &  '
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27,
    // 28-2F  (  )  *  +  ,  -  .  /
    0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    // 30-37  0  1  2  3  4  5  6  7
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,
    // 38-3F  8  9  :  ;  <  =  >  ?
    0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    // 40-47  @  A  B  C  D  E  F  G
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47,
    // 48-4F  H  I  J  K  L  M  N  O
    0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    // 50-57  P  Q  R  S  T  U  V  W
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57,
    // 58-5F  X  Y  Z  [  \  ]  ^  _
    0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    // 60-67  `  a  b  c  d  e  f  g
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67,
    // 68-6F  h  i  j  k  l  m  n  o
    0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    // 70-77  p  q  r  s  t  u  v  w
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77,
    // 78-7F  x  y  z  {  |  }  ~  DEL
    0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    // 80-87  Ç  ü  é  â  ä  à  å  ç
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7,
    // 88-8F  ê  ë  è  ï  î  ì  Ä  Å
    0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    // 90-97  É  æ  Æ  ô  ö  ò  û  ù
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9,
    // 98-9F  ÿ  Ö  Ü  ø  £  Ø  ×  ƒ
    0xFF, 0xD6, 0xDC, 0xF8, 0xA3, 0xD8, 0xD7, 0x83,
    // A0-A7  á  í  ó  ú  ñ  Ñ  ª  º
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA,
    // A8-AF  ¿  ®  ¬  ½  ¼  ¡  «  »
    0xBF, 0xAE, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    // B0-B7  ░>#  ▒>#  ▓>#  │>|  ┤>+  Á  Â  À
    0x23, 0x23, 0x23, 0x7C, 0x2B, 0xC1, 0xC2, 0xC0,
    // B8-BF  ©  ╣>+  ║>|  ╗>+  ╝>+  ¢  ¥  ┐>+
    0xA9, 0x2B, 0x7C, 0x2B, 0x2B, 0xA2, 0xA5, 0x2B,
    // C0-C7  └>+  ┴>+  ┬>+  ├>+  ─>-  ┼>+  ã  Ã
    0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0xE3, 0xC3,
    // C8-CF  ╚>+  ╔>+  ╩>+  ╦>+  ╠>+  ═>=  ╬>+  ¤
    0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x3D, 0x2B, 0xA4,
    // D0-D7  ð  Ð  Ê  Ë  È  ı>i  Í  Î
    0xF0, 0xD0, 0xCA, 0xCB, 0xC8, 0x69, 0xCD, 0xCE,
    // D8-DF  Ï  ┘>+  ┌>+  █>#  ▄>_  ¦  Ì  ▀>-
    0xCF, 0x2B, 0x2B, 0x23, 0x5F, 0xA6, 0xCC, 0x2D,
    // E0-E7  Ó  ß  Ô  Ò  õ  Õ  µ  þ
    0xD3, 0xDF, 0xD4, 0xD2, 0xF5, 0xD5, 0xB5, 0xFE,
    // E8-EF  Þ  Ú  Û  Ù  ý  Ý  ¯  ´
    0xDE, 0xDA, 0xDB, 0xD9, 0xFD, 0xDD, 0xAF, 0xB4,
    // F0-F7  SHY  ±  ‗>_  ¾  ¶  §  ÷  ¸
    0xAD, 0xB1, 0x5F, 0xBE, 0xB6, 0xA7, 0xF7, 0xB8,
    // F8-FF  °  ¨  ·  ¹  ³  ²  ■>#  NBSP
    0xB0, 0xA8, 0xB7, 0xB9, 0xB3, 0xB2, 0x23, 0xA0,
};
// clang-format on

constexpr char16_t kReplacementChar = 0xFFFD;

constexpr bool IsHighSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The 1252 byte of a UTF-16 code unit, or -1 when 1252 has no such
// character.
int AnsiByteOf(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (int i = 0; i < 32; ++i) {
    if (kAnsiHighToUtf16[i] == c) return 0x80 + i;
  }
  return -1;
}

void AppendUtf16(char32_t code_point, std::u16string* out) {
  if (code_point < 0x10000) {
    out->push_back(static_cast<char16_t>(code_point));
  } else {
    code_point -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
  }
}

void AppendUtf8(char32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Code page 1252 <-> UTF-16

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  for (char ch : ansi) {
    const uint8_t b = static_cast<uint8_t>(ch);
    out.push_back(b >= 0x80 && b < 0xA0 ? kAnsiHighToUtf16[b - 0x80]
                                        : static_cast<char16_t>(b));
  }
  return out;
}

// A character outside 1252 becomes one default_char, a surrogate pair
// included (it is one character); an unpaired surrogate is one too.
std::string Utf16ToAnsi(std::u16string_view text, char default_char,
                        bool* lossy) {
  std::string out;
  out.reserve(text.size());
  bool lost = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int b = AnsiByteOf(text[i]);
    if (b >= 0) {
      out.push_back(static_cast<char>(b));
      continue;
    }
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() &&
        IsLowSurrogate(text[i + 1])) {
      ++i;
    }
    out.push_back(default_char);
    lost = true;
  }
  if (lossy != nullptr) *lossy = lost;
  return out;
}

// ---------------------------------------------------------------------------
// Code page 1252 <-> 850

// Each output byte depends only on the input byte at the same index, so
// src == dst converts in place.
void AnsiToOem(const char* src, char* dst, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    dst[i] = static_cast<char>(kAnsiToOem[static_cast<uint8_t>(src[i])]);
  }
}

void OemToAnsi(const char* src, char* dst, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    dst[i] = static_cast<char>(kOemToAnsi[static_cast<uint8_t>(src[i])]);
  }
}

uint8_t AnsiToOemByte(uint8_t ansi) { return kAnsiToOem[ansi]; }
uint8_t OemToAnsiByte(uint8_t oem) { return kOemToAnsi[oem]; }

// ---------------------------------------------------------------------------
// UTF-8 <-> UTF-16

// Accepts exactly the well-formed UTF-8 of the Unicode standard: no
// overlong forms, no encoded surrogates, nothing above U+10FFFF. Each
// maximal ill-formed subpart (a bad lead byte, or a lead byte with the
// continuation bytes that were valid so far) becomes one U+FFFD, the
// replacement practice the Unicode standard recommends; decoding resumes
// at the byte that broke the sequence.
std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const uint8_t lead = static_cast<uint8_t>(utf8[i++]);
    if (lead < 0x80) {
      out.push_back(lead);
      continue;
    }
    int continuation_count;
    char32_t code_point;
    // Allowed range of the first continuation byte; the narrower ranges
    // after E0, ED, F0 and F4 exclude overlong forms, surrogates and code
    // points beyond U+10FFFF.
    uint8_t lower = 0x80;
    uint8_t upper = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      continuation_count = 1;
      code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      continuation_count = 2;
      code_point = lead & 0x0F;
      if (lead == 0xE0) lower = 0xA0;
      if (lead == 0xED) upper = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      continuation_count = 3;
      code_point = lead & 0x07;
      if (lead == 0xF0) lower = 0x90;
      if (lead == 0xF4) upper = 0x8F;
    } else {
      out.push_back(kReplacementChar);
      continue;
    }
    int taken = 0;
    while (taken < continuation_count && i < utf8.size()) {
      const uint8_t b = static_cast<uint8_t>(utf8[i]);
      if (b < lower || b > upper) break;
      code_point = (code_point << 6) | (b & 0x3F);
      ++i;
      ++taken;
      lower = 0x80;
      upper = 0xBF;
    }
    if (taken < continuation_count) {
      out.push_back(kReplacementChar);
    } else {
      AppendUtf16(code_point, &out);
    }
  }
  return out;
}

// An unpaired surrogate (a high one not followed by a low one, or a lone
// low one) becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() &&
        IsLowSurrogate(text[i + 1])) {
      AppendUtf8(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00), &out);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(kReplacementChar, &out);
    } else {
      AppendUtf8(c, &out);
    }
  }
  return out;
}

}  // namespace qx::platform
