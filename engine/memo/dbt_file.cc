// The DBT memo module: creating, opening, reading, writing, packing and
// closing DBT files in the dBase III and dBase IV layouts (dbt_format.h).
//
// Divisions: layout choice and header checks; create; dBase III values
// (reading to the marker, line-width breaking, in-place or new placement);
// dBase IV values (free-chain placement, in-place rewrite, freeing a
// replaced run); the public operations.
//
// dBase IV free chain, rules kept by this file:
//  C1. A run is taken from its start and only when count >= n; what it has
//      beyond n blocks is not returned to the chain.
//  C2. The walk follows links only while they lie inside the file (block <
//      file size / B) and visits at most that many runs; a longer walk is a
//      cycle and the file is corrupt (-6).
//  C3. Whatever pointed at the place where a value is appended at the end
//      of the chain (the header or the last run's link) is moved past the
//      new value, so the chain never points into a live value.
//  C4. A link or head of 0 (the header block) ends the walk at the block
//      past the end of the file.
//  C5. A freed run never claims more blocks than its value covered.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "engine/core/handle_table.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/memo/dbt_format.h"
#include "engine/memo/memo_file.h"
#include "engine/memo/memo_pack.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

// A dialect byte accepted as the dBase III layout besides the dialects
// 1, 3, 5, 6 and 7; files opened with it behave as dialect 1.
inline constexpr uint8_t kDbtDialectExtra = 66;

// The layout a dialect selects; false for a dialect the module refuses.
bool LayoutForDialect(uint32_t dialect, MemoLayout* layout) {
  switch (dialect) {
    case kKbdDbase4:
      *layout = MemoLayout::kDbase4;
      return true;
    case kKbdDbase3:
    case kKbdFoxbase:
    case kKbdClipper:
    case kKbdClipper5:
    case kKbdDbxl:
    case kDbtDialectExtra:
      *layout = MemoLayout::kDbase3;
      return true;
    default:
      return false;
  }
}

int16_t ChooseDbtLayout(uint8_t mode_dialect, MemoFile& file) {
  uint8_t dialect = mode_dialect == 0 ? uint8_t{kKbdDbase3} : mode_dialect;
  if (!LayoutForDialect(dialect, &file.layout)) return Fail(kKbdErrVersion);
  file.dialect = dialect;
  return kKbdOk;
}

int16_t DecodeDbtHeader(MemoFile& file) {
  DbtHeader header = DbtHeader::DecodeFrom(file.header);
  if (file.layout == MemoLayout::kDbase4) {
    if (header.block_size == 0 || header.block_size > kDbtMaxBlockSize ||
        header.block_size % kDbtBlockSizeStep != 0)
      return Fail(kKbdErrPageSize);
    if (header.signature[0] != kDbtSignature0 ||
        header.signature[1] != kDbtSignature1 || header.reserved22 != 0)
      return Fail(kKbdErrParameter);
    file.block_size = header.block_size;
  } else {
    file.block_size = kDbtDbase3BlockSize;
  }
  file.next_free = header.next_free;
  return kKbdOk;
}

int16_t CloseDbtOperation(int16_t handle);

const MemoOpenRules kDbtOpenRules = {
    kKbdKindDbt,    CloseDbtOperation, ChooseDbtLayout,
    kDbtHeaderSize, kDbtHeaderSize,    DecodeDbtHeader,
};

// ---- Create ---------------------------------------------------------------

