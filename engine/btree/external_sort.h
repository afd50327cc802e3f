// The external sort of the index builds: fixed-size items sorted in
// memory runs, runs written to a work file, then merged.
//
// Items. Every item has the same size (the formats use key + record
// number, the number big-endian so that a byte comparison of whole items
// orders equal keys by record). The order is a byte comparison of whole
// items, or a key comparison over the first key_length bytes with the
// whole-item byte comparison deciding between equal keys.
//
// Runs. The sort buffer is allocated at Start: buffer_bytes, less
// buffer_step after each failed allocation, and -3 once it would fall
// below min_buffer_bytes (the formats fix these sizes: 65,000 bytes,
// steps of 512, at least 2,049 for NDX). It holds buffer / item_size
// items: a full buffer is sorted and written to the work file as one run.
// The last run is not written: it stays in memory for the merge, so a
// build whose items fit in one buffer never touches the disk.
//
// Merge. Each written run gets an equal share of a merge area of
// merge_bytes (at least one item each) and is read back in portions of
// that share, one positioned read per portion; a tournament tree of
// losers over the runs yields items in order with one comparison per
// level. Under byte order every item being sorted or merged carries its
// first sixteen bytes as two big-endian integers (zero-padded), which
// settle most comparisons without touching the item. Next() hands
// out a pointer into a run's portion, valid until the following Next().
//
// The work file is created at Start (create-always, read-write, shared)
// and closed and deleted by Close() or the destructor, also after a
// failure, without replacing the error that is pending.
//
// Invariants (cited as X1..X3):
//  X1. Items handed out by Next() never decrease in the sort order.
//  X2. Every item appended is handed out exactly once.
//  X3. Written runs lie back to back in the work file, run r at the sum of
//      the sizes of runs 0..r-1.
#ifndef QX_ENGINE_BTREE_EXTERNAL_SORT_H_
#define QX_ENGINE_BTREE_EXTERNAL_SORT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qx::engine::btree {

struct ItemOrder {
  // Null: bytes of whole items. Otherwise compares key_length bytes first.
  int (*compare_key)(const uint8_t* a, const uint8_t* b,
                     std::size_t n) = nullptr;
  uint32_t key_length = 0;
};

struct SortOptions {
  uint32_t item_size = 0;
  ItemOrder order;
  std::string work_file = "stacks.tmp";
  uint32_t buffer_bytes = 65000;
  uint32_t buffer_step = 512;
  uint32_t min_buffer_bytes = 2049;
  uint32_t merge_bytes = 1u << 20;
};

class ExternalSort {
 public:
  ExternalSort() = default;
  ~ExternalSort();
  ExternalSort(const ExternalSort&) = delete;
  ExternalSort& operator=(const ExternalSort&) = delete;

  // Allocates the sort buffer and creates the work file.
  int16_t Start(const SortOptions& options);
  // A place for the next item (item_size bytes, to be filled by the
  // caller before the next call); a full buffer is written as a run first.
  int16_t Append(uint8_t** item);
  // Takes back the item the last Append gave a place for (which its
  // caller decided not to sort). REQUIRES: Append was the last call.
  void DropLast();
  // Ends the input: sorts the last run and prepares the merge.
  int16_t Finish();
  // The next item in order in *item, or null at the end.
  int16_t Next(const uint8_t** item);
  // Closes and deletes the work file and frees the memory. Safe to call
  // twice and after any failure; leaves the pending error alone.
  void Close();

  uint64_t item_count() const { return item_count_; }
  // Runs so far: the written ones and the one in memory.
  uint32_t run_count() const {
    return static_cast<uint32_t>(runs_.size()) +
           (!finished_ && used_ > 0 ? 1 : 0);
  }
  uint32_t items_per_run() const { return capacity_; }

  // The comparison of two items under the options' order.
  int Compare(const uint8_t* a, const uint8_t* b) const;

 private:
  // An item's bytes 0..7 and 8..15 as big-endian integers, zero-padded
  // past its end: between items of one size, ordering by (high, low) is
  // the byte order of their first sixteen bytes.
  struct Prefix {
    uint64_t high = 0;
    uint64_t low = 0;
  };
  Prefix PrefixOf(const uint8_t* item) const;
  struct Run {
    uint64_t file_offset = 0;    // next unread byte in the work file
    uint64_t file_items = 0;     // items not yet read from the file
    uint8_t* portion = nullptr;  // this run's share of the merge area
    uint32_t share_items = 0;
    const uint8_t* current = nullptr;
    uint32_t left_in_portion = 0;  // items from current on; 0: used up
    Prefix prefix;                 // of current (byte order only)
  };
  int16_t SpillRun();
  void SortBuffer();  // sorts refs_ for the buffered items
  int16_t Refill(Run* run);
  // A player of the tournament: a run with its current item and prefix.
  // A used-up run plays with the highest prefix, so that only a tie of
  // prefixes has to look at used_up.
  struct Player {
    Prefix prefix;
    const uint8_t* item;
    uint32_t run;
    uint32_t used_up;  // 1: goes after every item
  };
  Player PlayerOf(uint32_t run) const;
  bool Before(const Player& a, const Player& b) const;
  void Replay(uint32_t run);
  void SetCurrent(Run* run, const uint8_t* item, uint32_t left);

  SortOptions options_;
  uint16_t work_slot_ = 0xFFFF;
  std::string work_name_;  // the work file taken (see FileCreatePrivate)
  bool started_ = false;
  bool finished_ = false;
  std::unique_ptr<uint8_t[]> buffer_;   // items as appended
  std::unique_ptr<uint8_t[]> ordered_;  // a run in sorted order
  uint32_t capacity_ = 0;               // items per buffer
  uint32_t used_ = 0;                   // items in the buffer
  struct Ref {
    Prefix prefix;    // byte order only
    uint32_t offset;  // byte offset of the item in buffer_
  };
  std::vector<Ref> refs_;
  uint64_t item_count_ = 0;
  uint64_t file_bytes_ = 0;  // X3: end of the written runs
  std::vector<Run> runs_;    // written runs, then (once finished) the
                             // run kept in memory
  std::unique_ptr<uint8_t[]> merge_area_;
  // Tournament: losers_[n] is the run that lost at node n (1..runs - 1;
  // node n plays the winners of 2n and 2n + 1, run r sits at leaf runs +
  // r); losers_[0] is the overall winner.
  std::vector<Player> losers_;
  int pending_advance_ = -1;  // run whose item Next() handed out last
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_EXTERNAL_SORT_H_
