// Test-only helpers: temporary directories and child processes. The one
// place outside platform/ that includes OS headers, because tests must
// prove behaviour between processes.
#ifndef QX_TESTS_SUPPORT_TEST_SUPPORT_H_
#define QX_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qx::testing {

// A fresh directory under the system temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Runs fn in a forked child and returns its result (0..255), or -1 when
// the child died. The child never returns into the test framework.
int RunInChild(const std::function<int()>& fn);

// Runs fn(0) .. fn(count - 1) in count forked children at the same time;
// they start together (released by one pipe once all exist) and the
// results come back in order (-1 for a child that died).
std::vector<int> RunChildrenTogether(int count, const std::function<int(int)>& fn);

// Children that run at the same time, each told by pipes when to start and
// when to stop (no sleeps): the parent starts them with Start(), releases
// them all at once with Go(), and may wait for a child's signal, kill it,
// ask every child to stop, and collect exit statuses. A child never
// returns into the test framework.
class ChildGroup {
 public:
  // What a running child can do.
  class Context {
   public:
    // True once the parent has called StopAll().
    bool StopRequested() const;
    // Wakes the parent's WaitForSignal(this child).
    void Signal() const;
    // Blocks until the process is killed or the parent stops everyone.
    void Park() const;

   private:
    friend class ChildGroup;
    int stop_fd_ = -1;
    int signal_fd_ = -1;
  };

  ChildGroup() = default;
  ~ChildGroup();  // kills and reaps every child still running
  ChildGroup(const ChildGroup&) = delete;
  ChildGroup& operator=(const ChildGroup&) = delete;

  // Forks a child that waits for Go(), then exits with fn(context) & 0xFF
  // (254 when fn throws); answers its index, -1 when fork failed.
  int Start(const std::function<int(const Context&)>& fn);
  void Go();
  // Blocks until child i signals; false when it exited first.
  bool WaitForSignal(int i);
  void Kill(int i);  // SIGKILL
  void StopAll();
  // Waits for child i: its exit status, -1 when it died of a signal.
  int Wait(int i);

 private:
  struct Child {
    int pid = -1;
    int signal_fd = -1;  // read end of the child's signal pipe
    bool reaped = false;
    int status = -1;
  };
  std::vector<Child> children_;
  int start_[2] = {-1, -1};
  int stop_[2] = {-1, -1};
};

// A child that runs step by step in lockstep with the parent, synchronised
// by pipes (no sleeps): the parent sends a step number, the child runs
// fn(step) and answers its result.
class ChildProcess {
 public:
  explicit ChildProcess(std::function<int(int step)> fn);
  ~ChildProcess();  // ends the child
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  int Run(int step);  // -1 when the child is gone

 private:
  int pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
};

// Reads a whole file; empty when missing.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

// The shared/ folder beside the checkout (fixtures, peers notes).
std::string SharedDir();
// The checkout itself (test inputs kept beside the tests).
std::string SourceDir();

}  // namespace qx::testing


namespace qx::testing {

// Runs a shell command, capturing its standard output; answers its exit
// status (-1 when it could not run).
int RunCommand(const std::string& command, std::string* output);

// Converts text between encodings with the system's iconv; false when
// the text cannot be converted.
bool Iconv(const std::string& from, const std::string& to,
           const std::string& in, std::string* out);

}  // namespace qx::testing

#endif  // QX_TESTS_SUPPORT_TEST_SUPPORT_H_
