// Tests of the code-page and Unicode conversions. The system's own
// converter (iconv on POSIX, the Windows code-page tables on Windows) is the
// oracle for every character the code pages define; best-fit bytes, which
// no oracle decides, are checked for the properties callers rely on.

#include <cstdint>
#include <optional>
#include <string>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace qx::platform {
namespace {

// Converts one byte with iconv; nullopt when the target (or the source)
// has no such character.
std::optional<std::string> IconvByte(const char* from, const char* to,
                                     uint8_t byte) {
  std::string out;
  if (!qx::testing::Iconv(from, to, std::string(1, static_cast<char>(byte)),
                          &out)) {
    return std::nullopt;
  }
  return out;
}

constexpr bool IsUndefinedAnsi(int b) {
  return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
}

TEST(TextTest, AnsiUtf16MatchesIconvAndRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::u16string wide =
        AnsiToUtf16(std::string(1, static_cast<char>(b)));
    ASSERT_EQ(wide.size(), 1u);
    if (IsUndefinedAnsi(b)) {
      EXPECT_EQ(wide[0], b);  // the C1 control of the same number
    } else {
      const auto expected = IconvByte("CP1252", "UTF-16LE", b);
      ASSERT_TRUE(expected.has_value());
      ASSERT_EQ(expected->size(), 2u);
      EXPECT_EQ(wide[0], static_cast<uint8_t>((*expected)[0]) |
                             static_cast<uint8_t>((*expected)[1]) << 8);
    }
    bool lossy = true;
    EXPECT_EQ(Utf16ToAnsi(wide, '?', &lossy),
              std::string(1, static_cast<char>(b)));
    EXPECT_FALSE(lossy);
  }

  bool lossy = false;
  // Ā is not in 1252; a surrogate pair is one character; a lone surrogate
  // is one too.
  EXPECT_EQ(Utf16ToAnsi(u"a\u0100b\U0001F600c\xD800", '_', &lossy), "a_b_c_");
  EXPECT_TRUE(lossy);
  EXPECT_EQ(Utf16ToAnsi(u"\u0080\u0100"), "??");
  EXPECT_EQ(Utf16ToAnsi(u"Clé €"), "Cl\xE9 \x80");
  EXPECT_EQ(AnsiToUtf16("Cl\xE9 \x80\x92"), u"Clé €’");
}

TEST(TextTest, OemTablesMatchIconvWhereBothCodePagesHaveTheCharacter) {
  int exact_ansi_to_oem = 0;
  int exact_oem_to_ansi = 0;
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const uint8_t byte = static_cast<uint8_t>(b);
    if (b < 0x80) {
      EXPECT_EQ(AnsiToOemByte(byte), b);
      EXPECT_EQ(OemToAnsiByte(byte), b);
    }
    if (const auto oem = IconvByte("CP1252", "CP850", byte)) {
      ASSERT_EQ(oem->size(), 1u);
      EXPECT_EQ(AnsiToOemByte(byte), static_cast<uint8_t>((*oem)[0]));
      EXPECT_EQ(OemToAnsiByte(AnsiToOemByte(byte)), b);
      ++exact_ansi_to_oem;
    } else {
      // Best fit: never a byte that stands for another shared character,
      // except the middle dot for the bullet.
      const uint8_t fit = AnsiToOemByte(byte);
      EXPECT_TRUE(fit < 0x80 || (b == 0x95 && fit == 0xFA)) << int{fit};
    }
    if (const auto ansi = IconvByte("CP850", "CP1252", byte)) {
      ASSERT_EQ(ansi->size(), 1u);
      EXPECT_EQ(OemToAnsiByte(byte), static_cast<uint8_t>((*ansi)[0]));
      EXPECT_EQ(AnsiToOemByte(OemToAnsiByte(byte)), b);
      ++exact_oem_to_ansi;
    } else {
      EXPECT_LT(OemToAnsiByte(byte), 0x80);
    }
  }
  // ASCII, the 96 characters A0-FF of 1252, and ƒ.
  EXPECT_EQ(exact_ansi_to_oem, 225);
  EXPECT_EQ(exact_oem_to_ansi, 225);

  // Best fits of note.
  const struct {
    uint8_t from;
    uint8_t to;
  } ansi_to_oem[] = {{0x8A, 'S'}, {0x8C, 'O'}, {0x9E, 'z'},  {0x9F, 'Y'},
                     {0x80, 'E'}, {0x93, '"'}, {0x92, '\''}, {0x97, '-'},
                     {0x85, '.'}, {0x89, '%'}, {0x81, '?'},  {0x9D, '?'}},
    oem_to_ansi[] = {{0xC4, '-'}, {0xB3, '|'}, {0xDA, '+'}, {0xC5, '+'},
                     {0xCD, '='}, {0xBA, '|'}, {0xDB, '#'}, {0xD5, 'i'},
                     {0xF2, '_'}, {0xDC, '_'}};
  for (const auto& m : ansi_to_oem) EXPECT_EQ(AnsiToOemByte(m.from), m.to);
  for (const auto& m : oem_to_ansi) EXPECT_EQ(OemToAnsiByte(m.from), m.to);
}

