// The whole operating-system surface of the project.
//
// Every OS service the engine, the access layer, the component and the host
// tool use goes through this header: files, byte-range locks, profile (INI)
// files, code pages, message formatting, the critical section, process
// identity, the clock and module loading. Callers get Windows semantics
// (per-handle locks that never wait, share modes, GetLastError codes,
// profile integers, code-page 1252/850 conversions), never errno or a file
// descriptor. One backend implements it per OS, platform/posix/ and
// platform/win32/, with the same shape. OS-independent parts (code-page
// tables, the message formatter) live directly in platform/.
//
// Divisions: errors; files; directory search; byte-range locks; profile
// files; text; process, time and modules; critical section.
//
// Names avoid the Windows API names that windows.h turns into macros
// (DeleteFile, MoveFile, FormatMessage, ...), so the Win32 backend can
// include it.
//
// Thread contract: file objects are used by one thread at a time (the
// engine is serialised by its caller); the last-error value is per thread
// as on Windows.
#ifndef QX_PLATFORM_PLATFORM_H_
#define QX_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace qx::platform {

// ---------------------------------------------------------------------------
// Errors

// Windows system error codes as GetLastError reports them. These are the
// only error numbers callers see. Never renumber.
enum WinError : uint32_t {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorInvalidData = 13,
  kErrorWriteProtect = 19,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorSharingViolation = 32,
  kErrorLockViolation = 33,
  kErrorSharingBufferExceeded = 36,
  kErrorNoMoreFiles = 18,
  kErrorHandleEof = 38,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorNegativeSeek = 131,
  kErrorDirNotEmpty = 145,
  kErrorNotLocked = 158,
  kErrorBadPathName = 161,
  kErrorAlreadyExists = 183,
  kErrorFilenameTooLong = 206,
  kErrorModNotFound = 126,
  kErrorProcNotFound = 127,
};

// The calling thread's last OS error (GetLastError). Every platform call
// sets it: 0 on success, a WinError on failure.
uint32_t LastError();
void SetLastError(uint32_t error);

// The C runtime's error number of the last failed delete or rename
// (errno as the Windows C runtime numbers it: 2 not found, 13 access
// denied, 17 exists, ...). The engine's delete and rename report these.
int RuntimeErrno();

// ---------------------------------------------------------------------------
// Files
//
// A File is one open handle: its own file position, its own byte-range
// locks and its own share-mode claim. Names are ANSI text in code page
// 1252 (the "A" functions); the POSIX backend turns them into UTF-8 paths,
// accepts '\' as a separator, and matches each path component without
// regard to case when the exact name does not exist (Windows file names
// are case-insensitive). Offsets are 32-bit: files stay below 4 GiB.

struct File;  // opaque; owned through FileHandle

// Access word of OpenFile. Never renumber: the engine stores these.
enum FileAccess : uint32_t {
  kFileRead = 0x01,           // GENERIC_READ
  kFileWrite = 0x02,          // GENERIC_WRITE
  kFileShareRead = 0x04,      // FILE_SHARE_READ
  kFileShareWrite = 0x08,     // FILE_SHARE_WRITE
  kFileShareBoth = 0x20,      // FILE_SHARE_READ | FILE_SHARE_WRITE
  kFileOpenExisting = 0x8000  // OPEN_EXISTING; else CREATE_ALWAYS
};

