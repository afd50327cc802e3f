// The caller's side of an open fixed-entry tree: keys as the C interface
// passes them, and the current key on which positions survive from one
// call to the next. NDX indexes and MDX tags each hold one.
//
// Caller's keys. A key buffer holds key_length + 1 bytes. Character keys
// are text: on input up to key_length bytes or the first NUL (add and
// delete pad them with blanks; find compares a shorter text as a prefix
// unless it matches record numbers too); on output the stored key and a
// NUL. Other keys (numbers, dates) are key_length raw bytes, followed by a
// NUL on output.
//
// Positions. Every positioning operation copies the key and record number
// it lands on to the caller and keeps them as the current key; next,
// previous and current search for that pair again, since pages may have
// changed through other handles since the last call.
//
// Each operation is one step of a public call: the caller has refreshed
// the format's header words and empties the page cache afterwards.
//
// Invariants (cited as K1..K2):
//  K1. current_recno_ == 0 means no current key.
//  K2. current_key_ and stored_ hold key_length bytes.
#ifndef QX_ENGINE_BTREE_KEY_CURSOR_H_
#define QX_ENGINE_BTREE_KEY_CURSOR_H_

#include <cstdint>
#include <vector>

#include "engine/btree/btree.h"
#include "engine/btree/path_stack.h"

namespace qx::engine::btree {

class KeyCursor {
 public:
  KeyCursor() = default;
  KeyCursor(const KeyCursor&) = delete;
  KeyCursor& operator=(const KeyCursor&) = delete;

  // text: character keys (padding, prefix and wildcard searches apply).
  void Init(Tree* tree, const PathStack* path, uint32_t key_length, bool text);

  // 0, or 2 for an empty tree.
  int16_t First(void* key, uint32_t* recno);
  int16_t Last(void* key, uint32_t* recno);
  // From the current key: 0; 3 past the end (positioned on the last, or
  // first, key); 2 empty; 4 without a current key (nothing done).
  int16_t Next(void* key, uint32_t* recno);
  int16_t Previous(void* key, uint32_t* recno);
  // The current key again: 0 as it is, or (when it has gone) 4 on the
  // greatest smaller key or 12 on the first key.
  int16_t Current(void* key, uint32_t* recno);
  // Positions by key; flags kKbdFindRecno and kKbdFindWildcard.
  int16_t Find(void* key, uint32_t* recno, uint16_t flags);
  // Adds or removes a pair (Tree::Insert and Tree::Remove); recno 0 is
  // -12.
  int16_t Add(const void* key, uint32_t recno, bool unique);
  int16_t Remove(const void* key, uint32_t recno);

  bool has_current() const { return current_recno_ != 0; }  // K1

 private:
  // The stored form of a caller's key into stored_; *compared gets the
  // bytes a search compares.
  void TakeCallerKey(const void* key, bool prefix, uint32_t* compared);
  // Takes the position as the current key and hands it to the caller.
  int16_t Deliver(int16_t status, void* key, uint32_t* recno);

  Tree* tree_ = nullptr;
  const PathStack* path_ = nullptr;
  uint32_t key_length_ = 0;
  bool text_ = false;
  std::vector<uint8_t> current_key_;  // K2
  uint32_t current_recno_ = 0;        // K1
  std::vector<uint8_t> stored_;       // K2
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_KEY_CURSOR_H_
