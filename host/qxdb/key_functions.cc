// The extension functions of qxdb (see key_functions.h).
#include "host/qxdb/key_functions.h"

#include <iterator>
#include <string>
#include <string_view>

#include "qx/engine.h"

namespace qx::qxdb {
namespace {

// Reads one text argument; false (the evaluation then fails) otherwise.
bool TextArgument(KbdExprContext* context, std::string* text) {
  const void* value = nullptr;
  char type = ' ';
  uint16_t length = 0;
  if (kbdeterm(context, &value, &type, &length) < 0 || type != 'C')
    return false;
  text->assign(static_cast<const char*>(value), length);
  return true;
}

int16_t Result(KbdExprContext* context, const std::string& text) {
  return kbderesult(context, text.data(), 'C',
                    static_cast<uint16_t>(text.size()));
}

// The text argument and the closing parenthesis, blanks cut from either
// end.
int16_t TrimmedText(KbdExprContext* context, bool left, bool right) {
  std::string text;
  if (!TextArgument(context, &text) || kbdeexpect(context, ')') < 0)
    return kKbdErrKeyExpression;
  std::size_t begin = 0, end = text.size();
  if (left)
    while (begin < end && text[begin] == ' ') ++begin;
  if (right)
    while (end > begin && text[end - 1] == ' ') --end;
  return Result(context, text.substr(begin, end - begin));
}

int16_t AllTrim(KbdExprContext* c) { return TrimmedText(c, true, true); }
int16_t LeftTrim(KbdExprContext* c) { return TrimmedText(c, true, false); }
int16_t RightTrim(KbdExprContext* c) { return TrimmedText(c, false, true); }

// PADL(text, n) and PADR(text, n): blanks added on the left or right up
// to n characters, or the text cut to n.
int16_t Padded(KbdExprContext* context, bool left) {
  std::string text;
  int32_t width = 0;
  if (!TextArgument(context, &text) || kbdeexpect(context, ',') < 0 ||
      kbdeint(context, &width) < 0 || kbdeexpect(context, ')') < 0 ||
      width < 0 || width > 0xFFFF)
    return kKbdErrKeyExpression;
  const std::size_t n = static_cast<std::size_t>(width);
  if (text.size() >= n) return Result(context, text.substr(0, n));
  std::string fill(n - text.size(), ' ');
  return Result(context, left ? fill + text : text + fill);
}

int16_t PadLeft(KbdExprContext* c) { return Padded(c, true); }
int16_t PadRight(KbdExprContext* c) { return Padded(c, false); }

// Sorted by name in byte order, as the engine requires.
const KbdExtFunction kKeyFunctions[] = {
    {"ALLTRIM(", AllTrim, 8}, {"LTRIM(", LeftTrim, 6},
    {"PADL(", PadLeft, 5},    {"PADR(", PadRight, 5},
    {"RTRIM(", RightTrim, 6}, {"TRIM(", RightTrim, 5},
};

}  // namespace

int16_t StartEngineWithKeyFunctions() {
  return kbdinitx(32767, 4, kKeyFunctions,
                  static_cast<int16_t>(std::size(kKeyFunctions)));
}

}  // namespace qx::qxdb
