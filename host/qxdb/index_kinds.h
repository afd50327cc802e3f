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
  std::string for_expression;  // "" for none (NTX, IDX, CDX)
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

// The key operations of one index kind in the C interface, on a handle
// (int16_t) or a tag (int32_t).
template <typename Handle>
struct KeyOperations {
  int16_t (*first)(Handle, void*, uint32_t*);
  int16_t (*next)(Handle, void*, uint32_t*);
  int16_t (*find)(Handle, void*, uint32_t*, uint16_t);
  uint16_t find_mode;  // the first key not below (a prefix for text)
  int16_t (*record_key)(int16_t, Handle, void**);
  int16_t (*add)(Handle, const void*, uint32_t);
  // Where a find that misses stops: on the greatest smaller entry (NDX,
  // MDX: 4, or 12 before the first entry), or on the next entry (NTX, IDX,
  // CDX: 4, or 12 / 3 past the last).
  bool miss_stops_below = false;
};

// IndexAccess over a kind's key operations: the walk, seek, record key
// and add of every kind, on index_ (set by the kind's open).
template <typename Handle, typename Base = IndexAccess>
class KeyedAccess : public Base {
 public:
  int16_t First(std::string* key, uint32_t* recno) override {
    return KeyBufferCall(ops_.first, index_, this->key_length_, "", key,
                         recno);
  }
  int16_t Next(std::string* key, uint32_t* recno) override {
    return KeyBufferCall(ops_.next, index_, this->key_length_, *key, key,
                         recno);
  }
  int16_t Seek(const std::string& key, std::string* found,
               uint32_t* recno) override {
    *recno = 0;
    return KeyBufferCall<Handle, uint16_t>(ops_.find, index_,
                                           this->key_length_, key, found,
                                           recno, ops_.find_mode);
  }
  int16_t SoftSeek(const std::string& key, std::string* found,
                   uint32_t* recno) override {
    int16_t status = Seek(key, found, recno);
    if (ops_.miss_stops_below) {
      if (status == kKbdKeyNotFoundEnd) return kKbdOk;  // on the first
      if (status == kKbdKeyNotFound) return Next(found, recno);
      return status;
    }
    if (status == kKbdKeyNotFound) return kKbdOk;
    if (status == kKbdKeyNotFoundEnd) return kKbdNoMoreKeys;
    return status;
  }
  int16_t MakeKey(int16_t dbf_handle, std::string* key) override {
    return RecordKeyCall(ops_.record_key, dbf_handle, index_,
                         this->key_length_, key);
  }
  int16_t Add(const std::string& key, uint32_t recno) override {
    kbdseterror(0);
    return ops_.add(index_, key.data(), recno);
  }

 protected:
  explicit KeyedAccess(const KeyOperations<Handle>& ops) : ops_(ops) {}

  Handle index_ = -1;

 private:
  const KeyOperations<Handle>& ops_;
};

// Copies a check report into the form of IndexAccess::Check.
void TakeReport(const engine::btree::CheckReport& report,
                std::vector<std::string>* problems, uint64_t* keys);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_INDEX_KINDS_H_