TEST(TextTest, OemBufferConversion) {
  // The French letters the access layer swaps on its own must agree with
  // the full tables.
  const struct {
    uint8_t ansi;
    uint8_t oem;
  } french[] = {{224, 133}, {226, 131}, {228, 132}, {231, 135}, {232, 138},
                {233, 130}, {234, 136}, {235, 137}, {238, 140}, {239, 139},
                {244, 147}, {246, 148}, {249, 151}, {251, 150}, {252, 129}};
  for (const auto& f : french) {
    EXPECT_EQ(AnsiToOemByte(f.ansi), f.oem);
    EXPECT_EQ(OemToAnsiByte(f.oem), f.ansi);
  }

  const std::string ansi("\xC9t\xE9 \xE0 Paris\0\xA3", 13);
  std::string oem(ansi.size(), 'x');
  AnsiToOem(ansi.data(), oem.data(), ansi.size());
  EXPECT_EQ(oem, std::string("\x90t\x82 \x85 Paris\0\x9C", 13));

  std::string buffer = oem;  // in place, both ways
  OemToAnsi(buffer.data(), buffer.data(), buffer.size());
  EXPECT_EQ(buffer, ansi);
  AnsiToOem(buffer.data(), buffer.data(), buffer.size());
  EXPECT_EQ(buffer, oem);
  AnsiToOem(nullptr, nullptr, 0);
}

TEST(TextTest, Utf8) {
  const std::u16string sample = u"A é € \U0001F600 \uFFFF \U0010FFFF";
  const std::string utf8 = Utf16ToUtf8(sample);
  EXPECT_EQ(utf8,
            "A \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBF "
            "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(Utf8ToUtf16(utf8), sample);

  // Each maximal ill-formed subpart becomes one U+FFFD.
  const struct {
    std::string in;
    std::u16string out;
  } bad[] = {
      {"a\x80z", u"a\uFFFDz"},                  // lone continuation
      {"a\xE2\x82z", u"a\uFFFDz"},              // truncated, then more
      {"a\xE2\x82", u"a\uFFFD"},                // truncated at end
      {"\xC0\x80", u"\uFFFD\uFFFD"},            // overlong NUL
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},  // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF0\x9F\x98z", u"\uFFFDz"},
      {"\xF5\xFF", u"\uFFFD\uFFFD"},
  };
  for (const auto& b : bad) EXPECT_EQ(Utf8ToUtf16(b.in), b.out) << b.in;

  // Unpaired surrogates, in either order.
  EXPECT_EQ(Utf16ToUtf8(u"\xDC00\xD800x\xD800"),
            "\xEF\xBF\xBD\xEF\xBF\xBDx\xEF\xBF\xBD");
}

}  // namespace
}  // namespace qx::platform

namespace qx::platform {
namespace {

TEST(TextTest, ExactOemCodePagesMatchIconv) {
  for (auto [cp, name] : {std::pair{kCodePageOem850, "CP850"},
                          std::pair{kCodePageOem437, "CP437"}}) {
    for (int b = 0; b < 256; ++b) {
      std::string byte(1, static_cast<char>(b));
      std::optional<std::string> utf8 =
          IconvByte(name, "UTF-8", static_cast<uint8_t>(b));
      ASSERT_TRUE(utf8.has_value()) << name << " " << b;
      std::u16string decoded = DecodeCodePage(byte, cp);
      EXPECT_EQ(Utf16ToUtf8(decoded), *utf8) << name << " byte " << b;
      bool lossy = true;
      EXPECT_EQ(EncodeCodePage(decoded, cp, '?', &lossy), byte) << name << b;
      EXPECT_FALSE(lossy);
    }
  }
  bool lossy = false;
  EXPECT_EQ(EncodeCodePage(u"A\u20AC", kCodePageOem437, '?', &lossy), "A?");
  EXPECT_TRUE(lossy);
  EXPECT_EQ(DecodeCodePage("\xC3\xA9", kCodePageUtf8), u"\u00E9");
  EXPECT_EQ(DecodeCodePage("\xE9", kCodePageAnsi), u"\u00E9");
  EXPECT_TRUE(IsKnownCodePage(437));
  EXPECT_FALSE(IsKnownCodePage(1251));
}

}  // namespace
}  // namespace qx::platform
