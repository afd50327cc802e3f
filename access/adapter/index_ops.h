// Index files through the engine, by family (dialects.h): opening and
// closing files and tags, counting and describing their keys. Operations
// on a family without an index engine answer 0 (open tag, close, close
// tag, count tags: nothing to do) or -6 (describe).
//
// File handles are the engine's as unsigned 16-bit numbers
// (kNoIndexHandle: none); tag handles are 32-bit (kNoTagHandle: none).
#ifndef QX_ACCESS_ADAPTER_INDEX_OPS_H_
#define QX_ACCESS_ADAPTER_INDEX_OPS_H_

#include <cstdint>
#include <string_view>

#include "access/adapter/dialects.h"
#include "access/adapter/key_descriptor.h"

namespace qx::access {

// The adapter's status for an index operation on a family without an
// index engine.
inline constexpr int32_t kStatusNoIndexEngine = -6;

// Opens an index file with mode_bits (the dialect byte 0: the engine's
// default). NDX, IDX and NTX files are then checked: their description
// must read and give a key length; a file that fails is closed again and
// the check's status answered. *handle is kNoIndexHandle unless the
// status is 0 or more.
int32_t OpenIndex(XbaseDialect dialect, std::u16string_view path,
                  uint16_t* handle, uint16_t mode_bits);
// Opens the tag of that name (cut at 10 characters) of an MDX or CDX
// file; *tag is kNoTagHandle before the call.
int32_t OpenTag(XbaseDialect dialect, std::string_view name, uint32_t* tag,
                uint16_t index_handle);
int32_t CloseIndex(XbaseDialect dialect, uint16_t handle);
int32_t CloseTag(XbaseDialect dialect, uint32_t tag);
// 1 for the single-key families, the tag count of MDX and CDX files, 0
// for a family without an index engine.
int32_t CountTags(XbaseDialect dialect, uint16_t handle, int32_t* count);

// Describes key number n (from 0) of an open file: the file's key for the
// single-key families, tag n + 1 (opened for the description and closed
// again) for MDX and CDX. The key name of a single-key file is its
// expression (cut at 24) when that is a plain name (no blank, '(', ')' or
// '+'), else the file's base name (cut at 10); of a tag, the tag name.
int32_t DescribeKeyByNumber(IndexKeyInfo* info, XbaseDialect dialect,
                            uint16_t handle, int32_t n);
// Describes an open tag (MDX, CDX); the file's key for the single-key
// families.
int32_t DescribeKeyByTag(IndexKeyInfo* info, XbaseDialect dialect,
                         uint16_t handle, uint32_t tag);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_INDEX_OPS_H_
