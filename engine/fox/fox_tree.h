// One B+-tree of the FoxPro index files: an IDX file's tree, a CDX file's
// tag directory, or one CDX tag. Both node layouts (standard and compact)
// of 512-byte nodes, searched, walked and changed through one interface.
//
// Header. A tree's header block lies at header_offset (0 for an IDX file
// and a CDX directory; the tag header's offset for a CDX tag): root word
// at +0, key length at +12, options at +14; the compact layout's key order
// at +502, FOR and key expression lengths at +506 and +510, the expression
// pool in the following block. Node allocation is file-wide: the header at
// offset 0 holds the free-node list (word at 4; 0 and 0xFFFFFFFF both mean
// none) and the word at 8 (a standard file's end of file, a compact or
// compound file's change counter), whatever tree allocates.
//
// Calls. A public operation brackets its tree work with Refresh() (re-read
// the root and the file size, since other handles and processes may have
// changed the file) and EndCall(). Changed nodes are written at once
// (write-through) or when EndCall runs.
//
// Kept nodes. In the compact layout every writer adds one to the file's
// change counter (the word at 8) for each call that changed the file, so
// the counter with the free list head, the root and the file size names
// the state of every tree of the file. A call that did not write keeps the
// nodes it read in the cache, with that stamp, when its Refresh was told
// it may trust kept nodes; the next such Refresh reads the file-wide
// words first (with the root word when the tree's header is at 0) and,
// when they match, keeps the nodes and takes root and size as they were
// (a change of either is a counted change); otherwise it reads the root
// and measures the file, and empties the cache. A read may also start
// without the file's lock: RefreshFromKept reads the two file-wide words
// alone and, when they match, the call runs with reads held back
// (HoldReads, page_cache.h) on the kept nodes, which show the file as it
// is or as it was before a change still under way; when it needs a node
// not kept, TakeMissed tells the caller to drop the attempt and run the
// call under the lock (and the caller may go to the lock at once while
// reads keep missing). The standard layout keeps nothing.
//
// Keys are key_length bytes; search keys may be shorter (a prefix). Record
// numbers are the caller's (host order); the big-endian forms are the
// codec's business.
//
// Descending trees (the key order word of a compact header not 0) keep
// their entries ascending like any other; only the walk is reversed:
// First, Last, Next, Prev, MoveFrom and Search work in the reversed order
// (equal keys by falling record number), while Insert and Remove, which
// place entries, ignore it.
//
// Compact leaves. Each leaf has its own record-number, duplicate-count and
// trailing-count widths. A record number above the leaf's record mask is
// refused (-6000 when the field already has more than 23 bits, else -6)
// unless the shape allows widening, in which case the leaf is re-encoded
// with fields wide enough.
#ifndef QX_ENGINE_FOX_FOX_TREE_H_
#define QX_ENGINE_FOX_FOX_TREE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qx::engine::fox {

inline constexpr uint32_t kFoxBlockSize = 512;
inline constexpr uint32_t kFoxNoNode = 0xFFFFFFFF;

enum class FoxLayout : uint8_t { kStandard, kCompact };

// Options byte (header +14).
inline constexpr uint8_t kFoxUnique = 0x01;
inline constexpr uint8_t kFoxCandidate = 0x04;  // unique as well
inline constexpr uint8_t kFoxForClause = 0x08;
inline constexpr uint8_t kFoxCompact = 0x20;
inline constexpr uint8_t kFoxCompound = 0x40;  // every header of a CDX file
inline constexpr uint8_t kFoxDirectoryBit = 0x80;

// The header of one tree as read from the file.
struct FoxHeader {
  uint32_t root = 0;
  uint32_t free_list = 0;
  uint32_t end_of_file = 0;
  uint16_t key_length = 0;
  uint8_t options = 0;
  uint8_t signature = 0;
  uint16_t key_order = 0;      // compact: +502, non-zero descending
  std::string expression;      // as stored (not normalised)
  std::string for_expression;  // empty when none
  FoxLayout layout() const {
    return (options & kFoxCompact) ? FoxLayout::kCompact : FoxLayout::kStandard;
  }
  bool unique() const { return (options & (kFoxUnique | kFoxCandidate)) != 0; }
  bool candidate() const { return (options & kFoxCandidate) != 0; }
  bool descending() const {
    return layout() == FoxLayout::kCompact && key_order != 0;
  }
};

