// Name comparison, extended-information values and buffer copies.
#include "framework/names.h"

#include <algorithm>

namespace qx::framework {

char16_t FoldCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  // à..þ fold to À..Þ, except ÷ (0xF7), which has no upper case.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  return c;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = FoldCase(a[i]);
    const char16_t y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

namespace {

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

std::u16string ExtendedInfoValue(std::u16string_view text,
                                 std::u16string_view key) {
  while (!text.empty()) {
    const size_t end = text.find(u';');
    std::u16string_view pair = text.substr(0, end);
    text = end == std::u16string_view::npos ? std::u16string_view()
                                            : text.substr(end + 1);
    const size_t equals = pair.find(u'=');
    if (equals == std::u16string_view::npos) continue;
    if (SameName(TrimBlanks(pair.substr(0, equals)), TrimBlanks(key))) {
      return std::u16string(TrimBlanks(pair.substr(equals + 1)));
    }
  }
  return std::u16string();
}

uint32_t CopyToBuffer(std::u16string_view text, char16_t* buffer,
                      uint32_t capacity) {
  if (buffer != nullptr && capacity > 0) {
    const size_t n = std::min<size_t>(text.size(), capacity - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = u'\0';
  }
  return static_cast<uint32_t>(text.size());
}

}  // namespace qx::framework