// Writes a new DBT file: header block, then 0x1A. name_field, when given,
// is the dBase IV header name to keep (pack); otherwise the file's base
// name is used. REQUIRES: block_size valid for the layout.
int16_t CreateDbtFile(const char* name, MemoLayout layout, uint32_t block_size,
                      const char* name_field) {
  DbtHeader header;
  header.next_free = 1;
  if (layout == MemoLayout::kDbase4) {
    std::string base = name_field ? std::string(name_field) : BaseNameOf(name);
    // A longer base name keeps its first characters, as later dBASE
    // versions store it; readers take the name for information only.
    base.resize(std::min<std::size_t>(base.size(), kDbtNameMaxLength));
    for (std::size_t i = 0; i < base.size(); ++i)
      header.name[i] =
          static_cast<char>(std::toupper(static_cast<unsigned char>(base[i])));
    header.signature[0] = kDbtSignature0;
    header.signature[1] = kDbtSignature1;
    header.block_size = static_cast<uint16_t>(block_size);
  } else {
    block_size = kDbtDbase3BlockSize;
  }
  std::string image(block_size + 1, '\0');
  header.EncodeTo(reinterpret_cast<uint8_t*>(image.data()));
  image[block_size] = static_cast<char>(kDbtEndOfFile);

  uint16_t slot = kNoFileSlot;
  if (int16_t e = FileCreate(&slot, name)) return e;
  FileWriteAt(slot, 0, image.data(), static_cast<uint32_t>(image.size()));
  RunDespiteError([slot] { FileClose(slot); });
  return StickyError();
}

// ---- dBase III values -------------------------------------------------------

// Reads the value at block up to its first 0x1A, however long it is, in
// pieces that double (so a long value costs few reads and reallocations).
// A value that meets the end of the file first is corrupt (-6).
int16_t ReadDbase3(MemoFile& file, uint32_t block, MemoValue* value) {
  uint32_t offset = 0;
  if (int16_t e = BlockOffset(block, kDbtPieceSize, 0, &offset)) return e;
  if (int16_t e = value->Allocate(0)) return e;
  uint32_t held = 0;
  uint32_t piece = kDbtPieceSize;
  for (;;) {
    uint64_t at = uint64_t{offset} + held;
    if (at >= file.file_size) return Fail(kKbdErrCorrupt);
    uint32_t count =
        static_cast<uint32_t>(std::min<uint64_t>(piece, file.file_size - at));
    if (int16_t e = value->Resize(held + count)) return e;
    if (int16_t e = FileReadAt(file.slot, static_cast<uint32_t>(at),
                               value->data() + held, count))
      return e;
    const void* end = std::memchr(value->data() + held, kDbtValueEnd, count);
    if (end != nullptr) {
      value->Truncate(
          static_cast<uint32_t>(static_cast<const char*>(end) - value->data()));
      return kKbdOk;
    }
    held += count;
    piece = std::min(piece * 2, kDbtLargestPiece);
  }
}

// Blocks the value at block spans up to and including its first 0x1A,
// looking at no more than limit blocks: the result is at most limit.
int16_t MeasureDbase3(MemoFile& file, uint32_t block, uint32_t limit,
                      uint32_t* blocks) {
  uint32_t offset = 0;
  if (int16_t e = BlockOffset(block, kDbtPieceSize, 0, &offset)) return e;
  uint8_t piece[kDbtPieceSize];
  for (uint32_t k = 0; k < limit; ++k) {
    uint64_t at = static_cast<uint64_t>(offset) + k * kDbtPieceSize;
    if (at >= file.file_size) return Fail(kKbdErrCorrupt);
    uint32_t count = static_cast<uint32_t>(
        std::min<uint64_t>(kDbtPieceSize, file.file_size - at));
    if (int16_t e =
            FileReadAt(file.slot, static_cast<uint32_t>(at), piece, count))
      return e;
    if (std::memchr(piece, kDbtValueEnd, count) != nullptr) {
      *blocks = k + 1;
      return kKbdOk;
    }
    if (count < kDbtPieceSize) return Fail(kKbdErrCorrupt);
  }
  *blocks = limit;
  return kKbdOk;
}

