// The roll-forward journal (see swap_journal.h).
#include "engine/fileio/swap_journal.h"

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fileio/file_names.h"

namespace qx::engine {
namespace {

inline constexpr char kMagic[] = "QXSJ";
inline constexpr uint32_t kVersion = 1;
inline constexpr uint32_t kMaxGuard = 64;
inline constexpr uint16_t kModeReadShared = kKbdModeReadOnly | kKbdModeShared;

uint32_t Fnv1a(const std::string& bytes) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : bytes) hash = (hash ^ c) * 16777619u;
  return hash;
}

void Put16(std::string* out, uint16_t v) {
  uint8_t b[2];
  PutLe16(b, v);
  out->append(reinterpret_cast<char*>(b), 2);
}
void Put32(std::string* out, uint32_t v) {
  uint8_t b[4];
  PutLe32(b, v);
  out->append(reinterpret_cast<char*>(b), 4);
}

// Reads the journal's fields in order; any read past the end fails.
class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool Take(std::size_t n, const uint8_t** p) {
    if (bytes_.size() - pos_ < n) return false;
    *p = reinterpret_cast<const uint8_t*>(bytes_.data()) + pos_;
    pos_ += n;
    return true;
  }
  bool U16(uint16_t* v) {
    const uint8_t* p;
    if (!Take(2, &p)) return false;
    *v = GetLe16(p);
    return true;
  }
  bool U32(uint32_t* v) {
    const uint8_t* p;
    if (!Take(4, &p)) return false;
    *v = GetLe32(p);
    return true;
  }
  bool Bytes(std::size_t n, std::string* s) {
    const uint8_t* p;
    if (!Take(n, &p)) return false;
    s->assign(reinterpret_cast<const char*>(p), n);
    return true;
  }
  bool Name(std::string* s) {
    uint16_t n = 0;
    return U16(&n) && n > 0 && Bytes(n, s);
  }
  std::size_t pos() const { return pos_; }

 private:
  const std::string& bytes_;
  std::size_t pos_ = 0;
};

std::string Encode(const SwapJournal& j) {
  std::string out(kMagic, 4);
  Put32(&out, kVersion);
  Put32(&out, j.guard_offset);
  Put16(&out, static_cast<uint16_t>(j.guard.size()));
  out += j.guard;
  Put32(&out, j.current_size);
  for (const std::string* name : {&j.work, &j.current, &j.backup}) {
    Put16(&out, static_cast<uint16_t>(name->size()));
    out += *name;
  }
  Put32(&out, static_cast<uint32_t>(j.patches.size()));
  for (const JournalPatch& p : j.patches) {
    Put32(&out, p.offset);
    Put16(&out, static_cast<uint16_t>(p.bytes.size()));
    out += p.bytes;
  }
  Put32(&out, Fnv1a(out));
  return out;
}

// False for a journal cut short or not ours.
bool Decode(const std::string& bytes, SwapJournal* j) {
  if (bytes.size() < 8 || bytes.compare(0, 4, kMagic, 4) != 0) return false;
  const uint8_t* end =
      reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size() - 4;
  if (Fnv1a(bytes.substr(0, bytes.size() - 4)) != GetLe32(end)) return false;
  Reader r(bytes);
  const uint8_t* magic;
  uint32_t version = 0, count = 0;
  uint16_t guard_length = 0;
  if (!r.Take(4, &magic) || !r.U32(&version) || version != kVersion ||
      !r.U32(&j->guard_offset) || !r.U16(&guard_length) ||
      guard_length > kMaxGuard || !r.Bytes(guard_length, &j->guard) ||
      !r.U32(&j->current_size) || !r.Name(&j->work) || !r.Name(&j->current) ||
      !r.Name(&j->backup) || !r.U32(&count))
    return false;
  for (uint32_t i = 0; i < count; ++i) {
    JournalPatch p;
    uint16_t length = 0;
    if (!r.U32(&p.offset) || !r.U16(&length) || !r.Bytes(length, &p.bytes))
      return false;
    j->patches.push_back(std::move(p));
  }
  return r.pos() == bytes.size() - 4;
}