// Seek origins of SeekFile.
enum SeekOrigin : int { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

// Opens or creates a file with Windows CreateFileA semantics: access from
// kFileRead/kFileWrite; share mode from the share bits (none: exclusive);
// without kFileOpenExisting the file is created or truncated. Share modes
// are enforced across handles and processes: an open fails with
// kErrorSharingViolation when its access is not allowed by the share mode
// of an open already there, or its share mode does not allow the access of
// one. Returns null on failure with LastError set.
File* OpenFile(const char* name, uint32_t access);

// Closes the handle, releasing its locks and share claim. False for null.
bool CloseFile(File* file);

// ReadFile of count bytes at the file position, which advances by the
// bytes read. With bytes_read null, success needs every byte (a short read
// fails with kErrorHandleEof); with bytes_read given, a short read at end
// of file succeeds and reports the count.
bool ReadFile(File* file, void* buffer, uint32_t count, uint32_t* bytes_read);

// WriteFile of count bytes at the file position; success needs every byte.
// A zero-byte write succeeds.
bool WriteFile(File* file, const void* buffer, uint32_t count);

// Positioned read and write: as ReadFile/WriteFile at offset, leaving the
// position just after the bytes transferred. One system call each.
bool ReadFileAt(File* file, uint32_t offset, void* buffer, uint32_t count,
                uint32_t* bytes_read);
bool WriteFileAt(File* file, uint32_t offset, const void* buffer,
                 uint32_t count);

// SetFilePointer with a 32-bit signed distance; other origins fail with
// kErrorInvalidParameter, a position below 0 with kErrorNegativeSeek.
bool SeekFile(File* file, int32_t distance, int origin, uint32_t* new_position);

// Current position and size (the position is not moved by FileSize).
uint32_t FilePosition(const File* file);
bool FileSize(File* file, uint32_t* size);

// SetEndOfFile: the file ends at the current position.
bool SetEndOfFile(File* file);

// FlushFileBuffers: the file's data reaches the disk (fdatasync on POSIX).
bool FlushFile(File* file);

// DeleteFileA. Fails with kErrorSharingViolation while any handle, of any
// process, has the file open (Windows refuses to delete open files; on
// POSIX this keeps another process from writing into an unlinked file).
bool RemoveFile(const char* name);

// MoveFileA: fails with kErrorAlreadyExists when new_name exists, with
// kErrorSharingViolation while the file is open.
bool RenameFile(const char* old_name, const char* new_name);

// MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, in
// one directory: an existing new_name is replaced in one step (whoever
// opens the name finds the old file or the new one, never none), and the
// change reaches the disk before the call returns. Fails with
// kErrorSharingViolation while old_name is open, with kErrorAccessDenied
// while new_name is open (a file in use cannot be replaced) or is a
// directory.
bool ReplaceFileByRename(const char* old_name, const char* new_name);

// Attribute queries; they do not change LastError.
bool FileExists(const char* name);  // exists and is not a directory
bool DirectoryExists(const char* name);

// The identity of an existing file, whatever name reaches it (Windows:
// volume serial number and file index; POSIX: device and inode), as a
// text fit for a map key. False when the file cannot be reached.
bool FileIdentity(const char* name, std::string* identity);

// ---------------------------------------------------------------------------
// Memory
//
// The heap blocks the engine hands to its callers (HeapAlloc/HeapReAlloc/
// HeapFree of the process heap). Null on failure; a failed reallocation
// leaves the block as it was. FreeMemory accepts null.
void* AllocateMemory(std::size_t size);
void* ReallocateMemory(void* block, std::size_t size);
void FreeMemory(void* block);

// ---------------------------------------------------------------------------
// Directory search (FindFirstFileW / FindNextFileW / FindClose)
//
// A pattern is a directory part, taken as a path as OpenFile takes it
// (case-insensitive components, '\' or '/' separators; empty means the
// current directory), and a file-name part that may hold wildcards: '*'
// matches any run of characters (none included), '?' exactly one; "*.*"
// matches every name, with or without a dot. Names match without regard to
// case, as the platform's file names do. Entries come in the order the
// file system returns them; "." and ".." never come. A Windows search
// returns directories among the files; here they come only when asked.
// Short (8.3) aliases are not matched: "*.dbf" finds no "x.dbfx". No
// system error box is ever shown (the Win32 backend searches with
// critical-error boxes switched off).
// Texts are UTF-16, as the W functions take and give them.

struct FoundFile {
  std::u16string name;  // without directory
  bool is_directory = false;
  uint64_t size = 0;  // bytes; 0 for a directory
};

class FileSearch {
 public:
  FileSearch();
  ~FileSearch();  // FindClose
  FileSearch(const FileSearch&) = delete;
  FileSearch& operator=(const FileSearch&) = delete;

