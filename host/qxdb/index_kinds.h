// The index kinds behind IndexAccess: one opener and one builder per file
// kind, each in the file of its family (dbase_index_access.cc: NDX and
// MDX; ntx_index_access.cc; fox_index_access.cc: IDX and CDX). The
// dispatch by extension and the command-line rules live in
// index_access.cc; these functions speak engine statuses only.
#ifndef QX_HOST_QXDB_INDEX_KINDS_H_
#define QX_HOST_QXDB_INDEX_KINDS_H_

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/btree/btree_check.h"
#include "host/qxdb/index_access.h"
#include "qx/engine.h"

namespace qx::qxdb {

// What to open: the engine path, the tag (MDX, CDX) and the access.
struct IndexRequest {
  std::string name;
  std::optional<std::string> tag;
  bool writable = false;
};

// What to build: the key type letter ('C', 'N', 'D', 'L'), its length and
// decimals (NTX numeric keys), and the options the kind understands.
struct BuildRequest {
  int16_t dbf_handle = kKbdNoHandle;
  std::string name;
  std::string expression;
  std::optional<std::string> tag;
  char key_type = 'C';
  uint16_t key_length = 0;
  uint16_t decimals = 0;
  bool unique = false;
  bool descending = false;
  bool compact = false;
  bool exists = false;  // the file is there already (MDX, CDX)
};

// Opens an index of the kind; *index is set when the status is >= 0 (a
// tagged kind opened without a tag can only describe itself).
int16_t OpenNdxIndex(const IndexRequest& request,
                     std::unique_ptr<IndexAccess>* index);
int16_t OpenMdxIndex(const IndexRequest& request,
                     std::unique_ptr<IndexAccess>* index);
int16_t OpenNtxIndex(const IndexRequest& request,
                     std::unique_ptr<IndexAccess>* index);
int16_t OpenIdxIndex(const IndexRequest& request,
                     std::unique_ptr<IndexAccess>* index);
int16_t OpenCdxIndex(const IndexRequest& request,
                     std::unique_ptr<IndexAccess>* index);

int16_t BuildNdxIndex(const BuildRequest& request);
int16_t BuildMdxIndex(const BuildRequest& request);
int16_t BuildNtxIndex(const BuildRequest& request);
int16_t BuildIdxIndex(const BuildRequest& request);
int16_t BuildCdxIndex(const BuildRequest& request);

// Releases an engine buffer on scope exit.
struct EngineBuffer {
  EngineBuffer() = default;
  EngineBuffer(const EngineBuffer&) = delete;
  EngineBuffer& operator=(const EngineBuffer&) = delete;
  ~EngineBuffer() { kbdfree(data); }
  void* data = nullptr;
};

// Runs a walk or find operation of the C interface over a key buffer of
// key_length + 1 bytes holding `key` (cut or zero-filled), and gives the
// key_length bytes it leaves there.
template <typename Handle, typename... Rest>
int16_t KeyBufferCall(int16_t (*op)(Handle, void*, uint32_t*, Rest...),
                      Handle handle, uint16_t key_length,
                      const std::string& key_in, std::string* key_out,
                      uint32_t* recno, Rest... rest) {
  std::string buffer(key_length + 1u, '\0');
  buffer.replace(0, std::min<std::size_t>(key_in.size(), key_length), key_in,
                 0, std::min<std::size_t>(key_in.size(), key_length));
  kbdseterror(0);
  int16_t status = op(handle, buffer.data(), recno, rest...);
  key_out->assign(buffer.data(), key_length);
  return status;
}

// Runs a record-key operation (op(dbf, index, &key)) and copies the key.
template <typename Handle>
int16_t RecordKeyCall(int16_t (*op)(int16_t, Handle, void**),
                      int16_t dbf_handle, Handle handle, uint16_t key_length,
                      std::string* key) {
  EngineBuffer buffer;
  kbdseterror(0);
  int16_t status = op(dbf_handle, handle, &buffer.data);
  if (status < 0 || buffer.data == nullptr) return status;
  key->assign(static_cast<const char*>(buffer.data), key_length);
  return status;
}

// Copies a check report into the form of IndexAccess::Check.
void TakeReport(const engine::btree::CheckReport& report,
                std::vector<std::string>* problems, uint64_t* keys);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_INDEX_KINDS_H_
