// Packing a memo file (see memo_pack.h). The data file is reached only
// through its public operations (kbdd...), as any other caller would.
#include "engine/memo/memo_pack.h"

#include <cctype>
#include <string>
#include <vector>

#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

// File lock mode taken on the data file while packing: the whole lock
// region, so that no other process locks a record or the file meanwhile.
inline constexpr int16_t kPackLockMode = 2;

// A memo field of a live record, the block its value got in the work file
// and the block it had in the old file (put back when the pack fails).
struct MovedValue {
  uint32_t recno;
  int16_t field;
  uint32_t block;
  uint32_t old_block;
};

// Fields that hold memo block numbers: M, P (pictures), G (general), W
// (blobs), and B (binary) outside Visual FoxPro, where B is a double.
bool IsMemoField(uint16_t type, int16_t dialect) {
  int t = std::toupper(type & 0xFF);
  return t == 'M' || t == 'P' || t == 'G' || t == 'W' ||
         (t == 'B' && dialect != kKbdVisualFoxpro);
}

// Owns the data file lock and the work file while pack runs; what it
// still holds at the end is released (the work file closed and, unless
// kept, deleted), even with an error pending.
class PackResources {
 public:
  PackResources(int16_t dbf_handle, uint8_t kind)
      : dbf_handle_(dbf_handle), kind_(kind) {}
  ~PackResources() {
    if (locked_)
      RunDespiteError([this] { kbddunlock(dbf_handle_, kPackLockMode); });
    CloseWork();
    if (!work_name_.empty() && !keep_work_)
      RunDespiteError([this] { FileDelete(work_name_.c_str()); });
  }
  PackResources(const PackResources&) = delete;
  PackResources& operator=(const PackResources&) = delete;

  int16_t Lock() {
    int16_t status = kbddlock(dbf_handle_, kPackLockMode);
    if (status < 0) return status;
    locked_ = true;
    return kKbdOk;
  }
  void Unlock() {
    if (locked_) kbddunlock(dbf_handle_, kPackLockMode);
    locked_ = false;
  }
  void CloseWork() {
    if (work_handle_ == kKbdNoHandle) return;
    int16_t h = work_handle_;
    work_handle_ = kKbdNoHandle;
    RunDespiteError([h, this] { CloseMemoFile(h, kind_); });
  }

  std::string& work_name() { return work_name_; }
  int16_t* work_handle() { return &work_handle_; }
  // From now on the work file outlives a failure (records point into it).
  void KeepWork() { keep_work_ = true; }
  // The records point into the old file again: the work file can go.
  void DropWork() { keep_work_ = false; }
  // The work file became the memo file: nothing of it to clean up.
  void ReleaseWork() { work_name_.clear(); }

 private:
  int16_t dbf_handle_;
  uint8_t kind_;
  bool locked_ = false;
  std::string work_name_;
  int16_t work_handle_ = kKbdNoHandle;
  bool keep_work_ = false;
};

// Copies the values of the live records into the work file (step 3).
int16_t CopyLiveValues(int16_t dbf, MemoFile& old_file, MemoFile& work,
                       const MemoKindOps& ops, std::vector<MovedValue>* moved) {
  uint8_t* record = nullptr;
  uint16_t record_size = 0;
  int16_t field_count = 0;
  if (int16_t e = kbddrecinfo(dbf, &record, &record_size, &field_count); e < 0)
    return e;
  if (field_count <= 0) return kKbdOk;  // no field, no memo reference
  std::vector<KbdFieldDef> fields(static_cast<std::size_t>(field_count));
  uint16_t largest = 0;
  if (int16_t e = kbddfields(dbf, &largest, fields.data()); e < 0) return e;
  uint32_t count = 0;
  if (int16_t e = kbddreccount(dbf, &count); e < 0) return e;
  KbdDbfInfo info{};
  if (int16_t e = kbddinfo(dbf, &info); e < 0) return e;
  for (uint32_t recno = 1; recno <= count; ++recno) {
    if (int16_t e = kbddread(dbf, recno); e < 0) return e;
    int16_t deleted = kbddisdeleted(dbf);
    if (deleted < 0) return deleted;
    if (deleted == 1) continue;  // keeps its old numbers, values dropped
    for (int16_t f = 0; f < field_count; ++f) {
      if (!IsMemoField(fields[f].type, info.dialect)) continue;
      uint32_t block = 0;
      if (int16_t e = kbddmemoblock(dbf, f, &block); e < 0) return e;
      if (block == 0) continue;
      MemoValue value;
      if (int16_t e = ops.read(old_file, block, &value)) return e;
      uint32_t new_block = 0;
      if (int16_t e = ops.append(work, value, &new_block)) return e;
      moved->push_back(MovedValue{recno, f, new_block, block});
    }
  }
  return kKbdOk;
}