// The bytes of a dBase III value: the text broken to width (0 = as it
// is), then 1A 1A. Breaking: a piece of at most width bytes runs through
// the byte after a CR when one lies in it (a hard break, kept as given);
// otherwise a rest that fits is the last piece, and a longer rest is cut
// after its last blank within width bytes (or at width bytes without a
// blank) and followed by the soft break 8D 0A.
std::string Dbase3Image(const char* text, uint32_t length, int width) {
  std::string image;
  image.reserve(length + kDbtValueEndSize);
  if (width == 0) {
    image.assign(text, length);
  } else {
    uint32_t w = static_cast<uint32_t>(width);
    uint32_t pos = 0;
    while (pos < length) {
      uint32_t window = std::min(w, length - pos);
      const void* cr = std::memchr(text + pos, '\r', window);
      uint32_t end;
      if (cr != nullptr) {
        end = static_cast<uint32_t>(static_cast<const char*>(cr) - text) + 2;
        end = std::min(end, length);
        image.append(text + pos, end - pos);
        pos = end;
        continue;
      }
      if (window == length - pos) {  // the rest fits
        image.append(text + pos, window);
        break;
      }
      end = pos + window;
      for (uint32_t i = pos + window; i > pos; --i) {
        if (text[i - 1] == ' ') {
          end = i;
          break;
        }
      }
      image.append(text + pos, end - pos);
      pos = end;
      image.push_back(static_cast<char>(kDbtSoftBreak0));
      image.push_back(static_cast<char>(kDbtSoftBreak1));
    }
  }
  image.append(kDbtValueEndSize, static_cast<char>(kDbtValueEnd));
  return image;
}

// Blocks past the end of the file (a partial last block counts).
uint32_t EndBlock(const MemoFile& file) {
  return static_cast<uint32_t>(
      (static_cast<uint64_t>(file.file_size) + file.block_size - 1) /
      file.block_size);
}

// Writes a dBase III value image (text + 1A 1A). Replace: in place when it
// fits the first block, or when the old value spans at least as many
// blocks; else, and for a new value, at next_free, which then moves on by
// (written text + 2) / 512 + 1.
int16_t WriteDbase3(MemoFile& file, uint32_t* block, const std::string& image,
                    bool replace) {
  uint32_t size = static_cast<uint32_t>(image.size());
  uint32_t needed = (size + kDbtPieceSize - 1) / kDbtPieceSize;
  bool in_place = false;
  if (replace) {
    if (*block < 1 || *block >= file.next_free) return Fail(kKbdErrSeek);
    in_place = size <= kDbtPieceSize;
    if (!in_place) {
      uint32_t old_blocks = 0;
      if (int16_t e = MeasureDbase3(file, *block, needed, &old_blocks))
        return e;
      in_place = old_blocks >= needed;
    }
  }
  uint32_t at = in_place ? *block : file.next_free;
  if (at == 0) at = EndBlock(file);  // C4: never the header block
  uint32_t offset = 0;
  if (int16_t e = BlockOffset(at, kDbtPieceSize, size, &offset)) return e;
  if (int16_t e = FileWriteAt(file.slot, offset, image.data(), size)) return e;
  // (text + 2) / 512 + 1 blocks: one more than needed when the value ends
  // on a block boundary. The text counts the soft breaks written.
  if (!in_place) {
    if (int16_t e = WriteNextFree(file, at + size / kDbtPieceSize + 1))
      return e;
  }
  *block = at;
  return kKbdOk;
}

// ---- dBase IV values ------------------------------------------------------

int16_t ReadRun(MemoFile& file, uint32_t block, DbtFreeRun* run) {
  uint32_t offset = 0;
  if (int16_t e =
          BlockOffset(block, file.block_size, kDbtRunHeaderSize, &offset))
    return e;
  uint8_t bytes[kDbtRunHeaderSize];
  if (int16_t e = FileReadAt(file.slot, offset, bytes, kDbtRunHeaderSize))
    return e;
  *run = DbtFreeRun::DecodeFrom(bytes);
  return kKbdOk;
}

int16_t WriteRun(MemoFile& file, uint32_t block, const DbtFreeRun& run) {
  uint32_t offset = 0;
  if (int16_t e =
          BlockOffset(block, file.block_size, kDbtRunHeaderSize, &offset))
    return e;
  uint8_t bytes[kDbtRunHeaderSize];
  run.EncodeTo(bytes);
  return FileWriteAt(file.slot, offset, bytes, kDbtRunHeaderSize);
}

