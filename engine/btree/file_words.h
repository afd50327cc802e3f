// One little-endian 32-bit word of an index file read or written in
// place: the root, end-of-file and free-list words the index headers keep
// at fixed offsets are updated this way, without rewriting the header.
#ifndef QX_ENGINE_BTREE_FILE_WORDS_H_
#define QX_ENGINE_BTREE_FILE_WORDS_H_

#include <cstdint>

#include "engine/core/coding.h"
#include "engine/fileio/file_layer.h"
#include "qx/engine.h"

namespace qx::engine::btree {

// Writes value as 4 little-endian bytes at byte offset of the file of
// slot; file-layer errors.
inline int16_t WriteLe32At(uint16_t slot, uint32_t offset, uint32_t value) {
  uint8_t word[4];
  PutLe32(word, value);
  return FileWriteAt(slot, offset, word, sizeof word);
}

// Reads the 4 little-endian bytes at byte offset into *value; file-layer
// errors (*value untouched then).
inline int16_t ReadLe32At(uint16_t slot, uint32_t offset, uint32_t* value) {
  uint8_t word[4];
  if (int16_t e = FileReadAt(slot, offset, word, sizeof word)) return e;
  *value = GetLe32(word);
  return kKbdOk;
}

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_FILE_WORDS_H_
