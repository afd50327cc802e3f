#include "tests/fuzz/fuzz_memo.h"

#include <algorithm>

#include "qx/engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace qx::fuzz {
namespace {

// Values read per input at most: enough to reach every block of a seed.
constexpr uint32_t kMaxBlocks = 256;

int16_t Open(uint8_t kind, int16_t* handle, const std::string& path,
             uint16_t mode) {
  return kind == kKbdKindDbt ? kbdtopenx(handle, path.c_str(), mode)
                             : kbdfopenx(handle, path.c_str(), mode);
}

void Close(uint8_t kind, int16_t handle) {
  kbdseterror(0);
  if (kind == kKbdKindDbt) {
    kbdtclose(handle);
  } else {
    kbdfclose(handle);
  }
}

}  // namespace

void ReadEveryMemo(const std::string& path, uint8_t kind, uint16_t dialect,
                   size_t file_size) {
  kbdseterror(0);
  int16_t memo = kKbdNoHandle;
  if (Open(kind, &memo, path, dialect | kKbdModeReadOnly) < 0) {
    Require(memo == kKbdNoHandle, "failed open leaves no handle");
    return;
  }
  uint32_t block_size = 0;
  uint32_t next_free = 0;
  kbdseterror(0);
  if (kind == kKbdKindDbt) {
    kbdtinfo(memo, &block_size, &next_free);
  } else {
    kbdfinfo(memo, &block_size, &next_free);
  }
  const uint32_t blocks = block_size == 0
                              ? 0
                              : static_cast<uint32_t>(std::min<size_t>(
                                    file_size / block_size + 1, kMaxBlocks));
  for (uint32_t block = 0; block <= blocks; ++block) {
    char* data = nullptr;
    uint32_t length = 0;
    kbdseterror(0);
    int16_t status;
    if (kind == kKbdKindDbt) {
      status = kbdtreadx(memo, block, &data, &length);
    } else {
      uint32_t type = 0;
      status = kbdfreadx(memo, block, &data, &length, &type);
    }
    if (status >= 0 && data != nullptr) {
      Require(length <= file_size, "memo value within the file");
      Require(data[length] == '\0', "memo value NUL-terminated");
    }
    kbdfree(data);
  }
  // One far block number: beyond the file, never a huge allocation.
  char* data = nullptr;
  uint32_t length = 0;
  kbdseterror(0);
  if (kind == kKbdKindDbt) {
    kbdtreadx(memo, 0xFFFFFFF0u, &data, &length);
  } else {
    uint32_t type = 0;
    kbdfreadx(memo, 0xFFFFFFF0u, &data, &length, &type);
  }
  kbdfree(data);
  Close(kind, memo);
}

void WriteMemoSeeds(const std::string& dir, uint8_t kind, uint16_t dialect) {
  const int16_t sizes[] = {kind == kKbdKindDbt ? int16_t{1} : int16_t{64},
                           kind == kKbdKindDbt ? int16_t{2} : int16_t{512}};
  const char* texts[] = {"one", "a value\r\nof two lines", "",
                         ("a value long enough to take more than one block "
                          "of sixty-four bytes in the smaller files")};
  int seed = 0;
  for (int16_t size : sizes) {
    for (int values = 0; values <= 4; values += 4) {
      const std::string path = PathOf("seed" + std::to_string(seed) +
                                      (kind == kKbdKindDbt ? ".dbt" : ".fpt"));
      kbdseterror(0);
      if (kind == kKbdKindDbt) {
        kbdtcreate(path.c_str(), size, dialect);
      } else {
        kbdfcreate(path.c_str(), size);
      }
      int16_t memo = kKbdNoHandle;
      if (Open(kind, &memo, path, dialect) < 0) continue;
      for (int v = 0; v < values; ++v) {
        uint32_t block = 0;
        kbdseterror(0);
        if (kind == kKbdKindDbt) {
          kbdtwrite(memo, &block, texts[v], 0);
        } else {
          kbdfwrite(memo, &block, texts[v]);
        }
      }
      Close(kind, memo);
      WriteSeed(dir, "seed" + std::to_string(seed++), ReadWhole(path));
    }
  }
}

}  // namespace qx::fuzz
