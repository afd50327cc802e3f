// File names of the engine's own making (see file_names.h).
#include "engine/fileio/file_names.h"

#include "engine/fileio/file_layer.h"

namespace qx::engine {
namespace {

bool IsSeparator(char c) { return c == ':' || c == '\\' || c == '/'; }

// Position just past the last separator (0 without one).
std::size_t BaseStart(const std::string& name) {
  for (std::size_t i = name.size(); i > 0; --i)
    if (IsSeparator(name[i - 1])) return i;
  return 0;
}

// Position of the extension's dot within the base name, npos without one.
std::size_t ExtensionDot(const std::string& name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot < BaseStart(name))
    return std::string::npos;
  return dot;
}

}  // namespace

std::string DirectoryOf(const std::string& name) {
  return name.substr(0, BaseStart(name));
}

std::string BaseNameOf(const std::string& name) {
  std::size_t start = BaseStart(name);
  std::size_t dot = ExtensionDot(name);
  return name.substr(
      start, dot == std::string::npos ? std::string::npos : dot - start);
}

std::string WithExtension(const std::string& name, const char* ext) {
  std::size_t dot = ExtensionDot(name);
  return (dot == std::string::npos ? name : name.substr(0, dot)) + ext;
}

std::string FreeWorkName(const std::string& dir, const char* ext) {
  for (unsigned n = 0;; ++n) {
    std::string name = dir + std::to_string(n) + ext;
    if (!FileExists(name.c_str())) return name;
  }
}

}  // namespace qx::engine
