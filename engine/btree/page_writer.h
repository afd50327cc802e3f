// The bottom-up page writer of the index builds: sorted (key, pointer)
// pairs in, a complete B+-tree of full pages out, written in one pass.
//
// Shape. Leaves take leaf_keys keys each, in order; when a leaf is full
// (or the input ends) it is written, and its greatest key goes up to the
// level above as a separator with the leaf as its child. Interior pages
// collect children the same way: with a trailing pointer (NDX, MDX) a page
// of k keys has k + 1 children, the last child's separator going up
// instead of into the page; without one (IDX, CDX) every child has its key
// in the page. Pages fill completely except the last page of each level,
// which is linked in at the end as the rightmost child of the page above;
// the top page is the root. A format whose leaf capacity depends on the
// keys (compressed CDX leaves) needs its own planning rule.
//
// B-tree shape (keys_in_interior, NTX): every entry lives once, in a leaf
// or in an interior page. Each level fills a page with `full` entries
// (each with the child written below it, 0 in a leaf) and sends the next
// entry one level up with the page as its child; the entry's own child
// becomes the page's rightmost child. So leaves fill completely and every
// (leaf_keys + 1)-th entry becomes a separator one level up. The last
// page of each level is finished by Finish() as the rightmost child of the
// open page above it. Planned from the key count: when the last page of a
// level would hold fewer than min_keys entries, the page before it gives
// it some, so that both hold at least min_keys (W6).
//
// Since the writer is told the number of keys up front it plans every
// level before the first page: an interior level whose last page would
// get a single child (a page without a key) gives one child of the page
// before it to that last page instead, so no page is built without a key.
//
// Pages. The format encodes pages through a PageEncoder; the writer keeps
// one open page per level. Each finished page takes the next id of a
// PageIdSource: either the plain numbering first_id, first_id + id_step,
// ... (a new file), or the format's own allocator (a file that already
// holds other trees and free pages). Pages are collected in a write
// buffer and written in runs of up to write_pages pages, one positioned
// write per run of pages that lie back to back in the file.
//
// Sibling links (formats that chain the pages of a level, IDX and CDX):
// a finished page learns its left neighbour at once and its right one when
// that neighbour is finished; the writer then patches the page in the
// write buffer, or, when the buffer was written meanwhile, reads it back,
// patches and rewrites it. "No sibling" is passed as kNoSibling and the
// encoder writes its own form of it.
//
// Invariants (cited as W1..W4):
//  W1. Every key is written once, in the order given, in a leaf.
//  W2. All leaves are full (leaf_keys keys) except the last one.
//  W3. Every interior page except the last of its level holds the planned
//      children; none holds fewer than two children (with a trailing
//      pointer) or one (without).
//  W4. The separator of a child is the greatest key of its subtree.
//  W5. With sibling links, the pages of each level form one chain in key
//      order, both ways.
//  W6. In the B-tree shape every page but the root holds min_keys to
//      leaf_keys entries, and the in-order walk gives the keys as added.
#ifndef QX_ENGINE_BTREE_PAGE_WRITER_H_
#define QX_ENGINE_BTREE_PAGE_WRITER_H_

#include <cstdint>
#include <memory>
#include <vector>

namespace qx::engine::btree {

// The format's page encoding for the writer.
class PageEncoder {
 public:
  virtual ~PageEncoder() = default;
  // Writes key entry `slot` of a page (the page starts zero-filled):
  // pointer is the record number in a leaf, the child id above.
  virtual void PutEntry(uint8_t* page, bool leaf, uint32_t slot,
                        const uint8_t* key, uint32_t pointer) = 0;
  // Completes a page of count keys; trailing is the rightmost child of an
  // interior page in a format with a trailing pointer, else 0.
  virtual void FinishPage(uint8_t* page, bool leaf, uint32_t count,
                          uint32_t trailing) = 0;
  // Sets the neighbours of a finished page (shapes with sibling_links);
  // either may be kNoSibling.
  virtual void SetSiblings(uint8_t* /*page*/, bool /*leaf*/, uint32_t /*left*/,
                           uint32_t /*right*/) {}
  // B-tree shape: writes entry `slot` with both its record number and its
  // child (0 in a leaf). The page starts zero-filled at slot 0. Pages are
  // then completed by FinishPage with their rightmost child as trailing.
  virtual void PutItem(uint8_t* /*page*/, uint32_t /*slot*/,
                       const uint8_t* /*key*/, uint32_t /*recno*/,
                       uint32_t /*child*/) {}
};

inline constexpr uint32_t kNoSibling = 0;

// Hands out the id of each page the writer finishes, in order.
class PageIdSource {
 public:
  virtual ~PageIdSource() = default;
  virtual int16_t NextId(uint32_t* id) = 0;
};

// Ids first_id, first_id + step, ...
class SequentialIds : public PageIdSource {
 public:
  SequentialIds(uint32_t first_id, uint32_t step)
      : next_(first_id), step_(step) {}
  int16_t NextId(uint32_t* id) override {
    *id = next_;
    next_ += step_;
    return 0;
  }
  uint32_t next() const { return next_; }

