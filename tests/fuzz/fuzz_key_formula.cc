// The compound key formula parser of the access layer: the input is a
// formula (code page 1252 text), parsed in both modes for the dBASE,
// Clipper, FoxPro and Visual FoxPro families against a fixed host table,
// with the operands of the chain it gives.
#include <string>
#include <vector>

#include "access/formula/table_key_formula_parser.h"
#include "platform/platform.h"
#include "qx/engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace qx::fuzz;
using namespace qx;
using namespace qx::access;

FileItem Item(const char16_t* name, uint8_t type, uint32_t size,
              uint16_t digits = 0, uint16_t decimals = 0, uint32_t flags = 0) {
  FileItem item;
  item.name = name;
  item.item_type = type;
  item.size = size;
  item.digits = digits;
  item.decimals = decimals;
  item.flags = flags;
  return item;
}

void WriteSeeds(const std::string& dir) {
  const char* const seeds[] = {"NOM+VILLE",
                               "UPPER(NOM)+DTOS(NE)",
                               "STR(MONTANT,10,2)+LEFT(VILLE,3)",
                               "SUBSTR(NOM,2,5)+RIGHT(STREET,4)",
                               "DTOC(NE)+STR(CODE)",
                               "lower(ville)+NOTES",
                               "CLE+123",
                               "UPPER(A+B)",
                               "+",
                               "SUBSTR(NOM,,)"};
  int n = 0;
  for (const char* seed : seeds)
    WriteSeedText(dir, "f" + std::to_string(n++), seed);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MaybeWriteSeeds(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartEngine();
  static std::vector<FileItem> items = {
      Item(u"NOM", kItemText, 21),
      Item(u"VILLE", kItemText, 16),
      Item(u"NE", kItemDate, 9),
      Item(u"MONTANT", kItemReal8, 8, 8, 2),
      Item(u"CODE", kItemInt32, 4, 9),
      Item(u"STREET", kItemText, 11),
      Item(u"NOTES", kItemTextMemo, 8),
      Item(u"CLE", kItemBinary, 0, 0, 0, kItemFlagCompound)};
  static FileDesc file = [] {
    FileDesc made;
    made.name = u"CLIENTS";
    made.items = items.data();
    made.item_count = static_cast<uint32_t>(items.size());
    return made;
  }();
  static HostFileFields fields(&file);
  const std::u16string formula = qx::platform::AnsiToUtf16(
      std::string_view(reinterpret_cast<const char*>(data), size));
  const int32_t dialects[] = {kKbdDbase3, kKbdDbase4, kKbdClipper, kKbdFoxpro2,
                              kKbdVisualFoxpro};
  for (int32_t dialect : dialects) {
    for (bool strict : {false, true}) {
      TableKeyFormulaParser parser;
      parser.Parse(0, dialect, &fields, formula, strict);
      parser.Operands();
      (void)parser.messages();
    }
  }
  return 0;
}
