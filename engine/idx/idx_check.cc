// The check of an open IDX index (see idx_check.h).
#include "engine/idx/idx_check.h"

#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fox/fox_check.h"
#include "engine/fox/fox_format.h"
#include "engine/idx/idx_file.h"

namespace qx::engine {
namespace {

void Problem(btree::CheckReport* report, std::string text) {
  btree::AddProblem(report, std::move(text));
}

int16_t CheckOpenIdx(
    IdxFile& file, btree::CheckReport* report,
    const std::function<void(const uint8_t*, uint32_t)>& on_entry) {
  constexpr uint32_t kBlock = fox::kFoxBlockSize;
  uint8_t words[12];
  if (int16_t e = FileReadAt(file.slot, 0, words, sizeof words)) return e;
  const uint32_t root = GetLe32(words + fox::kFoxHeaderRootOffset);
  const uint32_t free_head = GetLe32(words + fox::kFoxHeaderFreeListOffset);
  const uint32_t end_word = GetLe32(words + fox::kFoxHeaderEndOffset);
  uint32_t size = 0;
  if (int16_t e = FileSize(file.slot, &size)) return e;
  const uint32_t first = file.compact() ? 2 * kBlock : kBlock;
  std::vector<std::string> header_problems;
  if (!file.compact() && end_word != size)
    header_problems.push_back("H1: the file holds " + std::to_string(size) +
                              " bytes, the end-of-file word says " +
                              std::to_string(end_word));
  if (root < first || root % kBlock != 0 || root > size - kBlock ||
      size < kBlock) {
    Problem(report, "H2: root " + std::to_string(root) +
                        " lies outside the file's nodes");
    return kKbdOk;
  }
  const uint32_t blocks = size / kBlock;
  std::vector<uint8_t> owner(blocks, 0);  // 1 tree, 2 free list
  fox::FoxCheckInput input;
  input.file_slot = file.slot;
  input.layout = file.header.layout();
  input.key_length = file.key_length();
  input.pad = file.pad();
  input.unique = file.unique();
  input.root = root;
  input.file_size = size;
  input.on_entry = on_entry;
  input.on_node = [&owner](uint32_t node) { owner[node / kBlock] = 1; };
  if (int16_t e = fox::CheckFoxTree(input, report)) return e;
  for (std::string& p : header_problems) Problem(report, std::move(p));

  uint32_t block = free_head;
  for (uint32_t steps = 0; block != 0 && block != fox::kFoxNoNode; ++steps) {
    if (block < first || block % kBlock != 0 || block > size - kBlock) {
      Problem(report, "F1: free block " + std::to_string(block) +
                          " lies outside the file's nodes");
      break;
    }
    uint8_t& mark = owner[block / kBlock];
    if (mark != 0) {
      Problem(report, "F1: free block " + std::to_string(block) +
                          (mark == 1 ? " is in the tree" : " listed twice"));
      break;
    }
    mark = 2;
    ++report->chain_pages;
    uint8_t link[4];
    if (int16_t e = FileReadAt(file.slot, block, link, sizeof link)) return e;
    block = GetLe32(link);
  }
  for (uint32_t b = first / kBlock; b < blocks; ++b)
    if (owner[b] == 0)
      Problem(report, "F2: block " + std::to_string(b * kBlock) +
                          " is neither in the tree nor free");
  return kKbdOk;
}

}  // namespace

int16_t CheckIdx(
    int16_t handle, btree::CheckReport* report,
    const std::function<void(const uint8_t* key, uint32_t recno)>& on_entry) {
  return index::RunCheckCall(
      report, [handle] { return CheckIdx(handle); }, fox::kFoxLockOffset,
      [&](IdxFile& file) { return CheckOpenIdx(file, report, on_entry); });
}

}  // namespace qx::engine