// Finds the block for a new value of n blocks on the free chain whose head
// is *head, unlinking the run taken or moving the end of the chain past
// the value (C1..C4). *head is updated in memory; the caller writes it
// after the value.
int16_t PlaceDbase4(MemoFile& file, uint32_t n, uint32_t* head, uint32_t* at) {
  const uint32_t inside = file.file_size / file.block_size;
  const uint32_t end = EndBlock(file);
  bool has_prev = false;
  uint32_t prev = 0;
  DbtFreeRun prev_run;
  uint32_t cur = *head;
  for (uint32_t steps = 0;; ++steps) {
    if (cur == 0) cur = end;  // C4
    if (cur >= inside) break;
    if (steps >= inside) return Fail(kKbdErrCorrupt);  // C2
    DbtFreeRun run;
    if (int16_t e = ReadRun(file, cur, &run)) return e;
    if (run.count >= n) {  // C1
      if (!has_prev) {
        *head = end;
      } else {
        prev_run.next = run.next;
        if (int16_t e = WriteRun(file, prev, prev_run)) return e;
      }
      *at = cur;
      return kKbdOk;
    }
    has_prev = true;
    prev = cur;
    prev_run = run;
    cur = run.next;
  }
  // No run fits: the value goes where the chain left the file (C3).
  uint32_t unused = 0;
  if (int16_t e = BlockOffset(cur, file.block_size,
                              uint64_t{n} * file.block_size, &unused))
    return e;
  if (!has_prev) {
    *head = cur + n;
  } else {
    prev_run.next = cur + n;
    if (int16_t e = WriteRun(file, prev, prev_run)) return e;
  }
  *at = cur;
  return kKbdOk;
}

// Writes the block header, the data and the filler of a value at block.
int16_t WriteDbase4Value(MemoFile& file, uint32_t block, const char* data,
                         uint32_t length, uint32_t n) {
  uint32_t offset = 0;
  if (int16_t e =
          BlockOffset(block, file.block_size,
                      static_cast<uint64_t>(n) * file.block_size, &offset))
    return e;
  std::string image(static_cast<std::size_t>(n) * file.block_size, '\0');
  uint8_t* p = reinterpret_cast<uint8_t*>(image.data());
  DbtValueHeader{length + kDbtValueHeaderSize}.EncodeTo(p);
  std::memcpy(p + kDbtValueHeaderSize, data, length);
  for (std::size_t i = kDbtValueHeaderSize + length, k = 0; i < image.size();
       ++i, ++k)
    p[i] = (k % 2 == 0) ? kDbtFiller0 : kDbtFiller1;
  return FileWriteAt(file.slot, offset, image.data(),
                     static_cast<uint32_t>(image.size()));
}

int16_t ReadDbase4Header(MemoFile& file, uint32_t block, uint32_t* offset,
                         uint32_t* stored) {
  if (int16_t e =
          BlockOffset(block, file.block_size, kDbtValueHeaderSize, offset))
    return e;
  uint8_t bytes[kDbtValueHeaderSize];
  if (int16_t e = FileReadAt(file.slot, *offset, bytes, kDbtValueHeaderSize))
    return e;
  *stored = DbtValueHeader::DecodeFrom(bytes).stored_length;
  return kKbdOk;
}

// Reads the value at block: stored length - 8 bytes after its header.
int16_t ReadDbase4(MemoFile& file, uint32_t block, MemoValue* value) {
  uint32_t offset = 0, stored = 0;
  if (int16_t e = ReadDbase4Header(file, block, &offset, &stored)) return e;
  if (stored < kDbtValueHeaderSize) return Fail(kKbdErrCorrupt);
  uint32_t length = stored - kDbtValueHeaderSize;
  // A length past the end of the file would only fail the read: refuse it
  // before allocating.
  if (static_cast<uint64_t>(offset) + stored > file.file_size)
    return Fail(kKbdErrRead);
  if (int16_t e = value->Allocate(length)) return e;
  return FileReadAt(file.slot, offset + kDbtValueHeaderSize, value->data(),
                    length);
}

