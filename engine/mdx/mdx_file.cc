// MDX files: create, open with its header checks, close; the per-call
// refresh; block allocation and the free chain; the tags' side of the
// shared tree (root word, pages, key order); the file description.
//
// Divisions: control blocks and the free chain; the tree store of a tag;
// handles and calls; open; create; close; the public entries.
#include "engine/mdx/mdx_file.h"

#include <bit>
#include <cstring>

#include "engine/btree/key_order.h"
#include "engine/collate/collation.h"
#include "engine/core/coding.h"
#include "engine/core/handle_table.h"
#include "engine/core/last_error.h"
#include "engine/core/open_mode.h"
#include "engine/index/index_call.h"
#include "engine/index/index_open.h"
#include "engine/mdx/mdx_decimal.h"
#include "platform/platform.h"

namespace qx::engine {
namespace {

constexpr uint64_t kMaxFileEnd = uint64_t{1} << 32;

int16_t CloseMdxOperation(int16_t handle) { return kbdmclose(handle); }

// Dialects whose open mode an MDX file accepts (the raw low byte).
bool MdxDialectAccepted(uint8_t dialect) {
  return dialect == 0 || dialect == kKbdDbase4;
}

void StampDate(std::array<uint8_t, kMdxUpdatedSize>* date) {
  platform::LocalDate today = platform::Today();
  (*date)[0] = static_cast<uint8_t>((today.year - 1900) & 0xFF);
  (*date)[1] = static_cast<uint8_t>(today.month);
  (*date)[2] = static_cast<uint8_t>(today.day);
}

}  // namespace

int16_t MdxSectorOffset(uint32_t sector, uint32_t* offset) {
  const uint64_t bytes = static_cast<uint64_t>(sector) * kMdxSectorSize;
  if (bytes >= kMaxFileEnd) return Fail(kKbdErrSeek);
  *offset = static_cast<uint32_t>(bytes);
  return kKbdOk;
}

// ---- Control blocks and the free chain --------------------------------------

MdxFile::~MdxFile() {
  for (auto& tag : tags) tag.reset();
  index::CloseSlotOfBlock(&slot);
}

MdxTagEntry MdxFile::Entry(uint32_t number) const {
  return MdxTagEntry::DecodeFrom(std::span<const uint8_t, kMdxTagEntrySize>(
      table.data() + number * kMdxTagEntrySize, kMdxTagEntrySize));
}

void MdxFile::SetEntry(uint32_t number, const MdxTagEntry& entry) {
  entry.EncodeTo(std::span<uint8_t, kMdxTagEntrySize>(
      table.data() + number * kMdxTagEntrySize, kMdxTagEntrySize));
}

uint32_t MdxFile::FindTag(std::string_view wanted) const {
  auto upper = [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  };
  for (uint32_t n = 1; n <= header.tag_count; ++n) {
    const std::string tag_name = Entry(n).name;
    if (tag_name.size() != wanted.size()) continue;
    bool same = true;
    for (size_t i = 0; i < wanted.size() && same; ++i)
      same = upper(tag_name[i]) == upper(wanted[i]);
    if (same) return n;
  }
  return 0;
}

int16_t MdxFile::RefreshWords() {
  if (TrustsKeptWords(this)) return kKbdOk;
  uint8_t words[kMdxWordsSize];
  if (int16_t e = FileReadAt(slot, kMdxWordsOffset, words, sizeof words))
    return e;
  header.DecodeWords(words);
  // From here every change of the words is made in memory as well; a
  // call that fails drops them again (DropKept).
  words_kept = true;
  return kKbdOk;
}

int16_t DropKept(MdxFile* file) {
  file->words_kept = false;
  int16_t status = kKbdOk;
  for (auto& tag : file->tags) {
    if (tag == nullptr) continue;
    tag->pages_kept = false;
    tag->path.Clear();
    tag->tree->ForgetKeptPath();
    const int16_t cleared = tag->cache.Clear();
    if (status == kKbdOk) status = cleared;
  }
  return status;
}

int16_t MdxFile::ReloadTagTable() {
  uint8_t count[kMdxTagCountSize];
  if (int16_t e = FileReadAt(slot, kMdxTagCountOffset, count, sizeof count))
    return e;
  std::array<uint8_t, kMdxTagTableSize> fresh;
  if (int16_t e =
          FileReadAt(slot, kMdxTagTableOffset, fresh.data(), kMdxTagTableSize))
    return e;
  const uint16_t tag_count = GetLe16(count);
  if (tag_count > kMdxMaxTags) return Fail(kKbdErrTagCount);
  header.tag_count = tag_count;
  table = fresh;
  // M1 again: each open tag at the number whose entry names its header;
  // a tag no entry names (another handle deleted it) is closed.
  std::array<std::unique_ptr<MdxTag>, kMdxTagTableEntries> seated;
  seated[0] = std::move(tags[0]);
  for (uint32_t n = 1; n < tags.size(); ++n) {
    if (tags[n] == nullptr) continue;
    for (uint32_t m = 1; m <= tag_count; ++m) {
      if (seated[m] == nullptr &&
          Entry(m).header_sector == tags[n]->header_sector) {
        tags[n]->number = m;
        seated[m] = std::move(tags[n]);
        break;
      }
    }
  }
  tags = std::move(seated);
  return kKbdOk;
}

int16_t MdxFile::WriteWords() {
  uint8_t words[kMdxWordsSize];
  header.EncodeWords(words);
  changed = true;
  return FileWriteAt(slot, kMdxWordsOffset, words, sizeof words);
}

int16_t MdxFile::AllocateBlock(uint32_t* sector, bool write_words) {
  changed = true;
  if (header.free_head != 0) {
    const uint32_t head = header.free_head;
    if (head < kMdxFirstBlockSector ||
        static_cast<uint64_t>(head) + block_factor() > header.sector_count)
      return Fail(kKbdErrCorrupt);  // a chain pointing outside the file
    uint32_t offset = 0;
    if (int16_t e = MdxSectorOffset(head, &offset)) return e;
    uint8_t link[4];
    if (int16_t e =
            FileReadAt(slot, offset + kMdxLinkOffset, link, sizeof link))
      return e;
    header.free_head = GetLe32(link);
    if (header.free_count > 0) --header.free_count;
    *sector = head;
    if (!write_words) return kKbdOk;
    uint8_t words[kMdxChainWordsSize];
    PutLe32(words, header.free_head);
    PutLe32(words + kMdxFreeHeadSize, header.free_count);
    return FileWriteAt(slot, kMdxFreeHeadOffset, words, sizeof words);
  }
  const uint64_t end =
      static_cast<uint64_t>(header.sector_count) + block_factor();
  if (end * kMdxSectorSize > kMaxFileEnd) return Fail(kKbdErrSeek);
  *sector = header.sector_count;
  header.sector_count = static_cast<uint32_t>(end);
  if (!write_words) return kKbdOk;
  uint8_t word[kMdxSectorCountSize];
  PutLe32(word, header.sector_count);
  return FileWriteAt(slot, kMdxSectorCountOffset, word, sizeof word);
}

int16_t MdxFile::FreeBlock(uint32_t sector, btree::PageCache* cache) {
  uint8_t freed[kMdxFreedBytes] = {};
  PutLe32(freed + kMdxLinkOffset, header.free_head);
  changed = true;
  if (cache != nullptr) {
    btree::PageRef ref;
    if (int16_t e = cache->Load(sector, &ref)) return e;
    std::memcpy(ref.data(), freed, sizeof freed);
    if (int16_t e = cache->Write(ref)) return e;
  } else {
    uint32_t offset = 0;
    if (int16_t e = MdxSectorOffset(sector, &offset)) return e;
    if (int16_t e = FileWriteAt(slot, offset, freed, sizeof freed)) return e;
  }
  header.free_head = sector;
  ++header.free_count;
  uint8_t words[kMdxChainWordsSize];
  PutLe32(words, header.free_head);
  PutLe32(words + kMdxFreeHeadSize, header.free_count);
  return FileWriteAt(slot, kMdxFreeHeadOffset, words, sizeof words);
}

// ---- The tree store of a tag --------------------------------------------

// A root split records the new root in the tag header at once.
int16_t MdxTag::SetRoot(uint32_t page) {
  uint32_t offset = 0;
  if (int16_t e = MdxSectorOffset(header_sector, &offset)) return e;
  uint8_t word[kMdxTagRootSize];
  PutLe32(word, page);
  if (int16_t e = FileWriteAt(file->slot, offset + kMdxTagRootOffset, word,
                              sizeof word))
    return e;
  header.root = page;
  file->changed = true;
  return kKbdOk;
}

int16_t MdxTag::AllocatePage(uint32_t* page) {
  if (int16_t e = file->AllocateBlock(page, true)) return e;
  cache.SetBounds(kMdxFirstBlockSector, file->header.sector_count);  // M3
  return kKbdOk;
}

int16_t MdxTag::FreePage(uint32_t page) {
  return file->FreeBlock(page, &cache);
}

int CompareMdxKeys(uint8_t key_type, const uint8_t* a, const uint8_t* b,
                   uint32_t length) {
  switch (key_type) {
    case kMdxKeyNumeric:
      return CompareMdxDecimals(a, b);
    case kMdxKeyDate:
      return btree::CompareLeDoubleKeys(a, b);
    default:
      return CompareCharKeys(a, b, length);
  }
}

int MdxTag::CompareKeys(const uint8_t* search, const uint8_t* key,
                        uint32_t length, bool wildcard) const {
  if (wildcard && key_type() == kMdxKeyCharacter)
    return btree::CompareWildcard(search, key, length);
  return CompareMdxKeys(key_type(), search, key, length);
}

int16_t StoreMdxKey(const MdxTag& tag, char type, std::string_view text,
                    double number, uint8_t* key) {
  const uint32_t length = tag.header.key_length;
  switch (tag.key_type()) {
    case kMdxKeyCharacter: {
      if (type != 'C') break;
      const size_t n = text.size() < length ? text.size() : length;
      std::memcpy(key, text.data(), n);
      std::memset(key + n, ' ', length - n);
      return kKbdOk;
    }
    case kMdxKeyDate:
      if (type != 'D') break;
      PutLe64(key, std::bit_cast<uint64_t>(number));
      return kKbdOk;
    case kMdxKeyNumeric:
      if (type != 'N') break;
      EncodeMdxDecimal(number, key);
      return kKbdOk;
    default:
      break;
  }
  return Fail(kKbdErrKeyExpression);
}

// ---- Handles and calls ----------------------------------------------------

MdxFile* CheckMdx(int16_t handle) {
  return CheckHandleAs<MdxFile>(handle, kKbdKindMdx);
}

MdxTag* CheckMdxTag(int32_t tag_handle) {
  MdxFile* file = CheckMdx(MdxFileOfTag(tag_handle));
  if (file == nullptr) return nullptr;
  const uint32_t number = MdxNumberOfTag(tag_handle);
  if (number > file->header.tag_count || number >= file->tags.size() ||
      file->tags[number] == nullptr) {
    Fail(kKbdErrTagId);
    return nullptr;
  }
  return file->tags[number].get();
}

int16_t RefreshTag(MdxTag* tag) {
  MdxFile* file = tag->file;
  tag->tree->TrustKeptPath(TrustsKeptPages(tag));
  if (TrustsKeptPages(tag)) {
    // Other tags' calls may have grown the file since (M3).
    tag->cache.SetBounds(kMdxFirstBlockSector, file->header.sector_count);
    return kKbdOk;
  }
  if (int16_t e = file->RefreshWords()) return e;
  uint32_t offset = 0;
  if (int16_t e = MdxSectorOffset(tag->header_sector, &offset)) return e;
  uint8_t word[kMdxTagRootSize];
  if (int16_t e =
          FileReadAt(file->slot, offset + kMdxTagRootOffset, word, sizeof word))
    return e;
  const uint32_t root = GetLe32(word);
  if (root < kMdxFirstBlockSector || root >= file->header.sector_count)
    return Fail(kKbdErrRootPage);
  tag->header.root = root;
  tag->cache.SetBounds(kMdxFirstBlockSector, file->header.sector_count);
  return kKbdOk;
}

int16_t EndFileCall(MdxFile* file) {
  if (!file->changed) return kKbdOk;
  file->changed = false;
  file->header_dirty = true;
  if (StickyError() == 0 && Engine().sync_writes) return FileFlush(file->slot);
  return kKbdOk;
}

int16_t EndTagCall(MdxTag* tag) {
  tag->path.Clear();
  MdxFile* file = tag->file;
  // Every change was written as it was made (the cache writes through), so
  // after a clean call the cache, the root and the words in memory are the
  // file's.
  const bool alone = FileOpenedAlone(file->slot);
  const int16_t status = index::KeepPagesOrDrop(
      alone, &tag->cache, &tag->pages_kept,
      [&] { return alone ? DropKept(file) : tag->cache.Clear(); });
  int16_t ended = EndFileCall(file);
  return status < 0 ? status : ended;
}

// ---- Open -------------------------------------------------------------------

namespace {

// The header checks of open, in their order.
int16_t CheckMdxHeader(const MdxHeader& h) {
  if (h.version != kMdxVersion) return Fail(kKbdErrVersion);
  if (h.block_factor < kMdxMinBlockFactor ||
      h.block_factor > kMdxMaxBlockFactor)
    return Fail(kKbdErrPageSize);
  if (h.block_size != h.block_factor * kMdxSectorSize)
    return Fail(kKbdErrOffsetAdder);
  if (h.table_max != kMdxTagTableEntries) return Fail(kKbdErrIndexTableMax);
  if (h.table_item != kMdxTagEntrySize) return Fail(kKbdErrIndexTableItem);
  if (h.tag_count > kMdxMaxTags) return Fail(kKbdErrTagCount);
  if (h.sector_count < kMdxNewFileSectors) return Fail(kKbdErrHeaderSize);
  return kKbdOk;
}

}  // namespace

int16_t OpenMdx(int16_t* handle, const char* name, uint16_t mode) {
  index::IndexOpening<MdxFile> opening;
  if (int16_t e =
          opening.Begin(handle, name, mode, kKbdKindMdx, CloseMdxOperation))
    return e;
  MdxFile* file = opening.block();
  auto fail = [&opening](int16_t status) { return opening.Fail(status); };
  if (!MdxDialectAccepted(DialectOf(mode))) return fail(Fail(kKbdErrVersion));
  uint8_t bytes[kMdxHeaderSize];
  if (int16_t e = FileReadAt(file->slot, 0, bytes, sizeof bytes))
    return fail(e);
  file->header = MdxHeader::DecodeFrom(bytes);
  if (int16_t e = CheckMdxHeader(file->header)) return fail(e);
  if (int16_t e = FileReadAt(file->slot, kMdxTagTableOffset, file->table.data(),
                             kMdxTagTableSize))
    return fail(e);
  uint32_t size = 0;
  if (int16_t e = FileSize(file->slot, &size)) return fail(e);
  if (static_cast<uint64_t>(size) !=
      static_cast<uint64_t>(file->header.sector_count) * kMdxSectorSize)
    return kKbdBadFileSize;  // the file stays open
  return kKbdOk;
}

// ---- Create -----------------------------------------------------------------

namespace {

// The data file's base name: no directory, no extension.
std::string_view BaseName(std::string_view path) {
  size_t slash = path.find_last_of("/\\:");
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  size_t dot = path.rfind('.');
  if (dot != std::string_view::npos) path.remove_suffix(path.size() - dot);
  return path;
}

int16_t CreateMdx(const char* name) {
  if (name == nullptr) return Fail(kKbdErrNullPointer);
  std::string_view base = BaseName(name);
  // Names beyond DOS's 8 characters keep their first 8, as the dBASE IV
  // memo header does: the field is read by nobody to find the table.
  base = base.substr(0, kMdxMaxDataNameLength);
  MdxHeader h;
  StampDate(&h.created);
  h.updated = h.created;
  for (size_t i = 0; i < base.size(); ++i) {
    const char c = base[i];
    h.data_name[i] =
        static_cast<uint8_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  h.block_factor = kMdxNewBlockFactor;
  h.block_size = static_cast<uint16_t>(kMdxNewBlockFactor * kMdxSectorSize);
  h.sector_count = kMdxNewFileSectors;
  // Header sector and the three sectors of an empty tag table.
  uint8_t image[kMdxNewFileSectors * kMdxSectorSize] = {};
  h.EncodeTo(std::span<uint8_t, kMdxHeaderSize>(image, kMdxHeaderSize));
  uint16_t slot = kNoFileSlot;
  if (int16_t e = FileCreate(&slot, name)) return e;
  FileWriteAt(slot, 0, image, sizeof image);
  RunDespiteError([slot] { return FileClose(slot); });
  return StickyError();
}

}  // namespace

// ---- Close ------------------------------------------------------------------

int16_t CloseMdx(int16_t handle) {
  MdxFile* file = CheckMdx(handle);
  if (file == nullptr) return kKbdErrHandle;
  int16_t status = kKbdOk;
  for (uint32_t n = 0; n < file->tags.size(); ++n) {
    if (file->tags[n] == nullptr) continue;
    int16_t closed =
        RunDespiteError([&] { return CloseMdxTag(MdxTagHandle(handle, n)); });
    if (status == kKbdOk && closed < 0) status = closed;
  }
  // Every word was written when it changed; what is left is the date of
  // the last update, a change under the operation lock (released before
  // the file closes).
  if (status == kKbdOk && file->header_dirty && !file->read_only()) {
    OperationScope scope;
    status = file->EnterLock(&scope, LockKind::kExclusive);
    if (status == kKbdOk) {
      StampDate(&file->header.updated);
      status = FileWriteAt(file->slot, kMdxUpdatedOffset,
                           file->header.updated.data(), kMdxUpdatedSize);
    }
    file->header_dirty = false;
  }
  uint16_t slot = file->slot;
  file->slot = kNoFileSlot;
  int16_t closed = RunDespiteError([slot] { return FileClose(slot); });
  FreeHandle(handle);
  if (status < 0) return Fail(status);
  return closed < 0 ? Fail(closed) : status;
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdmcreate(const char* name) {
  return RunOperation([&] { return CreateMdx(name); });
}

extern "C" int16_t kbdmopenx(int16_t* handle, const char* name, uint16_t mode) {
  return RunOperation([&] { return OpenMdx(handle, name, mode); });
}

extern "C" int16_t kbdmclose(int16_t handle) {
  return RunOperation([&] { return CloseMdx(handle); });
}

extern "C" int16_t kbdminfo(int16_t handle, KbdMdxInfo* info) {
  return RunOperation([&]() -> int16_t {
    if (info == nullptr) return Fail(kKbdErrNullPointer);
    MdxFile* file = CheckMdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    *info = KbdMdxInfo{};
    info->tag_count = file->header.tag_count;
    info->flags = static_cast<uint16_t>(
        (file->read_only() ? 0x01 : 0) |
        ((file->file_flags & kFileFlagShared) ? 0x02 : 0) |
        ((file->file_flags & 0x02) ? 0x04 : 0));
    const size_t n = file->name.size() < sizeof info->name - 1
                         ? file->name.size()
                         : sizeof info->name - 1;
    std::memcpy(info->name, file->name.data(), n);
    info->status = 0;
    return kKbdOk;
  });
}
