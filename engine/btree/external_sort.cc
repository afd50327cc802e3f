// The external sort of the index builds (see external_sort.h).
#include "engine/btree/external_sort.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"

namespace qx::engine::btree {
namespace {

// Work-file offsets are 32-bit.
constexpr uint64_t kMaxWorkFileBytes = uint64_t{1} << 32;

// Bytes [from, from + 8) of an item of size bytes as a big-endian integer,
// zero-padded past its end.
uint64_t WordAt(const uint8_t* item, uint32_t size, uint32_t from) {
  if (size >= from + 8) return GetBe64(item + from);
  if (size <= from) return 0;
  // The item's last eight bytes, shifted so that byte from comes first.
  if (size >= 8) return GetBe64(item + size - 8) << (8 * (from + 8 - size));
  // Shorter than a word: bytes [from, size), then zeros.
  const uint32_t n = size - from;
  return GetBeBytes(item + from, n) << (8 * (8 - n));
}

// The sign of a byte comparison of n bytes (as memcmp), eight bytes at a
// time: big-endian words order as their bytes do. Inline, because the
// items are short and a library call costs more than the comparison.
inline int CompareBytes(const uint8_t* a, const uint8_t* b, uint32_t n) {
  for (; n >= 8; n -= 8, a += 8, b += 8) {
    const uint64_t x = GetBe64(a), y = GetBe64(b);
    if (x != y) return x < y ? -1 : 1;
  }
  if (n >= 4) {
    const uint32_t x = GetBe32(a), y = GetBe32(b);
    if (x != y) return x < y ? -1 : 1;
    n -= 4;
    a += 4;
    b += 4;
  }
  for (; n > 0; --n, ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
  }
  return 0;
}

// Sixteen bytes make the prefix; the rest is compared from the items.
constexpr uint32_t kPrefixBytes = 16;
// The prefix of a used-up run: after every item's (ties look further).
constexpr uint64_t kHighest = ~uint64_t{0};

}  // namespace

ExternalSort::Prefix ExternalSort::PrefixOf(const uint8_t* item) const {
  const uint32_t size = options_.item_size;
  return Prefix{WordAt(item, size, 0), WordAt(item, size, 8)};
}

ExternalSort::~ExternalSort() { Close(); }

int ExternalSort::Compare(const uint8_t* a, const uint8_t* b) const {
  const ItemOrder& order = options_.order;
  if (order.compare_key != nullptr) {
    int c = order.compare_key(a, b, order.key_length);
    if (c != 0) return c;
  }
  return CompareBytes(a, b, options_.item_size);
}

int16_t ExternalSort::Start(const SortOptions& options) {
  Close();
  options_ = options;
  if (options_.item_size == 0 || options_.order.key_length > options_.item_size)
    return Fail(kKbdErrCommand);
  // The largest buffer the heap grants, stepping down.
  uint32_t bytes = options_.buffer_bytes;
  for (;;) {
    if (bytes < options_.min_buffer_bytes || bytes < options_.item_size)
      return Fail(kKbdErrNoMemory);
    buffer_.reset(new (std::nothrow) uint8_t[bytes]);
    if (buffer_ != nullptr) {
      ordered_.reset(new (std::nothrow) uint8_t[bytes]);
      if (ordered_ != nullptr) break;
      buffer_.reset();
    }
    if (options_.buffer_step == 0 || bytes < options_.buffer_step)
      return Fail(kKbdErrNoMemory);
    bytes -= options_.buffer_step;
  }
  capacity_ = bytes / options_.item_size;
  refs_.resize(capacity_);
  if (int16_t e = FileCreatePrivate(&work_slot_, options_.work_file.c_str(),
                                    &work_name_)) {
    work_slot_ = 0xFFFF;
    return e;
  }
  started_ = true;
  return kKbdOk;
}

int16_t ExternalSort::Append(uint8_t** item) {
  if (int16_t e = StickyError()) return e;
  if (!started_ || finished_) return Fail(kKbdErrCommand);
  if (used_ == capacity_) {
    if (int16_t e = SpillRun()) return e;
  }
  *item = buffer_.get() + static_cast<size_t>(used_) * options_.item_size;
  ++used_;
  ++item_count_;
  return kKbdOk;
}

void ExternalSort::DropLast() {
  // Append spills a full buffer before it hands out a place, so the last
  // place is always in the buffer.
  if (used_ == 0) return;
  --used_;
  --item_count_;
}

void ExternalSort::SortBuffer() {
  const uint32_t size = options_.item_size;
  const uint8_t* base = buffer_.get();
  const bool byte_order = options_.order.compare_key == nullptr;
  for (uint32_t i = 0; i < used_; ++i) {
    uint32_t offset = i * size;
    refs_[i] = Ref{byte_order ? PrefixOf(base + offset) : Prefix{}, offset};
  }
  auto first = refs_.begin();
  auto last = refs_.begin() + used_;
  if (byte_order) {
    // The prefixes decide most comparisons.
    const uint32_t rest = size > kPrefixBytes ? size - kPrefixBytes : 0;
    std::sort(first, last, [base, rest](const Ref& a, const Ref& b) {
      if (a.prefix.high != b.prefix.high) return a.prefix.high < b.prefix.high;
      if (a.prefix.low != b.prefix.low) return a.prefix.low < b.prefix.low;
      return rest != 0 &&
             CompareBytes(base + a.offset + kPrefixBytes,
                          base + b.offset + kPrefixBytes, rest) < 0;
    });
  } else {
    std::sort(first, last, [this, base](const Ref& a, const Ref& b) {
      return Compare(base + a.offset, base + b.offset) < 0;
    });
  }
  uint8_t* out = ordered_.get();
  for (uint32_t i = 0; i < used_; ++i)
    std::memcpy(out + static_cast<size_t>(i) * size, base + refs_[i].offset,
                size);
}

int16_t ExternalSort::SpillRun() {
  SortBuffer();
  const uint64_t bytes = static_cast<uint64_t>(used_) * options_.item_size;
  if (file_bytes_ + bytes > kMaxWorkFileBytes) return Fail(kKbdErrSeek);
  if (int16_t e = FileWriteAt(work_slot_, static_cast<uint32_t>(file_bytes_),
                              ordered_.get(), static_cast<uint32_t>(bytes)))
    return e;
  Run run;
  run.file_offset = file_bytes_;
  run.file_items = used_;
  runs_.push_back(run);
  file_bytes_ += bytes;
  used_ = 0;
  return kKbdOk;
}

int16_t ExternalSort::Finish() {
  if (int16_t e = StickyError()) return e;
  if (!started_ || finished_) return Fail(kKbdErrCommand);
  finished_ = true;
  // The written runs share the merge area; the last run stays in memory.
  const size_t size = options_.item_size;
  if (!runs_.empty()) {
    uint64_t share = options_.merge_bytes / runs_.size() / size;
    share = std::max<uint64_t>(share, 1);
    share = std::min<uint64_t>(share, capacity_);
    merge_area_.reset(new (std::nothrow) uint8_t[runs_.size() * share * size]);
    if (merge_area_ == nullptr) return Fail(kKbdErrNoMemory);
    for (size_t r = 0; r < runs_.size(); ++r) {
      runs_[r].portion = merge_area_.get() + r * share * size;
      runs_[r].share_items = static_cast<uint32_t>(share);
    }
  }
  if (used_ > 0) {
    SortBuffer();
    Run run;
    run.current = ordered_.get();
    run.left_in_portion = used_;
    runs_.push_back(run);
  }
  for (size_t r = 0; r < runs_.size(); ++r) {
    if (runs_[r].left_in_portion == 0) {
      if (int16_t e = Refill(&runs_[r])) return e;
    } else {
      SetCurrent(&runs_[r], runs_[r].current, runs_[r].left_in_portion);
    }
  }
  // Plays every node bottom-up, keeping the loser there.
  const uint32_t k = static_cast<uint32_t>(runs_.size());
  losers_.assign(k == 0 ? 1 : k,
                 Player{Prefix{kHighest, kHighest}, nullptr, 0, 1});
  if (k == 1) losers_[0] = PlayerOf(0);
  if (k > 1) {
    std::vector<Player> winners(2 * static_cast<size_t>(k));
    for (uint32_t r = 0; r < k; ++r) winners[k + r] = PlayerOf(r);
    for (uint32_t n = k - 1; n >= 1; --n) {
      const Player& a = winners[2 * n];
      const Player& b = winners[2 * n + 1];
      bool a_wins = Before(a, b);
      winners[n] = a_wins ? a : b;
      losers_[n] = a_wins ? b : a;
    }
    losers_[0] = winners[1];
  }
  pending_advance_ = -1;
  return kKbdOk;
}

int16_t ExternalSort::Refill(Run* run) {
  run->current = nullptr;
  run->left_in_portion = 0;
  if (run->file_items == 0) return kKbdOk;
  uint32_t items = static_cast<uint32_t>(
      std::min<uint64_t>(run->file_items, run->share_items));
  uint32_t bytes = items * options_.item_size;
  if (int16_t e =
          FileReadAt(work_slot_, static_cast<uint32_t>(run->file_offset),
                     run->portion, bytes))
    return e;
  run->file_offset += bytes;
  run->file_items -= items;
  SetCurrent(run, run->portion, items);
  return kKbdOk;
}

void ExternalSort::SetCurrent(Run* run, const uint8_t* item, uint32_t left) {
  run->current = item;
  run->left_in_portion = left;
  if (left > 0 && options_.order.compare_key == nullptr)
    run->prefix = PrefixOf(item);
}

ExternalSort::Player ExternalSort::PlayerOf(uint32_t run) const {
  const Run& r = runs_[run];
  if (r.left_in_portion == 0) {
    return Player{Prefix{kHighest, kHighest}, nullptr, run, 1};
  }
  return Player{r.prefix, r.current, run, 0};
}

// Whether a's current item goes before b's: a used-up run after
// everything, equal items by run number. Under byte order the prefixes
// decide without touching the items in most cases; under a key order
// every live prefix is zero, so they only put used-up runs last.
bool ExternalSort::Before(const Player& a, const Player& b) const {
  if (a.prefix.high != b.prefix.high) return a.prefix.high < b.prefix.high;
  if (a.prefix.low != b.prefix.low) return a.prefix.low < b.prefix.low;
  if (a.used_up | b.used_up) return b.used_up > a.used_up;
  int c;
  if (options_.order.compare_key == nullptr) {
    c = options_.item_size > kPrefixBytes
            ? CompareBytes(a.item + kPrefixBytes, b.item + kPrefixBytes,
                           options_.item_size - kPrefixBytes)
            : 0;
  } else {
    c = Compare(a.item, b.item);
  }
  return c != 0 ? c < 0 : a.run < b.run;
}

// The run that won has a new current item: it plays its way up again.
void ExternalSort::Replay(uint32_t run) {
  const uint32_t k = static_cast<uint32_t>(runs_.size());
  Player winner = PlayerOf(run);
  for (uint32_t n = (run + k) / 2; n >= 1; n /= 2) {
    if (Before(losers_[n], winner)) std::swap(losers_[n], winner);
  }
  losers_[0] = winner;
}

int16_t ExternalSort::Next(const uint8_t** item) {
  *item = nullptr;
  if (int16_t e = StickyError()) return e;
  if (!finished_) return Fail(kKbdErrCommand);
  if (runs_.empty()) return kKbdOk;
  if (pending_advance_ >= 0) {
    const uint32_t r = static_cast<uint32_t>(pending_advance_);
    Run& run = runs_[r];
    pending_advance_ = -1;
    if (run.left_in_portion > 1) {
      SetCurrent(&run, run.current + options_.item_size,
                 run.left_in_portion - 1);
    } else if (int16_t e = Refill(&run)) {
      return e;
    }
    Replay(r);
  }
  const Player& winner = losers_[0];
  if (winner.used_up) return kKbdOk;  // every run is used up
  *item = runs_[winner.run].current;
  pending_advance_ = static_cast<int>(winner.run);
  return kKbdOk;
}

void ExternalSort::Close() {
  if (work_slot_ != 0xFFFF) {
    uint16_t slot = work_slot_;
    work_slot_ = 0xFFFF;
    RunDespiteError([slot] { return FileClose(slot); });
    std::string name = work_name_;
    RunDespiteError([&name] { return FileDelete(name.c_str()); });
  }
  buffer_.reset();
  ordered_.reset();
  merge_area_.reset();
  refs_.clear();
  refs_.shrink_to_fit();
  runs_.clear();
  losers_.clear();
  started_ = finished_ = false;
  capacity_ = used_ = 0;
  item_count_ = file_bytes_ = 0;
  pending_advance_ = -1;
}

}  // namespace qx::engine::btree
