// Blocks of a file that no other handle can change, kept in memory.
//
// A file opened without sharing is written only through its own slot: no
// other handle, of this process or another, can open it meanwhile. Its
// owner (the data file, the memo files) may then ask the file layer to
// keep the blocks it reads, so that reading a record again, or the header
// words every call starts with, costs a copy instead of a system call.
//
// The cache is write-through: every write reaches the file at once, as
// before, and then patches the kept bytes it covers, so the cache never
// holds a byte the file does not. A write that fails forgets the blocks it
// touched (the file may hold either image), a cut trims them, a close
// drops them all. Nothing is ever written from the cache.
//
// Blocks are 32 KiB, aligned on the file. A block read at the end of the
// file keeps the bytes that were there (its valid length); a write that
// continues them extends it, one that leaves a gap forgets the block.
// Reads beyond what is kept go to the file, which answers them (and their
// end-of-file failures) as before.
//
// The file's size is kept too once measured, so a size query of such a
// file costs nothing either.
//
// Memory: every kept block of the process counts against one budget
// (kKeptBlocksBudget bytes unless told otherwise); a cache at the budget gives up its own oldest
// block for a new one, and one that holds none reads from the file.
#ifndef QX_ENGINE_FILEIO_BLOCK_CACHE_H_
#define QX_ENGINE_FILEIO_BLOCK_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "engine/core/engine_state.h"
#include "platform/platform.h"

namespace qx::engine {

inline constexpr uint32_t kKeptBlockShift = 15;
inline constexpr uint32_t kKeptBlockSize = uint32_t{1} << kKeptBlockShift;
inline constexpr std::size_t kKeptBlocksBudget = std::size_t{256} << 20;

class BlockCache {
 public:
  // kept_bytes: the process-wide count of kept bytes, shared by every
  // cache; limit: the most it may reach.
  explicit BlockCache(std::size_t* kept_bytes,
                      std::size_t limit = kKeptBlocksBudget)
      : kept_bytes_(kept_bytes), limit_(limit) {}
  ~BlockCache() { Clear(); }
  BlockCache(const BlockCache&) = delete;
  BlockCache& operator=(const BlockCache&) = delete;

  // Copies [offset, offset + count) into buffer when every byte of it is
  // kept; false (buffer untouched) otherwise.
  bool Copy(uint32_t offset, void* buffer, uint32_t count) const {
    const uint32_t first = offset >> kKeptBlockShift;
    const uint32_t within = offset & (kKeptBlockSize - 1);
    if (count <= kKeptBlockSize - within && first < blocks_.size()) {
      const Block& block = blocks_[first];  // the usual case: one block
      if (block.bytes == nullptr || within + count > block.valid) return false;
      std::memcpy(buffer, block.bytes.get() + within, count);
      return true;
    }
    return CopySpanning(offset, buffer, count);
  }

  // Reads [offset, offset + count) through the cache: loads the blocks it
  // lies in (at most two; a longer range is not kept) from file and
  // copies. False when the range is not served so: a read failed, the
  // file ends before the range does, or the range is too long. Records
  // nothing: the caller reads the file itself then, and reports.
  bool Fill(platform::File* file, uint32_t offset, void* buffer,
            uint32_t count);

  // After a write of count bytes at offset succeeded: the kept bytes it
  // covers take the new bytes.
  void Patch(uint32_t offset, const void* bytes, uint32_t count);
  // After a write at offset failed: the blocks it touched are forgotten.
  void Forget(uint32_t offset, uint32_t count);
  // After the file was cut (or an attempt made) at size: nothing past it
  // stays kept.
  void Cut(uint32_t size);
  void Clear();

  // The file's size, kept once measured: writes that succeed grow it;
  // a failed write or a cut makes it unknown again (measure anew).
  bool KnownSize(uint32_t* size) const {
    if (size_ < 0) return false;
    *size = static_cast<uint32_t>(size_);
    return true;
  }
  void NoteSize(uint32_t size) { size_ = size; }

 private:
  struct Block {
    std::unique_ptr<uint8_t[]> bytes;  // kKeptBlockSize bytes, or none
    uint32_t valid = 0;                // bytes read or written from 0
  };

  bool CopySpanning(uint32_t offset, void* buffer, uint32_t count) const;
  // Loads block number n unless kept; false when it cannot be kept.
  bool Load(platform::File* file, uint32_t n);
  // A buffer for a new block: fresh within the budget, else this cache's
  // oldest block's; null when neither.
  std::unique_ptr<uint8_t[]> TakeBuffer();
  void Drop(uint32_t n);

  std::vector<Block> blocks_;   // by block number
  std::deque<uint32_t> order_;  // kept block numbers, oldest first
  std::size_t* kept_bytes_;
  std::size_t limit_;
  int64_t size_ = -1;  // the file's size, or -1 when not known
};

}  // namespace qx::engine

#endif  // QX_ENGINE_FILEIO_BLOCK_CACHE_H_