// Writes a dBase IV value; replace rewrites in place when the old run
// holds it, else frees the old run onto the chain (C5) and places the
// value as a new one.
int16_t WriteDbase4(MemoFile& file, uint32_t* block, const char* data,
                    uint32_t length, bool replace) {
  const uint32_t b = file.block_size;
  const uint64_t total = static_cast<uint64_t>(length) + kDbtValueHeaderSize;
  if (total > kMemoMaxFileOffset) return Fail(kKbdErrSeek);
  const uint32_t n = static_cast<uint32_t>((total + b - 1) / b);
  uint32_t head = file.next_free;
  if (replace) {
    if (*block < 1) return Fail(kKbdErrSeek);
    uint32_t offset = 0, stored = 0;
    if (int16_t e = ReadDbase4Header(file, *block, &offset, &stored)) return e;
    // What the old value holds: its stored length, rounded up past the
    // next 256-byte step when it is not on one, but never beyond the
    // blocks the old value covers (C5).
    uint64_t adjusted = stored;
    if ((stored & 0xFF) != 0)
      adjusted = (stored + uint64_t{b}) & ~uint64_t{0xFF};
    uint64_t run_blocks = (uint64_t{stored} + b - 1) / b;
    uint64_t capacity = std::min<uint64_t>(adjusted, run_blocks * b);
    if (total <= capacity)
      return WriteDbase4Value(file, *block, data, length, n);
    uint64_t count = std::min<uint64_t>(adjusted / b, run_blocks);
    uint32_t end = EndBlock(file);
    count = std::min<uint64_t>(count, end > *block ? end - *block : 0);
    if (int16_t e = WriteRun(file, *block,
                             DbtFreeRun{head, static_cast<uint32_t>(count)}))
      return e;
    head = *block;
  }
  uint32_t at = 0;
  if (int16_t e = PlaceDbase4(file, n, &head, &at)) return e;
  if (int16_t e = WriteDbase4Value(file, at, data, length, n)) return e;
  if (int16_t e = WriteNextFree(file, head)) return e;
  *block = at;
  return kKbdOk;
}

// ---- Operations shared by the public entries and pack ----------------------

int16_t OpenDbt(int16_t* handle, const char* name, uint16_t mode) {
  return OpenMemoFile(handle, name, mode, kDbtOpenRules);
}

int16_t ReadDbt(MemoFile& file, uint32_t block, MemoValue* value) {
  if (int16_t e = RefreshMemoFile(file)) return e;
  if (block < 1) return Fail(kKbdErrSeek);
  return file.layout == MemoLayout::kDbase4 ? ReadDbase4(file, block, value)
                                            : ReadDbase3(file, block, value);
}

// REQUIRES: mode checked (width 0 or 10..132, high byte 0 or replace).
int16_t WriteDbt(MemoFile& file, uint32_t* block, const char* data,
                 uint32_t length, uint16_t mode) {
  if (int16_t e = RefreshMemoFile(file)) return e;
  bool replace = (mode & 0xFF00) == kKbdMemoReplace;
  if (file.layout == MemoLayout::kDbase4)
    return WriteDbase4(file, block, data, length, replace);
  // A dBASE III value ends at its first 0x1A: one inside the text would
  // cut it short when read back, so such a text is not written.
  if (std::memchr(data, kDbtEndOfFile, length) != nullptr)
    return Fail(kKbdErrData);
  return WriteDbase3(file, block, Dbase3Image(data, length, mode & 0xFF),
                     replace);
}

int16_t CreateDbtLike(const char* name, const MemoFile& like) {
  char name_field[kDbtNameSize] = {};
  std::memcpy(name_field, like.header + kDbtNameOffset, kDbtNameSize - 1);
  return CreateDbtFile(name, like.layout, like.block_size, name_field);
}

