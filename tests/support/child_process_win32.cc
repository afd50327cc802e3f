// Child processes on Windows. There is no fork(): a child is this test
// program started again (CreateProcessW) with a filter naming the one test
// that is running, and an environment telling it which child call of that
// test it is for. The child runs the test from its start; each child call
// it meets before its own is inert; at its own it runs the function and
// ends without returning into the test framework. TempDir hands the child
// its parent's directories in the order the test makes them.
//
// Pipes carry the start signal (end of file once the parent closes its
// end), the steps of a ChildProcess and their results. Only the child's own
// pipe ends are inheritable, and the parent closes its copies of them once
// the child has started, so one child never holds another's pipe open.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/test_support.h"

namespace qx::testing {

namespace {

constexpr char kChildTestVar[] = "QX_CHILD_TEST";      // full test name
constexpr char kChildCallVar[] = "QX_CHILD_CALL";      // child call index
constexpr char kChildArgVar[] = "QX_CHILD_ARG";        // RunChildrenTogether
constexpr char kChildDirsVar[] = "QX_CHILD_TEMPDIRS";  // '|' separated
constexpr char kChildPipesVar[] = "QX_CHILD_PIPES";    // two pipe handles
// What a ChildProcess child says once it has reached its call.
constexpr int kChildReady = 0x52454459;
// The exit code of a killed child: beyond 0..255, so it reads as died.
constexpr UINT kKilledExit = 0x10000;

std::string CurrentTestName() {
  const ::testing::TestInfo* info =
      ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return "";
  return std::string(info->test_suite_name()) + "." + info->name();
}

// What the process knows of the running test: the child calls made so far
// and the directories made (parent) or adopted (child). Reset when another
// test runs. Used from the test's own thread only.
struct TestState {
  std::string test;
  int calls = 0;
  std::vector<std::string> dirs;
  size_t adopted = 0;
};

TestState& State() {
  static TestState* state = new TestState;
  TestState& s = *state;
  const std::string name = CurrentTestName();
  if (name != s.test) {
    s = TestState();
    s.test = name;
  }
  return s;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Whether this process is a child started for the running test.
bool IsChild() {
  const std::string test = Env(kChildTestVar);
  return !test.empty() && test == CurrentTestName();
}

// Takes the next child call index of the running test; answers whether
// this process is the child started for it.
bool ClaimCall() {
  const int index = State().calls++;
  return IsChild() && std::atoi(Env(kChildCallVar).c_str()) == index;
}

HANDLE HandleFromEnv(const std::string& text) {
  return reinterpret_cast<HANDLE>(
      static_cast<intptr_t>(std::strtoll(text.c_str(), nullptr, 10)));
}

std::string HandleText(HANDLE handle) {
  return std::to_string(reinterpret_cast<intptr_t>(handle));
}

// A pipe whose one end (the child's) is inheritable.
bool MakePipe(HANDLE* read_end, HANDLE* write_end, bool child_reads) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  if (!::CreatePipe(read_end, write_end, &inherit, 0)) return false;
  ::SetHandleInformation(child_reads ? *write_end : *read_end,
                         HANDLE_FLAG_INHERIT, 0);
  return true;
}

void CloseIfOpen(HANDLE* handle) {
  if (*handle != nullptr && *handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(*handle);
  }
  *handle = nullptr;
}

// A pipe end kept as intptr_t (-1 when none): closed and forgotten.
void CloseEnd(intptr_t* end) {
  if (*end != -1) ::CloseHandle(reinterpret_cast<HANDLE>(*end));
  *end = -1;
}

// A pipe whose read end the children inherit, kept as two intptr_t.
bool MakeChildReadPipe(intptr_t ends[2]) {
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!MakePipe(&read_end, &write_end, true)) return false;
  ends[0] = reinterpret_cast<intptr_t>(read_end);
  ends[1] = reinterpret_cast<intptr_t>(write_end);
  return true;
}

// Starts the child for call `index` of the running test; the process
// handle, or null. `env` adds variables to the child's environment.
HANDLE StartChild(int index,
                  const std::vector<std::pair<std::string, std::string>>& env) {
  TestState& state = State();
  std::string dirs;
  for (const std::string& dir : state.dirs)
    dirs += (dirs.empty() ? "" : "|") + dir;
  std::vector<std::pair<std::string, std::string>> vars = {
      {kChildTestVar, state.test},
      {kChildCallVar, std::to_string(index)},
      {kChildDirsVar, dirs}};
  vars.insert(vars.end(), env.begin(), env.end());
  for (const auto& [name, value] : vars) {
    ::SetEnvironmentVariableA(name.c_str(), value.c_str());
  }
  wchar_t program[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameW(nullptr, program, MAX_PATH * 4);
  std::wstring command = L"\"" + std::wstring(program, n) +
                         L"\" --gtest_filter=" +
                         std::wstring(state.test.begin(), state.test.end());
  // The child's own test report would only repeat ours: its standard
  // output goes nowhere; its standard error stays ours.
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE null_out =
      ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = null_out;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info = {};
  const BOOL ok = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr,
                                   TRUE, 0, nullptr, nullptr, &startup, &info);
  CloseIfOpen(&null_out);
  for (const auto& [name, value] : vars) {
    ::SetEnvironmentVariableA(name.c_str(), nullptr);
  }
  if (!ok) return nullptr;
  ::CloseHandle(info.hThread);
  return info.hProcess;
}

// The exit status of a finished child: 0..255, -1 when it died otherwise.
int WaitExit(HANDLE process) {
  if (process == nullptr) return -1;
  ::WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  const BOOL ok = ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  return ok && code <= 255 ? static_cast<int>(code) : -1;
}

// Ends the child process with a result; never returns.
[[noreturn]] void EndChild(int rc) {
  std::fflush(nullptr);
  std::_Exit(rc & 0xFF);
}

int RunGuarded(const std::function<int()>& fn) {
  try {
    return fn();
  } catch (...) {
    return 254;
  }
}

bool ReadAll(HANDLE handle, void* buffer, DWORD size) {
  DWORD got = 0;
  return ::ReadFile(handle, buffer, size, &got, nullptr) && got == size;
}

bool WriteAll(HANDLE handle, const void* buffer, DWORD size) {
  DWORD put = 0;
  return ::WriteFile(handle, buffer, size, &put, nullptr) && put == size;
}

}  // namespace

