// The tags of an MDX file: definition, deletion (its blocks go to the free
// chain), opening with the tag header checks, closing, and the tag's
// expression and description.
//
// The tag table keeps tags 1..N in creation order, each entry threaded to
// its neighbours (forward to the next tag, 0 for the last; backward to the
// previous one, entry 0 heading the list). A definition appends entry
// N + 1; a deletion moves the last entry into the deleted one's place, so
// that entries 1..N stay in use, and clears the entry left behind.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/expr/expression.h"
#include "engine/index/key_type_word.h"
#include "engine/mdx/mdx_file.h"

namespace qx::engine {
namespace {

// A tag name's length when it is 1..10 characters, else 0.
size_t TagNameLength(const char* name) {
  size_t n = 0;
  while (n <= kMdxMaxTagNameLength && name[n] != '\0') ++n;
  return n >= 1 && n <= kMdxMaxTagNameLength ? n : 0;
}

std::string UpperText(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

int16_t WriteTagTable(MdxFile* file) {
  file->changed = true;
  return FileWriteAt(file->slot, kMdxTagTableOffset, file->table.data(),
                     kMdxTagTableSize);
}

// Every block of a tag's tree, walked from the root: pages outside the
// file or met twice are left out, and a page whose count does not fit is
// not descended into.
int16_t CollectTreeBlocks(const MdxFile& file, const MdxTagHeader& h,
                          std::vector<uint32_t>* blocks) {
  const uint32_t end = file.header.sector_count;
  const uint32_t block_size = file.block_size();
  if (h.item_length <= kMdxKeyOffset) return kKbdOk;
  std::vector<bool> seen(end, false);
  std::vector<uint32_t> pending = {h.root};
  std::vector<uint8_t> page(block_size);
  while (!pending.empty()) {
    const uint32_t sector = pending.back();
    pending.pop_back();
    if (sector < kMdxFirstBlockSector || sector >= end || seen[sector])
      continue;
    seen[sector] = true;
    uint32_t offset = 0;
    if (int16_t e = MdxSectorOffset(sector, &offset)) return e;
    if (int16_t e = FileReadAt(file.slot, offset, page.data(), block_size))
      return e;
    blocks->push_back(sector);
    const uint32_t count = GetLe16(page.data() + kMdxCountOffset);
    const uint64_t used = kMdxEntriesOffset +
                          static_cast<uint64_t>(count) * h.item_length +
                          kMdxPointerSize;
    if (used > block_size) continue;
    auto pointer = [&](uint32_t slot) {
      return GetLe32(page.data() + kMdxEntriesOffset + slot * h.item_length +
                     kMdxPointerOffset);
    };
    if (pointer(count) == 0) continue;  // a leaf
    for (uint32_t slot = 0; slot <= count; ++slot)
      pending.push_back(pointer(slot));
  }
  return kKbdOk;
}

}  // namespace

int16_t ReadTagHeader(const MdxFile& file, uint32_t sector,
                      MdxTagHeader* header) {
  uint32_t offset = 0;
  if (int16_t e = MdxSectorOffset(sector, &offset)) return e;
  uint8_t bytes[kMdxTagHeaderReadSize];
  if (int16_t e = FileReadAt(file.slot, offset, bytes, sizeof bytes)) return e;
  *header = MdxTagHeader::DecodeFrom(bytes);
  return kKbdOk;
}

int16_t TagHeaderStatus(const MdxFile& file, const MdxTagHeader& h) {
  if (h.key_length < kMdxMinKeyLength || h.key_length > kMdxMaxKeyLength)
    return kKbdErrKeySize;
  if (!MdxItemLengthAccepted(h.key_length, h.item_length))
    return kKbdErrItemSize;
  if (h.root < kMdxFirstBlockSector || h.root >= file.header.sector_count)
    return kKbdErrRootPage;
  if (static_cast<uint32_t>(h.item_length) * h.max_keys >
          file.block_size() - kMdxPageOverhead ||
      h.max_keys < 2)
    return kKbdErrMaxKeys;
  if (h.expression.size() > kMdxMaxExpressionLength)
    return kKbdErrKeyExpression;
  if (h.key_format & kMdxFormatUnknown) return kKbdErrKeyFormat;
  if ((h.key_type != kMdxKeyCharacter && h.key_type != kMdxKeyDate &&
       h.key_type != kMdxKeyNumeric) ||
      h.secondary > kMdxDateSecondaryType)
    return kKbdErrKeyType;
  // Our comparisons read 8 bytes of a date key and 12 of a number.
  if ((h.key_type == kMdxKeyDate && h.key_length != kMdxDateKeyLength) ||
      (h.key_type == kMdxKeyNumeric && h.key_length != kMdxNumericKeyLength))
    return kKbdErrKeySize;
  return kKbdOk;
}

int16_t DeleteMdxTag(MdxFile* file, const char* name) {
  if (name == nullptr) return Fail(kKbdErrNullPointer);
  if (TagNameLength(name) == 0) return Fail(kKbdErrTagName);
  // The table as it stands now, under the lock.
  OperationScope scope;
  if (int16_t e = file->EnterLock(&scope, file->ChangeKind())) return e;
  if (int16_t e = file->ReloadTagTable()) return e;
  const uint32_t number = file->FindTag(name);
  if (number == 0) return Fail(kKbdErrTagName);
  if (file->tags[number] != nullptr) return Fail(kKbdErrTagInUse);
  if (file->read_only()) return Fail(kKbdErrReadOnly);
  if (int16_t e = file->RefreshWords()) return e;

  // The blocks to free, found before the table changes.
  const MdxTagEntry entry = file->Entry(number);
  std::vector<uint32_t> blocks = {entry.header_sector};
  MdxTagHeader h;
  if (int16_t e = ReadTagHeader(*file, entry.header_sector, &h)) return e;
  if (int16_t e = CollectTreeBlocks(*file, h, &blocks)) return e;

  const uint32_t last = file->header.tag_count;
  if (number != last) {
    MdxTagEntry moved = file->Entry(last);
    moved.backward = static_cast<uint8_t>(number - 1);
    moved.forward = static_cast<uint8_t>(number + 1);
    file->SetEntry(number, moved);
    file->tags[number] = std::move(file->tags[last]);  // M1
    if (file->tags[number] != nullptr) file->tags[number]->number = number;
  }
  std::memset(file->table.data() + last * kMdxTagEntrySize, 0,
              kMdxTagEntrySize);
  file->header.tag_count = static_cast<uint16_t>(last - 1);
  MdxTagEntry new_last = file->Entry(file->header.tag_count);
  new_last.forward = 0;
  file->SetEntry(file->header.tag_count, new_last);
  if (int16_t e = WriteTagTable(file)) return e;
  uint8_t count[kMdxTagCountSize];
  PutLe16(count, file->header.tag_count);
  if (int16_t e =
          FileWriteAt(file->slot, kMdxTagCountOffset, count, sizeof count))
    return e;

  for (uint32_t block : blocks) {
    if (block < kMdxFirstBlockSector ||
        static_cast<uint64_t>(block) + file->block_factor() >
            file->header.sector_count)
      continue;  // a damaged entry's header: nothing to give back
    if (int16_t e = file->FreeBlock(block, nullptr)) return e;
  }
  return kKbdOk;
}

int16_t DefineMdxTag(MdxFile* file, const char* name, uint16_t type,
                     const char* expression, uint16_t key_length,
                     uint32_t* number) {
  if (name == nullptr || expression == nullptr) return Fail(kKbdErrNullPointer);
  if (TagNameLength(name) == 0) return Fail(kKbdErrTagName);
  MdxTagHeader h;
  if (int16_t e = NormaliseKeyExpression(expression, &h.expression,
                                         kMdxMaxExpressionLength))
    return e;
  // The letter without case; the flags of the type word.
  const uint8_t letter = static_cast<uint8_t>(index::KeyTypeLetter(type));
  switch (letter) {
    case kMdxKeyCharacter:
      if (key_length < kMdxMinKeyLength || key_length > kMdxMaxKeyLength)
        return Fail(kKbdErrKeySize);
      h.key_length = key_length;
      break;
    case kMdxKeyDate:
      h.key_length = kMdxDateKeyLength;
      h.secondary = kMdxDateSecondaryType;
      break;
    case kMdxKeyNumeric:
      h.key_length = kMdxNumericKeyLength;
      break;
    default:
      return Fail(kKbdErrKeyType);
  }
  if (file->read_only()) return Fail(kKbdErrReadOnly);
  // The table as it stands now, under the lock held to the end.
  OperationScope scope;
  if (int16_t e = file->EnterLock(&scope, LockKind::kExclusive)) return e;
  if (int16_t e = file->ReloadTagTable()) return e;
  // A tag of the same name is replaced: it leaves its number, and the new
  // tag comes last.
  const bool replacing = file->FindTag(name) != 0;
  const uint32_t new_number =
      replacing ? file->header.tag_count : file->header.tag_count + 1u;
  if (new_number > kMdxMaxTags) return Fail(kKbdErrNoHandle);
  if (replacing) {
    if (int16_t e = DeleteMdxTag(file, name)) return e;
  }
  if (int16_t e = file->RefreshWords()) return e;

  h.key_type = letter;
  h.key_format = static_cast<uint8_t>(
      (MdxExpressionIsPlain(h.expression) ? kMdxFormatPlain : 0) |
      ((type & kKbdKeyUnique) ? kMdxFormatUnique : 0) |
      ((type & kKbdKeyDescending) ? kMdxFormatDescending : 0));
  h.item_length = static_cast<uint16_t>(MdxItemLength(h.key_length));
  h.max_keys =
      static_cast<uint16_t>(MdxMaxKeys(file->block_size(), h.item_length));
  uint32_t header_sector = 0, root = 0;
  if (int16_t e = file->AllocateBlock(&header_sector, true)) return e;
  if (int16_t e = file->AllocateBlock(&root, true)) return e;
  h.root = root;
  uint32_t header_offset = 0, root_offset = 0;
  if (int16_t e = MdxSectorOffset(header_sector, &header_offset)) return e;
  if (int16_t e = MdxSectorOffset(root, &root_offset)) return e;
  std::vector<uint8_t> block(file->block_size(), 0);
  if (int16_t e = FileWriteAt(file->slot, root_offset, block.data(),
                              file->block_size()))
    return e;
  h.EncodeTo(std::span<uint8_t, kMdxTagHeaderReadSize>(block.data(),
                                                       kMdxTagHeaderReadSize));
  if (int16_t e = FileWriteAt(file->slot, header_offset, block.data(),
                              file->block_size()))
    return e;

  MdxTagEntry entry;
  entry.header_sector = header_sector;
  entry.name = UpperText(name);
  entry.backward = static_cast<uint8_t>(new_number - 1);
  entry.key_type = letter;
  file->SetEntry(new_number, entry);
  MdxTagEntry previous = file->Entry(new_number - 1);
  previous.forward = static_cast<uint8_t>(new_number);
  file->SetEntry(new_number - 1, previous);
  file->header.tag_count = static_cast<uint16_t>(new_number);
  if (int16_t e = WriteTagTable(file)) return e;
  uint8_t words[kMdxCountWordsSize];
  PutLe16(words, file->header.tag_count);
  PutLe16(words + kMdxTagCountSize, file->header.reserved30);
  file->header.EncodeWords(std::span<uint8_t, kMdxWordsSize>(
      words + kMdxTagCountSize + kMdxReserved30Size, kMdxWordsSize));
  if (int16_t e =
          FileWriteAt(file->slot, kMdxCountWordsOffset, words, sizeof words))
    return e;
  *number = new_number;
  return kKbdOk;
}

int16_t OpenMdxTag(int16_t handle, uint32_t number, int32_t* tag_handle) {
  MdxFile* file = CheckMdx(handle);
  if (file == nullptr) return kKbdErrHandle;
  if (number > file->header.tag_count) return Fail(kKbdErrTagName);
  if (file->tags[number] != nullptr) {
    *tag_handle = MdxTagHandle(handle, number);
    return kKbdOk;
  }
  if (int16_t e = file->RefreshWords()) return e;
  auto tag = std::make_unique<MdxTag>();
  const MdxTagEntry entry = file->Entry(number);
  if (int16_t e = ReadTagHeader(*file, entry.header_sector, &tag->header))
    return e;
  if (int16_t e = TagHeaderStatus(*file, tag->header)) return Fail(e);
  tag->file = file;
  tag->number = number;
  tag->header_sector = entry.header_sector;
  tag->name = entry.name;
  tag->expression = NormaliseExpressionText(tag->header.expression);
  tag->layout = MdxLayout(tag->header, file->block_size());
  if (!tag->layout.Valid()) return Fail(kKbdErrMaxKeys);  // M4
  tag->half = tag->header.max_keys / 2u;
  tag->path.Reset(btree::PathCapacity(tag->half));
  if (int16_t e = tag->cache.Init(
          file->slot, file->block_size(), kMdxSectorSize,
          FileOpenedAlone(file->slot) ? kMdxAloneCacheShape : kMdxCacheShape,
          kMdxMinCacheBuffers))
    return e;
  tag->cache.SetReadOnly(file->read_only());
  tag->cache.SetBounds(kMdxFirstBlockSector, file->header.sector_count);
  tag->tree = std::make_unique<btree::Tree>(&tag->layout, tag->half,
                                            &tag->cache, &tag->path, tag.get());
  tag->cursor.Init(tag->tree.get(), &tag->path, tag->header.key_length,
                   tag->key_type() == kMdxKeyCharacter);
  file->tags[number] = std::move(tag);
  *tag_handle = MdxTagHandle(handle, number);
  return kKbdOk;
}

int16_t CloseMdxTag(int32_t tag_handle) {
  MdxFile* file = CheckMdx(MdxFileOfTag(tag_handle));
  if (file == nullptr) return kKbdErrHandle;
  const uint32_t number = MdxNumberOfTag(tag_handle);
  if (number > file->header.tag_count || file->tags[number] == nullptr)
    return Fail(kKbdErrTagId);
  // The root was written when it changed: a second write here could undo
  // a later change by another handle.
  file->tags[number].reset();
  return kKbdOk;
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdmtagdef(int16_t handle, const char* name, uint16_t type,
                              const char* expression, uint16_t key_length) {
  return RunOperation([&]() -> int16_t {
    MdxFile* file = CheckMdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    uint32_t number = 0;
    int16_t status =
        DefineMdxTag(file, name, type, expression, key_length, &number);
    const int16_t dropped = DropKept(file);
    const int16_t ended = EndFileCall(file);
    if (status < 0) return status;
    return dropped < 0 ? dropped : ended;
  });
}

extern "C" int16_t kbdmtagdel(int16_t handle, const char* name) {
  return RunOperation([&]() -> int16_t {
    MdxFile* file = CheckMdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    int16_t status = DeleteMdxTag(file, name);
    const int16_t dropped = DropKept(file);
    const int16_t ended = EndFileCall(file);
    if (status < 0) return status;
    return dropped < 0 ? dropped : ended;
  });
}

extern "C" int16_t kbdmtagopen(int32_t* tag, int16_t handle, const char* name) {
  if (tag != nullptr) *tag = kKbdNoHandle;
  return RunOperation([&]() -> int16_t {
    if (tag == nullptr || name == nullptr) return Fail(kKbdErrNullPointer);
    MdxFile* file = CheckMdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    if (TagNameLength(name) == 0) return Fail(kKbdErrTagName);
    // The name is looked up in the table as it stands now.
    OperationScope scope;
    if (int16_t e = file->EnterLock(&scope, LockKind::kShared)) return e;
    if (int16_t e = file->ReloadTagTable()) return e;
    const uint32_t number = file->FindTag(name);
    if (number == 0) return Fail(kKbdErrTagName);
    return OpenMdxTag(handle, number, tag);
  });
}

extern "C" int16_t kbdmtagopenn(int32_t* tag, int16_t handle, int16_t number) {
  if (tag != nullptr) *tag = kKbdNoHandle;
  return RunOperation([&]() -> int16_t {
    if (tag == nullptr) return Fail(kKbdErrNullPointer);
    MdxFile* file = CheckMdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    if (number < 0) return Fail(kKbdErrTagName);
    // The number counts in the table as it stands now.
    OperationScope scope;
    if (int16_t e = file->EnterLock(&scope, LockKind::kShared)) return e;
    if (int16_t e = file->ReloadTagTable()) return e;
    return OpenMdxTag(handle, static_cast<uint32_t>(number), tag);
  });
}

extern "C" int16_t kbdmtagclose(int32_t tag) {
  return RunOperation([&] { return CloseMdxTag(tag); });
}

extern "C" int16_t kbdmexpr(int32_t tag, char* buffer) {
  return RunOperation([&]() -> int16_t {
    if (buffer == nullptr) return Fail(kKbdErrNullPointer);
    MdxTag* open = CheckMdxTag(tag);
    if (open == nullptr) return LastError();
    std::memcpy(buffer, open->expression.c_str(), open->expression.size() + 1);
    return kKbdOk;
  });
}

extern "C" int16_t kbdmtaginfo(int32_t tag, KbdMdxTagInfo* info) {
  return RunOperation([&]() -> int16_t {
    if (info == nullptr) return Fail(kKbdErrNullPointer);
    MdxTag* open = CheckMdxTag(tag);
    if (open == nullptr) return LastError();
    *info = KbdMdxTagInfo{};
    std::memcpy(info->name, open->name.data(),
                std::min(open->name.size(), sizeof info->name - 1));
    info->key_length = open->header.key_length;
    info->type = static_cast<char>(open->key_type());
    info->flags =
        static_cast<uint16_t>((open->unique() ? kKbdKeyUnique : 0) |
                              (open->descending() ? kKbdKeyDescending : 0));
    info->expression_length = static_cast<uint16_t>(open->expression.size());
    std::memcpy(info->expression, open->expression.data(),
                std::min(open->expression.size(), sizeof info->expression - 1));
    return kKbdOk;
  });
}
