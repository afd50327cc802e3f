// Packing a memo file (see memo_pack.h). The data file is reached only
// through its public operations (kbdd...), as any other caller would.
#include "engine/memo/memo_pack.h"

#include <cctype>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fileio/swap_journal.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

// File lock mode taken on the data file while packing: the whole lock
// region, so that no other process locks a record or the file meanwhile.
inline constexpr int16_t kPackLockMode = 2;

// Room for the data file's name as it was opened.
inline constexpr uint16_t kNameBytes = 4096;

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

// The journal's patches: for every moved value, the bytes its field holds
// once it has the new block number, at the field's place in the file.
// A field's bytes for a block number depend on nothing else in the record:
// they are set in the record buffer as it stands, with no record read.
int16_t JournalPatches(int16_t dbf, const KbdDbfInfo& info,
                       const std::vector<MovedValue>& moved,
                       std::vector<JournalPatch>* patches) {
  uint8_t* record = nullptr;
  uint16_t record_size = 0;
  int16_t field_count = 0;
  if (int16_t e = kbddrecinfo(dbf, &record, &record_size, &field_count); e < 0)
    return e;
  if (field_count <= 0) return kKbdOk;
  std::vector<KbdFieldDef> fields(static_cast<std::size_t>(field_count));
  uint16_t largest = 0;
  if (int16_t e = kbddfields(dbf, &largest, fields.data()); e < 0) return e;
  // A field starts after the deletion flag and the fields before it.
  std::vector<uint32_t> offsets(fields.size());
  uint32_t running = 1;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    offsets[f] = running;
    running += fields[f].length;
  }
  for (const MovedValue& m : moved) {
    if (int16_t e = kbddsetmemoblock(dbf, m.field, m.block); e < 0) return e;
    const uint32_t at = offsets[static_cast<std::size_t>(m.field)];
    patches->push_back(JournalPatch{
        static_cast<uint32_t>(info.header_size +
                              uint64_t{m.recno - 1} * info.record_size + at),
        std::string(reinterpret_cast<const char*>(record) + at,
                    fields[static_cast<std::size_t>(m.field)].length)});
  }
  return kKbdOk;
}

// Writes the journal of this pack (see swap_journal.h): the patches, the
// data file's record count and sizes as its guard, the memo file's size,
// and the three memo file names.
int16_t WriteJournal(int16_t dbf, const std::string& journal_name,
                     const std::vector<MovedValue>& moved, uint16_t memo_slot,
                     const std::string& work, const std::string& current,
                     const std::string& backup) {
  SwapJournal journal;
  uint32_t count = 0;
  if (int16_t e = kbddreccount(dbf, &count); e < 0) return e;
  KbdDbfInfo info{};
  if (int16_t e = kbddinfo(dbf, &info); e < 0) return e;
  if (int16_t e = JournalPatches(dbf, info, moved, &journal.patches)) return e;
  uint8_t guard[8];
  PutLe32(guard, count);
  PutLe16(guard + 4, info.header_size);
  PutLe16(guard + 6, info.record_size);
  journal.guard_offset = 4;  // the data file header's count and sizes
  journal.guard.assign(reinterpret_cast<char*>(guard), sizeof guard);
  if (int16_t e = FileSize(memo_slot, &journal.current_size)) return e;
  journal.work = work.substr(DirectoryOf(work).size());
  journal.current = current.substr(DirectoryOf(current).size());
  journal.backup = backup.substr(DirectoryOf(backup).size());
  return WriteSwapJournal(journal_name, journal);
}

