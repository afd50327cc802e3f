// The caller's side of an open tree (see key_cursor.h).
#include "engine/btree/key_cursor.h"

#include <cstring>

#include "engine/core/last_error.h"
#include "qx/engine.h"

namespace qx::engine::btree {

void KeyCursor::Init(Tree* tree, const PathStack* path, uint32_t key_length,
                     bool text) {
  tree_ = tree;
  path_ = path;
  key_length_ = key_length;
  text_ = text;
  current_key_.assign(key_length, 0);
  stored_.assign(key_length, 0);
  current_recno_ = 0;
}

void KeyCursor::TakeCallerKey(const void* key, bool prefix,
                              uint32_t* compared) {
  uint8_t* out = stored_.data();
  if (!text_) {
    std::memcpy(out, key, key_length_);
    *compared = key_length_;
    return;
  }
  const char* text = static_cast<const char*>(key);
  const void* nul = std::memchr(text, '\0', key_length_);
  const uint32_t n =
      nul ? static_cast<uint32_t>(static_cast<const char*>(nul) - text)
          : key_length_;
  std::memcpy(out, text, n);
  std::memset(out + n, ' ', key_length_ - n);
  *compared = prefix ? n : key_length_;
}

int16_t KeyCursor::Deliver(int16_t status, void* key, uint32_t* recno) {
  if (status < 0) return status;
  if (path_->empty()) {  // empty tree, or no current key to move from
    if (status == kKbdEmptyFile) current_recno_ = 0;
    return status;
  }
  uint32_t found = 0;
  if (int16_t e = tree_->ReadPosition(current_key_.data(), &found)) return e;
  current_recno_ = found;
  std::memcpy(key, current_key_.data(), key_length_);
  static_cast<uint8_t*>(key)[key_length_] = 0;
  *recno = found;
  return status;
}

int16_t KeyCursor::First(void* key, uint32_t* recno) {
  return Deliver(tree_->First(), key, recno);
}

int16_t KeyCursor::Last(void* key, uint32_t* recno) {
  return Deliver(tree_->Last(), key, recno);
}

int16_t KeyCursor::Next(void* key, uint32_t* recno) {
  if (current_recno_ == 0) return kKbdKeyNotFound;
  return Deliver(tree_->MoveFrom(current_key_.data(), current_recno_, true),
                 key, recno);
}

int16_t KeyCursor::Previous(void* key, uint32_t* recno) {
  if (current_recno_ == 0) return kKbdKeyNotFound;
  return Deliver(tree_->MoveFrom(current_key_.data(), current_recno_, false),
                 key, recno);
}

int16_t KeyCursor::Current(void* key, uint32_t* recno) {
  if (current_recno_ == 0) return kKbdKeyNotFound;
  return Deliver(tree_->FindPair(current_key_.data(), current_recno_), key,
                 recno);
}

int16_t KeyCursor::Find(void* key, uint32_t* recno, uint16_t flags) {
  const bool match_recno = (flags & kKbdFindRecno) != 0;
  SearchKey search;
  TakeCallerKey(key, !match_recno, &search.length);
  search.key = stored_.data();
  search.recno = *recno;
  search.match_recno = match_recno;
  search.wildcard = (flags & kKbdFindWildcard) != 0 && text_;
  return Deliver(tree_->Find(search), key, recno);
}

int16_t KeyCursor::Add(const void* key, uint32_t recno, bool unique) {
  if (recno == 0) return Fail(kKbdErrCommand);  // 0 is "no record"
  uint32_t compared = 0;
  TakeCallerKey(key, false, &compared);
  return tree_->Insert(stored_.data(), recno, unique);
}

int16_t KeyCursor::Remove(const void* key, uint32_t recno) {
  if (recno == 0) return Fail(kKbdErrCommand);
  uint32_t compared = 0;
  TakeCallerKey(key, false, &compared);
  return tree_->Remove(stored_.data(), recno);
}

}  // namespace qx::engine::btree