// Reads the header at offset; file-layer errors pass through.
int16_t ReadFoxHeader(uint16_t file_slot, uint32_t offset, FoxHeader* header);

// What a new empty tree is made of.
struct FoxNewTree {
  FoxLayout layout = FoxLayout::kCompact;
  uint16_t key_length = 0;
  uint8_t options = 0;              // unique, compound, directory bits
  bool descending = false;          // compact only
  std::string_view expression;      // normalised by the caller
  std::string_view for_expression;  // "" none
};

// The FOR expression as a header stores it: the caller's text without its
// outer blanks, as the FoxPro programs keep it (null or blank: "", none).
// -7 beyond kFoxMaxExpression characters.
int16_t StoredForExpression(const char* text, std::string* stored);

// Writes the header (and for the compact layout the expression block) at
// header_offset and an empty root leaf at root_offset (0xFFFFFFFF siblings,
// free bytes 488 and the field widths of a new leaf in the compact
// layout). The options get the layout's bit and, with a FOR expression,
// 0x08; see fox_format.h for the rest of what is written. The caller
// chooses the offsets (an IDX file: 0 and 512 or 1024; a CDX tag: blocks
// it allocated) and keeps the file-wide words. -7 for expressions the
// header cannot hold, -12 for a descending standard tree.
int16_t WriteEmptyTree(uint16_t file_slot, uint32_t header_offset,
                       uint32_t root_offset, const FoxNewTree& tree);

struct FoxTreeShape {
  uint32_t header_offset = 0;
  FoxLayout layout = FoxLayout::kCompact;
  uint16_t key_length = 0;
  uint8_t pad = ' ';  // ' ' for 'C' keys, 0 otherwise
  bool unique = false;
  bool descending = false;  // walks and searches in reverse
  bool read_only = false;
  // Open without sharing: no other handle can change the file, so nodes
  // kept by a clean read call serve the next call without reading the
  // stamp again (writes still drop them).
  bool exclusive = false;
  bool write_through = true;
  bool widen_record_field = true;  // false for CDX tags
  int16_t cache_error = -5001;     // -5000 for CDX
};

class FoxTree {
 public:
  FoxTree();
  ~FoxTree();
  FoxTree(const FoxTree&) = delete;
  FoxTree& operator=(const FoxTree&) = delete;

  // Allocates the node cache (-3).
  int16_t Init(uint16_t file_slot, const FoxTreeShape& shape);
  const FoxTreeShape& shape() const;
  void set_pad(uint8_t pad);  // the key type may change after open

  // trust_kept: nodes kept from earlier calls may serve this call when the
  // stamp is unchanged, and the call's nodes are kept after it (compact
  // layout only); otherwise nothing kept serves it and nothing is kept (a
  // change of a shared file reads every node afresh under its lock).
  int16_t Refresh(bool trust_kept = false);
  // Refresh without reading the file beyond the two file-wide words:
  // true when the kept nodes are current (the call may then run on them
  // with reads held), false otherwise (nothing changed; Refresh next).
  bool RefreshFromKept();
  void HoldReads(bool hold);
  bool TakeMissed();
  // Whether a step from the entry Current gave last may leave the kept
  // nodes: the entry is at an edge of its leaf, and the sibling leaf on
  // that side is not kept. Such a read goes to the lock at once rather
  // than try the kept nodes first (the miss would cost a second read of
  // the file-wide words under the lock).
  bool StepMayLeaveKept() const;
  uint64_t reads() const;  // nodes read from the file since Init
  int16_t EndCall();
  uint32_t root() const;
  // Nodes lie below this offset: the file size as Refresh found it,
  // rounded down to whole blocks.
  uint32_t end() const;