namespace internal {

bool AdoptParentTempDir(std::string* path) {
  if (!IsChild()) return false;
  TestState& state = State();
  const std::string dirs = Env(kChildDirsVar);
  size_t start = 0;
  for (size_t i = 0; start <= dirs.size(); ++i) {
    size_t bar = dirs.find('|', start);
    if (bar == std::string::npos) bar = dirs.size();
    if (i == state.adopted) {
      if (bar == start) return false;
      *path = dirs.substr(start, bar - start);
      ++state.adopted;
      return true;
    }
    start = bar + 1;
  }
  return false;
}

void NoteTempDir(const std::string& path) { State().dirs.push_back(path); }

}  // namespace internal

bool ChildrenShareMemory() { return false; }

bool RunsTestSetUp() { return !IsChild(); }

bool LinuxPeersRunnable() { return false; }

bool CaseSensitiveFileNames() { return false; }

uint16_t ModeForTestReads() { return 0x400; }

std::string UserTag() { return "windows"; }

const char* SystemMathLibrary() { return "msvcrt.dll"; }

std::string DefaultProfileDirectory() {
  wchar_t directory[MAX_PATH + 1];
  const UINT n = ::GetWindowsDirectoryW(directory, MAX_PATH + 1);
  std::string utf8(n * 3 + 1, '\0');
  const int m = ::WideCharToMultiByte(
      CP_UTF8, 0, directory, static_cast<int>(n), utf8.data(),
      static_cast<int>(utf8.size()), nullptr, nullptr);
  utf8.resize(m > 0 ? m : 0);
  return utf8;
}

bool LowerOpenFileLimit(unsigned) { return true; }

unsigned OpenFileHardLimit() { return ~0u; }