// Stores the new block numbers in their records (step 4), or with restore
// the old ones.
int16_t RenumberRecords(int16_t dbf, const std::vector<MovedValue>& moved,
                        bool restore = false) {
  for (std::size_t i = 0; i < moved.size();) {
    uint32_t recno = moved[i].recno;
    if (int16_t e = kbddread(dbf, recno); e < 0) return e;
    for (; i < moved.size() && moved[i].recno == recno; ++i)
      if (int16_t e = kbddsetmemoblock(
              dbf, moved[i].field,
              restore ? moved[i].old_block : moved[i].block);
          e < 0)
        return e;
    if (int16_t e = kbddwrite(dbf, &recno, kKbdWriteRewrite); e < 0) return e;
  }
  return kKbdOk;
}

// Sets the data file's changed flag when no record was rewritten (a
// rewrite sets it): deleting a deleted record, or recalling a live one,
// changes nothing else.
int16_t MarkDataFileChanged(int16_t dbf) {
  uint32_t count = 0;
  if (int16_t e = kbddreccount(dbf, &count); e < 0) return e;
  KbdDbfInfo info{};
  if (int16_t e = kbddinfo(dbf, &info); e < 0) return e;
  if (count == 0) return kKbdOk;
  if (int16_t e = kbddread(dbf, 1); e < 0) return e;
  int16_t status =
      kbddisdeleted(dbf) == 1 ? kbdddelete(dbf, 1) : kbddrecall(dbf, 1);
  return status < 0 ? status : int16_t{kKbdOk};
}

// After a failure of step 4 or 5 while the old memo file still lies under
// its name: the records get their old block numbers back, so the table
// reads as before the pack, and the work file goes. When that fails too,
// the work file stays for recovery. Answers error, the first failure.
int16_t RestoreRecords(int16_t dbf, const std::vector<MovedValue>& moved,
                       PackResources& resources, int16_t error) {
  if (RunDespiteError([&] { return RenumberRecords(dbf, moved, true); }) ==
      kKbdOk)
    resources.DropWork();
  return error;
}

}  // namespace

int16_t PackMemoFile(int16_t dbf_handle, int16_t* memo_handle,
                     const MemoKindOps& ops) {
  if (memo_handle == nullptr) return Fail(kKbdErrNullPointer);
  MemoFile* old_file = CheckMemoHandle(*memo_handle, ops.kind);
  if (old_file == nullptr) return LastError();
  if (old_file->read_only()) return Fail(kKbdErrReadOnly);
  const std::string old_name = old_file->name;
  const uint8_t dialect = old_file->dialect;

  std::vector<MovedValue> moved;
  PackResources resources(dbf_handle, ops.kind);
  if (int16_t e = resources.Lock()) return e;
  const std::string backup = WithExtension(old_name, kMemoBackupExtension);
  std::string& work_name = resources.work_name();
  {
    // No other process writes a value into the old file while its values
    // are copied (the memo file's operation lock, after the data file's
    // lock; released before the file closes).
    OperationScope memo_scope;
    if (int16_t e =
            EnterMemoLock(*old_file, &memo_scope, LockKind::kExclusive))
      return e;

    // Step 2: names; step 3: the work file.
    work_name = FreeWorkName(DirectoryOf(old_name), ops.work_extension);
    if (int16_t e = ops.create_like(work_name.c_str(), *old_file)) return e;
    if (int16_t e =
            ops.open(resources.work_handle(), work_name.c_str(), dialect))
      return e;
    MemoFile* work = CheckMemoHandle(*resources.work_handle(), ops.kind);
    if (work == nullptr) return LastError();

    if (int16_t e =
            CopyLiveValues(dbf_handle, *old_file, *work, ops, &moved))
      return e;
    // Until here nothing but the work file has changed. A failure to
    // delete an old backup keeps it that way; a missing backup is warning
    // 4.
    if (int16_t e = FileDelete(backup.c_str()); e < 0) return e;
    if (moved.empty()) {
      if (int16_t e = MarkDataFileChanged(dbf_handle)) return e;
    } else {
      resources.KeepWork();
      if (int16_t e = RenumberRecords(dbf_handle, moved))
        return RestoreRecords(dbf_handle, moved, resources, e);
    }
  }
  resources.Unlock();

  // Step 5: swap the files and reopen.
  // Until the work file lies under the old name, a failure puts the
  // records' old numbers back (the old file back under its name first).
  resources.CloseWork();
  if (int16_t e = StickyError())
    return RestoreRecords(dbf_handle, moved, resources, e);
  int16_t old_handle = *memo_handle;
  *memo_handle = kKbdNoHandle;
  if (int16_t e = CloseMemoFile(old_handle, ops.kind))
    return RestoreRecords(dbf_handle, moved, resources, e);
  if (int16_t e = FileRename(backup.c_str(), old_name.c_str()))
    return RestoreRecords(dbf_handle, moved, resources, e);
  if (int16_t e = FileRename(old_name.c_str(), work_name.c_str())) {
    if (RunDespiteError([&] {
          return FileRename(old_name.c_str(), backup.c_str());
        }) != kKbdOk)
      return e;  // the old file stays as the backup, the work file kept
    return RestoreRecords(dbf_handle, moved, resources, e);
  }
  resources.ReleaseWork();
  return ops.open(memo_handle, old_name.c_str(),
                  static_cast<uint16_t>(dialect | kKbdModeShared));
}

}  // namespace qx::engine