  // FindFirstFileW: starts a search (ending one in progress) and gives its
  // first entry. False with LastError kErrorPathNotFound when the
  // directory cannot be read, kErrorFileNotFound when nothing matches.
  bool First(std::u16string_view pattern, FoundFile* found,
             bool include_directories = false);
  // FindNextFileW: the next entry; false with LastError kErrorNoMoreFiles
  // at the end (and kErrorInvalidHandle without a search started).
  bool Next(FoundFile* found);
  // FindClose; harmless twice.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// SetHandleCount: makes room for at least count open files in this
// process (on POSIX, raises the soft descriptor limit). Idempotent.
void ReserveFileHandles(uint32_t count);

// ---------------------------------------------------------------------------
// Byte-range locks (LockFile / UnlockFile)
//
// Exclusive locks per handle that never wait: a range overlapping one held
// by another handle (of this or another process) fails at once with
// kErrorLockViolation, and so does a range overlapping one this same handle
// holds. UnlockFile must name exactly a range this handle holds, else it
// fails with kErrorNotLocked. Closing a handle releases its locks.
bool LockFile(File* file, uint32_t offset, uint32_t length);
bool UnlockFile(File* file, uint32_t offset, uint32_t length);
// LockFileEx with a shared lock that never waits: shared ranges of any
// number of handles overlap freely, those of one handle included (they
// stack: each UnlockFile releases one); a range overlapping an exclusive
// lock of any handle, this one included, fails with kErrorLockViolation,
// and LockFile of a range overlapping a shared one of any handle fails the
// same way. UnlockFile releases it. Needs read access.
bool LockFileShared(File* file, uint32_t offset, uint32_t length);

// ---------------------------------------------------------------------------
// Profile (INI) files
//
// GetPrivateProfileInt: section and key match without regard to case; the
// default when the file, section or key is missing or the value is empty;
// otherwise the value's leading integer text as Windows reads it (blanks,
// sign, 0x/0o/0b prefixes, digits up to the first other character; no
// digits gives 0). A name without a directory is looked up in the system
// directory, matching the name without regard to case.
uint32_t ProfileInt(std::string_view section, std::string_view key,
                    int32_t default_value, std::string_view file_name);

// The directory where profile files named without a directory are found:
// until one is set, the environment's QX_SYSTEM_DIR, else the Windows
// directory (GetWindowsDirectory) on Windows and "/etc", its stand-in, on
// POSIX. The host tool and tests set it. A UTF-8 path.
void SetSystemDirectory(std::string_view utf8_path);
std::string SystemDirectory();

// ---------------------------------------------------------------------------
// Text
//
// Code page 1252 (ANSI) and 850 (OEM) as a Western European Windows system
// has them. The five bytes 1252 leaves undefined (81 8D 8F 90 9D) map to
// the code points of the same number, as Windows does.

std::u16string AnsiToUtf16(std::string_view ansi);
// Characters outside code page 1252 become default_char; *lossy (if given)
// tells whether that happened.
std::string Utf16ToAnsi(std::u16string_view text, char default_char = '?',
                        bool* lossy = nullptr);

// CharToOemBuffA / OemToCharBuffA over all 256 byte values (static tables;
// characters the other code page lacks take a best-fit byte). src and dst
// may be the same buffer.
void AnsiToOem(const char* src, char* dst, std::size_t count);
void OemToAnsi(const char* src, char* dst, std::size_t count);
// One byte each way (for tables and tests).
uint8_t AnsiToOemByte(uint8_t ansi);
uint8_t OemToAnsiByte(uint8_t oem);

// UTF-8 <-> UTF-16 for the host tool and file names. Invalid input becomes
// U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

// Exact conversions of whole texts in the code pages the host tool reads
// and writes: 1252, the OEM code pages 850 and 437, and UTF-8 (65001).
// Unknown code pages are taken as 1252.
enum CodePage : int {
  kCodePageAnsi = 1252,
  kCodePageOem850 = 850,
  kCodePageOem437 = 437,
  kCodePageUtf8 = 65001,
};
bool IsKnownCodePage(int code_page);
std::u16string DecodeCodePage(std::string_view bytes, int code_page);
// Characters the code page lacks become default_char (*lossy tells).
std::string EncodeCodePage(std::u16string_view text, int code_page,
                           char default_char = '?', bool* lossy = nullptr);

// One insert of FormatMessage: text or a number.
struct MessageArg {
  enum class Kind { kText, kSigned, kUnsigned };
  Kind kind = Kind::kText;
  std::u16string text;
  int64_t number = 0;

  static MessageArg Text(std::u16string_view t);
  static MessageArg Signed(int64_t n);
  static MessageArg Unsigned(uint64_t n);
};

// FormatMessageW over a pattern string with an argument array:
// "%1".."%99" insert argument n (as text, or its decimal number); a
// printf-style format between '!' marks ("%1!s!", "%2!d!", "%1!ld!",
// "%1!u!", "%1!x!") formats it; "%%" is '%', "%n" a line break (CR LF),
// "%0" ends the text, "%t" a tab, "%b" a blank, "%." '.', "%!" '!'. An
// insert number beyond the arguments is left as it stands.
std::u16string FormatMessageText(std::u16string_view pattern,
                                 std::span<const MessageArg> args);

// ---------------------------------------------------------------------------
// Process, time and modules

uint32_t CurrentProcessId();

// Whether the process's standard error is a terminal (a console).
bool StandardErrorIsTerminal();

// Sleep: suspends the calling thread for at least ms milliseconds.
void SleepMilliseconds(uint32_t ms);
// GetTickCount64: milliseconds of a monotonic clock (for deadlines).
uint64_t TickCount();

// The local calendar date (header date stamps).
struct LocalDate {
  int year;   // e.g. 2026
  int month;  // 1..12
  int day;    // 1..31
};
LocalDate Today();

// LoadLibrary / GetProcAddress / FreeLibrary. Paths are UTF-8. A Module* is
// the HMODULE on Windows, the dlopen() handle on POSIX. Null on
// failure with LastError kErrorModNotFound or kErrorProcNotFound.
struct Module;
Module* LoadModule(const char* utf8_path);
void* ModuleSymbol(Module* module, const char* name);
bool UnloadModule(Module* module);
// The module a symbol of the calling library lies in (the component's own
// handle for the entry point).
Module* ModuleOf(const void* address);

// ---------------------------------------------------------------------------
// Critical section: recursive, as a Windows CRITICAL_SECTION.

class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter();
  void Leave();
  bool TryEnter();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Holds a critical section for a scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~CriticalSectionLock() { cs_.Leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& cs_;
};

}  // namespace qx::platform

#endif  // QX_PLATFORM_PLATFORM_H_
