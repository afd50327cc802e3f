#include "tests/support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qx::testing {

TempDir::TempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "qxtest.XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return path_ + "/" + name;
}

int RunInChild(const std::function<int()>& fn) {
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int rc = 0;
    try {
      rc = fn();
    } catch (...) {
      rc = 254;
    }
    ::_exit(rc & 0xFF);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<int> RunChildrenTogether(int count,
                                     const std::function<int(int)>& fn) {
  std::vector<int> results(count, -1);
  int start[2];
  if (::pipe(start) != 0) return results;
  std::vector<pid_t> pids(count, -1);
  for (int i = 0; i < count; ++i) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(start[1]);
      char go;
      // Blocks until the parent closes its end: every child starts at once.
      while (::read(start[0], &go, 1) > 0) {
      }
      int rc = 0;
      try {
        rc = fn(i);
      } catch (...) {
        rc = 254;
      }
      ::_exit(rc & 0xFF);
    }
    pids[i] = pid;
  }
  ::close(start[0]);
  ::close(start[1]);
  for (int i = 0; i < count; ++i) {
    int status = 0;
    if (pids[i] > 0 && ::waitpid(pids[i], &status, 0) == pids[i] &&
        WIFEXITED(status))
      results[i] = WEXITSTATUS(status);
  }
  return results;
}

ChildProcess::ChildProcess(std::function<int(int step)> fn) {
  int down[2], up[2];
  if (::pipe(down) != 0) return;
  if (::pipe(up) != 0) {
    ::close(down[0]);
    ::close(down[1]);
    return;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(down[1]);
    ::close(up[0]);
    int step;
    while (::read(down[0], &step, sizeof step) == sizeof step) {
      int rc = fn(step);
      if (::write(up[1], &rc, sizeof rc) != sizeof rc) break;
    }
    ::_exit(0);
  }
  ::close(down[0]);
  ::close(up[1]);
  pid_ = pid;
  to_child_ = down[1];
  from_child_ = up[0];
}

ChildProcess::~ChildProcess() {
  if (to_child_ >= 0) ::close(to_child_);
  if (from_child_ >= 0) ::close(from_child_);
  if (pid_ > 0) {
    int status;
    ::waitpid(pid_, &status, 0);
  }
}

int ChildProcess::Run(int step) {
  if (pid_ <= 0) return -1;
  if (::write(to_child_, &step, sizeof step) != sizeof step) return -1;
  int rc;
  if (::read(from_child_, &rc, sizeof rc) != sizeof rc) return -1;
  return rc;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

extern const char kSourceDir[];

std::string SharedDir() {
  const char* dir = std::getenv("QX_SHARED_DIR");
  return dir ? dir : std::string(kSourceDir) + "/../shared";
}

std::string SourceDir() { return kSourceDir; }

}  // namespace qx::testing

#include <iconv.h>

#include <cstdio>

namespace qx::testing {

int RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) output->append(buf, n);
  int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Iconv(const std::string& from, const std::string& to,
           const std::string& in, std::string* out) {
  iconv_t cd = ::iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(in.size() * 4 + 16, '\0');
  char* in_ptr = const_cast<char*>(in.data());
  std::size_t in_left = in.size();
  char* out_ptr = out->data();
  std::size_t out_left = out->size();
  std::size_t rc = ::iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  ::iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1) || in_left != 0) return false;
  out->resize(out->size() - out_left);
  return true;
}

}  // namespace qx::testing
