// The check of an open NDX index (see ndx_check.h).
#include "engine/ndx/ndx_check.h"

#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/ndx/ndx_file.h"

namespace qx::engine {
namespace {

std::string KeyText(const NdxFile& file, const uint8_t* key) {
  return file.numeric() ? btree::LeDoubleKeyText(key)
                        : btree::QuotedKeyText(key, file.header.key_length);
}

int16_t CheckOpenNdx(
    NdxFile& file, btree::CheckReport* report,
    const std::function<void(const uint8_t*, uint32_t)>& on_entry) {
  uint8_t words[kNdxHeaderWordsSize];
  if (int16_t e = FileReadAt(file.slot, 0, words, sizeof words)) return e;
  const uint32_t root = GetLe32(words + kNdxRootOffset);
  const uint32_t next_free = GetLe32(words + kNdxNextFreeOffset);
  uint32_t size = 0;
  if (int16_t e = FileSize(file.slot, &size)) return e;
  const uint32_t file_pages = size / kNdxPageSize;
  std::vector<std::string> header_problems;
  if (static_cast<uint64_t>(next_free) * kNdxPageSize != size)
    header_problems.push_back("H1: the file holds " + std::to_string(size) +
                              " bytes, not next_free " +
                              std::to_string(next_free) + " * 512");
  const uint32_t end = next_free < file_pages ? next_free : file_pages;
  if (root < 1 || root >= end) {
    header_problems.push_back("H2: root page " + std::to_string(root) +
                              " lies outside the file");
    *report = btree::CheckReport();
    report->problem_count = static_cast<uint32_t>(header_problems.size());
    report->problems = header_problems;
    return kKbdOk;
  }

  btree::CheckInput input;
  input.layout = &file.layout;
  input.root = root;
  input.first_page = 1;
  input.end_page = end;
  input.recno_order = !file.unique();
  input.account_pages = true;
  // The chain of this handle, as far as it stays inside the file; the
  // walker reports pages on it that are not marked free.
  for (uint32_t page = file.free_head, steps = 0; page != 0 && steps < end;
       ++steps) {
    input.free_chain.push_back(page);
    if (page >= end) break;
    uint8_t link[4];
    if (int16_t e =
            FileReadAt(file.slot, page * kNdxPageSize + kNdxFreedLinkOffset,
                       link, sizeof link))
      return e;
    page = GetLe32(link);
  }
  const uint16_t slot = file.slot;
  input.read_page = [slot](uint32_t page, uint8_t* buffer) {
    return FileReadAt(slot, page * kNdxPageSize, buffer, kNdxPageSize);
  };
  input.compare = [&file](const uint8_t* a, const uint8_t* b) {
    return file.CompareKeys(a, b, file.header.key_length, false);
  };
  input.is_free = [](const uint8_t* page) {
    return page[kNdxCountOffset] == kNdxFreedMark;
  };
  input.key_text = [&file](const uint8_t* key) { return KeyText(file, key); };
  input.on_entry = on_entry;
  if (int16_t e = btree::CheckTree(input, report)) return e;
  report->problem_count += static_cast<uint32_t>(header_problems.size());
  report->problems.insert(report->problems.begin(), header_problems.begin(),
                          header_problems.end());
  return kKbdOk;
}

}  // namespace

int16_t CheckNdx(
    int16_t handle, btree::CheckReport* report,
    const std::function<void(const uint8_t* key, uint32_t recno)>& on_entry) {
  return index::RunCheckCall(
      report, [handle] { return CheckNdx(handle); }, kNdxLockOffset,
      [&](NdxFile& file) { return CheckOpenNdx(file, report, on_entry); });
}

}  // namespace qx::engine
