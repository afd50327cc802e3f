// Child processes on POSIX: fork() runs the caller's function in a copy of
// the test process; pipes carry the start signal, steps and results.
#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "tests/support/test_support.h"

namespace qx::testing {

namespace internal {

// A forked child has its parent's memory: nothing to adopt.
bool AdoptParentTempDir(std::string*) { return false; }
void NoteTempDir(const std::string&) {}

}  // namespace internal

bool ChildrenShareMemory() { return true; }

bool RunsTestSetUp() { return true; }

bool LinuxPeersRunnable() { return true; }

bool CaseSensitiveFileNames() { return true; }

uint16_t ModeForTestReads() { return 0; }

std::string UserTag() { return std::to_string(::getuid()); }

const char* SystemMathLibrary() { return "libm.so.6"; }

std::string DefaultProfileDirectory() { return "/etc"; }

unsigned OpenFileHardLimit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > ~0u) return ~0u;
  return static_cast<unsigned>(limit.rlim_max);
}

bool CreateNewFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool LowerOpenFileLimit(unsigned count) {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  limit.rlim_cur = count;
  return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

int CurrentTestProcessId() { return static_cast<int>(::getpid()); }

void SetEnv(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnv(const std::string& name) { ::unsetenv(name.c_str()); }

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

bool ChildGroup::Context::StopRequested() const {
  struct pollfd p = {static_cast<int>(stop_fd_), POLLIN, 0};
  // The stop pipe becomes readable (end of file) once the parent closes
  // its write end.
  return ::poll(&p, 1, 0) > 0;
}

void ChildGroup::Context::Signal() const {
  const char c = 's';
  if (::write(static_cast<int>(signal_fd_), &c, 1) != 1) ::_exit(253);
}

void ChildGroup::Context::Park() const {
  char c;
  while (::read(static_cast<int>(stop_fd_), &c, 1) > 0) {
  }
}

ChildGroup::~ChildGroup() {
  for (size_t i = 0; i < children_.size(); ++i) {
    if (!children_[i].reaped) Kill(static_cast<int>(i));
    Wait(static_cast<int>(i));
  }
  for (intptr_t fd : {start_[0], start_[1], stop_[0], stop_[1]})
    if (fd >= 0) ::close(static_cast<int>(fd));
}

namespace {

// A pipe kept in a pair of intptr_t (the handles' type on Windows).
bool OpenPipe(intptr_t ends[2]) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  ends[0] = fds[0];
  ends[1] = fds[1];
  return true;
}

}  // namespace

int ChildGroup::Start(const std::function<int(const Context&)>& fn) {
  if (start_[0] < 0 && !OpenPipe(start_)) return -1;
  if (stop_[0] < 0 && !OpenPipe(stop_)) return -1;
  int signal[2];
  if (::pipe(signal) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(signal[0]);
    ::close(signal[1]);
    return -1;
  }
  if (pid == 0) {
    // Only this child's ends stay open: end of file on the start and stop
    // pipes must come from the parent alone.
    ::close(static_cast<int>(start_[1]));
    ::close(static_cast<int>(stop_[1]));
    ::close(signal[0]);
    for (const Child& other : children_)
      ::close(static_cast<int>(other.signal_fd));
    char go;
    while (::read(static_cast<int>(start_[0]), &go, 1) > 0) {
    }
    Context context;
    context.stop_fd_ = stop_[0];
    context.signal_fd_ = signal[1];
    int rc = 0;
    try {
      rc = fn(context);
    } catch (...) {
      rc = 254;
    }
    ::_exit(rc & 0xFF);
  }
  ::close(signal[1]);
  children_.push_back(Child{pid, signal[0]});
  return static_cast<int>(children_.size()) - 1;
}

void ChildGroup::Go() {
  if (start_[1] >= 0) ::close(static_cast<int>(start_[1]));
  start_[1] = -1;
}

bool ChildGroup::WaitForSignal(int i) {
  char c;
  return ::read(static_cast<int>(children_[i].signal_fd), &c, 1) == 1;
}

void ChildGroup::Kill(int i) {
  if (!children_[i].reaped)
    ::kill(static_cast<pid_t>(children_[i].pid), SIGKILL);
}

void ChildGroup::StopAll() {
  if (stop_[1] >= 0) ::close(static_cast<int>(stop_[1]));
  stop_[1] = -1;
}

int ChildGroup::Wait(int i) {
  Child& child = children_[i];
  if (!child.reaped) {
    int status = 0;
    const pid_t pid = static_cast<pid_t>(child.pid);
    if (::waitpid(pid, &status, 0) == pid)
      child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    child.reaped = true;
    ::close(static_cast<int>(child.signal_fd));
    child.signal_fd = -1;
  }
  return child.status;
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
  if (to_child_ >= 0) ::close(static_cast<int>(to_child_));
  if (from_child_ >= 0) ::close(static_cast<int>(from_child_));
  if (pid_ > 0) {
    int status;
    ::waitpid(static_cast<pid_t>(pid_), &status, 0);
  }
}

int ChildProcess::Run(int step) {
  if (pid_ <= 0) return -1;
  if (::write(static_cast<int>(to_child_), &step, sizeof step) != sizeof step)
    return -1;
  int rc;
  if (::read(static_cast<int>(from_child_), &rc, sizeof rc) != sizeof rc)
    return -1;
  return rc;
}

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
