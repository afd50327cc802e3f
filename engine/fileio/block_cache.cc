// Kept blocks of a file opened without sharing (see block_cache.h).
#include "engine/fileio/block_cache.h"

#include <algorithm>
#include <new>

namespace qx::engine {

bool BlockCache::CopySpanning(uint32_t offset, void* buffer,
                              uint32_t count) const {
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t at = offset;
  const uint64_t end = at + count;
  // Checked whole before a byte is copied: buffer stays untouched on false.
  for (uint64_t n = at >> kKeptBlockShift; (n << kKeptBlockShift) < end; ++n) {
    if (n >= blocks_.size() || blocks_[n].bytes == nullptr) return false;
    const uint64_t block_end = std::min(end, (n + 1) << kKeptBlockShift);
    if (block_end - (n << kKeptBlockShift) > blocks_[n].valid) return false;
  }
  while (at < end) {
    const uint64_t n = at >> kKeptBlockShift;
    const uint32_t within = static_cast<uint32_t>(at & (kKeptBlockSize - 1));
    const uint32_t piece = static_cast<uint32_t>(
        std::min<uint64_t>(end - at, kKeptBlockSize - within));
    std::memcpy(out, blocks_[n].bytes.get() + within, piece);
    out += piece;
    at += piece;
  }
  return true;
}

bool BlockCache::Fill(platform::File* file, uint32_t offset, void* buffer,
                      uint32_t count) {
  const uint64_t end = uint64_t{offset} + count;
  if (count == 0 || count > kKeptBlockSize) return false;
  const uint32_t first = offset >> kKeptBlockShift;
  const uint32_t last = static_cast<uint32_t>((end - 1) >> kKeptBlockShift);
  for (uint32_t n = first; n <= last; ++n) {
    if (!Load(file, n)) return false;
  }
  return Copy(offset, buffer, count);
}

bool BlockCache::Load(platform::File* file, uint32_t n) {
  if (n < blocks_.size() && blocks_[n].bytes != nullptr) return true;
  std::unique_ptr<uint8_t[]> bytes = TakeBuffer();
  if (bytes == nullptr) return false;
  uint32_t got = 0;
  if (!platform::ReadFileAt(file, n << kKeptBlockShift, bytes.get(),
                            kKeptBlockSize, &got) ||
      got == 0) {
    *kept_bytes_ -= kKeptBlockSize;  // the buffer goes back to the budget
    return false;
  }
  if (n >= blocks_.size()) blocks_.resize(n + 1);
  blocks_[n].bytes = std::move(bytes);
  blocks_[n].valid = got;
  order_.push_back(n);
  return true;
}

std::unique_ptr<uint8_t[]> BlockCache::TakeBuffer() {
  if (*kept_bytes_ + kKeptBlockSize <= limit_) {
    std::unique_ptr<uint8_t[]> fresh(new (std::nothrow)
                                         uint8_t[kKeptBlockSize]);
    if (fresh != nullptr) *kept_bytes_ += kKeptBlockSize;
    return fresh;
  }
  // At the budget: this cache's oldest block makes room. Entries of
  // blocks dropped since they were kept are passed over.
  while (!order_.empty()) {
    const uint32_t n = order_.front();
    order_.pop_front();
    if (n < blocks_.size() && blocks_[n].bytes != nullptr) {
      blocks_[n].valid = 0;
      return std::move(blocks_[n].bytes);  // still counted in the budget
    }
  }
  return nullptr;
}

void BlockCache::Drop(uint32_t n) {
  if (n >= blocks_.size() || blocks_[n].bytes == nullptr) return;
  blocks_[n].bytes.reset();
  blocks_[n].valid = 0;
  *kept_bytes_ -= kKeptBlockSize;
  // Drops leave their numbers in order_; clear them out before they
  // outnumber the blocks kept.
  if (order_.size() > 64 &&
      order_.size() > 2 * (*kept_bytes_ >> kKeptBlockShift)) {
    std::erase_if(order_, [this](uint32_t m) {
      return m >= blocks_.size() || blocks_[m].bytes == nullptr;
    });
  }
}

void BlockCache::Patch(uint32_t offset, const void* bytes, uint32_t count) {
  const auto* in = static_cast<const uint8_t*>(bytes);
  uint64_t at = offset;
  const uint64_t end = at + count;
  if (size_ >= 0 && count != 0) size_ = std::max<int64_t>(size_, end);
  while (at < end) {
    const uint64_t n = at >> kKeptBlockShift;
    const uint32_t within = static_cast<uint32_t>(at & (kKeptBlockSize - 1));
    const uint32_t piece = static_cast<uint32_t>(
        std::min<uint64_t>(end - at, kKeptBlockSize - within));
    if (n < blocks_.size() && blocks_[n].bytes != nullptr) {
      Block& block = blocks_[n];
      if (within > block.valid) {
        // A gap after the kept bytes: whether they reached the file's end
        // is not known here (a short read keeps less), so the block goes.
        Drop(static_cast<uint32_t>(n));
      } else {
        std::memcpy(block.bytes.get() + within, in, piece);
        block.valid = std::max(block.valid, within + piece);
      }
    }
    in += piece;
    at += piece;
  }
}

void BlockCache::Forget(uint32_t offset, uint32_t count) {
  size_ = -1;
  const uint64_t end = uint64_t{offset} + std::max<uint32_t>(count, 1);
  for (uint64_t n = offset >> kKeptBlockShift; (n << kKeptBlockShift) < end;
       ++n) {
    if (n >= blocks_.size()) break;
    Drop(static_cast<uint32_t>(n));
  }
}

void BlockCache::Cut(uint32_t size) {
  size_ = -1;  // whether the cut took is not known here
  const uint32_t n = size >> kKeptBlockShift;
  for (uint32_t m = n + 1; m < blocks_.size(); ++m) Drop(m);
  if (n < blocks_.size() && blocks_[n].bytes != nullptr) {
    const uint32_t within = size & (kKeptBlockSize - 1);
    if (within == 0) {
      Drop(n);
    } else {
      blocks_[n].valid = std::min(blocks_[n].valid, within);
    }
  }
}

void BlockCache::Clear() {
  size_ = -1;
  order_.clear();
  for (uint32_t n = 0; n < blocks_.size(); ++n) Drop(n);
  blocks_.clear();
}

void BlockCacheDeleter::operator()(BlockCache* cache) const { delete cache; }

}  // namespace qx::engine
