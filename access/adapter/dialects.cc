// The dialect table and the families' choices (see dialects.h).
#include "access/adapter/dialects.h"

#include <iterator>

#include "qx/engine.h"

namespace qx::access {
namespace {

// FoxPro 2.0 comes before the Clipper rows: a table both accept opens as
// the FoxPro family, whose memo and index kinds it then gets.
constexpr DialectRow kRows[] = {
    {kKbdDbase3, "dBASE III"},
    {kKbdDbase4, "dBASE IV"},
    {kKbdFoxbase, "FoxBASE"},
    {kKbdFoxpro1, "FoxPro 1.0"},
    {kKbdFoxpro2, "FoxPro 2.0"},
    {kKbdClipper, "Clipper"},
    {kKbdClipper, "Clip Summer 1987"},
    {kKbdClipper5, "Clipper 5.0"},
    {kKbdDbxl, "dBXL/Quicksilver"},
    {kKbdOmnis, "Omnis"},
    {kKbdVisualFoxpro, "Visual FoxPro"},
};

char16_t Lower(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EndsWithIgnoringCase(std::u16string_view text, std::u16string_view end) {
  if (text.size() < end.size()) return false;
  text.remove_prefix(text.size() - end.size());
  for (size_t i = 0; i < end.size(); ++i)
    if (Lower(text[i]) != end[i]) return false;
  return true;
}

}  // namespace

std::span<const DialectRow> DialectRows() { return kRows; }

IndexFamily IndexFamilyOf(XbaseDialect dialect) {
  switch (dialect) {
    case kKbdDbase3:
      return IndexFamily::kNdx;
    case kKbdDbase4:
      return IndexFamily::kMdx;
    case kKbdFoxbase:
      return IndexFamily::kIdx;
    case kKbdFoxpro1:
    case kKbdFoxpro2:
    case kKbdVisualFoxpro:
      return IndexFamily::kCdx;
    case kKbdClipper:
    case kKbdClipper5:
      return IndexFamily::kNtx;
    default:
      return IndexFamily::kNone;
  }
}

bool KeysAreTags(XbaseDialect dialect) {
  const IndexFamily family = IndexFamilyOf(dialect);
  return family == IndexFamily::kMdx || family == IndexFamily::kCdx;
}

XbaseDialect DialectOfIndexPath(std::u16string_view path) {
  // The extension starts at the last dot of the last path component.
  const size_t slash = path.find_last_of(u"/\\:");
  const size_t dot = path.rfind(u'.');
  if (dot == std::u16string_view::npos ||
      (slash != std::u16string_view::npos && dot < slash))
    return kDialectOther;
  const std::u16string_view extension = path.substr(dot);
  if (extension.size() != 4) return kDialectOther;
  if (EndsWithIgnoringCase(extension, u".ndx")) return kKbdDbase3;
  if (EndsWithIgnoringCase(extension, u".mdx")) return kKbdDbase4;
  if (EndsWithIgnoringCase(extension, u".idx")) return kKbdFoxbase;
  if (EndsWithIgnoringCase(extension, u".ntx")) return kKbdClipper;
  if (EndsWithIgnoringCase(extension, u".cdx")) return kKbdVisualFoxpro;
  return kDialectOther;
}

const char* IndexExtension(XbaseDialect dialect) {
  switch (IndexFamilyOf(dialect)) {
    case IndexFamily::kNdx:
      return ".ndx";
    case IndexFamily::kMdx:
      return ".mdx";
    case IndexFamily::kIdx:
      return ".idx";
    case IndexFamily::kCdx:
      return ".cdx";
    case IndexFamily::kNtx:
      return ".ntx";
    case IndexFamily::kNone:
      break;
  }
  return nullptr;
}

}  // namespace qx::access
