// Test-only helpers: temporary directories and child processes. The one
// place outside platform/ that includes OS headers, because tests must
// prove behaviour between processes.
//
// Child processes: on POSIX a child is a fork() of the test process and
// runs the given function in a copy of the parent's memory. Windows has no
// fork(): there the child is the test program started again (CreateProcess)
// on the same one test; it runs the test from its start, taking its
// parent's temporary directories (TempDir) in the order the test makes
// them, and when it reaches the same child call it runs the function and
// ends; the parent waits until then, so no two processes run the set-up at
// once. So what the test does before a child call must be repeatable
// (create the directory, compute the same values), and a set-up that must
// run once (files the children then change) goes under RunsTestSetUp().
#ifndef QX_TESTS_SUPPORT_TEST_SUPPORT_H_
#define QX_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <cstdint>
#include <filesystem>
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
  bool owned_ = true;  // removed at the end; a child's adopted copy is not
};

// True where a child starts as a copy of the parent (fork), so a test's
// set-up runs once; false on Windows, where the child runs the test again.
bool ChildrenShareMemory();

// False only in a Windows child running its test again to reach its child
// call: the files the test's set-up made are there already, in the
// parent's directories, and may have been changed since.
bool RunsTestSetUp();

// The process id of the calling test process (getpid, GetCurrentProcessId).
int CurrentTestProcessId();

// setenv / unsetenv of the calling process.
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// Runs fn in a forked child and returns its result (0..255), or -1 when
// the child died. The child never returns into the test framework.
int RunInChild(const std::function<int()>& fn);

// Runs fn(0) .. fn(count - 1) in count forked children at the same time;
// they start together (released by one pipe once all exist) and the
// results come back in order (-1 for a child that died).
std::vector<int> RunChildrenTogether(int count,
                                     const std::function<int(int)>& fn);

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
    intptr_t stop_fd_ = -1;  // descriptor, or pipe handle on Windows
    intptr_t signal_fd_ = -1;
  };

  ChildGroup() = default;
  ~ChildGroup();  // kills and reaps every child still running
  ChildGroup(const ChildGroup&) = delete;
  ChildGroup& operator=(const ChildGroup&) = delete;

  // Starts a child that waits for Go(), then exits with fn(context) & 0xFF
  // (254 when fn throws); answers its index, -1 when it could not start.
  int Start(const std::function<int(const Context&)>& fn);
  void Go();
  // Blocks until child i signals; false when it exited first.
  bool WaitForSignal(int i);
  void Kill(int i);  // SIGKILL; TerminateProcess on Windows
  void StopAll();
  // Waits for child i: its exit status, -1 when it died of a signal.
  int Wait(int i);

 private:
  struct Child {
    intptr_t pid = -1;        // pid, or the process handle on Windows
    intptr_t signal_fd = -1;  // read end of the child's signal pipe
    bool reaped = false;
    int status = -1;
  };
  std::vector<Child> children_;
  intptr_t start_[2] = {-1, -1};
  intptr_t stop_[2] = {-1, -1};
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
  intptr_t pid_ = -1;       // pid, or the process handle on Windows
  intptr_t to_child_ = -1;  // descriptor, or pipe handle on Windows
  intptr_t from_child_ = -1;
};

// A path from UTF-8 text (the tests' file names are UTF-8 on every system).
std::filesystem::path Utf8Path(const std::string& utf8);

// Lowers the calling process's limit of open files to `count` where the
// system has one (POSIX: the soft RLIMIT_NOFILE); false when it cannot.
// Windows has no such limit: nothing to do.
bool LowerOpenFileLimit(unsigned count);
// The hard limit of open files; the largest unsigned where there is none.
unsigned OpenFileHardLimit();

// Creates a file that must not exist yet (O_EXCL, CREATE_NEW); false when
// it exists or cannot be made.
bool CreateNewFile(const std::string& path);

// Whether Linux programs (the peers: python3-dbf, dbfread, Perl XBase,
// Xbase64, Harbour) can run here; the message tests skip with otherwise.
bool LinuxPeersRunnable();
// The user running the tests, as a name fit for a file name (POSIX: the
// numeric user id).
std::string UserTag();
inline constexpr const char kNoLinuxPeers[] =
    "the peer is a Linux program; the Windows build does not run it";

// The open-mode bit a test adds to an engine open when it reads the file
// with its own handle while the engine has it open: none on POSIX, which
// has no share modes; the engine's shared bit (0x400) on Windows, which
// closes a file opened without sharing to every other handle. The engine
// writes the same bytes in both modes.
uint16_t ModeForTestReads();

// Whether two names differing only in case are two files (POSIX), or one
// (Windows).
bool CaseSensitiveFileNames();

// A shared library of the system with the C function cos(), for module
// loading tests.
const char* SystemMathLibrary();

// The default directory of profile files: "/etc" on POSIX, the Windows
// directory on Windows.
std::string DefaultProfileDirectory();

// Reads a whole file; empty when missing.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

// The shared/ folder beside the checkout (fixtures, peers notes).
std::string SharedDir();
// The checkout itself (test inputs kept beside the tests).
std::string SourceDir();

namespace internal {

// The seams between TempDir and the child machinery: a child that runs its
// test again takes its parent's next directory (true) instead of making
// one; a parent notes every directory it makes for the children it starts.
bool AdoptParentTempDir(std::string* path);
void NoteTempDir(const std::string& path);

}  // namespace internal

// Runs a shell command, capturing its standard output; answers its exit
// status (-1 when it could not run).
int RunCommand(const std::string& command, std::string* output);

// Converts text between encodings with the system's iconv; false when
// the text cannot be converted.
bool Iconv(const std::string& from, const std::string& to,
           const std::string& in, std::string* out);

}  // namespace qx::testing

#endif  // QX_TESTS_SUPPORT_TEST_SUPPORT_H_
