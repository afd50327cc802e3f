// The collation table and the character-key comparison (see collation.h).
#include "engine/collate/collation.h"

#include <array>
#include <cstring>

#include "engine/core/engine_state.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

// The table in ascending order; a byte's rank is its first position.
// Upper-case letters come before all lower-case ones, digits before
// letters, punctuation after letters.
constexpr uint8_t kCollationTable[130] = {
    // 0-10: blank, 0-9
    0x20,
    0x30,
    0x31,
    0x32,
    0x33,
    0x34,
    0x35,
    0x36,
    0x37,
    0x38,
    0x39,
    // 11-41: A Ä Å B C Ç D E É F G H I J K L M N Ñ O Ö P Q R S T U Ü V W X
    0x41,
    0xC4,
    0xC5,
    0x42,
    0x43,
    0xC7,
    0x44,
    0x45,
    0xC9,
    0x46,
    0x47,
    0x48,
    0x49,
    0x4A,
    0x4B,
    0x4C,
    0x4D,
    0x4E,
    0xD1,
    0x4F,
    0xD6,
    0x50,
    0x51,
    0x52,
    0x53,
    0x54,
    0x55,
    0xDC,
    0x56,
    0x57,
    0x58,
    // 42-43: Y Z
    0x59,
    0x5A,
    // 44-64: a á à â ä å b c ç d e é è ê ë f g h i í ì
    0x61,
    0xE1,
    0xE0,
    0xE2,
    0xE4,
    0xE5,
    0x62,
    0x63,
    0xE7,
    0x64,
    0x65,
    0xE9,
    0xE8,
    0xEA,
    0xEB,
    0x66,
    0x67,
    0x68,
    0x69,
    0xED,
    0xEC,
    // 65-88: î ï j k l m n ñ o ó ò ô ö p q r s t u ú ù û ü v
    0xEE,
    0xEF,
    0x6A,
    0x6B,
    0x6C,
    0x6D,
    0x6E,
    0xF1,
    0x6F,
    0xF3,
    0xF2,
    0xF4,
    0xF6,
    0x70,
    0x71,
    0x72,
    0x73,
    0x74,
    0x75,
    0xFA,
    0xF9,
    0xFB,
    0xFC,
    0x76,
    // 89-93: w x y ÿ z
    0x77,
    0x78,
    0x79,
    0xFF,
    0x7A,
    // 94-129: ( ) [ ] { } < > = + - % * . , ; : ? ! / \ | @ & # $ £ " ` ' ^ ~ _ µ ° ¨
    0x28,
    0x29,
    0x5B,
    0x5D,
    0x7B,
    0x7D,
    0x3C,
    0x3E,
    0x3D,
    0x2B,
    0x2D,
    0x25,
    0x2A,
    0x2E,
    0x2C,
    0x3B,
    0x3A,
    0x3F,
    0x21,
    0x2F,
    0x5C,
    0x7C,
    0x40,
    0x26,
    0x23,
    0x24,
    0xA3,
    0x22,
    0x60,
    0x27,
    0x5E,
    0x7E,
    0x5F,
    0xB5,
    0xB0,
    0xA8,
};

// Rank of every byte: its first position in the table, or kAbsent.
constexpr uint16_t kAbsent = 0xFFFF;
constexpr std::array<uint16_t, 256> MakeRanks() {
  std::array<uint16_t, 256> ranks{};
  for (auto& r : ranks) r = kAbsent;
  for (uint16_t pos = 0; pos < sizeof kCollationTable; ++pos)
    if (ranks[kCollationTable[pos]] == kAbsent)
      ranks[kCollationTable[pos]] = pos;
  return ranks;
}
constexpr std::array<uint16_t, 256> kRanks = MakeRanks();

}  // namespace

void LoadCollationSettings() {
  uint32_t value = platform::ProfileInt("sort", "asciisort", 1, "QXDB4XX.INI");
  Engine().ascii_sort = value != 0;
}

bool AsciiSortOn() { return Engine().ascii_sort; }

int CollateCompare(const uint8_t* a, const uint8_t* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    uint16_t ra = kRanks[a[i]], rb = kRanks[b[i]];
    if (ra == rb) continue;  // both absent from the table: equal
    return ra < rb ? -1 : 1;
  }
  return 0;
}

int CompareCharKeys(const uint8_t* a, const uint8_t* b, std::size_t n) {
  if (Engine().ascii_sort) return std::memcmp(a, b, n);
  return CollateCompare(a, b, n);
}

}  // namespace qx::engine

// Returns 1 when byte order was on before the call, else 0. With set
// non-zero the switch becomes bit 0 of value. Answers a flag, not a status:
// the last error is neither read nor changed.
extern "C" int16_t kbdsetsort(int16_t value, int16_t set) {
  qx::engine::EngineState& engine = qx::engine::Engine();
  int16_t was_on = engine.ascii_sort ? 1 : 0;
  if (set != 0) engine.ascii_sort = (value & 1) != 0;
  return was_on;
}