// Stores the new block numbers in their records (step 4), or with restore
// the old ones.
int16_t RenumberRecords(int16_t dbf, const std::vector<MovedValue>& moved,
                        bool restore = false) {
  for (std::size_t i = 0; i < moved.size();) {
    uint32_t recno = moved[i].recno;
    if (int16_t e = kbddread(dbf, recno); e < 0) return e;
    for (; i < moved.size() && moved[i].recno == recno; ++i)
      if (int16_t e =
              kbddsetmemoblock(dbf, moved[i].field,
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
// reads as before the pack, then the journal and the work file go. When
// either step fails, both stay: the next open of the data file finishes
// the pack from them. Answers error, the first failure.
int16_t RestoreRecords(int16_t dbf, const std::vector<MovedValue>& moved,
                       const std::string& journal, PackResources& resources,
                       int16_t error) {
  if (RunDespiteError([&] {
        if (int16_t e = RenumberRecords(dbf, moved, true)) return e;
        return journal.empty() ? int16_t{kKbdOk} : FileDelete(journal.c_str());
      }) >= 0)
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
  char dbf_name[kNameBytes];
  if (int16_t e = kbddname(dbf_handle, dbf_name, sizeof dbf_name); e < 0)
    return e;
  // The journal lies beside the data file, whose open finishes it; a memo
  // file in another directory is packed without one.
  std::string journal;
  if (DirectoryOf(dbf_name) == DirectoryOf(old_name))
    journal = SwapJournalName(dbf_name);

  std::vector<MovedValue> moved;
  PackResources resources(dbf_handle, ops.kind);
  if (int16_t e = resources.Lock()) return e;
  // A journal left by a pack that was killed and is not finished yet (the
  // data file has been open somewhere ever since): packing again would lose
  // it.
  if (!journal.empty() && FileExists(journal.c_str()))
    return Fail(kKbdErrLockViolation);
  const std::string backup = WithExtension(old_name, kMemoBackupExtension);
  std::string& work_name = resources.work_name();
  {
    // No other process writes a value into the old file while its values
    // are copied (the memo file's operation lock, after the data file's
    // lock; released before the file closes).
    OperationScope memo_scope;
    if (int16_t e = EnterMemoLock(*old_file, &memo_scope, LockKind::kExclusive))
      return e;

    // Step 2: names; step 3: the work file, complete and flushed.
    work_name = FreeWorkName(DirectoryOf(old_name), ops.work_extension);
    if (int16_t e = ops.create_like(work_name.c_str(), *old_file)) return e;
    if (int16_t e =
            ops.open(resources.work_handle(), work_name.c_str(), dialect))
      return e;
    MemoFile* work = CheckMemoHandle(*resources.work_handle(), ops.kind);
    if (work == nullptr) return LastError();
    if (int16_t e = CopyLiveValues(dbf_handle, *old_file, *work, ops, &moved))
      return e;
    resources.CloseWork();
    if (int16_t e = StickyError()) return e;
    // Until here nothing but the work file has changed. A failure to
    // delete an old backup keeps it that way; a missing backup is warning
    // 4.
    if (int16_t e = FileDelete(backup.c_str()); e < 0) return e;
    if (!journal.empty()) {
      if (int16_t e = WriteJournal(dbf_handle, journal, moved, old_file->slot,
                                   work_name, old_name, backup)) {
        RunDespiteError([&] { FileDelete(journal.c_str()); });
        return e;
      }
    }
    // From now on the journal and the work file finish the pack when this
    // process dies; a failure puts the old numbers back instead.
    resources.KeepWork();
    if (moved.empty()) {
      if (int16_t e = MarkDataFileChanged(dbf_handle))
        return RestoreRecords(dbf_handle, moved, journal, resources, e);
    } else if (int16_t e = RenumberRecords(dbf_handle, moved)) {
      return RestoreRecords(dbf_handle, moved, journal, resources, e);
    }
  }
  // Unlocking also flushes the records when writes are not flushed at once.
  resources.Unlock();
  if (int16_t e = StickyError())
    return RestoreRecords(dbf_handle, moved, journal, resources, e);

  // Step 5: swap the files and reopen. Until the work file lies under the
  // old name, a failure puts the records' old numbers back (the old file
  // back under its name first).
  int16_t old_handle = *memo_handle;
  *memo_handle = kKbdNoHandle;
  if (int16_t e = CloseMemoFile(old_handle, ops.kind))
    return RestoreRecords(dbf_handle, moved, journal, resources, e);
  if (int16_t e = FileRename(backup.c_str(), old_name.c_str()))
    return RestoreRecords(dbf_handle, moved, journal, resources, e);
  if (int16_t e = FileRename(old_name.c_str(), work_name.c_str())) {
    if (RunDespiteError([&] {
          return FileRename(old_name.c_str(), backup.c_str());
        }) != kKbdOk)
      return e;  // the journal finishes the swap at the next open
    return RestoreRecords(dbf_handle, moved, journal, resources, e);
  }
  resources.ReleaseWork();
  // The swap is whole; a journal that cannot go is deleted at the next open
  // (it finds no work file).
  if (!journal.empty()) RunDespiteError([&] { FileDelete(journal.c_str()); });
  return ops.open(memo_handle, old_name.c_str(),
                  static_cast<uint16_t>(dialect | kKbdModeShared));
}

}  // namespace qx::engine