// Reads a whole small file opened read-only and shared.
int16_t ReadWhole(const std::string& name, std::string* bytes) {
  uint16_t slot = kNoFileSlot, flags = 0;
  if (int16_t e = FileOpen(&slot, name.c_str(), kModeReadShared, &flags))
    return e;
  uint32_t size = 0;
  int16_t status = FileSize(slot, &size);
  if (status == kKbdOk) {
    bytes->assign(size, '\0');
    if (size > 0) status = FileReadAt(slot, 0, bytes->data(), size);
  }
  RunDespiteError([&] { FileClose(slot); });
  return status;
}

// The size of a file; false when it cannot be opened (missing).
bool SizeOf(const std::string& name, uint32_t* size) {
  uint16_t slot = kNoFileSlot, flags = 0;
  if (FileOpen(&slot, name.c_str(), kModeReadShared, &flags) != kKbdOk) {
    SetLastError(kKbdOk);
    return false;
  }
  bool known = FileSize(slot, size) == kKbdOk;
  FileClose(slot);
  SetLastError(kKbdOk);
  return known;
}

// Steps 3 and 4 again, with the target open here alone. A guard that does
// not hold leaves everything as it is, the journal too (*keep).
int16_t Finish(uint16_t target, const std::string& dir, const SwapJournal& j,
               bool* keep) {
  const std::string work = dir + j.work, current = dir + j.current,
                    backup = dir + j.backup;
  if (!FileExists(work.c_str())) return kKbdOk;  // swapped already
  std::string guard(j.guard.size(), '\0');
  uint32_t size = 0;
  const bool current_there = SizeOf(current, &size);
  *keep =
      (!guard.empty() && !FileProbeAt(target, j.guard_offset, guard.data(),
                                      static_cast<uint32_t>(guard.size()))) ||
      guard != j.guard || (current_there && size != j.current_size);
  if (*keep) return kKbdOk;

  for (const JournalPatch& p : j.patches)
    if (int16_t e = FileWriteAt(target, p.offset, p.bytes.data(),
                                static_cast<uint32_t>(p.bytes.size())))
      return e;
  if (int16_t e = FileFlush(target)) return e;
  if (current_there)
    if (int16_t e = FileReplace(backup.c_str(), current.c_str())) return e;
  return FileReplace(current.c_str(), work.c_str());
}

}  // namespace

std::string SwapJournalName(const std::string& target_name) {
  return WithExtension(target_name, ".PKJ");
}

int16_t WriteSwapJournal(const std::string& name, const SwapJournal& journal) {
  if (journal.guard.size() > kMaxGuard) return Fail(kKbdErrCommand);
  const std::string bytes = Encode(journal);
  uint16_t slot = kNoFileSlot;
  if (int16_t e = FileCreate(&slot, name.c_str())) return e;
  int16_t status =
      FileWriteAt(slot, 0, bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (status == kKbdOk) status = FileFlush(slot);
  RunDespiteError([&] { FileClose(slot); });
  return status < 0 ? status : StickyError();
}

int16_t FinishSwapJournal(const std::string& target_name) {
  const std::string name = SwapJournalName(target_name);
  if (!FileExists(name.c_str())) return kKbdOk;
  // The target open with no sharing: no live writer has it (a writer holds
  // it open from step 1 to step 5). A refused or read-only open skips.
  uint16_t target = kNoFileSlot, flags = 0;
  if (FileOpen(&target, target_name.c_str(), 0, &flags) != kKbdOk) {
    SetLastError(kKbdOk);
    return kKbdOk;
  }
  int16_t status = kKbdOk;
  if ((flags & (kFileFlagReadOnly | kFileFlagShared)) == 0) {
    std::string bytes;
    SwapJournal journal;
    bool keep = false;
    status = ReadWhole(name, &bytes);
    if (status == kKbdOk && Decode(bytes, &journal))
      status = Finish(target, DirectoryOf(name), journal, &keep);
    // Done, swapped already, cut short, or not ours: the journal goes.
    // After a failed step, or when the files changed since, it stays.
    if (status == kKbdOk && !keep && FileDelete(name.c_str()) < 0)
      status = LastError();
  }
  RunDespiteError([&] { FileClose(target); });
  return status < 0 ? status : StickyError();
}

}  // namespace qx::engine
