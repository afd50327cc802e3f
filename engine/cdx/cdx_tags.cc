// The tags of a CDX file: opening by name or by position, closing,
// descriptions, creation (replacing a tag of the same name) and deletion,
// and the description of the open file.
//
// Creation. The new tag's header and expression block are two consecutive
// blocks taken at the end of the file, its empty root leaf is a block of
// the file-wide allocation, and the directory gets the name with the
// header's offset as record number.
// Deletion removes the directory entry first, then gives the tag's nodes
// and its two header blocks to the free list: a failure part way leaves
// blocks unused, never a name that leads to freed blocks. In a shared file
// both hold the operation lock exclusively; the directory reads (tag open,
// tag list, description) hold it shared.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/cdx/cdx_file.h"
#include "engine/core/coding.h"
#include "engine/expr/expression.h"
#include "engine/fileio/memory.h"
#include "engine/fox/fox_key_image.h"
#include "engine/index/key_type_word.h"

namespace qx::engine {
namespace {

// The first free slot of 1..19, or 0.
uint32_t FreeSlot(const CdxFile& file) {
  for (uint32_t n = 1; n < kCdxSlotCount; ++n)
    if (file.slots[n] == nullptr) return n;
  return 0;
}

// The slot of 1..19 holding a tag of that name, or 0.
uint32_t OpenSlotOf(const CdxFile& file, std::string_view name) {
  for (uint32_t n = 1; n < kCdxSlotCount; ++n)
    if (file.slots[n] != nullptr && SameTagName(file.slots[n]->name, name))
      return n;
  return 0;
}

void CopyText(std::string_view text, char* out, size_t capacity) {
  const size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// The description of a tag from its header.
void Describe(const fox::FoxHeader& h, std::string_view name, char type,
              KbdCdxTagInfo* info) {
  *info = KbdCdxTagInfo{};
  CopyText(name.substr(0, kCdxMaxTagName), info->name, sizeof info->name);
  info->key_length = h.key_length;
  info->type = type;
  const bool compact = (h.options & fox::kFoxCompact) != 0;
  info->flags = (h.unique() ? kKbdKeyUnique : 0) |
                (h.candidate() ? kKbdKeyCandidate : 0) |
                (compact ? kKbdKeyCompact : 0) |
                (h.descending() ? kKbdKeyDescending : 0);
  info->expression_length = static_cast<int32_t>(h.expression.size());
  // The first 100 bytes, NUL-terminated only when shorter.
  const size_t n = std::min(h.expression.size(), sizeof info->expression);
  std::memcpy(info->expression, h.expression.data(), n);
}

// The key type of a tag as far as this handle knows it: set by
// kbdckeytype on an open tag of that name, else text.
char KnownType(const CdxFile& file, std::string_view name) {
  const uint32_t slot = OpenSlotOf(file, name);
  return slot != 0 ? file.slots[slot]->key_type : 'C';
}

// The directory key of an upper-case name: blank-padded to the key length.
std::string DirectoryKey(CdxFile* file, const std::string& upper_name) {
  std::string key = upper_name;
  key.resize(file->directory().key_length(), ' ');
  return key;
}

// Runs a change of the directory tree inside its own refresh and end of
// call.
template <typename Change>
int16_t ChangeDirectory(CdxFile* file, Change&& change) {
  CdxTag& dir = file->directory();
  int16_t status = dir.tree.Refresh();
  if (status >= 0) status = change(dir.tree);
  int16_t ended = RunDespiteError([&dir] { return dir.tree.EndCall(); });
  if (status < 0) return status;
  return ended < 0 ? Fail(ended) : status;
}

// Removes the closed tag at header_offset: its directory entry, then its
// nodes and header blocks to the free list.
int16_t DeleteTagAt(CdxFile* file, const std::string& upper_name,
                    uint32_t header_offset) {
  std::unique_ptr<CdxTag> tag;
  if (int16_t e = LoadCdxTree(file, 1, header_offset, upper_name, &tag))
    return e;
  std::vector<uint32_t> nodes;
  int16_t status = tag->tree.Refresh();
  if (status >= 0) status = tag->tree.CollectNodes(&nodes);
  int16_t ended = RunDespiteError([&tag] { return tag->tree.EndCall(); });
  if (status < 0) return status;
  if (ended < 0) return Fail(ended);
  const std::string key = DirectoryKey(file, upper_name);
  status = ChangeDirectory(file, [&](fox::FoxTree& dir) {
    return dir.Remove(reinterpret_cast<const uint8_t*>(key.data()),
                      header_offset);
  });
  if (status < 0) return status;
  if (status != kKbdOk) return Fail(kKbdErrTagName);
  nodes.push_back(header_offset + fox::kFoxBlockSize);
  nodes.push_back(header_offset);
  for (uint32_t node : nodes)
    if (int16_t e = fox::FreeFoxBlock(file->slot, node)) return e;
  return CountCdxChange(file);
}

// Two consecutive blocks at the end of the file for a tag header and its
// expression block. The end is taken from the file size: the word at 8 is
// a change counter.
int16_t AllocateHeaderBlocks(CdxFile* file, uint32_t* offset) {
  uint32_t size = 0;
  if (int16_t e = FileSize(file->slot, &size)) return e;
  const uint64_t end = (uint64_t{size} + fox::kFoxBlockSize - 1) /
                       fox::kFoxBlockSize * fox::kFoxBlockSize;
  if (end + 2 * fox::kFoxBlockSize >= (uint64_t{1} << 31))
    return Fail(kKbdErrSeek);
  // The blocks exist before anything refers to them.
  static constexpr uint8_t kZero[2 * fox::kFoxBlockSize] = {};
  if (int16_t e = FileWriteAt(file->slot, static_cast<uint32_t>(end), kZero,
                              sizeof kZero))
    return e;
  *offset = static_cast<uint32_t>(end);
  return kKbdOk;
}

int16_t OpenTagByName(int32_t* tag, int16_t handle, const char* name) {
  if (tag == nullptr) return Fail(kKbdErrNullPointer);
  *tag = -1;
  CdxFile* file = CheckCdxHandle(handle);
  if (file == nullptr) return kKbdErrHandle;
  std::string upper;
  if (int16_t e = CdxNameKey(name, &upper)) return e;
  if (OpenSlotOf(*file, upper) != 0) return Fail(kKbdErrTagInUse);
  const uint32_t slot = FreeSlot(*file);
  if (slot == 0) return Fail(kKbdErrIndexTableMax);
  OperationScope scope;
  if (int16_t e = file->EnterLock(&scope, LockKind::kShared)) return e;
  uint32_t offset = 0;
  int16_t found = FindCdxTag(file, upper, &offset);
  if (found != kKbdOk) return found < 0 ? found : Fail(kKbdErrTagName);
  if (int16_t e = LoadCdxTree(file, slot, offset, upper, &file->slots[slot]))
    return e;
  *tag = CdxTagId(handle, slot);
  return kKbdOk;
}

int16_t OpenTagByNumber(int32_t* tag, int16_t handle, int16_t number) {
  if (tag == nullptr) return Fail(kKbdErrNullPointer);
  *tag = -1;
  CdxFile* file = CheckCdxHandle(handle);
  if (file == nullptr) return kKbdErrHandle;
  if (number < 1 || number >= kCdxSlotCount) return Fail(kKbdErrTagCount);
  const uint32_t slot = static_cast<uint32_t>(number);
  if (file->slots[slot] != nullptr) {
    *tag = CdxTagId(handle, slot);
    return kKbdOk;
  }
  OperationScope scope;
  if (int16_t e = file->EnterLock(&scope, LockKind::kShared)) return e;
  std::vector<CdxDirectoryEntry> entries;
  if (int16_t e = ReadCdxDirectory(file, &entries)) return e;
  if (slot > entries.size()) return Fail(kKbdErrTagCount);
  const CdxDirectoryEntry& entry = entries[slot - 1];
  if (int16_t e = LoadCdxTree(file, slot, entry.header_offset, entry.name,
                              &file->slots[slot]))
    return e;
  *tag = CdxTagId(handle, slot);
  return kKbdOk;
}

int16_t ListTags(int16_t handle, int16_t* count, KbdCdxTagInfo** tags) {
  if (count == nullptr || tags == nullptr) return Fail(kKbdErrNullPointer);
  *count = 0;
  *tags = nullptr;
  CdxFile* file = CheckCdxHandle(handle);
  if (file == nullptr) return kKbdErrHandle;
  OperationScope scope;
  if (int16_t e = file->EnterLock(&scope, LockKind::kShared)) return e;
  std::vector<CdxDirectoryEntry> entries;
  if (int16_t e = ReadCdxDirectory(file, &entries)) return e;
  if (entries.empty()) return kKbdOk;
  if (entries.size() > 0x7FFF) return Fail(kKbdErrCorrupt);
  uint32_t size = 0;
  if (int16_t e = FileSize(file->slot, &size)) return e;
  std::vector<KbdCdxTagInfo> infos(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const uint32_t offset = entries[i].header_offset;
    if (offset % fox::kFoxBlockSize != 0 ||
        static_cast<uint64_t>(offset) + 2 * fox::kFoxBlockSize > size)
      return Fail(kKbdErrCorrupt);
    fox::FoxHeader header;
    if (int16_t e = fox::ReadFoxHeader(file->slot, offset, &header)) return e;
    Describe(header, entries[i].name, KnownType(*file, entries[i].name),
             &infos[i]);
  }
  void* block = nullptr;
  if (int16_t e = EngineAllocate(infos.size() * sizeof(KbdCdxTagInfo), &block))
    return e;
  std::memcpy(block, infos.data(), infos.size() * sizeof(KbdCdxTagInfo));
  *tags = static_cast<KbdCdxTagInfo*>(block);
  *count = static_cast<int16_t>(infos.size());
  return kKbdOk;
}

// The key length a type letter takes: 'C' the caller's (1..100, else
// -23), 'D' 8, 'N' 8 or, asked for, 4 (Visual FoxPro's keys of I fields:
// the 4-byte integer image), 'L' 1; other letters -22.
int16_t TypeKeyLength(char letter, uint16_t asked, uint16_t* key_length) {
  switch (letter) {
    case 'C':
      if (asked < 1 || asked > kCdxMaxKeyLength) return Fail(kKbdErrKeySize);
      *key_length = asked;
      return kKbdOk;
    case 'D':
      *key_length = 8;
      return kKbdOk;
    case 'N':
      *key_length = asked == fox::kFoxIntegerKeySize ? asked : 8;
      return kKbdOk;
    case 'L':
      *key_length = 1;
      return kKbdOk;
    default:
      return Fail(kKbdErrKeyType);
  }
}

}  // namespace

int16_t DeleteCdxTag(CdxFile* file, const char* name) {
  std::string upper;
  if (int16_t e = CdxNameKey(name, &upper)) return e;
  if (file->read_only()) return Fail(kKbdErrReadOnly);
  if (OpenSlotOf(*file, upper) != 0) return Fail(kKbdErrTagInUse);
  OperationScope scope;
  if (int16_t e = file->EnterLock(&scope, LockKind::kExclusive)) return e;
  uint32_t offset = 0;
  int16_t found = FindCdxTag(file, upper, &offset);
  if (found != kKbdOk) return found < 0 ? found : Fail(kKbdErrTagName);
  return DeleteTagAt(file, upper, offset);
}

int16_t CreateCdxTag(CdxFile* file, const char* name, uint16_t type,
                     const char* expression, uint16_t key_length,
                     const char* for_expression, uint32_t* header_offset) {
  std::string upper;
  if (int16_t e = CdxNameKey(name, &upper)) return e;
  if (expression == nullptr) return Fail(kKbdErrNullPointer);
  std::string text;
  if (int16_t e =
          NormaliseKeyExpression(expression, &text, kCdxMaxExpression - 1))
    return e;
  std::string for_text;
  if (int16_t e = fox::StoredForExpression(for_expression, &for_text)) return e;
  // Both expressions and their NULs share the 512-byte expression block.
  if (text.size() + for_text.size() + 2 > fox::kFoxPoolSize)
    return Fail(kKbdErrKeyExpression);
  const bool unique = index::KeyTypeUnique(type);
  const char letter = index::KeyTypeLetter(type);
  uint16_t length = 0;
  if (int16_t e = TypeKeyLength(letter, key_length, &length)) return e;
  if (file->read_only()) return Fail(kKbdErrReadOnly);
  if (OpenSlotOf(*file, upper) != 0) return Fail(kKbdErrTagInUse);

  OperationScope scope;
  if (int16_t e = file->EnterLock(&scope, LockKind::kExclusive)) return e;
  uint32_t old_offset = 0;
  int16_t found = FindCdxTag(file, upper, &old_offset);
  if (found < 0) return found;
  if (found == kKbdOk) {
    if (int16_t e = DeleteTagAt(file, upper, old_offset)) return e;
  }
  uint32_t offset = 0;
  if (int16_t e = AllocateHeaderBlocks(file, &offset)) return e;
  uint32_t root = 0;
  if (int16_t e = fox::AllocateFoxBlock(file->slot, &root)) return e;
  fox::FoxNewTree tree;
  tree.layout = fox::FoxLayout::kCompact;
  tree.key_length = length;
  tree.options =
      static_cast<uint8_t>(kCdxTagOptions | (unique ? fox::kFoxUnique : 0));
  tree.descending = (type & kKbdKeyDescending) != 0;
  tree.expression = text;
  tree.for_expression = for_text;
  if (int16_t e = fox::WriteEmptyTree(file->slot, offset, root, tree)) return e;
  const std::string key = DirectoryKey(file, upper);
  int16_t status = ChangeDirectory(file, [&](fox::FoxTree& dir) {
    return dir.Insert(reinterpret_cast<const uint8_t*>(key.data()), offset);
  });
  if (status < 0) return status;
  if (status != kKbdOk) return Fail(kKbdErrCorrupt);  // the name came back
  *header_offset = offset;
  return CountCdxChange(file);
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdctagopen(int32_t* tag, int16_t handle, const char* name) {
  return RunOperation([&] { return OpenTagByName(tag, handle, name); });
}

extern "C" int16_t kbdctagopenno(int32_t* tag, int16_t handle, int16_t number) {
  return RunOperation([&] { return OpenTagByNumber(tag, handle, number); });
}

extern "C" int16_t kbdctagclose(int32_t tag) {
  return RunOperation([&]() -> int16_t {
    CdxTag* loaded = CheckCdxTagId(tag, false);
    if (loaded == nullptr) return LastError();
    loaded->file->slots[loaded->slot].reset();
    return kKbdOk;
  });
}

extern "C" int16_t kbdctaginfo(int32_t tag, KbdCdxTagInfo* info) {
  return RunOperation([&]() -> int16_t {
    if (info == nullptr) return Fail(kKbdErrNullPointer);
    CdxTag* loaded = CheckCdxTagId(tag, true);
    if (loaded == nullptr) return LastError();
    Describe(loaded->header, loaded->name, loaded->key_type, info);
    return kKbdOk;
  });
}

extern "C" int16_t kbdctaglist(int16_t handle, int16_t* count,
                               KbdCdxTagInfo** tags) {
  return RunOperation([&] { return ListTags(handle, count, tags); });
}

extern "C" int16_t kbdcexpr(int32_t tag, char* buffer) {
  return RunOperation([&]() -> int16_t {
    if (buffer == nullptr) return Fail(kKbdErrNullPointer);
    CdxTag* loaded = CheckCdxTagId(tag, true);
    if (loaded == nullptr) return LastError();
    CopyText(loaded->expression, buffer, 256);
    return kKbdOk;
  });
}

extern "C" int16_t kbdcforexpr(int32_t tag, char* buffer) {
  return RunOperation([&]() -> int16_t {
    if (buffer == nullptr) return Fail(kKbdErrNullPointer);
    CdxTag* loaded = CheckCdxTagId(tag, true);
    if (loaded == nullptr) return LastError();
    CopyText(loaded->for_expression, buffer, 256);
    return kKbdOk;
  });
}

extern "C" int16_t kbdcinfo(int16_t handle, KbdCdxInfo* info) {
  return RunOperation([&]() -> int16_t {
    if (info == nullptr) return Fail(kKbdErrNullPointer);
    CdxFile* file = CheckCdxHandle(handle);
    if (file == nullptr) return kKbdErrHandle;
    OperationScope scope;
    if (int16_t e = file->EnterLock(&scope, LockKind::kShared)) return e;
    std::vector<CdxDirectoryEntry> entries;
    if (int16_t e = ReadCdxDirectory(file, &entries)) return e;
    *info = KbdCdxInfo{};
    CopyText(file->name, info->name, sizeof info->name);
    info->file_flags = static_cast<uint16_t>((file->read_only() ? 0x01 : 0) |
                                             (file->shared() ? 0x02 : 0) |
                                             (file->write_through ? 0x04 : 0));
    // Outside a call this handle holds no lock of the file (C2).
    info->locked = 0;
    info->tag_count = static_cast<uint16_t>(entries.size());
    return kKbdOk;
  });
}

extern "C" int16_t kbdctagcreatex(int16_t handle, const char* name,
                                  uint16_t type, const char* expression,
                                  uint16_t key_length,
                                  const char* for_expression) {
  return RunOperation([&]() -> int16_t {
    CdxFile* file = CheckCdxHandle(handle);
    if (file == nullptr) return kKbdErrHandle;
    uint32_t offset = 0;
    return CreateCdxTag(file, name, type, expression, key_length,
                        for_expression, &offset);
  });
}

extern "C" int16_t kbdctagcreate(int16_t handle, const char* name,
                                 uint16_t type, const char* expression,
                                 uint16_t key_length) {
  return kbdctagcreatex(handle, name, type, expression, key_length, nullptr);
}

extern "C" int16_t kbdctagdelete(int16_t handle, const char* name) {
  return RunOperation([&]() -> int16_t {
    CdxFile* file = CheckCdxHandle(handle);
    if (file == nullptr) return kKbdErrHandle;
    return DeleteCdxTag(file, name);
  });
}
