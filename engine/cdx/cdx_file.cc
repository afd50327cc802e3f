// CDX files: create, open, close, the lock byte, loading a tree into a
// slot with the tag header checks, the directory's name lookups, and the
// bracket of every call on a tag.
//
// Divisions: the control block and the lock; slots and the call bracket;
// loading trees; the directory; open, create and close; the public
// entries.
#include "engine/cdx/cdx_file.h"

#include <cstring>

#include "engine/core/coding.h"
#include "engine/core/handle_table.h"
#include "engine/core/open_mode.h"
#include "engine/expr/expression.h"
#include "engine/index/index_open.h"

namespace qx::engine {
namespace {

int16_t CloseCdxOperation(int16_t handle) { return kbdcclose(handle); }

// Upper-cases ASCII letters only: names and tags are compared in the
// file's code page without folding its other letters.
char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Guards against a directory that loops: no file holds more names than
// this.
constexpr uint32_t kMaxDirectoryEntries = 1u << 20;

}  // namespace

// ---- Control block and lock -------------------------------------------------

CdxFile::~CdxFile() {
  if (slot == kNoFileSlot || CurrentTask() == nullptr) return;
  for (int n = kCdxSlotCount - 1; n >= 0; --n) slots[n].reset();
  uint16_t open_slot = slot;
  slot = kNoFileSlot;
  RunDespiteError([open_slot] { return FileClose(open_slot); });
}

// ---- Slots and the call bracket ---------------------------------------------

CdxFile* CheckCdxHandle(int16_t handle) {
  return CheckHandleAs<CdxFile>(handle, kKbdKindCdx);
}

CdxTag* CheckCdxTagId(int32_t tag, bool allow_directory) {
  CdxFile* file = CheckCdxHandle(CdxHandleOfTag(tag));
  if (file == nullptr) return nullptr;
  const uint32_t slot = CdxSlotOfTag(tag);
  if (slot >= kCdxSlotCount || file->slots[slot] == nullptr ||
      (slot == 0 && !allow_directory)) {
    Fail(kKbdErrTagId);
    return nullptr;
  }
  return file->slots[slot].get();
}

CdxTag* BeginTagCall(int32_t tag_id, LockKind kind, OperationScope* scope,
                     int16_t* status) {
  CdxTag* tag = CheckCdxTagId(tag_id, kind == LockKind::kShared);
  if (tag == nullptr) {
    *status = LastError();
    return nullptr;
  }
  CdxFile* file = tag->file;
  if (kind == LockKind::kExclusive && file->read_only()) {
    *status = Fail(kKbdErrReadOnly);
    return tag;
  }
  if (int16_t e = file->EnterLock(scope, kind)) {
    *status = e;
    return tag;
  }
  // After the lock: what other processes wrote before it is seen. A change
  // of a shared file trusts no node kept from before.
  *status = tag->tree.Refresh(kind == LockKind::kShared || !file->shared());
  return tag;
}

int16_t EndTagCall(CdxTag* tag, int16_t status) {
  int16_t ended = RunDespiteError([tag] { return tag->tree.EndCall(); });
  if (tag->file->changed) {
    tag->file->changed = false;
    if (ended >= 0 && status >= 0)
      ended = RunDespiteError([tag] {
        return fox::CountFoxChange(tag->file->slot,
                                   &tag->file->pending_changes);
      });
  }
  if (status < 0) return status;
  return ended < 0 ? Fail(ended) : status;
}

// ---- Loading trees ----------------------------------------------------------

int16_t LoadCdxTree(CdxFile* file, uint32_t slot, uint32_t header_offset,
                    std::string_view name, std::unique_ptr<CdxTag>* out) {
  uint32_t size = 0;
  if (int16_t e = FileSize(file->slot, &size)) return e;
  // The header and its expression block must lie inside the file.
  if (header_offset % fox::kFoxBlockSize != 0 ||
      static_cast<uint64_t>(header_offset) + 2 * fox::kFoxBlockSize > size)
    return Fail(kKbdErrCorrupt);
  auto tag = std::make_unique<CdxTag>();
  tag->file = file;
  tag->slot = slot;
  tag->name = name;
  tag->header_offset = header_offset;
  if (int16_t e = fox::ReadFoxHeader(file->slot, header_offset, &tag->header))
    return e;
  const fox::FoxHeader& h = tag->header;
  if (h.key_length < 1 || h.key_length > kCdxMaxOpenKeyLength)
    return Fail(kKbdErrKeySize);
  if (h.expression.size() >= kCdxMaxExpression ||
      h.for_expression.size() >= kCdxMaxExpression)
    return Fail(kKbdErrKeyExpression);
  if (h.root < fox::kFoxBlockSize || h.root >= size ||
      h.root % fox::kFoxBlockSize != 0)
    return Fail(kKbdErrRootPage);
  tag->expression = NormaliseExpressionText(h.expression);
  tag->for_expression = NormaliseExpressionText(h.for_expression);
  tag->key.assign(h.key_length + 1u, 0);
  fox::FoxTreeShape shape;
  shape.header_offset = header_offset;
  shape.layout = h.layout();
  shape.key_length = h.key_length;
  shape.pad = tag->pad();
  // Tag names are unique in the directory; a tag is unique by its options.
  shape.unique = slot == 0 || tag->unique();
  shape.descending = slot != 0 && tag->descending();
  shape.read_only = file->read_only();
  shape.exclusive = FileOpenedAlone(file->slot);
  shape.write_through = file->write_through;
  // The directory's record numbers are header offsets, which grow with
  // the file: its leaves widen their field. A tag's never do.
  shape.widen_record_field = slot == 0;
  shape.cache_error = kKbdErrNodeCache;
  if (int16_t e = tag->tree.Init(file->slot, shape)) return e;
  *out = std::move(tag);
  return kKbdOk;
}

// ---- The directory ----------------------------------------------------------

int16_t CdxNameKey(const char* name, std::string* key) {
  if (name == nullptr) return Fail(kKbdErrNullPointer);
  size_t n = 0;
  while (n <= kCdxMaxTagName && name[n] != '\0') ++n;
  if (n == 0 || n > kCdxMaxTagName) return Fail(kKbdErrTagName);
  key->assign(name, n);
  for (char& c : *key) c = UpperAscii(c);
  return kKbdOk;
}

bool SameTagName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

int16_t FindCdxTag(CdxFile* file, const std::string& upper_name,
                   uint32_t* header_offset) {
  CdxTag& dir = file->directory();
  // The whole padded name is compared: a name must not find a longer one
  // that it begins.
  std::string key = upper_name;
  const uint32_t length = dir.key_length();
  if (key.size() > length) return Fail(kKbdErrTagName);
  key.resize(length, ' ');
  int16_t status = dir.tree.Refresh();
  if (status >= 0) {
    status = dir.tree.Search(reinterpret_cast<const uint8_t*>(key.data()),
                             length, 0, 1);
    if (status == kKbdOk) dir.tree.Current(dir.key.data(), header_offset);
  }
  int16_t ended = RunDespiteError([&dir] { return dir.tree.EndCall(); });
  if (status < 0) return status;
  if (ended < 0) return Fail(ended);
  return status == kKbdOk ? kKbdOk : kKbdKeyNotFound;
}

int16_t ReadCdxDirectory(CdxFile* file, std::vector<CdxDirectoryEntry>* out) {
  out->clear();
  CdxTag& dir = file->directory();
  int16_t status = dir.tree.Refresh();
  if (status >= 0) status = dir.tree.First();
  while (status == kKbdOk) {
    if (out->size() >= kMaxDirectoryEntries) {
      status = Fail(kKbdErrCorrupt);
      break;
    }
    CdxDirectoryEntry entry;
    dir.tree.Current(dir.key.data(), &entry.header_offset);
    size_t n = dir.key_length();
    while (n > 0 && (dir.key[n - 1] == ' ' || dir.key[n - 1] == 0)) --n;
    entry.name.assign(reinterpret_cast<const char*>(dir.key.data()), n);
    out->push_back(std::move(entry));
    status = dir.tree.Next();
  }
  int16_t ended = RunDespiteError([&dir] { return dir.tree.EndCall(); });
  if (status < 0) return status;
  return ended < 0 ? Fail(ended) : int16_t{kKbdOk};
}

// ---- Open, create, close ----------------------------------------------------

int16_t OpenCdx(int16_t* handle, const char* name, uint16_t mode) {
  index::IndexOpening<CdxFile> opening;
  if (int16_t e =
          opening.Begin(handle, name, mode, kKbdKindCdx, CloseCdxOperation))
    return e;
  CdxFile* file = opening.block();
  auto fail = [&opening](int16_t status) { return opening.Fail(status); };
  if (!fox::FoxDialectAccepted(DialectOf(mode)))
    return fail(Fail(kKbdErrVersion));
  const uint16_t normal = NormalizeOpenMode(mode);
  file->write_through =
      (normal & kCdxModeWriteThrough) || (mode & kCdxModeWriteThroughAlt);
  if (int16_t e = LoadCdxTree(file, 0, 0, "", &file->slots[0])) return fail(e);
  const fox::FoxHeader& h = file->directory().header;
  if (h.options < fox::kFoxCompound) return fail(Fail(kKbdErrCorrupt));
  file->lock_offset = (h.options & fox::kFoxCompactLockOptions)
                          ? fox::kFoxLockOffset
                          : fox::kFoxOtherCompoundLockOffset;
  // The word at 8 is a change counter (programs keep 0 or count their
  // changes there), never a size: only a file of partial blocks is
  // suspect.
  uint32_t size = 0;
  if (int16_t e = FileSize(file->slot, &size)) return fail(e);
  return size % fox::kFoxBlockSize == 0 ? kKbdOk : kKbdBadFileSize;
}

int16_t CreateCdx(const char* name) {
  if (name == nullptr) return Fail(kKbdErrNullPointer);
  uint16_t slot = kNoFileSlot;
  if (int16_t e = FileCreate(&slot, name)) return e;
  fox::FoxNewTree tree;
  tree.layout = fox::FoxLayout::kCompact;
  tree.key_length = kCdxDirectoryKeyLength;
  tree.options = kCdxDirectoryOptions;
  // The file-wide words as written: no free node, change counter 0.
  int16_t status = fox::WriteEmptyTree(slot, 0, kCdxDirectoryRoot, tree);
  RunDespiteError([slot] { return FileClose(slot); });
  return status < 0 ? status : StickyError();
}

int16_t CountCdxChange(CdxFile* file) {
  return fox::CountFoxChanges(file->slot, 1);
}

int16_t CloseCdx(int16_t handle) {
  CdxFile* file = CheckCdxHandle(handle);
  if (file == nullptr) return kKbdErrHandle;
  // Tags from the highest slot down to the directory.
  for (int n = kCdxSlotCount - 1; n >= 0; --n) file->slots[n].reset();
  const int16_t counted =
      fox::WritePendingFoxChanges(file->slot, &file->pending_changes);
  uint16_t slot = file->slot;
  file->slot = kNoFileSlot;
  int16_t closed = RunDespiteError([slot] { return FileClose(slot); });
  FreeHandle(handle);
  if (counted < 0) return counted;
  return closed < 0 ? Fail(closed) : int16_t{kKbdOk};
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdcopenx(int16_t* handle, const char* name, uint16_t mode) {
  return RunOperation([&] { return OpenCdx(handle, name, mode); });
}

extern "C" int16_t kbdccreate(const char* name) {
  return RunOperation([&] { return CreateCdx(name); });
}

extern "C" int16_t kbdcclose(int16_t handle) {
  return RunOperation([&] { return CloseCdx(handle); });
}