bool CreateNewFile(const std::string& path) {
  HANDLE handle =
      ::CreateFileW(Utf8Path(path).c_str(), GENERIC_WRITE, 0, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(handle);
  return true;
}

int CurrentTestProcessId() { return static_cast<int>(::GetCurrentProcessId()); }

void SetEnv(const std::string& name, const std::string& value) {
  ::_putenv_s(name.c_str(), value.c_str());
}

void UnsetEnv(const std::string& name) { ::_putenv_s(name.c_str(), ""); }

int RunInChild(const std::function<int()>& fn) {
  const int index = State().calls;
  if (ClaimCall()) EndChild(RunGuarded(fn));
  // Another child's call, met while running the test again: it answers
  // success, as it did in the parent to get this far.
  if (IsChild()) return 0;
  return WaitExit(StartChild(index, {}));
}

std::vector<int> RunChildrenTogether(int count,
                                     const std::function<int(int)>& fn) {
  std::vector<int> results(count, -1);
  const int index = State().calls;
  if (ClaimCall()) {
    const std::string pipes = Env(kChildPipesVar);
    const size_t comma = pipes.find(',');
    HANDLE go = HandleFromEnv(pipes.substr(0, comma));
    HANDLE ready = HandleFromEnv(pipes.substr(comma + 1));
    char byte = 'r';
    DWORD got;
    WriteAll(ready, &byte, 1);
    ::CloseHandle(ready);
    // Blocks until the parent closes its end: every child starts at once.
    while (::ReadFile(go, &byte, 1, &got, nullptr) && got > 0) {
    }
    const int arg = std::atoi(Env(kChildArgVar).c_str());
    EndChild(RunGuarded([&] { return fn(arg); }));
  }
  // Another child's call, met while running the test again: it answers
  // success, as it did in the parent to get this far.
  if (IsChild()) return std::vector<int>(count, 0);
  HANDLE go_read = nullptr, go_write = nullptr;
  if (!MakePipe(&go_read, &go_write, true)) return results;
  std::vector<HANDLE> children(count, nullptr);
  // One child at a time runs the test's set-up again: each is started once
  // the one before has reached its call.
  for (int i = 0; i < count; ++i) {
    HANDLE ready_read = nullptr, ready_write = nullptr;
    if (!MakePipe(&ready_read, &ready_write, false)) break;
    children[i] =
        StartChild(index, {{kChildArgVar, std::to_string(i)},
                           {kChildPipesVar, HandleText(go_read) + "," +
                                                HandleText(ready_write)}});
    CloseIfOpen(&ready_write);
    char byte;
    ReadAll(ready_read, &byte, 1);
    CloseIfOpen(&ready_read);
  }
  CloseIfOpen(&go_read);
  CloseIfOpen(&go_write);
  for (int i = 0; i < count; ++i) results[i] = WaitExit(children[i]);
  return results;
}

ChildProcess::ChildProcess(std::function<int(int step)> fn) {
  const int index = State().calls;
  if (ClaimCall()) {
    const std::string pipes = Env(kChildPipesVar);
    const size_t comma = pipes.find(',');
    HANDLE in = HandleFromEnv(pipes.substr(0, comma));
    HANDLE out = HandleFromEnv(pipes.substr(comma + 1));
    const int ready = kChildReady;
    if (!WriteAll(out, &ready, sizeof ready)) EndChild(0);
    int step;
    while (ReadAll(in, &step, sizeof step)) {
      const int rc = fn(step);
      if (!WriteAll(out, &rc, sizeof rc)) break;
    }
    EndChild(0);
  }
  if (IsChild()) return;  // another child's object: inert here
  HANDLE down_read = nullptr, down_write = nullptr;
  HANDLE up_read = nullptr, up_write = nullptr;
  if (!MakePipe(&down_read, &down_write, true)) return;
  if (!MakePipe(&up_read, &up_write, false)) {
    CloseIfOpen(&down_read);
    CloseIfOpen(&down_write);
    return;
  }
  HANDLE process = StartChild(
      index,
      {{kChildPipesVar, HandleText(down_read) + "," + HandleText(up_write)}});
  CloseIfOpen(&down_read);
  CloseIfOpen(&up_write);
  if (process == nullptr) {
    CloseIfOpen(&down_write);
    CloseIfOpen(&up_read);
    return;
  }
  pid_ = reinterpret_cast<intptr_t>(process);
  to_child_ = reinterpret_cast<intptr_t>(down_write);
  from_child_ = reinterpret_cast<intptr_t>(up_read);
  // The test goes on only once the child has run its set-up again and
  // reached this call, so the two never do the set-up at the same time.
  int ready = 0;
  if (!ReadAll(up_read, &ready, sizeof ready) || ready != kChildReady) {
    ::CloseHandle(down_write);
    ::CloseHandle(up_read);
    to_child_ = from_child_ = -1;
    WaitExit(process);
    pid_ = -1;
  }
}

ChildProcess::~ChildProcess() {
  if (to_child_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(to_child_));
  if (from_child_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(from_child_));
  if (pid_ != -1) WaitExit(reinterpret_cast<HANDLE>(pid_));
}

int ChildProcess::Run(int step) {
  if (pid_ == -1) return -1;
  if (!WriteAll(reinterpret_cast<HANDLE>(to_child_), &step, sizeof step)) {
    return -1;
  }
  int rc;
  if (!ReadAll(reinterpret_cast<HANDLE>(from_child_), &rc, sizeof rc)) {
    return -1;
  }
  return rc;
}

// A ChildGroup child reaches its Start call like any child; it then says
// it is ready, waits for the start pipe's end of file (Go), and runs. The
// stop pipe is shared by every child: its end of file is the stop request.
// Each child has its own signal pipe.
bool ChildGroup::Context::StopRequested() const {
  DWORD available = 0;
  // Nothing is ever written to the stop pipe: it fails (broken pipe) once
  // the parent has closed its end.
  return !::PeekNamedPipe(reinterpret_cast<HANDLE>(stop_fd_), nullptr, 0,
                          nullptr, &available, nullptr);
}

void ChildGroup::Context::Signal() const {
  const char c = 's';
  if (!WriteAll(reinterpret_cast<HANDLE>(signal_fd_), &c, 1)) EndChild(253);
}

void ChildGroup::Context::Park() const {
  char c;
  DWORD got;
  while (::ReadFile(reinterpret_cast<HANDLE>(stop_fd_), &c, 1, &got, nullptr) &&
         got > 0) {
  }
}

ChildGroup::~ChildGroup() {
  for (size_t i = 0; i < children_.size(); ++i) {
    if (!children_[i].reaped) Kill(static_cast<int>(i));
    Wait(static_cast<int>(i));
  }
  for (intptr_t& end : start_) CloseEnd(&end);
  for (intptr_t& end : stop_) CloseEnd(&end);
}

int ChildGroup::Start(const std::function<int(const Context&)>& fn) {
  const int index = State().calls;
  if (ClaimCall()) {
    const std::string pipes = Env(kChildPipesVar);
    const size_t first = pipes.find(',');
    const size_t second = pipes.find(',', first + 1);
    HANDLE go = HandleFromEnv(pipes.substr(0, first));
    Context context;
    context.stop_fd_ = reinterpret_cast<intptr_t>(
        HandleFromEnv(pipes.substr(first + 1, second - first - 1)));
    context.signal_fd_ =
        reinterpret_cast<intptr_t>(HandleFromEnv(pipes.substr(second + 1)));
    const char ready = 'r';
    if (!WriteAll(reinterpret_cast<HANDLE>(context.signal_fd_), &ready, 1)) {
      EndChild(253);
    }
    char byte;
    DWORD got;
    while (::ReadFile(go, &byte, 1, &got, nullptr) && got > 0) {
    }
    EndChild(RunGuarded([&] { return fn(context); }));
  }
  // Another child's call, met while running the test again: inert.
  if (IsChild()) {
    children_.push_back(Child{});
    return static_cast<int>(children_.size()) - 1;
  }
  if (start_[0] == -1 && !MakeChildReadPipe(start_)) return -1;
  if (stop_[0] == -1 && !MakeChildReadPipe(stop_)) return -1;
  HANDLE signal_read = nullptr, signal_write = nullptr;
  if (!MakePipe(&signal_read, &signal_write, false)) return -1;
  HANDLE process =
      StartChild(index, {{kChildPipesVar, std::to_string(start_[0]) + "," +
                                              std::to_string(stop_[0]) + "," +
                                              HandleText(signal_write)}});
  CloseIfOpen(&signal_write);
  // The parent goes on once the child has run the set-up again and
  // reached this call (its first byte on the signal pipe), so the two
  // never do the set-up at the same time.
  char ready = 0;
  if (process == nullptr || !ReadAll(signal_read, &ready, 1) || ready != 'r') {
    CloseIfOpen(&signal_read);
    if (process != nullptr) {
      ::TerminateProcess(process, kKilledExit);
      WaitExit(process);
    }
    return -1;
  }
  Child child;
  child.pid = reinterpret_cast<intptr_t>(process);
  child.signal_fd = reinterpret_cast<intptr_t>(signal_read);
  children_.push_back(child);
  return static_cast<int>(children_.size()) - 1;
}

void ChildGroup::Go() {
  // Every child has inherited the read end; the parent's copy goes too.
  CloseEnd(&start_[0]);
  CloseEnd(&start_[1]);
}

bool ChildGroup::WaitForSignal(int i) {
  char c;
  return children_[i].signal_fd != -1 &&
         ReadAll(reinterpret_cast<HANDLE>(children_[i].signal_fd), &c, 1);
}

void ChildGroup::Kill(int i) {
  if (!children_[i].reaped && children_[i].pid != -1) {
    ::TerminateProcess(reinterpret_cast<HANDLE>(children_[i].pid), kKilledExit);
  }
}

void ChildGroup::StopAll() { CloseEnd(&stop_[1]); }

int ChildGroup::Wait(int i) {
  Child& child = children_[i];
  if (!child.reaped) {
    child.status =
        child.pid != -1 ? WaitExit(reinterpret_cast<HANDLE>(child.pid)) : -1;
    child.reaped = true;
    child.pid = -1;
    if (child.signal_fd != -1) {
      ::CloseHandle(reinterpret_cast<HANDLE>(child.signal_fd));
    }
    child.signal_fd = -1;
  }
  return child.status;
}

// Shell commands run through the C runtime's command processor.
int RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = ::_popen(command.c_str(), "rb");
  if (pipe == nullptr) return -1;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) output->append(buf, n);
  return ::_pclose(pipe);
}