 private:
  uint32_t next_;
  uint32_t step_;
};

struct WriterShape {
  uint32_t page_size = 0;      // bytes
  uint32_t key_length = 0;     // bytes
  uint32_t leaf_keys = 0;      // keys per full leaf
  uint32_t interior_keys = 0;  // keys per full interior page
  bool trailing_pointer = true;
  bool sibling_links = false;
  uint32_t id_unit = 512;         // bytes per page id unit in the file
  uint32_t write_pages = 64;      // pages per write
  bool keys_in_interior = false;  // the B-tree shape (interior_keys unused)
  uint32_t min_keys = 0;          // B-tree shape: least keys of a page
};

class PageWriter {
 public:
  PageWriter(uint16_t file_slot, const WriterShape& shape,
             PageEncoder* encoder);
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  // Plans the tree for total_keys (at least 1) keys; pages get ids
  // first_id, first_id + id_step, ...
  int16_t Start(uint64_t total_keys, uint32_t first_id, uint32_t id_step);
  // The same with ids from the format's source, which must outlive the
  // writer's use.
  int16_t Start(uint64_t total_keys, PageIdSource* ids);
  // The next key in order (key_length bytes) with its record number.
  int16_t Add(const uint8_t* key, uint32_t recno);
  // Writes what is left; *root gets the root id and *next_id (may be null)
  // the first id the plain numbering has not used (0 with a source of the
  // format). REQUIRES every planned key added.
  int16_t Finish(uint32_t* root, uint32_t* next_id);

  uint32_t pages_written() const { return pages_written_; }
  int levels() const { return static_cast<int>(levels_.size()); }

 private:
  struct Level {
    uint64_t pages = 0;        // pages planned at this level
    uint64_t page_index = 0;   // the open page's number within the level
    uint32_t full = 0;         // children of a full page (leaves: keys)
    uint32_t last = 0;         // children of the last page
    uint32_t before_last = 0;  // children of the page before the last
    uint32_t children = 0;     // children (keys) in the open page
    std::unique_ptr<uint8_t[]> page;
    uint32_t previous = kNoSibling;       // the last page finished here
    uint32_t previous_left = kNoSibling;  // and its left neighbour
  };
  uint32_t Planned(const Level& level) const;
  int16_t Push(size_t level, const uint8_t* key, uint32_t pointer);
  int16_t PlanPromoting(uint64_t total_keys);
  int16_t Promote(size_t level, const uint8_t* key, uint32_t recno,
                  uint32_t child);
  int16_t FinishPromoting();
  int16_t Emit(uint8_t* page, uint32_t* id);
  int16_t LinkPrevious(Level* level, bool leaf, uint32_t id);
  int16_t Flush();

  uint16_t file_slot_;
  WriterShape shape_;
  PageEncoder* encoder_;
  std::vector<Level> levels_;
  SequentialIds sequential_{0, 1};  // the plain numbering, when used
  PageIdSource* ids_ = nullptr;
  uint32_t root_ = 0;
  uint32_t pages_written_ = 0;
  uint64_t added_ = 0;
  uint64_t total_ = 0;
  std::vector<uint8_t> separator_;  // the key going up
  std::vector<uint8_t> out_;        // pages waiting to be written
  std::vector<uint32_t> out_ids_;   // their ids, back to back in the file
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_PAGE_WRITER_H_
