// NTX files: open with its header checks, create, close, the per-call
// refresh, and the file's side of the tree (root word, free list).
//
// Divisions: the control block and the tree store; per-call steps; open;
// create; close; the public entries.
#include "engine/ntx/ntx_file.h"

#include <algorithm>
#include <cstring>

#include "engine/btree/file_words.h"
#include "engine/core/coding.h"
#include "engine/core/handle_table.h"
#include "engine/core/open_mode.h"
#include "engine/expr/expression.h"
#include "engine/index/index_open.h"
#include "engine/index/key_type_word.h"

namespace qx::engine {
namespace {

int16_t CloseNtxOperation(int16_t handle) { return kbdxclose(handle); }

int16_t WriteHeaderWord32(NtxFile* file, uint32_t offset, uint32_t value) {
  file->wrote = true;
  return btree::WriteLe32At(file->slot, offset, value);
}

// Dialects whose open mode an NTX file accepts (0 stands for the first).
bool NtxDialectAccepted(uint8_t dialect) {
  return dialect == 0 || dialect == kKbdClipper || dialect == kKbdClipper5;
}

// A page offset inside the whole pages of the file.
bool PageInFile(uint32_t page, uint32_t file_size) {
  return page >= kNtxPageSize && page % kNtxPageSize == 0 &&
         static_cast<uint64_t>(page) + kNtxPageSize <= file_size;
}

}  // namespace

// ---- Control block and tree store -------------------------------------------

NtxFile::~NtxFile() { index::CloseSlotOfBlock(&slot); }

void NtxFile::SetBounds() {
  const uint32_t end =
      file_size >= kNtxPageSize ? file_size - kNtxPageSize + 1 : 0;
  cache.SetBounds(kNtxPageSize, end);
}

int16_t NtxFile::MeasureSize() {
  if (int16_t e = FileSize(slot, &file_size)) return e;
  SetBounds();
  return kKbdOk;
}

int16_t NtxFile::SetRoot(uint32_t page) {
  if (int16_t e = WriteHeaderWord32(this, kNtxRootOffset, page)) return e;
  header.root = page;
  return kKbdOk;
}

int16_t NtxFile::AllocatePage(uint32_t* page) {
  if (header.free_head != 0) {
    const uint32_t head = header.free_head;
    if (!PageInFile(head, file_size)) {
      if (int16_t e = MeasureSize()) return e;
      if (!PageInFile(head, file_size)) return Fail(kKbdErrSeek);
    }
    btree::PageRef ref;
    if (int16_t e = cache.Load(head, &ref)) return e;
    // A link that is no page of the file ends the list: other writers
    // leave freed pages in their node layout.
    const uint32_t link = GetLe32(ref.data() + kNtxFreeLinkOffset);
    header.free_head = PageInFile(link, file_size) ? link : 0;
    *page = head;
  } else {
    // At the end of the file, after its last whole page.
    if (int16_t e = MeasureSize()) return e;
    const uint64_t end = (static_cast<uint64_t>(file_size) + kNtxPageSize - 1) /
                         kNtxPageSize * kNtxPageSize;
    if (end + kNtxPageSize > (uint64_t{1} << 32) - 1) return Fail(kKbdErrSeek);
    *page = static_cast<uint32_t>(end);
    file_size = static_cast<uint32_t>(end + kNtxPageSize);
    SetBounds();
  }
  return WriteHeaderWord32(this, kNtxFreeHeadOffset, header.free_head);
}

int16_t NtxFile::FreePage(uint32_t page) {
  btree::PageRef ref;
  if (int16_t e = cache.Create(page, &ref)) return e;
  PutLe32(ref.data() + kNtxFreeLinkOffset, header.free_head);
  if (int16_t e = cache.Write(ref)) return e;
  header.free_head = page;
  return WriteHeaderWord32(this, kNtxFreeHeadOffset, page);
}

NtxFile* CheckNtx(int16_t handle) {
  return CheckHandleAs<NtxFile>(handle, kKbdKindNtx);
}

// ---- Per-call steps ---------------------------------------------------------

int16_t RefreshNtx(NtxFile* file) {
  // A file open without sharing changes only through this handle, whose
  // header words and kept pages are the file's after every call that
  // ended cleanly: nothing to read again.
  if (TrustsKeptPages(file)) return kKbdOk;
  uint8_t words[kNtxWordsSize];
  if (int16_t e = FileReadAt(file->slot, kNtxWordsOffset, words, sizeof words))
    return e;
  const uint16_t counter =
      GetLe16(words + (kNtxCounterOffset - kNtxWordsOffset));
  const uint32_t root = GetLe32(words + (kNtxRootOffset - kNtxWordsOffset));
  const uint32_t free_head =
      GetLe32(words + (kNtxFreeHeadOffset - kNtxWordsOffset));
  if (!PageInFile(root, file->file_size)) {
    if (int16_t e = file->MeasureSize()) return e;
    if (!PageInFile(root, file->file_size)) return Fail(kKbdErrRootPage);
  }
  file->header.counter = counter;
  file->header.root = root;
  file->header.free_head = free_head;
  if (file->pages_kept && file->Stamp() != file->pages_stamp) {
    file->pages_kept = false;
    if (int16_t e = file->cache.Clear()) return e;
  }
  return kKbdOk;
}

bool NtxPagesCurrent(NtxFile* file) {
  if (!file->pages_kept) return false;
  if (TrustsKeptPages(file)) return true;
  uint8_t words[kNtxWordsSize];
  if (!FileProbeAt(file->slot, kNtxWordsOffset, words, sizeof words))
    return false;
  const NtxStamp now{GetLe16(words + (kNtxCounterOffset - kNtxWordsOffset)),
                     GetLe32(words + (kNtxRootOffset - kNtxWordsOffset)),
                     GetLe32(words + (kNtxFreeHeadOffset - kNtxWordsOffset))};
  return now == file->pages_stamp;
}

void DropKeptPagesOfShared(NtxFile* file) {
  if (FileOpenedAlone(file->slot) || !file->pages_kept) return;
  file->pages_kept = false;
  file->cache.Clear();  // nothing dirty between calls: nothing to fail
}

int16_t EndNtxCall(NtxFile* file) {
  file->path.Clear();
  // After a clean call the cache holds what the file holds (every change
  // is written at once), and the header words in memory are those of the
  // file: a change updates them as it writes them. A failed call may have
  // left the cache unlike the file.
  int16_t status =
      index::KeepPagesOrDrop(true, &file->cache, &file->pages_kept,
                             [file] { return file->cache.Clear(); });
  if (file->pages_kept) file->pages_stamp = file->Stamp();
  // A failure is the last error's to report; the end itself succeeds.
  if (StickyError() != 0) status = kKbdOk;
  return index::FlushAfterWrites(status, &file->wrote, file->slot);
}

int16_t StampNtx(NtxFile* file) {
  file->header.counter = static_cast<uint16_t>(file->header.counter + 1);
  // No other handle reads the counter of a file open without sharing
  // before it closes: the close writes it (root and free head are written
  // as they change).
  if (FileOpenedAlone(file->slot)) {
    file->counter_pending = true;
    return kKbdOk;
  }
  uint8_t words[2 + 4];
  PutLe16(words, file->header.counter);
  PutLe32(words + 2, file->header.root);
  file->wrote = true;
  return FileWriteAt(file->slot, kNtxCounterOffset, words, sizeof words);
}

// ---- Open -------------------------------------------------------------------

namespace {

// The header checks of open, in their order. Keys per page are taken as
// the file gives them, so long as its pages can hold them.
int16_t CheckNtxHeader(const NtxHeader& h, uint32_t size) {
  if (h.key_length < kNtxMinKeyLength || h.key_length > kNtxMaxKeyLength)
    return Fail(kKbdErrKeySize);
  if (h.item_size != h.key_length + kNtxItemOverhead)
    return Fail(kKbdErrItemSize);
  if (!PageInFile(h.root, size)) return Fail(kKbdErrRootPage);
  NtxShape shape = NtxShape::Of(h);
  shape.smallest = 1;
  if (!shape.Fits()) return Fail(kKbdErrMaxKeys);
  if (h.smallest < 1 || h.smallest > h.largest / 2) return Fail(kKbdErrMinKeys);
  if (!h.expression_terminated || !h.for_terminated)
    return Fail(kKbdErrKeyExpression);
  return kKbdOk;
}

// The FOR text of a create: without leading and trailing blanks.
int16_t TakeForExpression(const char* given, std::string* text) {
  text->clear();
  if (given == nullptr) return kKbdOk;
  std::string_view v(given);
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
    v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t'))
    v.remove_suffix(1);
  if (v.size() > kNtxMaxForLength) return Fail(kKbdErrKeyExpression);
  text->assign(v);
  return kKbdOk;
}

}  // namespace

int16_t OpenNtx(int16_t* handle, const char* name, uint16_t mode) {
  index::IndexOpening<NtxFile> opening;
  if (int16_t e =
          opening.Begin(handle, name, mode, kKbdKindNtx, CloseNtxOperation))
    return e;
  NtxFile* file = opening.block();
  auto fail = [&opening](int16_t status) { return opening.Fail(status); };
  if (!NtxDialectAccepted(DialectOf(mode))) return fail(Fail(kKbdErrVersion));
  uint32_t size = 0;
  if (int16_t e = FileSize(file->slot, &size)) return fail(e);
  // A file too short for the header reads as zeros past its end (and
  // then fails the header checks).
  uint8_t bytes[kNtxHeaderReadSize] = {};
  if (int16_t e = FileReadAt(file->slot, 0, bytes,
                             std::min<uint32_t>(size, sizeof bytes)))
    return fail(e);
  file->header = NtxHeader::DecodeFrom(bytes);
  if (int16_t e = CheckNtxHeader(file->header, size)) return fail(e);
  file->expression = NormaliseExpressionText(file->header.expression);
  file->descending = file->header.descending == 1;
  file->shape = NtxShape::Of(file->header);
  file->file_size = size;
  file->key.assign(file->header.key_length, ' ');
  file->found.assign(file->header.key_length + 1u, 0);
  file->path.Reset(btree::PathCapacity(file->header.smallest));
  if (int16_t e = file->cache.Init(file->slot, kNtxPageSize, 1, kNtxCacheShape,
                                   kNtxMinCacheBuffers))
    return fail(e);
  file->cache.SetReadOnly(file->read_only());
  file->SetBounds();
  file->tree = std::make_unique<NtxTree>(file->shape, file->descending,
                                         &file->cache, &file->path, file);
  if (size % kNtxPageSize != 0) return kKbdBadFileSize;  // stays open
  return kKbdOk;
}

// ---- Create -----------------------------------------------------------------

int16_t CreateNtx(const char* name, uint16_t type, const char* expression,
                  uint16_t key_length, uint16_t decimals,
                  const char* for_expression) {
  if (name == nullptr || expression == nullptr) return Fail(kKbdErrNullPointer);
  std::string text;
  if (int16_t e =
          NormaliseKeyExpression(expression, &text, kNtxMaxExpressionLength))
    return e;
  std::string condition;
  if (int16_t e = TakeForExpression(for_expression, &condition)) return e;
  const char letter = index::KeyTypeLetter(type);
  NtxHeader h;
  switch (letter) {
    case 'C':
      if (key_length < kNtxMinKeyLength || key_length > kNtxMaxKeyLength)
        return Fail(kKbdErrKeySize);
      h.key_length = key_length;
      break;
    case 'D':
      h.key_length = kNtxDateKeyLength;
      break;
    case 'N':
      if (key_length < kNtxMinKeyLength || key_length > kNtxMaxNumericLength)
        return Fail(kKbdErrKeySize);
      if (decimals > kNtxMaxDecimals ||
          (decimals > 0 && decimals + 2u > key_length))
        return Fail(kKbdErrDecimals);
      h.key_length = key_length;
      h.decimals = decimals;
      break;
    default:
      return Fail(kKbdErrKeyType);
  }
  h.item_size = static_cast<uint16_t>(h.key_length + kNtxItemOverhead);
  h.largest = NtxLargest(h.key_length);
  h.smallest = static_cast<uint16_t>(h.largest / 2);
  h.unique = index::KeyTypeUnique(type) ? 1 : 0;
  h.descending = (type & kKbdKeyDescending) != 0 ? 1 : 0;
  h.expression = text;
  h.for_expression = condition;
  if (!condition.empty()) h.signature = kNtxSignatureFor;
  uint8_t image[2 * kNtxPageSize];
  h.EncodeTo(image);
  NtxNode(image + kNtxPageSize, NtxShape::Of(h)).Format();  // empty root
  uint16_t slot = kNoFileSlot;
  if (int16_t e = FileCreate(&slot, name)) return e;
  FileWriteAt(slot, 0, image, sizeof image);
  RunDespiteError([slot] { return FileClose(slot); });
  return StickyError();
}

// ---- Close ------------------------------------------------------------------

int16_t CloseNtx(int16_t handle) {
  NtxFile* file = CheckNtx(handle);
  if (file == nullptr) return kKbdErrHandle;
  int16_t status = kKbdOk;
  if ((file->changed || file->counter_pending) && !file->read_only()) {
    const bool stamp = file->changed;
    file->changed = false;
    file->counter_pending = false;
    // The stamp is a change: under the operation lock, released before
    // the file closes.
    OperationScope scope;
    status = scope.Enter(&file->op_lock, file->slot, file->file_flags,
                         kNtxLockOffset, LockKind::kExclusive);
    if (status == kKbdOk) status = RefreshNtx(file);
    if (status == kKbdOk) {
      if (stamp)
        file->header.counter = static_cast<uint16_t>(file->header.counter + 1);
      uint8_t words[kNtxWordsSize];
      PutLe16(words + (kNtxCounterOffset - kNtxWordsOffset),
              file->header.counter);
      PutLe32(words + (kNtxRootOffset - kNtxWordsOffset), file->header.root);
      PutLe32(words + (kNtxFreeHeadOffset - kNtxWordsOffset),
              file->header.free_head);
      status = FileWriteAt(file->slot, kNtxWordsOffset, words, sizeof words);
    }
  }
  uint16_t slot = file->slot;
  file->slot = kNoFileSlot;
  int16_t closed = RunDespiteError([slot] { return FileClose(slot); });
  FreeHandle(handle);
  if (status < 0) return status;
  return closed < 0 ? Fail(closed) : status;
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdxopenx(int16_t* handle, const char* name, uint16_t mode) {
  return RunOperation([&] { return OpenNtx(handle, name, mode); });
}

extern "C" int16_t kbdxcreate(const char* name, uint16_t type,
                              const char* expression, uint16_t key_length,
                              uint16_t decimals) {
  return kbdxcreatex(name, type, expression, key_length, decimals, nullptr);
}

extern "C" int16_t kbdxcreatex(const char* name, uint16_t type,
                               const char* expression, uint16_t key_length,
                               uint16_t decimals, const char* for_expression) {
  return RunOperation([&] {
    return CreateNtx(name, type, expression, key_length, decimals,
                     for_expression);
  });
}

extern "C" int16_t kbdxclose(int16_t handle) {
  return RunOperation([&] { return CloseNtx(handle); });
}

extern "C" int16_t kbdxrefresh(int16_t handle) {
  return RunOperation([&] {
    return WithNtx(handle, LockKind::kShared,
                   [](NtxFile&) { return int16_t{kKbdOk}; });
  });
}
