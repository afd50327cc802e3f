// The dialect table: (number, name shown to users). "Clip Summer 1987" is
// a second row for dialect 5; the first row of a number is its name.
#include "engine/core/open_mode.h"

#include <iterator>

namespace qx::engine {
namespace {

constexpr KbdDialectName kDialects[] = {
    {kKbdDbase3, "dBASE III"},
    {kKbdDbase4, "dBASE IV"},
    {kKbdFoxbase, "FoxBASE"},
    {kKbdFoxpro1, "FoxPro 1.0"},
    {kKbdClipper, "Clipper"},
    {kKbdClipper, "Clip Summer 1987"},
    {kKbdClipper5, "Clipper 5.0"},
    {kKbdDbxl, "dBXL/Quicksilver"},
    {kKbdFoxpro2, "FoxPro 2.0"},
    {kKbdOmnis, "Omnis"},
    {kKbdVisualFoxpro, "Visual FoxPro"},
};

}  // namespace

const char* DialectName(int dialect) {
  for (const KbdDialectName& row : kDialects)
    if (row.dialect == dialect) return row.name;
  return nullptr;
}

}  // namespace qx::engine

extern "C" const KbdDialectName* kbddialects(int16_t* count) {
  if (count != nullptr)
    *count = static_cast<int16_t>(std::size(qx::engine::kDialects));
  return qx::engine::kDialects;
}
