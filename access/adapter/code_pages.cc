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

void SwapLetters(char* buffer, size_t length, bool to_oem) {
  for (size_t i = 0; i < length && buffer[i] != '\0'; ++i) {
    const uint8_t c = static_cast<uint8_t>(buffer[i]);
    for (const LetterPair& pair : kFrenchLetters) {
      if (c == (to_oem ? pair.ansi : pair.oem)) {
        buffer[i] = static_cast<char>(to_oem ? pair.oem : pair.ansi);
        break;
      }
    }
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
