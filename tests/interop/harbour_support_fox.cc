// The Harbour peer for interop tests (see harbour_support_fox.h).
#include "tests/interop/harbour_support_fox.h"

#include <filesystem>
#include <sstream>

#include "tests/support/test_support.h"

namespace qx::testing {
namespace {

// A word for the shell, in single quotes.
std::string Quoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

}  // namespace

bool HarbourAvailable() { return std::filesystem::exists(kHarbourMake); }

bool HarbourProgram::Compile(const std::string& dir, const std::string& name,
                             const std::string& source, std::string* log) {
  dir_ = dir;
  binary_ = dir + "/" + name;
  WriteWholeFile(binary_ + ".prg", source);
  // -gtcgi: plain standard output, no terminal codes.
  const std::string command = "cd " + Quoted(dir) + " && " + kHarbourMake +
                              " -q -gtcgi " + Quoted(name + ".prg") + " -o" +
                              Quoted(name) + " 2>&1";
  return RunCommand(command, log) == 0 && std::filesystem::exists(binary_);
}

int HarbourProgram::Run(const std::vector<std::string>& args,
                        std::string* out) const {
  std::string command = "cd " + Quoted(dir_) + " && " + Quoted(binary_);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  return RunCommand(command + " 2>&1", out);
}

std::vector<std::string> OutputLines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace qx::testing
