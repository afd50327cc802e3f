// NDX files: open, create, close with compaction, the per-call refresh,
// and the format's side of the shared tree (root word, page allocation
// and freeing, key order).
//
// Divisions: the control block and the tree store; open and its header
// checks; create; close and compaction; the public entries.
#include "engine/ndx/ndx_file.h"

#include <bit>
#include <cstring>

#include "engine/btree/file_words.h"
#include "engine/btree/key_order.h"
#include "engine/collate/collation.h"
#include "engine/core/coding.h"
#include "engine/core/handle_table.h"
#include "engine/core/last_error.h"
#include "engine/core/open_mode.h"
#include "engine/dates/key_codec.h"
#include "engine/expr/expression.h"
#include "engine/expr/record_source.h"
#include "engine/fileio/file_layer.h"
#include "engine/index/index_open.h"
#include "engine/index/key_type_word.h"

namespace qx::engine {
namespace {

int16_t CloseNdxOperation(int16_t handle) { return kbdnclose(handle); }

int16_t WriteHeaderWord(NdxFile* file, uint32_t offset, uint32_t value) {
  return btree::WriteLe32At(file->slot, offset, value);
}

// Dialects whose open mode an NDX file accepts (0 stands for 1).
bool NdxDialectAccepted(uint8_t dialect) {
  return dialect == 0 || dialect == kKbdDbase3 || dialect == kKbdDbase4 ||
         dialect == kKbdDbxl;
}

}  // namespace

// ---- Control block and tree store -------------------------------------------

NdxFile::~NdxFile() { index::CloseSlotOfBlock(&slot); }

int16_t NdxFile::SetRoot(uint32_t page) {
  if (int16_t e = WriteHeaderWord(this, kNdxRootOffset, page)) return e;
  header.root = page;
  changed = true;
  return kKbdOk;
}

// The most recently freed page when the chain is still valid (N3), else
// the page at next_free, whose new value is written at once.
int16_t NdxFile::AllocatePage(uint32_t* page) {
  while (free_head != 0) {
    uint32_t candidate = free_head;
    free_head = 0;
    if (candidate < 1 || candidate >= header.next_free) break;
    btree::PageRef ref;
    if (int16_t e = cache.Load(candidate, &ref)) return e;
    if (ref.data()[kNdxCountOffset] != kNdxFreedMark) break;
    free_head = GetLe32(ref.data() + kNdxFreedLinkOffset);
    *page = candidate;
    return kKbdOk;
  }
  uint32_t next = header.next_free;
  // The file is addressed with 32-bit offsets: the new page must end
  // below 4 GiB.
  if ((static_cast<uint64_t>(next) + 1) * kNdxPageSize > (uint64_t{1} << 32))
    return Fail(kKbdErrSeek);
  if (int16_t e = WriteHeaderWord(this, kNdxNextFreeOffset, next + 1)) return e;
  header.next_free = next + 1;
  cache.SetBounds(1, header.next_free);
  changed = true;
  *page = next;
  return kKbdOk;
}

int16_t NdxFile::FreePage(uint32_t page) {
  btree::PageRef ref;
  if (int16_t e = cache.Load(page, &ref)) return e;
  ref.data()[kNdxCountOffset] = kNdxFreedMark;
  PutLe32(ref.data() + kNdxFreedLinkOffset, free_head);
  if (int16_t e = cache.Write(ref)) return e;
  free_head = page;
  changed = true;
  return kKbdOk;
}

int NdxFile::CompareKeys(const uint8_t* search, const uint8_t* key,
                         uint32_t length, bool wildcard) const {
  if (numeric()) return btree::CompareLeDoubleKeys(search, key);
  if (wildcard) return btree::CompareWildcard(search, key, length);
  return CompareCharKeys(search, key, length);
}

NdxFile* CheckNdx(int16_t handle) {
  return CheckHandleAs<NdxFile>(handle, kKbdKindNdx);
}

int16_t RefreshNdx(NdxFile* file) {
  if (file->tree) file->tree->TrustKeptPath(TrustsKeptPages(file));
  if (TrustsKeptPages(file)) return kKbdOk;
  uint8_t words[kNdxHeaderWordsSize];
  if (int16_t e = FileReadAt(file->slot, 0, words, sizeof words)) return e;
  uint32_t root = GetLe32(words + kNdxRootOffset);
  uint32_t next_free = GetLe32(words + kNdxNextFreeOffset);
  if (root < 1 || root >= next_free) return Fail(kKbdErrRootPage);
  file->header.root = root;
  file->header.next_free = next_free;
  file->cache.SetBounds(1, next_free);  // N2
  return kKbdOk;
}

int16_t EndNdxCall(NdxFile* file) {
  file->path.Clear();
  // Every change was written as it was made (the cache writes through), so
  // after a clean call the cache and the words in memory are the file's.
  const int16_t status = index::KeepPagesOrDrop(
      FileOpenedAlone(file->slot), &file->cache, &file->pages_kept, [file] {
        if (file->tree) file->tree->ForgetKeptPath();
        return file->cache.Clear();
      });
  return index::FlushAfterWrites(status, &file->changed, file->slot);
}

// ---- Open -------------------------------------------------------------------

// The header checks of open, in their order.
int16_t CheckNdxHeader(const NdxHeader& h) {
  if (h.key_length < kNdxMinKeyLength || h.key_length > kNdxMaxKeyLength)
    return Fail(kKbdErrKeySize);
  if (!NdxEntrySizeAccepted(h.key_length, h.entry_size))
    return Fail(kKbdErrItemSize);
  if (h.root < 1 || h.root > h.next_free) return Fail(kKbdErrRootPage);
  if (static_cast<uint32_t>(h.keys_per_page) * h.entry_size >=
          kNdxMaxSlotBytes ||
      h.keys_per_page < 2)
    return Fail(kKbdErrMaxKeys);
  if (h.expression.size() > kNdxMaxExpressionLength)
    return Fail(kKbdErrKeyExpression);
  if (h.key_type != kNdxKeyCharacter && h.key_type != kNdxKeyNumeric)
    return Fail(kKbdErrKeyType);
  if (h.key_type == kNdxKeyNumeric && h.key_length != kNdxNumericKeyLength)
    return Fail(kKbdErrKeySize);
  return kKbdOk;
}

int16_t OpenNdx(int16_t* handle, const char* name, uint16_t mode) {
  index::IndexOpening<NdxFile> opening;
  if (int16_t e =
          opening.Begin(handle, name, mode, kKbdKindNdx, CloseNdxOperation))
    return e;
  NdxFile* file = opening.block();
  auto fail = [&opening](int16_t status) { return opening.Fail(status); };
  if (!NdxDialectAccepted(DialectOf(mode))) return fail(Fail(kKbdErrVersion));
  uint8_t bytes[kNdxHeaderReadSize];
  if (int16_t e = FileReadAt(file->slot, 0, bytes, sizeof bytes))
    return fail(e);
  file->header = NdxHeader::DecodeFrom(bytes);
  if (int16_t e = CheckNdxHeader(file->header)) return fail(e);
  file->expression = NormaliseExpressionText(file->header.expression);
  file->layout = NdxLayout(file->header);
  if (!file->layout.Valid()) return fail(Fail(kKbdErrMaxKeys));  // N1
  file->half = file->header.keys_per_page / 2u;
  file->path.Reset(btree::PathCapacity(file->half));
  if (int16_t e = file->cache.Init(
          file->slot, kNdxPageSize, kNdxPageSize,
          FileOpenedAlone(file->slot) ? kNdxAloneCacheShape : kNdxCacheShape,
          kNdxMinCacheBuffers))
    return fail(e);
  file->cache.SetReadOnly(file->read_only());
  file->cache.SetBounds(1, file->header.next_free);
  file->tree = std::make_unique<btree::Tree>(&file->layout, file->half,
                                             &file->cache, &file->path, file);
  file->cursor.Init(file->tree.get(), &file->path, file->header.key_length,
                    !file->numeric());
  uint32_t size = 0;
  if (int16_t e = FileSize(file->slot, &size)) return fail(e);
  if (static_cast<uint64_t>(size) !=
      static_cast<uint64_t>(file->header.next_free) * kNdxPageSize)
    return kKbdBadFileSize;  // the index stays open
  return kKbdOk;
}

// ---- Create -----------------------------------------------------------------

int16_t CreateNdx(const char* name, uint16_t type, const char* expression,
                  uint16_t key_length) {
  if (name == nullptr || expression == nullptr) return Fail(kKbdErrNullPointer);
  std::string text;
  if (int16_t e =
          NormaliseKeyExpression(expression, &text, kNdxMaxExpressionLength))
    return e;
  // Other bits of the word (flags of the caller's request) do not concern
  // the file.
  const bool unique = index::KeyTypeUnique(type);
  const char letter = index::KeyTypeLetter(type);
  NdxHeader h;
  switch (letter) {
    case 'C':
      if (key_length < kNdxMinKeyLength || key_length > kNdxMaxKeyLength)
        return Fail(kKbdErrKeySize);
      h.key_type = kNdxKeyCharacter;
      h.key_length = key_length;
      break;
    case 'D':
    case 'N':
      h.key_type = kNdxKeyNumeric;
      h.key_length = kNdxNumericKeyLength;
      break;
    default:
      return Fail(kKbdErrKeyType);
  }
  h.root = 1;
  h.next_free = 2;
  h.entry_size = static_cast<uint16_t>(NdxEntrySize(h.key_length));
  h.keys_per_page = static_cast<uint16_t>(NdxKeysPerPage(h.entry_size));
  h.unique = unique ? 1 : 0;
  h.expression = text;
  uint8_t image[2 * kNdxPageSize] = {};
  h.EncodeTo(image);  // page 1 stays zero: an empty root leaf
  uint16_t slot = kNoFileSlot;
  if (int16_t e = FileCreate(&slot, name)) return e;
  FileWriteAt(slot, 0, image, sizeof image);
  RunDespiteError([slot] { return FileClose(slot); });
  return StickyError();
}

// ---- Close ------------------------------------------------------------------

namespace {

bool IsFreedPage(NdxFile* file, uint32_t page, int16_t* status) {
  btree::PageRef ref;
  *status = file->cache.Load(page, &ref);
  return *status == kKbdOk && ref.data()[kNdxCountOffset] == kNdxFreedMark;
}

// Gives the pages freed since open back to the file: each freed page in
// turn takes the last live page of the file (free pages at the end are
// dropped first), then the file is cut after the last live page.
int16_t CompactNdx(NdxFile* file) {
  uint32_t end = file->header.next_free;
  int16_t status = kKbdOk;
  // A chain made stale by another handle's compaction may loop: no walk
  // is longer than the file.
  for (uint32_t steps = 0; file->free_head != 0; ++steps) {
    if (steps >= file->header.next_free) {
      file->free_head = 0;
      break;
    }
    const uint32_t hole = file->free_head;
    file->free_head = 0;
    if (hole < 1 || hole >= file->header.next_free) break;  // N3: stale
    if (!IsFreedPage(file, hole, &status)) {
      if (status < 0) return status;
      break;  // another handle reused it: the rest of the chain is stale
    }
    {
      btree::PageRef ref;
      if (int16_t e = file->cache.Load(hole, &ref)) return e;
      file->free_head = GetLe32(ref.data() + kNdxFreedLinkOffset);
    }
    while (end > 1 && IsFreedPage(file, end - 1, &status)) --end;
    if (status < 0) return status;
    if (hole >= end) continue;  // dropped with the free end of the file
    if (file->tree->MovePage(end - 1, hole) < 0) return Fail(kKbdErrCorrupt);
    --end;
    // The moved page's old copy lies past the new end; nothing refers to
    // it. Clear the cache so that no stale image of it is reused.
    if (int16_t e = file->cache.Clear()) return e;
  }
  if (end == file->header.next_free) return kKbdOk;
  file->header.next_free = end;
  file->header_dirty = true;
  FileCut(file->slot, end * kNdxPageSize);
  // A cut that failed leaves pages past the new end, which the check and
  // the next open report (H1, warning 7): the close must say so too.
  uint32_t size = 0;
  if (int16_t e = FileSize(file->slot, &size)) return e;
  return size == end * kNdxPageSize ? int16_t{kKbdOk} : Fail(kKbdErrWrite);
}

}  // namespace

int16_t CloseNdx(int16_t handle) {
  NdxFile* file = CheckNdx(handle);
  if (file == nullptr) return kKbdErrHandle;
  int16_t status = kKbdOk;
  if (!file->read_only() && (file->free_head != 0 || file->header_dirty)) {
    // Compaction and the header words are changes: under the operation
    // lock, released before the file closes.
    OperationScope scope;
    status = scope.Enter(&file->op_lock, file->slot, file->file_flags,
                         kNdxLockOffset, LockKind::kExclusive);
    if (status == kKbdOk && file->free_head != 0) {
      status = RefreshNdx(file);
      if (status == kKbdOk) status = CompactNdx(file);
      int16_t ended = EndNdxCall(file);
      if (status == kKbdOk) status = ended;
    }
    if (status == kKbdOk && file->header_dirty) {
      uint8_t words[kNdxHeaderWordsSize];
      PutLe32(words + kNdxRootOffset, file->header.root);
      PutLe32(words + kNdxNextFreeOffset, file->header.next_free);
      status = FileWriteAt(file->slot, 0, words, sizeof words);
      file->header_dirty = false;
    }
  }
  uint16_t slot = file->slot;
  file->slot = kNoFileSlot;
  int16_t closed = RunDespiteError([slot] { return FileClose(slot); });
  FreeHandle(handle);
  if (status < 0) return status;
  return closed < 0 ? Fail(closed) : status;
}

// ---- Record keys ------------------------------------------------------------

int16_t MakeNdxKey(int16_t dbf_handle, const NdxFile& file, uint8_t* key) {
  KeyValue value;
  int16_t status = EvaluateKey(dbf_handle, file.expression,
                               NumericKeyRule::kNumericOnly, &value);
  if (status < 0) return status;
  const uint32_t length = file.header.key_length;
  if (value.type == 'C') {
    if (file.numeric()) return Fail(kKbdErrKeyExpression);
    size_t n = value.text.size() < length ? value.text.size() : length;
    std::memcpy(key, value.text.data(), n);
    std::memset(key + n, ' ', length - n);
    return status;
  }
  if (!file.numeric()) return Fail(kKbdErrKeyExpression);
  // Through the sortable image, as the build stores numbers: -0.0 becomes
  // +0.0 and every NaN the one quiet NaN.
  uint8_t image[kDoubleKeySize];
  EncodeDoubleKey(value.number, image);
  PutLe64(key, std::bit_cast<uint64_t>(DecodeDoubleKey(image)));
  return status;
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdnopenx(int16_t* handle, const char* name, uint16_t mode) {
  return RunOperation([&] { return OpenNdx(handle, name, mode); });
}

extern "C" int16_t kbdncreate(const char* name, uint16_t type,
                              const char* expression, uint16_t key_length) {
  return RunOperation(
      [&] { return CreateNdx(name, type, expression, key_length); });
}

extern "C" int16_t kbdnclose(int16_t handle) {
  return RunOperation([&] { return CloseNdx(handle); });
}
