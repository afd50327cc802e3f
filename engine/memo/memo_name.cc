// The memo file naming rule (see memo_name.h) and its public operation.
#include "engine/memo/memo_name.h"

#include <cstring>
#include <string_view>

#include "engine/core/last_error.h"
#include "engine/fileio/file_names.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

struct CompanionExtension {
  std::string_view data;  // lower case, dot included
  std::string_view memo;
};

constexpr CompanionExtension kFoxproCompanions[] = {
    {".scx", ".sct"}, {".vcx", ".vct"}, {".frx", ".frt"}, {".lbx", ".lbt"},
    {".mnx", ".mnt"}, {".pjx", ".pjt"}, {".dbc", ".dct"},
};

constexpr std::string_view kDbtExtension = ".dbt";
constexpr std::string_view kFptExtension = ".fpt";

// ASCII only: names are code-page bytes, whose other letters no rule here
// concerns.
bool IsUpperAscii(char c) { return c >= 'A' && c <= 'Z'; }
char LowerAscii(char c) { return IsUpperAscii(c) ? c - 'A' + 'a' : c; }
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

}  // namespace

bool UsesFptMemo(int dialect) {
  return dialect == kKbdFoxpro1 || dialect == kKbdFoxpro2 ||
         dialect == kKbdVisualFoxpro;
}

std::string MemoFileName(const std::string& data_name, int dialect) {
  std::string base = WithExtension(data_name, "");
  std::string_view extension =
      std::string_view(data_name).substr(base.size());  // "" or ".xyz"
  std::string lower;
  for (char c : extension) lower += LowerAscii(c);
  std::string_view memo = UsesFptMemo(dialect) ? kFptExtension : kDbtExtension;
  if (UsesFptMemo(dialect)) {
    for (const CompanionExtension& c : kFoxproCompanions)
      if (lower == c.data) memo = c.memo;
  }
  bool upper = extension.size() > 1 && IsUpperAscii(extension[1]);
  std::string result = base;
  for (char c : memo) result += upper ? UpperAscii(c) : c;
  return result;
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdmemoname(const char* data_name, uint16_t dialect,
                               char* memo_name, uint16_t size, uint8_t* kind) {
  return RunOperation([&]() -> int16_t {
    if (data_name == nullptr || memo_name == nullptr || kind == nullptr)
      return Fail(kKbdErrNullPointer);
    if (dialect < kKbdDbase3 || dialect > kKbdVisualFoxpro)
      return Fail(kKbdErrCommand);
    std::string name = MemoFileName(data_name, dialect);
    if (name.size() + 1 > size) return Fail(kKbdErrBufferOverflow);
    std::memcpy(memo_name, name.c_str(), name.size() + 1);
    *kind = UsesFptMemo(dialect) ? kKbdKindFpt : kKbdKindDbt;
    return kKbdOk;
  });
}