int16_t AppendDbt(MemoFile& file, const MemoValue& value, uint32_t* block) {
  *block = 0;
  return WriteDbt(file, block, value.data(), value.length(), 0);
}

const MemoKindOps kDbtKindOps = {
    kKbdKindDbt, ".DBT", CreateDbtLike, OpenDbt, ReadDbt, AppendDbt,
};

int16_t CloseDbtOperation(int16_t handle) { return kbdtclose(handle); }

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdtcreate(const char* name, int16_t block_factor,
                              uint16_t dialect) {
  return RunOperation([&]() -> int16_t {
    if (name == nullptr) return Fail(kKbdErrNullPointer);
    if (block_factor < kDbtMinFactor || block_factor > kDbtMaxFactor)
      return Fail(kKbdErrPageSize);
    MemoLayout layout;
    // Checked before the file exists, so that a refused dialect leaves no
    // empty file behind.
    if (!LayoutForDialect(dialect == 0 ? uint16_t{kKbdDbase3} : dialect,
                          &layout))
      return Fail(kKbdErrVersion);
    return CreateDbtFile(name, layout,
                         static_cast<uint32_t>(block_factor) * kDbtFactorUnit,
                         nullptr);
  });
}

extern "C" int16_t kbdtopenx(int16_t* handle, const char* name, uint16_t mode) {
  return RunOperation([&] { return OpenDbt(handle, name, mode); });
}

extern "C" int16_t kbdtread(int16_t handle, uint32_t block, char** text) {
  return RunOperation([&] {
    return ReadMemoEntry(handle, kKbdKindDbt, ReadDbt, block, text, nullptr,
                         nullptr);
  });
}

extern "C" int16_t kbdtreadx(int16_t handle, uint32_t block, char** data,
                             uint32_t* length) {
  return RunOperation([&]() -> int16_t {
    if (length == nullptr) {
      if (data != nullptr) *data = nullptr;
      return Fail(kKbdErrNullPointer);
    }
    return ReadMemoEntry(handle, kKbdKindDbt, ReadDbt, block, data, length,
                         nullptr);
  });
}

extern "C" int16_t kbdtwrite(int16_t handle, uint32_t* block, const char* text,
                             uint16_t mode) {
  return RunOperation([&]() -> int16_t {
    if (block == nullptr || text == nullptr) return Fail(kKbdErrNullPointer);
    MemoFile* file = CheckMemoHandle(handle, kKbdKindDbt);
    if (file == nullptr) return LastError();
    if (file->read_only()) return Fail(kKbdErrReadOnly);
    int width = mode & 0xFF;
    if (width != 0 && (width < kDbtMinLineWidth || width > kDbtMaxLineWidth))
      return Fail(kKbdErrMemoLine);
    uint16_t action = mode & 0xFF00;
    if (action != 0 && action != kKbdMemoReplace) return Fail(kKbdErrCommand);
    std::size_t length = std::strlen(text);
    if (length > kMemoMaxFileOffset) return Fail(kKbdErrSeek);
    return WithMemo(
        handle, kKbdKindDbt, LockKind::kExclusive, [&](MemoFile& open) {
          int16_t status =
              WriteDbt(open, block, text, static_cast<uint32_t>(length), mode);
          if (status < 0) return status;
          int16_t flushed = FlushMemoWrite(open);
          return flushed < 0 ? flushed : status;
        });
  });
}

extern "C" int16_t kbdtpack(int16_t dbf_handle, int16_t* memo_handle) {
  return RunOperation(
      [&] { return PackMemoFile(dbf_handle, memo_handle, kDbtKindOps); });
}

extern "C" int16_t kbdtclose(int16_t handle) {
  return RunOperation([&] { return CloseMemoFile(handle, kKbdKindDbt); });
}

extern "C" int16_t kbdtinfo(int16_t handle, uint32_t* block_size,
                            uint32_t* next_free) {
  return RunOperation(
      [&] { return MemoInfo(handle, kKbdKindDbt, block_size, next_free); });
}
