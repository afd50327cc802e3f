// The structural check of a fixed-entry B+-tree: the Check() walker that
// tests and `qxdb check` run over NDX files and MDX tags.
//
// The walker reads every page reachable from the root once, depth first,
// through the format's page reader (not the page cache: it holds a whole
// root-to-leaf path of pages at a time), and verifies the tree invariants
// T1..T6 of btree.h plus:
//  T7. Leaf record numbers are not 0.
//  F1. Every page on the free chain is inside the file, marked free by the
//      format, not in the tree, and on the chain once.
//  F2. (when accounting) Every page of the file is in the tree, on the
//      chain, or marked free (freed by another handle whose chain this one
//      cannot see); any other page is lost.
// Each problem becomes one line of text naming the invariant and the page.
// The walk stops descending below a page it cannot trust (bad count, page
// out of range, page reached twice), so a damaged file is reported, never
// followed into a loop.
#ifndef QX_ENGINE_BTREE_BTREE_CHECK_H_
#define QX_ENGINE_BTREE_BTREE_CHECK_H_

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/btree/entry_page.h"

namespace qx::engine::btree {

struct CheckInput {
  const EntryLayout* layout = nullptr;
  uint32_t root = 0;
  // Page ids of the file: [first_page, end_page), page_step apart.
  uint32_t first_page = 0;
  uint32_t end_page = 0;
  uint32_t page_step = 1;
  // T3's second half: equal keys ordered by record number.
  bool recno_order = true;
  // F2: every page of the range belongs to this tree or is free.
  bool account_pages = true;
  // The free chain as the format walked it (head first).
  std::vector<uint32_t> free_chain;
  // Reads a page (page_size bytes) into buffer: a status.
  std::function<int16_t(uint32_t page, uint8_t* buffer)> read_page;
  // Compares two stored keys of full length.
  std::function<int(const uint8_t* a, const uint8_t* b)> compare;
  // True for a page that carries the format's free mark.
  std::function<bool(const uint8_t* page)> is_free;
  // Optional: a key as text for the report (default: hexadecimal).
  std::function<std::string(const uint8_t* key)> key_text;
  // Optional: called for every leaf entry in key order.
  std::function<void(const uint8_t* key, uint32_t recno)> on_entry;
  // Optional: called for every page of the tree, once (files that hold
  // several trees account their pages across them).
  std::function<void(uint32_t page)> on_page;
};

struct CheckReport {
  uint64_t keys = 0;
  uint32_t tree_pages = 0;
  uint32_t levels = 0;
  uint32_t chain_pages = 0;
  uint32_t foreign_free_pages = 0;    // marked free, not on this chain
  uint32_t problem_count = 0;         // may exceed problems.size()
  std::vector<std::string> problems;  // the first kMaxReportedProblems
};

inline constexpr size_t kMaxReportedProblems = 200;

// Counts a problem in report (a CheckReport or a file-wide report with
// problem_count and problems); the first kMaxReportedProblems keep their
// text.
template <typename Report>
void AddProblem(Report* report, std::string text) {
  ++report->problem_count;
  if (report->problems.size() < kMaxReportedProblems)
    report->problems.push_back(std::move(text));
}

// Walks the tree. Returns a negative status only when a page could not be
// read at all; problems of structure go into the report.
int16_t CheckTree(const CheckInput& input, CheckReport* report);

// Forms of keys for reports: text in quotes, bytes outside printable
// ASCII as \xNN; and the value of a little-endian double.
std::string QuotedKeyText(const uint8_t* key, uint32_t length);
std::string LeDoubleKeyText(const uint8_t* key);

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_BTREE_CHECK_H_