namespace {

// The Windows code page of an iconv encoding name; 0 when unknown.
UINT CodePageOf(std::string name) {
  for (char& c : name)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "UTF-8" || name == "UTF8") return CP_UTF8;
  if (name == "UTF-16LE") return 1200;
  if (name == "LATIN1" || name == "ISO-8859-1") return 28591;
  if (name == "BIG5") return 950;
  if (name == "GBK") return 936;
  if (name == "ASCII" || name == "US-ASCII") return 20127;
  if (name == "TIS-620") return 874;
  if (name == "KOI8-R") return 20866;
  if (name == "SHIFT_JIS" || name == "SJIS") return 932;
  if (name.rfind("ISO-8859-", 0) == 0) {
    return 28590 + static_cast<UINT>(std::atoi(name.c_str() + 9));
  }
  if (name.rfind("CP", 0) == 0)
    return static_cast<UINT>(std::atoi(name.c_str() + 2));
  if (name.rfind("WINDOWS-", 0) == 0)
    return static_cast<UINT>(std::atoi(name.c_str() + 8));
  return 0;
}

}  // namespace

bool Iconv(const std::string& from, const std::string& to,
           const std::string& in, std::string* out) {
  const UINT from_cp = CodePageOf(from), to_cp = CodePageOf(to);
  if (from_cp == 0 || to_cp == 0) return false;
  out->clear();
  if (in.empty()) return true;
  std::wstring wide;
  // Latin-1 is the first 256 code points, whether or not the system has
  // a table for code page 28591.
  if (from_cp == 28591) {
    for (char c : in)
      wide.push_back(static_cast<wchar_t>(static_cast<uint8_t>(c)));
  } else if (from_cp == 1200) {
    if (in.size() % 2 != 0) return false;
    for (size_t i = 0; i < in.size(); i += 2) {
      wide.push_back(static_cast<wchar_t>(
          static_cast<uint8_t>(in[i]) | static_cast<uint8_t>(in[i + 1]) << 8));
    }
  } else {
    // Strict: a byte the code page leaves undefined is an error, as iconv
    // has it.
    const int wide_n =
        ::MultiByteToWideChar(from_cp, MB_ERR_INVALID_CHARS, in.data(),
                              static_cast<int>(in.size()), nullptr, 0);
    if (wide_n <= 0) return false;
    wide.assign(wide_n, L'\0');
    ::MultiByteToWideChar(from_cp, 0, in.data(), static_cast<int>(in.size()),
                          wide.data(), wide_n);
    if (from_cp == 1252) {
      for (wchar_t c : wide) {
        if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D)
          return false;
      }
    }
  }
  if (to_cp == 28591) {
    for (wchar_t c : wide) {
      if (c > 0xFF) return false;
      out->push_back(static_cast<char>(c));
    }
    return true;
  }
  if (to_cp == 1200) {
    for (wchar_t c : wide) {
      out->push_back(static_cast<char>(c & 0xFF));
      out->push_back(static_cast<char>(c >> 8));
    }
    return true;
  }
  const int wide_n = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  const bool utf8 = to_cp == CP_UTF8;
  // No best fit: a character the code page lacks is a failure.
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n =
      ::WideCharToMultiByte(to_cp, flags, wide.data(), wide_n, nullptr, 0,
                            nullptr, utf8 ? nullptr : &lossy);
  if (n <= 0 || lossy) return false;
  out->assign(n, '\0');
  ::WideCharToMultiByte(to_cp, flags, wide.data(), wide_n, out->data(), n,
                        nullptr, nullptr);
  return true;
}

}  // namespace qx::testing
