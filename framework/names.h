// The framework's text helpers shared by every driver: how names compare,
// how a value is read from an extended-information text, and how a text
// is handed to a caller's buffer.
//
// Names (connections, tables, items) compare without regard to case, as
// the host's names do: letters are folded through code page 1252's upper
// case (a..z and the accented letters à..þ except ÷), so "Clients",
// "CLIENTS" and "clients" name one table.
#ifndef QX_FRAMEWORK_NAMES_H_
#define QX_FRAMEWORK_NAMES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qx::framework {

// The text a possibly null host text pointer stands for.
inline std::u16string_view HostText(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

char16_t FoldCase(char16_t c);

// <0, 0, >0 as a compares to b without regard to case.
int CompareNames(std::u16string_view a, std::u16string_view b);
inline bool SameName(std::u16string_view a, std::u16string_view b) {
  return CompareNames(a, b) == 0;
}

// Ordering for maps keyed by name.
struct NameLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const {
    return CompareNames(a, b) < 0;
  }
};

// The value of `key` in an extended-information text: pairs KEY=value
// separated by ';', blanks around a pair and around the '=' ignored, keys
// compared without regard to case. Empty when the key is absent; the first
// pair with the key wins.
std::u16string ExtendedInfoValue(std::u16string_view text,
                                 std::u16string_view key);

// Copies text into buffer[0, capacity): at most capacity - 1 characters
// and a NUL (nothing when buffer is null or capacity 0). Answers the whole
// text's length.
uint32_t CopyToBuffer(std::u16string_view text, char16_t* buffer,
                      uint32_t capacity);

}  // namespace qx::framework

#endif  // QX_FRAMEWORK_NAMES_H_