  // Search modes: 1 the first entry whose key is not below the search key
  // (compared over search_length bytes); 2 as 1, but an equal key needs
  // the same record number (equal keys with other numbers are passed
  // over); 3 the first entry whose key is above. Results: 0 positioned on
  // an equal entry, 4 positioned on the next greater entry, 3 no entry
  // qualifies (no position), 2 the tree is empty. In a descending tree
  // "first", "below" and "above" follow the walk: mode 1 takes the
  // greatest entry whose key is not above the search key (for a prefix:
  // the last entry holding it), 3 the greatest entry below it, 2 the
  // entry itself or the next one of the walk (greatest below it in
  // (key, record number) order).
  int16_t Search(const uint8_t* key, uint32_t search_length, uint32_t recno,
                 int mode);
  int16_t First();  // 0, 2
  int16_t Last();   // 0, 2
  // One step from the position: 0, or 3 at either end (position kept).
  int16_t Next();
  int16_t Prev();
  // The entry at the position, kept for MoveFrom. REQUIRES a position.
  void Current(uint8_t* key, uint32_t* recno) const;
  // Next (forward) or previous entry from (key of full length, recno): 0,
  // 3 past either end, 2 empty. When the leaf that held the entry Current
  // gave last still holds it at the same place (the leaf re-read and
  // decoded in this call), the step starts there and follows the sibling
  // links, which every writer keeps; otherwise the entry is searched again
  // (a vanished entry counts as if it were between its neighbours). So a
  // walk goes on in the file's order even in a tree ordered by a collation
  // plain byte comparison cannot search.
  int16_t MoveFrom(const uint8_t* key, uint32_t recno, bool forward);

  // Inserts (key, recno) in key order (equal keys by record number): 0;
  // 11 with nothing written when the entry exists (a unique tree: when the
  // key exists); -6 / -6000 as above; -36 read-only.
  int16_t Insert(const uint8_t* key, uint32_t recno);
  // Removes the entry with that key and record number (in a unique tree
  // too): 0, or 4 / 2 with nothing changed.
  int16_t Remove(const uint8_t* key, uint32_t recno);

  // Every node of the tree (for freeing a CDX tag).
  int16_t CollectNodes(std::vector<uint32_t>* nodes);

 private:
  struct Rep;
  std::unique_ptr<Rep> rep_;
};

// File-wide node allocation through the header at offset 0: the free list
// head (its first 4 bytes link the rest), else the end of file, grown by
// 512 (the end-of-file word of a standard file is written back).
int16_t AllocateFoxBlock(uint16_t file_slot, uint32_t* offset);
int16_t FreeFoxBlock(uint16_t file_slot, uint32_t offset);

// Adds changes to the change counter of a compact file (the big-endian
// word at 8 of the header at offset 0; it wraps).
int16_t CountFoxChanges(uint16_t file_slot, uint32_t changes);
// Counts the change of one key-changing call: written at once in a shared
// file; in a file opened without sharing, added to *pending, which
// WritePendingFoxChanges writes at close (the file's bytes after the close
// are those of counting every call at once).
int16_t CountFoxChange(uint16_t file_slot, uint32_t* pending);
int16_t WritePendingFoxChanges(uint16_t file_slot, uint32_t* pending);

// The bulk build: sorted entries in, a complete tree out, its nodes
// allocated at the end of the file; leaves chained both ways. Compact
// leaves take record-number widths that fit max_recno.
class FoxTreeBuilder {
 public:
  FoxTreeBuilder();
  ~FoxTreeBuilder();
  int16_t Start(uint16_t file_slot, FoxLayout layout, uint16_t key_length,
                uint8_t pad, uint32_t max_recno);
  // After Start: the first node built goes to offset (the empty root leaf
  // the tree replaces) instead of the end of the file.
  void ReuseNode(uint32_t offset);
  // Entries in (key, recno) order.
  int16_t Add(const uint8_t* key, uint32_t recno);
  // Writes what is open; *root the root node (an empty leaf when no entry
  // was added). The caller writes it into the tree's header.
  int16_t Finish(uint32_t* root);

 private:
  struct Rep;
  std::unique_ptr<Rep> rep_;
};

}  // namespace qx::engine::fox

#endif  // QX_ENGINE_FOX_FOX_TREE_H_
