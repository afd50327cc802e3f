// The file's side of an index tree: where the root is recorded and how
// pages come and go. PageStore is what every tree of pages with a root
// word needs; a format's tree adds its own calls in a derived interface
// (TreeStore below for btree::Tree, NtxTreeStore for the NTX tree).
#ifndef QX_ENGINE_BTREE_TREE_STORE_H_
#define QX_ENGINE_BTREE_TREE_STORE_H_

#include <cstdint>

namespace qx::engine::btree {

class PageStore {
 public:
  virtual ~PageStore() = default;
  // The root page, as refreshed from the file at the start of the call.
  virtual uint32_t Root() const = 0;
  // Records a new root in the file at once.
  virtual int16_t SetRoot(uint32_t page) = 0;
  // A page for new content (from the free list or the end of the file);
  // the caller fills and writes the whole page.
  virtual int16_t AllocatePage(uint32_t* page) = 0;
  // Puts a page that left the tree on the free list (and writes it).
  virtual int16_t FreePage(uint32_t page) = 0;
};

// The side of btree::Tree: the format also decides the key order.
class TreeStore : public PageStore {
 public:
  // Compares `length` bytes of a search key with a stored key: negative,
  // 0 or positive. wildcard: '?' in the search key matches any byte.
  virtual int CompareKeys(const uint8_t* search, const uint8_t* key,
                          uint32_t length, bool wildcard) const = 0;
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_TREE_STORE_H_
