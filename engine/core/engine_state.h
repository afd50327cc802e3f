// All process-wide state of the engine, in one struct.
//
// The engine keeps process-wide, unguarded state by design: the task array
// and current task (with the handle table and the sticky last error), the
// process-wide copy of the last error, the file slot table of the file
// layer and the collation switch. Every field is written only from engine
// calls, which the caller serialises (one thread at a time); nothing here is
// guarded by a mutex. The struct is constant-initialised, so no static
// constructor order matters, and never destroyed (a static engine outlives
// every static user); ResetEngineStateForTesting() gives tests a fresh one.
// Engine() is inline: every engine call reads the state several times, and
// an out-of-line accessor cost a measurable share of a record read.
#ifndef QX_ENGINE_CORE_ENGINE_STATE_H_
#define QX_ENGINE_CORE_ENGINE_STATE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "qx/engine.h"

namespace qx::platform {
struct File;
}

namespace qx::engine {

// Base of every module's per-file control block. The handle slot owns it;
// the module's close operation frees it by freeing the slot.
struct ControlBlock {
  virtual ~ControlBlock() = default;
};

// The close operation of a kind (kbddclose, kbdnclose, ...), called for
// every slot still open when the engine stops.
using CloseOperation = int16_t (*)(int16_t handle);

// One slot of the handle table. Free when kind is 0.
struct HandleSlot {
  uint8_t kind = kKbdKindFree;
  std::unique_ptr<ControlBlock> block;  // owned control block
  ControlBlock* working = nullptr;      // refreshed by every handle check
  CloseOperation close = nullptr;       // the kind's close operation
};

// The per-process task record. In practice there is one.
struct TaskRecord {
  uint32_t process_id = 0;
  int16_t last_error = 0;
  uint16_t date_format = 4;               // 1..15, 4 = yyyymmdd
  std::unique_ptr<HandleSlot[]> handles;  // kKbdHandleSlots slots
  int16_t slot_count = 0;
  int16_t open_count = 0;
  // The handle a short way last found valid (ShortWayHandle), with its
  // kind as one key (-1: none), and its control block. Freeing the handle
  // forgets it.
  int32_t short_way_key = -1;
  ControlBlock* short_way_block = nullptr;
};

// The file layer's table of system files: slot numbers 2..1025 map to
// platform file handles (null when free); 0xFFFF means no file.
inline constexpr uint16_t kNoFileSlot = 0xFFFF;
inline constexpr uint16_t kFirstFileSlot = 2;
inline constexpr int kFileSlotCount = 1024;

class BlockCache;  // engine/fileio/block_cache.h
struct BlockCacheDeleter {
  void operator()(BlockCache* cache) const;
};

struct FileSlotTable {
  std::array<platform::File*, kFileSlotCount> files{};  // index = slot - 2
  // Opened without sharing: no other handle, of any process, can open the
  // file while the slot holds it.
  std::array<bool, kFileSlotCount> alone{};
  // The bytes every slot's kept blocks take together, and the blocks kept
  // in memory for each slot's owner (FileKeepBlocks).
  std::size_t kept_bytes = 0;
  std::array<std::unique_ptr<BlockCache, BlockCacheDeleter>, kFileSlotCount>
      kept{};
  // Written through the slot since its last flush: only such a slot is
  // flushed at close (a flush also pushes out the writes of other
  // processes to the same file, which costs a disk round for nothing).
  std::array<bool, kFileSlotCount> unflushed{};
};

struct EngineState {
  // Task records, one per calling process, and the current one (null when
  // the engine is not started). Lifetime: kbdinit to kbdterm.
  std::vector<std::unique_ptr<TaskRecord>> tasks;
  TaskRecord* current_task = nullptr;

  // Copy of the last error readable without a task record.
  int16_t last_error_copy = 0;

  // File layer: start count and slot table (built by the first start,
  // released by the last end). When share_all is set every open shares
  // reading and writing.
  int file_layer_starts = 0;
  std::unique_ptr<FileSlotTable> file_slots;
  bool share_all = false;
  // Last operating-system error of the file layer (Windows code, a sharing
  // violation stored as 2), 0 after every successful platform call.
  uint32_t last_os_error = 0;

  // Collation: true = plain byte order (the default), false = the national
  // collation table. Read from the settings file at kbdinit.
  bool ascii_sort = true;

  // Data files: true (the default) flushes the system file after every
  // write; false defers the flush to close and to every file or record
  // unlock (kbdsetsync). Process-wide, lives as long as the process.
  bool sync_writes = true;
};

namespace internal {

// The storage of the one EngineState. A union member is constructed and
// destroyed only as the union's own constructor and destructor say: the
// constructor builds the state at compile time (constinit), the empty
// destructor leaves it alive through static destruction.
union EngineStorage {
  constexpr EngineStorage() : state() {}
  ~EngineStorage() {}
  EngineState state;
};

inline constinit EngineStorage g_engine_storage;

}  // namespace internal

inline EngineState& Engine() { return internal::g_engine_storage.state; }

// Closes nothing: drops all state. For tests that need a pristine engine.
void ResetEngineStateForTesting();

}  // namespace qx::engine

#endif  // QX_ENGINE_CORE_ENGINE_STATE_H_
