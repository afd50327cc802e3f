// Compiling and running Harbour test programs (see harbour_peer.h).
#include "tests/interop/harbour_peer.h"

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "tests/support/test_support.h"

namespace qx::testing {
namespace {

namespace fs = std::filesystem;

std::string Prefix() {
  const char* prefix = std::getenv("HARBOUR_PREFIX");
  return prefix != nullptr && *prefix != '\0' ? prefix : "/opt/harbour";
}

// Single-quoted for the shell.
std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

bool IsExecutable(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  return !ec && fs::is_regular_file(status) &&
         (status.permissions() & fs::perms::owner_exec) != fs::perms::none;
}

}  // namespace

std::string HarbourPeer::Missing() {
  if (!LinuxPeersRunnable()) return kNoLinuxPeers;
  std::string hbmk2 = Prefix() + "/bin/hbmk2";
  if (!IsExecutable(hbmk2))
    return "Harbour is not built (" + hbmk2 + " missing; make test builds it)";
  return "";
}

bool HarbourPeer::Required() {
  if (!LinuxPeersRunnable()) return false;
  const char* required = std::getenv("QX_REQUIRE_HARBOUR");
  return required != nullptr && *required != '\0' && *required != '0';
}

bool HarbourPeer::Compile(const std::string& prg_path, std::string* error) {
  std::string source = ReadWholeFile(prg_path);
  if (source.empty()) {
    *error = "cannot read " + prg_path;
    return false;
  }
  return CompileSource(fs::path(prg_path).stem().string(), source, error);
}

bool HarbourPeer::CompileSource(const std::string& stem,
                                const std::string& source, std::string* error) {
  // One cached binary per program text, so that tests running at the same
  // time share the compilation and a changed program is compiled anew.
  fs::path cache =
      fs::temp_directory_path() / ("qx-harbour-" + UserTag()) /
      (stem + "-" + std::to_string(std::hash<std::string>{}(source)));
  binary_ = (cache / stem).string();
  if (IsExecutable(binary_)) return true;

  std::error_code ec;
  fs::create_directories(cache.parent_path(), ec);
  TempDir work;
  std::string prg = work.File(stem + ".prg");
  WriteWholeFile(prg, source);
  std::string command = "cd " + Quote(work.path()) + " && " +
                        Quote(Prefix() + "/bin/hbmk2") + " -q -gtcgi " +
                        Quote(prg) + " -o" + Quote(work.File(stem)) + " 2>&1";
  std::string output;
  if (RunCommand(command, &output) != 0) {
    *error = output;
    return false;
  }
  // Publish the whole directory at once: a rename that finds another
  // test's copy there already leaves that one in place.
  fs::path staged =
      cache.string() + ".tmp" + std::to_string(CurrentTestProcessId());
  fs::create_directories(staged, ec);
  fs::copy_file(work.File(stem), staged / stem, ec);
  if (!ec) fs::rename(staged, cache, ec);
  fs::remove_all(staged, ec);
  if (!IsExecutable(binary_)) {
    *error = "cannot place the compiled program in " + cache.string();
    return false;
  }
  return true;
}

int HarbourPeer::Run(const std::string& cwd,
                     const std::vector<std::string>& args,
                     std::string* output) const {
  std::string command = "cd " + Quote(cwd) + " && " + Quote(binary_);
  for (const std::string& arg : args) command += " " + Quote(arg);
  return RunCommand(command + " 2>&1", output);
}

}  // namespace qx::testing
