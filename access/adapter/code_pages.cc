// ANSI and OEM text of the files (see code_pages.h).
#include "access/adapter/code_pages.h"

#include <cstdint>

#include "platform/platform.h"

namespace qx::access {
namespace {

struct LetterPair {
  uint8_t ansi;
  uint8_t oem;
};

constexpr LetterPair kFrenchLetters[] = {
    {224, 133}, {226, 131}, {228, 132}, {231, 135}, {232, 138},
    {233, 130}, {234, 136}, {235, 137}, {238, 140}, {239, 139},
    {244, 147}, {246, 148}, {249, 151}, {251, 150}, {252, 129},
};

// The exchange as two byte maps built once from the pairs: every byte
// maps to itself but the bytes of the pairs, which trade places both ways
// (an ANSI byte that is one of the OEM letter codes, such as 133 "…" or
// 147 the opening quote, goes to the file as the ANSI letter's code and
// comes back as itself), so that any text written reads back unchanged.
// Texts cross this on every field of every record: one lookup per byte.
struct LetterMaps {
  uint8_t to_oem[256];
  uint8_t to_ansi[256];
  constexpr LetterMaps() : to_oem(), to_ansi() {
    for (int c = 0; c < 256; ++c) {
      to_oem[c] = static_cast<uint8_t>(c);
      to_ansi[c] = static_cast<uint8_t>(c);
    }
    for (const LetterPair& pair : kFrenchLetters) {
      to_oem[pair.ansi] = pair.oem;
      to_oem[pair.oem] = pair.ansi;
      to_ansi[pair.oem] = pair.ansi;
      to_ansi[pair.ansi] = pair.oem;
    }
  }
};
constexpr LetterMaps kLetterMaps;

void SwapLetters(char* buffer, size_t length, bool to_oem) {
  const uint8_t* map = to_oem ? kLetterMaps.to_oem : kLetterMaps.to_ansi;
  for (size_t i = 0; i < length && buffer[i] != '\0'; ++i) {
    buffer[i] = static_cast<char>(map[static_cast<uint8_t>(buffer[i])]);
  }
}

}  // namespace

void AnsiToOem(char* buffer, size_t length, bool full) {
  if (buffer == nullptr) return;
  if (full) {
    platform::AnsiToOem(buffer, buffer, length);
    return;
  }
  SwapLetters(buffer, length, true);
}

void OemToAnsi(char* buffer, size_t length, bool full) {
  if (buffer == nullptr) return;
  if (full) {
    platform::OemToAnsi(buffer, buffer, length);
    return;
  }
  SwapLetters(buffer, length, false);
}

}  // namespace qx::access
